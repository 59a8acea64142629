#pragma once
// The video decoder of one stream player: finds the picture size in the
// bitstream (the H.264 sequence parameter set, the JPEG SOF0 marker),
// decodes one compressed frame at a time with FFmpeg and delivers the
// picture as planar YUV 4:2:0 or as 32-bit BGRA.
//
// Threads: one decoder serves one player's callback thread; opening and
// closing are serialised across all players by the process-wide codec lock.

#include "gfx/Blit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sys {
class CriticalSection;
}

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace media {

// FFmpeg's numbers (this FFmpeg's) for the formats and codecs the control asks for.
enum class PixelFormat : std::int32_t { Yuv420p = 0, Bgra = 28 };
enum class Codec : std::int32_t { H264 = 27, Mjpeg = 7, H265 = 173 };

// Pictures up to 1280 x 720 decode on the frame's own thread; larger ones
// also on FFmpeg's slice threads, one a core up to kMaxSliceThreads. Slice
// threads add no delay (frame threads would hold every picture back a
// frame); a stream of one slice a picture simply does not use them.
constexpr std::int64_t kSingleThreadPixels = 1280 * 720;
constexpr int kMaxSliceThreads = 4;
int DecoderThreads(int width, int height);

// The largest picture side taken. No camera of this kind sends more than
// 4096 x 4096; a frame whose header claims more is dropped before a
// surface, decoder or buffer is made for it (a 25-byte frame could
// otherwise claim gigabytes).
constexpr std::uint32_t kMaxPictureSide = 4096;

// The largest compressed frame the decoder takes; a larger one is dropped.
constexpr std::size_t kMaxPayloadBytes = 16u << 20;

struct DecoderState {
    AVBufferRef* input = nullptr; // the payload with FFmpeg's padding; grows with the frames
    AVCodecContext* context = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* output = nullptr;
    AVPacket* packet = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t outputSize = 0;
    std::uint8_t* outputBuffer = nullptr; // made at the first conversion
    PixelFormat outputFormat = PixelFormat::Yuv420p;
    Codec codec = Codec::H264;

    DecoderState() = default;
    ~DecoderState();
    DecoderState(const DecoderState&) = delete;
    DecoderState& operator=(const DecoderState&) = delete;
};

// The picture size of an H.264 sequence parameter set: `sps` points at the
// byte after the NAL header 0x67. False when the set ends before the size.
bool ProbeH264Size(const std::uint8_t* sps, std::size_t size, std::uint32_t& width, std::uint32_t& height);

// The picture size of a JPEG's first start-of-frame marker (baseline,
// extended, progressive, lossless and the other codings: SOF0 to SOF15
// without DHT, JPG and DAC). False without one before the scan, or when
// the data is not a JPEG; whether the decoder reads that coding is for it
// to say.
bool ProbeJpegSize(const std::uint8_t* data, std::size_t size, std::uint32_t& width, std::uint32_t& height);

// The process-wide lock around opening and closing decoder contexts
// ("codecLock"), made when the module loads.
sys::CriticalSection& CodecLock();

// The bytes the decoder's input buffer holds (0 before the first frame).
std::size_t DecoderInputBytes(const DecoderState& decoder);

bool DecoderOpen(DecoderState& decoder, Codec codec, int width, int height, PixelFormat outputFormat);
void DecoderClose(DecoderState& decoder);

// Decodes one frame into `output`, which holds decoder.outputSize bytes.
// True when a picture was written.
bool DecoderDecode(DecoderState& decoder, const std::uint8_t* payload, std::size_t size, std::uint8_t* output);
// Decodes one frame of a decoder opened for YUV 4:2:0 and describes the
// picture where it lies: FFmpeg's own planes (4:2:0, 4:2:2 or 4:4:4, video
// or JPEG range), or the decoder's conversion buffer for other formats.
// Valid until the next decode or the close. True when there is a picture.
bool DecoderDecodePicture(DecoderState& decoder, const std::uint8_t* payload, std::size_t size, gfx::YuvPicture& picture);

}
