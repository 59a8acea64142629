#pragma once
// Locked pixels of a surface, and the cached converter of a YUV surface.

#include "gfx/PixelFormat.h"

#include <cstdint>
#include <vector>

struct SwsContext;

namespace gfx {

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

}
