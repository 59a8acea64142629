#pragma once
// The playback window "PLAYBACK": a recording stored on the camera, played
// through the same stream player as live video.

#include "view/CPlayCtrl.h"

class CPbCtrl : public CPlayCtrl {
public:
    CPbCtrl();

    void ToggleScreenPtz(int, int) override { }
    bool IsScreenPtz() const override { return false; }
    int BeginPtzMove() override { return 0; }
    void EndPtzMove() override { }

    // Pause and resume the recording being played, when a channel is open.
    void Pause();
    void Resume();
};
