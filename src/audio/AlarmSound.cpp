#include "audio/AlarmSound.h"

#include "kzaudio/kzaudio.h"
#include "sys/Thread.h"

namespace audio {

void PlayAlarmSound()
{
    auto worker = sys::Thread::Start("alarm_sound", [] {
        KzAudioHandle device = CreatePlayDev();
        if (!device)
            return;
        for (int i = 0; i < kAlarmSoundRepeats; ++i)
            playAudio(device);
        ClosePlayDev(device);
    });
    if (worker)
        worker->Detach();
}

}
