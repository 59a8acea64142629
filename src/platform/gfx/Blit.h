#pragma once
// The blit routines behind Surface::Blt and BltFast, on locked pixels.
//
// Every routine takes the caller's destination and source rectangles as
// they are and the rectangle of the destination it may write (`destClip`,
// already within the destination). The mapping from destination to source
// pixels is fixed by the two unclipped rectangles: destination pixel x reads
// source pixel sl + ((x - dl) * 2 + 1) * sw / (2 * dw) (the pixel whose
// centre is nearest, "colour on colour"); destination pixels whose source
// pixel falls outside the source surface, or that lie outside destClip, are
// left alone. So no rectangle can make a routine read or write outside a
// surface.
//
// ReferenceBlit is the plain, obviously correct version: one pixel at a
// time, colour conversion in floating point. FastBlit chooses a routine once
// per (source format, destination format, colour key, scale) and must give
// the same pixels (YUV conversion within kYuvTolerance).

#include "gfx/DirectDraw.h"
#include "gfx/Pixels.h"

#include <vector>

namespace gfx {

struct BlitParams {
    RECT dest;
    RECT source;
    RECT destClip;
    bool colorKey = false;
    DDCOLORKEY key {};
};

// Largest difference per colour channel between FastBlit's and
// ReferenceBlit's conversion from YUV: libswscale's table rounding.
constexpr int kYuvTolerance = 3;

// DDERR_INVALIDRECT for an inverted or empty rectangle; DDERR_UNSUPPORTED
// for a destination that is not in the display format.
HRESULT ReferenceBlit(const PixelView& dest, const PixelView& source, const BlitParams& params);
// `converter` is the source's cache (may be null: then one is made and
// freed for this call).
HRESULT FastBlit(const PixelView& dest, const PixelView& source, const BlitParams& params, ConverterCache* converter);

// Fills `rect` clipped to `clip` (both in the surface) with a display-format colour.
void FillPixels(const PixelView& dest, const RECT& rect, const RECT& clip, DWORD color);

// The destination pixels of one axis that a blit writes: [begin, end), and
// for each the source index. Empty when nothing is written.
struct AxisMap {
    int begin = 0;
    int end = 0;
    std::vector<int> source; // source[i] for destination begin + i
};
AxisMap MapAxis(LONG destLo, LONG destHi, LONG sourceLo, LONG sourceHi, LONG clipLo, LONG clipHi, int sourceLimit);

// The reference conversion of one YUV pixel to 0x00RRGGBB (BT.601, video range).
DWORD YuvToXrgb(int y, int u, int v);
// The pixel at (x, y) of any format, as 0x00RRGGBB (the X byte cleared).
DWORD ReadPixelAsXrgb(const PixelView& view, int x, int y);

}
