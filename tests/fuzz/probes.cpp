// Fuzz entry point: the picture-size probes of the decoder, over a frame's
// payload as the player hands it (the H.264 set from byte 5 when byte 4 is
// its NAL header) and over the bytes as they are.

#include "media/Decoder.h"

#include <cstdint>

namespace {
constexpr std::size_t kNalHeaderAt = 4;
constexpr std::uint8_t kSpsNalHeader = 0x67;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t width = 0, height = 0;
    media::ProbeH264Size(data, size, width, height);
    if (size > kNalHeaderAt + 1 && data[kNalHeaderAt] == kSpsNalHeader)
        media::ProbeH264Size(data + kNalHeaderAt + 1, size - kNalHeaderAt - 1, width, height);
    media::ProbeJpegSize(data, size, width, height);
    return 0;
}
