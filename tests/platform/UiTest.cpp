#include "ui/Input.h"
#include "ui/Menu.h"
#include "ui/Monitor.h"
#include "ui/System.h"
#include "ui/Window.h"

#include "sys/Thread.h"
#include "sys/Time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <thread>
#include <string>
#include <algorithm>
#include <vector>

namespace {

constexpr UINT kProbe = WM_USER + 1;

// Records what reaches a window, with the thread it ran on.
struct Recorder final : ui::WindowHandler {
    struct Entry {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        sys::ThreadId thread;
    };
    std::vector<Entry> log;
    std::vector<UINT> only; // when set, record only these

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (only.empty() || std::find(only.begin(), only.end(), message) != only.end())
            log.push_back(Entry { message, wParam, lParam, sys::CurrentThreadId() });
        return ui::CallClassProc(window, message, wParam, lParam);
    }
    std::vector<UINT> messages() const
    {
        std::vector<UINT> out;
        for (auto& e : log)
            out.push_back(e.message);
        return out;
    }
};

class Ui : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui::ResetInput();
        ui::SetMonitorSizes({});
        if (!ui::IsClassRegistered("UiTest")) {
            WNDCLASS c;
            c.lpszClassName = "UiTest";
            ui::RegisterClass(c);
            WNDCLASS d;
            d.lpszClassName = "UiTestDbl";
            d.style = CS_DBLCLKS;
            ui::RegisterClass(d);
        }
    }
    void TearDown() override
    {
        for (HWND w : made)
            ui::DestroyWindow(w);
        ui::PumpPending();
    }
    HWND make(const char* cls, RECT r, HWND parent, ui::WindowHandler* handler, DWORD style = WS_VISIBLE)
    {
        HWND w = ui::CreateWindowEx(0, cls, "", style | (parent ? WS_CHILD : WS_POPUP), r.left, r.top, ui::Width(r), ui::Height(r), parent, handler);
        if (!parent)
            made.push_back(w);
        return w;
    }
    // Handlers live in the fixture, so they outlive the windows TearDown destroys.
    Recorder& recorder() { return recorders.emplace_back(); }
    std::deque<Recorder> recorders;
    std::vector<HWND> made;
};

TEST_F(Ui, PostedMessagesAreHandledInOrderOnTheOwnersThread)
{
    Recorder& rec = recorder();
    rec.only = { kProbe };
    HWND w = make("UiTest", { 0, 0, 10, 10 }, nullptr, &rec);
    auto worker = sys::Thread::Start("poster", [w] {
        for (int i = 0; i < 500; ++i)
            ui::PostMessage(w, kProbe, static_cast<WPARAM>(i), 0);
    });
    ASSERT_TRUE(worker->Wait(5000));
    ui::PostMessage(w, kProbe, 500, 0); // posted from the page's own thread last
    ASSERT_TRUE(ui::RunUntil([&] { return rec.log.size() == 501; }, 5000));
    for (std::size_t i = 0; i < rec.log.size(); ++i) {
        EXPECT_EQ(rec.log[i].wParam, i);
        EXPECT_EQ(rec.log[i].thread, sys::CurrentThreadId()) << "handled off the page's thread";
    }
}

TEST_F(Ui, AMessageSentFromAnotherThreadRunsOnTheOwnerAndReturnsItsResult)
{
    struct Doubler final : ui::WindowHandler {
        sys::ThreadId ranOn = 0;
        LRESULT WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) override
        {
            if (m == kProbe) {
                ranOn = sys::CurrentThreadId();
                return static_cast<LRESULT>(wp * 2);
            }
            return ui::DefWindowProc(w, m, wp, lp);
        }
    } doubler;
    HWND w = make("UiTest", { 0, 0, 10, 10 }, nullptr, &doubler);
    LRESULT result = 0;
    auto worker = sys::Thread::Start("sender", [&] { result = ui::SendMessage(w, kProbe, 21, 0); });
    ASSERT_TRUE(ui::RunUntil([&] { return worker->HasEnded(); }, 5000));
    worker->Wait(1000);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(doubler.ranOn, sys::CurrentThreadId());

    // A loop that sleeps until its next message (a page's) sees at once what
    // a message sent to it changed, though nothing was posted.
    doubler.ranOn = 0;
    auto late = sys::Thread::Start("sender", [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ui::SendMessage(w, kProbe, 1, 0);
    });
    const DWORD before = sys::GetTickCount();
    EXPECT_TRUE(ui::RunUntil([&] { return doubler.ranOn != 0; }, 5000, ui::kRunNoPoll));
    EXPECT_LT(sys::GetTickCount() - before, 2000u) << "the loop slept past the sent message";
    late->Wait(1000);
    ui::DestroyWindow(w);
}

