#pragma once
// The screen pan/tilt worker: a thread with its own message queue that turns
// the live window's pointer directions into camera moves, one move per
// message: road command 4 with the direction's code for device kinds from
// 100 up, otherwise one CGI request (its answer not read), each reported as
// a PtzDirection event. An HTTP failure ends the worker.
//
// Threads: Start, Stop and Move on the page's thread. The worker reaches its
// target only through the shared link below, under its lock, and the target
// clears the link when it stops the worker, so a worker that outlived its
// bounded stop never touches a target that is gone.

#include "sys/Lock.h"
#include "sys/Thread.h"
#include "ui/Window.h"

#include <memory>
#include <string>

namespace devlink {

// The worker's thread message: wParam 1 stops the move, anything else moves
// in the live window's current direction.
constexpr UINT kMsgPtzMove = 1424;
constexpr WPARAM kPtzMoveStop = 1;
// Bounded wait when stopping the worker.
constexpr DWORD kPtzWorkerStopMs = 300;
// How often the worker looks at its queue.
constexpr DWORD kPtzPollMs = 50;

// Directions 0..8 of the 3 x 3 grid from top left; 4, the middle, stops.
constexpr int kPtzDirections = 9;
constexpr int kPtzStopDirection = 4;

class PtzWorker {
public:
    // What a move needs.
    class Target {
    public:
        // The direction the pointer asks for now, and the end of a move.
        virtual int BeginPtzMove() = 0;
        virtual void EndPtzMove() = 0;
        // Device kinds from 100 up move over the road.
        virtual bool MovesOverRoad() const = 0;
        virtual void SendRoadMove(int code) = 0;
        // One CGI move request; false ends the worker.
        virtual bool SendCgiMove(const char* command) = 0;
        virtual bool HasHttpClient() const = 0;
        // Tells the page's thread that a CGI move was sent.
        virtual void ReportDirection(int index) = 0;

    protected:
        ~Target() = default;
    };

    explicit PtzWorker(Target& target) : m_target(target) { }
    ~PtzWorker() { Stop(); }
    PtzWorker(const PtzWorker&) = delete;
    PtzWorker& operator=(const PtzWorker&) = delete;

    // Stops a running worker and starts a new one.
    void Start();
    // Quit message, bounded wait; a worker still running is let go (it is
    // stuck in an exchange: false, so that the caller can close its socket).
    bool Stop();
    bool IsRunning() const { return m_thread != nullptr; }
    // Posts a move (or its end) to the worker.
    void Move(bool stop);

private:
    struct Link {
        sys::CriticalSection lock;
        Target* target = nullptr; // guarded by lock
    };

    static void Loop(std::shared_ptr<Link> link);
    // One move under the link's lock; false ends the worker.
    static bool Step(Target& target, WPARAM stop);

    Target& m_target;
    std::shared_ptr<Link> m_link;
    sys::ThreadHandle m_thread;
};

}
