// The live and playback windows as a person uses them: the mouse and the
// keys through the window system, pictures from the decoder, ticks as the
// watchdog gives them. Zoom and drag, the context menus in three
// languages, full screen on the nearest monitor and back, screen pan/tilt,
// the silence timeline and the status texts.

#include "support/Encoder.h"
#include "support/Players.h"

#include "com/CodePage.h"
#include "gfx/Screen.h"
#include "gfx/Pixels.h"
#include "media/CMediaHub.h"
#include "media/VideoPassThrough.h"
#include "resources/Cursors.h"
#include "resources/StringTable.h"
#include "ui/Input.h"
#include "ui/Monitor.h"
#include "ui/System.h"
#include "view/CLiveCtrl.h"
#include "view/CPbCtrl.h"
#include "view/CPlayView.h"
#include "view/Notifications.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct HubOwner : CMediaHub::Owner {
    bool IsSelected() const override { return true; }
    bool IsMainInstance() const override { return true; }
};

// The control's side of the windows, as the control does it.
struct Owner : view::WindowOwner {
    CLiveCtrl* live = nullptr;
    int activations = 0;
    std::vector<bool> ptzMoves; // stop flags, in order
    void ActivateFromView() override { ++activations; }
    void SetScreenPtz(int x, int y) override { live->ToggleScreenPtz(x, y); }
    void PostPtzMove(bool stop) override { ptzMoves.push_back(stop); }
};

using Items = std::vector<ui::MenuItem>;

class VideoWindow : public ::testing::Test {
protected:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static constexpr RECT kLiveRect { 1, 1, 1 + kWidth, 1 + kHeight };

    void SetUp() override
    {
        ui::ResetInput();
        ui::SetMonitorSizes(monitors());
        ui::SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, 0);
        resources::LoadCursors();
        page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, pageOrigin().x, pageOrigin().y, kWidth + 2, kHeight + 2, nullptr, &notify);
        live.Register("ALIVE");
        live.CreateEx(0, "ALIVE", "ALIVE", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, kLiveRect, page, RGB(0, 0, 0));
        playback.CreateEx(0, "static", "PLAYBACK", WS_CHILD, RECT { 0, 0, kWidth + 2, kHeight + 2 }, page, RGB(0, 0, 0));
        owner.live = &live;
        live.SetOwner(&owner);
        playback.SetOwner(&owner);
        int w = ui::GetSystemMetrics(SM_CXSCREEN), h = ui::GetSystemMetrics(SM_CYSCREEN);
        hub.AttachControlWindow(page, w, h);
        live.Attach(page, w, h, &hub);
        playback.Attach(page, w, h, &hub);
        hub.SetActiveWindow(kLiveWindowId);
        hub.GetView()->SetClipperWindow(live.GetHwnd());
        hub.SetLanguage(resources::kLanguageEnglish);
    }

    void TearDown() override
    {
        live.DestroyWindow();
        playback.DestroyWindow();
        ui::DestroyWindow(page);
        ui::PumpPending();
        ui::SetMonitorSizes({});
    }

    virtual std::vector<SIZE> monitors() const { return {}; }
    virtual POINT pageOrigin() const { return POINT { 0, 0 }; }

    // A decoded picture of the given size reaches the window (the watchdog
    // does not run here: the test ticks).
    void show(CPlayBase& player, int width, int height, int id = kLiveWindowId)
    {
        auto packets = testing_support::EncodeH264(width, height, 1);
        ASSERT_FALSE(packets.empty());
        testing_support::Feed(player, kz::kFrameH264, packets[0], true, id);
        ASSERT_EQ(player.DrawnFrames(), 1);
    }

    POINT screenOf(HWND window, int x, int y)
    {
        POINT p { x, y };
        ui::ClientToScreen(window, &p);
        return p;
    }
    void mouse(ui::MouseAction action, int x, int y, UINT modifiers = ui::ModNone, int wheel = 0)
    {
        ui::InjectMouse(action, screenOf(live.GetHwnd(), x, y), modifiers, wheel);
        ui::PumpPending();
    }
    void click(int x, int y, UINT modifiers = ui::ModNone)
    {
        mouse(ui::MouseAction::LeftDown, x, y, modifiers);
        mouse(ui::MouseAction::LeftUp, x, y, modifiers);
    }
    void key(UINT virtualKey)
    {
        ui::InjectKey(true, virtualKey);
        ui::InjectKey(false, virtualKey);
        ui::PumpPending();
    }
    // The menu a right click at (x, y) shows; empty when none is shown.
    // Clicks in a row are made apart, so that no two make a double click.
    Items menuAt(int x, int y)
    {
        x += (++m_clicks % 2) * 10;
        int shown = ui::ShownMenuCount();
        mouse(ui::MouseAction::RightDown, x, y);
        mouse(ui::MouseAction::RightUp, x, y);
        return ui::ShownMenuCount() > shown ? ui::LastShownMenu() : Items {};
    }
    // Picks a command from the menu at (x, y), as a person would.
    void choose(UINT command, int x = kWidth / 2, int y = kHeight / 2)
    {
        ui::SetNextMenuChoice(command);
        menuAt(x, y);
        ui::PumpPending();
    }

    HubOwner hubOwner;
    testing_support::NotifyWindow notify;
    Owner owner;
    HWND page = nullptr;
    CMediaHub hub { &CPlayView::Make };
    CLiveCtrl live;
    CPbCtrl playback;

