#pragma once
// One surface of the software display device (see DirectDraw.h): its
// memory, pitch, lock, source colour key, lost state, clipper and device
// context. The primary surface has no memory of its own: it is the screen.
//
// Ownership: reference counted; the creator's reference is given back with
// Release(). Threads: any; the surface's lock (or the screen's, for the
// primary surface) guards its pixels and state.

#include "gfx/DirectDraw.h"

#include "gfx/Pixels.h"

#include "gfx/Blit.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace gfx {

enum class MemoryKind { Video, System };

class Surface final : public RefCounted {
public:
    PixelFormat Format() const { return m_format; }
    int Width() const;
    int Height() const;
    LONG Pitch() const;
    MemoryKind Memory() const { return m_memory; }
    bool IsPrimary() const { return m_primary; }
    DWORD Caps() const { return m_caps; }

    // A null rectangle locks the whole surface. While locked, blits to and
    // from the surface wait for Unlock (the lock is the surface's mutex, so
    // Lock and Unlock must come from the same thread).
    HRESULT Lock(const RECT* rect, DDSURFACEDESC2* desc, DWORD flags);
    HRESULT Unlock(const RECT* rect);
    HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) const;

    HRESULT IsLost() const;
    // Brings a lost surface back (its contents are black afterwards).
    HRESULT Restore();
    // Tests: makes the surface lost, as a display mode change would.
    void ForceLost();

    // DDCKEY_SRCBLT; a null key clears it.
    HRESULT SetColorKey(DWORD flags, const DDCOLORKEY* key);
    HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) const;

    HRESULT SetClipper(Clipper* clipper);
    Clipper* GetClipper() const { return m_clipper; }

    // Blit from `source` (may be null with DDBLT_COLORFILL) with stretching.
    // Null rectangles mean whole surfaces. Both rectangles are clipped to
    // their surfaces (and the primary's to its clipper) keeping the
    // mapping between them; an inverted rectangle is DDERR_INVALIDRECT.
    HRESULT Blt(const RECT* destRect, Surface* source, const RECT* sourceRect, DWORD flags, const DDBLTFX* fx);
    // Copy without stretching to (x, y).
    HRESULT BltFast(DWORD x, DWORD y, Surface* source, const RECT* sourceRect, DWORD flags);
    // Blt from `source` that writes only the destination pixels inside
    // `clip`; the mapping is still that of the two whole rectangles.
    HRESULT BltWithin(const RECT& destRect, Surface* source, const RECT& sourceRect, const RECT& clip);
    // A decoded picture's `sourceRect` converted straight onto this
    // display-format surface at `destRect` (stretched as Blt does), writing
    // only inside `clip` when one is given.
    HRESULT BltPicture(const RECT& destRect, const YuvPicture& picture, const RECT& sourceRect, const RECT* clip = nullptr);
    // BltPicture, writing the same pixels `offset` away on `mirror` too
    // (`mirrored` true) when every one of them lands where a blit onto
    // `mirror` may write (within its clip list); else BltPicture alone
    // (`mirrored` false). The surface itself must have no clip list.
    HRESULT BltPictureMirrored(const RECT& destRect, const YuvPicture& picture, const RECT& sourceRect, Surface& mirror, POINT offset, bool& mirrored);

    // Counts every write to the surface (blits, fills, unlocks, drawing):
    // a caller that remembers it knows whether anyone else drew since.
    std::uint64_t Writes() const { return m_writes.load(std::memory_order_acquire); }

    // A device context drawing on the surface (display format only).
    HRESULT GetDC(HDC* dc);
    HRESULT ReleaseDC(HDC dc);

    // For the drawing layer: runs `draw(view, changed)` with the pixels
    // under the lock; DDERR_SURFACELOST when lost. `draw` sets `changed` to
    // the rectangle it touched, which a primary surface reports to the screen.
    template<typename F>
    HRESULT WithPixels(F&& draw);

private:
    friend class DirectDraw;
    Surface(std::shared_ptr<DirectDraw::Shared> device, PixelFormat format, MemoryKind memory, DWORD caps, int width, int height, bool primary);
    ~Surface() override;

    std::recursive_mutex& mutex() const;
    PixelView viewLocked() const;
    void clearLocked();
    void markChanged(const RECT& screenRect) const;
    HRESULT bltFrom(const RECT& dst, Surface* source, const RECT& src, bool colorKey, const RECT* within = nullptr);
    std::vector<RECT> destClips() const;

    std::shared_ptr<DirectDraw::Shared> m_device;
    PixelFormat m_format;
    MemoryKind m_memory;
    DWORD m_caps;
    bool m_primary;
    int m_width;
    int m_height;
    LONG m_pitch = 0;
    // Rows start on a cache line (kPitchAlign apart from the first), so
    // that whole-line stores can write them without reading them first.
    struct AlignedFree {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t[], AlignedFree> m_pixels;
    std::size_t m_bytes = 0;

    // Guarded by mutex().
    mutable std::recursive_mutex m_mutex;
    bool m_lost = false;
    bool m_hasColorKey = false;
    DDCOLORKEY m_colorKey {};
    Clipper* m_clipper = nullptr; // one reference held
    int m_locks = 0;
    ConverterCache m_converter; // for blits from this surface
    mutable std::atomic<std::uint64_t> m_writes { 0 };
};

}

#include "gfx/Screen.h"

namespace gfx {

template<typename F>
HRESULT Surface::WithPixels(F&& draw)
{
    std::lock_guard lock(mutex());
    if (m_lost)
        return DDERR_SURFACELOST;
    PixelView view = viewLocked();
    RECT changed {};
    draw(view, changed);
    if (!ui::IsEmpty(changed))
        markChanged(changed);
    else
        m_writes.fetch_add(1, std::memory_order_release);
    return DD_OK;
}

}
