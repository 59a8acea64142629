#pragma once
// The small window base class of the video windows: registers a window
// class, creates the window with this object as its handler and routes its
// messages to the virtual WindowProc.
//
// Threads: page's thread only.

#include "ui/Window.h"

// Messages to the video windows and the editors: show the window whose id
// is lParam when it is the hub's active one, in the control window; blacken
// the window and end a drag.
constexpr UINT kMsgShowActiveWindow = 1034;
constexpr UINT kMsgBlacken = 1035;

class CNPWnd : protected ui::WindowHandler {
public:
    virtual ~CNPWnd();
    CNPWnd(const CNPWnd&) = delete;
    CNPWnd& operator=(const CNPWnd&) = delete;

    // The window-class style this window registers its class with.
    virtual UINT GetKind() { return 0; }

    // Registers `className` with GetKind's style, the arrow cursor and no
    // background. Also succeeds when the class already exists.
    bool Register(const char* className);

    // Makes the window, handled by this object; its background colour is
    // `background` (kNoBackground for none). Null on failure.
    HWND CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, const RECT& rect, HWND parent, COLORREF background);
    void DestroyWindow();

    HWND GetHwnd() const { return m_hWnd; }

    // Fills the whole client area black with the default pen.
    void Blacken();

protected:
    CNPWnd() = default;

    // Window messages; the default is the class's procedure.
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    HWND m_hWnd = nullptr;
};
