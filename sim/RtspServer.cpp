#include "sim/RtspServer.h"

#include "sim/AudioCoder.h"
#include "sim/OnvifServer.h"
#include "sim/ReplayServer.h"
#include "sim/Timing.h"
#include "sim/VideoEncoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
// These two headers of 1.22 lack their C linkage block.
extern "C" {
#include <gst/rtsp-server/rtsp-onvif-media-factory.h>
#include <gst/rtsp-server/rtsp-onvif-media.h>
#include <gst/rtsp-server/rtsp-onvif-server.h>
}

#include <algorithm>
#include <mutex>
#include <thread>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kViewerRole = "viewer";
constexpr int kToneAmplitude = 8000;
constexpr std::uint64_t kNsPerSecond = 1000000000;
constexpr std::uint64_t kNsPerMs = 1000000;
constexpr auto kMaxBehind = std::chrono::seconds(1); // further behind than this, the feeder skips ahead
constexpr int kMuLawBias = 0x84;
constexpr int kMuLawClip = 32635;

// One session's pipeline, read top to bottom: the pattern's H.264, H.265 or
// Motion-JPEG
// and the tone, each from an appsrc with its caps fixed, to its payloader.
// The tone enters as mu-law (coded here) or as PCM that GStreamer's and
// FFmpeg's encoders code, so that the client is checked against coders we
// did not write.
constexpr const char* kVideoH264 =
    "appsrc name=video is-live=true format=time caps=video/x-h264,stream-format=byte-stream,alignment=au"
    " ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1";
constexpr const char* kVideoH265 =
    "appsrc name=video is-live=true format=time caps=video/x-h265,stream-format=byte-stream,alignment=au"
    " ! h265parse ! rtph265pay name=pay0 pt=96 config-interval=-1";
// Motion-JPEG as RTP's JPEG payload (baseline pictures, sizes in steps of 8).
constexpr const char* kVideoJpeg = "appsrc name=video is-live=true format=time caps=image/jpeg ! jpegparse ! rtpjpegpay name=pay0 pt=26";
constexpr const char* kMuLawSource = "appsrc name=audio is-live=true format=time caps=audio/x-mulaw,rate=8000,channels=1";
constexpr const char* kPcmSource =
    "appsrc name=audio is-live=true format=time caps=audio/x-raw,format=S16LE,rate=8000,channels=1,layout=interleaved";

struct SoundLaunch {
    Sound sound;
    const char* source;
    const char* coder; // from the source to the payloader pay1
};
constexpr SoundLaunch kSounds[] = {
    { Sound::MuLaw, kMuLawSource, "rtppcmupay name=pay1 pt=0" },
    { Sound::ALaw, kPcmSource, "alawenc ! rtppcmapay name=pay1 pt=8" },
    // FFmpeg's G.726 coder writes AAL2's order; the payloader turns it
    // into RTP's unless told to leave it (force-aal2).
    { Sound::G726, kPcmSource, "avenc_g726 bitrate=32000 ! rtpg726pay name=pay1 pt=97 force-aal2=false" },
    { Sound::G726Aal2, kPcmSource, "avenc_g726 bitrate=32000 ! rtpg726pay name=pay1 pt=97 force-aal2=true" },
    { Sound::Aac, kPcmSource, "audioresample ! audio/x-raw,rate=16000 ! audioconvert ! avenc_aac ! rtpmp4gpay name=pay1 pt=97" },
};

std::string launchOf(const CameraConfig& config)
{
    const SoundLaunch* sound = &kSounds[0];
    for (const auto& s : kSounds)
        if (s.sound == config.sound)
            sound = &s;
    const char* video = config.video.codec == Codec::H265 ? kVideoH265 : config.video.codec == Codec::Mjpeg ? kVideoJpeg : kVideoH264;
    return std::string("( ") + video + "  " + sound->source + " ! " + sound->coder + " )";
}

// The ONVIF back channel a client may ask for: its G.711 voice, counted by
// the camera (Camera::TalkBlocks, by RTP payload size) and decoded into
// Camera::TalkSound.
constexpr const char* kBackchannelMuLaw =
    "( capsfilter name=depay_backchannel caps=\"application/x-rtp,media=audio,payload=0,clock-rate=8000,encoding-name=PCMU\""
    " ! rtppcmudepay ! appsink name=talk async=false sync=false )";
constexpr const char* kBackchannelALaw =
    "( capsfilter name=depay_backchannel caps=\"application/x-rtp,media=audio,payload=8,clock-rate=8000,encoding-name=PCMA\""
    " ! rtppcmadepay ! appsink name=talk async=false sync=false )";