private:
    int m_clicks = 0;
};

// ---- zoom and drag ----------------------------------------------------------------------

TEST_F(VideoWindow, ZoomGoesByLevelsAroundThePointAndStopsAtItsLimits)
{
    show(live, 1280, 960);
    click(kWidth / 2, kHeight / 2, ui::ModControl);
    EXPECT_EQ(live.GetZoomLevel(), 1);
    EXPECT_EQ(live.GetZoomRect(), (RECT { 20, 15, 1260, 945 })) << "(32 - 1) / 32 of the picture around its centre";
    EXPECT_EQ(live.GetSourceRect(), live.GetZoomRect());
    EXPECT_EQ(ui::GetCursorResourceId(ui::GetCursor()), resources::kFirstCursorResource + resources::kCursorZoomIn);

    for (int i = 0; i < 30; ++i)
        mouse(ui::MouseAction::Wheel, kWidth / 2, kHeight / 2, ui::ModNone, 120);
    EXPECT_EQ(live.GetZoomLevel(), kMaxZoomLevel) << "no zoom past 27";
    RECT deepest = live.GetZoomRect();
    EXPECT_EQ(ui::Width(deepest), 1280 * 5 / 32);
    EXPECT_EQ(ui::Height(deepest), 960 * 5 / 32);

    Items atTop = menuAt(10, 10);
    EXPECT_TRUE(std::none_of(atTop.begin(), atTop.end(), [](const ui::MenuItem& i) { return i.id == kCommandZoomIn; })) << "no \"Zoom up\" at 27";

    for (int i = 0; i < 30; ++i)
        click(kWidth / 2 + (i % 2) * 10, kHeight / 2, ui::ModShift); // apart, so that no two make a double click
    EXPECT_EQ(live.GetZoomLevel(), 0) << "no zoom below 0";
    EXPECT_EQ(live.GetZoomRect(), (RECT { 0, 0, 1280, 960 }));
    Items atBottom = menuAt(10, 10);
    EXPECT_TRUE(std::none_of(atBottom.begin(), atBottom.end(), [](const ui::MenuItem& i) { return i.id == kCommandZoomOut; })) << "no \"Zoom down\" at 0";
}

TEST_F(VideoWindow, AZoomAtACornerStaysInsideThePicture)
{
    show(live, 1280, 960);
    for (int i = 0; i < kMaxZoomLevel; ++i)
        mouse(ui::MouseAction::Wheel, kWidth - 1, kHeight - 1, ui::ModNone, 120);
    RECT r = live.GetZoomRect();
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.right, 1280);
    EXPECT_LE(r.bottom, 960);
    EXPECT_EQ(ui::Width(r), 200);
    EXPECT_GT(r.left, 1000) << "the corner stays in view";
}

TEST_F(VideoWindow, ADragMovesTheZoomedPictureWithoutLeavingItOrChangingItsSize)
{
    show(live, 1280, 960);
    for (int i = 0; i < 8; ++i)
        mouse(ui::MouseAction::Wheel, kWidth / 2, kHeight / 2, ui::ModNone, 120);
    const RECT before = live.GetSourceRect();

    mouse(ui::MouseAction::LeftDown, 300, 200);
    mouse(ui::MouseAction::Move, 290, 195);
    EXPECT_EQ(live.GetZoomRect(), ui::Offset(before, 10, 5)) << "the picture follows the pointer";
    EXPECT_EQ(live.GetSourceRect(), before) << "committed only on release";
    mouse(ui::MouseAction::Move, 300 + 900, 200 + 900); // far past the top left
    RECT dragged = live.GetZoomRect();
    EXPECT_EQ(dragged.left, 0);
    EXPECT_EQ(dragged.top, 0);
    EXPECT_EQ(ui::Width(dragged), ui::Width(before));
    EXPECT_EQ(ui::Height(dragged), ui::Height(before));
    mouse(ui::MouseAction::LeftUp, 300 + 900, 200 + 900);
    EXPECT_EQ(live.GetSourceRect(), dragged);
    EXPECT_FALSE(live.IsDragging());

    mouse(ui::MouseAction::LeftDown, 600, 400);
    mouse(ui::MouseAction::LeftUp, 600 - 2000, 400 - 2000); // past the bottom right
    RECT other = live.GetSourceRect();
    EXPECT_EQ(other.right, 1280);
    EXPECT_EQ(other.bottom, 960);
    EXPECT_EQ(ui::Width(other), ui::Width(before));
}

