#pragma once
// The audio library: a play device that plays 8 kHz 16-bit mono PCM written
// to it, and a capture device that records in fixed blocks and hands each
// block to a callback on the library's capture thread. Handles are opaque;
// 0 is none, and every function given 0 does nothing.

#include <cstddef>
#include <cstdint>
#include <functional>

extern "C" {

using KzAudioHandle = void*;

// (event, samples, size in bytes, user): event 0 carries a block of 16-bit
// PCM, event 1 reports that the device failed or stopped.
using KzRecDataCallback = void (*)(int event, const std::int16_t* samples, int size, void* user);

KzAudioHandle CreatePlayDev();
int SetPlayParam(KzAudioHandle play, int parameter, const std::int32_t* value);
int OpenPlayDev(KzAudioHandle play);
int WriteData(KzAudioHandle play, const void* pcm, int size);
int playAudio(KzAudioHandle play);
int ClosePlayDev(KzAudioHandle play);

KzAudioHandle CreateRecDev();
int SetRecDataCallback(KzAudioHandle capture, KzRecDataCallback callback, void* user);
int SetRecParam(KzAudioHandle capture, int parameter, const std::int32_t* value);
int OpenRecDev(KzAudioHandle capture);
int RestartRecDev(KzAudioHandle capture);
int StopRecDev(KzAudioHandle capture);
int CloseRecDev(KzAudioHandle capture);

}

namespace kzaudio {

// Parameter 3: the play buffer size, or the capture block size, in bytes.
constexpr int kParamBufferSize = 3;
constexpr std::int32_t kPlayBufferBytes = 8640;
constexpr std::int32_t kCaptureBlockBytes = 960;
constexpr std::int32_t kCaptureBlockBytesNewDevices = 640;

// Capture callback events.
constexpr int kEventData = 0;
constexpr int kEventStopped = 1;

// PCM format of both devices.
constexpr int kSampleRate = 8000;
constexpr int kBitsPerSample = 16;
constexpr int kChannels = 1;


// The relay back end (TIRAVEX_AUDIO=relay), for a host that carries the
// sound somewhere else (the browser bridge). Every play device hands what is
// written to it to the play listener, with the device's number (1, 2, ... in
// the order the devices were made); every capture device that delivers cuts
// the PCM the host pushes into blocks of its size and hands them to its
// callback on the pushing thread.
//
// Threads: the listener runs on the thread that wrote (a network library
// thread); it must not wait on the page's thread.
using PlayListener = std::function<void(int device, const std::int16_t* samples, std::size_t count)>;
void SetPlayListener(PlayListener listener);
void PushCapture(const std::int16_t* samples, std::size_t count);
// Told (on the caller's thread) whenever the relay's capture starts or
// stops wanting sound: true while any of its capture devices delivers.
void SetCaptureListener(std::function<void(bool capturing)> listener);

}
