#include "sim/MediaStreamer.h"

#include "sim/Timing.h"

#include <algorithm>

namespace sim {

using namespace kz;
using namespace kz::wire;
using std::chrono::milliseconds;

namespace {

constexpr int kToneAmplitude = 8000;
constexpr int kMsPerSecond = 1000;
constexpr int kBitsPerByte = 8;
// The buffering event's steps in percent, at open and after a seek.
constexpr int kBufferingSteps[] = { 0, 50, 100 };

int frameKind(Codec codec) { return codec == Codec::H264 ? kFrameH264 : kFrameMjpeg; }

FrameHeader videoHeader(const VideoSettings& v, const EncodedFrame& frame, std::uint32_t sequence, std::uint32_t timestamp, std::uint32_t number, int bitRate)
{
    FrameHeader h;
    h.kind = frameKind(v.codec);
    h.sequence = sequence;
    h.timestamp = timestamp;
    h.frameRate = v.saysRate ? v.fps : 0;
    h.keyFrame = frame.key ? 1 : 0;
    h.bitRate = bitRate;
    h.width = static_cast<std::uint32_t>(v.width);
    h.height = static_cast<std::uint32_t>(v.height);
    h.passThrough1 = number;
    h.passThrough2 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(number) * kMsPerSecond / static_cast<std::uint32_t>(v.fps));
    return h;
}

FrameHeader audioHeader(std::size_t bytes, int blockMs, std::uint32_t sequence, std::uint32_t timestamp, std::uint32_t number)
{
    FrameHeader h;
    h.kind = kFrameAudio;
    h.sequence = sequence;
    h.timestamp = timestamp;
    h.frameRate = 0;
    h.keyFrame = 1;
    h.bitRate = static_cast<std::int32_t>(bytes * kBitsPerByte * kMsPerSecond / static_cast<std::size_t>(blockMs));
    h.passThrough1 = number;
    return h;
}

}

MediaStreamer::MediaStreamer(Camera::State& state, std::shared_ptr<MediaSession> session)
    : m_state(state), m_session(std::move(session)), m_pacer(Clock::now())
{
}

void MediaStreamer::Run()
{
    if (m_session->playback)
        RunPlayback();
    else
        RunLive();
}

std::uint32_t MediaStreamer::Timestamp(Clock::time_point now) const
{
    return static_cast<std::uint32_t>(std::chrono::duration_cast<milliseconds>(now - m_session->opened).count());
}

bool MediaStreamer::SendVideo(const VideoSettings& v, const EncodedFrame& frame, std::uint32_t number, int bitRate, Clock::time_point now)
{
    auto message = FrameMessage(videoHeader(v, frame, m_sequence++, Timestamp(now), number, bitRate), frame.data.data(), frame.data.size());
    if (!m_session->connection->Send(message))
        return false;
    m_state.videoFramesSent.fetch_add(1);
    m_pacer.Sent(now);
    return true;
}

bool MediaStreamer::SendAudio(ToneCoder& tone, Clock::time_point now)
{
    auto block = tone.NextBlock();
    auto message = FrameMessage(audioHeader(block.size(), tone.BlockMs(), m_sequence++, Timestamp(now), m_audioBlocks++), block.data(), block.size());
    if (!m_session->connection->Send(message))
        return false;
    m_state.soundMsSent.fetch_add(static_cast<std::uint64_t>(tone.BlockMs()));
    m_pacer.Sent(now);
    m_pacer.NextAudio(now, tone.BlockMs());
    return true;
}

bool MediaStreamer::SendPlaybackEvent(int event, int value)
{
    return m_session->connection->Send(Kind::Status, PutStatus({ kStatusPlayback, event, value }));
}

void MediaStreamer::Idle(Clock::time_point now, bool videoRuns, bool audioRuns)
{
    if (m_pacer.HeartbeatDue(now))
        m_session->connection->Send(Kind::Heartbeat, {});
    m_session->Sleep(m_pacer.WakeAt(now, videoRuns, audioRuns));
}

