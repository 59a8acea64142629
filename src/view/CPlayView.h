#pragma once
// The shared renderer: the display device with its primary surface, the
// screen-sized composition surface and the clipper that keeps presents
// inside the shown window. Until a display device exists the view is not
// ready, and the windows draw nothing.
//
// Threads: made and destroyed by the media hub; used under the players'
// render locks.

#include "ui/Window.h"

class CPlayView {
public:
    CPlayView() = default;
    CPlayView(const CPlayView&) = delete;
    CPlayView& operator=(const CPlayView&) = delete;

    // The window whose visible part presents are clipped to.
    void SetClipperWindow(HWND window) { m_clipperWindow = window; }
    HWND GetClipperWindow() const { return m_clipperWindow; }

    // Device, primary surface, composition surface and clipper all exist.
    bool IsReady() const { return m_hasDevice && m_clipperWindow != nullptr; }

private:
    HWND m_clipperWindow = nullptr;
    bool m_hasDevice = false;
};
