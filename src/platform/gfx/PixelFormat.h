#pragma once
// Pixel formats of surfaces and their four-character codes.
//
// Xrgb8888: one 32-bit word per pixel, 0x00RRGGBB (bytes B, G, R, X), the
// display format and the layout of top-down BGRA bitmaps.
// Yv12: planar 4:2:0, a Y plane of `pitch` bytes a row, then the V plane and
// the U plane, each of (height + 1) / 2 rows of pitch / 2 bytes.
// Uyvy: packed 4:2:2, bytes U Y0 V Y1 for each pair of pixels.

#include "sys/Types.h"

namespace gfx {

enum class PixelFormat { Xrgb8888, Yv12, Uyvy };

constexpr DWORD MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8)
        | (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

constexpr DWORD kFourCCYv12 = MakeFourCC('Y', 'V', '1', '2');
constexpr DWORD kFourCCUyvy = MakeFourCC('U', 'Y', 'V', 'Y');

// The XRGB colour of a COLORREF-style 0x00BBGGRR value.
constexpr DWORD XrgbFromColorRef(DWORD c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }
constexpr DWORD kRgbMask = 0x00FFFFFF;

}