TEST_F(Ui, AMessageForAWindowThatIsGoneIsDropped)
{
    auto* rec = new Recorder;
    rec->only = { kProbe };
    HWND w = ui::CreateWindowEx(0, "UiTest", "", WS_POPUP, 0, 0, 5, 5, nullptr, rec);
    ui::PostMessage(w, kProbe, 1, 0);
    ui::DestroyWindow(w);
    delete rec; // a handler that is gone must not be called
    EXPECT_FALSE(ui::PostMessage(w, kProbe, 2, 0));
    ui::PumpPending(); // would use the freed handler if the queued message were dispatched
    SUCCEED();
}

TEST_F(Ui, WhatADroppedMessageCarriesIsFreedAndAHandledOneIsNot)
{
    Recorder& rec = recorder();
    rec.only = { kProbe };
    HWND kept = make("UiTest", { 0, 0, 5, 5 }, nullptr, &rec);
    HWND gone = ui::CreateWindowEx(0, "UiTest", "", WS_POPUP, 0, 0, 5, 5, nullptr);
    int freed = 0;
    ui::PostMessage(kept, kProbe, 1, 0, [&] { ++freed; });
    ui::PostMessage(gone, kProbe, 2, 0, [&] { ++freed; });
    ui::DestroyWindow(gone);
    ui::PumpPending();
    EXPECT_EQ(freed, 1) << "only the message for the destroyed window is dropped";
    EXPECT_EQ(rec.log.size(), 1u);
}

TEST_F(Ui, TimersRepeatUntilKilled)
{
    Recorder& rec = recorder();
    rec.only = { WM_TIMER };
    HWND w = make("UiTest", { 0, 0, 5, 5 }, nullptr, &rec);
    ui::SetTimer(w, 7, 10);
    ASSERT_TRUE(ui::RunUntil([&] { return rec.log.size() >= 3; }, 5000));
    EXPECT_EQ(rec.log[0].wParam, 7u);
    ui::KillTimer(w, 7);
    std::size_t count = rec.log.size();
    ui::RunUntil([] { return false; }, 40);
    EXPECT_EQ(rec.log.size(), count);
}

TEST_F(Ui, PaintRequestsCoalesceIntoOnePaint)
{
    Recorder& rec = recorder();
    rec.only = { WM_PAINT };
    HWND w = make("UiTest", { 0, 0, 50, 50 }, nullptr, &rec);
    ui::PumpPending();
    rec.log.clear();
    RECT a { 0, 0, 5, 5 }, b { 10, 10, 20, 20 };
    ui::InvalidateRect(w, &a, FALSE);
    ui::InvalidateRect(w, &b, FALSE);
    RECT update {};
    ASSERT_TRUE(ui::GetUpdateRect(w, &update));
    EXPECT_EQ(update, (RECT { 0, 0, 20, 20 }));
    ui::PumpPending();
    EXPECT_EQ(rec.log.size(), 1u);
    EXPECT_FALSE(ui::GetUpdateRect(w, nullptr));
}

TEST_F(Ui, WhatAWindowLeavesUncoveredIsRepaintedBeneathIt)
{
    HWND below = make("UiTest", { 0, 0, 400, 300 }, nullptr, nullptr);
    HWND child = make("UiTest", { 10, 10, 110, 110 }, below, nullptr);
    HWND cover = make("UiTest", { 50, 50, 250, 250 }, nullptr, nullptr);
    ui::PumpPending();
    RECT update {};
    // Moved away: the part it covered, in each window's own coordinates.
    ui::SetWindowPos(cover, nullptr, 500, 0, 200, 200, SWP_NOZORDER);
    ASSERT_TRUE(ui::GetUpdateRect(below, &update));
    EXPECT_EQ(update, (RECT { 50, 50, 250, 250 }));
    ASSERT_TRUE(ui::GetUpdateRect(child, &update));
    EXPECT_EQ(update, (RECT { 40, 40, 100, 100 }));
    ui::PumpPending();
    // A top-level window that becomes a child (leaving full screen).
    ui::SetParent(cover, below);
    ui::SetWindowPos(cover, nullptr, 300, 200, 50, 50, SWP_NOZORDER);
    ui::PumpPending();
    ui::ShowWindow(cover, SW_HIDE);
    ASSERT_TRUE(ui::GetUpdateRect(below, &update));
    EXPECT_EQ(update, (RECT { 300, 200, 350, 250 })) << "hidden: its place in the parent";
    EXPECT_FALSE(ui::GetUpdateRect(child, nullptr)) << "not under it";
    ui::PumpPending();
    // A dialog over both goes: what it covered is painted again.
    HWND dialog = make("UiTest", { 80, 80, 180, 180 }, nullptr, nullptr);
    ui::PumpPending();
    ui::DestroyWindow(dialog);
    ASSERT_TRUE(ui::GetUpdateRect(below, &update)) << "destroyed: nothing repaints its place";
    EXPECT_EQ(update, (RECT { 80, 80, 180, 180 }));
    ASSERT_TRUE(ui::GetUpdateRect(child, &update));
    EXPECT_EQ(update, (RECT { 70, 70, 100, 100 }));
}

