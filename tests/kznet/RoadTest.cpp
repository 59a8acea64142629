// The control road against the simulated camera: login, failures, commands
// and the camera's messages.

#include "Recorder.h"

#include "kznet/Wire.h"
#include "sim/Camera.h"
#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace kztest;
using namespace kz;
using namespace kz::wire;

namespace {

struct kznetRoad : ::testing::Test {
    Recorder recorder;
    KzHandle road = nullptr;

    KzHandle Open(LoginInfo login, int mode = kz::kRoadModeMedia)
    {
        road = kz_open_ctrl_road(mode, &login, &Recorder::OnControl, &recorder, 0);
        return road;
    }
    void TearDown() override
    {
        if (road)
            kz_close_ctrl_road(road);
    }
    // Waits for the login reply and returns it.
    std::vector<std::uint8_t> LoginReply()
    {
        EXPECT_TRUE(recorder.WaitFor([&] { return recorder.FindControl(kMsgLoginReply) != nullptr; }));
        return recorder.Locked([&] { auto* m = recorder.FindControl(kMsgLoginReply); return m ? m->data : std::vector<std::uint8_t>(); });
    }
};

// A listening socket that accepts nothing and never answers.
struct SilentServer {
    testing_support::LoopbackSocket socket = testing_support::BindLoopback();
    const int port = socket.port;
    ~SilentServer() { ::close(socket.fd); }
};

}

TEST_F(kznetRoad, LoginSucceedsWithTheCamerasReplyAndDeviceKind)
{
    sim::CameraConfig config;
    config.accounts = { { "admin", "pw" } };
    config.deviceKind = kz::kDeviceKind100;
    config.deviceId = "ABCDEF123456";
    config.name = "Front door";
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", camera->Port(), "admin", "pw")));

    auto reply = LoginReply();
    ASSERT_EQ(reply.size(), kLoginReplyBytes);
    EXPECT_EQ(Int32At(reply, kReplyStatusAt), kLoginOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[kReplyDeviceIdAt]), 12), "ABCDEF123456");
    EXPECT_STREQ(reinterpret_cast<const char*>(&reply[kReplyDeviceNameAt]), "Front door");
    EXPECT_EQ(Int32At(reply, kReplyDeviceKindAt), 100);

    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.FindControl(kMsgDeviceKind) != nullptr; }));
    auto kind = recorder.Locked([&] { return recorder.FindControl(kMsgDeviceKind)->data; });
    ASSERT_EQ(kind.size(), 7u);
    EXPECT_EQ(kind[0] | (kind[1] << 8), 0);           // status
    EXPECT_EQ(Int32At(kind, kDeviceKindCodeAt), kKindCode100);
    EXPECT_EQ(camera->LoginsAccepted(), 1);
}

TEST_F(kznetRoad, ReplyFormatFlagComesFirstAndPadsTheReply)
{
    sim::CameraConfig config;
    config.replyFormat = true;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", camera->Port(), "admin", "")));
    auto reply = LoginReply();
    EXPECT_EQ(reply.size(), kLoginReplyBytesPadded);
    recorder.Locked([&] {
        ASSERT_GE(recorder.controls.size(), 2u);
        EXPECT_EQ(recorder.controls[0].type, kMsgReplyFormat);
        EXPECT_EQ(recorder.controls[0].data, std::vector<std::uint8_t> { 1 });
    });
}

TEST_F(kznetRoad, FailedLoginsAreReportedAsAFailedReplyNeverAHang)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    struct Case {
        const char* what;
        int port;
        const char* password;
        std::int32_t status;
    } cases[] = {
        { "wrong password", camera->Port(), "nope", kLoginBadAccount },
        { "nothing listening", testing_support::UnusedLoopbackPort(), "", kLoginUnreachable },
    };
    for (auto& c : cases) {
        Recorder r;
        LoginInfo login = MakeLogin("127.0.0.1", c.port, "admin", c.password);
        KzHandle h = kz_open_ctrl_road(kz::kRoadModeMedia, &login, &Recorder::OnControl, &r, 0);
        ASSERT_TRUE(h) << c.what << ": a road that cannot log in still has a handle";
        ASSERT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgLoginReply) != nullptr; })) << c.what;
        r.Locked([&] {
            auto* m = r.FindControl(kMsgLoginReply);
            EXPECT_EQ(m->data.size(), kLoginReplyBytes) << c.what;
            EXPECT_EQ(Int32At(m->data, kReplyStatusAt), c.status) << c.what;
            EXPECT_EQ(r.CountControls(kMsgLoginReply), 1) << c.what;
        });
        EXPECT_EQ(kz_close_ctrl_road(h), 0);
    }
    EXPECT_EQ(camera->LoginsRefused(), 1);
}

