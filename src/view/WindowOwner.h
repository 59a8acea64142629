#pragma once
// What a video window asks of the control that holds it. The control
// implements this and hands itself to each window it makes; a window never
// reaches the control any other way.
//
// Threads: page's thread only (the windows' own messages).

namespace view {

class WindowOwner {
public:
    // A click in the window: the control becomes the page's selected one.
    virtual void ActivateFromView() = 0;
    // Screen pan/tilt switched on or off at the live window's point (x, y):
    // the control starts or stops the pan/tilt worker.
    virtual void SetScreenPtz(int x, int y) = 0;
    // A left press (stop false) or release (stop true) in screen pan/tilt
    // mode: posted to the pan/tilt worker when it runs.
    virtual void PostPtzMove(bool stop) = 0;

protected:
    ~WindowOwner() = default;
};

}
