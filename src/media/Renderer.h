#pragma once
// The shared renderer, as the stream players and the media hub use it: one
// display device with the screen's primary surface, a clipper bound to the
// window being shown, and a composition surface as large as the screen into
// which each window composes its picture before its part is put on the
// screen. The render view (view/CPlayView) is this build's renderer; the
// hub makes it, and makes it again after a lost display, through the
// factory its owner gives it.
//
// Ownership: surfaces a renderer makes for a caller belong to the caller,
// who Release()s them. Threads: a renderer has no lock of its own; blits
// into the composition surface and onto the screen are made under the lock
// of the window that makes them, and remaking the renderer holds every
// player's render lock.

#include "gfx/Gdi.h"
#include "gfx/Surface.h"
#include "ui/Window.h"

#include <functional>
#include <memory>

namespace media {

class Renderer {
public:
    virtual ~Renderer() = default;

    // Device, primary surface and a composition surface of width x height.
    virtual bool Create(HWND window, int width, int height) = 0;
    // A new clipper bound to `window`, and the window it is bound to.
    virtual bool AttachClipper(HWND window) = 0;
    virtual void SetClipperWindow(HWND window) = 0;
    virtual HWND GetClipperWindow() const = 0;
    // Device, primary surface, composition surface and clipper all exist.
    virtual bool IsReady() const = 0;
    // Device, primary surface and composition surface exist: frames can be composed.
    virtual bool CanCompose() const = 0;
    // Restores every surface of the device after a lost display.
    virtual HRESULT RestoreAllSurfaces() = 0;
    // Fills the composition surface black.
    virtual void ClearComposition() = 0;
    // A display-format surface, and a YUV surface ("YV12", else "UYVY"); null if none.
    virtual gfx::Surface* CreateSurface(int width, int height) = 0;
    virtual gfx::Surface* CreateYuvSurface(int width, int height) = 0;
    // A system-memory surface holding the bitmap at (0, 0), black transparent.
    virtual gfx::Surface* CreateBitmapSurface(gfx::HBITMAP bitmap, int width, int height) = 0;
    // The composition surface (null before Create); the windows draw their
    // texts and markers on it under their window lock.
    virtual gfx::Surface* Composition() const = 0;
    // Text in `color` with `font` at (x, y) of `surface`.
    virtual void DrawText(gfx::Surface* surface, int x, int y, const char16_t* text, gfx::HFONT font, COLORREF color) = 0;

    // The frame pipeline, step by step: a decoded frame into the window's
    // back surface (BGRA, or I420 through the YUV surface), the back
    // surface's `source` rectangle onto the composition surface (whole, or
    // with keep ratio onto `display`), and the composition surface onto the
    // screen at the window's rectangle.
    virtual HRESULT DrawRgbFrame(gfx::Surface* back, const void* bgra, int width, int height) = 0;
    virtual HRESULT DrawYuvFrame(gfx::Surface* yuv, gfx::Surface* back, const BYTE* i420, int width, int height) = 0;
    virtual HRESULT Compose(gfx::Surface* back, const RECT& source, const RECT* display) = 0;
    virtual HRESULT Present(HWND window, bool keepRatio) = 0;

    // The live path's short cut for steps 1 and 3: the decoded picture's
    // `source` rectangle converted straight onto the composition surface,
    // giving the pixels the back surface would have given. ComposeWithin
    // redoes step 3 only for the composition pixels that read the back
    // surface's `sourceBox` (where something was drawn on the picture).
    // `presentTo`, when not null, is the window the caller presents the
    // composition in right after, with keep ratio, drawing nothing more on
    // it before: the picture may then go onto the screen at once as well.
    virtual HRESULT ComposePicture(const gfx::YuvPicture& picture, const RECT& source, const RECT* display, HWND presentTo) = 0;
    virtual HRESULT ComposeWithin(gfx::Surface* back, const RECT& source, const RECT* display, const RECT& sourceBox) = 0;
    // The picture's place (and its bars, as ComposePicture) filled with one
    // colour: where a picture that passes through to its viewer shows.
    virtual HRESULT ComposeFill(std::uint32_t colour, const RECT* display) = 0;

    // The area editors' frame path: a decoded frame stretched straight onto
    // the composition surface at `dest` (I420 through the YUV surface, or
    // top-down BGRA), their overlay's non-black pixels laid over the
    // composition surface at (0, 0), and the composition surface's `source`
    // onto the screen at `screen`.
    virtual HRESULT DrawYuvToComposition(gfx::Surface* yuv, const BYTE* i420, int width, int height, const RECT& dest) = 0;
    virtual HRESULT DrawRgbToComposition(const void* bgra, int width, int height, const RECT& dest) = 0;
    virtual HRESULT LayOver(gfx::Surface* overlay) = 0;
    virtual HRESULT PresentPart(const RECT& source, const RECT& screen) = 0;
    // Fills a surface with 0: black, and transparent under a black key.
    virtual void FillBlack(gfx::Surface* surface) = 0;
    // The result of the last pipeline step.
    virtual HRESULT LastResult() const = 0;
};

using RendererFactory = std::function<std::unique_ptr<Renderer>()>;

}