TEST_F(kznetRoad, SilentCameraGivesNoAnswerStatusAndCloseReturnsPromptly)
{
    SilentServer silent;
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", silent.port, "admin", "")));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kz_close_ctrl_road(road), 0);
    road = nullptr;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));

    Recorder r;
    LoginInfo login = MakeLogin("127.0.0.1", silent.port, "admin", "");
    KzHandle h = kz_open_ctrl_road(kz::kRoadModeMedia, &login, &Recorder::OnControl, &r, 0);
    ASSERT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgLoginReply) != nullptr; }, 8000));
    EXPECT_EQ(r.Locked([&] { return Int32At(r.FindControl(kMsgLoginReply)->data, kReplyStatusAt); }), kLoginNoAnswer);
    kz_close_ctrl_road(h);
}

TEST_F(kznetRoad, CommandsReachTheCameraWithTheirArguments)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", camera->Port(), "admin", "")));
    // Posted before the login completes: kept and sent after it.
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdRegister, 0, 0), 0);
    LoginReply();
    const char* cgi = "cmd=getDevInfo&usr=admin&pwd=";
    const char* path = "/tmp/firmware.bin";
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdVideo, 0, 1), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdAudio, 0, 0), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdTalk, 0, 0), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdPtz, 0, 93), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdLiveCfg, 0, 0), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdCgi, 77, reinterpret_cast<std::intptr_t>(cgi)), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdSmallPicture, 0, 0), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdUpdateFile, reinterpret_cast<std::intptr_t>(path), 0), 0);
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdUnregister, 0, 0), 0);
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->Commands().size() == 10; }, 5000));

    auto commands = camera->Commands();
    struct Expect {
        int command, a, b;
        std::string text;
    } expected[] = {
        { kCmdRegister, 0, 0, "" }, { kCmdVideo, 0, 1, "" }, { kCmdAudio, 0, 0, "" }, { kCmdTalk, 0, 0, "" },
        { kCmdPtz, 0, 93, "" }, { kCmdLiveCfg, 0, 0, "" }, { kCmdCgi, 77, 0, cgi }, { kCmdSmallPicture, 0, 0, "" },
        { kCmdUpdateFile, 0, 0, path }, { kCmdUnregister, 0, 0, "" },
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(commands[i].command, expected[i].command) << i;
        EXPECT_EQ(commands[i].a, expected[i].a) << i;
        EXPECT_EQ(commands[i].b, expected[i].b) << i;
        EXPECT_EQ(commands[i].text, expected[i].text) << i;
    }
    // The camera's answers: talk reply, live configuration, device information, file ack.
    ASSERT_TRUE(recorder.WaitFor([&] {
        return recorder.FindControl(kMsgTalkReply) && recorder.FindControl(kMsgLiveCfg) && recorder.FindControl(kMsgDevInfo) && recorder.FindControl(kMsgUpdateAck);
    }));
    recorder.Locked([&] {
        EXPECT_EQ(Int32At(recorder.FindControl(kMsgTalkReply)->data, 0), kTalkStarted);
        EXPECT_EQ(recorder.FindControl(kMsgLiveCfg)->data.size(), 76u);
        std::string info(recorder.FindControl(kMsgDevInfo)->data.begin(), recorder.FindControl(kMsgDevInfo)->data.end());
        EXPECT_NE(info.find("<productName>TVX-C100</productName>"), std::string::npos);
    });
    EXPECT_EQ(camera->CgiLog(), std::vector<std::string> { "getDevInfo" });
}

