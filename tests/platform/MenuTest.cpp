// Popup menus a person picks from: the modal loop that TrackPopupMenu runs
// while a painter is installed, driven by injected mouse and keys from
// timers on the same thread, and the menu's geometry.

#include "ui/Input.h"
#include "ui/Menu.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

#include "support/StepScript.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr UINT_PTR kFullScreen = 1324;
constexpr UINT_PTR kKeepRatio = 1325;
constexpr UINT_PTR kScreenPtz = 1326;
constexpr UINT_PTR kSnapshot = 1327;
constexpr UINT kStepMs = 5;
constexpr LONG kCharWidth = 8;
constexpr LONG kTextHeight = 16;
using testing_support::kStepTimer;

// Records what the window system asks of the painter. Text is measured as
// kCharWidth per character.
struct RecordingPainter final : ui::MenuPainter {
    std::vector<ui::MenuView> shown;
    int hidden = 0;
    SIZE MeasureText(const std::u16string& text) override { return SIZE { static_cast<LONG>(text.size()) * kCharWidth, kTextHeight }; }
    void Show(const ui::MenuView& view) override { shown.push_back(view); }
    void Hide() override { ++hidden; }
};


POINT centreOf(const RECT& r) { return POINT { (r.left + r.right) / 2, (r.top + r.bottom) / 2 }; }

class Menus : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui::ResetInput();
        ui::SetMonitorSizes({});
        if (!ui::IsClassRegistered("MenuTest")) {
            WNDCLASS c;
            c.lpszClassName = "MenuTest";
            ui::RegisterClass(c);
        }
        script.seen = [this](UINT m) {
            if (m == WM_LBUTTONDOWN || m == WM_LBUTTONUP || m == WM_KEYDOWN || m == WM_COMMAND)
                inputSeen.push_back(m);
        };
        owner = ui::CreateWindowEx(0, "MenuTest", "", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600, nullptr, &script);
        ui::SetFocus(owner);
        menu = ui::CreatePopupMenu();
        ui::AppendMenuW(menu, MF_STRING | MF_CHECKED, kFullScreen, u"Full Screen");
        ui::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ui::AppendMenuW(menu, MF_STRING | MF_GRAYED, kScreenPtz, u"Screen PTZ");
        ui::AppendMenuW(menu, MF_STRING, kKeepRatio, u"Keep Ratio");
        ui::SetMenuPainter(&painter);
    }
    void TearDown() override
    {
        ui::SetMenuPainter(nullptr);
        ui::DestroyMenu(menu);
        ui::DestroyWindow(owner);
        ui::PumpPending();
    }
    // The open menu's item rectangle (the menu is open while steps run).
    static RECT itemRect(int index)
    {
        ui::MenuView view;
        EXPECT_TRUE(ui::GetOpenMenu(view)) << "no menu is open";
        return index < static_cast<int>(view.itemRects.size()) ? view.itemRects[static_cast<std::size_t>(index)] : RECT {};
    }
    static void click(POINT p)
    {
        ui::InjectMouse(ui::MouseAction::LeftDown, p);
        ui::InjectMouse(ui::MouseAction::LeftUp, p);
    }
    BOOL track(UINT flags = TPM_RETURNCMD, POINT at = { 100, 100 })
    {
        ui::SetTimer(owner, kStepTimer, kStepMs);
        BOOL result = ui::TrackPopupMenu(menu, flags, at.x, at.y, 0, owner, nullptr);
        ui::KillTimer(owner, kStepTimer);
        return result;
    }

    testing_support::StepScript script;
    std::vector<UINT> inputSeen; // input that reached the owner window
    RecordingPainter painter;
    HWND owner = nullptr;
    HMENU menu = nullptr;
};

