// The screen's overlay and the menu painter that draws into it: a menu a
// person picks from shows above the windows in every read of the screen
// and leaves no trace when it closes. Also the z-order of topmost windows
// in the visible regions that clip drawing.

#include "gfx/Gdi.h"
#include "gfx/MenuPainter.h"
#include "gfx/PixelFormat.h"
#include "gfx/Region.h"
#include "gfx/Screen.h"

#include "ui/Input.h"
#include "ui/Menu.h"
#include "ui/Monitor.h"

#include "support/StepScript.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <vector>

namespace {

constexpr LONG kScreenWidth = 400;
constexpr LONG kScreenHeight = 300;
constexpr COLORREF kPageColor = RGB(20, 90, 40);
constexpr std::uint32_t kPagePixel = gfx::XrgbFromColorRef(kPageColor);
constexpr UINT_PTR kKeepRatio = 1001;
constexpr UINT_PTR kFullScreen = 1002;
constexpr UINT_PTR kScreenPtz = 1003;
using testing_support::kStepTimer;
using Script = testing_support::StepScript;
constexpr UINT kStepMs = 5;

std::uint32_t pixel(COLORREF c) { return gfx::XrgbFromColorRef(c); }

// Fills a whole top-level window with one colour through its device context.
void paint(HWND window, COLORREF color)
{
    HDC dc = gfx::GetDC(window);
    RECT all { 0, 0, kScreenWidth, kScreenHeight };
    gfx::HBRUSH brush = gfx::CreateSolidBrush(color);
    gfx::FillRect(dc, &all, brush);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(brush));
    gfx::ReleaseDC(window, dc);
}

// How many pixels of `r` on the screen pass `test`.
int countWhere(const RECT& r, const std::function<bool(std::uint32_t)>& test)
{
    int n = 0;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            n += test(gfx::Screen::Get().PixelAt(x, y)) ? 1 : 0;
    return n;
}

int countOf(const RECT& r, std::uint32_t color)
{
    return countWhere(r, [&](std::uint32_t p) { return p == color; });
}

// Text is anti-aliased: its ink is the pixels close to the text colour.
bool near(std::uint32_t p, COLORREF color)
{
    constexpr int kTolerance = 40;
    const std::uint32_t c = pixel(color);
    for (int shift = 0; shift <= 16; shift += 8)
        if (std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((c >> shift) & 0xFF)) > kTolerance)
            return false;
    return true;
}


class MenuOverlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui::ResetInput();
        ui::SetMonitorSizes({ SIZE { kScreenWidth, kScreenHeight } });
        gfx::Screen::Get().SyncToMonitors();
        page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, 0, 0, kScreenWidth, kScreenHeight, nullptr, &script);
        paint(page, kPageColor);
    }
    void TearDown() override
    {
        ui::SetMenuPainter(nullptr);
        gfx::Screen::Get().ClearOverlay();
        ui::DestroyWindow(page);
        ui::PumpPending();
    }
    static RECT itemRect(int index)
    {
        ui::MenuView view;
        EXPECT_TRUE(ui::GetOpenMenu(view));
        return view.itemRects.at(static_cast<std::size_t>(index));
    }

    Script script;
    HWND page = nullptr;
};

TEST_F(MenuOverlay, TheOverlayShowsInEveryReadButWindowsDrawingUnderneathDoNotCoverIt)
{
    gfx::Screen& screen = gfx::Screen::Get();
    const RECT rect { 10, 20, 14, 23 };
    constexpr std::uint32_t kOverlayPixel = 0x00ABCDEF;
    screen.SetOverlay(rect, std::vector<std::uint32_t>(static_cast<std::size_t>(ui::Width(rect) * ui::Height(rect)), kOverlayPixel));
    paint(page, RGB(255, 0, 0)); // video keeps coming underneath
    EXPECT_EQ(screen.PixelAt(10, 20), kOverlayPixel);
    EXPECT_EQ(screen.PixelAt(13, 22), kOverlayPixel);
    EXPECT_EQ(screen.PixelAt(14, 22), 0x00FF0000u);
    screen.Read([&](const std::uint32_t* pixels, int width, int) {
        EXPECT_EQ(pixels[20 * width + 10], kOverlayPixel);
        EXPECT_EQ(pixels[20 * width + 9], 0x00FF0000u);
    });
    screen.Read([&](const std::uint32_t* pixels, int width, int) { EXPECT_EQ(pixels[22 * width + 13], kOverlayPixel) << "a second read lost the overlay"; });
    screen.ClearOverlay();
    EXPECT_EQ(screen.OverlayRect(), (RECT {}));
    EXPECT_EQ(screen.PixelAt(10, 20), 0x00FF0000u) << "the window's drawing under the overlay was lost";

    // An overlay that reaches past the screen shows its part on it.
    const RECT edge { kScreenWidth - 2, kScreenHeight - 2, kScreenWidth + 3, kScreenHeight + 3 };
    screen.SetOverlay(edge, std::vector<std::uint32_t>(25, kOverlayPixel));
    screen.Read([&](const std::uint32_t* pixels, int width, int height) { EXPECT_EQ(pixels[(height - 1) * width + width - 1], kOverlayPixel); });
    // A picture of the wrong size is no overlay.
    screen.SetOverlay(rect, std::vector<std::uint32_t>(3, kOverlayPixel));
    EXPECT_EQ(screen.OverlayRect(), (RECT {}));
}

