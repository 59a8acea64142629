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

// A decoded picture in the decoder's own memory: 8-bit planes Y, U (Cb)
// and V (Cr), each chroma sample covering 1 << chromaShiftX by
// 1 << chromaShiftY pixels (4:2:0 is 1, 1; 4:2:2 is 1, 0; 4:4:4 is 0, 0);
// chroma planes hold (width + (1 << shift) - 1) >> shift samples a row.
struct YuvPicture {
    const std::uint8_t* planes[3] {};
    int strides[3] {};
    int width = 0;
    int height = 0;
    int chromaShiftX = 1;
    int chromaShiftY = 1;
    bool fullRange = false; // JPEG levels; else video range
};

// Blits of a YuvPicture into display-format pixels with the same mapping,
// rectangle and clipping rules as the blits between surfaces: the
// reference one pixel at a time in floating point, the fast one converting
// only the destination pixels (within kYuvTolerance of the reference).
HRESULT ReferencePictureBlit(const PixelView& dest, const YuvPicture& source, const BlitParams& params);
HRESULT FastPictureBlit(const PixelView& dest, const YuvPicture& source, const BlitParams& params);
// A second destination of a picture blit: every pixel the blit writes at
// (x, y) of its destination it also writes at (x + dx, y + dy) here. The
// caller makes sure that the part written lies within `view`.
struct PictureMirror {
    PixelView view;
    LONG dx = 0;
    LONG dy = 0;
};
// As FastPictureBlit, writing `mirror` too. Each row is converted once, in
// the caches, and goes to both places around them: a view showing its
// picture on the screen at once writes it where it keeps it and on the
// screen, rather than reading it back to present it.
HRESULT FastPictureBlitMirrored(const PixelView& dest, const YuvPicture& source, const BlitParams& params, const PictureMirror& mirror);

// The widest vector instructions the picture conversions use: the
// processor's own unless lowered, as tests lower it to check the narrower
// paths on a machine that has the wider ones.
enum class VectorLevel { Plain, Ssse3, Avx2, Avx512 };
void LimitVectorLevel(VectorLevel most);

// The destination pixels of a blit from `sourceRect` to `destRect` whose
// source pixel lies in `sourceBox`; empty when none does.
RECT DestPixelsReading(const RECT& destRect, const RECT& sourceRect, const RECT& sourceBox);

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
// The same for JPEG's full-range YUV.
DWORD FullRangeYuvToXrgb(int y, int u, int v);
// The pixel at (x, y) of any format, as 0x00RRGGBB (the X byte cleared).
DWORD ReadPixelAsXrgb(const PixelView& view, int x, int y);

}
