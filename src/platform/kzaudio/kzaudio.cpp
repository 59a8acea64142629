// The audio library until its back ends are built: no device can be made,
// so the media hub runs without sound, as it does on a machine without
// audio hardware.

#include "kzaudio/kzaudio.h"

extern "C" {

KzAudioHandle CreatePlayDev() { return nullptr; }
int SetPlayParam(KzAudioHandle, int, const std::int32_t*) { return -1; }
int OpenPlayDev(KzAudioHandle) { return -1; }
int WriteData(KzAudioHandle, const void*, int) { return -1; }
int playAudio(KzAudioHandle) { return -1; }
int ClosePlayDev(KzAudioHandle) { return 0; }

KzAudioHandle CreateRecDev() { return nullptr; }
int SetRecDataCallback(KzAudioHandle, KzRecDataCallback, void*) { return -1; }
int SetRecParam(KzAudioHandle, int, const std::int32_t*) { return -1; }
int OpenRecDev(KzAudioHandle) { return -1; }
int RestartRecDev(KzAudioHandle) { return -1; }
int StopRecDev(KzAudioHandle) { return 0; }
int CloseRecDev(KzAudioHandle) { return 0; }

}