TEST_F(VideoWindow, WithKeepRatioAClickInABlackBarDoesNotZoom)
{
    show(live, 1280, 720); // 640 x 360 in the middle of the window
    click(kWidth / 2, 20, ui::ModControl);
    EXPECT_EQ(live.GetZoomLevel(), 0);
    click(kWidth / 2, kHeight / 2, ui::ModControl);
    EXPECT_EQ(live.GetZoomLevel(), 1);
    EXPECT_EQ(live.GetZoomRect(), (RECT { 20, 12, 1260, 709 })) << "the picture's centre, (640, 360)";
}

// ---- menus -------------------------------------------------------------------------------

struct Texts {
    int base;
    const char16_t *keepRatio, *fullScreen, *screenPtz, *zoomUp, *zoomDown;
};
constexpr Texts kLanguages[] = {
    { resources::kLanguageSimplifiedChinese, u"保持比例", u"全屏", u"屏幕云台", u"放大", u"缩小" },
    { resources::kLanguageTraditionalChinese, u"保持比例", u"全螢幕", u"螢幕雲台", u"放大", u"縮小" },
    { resources::kLanguageEnglish, u"Keep ratio", u"Full Screen", u"Screen PTZ", u"Zoom up", u"Zoom down" },
};

ui::MenuItem item(const char16_t* text, UINT command, bool checked = false) { return ui::MenuItem { MF_STRING | (checked ? MF_CHECKED : 0u), command, text }; }
ui::MenuItem separator() { return ui::MenuItem { MF_SEPARATOR, 0, u"" }; }

TEST_F(VideoWindow, TheLiveMenuInEachCaseAndLanguage)
{
    show(live, 1280, 960);
    mouse(ui::MouseAction::Wheel, kWidth / 2, kHeight / 2, ui::ModNone, 120); // both zoom items
    for (const Texts& t : kLanguages) {
        SCOPED_TRACE(t.base);
        hub.SetLanguage(t.base);
        live.ptzCapable = 1;
        EXPECT_EQ(menuAt(100, 100), (Items { item(t.keepRatio, kCommandKeepRatio, true), separator(), item(t.fullScreen, kCommandFullScreen), separator(),
                                       item(t.zoomUp, kCommandZoomIn), item(t.zoomDown, kCommandZoomOut) }))
            << "windowed: no screen pan/tilt";

        choose(kCommandKeepRatio);
        EXPECT_FALSE(live.m_keepRatio);
        EXPECT_EQ(menuAt(100, 100)[0], item(t.keepRatio, kCommandKeepRatio, false));
        choose(kCommandKeepRatio);

        choose(kCommandFullScreen);
        ASSERT_TRUE(live.IsFullScreen());
        EXPECT_EQ(menuAt(100, 100), (Items { item(t.keepRatio, kCommandKeepRatio, true), separator(), item(t.fullScreen, kCommandFullScreen, true),
                                       item(t.screenPtz, kCommandScreenPtz), separator(), item(t.zoomUp, kCommandZoomIn), item(t.zoomDown, kCommandZoomOut) }));
        live.ptzCapable = 0;
        EXPECT_EQ(menuAt(100, 100)[3], separator()) << "no screen pan/tilt for a camera without it";
        live.ptzCapable = 1;

        choose(kCommandScreenPtz);
        ASSERT_TRUE(live.IsScreenPtz());
        ui::SetNextMenuChoice(0);
        ui::MenuItem expected = item(t.screenPtz, kCommandScreenPtz, true);
        live.ClearMenuFlag();
        EXPECT_EQ(live.BuildMenu() ? ui::GetMenuItems(live.GetMenu()) : Items {}, (Items { expected, separator(), item(t.zoomUp, kCommandZoomIn), item(t.zoomDown, kCommandZoomOut) }));
        owner.SetScreenPtz(100, 100);
        choose(kCommandFullScreen);
        ASSERT_FALSE(live.IsFullScreen());
    }
}

TEST_F(VideoWindow, ThePlaybackMenuAndAWindowWithoutItsOwner)
{
    for (const Texts& t : kLanguages) {
        SCOPED_TRACE(t.base);
        hub.SetLanguage(t.base);
        EXPECT_EQ(ui::GetMenuItems(playback.BuildMenu()), (Items { item(t.fullScreen, kCommandFullScreen), separator(), item(t.zoomUp, kCommandZoomIn) }))
            << "no keep ratio before a picture, no zoom down at level 0";
    }
    show(playback, 640, 480, kPlaybackWindowId);
    ui::ShowWindow(playback.GetHwnd(), SW_SHOW);
    playback.ToggleFullScreen();
    ASSERT_TRUE(playback.IsFullScreen());
    EXPECT_EQ(ui::GetMenuItems(playback.BuildMenu()), (Items { item(u"Keep ratio", kCommandKeepRatio, true), separator(), item(u"Full Screen", kCommandFullScreen, true), separator(), item(u"Zoom up", kCommandZoomIn) }))
        << "no screen pan/tilt in the playback window";
    playback.ToggleFullScreen();
    RECT back {};
    ui::GetWindowRect(playback.GetHwnd(), &back);
    EXPECT_EQ(back, (RECT { 0, 0, kWidth + 2, kHeight + 2 })) << "the playback window fills the control";
    ui::ShowWindow(playback.GetHwnd(), SW_HIDE);

    live.SetOwner(nullptr);
    EXPECT_TRUE(menuAt(100, 100).empty()) << "the live window shows no menu without its control";
}

