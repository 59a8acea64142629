// Media channels against the simulated camera: live video and sound, talk,
// link loss and playback of a recording.

#include "H264Size.h"
#include "Recorder.h"

#include "kznet/Wire.h"
#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kztest;
using namespace kz;
using namespace kz::wire;

namespace {

struct kznetMedia : ::testing::Test {
    Recorder recorder;
    KzHandle stream = nullptr;
    LoginInfo login {};

    KzHandle Open(const sim::Camera& camera, const char* address, int id, const std::string& password = "", int streamType = 0)
    {
        login = MakeLogin("127.0.0.1", camera.Port(), camera.User(), password, streamType);
        stream = kz_open_device(kz::kConnectMedia, address, &login, 0, id | kz::kTagNoReopen, kz::kOpenDeviceConstant,
            &Recorder::OnStatus, &Recorder::OnFrame, &recorder, 0);
        return stream;
    }
    void TearDown() override
    {
        if (stream)
            kz_close_device(stream);
        unsetenv("TIRAVEX_LINK_TIMEOUT_MS");
    }
    bool WaitFrames(int kind, int count, int timeoutMs = 5000)
    {
        return recorder.WaitFor([&] { return recorder.CountFrames(kind) >= count; }, timeoutMs);
    }
    std::vector<int> PlaybackEvents()
    {
        return recorder.Locked([&] {
            std::vector<int> codes;
            for (auto& s : recorder.statuses)
                if (s.type == kz::kStatusPlayback)
                    codes.push_back(s.data);
            return codes;
        });
    }
    bool WaitEvent(int code, int timeoutMs = 5000)
    {
        return recorder.WaitFor([&] {
            for (auto& s : recorder.statuses)
                if (s.type == kz::kStatusPlayback && s.data == code)
                    return true;
            return false;
        }, timeoutMs);
    }
    int EventValue(int code)
    {
        return recorder.Locked([&] {
            for (auto& s : recorder.statuses)
                if (s.type == kz::kStatusPlayback && s.data == code)
                    return s.value;
            return -1;
        });
    }
};

sim::CameraConfig smallLive(sim::Codec codec = sim::Codec::H264)
{
    sim::CameraConfig config;
    config.video = { codec, 320, 240, 25, 5 };
    return config;
}

}

TEST_F(kznetMedia, LiveH264FramesCarryTheRecordFieldsAndTheSize)
{
    auto camera = sim::Camera::Start(smallLive());
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "", kLiveId));
    ASSERT_TRUE(WaitFrames(kz::kFrameH264, 7));
    recorder.Locked([&] {
        ASSERT_GE(recorder.statuses.size(), 1u);
        EXPECT_EQ(recorder.statuses[0].type, kz::kStatusOpen);
        EXPECT_EQ(recorder.statuses[0].value, kLiveId) << "the open status carries the window id";
        auto& first = recorder.frames[0];
        EXPECT_EQ(first.id, kLiveId);
        EXPECT_EQ(first.record.frameRate, 25);
        EXPECT_EQ(first.record.size, static_cast<int>(first.payload.size()));
        EXPECT_NE(first.record.keyFrame, 0);
        unsigned w = 0, h = 0;
        EXPECT_TRUE(testing_h264::SpsSize(first.payload.data(), first.payload.size(), w, h));
        EXPECT_EQ(w, 320u);
        EXPECT_EQ(h, 240u);
        for (std::size_t i = 1; i < recorder.frames.size(); ++i) {
            auto& f = recorder.frames[i];
            EXPECT_EQ(f.record.passThrough1, recorder.frames[i - 1].record.passThrough1 + 1) << "consecutive frame numbers";
            EXPECT_EQ(f.record.keyFrame != 0, f.record.passThrough1 % 5 == 0) << "key frame every 5";
            EXPECT_EQ(f.record.keyFrame != 0, f.payload[4] == 0x67);
            EXPECT_GT(f.record.bitRate, 0);
        }
    });
}

