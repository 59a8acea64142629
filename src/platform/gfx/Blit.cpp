#include "gfx/Blit.h"

#include "sys/CrashHandler.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

extern "C" {
#include <libswscale/swscale.h>
}

namespace gfx {

namespace {

std::atomic<int> g_vectorLimit { static_cast<int>(VectorLevel::Avx512) };
bool vectorsUpTo(VectorLevel level) { return g_vectorLimit.load(std::memory_order_relaxed) >= static_cast<int>(level); }

// Rectangles wider or taller than this are refused: no surface is near it,
// and it keeps the mapping's products inside 64 bits.
constexpr std::int64_t kMaxRectExtent = 1 << 24;
// libswscale writes whole blocks of this many pixels a row.
constexpr int kConverterBlock = 16;

std::int64_t extent(LONG lo, LONG hi) { return static_cast<std::int64_t>(hi) - lo; }

constexpr std::size_t kCacheLine = 64;

// Asks for `bytes` from `from` to be brought into the caches.
void prefetchBytes(const std::uint8_t* from, std::size_t bytes)
{
    if (bytes == 0)
        return;
    for (std::size_t at = 0; at < bytes; at += kCacheLine)
        __builtin_prefetch(from + at);
    __builtin_prefetch(from + bytes - 1);
}

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

// Rows at least this long are copied around the caches.
constexpr std::size_t kStreamCopyBytes = 1024;

// Bytes from `p` to the next `boundary` (0 when `p` lies on one).
std::size_t bytesToBoundary(const void* p, std::size_t boundary)
{
    return (boundary - reinterpret_cast<std::uintptr_t>(p) % boundary) % boundary;
}

#if defined(__x86_64__) || defined(__i386__)
// Copies `bytes` (a multiple of 4) with stores that go around the caches
// from the first 64-byte boundary of the destination on: a blit onto the
// screen writes lines nobody on this thread reads again, which plain
// stores would first read. The caller fences once after its rows.
__attribute__((target("avx512f"))) void streamRowAvx512(std::uint8_t* d, const std::uint8_t* s, std::size_t bytes)
{
    constexpr std::size_t kStep = sizeof(__m512i);
    const std::size_t head = std::min(bytes, bytesToBoundary(d, kStep));
    std::memcpy(d, s, head);
    std::size_t at = head;
    for (; at + kStep <= bytes; at += kStep)
        _mm512_stream_si512(reinterpret_cast<__m512i*>(d + at), _mm512_loadu_si512(s + at));
    std::memcpy(d + at, s + at, bytes - at);
}
bool streamCopyAvailable()
{
    static const bool available = __builtin_cpu_supports("avx512f");
    return available && vectorsUpTo(VectorLevel::Avx512);
}
void copyFence() { _mm_sfence(); }
#else
void streamRowAvx512(std::uint8_t* d, const std::uint8_t* s, std::size_t bytes) { std::memcpy(d, s, bytes); }
bool streamCopyAvailable() { return false; }
void copyFence() { }
#endif

// Copies a row of `bytes` (a multiple of 4) around the caches where that
// is possible and the row is long enough to gain by it.
void copyRowAround(std::uint32_t* d, const std::uint32_t* s, std::size_t bytes)
{
    if (bytes >= kStreamCopyBytes && streamCopyAvailable())
        streamRowAvx512(reinterpret_cast<std::uint8_t*>(d), reinterpret_cast<const std::uint8_t*>(s), bytes);
    else
        std::memcpy(d, s, bytes);
}

// Display-format source: table-driven rows; identical neighbouring rows are
// copied from the row just written.
void blitXrgb(const PixelView& dest, const PixelView& source, const AxisMap& xs, const AxisMap& ys, const BlitParams& p)
{
    const int count = xs.end - xs.begin;
    const bool straight = isIdentity(xs);
    const int* table = xs.source.data();
    const std::size_t rowBytes = static_cast<std::size_t>(count) * 4;
    const bool streaming = straight && !p.colorKey && rowBytes >= kStreamCopyBytes && streamCopyAvailable();
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
                // A picture's rows lie pages apart, where the processor's own
                // prefetching starts afresh: the next row is fetched now.
                if (i + 1 < ys.end - ys.begin)
                    prefetchBytes(reinterpret_cast<const std::uint8_t*>(row32(source, ys.source[static_cast<std::size_t>(i + 1)]) + xs.source.front()), static_cast<std::size_t>(count) * 4);
                if (streaming && source.data != dest.data)
                    streamRowAvx512(reinterpret_cast<std::uint8_t*>(d), reinterpret_cast<const std::uint8_t*>(s), rowBytes);
                else
                    std::memmove(d, s, rowBytes);
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
    if (streaming)
        copyFence();
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

void LimitVectorLevel(VectorLevel most) { g_vectorLimit = static_cast<int>(most); }

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

namespace {

// The reference blits' walk: every destination pixel inside the
// rectangle, the clip and the surface whose source pixel lies inside the
// source, one at a time: write(x, y, sx, sy).
template<typename Write>
void forEachMappedPixel(const PixelView& dest, const BlitParams& p, int sourceWidth, int sourceHeight, Write write)
{
    const LONG top = std::max<LONG>({ p.dest.top, p.destClip.top, 0 });
    const LONG bottom = std::min<LONG>({ p.dest.bottom, p.destClip.bottom, dest.height });
    const LONG left = std::max<LONG>({ p.dest.left, p.destClip.left, 0 });
    const LONG right = std::min<LONG>({ p.dest.right, p.destClip.right, dest.width });
    for (LONG y = top; y < bottom; ++y) {
        const std::int64_t sy = sourceIndex(y, p.dest.top, p.dest.bottom, p.source.top, p.source.bottom);
        if (sy < 0 || sy >= sourceHeight)
            continue;
        for (LONG x = left; x < right; ++x) {
            const std::int64_t sx = sourceIndex(x, p.dest.left, p.dest.right, p.source.left, p.source.right);
            if (sx >= 0 && sx < sourceWidth)
                write(x, y, sx, sy);
        }
    }
}

}

HRESULT ReferenceBlit(const PixelView& dest, const PixelView& source, const BlitParams& p)
{
    if (dest.format != PixelFormat::Xrgb8888 || (p.colorKey && isYuv(source.format)))
        return DDERR_UNSUPPORTED;
    if (!validRect(p.dest) || !validRect(p.source))
        return DDERR_INVALIDRECT;
    forEachMappedPixel(dest, p, source.width, source.height, [&](LONG x, LONG y, std::int64_t sx, std::int64_t sy) {
        DWORD raw = source.format == PixelFormat::Xrgb8888 ? row32(source, static_cast<int>(sy))[sx] : ReadPixelAsXrgb(source, static_cast<int>(sx), static_cast<int>(sy));
        if (!(p.colorKey && keyed(raw, p.key)))
            row32(dest, y)[x] = raw;
    });
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
    // The mappings of this thread's last blit are kept: a window presents
    // the same rectangles tick after tick.
    thread_local struct {
        std::array<LONG, 14> key {};
        bool keyed = false;
        AxisMap xs;
        AxisMap ys;
    } last;
    const std::array<LONG, 14> key { p.dest.left, p.dest.top, p.dest.right, p.dest.bottom, p.source.left, p.source.top, p.source.right, p.source.bottom,
        clip.left, clip.top, clip.right, clip.bottom, source.width, source.height };
    if (!last.keyed || last.key != key) {
        last.xs = MapAxis(p.dest.left, p.dest.right, p.source.left, p.source.right, clip.left, clip.right, source.width);
        last.ys = MapAxis(p.dest.top, p.dest.bottom, p.source.top, p.source.bottom, clip.top, clip.bottom, source.height);
        last.key = key;
        last.keyed = true;
    }
    const AxisMap& xs = last.xs;
    const AxisMap& ys = last.ys;
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

// ---- decoded pictures ----

namespace gfx {

namespace {

// BT.601 in 16-bit lanes: every term is kept in 1/64ths of a level
// (kLevelBits), and each coefficient is a whole part plus a fraction in
// 1/32768ths multiplied with rounding (the "mulhrs" step). Sums saturate, so
// a value past the range only ever clamps.
struct YuvCoefficients {
    int yOffset; // subtracted from luma
    int yFrac;   // luma scale = 1 + yFrac / 32768
    int rvFrac;  // red from V = 1 + rvFrac / 32768
    int guFrac;  // green from U = guFrac / 32768
    int gvFrac;  // green from V = gvFrac / 32768
    int buWhole; // blue from U = buWhole + buFrac / 32768
    int buFrac;
};
constexpr YuvCoefficients kVideoRange { 16, 5387, 19531, 12837, 26639, 2, 565 };
constexpr YuvCoefficients kFullRange { 0, 0, 13173, 11277, 23401, 1, 25297 };
constexpr int kLevelBits = 6;
constexpr int kLevelHalf = 1 << (kLevelBits - 1);
constexpr int kChromaZero = 128;
constexpr int kMulhrsShift = 15;
constexpr int kMulhrsHalf = 1 << (kMulhrsShift - 1);
constexpr int kVectorPixels = 16;
// The first pixel of a display-format row at or after `out` that starts on
// a `bytes` boundary (pixels are 4-byte aligned, so one always does).
int alignedStart(const std::uint32_t* out, std::size_t bytes) { return static_cast<int>(bytesToBoundary(out, bytes) / sizeof(std::uint32_t)); }

int saturate16(int v) { return v < INT16_MIN ? INT16_MIN : v > INT16_MAX ? INT16_MAX : v; }
int mulhrs(int a, int b) { return (a * b + kMulhrsHalf) >> kMulhrsShift; }
std::uint8_t levelToByte(int v)
{
    v = saturate16(v + kLevelHalf) >> kLevelBits;
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One pixel exactly as the vector code computes it.
std::uint32_t convertPixel(int yv, int uv, int vv, const YuvCoefficients& k)
{
    const int y = (yv - k.yOffset) << kLevelBits;
    const int d = (uv - kChromaZero) << kLevelBits;
    const int e = (vv - kChromaZero) << kLevelBits;
    const int luma = saturate16(y + mulhrs(y, k.yFrac));
    const int r = saturate16(luma + saturate16(e + mulhrs(e, k.rvFrac)));
    const int g = saturate16(saturate16(luma - mulhrs(d, k.guFrac)) - mulhrs(e, k.gvFrac));
    const int b = saturate16(luma + saturate16(d * k.buWhole + mulhrs(d, k.buFrac)));
    return (static_cast<std::uint32_t>(levelToByte(r)) << 16) | (static_cast<std::uint32_t>(levelToByte(g)) << 8) | levelToByte(b);
}

void convertRowPlain(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t* out, int count, const YuvCoefficients& k)
{
    for (int i = 0; i < count; ++i)
        out[i] = convertPixel(y[i], u[i], v[i], k);
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels a step in 16-bit lanes; the same arithmetic as convertPixel.
__attribute__((target("avx2"))) void convertRowAvx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t* out, int count, const YuvCoefficients& k,
    bool stream)
{
    const __m256i yOffset = _mm256_set1_epi16(static_cast<short>(k.yOffset));
    const __m256i chromaZero = _mm256_set1_epi16(kChromaZero);
    const __m256i yFrac = _mm256_set1_epi16(static_cast<short>(k.yFrac));
    const __m256i rvFrac = _mm256_set1_epi16(static_cast<short>(k.rvFrac));
    const __m256i guFrac = _mm256_set1_epi16(static_cast<short>(k.guFrac));
    const __m256i gvFrac = _mm256_set1_epi16(static_cast<short>(k.gvFrac));
    const __m256i buWhole = _mm256_set1_epi16(static_cast<short>(k.buWhole));
    const __m256i buFrac = _mm256_set1_epi16(static_cast<short>(k.buFrac));
    const __m256i half = _mm256_set1_epi16(kLevelHalf);
    const __m256i zero = _mm256_setzero_si256();
    if (count < kVectorPixels) {
        convertRowPlain(y, u, v, out, count, k);
        return;
    }
    // Steps that start on a 32-byte boundary go around the caches: stores
    // that passed through the caches would first read every line they
    // write and push out the decoder's reference pictures. A row that
    // starts off a boundary takes one step there first, then steps from
    // its first boundary on. The last step overlaps pixels already
    // written, with the same values.
    const int aligned = alignedStart(out, sizeof(__m256i));
    for (int next = 0; next < count; next = next == 0 && aligned > 0 ? aligned : next + kVectorPixels) {
        const int i = std::min(next, count - kVectorPixels);
        const bool streaming = stream && (i - aligned) % kVectorPixels == 0 && i >= aligned;
        const __m256i ys = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i))), yOffset), kLevelBits);
        const __m256i d = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i))), chromaZero), kLevelBits);
        const __m256i e = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i))), chromaZero), kLevelBits);
        const __m256i luma = _mm256_adds_epi16(ys, _mm256_mulhrs_epi16(ys, yFrac));
        const __m256i r = _mm256_adds_epi16(luma, _mm256_adds_epi16(e, _mm256_mulhrs_epi16(e, rvFrac)));
        const __m256i g = _mm256_subs_epi16(_mm256_subs_epi16(luma, _mm256_mulhrs_epi16(d, guFrac)), _mm256_mulhrs_epi16(e, gvFrac));
        const __m256i b = _mm256_adds_epi16(luma, _mm256_adds_epi16(_mm256_mullo_epi16(d, buWhole), _mm256_mulhrs_epi16(d, buFrac)));
        const __m256i r8 = _mm256_srai_epi16(_mm256_adds_epi16(r, half), kLevelBits);
        const __m256i g8 = _mm256_srai_epi16(_mm256_adds_epi16(g, half), kLevelBits);
        const __m256i b8 = _mm256_srai_epi16(_mm256_adds_epi16(b, half), kLevelBits);
        // Per 128-bit lane: B0-7 R0-7 and G0-7 zeros, interleaved to B G R 0.
        const __m256i br = _mm256_packus_epi16(b8, r8);
        const __m256i gz = _mm256_packus_epi16(g8, zero);
        const __m256i bg = _mm256_unpacklo_epi8(br, gz);
        const __m256i r0 = _mm256_unpackhi_epi8(br, gz);
        const __m256i low = _mm256_unpacklo_epi16(bg, r0);  // pixels 0-3 | 8-11
        const __m256i high = _mm256_unpackhi_epi16(bg, r0); // pixels 4-7 | 12-15
        const __m256i first = _mm256_permute2x128_si256(low, high, 0x20);
        const __m256i second = _mm256_permute2x128_si256(low, high, 0x31);
        if (streaming) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(out + i), first);
            _mm256_stream_si256(reinterpret_cast<__m256i*>(out + i + 8), second);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), first);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 8), second);
        }
    }
}
// Thirty-two pixels a step in 16-bit lanes, the same arithmetic as
// convertRowAvx2 (so the same pixels); rows shorter than a step go there.
__attribute__((target("avx512f,avx512bw"))) void convertRowAvx512(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t* out, int count,
    const YuvCoefficients& k, bool stream)
{
    constexpr int kWidePixels = 2 * kVectorPixels;
    if (count < kWidePixels) {
        convertRowAvx2(y, u, v, out, count, k, stream);
        return;
    }
    const __m512i yOffset = _mm512_set1_epi16(static_cast<short>(k.yOffset));
    const __m512i chromaZero = _mm512_set1_epi16(kChromaZero);
    const __m512i yFrac = _mm512_set1_epi16(static_cast<short>(k.yFrac));
    const __m512i rvFrac = _mm512_set1_epi16(static_cast<short>(k.rvFrac));
    const __m512i guFrac = _mm512_set1_epi16(static_cast<short>(k.guFrac));
    const __m512i gvFrac = _mm512_set1_epi16(static_cast<short>(k.gvFrac));
    const __m512i buWhole = _mm512_set1_epi16(static_cast<short>(k.buWhole));
    const __m512i buFrac = _mm512_set1_epi16(static_cast<short>(k.buFrac));
    const __m512i half = _mm512_set1_epi16(kLevelHalf);
    const __m512i zero = _mm512_setzero_si512();
    // After the interleave each 128-bit lane L holds pixels 8L to 8L + 3
    // (low) and 8L + 4 to 8L + 7 (high); these put them back in order.
    const __m512i firstOrder = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
    const __m512i secondOrder = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
    // As convertRowAvx2: steps that start on a vector boundary bypass the caches.
    const int aligned = alignedStart(out, sizeof(__m512i));
    for (int next = 0; next < count; next = next == 0 && aligned > 0 ? aligned : next + kWidePixels) {
        const int i = std::min(next, count - kWidePixels);
        const bool streaming = stream && (i - aligned) % kWidePixels == 0 && i >= aligned;
        const __m512i ys = _mm512_slli_epi16(_mm512_sub_epi16(_mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + i))), yOffset), kLevelBits);
        const __m512i d = _mm512_slli_epi16(_mm512_sub_epi16(_mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + i))), chromaZero), kLevelBits);
        const __m512i e = _mm512_slli_epi16(_mm512_sub_epi16(_mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i))), chromaZero), kLevelBits);
        const __m512i luma = _mm512_adds_epi16(ys, _mm512_mulhrs_epi16(ys, yFrac));
        const __m512i r = _mm512_adds_epi16(luma, _mm512_adds_epi16(e, _mm512_mulhrs_epi16(e, rvFrac)));
        const __m512i g = _mm512_subs_epi16(_mm512_subs_epi16(luma, _mm512_mulhrs_epi16(d, guFrac)), _mm512_mulhrs_epi16(e, gvFrac));
        const __m512i b = _mm512_adds_epi16(luma, _mm512_adds_epi16(_mm512_mullo_epi16(d, buWhole), _mm512_mulhrs_epi16(d, buFrac)));
        const __m512i r8 = _mm512_srai_epi16(_mm512_adds_epi16(r, half), kLevelBits);
        const __m512i g8 = _mm512_srai_epi16(_mm512_adds_epi16(g, half), kLevelBits);
        const __m512i b8 = _mm512_srai_epi16(_mm512_adds_epi16(b, half), kLevelBits);
        const __m512i br = _mm512_packus_epi16(b8, r8);
        const __m512i gz = _mm512_packus_epi16(g8, zero);
        const __m512i bg = _mm512_unpacklo_epi8(br, gz);
        const __m512i r0 = _mm512_unpackhi_epi8(br, gz);
        const __m512i low = _mm512_unpacklo_epi16(bg, r0);
        const __m512i high = _mm512_unpackhi_epi16(bg, r0);
        const __m512i first = _mm512_permutex2var_epi64(low, firstOrder, high);
        const __m512i second = _mm512_permutex2var_epi64(low, secondOrder, high);
        if (streaming) {
            _mm512_stream_si512(reinterpret_cast<__m512i*>(out + i), first);
            _mm512_stream_si512(reinterpret_cast<__m512i*>(out + i + kVectorPixels), second);
        } else {
            _mm512_storeu_si512(reinterpret_cast<__m512i*>(out + i), first);
            _mm512_storeu_si512(reinterpret_cast<__m512i*>(out + i + kVectorPixels), second);
        }
    }
}
bool avx512Available()
{
    static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return available && vectorsUpTo(VectorLevel::Avx512);
}
// The rows' streaming stores are ordered before whatever follows.
void storeFence() { _mm_sfence(); }
bool avx2Available()
{
    static const bool available = __builtin_cpu_supports("avx2");
    return available && vectorsUpTo(VectorLevel::Avx2);
}
#else
void convertRowAvx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t* out, int count, const YuvCoefficients& k, bool)
{
    convertRowPlain(y, u, v, out, count, k);
}
void convertRowAvx512(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t* out, int count, const YuvCoefficients& k, bool)
{
    convertRowPlain(y, u, v, out, count, k);
}
bool avx2Available() { return false; }
bool avx512Available() { return false; }
void storeFence() { }
#endif

