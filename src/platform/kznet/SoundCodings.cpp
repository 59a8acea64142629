#include "kznet/SoundCodings.h"

#include "kznet/Protocol.h"
#include "sys/ImaAdpcmStep.h"

#include <spandsp.h>

#include <algorithm>
#include <charconv>
#include <strings.h>

namespace kz::sound {

namespace {

constexpr int kMuLawBias = 0x84;
constexpr int kMuLawClip = 32635;
constexpr int kALawClip = 32767;
constexpr std::uint8_t kALawToggle = 0x55; // even bits inverted on the line

// The talk codings' block contract (our camera's).
constexpr int kG726TalkBitRate = 16000;
constexpr std::size_t kG726TalkBlockBytes = kTalkBlockG726;
constexpr std::size_t kAdpcmTalkBlockBytes = kTalkBlockAdpcm;

// G.726 by SDP name: "G726-32", "AAL2-G726-32" (any case).
constexpr std::string_view kAal2Prefix = "AAL2-";
constexpr std::string_view kG726Prefix = "G726-";
constexpr int kG726Rates[] = { 16000, 24000, 32000, 40000 };

// Telling the bit orders apart: a quarter of a second of sound that is not
// near silence.
constexpr std::size_t kDecideSamples = 2000;
constexpr std::size_t kMaxUndecidedSamples = 8000 * 4; // past this, the name decides
constexpr double kQuietEnergy = 64.0 * 64.0;          // mean square below this is near silence
constexpr int kPredictorOrder = 8;

// What a linear predictor of kPredictorOrder leaves unpredicted, as a share
// of the sound's energy (Levinson-Durbin on the autocorrelation). A tone
// of any pitch, or a voice, is predicted almost wholly; codes decoded in
// the wrong order add an error that no predictor follows.
double unpredictedShare(const std::vector<std::int16_t>& s)
{
    double r[kPredictorOrder + 1] = {};
    for (int lag = 0; lag <= kPredictorOrder; ++lag)
        for (std::size_t i = static_cast<std::size_t>(lag); i < s.size(); ++i)
            r[lag] += static_cast<double>(s[i]) * s[i - static_cast<std::size_t>(lag)];
    if (r[0] <= 0)
        return 1;
    double a[kPredictorOrder + 1] = { 1 };
    double error = r[0];
    for (int m = 1; m <= kPredictorOrder; ++m) {
        double acc = r[m];
        for (int i = 1; i < m; ++i)
            acc += a[i] * r[m - i];
        double k = -acc / error;
        double next[kPredictorOrder + 1];
        std::copy(std::begin(a), std::end(a), std::begin(next));
        for (int i = 1; i < m; ++i)
            next[i] = a[i] + k * a[m - i];
        next[m] = k;
        std::copy(std::begin(next), std::end(next), std::begin(a));
        error *= 1 - k * k;
        if (error <= 0)
            return 0;
    }
    return error / r[0];
}

double meanSquare(const std::vector<std::int16_t>& s)
{
    double energy = 0;
    for (std::int16_t v : s)
        energy += static_cast<double>(v) * v;
    return s.empty() ? 0 : energy / static_cast<double>(s.size());
}

}

std::uint8_t MuLaw(std::int16_t sample)
{
    int s = sample;
    int sign = s < 0 ? 0x80 : 0;
    if (sign)
        s = -s;
    s = std::min(s, kMuLawClip) + kMuLawBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    return static_cast<std::uint8_t>(~(sign | (exponent << 4) | ((s >> (exponent + 3)) & 0x0F)));
}

std::uint8_t ALaw(std::int16_t sample)
{
    int s = sample;
    int sign = s >= 0 ? 0x80 : 0;
    if (!sign)
        s = -s - 1;
    s = std::min(s, kALawClip) >> 3; // 13-bit magnitude
    int exponent = 0;
    while (s >= (32 << exponent) && exponent < 7)
        ++exponent;
    int mantissa = exponent == 0 ? (s >> 1) & 0x0F : (s >> exponent) & 0x0F;
    return static_cast<std::uint8_t>((sign | (exponent << 4) | mantissa) ^ kALawToggle);
}

Voice VoiceOf(std::string_view encoding)
{
    if (encoding.size() == 4 && strncasecmp(encoding.data(), "PCMU", 4) == 0)
        return Voice::MuLaw;
    if (encoding.size() == 4 && strncasecmp(encoding.data(), "PCMA", 4) == 0)
        return Voice::ALaw;
    return Voice::None;
}

void AdpcmEncoder::Encode(const std::int16_t* samples, std::size_t count, std::uint8_t* out)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t code = sys::ImaEncodeStep(samples[i], m_predictor, m_index);
        if (i % 2 == 0)
            out[i / 2] = static_cast<std::uint8_t>(code << 4); // the first of a pair in the high nibble
        else
            out[i / 2] |= code;
    }
}

