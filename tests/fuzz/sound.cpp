// Fuzz entry point: the sound a standard camera sends that the library
// decodes itself: an SDP encoding name for G.726 and the RTP payloads of
// the stream it names; and talk blocks of each coding. The input is split
// at its first zero byte: the part before is the encoding name, the rest a
// run of payloads, each an 8-bit length and the payload, which also go to
// the talk decoders as blocks.

#include "kznet/Protocol.h"
#include "kznet/SoundCodings.h"

#include <cstring>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::sound;
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    std::size_t nameSize = zero ? static_cast<std::size_t>(zero - data) : size;
    auto stream = G726Stream::Create(std::string_view(reinterpret_cast<const char*>(data), nameSize));
    TalkDecoder talk[] = { TalkDecoder(kz::kAudioPcm), TalkDecoder(kz::kAudioG726), TalkDecoder(kz::kAudioAdpcm) };
    std::vector<std::int16_t> out;
    for (std::size_t at = nameSize + 1; at < size;) {
        std::size_t length = data[at++];
        if (at + length > size)
            break;
        if (stream)
            stream->Decode(data + at, length, out);
        for (auto& t : talk)
            t.Decode(data + at, length, out);
        at += length;
    }
    AdpcmEncoder encoder;
    std::vector<std::uint8_t> coded((out.size() + 1) / 2);
    encoder.Encode(out.data(), out.size(), coded.data());
    for (std::int16_t s : out)
        (void)(MuLaw(s) ^ ALaw(s));
    return 0;
}