// `stream`: the row goes around the caches (where it starts on a vector
// boundary); else it stays in them, for a reader that follows at once.
void convertRow(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t* out, int count, const YuvCoefficients& k, bool stream)
{
    if (avx512Available())
        convertRowAvx512(y, u, v, out, count, k, stream);
    else if (avx2Available())
        convertRowAvx2(y, u, v, out, count, k, stream);
    else
        convertRowPlain(y, u, v, out, count, k);
}

bool pictureUsable(const YuvPicture& p)
{
    return p.planes[0] && p.planes[1] && p.planes[2] && p.width > 0 && p.height > 0 && p.chromaShiftX >= 0 && p.chromaShiftX <= 1 && p.chromaShiftY >= 0
        && p.chromaShiftY <= 1;
}

// A gather of bytes through a column table that never decreases (one row
// of the nearest-pixel mapping): out[i] = row[columns[i]]. The outputs are
// cut into groups, each as long as its sources lie within one window of the
// row (at most a window of outputs), and each group is one byte permutation
// of that window, stored whole: the next group overwrites what lies past
// the group's end, so the output needs kGatherSpare bytes to spare. The
// window is 64 bytes where the processor permutes bytes across a 512-bit
// register (AVX-512 VBMI: a shrunk 720p row takes a quarter of the groups),
// else 16 (SSSE3 shuffles). No window runs past the row's stride: the last
// ones start a window before it. Rows narrower than a window, and layouts
// too spread out for groups to pay, are read one byte at a time.
constexpr int kShuffleWindow = 16;
constexpr int kPermuteWindow = 64;
constexpr int kGatherSpare = kPermuteWindow;
constexpr std::uint64_t kAllLanes = ~std::uint64_t { 0 }; // a 64-lane mask of every lane
// Pictures of at least this many destination pixels have their rows
// converted by two threads.
constexpr std::int64_t kSplitPixels = 640 * 480;
// Shuffles pay only where a group takes a few outputs on average.
constexpr int kShuffleMinAverage = 4;
constexpr std::uint8_t kShuffleZero = 0x80; // a shuffle lane that reads nothing

