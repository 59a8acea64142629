#pragma once
// Worker threads with names and message queues.
//
// A thread started here has its message queue before Start returns, so a
// thread message posted right after the start is not lost. Stopping follows
// the control's habit: post a quit message, Wait a bounded time, and if the
// thread is still running Detach it. C++ cannot kill a thread safely, so a
// detached worker runs on and may only touch state that it keeps alive itself.

#include "sys/MessageQueue.h"

#include <functional>
#include <memory>
#include <string>

namespace sys {

class Thread {
public:
    // Starts `body` on a new thread named `name` (cut to 15 bytes). Returns
    // null when no thread could be made.
    static std::shared_ptr<Thread> Start(std::string name, std::function<void()> body);

    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    ThreadId Id() const { return m_id; }
    const std::string& Name() const { return m_name; }

    // Waits up to `timeoutMs` for the thread to end; true when it has ended.
    bool Wait(DWORD timeoutMs);
    bool HasEnded();

    // Lets a thread that outlived its wait run on by itself.
    void Detach();

    // Posts a thread message to this thread.
    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const { return PostThreadMessage(m_id, message, wParam, lParam); }

private:
    struct State;
    Thread() = default;

    std::shared_ptr<State> m_state;
    ThreadId m_id = 0;
    std::string m_name;
};

using ThreadHandle = std::shared_ptr<Thread>;

// The name of the calling thread as the platform knows it ("" for threads it
// did not start, "page" once the page's thread names itself).
std::string CurrentThreadName();
void SetCurrentThreadName(const std::string& name);

}
