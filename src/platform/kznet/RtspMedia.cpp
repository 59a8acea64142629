// A standard camera's RTSP stream as a media channel. A stream of H.264 with
// G.711 sound (or none) is read by the library's own RTSP client (Rtsp.h):
// the cheap path for the common camera. For any other, GStreamer's rtspsrc
// fetches it with the login's account; each RTP stream it announces gets a
// branch (depayloader, parser or decoder, appsink) chosen by its encoding;
// the appsinks queue their samples, and the channel's worker thread turns
// them into the frame records our camera's channels deliver: H.264 access
// and H.265 access units in Annex B with the parameter sets before every
// key frame, Motion-JPEG pictures, and sound (G.711, G.726 in either bit
// order, AAC) as 8 kHz 16-bit PCM in 960-byte blocks. A stream whose SDP
// offers nothing the channel plays ends at once as one that cannot be
// opened.
// A stream that ends, fails or stays silent for the link time-out is
// reported once as link lost, as ours is. Talk blocks, in whichever coding
// the login chose, are decoded to PCM and go as G.711 RTP packets (mu-law,
// or A-law where that is all the camera takes) to the ONVIF back channel of
// a second RTSP session.
// GStreamer's types stay here.

#include "kznet/Library.h"
#include "kznet/Onvif.h"
#include "kznet/Rtsp.h"
#include "kznet/SoundCodings.h"

#include <gst/app/gstappsink.h>
#include <gst/rtp/gstrtpbuffer.h>
#include <gst/gst.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace kz {

namespace {

constexpr int kRtspLatencyMs = 100;
constexpr int kWaitSliceMs = 100;               // the worker looks at the bus and the clock this often
constexpr std::size_t kMaxQueuedSamples = 256;  // past this the newest video waits for the next key frame
constexpr std::size_t kPcmBlockBytes = kTalkBlockPcm; // sound goes out in the blocks our camera sends
// A login that asked for IMA ADPCM gets it, as from our camera: 320 samples
// coded into each 160-byte block (PCM is what the other codings get, the
// device record saying so for G.726).
constexpr std::size_t kAdpcmBlockSamples = kTalkBlockAdpcm * 2;
constexpr std::size_t kAdpcmPcmBytes = kAdpcmBlockSamples * 2;
constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kNsPerSecond = 1000000000;
constexpr int kBitRateWindowMs = 1000;
constexpr int kRtspConnectTimeoutMs = 2000;
constexpr int kRtspAnswerTimeoutMs = 4000;
constexpr int kRtspOk = 200;
constexpr int kDefaultSessionTimeoutS = 60; // RTSP's own default
constexpr int kMinKeepAliveS = 5;
constexpr int kVideoChannel = 0; // the interleaved channels asked for; the camera's answer decides
constexpr int kAudioChannel = 2;
constexpr std::uint8_t kStartCode[] = { 0, 0, 0, 1 };
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalAccessUnitDelimiter = 9;
constexpr std::size_t kDelimiterBytes = 2; // header and one byte
// H.265: the type is bits 1 to 6 of a two-byte header.
constexpr int kHevcNalTypeShift = 1;
constexpr std::uint8_t kHevcNalTypeMask = 0x3F;
constexpr std::uint8_t kHevcAccessUnitDelimiter = 35;
constexpr std::size_t kHevcDelimiterBytes = 3;

// The access unit without the delimiter the parser puts first: our records
// begin with the unit's first real NAL (the parameter sets on a key frame).
// The delimiter is left out only when a four-byte start code follows it.
void skipDelimiter(int kind, const std::uint8_t*& data, std::size_t& size)
{
    constexpr std::size_t kCode = sizeof kStartCode;
    const bool hevc = kind == kFrameH265;
    const std::size_t skip = kCode + (hevc ? kHevcDelimiterBytes : kDelimiterBytes);
    if (size <= skip + kCode || std::memcmp(data, kStartCode, kCode) != 0 || std::memcmp(data + skip, kStartCode, kCode) != 0)
        return;
    const bool delimiter = hevc ? ((data[kCode] >> kHevcNalTypeShift) & kHevcNalTypeMask) == kHevcAccessUnitDelimiter
                                : (data[kCode] & kNalTypeMask) == kNalAccessUnitDelimiter;
    if (!delimiter)
        return;
    data += skip;
    size -= skip;
}

enum class Track { Video, Audio, Ignored };
// How a sound branch's samples arrive: as PCM decoded by GStreamer, or as
// the RTP packets of G.726, decoded here once the bit order is known.
enum class Sound { None, Pcm, G726Packets };

// The branch of one RTP stream, as a gst-launch description whose last
// element is the appsink "sink" (with its caps fixed just before it).
struct Branch {
    const char* encoding; // the SDP's encoding name; for G.726 its family
    Track track;
    int frameKind;
    Sound sound;
    const char* description;
};

// What follows a sound branch's decoder: our records' PCM.
constexpr const char* kPcmTail = " ! audioconvert ! audioresample ! audio/x-raw,format=S16LE,rate=8000,channels=1,layout=interleaved ! appsink name=sink";

constexpr Branch kBranches[] = {
    { "H264", Track::Video, kFrameH264, Sound::None,
        "rtph264depay name=depay ! h264parse name=parse config-interval=-1"
        " ! video/x-h264,stream-format=byte-stream,alignment=au ! appsink name=sink" },
    { "H265", Track::Video, kFrameH265, Sound::None,
        "rtph265depay name=depay ! h265parse name=parse config-interval=-1"
        " ! video/x-h265,stream-format=byte-stream,alignment=au ! appsink name=sink" },
    { "JPEG", Track::Video, kFrameMjpeg, Sound::None, "rtpjpegdepay name=depay ! image/jpeg ! appsink name=sink" },
    { "PCMU", Track::Audio, kFrameAudio, Sound::Pcm, "rtppcmudepay name=depay ! mulawdec name=decode" },
    { "PCMA", Track::Audio, kFrameAudio, Sound::Pcm, "rtppcmadepay name=depay ! alawdec name=decode" },
    // AAC at any rate and channel count, through FFmpeg's decoder.
    { "MPEG4-GENERIC", Track::Audio, kFrameAudio, Sound::Pcm, "rtpmp4gdepay name=depay ! aacparse ! avdec_aac name=decode" },
    // The RTP packets themselves: the payload is G.726 codes (G726Stream).
    { "G726", Track::Audio, kFrameAudio, Sound::G726Packets, "appsink name=sink" },
};
// A stream the channel does not play still has to be taken off rtspsrc.
constexpr const char* kIgnoredBranch = "fakesink name=sink sync=false async=false";
// The user's voice on the ONVIF back channel: G.711 at 8000 Hz.
constexpr int kVoiceClockRate = 8000;

void initGstreamer()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

int lostReason(GstMessage* message, bool hadData)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return kLostClosed;
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    // A refused account ends the channel as our camera's refusal does (it
    // closes); a camera that cannot be reached is reported as such.
    bool unreachable = !hadData && error && error->domain == GST_RESOURCE_ERROR && error->code != GST_RESOURCE_ERROR_NOT_AUTHORIZED;
    g_clear_error(&error);
    return unreachable ? kLostUnreachable : kLostClosed;
}