struct ByteGather {
    const int* columns = nullptr;
    int count = 0;
    int covered = 0; // outputs made by the groups; the rest byte by byte
    int window = 0; // bytes a group reads and stores; 0 without groups
    std::vector<int> starts; // a group's window start in the row
    std::vector<int> outputs; // a group's first output
    std::vector<std::uint8_t> masks; // `window` bytes a group

    // `windowBytes` 0 gathers byte by byte.
    void Prepare(const int* table, int n, int stride, int windowBytes)
    {
        columns = table;
        count = n;
        covered = 0;
        window = 0;
        starts.clear();
        outputs.clear();
        masks.clear();
        if (windowBytes <= 0)
            return;
        if (stride < windowBytes)
            return; // a row narrower than a window is read byte by byte
        int i = 0;
        while (i < n && table[i] < stride) {
            // The last windows of a row end at its stride, so that none
            // reads past the row.
            const int start = std::min(table[i], stride - windowBytes);
            int j = i;
            while (j < n && j - i < windowBytes && table[j] - start < windowBytes)
                ++j;
            starts.push_back(start);
            outputs.push_back(i);
            for (int m = 0; m < windowBytes; ++m)
                masks.push_back(i + m < j ? static_cast<std::uint8_t>(table[i + m] - start) : kShuffleZero);
            i = j;
        }
        if (starts.empty() || static_cast<std::int64_t>(starts.size()) * kShuffleMinAverage > i) {
            starts.clear();
            outputs.clear();
            masks.clear();
            return; // too spread out to pay
        }
        covered = i;
        window = windowBytes;
    }
};

