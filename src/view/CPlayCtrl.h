#pragma once
// The video window class of the live and playback windows: a stream player
// that composes its picture through a back surface onto the shared
// renderer, presents it on the watchdog's tick, goes full screen on its
// monitor and back (the FullScreen member), and selects its control on a
// click. The zoom rectangle is the whole picture: zooming, dragging and the
// context menu are not built yet. CLiveCtrl and CPbCtrl derive from it.

#include "view/WindowOwner.h"

#include "media/CPlayBase.h"
#include "ui/Menu.h"

// The back surface until the video's size is known.
constexpr int kDefaultBackWidth = 1280;
constexpr int kDefaultBackHeight = 960;

class CPlayCtrl : public CPlayBase {
public:
    ~CPlayCtrl() override;

    // The control that holds the window; clicks go to it.
    void SetOwner(view::WindowOwner* owner) { m_owner = owner; }

    void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub) override;
    void DetachView() override;
    void OnPictureSize(int width, int height) override;
    void DrawRgbFrame(const PictureRecord& picture, int width, int height) override;
    void DrawYuvFrame(const PictureRecord& picture, int width, int height) override;
    void DrawPlainFrame(const PictureRecord&, int, int) override { }
    // Ticks the silence counter, then presents the composed picture at the
    // window's place on the screen.
    HRESULT OnTick() override;

    RECT GetSourceRect() const { return m_zoomRect; }

    bool IsFullScreen() const { return m_fullScreen; }
    // Into full screen on the window's monitor, or back into the control.
    void ToggleFullScreen();

    // Screen pan/tilt; the playback window has none.
    virtual void ToggleScreenPtz(int x, int y) = 0;
    virtual bool IsScreenPtz() const = 0;
    virtual int BeginPtzMove() = 0;
    virtual void EndPtzMove() = 0;

    // The window's context menu (none is made yet); destroyed with the window object.
    HMENU GetMenu() const { return m_menu; }
    void DestroyMenu();

protected:
    explicit CPlayCtrl(std::int16_t id) : CPlayBase(id) { }

    // Clicks select the control on a multi-view page; painting draws nothing
    // (the picture comes from the renderer).
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Onto the composition surface from the zoom rectangle (keep ratio: onto the display rectangle).
    HRESULT compose();

    RECT m_sourceRect {};    // the zoom rectangle, in video pixels: the whole picture
    RECT m_zoomRect {};      // what is blitted: the source rectangle
    RECT m_windowRect {};
    gfx::Surface* m_back = nullptr; // guarded by m_renderLock
    std::int16_t m_zoomLevel = 0;
    sys::CriticalSection m_windowLock; // blits into the composition surface and onto the screen
    bool m_fullScreen = false;
    HMENU m_menu = nullptr;
    view::WindowOwner* m_owner = nullptr;
    HWND m_parent = nullptr;  // the control window, while in full screen
    RECT m_savedRect {};      // the control's client rectangle before full screen
};
