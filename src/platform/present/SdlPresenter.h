#pragma once
// The presenter with a window: an SDL2 window as large as what the page put
// on the screen (its visible top-level windows and the overlay, from the
// screen's origin; made smaller to fit the display), which takes the
// screen's changed rectangles into its own framebuffer on each change, whose
// mouse (buttons, wheel, movement; the window system makes double clicks)
// and keys go to ui's input as if they came from a real mouse and keyboard.
// It shows the window system's current cursor, with its picture when it has
// one (scaled with the window), and installs the screen's menu painter while
// it lives, so that popup menus open for a person to pick from; the menu
// shows through the screen's overlay.
//
// Threads: SDL runs on the presenter's own thread. Input travels from it
// as posted messages to a hidden window of the thread that made the
// presenter, which injects it there, so injection never waits on the page.

#include "present/Presenter.h"

#include "ui/Window.h"

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace present {

class SdlPresenter final : public Presenter, private ui::WindowHandler {
public:
    // Null when SDL cannot open a window (no display).
    static std::unique_ptr<SdlPresenter> Create();
    ~SdlPresenter() override;

    Kind GetKind() const override { return Kind::Window; }
    std::uint64_t FramesShown() const override { return m_framesShown; }
    bool WindowClosed() const override { return m_closed; }
    // The SDL window's id (tests address their events to it).
    std::uint32_t WindowId() const { return m_windowId; }
    // What the window shows now, read back from its framebuffer, as a PNG
    // file of the window's size. Waits for the SDL thread; false when it fails.
    bool SaveWindowShot(const std::string& path);
    bool SaveScreenshot(const std::string& path) override { return SaveWindowShot(path); }
    // The serial (ui::CursorImage::serial) of the picture cursor the window
    // shows; 0 while it shows a system cursor.
    std::uint64_t ShownCursorSerial() const { return m_shownCursorSerial; }

private:
    SdlPresenter() = default;
    // Shared with the screen's change listener, which may run late.
    struct Wake {
        std::atomic<bool> pending { false };
        std::atomic<std::uint32_t> event { 0 };
    };

    // A window shot asked for by the making thread, taken by the SDL thread.
    struct ShotRequest {
        std::string path;
        std::promise<bool> done;
    };

    bool start();
    void run(std::promise<bool>& started);
    void wake();
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    std::thread m_thread;
    std::atomic<bool> m_quit { false };
    std::atomic<bool> m_closed { false };
    std::shared_ptr<Wake> m_wake = std::make_shared<Wake>();
    std::atomic<std::uint64_t> m_framesShown { 0 };
    std::atomic<std::uint32_t> m_windowId { 0 };
    std::atomic<std::uint64_t> m_shownCursorSerial { 0 };
    std::mutex m_shotMutex;
    std::unique_ptr<ShotRequest> m_shot; // guarded by m_shotMutex
    bool m_paintsMenus = false; // the menu painter was installed by this presenter
    bool m_answersDialogs = false; // this presenter said a person answers dialogs
    HWND m_inputWindow = nullptr; // owned by the making thread
};

}