// G.711 back to 16-bit samples (ITU-T G.711's expansion).
std::int16_t muLawDecode(std::uint8_t code)
{
    int u = ~code & 0xFF;
    int t = (((u & 0x0F) << 3) + kMuLawBias) << ((u & 0x70) >> 4);
    return static_cast<std::int16_t>((u & 0x80) ? kMuLawBias - t : t - kMuLawBias);
}
std::int16_t aLawDecode(std::uint8_t code)
{
    int a = code ^ 0x55;
    int t = (a & 0x0F) << 4;
    int segment = (a & 0x70) >> 4;
    t = segment == 0 ? t + 8 : segment == 1 ? t + 0x108 : (t + 0x108) << (segment - 1);
    return static_cast<std::int16_t>((a & 0x80) ? t : -t);
}

void initGstreamer()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstBuffer* bufferOf(const std::uint8_t* data, std::size_t size, std::uint64_t pts, std::uint64_t duration, bool key)
{
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_fill(buffer, 0, data, size);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = duration;
    if (!key)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    return buffer;
}

// Pushes the pattern and the tone into one session's appsrcs at real-time
// pace until the session's pipeline stops taking them or the camera stops.
void feed(Camera::State& state, GstAppSrc* video, GstAppSrc* audio)
{
    VideoSettings settings;
    {
        std::lock_guard lock(state.mutex);
        settings = state.live;
    }
    // The RTSP pipeline carries the camera's own codec.
    settings.codec = state.config.video.codec;
    auto encoder = VideoEncoder::Create(settings);
    ToneCoder tone(kz::kAudioPcm, state.config.toneHz, kToneAmplitude);
    const bool muLaw = state.config.sound == Sound::MuLaw;
    if (!encoder)
        return;
    const std::uint64_t frameNs = kNsPerSecond / static_cast<std::uint64_t>(settings.fps);
    const std::uint64_t blockNs = static_cast<std::uint64_t>(tone.BlockMs()) * kNsPerMs;
    auto start = Clock::now();
    std::uint64_t videoAt = 0, audioAt = 0; // schedule, in ns from the start
    std::uint32_t frame = 0;
    while (!state.stopping.load()) {
        std::uint64_t next = std::min(videoAt, audioAt);
        auto due = start + std::chrono::nanoseconds(next);
        if (!state.SleepUnlessStopped(due))
            break;
        auto now = Clock::now();
        if (now - due > kMaxBehind) {
            // Far behind (a busy machine): skip ahead rather than burst.
            auto skip = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - due).count());
            videoAt += skip;
            audioAt += skip;
        }
        bool stalled;
        {
            std::lock_guard lock(state.mutex);
            stalled = now < state.stallUntil;
        }
        if (videoAt <= next) {
            EncodedFrame encoded;
            if (!stalled && encoder->Encode(frame, encoded)) {
                if (gst_app_src_push_buffer(video, bufferOf(encoded.data.data(), encoded.data.size(), videoAt, frameNs, encoded.key)) != GST_FLOW_OK)
                    break;
                ++state.videoFramesSent;
            }
            ++frame;
            videoAt += frameNs;
        }
        if (audioAt <= next) {
            auto block = tone.NextBlock();
            if (muLaw) {
                std::vector<std::uint8_t> law(block.size() / 2);
                for (std::size_t i = 0; i < law.size(); ++i)
                    law[i] = MuLawEncode(static_cast<std::int16_t>(block[2 * i] | (block[2 * i + 1] << 8)));
                block.swap(law);
            }
            if (!stalled && gst_app_src_push_buffer(audio, bufferOf(block.data(), block.size(), audioAt, blockNs, true)) != GST_FLOW_OK)
                break;
            audioAt += blockNs;
        }
    }
}

GstFlowReturn onTalk(GstAppSink* sink, gpointer data)
{
    auto* state = static_cast<Camera::State*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const bool aLaw = state->config.sound == Sound::ALaw;
        std::lock_guard lock(state->mutex);
        ++state->talkBlocks[static_cast<int>(map.size)];
        auto& sound = state->talkSound;
        for (std::size_t i = 0; i < map.size; ++i)
            sound.push_back(aLaw ? aLawDecode(map.data[i]) : muLawDecode(map.data[i]));
        if (sound.size() > kMaxTalkSoundSamples)
            sound.erase(sound.begin(), sound.end() - static_cast<std::ptrdiff_t>(kMaxTalkSoundSamples));
        gst_buffer_unmap(buffer, &map);
        state->Notify();
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void onMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer data)
{
    auto* state = static_cast<Camera::State*>(data);
    GstElement* element = gst_rtsp_media_get_element(media);
    GstElement* video = gst_bin_get_by_name_recurse_up(GST_BIN(element), "video");
    GstElement* audio = gst_bin_get_by_name_recurse_up(GST_BIN(element), "audio");
    if (GstElement* talk = gst_bin_get_by_name(GST_BIN(element), "talk")) {
        GstAppSinkCallbacks callbacks {};
        callbacks.new_sample = &onTalk;
        gst_app_sink_set_callbacks(GST_APP_SINK(talk), &callbacks, state, nullptr);
        gst_object_unref(talk);
    }
    gst_object_unref(element);
    if (!video || !audio) {
        if (video)
            gst_object_unref(video);
        if (audio)
            gst_object_unref(audio);
        return;
    }
    state->Reap();
    state->Spawn([state, video, audio] {
        feed(*state, GST_APP_SRC(video), GST_APP_SRC(audio));
        gst_object_unref(video);
        gst_object_unref(audio);
    });
}

