#include "gfx/Surface.h"

#include "gfx/Blit.h"
#include "gfx/DeviceShared.h"
#include "gfx/Region.h"
#include "gfx/Screen.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace gfx {

namespace {

// Rows start on this boundary, as a display driver's would.
constexpr LONG kPitchAlign = 64;
// Spare bytes after every surface, so that vector loads that run a little
// past the last row stay inside the allocation.
constexpr std::size_t kSlackBytes = 64;
// Black in video-range YUV.
constexpr std::uint8_t kBlackLuma = 16;
constexpr std::uint8_t kNeutralChroma = 128;

bool wellFormed(const RECT& r)
{
    const std::int64_t w = static_cast<std::int64_t>(r.right) - r.left;
    const std::int64_t h = static_cast<std::int64_t>(r.bottom) - r.top;
    return w > 0 && h > 0;
}

LONG alignPitch(LONG bytes) { return (bytes + kPitchAlign - 1) / kPitchAlign * kPitchAlign; }

}

Surface::Surface(std::shared_ptr<DirectDraw::Shared> device, PixelFormat format, MemoryKind memory, DWORD caps, int width, int height, bool primary)
    : m_device(std::move(device))
    , m_format(format)
    , m_memory(memory)
    , m_caps(caps)
    , m_primary(primary)
    , m_width(width)
    , m_height(height)
{
    if (!primary) {
        const std::size_t rows = static_cast<std::size_t>(height);
        switch (format) {
        case PixelFormat::Xrgb8888:
            m_pitch = alignPitch(width * 4);
            m_bytes = static_cast<std::size_t>(m_pitch) * rows;
            break;
        case PixelFormat::Yv12:
            m_pitch = alignPitch(width);
            m_bytes = static_cast<std::size_t>(m_pitch) * rows + 2 * static_cast<std::size_t>(m_pitch / 2) * ((rows + 1) / 2);
            break;
        case PixelFormat::Uyvy:
            m_pitch = alignPitch((width + 1) / 2 * 4);
            m_bytes = static_cast<std::size_t>(m_pitch) * rows;
            break;
        }
        m_pixels.reset(static_cast<std::uint8_t*>(::operator new[](m_bytes + kSlackBytes, std::align_val_t(kPitchAlign), std::nothrow)));
        if (m_pixels)
            clearLocked();
    }
    std::lock_guard lock(m_device->mutex);
    m_device->surfaces.push_back(this);
}

void Surface::AlignedFree::operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t(kPitchAlign)); }

