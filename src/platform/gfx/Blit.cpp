#include "gfx/Blit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

namespace gfx {

namespace {

// Rectangles wider or taller than this are refused: no surface is near it,
// and it keeps the mapping's products inside 64 bits.
constexpr std::int64_t kMaxRectExtent = 1 << 24;
// libswscale writes whole blocks of this many pixels a row.
constexpr int kConverterBlock = 16;

std::int64_t extent(LONG lo, LONG hi) { return static_cast<std::int64_t>(hi) - lo; }

bool validRect(const RECT& r)
{
    std::int64_t w = extent(r.left, r.right);
    std::int64_t h = extent(r.top, r.bottom);
    return w > 0 && h > 0 && w <= kMaxRectExtent && h <= kMaxRectExtent;
}

// Source index of destination index `d` on one axis.
std::int64_t sourceIndex(std::int64_t d, LONG destLo, LONG destHi, LONG sourceLo, LONG sourceHi)
{
    std::int64_t dw = extent(destLo, destHi);
    std::int64_t sw = extent(sourceLo, sourceHi);
    return sourceLo + ((d - destLo) * 2 + 1) * sw / (2 * dw);
}

std::uint8_t clampByte(double v)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

std::uint32_t* row32(const PixelView& v, int y) { return reinterpret_cast<std::uint32_t*>(v.data + static_cast<std::ptrdiff_t>(y) * v.pitch); }

bool keyed(DWORD pixel, const DDCOLORKEY& key)
{
    DWORD rgb = pixel & kRgbMask;
    return rgb >= (key.dwColorSpaceLowValue & kRgbMask) && rgb <= (key.dwColorSpaceHighValue & kRgbMask);
}

bool isYuv(PixelFormat f) { return f != PixelFormat::Xrgb8888; }

bool isIdentity(const AxisMap& m)
{
    return !m.source.empty() && m.source.back() - m.source.front() == static_cast<int>(m.source.size()) - 1;
}

// Display-format source: table-driven rows; identical neighbouring rows are
// copied from the row just written.
void blitXrgb(const PixelView& dest, const PixelView& source, const AxisMap& xs, const AxisMap& ys, const BlitParams& p)
{
    const int count = xs.end - xs.begin;
    const bool straight = isIdentity(xs);
    const int* table = xs.source.data();
    for (int i = 0; i < ys.end - ys.begin; ++i) {
        int y = ys.begin + i;
        std::uint32_t* d = row32(dest, y) + xs.begin;
        const std::uint32_t* s = row32(source, ys.source[static_cast<std::size_t>(i)]);
        if (!p.colorKey && i > 0 && ys.source[static_cast<std::size_t>(i)] == ys.source[static_cast<std::size_t>(i - 1)]) {
            std::memcpy(d, row32(dest, y - 1) + xs.begin, static_cast<std::size_t>(count) * 4);
            continue;
        }
        if (straight) {
            s += xs.source.front();
            if (!p.colorKey) {
                std::memmove(d, s, static_cast<std::size_t>(count) * 4);
                continue;
            }
            for (int x = 0; x < count; ++x) {
                if (!keyed(s[x], p.key))
                    d[x] = s[x];
            }
            continue;
        }
        if (!p.colorKey) {
            for (int x = 0; x < count; ++x)
                d[x] = s[table[x]];
            continue;
        }
        for (int x = 0; x < count; ++x) {
            std::uint32_t v = s[table[x]];
            if (!keyed(v, p.key))
                d[x] = v;
        }
    }
}

// Any YUV mapping, one pixel at a time.
void blitYuvGeneric(const PixelView& dest, const PixelView& source, const AxisMap& xs, const AxisMap& ys)
{
    for (int i = 0; i < ys.end - ys.begin; ++i) {
        std::uint32_t* d = row32(dest, ys.begin + i) + xs.begin;
        int sy = ys.source[static_cast<std::size_t>(i)];
        for (int x = 0; x < xs.end - xs.begin; ++x)
            d[x] = ReadPixelAsXrgb(source, xs.source[static_cast<std::size_t>(x)], sy);
    }
}

AVPixelFormat avFormat(PixelFormat f) { return f == PixelFormat::Yv12 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_UYVY422; }

// One-to-one YUV conversion through libswscale. Returns false when the
// rectangle does not start and end on the chroma grid: libswscale's
// generic path for odd sizes samples chroma off the pixel pairs, so those
// go pixel by pixel.
bool blitYuvConverted(const PixelView& dest, const PixelView& source, const AxisMap& xs, const AxisMap& ys, ConverterCache& cache)
{
    const int sx = xs.source.front();
    const int sy = ys.source.front();
    const int w = xs.end - xs.begin;
    const int h = ys.end - ys.begin;
    if ((sx & 1) || (w & 1) || (source.format == PixelFormat::Yv12 && ((sy & 1) || (h & 1))))
        return false;
    if (!cache.context || cache.width != w || cache.height != h || cache.format != source.format) {
        FreeConverter(cache);
        cache.context = sws_getContext(w, h, avFormat(source.format), w, h, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
        if (!cache.context)
            return false;
        cache.width = w;
        cache.height = h;
        cache.format = source.format;
    }
    const std::uint8_t* planes[3] {};
    int strides[3] {};
    if (source.format == PixelFormat::Yv12) {
        const LONG chromaPitch = source.pitch / 2;
        const std::uint8_t* v = source.data + static_cast<std::ptrdiff_t>(source.pitch) * source.height;
        const std::uint8_t* u = v + static_cast<std::ptrdiff_t>(chromaPitch) * ((source.height + 1) / 2);
        planes[0] = source.data + static_cast<std::ptrdiff_t>(sy) * source.pitch + sx;
        planes[1] = u + static_cast<std::ptrdiff_t>(sy / 2) * chromaPitch + sx / 2;
        planes[2] = v + static_cast<std::ptrdiff_t>(sy / 2) * chromaPitch + sx / 2;
        strides[0] = source.pitch;
        strides[1] = strides[2] = chromaPitch;
    } else {
        planes[0] = source.data + static_cast<std::ptrdiff_t>(sy) * source.pitch + sx * 2;
        strides[0] = source.pitch;
    }
    // libswscale writes whole blocks: straight into the destination only
    // when the row has room for them and nothing lies to the right.
    const int rounded = (w + kConverterBlock - 1) / kConverterBlock * kConverterBlock;
    const bool direct = xs.end == dest.width && static_cast<std::int64_t>(xs.begin + rounded) * 4 <= dest.pitch;
    if (direct) {
        std::uint8_t* out[1] { dest.data + static_cast<std::ptrdiff_t>(ys.begin) * dest.pitch + xs.begin * 4 };
        int outStride[1] { dest.pitch };
        sws_scale(cache.context, planes, strides, 0, h, out, outStride);
        return true;
    }
    cache.scratch.resize(static_cast<std::size_t>(rounded) * static_cast<std::size_t>(h));
    std::uint8_t* out[1] { reinterpret_cast<std::uint8_t*>(cache.scratch.data()) };
    int outStride[1] { rounded * 4 };
    sws_scale(cache.context, planes, strides, 0, h, out, outStride);
    for (int i = 0; i < h; ++i)
        std::memcpy(row32(dest, ys.begin + i) + xs.begin, cache.scratch.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(rounded), static_cast<std::size_t>(w) * 4);
    return true;
}

}

void FreeConverter(ConverterCache& converter)
{
    if (converter.context)
        sws_freeContext(converter.context);
    converter.context = nullptr;
    converter.width = converter.height = 0;
}

AxisMap MapAxis(LONG destLo, LONG destHi, LONG sourceLo, LONG sourceHi, LONG clipLo, LONG clipHi, int sourceLimit)
{
    AxisMap map;
    const LONG lo = std::max(destLo, clipLo);
    const LONG hi = std::min(destHi, clipHi);
    bool started = false;
    for (LONG d = lo; d < hi; ++d) {
        std::int64_t s = sourceIndex(d, destLo, destHi, sourceLo, sourceHi);
        if (s < 0 || s >= sourceLimit) {
            if (started)
                break; // the mapping only grows: nothing further is inside
            continue;
        }
        if (!started) {
            map.begin = d;
            started = true;
        }
        map.source.push_back(static_cast<int>(s));
    }
    map.end = map.begin + static_cast<int>(map.source.size());
    return map;
}

DWORD YuvToXrgb(int y, int u, int v)
{
    const double c = y - 16;
    const double d = u - 128;
    const double e = v - 128;
    const std::uint8_t r = clampByte(1.164383 * c + 1.596027 * e);
    const std::uint8_t g = clampByte(1.164383 * c - 0.391762 * d - 0.812968 * e);
    const std::uint8_t b = clampByte(1.164383 * c + 2.017232 * d);
    return (static_cast<DWORD>(r) << 16) | (static_cast<DWORD>(g) << 8) | b;
}

DWORD ReadPixelAsXrgb(const PixelView& view, int x, int y)
{
    switch (view.format) {
    case PixelFormat::Xrgb8888:
        return row32(view, y)[x] & kRgbMask;
    case PixelFormat::Yv12: {
        const LONG chromaPitch = view.pitch / 2;
        const std::uint8_t* vPlane = view.data + static_cast<std::ptrdiff_t>(view.pitch) * view.height;
        const std::uint8_t* uPlane = vPlane + static_cast<std::ptrdiff_t>(chromaPitch) * ((view.height + 1) / 2);
        const std::ptrdiff_t chroma = static_cast<std::ptrdiff_t>(y / 2) * chromaPitch + x / 2;
        return YuvToXrgb(view.data[static_cast<std::ptrdiff_t>(y) * view.pitch + x], uPlane[chroma], vPlane[chroma]);
    }
    case PixelFormat::Uyvy: {
        const std::uint8_t* pair = view.data + static_cast<std::ptrdiff_t>(y) * view.pitch + (x / 2) * 4;
        return YuvToXrgb(pair[1 + 2 * (x & 1)], pair[0], pair[2]);
    }
    }
    return 0;
}

void FillPixels(const PixelView& dest, const RECT& rect, const RECT& clip, DWORD color)
{
    RECT r = ui::Intersect(ui::Intersect(rect, clip), RECT { 0, 0, dest.width, dest.height });
    for (LONG y = r.top; y < r.bottom; ++y)
        std::fill_n(row32(dest, y) + r.left, r.right - r.left, color);
}

HRESULT ReferenceBlit(const PixelView& dest, const PixelView& source, const BlitParams& p)
{
    if (dest.format != PixelFormat::Xrgb8888 || (p.colorKey && isYuv(source.format)))
        return DDERR_UNSUPPORTED;
    if (!validRect(p.dest) || !validRect(p.source))
        return DDERR_INVALIDRECT;
    const LONG top = std::max<LONG>({ p.dest.top, p.destClip.top, 0 });
    const LONG bottom = std::min<LONG>({ p.dest.bottom, p.destClip.bottom, dest.height });
    const LONG left = std::max<LONG>({ p.dest.left, p.destClip.left, 0 });
    const LONG right = std::min<LONG>({ p.dest.right, p.destClip.right, dest.width });
    for (LONG y = top; y < bottom; ++y) {
        std::int64_t sy = sourceIndex(y, p.dest.top, p.dest.bottom, p.source.top, p.source.bottom);
        if (sy < 0 || sy >= source.height)
            continue;
        for (LONG x = left; x < right; ++x) {
            std::int64_t sx = sourceIndex(x, p.dest.left, p.dest.right, p.source.left, p.source.right);
            if (sx < 0 || sx >= source.width)
                continue;
            DWORD raw = source.format == PixelFormat::Xrgb8888 ? row32(source, static_cast<int>(sy))[sx] : ReadPixelAsXrgb(source, static_cast<int>(sx), static_cast<int>(sy));
            if (p.colorKey && keyed(raw, p.key))
                continue;
            row32(dest, y)[x] = raw;
        }
    }
    return DD_OK;
}

HRESULT FastBlit(const PixelView& dest, const PixelView& source, const BlitParams& p, ConverterCache* converter)
{
    if (dest.format != PixelFormat::Xrgb8888 || (p.colorKey && isYuv(source.format)))
        return DDERR_UNSUPPORTED;
    if (!validRect(p.dest) || !validRect(p.source))
        return DDERR_INVALIDRECT;
    const RECT clip = ui::Intersect(p.destClip, RECT { 0, 0, dest.width, dest.height });
    if (ui::IsEmpty(clip))
        return DD_OK;
    AxisMap xs = MapAxis(p.dest.left, p.dest.right, p.source.left, p.source.right, clip.left, clip.right, source.width);
    AxisMap ys = MapAxis(p.dest.top, p.dest.bottom, p.source.top, p.source.bottom, clip.top, clip.bottom, source.height);
    if (xs.source.empty() || ys.source.empty())
        return DD_OK;
    if (!isYuv(source.format)) {
        if (source.data == dest.data) {
            // A blit within one surface reads a copy, so overlapping rows are safe.
            std::vector<std::uint8_t> copy(source.data, source.data + static_cast<std::ptrdiff_t>(source.pitch) * source.height);
            PixelView from = source;
            from.data = copy.data();
            blitXrgb(dest, from, xs, ys, p);
        } else {
            blitXrgb(dest, source, xs, ys, p);
        }
        return DD_OK;
    }
    if (isIdentity(xs) && isIdentity(ys)) {
        ConverterCache local;
        bool done = blitYuvConverted(dest, source, xs, ys, converter ? *converter : local);
        FreeConverter(local);
        if (done)
            return DD_OK;
    }
    blitYuvGeneric(dest, source, xs, ys);
    return DD_OK;
}

}