#if defined(__x86_64__) || defined(__i386__)
// The window this processor gathers with.
int gatherWindow()
{
    static const bool permutes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    if (permutes && vectorsUpTo(VectorLevel::Avx512))
        return kPermuteWindow;
    return shuffles && vectorsUpTo(VectorLevel::Ssse3) ? kShuffleWindow : 0;
}
// The groups from plain pointers, taken by value: a store through a byte
// pointer could alias the gather's vectors, which would otherwise be
// reloaded every group. Rows of the same layout (U and V) share each
// group's mask.
template<std::size_t Rows>
__attribute__((target("ssse3"))) void shuffleGroups(const int* starts, const int* outputs, const std::uint8_t* masks, int groups,
    std::array<const std::uint8_t*, Rows> rows, std::array<std::uint8_t*, Rows> outs)
{
    for (int k = 0; k < groups; ++k) {
        const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + static_cast<std::ptrdiff_t>(k) * kShuffleWindow));
        for (std::size_t r = 0; r < Rows; ++r) {
            const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + starts[k]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[r] + outputs[k]), _mm_shuffle_epi8(window, mask));
        }
    }
}
// As shuffleGroups, 64 bytes at a time; a lane past the group's end reads
// some byte of the window (its index's low six bits), which the next group
// or the byte-by-byte rest overwrites.
template<std::size_t Rows>
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void permuteGroups(const int* starts, const int* outputs, const std::uint8_t* masks, int groups,
    std::array<const std::uint8_t*, Rows> rows, std::array<std::uint8_t*, Rows> outs)
{
    for (int k = 0; k < groups; ++k) {
        const __m512i index = _mm512_loadu_si512(masks + static_cast<std::ptrdiff_t>(k) * kPermuteWindow);
        for (std::size_t r = 0; r < Rows; ++r) {
            const __m512i window = _mm512_loadu_si512(rows[r] + starts[k]);
            // The zeroing form over every lane is the same permutation, without
            // the plain form's undefined fill that GCC warns of.
            _mm512_storeu_si512(outs[r] + outputs[k], _mm512_maskz_permutexvar_epi8(kAllLanes, index, window));
        }
    }
}
#else
int gatherWindow() { return 0; }
#endif