Surface::~Surface()
{
    {
        std::lock_guard lock(m_device->mutex);
        auto& list = m_device->surfaces;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    FreeConverter(m_converter);
    if (m_clipper)
        m_clipper->Release();
}

int Surface::Width() const { return m_primary ? Screen::Get().Width() : m_width; }
int Surface::Height() const { return m_primary ? Screen::Get().Height() : m_height; }
LONG Surface::Pitch() const { return m_primary ? Screen::Get().Width() * 4 : m_pitch; }

std::recursive_mutex& Surface::mutex() const { return m_primary ? Screen::Get().Mutex() : m_mutex; }

PixelView Surface::viewLocked() const
{
    PixelView view;
    view.format = m_format;
    if (m_primary) {
        Screen& screen = Screen::Get();
        view.data = reinterpret_cast<std::uint8_t*>(screen.PixelsLocked());
        view.width = screen.WidthLocked();
        view.height = screen.HeightLocked();
        view.pitch = view.width * 4;
    } else {
        view.data = m_pixels.get();
        view.width = m_width;
        view.height = m_height;
        view.pitch = m_pitch;
    }
    return view;
}

void Surface::clearLocked()
{
    if (m_primary || !m_pixels)
        return;
    std::uint8_t* p = m_pixels.get();
    switch (m_format) {
    case PixelFormat::Xrgb8888:
        std::memset(p, 0, m_bytes);
        break;
    case PixelFormat::Yv12: {
        const std::size_t luma = static_cast<std::size_t>(m_pitch) * static_cast<std::size_t>(m_height);
        std::memset(p, kBlackLuma, luma);
        std::memset(p + luma, kNeutralChroma, m_bytes - luma);
        break;
    }
    case PixelFormat::Uyvy:
        for (std::size_t i = 0; i + 1 < m_bytes; i += 2) {
            p[i] = kNeutralChroma;
            p[i + 1] = kBlackLuma;
        }
        break;
    }
}

void Surface::markChanged(const RECT& rect) const
{
    m_writes.fetch_add(1, std::memory_order_release);
    if (m_primary)
        Screen::Get().MarkChanged(rect);
}

std::vector<RECT> Surface::destClips() const
{
    RECT bounds { 0, 0, Width(), Height() };
    if (m_primary && m_clipper)
        return m_clipper->ClipRegion(bounds);
    return { bounds };
}

static void describe(const PixelView& view, DWORD caps, DDSURFACEDESC2* desc)
{
    desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = static_cast<DWORD>(view.width);
    desc->dwHeight = static_cast<DWORD>(view.height);
    desc->lPitch = view.pitch;
    desc->ddsCaps.dwCaps = caps;
    DDPIXELFORMAT& pf = desc->ddpfPixelFormat;
    pf = DDPIXELFORMAT {};
    pf.dwSize = kPixelFormatSize;
    if (view.format == PixelFormat::Xrgb8888) {
        pf.dwFlags = DDPF_RGB;
        pf.dwRGBBitCount = 32;
        pf.dwRBitMask = 0x00FF0000;
        pf.dwGBitMask = 0x0000FF00;
        pf.dwBBitMask = 0x000000FF;
    } else {
        pf.dwFlags = DDPF_FOURCC;
        pf.dwFourCC = view.format == PixelFormat::Yv12 ? kFourCCYv12 : kFourCCUyvy;
    }
}

HRESULT Surface::GetSurfaceDesc(DDSURFACEDESC2* desc) const
{
    if (!desc || desc->dwSize != kSurfaceDescSize)
        return DDERR_INVALIDPARAMS;
    std::lock_guard lock(mutex());
    describe(viewLocked(), m_caps, desc);
    desc->lpSurface = nullptr;
    return DD_OK;
}

HRESULT Surface::Lock(const RECT* rect, DDSURFACEDESC2* desc, DWORD)
{
    if (!desc || desc->dwSize != kSurfaceDescSize)
        return DDERR_INVALIDPARAMS;
    mutex().lock();
    if (m_lost) {
        mutex().unlock();
        return DDERR_SURFACELOST;
    }
    PixelView view = viewLocked();
    std::uint8_t* start = view.data;
    if (rect) {
        RECT whole { 0, 0, view.width, view.height };
        if (ui::IsEmpty(*rect) || ui::Intersect(*rect, whole) != *rect || m_format != PixelFormat::Xrgb8888) {
            mutex().unlock();
            return DDERR_INVALIDRECT;
        }
        start += static_cast<std::ptrdiff_t>(rect->top) * view.pitch + rect->left * 4;
    }
    describe(view, m_caps, desc);
    desc->lpSurface = start;
    ++m_locks;
    return DD_OK;
}

HRESULT Surface::Unlock(const RECT*)
{
    std::lock_guard lock(mutex());
    if (m_locks == 0)
        return DDERR_NOTLOCKED;
    --m_locks;
    if (m_primary)
        markChanged(RECT { 0, 0, Width(), Height() });
    else
        m_writes.fetch_add(1, std::memory_order_release);
    mutex().unlock(); // the lock Lock took
    return DD_OK;
}

HRESULT Surface::IsLost() const
{
    std::lock_guard lock(mutex());
    return m_lost ? DDERR_SURFACELOST : DD_OK;
}

void Surface::ForceLost()
{
    std::lock_guard lock(mutex());
    m_lost = true;
}

HRESULT Surface::Restore()
{
    std::lock_guard lock(mutex());
    if (!m_lost)
        return DD_OK;
    DriverRules rules = detail::CurrentDriverRules();
    if (rules.refuseRestore && rules.refuseRestore(*this))
        return DDERR_WRONGMODE;
    m_lost = false;
    clearLocked();
    m_writes.fetch_add(1, std::memory_order_release);
    return DD_OK;
}

HRESULT Surface::SetColorKey(DWORD flags, const DDCOLORKEY* key)
{
    if (!(flags & DDCKEY_SRCBLT))
        return DDERR_UNSUPPORTED; // only source keys exist here
    std::lock_guard lock(mutex());
    m_hasColorKey = key != nullptr;
    m_colorKey = key ? *key : DDCOLORKEY {};
    return DD_OK;
}

HRESULT Surface::GetColorKey(DWORD flags, DDCOLORKEY* key) const
{
    if (!(flags & DDCKEY_SRCBLT) || !key)
        return DDERR_INVALIDPARAMS;
    std::lock_guard lock(mutex());
    if (!m_hasColorKey)
        return DDERR_NOCOLORKEY;
    *key = m_colorKey;
    return DD_OK;
}

HRESULT Surface::SetClipper(Clipper* clipper)
{
    std::lock_guard lock(mutex());
    if (clipper)
        clipper->AddRef();
    if (m_clipper)
        m_clipper->Release();
    m_clipper = clipper;
    return DD_OK;
}

HRESULT Surface::bltFrom(const RECT& dst, Surface* source, const RECT& src, bool colorKey, const RECT* within)
{
    std::recursive_mutex& a = mutex();
    std::recursive_mutex& b = source->mutex();
    std::scoped_lock lock(a, b); // both in a deadlock-free order; recursive when they are one
    if (m_lost || source->m_lost)
        return DDERR_SURFACELOST;
    BlitParams params;
    params.dest = dst;
    params.source = src;
    if (colorKey) {
        if (!source->m_hasColorKey)
            return DDERR_NOCOLORKEY;
        params.colorKey = true;
        params.key = source->m_colorKey;
    }
    // With nothing visible the request still runs once, on an empty clip,
    // so that a bad rectangle is reported all the same.
    const std::vector<RECT> clips = destClips();
    HRESULT hr = DD_OK;
    RECT changed {};
    for (std::size_t i = 0; i < std::max<std::size_t>(1, clips.size()); ++i) {
        params.destClip = clips.empty() ? RECT {} : clips[i];
        if (within)
            params.destClip = ui::Intersect(params.destClip, *within);
        hr = FastBlit(viewLocked(), source->viewLocked(), params, &source->m_converter);
        if (FAILED(hr))
            return hr;
        changed = ui::Union(changed, ui::Intersect(dst, params.destClip));
    }
    markChanged(changed);
    return hr;
}

HRESULT Surface::Blt(const RECT* destRect, Surface* source, const RECT* sourceRect, DWORD flags, const DDBLTFX* fx)
{
    RECT dst = destRect ? *destRect : RECT { 0, 0, Width(), Height() };
    if (flags & DDBLT_COLORFILL) {
        if (!fx)
            return DDERR_INVALIDPARAMS;
        if (m_format != PixelFormat::Xrgb8888)
            return DDERR_UNSUPPORTED;
        if (!wellFormed(dst))
            return DDERR_INVALIDRECT;
        std::lock_guard lock(mutex());
        if (m_lost)
            return DDERR_SURFACELOST;
        RECT changed {};
        for (const RECT& clip : destClips()) {
            FillPixels(viewLocked(), dst, clip, fx->dwFillColor);
            changed = ui::Union(changed, ui::Intersect(dst, clip));
        }
        markChanged(changed);
        return DD_OK;
    }
    if (!source)
        return DDERR_INVALIDPARAMS;
    RECT src = sourceRect ? *sourceRect : RECT { 0, 0, source->Width(), source->Height() };
    return bltFrom(dst, source, src, (flags & DDBLT_KEYSRC) != 0);
}

HRESULT Surface::BltFast(DWORD x, DWORD y, Surface* source, const RECT* sourceRect, DWORD flags)
{
    if (!source)
        return DDERR_INVALIDPARAMS;
    RECT src = sourceRect ? *sourceRect : RECT { 0, 0, source->Width(), source->Height() };
    const std::int64_t left = static_cast<LONG>(x);
    const std::int64_t top = static_cast<LONG>(y);
    const std::int64_t right = left + (static_cast<std::int64_t>(src.right) - src.left);
    const std::int64_t bottom = top + (static_cast<std::int64_t>(src.bottom) - src.top);
    if (!wellFormed(src) || right > INT32_MAX || bottom > INT32_MAX)
        return DDERR_INVALIDRECT;
    RECT dst { static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right), static_cast<LONG>(bottom) };
    return bltFrom(dst, source, src, (flags & DDBLTFAST_SRCCOLORKEY) != 0);
}

