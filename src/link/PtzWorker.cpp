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

void PtzWorker::Start()
{
    Stop();
    m_link = std::make_shared<Link>();
    m_link->target = &m_target;
    m_thread = sys::Thread::Start("screen_ptz", [link = m_link] { Loop(link); });
    if (!m_thread)
        m_link.reset();
}

bool PtzWorker::Stop()
{
    if (!m_thread)
        return true;
    m_thread->Post(sys::kQuitMessage);
    bool ended = m_thread->Wait(kPtzWorkerStopMs);
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

bool PtzWorker::Step(Target& target, WPARAM stop)
{
    int direction;
    if (stop == kPtzMoveStop) {
        target.EndPtzMove();
        direction = kPtzStopDirection;
    } else {
        direction = target.BeginPtzMove();
        if (!valid(direction))
            return true;
    }
    if (target.MovesOverRoad()) {
        target.SendRoadMove(kDirections[direction].roadCode);
        return true;
    }
    target.ReportDirection(direction);
    return target.SendCgiMove(kDirections[direction].command);
}

void PtzWorker::Loop(std::shared_ptr<Link> link)
{
    {
        sys::Locker lock(link->lock);
        if (!link->target || !link->target->HasHttpClient())
            return;
    }
    for (;;) {
        bool goOn = sys::HandleWaitingMessages([&link](const sys::Message& message) {
            if (message.message != kMsgPtzMove)
                return true; // any other message is ignored
            sys::Locker lock(link->lock);
            return link->target && Step(*link->target, message.wParam);
        });
        if (!goOn)
            return;
        if (sys::CurrentQueue().WaitReady(std::chrono::steady_clock::now() + std::chrono::milliseconds(kPtzPollMs)))
            continue;
        sys::Locker lock(link->lock);
        if (!link->target || !link->target->HasHttpClient())
            return;
    }
}

}