class RtspMedia : public Channel, public std::enable_shared_from_this<RtspMedia> {
public:
    RtspMedia(std::string url, std::shared_ptr<onvif::Session> session, const wire::OpenRequest& request, KzStatusCallback status,
        KzFrameCallback frame, void* user)
        : m_url(std::move(url))
        , m_session(std::move(session))
        , m_request(request)
        , m_id(static_cast<std::int16_t>(request.tag & kTagIdMask))
        , m_status(status)
        , m_frame(frame)
        , m_user(user)
        , m_talkDecoder(request.streamType)
    {
    }
    ~RtspMedia() override
    {
        stopPipeline();
        stopTalk();
    }

    bool Start()
    {
        auto self = shared_from_this();
        m_thread = sys::Thread::Start("kz_rtsp", [self] { self->Run(); });
        return m_thread != nullptr;
    }

    int Control(const wire::MediaControl& control) override
    {
        if (m_closing.load())
            return -1;
        bool audio = control.a == kMediaAudio || (control.a >= kMediaAudioVariant9 && control.a <= kMediaAudioVariant12);
        if (control.op == wire::MediaOp::Start && audio)
            m_audioStarted = true;
        else if (control.op == wire::MediaOp::Stop && audio)
            m_audioStarted = false;
        else if (control.op == wire::MediaOp::Start && control.a == kMediaTalk)
            reportStatus(kStatusTalkStart, kTalkBusy, m_id); // no back channel on this channel
        return 0;
    }

