#include "sim/ReplayServer.h"

#include "sim/AudioCoder.h"
#include "sim/OnvifRecordings.h"
#include "sim/RtspServer.h"
#include "sim/VideoEncoder.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
extern "C" {
#include <gst/rtsp-server/rtsp-onvif-media-factory.h>
#include <gst/rtsp-server/rtsp-onvif-media.h>
}

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

namespace {

constexpr std::uint64_t kNsPerSecond = 1000000000;
// Seconds from 1900 (the clock ranges' and NTP's epoch) to 1970.
constexpr std::uint64_t kEpoch1900To1970 = 2208988800ULL;
constexpr auto kFlushWait = std::chrono::milliseconds(20);
constexpr auto kReadAhead = std::chrono::milliseconds(300);
constexpr int kToneAmplitude = 8000;

// One session's recording, read top to bottom: the pattern's H.264 and the
// tone as G.711 mu-law, each from a seekable appsrc, payloaded, with
// ONVIF's RTP header extension. (The RTSP server looks for a "pt" property
// on pay0 and pay1 and warns that these elements have none; the SDP takes
// the payload type from the caps.)
constexpr const char* kReplayLaunch =
    "( appsrc name=replay format=time stream-type=seekable block=true caps=video/x-h264,stream-format=byte-stream,alignment=au"
    " ! h264parse ! rtph264pay pt=96 config-interval=-1 ! rtponviftimestamp name=pay0 ntp-offset=0 set-e-bit=true set-t-bit=true"
    "  appsrc name=replaysound format=time stream-type=seekable block=true caps=audio/x-mulaw,rate=8000,channels=1"
    " ! rtppcmupay pt=0 ! rtponviftimestamp name=pay1 ntp-offset=0 set-e-bit=true set-t-bit=true )";

// What one appsrc's units are made of: the recording's frames, or its sound
// in blocks of the tone.
class Units {
public:
    virtual ~Units() = default;
    // A seek starts the coding afresh (a key frame, a new tone block).
    virtual void Restart() = 0;
    virtual bool Make(std::uint32_t number, std::vector<std::uint8_t>& data, bool& key) = 0;
};

class FrameUnits : public Units {
public:
    explicit FrameUnits(const VideoSettings& video) : m_video(video) { }
    void Restart() override { m_encoder = VideoEncoder::Create(m_video); }
    bool Make(std::uint32_t number, std::vector<std::uint8_t>& data, bool& key) override
    {
        EncodedFrame encoded;
        if (!m_encoder || !m_encoder->Encode(number, encoded))
            return false;
        data.swap(encoded.data);
        key = encoded.key;
        return true;
    }

private:
    VideoSettings m_video;
    std::unique_ptr<VideoEncoder> m_encoder;
};

class SoundUnits : public Units {
public:
    explicit SoundUnits(int hz) : m_hz(hz) { }
    void Restart() override { m_tone = std::make_unique<ToneCoder>(kz::kAudioPcm, m_hz, kToneAmplitude); }
    bool Make(std::uint32_t, std::vector<std::uint8_t>& data, bool& key) override
    {
        const auto pcm = m_tone->NextBlock();
        data.resize(pcm.size() / 2);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = MuLawEncode(static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
        key = true;
        return true;
    }
    std::uint64_t BlockNs() const { return static_cast<std::uint64_t>(BlockSamples(kz::kAudioPcm)) * kNsPerSecond / kSampleRate; }

private:
    int m_hz;
    std::unique_ptr<ToneCoder> m_tone;
};

// What one appsrc's feeder and its seeks share.
struct Feed {
    Camera::State* state = nullptr;
    const Recording* recording = nullptr;
    std::uint64_t start1900Ns = 0; // the recording's start on the clock ranges' scale
    std::uint64_t unitNs = 0;      // a frame's or a sound block's time
    std::unique_ptr<Units> units;  // the feeder's own

    std::mutex mutex; // guards the fields below
    std::condition_variable changed;
    int generation = 0;       // one more at every seek
    std::uint32_t frame = 0;  // the next frame to push
    std::uint32_t firstFrame = 0; // the seek's first frame
    std::uint64_t basePts = 0;    // its time, as the seek asked
    bool gone = false;            // the media was unprepared
};

std::uint32_t totalUnits(const Feed& feed)
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(feed.recording->seconds) * kNsPerSecond / feed.unitNs);
}

