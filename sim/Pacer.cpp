#include "sim/Pacer.h"

#include "sim/Timing.h"

#include <algorithm>

namespace sim {

using std::chrono::milliseconds;

void Pacer::Advance(Clock::time_point& next, Clock::time_point now, int ms)
{
    next += milliseconds(ms);
    if (now - next > milliseconds(kMaxLagMs))
        next = now;
}

bool Pacer::HeartbeatDue(Clock::time_point now)
{
    if (now - m_lastSend < milliseconds(kHeartbeatMs))
        return false;
    m_lastSend = now;
    return true;
}

Pacer::Clock::time_point Pacer::WakeAt(Clock::time_point now, bool videoRuns, bool audioRuns) const
{
    auto due = now + milliseconds(kPollSliceMs);
    if (videoRuns)
        due = std::min(due, m_nextVideo);
    if (audioRuns)
        due = std::min(due, m_nextAudio);
    return due;
}

}
