// The recorder's cost: writing ten seconds of 1080p H.264 and 8 kHz PCM with
// AviWriter as the recording policy does (the chunk, then the main header and
// the stream's header after every frame and audio block), as a ratio to
// FFmpeg's own AVI muxer writing the same packets in the same run.

#include "support/Encoder.h"

#include "media/AviWriter.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Frames = std::vector<std::vector<std::uint8_t>>;

constexpr int kRounds = 3;
constexpr int kFrames = 250;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrameRate = 25;
constexpr int kMicrosecondsPerSecond = 1'000'000;
constexpr int kSampleRate = 8000;
constexpr int kSampleBytes = 2;
constexpr int kAudioBlockBytes = 640; // 40 ms of 8 kHz 16-bit mono
constexpr int kBitsPerSample = 16;
constexpr std::uint8_t kNalTypeMask = 0x1f;
constexpr std::uint8_t kNalIdr = 5;

bool isKeyFrame(const std::vector<std::uint8_t>& f)
{
    for (std::size_t i = 0; i + 3 < f.size(); ++i)
        if (f[i] == 0 && f[i + 1] == 0 && f[i + 2] == 1 && (f[i + 3] & kNalTypeMask) == kNalIdr)
            return true;
    return false;
}

std::string tempPath(const char* name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

// Seconds to record the frames and audio blocks, interleaved, as the policy does.
double recorder(const std::string& path, const Frames& video, const std::vector<bool>& keys, const std::vector<std::uint8_t>& audio)
{
    auto start = Clock::now();
    media::AviWriter* w = media::AviOpen(path.c_str());
    media::AviMainHeader main;
    main.microSecPerFrame = kMicrosecondsPerSecond / kFrameRate;
    main.flags = media::kAviRecordingFlags;
    main.streams = media::kAviRecordingStreams;
    main.width = kWidth;
    main.height = kHeight;
    media::AviStreamHeader vh;
    vh.fccType = media::kFourccVids;
    vh.fccHandler = media::kFourccH264;
    vh.scale = 1;
    vh.rate = kFrameRate;
    media::BitmapInfoHeader bih;
    bih.width = kWidth;
    bih.height = kHeight;
    bih.bitCount = 24;
    bih.compression = media::kFourccH264;
    media::AviStreamHeader ah;
    ah.fccType = media::kFourccAuds;
    ah.scale = kSampleBytes;
    ah.rate = kSampleRate * kSampleBytes;
    ah.sampleSize = kSampleBytes;
    media::WaveFormatEx wf;
    wf.formatTag = media::kWaveFormatPcm;
    wf.channels = 1;
    wf.samplesPerSec = kSampleRate;
    wf.avgBytesPerSec = kSampleRate * kSampleBytes;
    wf.blockAlign = kSampleBytes;
    wf.bitsPerSample = kBitsPerSample;
    const auto videoFormat = media::SerializeBitmapInfo(bih);
    const auto audioFormat = media::SerializeWaveFormat(wf);
    std::uint32_t videoId = 0, audioId = 0;
    media::AviAddStream(videoFormat.data(), w, media::SerializeStreamHeader(vh).data(), &videoId);
    media::AviAddStream(audioFormat.data(), w, media::SerializeStreamHeader(ah).data(), &audioId);
    for (std::size_t i = 0; i < video.size(); ++i) {
        media::AviWriteChunk(keys[i], w, static_cast<std::uint32_t>(video[i].size()), videoId, video[i].data());
        ++main.totalFrames;
        media::AviWriteMainHeader(w, media::SerializeMainHeader(main).data());
        ++vh.length;
        media::AviRewriteStream(0, w, media::SerializeStreamHeader(vh).data(), videoFormat.data());
        media::AviWriteChunk(1, w, kAudioBlockBytes, audioId, audio.data());
        ah.length += kAudioBlockBytes / kSampleBytes;
        media::AviRewriteStream(1, w, media::SerializeStreamHeader(ah).data(), audioFormat.data());
    }
    media::AviClose(w);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::remove((path + media::kAviIndexSuffix).c_str());
    return seconds;
}

// Seconds for libavformat's AVI muxer to write the same packets.
double ffmpegMuxer(const std::string& path, const Frames& video, const std::vector<bool>& keys, const std::vector<std::uint8_t>& audio)
{
    auto start = Clock::now();
    AVFormatContext* oc = nullptr;
    avformat_alloc_output_context2(&oc, nullptr, "avi", path.c_str());
    AVStream* vs = avformat_new_stream(oc, nullptr);
    vs->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vs->codecpar->codec_id = AV_CODEC_ID_H264;
    vs->codecpar->width = kWidth;
    vs->codecpar->height = kHeight;
    vs->time_base = AVRational { 1, kFrameRate };
    AVStream* as = avformat_new_stream(oc, nullptr);
    as->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    as->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    as->codecpar->sample_rate = kSampleRate;
    as->codecpar->ch_layout = AVChannelLayout AV_CHANNEL_LAYOUT_MONO;
    as->codecpar->bits_per_coded_sample = kBitsPerSample;
    as->codecpar->block_align = kSampleBytes;
    as->time_base = AVRational { 1, kSampleRate };
    if (avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(oc, nullptr) < 0) {
        std::fprintf(stderr, "FFmpeg cannot write %s\n", path.c_str());
        std::exit(EXIT_FAILURE);
    }
    AVPacket* pkt = av_packet_alloc();
    const std::int64_t samplesPerBlock = kAudioBlockBytes / kSampleBytes;
    for (std::size_t i = 0; i < video.size(); ++i) {
        pkt->data = const_cast<std::uint8_t*>(video[i].data());
        pkt->size = static_cast<int>(video[i].size());
        pkt->stream_index = vs->index;
        pkt->pts = pkt->dts = av_rescale_q(static_cast<std::int64_t>(i), AVRational { 1, kFrameRate }, vs->time_base);
        pkt->duration = av_rescale_q(1, AVRational { 1, kFrameRate }, vs->time_base);
        pkt->flags = keys[i] ? AV_PKT_FLAG_KEY : 0;
        av_write_frame(oc, pkt);
        pkt->data = const_cast<std::uint8_t*>(audio.data());
        pkt->size = kAudioBlockBytes;
        pkt->stream_index = as->index;
        pkt->pts = pkt->dts = av_rescale_q(static_cast<std::int64_t>(i) * samplesPerBlock, AVRational { 1, kSampleRate }, as->time_base);
        pkt->duration = av_rescale_q(samplesPerBlock, AVRational { 1, kSampleRate }, as->time_base);
        pkt->flags = AV_PKT_FLAG_KEY;
        av_write_frame(oc, pkt);
    }
    av_write_trailer(oc);
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    av_packet_free(&pkt);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}

int main()
{
    Frames video = testing_support::EncodeH264(kWidth, kHeight, kFrames, "high", true);
    std::vector<bool> keys;
    std::size_t bytes = 0;
    for (const auto& f : video) {
        keys.push_back(isKeyFrame(f));
        bytes += f.size();
    }
    std::vector<std::uint8_t> audio(kAudioBlockBytes);
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<std::uint8_t>(i * 7);
    std::printf("%zu frames of 1080p H.264 (%.1f kB a frame) and %zu PCM blocks of %d bytes\n", video.size(),
        static_cast<double>(bytes) / 1024.0 / static_cast<double>(video.size()), video.size(), kAudioBlockBytes);

    const std::string recorderPath = tempPath("tiravex-avi-bench-recorder.avi");
    const std::string ffmpegPath = tempPath("tiravex-avi-bench-ffmpeg.avi");
    double rec = 1e9, ff = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        ff = std::min(ff, ffmpegMuxer(ffmpegPath, video, keys, audio));
        rec = std::min(rec, recorder(recorderPath, video, keys, audio));
    }
    std::printf("best of %d: FFmpeg AVI muxer %.2f ms, recorder %.2f ms, ratio %.2f\n", kRounds, ff * 1e3, rec * 1e3, rec / ff);
    std::remove(recorderPath.c_str());
    std::remove(ffmpegPath.c_str());
    return 0;
}
