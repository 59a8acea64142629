#include "support/PageFixture.h"

#include "control/TiravexApp.h"
#include "resources/Cursors.h"
#include "sys/Time.h"

namespace {

using testing_support::CameraPage;
using testing_support::PageFixture;

class Lifecycle : public CameraPage { };

TEST_F(Lifecycle, ANewControlHoldsItsStartValues)
{
    DWORD before = sys::GetTickCount();
    auto* c = makeControl(-1, false);
    DWORD after = sys::GetTickCount();
    EXPECT_EQ(c->Self(), 0) << "no Self parameter means the main instance";
    const LoginInfo& login = c->Link().Record();
    EXPECT_GE(static_cast<DWORD>(login.groupID), before);
    EXPECT_LE(static_cast<DWORD>(login.groupID), after);
    EXPECT_EQ(login.ip[0], 0);
    EXPECT_EQ(c->Link().LoginStatus(), -1);
    EXPECT_EQ(c->Link().DeviceKind(), 0);
    EXPECT_EQ(c->Link().DeviceType(), 1);
    EXPECT_FALSE(c->Link().HasRoad());
    EXPECT_EQ(c->UserRight(), 2);
    EXPECT_FALSE(c->IsActive());
    EXPECT_EQ(c->Live().ptzCapable, 1);
    EXPECT_EQ(c->Hub().ActiveWindow(), 1025);
    EXPECT_FALSE(c->Hub().IsStarted());
}

TEST_F(Lifecycle, TheSelfParameterIsReadAndSaved)
{
    EXPECT_EQ(makeControl(3, false)->Self(), 3);
    auto* c = control::CTiravexCtrl::Create();
    c->LoadProperties({ { "Self", "x1" } });
    EXPECT_EQ(c->Self(), 0) << "a value that is not a number is absent";
    c->LoadProperties({ { "Self", "5" } });
    EXPECT_EQ(c->SaveProperties().at("Self"), "5");
    c->Release();
}

TEST_F(Lifecycle, TheMainInstanceMakesFourChildWindowsAndStartsActive)
{
    auto* c = makeControl(0);
    HWND window = c->GetSafeHwnd();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(c->IsActive());
    EXPECT_EQ(childNames(c), (std::vector<std::string> { "SHELTER", "MOTION", "PLAYBACK", "ALIVE" }));
    EXPECT_TRUE(ui::GetWindowLongPtr(window, GWL_STYLE) & WS_BORDER);
    EXPECT_EQ(ui::GetWindowBackground(window), RGB(255, 255, 255));

    HWND live = c->Live().GetHwnd();
    EXPECT_EQ(ui::GetClassName(live), "ALIVE");
    EXPECT_TRUE(ui::IsWindowVisible(live));
    EXPECT_TRUE(ui::GetWindowLongPtr(live, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(ui::GetWindowLongPtr(live, GWL_STYLE) & WS_CLIPCHILDREN);
    EXPECT_EQ(ui::GetWindowBackground(live), RGB(0, 0, 0));
    for (HWND hidden : { c->Playback().GetHwnd(), c->Motion().GetHwnd(), c->Shelter().GetHwnd() }) {
        EXPECT_EQ(ui::GetClassName(hidden), "static");
        EXPECT_FALSE(ui::IsWindowVisible(hidden));
        EXPECT_EQ(ui::GetWindowBackground(hidden), RGB(0, 0, 0));
    }
}

TEST_F(Lifecycle, ASecondaryInstanceMakesOnlyTheLiveWindowAndStartsInactive)
{
    auto* c = makeControl(3);
    EXPECT_EQ(childNames(c), (std::vector<std::string> { "ALIVE" }));
    EXPECT_FALSE(c->IsActive());
    EXPECT_EQ(c->Playback().GetHwnd(), nullptr);
}

TEST_F(Lifecycle, ResizingKeepsTheOnePixelFrameAroundTheLiveWindow)
{
    auto* c = makeControl(0);
    ui::MoveWindow(c->GetSafeHwnd(), 0, 0, 800, 600, TRUE);
    RECT live {}, playback {};
    ui::GetWindowRect(c->Live().GetHwnd(), &live);
    ui::GetWindowRect(c->Playback().GetHwnd(), &playback);
    EXPECT_EQ(live, (RECT { 1, 1, 799, 599 }));
    EXPECT_EQ(playback, (RECT { 0, 0, 800, 600 }));
    RECT motion {};
    ui::GetClientRect(c->Motion().GetHwnd(), &motion);
    EXPECT_EQ(motion, (RECT { 0, 0, 800, 600 }));
    EXPECT_EQ(c->Motion().GetWorkRect(), (RECT { 0, 0, 800, 600 }));
}

// The control's background is erased white where no child covers it: a
// secondary instance showing its (absent) playback window leaves all of it
// uncovered.
TEST_F(Lifecycle, TheControlsBackgroundIsErasedWhereItsWindowsDoNotCoverIt)
{
    auto* c = makeControl(3);
    ui::PumpPending();
    RECT r {};
    ui::GetWindowRect(c->GetSafeHwnd(), &r);
    POINT middle { (r.left + r.right) / 2, (r.top + r.bottom) / 2 };
    ASSERT_EQ(gfx::Screen::Get().PixelAt(middle.x, middle.y) & 0xFFFFFF, 0u) << "the live window's black";
    ASSERT_EQ(call(c, "Playback", {}), S_OK);
    ui::PumpPending();
    EXPECT_FALSE(ui::IsWindowVisible(c->Live().GetHwnd()));
    EXPECT_EQ(gfx::Screen::Get().PixelAt(middle.x, middle.y) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(r.left, r.top) & 0xFFFFFF, 0xFFFFFFu) << "the inactive frame";
}

struct MonitorCase {
    const char* what;
    std::vector<SIZE> monitors;
    SIZE kept;
};

TEST_F(Lifecycle, ThePostLoginStartupKeepsTheLargestOfAtMostTenMonitors)
{
    std::vector<SIZE> eleven(10, SIZE { 800, 600 });
    eleven.push_back(SIZE { 3840, 2160 });
    const MonitorCase cases[] = {
        { "one monitor", { { 1280, 720 } }, { 1280, 720 } },
        { "a larger later monitor wins", { { 1280, 720 }, { 1920, 1080 } }, { 1920, 1080 } },
        { "a tie keeps the earlier", { { 1600, 900 }, { 1200, 1200 } }, { 1600, 900 } },
        { "the eleventh is not counted", eleven, { 800, 600 } },
    };
    for (const auto& test : cases) {
        ui::SetMonitorSizes(test.monitors);
        auto* c = makeControl(0);
        c->postLoginStartup();
        EXPECT_EQ(c->Hub().GetScreenWidth(), test.kept.cx) << test.what;
        EXPECT_EQ(c->Hub().GetScreenHeight(), test.kept.cy) << test.what;
        EXPECT_LE(control::theApp().monitors.sizes.size(), 10u) << test.what;
    }
}

TEST_F(Lifecycle, ASecondaryInstanceReusesTheMainInstancesMonitorSize)
{
    ui::SetMonitorSizes({ { 1280, 720 }, { 1920, 1200 } });
    auto* main = makeControl(0);
    main->postLoginStartup();
    ui::SetMonitorSizes({ { 2560, 1440 } });
    int enumerations = ui::MonitorEnumerationCount();
    auto* secondary = makeControl(3);
    secondary->postLoginStartup();
    EXPECT_EQ(ui::MonitorEnumerationCount(), enumerations) << "a secondary instance enumerated the monitors";
    EXPECT_EQ(secondary->Hub().GetScreenWidth(), 1920);
    EXPECT_EQ(secondary->Hub().GetScreenHeight(), 1200);
}

TEST_F(Lifecycle, WithoutAKeptSizeTheStartupUsesThePrimaryScreen)
{
    control::theApp().monitors = {};
    ui::SetMonitorSizes({ { 1024, 600 } });
    auto* secondary = makeControl(2);
    secondary->postLoginStartup();
    EXPECT_EQ(secondary->Hub().GetScreenWidth(), 1024);
    EXPECT_EQ(secondary->Hub().GetScreenHeight(), 600);
}

TEST_F(Lifecycle, ThePostLoginStartupRunsOncePerLogin)
{
    ui::SetMonitorSizes({ { 1280, 720 } });
    startCamera();
    auto* c = makeControl(0);
    ASSERT_TRUE(login(c));
    c->postLoginStartup();
    EXPECT_TRUE(c->PostLoginDone());
    EXPECT_TRUE(c->Hub().IsStarted());
    EXPECT_EQ(c->Hub().ActiveWindow(), 1025);
    EXPECT_EQ(c->Hub().GetView()->GetClipperWindow(), c->Live().GetHwnd());
    ui::SetMonitorSizes({ { 1920, 1080 } });
    c->postLoginStartup();
    EXPECT_EQ(c->Hub().GetScreenWidth(), 1280) << "the second run did something";
    ASSERT_EQ(call(c, "UNRegMy", {}), S_OK); // logging out of the road allows it again
    EXPECT_FALSE(c->PostLoginDone());
    c->postLoginStartup();
    EXPECT_EQ(c->Hub().GetScreenWidth(), 1920);
}

// Pan/tilt after a login to a camera, by the page's user right, the
// camera's device kind and product, and RegMy's deviceType.
TEST_F(Lifecycle, PanTiltFollowsTheUserRightTheDeviceKindAndTheProduct)
{
    struct Case {
        const char* what;
        std::int32_t userRight;
        int kind;
        const char* product;
        int ptFlag;
        LONG deviceType;
        std::int32_t expected;
    };
    const Case cases[] = {
        { "no right", 0, 101, "TVX-C100", 1, 1, 0 },
        { "kind not known", 2, 0, "TVX-C100", 1, 1, 0 },
        { "a camera with pan/tilt", 2, 101, "TVX-C100", 1, 1, 1 },
        { "a product without pan/tilt", 2, 101, "ZA104", 0, 1, 0 },
        { "deviceType 0 leaves it as it was", 2, 101, "ZA104", 0, 0, 1 },
    };
    for (const auto& test : cases) {
        sim::CameraConfig config;
        config.deviceKind = test.kind;
        config.product = test.product;
        config.ptFlag = test.ptFlag;
        startCamera(config);
        auto* c = makeControl(0);
        ASSERT_EQ(call(c, "UpdateFirstChannelUserRight", { num(test.userRight) }), S_OK);
        ASSERT_EQ(call(c, "RegMy", { str(camera->Address().c_str()), num(camera->WebPort()), num(camera->Port()), str(camera->User().c_str()),
                                        str(camera->Password().c_str()), str("cam"), num(1), num(1), num(test.deviceType) }),
            S_OK);
        ASSERT_TRUE(ui::RunUntil([&] { return c->Link().LoginStatus() == 0; }, 10000)) << test.what;
        ASSERT_EQ(call(c, "LoginSuc", {}), S_OK);
        EXPECT_EQ(c->Live().ptzCapable, test.expected) << test.what;
        controls.pop_back();
        c->Release();
        camera.reset();
    }
}

TEST_F(Lifecycle, ScreenPanTiltStartsAndStopsItsWorker)
{
    auto* c = makeControl(0);
    c->postLoginStartup(); // the worker needs the HTTP client
    c->setScreenPtz(10, 10);
    EXPECT_TRUE(c->Live().IsScreenPtz());
    EXPECT_TRUE(c->Link().IsPtzWorkerRunning());
    c->setScreenPtz(10, 10);
    EXPECT_FALSE(c->Live().IsScreenPtz());
    EXPECT_FALSE(c->Link().IsPtzWorkerRunning());
}

TEST_F(Lifecycle, ReleasingTheControlTakesDownItsWindowsAndItsWatchdog)
{
    auto* c = makeControl(0);
    c->postLoginStartup();
    HWND window = c->GetSafeHwnd();
    HWND live = c->Live().GetHwnd();
    sys::ThreadId watchdog = c->Hub().GetWatchdogThreadId();
    ASSERT_NE(watchdog, 0u);
    ASSERT_TRUE(sys::QueueOf(watchdog));
    controls.clear();
    c->Release();
    EXPECT_FALSE(ui::IsWindow(window));
    EXPECT_FALSE(ui::IsWindow(live));
    EXPECT_FALSE(sys::QueueOf(watchdog)) << "the watchdog thread still runs";
    EXPECT_EQ(ui::GetChildren(page).size(), 0u);
}

TEST_F(Lifecycle, AClickInASecondaryViewSelectsIt)
{
    makeControl(0);
    auto* second = makeControl(1, true, RECT { 700, 10, 900, 160 });
    ASSERT_FALSE(second->IsActive());
    RECT live {};
    ui::GetWindowRect(second->Live().GetHwnd(), &live);
    ui::InjectMouse(ui::MouseAction::LeftDown, POINT { live.left + 20, live.top + 20 });
    ui::InjectMouse(ui::MouseAction::LeftUp, POINT { live.left + 20, live.top + 20 });
    ui::PumpPending();
    EXPECT_TRUE(second->IsActive());
    ASSERT_FALSE(script.calls.empty());
    EXPECT_EQ(script.calls.back().args.at(0), testing_support::Arg(209));
    EXPECT_EQ(script.calls.back().args.at(1), testing_support::Arg(1)) << "Self of the selected view";
}

TEST(Module, LoadsElevenCursorsWithTheirResourceIds)
{
    ASSERT_TRUE(control::theApp().IsInitialised());
    ASSERT_TRUE(resources::CursorsLoaded());
    for (int i = 0; i < resources::kCursorCount; ++i)
        EXPECT_EQ(ui::GetCursorResourceId(resources::Cursor(i)), 111 + i);
    EXPECT_EQ(resources::Cursor(11), nullptr);
    EXPECT_EQ(ui::GetCursorShape(resources::Cursor(resources::kCursorZoomIn)), ui::CursorShape::ZoomIn);
}

}
