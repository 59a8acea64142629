// Fuzz entry point: what a standard camera's RTSP connection brings the
// library's own client: the session description, and the RTP packets that
// are joined into H.264 access units. The input is split at its first zero
// byte: the part before is the description (and the sprop parameter sets
// of its first track), the rest a run of packets, each a 16-bit big-endian
// length and the packet.

#include "kznet/Rtsp.h"

#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::rtsp;
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    std::size_t textSize = zero ? static_cast<std::size_t>(zero - data) : size;
    Description description;
    H264Assembler assembler;
    if (ParseSdp(std::string_view(reinterpret_cast<const char*>(data), textSize), description)) {
        assembler.SetParameterSets(description.tracks.front().parameterSets);
        ControlUrl("rtsp://127.0.0.1/live", description.tracks.front().control);
    }
    for (std::size_t at = textSize + 1; at + 2 <= size;) {
        std::size_t length = static_cast<std::size_t>((data[at] << 8) | data[at + 1]);
        at += 2;
        if (at + length > size)
            break;
        RtpPacket packet;
        if (ParseRtp(data + at, length, packet) && assembler.Push(packet))
            (void)assembler.Unit().size();
        at += length;
    }
    return 0;
}