GstRTSPFilterResult dropClient(GstRTSPServer*, GstRTSPClient*, gpointer)
{
    return GST_RTSP_FILTER_REMOVE;
}

}

std::uint8_t MuLawEncode(std::int16_t sample)
{
    int s = sample;
    int sign = s < 0 ? 0x80 : 0;
    if (sign)
        s = -s;
    s = std::min(s, kMuLawClip) + kMuLawBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    int mantissa = (s >> (exponent + 3)) & 0x0F;
    return static_cast<std::uint8_t>(~(sign | (exponent << 4) | mantissa));
}

struct RtspServer::Impl {
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GstRTSPServer* server = nullptr;
    guint source = 0;
    std::thread thread;
};

std::unique_ptr<RtspServer> RtspServer::Start(Camera::State& state)
{
    initGstreamer();
    const CameraConfig& config = state.config;
    std::unique_ptr<RtspServer> rtsp(new RtspServer);
    rtsp->m_impl = std::make_unique<Impl>();
    Impl& impl = *rtsp->m_impl;
    impl.server = gst_rtsp_onvif_server_new();
    gst_rtsp_server_set_address(impl.server, config.address.c_str());
    gst_rtsp_server_set_service(impl.server, std::to_string(std::max(config.port, 0)).c_str());

    GstRTSPAuth* auth = gst_rtsp_auth_new();
    gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
    for (const auto& account : config.accounts) {
        GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kViewerRole, nullptr);
        gst_rtsp_auth_add_digest(auth, account.user.c_str(), account.password.c_str(), token);
        gst_rtsp_token_unref(token);
    }
    gst_rtsp_server_set_auth(impl.server, auth);
    g_object_unref(auth);

    // The ONVIF factory makes ONVIF medias only when told their type.
    GstRTSPMediaFactory* factory = gst_rtsp_onvif_media_factory_new();
    gst_rtsp_media_factory_set_media_gtype(factory, GST_TYPE_RTSP_ONVIF_MEDIA);
    gst_rtsp_media_factory_set_launch(factory, launchOf(config).c_str());
    gst_rtsp_onvif_media_factory_set_backchannel_launch(
        GST_RTSP_ONVIF_MEDIA_FACTORY(factory), config.sound == Sound::ALaw ? kBackchannelALaw : kBackchannelMuLaw);
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    gst_rtsp_media_factory_add_role(factory, kViewerRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
        GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
    g_signal_connect(factory, "media-configure", G_CALLBACK(onMediaConfigure), &state);
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(impl.server);
    gst_rtsp_mount_points_add_factory(mounts, kRtspMountPath, factory);
    AddReplayMounts(state, impl.server, mounts, kViewerRole);
    g_object_unref(mounts);

    impl.context = g_main_context_new();
    impl.source = gst_rtsp_server_attach(impl.server, impl.context);
    if (impl.source == 0)
        return nullptr;
    state.port = gst_rtsp_server_get_bound_port(impl.server);
    impl.loop = g_main_loop_new(impl.context, FALSE);
    impl.thread = std::thread([loop = impl.loop] { g_main_loop_run(loop); });
    return rtsp;
}

void RtspServer::Stop()
{
    if (!m_impl || !m_impl->thread.joinable())
        return;
    gst_rtsp_server_client_filter(m_impl->server, dropClient, nullptr);
    // The quit goes through the loop's own context: a quit called before the
    // thread has entered g_main_loop_run would be lost, and the join would
    // wait for ever.
    GSource* quit = g_idle_source_new();
    g_source_set_callback(
        quit,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        m_impl->loop, nullptr);
    g_source_attach(quit, m_impl->context);
    g_source_unref(quit);
    m_impl->thread.join();
}

RtspServer::~RtspServer()
{
    if (!m_impl)
        return;
    Stop();
    if (m_impl->source) {
        if (GSource* source = g_main_context_find_source_by_id(m_impl->context, m_impl->source))
            g_source_destroy(source);
    }
    if (m_impl->loop)
        g_main_loop_unref(m_impl->loop);
    if (m_impl->server)
        g_object_unref(m_impl->server);
    if (m_impl->context)
        g_main_context_unref(m_impl->context);
}

}