// ---- full screen --------------------------------------------------------------------------

TEST_F(VideoWindow, DoubleClickEntersFullScreenAndEscapeLeavesIt)
{
    show(live, 1280, 960);
    click(50, 50);
    click(50, 50);
    ASSERT_TRUE(live.IsFullScreen());
    RECT full {};
    ui::GetWindowRect(live.GetHwnd(), &full);
    EXPECT_EQ(full, (RECT { 0, 0, ui::kDefaultScreenWidth, ui::kDefaultScreenHeight }));
    EXPECT_EQ(ui::GetParent(live.GetHwnd()), nullptr);
    EXPECT_TRUE(ui::GetWindowLongPtr(live.GetHwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    BOOL saver = TRUE;
    ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &saver, 0);
    EXPECT_FALSE(saver) << "no screen saver over full-screen video";

    key(VK_ESCAPE);
    ASSERT_FALSE(live.IsFullScreen());
    EXPECT_EQ(ui::GetParent(live.GetHwnd()), page);
    RECT back {};
    ui::GetWindowRect(live.GetHwnd(), &back);
    EXPECT_EQ(back, (RECT { 1, 1, kWidth + 1, kHeight + 1 })) << "one pixel inside the control";
    ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &saver, 0);
    EXPECT_TRUE(saver);

    key(VK_ESCAPE);
    EXPECT_FALSE(live.IsFullScreen()) << "Escape only leaves full screen";
}

class VideoWindowOnTheSecondMonitor : public VideoWindow {
protected:
    std::vector<SIZE> monitors() const override { return { SIZE { 1920, 1080 }, SIZE { 1280, 1024 } }; }
    POINT pageOrigin() const override { return POINT { 2200, 100 }; }
};

TEST_F(VideoWindowOnTheSecondMonitor, FullScreenCoversTheMonitorTheWindowIsOn)
{
    live.ToggleFullScreen();
    RECT full {};
    ui::GetWindowRect(live.GetHwnd(), &full);
    EXPECT_EQ(full, (RECT { 1920, 0, 1920 + 1280, 1024 }));
    live.ToggleFullScreen();
    ui::GetWindowRect(live.GetHwnd(), &full);
    EXPECT_EQ(full, (RECT { 2201, 101, 2201 + kWidth, 101 + kHeight }));
}

// ---- screen pan/tilt -----------------------------------------------------------------------

TEST_F(VideoWindow, ScreenPanTiltFollowsThePointerAroundItsCentre)
{
    show(live, 1280, 960);
    live.ToggleFullScreen();
    mouse(ui::MouseAction::MiddleDown, 510, 410);
    ASSERT_TRUE(live.IsScreenPtz()) << "a middle click in full screen switches it on";
    EXPECT_EQ(live.MarkerPosition(), (POINT { 500, 400 }));
    EXPECT_EQ(ui::GetCapture(), live.GetHwnd());

    struct Case {
        int x, y, direction;
    };
    for (Case c : { Case { 470, 400, 3 }, Case { 490, 400, 4 }, Case { 521, 379, 2 }, Case { 479, 421, 6 }, Case { 500, 421, 7 }, Case { 520, 420, 4 } }) {
        mouse(ui::MouseAction::Move, c.x, c.y);
        EXPECT_EQ(live.PtzDirection(), c.direction) << c.x << ", " << c.y;
        EXPECT_EQ(ui::GetCursorResourceId(ui::GetCursor()), resources::kFirstCursorResource + c.direction);
    }

    mouse(ui::MouseAction::Move, 450, 400);
    mouse(ui::MouseAction::LeftDown, 450, 400);
    EXPECT_EQ(live.BeginPtzMove(), 3) << "the worker moves left";
    mouse(ui::MouseAction::Move, 550, 350);
    EXPECT_EQ(live.PtzDirection(), 3) << "the direction holds while moving";
    live.EndPtzMove();
    mouse(ui::MouseAction::LeftUp, 550, 350);
    EXPECT_EQ(owner.ptzMoves, (std::vector<bool> { false, true }));

    const int level = live.GetZoomLevel();
    mouse(ui::MouseAction::Wheel, 300, 300, ui::ModNone, 120);
    EXPECT_EQ(live.GetZoomLevel(), level) << "no zoom in screen pan/tilt mode";
    live.ToggleFullScreen();
    EXPECT_TRUE(live.IsFullScreen()) << "full screen stays while screen pan/tilt is on";

    int menus = ui::ShownMenuCount();
    mouse(ui::MouseAction::RightDown, 300, 300);
    EXPECT_FALSE(live.IsScreenPtz()) << "a right click switches it off";
    EXPECT_EQ(ui::ShownMenuCount(), menus) << "instead of showing the menu";
    EXPECT_EQ(live.MarkerPosition(), (POINT { kPtzMarkerOff, kPtzMarkerOff }));
}

