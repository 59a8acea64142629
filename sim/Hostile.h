#pragma once
// What a broken or malicious camera sends, for tests of the control's
// defences: H.264 frames whose parameter set claims any picture size (up to
// the 16000 x 16000 that FFmpeg still accepts), and wire messages that are
// cut short, longer than the protocol allows, or plain garbage. The camera
// sends them through Camera::ClaimSizes and Camera::SendRaw; these builders
// are also usable on their own.

#include "kznet/Wire.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct PictureSize {
    int width = 0;
    int height = 0;
};

// What a size claim carries besides its parameter sets.
enum class ClaimContent {
    Picture,   // a whole key frame of flat grey at the claimed size: it decodes
    ParamsOnly // the sequence and picture parameter sets only: a bare claim
};

// Live channels send, instead of the pattern, one H.264 key frame every
// `periodMs`, cycling through `sizes` (each with its own sequence parameter
// set). No sizes: the pattern as configured.
struct SizeClaims {
    std::vector<PictureSize> sizes;
    int periodMs = 50;
    ClaimContent content = ClaimContent::Picture;
};

// The largest side a claim may have. FFmpeg itself still takes a parameter
// set of 16000 x 16000; larger claims test the control's own limits.
constexpr int kMaxClaimSide = 65536;

// One H.264 access unit (Annex B, four-byte start codes) of Baseline profile:
// a sequence parameter set for `size` (any even size from 2 x 2 to
// kMaxClaimSide, cropped from whole macroblocks), a picture parameter set
// and, with ClaimContent::Picture, an IDR slice of flat grey (one byte per
// macroblock, so a 16000 x 16000 frame is about 1 MB). Empty for a size out
// of range, or a picture that would not fit one frame message. The set
// begins at byte 5, as the control's size probe reads it.
std::vector<std::uint8_t> SizeClaimFrame(PictureSize size, ClaimContent content);

// A whole wire message of `kind` whose header declares all of `payload` but
// that carries only its first `keep` bytes (the peer waits for the rest, or
// reads what follows as part of it).
std::vector<std::uint8_t> TruncatedMessage(kz::wire::Kind kind, const std::vector<std::uint8_t>& payload, std::size_t keep);

// A message header of `kind` declaring `length` payload bytes, followed by
// `sent` bytes of filler (a length beyond kz::wire::kMaxPayload, or beyond
// kMaxControlPayload for a control message, ends a conforming peer's link).
std::vector<std::uint8_t> OversizedMessage(kz::wire::Kind kind, std::uint32_t length, std::size_t sent = 0);

}