HRESULT Surface::BltWithin(const RECT& destRect, Surface* source, const RECT& sourceRect, const RECT& clip)
{
    if (!source)
        return DDERR_INVALIDPARAMS;
    return bltFrom(destRect, source, sourceRect, false, &clip);
}

HRESULT Surface::BltPicture(const RECT& destRect, const YuvPicture& picture, const RECT& sourceRect, const RECT* clip)
{
    std::lock_guard lock(mutex());
    if (m_lost)
        return DDERR_SURFACELOST;
    BlitParams params;
    params.dest = destRect;
    params.source = sourceRect;
    const std::vector<RECT> clips = destClips();
    HRESULT hr = DD_OK;
    RECT changed {};
    for (std::size_t i = 0; i < std::max<std::size_t>(1, clips.size()); ++i) {
        params.destClip = clips.empty() ? RECT {} : clips[i];
        if (clip)
            params.destClip = ui::Intersect(params.destClip, *clip);
        hr = FastPictureBlit(viewLocked(), picture, params);
        if (FAILED(hr))
            return hr;
        changed = ui::Union(changed, ui::Intersect(destRect, params.destClip));
    }
    markChanged(changed);
    return hr;
}

HRESULT Surface::BltPictureMirrored(const RECT& destRect, const YuvPicture& picture, const RECT& sourceRect, Surface& mirror, POINT offset, bool& mirrored)
{
    mirrored = false;
    if (m_primary || m_clipper || mirror.m_format != PixelFormat::Xrgb8888 || &mirror == this)
        return BltPicture(destRect, picture, sourceRect);
    std::scoped_lock lock(mutex(), mirror.mutex());
    if (m_lost)
        return DDERR_SURFACELOST;
    const RECT written = ui::Intersect(destRect, RECT { 0, 0, Width(), Height() });
    const RECT target = ui::Offset(written, offset.x, offset.y);
    const std::vector<RECT> clips = mirror.destClips();
    const bool fits = !mirror.m_lost && !ui::IsEmpty(written)
        && std::any_of(clips.begin(), clips.end(), [&](const RECT& clip) { return ui::Intersect(clip, target) == target; });
    if (!fits)
        return BltPicture(destRect, picture, sourceRect);
    BlitParams params;
    params.dest = destRect;
    params.source = sourceRect;
    params.destClip = written;
    PictureMirror second;
    second.view = mirror.viewLocked();
    second.dx = offset.x;
    second.dy = offset.y;
    const HRESULT hr = FastPictureBlitMirrored(viewLocked(), picture, params, second);
    if (FAILED(hr))
        return hr;
    markChanged(written);
    mirror.markChanged(target);
    mirrored = true;
    return hr;
}

HRESULT Surface::GetDC(HDC* dc)
{
    if (!dc)
        return DDERR_INVALIDPARAMS;
    *dc = nullptr;
    if (m_format != PixelFormat::Xrgb8888)
        return DDERR_CANTCREATEDC;
    if (FAILED(IsLost()))
        return DDERR_SURFACELOST;
    *dc = detail::CreateSurfaceDC(this);
    return *dc ? DD_OK : DDERR_CANTCREATEDC;
}

HRESULT Surface::ReleaseDC(HDC dc)
{
    return detail::DeleteSurfaceDC(dc, this) ? DD_OK : DDERR_INVALIDPARAMS;
}

}
