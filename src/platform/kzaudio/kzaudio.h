#pragma once
// The audio library: a play device that plays 8 kHz 16-bit mono PCM written
// to it, and a capture device that records in fixed blocks and hands each
// block to a callback on the library's capture thread. Handles are opaque;
// 0 is none, and every function given 0 does nothing.

#include <cstdint>

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

}