TEST_F(Ui, GeometryOfNestedWindows)
{
    HWND top = make("UiTest", { 100, 50, 500, 450 }, nullptr, nullptr);
    HWND child = make("UiTest", { 10, 20, 110, 120 }, top, nullptr);
    HWND grand = make("UiTest", { 90, 90, 190, 190 }, child, nullptr);
    POINT p { 1, 2 };
    ui::ClientToScreen(grand, &p);
    EXPECT_EQ(p, (POINT { 100 + 10 + 90 + 1, 50 + 20 + 90 + 2 }));
    ui::ScreenToClient(grand, &p);
    EXPECT_EQ(p, (POINT { 1, 2 }));
    // The grandchild pokes out of its parent: only the part inside is visible.
    EXPECT_EQ(ui::GetVisibleScreenRect(grand), (RECT { 200, 160, 210, 170 }));
    EXPECT_EQ(ui::WindowFromPoint({ 205, 165 }), grand);
    EXPECT_EQ(ui::WindowFromPoint({ 215, 165 }), top) << "outside its parent, the grandchild is not hit";
    ui::ShowWindow(child, SW_HIDE);
    EXPECT_FALSE(ui::IsWindowVisible(grand));
    EXPECT_EQ(ui::WindowFromPoint({ 205, 165 }), top);
    EXPECT_EQ(ui::GetVisibleScreenRect(grand), (RECT {}));
}

TEST_F(Ui, DestroyingAParentTellsItFirstThenItsChildren)
{
    std::vector<std::string> order;
    struct Named final : ui::WindowHandler {
        std::string name;
        std::vector<std::string>* order;
        LRESULT WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) override
        {
            if (m == WM_DESTROY)
                order->push_back(name + ".destroy");
            if (m == WM_NCDESTROY)
                order->push_back(name + ".ncdestroy");
            return ui::DefWindowProc(w, m, wp, lp);
        }
    } parentHandler, childHandler;
    parentHandler.name = "parent";
    parentHandler.order = &order;
    childHandler.name = "child";
    childHandler.order = &order;
    HWND parent = ui::CreateWindowEx(0, "UiTest", "", WS_POPUP, 0, 0, 10, 10, nullptr, &parentHandler);
    HWND child = ui::CreateWindowEx(0, "UiTest", "", WS_CHILD, 0, 0, 5, 5, parent, &childHandler);
    ui::SetFocus(child);
    ui::DestroyWindow(parent);
    EXPECT_EQ(order, (std::vector<std::string> { "parent.destroy", "child.destroy", "child.ncdestroy", "parent.ncdestroy" }));
    EXPECT_FALSE(ui::IsWindow(child));
    EXPECT_EQ(ui::GetFocus(), nullptr);
}

TEST_F(Ui, MouseInputGoesToTheWindowUnderThePointerOrTheCapture)
{
    Recorder& a = recorder();
    Recorder& b = recorder();
    a.only = b.only = { WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_MOUSEMOVE };
    HWND left = make("UiTest", { 0, 0, 100, 100 }, nullptr, &a);
    HWND right = make("UiTestDbl", { 100, 0, 200, 100 }, nullptr, &b);
    ui::InjectMouse(ui::MouseAction::LeftDown, { 150, 20 }, ui::ModControl);
    ui::PumpPending();
    ASSERT_EQ(b.log.size(), 1u);
    EXPECT_EQ(b.log[0].message, WM_LBUTTONDOWN);
    EXPECT_EQ(b.log[0].lParam, MAKELPARAM(50, 20)) << "client coordinates";
    EXPECT_EQ(b.log[0].wParam, MK_LBUTTON | MK_CONTROL);
    ui::SetCapture(right);
    ui::InjectMouse(ui::MouseAction::Move, { 10, 10 });
    ui::PumpPending();
    EXPECT_TRUE(a.log.empty()) << "captured input went to the window under the pointer";
    EXPECT_EQ(GET_X_LPARAM(b.log.back().lParam), -90);
    ui::ReleaseCapture();
    (void)left;
}

