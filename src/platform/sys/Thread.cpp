#include "sys/Thread.h"

#include "sys/CrashHandler.h"

#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>

namespace sys {

namespace {
thread_local std::string t_name;
}

struct Thread::State {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread thread;
};

std::string CurrentThreadName() { return t_name; }

void SetCurrentThreadName(const std::string& name)
{
    t_name = name;
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

std::shared_ptr<Thread> Thread::Start(std::string name, std::function<void()> body)
{
    auto state = std::make_shared<State>();
    std::mutex startMutex;
    std::condition_variable started;
    ThreadId id = 0;

    try {
        state->thread = std::thread([state, name, body = std::move(body), &startMutex, &started, &id]() mutable {
            PrepareThreadForCrash();
            SetCurrentThreadName(name);
            CurrentQueue(); // the queue exists before Start returns
            {
                // Notified under the lock: Start's stack frame, which owns
                // the condition, may go as soon as the lock is released.
                std::lock_guard lock(startMutex);
                id = CurrentThreadId();
                started.notify_one();
            }
            body();
            body = nullptr;
            std::lock_guard lock(state->mutex);
            state->done = true;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return nullptr;
    }

    {
        std::unique_lock lock(startMutex);
        started.wait(lock, [&] { return id != 0; });
    }
    std::shared_ptr<Thread> handle(new Thread);
    handle->m_state = std::move(state);
    handle->m_id = id;
    handle->m_name = std::move(name);
    return handle;
}

Thread::~Thread()
{
    if (!m_state || !m_state->thread.joinable())
        return;
    if (HasEnded() && m_state->thread.get_id() != std::this_thread::get_id())
        m_state->thread.join();
    else
        m_state->thread.detach();
}

bool Thread::Wait(DWORD timeoutMs)
{
    if (m_state->thread.joinable() && m_state->thread.get_id() == std::this_thread::get_id())
        return false; // a thread cannot wait for itself
    std::unique_lock lock(m_state->mutex);
    bool done = m_state->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_state->done; });
    lock.unlock();
    if (done && m_state->thread.joinable())
        m_state->thread.join();
    return done;
}

bool Thread::HasEnded()
{
    std::lock_guard lock(m_state->mutex);
    return m_state->done;
}

void Thread::Detach()
{
    if (m_state->thread.joinable())
        m_state->thread.detach();
}

}
