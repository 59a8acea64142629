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

namespace {

// The camera's parts, in icon pixels.
constexpr RECT kIconBody { 3, 9, 29, 27 };
constexpr RECT kIconViewfinder { 8, 5, 16, 9 };
constexpr POINT kIconLensCentre { 16, 18 };
constexpr int kIconLensRadius = 6;
constexpr int kIconLensRing = 2; // the body's colour inside the lens, this wide
constexpr RECT kIconLight { 23, 11, 26, 14 };

bool inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

}

gfx::HBITMAP LoadIcon(int id, COLORREF background)
{
    if (id != kIconModule)
        return nullptr;
    std::vector<std::uint32_t> bits(static_cast<std::size_t>(kIconSize) * kIconSize);
    for (int y = 0; y < kIconSize; ++y) {
        for (int x = 0; x < kIconSize; ++x) {
            const int dx = x - kIconLensCentre.x;
            const int dy = y - kIconLensCentre.y;
            const int distance2 = dx * dx + dy * dy;
            COLORREF colour = background;
            if (inside(kIconBody, x, y) || inside(kIconViewfinder, x, y))
                colour = kIconBodyColor;
            if (distance2 <= kIconLensRadius * kIconLensRadius && distance2 > (kIconLensRadius - kIconLensRing) * (kIconLensRadius - kIconLensRing))
                colour = background;
            else if (distance2 <= (kIconLensRadius - kIconLensRing) * (kIconLensRadius - kIconLensRing))
                colour = kIconLensColor;
            if (inside(kIconLight, x, y))
                colour = kIconLightColor;
            bits[static_cast<std::size_t>(y * kIconSize + x)] = gfx::XrgbFromColorRef(colour);
        }
    }
    return gfx::CreateBitmap(kIconSize, kIconSize, kPlanes, kBitsPerPixel, bits.data());
}

}