TEST_F(VideoWindow, EscapeEndsScreenPanTiltBeforeFullScreenAndAWindowedMiddleClickDoesNothing)
{
    show(live, 1280, 960);
    mouse(ui::MouseAction::MiddleDown, 300, 300);
    EXPECT_FALSE(live.IsScreenPtz()) << "only in full screen";
    live.ToggleFullScreen(); // as the page's FullScreen does: no click first
    ui::SetNextMenuChoice(0);
    EXPECT_FALSE(menuAt(200, 200).empty());
    EXPECT_FALSE(live.IsMenuOpen()) << "a menu closed without a choice is not open";
    live.ptzCapable = 0;
    mouse(ui::MouseAction::MiddleDown, 300, 300);
    EXPECT_FALSE(live.IsScreenPtz()) << "not for a camera without pan/tilt";
    live.ptzCapable = 1;
    mouse(ui::MouseAction::MiddleDown, 340, 300); // apart: not a double click
    ASSERT_TRUE(live.IsScreenPtz());
    key(VK_ESCAPE);
    EXPECT_FALSE(live.IsScreenPtz());
    EXPECT_TRUE(live.IsFullScreen());
    key(VK_ESCAPE);
    EXPECT_FALSE(live.IsFullScreen());
}

// ---- the silence timeline and the texts ------------------------------------------------------

// White pixels of the status text's row band, and the rightmost one.
struct TextBand {
    int white = 0;
    int right = -1;
};
TextBand textBand(HWND window)
{
    RECT r {};
    ui::GetWindowRect(window, &r);
    TextBand band;
    for (int y = 50; y < 75; ++y)
        for (int x = 0; x < 300; ++x)
            if ((gfx::Screen::Get().PixelAt(r.left + x, r.top + y) & 0xFFFFFF) == 0xFFFFFF) {
                ++band.white;
                band.right = std::max(band.right, x);
            }
    return band;
}

bool pictureShown(HWND window)
{
    RECT r {};
    ui::GetWindowRect(window, &r);
    int lit = 0;
    for (int y = 100; y < 400; y += 7)
        for (int x = 100; x < 500; x += 7)
            lit += (gfx::Screen::Get().PixelAt(r.left + x, r.top + y) & 0xFFFFFF) != 0;
    return lit > 100;
}

TEST_F(VideoWindow, TheLiveWindowGoesBlackAt10SecondsAndSaysConnectingAt20)
{
    live.m_silence = 0;
    show(live, 1280, 960);
    auto tick = [&](int times) {
        for (int i = 0; i < times; ++i)
            live.OnTick();
        ui::PumpPending();
    };
    tick(399);
    EXPECT_TRUE(pictureShown(live.GetHwnd())) << "the last picture stays for 10 s";
    tick(1);
    EXPECT_FALSE(pictureShown(live.GetHwnd())) << "black at 10 s";
    tick(399);
    EXPECT_EQ(notify.count(view::kNotifyLiveAudioState), 0);
    EXPECT_EQ(textBand(live.GetHwnd()).white, 0);
    tick(1); // 20 s
    EXPECT_EQ(notify.count(view::kNotifyLiveAudioState), 1) << "the stall is reported at 20 s";
    EXPECT_EQ(live.m_silence, kLiveSilenceConnecting);
    TextBand plain = textBand(live.GetHwnd());
    EXPECT_GT(plain.white, 20) << "\"connecting\" is shown at 20 s";

    std::vector<int> rights;
    for (int dots = 0; dots < 4; ++dots) {
        tick(dots == 0 ? 49 : 50);
        rights.push_back(textBand(live.GetHwnd()).right);
    }
    EXPECT_EQ(rights[0], plain.right) << "no dot for the first 1.25 s";
    EXPECT_GT(rights[1], rights[0]);
    EXPECT_GT(rights[2], rights[1]);
    EXPECT_GT(rights[3], rights[2]);
    tick(1);
    EXPECT_EQ(textBand(live.GetHwnd()).right, plain.right) << "no dot once three were shown";
    EXPECT_EQ(live.m_silence, kLiveSilenceConnecting) << "a 5-second cycle";
    EXPECT_EQ(notify.count(view::kNotifyLiveAudioState), 1) << "reported once";

}

TEST_F(VideoWindow, ARefusedLoginSaysConnectFailOverThePicture)
{
    show(live, 1280, 960);
    live.OnTick();
    const int before = textBand(live.GetHwnd()).white;
    live.m_connected = false;
    live.OnTick();
    EXPECT_GT(textBand(live.GetHwnd()).white, before + 20);
}

TEST_F(VideoWindow, SmallPicturesAreReportedToTheControl)
{
    show(live, 320, 240);
    ui::PumpPending();
    EXPECT_EQ(notify.count(view::kNotifySmallPicture), 1);
    live.m_smallVideo = true;
    auto jpeg = testing_support::EncodeJpeg(321, 240, 0);
    FrameRecord frame {};
    frame.size = static_cast<std::int32_t>(jpeg.size());
    frame.payload = jpeg.data();
    CPlayBase::FrameCallback(kz::kFrameMjpeg, &frame, &live, kLiveWindowId);
    ui::PumpPending();
    EXPECT_EQ(live.GetPictureWidth(), 321u);
    EXPECT_EQ(notify.count(view::kNotifySmallPicture), 1) << "321 x 240 is not small";
    EXPECT_FALSE(live.m_smallVideo);
}