// A seek in the appsrc: `offset` is a clock time (nanoseconds since 1900)
// or, before any clock range, the recording's own time.
gboolean onSeek(GstAppSrc*, guint64 offset, gpointer data)
{
    auto* feed = static_cast<Feed*>(data);
    const std::uint64_t t = offset >= feed->start1900Ns ? offset - feed->start1900Ns : offset;
    const std::uint64_t length = static_cast<std::uint64_t>(feed->recording->seconds) * kNsPerSecond;
    if (t >= length)
        return FALSE;
    std::lock_guard lock(feed->mutex);
    ++feed->generation;
    feed->frame = feed->firstFrame = static_cast<std::uint32_t>(t / feed->unitNs);
    feed->basePts = offset;
    feed->changed.notify_all();
    return TRUE;
}

// Pushes the recording's units from the last seek on; at its end the feed
// waits for the next seek. (No EOS: one sent just as a seek arrives would
// end the stream the seek starts.)
void run(std::shared_ptr<Feed> feed, GstAppSrc* source)
{
    const std::uint64_t frameNs = feed->unitNs;
    int encoderGeneration = -1;
    auto generationStart = std::chrono::steady_clock::now();
    while (!feed->state->stopping.load()) {
        std::unique_lock lock(feed->mutex);
        if (feed->gone)
            break;
        const int generation = feed->generation;
        const std::uint32_t number = feed->frame;
        if (number >= totalUnits(*feed)) {
            feed->changed.wait_for(lock, kFlushWait);
            continue;
        }
        const std::uint64_t pts = feed->basePts + (number - feed->firstFrame) * frameNs;
        if (generation != encoderGeneration) {
            feed->units->Restart(); // a seek starts at a key frame
            encoderGeneration = generation;
            generationStart = std::chrono::steady_clock::now();
        }
        // Read from the recording at playing speed, a little ahead.
        const auto due = generationStart + std::chrono::nanoseconds((number - feed->firstFrame) * frameNs) - kReadAhead;
        if (std::chrono::steady_clock::now() < due) {
            feed->changed.wait_until(lock, due);
            continue;
        }
        lock.unlock();
        std::vector<std::uint8_t> data;
        bool key = false;
        if (!feed->units->Make(number, data, key))
            break;
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, data.size(), nullptr);
        gst_buffer_fill(buffer, 0, data.data(), data.size());
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = frameNs;
        if (!key)
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
        lock.lock();
        if (feed->generation != generation) {
            gst_buffer_unref(buffer); // a seek came while it was made
            continue;
        }
        lock.unlock();
        GstFlowReturn pushed = gst_app_src_push_buffer(source, buffer);
        lock.lock();
        if (pushed == GST_FLOW_OK && feed->generation == generation)
            feed->frame = number + 1;
        else if (pushed != GST_FLOW_OK)
            feed->changed.wait_for(lock, kFlushWait); // a seek flushes
    }
}

struct MountContext {
    Camera::State* state;
    StoredRecording stored;
};

using Feeds = std::vector<std::shared_ptr<Feed>>;

void onUnprepared(GstRTSPMedia*, gpointer data)
{
    for (auto& feed : *static_cast<Feeds*>(data)) {
        std::lock_guard lock(feed->mutex);
        feed->gone = true;
        feed->changed.notify_all();
    }
}

void onReplayConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer data)
{
    auto* context = static_cast<MountContext*>(data);
    const Recording& recording = *context->stored.recording;
    GstElement* element = gst_rtsp_media_get_element(media);
    Feeds feeds;
    std::vector<GstElement*> sources;
    auto sound = std::make_unique<SoundUnits>(context->state->config.toneHz);
    const std::uint64_t unitNs[] = { kNsPerSecond / static_cast<std::uint64_t>(recording.video.fps), sound->BlockNs() };
    std::unique_ptr<Units> units[] = { std::make_unique<FrameUnits>(recording.video), std::move(sound) };
    const char* const names[] = { "replay", "replaysound" };
    for (std::size_t i = 0; i < std::size(names); ++i) {
        GstElement* source = gst_bin_get_by_name_recurse_up(GST_BIN(element), names[i]);
        if (!source)
            continue;
        auto feed = std::make_shared<Feed>();
        feed->units = std::move(units[i]);
        feed->state = context->state;
        feed->recording = &recording;
        feed->start1900Ns = (static_cast<std::uint64_t>(context->stored.start) + kEpoch1900To1970) * kNsPerSecond;
        feed->unitNs = unitNs[i];
        GstAppSrcCallbacks callbacks {};
        callbacks.seek_data = &onSeek;
        gst_app_src_set_callbacks(GST_APP_SRC(source), &callbacks, feed.get(), nullptr);
        feeds.push_back(feed);
        sources.push_back(source);
    }
    gst_object_unref(element);
    // The signal's data keeps the feeds while the media lives.
    auto* held = new Feeds(feeds);
    g_signal_connect_data(media, "unprepared", G_CALLBACK(onUnprepared), held, [](gpointer p, GClosure*) { delete static_cast<Feeds*>(p); },
        GConnectFlags(0));
    context->state->Reap();
    for (std::size_t i = 0; i < feeds.size(); ++i)
        context->state->Spawn([feed = feeds[i], source = sources[i]] {
            run(feed, GST_APP_SRC(source));
            gst_object_unref(source);
        });
}

