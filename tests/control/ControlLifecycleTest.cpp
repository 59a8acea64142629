#include "support/PageFixture.h"

#include "control/TiravexApp.h"
#include "sys/Time.h"
#include "view/CPlayView.h"

namespace {

using testing_support::PageFixture;

class Lifecycle : public PageFixture { };

TEST_F(Lifecycle, ANewControlHoldsItsStartValues)
{
    DWORD before = sys::GetTickCount();
    auto* c = makeControl(-1, false);
    DWORD after = sys::GetTickCount();
    EXPECT_EQ(c->m_self, 0) << "no Self parameter means the main instance";
    EXPECT_GE(static_cast<DWORD>(c->m_login->groupID), before);
    EXPECT_LE(static_cast<DWORD>(c->m_login->groupID), after);
    EXPECT_EQ(c->m_login->ip[0], 0);
    EXPECT_EQ(c->m_loginReply.Status(), -1);
    EXPECT_EQ(c->m_deviceKind, 0);
    EXPECT_EQ(c->m_deviceType, 1);
    EXPECT_EQ(c->m_userRight, 2);
    EXPECT_EQ(c->m_active, 0);
    EXPECT_EQ(c->m_live.ptzCapable, 1);
    ASSERT_EQ(c->m_noPtzModels.size(), 16u);
    EXPECT_EQ(c->m_noPtzModels.front(), "ZA101W");
    EXPECT_EQ(c->m_noPtzModels[10], "ZA104");
    EXPECT_EQ(c->m_noPtzModels.back(), "ZC402");
    ASSERT_NE(c->m_audio, nullptr);
    EXPECT_EQ(c->m_audio->m_activeWindow, 1025);
}

TEST_F(Lifecycle, TheSelfParameterIsReadAndSaved)
{
    EXPECT_EQ(makeControl(3, false)->m_self, 3);
    auto* c = control::CTiravexCtrl::Create();
    c->LoadProperties({ { "Self", "x1" } });
    EXPECT_EQ(c->m_self, 0) << "a value that is not a number is absent";
    c->LoadProperties({ { "Self", "5" } });
    EXPECT_EQ(c->SaveProperties().at("Self"), "5");
    c->Release();
}

TEST_F(Lifecycle, TheMainInstanceMakesFourChildWindowsAndStartsActive)
{
    auto* c = makeControl(0);
    HWND window = c->GetSafeHwnd();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(c->m_active, 1);
    EXPECT_EQ(childNames(c), (std::vector<std::string> { "SHELTER", "MOTION", "PLAYBACK", "ALIVE" }));
    EXPECT_TRUE(ui::GetWindowLongPtr(window, GWL_STYLE) & WS_BORDER);
    EXPECT_EQ(ui::GetWindowBackground(window), RGB(255, 255, 255));

    HWND live = c->m_live.GetHwnd();
    EXPECT_EQ(ui::GetClassName(live), "ALIVE");
    EXPECT_TRUE(ui::IsWindowVisible(live));
    EXPECT_TRUE(ui::GetWindowLongPtr(live, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(ui::GetWindowLongPtr(live, GWL_STYLE) & WS_CLIPCHILDREN);
    EXPECT_EQ(ui::GetWindowBackground(live), RGB(0, 0, 0));
    for (HWND hidden : { c->m_playback.GetHwnd(), c->m_motion.GetHwnd(), c->m_shelter.GetHwnd() }) {
        EXPECT_EQ(ui::GetClassName(hidden), "static");
        EXPECT_FALSE(ui::IsWindowVisible(hidden));
        EXPECT_EQ(ui::GetWindowBackground(hidden), RGB(0, 0, 0));
    }
}

TEST_F(Lifecycle, ASecondaryInstanceMakesOnlyTheLiveWindowAndStartsInactive)
{
    auto* c = makeControl(3);
    EXPECT_EQ(childNames(c), (std::vector<std::string> { "ALIVE" }));
    EXPECT_EQ(c->m_active, 0);
    EXPECT_EQ(c->m_playback.GetHwnd(), nullptr);
}

TEST_F(Lifecycle, ResizingKeepsTheOnePixelFrameAroundTheLiveWindow)
{
    auto* c = makeControl(0);
    ui::MoveWindow(c->GetSafeHwnd(), 0, 0, 800, 600, TRUE);
    RECT live {}, playback {}, pageRect {};
    ui::GetWindowRect(c->m_live.GetHwnd(), &live);
    ui::GetWindowRect(c->m_playback.GetHwnd(), &playback);
    ui::GetWindowRect(page, &pageRect);
    EXPECT_EQ(live, (RECT { 1, 1, 799, 599 }));
    EXPECT_EQ(playback, (RECT { 0, 0, 800, 600 }));
    RECT motion {};
    ui::GetClientRect(c->m_motion.GetHwnd(), &motion);
    EXPECT_EQ(motion, (RECT { 0, 0, 800, 600 }));
    EXPECT_EQ(c->m_motion.GetWorkRect(), (RECT { 0, 0, 800, 600 }));
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
        EXPECT_EQ(c->m_audio->GetScreenWidth(), test.kept.cx) << test.what;
        EXPECT_EQ(c->m_audio->GetScreenHeight(), test.kept.cy) << test.what;
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
    EXPECT_EQ(secondary->m_audio->GetScreenWidth(), 1920);
    EXPECT_EQ(secondary->m_audio->GetScreenHeight(), 1200);
}

TEST_F(Lifecycle, WithoutAKeptSizeTheStartupUsesThePrimaryScreen)
{
    control::theApp().monitors = {};
    ui::SetMonitorSizes({ { 1024, 600 } });
    auto* secondary = makeControl(2);
    secondary->postLoginStartup();
    EXPECT_EQ(secondary->m_audio->GetScreenWidth(), 1024);
    EXPECT_EQ(secondary->m_audio->GetScreenHeight(), 600);
}

TEST_F(Lifecycle, ThePostLoginStartupRunsOncePerLogin)
{
    ui::SetMonitorSizes({ { 1280, 720 } });
    auto* c = makeControl(0);
    c->postLoginStartup();
    EXPECT_TRUE(c->m_audio->IsStarted());
    EXPECT_EQ(c->m_audio->m_activeWindow, 1025);
    EXPECT_EQ(c->m_audio->GetView()->GetClipperWindow(), c->m_live.GetHwnd());
    ui::SetMonitorSizes({ { 1920, 1080 } });
    c->postLoginStartup();
    EXPECT_EQ(c->m_audio->GetScreenWidth(), 1280) << "the second run did something";
    c->m_postLoginDone = 0; // as logging out does
    c->postLoginStartup();
    EXPECT_EQ(c->m_audio->GetScreenWidth(), 1920);
}

TEST_F(Lifecycle, PanTiltStaysOffWithoutAUserRightOrADeviceKind)
{
    struct Case {
        std::int32_t userRight;
        std::int32_t deviceKind;
        std::int32_t deviceType;
        std::int32_t before;
        std::int32_t expected;
    };
    const Case cases[] = {
        { 0, 101, 1, 1, 0 }, // no right
        { 2, 0, 1, 1, 0 },   // kind not yet known
        { 2, 101, 1, 0, 1 }, // the camera's product name does not rule it out
        { 2, 101, 0, 0, 0 }, // deviceType 0 leaves it
    };
    for (const auto& test : cases) {
        auto* c = makeControl(0);
        c->m_userRight = test.userRight;
        c->m_deviceKind = test.deviceKind;
        c->m_deviceType = test.deviceType;
        c->m_live.ptzCapable = test.before;
        c->postLoginStartup();
        EXPECT_EQ(c->m_live.ptzCapable, test.expected) << "right " << test.userRight << " kind " << test.deviceKind << " type " << test.deviceType;
    }
}

TEST_F(Lifecycle, OnlyAnExactProductNameRulesOutPanTilt)
{
    auto* c = makeControl(0, false);
    EXPECT_TRUE(c->IsNoPtzModel("ZA104"));
    EXPECT_TRUE(c->IsNoPtzModel("ZA104E"));
    EXPECT_FALSE(c->IsNoPtzModel("za104"));
    EXPECT_FALSE(c->IsNoPtzModel("ZA104X"));
    EXPECT_FALSE(c->IsNoPtzModel("ZA10"));
    EXPECT_FALSE(c->IsNoPtzModel(""));
    EXPECT_FALSE(c->IsNoPtzModel(nullptr));
}

TEST_F(Lifecycle, TheDeviceKindOverlaysTheStoredLoginReply)
{
    auto* c = makeControl(0, false);
    c->m_deviceKind = 102;
    EXPECT_EQ(c->m_deviceKind, 102);
    EXPECT_EQ(c->m_loginReply.reply[2215], 102);
    EXPECT_EQ(c->m_loginReply.reply[2216], 0);
    EXPECT_EQ(c->m_loginReply.Status(), -1) << "writing the kind touched the status";
    c->m_loginReply.reply[2215] = 100;
    EXPECT_EQ(c->m_deviceKind, 100);
}

TEST_F(Lifecycle, ScreenPanTiltStartsAndStopsItsWorker)
{
    auto* c = makeControl(0);
    c->setScreenPtz(10, 10);
    EXPECT_TRUE(c->m_live.IsScreenPtz());
    EXPECT_TRUE(c->m_ptzThread != nullptr);
    EXPECT_NE(c->m_ptzThreadId, 0u);
    c->setScreenPtz(10, 10);
    EXPECT_FALSE(c->m_live.IsScreenPtz());
    EXPECT_FALSE(c->m_ptzThread);
    EXPECT_EQ(c->m_ptzThreadId, 0u);
}

TEST_F(Lifecycle, ReleasingTheControlTakesDownItsWindowsAndItsWatchdog)
{
    auto* c = makeControl(0);
    c->postLoginStartup();
    HWND window = c->GetSafeHwnd();
    HWND live = c->m_live.GetHwnd();
    sys::ThreadId watchdog = c->m_audio->GetWatchdogThreadId();
    ASSERT_NE(watchdog, 0u);
    ASSERT_TRUE(sys::QueueOf(watchdog));
    controls.clear();
    c->Release();
    EXPECT_FALSE(ui::IsWindow(window));
    EXPECT_FALSE(ui::IsWindow(live));
    EXPECT_FALSE(sys::QueueOf(watchdog)) << "the watchdog thread still runs";
    EXPECT_EQ(ui::GetChildren(page).size(), 0u);
}

TEST(Module, LoadsElevenCursorsWithTheirResourceIds)
{
    auto& app = control::theApp();
    ASSERT_TRUE(app.IsInitialised());
    for (int i = 0; i < control::kCursorCount; ++i)
        EXPECT_EQ(ui::GetCursorResourceId(app.Cursor(i)), 111 + i);
    EXPECT_EQ(app.Cursor(11), nullptr);
    EXPECT_EQ(ui::GetCursorShape(app.Cursor(control::kCursorZoomIn)), ui::CursorShape::ZoomIn);
}

}
