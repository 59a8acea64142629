#pragma once
// The sound codings the standards dialect turns into, and out of, the
// 8 kHz 16-bit PCM of our records: G.711 (mu-law and A-law) for the ONVIF
// back channel, the login's talk codings (G.726 at 16 kbit/s, IMA ADPCM)
// decoded back to PCM, IMA ADPCM for a login that asked for it, and G.726
// from a camera's RTP stream in either bit order. Plain functions and small value types; one object per stream, any
// thread.
//
// The library sits below the control's audio layer, so it keeps its own
// decoders for the two talk codings; both follow the block contract of our
// camera (G.726: 120 bytes to 480 samples from a fresh coder state, the
// first code in the top bits; IMA ADPCM: 160 bytes to 320 samples, the
// state running on, the first sample in the high nibble).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

struct g726_state_s;

namespace kz::sound {

std::uint8_t MuLaw(std::int16_t sample);
std::uint8_t ALaw(std::int16_t sample);

// The back channel's codings, by RTP payload type (static: RFC 3551).
enum class Voice { None, MuLaw, ALaw };
constexpr std::uint8_t kPayloadMuLaw = 0;
constexpr std::uint8_t kPayloadALaw = 8;
// What a back channel announcing `encoding` takes; None for any other.
Voice VoiceOf(std::string_view encoding);

// IMA ADPCM as our camera sends it: the state runs on from call to call.
class AdpcmEncoder {
public:
    // Codes `count` samples into (count + 1) / 2 bytes of `out`.
    void Encode(const std::int16_t* samples, std::size_t count, std::uint8_t* out);

private:
    std::int32_t m_predictor = 0;
    std::int32_t m_index = 0;
};

// Turns one talk block of the login's coding (kAudioPcm, kAudioG726,
// kAudioAdpcm) into PCM samples appended to `out`; false for a block that
// is not one of that coding.
class TalkDecoder {
public:
    explicit TalkDecoder(int coding) : m_coding(coding) { }
    bool Decode(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out);

private:
    int m_coding;
    std::int32_t m_predictor = 0; // IMA ADPCM state, kept from block to block
    std::int32_t m_index = 0;
};

// G.726 from an RTP stream. RFC 3551 packs the codes from the least
// significant bits up ("G726-32"); ATM's AAL2 packing, which many cameras
// send under the RFC's name too, from the most significant bits down
// ("AAL2-G726-32"). A stream named for AAL2 is taken as it says; one named
// for the RFC is decoded both ways until a quarter of a second of sound
// tells them apart: the wrong order adds an error to a voice or a tone that
// a linear predictor cannot follow, so the order whose sound is the more
// predictable is the camera's.
class G726Stream {
public:
    enum class Packing { Rfc3551, Aal2, Unknown };
    // `encoding` is the SDP's name ("G726-32", "AAL2-G726-16", ...). Null
    // for a name that is not G.726 at 16, 24, 32 or 40 kbit/s.
    static std::unique_ptr<G726Stream> Create(std::string_view encoding);
    ~G726Stream();
    G726Stream(const G726Stream&) = delete;
    G726Stream& operator=(const G726Stream&) = delete;

    // Decodes one RTP payload; the samples decided so far are appended to
    // `out` (none while the bit order is still being told).
    void Decode(const std::uint8_t* payload, std::size_t size, std::vector<std::int16_t>& out);
    Packing Chosen() const { return m_packing; }

private:
    G726Stream() = default;
    int m_bitRate = 0;
    Packing m_packing = Packing::Unknown;
    g726_state_s* m_rfc = nullptr;
    g726_state_s* m_aal2 = nullptr;
    std::vector<std::int16_t> m_heldRfc; // decoded while the order is unknown
    std::vector<std::int16_t> m_heldAal2;
};

}
