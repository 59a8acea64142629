#include "sim/VideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <mutex>

namespace sim {

namespace {

// A 3 x 5 font for the digits of the frame counter.
constexpr std::uint16_t kDigits[10] = {
    0x7B6F, 0x2492, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF,
};
constexpr int kDigitScale = 4;
constexpr int kCounterDigits = 6;
constexpr std::uint8_t kInk = 16;
constexpr std::uint8_t kPaper = 235;
constexpr int kH264Crf = 28;

void quietLogs()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

void drawCounter(std::uint32_t number, int width, int height, std::uint8_t* y, int stride)
{
    int cell = 4 * kDigitScale;
    for (int d = 0; d < kCounterDigits; ++d) {
        std::uint32_t power = 1;
        for (int i = 0; i < kCounterDigits - 1 - d; ++i)
            power *= 10;
        std::uint16_t glyph = kDigits[(number / power) % 10];
        for (int gy = 0; gy < 5 * kDigitScale + 2; ++gy)
            for (int gx = 0; gx < cell; ++gx) {
                int px = 2 + d * cell + gx, py = 2 + gy;
                if (px >= width || py >= height)
                    continue;
                int col = gx / kDigitScale, row = (gy - 1) / kDigitScale;
                bool on = gy >= 1 && row < 5 && col < 3 && (glyph >> (14 - (row * 3 + col))) & 1;
                y[py * stride + px] = on ? kInk : kPaper;
            }
    }
}

}

void DrawPattern(std::uint32_t number, int width, int height, std::uint8_t* y, int yStride, std::uint8_t* u, int uStride, std::uint8_t* v, int vStride)
{
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            y[row * yStride + col] = static_cast<std::uint8_t>(((col + row) / 2 + 4 * number) & 0xFF);
    for (int row = 0; row < (height + 1) / 2; ++row)
        for (int col = 0; col < (width + 1) / 2; ++col) {
            u[row * uStride + col] = static_cast<std::uint8_t>(128 + ((col * 2 + number) % 64) - 32);
            v[row * vStride + col] = static_cast<std::uint8_t>(128 + ((row * 2 + 2 * number) % 64) - 32);
        }
    drawCounter(number, width, height, y, yStride);
}

struct VideoEncoder::Impl {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~Impl()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::unique_ptr<VideoEncoder> VideoEncoder::Create(const VideoSettings& settings)
{
    quietLogs();
    if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 || settings.fps <= 0)
        return nullptr;
    const AVCodec* codec = settings.codec == Codec::H264 ? avcodec_find_encoder_by_name("libx264")
        : settings.codec == Codec::H265                  ? avcodec_find_encoder_by_name("libx265")
                                                         : avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec)
        return nullptr;
    std::unique_ptr<VideoEncoder> encoder(new VideoEncoder);
    encoder->m_settings = settings;
    encoder->m_impl = std::make_unique<Impl>();
    Impl& impl = *encoder->m_impl;
    impl.context = avcodec_alloc_context3(codec);
    if (!impl.context)
        return nullptr;
    AVCodecContext* c = impl.context;
    c->width = settings.width;
    c->height = settings.height;
    c->time_base = AVRational { 1, settings.fps };
    c->framerate = AVRational { settings.fps, 1 };
    c->gop_size = settings.keyInterval > 0 ? settings.keyInterval : settings.fps;
    c->max_b_frames = 0;
    c->thread_count = 1;
    if (settings.codec == Codec::H264) {
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set_int(c->priv_data, "crf", kH264Crf, 0);
        // Parameter sets at every key frame (no global header).
    } else if (settings.codec == Codec::H265) {
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set_int(c->priv_data, "crf", kH264Crf, 0);
        // Parameter sets at every key frame, whole key frames (no open GOP);
        // one thread, as the H.264 encoder, so that a second session's
        // encoder starting does not hold up the first.
        av_opt_set(c->priv_data, "x265-params", "repeat-headers=1:open-gop=0:scenecut=0:pools=none:frame-threads=1:log-level=error", 0);
    } else {
        c->pix_fmt = AV_PIX_FMT_YUVJ420P;
        c->color_range = AVCOL_RANGE_JPEG;
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 5;
        // The standard Huffman tables, as cameras use them: RTP's JPEG
        // payload carries no tables, and its receivers put the standard
        // ones back.
        av_opt_set(c->priv_data, "huffman", "default", 0);
    }
    if (avcodec_open2(c, codec, nullptr) < 0)
        return nullptr;
    impl.frame = av_frame_alloc();
    impl.packet = av_packet_alloc();
    if (!impl.frame || !impl.packet)
        return nullptr;
    impl.frame->format = c->pix_fmt;
    impl.frame->width = c->width;
    impl.frame->height = c->height;
    if (av_frame_get_buffer(impl.frame, 0) < 0)
        return nullptr;
    return encoder;
}

VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::Encode(std::uint32_t number, EncodedFrame& out)
{
    Impl& impl = *m_impl;
    if (av_frame_make_writable(impl.frame) < 0)
        return false;
    DrawPattern(number, m_settings.width, m_settings.height, impl.frame->data[0], impl.frame->linesize[0], impl.frame->data[1], impl.frame->linesize[1], impl.frame->data[2], impl.frame->linesize[2]);
    impl.frame->pts = number;
    if (avcodec_send_frame(impl.context, impl.frame) < 0)
        return false;
    out.data.clear();
    out.key = false;
    while (avcodec_receive_packet(impl.context, impl.packet) == 0) {
        out.data.insert(out.data.end(), impl.packet->data, impl.packet->data + impl.packet->size);
        out.key = out.key || (impl.packet->flags & AV_PKT_FLAG_KEY);
        av_packet_unref(impl.packet);
    }
    return !out.data.empty();
}

std::vector<std::uint8_t> EncodeJpeg(std::uint32_t number, int width, int height)
{
    auto encoder = VideoEncoder::Create(VideoSettings { Codec::Mjpeg, width, height, 1, 1 });
    EncodedFrame frame;
    if (!encoder || !encoder->Encode(number, frame))
        return {};
    return frame.data;
}

}
