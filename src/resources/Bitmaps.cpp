#include "resources/Bitmaps.h"

#include "gfx/PixelFormat.h"

#include <array>
#include <cstdint>
#include <vector>

namespace resources {

namespace {

constexpr char kMarkerInk = 'o';
constexpr UINT kPlanes = 1;
constexpr UINT kBitsPerPixel = 32;

// 'o' is the marker's colour, '.' the colour key.
constexpr std::array<const char*, kPtzMarkerHeight> kPtzMarker = {
    "......................",
    "......................",
    "..........oo..........",
    "..........oo..........",
    ".........oooo.........",
    ".......oooooooo.......",
    "......oo..oo..oo......",
    ".....oo...oo...oo.....",
    "....oo....oo....oo....",
    "....o............o....",
    "....o............o....",
    "..oooooo..oo..oooooo..",
    "....o............o....",
    "....o............o....",
    "....oo....oo....oo....",
    ".....oo...oo...oo.....",
    "......oo..oo..oo......",
    ".......oooooooo.......",
    ".........oooo.........",
    "..........oo..........",
    "..........oo..........",
    "......................",
    "......................",
};

}

gfx::HBITMAP LoadBitmap(int id)
{
    if (id != kBitmapPtzMarker)
        return nullptr;
    // CreateBitmap takes rows top-down, one 32-bit word a pixel, bytes
    // B G R X: the display format's 0x00RRGGBB words.
    std::vector<std::uint32_t> bits(static_cast<std::size_t>(kPtzMarkerWidth) * kPtzMarkerHeight);
    for (int y = 0; y < kPtzMarkerHeight; ++y)
        for (int x = 0; x < kPtzMarkerWidth; ++x)
            bits[static_cast<std::size_t>(y * kPtzMarkerWidth + x)] = gfx::XrgbFromColorRef(kPtzMarker[static_cast<std::size_t>(y)][x] == kMarkerInk ? kPtzMarkerColor : kPtzMarkerKey);
    return gfx::CreateBitmap(kPtzMarkerWidth, kPtzMarkerHeight, kPlanes, kBitsPerPixel, bits.data());
}

}