bool TalkDecoder::Decode(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out)
{
    if (!data || size == 0)
        return false;
    switch (m_coding) {
    case kAudioPcm:
        if (size % 2 != 0)
            return false;
        for (std::size_t i = 0; i < size; i += 2)
            out.push_back(static_cast<std::int16_t>(data[i] | (data[i + 1] << 8)));
        return true;
    case kAudioG726: {
        if (size % kG726TalkBlockBytes != 0)
            return false;
        for (std::size_t at = 0; at < size; at += kG726TalkBlockBytes) {
            g726_state_t* coder = g726_init(nullptr, kG726TalkBitRate, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
            if (!coder)
                return false;
            std::size_t first = out.size();
            out.resize(first + kG726TalkBlockBytes * 8 / 2); // four 2-bit codes a byte
            int n = g726_decode(coder, out.data() + first, data + at, static_cast<int>(kG726TalkBlockBytes));
            out.resize(first + static_cast<std::size_t>(std::max(n, 0)));
            g726_free(coder);
        }
        return true;
    }
    case kAudioAdpcm:
        if (size % kAdpcmTalkBlockBytes != 0)
            return false;
        for (std::size_t i = 0; i < size; ++i) {
            out.push_back(sys::ImaDecodeStep(data[i] >> 4, m_predictor, m_index));
            out.push_back(sys::ImaDecodeStep(data[i] & 0x0F, m_predictor, m_index));
        }
        return true;
    default:
        return false;
    }
}

std::unique_ptr<G726Stream> G726Stream::Create(std::string_view encoding)
{
    bool aal2 = encoding.size() > kAal2Prefix.size() && strncasecmp(encoding.data(), kAal2Prefix.data(), kAal2Prefix.size()) == 0;
    if (aal2)
        encoding.remove_prefix(kAal2Prefix.size());
    if (encoding.size() <= kG726Prefix.size() || strncasecmp(encoding.data(), kG726Prefix.data(), kG726Prefix.size()) != 0)
        return nullptr;
    encoding.remove_prefix(kG726Prefix.size());
    int kbits = 0;
    auto [end, error] = std::from_chars(encoding.data(), encoding.data() + encoding.size(), kbits);
    if (error != std::errc() || end != encoding.data() + encoding.size())
        return nullptr;
    int rate = kbits * 1000;
    if (std::find(std::begin(kG726Rates), std::end(kG726Rates), rate) == std::end(kG726Rates))
        return nullptr;
    std::unique_ptr<G726Stream> stream(new G726Stream);
    stream->m_bitRate = rate;
    stream->m_aal2 = g726_init(nullptr, rate, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    if (!aal2)
        stream->m_rfc = g726_init(nullptr, rate, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    if (!stream->m_aal2 || (!aal2 && !stream->m_rfc))
        return nullptr;
    if (aal2)
        stream->m_packing = Packing::Aal2;
    return stream;
}

G726Stream::~G726Stream()
{
    if (m_rfc)
        g726_free(m_rfc);
    if (m_aal2)
        g726_free(m_aal2);
}

void G726Stream::Decode(const std::uint8_t* payload, std::size_t size, std::vector<std::int16_t>& out)
{
    if (!payload || size == 0)
        return;
    const std::size_t samples = size * 8 / static_cast<std::size_t>(m_bitRate / 8000);
    auto decodeInto = [&](g726_state_s* coder, std::vector<std::int16_t>& into) {
        std::size_t first = into.size();
        into.resize(first + samples);
        int n = g726_decode(coder, into.data() + first, payload, static_cast<int>(size));
        into.resize(first + static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(samples))));
    };
    if (m_packing == Packing::Aal2) {
        decodeInto(m_aal2, out);
        return;
    }
    if (m_packing == Packing::Rfc3551) {
        decodeInto(m_rfc, out);
        return;
    }
    decodeInto(m_rfc, m_heldRfc);
    decodeInto(m_aal2, m_heldAal2);
    if (m_heldRfc.size() < kDecideSamples)
        return;
    bool heard = meanSquare(m_heldRfc) > kQuietEnergy && meanSquare(m_heldAal2) > kQuietEnergy;
    if (!heard && m_heldRfc.size() < kMaxUndecidedSamples)
        return;
    // Near silence all along: the name decides.
    m_packing = heard && unpredictedShare(m_heldAal2) < unpredictedShare(m_heldRfc) ? Packing::Aal2 : Packing::Rfc3551;
    const auto& chosen = m_packing == Packing::Aal2 ? m_heldAal2 : m_heldRfc;
    out.insert(out.end(), chosen.begin(), chosen.end());
    m_heldRfc = {};
    m_heldAal2 = {};
}

}