// Gathers each of `rows` into the output beside it, all through the one
// gather (so the rows share a layout).
template<std::size_t Rows>
void gatherRows(const ByteGather& gather, std::array<const std::uint8_t*, Rows> rows, std::array<std::uint8_t*, Rows> outs)
{
#if defined(__x86_64__) || defined(__i386__)
    const int groups = static_cast<int>(gather.starts.size());
    if (gather.covered && gather.window == kPermuteWindow)
        permuteGroups<Rows>(gather.starts.data(), gather.outputs.data(), gather.masks.data(), groups, rows, outs);
    else if (gather.covered)
        shuffleGroups<Rows>(gather.starts.data(), gather.outputs.data(), gather.masks.data(), groups, rows, outs);
#endif
    const int* const columns = gather.columns;
    for (std::size_t r = 0; r < Rows; ++r)
        for (int i = gather.covered; i < gather.count; ++i)
            outs[r][i] = rows[r][columns[i]];
}

// Scratch rows of one converting thread: gathered Y, U and V samples.
struct RowScratch {
    std::vector<std::uint8_t> y;
    std::vector<std::uint8_t> u;
    std::vector<std::uint8_t> v;
};

// One picture blit's plan, made by the calling thread and only read while
// rows are converted: the mappings, the chroma column of each destination
// pixel and the gathers.
struct PicturePlan {
    PixelView dest;
    const YuvPicture* source = nullptr;
    AxisMap xs;
    AxisMap ys;
    std::vector<int> chroma;
    ByteGather lumaGather;
    ByteGather chromaGather[2];
    bool chromaShared = false; // U and V have the same strides, so one gather serves both
    int window = 0; // the gathers' window
    bool straight = false;
    YuvCoefficients k {};
    const PictureMirror* mirror = nullptr; // this blit's second destination, if any
    // What the mappings and gathers above were made for: a live view draws
    // every picture with the same ones until its size or zoom changes.
    std::array<LONG, 18> key {};
    bool keyed = false;
};

