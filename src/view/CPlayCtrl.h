#pragma once
// The video window class of the live and playback windows: a stream player
// that composes its picture through a back surface onto the shared
// renderer and presents it on the watchdog's tick, with digital zoom
// (levels 0 to 27 around a point), dragging of the zoomed picture, full
// screen on the nearest monitor, the context menu, and the window procedure
// that turns the mouse and the keys into these. CLiveCtrl and CPbCtrl
// derive from it and add their texts, dots and screen pan/tilt.
//
// Threads: input, zoom, menu and full screen on the page's thread; frames
// are drawn on the network library's threads and presented on the
// watchdog's. The zoom rectangles are read by the drawing threads under
// the geometry lock; blits into the composition surface and onto the
// screen are made under the window lock.

#include "view/WindowOwner.h"

#include "media/CPlayBase.h"
#include "gfx/Gdi.h"
#include "ui/Menu.h"

// The back surface until the video's size is known.
constexpr int kDefaultBackWidth = 1280;
constexpr int kDefaultBackHeight = 960;

// Digital zoom: level L shows (32 - L) / 32 of the picture.
constexpr std::int16_t kMaxZoomLevel = 27;
constexpr int kZoomSteps = 32;

// The context menu's commands (WM_COMMAND's low word).
constexpr UINT kCommandFullScreen = 1324;
constexpr UINT kCommandKeepRatio = 1325;
constexpr UINT kCommandScreenPtz = 1326;
constexpr UINT kCommandZoomIn = 1327;
constexpr UINT kCommandZoomOut = 1328;
// Menu texts are read into buffers of this many wide characters.
constexpr std::size_t kMenuTextChars = 100;

class CPlayCtrl : public CPlayBase {
public:
    ~CPlayCtrl() override;

    // The control that holds the window; clicks, screen pan/tilt and the
    // pan/tilt worker's messages go to it.
    void SetOwner(view::WindowOwner* owner) { m_owner = owner; }

    void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub) override;
    void DetachView() override;
    void OnPictureSize(int width, int height) override;
    void DrawRgbFrame(const PictureRecord& picture, int width, int height) override;
    void DrawYuvFrame(const PictureRecord& picture, int width, int height) override;
    void DrawPlainFrame(const PictureRecord&, int, int) override { }
    HRESULT PresentComposed() override { return present(); }

    // The context menu, built anew: keep ratio (when the YV12 surface
    // exists), full screen, zoom up and down as the level allows.
    virtual HMENU BuildMenu();
    // Into full screen on the window's nearest monitor (topmost, the screen
    // saver off), or back into the control.
    void ToggleFullScreen();
    // Zoom one level out or in around the window point (x, y). Refused in
    // screen pan/tilt mode, outside the picture (keep ratio), or at the
    // level's limit. Returns whether the zoom changed.
    bool ZoomOut(int x, int y);
    bool ZoomIn(int x, int y);
    // The zoom rectangle becomes the committed one.
    void CommitPan();
    // Moves the committed rectangle by a drag from (x0, y0) to (x1, y1),
    // kept inside the picture at its size, into the zoom rectangle.
    void Pan(int x0, int y0, int x1, int y1);

    // Screen pan/tilt; the playback window has none.
    virtual void ToggleScreenPtz(int x, int y) = 0;
    virtual bool IsScreenPtz() const = 0;
    // The pointer moved in screen pan/tilt mode; true when the direction
    // (or the moving cursor) was set.
    virtual bool TrackPtzCursor(int x, int y) = 0;
    virtual int BeginPtzMove() = 0;
    virtual void EndPtzMove() { }
    // Whether a middle click in full screen may switch screen pan/tilt on.
    virtual bool OffersScreenPtz() const { return false; }

    bool IsFullScreen() const { return m_fullScreen; }
    void ClearMenuFlag() { m_menuOpen = false; }
    bool IsMenuOpen() const { return m_menuOpen; }

    // The rectangles in video pixels: the committed one and the one blitted.
    RECT GetSourceRect() const;
    RECT GetZoomRect() const;
    std::int16_t GetZoomLevel() const { return m_zoomLevel; }
    bool IsDragging() const { return m_dragging != 0; }
    // The last menu built; destroyed with the window object.
    HMENU GetMenu() const { return m_menu; }
    void DestroyMenu();

protected:
    explicit CPlayCtrl(std::int16_t id);
    // The texts' font: Arial 18 x 12, thin, Big5 character set.
    static gfx::HFONT MakeWindowFont();

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Onto the composition surface from the zoom rectangle (keep ratio: onto
    // the display rectangle). Under the render lock; takes the window lock.
    HRESULT compose();
    // Presents the composition surface at the window's place on the screen,
    // refreshing the window rectangle. Under the render lock.
    HRESULT present();
    // A window point into the video; false when keep ratio is on and the
    // point is outside the picture, or nothing is shown yet.
    bool mapPoint(int& x, int& y);
    // The control's language base, added to string numbers.
    int languageBase() const;
    // Appends the text of string `id` (+ the language base) as an item.
    void appendItem(HMENU menu, int id, UINT command, bool checked);
    void appendZoomItems(HMENU menu);
    // Keep ratio (checked when on) and a separator when the YV12 surface
    // exists, then full screen (checked in full screen).
    void appendViewItems(HMENU menu);
    // Sets cursor `index` of the module's cursors (0..8 pan/tilt, 9 and 10 zoom).
    static void setCursor(int index);
    // The cursor position in this window's coordinates.
    POINT cursorInWindow() const;

    RECT m_sourceRect {};     // committed zoom rectangle; guarded by m_geometryLock
    RECT m_zoomRect {};       // blitted rectangle; guarded by m_geometryLock
    RECT m_windowRect {};     // the window's rectangle (its size is used)
    RECT m_savedRect {};      // the control's client rectangle before full screen
    gfx::Surface* m_back = nullptr; // guarded by m_renderLock
    std::int16_t m_zoomLevel = 0;
    gfx::HFONT m_font = nullptr;    // made by the subclass
    HMENU m_menu = nullptr;
    bool m_menuOpen = false;
    sys::CriticalSection m_windowLock; // blits into the composition surface and onto the screen
    std::atomic<bool> m_fullScreen { false };
    BOOL m_screenSaverWasActive = FALSE;
    std::int32_t m_dragging = 0;
    std::int32_t m_dragX = 0;  // drag start; the live window's pan/tilt centre
    std::int32_t m_dragY = 0;
    std::int32_t m_menuX = 0;  // where the menu was asked for
    std::int32_t m_menuY = 0;
    view::WindowOwner* m_owner = nullptr;
    HWND m_parent = nullptr;  // the control window, stored on entering full screen

private:
    // Sets both rectangles from a zoom around the mapped point (x, y).
    void zoomAround(int x, int y);
    // `rect` kept inside the picture without changing its size.
    RECT keptInside(RECT rect) const;
};
