// The presenters: the screen as PNG at any moment, and the SDL2 window that
// shows the screen and sends mouse and keys into the window system (under
// Xvfb; skipped where no display exists).

#include "present/Presenter.h"
#include "present/SdlPresenter.h"

#include "gfx/Gdi.h"
#include "gfx/Screen.h"
#include "ui/Input.h"
#include "ui/Monitor.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr DWORD kWaitMs = 3000;

bool haveDisplay()
{
    const char* d = std::getenv("DISPLAY");
    return d && *d;
}

void paintScreen(const RECT& r, COLORREF color)
{
    HWND window = ui::CreateWindowEx(0, "static", "paint", WS_POPUP | WS_VISIBLE, 0, 0, 640, 360, nullptr);
    HDC dc = gfx::GetDC(window);
    gfx::HBRUSH brush = gfx::CreateSolidBrush(color);
    gfx::FillRect(dc, &r, brush);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(brush));
    gfx::ReleaseDC(window, dc);
    ui::DestroyWindow(window);
}

// Records what a window receives.
class Recorder : public ui::WindowHandler {
public:
    struct Seen {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message >= WM_KEYDOWN && message <= WM_MOUSEWHEEL && message != WM_SETCURSOR)
            seen.push_back(Seen { message, wParam, lParam });
        return ui::DefWindowProc(window, message, wParam, lParam);
    }
    bool has(UINT message) const
    {
        for (const Seen& s : seen)
            if (s.message == message)
                return true;
        return false;
    }
    const Seen* find(UINT message) const
    {
        for (const Seen& s : seen)
            if (s.message == message)
                return &s;
        return nullptr;
    }
    std::vector<Seen> seen;
};

class PresenterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui::SetMonitorSizes({ SIZE { 640, 360 } });
        gfx::Screen::Get().SyncToMonitors();
        ui::ResetInput();
    }
};

TEST_F(PresenterTest, TheScreenCanBeSavedAsPngAtAnyMoment)
{
    auto presenter = present::CreatePresenter(present::Kind::Headless);
    ASSERT_NE(presenter, nullptr);
    EXPECT_EQ(presenter->GetKind(), present::Kind::Headless);
    paintScreen(RECT { 10, 10, 20, 30 }, RGB(255, 128, 0));
    const std::string path = ::testing::TempDir() + "tiravex-screen.png";
    ASSERT_TRUE(presenter->SaveScreenshot(path));
    std::vector<std::uint32_t> pixels;
    int w = 0;
    int h = 0;
    ASSERT_TRUE(present::ReadPng(path, pixels, w, h));
    ASSERT_EQ(w, 640);
    ASSERT_EQ(h, 360);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(pixels[static_cast<std::size_t>(y * w + x)], gfx::Screen::Get().PixelAt(x, y)) << x << "," << y;
    EXPECT_EQ(pixels[15 * 640 + 15], 0x00FF8000u);
    EXPECT_FALSE(present::SaveScreenPng("/nonexistent-folder/screen.png"));
}

TEST_F(PresenterTest, WithoutADisplayNoWindowIsMade)
{
    if (haveDisplay())
        GTEST_SKIP() << "a display exists";
    EXPECT_EQ(present::CreatePresenter(present::Kind::Window), nullptr);
}

TEST_F(PresenterTest, TheWindowShowsTheScreenAgainWhenItChanges)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no display (run under xvfb-run)";
    auto presenter = present::CreatePresenter(present::Kind::Window);
    ASSERT_NE(presenter, nullptr);
    EXPECT_EQ(presenter->GetKind(), present::Kind::Window);
    ASSERT_TRUE(ui::RunUntil([&] { return presenter->FramesShown() >= 1; }, kWaitMs));
    std::uint64_t before = presenter->FramesShown();
    paintScreen(RECT { 0, 0, 50, 50 }, RGB(0, 255, 0));
    EXPECT_TRUE(ui::RunUntil([&] { return presenter->FramesShown() > before; }, kWaitMs));
    // Closing the window is reported, not acted on: the host decides.
    EXPECT_FALSE(presenter->WindowClosed());
    SDL_Event quit {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    EXPECT_TRUE(ui::RunUntil([&] { return presenter->WindowClosed(); }, kWaitMs));
}

TEST_F(PresenterTest, MouseAndKeysOfTheWindowReachTheWindowSystem)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no display (run under xvfb-run)";
    auto presenter = present::SdlPresenter::Create();
    ASSERT_NE(presenter, nullptr);
    WNDCLASS target;
    target.style = CS_DBLCLKS;
    target.lpszClassName = "PresenterTestTarget";
    ui::RegisterClass(target);
    Recorder recorder;
    HWND window = ui::CreateWindowEx(0, "PresenterTestTarget", "target", WS_POPUP | WS_VISIBLE, 100, 100, 200, 100, nullptr, &recorder);
    ui::SetFocus(window);

    auto push = [&](SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1); };
    auto button = [&](Uint32 type, Uint8 which) {
        SDL_Event e {};
        e.type = type;
        e.button.windowID = presenter->WindowId();
        e.button.button = which;
        e.button.x = 150;
        e.button.y = 140;
        push(e);
    };
    SDL_Event move {};
    move.type = SDL_MOUSEMOTION;
    move.motion.windowID = presenter->WindowId();
    move.motion.x = 150;
    move.motion.y = 140;
    push(move);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT); // the second press of a double click
    button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE);
    SDL_Event wheel {};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = presenter->WindowId();
    wheel.wheel.y = -1;
    push(wheel);
    SDL_Event key {};
    key.type = SDL_KEYDOWN;
    key.key.windowID = presenter->WindowId();
    key.key.keysym.sym = SDLK_ESCAPE;
    push(key);
    key.key.keysym.sym = SDLK_LCTRL;
    push(key);

    ASSERT_TRUE(ui::RunUntil([&] { return recorder.has(WM_KEYDOWN) && recorder.seen.size() >= 10; }, kWaitMs)) << recorder.seen.size() << " messages";
    const Recorder::Seen* down = recorder.find(WM_LBUTTONDOWN);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(GET_X_LPARAM(down->lParam), 50); // client coordinates
    EXPECT_EQ(GET_Y_LPARAM(down->lParam), 40);
    EXPECT_TRUE(recorder.has(WM_MOUSEMOVE));
    EXPECT_TRUE(recorder.has(WM_LBUTTONDBLCLK));
    EXPECT_TRUE(recorder.has(WM_RBUTTONDOWN));
    EXPECT_TRUE(recorder.has(WM_MBUTTONDOWN));
    const Recorder::Seen* w = recorder.find(WM_MOUSEWHEEL);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(static_cast<SHORT>(HIWORD(w->wParam)), -120);
    std::vector<WPARAM> keys;
    for (const auto& s : recorder.seen)
        if (s.message == WM_KEYDOWN)
            keys.push_back(s.wParam);
    EXPECT_EQ(keys, (std::vector<WPARAM> { VK_ESCAPE, VK_CONTROL }));
    presenter.reset();
    ui::DestroyWindow(window);
}

}
