#pragma once
// The camera's alarm sound: a short-lived worker makes its own play device,
// plays the audio library's alert four times and closes the device. The
// worker keeps nothing of its caller, so it may outlive it.
//
// Threads: any thread may start it; it never waits.

namespace audio {

constexpr int kAlarmSoundRepeats = 4;

// Starts the worker; nothing plays when no play device can be made.
void PlayAlarmSound();

}