TEST_F(kznetMedia, CodecAndSizeChangeMidStreamStartWithAKeyFrameOfTheNewKind)
{
    auto camera = sim::Camera::Start(smallLive());
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "live", kLiveId));
    ASSERT_TRUE(WaitFrames(kz::kFrameH264, 2));
    camera->SetVideo({ sim::Codec::Mjpeg, 160, 120, 25, 5 });
    ASSERT_TRUE(WaitFrames(kz::kFrameMjpeg, 1));
    camera->SetVideo({ sim::Codec::H264, 176, 144, 25, 5 });
    ASSERT_TRUE(recorder.WaitFor([&] {
        for (auto& f : recorder.frames) {
            unsigned w, h;
            if (f.kind == kz::kFrameH264 && testing_h264::SpsSize(f.payload.data(), f.payload.size(), w, h) && w == 176)
                return true;
        }
        return false;
    }));
    recorder.Locked([&] {
        for (auto& f : recorder.frames) {
            if (f.kind != kz::kFrameMjpeg)
                continue;
            unsigned w = 0, h = 0;
            EXPECT_TRUE(testing_h264::JpegSize(f.payload.data(), f.payload.size(), w, h));
            EXPECT_EQ(w, 160u);
            EXPECT_EQ(h, 120u);
        }
    });
}

TEST_F(kznetMedia, AudioBlocksFollowTheCodingAndItsChanges)
{
    auto camera = sim::Camera::Start(smallLive());
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "", kLiveId));
    EXPECT_EQ(kz_start_media(stream, kz::kMediaAudio), 0);
    int sizes[] = { 960, 120, 160 };
    for (int coding = 0; coding < 3; ++coding) {
        camera->SetAudio(coding);
        ASSERT_TRUE(recorder.WaitFor([&] {
            int n = 0;
            for (auto& f : recorder.frames)
                n += f.kind == kz::kFrameAudio && f.record.size == sizes[coding];
            return n >= 2;
        })) << "coding " << coding;
    }
    EXPECT_EQ(kz_stop_media(stream, kz::kMediaAudio), 0);
    EXPECT_EQ(kz_start_media(stream, 7), -1) << "unknown selector";
}

TEST_F(kznetMedia, TalkRepliesAndBlocksCountedBySize)
{
    auto camera = sim::Camera::Start(smallLive());
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "", kLiveId));
    EXPECT_EQ(kz_start_media(stream, kz::kMediaTalk), 0);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.CountStatus(kz::kStatusTalkStart) == 1; }));
    std::vector<char> block(960, 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kz_send_talk_data(stream, 0, 0, 0, 960, block.data()), 0);
    EXPECT_EQ(kz_send_talk_data(stream, 0, 0, 0, 120, block.data()), 0);
    EXPECT_EQ(kz_send_talk_data(stream, 0, 0, 0, 160, block.data()), 0);
    EXPECT_EQ(kz_send_talk_data(stream, 0, 0, 0, 961, block.data()), -1) << "larger than a block";
    EXPECT_EQ(kz_send_talk_data(stream, 0, 0, 0, 160, nullptr), -1);
    EXPECT_EQ(kz_stop_media(stream, kz::kMediaTalk), 0);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.CountStatus(kz::kStatusTalkStop) == 1; }));
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->TalkBlocks().size() == 3; }, 5000));
    EXPECT_EQ(camera->TalkBlocks(), (std::map<int, int> { { 120, 1 }, { 160, 1 }, { 960, 3 } }));
    recorder.Locked([&] {
        for (auto& s : recorder.statuses) {
            if (s.type == kz::kStatusTalkStart || s.type == kz::kStatusTalkStop) {
                EXPECT_TRUE(s.hasData);
                EXPECT_EQ(s.data, kTalkOk);
                EXPECT_EQ(s.value, kLiveId);
            }
        }
    });
}

TEST_F(kznetMedia, MediaMessagesReachTheCamera)
{
    auto camera = sim::Camera::Start(smallLive());
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "", kLiveId));
    EXPECT_EQ(kz_post_media_msg(stream, kz::kMediaMsgAudioLength, 640, 0), 0);
    EXPECT_EQ(kz_post_media_msg(stream, kz::kMediaMsgStall, 1, 2), 0);
    EXPECT_EQ(kz_post_media_msg(stream, 1000, 1, 2), -1);
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->MediaControls().size() == 2; }, 5000));
    auto controls = camera->MediaControls();
    EXPECT_EQ(controls[0].op, MediaOp::Message);
    EXPECT_EQ(controls[0].a, kz::kMediaMsgAudioLength);
    EXPECT_EQ(controls[0].b, 640);
    EXPECT_EQ(controls[1].a, kz::kMediaMsgStall);
    EXPECT_EQ(controls[1].c, 2);
}