// Converts the destination rows ys.begin + [from, to) of the plan.
void convertPictureRows(const PicturePlan& plan, int from, int to)
{
    const YuvPicture& source = *plan.source;
    const PixelView& dest = plan.dest;
    const int count = plan.xs.end - plan.xs.begin;
    const std::size_t n = static_cast<std::size_t>(count);
    thread_local RowScratch scratch;
    // Room for the last group's whole store.
    scratch.y.resize(n + kGatherSpare);
    scratch.u.resize(n + kGatherSpare);
    scratch.v.resize(n + kGatherSpare);
    // Plain pointers for the loops: stores through bytes could otherwise
    // alias the vectors' own fields and force a reload every sample.
    std::uint8_t* const gatheredY = scratch.y.data();
    std::uint8_t* const gatheredU = scratch.u.data();
    std::uint8_t* const gatheredV = scratch.v.data();
    const int firstColumn = plan.xs.source.front();
    const int lastColumn = plan.xs.source.back();
    // The picture is mostly out of the caches by the time it is shown: the
    // source rows of the next destination row are fetched while this one
    // is converted.
    auto prefetchRow = [](const std::uint8_t* row, int lo, int hi) { prefetchBytes(row + lo, static_cast<std::size_t>(hi - lo + 1)); };
    auto prefetchSourceRows = [&](int i) {
        if (i >= to)
            return;
        const int sy = plan.ys.source[static_cast<std::size_t>(i)];
        const int cy = sy >> source.chromaShiftY;
        prefetchRow(source.planes[0] + static_cast<std::ptrdiff_t>(sy) * source.strides[0], firstColumn, lastColumn);
        const int clo = firstColumn >> source.chromaShiftX, chi = lastColumn >> source.chromaShiftX;
        prefetchRow(source.planes[1] + static_cast<std::ptrdiff_t>(cy) * source.strides[1], clo, chi);
        prefetchRow(source.planes[2] + static_cast<std::ptrdiff_t>(cy) * source.strides[2], clo, chi);
    };
    // With a mirror, each row is converted into the caches and copied from
    // there to both destinations around them.
    const PictureMirror* const mirror = plan.mirror;
    thread_local std::vector<std::uint32_t> converted;
    if (mirror)
        converted.resize(n);
    std::uint32_t* const rowPixels = converted.data();
    auto putRow = [&](std::uint32_t* out, int y) {
        copyRowAround(out, rowPixels, n * 4);
        copyRowAround(row32(mirror->view, y + mirror->dy) + plan.xs.begin + mirror->dx, rowPixels, n * 4);
    };
    prefetchSourceRows(from);
    int lastRow = -1, lastChromaRow = -1;
    for (int i = from; i < to; ++i) {
        prefetchSourceRows(i + 1);
        const int y = plan.ys.begin + i;
        std::uint32_t* out = row32(dest, y) + plan.xs.begin;
        const int sy = plan.ys.source[static_cast<std::size_t>(i)];
        if (sy == lastRow) {
            // A picture row shown twice (enlarged): copy the row just written.
            if (mirror)
                putRow(out, y);
            else
                std::memcpy(out, row32(dest, y - 1) + plan.xs.begin, n * 4);
            continue;
        }
        lastRow = sy;
        const int cy = sy >> source.chromaShiftY;
        if (cy != lastChromaRow) {
            const std::uint8_t* rowU = source.planes[1] + static_cast<std::ptrdiff_t>(cy) * source.strides[1];
            const std::uint8_t* rowV = source.planes[2] + static_cast<std::ptrdiff_t>(cy) * source.strides[2];
            if (plan.chromaShared) {
                gatherRows<2>(plan.chromaGather[0], { rowU, rowV }, { gatheredU, gatheredV });
            } else {
                gatherRows<1>(plan.chromaGather[0], { rowU }, { gatheredU });
                gatherRows<1>(plan.chromaGather[1], { rowV }, { gatheredV });
            }
            lastChromaRow = cy;
        }
        const std::uint8_t* luma = source.planes[0] + static_cast<std::ptrdiff_t>(sy) * source.strides[0];
        if (plan.straight) {
            luma += firstColumn;
        } else {
            gatherRows<1>(plan.lumaGather, { luma }, { gatheredY });
            luma = gatheredY;
        }
        if (mirror) {
            convertRow(luma, gatheredU, gatheredV, rowPixels, count, plan.k, false);
            putRow(out, y);
        } else {
            convertRow(luma, gatheredU, gatheredV, out, count, plan.k, true);
        }
    }
    storeFence();
}

