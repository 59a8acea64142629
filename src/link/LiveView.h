#pragma once
// What the device link asks of the live window directly, off the page's
// thread: the two control messages acted on inside the road callback, and
// the screen pan/tilt worker's moves. The control hands the link an object
// that forwards these to its live window.
//
// Threads: the audio length and the talk reply on the network library's
// road thread; the moves on the pan/tilt worker's thread.

#include <cstdint>

namespace devlink {

class LiveView {
public:
    // Message 4: the camera's audio block length (non-zero).
    virtual void OnAudioBlockLength(std::int32_t length) = 0;
    // Message 7: the camera started talk (restart the microphone) or not.
    virtual void OnTalkReply(bool started) = 0;
    // The direction index 0..8 the pointer now asks for (other values mean
    // none), and the end of a move.
    virtual int BeginPtzMove() = 0;
    virtual void EndPtzMove() = 0;

protected:
    ~LiveView() = default;
};

}
