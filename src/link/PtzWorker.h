#pragma once
// The screen pan/tilt worker: a thread with its own message queue that turns
// the live window's pointer directions into camera moves, one move per
// message: road command 4 with the direction's code for device kinds from
// 100 up, otherwise one CGI request (its answer not read), each reported as
// a PtzDirection event. An HTTP failure ends the worker.
//
// Threads: Start, Stop and Move on the page's thread. The worker reaches its
// target only through the shared link below, under its lock, which it holds
// only for the target's quick calls, never through an HTTP exchange; the
// target clears the link when it stops the worker, so a worker that outlived
// its bounded stop never touches a target that is gone. The CGI moves go
// through an HTTP client of the worker's own, which the stop closes while an
// exchange is in progress: a camera that accepts and never answers holds the
// page's thread no longer than the stop's bound.

#include "link/CgiClient.h"

#include "sys/Lock.h"
#include "sys/Thread.h"
#include "ui/Window.h"

#include <chrono>
#include <memory>
#include <string>

namespace devlink {

// The worker's thread message: wParam 1 stops the move, anything else moves
// in the live window's current direction.
constexpr UINT kMsgPtzMove = 1424;
constexpr WPARAM kPtzMoveStop = 1;
// Bounded wait when stopping the worker, all of it: a worker still in an
// exchange this long before the end has its socket closed.
constexpr DWORD kPtzWorkerStopMs = 300;
constexpr DWORD kPtzCutBeforeEndMs = 100;
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
        // Whether the control has its HTTP client: the worker ends when not.
        virtual bool HasHttpClient() const = 0;
        // Tells the page's thread that a CGI move was sent.
        virtual void ReportDirection(int index) = 0;

    protected:
        ~Target() = default;
    };

    // Where the CGI moves go, taken when the worker starts.
    struct CgiAccount {
        std::string address;
        std::string username;
        std::string password;
        int port = 0;         // the HTTP port
        std::string hostText; // the requests' Host
    };

    explicit PtzWorker(Target& target) : m_target(target) { }
    ~PtzWorker() { Stop(); }
    PtzWorker(const PtzWorker&) = delete;
    PtzWorker& operator=(const PtzWorker&) = delete;

    // Stops a running worker and starts a new one.
    void Start(CgiAccount account);
    // Quit message and a bounded wait of kPtzWorkerStopMs in all (or until
    // `deadline`): a worker still in an exchange kPtzCutBeforeEndMs before
    // the end has the exchange's socket closed, and one still running at
    // the end is let go (false).
    bool Stop();
    bool Stop(std::chrono::steady_clock::time_point deadline);
    bool IsRunning() const { return m_thread != nullptr; }
    // Posts a move (or its end) to the worker.
    void Move(bool stop);

private:
    struct Link {
        sys::CriticalSection lock;
        Target* target = nullptr; // guarded by lock
        CgiAccount account;       // fixed at the start
        CgiClient client;         // the worker's; Cancel from the page's thread
    };

    static void Loop(std::shared_ptr<Link> link);
    // One move; false ends the worker.
    static bool Step(Link& link, WPARAM stop);

    Target& m_target;
    std::shared_ptr<Link> m_link;
    sys::ThreadHandle m_thread;
};

}
