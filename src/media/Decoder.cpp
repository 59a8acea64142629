#include "media/Decoder.h"

#include "sys/Lock.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <thread>

namespace media {

sys::CriticalSection& CodecLock()
{
    // Made when the module loads, never destroyed: decoders may close as late as the process ends.
    static sys::CriticalSection* lock = new sys::CriticalSection;
    return *lock;
}

namespace {
// The module start makes the lock, as the control's module always did.
const bool kCodecLockMade = (CodecLock(), true);
}

static_assert(static_cast<int>(PixelFormat::Yuv420p) == AV_PIX_FMT_YUV420P);
static_assert(static_cast<int>(PixelFormat::Bgra) == AV_PIX_FMT_BGRA);
static_assert(static_cast<int>(Codec::H264) == AV_CODEC_ID_H264);
static_assert(static_cast<int>(Codec::Mjpeg) == AV_CODEC_ID_MJPEG);
static_assert(static_cast<int>(Codec::H265) == AV_CODEC_ID_HEVC);

namespace {

constexpr int kMaxPocCycle = 256;
constexpr std::uint32_t kMacroblock = 16;

// Reads bits most significant first and never past the end.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_bits(size * 8) { }

    bool ok() const { return !m_overrun; }
    std::uint32_t bit()
    {
        if (m_pos >= m_bits) {
            m_overrun = true;
            return 0;
        }
        std::uint32_t b = (m_data[m_pos >> 3] >> (7 - (m_pos & 7))) & 1u;
        ++m_pos;
        return b;
    }
    std::uint32_t bits(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | bit();
        return v;
    }
    void skip(int n)
    {
        for (int i = 0; i < n && ok(); ++i)
            bit();
    }
    std::uint32_t ue()
    {
        int zeros = 0;
        while (bit() == 0) {
            if (!ok() || ++zeros > 31) {
                m_overrun = true;
                return 0;
            }
        }
        return (1u << zeros) - 1 + bits(zeros);
    }
    std::int32_t se()
    {
        std::uint32_t k = ue();
        return (k & 1) ? static_cast<std::int32_t>((k + 1) / 2) : -static_cast<std::int32_t>(k / 2);
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_bits;
    std::size_t m_pos = 0;
    bool m_overrun = false;
};

// A scaling list's deltas lie in -128..127; false for one outside, which no
// valid parameter set holds.
constexpr std::int32_t kMinScaleDelta = -128;
constexpr std::int32_t kMaxScaleDelta = 127;
constexpr std::int32_t kScaleModulus = 256;

bool skipScalingList(BitReader& r, int count)
{
    std::int32_t last = 8, next = 8;
    for (int j = 0; j < count && r.ok(); ++j) {
        if (next != 0) {
            std::int32_t delta = r.se();
            if (delta < kMinScaleDelta || delta > kMaxScaleDelta)
                return false;
            next = (last + delta + kScaleModulus) % kScaleModulus;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

// Heights coded as whole macroblocks, and the picture height they carry
// when the stream gives no cropping.
struct PaddedHeight {
    std::uint32_t coded;
    std::uint32_t shown;
};
constexpr PaddedHeight kPaddedHeights[] = { { 368, 360 }, { 192, 180 }, { 1088, 1080 } };

// The profiles whose parameter set carries the chroma format and scaling
// lists (High and above), and the chroma format that adds a flag.
constexpr std::uint32_t kHighProfiles[] = { 100, 110, 122, 144 };
constexpr std::uint32_t kChromaFormat444 = 3;

std::uint32_t correctedHeight(std::uint32_t height)
{
    for (const auto& padded : kPaddedHeights)
        if (padded.coded == height)
            return padded.shown;
    return height;
}

bool isHighProfile(std::uint32_t profile)
{
    for (std::uint32_t high : kHighProfiles)
        if (high == profile)
            return true;
    return false;
}

std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

}

bool ProbeH264Size(const std::uint8_t* sps, std::size_t size, std::uint32_t& width, std::uint32_t& height)
{
    if (!sps || size == 0)
        return false;
    BitReader r(sps, size);
    std::uint32_t profile = r.bits(8);
    r.skip(16); // constraint flags, level_idc
    r.ue();     // seq_parameter_set_id
    if (isHighProfile(profile)) {
        if (r.ue() == kChromaFormat444) // chroma_format_idc
            r.skip(1);
        r.ue();
        r.ue();
        r.skip(1);
        if (r.bit()) {
            for (int i = 0; i < 8 && r.ok(); ++i)
                if (r.bit() && !skipScalingList(r, i < 6 ? 16 : 64))
                    return false;
        }
    }
    r.ue(); // log2_max_frame_num_minus4
    std::uint32_t pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.skip(1);
        r.se();
        r.se();
        std::uint32_t cycle = r.ue();
        for (std::uint32_t i = 0; i < cycle && i < kMaxPocCycle && r.ok(); ++i)
            r.se();
    }
    r.ue();     // max_num_ref_frames
    r.skip(1);  // gaps_in_frame_num_value_allowed_flag
    std::uint32_t w = r.ue();
    std::uint32_t h = r.ue();
    if (!r.ok())
        return false;
    // Counts of up to 2^32 - 1 macroblocks: a size that does not fit 32 bits
    // is no size.
    std::uint64_t fullWidth = (static_cast<std::uint64_t>(w) + 1) * kMacroblock;
    std::uint64_t fullHeight = (static_cast<std::uint64_t>(h) + 1) * kMacroblock;
    if (fullWidth > UINT32_MAX || fullHeight > UINT32_MAX)
        return false;
    width = static_cast<std::uint32_t>(fullWidth);
    height = correctedHeight(static_cast<std::uint32_t>(fullHeight));
    return true;
}

bool ProbeJpegSize(const std::uint8_t* data, std::size_t size, std::uint32_t& width, std::uint32_t& height)
{
    constexpr std::uint8_t kMarker = 0xFF, kSoi = 0xD8, kSos = 0xDA, kTem = 0x01;
    constexpr std::uint8_t kSof0 = 0xC0, kSof15 = 0xCF, kDht = 0xC4, kJpg = 0xC8, kDac = 0xCC;
    constexpr std::uint8_t kRst0 = 0xD0, kRst7 = 0xD7;
    // A start-of-frame segment: length, precision, then the height and the width.
    constexpr std::size_t kHeightAt = 5, kWidthAt = 7, kSofBytes = 9;
    if (!data || size < 4 || data[0] != kMarker || data[1] != kSoi)
        return false;
    std::size_t i = 2;
    while (i + 1 < size) {
        if (data[i] != kMarker) {
            ++i;
            continue;
        }
        const std::uint8_t code = data[i + 1];
        if (code >= kSof0 && code <= kSof15 && code != kDht && code != kJpg && code != kDac) {
            if (i + kSofBytes > size)
                return false;
            height = be16(data + i + kHeightAt);
            width = be16(data + i + kWidthAt);
            return true;
        }
        if (code == kSos)
            return false; // a scan before any frame header
        if (code == kMarker) { // fill bytes
            ++i;
            continue;
        }
        if (code == kTem || code == kSoi || (code >= kRst0 && code <= kRst7)) { // no length
            i += 2;
            continue;
        }
        if (i + 4 > size)
            return false;
        i += 2 + be16(data + i + 2);
    }
    return false;
}

DecoderState::~DecoderState() { DecoderClose(*this); }

int DecoderThreads(int width, int height)
{
    if (static_cast<std::int64_t>(width) * height <= kSingleThreadPixels)
        return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(kMaxSliceThreads)));
}

bool DecoderOpen(DecoderState& d, Codec codec, int width, int height, PixelFormat outputFormat)
{
    const AVCodec* decoder = avcodec_find_decoder(static_cast<AVCodecID>(codec));
    if (!decoder || width <= 0 || height <= 0) {
        DecoderClose(d);
        return false;
    }
    {
        sys::Locker lock(CodecLock());
        d.context = avcodec_alloc_context3(decoder);
        if (d.context) {
            d.context->thread_count = DecoderThreads(width, height);
            // What the stream itself claims is held to the same bound as its header.
            d.context->max_pixels = static_cast<std::int64_t>(kMaxPictureSide) * kMaxPictureSide;
            d.context->thread_type = FF_THREAD_SLICE;
            avcodec_open2(d.context, decoder, nullptr);
        }
    }
    d.codec = codec;
    d.width = width;
    d.height = height;
    d.outputFormat = outputFormat;
    d.decoded = av_frame_alloc();
    d.output = av_frame_alloc();
    d.packet = av_packet_alloc();
    d.scaler = nullptr;
    d.outputSize = av_image_get_buffer_size(static_cast<AVPixelFormat>(outputFormat), width, height, 1);
    if (d.outputSize <= 0 || !d.decoded || !d.output || !d.packet) {
        DecoderClose(d);
        return false;
    }
    // The conversion buffer is made when a picture first needs converting;
    // the input buffer when the first frame comes, growing with the frames.
    return true;
}

void DecoderClose(DecoderState& d)
{
    if (d.context) {
        sys::Locker lock(CodecLock());
        avcodec_free_context(&d.context);
    }
    if (d.scaler)
        sws_freeContext(d.scaler);
    d.scaler = nullptr;
    av_frame_free(&d.decoded);
    av_frame_free(&d.output);
    av_packet_free(&d.packet);
    av_free(d.outputBuffer);
    d.outputBuffer = nullptr;
    av_buffer_unref(&d.input);
    d.width = 0;
    d.height = 0;
    d.outputSize = 0;
}

namespace {

// Sends one frame to FFmpeg and takes the picture it gives back into
// d.decoded (held until the next decode or the close).
bool decodeFrame(DecoderState& d, const std::uint8_t* payload, std::size_t size)
{
    if (!d.context || !d.packet || !d.decoded || !payload || size == 0)
        return false;
    if (!avcodec_is_open(d.context) || d.context->codec_id != static_cast<AVCodecID>(d.codec)) {
        d.width = 0;
        d.height = 0;
        return false;
    }
    if (size > kMaxPayloadBytes)
        return false; // dropped: never copied past the buffer
    // The payload goes to FFmpeg in a buffer it counts references to, so
    // that it keeps a reference rather than copying the frame again into
    // memory of its own; a buffer FFmpeg still holds is never written.
    const std::size_t padded = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!d.input || !av_buffer_is_writable(d.input) || static_cast<std::size_t>(d.input->size) < padded) {
        const std::size_t kept = d.input ? static_cast<std::size_t>(d.input->size) : 0;
        av_buffer_unref(&d.input);
        d.input = av_buffer_alloc(std::max(padded, kept));
        if (!d.input)
            return false;
    }
    std::memcpy(d.input->data, payload, size);
    std::memset(d.input->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);

