// The simulated camera's hostile behaviour, seen through the network
// library: size claims in turn at their period, raw bytes (floods, messages
// cut short or longer than allowed) on roads and media channels, and a
// camera that stops reading.

#include "H264Size.h"
#include "Recorder.h"

#include "kznet/Wire.h"
#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace kztest;
using namespace kz;
using namespace kz::wire;

namespace {

using Bytes = std::vector<std::uint8_t>;

KzHandle openLive(const sim::Camera& camera, Recorder& r, LoginInfo& login)
{
    login = MakeLogin("127.0.0.1", camera.Port(), camera.User(), camera.Password());
    return kz_open_device(kz::kConnectMedia, "", &login, 0, kLiveId | kz::kTagNoReopen, kz::kOpenDeviceConstant,
        &Recorder::OnStatus, &Recorder::OnFrame, &r, 0);
}

KzHandle openRoad(const sim::Camera& camera, Recorder& r, LoginInfo& login)
{
    login = MakeLogin("127.0.0.1", camera.Port(), camera.User(), camera.Password());
    KzHandle road = kz_open_ctrl_road(kz::kRoadModeMedia, &login, &Recorder::OnControl, &r, 0);
    EXPECT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgLoginReply) != nullptr; }));
    // The camera counts the road among its own a moment after it replied;
    // what it sends to its roads before then goes nowhere.
    EXPECT_TRUE(camera.WaitUntil([&] { return camera.RoadsOpen() == 1; }, 5000));
    return road;
}

}

TEST(kznetHostileCamera, SizeClaimsComeInTurnAtTheirPeriodThenThePatternReturnsWithAKeyFrame)
{
    sim::CameraConfig config;
    config.claims = { { { 16000, 16000 }, { 16, 16 } }, 50, sim::ClaimContent::ParamsOnly };
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    Recorder r;
    LoginInfo login;
    KzHandle stream = openLive(*camera, r, login);
    ASSERT_TRUE(r.WaitFor([&] { return r.CountFrames(kFrameH264) >= 6; }));
    camera->ClaimSizes({});
    std::size_t claimed = r.Locked([&] { return r.frames.size(); });
    ASSERT_TRUE(r.WaitFor([&] { return r.frames.size() >= claimed + 5; }));
    kz_close_device(stream);

    r.Locked([&] {
        // Either size may come first; from then on they alternate.
        unsigned previous = 0;
        for (std::size_t i = 0; i < 6; ++i) {
            const Frame& f = r.frames[i];
            unsigned w = 0, h = 0;
            ASSERT_TRUE(testing_h264::SpsSize(f.payload.data(), f.payload.size(), w, h)) << i;
            EXPECT_EQ(w, h) << i;
            EXPECT_TRUE(w == 16000 || w == 16) << w;
            EXPECT_NE(w, previous) << i;
            previous = w;
            EXPECT_NE(f.record.keyFrame, 0);
            EXPECT_LT(f.payload.size(), 64u) << "a bare claim is a few bytes";
            if (i > 0) {
                EXPECT_GE(f.record.timestamp - r.frames[i - 1].record.timestamp, 40u) << "one claim every 50 ms";
            }
        }
        // The pattern again: the first frame after the claims is a key frame
        // at the configured size.
        bool found = false;
        for (std::size_t i = claimed; i < r.frames.size() && !found; ++i) {
            unsigned w = 0, h = 0;
            if (!testing_h264::SpsSize(r.frames[i].payload.data(), r.frames[i].payload.size(), w, h) || w != 640)
                continue;
            found = true;
            EXPECT_EQ(h, 480u);
            EXPECT_NE(r.frames[i].record.keyFrame, 0);
        }
        EXPECT_TRUE(found);
    });
}

TEST(kznetHostileCamera, AFloodOfControlMessagesReachesTheRoadWhole)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    Recorder r;
    LoginInfo login;
    KzHandle road = openRoad(*camera, r, login);
    constexpr int kFlood = 5000;
    Bytes flag { 1, 0, 0, 0 };
    camera->SendRaw(sim::Camera::Target::Roads, Message(Kind::Control, PutControl(kMsgAlarmFlag, flag.data(), flag.size())), kFlood);
    EXPECT_TRUE(r.WaitFor([&] { return r.CountControls(kMsgAlarmFlag) == kFlood; }, 20000));
    EXPECT_TRUE(camera->WaitUntil([&] { return camera->RawSendsDone() == 1; }, 5000));
    kz_close_ctrl_road(road);
}

TEST(kznetHostileCamera, AFrameCutShortIsNeverDeliveredAndAnOversizedOneEndsTheChannel)
{
    FrameHeader header;
    header.kind = kFrameH264;
    header.keyFrame = 1;
    header.passThrough1 = 0xC0FFEE;
    Bytes body(2000, 0x11);
    Bytes frame;
    PutFrameHeader(frame, header);
    frame.insert(frame.end(), body.begin(), body.end());

    struct Case {
        const char* what;
        Bytes bytes;
        sim::Camera::AfterRaw after;
    } cases[] = {
        { "cut short, then closed", sim::TruncatedMessage(Kind::Frame, frame, frame.size() - 100), sim::Camera::AfterRaw::Close },
        { "longer than any message", sim::OversizedMessage(Kind::Frame, kMaxPayload + 1, 64), sim::Camera::AfterRaw::KeepOpen },
    };
    for (auto& c : cases) {
        sim::CameraConfig config;
        config.video.fps = 5;
        auto camera = sim::Camera::Start(config);
        ASSERT_TRUE(camera);
        Recorder r;
        LoginInfo login;
        KzHandle stream = openLive(*camera, r, login);
        ASSERT_TRUE(r.WaitFor([&] { return r.CountFrames(kFrameH264) >= 1; })) << c.what;
        camera->SendRaw(sim::Camera::Target::Media, c.bytes, 1, c.after);
        EXPECT_TRUE(r.WaitFor([&] { return r.CountStatus(kStatusLinkLost) == 1; })) << c.what;
        kz_close_device(stream);
        r.Locked([&] {
            for (const Frame& f : r.frames)
                EXPECT_NE(f.record.passThrough1, 0xC0FFEEu) << c.what;
        });
    }
}

TEST(kznetHostileCamera, ADeafCameraReadsNoCommandUntilItListensAgain)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    Recorder r;
    LoginInfo login;
    KzHandle road = openRoad(*camera, r, login);
    camera->StopReading(true);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdLiveCfg, 0, 0), 0);
    EXPECT_FALSE(camera->WaitUntil([&] { return !camera->Commands().empty(); }, 400));
    // It still sends: heartbeats keep the road alive, and what it is told
    // to send arrives.
    camera->Alarm(0);
    EXPECT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgAlarm) != nullptr; }));
    camera->StopReading(false);
    EXPECT_TRUE(camera->WaitUntil([&] { return camera->Commands().size() == 3; }, 3000));
    EXPECT_TRUE(r.WaitFor([&] { return r.CountControls(kMsgLiveCfg) == 3; }));
    kz_close_ctrl_road(road);
}