TEST_F(kznetMedia, LinkLossIsReportedOnceWithTheWindowId)
{
    struct Case {
        const char* what;
        std::function<void(sim::Camera&)> breakLink;
    } cases[] = {
        { "dropped connection", [](sim::Camera& c) { c.DropLink(); } },
        { "stall past the limit", [](sim::Camera& c) { c.StallVideo(3000); } },
    };
    setenv("TIRAVEX_LINK_TIMEOUT_MS", "400", 1);
    for (auto& c : cases) {
        auto camera = sim::Camera::Start(smallLive());
        ASSERT_TRUE(camera);
        Recorder r;
        LoginInfo l = MakeLogin("127.0.0.1", camera->Port(), "admin", "");
        KzHandle h = kz_open_device(kz::kConnectMedia, "", &l, 0, kLiveId, kz::kOpenDeviceConstant, &Recorder::OnStatus, &Recorder::OnFrame, &r, 0);
        ASSERT_TRUE(h);
        ASSERT_TRUE(r.WaitFor([&] { return r.CountFrames(kz::kFrameH264) >= 2; })) << c.what;
        c.breakLink(*camera);
        ASSERT_TRUE(r.WaitFor([&] { return r.CountStatus(kz::kStatusLinkLost) >= 1; })) << c.what;
        kz_close_device(h); // the worker has ended or ends now: no second report
        r.Locked([&] {
            EXPECT_EQ(r.CountStatus(kz::kStatusLinkLost), 1) << c.what;
            for (auto& s : r.statuses) {
                if (s.type == kz::kStatusLinkLost) {
                    EXPECT_EQ(s.value, kLiveId) << c.what;
                }
            }
        });
    }
}

TEST_F(kznetMedia, RefusedOrUnreachableChannelReportsLinkLost)
{
    sim::CameraConfig config = smallLive();
    config.accounts = { { "admin", "right" } };
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "", kLiveId, "wrong"));
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.CountStatus(kz::kStatusLinkLost) == 1; }));
    EXPECT_EQ(recorder.Locked([&] { return recorder.frames.size(); }), 0u);
    EXPECT_EQ(recorder.Locked([&] { return recorder.CountStatus(kz::kStatusOpen); }), 0);
    EXPECT_EQ(kz_open_device(kz::kConnectMedia, "", nullptr, 0, kLiveId, 258, nullptr, nullptr, nullptr, 0), nullptr);
}

TEST_F(kznetMedia, PlaybackEventsInOrderWithPauseAndSeekActing)
{
    sim::CameraConfig config;
    config.recordings = { sim::Recording { "/rec/a.avi", 3, { sim::Codec::H264, 160, 120, 20, 10 }, false } };
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "/rec/a.avi", kPlaybackId));
    ASSERT_TRUE(WaitEvent(kPbPlaying));
    ASSERT_TRUE(WaitFrames(kz::kFrameH264, 3));
    auto start = PlaybackEvents();
    ASSERT_GE(start.size(), 5u);
    EXPECT_EQ(std::vector<int>(start.begin(), start.begin() + 5), (std::vector<int> { kPbBuffering, kPbBuffering, kPbBuffering, kPbLength, kPbPlaying }));
    EXPECT_EQ(EventValue(kPbLength), 3);
    EXPECT_EQ(recorder.Locked([&] {
        for (auto& f : recorder.frames)
            if (f.kind == kz::kFrameH264)
                return f.record.passThrough1;
        return 99u;
    }), 0u) << "playback starts at the recording's first frame";
    ASSERT_TRUE(WaitFrames(kz::kFrameAudio, 1)) << "the recording's sound comes without being asked for";
    EXPECT_EQ(recorder.Locked([&] {
        for (auto& f : recorder.frames)
            if (f.kind == kz::kFrameAudio)
                return f.record.size;
        return 0;
    }), 960) << "as 16-bit PCM";

    EXPECT_EQ(kz_pause_media(stream), 0);
    ASSERT_TRUE(WaitEvent(kPbPaused));
    std::uint32_t lastBefore = recorder.Locked([&] { return recorder.LastFrame(kz::kFrameH264)->record.passThrough1; });
    EXPECT_EQ(kz_resume_media(stream), 0);
    ASSERT_TRUE(WaitEvent(kPbResumed));
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.LastFrame(kz::kFrameH264)->record.passThrough1 > lastBefore; }));
    recorder.Locked([&] {
        const Frame* previous = nullptr;
        for (auto& f : recorder.frames) {
            if (f.kind != kz::kFrameH264)
                continue;
            if (previous) {
                EXPECT_EQ(f.record.passThrough1, previous->record.passThrough1 + 1) << "a pause loses no frame";
            }
            previous = &f;
        }
    });

    std::size_t before = recorder.Locked([&] { return recorder.frames.size(); });
    EXPECT_EQ(kz_seek_record(stream, 2.0), 0);
    ASSERT_TRUE(WaitEvent(kPbSeeked));
    EXPECT_EQ(EventValue(kPbSeeked), 2);
    ASSERT_TRUE(recorder.WaitFor([&] {
        for (std::size_t i = before; i < recorder.frames.size(); ++i)
            if (recorder.frames[i].kind == kz::kFrameH264 && recorder.frames[i].record.passThrough1 == 40)
                return true;
        return false;
    }));
    recorder.Locked([&] {
        for (std::size_t i = before; i < recorder.frames.size(); ++i) {
            if (recorder.frames[i].kind == kz::kFrameH264 && recorder.frames[i].record.passThrough1 == 40) {
                EXPECT_NE(recorder.frames[i].record.keyFrame, 0) << "playback after a seek starts at a key frame";
            }
        }
    });
    ASSERT_TRUE(WaitEvent(kPbEnd));
    EXPECT_EQ(EventValue(kPbEnd), 3);
    auto events = PlaybackEvents();
    EXPECT_EQ(events.back(), kPbEnd);
    EXPECT_EQ(recorder.Locked([&] { return recorder.LastFrame(kz::kFrameH264)->record.passThrough1; }), 59u);
}

