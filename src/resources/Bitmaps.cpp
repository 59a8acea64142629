#include "resources/Bitmaps.h"

#include <cstdint>
#include <vector>

namespace resources {

namespace {

constexpr std::uint32_t kMarkerColour = 0x00FFFF00; // yellow, as B G R X bytes read little-endian
constexpr int kBitsPerPixel = 32;

}

gfx::HBITMAP LoadBitmap(int id)
{
    if (id != kBitmapPtzMarker)
        return nullptr;
    // A cross with a ring, on black.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kPtzMarkerWidth * kPtzMarkerHeight), 0);
    const int cx = kPtzMarkerWidth / 2, cy = kPtzMarkerHeight / 2;
    for (int y = 1; y < kPtzMarkerHeight - 1; ++y)
        for (int x = 1; x < kPtzMarkerWidth - 1; ++x) {
            const int dx = x - cx, dy = y - cy, d2 = dx * dx + dy * dy;
            if (x == cx || y == cy || (d2 >= 49 && d2 <= 64))
                pixels[static_cast<std::size_t>(y * kPtzMarkerWidth + x)] = kMarkerColour;
        }
    return gfx::CreateBitmap(kPtzMarkerWidth, kPtzMarkerHeight, 1, kBitsPerPixel, pixels.data());
}

}