// A second thread for the rows of large pictures: the caller converts the
// top part while the helper converts the rest. A caller finding the helper
// busy (another view's picture) converts every row itself. The helper is
// made on first use and lives as long as the process.
class RowHelper {
public:
    static RowHelper* Get()
    {
        static RowHelper* helper = std::thread::hardware_concurrency() >= 2 ? new RowHelper : nullptr;
        return helper;
    }

    // Starts the rows [from, to) of `plan` on the helper; false when it is
    // busy. A started job must be waited for with Finish().
    bool TryStart(const PicturePlan& plan, int from, int to)
    {
        std::lock_guard lock(m_mutex);
        if (m_plan)
            return false;
        m_plan = &plan;
        m_from = from;
        m_to = to;
        m_done = false;
        m_wake.notify_one();
        return true;
    }

    void Finish()
    {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [this] { return m_done; });
        m_plan = nullptr;
    }

private:
    RowHelper()
    {
        std::thread([this] { run(); }).detach();
    }

    void run()
    {
        sys::PrepareThreadForCrash();
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_plan && !m_done; });
            const PicturePlan* plan = m_plan;
            const int from = m_from, to = m_to;
            lock.unlock();
            convertPictureRows(*plan, from, to);
            lock.lock();
            m_done = true;
            m_finished.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    const PicturePlan* m_plan = nullptr; // the job taken, until its caller finishes it
    int m_from = 0;
    int m_to = 0;
    bool m_done = false;
};

}

DWORD FullRangeYuvToXrgb(int y, int u, int v)
{
    const double d = u - kChromaZero;
    const double e = v - kChromaZero;
    const std::uint8_t r = clampByte(y + 1.402 * e);
    const std::uint8_t g = clampByte(y - 0.344136 * d - 0.714136 * e);
    const std::uint8_t b = clampByte(y + 1.772 * d);
    return (static_cast<DWORD>(r) << 16) | (static_cast<DWORD>(g) << 8) | b;
}

HRESULT ReferencePictureBlit(const PixelView& dest, const YuvPicture& source, const BlitParams& p)
{
    if (dest.format != PixelFormat::Xrgb8888 || p.colorKey)
        return DDERR_UNSUPPORTED;
    if (!validRect(p.dest) || !validRect(p.source))
        return DDERR_INVALIDRECT;
    if (!pictureUsable(source))
        return DDERR_INVALIDPARAMS;
    forEachMappedPixel(dest, p, source.width, source.height, [&](LONG x, LONG y, std::int64_t sx, std::int64_t sy) {
        const int luma = source.planes[0][sy * source.strides[0] + sx];
        const std::int64_t cy = sy >> source.chromaShiftY, cx = sx >> source.chromaShiftX;
        const int u = source.planes[1][cy * source.strides[1] + cx];
        const int v = source.planes[2][cy * source.strides[2] + cx];
        row32(dest, y)[x] = source.fullRange ? FullRangeYuvToXrgb(luma, u, v) : YuvToXrgb(luma, u, v);
    });
    return DD_OK;
}

