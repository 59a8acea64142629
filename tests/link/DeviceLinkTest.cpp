// The device link as an object: control messages taken on a library thread
// and handed to the sink on the page's thread, the two messages it acts on
// at once, the reply-format flag taking effect for the very next message,
// and the stored login reply with the device kind over it.

#include "link/DeviceLink.h"

#include "support/Loopback.h"
#include "support/Sanitized.h"

#include "sim/Camera.h"
#include "sys/Thread.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

struct RecordingSink : devlink::LinkSink {
    std::vector<devlink::LinkEvent> events;
    void OnLinkEvent(const devlink::LinkEvent& event) override { events.push_back(event); }
};

struct RecordingLive : devlink::LiveView {
    std::atomic<std::int32_t> audioLength { 0 };
    std::atomic<int> talkStarts { 0 };
    std::atomic<int> talkStops { 0 };
    void OnAudioBlockLength(std::int32_t length) override { audioLength = length; }
    void OnTalkReply(bool started) override { ++(started ? talkStarts : talkStops); }
    int BeginPtzMove() override { return 4; }
    void EndPtzMove() override { }
};

class DeviceLinkTest : public ::testing::Test {
protected:
    // Delivers messages as the network library does: on a thread of its
    // own, one after the other; then runs the page's loop.
    void deliver(const std::vector<std::pair<int, std::vector<std::uint8_t>>>& messages)
    {
        auto library = sys::Thread::Start("library", [&] {
            for (const auto& [type, bytes] : messages)
                devlink::DeviceLink::RoadCallback(type, reinterpret_cast<const char*>(bytes.data()), &link, static_cast<int>(bytes.size()));
        });
        ASSERT_TRUE(library->Wait(5000));
        ui::PumpPending();
    }

    static std::vector<std::uint8_t> reply(std::size_t bytes, std::int32_t status, std::int32_t kind, const char* id)
    {
        std::vector<std::uint8_t> r(bytes, 0);
        std::memcpy(r.data(), &status, 4);
        std::memcpy(r.data() + 934, id, std::strlen(id));
        std::memcpy(r.data() + 1063, "Porch", 5);
        std::memcpy(r.data() + 2215, &kind, 4);
        return r;
    }

    RecordingSink sink;
    RecordingLive live;
    devlink::DeviceLink link { sink, live };
};

TEST_F(DeviceLinkTest, MessagesReachTheSinkOnThePagesThreadInOrder)
{
    link.Open();
    deliver({ { 102, { 1 } }, { 999, { 1 } }, { 108, { 5, 7 } }, { 111, { 1, 2, 3 } }, { 160, { 4 } } });
    ASSERT_EQ(sink.events.size(), 3u) << "an unknown type and a wrong length are dropped";
    EXPECT_EQ(std::get<devlink::ByteReport>(sink.events[0]).type, 102);
    EXPECT_EQ(std::get<devlink::BytePairReport>(sink.events[1]).b1, 7);
    EXPECT_EQ(std::get<devlink::ByteReport>(sink.events[2]).b0, 4);
}

TEST_F(DeviceLinkTest, APaddedMessageRightAfterTheReplyFormatFlagIsTaken)
{
    // The camera sends 12 and at once its padded login reply: the reply is
    // filtered on the library's thread before the page's thread has seen 12.
    link.Open();
    deliver({ { 12, { 1 } }, { 100, reply(2224, 0, 101, "ABCDEF123456") } });
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<devlink::ReplyFormat>(sink.events[0]));
    EXPECT_EQ(std::get<devlink::LoginReply>(sink.events[1]).Status(), 0);
    EXPECT_EQ(link.ReplyFormat(), 1);
    EXPECT_EQ(link.DeviceKind(), 101);
    EXPECT_STREQ(link.DeviceId(), "ABCDEF123456");
    EXPECT_STREQ(link.DeviceNameField(), "Porch");
}

