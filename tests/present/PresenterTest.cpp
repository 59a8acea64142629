// The presenters: the screen as PNG at any moment, and the SDL2 window that
// shows the screen and sends mouse and keys into the window system (under
// Xvfb; skipped where no display exists).

#include "present/Presenter.h"
#include "present/SdlPresenter.h"

#include "gfx/Gdi.h"
#include "gfx/MenuPainter.h"
#include "gfx/PixelFormat.h"
#include "gfx/Screen.h"
#include "ui/Input.h"
#include "ui/Menu.h"
#include "ui/Monitor.h"

#include "support/GlDriver.h"
#include "support/StepScript.h"
#include "XRequest.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <vector>

namespace {

constexpr DWORD kWaitMs = 3000;
constexpr LONG kScreenWidth = 640;
constexpr LONG kScreenHeight = 360;
using testing_support::kStepTimer;
using Script = testing_support::StepScript;
constexpr UINT kStepMs = 10;

bool haveDisplay()
{
    const char* d = std::getenv("DISPLAY");
    return d && *d;
}

void paintScreen(const RECT& r, COLORREF color)
{
    HWND window = ui::CreateWindowEx(0, "static", "paint", WS_POPUP | WS_VISIBLE, 0, 0, gfx::Screen::Get().Width(), gfx::Screen::Get().Height(), nullptr);
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
        if (haveDisplay())
            testing_support::KeepGlDriverLoaded();
        ui::SetMonitorSizes({ SIZE { kScreenWidth, kScreenHeight } });
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

    // A request about a window the X server does not have (another
    // client's, gone) is reported, and the page's process goes on: with
    // Xlib's own handler it would end here.
    EXPECT_TRUE(SendToAMissingWindow());
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

namespace {

TEST_F(PresenterTest, TheHeadlessPresenterLeavesMenusToPresetAnswers)
{
    auto presenter = present::CreatePresenter(present::Kind::Headless);
    EXPECT_EQ(ui::GetMenuPainter(), nullptr);
    HMENU menu = ui::CreatePopupMenu();
    ui::AppendMenuW(menu, MF_STRING, 7, u"Full Screen");
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 0) << "nobody to pick: dismissed at once";
    ui::SetNextMenuChoice(7);
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 7);
    ui::DestroyMenu(menu);
}

TEST_F(PresenterTest, CtrlAndShiftFromTheWindowHoldThroughTheClicksThatFollow)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no display (run under xvfb-run)";
    auto presenter = present::SdlPresenter::Create();
    ASSERT_NE(presenter, nullptr);
    struct Clicks final : ui::WindowHandler {
        std::vector<WPARAM> keysDown;
        std::vector<UINT> keysUp;
        std::vector<std::pair<WPARAM, bool>> clicks; // wParam, Ctrl down as GetKeyState tells
        LRESULT WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) override
        {
            if (m == WM_KEYDOWN)
                keysDown.push_back(wp);
            if (m == WM_KEYUP)
                keysUp.push_back(static_cast<UINT>(wp));
            // The static class takes double clicks, so the second quick
            // press arrives as a double click: a press all the same.
            if (m == WM_LBUTTONDOWN || m == WM_LBUTTONDBLCLK)
                clicks.emplace_back(wp, (ui::GetKeyState(VK_CONTROL) & 0x8000) != 0);
            return ui::DefWindowProc(w, m, wp, lp);
        }
    } handler;
    HWND window = ui::CreateWindowEx(0, "static", "target", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, &handler);
    ui::SetFocus(window);
    auto key = [&](Uint32 type, SDL_Keycode sym) {
        SDL_Event e {};
        e.type = type;
        e.key.windowID = presenter->WindowId();
        e.key.keysym.sym = sym;
        SDL_PushEvent(&e);
    };
    auto click = [&] {
        for (Uint32 type : { Uint32(SDL_MOUSEBUTTONDOWN), Uint32(SDL_MOUSEBUTTONUP) }) {
            SDL_Event e {};
            e.type = type;
            e.button.windowID = presenter->WindowId();
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = 20;
            e.button.y = 20;
            SDL_PushEvent(&e);
        }
    };
    key(SDL_KEYDOWN, SDLK_LCTRL);
    key(SDL_KEYDOWN, SDLK_RSHIFT);
    click();
    ASSERT_TRUE(ui::RunUntil([&] { return handler.clicks.size() == 1; }, kWaitMs));
    key(SDL_KEYUP, SDLK_LCTRL);
    key(SDL_KEYUP, SDLK_RSHIFT);
    ASSERT_TRUE(ui::RunUntil([&] { return handler.keysUp.size() == 2; }, kWaitMs));
    click();
    ASSERT_TRUE(ui::RunUntil([&] { return handler.clicks.size() == 2; }, kWaitMs));
    EXPECT_EQ(handler.keysDown, (std::vector<WPARAM> { VK_CONTROL, VK_SHIFT }));
    EXPECT_EQ(handler.keysUp, (std::vector<UINT> { VK_CONTROL, VK_SHIFT }));
    EXPECT_EQ(handler.clicks[0].first & (MK_CONTROL | MK_SHIFT), MK_CONTROL | MK_SHIFT);
    EXPECT_TRUE(handler.clicks[0].second) << "GetKeyState lost Ctrl during the Ctrl-click";
    EXPECT_EQ(handler.clicks[1].first & (MK_CONTROL | MK_SHIFT), 0u);
    EXPECT_FALSE(handler.clicks[1].second);
    presenter.reset();
    ui::DestroyWindow(window);
}