TEST_F(Ui, ADoubleClickNeedsTheClassStyle)
{
    Recorder& plain = recorder();
    Recorder& dbl = recorder();
    plain.only = dbl.only = { WM_LBUTTONDOWN, WM_LBUTTONDBLCLK };
    make("UiTest", { 0, 0, 100, 100 }, nullptr, &plain);
    make("UiTestDbl", { 100, 0, 200, 100 }, nullptr, &dbl);
    for (POINT p : { POINT { 50, 50 }, POINT { 150, 50 } }) {
        ui::InjectMouse(ui::MouseAction::LeftDown, p);
        ui::InjectMouse(ui::MouseAction::LeftUp, p);
        ui::InjectMouse(ui::MouseAction::LeftDown, p);
        ui::InjectMouse(ui::MouseAction::LeftUp, p);
    }
    ui::PumpPending();
    EXPECT_EQ(plain.messages(), (std::vector<UINT> { WM_LBUTTONDOWN, WM_LBUTTONDOWN }));
    EXPECT_EQ(dbl.messages(), (std::vector<UINT> { WM_LBUTTONDOWN, WM_LBUTTONDBLCLK }));

    // Input from afar is judged by when the person pressed, not by when it
    // arrived: presses 600 ms apart that arrive together are two clicks;
    // presses 100 ms apart that arrive a second late are a double click.
    dbl.log.clear();
    const DWORD t = sys::GetTickCount() - 10000;
    for (DWORD at : { t, t + 600, t + 5000, t + 5100 }) {
        ui::InjectMouse(ui::MouseAction::LeftDown, POINT { 150, 50 }, ui::ModNone, 0, at);
        ui::InjectMouse(ui::MouseAction::LeftUp, POINT { 150, 50 }, ui::ModNone, 0, at);
    }
    ui::PumpPending();
    EXPECT_EQ(dbl.messages(), (std::vector<UINT> { WM_LBUTTONDOWN, WM_LBUTTONDOWN, WM_LBUTTONDOWN, WM_LBUTTONDBLCLK }));
}

TEST_F(Ui, KeysGoToTheFocusWindowAndSetTheKeyState)
{
    Recorder& rec = recorder();
    rec.only = { WM_KEYDOWN, WM_KEYUP };
    HWND w = make("UiTest", { 0, 0, 10, 10 }, nullptr, &rec);
    EXPECT_EQ(ui::InjectKey(true, VK_ESCAPE), nullptr) << "no focus, no target";
    ui::SetFocus(w);
    ui::InjectKey(true, ui::VirtualKeyFromName("Control"));
    EXPECT_TRUE(ui::GetKeyState(VK_CONTROL) & 0x8000);
    ui::InjectKey(false, VK_CONTROL);
    EXPECT_FALSE(ui::GetKeyState(VK_CONTROL) & 0x8000);
    ui::PumpPending();
    EXPECT_EQ(rec.messages(), (std::vector<UINT> { WM_KEYDOWN, WM_KEYUP }));
    EXPECT_EQ(rec.log[0].wParam, VK_CONTROL);
}

TEST_F(Ui, ModifiersOfInjectedMouseInputAreTheKeyStateWhileTheWindowHandlesIt)
{
    struct KeyReader final : ui::WindowHandler {
        std::vector<std::pair<bool, bool>> atClicks; // (control, shift) seen at each press
        LRESULT WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) override
        {
            if (m == WM_LBUTTONDOWN)
                atClicks.emplace_back((ui::GetKeyState(VK_CONTROL) & 0x8000) != 0, (ui::GetKeyState(VK_SHIFT) & 0x8000) != 0);
            return ui::DefWindowProc(w, m, wp, lp);
        }
    } reader;
    HWND w = ui::CreateWindowEx(0, "UiTest", "", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, &reader);
    for (UINT modifiers : { UINT(ui::ModControl), UINT(ui::ModShift), UINT(ui::ModNone) }) {
        ui::InjectMouse(ui::MouseAction::LeftDown, { 10, 10 }, modifiers);
        ui::PumpPending();
        ui::InjectMouse(ui::MouseAction::LeftUp, { 10, 10 }, modifiers);
        ui::PumpPending();
    }
    using Seen = std::vector<std::pair<bool, bool>>;
    EXPECT_EQ(reader.atClicks, (Seen { { true, false }, { false, true }, { false, false } }));
    ui::DestroyWindow(w);
}