TEST_F(Menus, APersonHighlightsAnItemAndPicksItByReleasingTheButtonOnIt)
{
    std::vector<int> highlightedWhileOpen;
    script.steps = {
        [] { ui::InjectMouse(ui::MouseAction::Move, centreOf(itemRect(3))); },
        [&] {
            ui::MenuView view;
            ui::GetOpenMenu(view);
            highlightedWhileOpen.push_back(view.highlighted);
            ui::InjectMouse(ui::MouseAction::LeftDown, centreOf(itemRect(3)));
        },
        [] { ui::InjectMouse(ui::MouseAction::LeftUp, centreOf(itemRect(3))); },
    };
    EXPECT_EQ(track(), static_cast<BOOL>(kKeepRatio));
    EXPECT_EQ(highlightedWhileOpen, (std::vector<int> { 3 }));
    ASSERT_GE(painter.shown.size(), 2u);
    EXPECT_EQ(painter.shown.front().highlighted, -1) << "opened with nothing highlighted";
    EXPECT_EQ(painter.shown.back().highlighted, 3);
    EXPECT_EQ(painter.shown.front().frame.left, 100);
    EXPECT_EQ(painter.shown.front().frame.top, 100);
    EXPECT_EQ(painter.hidden, 1);
    ui::MenuView view;
    EXPECT_FALSE(ui::GetOpenMenu(view)) << "the menu stayed open";
    ui::PumpPending();
    EXPECT_TRUE(inputSeen.empty()) << "input given to the menu reached the window";
}

TEST_F(Menus, SeparatorsAndGreyedItemsAreNeverPicked)
{
    script.steps = {
        [] { ui::InjectMouse(ui::MouseAction::Move, centreOf(itemRect(2))); },
        [] { click(centreOf(itemRect(2))); }, // greyed
        [] { click(centreOf(itemRect(1))); }, // separator
        [] { ui::InjectMouse(ui::MouseAction::Move, centreOf(itemRect(0))); },
        [] { click(centreOf(itemRect(0))); },
    };
    EXPECT_EQ(track(), static_cast<BOOL>(kFullScreen));
    for (const ui::MenuView& v : painter.shown)
        EXPECT_TRUE(v.highlighted != 1 && v.highlighted != 2) << "highlighted item " << v.highlighted;
}

TEST_F(Menus, EscapeOrAPressOutsideTheMenuDismissesIt)
{
    script.steps = { [] { ui::InjectKey(true, VK_ESCAPE); } };
    EXPECT_EQ(track(), 0);
    script.steps = { [] {
        RECT item = itemRect(0);
        ui::InjectMouse(ui::MouseAction::LeftDown, { item.left - 20, item.top });
    } };
    EXPECT_EQ(track(), 0);
    script.steps = { [] { ui::InjectMouse(ui::MouseAction::RightDown, { 700, 500 }); } };
    EXPECT_EQ(track(), 0);
    EXPECT_EQ(painter.hidden, 3);
    ui::PumpPending();
    EXPECT_TRUE(inputSeen.empty()) << "the dismissing press or key reached the window";
}

TEST_F(Menus, KeysMoveTheHighlightOverSelectableItemsAndReturnPicks)
{
    script.steps = {
        [] { ui::InjectKey(true, VK_DOWN); }, // Full Screen
        [] { ui::InjectKey(true, VK_DOWN); }, // over the separator and the greyed item
        [] { ui::InjectKey(true, VK_RETURN); },
    };
    EXPECT_EQ(track(), static_cast<BOOL>(kKeepRatio));
    script.steps = { [] { ui::InjectKey(true, VK_UP); }, [] { ui::InjectKey(true, VK_RETURN); } };
    EXPECT_EQ(track(), static_cast<BOOL>(kKeepRatio)) << "Up from nothing starts at the last item";
}

TEST_F(Menus, WithoutReturnCmdThePickIsPostedToTheOwner)
{
    struct Owner final : ui::WindowHandler {
        std::vector<WPARAM> commands;
        LRESULT WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) override
        {
            if (m == WM_COMMAND)
                commands.push_back(wp);
            return ui::DefWindowProc(w, m, wp, lp);
        }
    } handler;
    HWND other = ui::CreateWindowEx(0, "MenuTest", "", WS_POPUP, 0, 0, 1, 1, nullptr, &handler);
    ui::SetTimer(owner, kStepTimer, kStepMs);
    script.steps = { [] { click(centreOf(itemRect(0))); } };
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RIGHTBUTTON, 10, 10, 0, other, nullptr), TRUE);
    ASSERT_TRUE(ui::RunUntil([&] { return !handler.commands.empty(); }, 1000));
    EXPECT_EQ(handler.commands, (std::vector<WPARAM> { kFullScreen }));
    ui::DestroyWindow(other);
}