TEST_F(VideoWindow, TheAlarmDotIsDrawnIntoThePicture)
{
    live.m_alarmFlag = true;
    show(live, 1280, 960);
    live.OnTick();
    RECT r {};
    ui::GetWindowRect(live.GetHwnd(), &r);
    // Half size on screen: the dot's middle is 37 pixels in from the
    // picture's bottom right corner.
    EXPECT_EQ(gfx::Screen::Get().PixelAt(r.left + (1280 - 37) / 2, r.top + (960 - 37) / 2) & 0xFFFFFF, 0xFF0000u);
    EXPECT_NE(gfx::Screen::Get().PixelAt(r.left + (1280 - 87) / 2, r.top + (960 - 37) / 2) & 0xFFFFFF, 0x00FF00u) << "no recording, no green dot";
}

// A viewer elsewhere that decodes H.264 itself: what the live window hands it.
struct PassedFrames : media::VideoPassThrough {
    struct Frame {
        bool key;
        int width, height;
        RECT source, target;
    };
    std::vector<Frame> frames;
    bool Takes(media::Codec codec) const override { return codec == media::Codec::H264; }
    void OnFrame(const media::PassedFrame& f) override { frames.push_back(Frame { f.keyFrame, f.width, f.height, f.source, f.target }); }
};

TEST_F(VideoWindow, FramesPassedThroughAreNotDecodedAndTheirPlaceIsTheKeyColourUnderTheDots)
{
    PassedFrames viewer;
    media::SetVideoPassThrough(&viewer);
    live.m_alarmFlag = true;
    auto packets = testing_support::EncodeH264(1280, 960, 3);
    ASSERT_EQ(packets.size(), 3u);
    for (std::size_t i = 0; i < packets.size(); ++i)
        testing_support::Feed(live, kz::kFrameH264, packets[i], i == 0, kLiveWindowId);
    media::SetVideoPassThrough(nullptr);

    EXPECT_EQ(live.DecoderOpenCount(), 0) << "a frame passed through was decoded";
    ASSERT_EQ(viewer.frames.size(), 3u);
    RECT r {};
    ui::GetWindowRect(live.GetHwnd(), &r);
    EXPECT_TRUE(viewer.frames[0].key);
    EXPECT_FALSE(viewer.frames[1].key);
    EXPECT_EQ(viewer.frames[2].width, 1280);
    EXPECT_EQ(viewer.frames[2].height, 960);
    EXPECT_EQ(viewer.frames[2].source, (RECT { 0, 0, 1280, 960 })) << "the whole picture, unzoomed";
    EXPECT_EQ(viewer.frames[2].target, r) << "shown over the whole window";
    EXPECT_EQ(live.PictureSize().cx, 1280) << "the size is still read";
    // On the screen the picture's place is the key colour, the dot over it.
    gfx::Screen& screen = gfx::Screen::Get();
    EXPECT_EQ(screen.PixelAt(r.left + 100, r.top + 100) & gfx::kPassThroughKeyMask, gfx::kPassThroughKey);
    EXPECT_EQ(screen.PixelAt(r.left + (1280 - 37) / 2, r.top + (960 - 37) / 2) & 0xFFFFFF, 0xFF0000u);

    // Without the viewer the frames are decoded and drawn again.
    testing_support::Feed(live, kz::kFrameH264, packets[0], true, kLiveWindowId);
    EXPECT_EQ(live.DecoderOpenCount(), 1);
    EXPECT_NE(screen.PixelAt(r.left + 100, r.top + 100) & gfx::kPassThroughKeyMask, gfx::kPassThroughKey);
}

TEST_F(VideoWindow, TheRecordingDotFollowsTheArmedState)
{
    live.m_recordingArmed = true; // as arming does; without a channel no file is made
    show(live, 1280, 960);
    live.OnTick();
    RECT r {};
    ui::GetWindowRect(live.GetHwnd(), &r);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(r.left + (1280 - 87) / 2, r.top + (960 - 37) / 2) & 0xFFFFFF, 0x00FF00u);
    EXPECT_NE(gfx::Screen::Get().PixelAt(r.left + (1280 - 37) / 2, r.top + (960 - 37) / 2) & 0xFFFFFF, 0xFF0000u) << "no alarm, no red dot";
}