TEST_F(Ui, ACursorImageIsCopiedAndReadBackUntilTheCursorIsDestroyed)
{
    constexpr int kWidth = 3;
    constexpr int kHeight = 2;
    std::vector<std::uint32_t> argb { 0xFF000000u, 0xFFFFFFFFu, 0, 0x80FF0000u, 0xFF00FF00u, 0 };
    HCURSOR cursor = ui::CreateImageCursor(150, kWidth, kHeight, 2, 1, argb.data(), ui::CursorShape::ZoomIn);
    ASSERT_NE(cursor, nullptr);
    const std::vector<std::uint32_t> original = argb;
    argb.assign(argb.size(), 0x12345678u); // the cursor keeps its own copy
    ui::CursorImage image;
    ASSERT_TRUE(ui::GetCursorImage(cursor, image));
    EXPECT_EQ(image.width, kWidth);
    EXPECT_EQ(image.height, kHeight);
    EXPECT_EQ(image.hotX, 2);
    EXPECT_EQ(image.hotY, 1);
    EXPECT_EQ(image.argb, original);
    EXPECT_EQ(ui::GetCursorShape(cursor), ui::CursorShape::ZoomIn);
    EXPECT_EQ(ui::GetCursorResourceId(cursor), 150);

    HCURSOR other = ui::CreateImageCursor(0, kWidth, kHeight, 0, 0, original.data());
    ui::CursorImage otherImage;
    ASSERT_TRUE(ui::GetCursorImage(other, otherImage));
    EXPECT_NE(otherImage.serial, image.serial);

    ui::SetCursor(cursor);
    ui::DestroyCursor(cursor);
    EXPECT_EQ(ui::GetCursor(), nullptr) << "the destroyed cursor stayed current";
    EXPECT_FALSE(ui::GetCursorImage(cursor, image));
    ui::DestroyCursor(other); // a cursor without a resource id is freed too (no leak under ASan)

    HCURSOR stock = ui::LoadStockCursor(ui::CursorShape::Hand);
    EXPECT_FALSE(ui::GetCursorImage(stock, image)) << "stock cursors are shapes";
    ui::DestroyCursor(stock);
    EXPECT_EQ(ui::GetCursorShape(stock), ui::CursorShape::Hand) << "a stock cursor was destroyed";
    EXPECT_FALSE(ui::GetCursorImage(ui::CreateResourceCursor(111, ui::CursorShape::Arrow), image));

    EXPECT_EQ(ui::CreateImageCursor(1, kWidth, kHeight, kWidth, 0, original.data()), nullptr) << "hot spot outside";
    EXPECT_EQ(ui::CreateImageCursor(1, 0, kHeight, 0, 0, original.data()), nullptr);
    EXPECT_EQ(ui::CreateImageCursor(1, kWidth, kHeight, 0, 0, nullptr), nullptr);
}

