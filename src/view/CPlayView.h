#pragma once
// The shared renderer: one display device, the primary (screen) surface
// with a clipper bound to the window being shown, and the composition
// surface, as large as the screen, that every window composes its picture
// into before copying its part onto the screen. It also makes the surfaces
// each window keeps (back surface, YV12 surface, bitmap surfaces), copies
// decoded I420 pictures into YUV surfaces and draws texts, frames and fills.
//
// Ownership: the view owns its device, primary, composition and clipper.
// Surfaces it makes for a caller belong to that caller, who Release()s them.
// Exactly one view exists per control, made and destroyed by the media hub
// (as its media::Renderer, through CPlayView::Make).
//
// Threads: blits into the composition surface and onto the screen are made
// under the lock of the window that makes them; frames are drawn on the
// media threads, presents on the watchdog thread, and remaking the view
// holds every player's render lock. A control's windows share the view, so
// the composes and presents that keep account of what the composition
// surface and the screen hold also take the view's own lock (before the
// screen's).

#include "media/Renderer.h"

#include "gfx/DirectDraw.h"
#include "gfx/Gdi.h"
#include "gfx/Screen.h"
#include "gfx/Surface.h"

#include <atomic>
#include <memory>
#include <mutex>

class CPlayView : public media::Renderer {
public:
    CPlayView() = default;
    ~CPlayView() override;
    CPlayView(const CPlayView&) = delete;
    CPlayView& operator=(const CPlayView&) = delete;

    // The media hub's renderer factory.
    static std::unique_ptr<media::Renderer> Make();

    // Device, primary surface and the composition surface of width x
    // height (with a black 5-pixel frame drawn on it). False only when the
    // device or the primary surface cannot be made.
    bool Create(HWND window, int width, int height) override;
    // Display format, video memory first, then system memory; null if neither.
    gfx::Surface* CreateSurface(int width, int height) override;
    // A video-memory YUV surface: "YV12", else "UYVY"; null if neither.
    gfx::Surface* CreateYuvSurface(int width, int height) override;
    // Releases composition, primary and device (not the clipper).
    virtual void ReleaseAll();
    // Restores the primary surface, then the composition surface. A failing
    // primary is returned at once, leaving the composition surface alone.
    virtual HRESULT RestoreSurfaces();
    // The device's RestoreAllSurfaces; DDERR_GENERIC without a device.
    HRESULT RestoreAllSurfaces() override;
    // Writes `value` at the surface's first byte: 0, 1 (lock failed) or 2
    // (unlock failed).
    virtual int ProbeSurface(gfx::Surface* surface, DWORD value);
    // A new clipper bound to `window` on the primary surface.
    bool AttachClipper(HWND window) override;
    // Text on black cells in `color` with `font` at (x, y).
    void DrawText(gfx::Surface* surface, int x, int y, const char16_t* text, gfx::HFONT font, COLORREF color) override;
    // As DrawText with a "Garamond" font of the given height and width.
    virtual void DrawTextSized(gfx::Surface* surface, int x, int y, const char16_t* text, COLORREF color, int height, int width);
    // Colour fill of the whole surface with the value widened to 32 bits.
    virtual void FillSurface(gfx::Surface* surface, WORD value);
    // FillSurface of the composition surface with 0.
    void ClearComposition() override;
    virtual void DrawFrame(COLORREF color, int left, int top, int right, int bottom, gfx::Surface* surface);
    // A hollow rectangle with a solid pen 5 pixels wide.
    virtual void DrawFrameRect(COLORREF color, const RECT& rect, gfx::Surface* surface);
    // A system-memory surface holding the bitmap at (0, 0), black transparent.
    gfx::Surface* CreateBitmapSurface(gfx::HBITMAP bitmap, int width, int height) override;
    gfx::Surface* Composition() const override { return composition; }
    // Replaces the surface's source colour key.
    virtual void SetColorKey(gfx::Surface* surface, DWORD key);
    // Copies a packed I420 picture into a YUV surface (YV12 as planes; a
    // UYVY surface gets the picture converted to UYVY). The lock's result
    // goes to lastResult. Never writes past the surface: a picture larger
    // than it is cut to its size. Null when the flag is negative, a plane or
    // the surface is missing, the size is not positive, the surface is not
    // a YUV surface or the lock fails.
    virtual gfx::Surface* CopyI420(const BYTE* y, const BYTE* u, const BYTE* v, int flag, gfx::Surface* surface, int width, int height);