TEST_F(kznetRoad, PageCgiAnswersAsType115UnlessTheCameraIgnoresIt)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", camera->Port(), "admin", "")));
    LoginReply();
    camera->IgnoreCgi(true);
    kz_post_ctrl_road_msg(road, kCmdCgi, 0, reinterpret_cast<std::intptr_t>("cmd=setMotionDetectConfig&isEnable=1"));
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->CgiLog().size() == 1; }, 5000));
    camera->IgnoreCgi(false);
    kz_post_ctrl_road_msg(road, kCmdCgi, 0, reinterpret_cast<std::intptr_t>("cmd=getMotionDetectConfig"));
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.FindControl(kMsgCgiReply) != nullptr; }));
    EXPECT_EQ(recorder.Locked([&] { return recorder.CountControls(kMsgCgiReply); }), 1);
    EXPECT_EQ(camera->CgiLog(), (std::vector<std::string> { "setMotionDetectConfig", "getMotionDetectConfig" }));
}

TEST_F(kznetRoad, ADelayedCgiAnswerArrivesAfterTheDelayWhileOtherCommandsAreAnswered)
{
    constexpr int kDelayMs = 500;
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", camera->Port(), "admin", "")));
    LoginReply();
    camera->DelayCgi(kDelayMs);
    auto start = std::chrono::steady_clock::now();
    kz_post_ctrl_road_msg(road, kCmdCgi, 0, reinterpret_cast<std::intptr_t>("cmd=getDevInfo"));
    kz_post_ctrl_road_msg(road, kCmdLiveCfg, 0, 0);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.FindControl(kMsgDevInfo) != nullptr; }, kDelayMs + 5000));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(kDelayMs));
    recorder.Locked([&] {
        ASSERT_NE(recorder.FindControl(kMsgLiveCfg), nullptr) << "the road answers other commands while the CGI answer is held";
        EXPECT_LT(recorder.FindControl(kMsgLiveCfg), recorder.FindControl(kMsgDevInfo));
    });
}

TEST_F(kznetRoad, ScriptedMessagesAlarmsAndSnapshotsArrive)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", camera->Port(), "admin", "")));
    LoginReply();
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->RoadsOpen() == 1; }, 5000));
    camera->SendControl(8, { 1, 0, 0, 0 });
    camera->Alarm(1);
    camera->Snapshot();
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.FindControl(8) && recorder.FindControl(kMsgAlarm) && recorder.FindControl(kMsgAlarmSound) && recorder.FindControl(kMsgSnapshot); }));
    recorder.Locked([&] {
        EXPECT_EQ(recorder.FindControl(8)->data, (std::vector<std::uint8_t> { 1, 0, 0, 0 }));
        auto& alarm = recorder.FindControl(kMsgAlarm)->data;
        ASSERT_EQ(alarm.size(), 4u);
        EXPECT_EQ(alarm[1], 1); // kind
        EXPECT_NE(alarm[2], 0); // raised
        EXPECT_EQ(recorder.FindControl(kMsgAlarmSound)->data.size(), 5u);
        auto& jpeg = recorder.FindControl(kMsgSnapshot)->data;
        ASSERT_GT(jpeg.size(), 4u);
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);
    });
}

TEST_F(kznetRoad, NoCallbackAfterCloseAndStaleHandlesAreRefused)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(MakeLogin("127.0.0.1", camera->Port(), "admin", "")));
    LoginReply();
    EXPECT_EQ(kz_close_ctrl_road(road), 0);
    std::size_t seen = recorder.Locked([&] { return recorder.controls.size(); });
    camera->SendControl(8, { 2, 0, 0, 0 });
    camera->Alarm(0);
    EXPECT_FALSE(recorder.WaitFor([&] { return recorder.controls.size() > seen; }, 300));
    EXPECT_EQ(kz_post_ctrl_road_msg(road, kCmdVideo, 0, 0), -1);
    EXPECT_EQ(kz_close_ctrl_road(road), -1);
    road = nullptr;
    EXPECT_EQ(kz_open_ctrl_road(kz::kRoadModeMedia, nullptr, &Recorder::OnControl, nullptr, 0), nullptr);
}