TEST_F(Menus, TheRightButtonPicksOnlyWithRightButtonTracking)
{
    script.steps = {
        [] { ui::InjectMouse(ui::MouseAction::RightUp, centreOf(itemRect(3))); },
        [] { ui::InjectKey(true, VK_ESCAPE); },
    };
    EXPECT_EQ(track(TPM_RETURNCMD), 0);
    script.steps = { [] { ui::InjectMouse(ui::MouseAction::RightUp, centreOf(itemRect(3))); } };
    EXPECT_EQ(track(TPM_RETURNCMD | TPM_RIGHTBUTTON), static_cast<BOOL>(kKeepRatio));
}

TEST_F(Menus, ThePostedQuitMessageDismissesTheMenuAndStaysForTheOuterLoop)
{
    script.steps = { [] { ui::PostQuitMessage(3); } };
    EXPECT_EQ(track(), 0);
    MSG msg {};
    ASSERT_TRUE(ui::PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(Menus, APresetChoiceWinsAndNothingIsShown)
{
    ui::SetNextMenuChoice(kKeepRatio);
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), static_cast<BOOL>(kKeepRatio));
    ui::SetNextMenuChoice(0); // a preset dismissal
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 0);
    EXPECT_TRUE(painter.shown.empty());
    ui::SetMenuPainter(nullptr);
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 0) << "no painter, no preset: dismissed at once";
}

TEST_F(Menus, AMenuIsAsWideAsItsWidestTextAndStaysOnTheMonitor)
{
    ui::SetMonitorSizes({ { 1280, 720 }, { 1920, 1080 } });
    auto measure = [](const std::u16string& text) { return SIZE { static_cast<LONG>(text.size()) * kCharWidth, kTextHeight }; };
    const std::vector<ui::MenuItem> items = ui::GetMenuItems(menu);
    ui::MenuView view = ui::LayoutMenu(items, { 100, 50 }, TPM_LEFTALIGN, measure);
    const LONG widest = static_cast<LONG>(std::u16string(u"Full Screen").size()) * kCharWidth;
    EXPECT_EQ(view.frame, (RECT { 100, 50, 100 + 2 * ui::kMenuBorder + ui::kMenuCheckColumn + widest + ui::kMenuTextRightMargin,
                                50 + 2 * ui::kMenuBorder + 3 * (kTextHeight + 2 * ui::kMenuTextMarginY) + ui::kMenuSeparatorHeight }));
    ASSERT_EQ(view.itemRects.size(), items.size());
    EXPECT_EQ(view.itemRects[0].top, view.frame.top + ui::kMenuBorder);
    for (std::size_t i = 1; i < view.itemRects.size(); ++i)
        EXPECT_EQ(view.itemRects[i].top, view.itemRects[i - 1].bottom) << "items touch";
    EXPECT_EQ(ui::Height(view.itemRects[1]), ui::kMenuSeparatorHeight);
    EXPECT_EQ(view.itemRects.back().bottom, view.frame.bottom - ui::kMenuBorder);
    EXPECT_EQ(ui::MenuItemAt(view, centreOf(view.itemRects[2])), 2);
    EXPECT_EQ(ui::MenuItemAt(view, { view.frame.left, view.frame.top }), -1) << "the border is no item";

    // At the primary monitor's bottom-right corner the menu opens up and to
    // the left of the point, on that monitor.
    view = ui::LayoutMenu(items, { 1275, 715 }, TPM_LEFTALIGN, measure);
    EXPECT_EQ(view.frame.right, 1275);
    EXPECT_EQ(view.frame.bottom, 715);
    // Too tall to open upward near the top: pushed back onto the monitor.
    std::vector<ui::MenuItem> many(40, ui::MenuItem { MF_STRING, 1, u"x" });
    view = ui::LayoutMenu(many, { 1500, 30 }, TPM_LEFTALIGN, measure);
    EXPECT_GE(view.frame.top, 0);
    EXPECT_LE(view.frame.bottom, 1080);
    EXPECT_EQ(view.frame.left, 1500);
    EXPECT_EQ(ui::Width(ui::LayoutMenu({ ui::MenuItem { MF_STRING, 1, u"x" } }, { 0, 0 }, 0, measure).frame), ui::kMenuMinWidth);
}

}