void MediaStreamer::RunLive()
{
    MediaSession& session = *m_session;
    std::unique_ptr<VideoEncoder> encoder;
    std::unique_ptr<ToneCoder> tone;
    int generation = -1, audioGeneration = -1;
    bool audioWasOn = false;
    std::uint32_t number = 0;
    std::size_t preIndex = 0;
    std::size_t claimIndex = 0;
    std::uint64_t bytesSent = 0;

    while (!m_state.stopping.load()) {
        bool audioOn;
        {
            std::lock_guard lock(session.mutex);
            if (session.closed)
                return;
            audioOn = session.audioOn;
        }
        VideoSettings v;
        bool videoOn;
        std::shared_ptr<const std::vector<EncodedFrame>> pre;
        std::shared_ptr<const Camera::State::Claims> claims;
        bool prePaced;
        int coding, gen, agen;
        Clock::time_point stall;
        {
            std::lock_guard lock(m_state.mutex);
            v = m_state.preEncoded ? m_state.preEncodedSettings : m_state.live;
            videoOn = m_state.videoOn;
            pre = m_state.preEncoded;
            claims = m_state.claims;
            prePaced = m_state.preEncodedPaced;
            coding = m_state.audioCoding;
            if (coding == kAudioG726 && m_state.config.streamMode == kStreamModeRawAudio)
                coding = kAudioPcm; // raw mode: already decoded
            gen = m_state.liveGeneration;
            agen = m_state.audioGeneration;
            stall = m_state.stallUntil;
        }
        auto now = Clock::now();
        if (now < stall) {
            // Stalled: nothing at all, not even a heartbeat.
            session.Sleep(std::min(stall, now + milliseconds(kPollSliceMs)));
            m_pacer.Restart(Clock::now());
            continue;
        }
        if (claims && videoOn) {
            // Size claims, one every periodMs, each size in turn. The
            // pattern, when it comes back, starts with a key frame.
            generation = -1;
            if (m_pacer.VideoDue(now)) {
                std::size_t k = claimIndex++ % claims->frames.size();
                VideoSettings claimed { Codec::H264, claims->sizes[k].width, claims->sizes[k].height, std::max(kMsPerSecond / claims->periodMs, 1), 1 };
                if (!SendVideo(claimed, claims->frames[k], number++, 0, now))
                    return;
                m_pacer.NextVideo(now, claims->periodMs);
            }
            Idle(now, true, false);
            continue;
        }
        if (pre && videoOn && prePaced) {
            // Paced pre-encoded frames go out at the frame rate, as live ones.
            if (m_pacer.VideoDue(now)) {
                if (!SendVideo(v, (*pre)[preIndex++ % pre->size()], number++, 0, now))
                    return;
                m_pacer.NextVideo(now, kMsPerSecond / v.fps);
            }
            Idle(now, true, false);
            continue;
        }
        if (pre && videoOn) {
            // Pre-encoded frames go out as fast as the link takes them.
            const EncodedFrame& frame = (*pre)[preIndex++ % pre->size()];
            if (!SendVideo(v, frame, number++, 0, now))
                return;
            continue;
        }
        if (gen != generation) {
            encoder = VideoEncoder::Create(v);
            generation = gen;
            m_pacer.RestartVideo(now);
        }
        if (audioOn && (!audioWasOn || agen != audioGeneration || !tone || tone->Coding() != coding)) {
            tone = std::make_unique<ToneCoder>(coding, m_state.config.toneHz, kToneAmplitude);
            audioGeneration = agen;
            m_pacer.RestartAudio(now);
        }
        audioWasOn = audioOn;

        bool videoRuns = videoOn && encoder;
        bool audioRuns = audioOn && tone;
        if (videoRuns && m_pacer.VideoDue(now)) {
            EncodedFrame frame;
            if (encoder->Encode(number, frame)) {
                bytesSent += frame.data.size();
                int bitRate = static_cast<int>(bytesSent * kBitsPerByte * static_cast<std::uint64_t>(v.fps) / (number + 1));
                if (!SendVideo(v, frame, number, bitRate, now))
                    return;
            }
            ++number;
            m_pacer.NextVideo(now, kMsPerSecond / v.fps);
        }
        if (audioRuns && m_pacer.AudioDue(now) && !SendAudio(*tone, now))
            return;
        Idle(now, videoRuns, audioRuns);
    }
}