TEST_F(VideoWindow, ThePlaybackStatusTextIsCentredInRed)
{
    ui::ShowWindow(live.GetHwnd(), SW_HIDE);
    ui::ShowWindow(playback.GetHwnd(), SW_SHOW);
    hub.SetActiveWindow(kPlaybackWindowId);
    hub.GetView()->SetClipperWindow(playback.GetHwnd());
    show(playback, 1280, 960, kPlaybackWindowId);
    playback.ShowStatus(kPlaybackStatusPaused, 0);
    playback.OnTick();
    ui::PumpPending();
    EXPECT_EQ(playback.StatusText(), "PAUSE");
    EXPECT_EQ(notify.count(view::kNotifyPlaybackState), 1) << "a value of 0 reports the state";

    RECT r {};
    ui::GetWindowRect(playback.GetHwnd(), &r);
    int left = 10000, right = -1, top = 10000, bottom = -1;
    for (int y = 0; y < ui::Height(r); ++y)
        for (int x = 0; x < ui::Width(r); ++x)
            if ((gfx::Screen::Get().PixelAt(r.left + x, r.top + y) & 0xFFFFFF) == 0xFF0000) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(right, 0) << "no red text";
    // The picture is shown at half size: the text starts at (1280 - 18 x 6) / 2
    // and its top is at 345 of 960.
    EXPECT_NEAR(left, (1280 - 18 * 6) / 2 / 2, 3);
    EXPECT_NEAR(top, 345 / 2, 8);
    EXPECT_LT(bottom, 480 / 2 + 20);
    EXPECT_NEAR((left + right) / 2, 640 / 2, 40) << "about the middle";

    hub.SetLanguage(resources::kLanguageSimplifiedChinese);
    playback.ShowStatus(kPlaybackStatusBuffering, 7);
    EXPECT_EQ(playback.StatusText(), com::WideToMultiByte(u"等待...07%", 936));
    hub.SetLanguage(resources::kLanguageEnglish);
    playback.ShowStatus(kPlaybackStatusBuffering, 123456789);
    EXPECT_EQ(playback.StatusText(), "WAITING...123456789") << "kept within its 20-byte field";
}

TEST_F(VideoWindow, ThePlaybackPictureGoesBlackAfterTwoAndAHalfSecondsUnlessPaused)
{
    ui::ShowWindow(live.GetHwnd(), SW_HIDE);
    ui::ShowWindow(playback.GetHwnd(), SW_SHOW);
    hub.GetView()->SetClipperWindow(playback.GetHwnd());
    show(playback, 1280, 960, kPlaybackWindowId);
    for (int i = 0; i < 99; ++i)
        playback.OnTick();
    EXPECT_TRUE(pictureShown(playback.GetHwnd()));
    playback.OnTick();
    EXPECT_FALSE(pictureShown(playback.GetHwnd()));
    EXPECT_EQ(playback.m_silence, kPlaybackSilenceParked);

    // Paused, the camera sends no frames: the picture stays as long as the
    // pause lasts, and goes black when playing goes on without frames.
    auto packets = testing_support::EncodeH264(1280, 960, 1);
    ASSERT_FALSE(packets.empty());
    testing_support::Feed(playback, kz::kFrameH264, packets[0], true, kPlaybackWindowId);
    playback.ShowStatus(kPlaybackStatusPaused, 5);
    for (int i = 0; i < 400; ++i)
        playback.OnTick();
    EXPECT_TRUE(pictureShown(playback.GetHwnd())) << "a paused picture went black";
    playback.ShowStatus(kPlaybackStatusBuffering, 50);
    for (int i = 0; i < 100; ++i)
        playback.OnTick();
    EXPECT_FALSE(pictureShown(playback.GetHwnd()));
}

// ---- messages from the control ----------------------------------------------------------------

TEST_F(VideoWindow, TheActiveWindowComesBackIntoTheControlAndBlackeningEndsADrag)
{
    live.ToggleFullScreen();
    ui::SendMessage(live.GetHwnd(), kMsgShowActiveWindow, 0, kPlaybackWindowId);
    EXPECT_EQ(ui::GetParent(live.GetHwnd()), nullptr) << "not the active window";
    ui::SendMessage(live.GetHwnd(), kMsgShowActiveWindow, 0, kLiveWindowId);
    EXPECT_EQ(ui::GetParent(live.GetHwnd()), page);
    RECT r {};
    ui::GetWindowRect(live.GetHwnd(), &r);
    EXPECT_EQ(r, (RECT { 2, 2, kWidth, kHeight })) << "two pixels inside the control";

    show(live, 1280, 960);
    mouse(ui::MouseAction::LeftDown, 100, 100);
    ASSERT_TRUE(live.IsDragging());
    ui::SendMessage(live.GetHwnd(), kMsgBlacken, 0, 0);
    EXPECT_FALSE(live.IsDragging());
    EXPECT_EQ(gfx::Screen::Get().PixelAt(r.left + 50, r.top + 50) & 0xFFFFFF, 0u);
}

}

namespace {

// A live window drawing every picture the long way: the packed I420 copy,
// the YUV surface, the back surface, then the composition surface.
struct LongWayLive : CLiveCtrl {
    bool TakesDecodedPicture() const override { return false; }
};

// The window's pixels on the screen.
std::vector<std::uint32_t> screenPixels(HWND window)
{
    RECT r {};
    ui::GetWindowRect(window, &r);
    std::vector<std::uint32_t> pixels;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            pixels.push_back(gfx::Screen::Get().PixelAt(x, y) & 0xFFFFFF);
    return pixels;
}

int worstChannel(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
{
    int worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        for (int shift = 0; shift <= 16; shift += 8)
            worst = std::max(worst, std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF)));
    return a.size() == b.size() ? worst : 256;
}

}

