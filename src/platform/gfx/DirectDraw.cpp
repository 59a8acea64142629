#include "gfx/DirectDraw.h"

#include "gfx/DeviceShared.h"
#include "gfx/Region.h"
#include "gfx/Screen.h"
#include "gfx/Surface.h"

#include <algorithm>
#include <new>

namespace gfx {

namespace {

// Surfaces larger than this on either side are refused.
constexpr DWORD kMaxSurfaceExtent = 16384;

struct Driver {
    std::mutex mutex;
    DriverRules rules;
    std::vector<std::weak_ptr<DirectDraw::Shared>> devices;
};

Driver& driver()
{
    static Driver* d = new Driver;
    return *d;
}

}

namespace detail {

DriverRules CurrentDriverRules()
{
    std::lock_guard lock(driver().mutex);
    return driver().rules;
}

}

void SetDriverRules(DriverRules rules)
{
    std::lock_guard lock(driver().mutex);
    driver().rules = std::move(rules);
}

void ResetDriverRules() { SetDriverRules(DriverRules {}); }

void LoseAllSurfaces()
{
    std::vector<std::shared_ptr<DirectDraw::Shared>> devices;
    {
        std::lock_guard lock(driver().mutex);
        for (auto& weak : driver().devices) {
            if (auto device = weak.lock())
                devices.push_back(device);
        }
    }
    for (auto& device : devices) {
        std::lock_guard lock(device->mutex);
        for (Surface* surface : device->surfaces)
            surface->ForceLost();
    }
}

ULONG RefCounted::Release()
{
    ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT Clipper::SetHWnd(DWORD, HWND window)
{
    if (window && !ui::IsWindow(window))
        return DDERR_NOHWND;
    m_window = window;
    return DD_OK;
}

HRESULT Clipper::GetHWnd(HWND* window) const
{
    if (!window)
        return DDERR_INVALIDPARAMS;
    *window = m_window;
    return DD_OK;
}

std::vector<RECT> Clipper::ClipRegion(const RECT& screenBounds) const
{
    HWND window = m_window;
    if (!window)
        return { screenBounds };
    return Intersect(VisibleRegion(window), screenBounds);
}

DirectDraw::DirectDraw() : m_shared(std::make_shared<Shared>()) { }
DirectDraw::~DirectDraw() = default;

HRESULT DirectDrawCreateEx(const void*, DirectDraw** device)
{
    if (!device)
        return DDERR_INVALIDPARAMS;
    *device = nullptr;
    if (!detail::CurrentDriverRules().deviceAvailable)
        return DDERR_NODIRECTDRAWHW;
    auto* created = new (std::nothrow) DirectDraw;
    if (!created)
        return DDERR_OUTOFMEMORY;
    {
        std::lock_guard lock(driver().mutex);
        auto& devices = driver().devices;
        devices.erase(std::remove_if(devices.begin(), devices.end(), [](auto& w) { return w.expired(); }), devices.end());
        devices.push_back(created->m_shared);
    }
    *device = created;
    return DD_OK;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND window, DWORD flags)
{
    if (flags != DDSCL_NORMAL)
        return DDERR_UNSUPPORTED; // exclusive modes do not exist on this display
    if (window && !ui::IsWindow(window))
        return DDERR_NOHWND;
    return DD_OK;
}

HRESULT DirectDraw::CreateSurface(const DDSURFACEDESC2* desc, Surface** surface)
{
    if (!surface)
        return DDERR_INVALIDPARAMS;
    *surface = nullptr;
    if (!desc || desc->dwSize != kSurfaceDescSize || !(desc->dwFlags & DDSD_CAPS))
        return DDERR_INVALIDPARAMS;
    const DWORD caps = desc->ddsCaps.dwCaps;
    const bool primary = (caps & DDSCAPS_PRIMARYSURFACE) != 0;
    PixelFormat format = PixelFormat::Xrgb8888;
    int width = 0;
    int height = 0;
    if (primary) {
        Screen::Get().SyncToMonitors();
        width = Screen::Get().Width();
        height = Screen::Get().Height();
    } else {
        if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT))
            return DDERR_INVALIDPARAMS;
        if (desc->dwWidth == 0 || desc->dwHeight == 0 || desc->dwWidth > kMaxSurfaceExtent || desc->dwHeight > kMaxSurfaceExtent)
            return DDERR_INVALIDPARAMS;
        width = static_cast<int>(desc->dwWidth);
        height = static_cast<int>(desc->dwHeight);
        if (desc->dwFlags & DDSD_PIXELFORMAT) {
            const DDPIXELFORMAT& pf = desc->ddpfPixelFormat;
            if (pf.dwSize != kPixelFormatSize)
                return DDERR_INVALIDPARAMS;
            if (pf.dwFlags & DDPF_FOURCC) {
                if (pf.dwFourCC == kFourCCYv12)
                    format = PixelFormat::Yv12;
                else if (pf.dwFourCC == kFourCCUyvy)
                    format = PixelFormat::Uyvy;
                else
                    return DDERR_INVALIDPIXELFORMAT;
            } else if (!(pf.dwFlags & DDPF_RGB) || pf.dwRGBBitCount != 32) {
                return DDERR_INVALIDPIXELFORMAT;
            }
        }
    }
    const MemoryKind memory = (caps & DDSCAPS_SYSTEMMEMORY) ? MemoryKind::System : MemoryKind::Video;
    DriverRules rules = detail::CurrentDriverRules();
    if (rules.refuseSurface && rules.refuseSurface(SurfaceRequest { format, caps, width, height }))
        return memory == MemoryKind::Video ? DDERR_OUTOFVIDEOMEMORY : DDERR_OUTOFMEMORY;
    auto* created = new (std::nothrow) Surface(m_shared, format, memory, caps, width, height, primary);
    if (!created)
        return DDERR_OUTOFMEMORY;
    if (!primary && !created->m_pixels) {
        created->Release();
        return DDERR_OUTOFMEMORY;
    }
    *surface = created;
    return DD_OK;
}

HRESULT DirectDraw::CreateClipper(DWORD, Clipper** clipper)
{
    if (!clipper)
        return DDERR_INVALIDPARAMS;
    *clipper = new (std::nothrow) Clipper;
    return *clipper ? DD_OK : DDERR_OUTOFMEMORY;
}

HRESULT DirectDraw::RestoreAllSurfaces()
{
    std::lock_guard lock(m_shared->mutex);
    HRESULT first = DD_OK;
    for (Surface* surface : m_shared->surfaces) {
        HRESULT hr = surface->Restore();
        if (FAILED(hr) && SUCCEEDED(first))
            first = hr;
    }
    return first;
}

}
