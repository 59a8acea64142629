// The standards dialect against the simulated camera of the standards (our
// ONVIF services in front of GStreamer's RTSP server): login through ONVIF
// with the camera's clock taken into account, the same login records our
// camera sends, failures as our statuses, and a live RTSP stream delivered
// as our frame records (H.264 or H.265), with sound in every coding as PCM,
// a stall reported once, and an SDP of nothing playable ended at once.

#include "H264Size.h"
#include "Recorder.h"

#include "kznet/Library.h"
#include "kznet/Wire.h"
#include "sim/Camera.h"
#include "support/Loopback.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

using namespace kztest;
using namespace kz;

namespace {

constexpr const char* kPassword = "s3cret&<";
constexpr int kClockAheadSeconds = 3 * 3600; // far past any token's allowed skew
constexpr int kToneHz = 440;

sim::CameraConfig standardsCamera()
{
    sim::CameraConfig config;
    config.dialect = sim::Dialect::Standards;
    config.accounts = { { "admin", kPassword } };
    config.clockOffsetSeconds = kClockAheadSeconds;
    config.video = { sim::Codec::H264, 320, 240, 15, 15 };
    config.toneHz = kToneHz;
    return config;
}

struct kznetStandards : ::testing::Test {
    Recorder roadRecorder;
    Recorder streamRecorder;
    KzHandle road = nullptr;
    KzHandle stream = nullptr;
    LoginInfo login {};

    void TearDown() override
    {
        if (stream)
            kz_close_device(stream);
        if (road)
            kz_close_ctrl_road(road);
        unsetenv("TIRAVEX_LINK_TIMEOUT_MS");
    }
    // Logs in the way the control does: the RTSP port as `port`, the ONVIF
    // web port as `webport`. Returns the login reply.
    std::vector<std::uint8_t> LogIn(const sim::Camera& camera, const std::string& password)
    {
        login = MakeLogin("127.0.0.1", camera.Port(), "admin", password, kAudioPcm, camera.WebPort());
        road = kz_open_ctrl_road(kRoadModeMedia, &login, &Recorder::OnControl, &roadRecorder, 0);
        EXPECT_TRUE(road);
        EXPECT_TRUE(roadRecorder.WaitFor([&] { return roadRecorder.FindControl(kMsgLoginReply) != nullptr; }, 10000));
        return roadRecorder.Locked([&] {
            auto* m = roadRecorder.FindControl(kMsgLoginReply);
            return m ? m->data : std::vector<std::uint8_t>();
        });
    }
    void OpenLive()
    {
        stream = kz_open_device(kConnectMedia, "", &login, 0, kLiveId | kTagNoReopen, kOpenDeviceConstant, &Recorder::OnStatus,
            &Recorder::OnFrame, &streamRecorder, 0);
        ASSERT_TRUE(stream);
    }
    bool WaitFrames(int kind, int count, int timeoutMs = 10000)
    {
        return streamRecorder.WaitFor([&] { return streamRecorder.CountFrames(kind) >= count; }, timeoutMs);
    }
};

// Decodes H.264 or H.265 access units with FFmpeg, as the control does.
class H264Decoder {
public:
    explicit H264Decoder(AVCodecID codec = AV_CODEC_ID_H264)
    {
        m_context = avcodec_alloc_context3(avcodec_find_decoder(codec));
        avcodec_open2(m_context, nullptr, nullptr);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~H264Decoder()
    {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_context);
    }
    // The decoded picture's luma rows, or empty when nothing decoded.
    std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& unit, int& width, int& height)
    {
        m_packet->data = const_cast<std::uint8_t*>(unit.data());
        m_packet->size = static_cast<int>(unit.size());
        if (avcodec_send_packet(m_context, m_packet) < 0 || avcodec_receive_frame(m_context, m_frame) < 0)
            return {};
        width = m_frame->width;
        height = m_frame->height;
        std::vector<std::uint8_t> luma;
        for (int row = 0; row < height; ++row)
            luma.insert(luma.end(), m_frame->data[0] + row * m_frame->linesize[0], m_frame->data[0] + row * m_frame->linesize[0] + width);
        return luma;
    }

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
};