    d.packet->buf = av_buffer_ref(d.input);
    if (!d.packet->buf)
        return false;
    d.packet->data = d.input->data;
    d.packet->size = static_cast<int>(size);
    int sent = avcodec_send_packet(d.context, d.packet);
    av_packet_unref(d.packet);
    if (sent < 0 && sent != AVERROR(EAGAIN))
        return false;
    return avcodec_receive_frame(d.context, d.decoded) >= 0;
}

// The decoded picture through the decoder's scaler into the output frame,
// in the output format at the probed size.
bool convertDecoded(DecoderState& d)
{
    if (!d.outputBuffer) {
        d.outputBuffer = static_cast<std::uint8_t*>(av_malloc(static_cast<std::size_t>(d.outputSize)));
        if (!d.outputBuffer)
            return false;
        av_image_fill_arrays(d.output->data, d.output->linesize, d.outputBuffer, static_cast<AVPixelFormat>(d.outputFormat), d.width, d.height, 1);
    }
    // One scaler for the decoder's life; a source that changes its own size
    // or format gets a fresh one.
    AVFrame* f = d.decoded;
    d.scaler = sws_getCachedContext(d.scaler, f->width, f->height, static_cast<AVPixelFormat>(f->format), d.width, d.height, static_cast<AVPixelFormat>(d.outputFormat),
        SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    return d.scaler && sws_scale(d.scaler, f->data, f->linesize, 0, f->height, d.output->data, d.output->linesize) > 0;
}

// The planar layouts the display converts straight from, with their chroma
// subsampling; JPEG's own formats are full range.
struct PlanarLayout {
    AVPixelFormat format;
    int shiftX;
    int shiftY;
    bool fullRange;
};
constexpr PlanarLayout kPlanarLayouts[] = {
    { AV_PIX_FMT_YUV420P, 1, 1, false },
    { AV_PIX_FMT_YUVJ420P, 1, 1, true },
    { AV_PIX_FMT_YUV422P, 1, 0, false },
    { AV_PIX_FMT_YUVJ422P, 1, 0, true },
    { AV_PIX_FMT_YUV444P, 0, 0, false },
    { AV_PIX_FMT_YUVJ444P, 0, 0, true },
};

void describeFrame(const AVFrame* f, const PlanarLayout& layout, gfx::YuvPicture& picture)
{
    for (int plane = 0; plane < 3; ++plane) {
        picture.planes[plane] = f->data[plane];
        picture.strides[plane] = f->linesize[plane];
    }
    picture.width = f->width;
    picture.height = f->height;
    picture.chromaShiftX = layout.shiftX;
    picture.chromaShiftY = layout.shiftY;
    picture.fullRange = layout.fullRange;
}

const PlanarLayout* planarLayout(int format)
{
    for (const PlanarLayout& layout : kPlanarLayouts)
        if (format == layout.format)
            return &layout;
    return nullptr;
}

}

std::size_t DecoderInputBytes(const DecoderState& d) { return d.input ? static_cast<std::size_t>(d.input->size) : 0; }

bool DecoderDecodePicture(DecoderState& d, const std::uint8_t* payload, std::size_t size, gfx::YuvPicture& picture)
{
    if (d.outputFormat != PixelFormat::Yuv420p || !decodeFrame(d, payload, size))
        return false;
    AVFrame* f = d.decoded;
    if (f->width == d.width && f->height == d.height) {
        if (const PlanarLayout* layout = planarLayout(f->format)) {
            describeFrame(f, *layout, picture);
            return true;
        }
    }
    // Another format, or a picture of another size than its header said:
    // converted to 4:2:0 at the probed size.
    if (!convertDecoded(d))
        return false;
    AVFrame converted {};
    converted.width = d.width;
    converted.height = d.height;
    for (int plane = 0; plane < 3; ++plane) {
        converted.data[plane] = d.output->data[plane];
        converted.linesize[plane] = d.output->linesize[plane];
    }
    describeFrame(&converted, kPlanarLayouts[0], picture);
    return true;
}

bool DecoderDecode(DecoderState& d, const std::uint8_t* payload, std::size_t size, std::uint8_t* output)
{
    if (!output || !decodeFrame(d, payload, size))
        return false;
    auto format = static_cast<AVPixelFormat>(d.outputFormat);
    AVFrame* f = d.decoded;
    bool plain = f->format == format && f->width == d.width && f->height == d.height;
    if (plain && format == AV_PIX_FMT_YUV420P) {
        // Packed planes, one after the other, rows without padding.
        std::size_t written = 0;
        const std::size_t limit = static_cast<std::size_t>(d.outputSize);
        for (int plane = 0; plane < 3; ++plane) {
            int w = plane ? d.width / 2 : d.width;
            int h = plane ? d.height / 2 : d.height;
            for (int y = 0; y < h; ++y) {
                if (written + static_cast<std::size_t>(w) > limit)
                    return false;
                std::memcpy(output + written, f->data[plane] + static_cast<std::ptrdiff_t>(y) * f->linesize[plane], static_cast<std::size_t>(w));
                written += static_cast<std::size_t>(w);
            }
        }
        return true;
    }
    if (plain && format == AV_PIX_FMT_BGRA) {
        std::size_t row = static_cast<std::size_t>(d.width) * 4;
        for (int y = 0; y < d.height; ++y)
            std::memcpy(output + row * static_cast<std::size_t>(y), f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0], row);
        return true;
    }
    if (!convertDecoded(d))
        return false;
    std::memcpy(output, d.outputBuffer, static_cast<std::size_t>(d.outputSize));
    return true;
}

}
