#pragma once
// The timing of one media stream of the simulated camera, live or playback:
// when the next video frame and the next sound block are due, when a
// heartbeat is due (after kHeartbeatMs with nothing sent), and when the
// streamer should wake up next. A stream that falls more than kMaxLagMs
// behind skips ahead instead of sending a burst to catch up.
//
// Plain value; used by one streamer thread. Every call takes the current
// time, so that the pacing can be checked without a clock.

#include <chrono>

namespace sim {

class Pacer {
public:
    using Clock = std::chrono::steady_clock;

    // A stream that falls this far behind skips ahead (milliseconds).
    static constexpr int kMaxLagMs = 1000;

    explicit Pacer(Clock::time_point now) : m_nextVideo(now), m_nextAudio(now), m_lastSend(now) { }

    bool VideoDue(Clock::time_point now) const { return now >= m_nextVideo; }
    bool AudioDue(Clock::time_point now) const { return now >= m_nextAudio; }
    // One frame (or block) is done: the next is due `ms` after this one.
    void NextVideo(Clock::time_point now, int ms) { Advance(m_nextVideo, now, ms); }
    void NextAudio(Clock::time_point now, int ms) { Advance(m_nextAudio, now, ms); }
    // Video or sound starts again (a new encoder, a seek, a resume): due now.
    void RestartVideo(Clock::time_point now) { m_nextVideo = now; }
    void RestartAudio(Clock::time_point now) { m_nextAudio = now; }
    // After a stall: everything starts again, and the silence does not count.
    void Restart(Clock::time_point now) { m_nextVideo = m_nextAudio = m_lastSend = now; }

    // Something went out.
    void Sent(Clock::time_point now) { m_lastSend = now; }
    // True when nothing has gone out for kHeartbeatMs; the caller sends a
    // heartbeat, which counts as sent.
    bool HeartbeatDue(Clock::time_point now);

    // When the streamer should look again: the earliest of what runs is due,
    // but no later than one poll slice from now.
    Clock::time_point WakeAt(Clock::time_point now, bool videoRuns, bool audioRuns) const;

private:
    static void Advance(Clock::time_point& next, Clock::time_point now, int ms);

    Clock::time_point m_nextVideo, m_nextAudio, m_lastSend;
};

}
