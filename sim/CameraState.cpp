#include "sim/CameraState.h"

namespace sim {

void Camera::State::Stop()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    Notify();
}

bool Camera::State::SleepUnlessStopped(Clock::time_point until)
{
    std::unique_lock lock(mutex);
    return !changed.wait_until(lock, until, [this] { return stopping.load(); });
}

bool Camera::State::AccountOk(const std::string& user, const std::string& password) const
{
    for (auto& account : config.accounts)
        if (account.user == user && account.password == password)
            return true;
    return false;
}

std::size_t Camera::State::ControlBytes(int type) const
{
    const kz::ControlLength* entry = kz::FindControlLength(type);
    return static_cast<std::size_t>(config.replyFormat ? entry->padded : entry->plain);
}

void Camera::State::Spawn(std::function<void()> body)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex);
    m_workers.push_back(Worker { std::thread([body = std::move(body), done] {
                                     body();
                                     *done = true;
                                 }),
        done });
}

void Camera::State::Reap()
{
    std::list<Worker> finished;
    {
        std::lock_guard lock(mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->done->load())
                finished.splice(finished.end(), m_workers, it++);
            else
                ++it;
        }
    }
    for (auto& w : finished)
        w.thread.join();
}

void Camera::State::JoinWorkers()
{
    // A worker may spawn another (a held answer) before it ends: join until
    // none is left.
    for (;;) {
        std::list<Worker> workers;
        {
            std::lock_guard lock(mutex);
            workers.swap(m_workers);
        }
        if (workers.empty())
            return;
        for (auto& w : workers)
            w.thread.join();
    }
}

}