TEST_F(DeviceLinkTest, AudioLengthAndTalkRepliesAreActedOnAtOnceAndNeverPosted)
{
    link.Open();
    std::vector<std::uint8_t> audio { 10, 0, 0, 0, 0, 0, 0, 0 };
    deliver({ { 4, audio }, { 4, { 11, 0, 0, 0 } }, { 7, { 19, 0, 0, 0 } }, { 7, { 20, 0, 0, 0 } }, { 7, {} } });
    EXPECT_EQ(live.audioLength, 8) << "the message's length is the block length";
    EXPECT_EQ(live.talkStarts, 1);
    EXPECT_EQ(live.talkStops, 2);
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(DeviceLinkTest, TheDeviceKindOverlaysTheStoredLoginReply)
{
    EXPECT_EQ(link.LoginStatus(), -1) << "no reply yet";
    link.SetDeviceKind(102);
    EXPECT_EQ(link.DeviceKind(), 102);
    EXPECT_EQ(link.StoredReply()[2215], 102);
    EXPECT_EQ(link.StoredReply()[2216], 0);
    EXPECT_EQ(link.LoginStatus(), -1) << "writing the kind touched the status";
    link.Open();
    deliver({ { 100, reply(2219, 0, 100, "ABCDEF123456") } });
    EXPECT_EQ(link.DeviceKind(), 100) << "read back from the stored reply's bytes";
}

// With a road, logging out clears the reply but keeps the identifier (the
// control's contract tests); without one there is nothing to log out of.
TEST_F(DeviceLinkTest, LoggingOutWithoutARoadKeepsTheReply)
{
    link.Open();
    deliver({ { 100, reply(2219, 0, 101, "ABCDEF123456") } });
    ASSERT_EQ(link.LoginStatus(), 0);
    EXPECT_FALSE(link.Unregister());
    EXPECT_EQ(link.LoginStatus(), 0);
    EXPECT_EQ(link.DeviceKind(), 101);
    EXPECT_STREQ(link.DeviceId(), "ABCDEF123456");
}

TEST_F(DeviceLinkTest, WithoutAMailboxMessagesAreDroppedAndFreed)
{
    deliver({ { 102, { 1 } }, { 116, std::vector<std::uint8_t>(4096, 1) } });
    link.Open();
    link.Close();
    deliver({ { 102, { 1 } } });
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(DeviceLinkTest, ProductInformationIsReadAndItsLimitsHold)
{
    auto facts = link.TakeProductInfo("<CGI_Result><modelName>M1</modelName><motionAreaCols>12</motionAreaCols><ptFlag>2</ptFlag></CGI_Result>",
        devlink::Rs485Default::FromPtFlag);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->rows, 10) << "an absent element gives 10";
    EXPECT_EQ(facts->cols, 12);
    EXPECT_EQ(facts->pt, 2);
    EXPECT_EQ(facts->rs, 2) << "an absent rs485 flag takes the pt flag over HTTP";
    EXPECT_EQ(link.TakeProductInfo("<ptFlag>1</ptFlag>", devlink::Rs485Default::Zero)->rs, 0) << "and 0 when relayed";
    EXPECT_STREQ(link.ModelName(), "M1");
    EXPECT_FALSE(link.TakeProductInfo(std::string(1000, 'x'), devlink::Rs485Default::Zero)) << "1000 characters are too many";
    EXPECT_FALSE(link.TakeProductInfo("", devlink::Rs485Default::Zero));

    EXPECT_FALSE(link.TakeDevInfo("<productName>ZA104</productName>")) << "a listed product has no pan/tilt";
    EXPECT_TRUE(link.TakeDevInfo("<productName>za104</productName>"));
    EXPECT_STREQ(link.ModelName(), "za104");
    EXPECT_TRUE(link.TakeDevInfo("")) << "no answer rules nothing out";
    EXPECT_EQ(devlink::DeviceLink::HttpsPortOf("<httpsPort>8443</httpsPort>"), 8443);
    EXPECT_FALSE(devlink::DeviceLink::HttpsPortOf("<webPort>80</webPort>"));
}

TEST_F(DeviceLinkTest, OnlyAnExactProductNameRulesOutPanTilt)
{
    ASSERT_EQ(link.NoPtzModels().size(), 16u);
    EXPECT_EQ(link.NoPtzModels().front(), "ZA101W");
    EXPECT_EQ(link.NoPtzModels()[10], "ZA104");
    EXPECT_EQ(link.NoPtzModels().back(), "ZC402");
    EXPECT_TRUE(link.IsNoPtzModel("ZA104"));
    EXPECT_TRUE(link.IsNoPtzModel("ZA104E"));
    EXPECT_FALSE(link.IsNoPtzModel("za104"));
    EXPECT_FALSE(link.IsNoPtzModel("ZA104X"));
    EXPECT_FALSE(link.IsNoPtzModel("ZA10"));
    EXPECT_FALSE(link.IsNoPtzModel(""));
    EXPECT_FALSE(link.IsNoPtzModel(nullptr));
}

}

