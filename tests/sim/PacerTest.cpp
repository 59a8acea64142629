// The pacing shared by the camera's live and playback streams, on a clock
// the test moves by hand.

#include "sim/Pacer.h"
#include "sim/Timing.h"

#include <gtest/gtest.h>

namespace {

using sim::Pacer;
using std::chrono::milliseconds;

const Pacer::Clock::time_point t0 { std::chrono::hours(1) };

}

TEST(simPacer, FramesAndBlocksAreDueOneIntervalApartAndABacklogIsCaughtUp)
{
    Pacer pacer(t0);
    EXPECT_TRUE(pacer.VideoDue(t0));
    EXPECT_TRUE(pacer.AudioDue(t0));
    pacer.NextVideo(t0, 100);
    pacer.NextAudio(t0, 60);
    EXPECT_FALSE(pacer.VideoDue(t0 + milliseconds(99)));
    EXPECT_TRUE(pacer.VideoDue(t0 + milliseconds(100)));
    EXPECT_FALSE(pacer.AudioDue(t0 + milliseconds(59)));
    EXPECT_TRUE(pacer.AudioDue(t0 + milliseconds(60)));

    // Half a second late: the frames that were due follow at once.
    auto late = t0 + milliseconds(600);
    int sent = 0;
    while (pacer.VideoDue(late)) {
        pacer.NextVideo(late, 100);
        ++sent;
    }
    EXPECT_EQ(sent, 6);
    EXPECT_TRUE(pacer.VideoDue(t0 + milliseconds(700)));
}

TEST(simPacer, AStreamFarBehindSkipsAheadInsteadOfBursting)
{
    Pacer pacer(t0);
    pacer.NextVideo(t0, 100);
    pacer.NextAudio(t0, 60);
    auto late = t0 + milliseconds(Pacer::kMaxLagMs + 500);
    ASSERT_TRUE(pacer.VideoDue(late));
    pacer.NextVideo(late, 100);
    pacer.NextAudio(late, 60);
    EXPECT_TRUE(pacer.VideoDue(late)) << "one frame now";
    pacer.NextVideo(late, 100);
    EXPECT_FALSE(pacer.VideoDue(late)) << "then the normal interval";
    EXPECT_TRUE(pacer.VideoDue(late + milliseconds(100)));
    pacer.NextAudio(late, 60);
    EXPECT_FALSE(pacer.AudioDue(late + milliseconds(59)));
}

TEST(simPacer, AHeartbeatIsDueAfterASecondWithNothingSent)
{
    Pacer pacer(t0);
    EXPECT_FALSE(pacer.HeartbeatDue(t0 + milliseconds(sim::kHeartbeatMs - 1)));
    EXPECT_TRUE(pacer.HeartbeatDue(t0 + milliseconds(sim::kHeartbeatMs)));
    EXPECT_FALSE(pacer.HeartbeatDue(t0 + milliseconds(sim::kHeartbeatMs + 1))) << "the heartbeat counts as sent";

    auto later = t0 + milliseconds(5000);
    pacer.Sent(later);
    EXPECT_FALSE(pacer.HeartbeatDue(later + milliseconds(sim::kHeartbeatMs - 1)));
    // After a stall the silence does not count: the stream starts afresh.
    auto stallEnd = later + milliseconds(3000);
    pacer.Restart(stallEnd);
    EXPECT_FALSE(pacer.HeartbeatDue(stallEnd));
    EXPECT_TRUE(pacer.VideoDue(stallEnd));
    EXPECT_TRUE(pacer.AudioDue(stallEnd));
}

TEST(simPacer, TheStreamerWakesForTheEarliestRunningDueTimeWithinAPollSlice)
{
    Pacer pacer(t0);
    pacer.NextVideo(t0, 30);
    pacer.NextAudio(t0, 20);
    EXPECT_EQ(pacer.WakeAt(t0, true, true), t0 + milliseconds(20));
    EXPECT_EQ(pacer.WakeAt(t0, true, false), t0 + milliseconds(30)) << "sound that is off does not wake it";
    EXPECT_EQ(pacer.WakeAt(t0, false, false), t0 + milliseconds(sim::kPollSliceMs));
    pacer.NextVideo(t0, 1000);
    EXPECT_EQ(pacer.WakeAt(t0, true, false), t0 + milliseconds(sim::kPollSliceMs));
    pacer.RestartVideo(t0 + milliseconds(5));
    EXPECT_EQ(pacer.WakeAt(t0, true, false), t0 + milliseconds(5));
}