namespace {

// Checks a picture blit's arguments and makes (or keeps) `plan` for it;
// `writes` is false when the blit writes no pixel (then the plan is not made).
HRESULT preparePicturePlan(PicturePlan& plan, const PixelView& dest, const YuvPicture& source, const BlitParams& p, bool& writes)
{
    writes = false;
    if (dest.format != PixelFormat::Xrgb8888 || p.colorKey)
        return DDERR_UNSUPPORTED;
    if (!validRect(p.dest) || !validRect(p.source))
        return DDERR_INVALIDRECT;
    if (!pictureUsable(source))
        return DDERR_INVALIDPARAMS;
    const RECT clip = ui::Intersect(p.destClip, RECT { 0, 0, dest.width, dest.height });
    if (ui::IsEmpty(clip))
        return DD_OK;
    plan.dest = dest;
    plan.source = &source;
    const std::array<LONG, 18> key { p.dest.left, p.dest.top, p.dest.right, p.dest.bottom, p.source.left, p.source.top, p.source.right, p.source.bottom,
        clip.left, clip.top, clip.right, clip.bottom, source.width, source.height, source.strides[0], source.strides[1], source.strides[2], source.chromaShiftX };
    const int window = gatherWindow();
    if (!plan.keyed || plan.key != key || plan.window != window) {
        plan.keyed = false;
        plan.window = window;
        plan.xs = MapAxis(p.dest.left, p.dest.right, p.source.left, p.source.right, clip.left, clip.right, source.width);
        plan.ys = MapAxis(p.dest.top, p.dest.bottom, p.source.top, p.source.bottom, clip.top, clip.bottom, source.height);
        if (plan.xs.source.empty() || plan.ys.source.empty())
            return DD_OK;
        const int count = plan.xs.end - plan.xs.begin;
        const std::size_t n = static_cast<std::size_t>(count);
        plan.chroma.resize(n);
        int* const chromaColumns = plan.chroma.data();
        const int* const lumaColumns = plan.xs.source.data();
        for (std::size_t i = 0; i < n; ++i)
            chromaColumns[i] = lumaColumns[i] >> source.chromaShiftX;
        plan.straight = isIdentity(plan.xs);
        if (!plan.straight)
            plan.lumaGather.Prepare(lumaColumns, count, source.strides[0], window);
        plan.chromaGather[0].Prepare(chromaColumns, count, source.strides[1], window);
        plan.chromaShared = source.strides[1] == source.strides[2];
        if (!plan.chromaShared)
            plan.chromaGather[1].Prepare(chromaColumns, count, source.strides[2], window);
        plan.key = key;
        plan.keyed = true;
    }
    plan.k = source.fullRange ? kFullRange : kVideoRange;
    writes = true;
    return DD_OK;
}

}

namespace {

HRESULT pictureBlit(const PixelView& dest, const YuvPicture& source, const BlitParams& p, const PictureMirror* mirror)
{
    thread_local PicturePlan plan;
    bool writes = false;
    const HRESULT prepared = preparePicturePlan(plan, dest, source, p, writes);
    if (FAILED(prepared) || !writes)
        return prepared;
    plan.mirror = mirror;
    const int count = plan.xs.end - plan.xs.begin;
    const int rows = plan.ys.end - plan.ys.begin;
    RowHelper* helper = static_cast<std::int64_t>(rows) * count >= kSplitPixels ? RowHelper::Get() : nullptr;
    const int split = rows / 2;
    if (helper && helper->TryStart(plan, split, rows)) {
        convertPictureRows(plan, 0, split);
        helper->Finish();
    } else {
        convertPictureRows(plan, 0, rows);
    }
    plan.mirror = nullptr;
    return DD_OK;
}

}

HRESULT FastPictureBlit(const PixelView& dest, const YuvPicture& source, const BlitParams& p)
{
    return pictureBlit(dest, source, p, nullptr);
}

HRESULT FastPictureBlitMirrored(const PixelView& dest, const YuvPicture& source, const BlitParams& p, const PictureMirror& mirror)
{
    if (mirror.view.format != PixelFormat::Xrgb8888)
        return DDERR_UNSUPPORTED;
    return pictureBlit(dest, source, p, &mirror);
}

RECT DestPixelsReading(const RECT& destRect, const RECT& sourceRect, const RECT& box)
{
    if (!validRect(destRect) || !validRect(sourceRect) || ui::IsEmpty(box))
        return RECT {};
    // The mapping never decreases: the first destination pixel reading at
    // or past `lo`, found by bisection.
    auto firstReading = [](LONG destLo, LONG destHi, LONG sourceLo, LONG sourceHi, LONG lo) {
        std::int64_t a = destLo, b = destHi;
        while (a < b) {
            const std::int64_t mid = a + (b - a) / 2;
            if (sourceIndex(mid, destLo, destHi, sourceLo, sourceHi) >= lo)
                b = mid;
            else
                a = mid + 1;
        }
        return static_cast<LONG>(a);
    };
    RECT r;
    r.left = firstReading(destRect.left, destRect.right, sourceRect.left, sourceRect.right, box.left);
    r.right = firstReading(destRect.left, destRect.right, sourceRect.left, sourceRect.right, box.right);
    r.top = firstReading(destRect.top, destRect.bottom, sourceRect.top, sourceRect.bottom, box.top);
    r.bottom = firstReading(destRect.top, destRect.bottom, sourceRect.top, sourceRect.bottom, box.bottom);
    return ui::IsEmpty(r) ? RECT {} : r;
}

}