namespace {

// The pan/tilt worker against a camera: moves over the road for device
// kinds from 100 up, as CGI requests (each reported) below.
class PtzWorkerTest : public DeviceLinkTest {
protected:
    // `webPort` 0: the camera's own.
    void loginTo(int kind, int webPort = 0)
    {
        sim::CameraConfig config;
        config.deviceKind = kind;
        config.searchPort = -1;
        camera = sim::Camera::Start(config);
        ASSERT_TRUE(camera);
        link.Open();
        devlink::Credentials login { camera->Address(), camera->Port(), webPort ? webPort : camera->WebPort(), camera->User(), camera->Password(), 1, 1 };
        ASSERT_TRUE(link.Login(login));
        ASSERT_TRUE(ui::RunUntil([&] { return link.LoginStatus() == 0 && (kind == 0 || link.DeviceKind() == kind); }, 10000));
        link.ReplaceHttpClient();
        link.StartPtzWorker();
        ASSERT_TRUE(link.IsPtzWorkerRunning());
    }
    std::unique_ptr<sim::Camera> camera;
};

TEST_F(PtzWorkerTest, AKind101CameraStopsOverTheRoadWithCode1AndNothingIsReported)
{
    loginTo(101);
    link.PtzMove(true);
    ASSERT_TRUE(camera->WaitUntil([&] {
        for (const auto& c : camera->Commands())
            if (c.command == kz::kCmdPtz)
                return true;
        return false;
    }, 5000));
    for (const auto& c : camera->Commands()) {
        if (c.command == kz::kCmdPtz) {
            EXPECT_EQ(c.b, 1) << "the stop code";
        }
    }
    ui::PumpPending();
    for (const auto& e : sink.events)
        EXPECT_FALSE(std::holds_alternative<devlink::PtzDirection>(e)) << "a road move is not reported";
    link.StopPtzWorker();
    EXPECT_FALSE(link.IsPtzWorkerRunning());
}

TEST_F(PtzWorkerTest, AnOlderCameraMovesByCgiAndEachMoveIsReported)
{
    loginTo(0);
    link.PtzMove(false); // the live window asks for the middle: stop
    auto asked = [&] {
        auto log = camera->CgiLog();
        return std::find(log.begin(), log.end(), "ptzStopRun") != log.end();
    };
    ASSERT_TRUE(camera->WaitUntil(asked, 5000));
    ASSERT_TRUE(ui::RunUntil([&] {
        for (const auto& e : sink.events)
            if (auto* d = std::get_if<devlink::PtzDirection>(&e))
                return d->index == 4;
        return false;
    }, 5000));
}


// A camera whose HTTP port takes no more connections than it has queued and
// never answers: a CGI move hangs in its connect. Switching screen pan/tilt
// off, and closing the page (with a port query hanging too), hold the page's
// thread no longer than the stop's bound: the exchanges are cut short while
// they run.
TEST_F(PtzWorkerTest, AStopNeverWaitsBeyondItsBoundForACameraThatNeverAnswers)
{
    using Clock = std::chrono::steady_clock;
    // A queue of one connection, filled: the next connect waits.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = testing_support::LoopbackAddress(0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);
    int queued = testing_support::ConnectLoopback(port);
    ASSERT_GE(queued, 0);

    loginTo(0, port);
    auto moves = [&] { return std::count_if(sink.events.begin(), sink.events.end(), [](const auto& e) { return std::holds_alternative<devlink::PtzDirection>(e); }); };
    // The bound, and room for a loaded machine (more under a sanitizer).
    const auto bound = std::chrono::milliseconds(devlink::kPtzWorkerStopMs + (testing_support::kSanitized ? 300 : 100));
    for (bool closing : { false, true }) {
        if (closing) {
            link.StartPtzWorker();
            ASSERT_TRUE(link.IsPtzWorkerRunning());
            // An HTTPS-port query hangs there too: both share the bound.
            devlink::Credentials again { camera->Address(), camera->Port(), port, camera->User(), camera->Password(), 1, 1 };
            link.Register(again, devlink::kDeviceTypeFull, 0);
        }
        const auto before = moves();
        link.PtzMove(false);
        // Reported just before the request: the worker is on its way into the connect.
        ASSERT_TRUE(ui::RunUntil([&] { return moves() > before; }, 5000));
        auto start = Clock::now();
        if (closing)
            link.Close();
        else
            link.StopPtzWorker();
        EXPECT_LT(Clock::now() - start, bound) << (closing ? "closing the page" : "switching screen pan/tilt off") << " waited for the camera";
        EXPECT_FALSE(link.IsPtzWorkerRunning());
    }
    ::close(queued);
    ::close(listener);
}

}