    // The voice goes out on a second RTSP session of its own that asks for
    // the ONVIF back channel, made at the first block, so that a camera
    // without one still streams the picture. Each block, in the login's
    // coding, is decoded to PCM and becomes one RTP packet of the G.711 the
    // back channel takes.
    int Talk(const char* data, int size) override
    {
        if (!data || size <= 0 || static_cast<std::uint32_t>(size) > wire::kMaxTalkBlock)
            return -1;
        std::lock_guard lock(m_talkMutex);
        m_talkSamples.clear();
        // Decoded even while the session is set up, so that the IMA ADPCM
        // state follows every block the control coded.
        if (!m_talkDecoder.Decode(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size), m_talkSamples))
            return -1;
        if (m_closing.load() || (!m_talk && !startTalk()))
            return -1;
        int id = m_backchannel.load();
        if (id < 0)
            return 0; // the session is still being set up: the block is dropped, as a late one would be
        const sound::Voice voice = m_voice.load();
        if (voice == sound::Voice::None)
            return -1;
        if (!m_voiceCaps) {
            m_voiceCaps = gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "audio", "payload", G_TYPE_INT, m_voicePayload.load(),
                "clock-rate", G_TYPE_INT, kVoiceClockRate, "encoding-name", G_TYPE_STRING, voice == sound::Voice::MuLaw ? "PCMU" : "PCMA", nullptr);
            if (!m_voiceCaps)
                return -1;
        }
        const std::size_t samples = m_talkSamples.size();
        GstBuffer* packet = gst_rtp_buffer_new_allocate(static_cast<guint>(samples), 0, 0);
        GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
        if (!gst_rtp_buffer_map(packet, GST_MAP_WRITE, &rtp)) {
            gst_buffer_unref(packet);
            return -1;
        }
        gst_rtp_buffer_set_payload_type(&rtp, static_cast<guint8>(m_voicePayload.load()));
        gst_rtp_buffer_set_seq(&rtp, m_talkSequence++);
        gst_rtp_buffer_set_timestamp(&rtp, m_talkClock);
        gst_rtp_buffer_set_ssrc(&rtp, m_talkSsrc);
        auto* payload = static_cast<std::uint8_t*>(gst_rtp_buffer_get_payload(&rtp));
        for (std::size_t i = 0; i < samples; ++i)
            payload[i] = voice == sound::Voice::MuLaw ? sound::MuLaw(m_talkSamples[i]) : sound::ALaw(m_talkSamples[i]);
        gst_rtp_buffer_unmap(&rtp);
        m_talkClock += static_cast<std::uint32_t>(samples);
        GstSample* sample = gst_sample_new(packet, m_voiceCaps, nullptr, nullptr);
        gst_buffer_unref(packet);
        GstFlowReturn result = GST_FLOW_OK;
        g_signal_emit_by_name(m_talkSource, "push-backchannel-sample", static_cast<guint>(id), sample, &result);
        // rtspsrc 1.22 takes the sample: its push-backchannel-sample unrefs what it is given
        return result == GST_FLOW_OK ? 0 : -1;
    }

    void Close() override
    {
        m_closing = true;
        m_gate.Close();
        {
            std::lock_guard lock(m_queueMutex);
            m_queued.notify_all();
        }
        StopWorker(m_thread);
    }

