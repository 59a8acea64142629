#pragma once
// A DirectDraw-like display device in software: the primary surface is the
// window system's screen, off-screen surfaces live in "video" or "system"
// memory (both ordinary memory here), YUV surfaces (YV12, UYVY) convert to
// the display format when blitted, a clipper keeps blits to the primary
// surface inside one window's visible part, and surfaces can be lost and
// restored. Result codes and flag values are DirectDraw's.
//
// Ownership: every object is reference counted. Create functions hand out
// one reference, which the caller gives back with Release(). A surface keeps
// its device's shared state alive, so releasing the device before its
// surfaces is safe.
//
// Threads: any thread. Each surface has its own lock; the screen has one.
// A blit locks its two surfaces in address order, so two threads blitting
// between the same pair in opposite directions cannot deadlock.

#include "gfx/Forward.h"
#include "gfx/PixelFormat.h"

#include "ui/Window.h"

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace gfx {

constexpr HRESULT MakeDdResult(unsigned code) { return static_cast<HRESULT>(0x88760000u | code); }

constexpr HRESULT DD_OK = S_OK;
constexpr HRESULT DDERR_GENERIC = E_FAIL;
constexpr HRESULT DDERR_INVALIDPARAMS = E_INVALIDARG;
constexpr HRESULT DDERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DDERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DDERR_INVALIDPIXELFORMAT = MakeDdResult(145);
constexpr HRESULT DDERR_INVALIDRECT = MakeDdResult(150);
constexpr HRESULT DDERR_NOCOLORKEY = MakeDdResult(215);
constexpr HRESULT DDERR_OUTOFVIDEOMEMORY = MakeDdResult(380);
constexpr HRESULT DDERR_SURFACEBUSY = MakeDdResult(430);
constexpr HRESULT DDERR_SURFACELOST = MakeDdResult(450); // 0x887601C2
constexpr HRESULT DDERR_NODIRECTDRAWHW = MakeDdResult(565);
constexpr HRESULT DDERR_NOHWND = MakeDdResult(569);
constexpr HRESULT DDERR_CANTCREATEDC = MakeDdResult(577);
constexpr HRESULT DDERR_NOTLOCKED = MakeDdResult(584);
constexpr HRESULT DDERR_WRONGMODE = MakeDdResult(587);

// Surface description flags.
constexpr DWORD DDSD_CAPS = 0x00000001;
constexpr DWORD DDSD_HEIGHT = 0x00000002;
constexpr DWORD DDSD_WIDTH = 0x00000004;
constexpr DWORD DDSD_PITCH = 0x00000008;
constexpr DWORD DDSD_LPSURFACE = 0x00000800;
constexpr DWORD DDSD_PIXELFORMAT = 0x00001000;

// Surface capabilities.
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x00000040;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x00000200;
constexpr DWORD DDSCAPS_SYSTEMMEMORY = 0x00000800;
constexpr DWORD DDSCAPS_VIDEOMEMORY = 0x00004000;

// Pixel format flags.
constexpr DWORD DDPF_FOURCC = 0x00000004;
constexpr DWORD DDPF_RGB = 0x00000040;

constexpr DWORD DDSCL_NORMAL = 0x00000008;
constexpr DWORD DDLOCK_WAIT = 0x00000001;

// Blt flags.
constexpr DWORD DDBLT_COLORFILL = 0x00000400;
constexpr DWORD DDBLT_KEYSRC = 0x00008000;
constexpr DWORD DDBLT_WAIT = 0x01000000;
// BltFast flags.
constexpr DWORD DDBLTFAST_NOCOLORKEY = 0x00000000;
constexpr DWORD DDBLTFAST_SRCCOLORKEY = 0x00000001;
constexpr DWORD DDBLTFAST_WAIT = 0x00000010;

constexpr DWORD DDCKEY_SRCBLT = 0x00000008;

// The sizes the description records declare in their size fields.
constexpr DWORD kSurfaceDescSize = 124;
constexpr DWORD kPixelFormatSize = 32;

struct DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    DWORD dwRGBBitCount;
    DWORD dwRBitMask;
    DWORD dwGBitMask;
    DWORD dwBBitMask;
    DWORD dwRGBAlphaBitMask;
};
static_assert(sizeof(DDPIXELFORMAT) == kPixelFormatSize);

struct DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
};

struct DDSCAPS2 {
    DWORD dwCaps;
    DWORD dwCaps2;
    DWORD dwCaps3;
    DWORD dwCaps4;
};

// Not byte-exact with the Windows record (pointers are 64 bits here), but
// its size field must say kSurfaceDescSize.
struct DDSURFACEDESC2 {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    LONG lPitch;
    void* lpSurface;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS2 ddsCaps;
};

struct DDBLTFX {
    DWORD dwSize;
    DWORD dwFillColor;
};

// What a test can make the simulated driver refuse. Process-wide.
struct SurfaceRequest {
    PixelFormat format;
    DWORD caps;
    int width;
    int height;
};
struct DriverRules {
    bool deviceAvailable = true; // DirectDrawCreateEx fails when false
    // True refuses the surface (DDERR_OUTOFVIDEOMEMORY for video memory,
    // else DDERR_INVALIDPIXELFORMAT or DDERR_OUTOFMEMORY).
    std::function<bool(const SurfaceRequest&)> refuseSurface;
    // True makes Restore of that surface fail with DDERR_WRONGMODE.
    std::function<bool(const Surface&)> refuseRestore;
};
void SetDriverRules(DriverRules rules);
// Back to a driver that allows everything.
void ResetDriverRules();

// Makes every surface of every device lost, as a display mode change does.
void LoseAllSurfaces();

class RefCounted {
public:
    ULONG AddRef() { return ++m_refs; }
    ULONG Release();

protected:
    RefCounted() = default;
    virtual ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

private:
    std::atomic<ULONG> m_refs { 1 };
};

// Binds blits to the primary surface to a window's visible part.
class Clipper final : public RefCounted {
public:
    HRESULT SetHWnd(DWORD flags, HWND window);
    HRESULT GetHWnd(HWND* window) const;
    // The screen pixels blits may touch: the window's visible region (see
    // gfx::VisibleRegion), or the whole screen when no window is bound.
    std::vector<RECT> ClipRegion(const RECT& screenBounds) const;

private:
    friend class DirectDraw;
    Clipper() = default;
    std::atomic<HWND> m_window { nullptr };
};

class DirectDraw final : public RefCounted {
public:
    HRESULT SetCooperativeLevel(HWND window, DWORD flags);
    HRESULT CreateSurface(const DDSURFACEDESC2* desc, Surface** surface);
    HRESULT CreateClipper(DWORD flags, Clipper** clipper);
    // Restores every lost surface of this device; the first failure is returned.
    HRESULT RestoreAllSurfaces();

    struct Shared;

private:
    friend HRESULT DirectDrawCreateEx(const void*, DirectDraw**);
    DirectDraw();
    ~DirectDraw() override;
    std::shared_ptr<Shared> m_shared;
};

// Makes the device; DDERR_NODIRECTDRAWHW when the driver rules say none exists.
HRESULT DirectDrawCreateEx(const void* driverGuid, DirectDraw** device);

}