TEST_F(Ui, ATopmostWindowStaysAboveTheOthers)
{
    const RECT shared { 0, 0, 100, 100 };
    HWND topmost = make("UiTest", shared, nullptr, nullptr);
    ASSERT_TRUE(ui::SetWindowPos(topmost, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_TRUE(ui::GetWindowLongPtr(topmost, GWL_EXSTYLE) & WS_EX_TOPMOST);
    HWND later = make("UiTest", shared, nullptr, nullptr); // new windows go on top of their band
    HWND raised = make("UiTest", shared, nullptr, nullptr);
    ui::SetWindowPos(raised, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    std::vector<HWND> order = ui::GetTopLevelWindows();
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], topmost);
    EXPECT_EQ(order[1], raised);
    EXPECT_EQ(ui::WindowFromPoint({ 50, 50 }), topmost);

    // Placed below a topmost window, a plain window still stays in its band.
    ui::SetWindowPos(later, topmost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(ui::GetTopLevelWindows()[1], later);

    ui::SetWindowPos(topmost, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_FALSE(ui::GetWindowLongPtr(topmost, GWL_EXSTYLE) & WS_EX_TOPMOST);
    ui::SetWindowPos(raised, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(ui::WindowFromPoint({ 50, 50 }), raised) << "no longer topmost, it is covered";

    // A topmost window made a child loses the style; made top-level again it
    // goes below the topmost windows.
    HWND other = make("UiTest", shared, nullptr, nullptr);
    ui::SetWindowPos(other, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ui::SetParent(other, raised);
    EXPECT_FALSE(ui::GetWindowLongPtr(other, GWL_EXSTYLE) & WS_EX_TOPMOST);
    ui::SetWindowPos(later, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ui::SetParent(other, nullptr);
    order = ui::GetTopLevelWindows();
    EXPECT_EQ(order[0], later);
    EXPECT_EQ(order[1], other);
    HWND child = ui::CreateWindowEx(WS_EX_TOPMOST, "UiTest", "", WS_CHILD, 0, 0, 5, 5, raised);
    EXPECT_FALSE(ui::GetWindowLongPtr(child, GWL_EXSTYLE) & WS_EX_TOPMOST) << "children are never topmost";
}

TEST_F(Ui, TheScreenSaverFlagIsReadAndSetForTheProcess)
{
    ui::ResetSystemParameters();
    BOOL active = FALSE;
    ASSERT_TRUE(ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &active, 0));
    EXPECT_EQ(active, TRUE) << "on at start";
    ASSERT_TRUE(ui::SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, SPIF_SENDCHANGE));
    ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_EQ(active, FALSE);
    ui::SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, 7, nullptr, 0);
    ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_EQ(active, TRUE) << "any non-zero value turns it on";
    ui::SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
    ui::ResetSystemParameters();
    ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_EQ(active, TRUE);
    EXPECT_FALSE(ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, nullptr, 0));
    EXPECT_FALSE(ui::SystemParametersInfo(0x0070, 0, &active, 0));
}

TEST_F(Ui, APopupMenuReturnsOnlyAnEnabledItemThatIsOnIt)
{
    HMENU menu = ui::CreatePopupMenu();
    ui::AppendMenuW(menu, MF_STRING, 1324, u"Full Screen");
    ui::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ui::AppendMenuW(menu, MF_STRING | MF_GRAYED, 1326, u"Screen PTZ");
    EXPECT_EQ(ui::CheckMenuItem(menu, 1324, MF_CHECKED), MF_UNCHECKED);
    ui::SetNextMenuChoice(1324);
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 5, 6, 0, nullptr, nullptr), 1324);
    EXPECT_EQ(ui::LastShownMenu()[0].flags & MF_CHECKED, MF_CHECKED);
    EXPECT_EQ(ui::LastShownMenuPosition(), (POINT { 5, 6 }));
    ui::SetNextMenuChoice(1326);
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 0) << "a greyed item was chosen";
    EXPECT_EQ(ui::TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 0) << "a choice is used once";
    ui::DestroyMenu(menu);
}

TEST_F(Ui, MonitorsSitSideBySideWithThePrimaryFirst)
{
    ui::SetMonitorSizes({ { 1280, 720 }, { 1920, 1080 } });
    EXPECT_EQ(ui::GetSystemMetrics(SM_CXSCREEN), 1280);
    EXPECT_EQ(ui::GetSystemMetrics(SM_CYSCREEN), 720);
    EXPECT_EQ(ui::GetSystemMetrics(SM_CMONITORS), 2);
    EXPECT_EQ(ui::GetSystemMetrics(SM_CXVIRTUALSCREEN), 3200);
    MONITORINFO info {};
    ASSERT_TRUE(ui::GetMonitorInfo(ui::MonitorFromPoint({ 1500, 10 }, MONITOR_DEFAULTTONEAREST), &info));
    EXPECT_EQ(info.rcMonitor, (RECT { 1280, 0, 3200, 1080 }));
    EXPECT_EQ(info.dwFlags, 0u);
    HWND w = make("UiTest", { 1200, 0, 1600, 100 }, nullptr, nullptr);
    ASSERT_TRUE(ui::GetMonitorInfo(ui::MonitorFromWindow(w, MONITOR_DEFAULTTONEAREST), &info));
    EXPECT_EQ(info.rcMonitor.left, 1280) << "the monitor holding most of the window";
}

}