private:
    struct Item {
        Track track;
        int kind;
        GstSample* sample;
        sound::G726Stream* g726; // G.726 packets: their decoder; otherwise null
    };
    // What an appsink's callback needs; one per branch, at a fixed address.
    struct SinkContext {
        RtspMedia* media = nullptr;
        Track track = Track::Ignored;
        int kind = 0;
        std::unique_ptr<sound::G726Stream> g726; // used by the worker only, through the items
    };
    static constexpr std::size_t kMaxBranches = 8;

    // The pipeline, read top to bottom:
    //   rtspsrc name=source location=URL user-id=U user-pw=P protocols=tcp latency=100
    //   source. ! <the branch of each stream's encoding> ! appsink name=sink
    bool buildPipeline()
    {
        m_pipeline = gst_pipeline_new("rtsp");
        GstElement* source = gst_element_factory_make("rtspsrc", "source");
        if (!m_pipeline || !source) {
            if (source)
                gst_object_unref(source);
            return false;
        }
        g_object_set(source, "location", m_url.c_str(), "latency", kRtspLatencyMs, nullptr);
        gst_util_set_object_arg(G_OBJECT(source), "protocols", "tcp");
        if (!m_request.user.empty()) {
            g_object_set(source, "user-id", m_request.user.c_str(), "user-pw", m_request.password.c_str(), nullptr);
        }
        gst_bin_add(GST_BIN(m_pipeline), source);
        g_signal_connect(source, "pad-added", G_CALLBACK(&RtspMedia::onPadAdded), this);
        g_signal_connect(source, "no-more-pads", G_CALLBACK(&RtspMedia::onNoMorePads), this);
        return true;
    }

    // The talk session: rtspsrc name=talk location=URL backchannel=onvif
    // protocols=tcp, its streams to fakesinks. Called with m_talkMutex held.
    bool startTalk()
    {
        initGstreamer();
        m_talk = gst_pipeline_new("talk");
        m_talkSource = gst_element_factory_make("rtspsrc", "talk");
        if (!m_talk || !m_talkSource || m_url.empty()) {
            if (m_talkSource)
                gst_object_unref(m_talkSource);
            m_talkSource = nullptr;
            stopTalk();
            return false;
        }
        g_object_set(m_talkSource, "location", m_url.c_str(), "latency", kRtspLatencyMs, nullptr);
        gst_util_set_object_arg(G_OBJECT(m_talkSource), "protocols", "tcp");
        gst_util_set_object_arg(G_OBJECT(m_talkSource), "backchannel", "onvif");
        if (!m_request.user.empty())
            g_object_set(m_talkSource, "user-id", m_request.user.c_str(), "user-pw", m_request.password.c_str(), nullptr);
        g_signal_connect(m_talkSource, "select-stream", G_CALLBACK(&RtspMedia::onSelectStream), this);
        g_signal_connect(m_talkSource, "pad-added", G_CALLBACK(&RtspMedia::onTalkPadAdded), this);
        gst_bin_add(GST_BIN(m_talk), m_talkSource);
        m_talkSsrc = g_random_int();
        m_backchannel = -1; // this session's back channel is chosen afresh
        m_voice = sound::Voice::None;
        if (gst_element_set_state(m_talk, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            stopTalk();
            return false;
        }
        return true;
    }

    // Called with m_talkMutex held (or when no other thread can talk).
    void stopTalk()
    {
        if (m_voiceCaps) {
            gst_caps_unref(m_voiceCaps);
            m_voiceCaps = nullptr;
        }
        if (m_talk) {
            gst_element_set_state(m_talk, GST_STATE_NULL);
            gst_object_unref(m_talk);
            m_talk = nullptr;
            m_talkSource = nullptr; // owned by the pipeline
        }
    }

    // rtspsrc asks for each stream of the SDP; one the camera receives
    // (a=sendonly on its side) is a back channel. Of several, mu-law is
    // taken before A-law; one in any other coding is not used.
    static gboolean onSelectStream(GstElement*, guint id, GstCaps* caps, gpointer data)
    {
        auto* media = static_cast<RtspMedia*>(data);
        if (!caps || gst_caps_get_size(caps) == 0)
            return TRUE;
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        if (!gst_structure_has_field(s, "a-sendonly"))
            return TRUE;
        const char* encoding = gst_structure_get_string(s, "encoding-name");
        sound::Voice voice = sound::VoiceOf(encoding ? encoding : "");
        int payload = -1;
        if (voice == sound::Voice::None || !gst_structure_get_int(s, "payload", &payload))
            return TRUE;
        sound::Voice chosen = media->m_voice.load();
        if (chosen == sound::Voice::MuLaw || (chosen == sound::Voice::ALaw && voice == sound::Voice::ALaw))
            return TRUE;
        // The payload type and coding are stored before the id that makes them used.
        media->m_voicePayload = payload;
        media->m_voice = voice;
        media->m_backchannel = static_cast<int>(id);
        return TRUE;
    }

    static void onTalkPadAdded(GstElement* source, GstPad* pad, gpointer)
    {
        // The talk session's picture and sound are not played.
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        if (!sink)
            return;
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        GstObject* bin = gst_element_get_parent(source);
        gst_bin_add(GST_BIN(bin), sink);
        gst_object_unref(bin);
        gst_element_sync_state_with_parent(sink);
        GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
        gst_pad_link(pad, sinkPad);
        gst_object_unref(sinkPad);
    }

    static void onPadAdded(GstElement*, GstPad* pad, gpointer data)
    {
        static_cast<RtspMedia*>(data)->addBranch(pad);
    }

    // Every stream of the SDP has its pad: if none of them is played, the
    // channel ends now as one that cannot be opened, not at the time-out.
    static void onNoMorePads(GstElement*, gpointer data)
    {
        auto* media = static_cast<RtspMedia*>(data);
        std::lock_guard lock(media->m_branchMutex);
        if (!media->m_haveVideo && !media->m_haveAudio) {
            media->m_nothingPlayable = true;
            std::lock_guard queueLock(media->m_queueMutex);
            media->m_queued.notify_all();
        }
    }

    void addBranch(GstPad* pad)
    {
        GstCaps* caps = gst_pad_get_current_caps(pad);
        if (!caps)
            caps = gst_pad_query_caps(pad, nullptr);
        const Branch* branch = nullptr;
        std::unique_ptr<sound::G726Stream> g726;
        if (caps && gst_caps_get_size(caps) > 0) {
            const char* encoding = gst_structure_get_string(gst_caps_get_structure(caps, 0), "encoding-name");
            for (const auto& b : kBranches) {
                if (!encoding)
                    break;
                if (b.sound == Sound::G726Packets) {
                    if ((g726 = sound::G726Stream::Create(encoding)))
                        branch = &b;
                } else if (g_ascii_strcasecmp(encoding, b.encoding) == 0) {
                    branch = &b;
                }
            }
        }
        if (caps)
            gst_caps_unref(caps);
        std::lock_guard lock(m_branchMutex);
        // One stream of each kind is played; a second one is taken off.
        if (branch && (branch->track == Track::Video ? m_haveVideo : m_haveAudio))
            branch = nullptr;
        if (m_branches >= kMaxBranches)
            return;
        std::string description = branch ? branch->description : kIgnoredBranch;
        if (branch && branch->sound == Sound::Pcm)
            description += kPcmTail;
        GError* error = nullptr;
        GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
        if (!bin && branch) {
            // A decoder this machine lacks (GStreamer's FFmpeg plug-in for
            // AAC): the stream is taken off like one of an unknown coding.
            g_clear_error(&error);
            branch = nullptr;
            bin = gst_parse_bin_from_description(kIgnoredBranch, TRUE, &error);
        }
        if (!bin) {
            g_clear_error(&error);
            return;
        }
        if (branch) {
            SinkContext& context = m_contexts[m_branches];
            context.media = this;
            context.track = branch->track;
            context.kind = branch->frameKind;
            context.g726 = branch->sound == Sound::G726Packets ? std::move(g726) : nullptr;
            GstElement* sink = gst_bin_get_by_name(GST_BIN(bin), "sink");
            g_object_set(sink, "sync", FALSE, "emit-signals", FALSE, nullptr);
            GstAppSinkCallbacks callbacks {};
            callbacks.new_sample = &RtspMedia::onSample;
            gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &context, nullptr);
            gst_object_unref(sink);
            (branch->track == Track::Video ? m_haveVideo : m_haveAudio) = true;
        }
        ++m_branches;
        gst_bin_add(GST_BIN(m_pipeline), bin);
        gst_element_sync_state_with_parent(bin);
        GstPad* sinkPad = gst_element_get_static_pad(bin, "sink");
        if (sinkPad) {
            gst_pad_link(pad, sinkPad);
            gst_object_unref(sinkPad);
        }
    }

    static GstFlowReturn onSample(GstAppSink* sink, gpointer data)
    {
        auto* context = static_cast<SinkContext*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (sample)
            context->media->queue(context->track, context->kind, sample, context->g726.get());
        return GST_FLOW_OK;
    }

    void queue(Track track, int kind, GstSample* sample, sound::G726Stream* g726)
    {
        std::lock_guard lock(m_queueMutex);
        bool key = false;
        if (track == Track::Video) {
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            key = buffer && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
        }
        if (m_queue.size() >= kMaxQueuedSamples || (track == Track::Video && m_videoWaitsForKey && !key)) {
            // A picture lost here makes the ones after it undecodable until
            // the next key frame, so they are left out with it.
            if (track == Track::Video)
                m_videoWaitsForKey = true;
            gst_sample_unref(sample);
            return;
        }
        if (track == Track::Video && key)
            m_videoWaitsForKey = false;
        m_queue.push_back({ track, kind, sample, g726 });
        m_queued.notify_all();
    }

    void Run()
    {
        m_opened = net::Clock::now();
        if (int reason = 0; !m_url.empty() && runDirect(reason)) {
            {
                std::lock_guard lock(m_talkMutex);
                stopTalk();
            }
            reportLost(reason);
            return;
        }
        initGstreamer();
        if (m_url.empty() || !buildPipeline() || gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            stopPipeline();
            reportLost(kLostUnreachable);
            return;
        }
        const auto timeout = std::chrono::milliseconds(LinkTimeoutMs());
        auto lastData = net::Clock::now();
        GstBus* bus = gst_element_get_bus(m_pipeline);
        int reason = kLostClosed;
        while (!m_closing.load()) {
            std::deque<Item> items;
            {
                std::unique_lock lock(m_queueMutex);
                m_queued.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs), [this] { return m_closing.load() || !m_queue.empty() || m_nothingPlayable.load(); });
                items.swap(m_queue);
            }
            if (m_nothingPlayable.load()) {
                reason = kLostUnreachable;
                break;
            }
            if (!items.empty())
                lastData = net::Clock::now();
            for (Item& item : items) {
                if (!m_closing.load())
                    deliver(item);
                gst_sample_unref(item.sample);
            }
            if (GstMessage* message = gst_bus_pop_filtered(bus, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS))) {
                reason = lostReason(message, m_hadData);
                gst_message_unref(message);
                break;
            }
            if (net::Clock::now() - lastData > timeout) {
                reason = kLostTimedOut;
                break;
            }
        }
        gst_object_unref(bus);
        stopPipeline();
        {
            std::lock_guard lock(m_talkMutex);
            stopTalk();
        }
        reportLost(reason);
    }

    // Plays the stream through the library's own RTSP client when it can:
    // true once the stream has played and ended (or the camera cannot be
    // reached), with the reason in `reason`; false when the stream is one
    // for GStreamer (another coding, an answer it did not expect), before
    // anything was delivered.
    bool runDirect(int& reason)
    {
        rtsp::Client client;
        const std::string& user = m_request.user;
        switch (client.Connect(m_url, user, m_request.password, kRtspConnectTimeoutMs)) {
        case rtsp::Client::Result::Ok:
            break;
        case rtsp::Client::Result::Unreachable:
            reason = kLostUnreachable;
            return true;
        default:
            return false;
        }
        auto answerBy = [] { return net::Clock::now() + std::chrono::milliseconds(kRtspAnswerTimeoutMs); };
        rtsp::Response answer;
        rtsp::Description description;
        if (!client.Request("DESCRIBE", m_url, "Accept: application/sdp\r\n", answer, answerBy()) || answer.status != kRtspOk
            || !rtsp::ParseSdp(answer.body, description))
            return false;
        const rtsp::Track* video = nullptr;
        const rtsp::Track* audio = nullptr;
        for (const auto& track : description.tracks) {
            if (track.sendOnly)
                continue;
            if (track.media == "video" && !video)
                video = &track;
            else if (track.media == "audio" && !audio)
                audio = &track;
        }
        bool g711 = audio && rtsp::IsG711Track(*audio);
        if (!video || video->encoding != "H264" || video->clockRate != rtsp::kVideoClockRate || (audio && !g711))
            return false;
        std::string base = answer.Header("content-base");
        if (base.empty())
            base = answer.Header("content-location");
        if (base.empty())
            base = m_url;

        // One SETUP a played track, interleaved on the connection.
        int videoChannel = -1, audioChannel = -1, sessionTimeoutS = kDefaultSessionTimeoutS;
        for (auto [track, asked, channel] : { std::tuple { video, kVideoChannel, &videoChannel }, std::tuple { audio, kAudioChannel, &audioChannel } }) {
            if (!track)
                continue;
            std::string transport = "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(asked) + "-" + std::to_string(asked + 1) + "\r\n";
            if (!client.Request("SETUP", rtsp::ControlUrl(base, track->control), transport, answer, answerBy()) || answer.status != kRtspOk)
                return false;
            std::string session = answer.Header("session");
            if (client.SessionId().empty()) {
                client.SessionId() = session.substr(0, session.find(';'));
                if (std::size_t at = session.find("timeout="); at != std::string::npos)
                    sessionTimeoutS = std::max(kMinKeepAliveS * 2, std::atoi(session.c_str() + at + 8));
            }
            std::string given = answer.Header("transport");
            std::size_t at = given.find("interleaved=");
            *channel = at == std::string::npos ? asked : std::atoi(given.c_str() + at + 12);
        }
        const std::string aggregate = rtsp::ControlUrl(base, description.control);
        if (!client.Request("PLAY", aggregate, "Range: npt=0.000-\r\n", answer, answerBy()) || answer.status != kRtspOk) {
            client.Send("TEARDOWN", aggregate, "");
            return false;
        }
        if (m_session && m_url == m_session->StreamUri() && !m_session->Profiles().empty()) {
            const auto& profile = m_session->Profiles().front();
            m_width = static_cast<std::uint32_t>(std::max(0, profile.width));
            m_height = static_cast<std::uint32_t>(std::max(0, profile.height));
        }

        rtsp::H264Assembler assembler;
        assembler.SetParameterSets(video->parameterSets);
        const bool muLaw = g711 && audio->encoding == "PCMU";
        std::vector<std::uint8_t> pcm;
        std::uint32_t firstTimestamp = 0;
        std::uint64_t ticks = 0; // the video clock since the first unit, unwrapped
        bool haveFirst = false;
        const auto timeout = std::chrono::milliseconds(LinkTimeoutMs());
        const auto keepAlive = std::chrono::seconds(sessionTimeoutS / 2);
        auto lastData = net::Clock::now();
        auto nextKeepAlive = lastData + keepAlive;
        reason = kLostClosed;
        while (!m_closing.load()) {
            int channel = -1;
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            int got = client.NextPacket(channel, data, size, net::Clock::now() + std::chrono::milliseconds(kWaitSliceMs));
            if (got < 0)
                break;
            auto now = net::Clock::now();
            rtsp::RtpPacket packet;
            if (got > 0 && (channel == videoChannel || channel == audioChannel) && rtsp::ParseRtp(data, size, packet)) {
                lastData = now;
                if (channel == videoChannel && packet.payloadType == video->payloadType && assembler.Push(packet)) {
                    std::uint32_t at = assembler.UnitTimestamp();
                    if (!haveFirst) {
                        haveFirst = true;
                        firstTimestamp = at;
                    }
                    // Wrap-aware: the unit's clock as a step from the last one.
                    ticks += static_cast<std::uint32_t>(at - firstTimestamp);
                    firstTimestamp = at;
                    noteData();
                    const auto& unit = assembler.Unit();
                    emitVideo(kFrameH264, unit.data(), unit.size(), assembler.UnitIsKey(), ticks * kNsPerSecond / rtsp::kVideoClockRate);
                } else if (channel == audioChannel && packet.payloadType == audio->payloadType && packet.size > 0 && !audioOn()) {
                    deliverAudio(nullptr, 0); // the sound is off: nothing to decode
                } else if (channel == audioChannel && packet.payloadType == audio->payloadType && packet.size > 0) {
                    rtsp::G711ToPcm(packet.payload, packet.size, muLaw, pcm);
                    noteData();
                    deliverAudio(pcm.data(), pcm.size());
                }
            }
            if (now - lastData > timeout) {
                reason = kLostTimedOut;
                break;
            }
            if (now >= nextKeepAlive) {
                client.Send("OPTIONS", aggregate, "");
                nextKeepAlive = now + keepAlive;
            }
        }
        client.Send("TEARDOWN", aggregate, "");
        return true;
    }

    void stopPipeline()
    {
        if (!m_pipeline)
            return;
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
        std::lock_guard lock(m_queueMutex);
        for (Item& item : m_queue)
            gst_sample_unref(item.sample);
        m_queue.clear();
    }

    void reportStatus(int type, int result, int value)
    {
        if (!m_status)
            return;
        m_gate.Deliver([&] { m_status(type, &result, m_user, value); });
    }

    void reportLost(int reason) { reportStatus(kStatusLinkLost, reason, m_id); }

    bool audioOn() const { return m_audioStarted.load() || (m_session && m_session->audioOn.load()); }
    bool videoOn() const { return !m_session || m_session->videoOn.load(); }

    void noteData()
    {
        if (!m_hadData) {
            m_hadData = true;
            reportStatus(kStatusOpen, 0, m_id);
        }
    }

    void deliver(const Item& item)
    {
        noteData();
        GstBuffer* buffer = gst_sample_get_buffer(item.sample);
        GstMapInfo map;
        if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        if (item.track == Track::Video)
            deliverVideo(item, buffer, map.data, map.size);
        else if (!item.g726)
            deliverAudio(map.data, map.size);
        gst_buffer_unmap(buffer, &map);
        if (item.g726)
            deliverG726(*item.g726, buffer);
    }

    void deliverG726(sound::G726Stream& g726, GstBuffer* buffer)
    {
        GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
        if (!gst_rtp_buffer_map(buffer, GST_MAP_READ, &rtp))
            return; // not an RTP packet: dropped
        m_g726Samples.clear();
        g726.Decode(static_cast<const std::uint8_t*>(gst_rtp_buffer_get_payload(&rtp)), gst_rtp_buffer_get_payload_len(&rtp), m_g726Samples);
        gst_rtp_buffer_unmap(&rtp);
        deliverAudio(reinterpret_cast<const std::uint8_t*>(m_g726Samples.data()), m_g726Samples.size() * sizeof(std::int16_t));
    }

    void deliverVideo(const Item& item, GstBuffer* buffer, const std::uint8_t* data, std::size_t size)
    {
        if (item.kind == kFrameH264 || item.kind == kFrameH265)
            skipDelimiter(item.kind, data, size);
        if (size == 0 || !videoOn())
            return;
        if (GstCaps* caps = gst_sample_get_caps(item.sample); caps && gst_caps_get_size(caps) > 0) {
            const GstStructure* s = gst_caps_get_structure(caps, 0);
            int width = 0, height = 0, num = 0, den = 0;
            if (gst_structure_get_int(s, "width", &width) && gst_structure_get_int(s, "height", &height) && width > 0 && height > 0) {
                m_width = static_cast<std::uint32_t>(width);
                m_height = static_cast<std::uint32_t>(height);
            }
            if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0)
                m_frameRate = (num + den / 2) / den;
        }
        std::uint64_t pts = GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) : 0;
        emitVideo(item.kind, data, size, !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT), pts);
    }

    // One picture to the control, `pts` in nanoseconds of the stream.
    void emitVideo(int kind, const std::uint8_t* data, std::size_t size, bool key, std::uint64_t pts)
    {
        if (size == 0 || !videoOn())
            return;
        if (m_frameRate <= 0) {
            // Neither the stream nor its caps say: the profile does, or the
            // spacing of the pictures.
            if (m_session && !m_session->Profiles().empty() && m_session->Profiles().front().frameRate > 0)
                m_frameRate = m_session->Profiles().front().frameRate;
            else if (pts > m_lastPts && m_lastPts != 0)
                m_frameRate = static_cast<int>((kNsPerSecond + (pts - m_lastPts) / 2) / (pts - m_lastPts));
        }
        m_lastPts = pts;
        auto now = net::Clock::now();
        m_windowBytes += size;
        auto windowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_windowStart).count();
        if (windowMs >= kBitRateWindowMs) {
            m_bitRate = static_cast<std::int32_t>(m_windowBytes * 8 * 1000 / static_cast<std::uint64_t>(windowMs));
            m_windowBytes = 0;
            m_windowStart = now;
        }
        FrameRecord record {};
        record.kind = static_cast<std::uint32_t>(kind);
        record.sequence = m_sequence++;
        record.timestamp = elapsedMs();
        record.passThrough1 = m_videoFrames++;
        record.passThrough2 = static_cast<std::uint32_t>(pts / kNsPerMs);
        record.frameRate = m_frameRate;
        record.size = static_cast<std::int32_t>(size);
        record.keyFrame = key ? 1 : 0;
        record.bitRate = m_bitRate;
        record.width = m_width;
        record.height = m_height;
        record.payload = data;
        if (m_frame)
            m_gate.Deliver([&] { m_frame(kind, &record, m_user, m_id); });
    }

    void deliverAudio(const std::uint8_t* data, std::size_t size)
    {
        if (!audioOn()) {
            m_pcmFill = 0;
            return;
        }
        const bool adpcm = m_request.streamType == kAudioAdpcm;
        const std::size_t blockBytes = adpcm ? kAdpcmPcmBytes : kPcmBlockBytes;
        while (size > 0) {
            std::size_t take = std::min(size, blockBytes - m_pcmFill);
            std::memcpy(m_pcm.data() + m_pcmFill, data, take);
            m_pcmFill += take;
            data += take;
            size -= take;
            if (m_pcmFill < blockBytes)
                break;
            m_pcmFill = 0;
            FrameRecord record {};
            record.kind = static_cast<std::uint32_t>(kFrameAudio);
            record.sequence = m_sequence++;
            record.timestamp = elapsedMs();
            record.size = static_cast<std::int32_t>(blockBytes);
            record.payload = m_pcm.data();
            if (adpcm) {
                std::array<std::int16_t, kAdpcmBlockSamples> samples {};
                std::memcpy(samples.data(), m_pcm.data(), kAdpcmPcmBytes);
                m_adpcm.Encode(samples.data(), samples.size(), m_adpcmBlock.data());
                record.size = static_cast<std::int32_t>(m_adpcmBlock.size());
                record.payload = m_adpcmBlock.data();
            }
            if (m_frame)
                m_gate.Deliver([&] { m_frame(kFrameAudio, &record, m_user, m_id); });
        }
    }

    std::uint32_t elapsedMs() const
    {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(net::Clock::now() - m_opened).count());
    }

    const std::string m_url;
    const std::shared_ptr<onvif::Session> m_session;
    const wire::OpenRequest m_request;
    const int m_id;
    const KzStatusCallback m_status;
    const KzFrameCallback m_frame;
    void* const m_user;

    std::atomic<bool> m_closing { false };
    std::atomic<bool> m_audioStarted { false };
    DeliveryGate m_gate;
    sys::ThreadHandle m_thread;

    GstElement* m_pipeline = nullptr; // the worker's; built and torn down by it

    std::mutex m_talkMutex; // guards the talk session's pipeline and voice source
    GstElement* m_talk = nullptr;
    GstElement* m_talkSource = nullptr; // the talk session's rtspsrc, owned by m_talk
    GstCaps* m_voiceCaps = nullptr; // made at the first packet, for the coding the back channel takes
    sound::TalkDecoder m_talkDecoder;
    std::vector<std::int16_t> m_talkSamples;
    std::uint16_t m_talkSequence = 0;
    std::uint32_t m_talkClock = 0;
    std::uint32_t m_talkSsrc = 0;
    std::atomic<int> m_backchannel { -1 }; // the back channel's stream id once rtspsrc has chosen it
    std::atomic<sound::Voice> m_voice { sound::Voice::None };
    std::atomic<int> m_voicePayload { sound::kPayloadMuLaw };

    std::mutex m_branchMutex; // guards the branch fields (pad-added runs on GStreamer's threads)
    std::array<SinkContext, kMaxBranches> m_contexts {};
    std::size_t m_branches = 0;
    bool m_haveVideo = false;
    bool m_haveAudio = false;
    std::atomic<bool> m_nothingPlayable { false };

    std::mutex m_queueMutex; // guards the queue and the key-frame wait
    std::condition_variable m_queued;
    std::deque<Item> m_queue;
    bool m_videoWaitsForKey = false;

    // worker thread only
    net::Clock::time_point m_opened;
    bool m_hadData = false;
    std::uint32_t m_sequence = 0;
    std::uint32_t m_videoFrames = 0;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    int m_frameRate = 0;
    std::uint64_t m_lastPts = 0;
    std::int32_t m_bitRate = 0;
    std::uint64_t m_windowBytes = 0;
    net::Clock::time_point m_windowStart = net::Clock::now();
    std::array<std::uint8_t, kPcmBlockBytes> m_pcm {};
    std::size_t m_pcmFill = 0;
    std::vector<std::int16_t> m_g726Samples;
    sound::AdpcmEncoder m_adpcm;
    std::array<std::uint8_t, kTalkBlockAdpcm> m_adpcmBlock {};
};

}

std::shared_ptr<Channel> StartRtspMedia(const std::string& url, std::shared_ptr<onvif::Session> session, const wire::OpenRequest& request,
    KzStatusCallback status, KzFrameCallback frame, void* user)
{
    auto media = std::make_shared<RtspMedia>(url, std::move(session), request, status, frame, user);
    return media->Start() ? media : nullptr;
}

}
