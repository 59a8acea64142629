#pragma once
// Locked pixels of a surface, the cached converter of a YUV surface, and
// the blend of anti-aliased text into display-format pixels.

#include "gfx/PixelFormat.h"

#include <cstdint>
#include <vector>

struct SwsContext;

namespace gfx {

// The colour (XRGB, the top byte not counted) of a picture's place on the
// screen while a viewer elsewhere draws its video there itself: that
// viewer's presenter sends it as transparent over the video.
constexpr std::uint32_t kPassThroughKey = 0x00030201u;
constexpr std::uint32_t kPassThroughKeyMask = 0x00FFFFFFu;

// A view of a surface's pixels while its lock is held.
struct PixelView {
    PixelFormat format = PixelFormat::Xrgb8888;
    std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    LONG pitch = 0;
};

// A libswscale context kept by a YUV source surface for its blits (guarded
// by that surface's lock), with a scratch picture for conversions whose
// destination cannot take libswscale's whole-block writes.
struct ConverterCache {
    SwsContext* context = nullptr;
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::Xrgb8888;
    std::vector<std::uint32_t> scratch;
};
void FreeConverter(ConverterCache& converter);

// `over` laid on `under` (both XRGB) with a coverage of 0 (none) to 255 (all).
inline std::uint32_t BlendXrgb(std::uint32_t under, std::uint32_t over, int coverage)
{
    constexpr int kFull = 255;
    std::uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int s = static_cast<int>((over >> shift) & 0xFF);
        const int o = static_cast<int>((under >> shift) & 0xFF);
        out |= static_cast<std::uint32_t>((s * coverage + o * (kFull - coverage) + kFull / 2) / kFull) << shift;
    }
    return out;
}

}
