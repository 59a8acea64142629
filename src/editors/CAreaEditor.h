#pragma once
// What the two area editors share: a stream player that draws the live
// picture straight into the picture rectangle of the composition surface,
// lays a colour-keyed overlay of its own over it (black is transparent)
// and puts the picture rectangle on the screen at the window's place; the
// window's erase, show (1034) and blacken (1035) messages. CMotion and
// CShelter draw their overlays and handle the mouse.
//
// Threads: frames are drawn on the network library's threads and the
// overlay presented on the watchdog's; the mouse and the script members
// run on the page's thread. What the overlay shows is read under the
// editor's area lock; the overlay surface is guarded by the render lock.

#include "media/CPlayBase.h"

#include "gfx/Gdi.h"

class CAreaEditor : public CPlayBase {
public:
    ~CAreaEditor() override;

    // Takes the hub's view, the overlay size (the screen's, until the editor
    // is entered) and makes the overlay surface, black and transparent.
    void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub) override;
    // The view is ready and the overlay surface exists.
    bool IsViewReady() override;
    // Reads the window's place on the screen; true.
    bool Poll() override;
    void DetachView() override;
    // After 2.5 s without frames: black, with the overlay, on every tick.
    HRESULT OnTick() override;
    void DrawRgbFrame(const PictureRecord& picture, int width, int height) override;
    void DrawYuvFrame(const PictureRecord& picture, int width, int height) override;
    void DrawPlainFrame(const PictureRecord&, int, int) override { }

    // No picture or screen is larger than this on a side: a page's size is
    // kept within 0..kMaxOverlaySide, so that every coordinate the editors
    // compute from it stays far from overflowing and every line they draw short.
    static constexpr int kMaxOverlaySide = 16384;

    // The picture's size as the page gives it on entering: the overlay's
    // size and the picture rectangle (0, 0, width, height).
    void SetOverlaySize(int width, int height);
    int OverlayWidth() const { return m_overlayWidth; }
    int OverlayHeight() const { return m_overlayHeight; }
    // The window's client rectangle (the control sets it when resized).
    void SetWorkRect(const RECT& rect);
    RECT GetWorkRect() const;
    bool IsDragging() const { return m_dragging != 0; }

protected:
    CAreaEditor(std::int16_t id, bool rereadWindowAfterFrame);

    // Draws what the editor shows on the overlay's device context (the
    // overlay is already black). Under the render lock.
    virtual void DrawOverlay(HDC dc) = 0;
    // A drag with the left button, in window coordinates: it begins, moves
    // (the hand cursor is shown) and ends. Called under the area lock; the
    // base captures the mouse for the drag, so the end comes wherever it is.
    virtual void OnDragBegin(POINT p) = 0;
    virtual void OnDragMove(POINT p) = 0;
    virtual void OnDragEnd(POINT p) = 0;
    // The drag, erase, 1034 and 1035.
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // The overlay drawn and laid over the composition surface, and the
    // picture rectangle put on the screen. Under the render lock.
    void presentOverlay();

    mutable sys::CriticalSection m_areaLock; // what the overlay shows and the work rectangle
    RECT m_workRect {};                      // guarded by m_areaLock
    std::atomic<std::int32_t> m_dragging { 0 };

private:
    RECT pictureRect() const;

    RECT m_windowRect {};            // guarded by m_renderLock
    std::atomic<int> m_overlayWidth { 0 };
    std::atomic<int> m_overlayHeight { 0 };
    gfx::Surface* m_overlay = nullptr; // guarded by m_renderLock
    const bool m_rereadWindow;
};