// 440 Hz from zero crossings of the sound past its first quarter (a
// decoder's start-up), and its RMS level.
double toneHz(const std::vector<std::int16_t>& sound, double& rms)
{
    std::size_t start = sound.size() / 4;
    int crossings = 0;
    double energy = 0;
    for (std::size_t i = start + 1; i < sound.size(); ++i) {
        crossings += (sound[i - 1] < 0) != (sound[i] < 0);
        energy += static_cast<double>(sound[i]) * sound[i];
    }
    double n = static_cast<double>(sound.size() - start);
    rms = n > 0 ? std::sqrt(energy / n) : 0;
    return n > 0 ? crossings / 2.0 / (n / 8000.0) : 0;
}

std::vector<std::int16_t> soundOf(Recorder& r)
{
    return r.Locked([&] {
        std::vector<std::int16_t> samples;
        for (auto& f : r.frames) {
            if (f.kind != kFrameAudio)
                continue;
            EXPECT_EQ(f.payload.size(), static_cast<std::size_t>(kTalkBlockPcm));
            for (std::size_t i = 0; i + 1 < f.payload.size(); i += 2)
                samples.push_back(static_cast<std::int16_t>(f.payload[i] | (f.payload[i + 1] << 8)));
        }
        return samples;
    });
}

}

TEST_F(kznetStandards, LoginThroughOnvifGivesTheRecordsOurCameraSendsWithTheCamerasClockTakenIntoAccount)
{
    auto camera = sim::Camera::Start(standardsCamera());
    ASSERT_TRUE(camera);
    auto reply = LogIn(*camera, kPassword);
    ASSERT_EQ(reply.size(), kLoginReplyBytes);
    EXPECT_EQ(Int32At(reply, kReplyStatusAt), kLoginOk) << "the token carried the camera's time, three hours ahead of ours";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[kReplyDeviceIdAt]), kReplyDeviceIdBytes), camera->Config().deviceId);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[kReplyDeviceNameAt])), "Tiravex " + camera->Config().model);
    EXPECT_EQ(Int32At(reply, kReplyDeviceKindAt), kDeviceKind100);
    EXPECT_EQ(Int32At(reply, kReplyValuesAt), 320);
    EXPECT_EQ(Int32At(reply, kReplyWebPortAt), camera->WebPort());
    EXPECT_EQ(camera->LoginsAccepted(), 1);
    EXPECT_EQ(camera->LoginsRefused(), 0);

    // After the reply, as from our camera: the family, then the device
    // record whose stream mode says the sound comes as PCM.
    ASSERT_TRUE(roadRecorder.WaitFor([&] { return roadRecorder.FindControl(kMsgDeviceRecord) != nullptr; }));
    roadRecorder.Locked([&] {
        ASSERT_TRUE(ControlLengthFits(kMsgDeviceKind, static_cast<int>(roadRecorder.FindControl(kMsgDeviceKind)->data.size()), false));
        EXPECT_EQ(Int32At(roadRecorder.FindControl(kMsgDeviceKind)->data, kDeviceKindCodeAt), kKindCode100);
        EXPECT_EQ(roadRecorder.FindControl(kMsgDeviceRecord)->data.at(kStreamModeAt), kStreamModeRawAudio);
    });

    // The live configuration is answered from the first profile.
    ASSERT_EQ(kz_post_ctrl_road_msg(road, kCmdLiveCfg, 0, 0), 0);
    ASSERT_TRUE(roadRecorder.WaitFor([&] { return roadRecorder.FindControl(kMsgLiveCfg) != nullptr; }));
    roadRecorder.Locked([&] {
        auto& config = roadRecorder.FindControl(kMsgLiveCfg)->data;
        EXPECT_TRUE(ControlLengthFits(kMsgLiveCfg, static_cast<int>(config.size()), false));
        EXPECT_EQ(Int32At(config, kLiveCfgWidthAt), 320);
        EXPECT_EQ(Int32At(config, kLiveCfgHeightAt), 240);
        EXPECT_EQ(Int32At(config, kLiveCfgFpsAt), 15);
    });
}