// The live window converts each picture straight from the decoder's planes
// at the size it is shown; the screen must look as the long way makes it:
// letterboxed or stretched, zoomed, with the alarm and recording dots.
TEST_F(VideoWindow, TheShortCutShowsWhatTheLongWayShows)
{
    LongWayLive longWay;
    longWay.Register("ALIVE2");
    longWay.CreateEx(0, "ALIVE2", "ALIVE2", WS_CHILD | WS_CLIPCHILDREN, kLiveRect, page, RGB(0, 0, 0));
    int w = ui::GetSystemMetrics(SM_CXSCREEN), h = ui::GetSystemMetrics(SM_CYSCREEN);
    longWay.Attach(page, w, h, &hub);

    struct Case {
        int width, height;
        bool keepRatio, dots;
        int zoomClicks;
    } cases[] = {
        { 1280, 960, true, false, 0 },  // exactly half size
        { 1280, 720, true, true, 0 },   // letterboxed, both dots
        { 1280, 720, false, true, 0 },  // stretched through the screen-sized composition
        { 704, 576, true, true, 3 },    // enlarged and zoomed
    };
    for (const Case& c : cases) {
        auto packets = testing_support::EncodeH264(c.width, c.height, 1);
        std::vector<std::uint32_t> shown[2];
        CLiveCtrl* windows[2] = { &live, &longWay };
        for (int i = 0; i < 2; ++i) {
            CLiveCtrl& window = *windows[i];
            ui::ShowWindow(windows[1 - i]->GetHwnd(), SW_HIDE);
            ui::ShowWindow(window.GetHwnd(), SW_SHOW);
            hub.GetView()->SetClipperWindow(window.GetHwnd());
            window.m_keepRatio = c.keepRatio;
            window.m_alarmFlag = c.dots;
            window.m_recordingArmed = c.dots;
            testing_support::Feed(window, kz::kFrameH264, packets[0], true, kLiveWindowId);
            for (int z = 0; z < c.zoomClicks; ++z)
                ASSERT_TRUE(window.ZoomIn(200, 150));
            hub.GetView()->ClearComposition(); // what the other window left
            testing_support::Feed(window, kz::kFrameH264, packets[0], true, kLiveWindowId);
            window.OnTick();
            shown[i] = screenPixels(window.GetHwnd());
            window.m_alarmFlag = false;
            window.m_recordingArmed = false;
            while (window.ZoomOut(200, 150)) { }
        }
        // Each way is within the conversion tolerance of the exact colours.
        EXPECT_LE(worstChannel(shown[0], shown[1]), 2 * gfx::kYuvTolerance) << c.width << "x" << c.height << " keep " << c.keepRatio << " dots " << c.dots;
    }
    longWay.DestroyWindow();
}

// A tick with nothing new leaves the screen alone; what else drew over the
// window is painted over again at the next tick. New pictures reach the
// screen as they come, without a tick, exactly as a whole present of the
// composition shows them.
TEST_F(VideoWindow, PresentsSendOnlyWhatChanged)
{
    show(live, 1280, 960);
    live.OnTick();
    const std::vector<std::uint32_t> picture = screenPixels(live.GetHwnd());
    const std::uint64_t generation = gfx::Screen::Get().Generation();
    live.OnTick();
    live.OnTick();
    EXPECT_EQ(gfx::Screen::Get().Generation(), generation) << "nothing changed, nothing presented";

    auto paintOver = [&] {
        HDC dc = gfx::GetDC(live.GetHwnd());
        gfx::HBRUSH white = gfx::CreateSolidBrush(RGB(255, 255, 255));
        RECT corner { 0, 0, 100, 100 };
        gfx::FillRect(dc, &corner, white);
        gfx::ReleaseDC(live.GetHwnd(), dc);
        gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(white));
    };
    paintOver();
    EXPECT_NE(screenPixels(live.GetHwnd()), picture);
    live.OnTick();
    EXPECT_EQ(screenPixels(live.GetHwnd()), picture) << "the next tick shows the picture again";

    // Each new picture, shown at once, is compared with the whole
    // composition presented again after something drew over the window;
    // every other one comes after something drew over the window and its
    // black bars, which it must put right as well.
    auto packets = testing_support::EncodeH264(1280, 720, 6, "baseline", true);
    std::vector<std::uint32_t> last = picture;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (i % 2)
            paintOver();
        testing_support::Feed(live, kz::kFrameH264, packets[i], i == 0, kLiveWindowId);
        const std::vector<std::uint32_t> shown = screenPixels(live.GetHwnd());
        EXPECT_NE(shown, last) << "frame " << i << " reached the screen without a tick";
        paintOver();
        live.OnTick();
        EXPECT_EQ(screenPixels(live.GetHwnd()), shown) << "frame " << i << " as the whole composition shows it";
        last = shown;
    }
}