void MediaStreamer::RunPlayback()
{
    MediaSession& session = *m_session;
    const Recording& rec = session.recording;
    if (rec.path.empty())
        SendPlaybackEvent(kPbRecordMissing, 0);
    else if (rec.broken || !VideoEncoder::Create(rec.video))
        SendPlaybackEvent(kPbRecordBroken, 0);
    const bool playable = !rec.path.empty() && !rec.broken;
    const VideoSettings& v = rec.video;
    const std::uint32_t total = playable ? static_cast<std::uint32_t>(rec.seconds * v.fps) : 0;
    std::unique_ptr<VideoEncoder> encoder;
    std::unique_ptr<ToneCoder> tone;
    std::uint32_t number = 0;
    bool ended = !playable, paused = false;
    int lastSecond = -1;
    auto seconds = [&] { return static_cast<int>(number / static_cast<std::uint32_t>(v.fps)); };
    auto buffer = [&] {
        for (int percent : kBufferingSteps)
            SendPlaybackEvent(kPbBuffering, percent);
    };

    if (playable) {
        buffer();
        SendPlaybackEvent(kPbLength, rec.seconds);
        SendPlaybackEvent(kPbPlaying, 0);
        encoder = VideoEncoder::Create(v);
        tone = std::make_unique<ToneCoder>(kAudioPcm, m_state.config.toneHz, kToneAmplitude);
    }

    while (!m_state.stopping.load()) {
        bool wantPause, seek, audioOn;
        double seekTo;
        {
            std::lock_guard lock(session.mutex);
            if (session.closed)
                return;
            wantPause = session.paused;
            seek = session.seekPending;
            seekTo = session.seekTo;
            session.seekPending = false;
            audioOn = session.audioOn;
        }
        auto now = Clock::now();
        if (playable && seek) {
            double to = std::max(seekTo, 0.0);
            if (to >= rec.seconds) {
                number = total;
            } else {
                number = static_cast<std::uint32_t>(to * v.fps);
                ended = false;
                buffer();
                SendPlaybackEvent(kPbSeeked, seconds());
                encoder = VideoEncoder::Create(v); // the next frame is a key frame
                m_pacer.RestartVideo(now);
                m_pacer.RestartAudio(now);
            }
        }
        if (playable && wantPause != paused) {
            paused = wantPause;
            SendPlaybackEvent(paused ? kPbPaused : kPbResumed, seconds());
            m_pacer.RestartVideo(now);
            m_pacer.RestartAudio(now);
        }
        if (!ended && number >= total) {
            ended = true;
            SendPlaybackEvent(kPbEnd, rec.seconds);
        }
        bool playing = !ended && !paused;
        bool videoRuns = playing && encoder;
        bool audioRuns = playing && audioOn && tone;
        if (videoRuns && m_pacer.VideoDue(now)) {
            EncodedFrame frame;
            if (encoder->Encode(number, frame) && !SendVideo(v, frame, number, 0, now))
                return;
            ++number;
            m_pacer.NextVideo(now, kMsPerSecond / v.fps);
            if (seconds() != lastSecond) {
                lastSecond = seconds();
                SendPlaybackEvent(kPbPosition, lastSecond);
            }
        }
        if (audioRuns && m_pacer.AudioDue(now) && !SendAudio(*tone, now))
            return;
        Idle(now, videoRuns, audioRuns);
    }
}

}