TEST_F(PresenterTest, TheWindowShowsTheCurrentCursorWithItsPicture)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no display (run under xvfb-run)";
    auto presenter = present::SdlPresenter::Create();
    ASSERT_NE(presenter, nullptr);
    constexpr int kSide = 16;
    std::vector<std::uint32_t> argb(kSide * kSide, 0xFFFF0000u);
    HCURSOR cursor = ui::CreateImageCursor(0, kSide, kSide, 3, 4, argb.data());
    ui::CursorImage image;
    ASSERT_TRUE(ui::GetCursorImage(cursor, image));
    ui::SetCursor(cursor);
    EXPECT_TRUE(ui::RunUntil([&] { return presenter->ShownCursorSerial() == image.serial; }, kWaitMs));
    ui::SetCursor(ui::LoadStockCursor(ui::CursorShape::Hand));
    EXPECT_TRUE(ui::RunUntil([&] { return presenter->ShownCursorSerial() == 0; }, kWaitMs)) << "stock shapes use system cursors";
    ui::SetCursor(nullptr);
    ui::DestroyCursor(cursor);
}

// Every pixel of the window (shown one to one) is the screen's.
void expectWindowIsScreen(present::SdlPresenter& presenter, const std::string& path, int width, int height)
{
    std::vector<std::uint32_t> shown;
    int w = 0;
    int h = 0;
    ASSERT_TRUE(presenter.SaveWindowShot(path));
    ASSERT_TRUE(present::ReadPng(path, shown, w, h));
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            wrong += shown[static_cast<std::size_t>(y * w + x)] != gfx::Screen::Get().PixelAt(x, y);
    EXPECT_EQ(wrong, 0) << "pixels of the window that are not the screen's";
}

TEST_F(PresenterTest, AScreenLargerThanTheDisplayShowsScaledAndItsChangesLeaveNoSeams)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no display (run under xvfb-run)";
    constexpr LONG kLargeWidth = 4000; // wider and taller than any display the tests run on
    constexpr LONG kLargeHeight = 2500;
    ui::SetMonitorSizes({ SIZE { kLargeWidth, kLargeHeight } });
    gfx::Screen::Get().SyncToMonitors();
    HWND page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, 0, 0, kLargeWidth, kLargeHeight, nullptr);
    auto presenter = present::SdlPresenter::Create();
    ASSERT_NE(presenter, nullptr);
    paintScreen(RECT { 0, 0, kLargeWidth, kLargeHeight }, RGB(10, 20, 30));
    const std::string path = ::testing::TempDir() + "tiravex-window-scaled.png";
    ASSERT_TRUE(presenter->SaveWindowShot(path));
    // Changes at odd places and sizes, some a pixel wide, go to the window
    // as parts of the scaled picture.
    const std::uint64_t before = presenter->FramesShown();
    {
        std::lock_guard together(gfx::Screen::Get().Mutex());
        paintScreen(RECT { 1, 1, 2, 2500 }, RGB(255, 0, 0));
        paintScreen(RECT { 777, 333, 1999, 1001 }, RGB(0, 255, 0));
        paintScreen(RECT { 3001, 2101, 4000, 2500 }, RGB(0, 0, 255));
    }
    ASSERT_TRUE(ui::RunUntil([&] { return presenter->FramesShown() > before; }, kWaitMs));
    std::vector<std::uint32_t> shown;
    int w = 0;
    int h = 0;
    ASSERT_TRUE(presenter->SaveWindowShot(path));
    ASSERT_TRUE(present::ReadPng(path, shown, w, h));
    ASSERT_LT(w, kLargeWidth);
    ASSERT_LT(h, kLargeHeight);
    EXPECT_NEAR(static_cast<double>(w) / h, static_cast<double>(kLargeWidth) / kLargeHeight, 0.01) << "the window keeps the screen's shape";
    // Each window pixel is the screen's nearest one, as a whole redraw gives.
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            wrong += shown[static_cast<std::size_t>(y * w + x)] != gfx::Screen::Get().PixelAt(static_cast<int>(static_cast<long long>(x) * kLargeWidth / w), static_cast<int>(static_cast<long long>(y) * kLargeHeight / h));
    EXPECT_EQ(wrong, 0);
    presenter.reset();
    ui::DestroyWindow(page);
}