TEST_F(kznetStandards, AWrongPasswordAndACameraThatAnswersNeitherGiveOurFailureStatuses)
{
    auto camera = sim::Camera::Start(standardsCamera());
    ASSERT_TRUE(camera);
    auto refused = LogIn(*camera, "wrong");
    ASSERT_EQ(refused.size(), kLoginReplyBytes);
    EXPECT_EQ(Int32At(refused, kReplyStatusAt), kLoginBadAccount);
    EXPECT_EQ(roadRecorder.Locked([&] { return roadRecorder.CountControls(kMsgLoginReply); }), 1);
    EXPECT_GE(camera->LoginsRefused(), 1);

    // Nothing on either port: one reply, unreachable, promptly.
    Recorder nothing;
    LoginInfo none = MakeLogin("127.0.0.1", testing_support::UnusedLoopbackPort(), "admin", "", kAudioPcm, testing_support::UnusedLoopbackPort());
    auto start = std::chrono::steady_clock::now();
    KzHandle h = kz_open_ctrl_road(kRoadModeMedia, &none, &Recorder::OnControl, &nothing, 0);
    ASSERT_TRUE(nothing.WaitFor([&] { return nothing.FindControl(kMsgLoginReply) != nullptr; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(nothing.Locked([&] { return Int32At(nothing.FindControl(kMsgLoginReply)->data, kReplyStatusAt); }), kLoginUnreachable);
    kz_close_ctrl_road(h);
}

TEST_F(kznetStandards, OurCameraIsNotHeldByAWebPortThatNeverAnswers)
{
    // Our camera whose web port is a listener that never answers the ONVIF
    // probe: the login reply comes as fast as without the probe.
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    testing_support::LoopbackSocket silent = testing_support::BindLoopback();
    login = MakeLogin("127.0.0.1", camera->Port(), camera->User(), "", kAudioPcm, silent.port);
    auto start = std::chrono::steady_clock::now();
    road = kz_open_ctrl_road(kRoadModeMedia, &login, &Recorder::OnControl, &roadRecorder, 0);
    ASSERT_TRUE(roadRecorder.WaitFor([&] { return roadRecorder.FindControl(kMsgLoginReply) != nullptr; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(roadRecorder.Locked([&] { return Int32At(roadRecorder.FindControl(kMsgLoginReply)->data, kReplyStatusAt); }), kLoginOk);
    // And its channels are still ours.
    OpenLive();
    ASSERT_TRUE(WaitFrames(kFrameH264, 1));
    EXPECT_EQ(camera->ChannelsOpen(), 1);
    ::close(silent.fd);
}

TEST_F(kznetStandards, TheLiveStreamArrivesAsOurFrameRecordsThatDecodeAndMoveWithSoundOnlyOnceSwitchedOn)
{
    auto camera = sim::Camera::Start(standardsCamera());
    ASSERT_TRUE(camera);
    ASSERT_EQ(Int32At(LogIn(*camera, kPassword), kReplyStatusAt), kLoginOk);
    OpenLive();
    ASSERT_TRUE(WaitFrames(kFrameH264, 20));
    EXPECT_TRUE(streamRecorder.Locked([&] {
        for (auto& s : streamRecorder.statuses)
            if (s.type == kStatusOpen && s.value == kLiveId)
                return true;
        return false;
    }));
    EXPECT_EQ(streamRecorder.Locked([&] { return streamRecorder.CountFrames(kFrameAudio); }), 0) << "sound before the road switched it on";

    auto frames = streamRecorder.Locked([&] { return streamRecorder.frames; });
    H264Decoder decoder;
    std::vector<std::vector<std::uint8_t>> pictures;
    bool keySeen = false;
    for (auto& f : frames) {
        if (f.kind != kFrameH264)
            continue;
        EXPECT_EQ(f.id, kLiveId);
        EXPECT_EQ(f.record.size, static_cast<std::int32_t>(f.payload.size()));
        EXPECT_EQ(f.record.frameRate, 15);
        if (f.record.keyFrame) {
            // A key frame starts with the sequence parameter set after a
            // four-byte start code, as the control reads the size from it.
            ASSERT_GE(f.payload.size(), 5u);
            EXPECT_EQ(f.payload[4], 0x67);
            unsigned w = 0, h = 0;
            EXPECT_TRUE(testing_h264::SpsSize(f.payload.data(), f.payload.size(), w, h));
            EXPECT_EQ(w, 320u);
            EXPECT_EQ(h, 240u);
            keySeen = true;
        }
        if (!keySeen)
            continue;
        int w = 0, h = 0;
        auto luma = decoder.Decode(f.payload, w, h);
        ASSERT_FALSE(luma.empty()) << "frame " << f.record.sequence << " does not decode";
        EXPECT_EQ(w, 320);
        EXPECT_EQ(h, 240);
        pictures.push_back(std::move(luma));
    }
    ASSERT_GE(pictures.size(), 10u);
    EXPECT_NE(pictures.front(), pictures.back()) << "the picture does not move";

    // The road's sound switch: 8 kHz 16-bit PCM in our blocks, the camera's tone.
    ASSERT_EQ(kz_post_ctrl_road_msg(road, kCmdAudio, 0, kCmdStart), 0);
    ASSERT_TRUE(WaitFrames(kFrameAudio, 20));
    double rms = 0;
    EXPECT_NEAR(toneHz(soundOf(streamRecorder), rms), kToneHz, kToneHz * 0.05);
}

// A-law, G.726 in both bit orders under RTP's name (FFmpeg's coder behind
// GStreamer's payloader), and 16 kHz AAC: each reaches us as our PCM
// blocks of the camera's tone, at its level. The tone is high, 2500 Hz:
// G.726 decoded in the wrong bit order makes a low tone only slightly
// worse, this one another sound. AAC not resampled or a coding not decoded
// would give another frequency too, or noise.
std::string soundName(const ::testing::TestParamInfo<sim::Sound>& info)
{
    switch (info.param) {
    case sim::Sound::MuLaw: return "MuLaw";
    case sim::Sound::ALaw: return "ALaw";
    case sim::Sound::G726: return "G726";
    case sim::Sound::G726Aal2: return "G726InAal2Order";
    case sim::Sound::Aac: return "Aac";
    }
    return "Unknown";
}

class kznetStandardsSound : public kznetStandards, public ::testing::WithParamInterface<sim::Sound> { };

TEST_P(kznetStandardsSound, ArrivesAsOurPcmBlocksOfTheCamerasTone)
{
    sim::CameraConfig config = standardsCamera();
    constexpr int kHighToneHz = 2500;
    config.sound = GetParam();
    config.toneHz = kHighToneHz;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    ASSERT_EQ(Int32At(LogIn(*camera, kPassword), kReplyStatusAt), kLoginOk);
    OpenLive();
    ASSERT_EQ(kz_post_ctrl_road_msg(road, kCmdAudio, 0, kCmdStart), 0);
    ASSERT_TRUE(WaitFrames(kFrameAudio, 40));
    double rms = 0;
    EXPECT_NEAR(toneHz(soundOf(streamRecorder), rms), kHighToneHz, kHighToneHz * 0.03);
    EXPECT_GT(rms, 8000 / 2.0) << "the tone's level (amplitude 8000) was not kept";
    EXPECT_LT(rms, 8000 / 1.2);
}

INSTANTIATE_TEST_SUITE_P(Codings, kznetStandardsSound, ::testing::Values(sim::Sound::ALaw, sim::Sound::G726, sim::Sound::G726Aal2, sim::Sound::Aac),
    soundName);

TEST_F(kznetStandards, H265ArrivesAsAccessUnitsLedByTheirParameterSetsThatDecodeAndMove)
{
    sim::CameraConfig config = standardsCamera();
    config.video.codec = sim::Codec::H265;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    ASSERT_EQ(Int32At(LogIn(*camera, kPassword), kReplyStatusAt), kLoginOk);
    OpenLive();
    ASSERT_TRUE(WaitFrames(kFrameH265, 20));
    auto frames = streamRecorder.Locked([&] { return streamRecorder.frames; });
    H264Decoder decoder(AV_CODEC_ID_HEVC);
    std::vector<std::vector<std::uint8_t>> pictures;
    int keys = 0;
    constexpr std::uint8_t kVpsHeader = 32 << 1; // NAL type 32, the video parameter set
    for (auto& f : frames) {
        ASSERT_NE(f.kind, kFrameH264);
        if (f.kind != kFrameH265)
            continue;
        EXPECT_EQ(f.record.width, 320u);
        EXPECT_EQ(f.record.height, 240u);
        ASSERT_GE(f.payload.size(), 5u);
        if (f.record.keyFrame) {
            EXPECT_EQ(f.payload[4], kVpsHeader) << "a key frame begins with its parameter sets, no delimiter";
            ++keys;
        }
        if (keys == 0)
            continue;
        int w = 0, h = 0;
        auto luma = decoder.Decode(f.payload, w, h);
        ASSERT_FALSE(luma.empty()) << "frame " << f.record.sequence << " does not decode";
        EXPECT_EQ(w, 320);
        EXPECT_EQ(h, 240);
        pictures.push_back(std::move(luma));
    }
    ASSERT_GE(keys, 1);
    ASSERT_GE(pictures.size(), 10u);
    EXPECT_NE(pictures.front(), pictures.back()) << "the picture does not move";
}

// A camera we did not write (GStreamer's RTSP server, no ONVIF) whose SDP
// offers only codings the channel does not play: the channel ends at once
// as one that cannot be opened, long before the link time-out.
TEST_F(kznetStandards, AStreamOfOnlyUnknownCodingsEndsAtOnceAsOneThatCannotBeOpened)
{
    setenv("TIRAVEX_LINK_TIMEOUT_MS", "30000", 1);
    gst_init(nullptr, nullptr);
    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    gst_rtsp_server_set_service(server, "0");
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory,
        "( videotestsrc is-live=true ! video/x-raw,width=160,height=120 ! vp8enc deadline=1 ! rtpvp8pay name=pay0 pt=96"
        "  audiotestsrc is-live=true ! opusenc ! rtpopuspay name=pay1 pt=97 )");
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, "/odd", factory);
    g_object_unref(mounts);
    GMainContext* context = g_main_context_new();
    ASSERT_NE(gst_rtsp_server_attach(server, context), 0u);
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::thread serving([loop] { g_main_loop_run(loop); });

    login = MakeLogin("127.0.0.1", 0, "admin", "", kAudioPcm, 0);
    std::string address = "rtsp://127.0.0.1:" + std::to_string(gst_rtsp_server_get_bound_port(server)) + "/odd";
    auto start = std::chrono::steady_clock::now();
    stream = kz_open_device(kConnectMedia, address.c_str(), &login, 0, kLiveId | kTagNoReopen, kOpenDeviceConstant, &Recorder::OnStatus,
        &Recorder::OnFrame, &streamRecorder, 0);
    ASSERT_TRUE(stream);
    EXPECT_TRUE(streamRecorder.WaitFor([&] { return streamRecorder.CountStatus(kStatusLinkLost) > 0; }, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    kz_close_device(stream);
    stream = nullptr;
    streamRecorder.Locked([&] {
        EXPECT_EQ(streamRecorder.CountStatus(kStatusLinkLost), 1);
        EXPECT_TRUE(streamRecorder.frames.empty());
        ASSERT_FALSE(streamRecorder.statuses.empty());
        EXPECT_EQ(streamRecorder.statuses.back().data, kLostUnreachable);
    });

    gst_rtsp_server_client_filter(server, [](GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REMOVE; }, nullptr);
    g_main_loop_quit(loop);
    serving.join();
    g_main_loop_unref(loop);
    g_object_unref(server);
    g_main_context_unref(context);
}

TEST_F(kznetStandards, AStalledStreamIsReportedOnceAsALinkLostByTimeOutAndARefusedAccountAsClosed)
{
    setenv("TIRAVEX_LINK_TIMEOUT_MS", "1500", 1);
    auto camera = sim::Camera::Start(standardsCamera());
    ASSERT_TRUE(camera);
    ASSERT_EQ(Int32At(LogIn(*camera, kPassword), kReplyStatusAt), kLoginOk);
    OpenLive();
    ASSERT_TRUE(WaitFrames(kFrameH264, 5));
    camera->StallVideo(60000);
    ASSERT_TRUE(streamRecorder.WaitFor([&] { return streamRecorder.CountStatus(kStatusLinkLost) > 0; }, 10000));
    camera->StallVideo(0);
    streamRecorder.Locked([&] {
        for (auto& s : streamRecorder.statuses)
            if (s.type == kStatusLinkLost) {
                EXPECT_EQ(s.data, kLostTimedOut);
                EXPECT_EQ(s.value, kLiveId);
            }
    });

    // A stream address of its own, with an account the RTSP server's Digest
    // check refuses: the channel ends as when our camera refuses one.
    Recorder refused;
    LoginInfo wrong = MakeLogin("127.0.0.1", camera->Port(), "admin", "wrong", kAudioPcm, 0);
    std::string address = "rtsp://127.0.0.1:" + std::to_string(camera->Port()) + "/stream1";
    KzHandle h = kz_open_device(kConnectMedia, address.c_str(), &wrong, 0, kLiveId, kOpenDeviceConstant, &Recorder::OnStatus, &Recorder::OnFrame, &refused, 0);
    ASSERT_TRUE(h);
    ASSERT_TRUE(refused.WaitFor([&] { return refused.CountStatus(kStatusLinkLost) > 0; }, 10000));
    kz_close_device(h);
    refused.Locked([&] {
        EXPECT_EQ(refused.CountStatus(kStatusLinkLost), 1);
        EXPECT_EQ(refused.CountFrames(kFrameH264), 0);
        EXPECT_EQ(refused.statuses.back().data, kLostClosed);
    });
    EXPECT_EQ(streamRecorder.Locked([&] { return streamRecorder.CountStatus(kStatusLinkLost); }), 1);
}

TEST_F(kznetStandards, PanTiltAndOurCgiCommandsOnTheRoadAndOverHttpBecomePtzMovesAndAnswersOfOurCamera)
{
    auto cgiAnswer = [](Recorder& r, int type, std::size_t nth) {
        return r.Locked([&] {
            std::size_t seen = 0;
            for (auto& c : r.controls)
                if (c.type == type && seen++ == nth)
                    return std::string(c.data.begin(), c.data.end());
            return std::string();
        });
    };
    auto waitAnswers = [](Recorder& r, int type, int count) {
        return r.WaitFor([&] { return r.CountControls(type) >= count; });
    };
    for (int ptFlag : { 1, 0 }) {
        sim::CameraConfig config = standardsCamera();
        config.ptFlag = ptFlag;
        auto camera = sim::Camera::Start(config);
        ASSERT_TRUE(camera);
        Recorder r;
        LoginInfo info = MakeLogin("127.0.0.1", camera->Port(), "admin", kPassword, kAudioPcm, camera->WebPort());
        KzHandle h = kz_open_ctrl_road(kRoadModeMedia, &info, &Recorder::OnControl, &r, 0);
        ASSERT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgLoginReply) != nullptr; }, 10000));
        EXPECT_EQ(r.Locked([&] { return r.FindControl(kMsgLoginReply)->data.at(kReplyBytesAt + 1); }), ptFlag) << "the pan/tilt flag";

        // The road's codes (screen pan/tilt) and the pages' CGI commands.
        kz_post_ctrl_road_msg(h, kCmdPtz, 0, kPtzUpLeft);
        kz_post_ctrl_road_msg(h, kCmdPtz, 0, kPtzStop);
        kz_post_ctrl_road_msg(h, kCmdCgi, 0, reinterpret_cast<std::intptr_t>("cmd=ptzMoveRight&usr=admin&pwd=x"));
        kz_post_ctrl_road_msg(h, kCmdCgi, 0, reinterpret_cast<std::intptr_t>("setMotionDetectConfig&isEnable=1"));
        kz_post_ctrl_road_msg(h, kCmdCgi, 0, reinterpret_cast<std::intptr_t>("cmd=getDevInfo"));
        kz_post_ctrl_road_msg(h, kCmdCgi, 0, reinterpret_cast<std::intptr_t>("cmd=getProductAllInfo"));
        ASSERT_TRUE(waitAnswers(r, kMsgCgiReply, 2) && waitAnswers(r, kMsgDevInfo, 1) && waitAnswers(r, kMsgProductInfo, 1)) << ptFlag;
        std::string moved = cgi::kResultOpen + std::string("<result>") + std::to_string(ptFlag ? cgi::kResultOk : cgi::kResultUnsupported) + "</result>";
        EXPECT_EQ(cgiAnswer(r, kMsgCgiReply, 0).rfind(moved, 0), 0u) << cgiAnswer(r, kMsgCgiReply, 0);
        EXPECT_NE(cgiAnswer(r, kMsgCgiReply, 1).find("<result>" + std::to_string(cgi::kResultUnsupported) + "</result>"), std::string::npos);
        std::string device = cgiAnswer(r, kMsgDevInfo, 0);
        EXPECT_NE(device.find("<productName>" + config.model + "</productName>"), std::string::npos) << device;
        EXPECT_NE(device.find("<serialNo>" + config.deviceId + "</serialNo>"), std::string::npos) << device;
        EXPECT_NE(device.find("<firmwareVer>1.0.0.1</firmwareVer>"), std::string::npos) << device;
        EXPECT_NE(cgiAnswer(r, kMsgProductInfo, 0).find("<ptFlag>" + std::to_string(ptFlag) + "</ptFlag>"), std::string::npos);

        std::vector<std::string> moves;
        for (auto& entry : camera->OnvifLog())
            if (entry.rfind("ContinuousMove", 0) == 0 || entry == "Stop")
                moves.push_back(entry);
        if (ptFlag)
            EXPECT_EQ(moves, (std::vector<std::string> { "ContinuousMove -0.50 0.50", "Stop", "ContinuousMove 0.50 0.00" }));
        else
            EXPECT_TRUE(moves.empty()) << "a camera without a PTZ service was asked to move";

        // The control's own CGI over HTTP to the web port is answered the same
        // way, with the account checked as our camera checks it.
        auto http = [&](const std::string& password, const char* command) {
            KzHandle parser = kz_create_HttpParser();
            std::string path = std::string(cgi::kPath) + "?usr=admin&pwd=" + password + "&cmd=" + command;
            kz_set_httpRequest(parser, path.c_str(), "GET", "127.0.0.1", 0, 0);
            kz_create_HttpSocket(parser);
            std::string body;
            if (kz_httpConnect(parser, "127.0.0.1", camera->WebPort()) == 0 && kz_httpRequest(parser) == 0 && kz_httpResponse(parser, 300) == 200)
                body = kz_GetContentData(parser);
            kz_closeHttpSocket(parser);
            kz_close_HttpParser(parser);
            return body;
        };
        std::string product = http("s3cret%26%3C", cgi::kGetProductAllInfo);
        EXPECT_NE(product.find("<result>0</result>"), std::string::npos) << product;
        EXPECT_NE(product.find("<modelName>" + config.model + "</modelName>"), std::string::npos) << product;
        EXPECT_NE(http("wrong", cgi::kGetDevInfo).find("<result>" + std::to_string(cgi::kResultBadAccount) + "</result>"), std::string::npos);
        kz_close_ctrl_road(h);
    }
}
