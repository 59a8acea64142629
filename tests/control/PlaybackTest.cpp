// Playback as a page drives it against the simulated camera: a second
// PlaybackOpen replaces the first, closing is reported, and the playback
// members do nothing without a channel.

#include "support/PageFixture.h"

namespace {

using testing_support::Arg;

class PlaybackControl : public testing_support::CameraPage { };

TEST_F(PlaybackControl, ASecondOpenReplacesTheFirstAndClosingIsReported)
{
    sim::CameraConfig config;
    config.recordings = { sim::Recording { "/record/a.avi", 60 }, sim::Recording { "/record/b.avi", 60 } };
    startCamera(config);
    auto* c = makeControl(0);
    ASSERT_TRUE(login(c));
    ASSERT_EQ(call(c, "LoginSuc", {}), S_OK);
    // Without a channel the members do nothing (and nothing breaks).
    for (const char* member : { "PlaybackPause", "PlaybackResume" })
        ASSERT_EQ(call(c, member, {}), S_OK);
    ASSERT_EQ(call(c, "PlaybackSeek", { num(2) }), S_OK);

    ASSERT_EQ(call(c, "Playback", {}), S_OK);
    ASSERT_EQ(call(c, "PlaybackOpen", { str("/record/a.avi") }), S_OK);
    ASSERT_EQ(call(c, "PlaybackOpen", { str("/record/b.avi") }), S_OK);
    // The first channel may close before it reached the camera; the second
    // must reach it.
    ASSERT_TRUE(ui::RunUntil([&] {
        for (const auto& o : camera->Opens())
            if (o.address == "/record/b.avi")
                return true;
        return false;
    }, 5000)) << "the second open is not ignored";
    ASSERT_TRUE(ui::RunUntil([&] { return c->Playback().DrawnFrames() > 0; }, 5000));
    ASSERT_EQ(call(c, "PlaybackClose", {}), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return hasEvent(205); }, 5000));
    EXPECT_EQ(c->Playback().GetChannel(), nullptr);
}

}