TEST_F(MenuOverlay, AMenuInChineseIsDrawnHighlightedAndPickedAndLeavesNoTrace)
{
    HMENU menu = ui::CreatePopupMenu();
    ui::AppendMenuW(menu, MF_STRING | MF_CHECKED, kKeepRatio, u"保持比例");
    ui::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ui::AppendMenuW(menu, MF_STRING, kFullScreen, u"全螢幕");
    ui::AppendMenuW(menu, MF_STRING | MF_GRAYED, kScreenPtz, u"Screen PTZ");
    ui::SetMenuPainter(&gfx::ScreenMenuPainter());

    ui::MenuView open;
    int highlightPixels = 0;
    int textPixelsInFirst = 0;
    int tickPixels = 0;
    int greyedTextPixels = 0;
    script.steps = {
        [] { ui::InjectMouse(ui::MouseAction::Move, { itemRect(2).left + 30, itemRect(2).top + 5 }); },
        [&] {
            ui::GetOpenMenu(open);
            highlightPixels = countOf(open.itemRects[2], pixel(gfx::kMenuHighlightColor));
            const RECT& first = open.itemRects[0];
            auto ink = [](std::uint32_t p) { return near(p, gfx::kMenuTextColor); };
            textPixelsInFirst = countWhere(RECT { first.left + ui::kMenuCheckColumn, first.top, first.right, first.bottom }, ink);
            tickPixels = countWhere(RECT { first.left, first.top, first.left + ui::kMenuCheckColumn, first.bottom }, ink);
            greyedTextPixels = countWhere(open.itemRects[3], [](std::uint32_t p) { return near(p, gfx::kMenuGreyedTextColor); });
            POINT at { (open.itemRects[2].left + open.itemRects[2].right) / 2, (open.itemRects[2].top + open.itemRects[2].bottom) / 2 };
            ui::InjectMouse(ui::MouseAction::LeftDown, at);
            ui::InjectMouse(ui::MouseAction::LeftUp, at);
        },
    };
    ui::SetTimer(page, kStepTimer, kStepMs);
    const BOOL picked = ui::TrackPopupMenu(menu, TPM_RETURNCMD, 50, 40, 0, page, nullptr);
    ui::KillTimer(page, kStepTimer);
    EXPECT_EQ(picked, static_cast<BOOL>(kFullScreen));

    ASSERT_EQ(open.itemRects.size(), 4u);
    EXPECT_EQ(open.frame.left, 50);
    EXPECT_EQ(open.frame.top, 40);
    EXPECT_EQ(open.highlighted, 2);
    // Blue fills most of the highlighted item (white text covers the rest).
    EXPECT_GT(highlightPixels, ui::Width(open.itemRects[2]) * ui::Height(open.itemRects[2]) / 2);
    EXPECT_GT(textPixelsInFirst, 10) << "the Chinese text was not drawn";
    EXPECT_GT(tickPixels, 6) << "no check mark";
    EXPECT_GT(greyedTextPixels, 5) << "the greyed item's text is not grey";

    EXPECT_EQ(gfx::Screen::Get().OverlayRect(), (RECT {})) << "the menu stayed on the screen";
    EXPECT_EQ(countOf(open.frame, kPagePixel), ui::Width(open.frame) * ui::Height(open.frame)) << "the menu left a trace";
    ui::DestroyMenu(menu);
}

TEST_F(MenuOverlay, WhileOpenTheMenuHasItsBorderAndBackgroundInTheScreenPicture)
{
    HMENU menu = ui::CreatePopupMenu();
    ui::AppendMenuW(menu, MF_STRING, kFullScreen, u"Full Screen");
    ui::SetMenuPainter(&gfx::ScreenMenuPainter());
    ui::MenuView open;
    std::uint32_t corner = 0;
    std::uint32_t inside = 0;
    script.steps = { [&] {
        ui::GetOpenMenu(open);
        corner = gfx::Screen::Get().PixelAt(open.frame.left, open.frame.top);
        inside = gfx::Screen::Get().PixelAt(open.itemRects[0].right - 2, open.itemRects[0].top + 1);
        ui::InjectKey(true, VK_ESCAPE);
    } };
    ui::SetTimer(page, kStepTimer, kStepMs);
    // Opened at the screen's corner, the menu flips up and left onto it.
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, kScreenWidth - 1, kScreenHeight - 1, 0, page, nullptr), 0);
    ui::KillTimer(page, kStepTimer);
    EXPECT_EQ(open.frame.right, kScreenWidth - 1);
    EXPECT_EQ(open.frame.bottom, kScreenHeight - 1);
    EXPECT_EQ(corner, pixel(gfx::kMenuBorderColor));
    EXPECT_EQ(inside, pixel(gfx::kMenuBackgroundColor));
    ui::DestroyMenu(menu);
}

TEST_F(MenuOverlay, ATopmostWindowIsCutFromTheVisibleRegionOfWindowsRaisedLater)
{
    HWND topmost = ui::CreateWindowEx(WS_EX_TOPMOST, "static", "marker", WS_POPUP | WS_VISIBLE, 100, 100, 50, 50, nullptr);
    ui::SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_FALSE(gfx::Contains(gfx::VisibleRegion(page), POINT { 120, 120 })) << "the page drew over the topmost window";
    EXPECT_TRUE(gfx::Contains(gfx::VisibleRegion(page), POINT { 99, 120 }));
    paint(topmost, RGB(255, 255, 0));
    paint(page, kPageColor);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(120, 120), 0x00FFFF00u);
    ui::SetWindowPos(topmost, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ui::SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_TRUE(gfx::Contains(gfx::VisibleRegion(page), POINT { 120, 120 }));
    ui::DestroyWindow(topmost);
}

}
