#include "support/Encoder.h"

#include <algorithm>
#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace testing_support {

Picture TestPicture(int width, int height, int frame, bool textured)
{
    Picture p;
    p.width = width;
    p.height = height;
    p.y.resize(static_cast<std::size_t>(width * height));
    p.u.assign(static_cast<std::size_t>((width / 2) * (height / 2)), 90);
    p.v.assign(static_cast<std::size_t>((width / 2) * (height / 2)), 170);
    int bar = (frame * 8) % std::max(width, 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.y[static_cast<std::size_t>(y * width + x)] = static_cast<std::uint8_t>(std::abs(x - bar) < 8 ? 235 : 16 + (x * 200) / std::max(width, 1));
    if (textured) {
        std::uint32_t seed = 2463534242u;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                seed ^= seed << 13;
                seed ^= seed >> 17;
                seed ^= seed << 5;
                int detail = static_cast<int>((x + frame * 3) ^ (y * 7)) % 48 + static_cast<int>(seed % 24);
                auto& v = p.y[static_cast<std::size_t>(y * width + x)];
                v = static_cast<std::uint8_t>(std::min(235, v / 2 + detail * 2));
            }
    }
    return p;
}

namespace {

constexpr std::int64_t kCameraBitRate = 4'000'000;

std::vector<std::vector<std::uint8_t>> encode(AVCodecID id, const char* name, int width, int height, int count, AVPixelFormat format, const std::string& profile, int firstFrame, bool textured)
{
    std::vector<std::vector<std::uint8_t>> packets;
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = name ? avcodec_find_encoder_by_name(name) : avcodec_find_encoder(id);
    if (!codec)
        return packets;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->width = width;
    c->height = height;
    c->time_base = AVRational { 1, 25 };
    c->framerate = AVRational { 25, 1 };
    c->pix_fmt = format;
    c->gop_size = 25;
    c->max_b_frames = 0;
    if (id == AV_CODEC_ID_H264) {
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set(c->priv_data, "profile", profile.c_str(), 0);
        av_opt_set(c->priv_data, "x264-params", "repeat-headers=1:annexb=1", 0);
        if (textured)
            c->bit_rate = kCameraBitRate; // what a camera streams at 1080p
    } else if (id == AV_CODEC_ID_HEVC) {
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        av_opt_set(c->priv_data, "x265-params", "repeat-headers=1:open-gop=0:scenecut=0:log-level=error", 0);
    } else {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 3;
    }
    if (avcodec_open2(c, codec, nullptr) < 0) {
        avcodec_free_context(&c);
        return packets;
    }
    AVFrame* f = av_frame_alloc();
    f->format = format;
    f->width = width;
    f->height = height;
    av_frame_get_buffer(f, 0);
    AVPacket* pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(c, pkt) == 0) {
            packets.emplace_back(pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
        }
    };
    for (int i = 0; i < count; ++i) {
        av_frame_make_writable(f);
        Picture p = TestPicture(width, height, firstFrame + i, textured);
        for (int y = 0; y < height; ++y)
            std::copy_n(p.y.data() + y * width, width, f->data[0] + y * f->linesize[0]);
        for (int y = 0; y < height / 2; ++y) {
            std::copy_n(p.u.data() + y * (width / 2), width / 2, f->data[1] + y * f->linesize[1]);
            std::copy_n(p.v.data() + y * (width / 2), width / 2, f->data[2] + y * f->linesize[2]);
        }
        f->pts = i;
        avcodec_send_frame(c, f);
        drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return packets;
}

}

std::vector<std::vector<std::uint8_t>> EncodeH264(int width, int height, int count, const std::string& profile, bool textured)
{
    return encode(AV_CODEC_ID_H264, "libx264", width, height, count, AV_PIX_FMT_YUV420P, profile, 0, textured);
}

std::vector<std::vector<std::uint8_t>> EncodeH265(int width, int height, int count)
{
    return encode(AV_CODEC_ID_HEVC, "libx265", width, height, count, AV_PIX_FMT_YUV420P, "", 0, false);
}

std::vector<std::uint8_t> EncodeJpeg(int width, int height, int frame, bool textured)
{
    auto packets = encode(AV_CODEC_ID_MJPEG, nullptr, width, height, 1, AV_PIX_FMT_YUVJ420P, "", frame, textured);
    return packets.empty() ? std::vector<std::uint8_t> {} : packets[0];
}

std::vector<std::uint8_t> FindSps(const std::vector<std::uint8_t>& b)
{
    for (std::size_t i = 0; i + 4 < b.size(); ++i) {
        bool start = b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1;
        if (start && (b[i + 3] & 0x1F) == 7) {
            std::size_t end = i + 4;
            while (end + 3 < b.size() && !(b[end] == 0 && b[end + 1] == 0 && (b[end + 2] == 1 || (b[end + 2] == 0 && b[end + 3] == 1))))
                ++end;
            return std::vector<std::uint8_t>(b.begin() + static_cast<long>(i + 4), b.begin() + static_cast<long>(end));
        }
    }
    return {};
}

}