TEST_F(PresenterTest, TheWindowIsThePagesSizeAndShowsEachChangeAndMenuAsTheScreenHasThem)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no display (run under xvfb-run)";
    // A page smaller than the monitor: the window is the page's size.
    constexpr LONG kPageWidth = 400;
    constexpr LONG kPageHeight = 300;
    HWND page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, 0, 0, kPageWidth, kPageHeight, nullptr);
    auto presenter = present::SdlPresenter::Create();
    ASSERT_NE(presenter, nullptr);
    EXPECT_EQ(ui::GetMenuPainter(), &gfx::ScreenMenuPainter());
    constexpr COLORREF kPage = RGB(30, 60, 90);
    paintScreen(RECT { 0, 0, kScreenWidth, kScreenHeight }, kPage);
    const std::string shotPath = ::testing::TempDir() + "tiravex-window.png";
    expectWindowIsScreen(*presenter, shotPath, kPageWidth, kPageHeight);
    // Small changes one after another, some overlapping, one partly off
    // the page: each reaches the window, and nothing else changes there.
    // The screen's lock held over them makes them one update.
    const std::uint64_t before = presenter->FramesShown();
    {
        std::lock_guard together(gfx::Screen::Get().Mutex());
        paintScreen(RECT { 10, 10, 30, 40 }, RGB(255, 0, 0));
        paintScreen(RECT { 20, 30, 120, 35 }, RGB(0, 255, 0));
        paintScreen(RECT { 390, 290, 500, 350 }, RGB(0, 0, 255));
    }
    ASSERT_TRUE(ui::RunUntil([&] { return presenter->FramesShown() > before; }, kWaitMs));
    expectWindowIsScreen(*presenter, shotPath, kPageWidth, kPageHeight);

    Script script;
    HWND host = ui::CreateWindowEx(0, "static", "host", WS_POPUP, 0, 0, 1, 1, nullptr, &script);
    HMENU menu = ui::CreatePopupMenu();
    ui::AppendMenuW(menu, MF_STRING | MF_CHECKED, 1, u"保持比例");
    ui::AppendMenuW(menu, MF_STRING, 2, u"全螢幕");
    ui::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ui::AppendMenuW(menu, MF_STRING, 3, u"Full Screen");
    ui::MenuView open;
    std::vector<std::uint32_t> withMenu;
    int w = 0;
    int h = 0;
    script.steps = { [&] {
        ui::GetOpenMenu(open);
        const std::string menuPath = ::testing::TempDir() + "tiravex-window-menu.png";
        if (presenter->SaveWindowShot(menuPath))
            present::ReadPng(menuPath, withMenu, w, h);
        ui::InjectKey(true, VK_ESCAPE);
    } };
    ui::SetTimer(host, kStepTimer, kStepMs);
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 100, 80, 0, host, nullptr), 0);
    ui::KillTimer(host, kStepTimer);
    ASSERT_FALSE(withMenu.empty());
    ASSERT_EQ(w, kPageWidth);
    int background = 0;
    int area = 0;
    for (LONG y = open.frame.top; y < std::min(open.frame.bottom, kPageHeight); ++y)
        for (LONG x = open.frame.left; x < std::min(open.frame.right, kPageWidth); ++x) {
            ++area;
            background += withMenu[static_cast<std::size_t>(y * w + x)] == gfx::XrgbFromColorRef(gfx::kMenuBackgroundColor);
        }
    EXPECT_GT(background, area / 3) << "the menu is not in the window";
    EXPECT_EQ(gfx::Screen::Get().OverlayRect(), (RECT {}));
    // The closed menu leaves the page as it was under it.
    expectWindowIsScreen(*presenter, shotPath, kPageWidth, kPageHeight);

    // A view going full screen covers the monitor: the window grows to it.
    HWND full = ui::CreateWindowEx(0, "static", "full", WS_POPUP | WS_VISIBLE, 0, 0, kScreenWidth, kScreenHeight, nullptr);
    paintScreen(RECT { 300, 200, 600, 350 }, RGB(200, 200, 0));
    std::vector<std::uint32_t> grown;
    ASSERT_TRUE(ui::RunUntil([&] {
        const std::string path = ::testing::TempDir() + "tiravex-window-full.png";
        return presenter->SaveWindowShot(path) && present::ReadPng(path, grown, w, h) && w == kScreenWidth && h == kScreenHeight;
    }, kWaitMs));
    expectWindowIsScreen(*presenter, shotPath, kScreenWidth, kScreenHeight);
    ui::DestroyWindow(full);

    presenter.reset();
    EXPECT_EQ(ui::GetMenuPainter(), nullptr) << "the painter outlived its presenter";
    ui::DestroyMenu(menu);
    ui::DestroyWindow(host);
    ui::DestroyWindow(page);
}

}