// "clock=20260101T000002.5Z-..." as UTC seconds; false for another range.
bool clockStart(const char* range, double& utc)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
    if (!range || std::sscanf(range, "clock=%4d%2d%2dT%2d%2d%lfZ", &year, &month, &day, &hour, &minute, &second) != 6)
        return false;
    std::tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    utc = static_cast<double>(timegm(&parts)) + second;
    return true;
}

bool isReplay(GstRTSPContext* ctx)
{
    return ctx->uri && ctx->request && std::strncmp(ctx->uri->abspath, kReplayMountPrefix, std::strlen(kReplayMountPrefix)) == 0;
}

// Logs a replay request (Camera::OnvifLog): "PLAY <range> <require>",
// "PAUSE <require>".
void logRequest(Camera::State& state, GstRTSPContext* ctx, const char* method)
{
    gchar* range = nullptr;
    gchar* require = nullptr;
    gst_rtsp_message_get_header(ctx->request, GST_RTSP_HDR_RANGE, &range, 0);
    gst_rtsp_message_get_header(ctx->request, GST_RTSP_HDR_REQUIRE, &require, 0);
    std::string entry = std::string(method) + (range ? std::string(" ") + range : std::string()) + " " + (require ? require : "-");
    std::lock_guard lock(state.mutex);
    state.onvifLog.push_back(entry);
    state.Notify();
}

GstRTSPStatusCode onPrePause(GstRTSPClient*, GstRTSPContext* ctx, gpointer data)
{
    if (isReplay(ctx))
        logRequest(*static_cast<Camera::State*>(data), ctx, "PAUSE");
    return GST_RTSP_STS_OK;
}

GstRTSPStatusCode onPrePlay(GstRTSPClient*, GstRTSPContext* ctx, gpointer data)
{
    auto* state = static_cast<Camera::State*>(data);
    if (!isReplay(ctx))
        return GST_RTSP_STS_OK;
    logRequest(*state, ctx, "PLAY");
    gchar* range = nullptr;
    double at = 0;
    if (gst_rtsp_message_get_header(ctx->request, GST_RTSP_HDR_RANGE, &range, 0) != GST_RTSP_OK || !clockStart(range, at))
        return GST_RTSP_STS_OK;
    const std::string token = ctx->uri->abspath + std::strlen(kReplayMountPrefix);
    for (const auto& stored : StoredRecordings(state->config))
        if (stored.token == token)
            return at >= static_cast<double>(stored.start) && at < static_cast<double>(stored.start + stored.recording->seconds)
                ? GST_RTSP_STS_OK
                : GST_RTSP_STS_INVALID_RANGE;
    return GST_RTSP_STS_NOT_FOUND;
}

void onClient(GstRTSPServer*, GstRTSPClient* client, gpointer data)
{
    g_signal_connect(client, "pre-play-request", G_CALLBACK(onPrePlay), data);
    g_signal_connect(client, "pre-pause-request", G_CALLBACK(onPrePause), data);
}

}

void AddReplayMounts(Camera::State& state, _GstRTSPServer* server, _GstRTSPMountPoints* mounts, const char* role)
{
    // Each factory's media-configure handler owns its context.
    for (const auto& stored : StoredRecordings(state.config)) {
        GstRTSPMediaFactory* factory = gst_rtsp_onvif_media_factory_new();
        gst_rtsp_media_factory_set_media_gtype(factory, GST_TYPE_RTSP_ONVIF_MEDIA);
        gst_rtsp_onvif_media_factory_set_replay_support(GST_RTSP_ONVIF_MEDIA_FACTORY(factory), TRUE);
        gst_rtsp_media_factory_set_launch(factory, kReplayLaunch);
        gst_rtsp_media_factory_set_shared(factory, FALSE);
        gst_rtsp_media_factory_add_role(factory, role, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
            GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
        auto* context = new MountContext { &state, stored };
        g_signal_connect_data(factory, "media-configure", G_CALLBACK(onReplayConfigure), context,
            [](gpointer p, GClosure*) { delete static_cast<MountContext*>(p); }, GConnectFlags(0));
        gst_rtsp_mount_points_add_factory(mounts, (std::string(kReplayMountPrefix) + stored.token).c_str(), factory);
    }
    g_signal_connect(server, "client-connected", G_CALLBACK(onClient), &state);
}

}