    // The frame pipeline, step by step as the windows call it; each stores
    // its result in lastResult and returns it.
    // 1, RGB path: a top-down BGRA frame into the back surface at (0, 0).
    HRESULT DrawRgbFrame(gfx::Surface* back, const void* bgra, int width, int height) override;
    // 1, YV12 path: CopyI420 into the YUV surface, then BltFast into the
    // back surface. A failed copy drops the frame and returns a failure: the
    // lock's result, or DDERR_INVALIDPARAMS when the copy was refused.
    HRESULT DrawYuvFrame(gfx::Surface* yuv, gfx::Surface* back, const BYTE* i420, int width, int height) override;
    // 3: the back surface's `source` rectangle onto the composition surface:
    // the whole of it, or with keep ratio (`display` not null) onto the
    // display rectangle, the rest of the composition surface black. The
    // black is filled only when the display rectangle moved or someone else
    // drew on the composition surface since the last compose.
    HRESULT Compose(gfx::Surface* back, const RECT& source, const RECT* display) override;
    // 1 and 3 at once for a decoded picture, and 3 again for a part of the
    // back surface (see media::Renderer).
    // With `presentTo`, when the screen shows the window's composition as
    // it is (nothing pending since the last present there, nothing else
    // drawn on the screen under it), the picture is written onto the screen
    // in the same pass, so the present that follows has nothing to copy.
    HRESULT ComposePicture(const gfx::YuvPicture& picture, const RECT& source, const RECT* display, HWND presentTo) override;
    HRESULT ComposeFill(std::uint32_t colour, const RECT* display) override;
    HRESULT ComposeWithin(gfx::Surface* back, const RECT& source, const RECT* display, const RECT& sourceBox) override;
    // 4: the composition surface onto the screen at the window's rectangle,
    // from all of it, or with keep ratio from its window-sized top-left part.
    // Only what changed goes: nothing when neither the composition surface
    // nor the screen under the window changed since the last present to the
    // same window at the same place, else with keep ratio the changed part
    // of the composition surface (everything after a write the view did not
    // make itself), else all of it.
    HRESULT Present(HWND window, bool keepRatio) override;
    HRESULT DrawYuvToComposition(gfx::Surface* yuv, const BYTE* i420, int width, int height, const RECT& dest) override;
    HRESULT DrawRgbToComposition(const void* bgra, int width, int height, const RECT& dest) override;
    HRESULT LayOver(gfx::Surface* overlay) override;
    HRESULT PresentPart(const RECT& source, const RECT& screen) override;
    void FillBlack(gfx::Surface* surface) override { FillSurface(surface, 0); }
    HRESULT LastResult() const override { return lastResult; }

    // The bitmap header of the RGB path for a frame.
    static gfx::BITMAPINFO FrameHeader(int width, int height);

    // The window presents are clipped to: rebinds the clipper (making one
    // when there is none).
    void SetClipperWindow(HWND window) override;
    HWND GetClipperWindow() const override;
    // Device, primary surface, composition surface and clipper all exist.
    bool IsReady() const override { return device && primary && composition && clipper; }
    bool CanCompose() const override { return device && primary && composition; }

    int height = 0;
    int width = 0;
    gfx::DirectDraw* device = nullptr;
    gfx::Surface* primary = nullptr;
    gfx::Surface* composition = nullptr;
    gfx::Clipper* clipper = nullptr;
    std::atomic<HRESULT> lastResult { gfx::DD_OK };

private:
    // Before a compose onto `display` (null: the whole surface): the
    // composition surface outside it made black unless it still is.
    void prepareBars(const RECT* display);
    // After a compose: what the composition surface now holds.
    void noteComposed(const RECT* display);
    // The bars' part of noteComposed: black outside `display` as of now.
    void noteBars(const RECT* display);

    // A write the view did not make (text, fills, other windows' steps)
    // since it last looked makes the whole composition surface changed.
    void noteForeignWrites();
    // After the view's own step changed `rect` of the composition surface.
    void noteOwnWrite(const RECT& rect);

    // Guards the account below, and is held across the compose or present
    // that changes what it describes.
    // Under the account mutex and the screen's lock: whether the last
    // present went to `window` at `windowRect` the same way, and nothing
    // else drew on the screen there since.
    bool screenShowsLastPresent(gfx::Screen& screen, HWND window, const RECT& windowRect, bool keepRatio);
    // Under the account mutex: the picture onto the composition surface at
    // `dest` and onto the screen too, when the screen shows `window`'s
    // composition as it is; false (nothing written) when it does not.
    bool composeOntoScreen(const gfx::YuvPicture& picture, const RECT& source, const RECT& dest, HWND window, HRESULT& result);

    std::mutex m_accountMutex;
    RECT m_changed {};               // composition pixels not yet presented
    std::uint64_t m_knownWrites = 0; // the write count the view accounted for
    bool m_presented = false;        // the last present's target...
    HWND m_presentedWindow = nullptr;
    RECT m_presentedRect {};
    bool m_presentedKeepRatio = false;
    std::uint64_t m_presentedGeneration = 0; // ...and the screen just after it
    bool m_barsBlack = false;       // outside m_barsDisplay is black...
    RECT m_barsDisplay {};
    std::uint64_t m_barsWrites = 0; // ...as long as the surface's write count is this

    // A top-down BGRA frame stretched onto `target` at `dest` (COLORONCOLOR).
    HRESULT stretchRgb(gfx::Surface* target, const RECT& dest, const void* bgra, int w, int h);
};