TEST_F(kznetMedia, MissingOrBrokenRecordingReportsItsError)
{
    sim::CameraConfig config;
    config.recordings = { sim::Recording { "/rec/bad.avi", 3, { sim::Codec::H264, 160, 120, 10, 10 }, true } };
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(Open(*camera, "/rec/none.avi", kPlaybackId));
    ASSERT_TRUE(WaitEvent(kPbRecordMissing));
    kz_close_device(stream);
    stream = nullptr;
    Recorder other;
    LoginInfo l = MakeLogin("127.0.0.1", camera->Port(), "admin", "");
    KzHandle h = kz_open_device(kz::kConnectMedia, "/rec/bad.avi", &l, 0, kPlaybackId, 258, &Recorder::OnStatus, &Recorder::OnFrame, &other, 0);
    ASSERT_TRUE(other.WaitFor([&] {
        for (auto& s : other.statuses)
            if (s.type == kz::kStatusPlayback && s.data == kPbRecordBroken)
                return true;
        return false;
    }));
    kz_close_device(h);
}

TEST_F(kznetMedia, RoadCommandsDriveTheLiveStream)
{
    auto camera = sim::Camera::Start(smallLive());
    ASSERT_TRUE(camera);
    Recorder roadRecorder;
    LoginInfo roadLogin = MakeLogin("127.0.0.1", camera->Port(), "admin", "");
    KzHandle road = kz_open_ctrl_road(kz::kRoadModeMedia, &roadLogin, &Recorder::OnControl, &roadRecorder, 0);
    ASSERT_TRUE(road);
    ASSERT_TRUE(Open(*camera, "", kLiveId));
    ASSERT_TRUE(WaitFrames(kz::kFrameH264, 2));

    kz_post_ctrl_road_msg(road, kCmdVideo, 0, kCmdStop);
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->Commands().size() == 1; }, 5000));
    int stopped = recorder.Locked([&] { return recorder.CountFrames(kz::kFrameH264); });
    EXPECT_FALSE(recorder.WaitFor([&] { return recorder.CountFrames(kz::kFrameH264) > stopped + 1; }, 400)) << "video stops (one frame may be in flight)";

    kz_post_ctrl_road_msg(road, kCmdVideo, 0, kCmdStart);
    kz_post_ctrl_road_msg(road, kCmdAudio, 0, kCmdStart);
    ASSERT_TRUE(WaitFrames(kz::kFrameH264, stopped + 3)) << "video starts again";
    ASSERT_TRUE(WaitFrames(kz::kFrameAudio, 2)) << "sound started over the road";
    kz_close_ctrl_road(road);
}
