#include "link/PtzWorker.h"

#include "kznet/Protocol.h"
#include "sys/MessageQueue.h"

#include <chrono>

namespace devlink {

namespace {

struct Direction {
    const char* command;
    int roadCode;
};

constexpr Direction kDirections[kPtzDirections] = {
    { "ptzMoveTopLeft", kz::kPtzUpLeft }, { "ptzMoveUp", kz::kPtzUp }, { "ptzMoveTopRight", kz::kPtzUpRight },
    { "ptzMoveLeft", kz::kPtzLeft }, { "ptzStopRun", kz::kPtzStop }, { "ptzMoveRight", kz::kPtzRight },
    { "ptzMoveBottomLeft", kz::kPtzDownLeft }, { "ptzMoveDown", kz::kPtzDown }, { "ptzMoveBottomRight", kz::kPtzDownRight },
};

bool valid(int direction) { return direction >= 0 && direction < kPtzDirections; }

}

void PtzWorker::Start(CgiAccount account)
{
    Stop();
    m_link = std::make_shared<Link>();
    m_link->target = &m_target;
    m_link->account = std::move(account);
    m_link->client.Replace();
    m_thread = sys::Thread::Start("screen_ptz", [link = m_link] { Loop(link); });
    if (!m_thread)
        m_link.reset();
}

bool PtzWorker::Stop()
{
    return Stop(std::chrono::steady_clock::now() + std::chrono::milliseconds(kPtzWorkerStopMs));
}

bool PtzWorker::Stop(std::chrono::steady_clock::time_point deadline)
{
    if (!m_thread)
        return true;
    using Clock = std::chrono::steady_clock;
    auto until = [](Clock::time_point t) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
        return static_cast<DWORD>(left > 0 ? left : 0);
    };
    m_thread->Post(sys::kQuitMessage);
    bool ended = m_thread->Wait(until(deadline - std::chrono::milliseconds(kPtzCutBeforeEndMs)));
    if (!ended) {
        // Stuck in an exchange: closing its socket ends it.
        m_link->client.Cancel();
        ended = m_thread->Wait(until(deadline));
    }
    if (!ended)
        m_thread->Detach();
    {
        sys::Locker lock(m_link->lock);
        m_link->target = nullptr;
    }
    m_link.reset();
    m_thread.reset();
    return ended;
}

void PtzWorker::Move(bool stop)
{
    if (m_thread)
        m_thread->Post(kMsgPtzMove, stop ? kPtzMoveStop : 0, 0);
}

bool PtzWorker::Step(Link& link, WPARAM stop)
{
    int direction;
    {
        sys::Locker lock(link.lock);
        Target* target = link.target;
        if (!target)
            return false;
        if (stop == kPtzMoveStop) {
            target->EndPtzMove();
            direction = kPtzStopDirection;
        } else {
            direction = target->BeginPtzMove();
            if (!valid(direction))
                return true;
        }
        if (target->MovesOverRoad()) {
            target->SendRoadMove(kDirections[direction].roadCode);
            return true;
        }
        target->ReportDirection(direction);
    }
    // The exchange runs without the lock, on what the worker keeps itself.
    const CgiAccount& a = link.account;
    return link.client.Send(a.address.c_str(), a.username.c_str(), a.port, a.password.c_str(), kDirections[direction].command, a.hostText);
}

void PtzWorker::Loop(std::shared_ptr<Link> link)
{
    auto hasClient = [&link] {
        sys::Locker lock(link->lock);
        return link->target && link->target->HasHttpClient();
    };
    if (!hasClient())
        return;
    for (;;) {
        bool goOn = sys::HandleWaitingMessages([&link](const sys::Message& message) {
            if (message.message != kMsgPtzMove)
                return true; // any other message is ignored
            return Step(*link, message.wParam);
        });
        if (!goOn)
            return;
        if (sys::CurrentQueue().WaitReady(std::chrono::steady_clock::now() + std::chrono::milliseconds(kPtzPollMs)))
            continue;
        if (!hasClient())
            return;
    }
}

}
