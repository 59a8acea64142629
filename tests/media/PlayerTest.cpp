// The stream players and the media hub without a control: players attached
// to a hub in a page window, fed as the network library feeds them: sizes,
// decoder lifetime, drawing to the screen, audio routing, notifications and
// the watchdog.

#include "support/Encoder.h"
#include "support/Players.h"

#include "editors/CMotion.h"
#include "editors/CShelter.h"
#include "gfx/DirectDraw.h"
#include "gfx/Screen.h"
#include "gfx/Surface.h"
#include "media/CMediaHub.h"
#include "media/FrameProbe.h"
#include "media/Notifications.h"
#include "ui/Input.h"
#include "ui/Monitor.h"
#include "view/CLiveCtrl.h"
#include "view/CPbCtrl.h"
#include "view/CPlayView.h"
#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <vector>

namespace {

// The control's side of the hub, as a test sets it.
struct TestOwner : CMediaHub::Owner {
    std::atomic<bool> selected { true };
    bool main = true;
    bool IsSelected() const override { return selected; }
    bool IsMainInstance() const override { return main; }
};

// The window the players notify: keeps what was posted to it.
class Player : public ::testing::Test {
protected:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;

    void SetUp() override
    {
        ui::ResetInput();
        ui::SetMonitorSizes({});
        page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr, &notify);
        RECT rect { 1, 1, 1 + kWidth, 1 + kHeight };
        live.Register("ALIVE");
        live.CreateEx(0, "ALIVE", "ALIVE", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect, page, RGB(0, 0, 0));
        playback.CreateEx(0, "static", "PLAYBACK", WS_CHILD, rect, page, RGB(0, 0, 0));
        motion.CreateEx(0, "static", "MOTION", WS_CHILD, rect, page, RGB(0, 0, 0));
        shelter.CreateEx(0, "static", "SHELTER", WS_CHILD, rect, page, RGB(0, 0, 0));
        int w = ui::GetSystemMetrics(SM_CXSCREEN), h = ui::GetSystemMetrics(SM_CYSCREEN);
        hub.AttachControlWindow(page, w, h);
        for (CPlayBase* p : { static_cast<CPlayBase*>(&live), static_cast<CPlayBase*>(&playback), static_cast<CPlayBase*>(&motion), static_cast<CPlayBase*>(&shelter) })
            p->Attach(page, w, h, &hub);
        hub.SetActiveWindow(kLiveWindowId);
        hub.GetView()->SetClipperWindow(live.GetHwnd());
        // The play device writes what is played to a file of the test's.
        soundFile = ::testing::TempDir() + "/player-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav";
        std::remove(soundFile.c_str());
        setenv("TIRAVEX_AUDIO_OUT", soundFile.c_str(), 1);
        hub.HubStart(&owner, false);
        unsetenv("TIRAVEX_AUDIO_OUT");
    }

    void TearDown() override
    {
        hub.HubStop();
        for (CNPWnd* w : { static_cast<CNPWnd*>(&live), static_cast<CNPWnd*>(&playback), static_cast<CNPWnd*>(&motion), static_cast<CNPWnd*>(&shelter) })
            w->DestroyWindow();
        ui::DestroyWindow(page);
        ui::PumpPending();
    }

    static void feed(CPlayBase& player, int kind, const std::vector<std::uint8_t>& payload, bool key, int id = kLiveWindowId)
    {
        testing_support::Feed(player, kind, payload, key, id);
    }

    // The display is lost and its primary surface cannot be restored: true
    // once the watchdog has made a new renderer.
    bool loseTheDisplay()
    {
        gfx::DriverRules rules;
        rules.refuseRestore = [](const gfx::Surface& s) { return s.IsPrimary(); };
        gfx::SetDriverRules(rules);
        gfx::LoseAllSurfaces();
        bool rebuilt = ui::RunUntil([&] { return hub.ViewRebuilds() == 1; }, 5000);
        gfx::ResetDriverRules();
        return rebuilt;
    }

    TestOwner owner;
    testing_support::NotifyWindow notify;
    std::string soundFile;
    HWND page = nullptr;
    CMediaHub hub { &CPlayView::Make }; // before the players: they go first
    CLiveCtrl live;
    CPbCtrl playback;
    CMotion motion;
    CShelter shelter;
};

// What the benches' frame probe was told about one player.
namespace probed {
std::mutex mutex;
std::vector<media::ProbePoint> points;
std::vector<std::thread::id> threads; // the thread each point was told on
// Read by the probe on the watchdog's and the frame threads.
std::atomic<const void*> player { nullptr };
void Record(media::ProbePoint point, const void* p)
{
    if (p != player)
        return;
    std::lock_guard lock(mutex);
    points.push_back(point);
    threads.push_back(std::this_thread::get_id());
}
std::vector<media::ProbePoint> Points()
{
    std::lock_guard lock(mutex);
    return points;
}
// The points told on thread `id`, in order.
std::vector<media::ProbePoint> PointsOn(std::thread::id id)
{
    std::lock_guard lock(mutex);
    std::vector<media::ProbePoint> on;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (threads[i] == id)
            on.push_back(points[i]);
    return on;
}
}

TEST_F(Player, TheFrameProbeHearsEachArrivalACompositionOnlyForADrawnFrameAndThePresentRightAfterIt)
{
    using media::ProbePoint;
    auto packets = testing_support::EncodeH264(320, 240, 2);
    probed::player = static_cast<const CPlayBase*>(&live);
    media::SetFrameProbe(&probed::Record);
    feed(live, kz::kFrameH264, packets[1], false); // no size yet: not drawn
    feed(live, kz::kFrameH264, packets[0], true);
    ASSERT_EQ(live.DrawnFrames(), 1);
    // The composed frame went to the screen on its own thread, before its
    // callback returned: no waiting for the watchdog's tick.
    EXPECT_EQ(probed::PointsOn(std::this_thread::get_id()),
        (std::vector<ProbePoint> { ProbePoint::FrameArrived, ProbePoint::FrameArrived, ProbePoint::FrameComposed, ProbePoint::Presented }));
    ASSERT_EQ(live.OnTick(), S_OK);
    media::SetFrameProbe(nullptr);
    auto points = probed::Points();
    // The watchdog presents too, at its own times: its presents may come anywhere.
    std::vector<ProbePoint> frames;
    std::copy_if(points.begin(), points.end(), std::back_inserter(frames), [](ProbePoint p) { return p != ProbePoint::Presented; });
    EXPECT_EQ(frames, (std::vector<ProbePoint> { ProbePoint::FrameArrived, ProbePoint::FrameArrived, ProbePoint::FrameComposed }));
    auto composed = std::find(points.begin(), points.end(), ProbePoint::FrameComposed);
    EXPECT_NE(std::find(composed, points.end(), ProbePoint::Presented), points.end()) << "no present after the composition";

    feed(live, kz::kFrameH264, packets[1], false);
    live.OnTick();
    EXPECT_EQ(probed::Points().size(), points.size()) << "the probe was told after it was unset";
    probed::player = nullptr;
}

TEST_F(Player, NothingIsDrawnBeforeTheFirstSizeBearingFrame)
{
    ASSERT_TRUE(live.IsViewReady());
    auto packets = testing_support::EncodeH264(320, 240, 3);
    ASSERT_EQ(packets[0][4], 0x67) << "the key frame should start with its parameter set";
    feed(live, kz::kFrameH264, packets[1], false); // a P frame first
    EXPECT_EQ(live.DrawnFrames(), 0);
    EXPECT_EQ(live.GetPictureWidth(), 0u);
    feed(live, kz::kFrameH264, packets[0], true);
    feed(live, kz::kFrameH264, packets[1], false);
    EXPECT_EQ(live.GetPictureWidth(), 320u);
    EXPECT_EQ(live.DrawnFrames(), 2);
    EXPECT_LT(live.m_silence, 10) << "frames reset the silence counter";
}

TEST_F(Player, OnlyAFifthByteOf0x67CarriesTheSize)
{
    auto packets = testing_support::EncodeH264(320, 240, 1);
    std::vector<std::uint8_t> otherHeader = packets[0];
    otherHeader[4] = 0x27; // a parameter set with another NAL header byte
    feed(live, kz::kFrameH264, otherHeader, true);
    EXPECT_EQ(live.GetPictureWidth(), 0u);
    std::vector<std::uint8_t> shortStart(packets[0].begin() + 1, packets[0].end()); // 00 00 01 67
    feed(live, kz::kFrameH264, shortStart, true);
    EXPECT_EQ(live.GetPictureWidth(), 0u);
}

TEST_F(Player, AResolutionChangeOpensTheDecoderOnce)
{
    auto small = testing_support::EncodeH264(320, 240, 3);
    auto large = testing_support::EncodeH264(640, 360, 3);
    for (auto& p : small)
        feed(live, kz::kFrameH264, p, p[4] == 0x67);
    EXPECT_EQ(live.DecoderOpenCount(), 1);
    for (auto& p : large)
        feed(live, kz::kFrameH264, p, p[4] == 0x67);
    EXPECT_EQ(live.DecoderOpenCount(), 2);
    EXPECT_EQ(live.Decoder().width, 640);
    EXPECT_EQ(live.Decoder().height, 360);
    EXPECT_EQ(live.DrawnFrames(), 6);
}

TEST_F(Player, ThePictureReachesTheScreenAtTheLiveWindow)
{
    ASSERT_EQ(live.GetRenderPath(), RenderPath::Plain) << "no frame yet";
    auto packets = testing_support::EncodeH264(320, 240, 2);
    for (auto& p : packets)
        feed(live, kz::kFrameH264, p, p[4] == 0x67);
    EXPECT_EQ(live.GetRenderPath(), RenderPath::Yuv);
    ASSERT_EQ(live.OnTick(), S_OK);
    RECT window {};
    ui::GetWindowRect(live.GetHwnd(), &window);
    // A 320-wide picture keeps its size in the middle of the window: the
    // bright bar of the second frame is 8 pixels right of the picture's left edge.
    RECT display = live.GetDisplayRect();
    EXPECT_EQ(display.right - display.left, 320);
    std::uint32_t bar = gfx::Screen::Get().PixelAt(window.left + display.left + 8, window.top + display.top + 100);
    std::uint32_t outside = gfx::Screen::Get().PixelAt(window.left + display.left - 20, window.top + display.top + 100);
    EXPECT_GT((bar >> 8) & 0xFF, 180u) << std::hex << bar; // green of the bright bar
    EXPECT_EQ(outside & 0xFFFFFF, 0u) << "outside the picture should be black";
}

TEST_F(Player, APictureOf320IsCentredUnscaledInA640By480Window)
{
    auto packets = testing_support::EncodeH264(320, 240, 1);
    feed(live, kz::kFrameH264, packets[0], true);
    live.ComputeDisplayRect();
    EXPECT_EQ(live.GetDisplayRect(), (RECT { 160, 120, 480, 360 }));
}

TEST_F(Player, TalkRepliesAreNotifiedAndOnlyASuccessfulOneStartsCapture)
{
    int result = 5;
    CPlayBase::StatusCallback(kz::kStatusTalkStart, &result, &live, kLiveWindowId);
    ui::PumpPending();
    EXPECT_FALSE(live.m_talkCaptureOn);
    ASSERT_EQ(notify.posted.size(), 1u);
    EXPECT_EQ(notify.posted[0].message, media::kNotifyTalkStarted);
    EXPECT_EQ(notify.posted[0].wParam, 5u);
    result = 0;
    CPlayBase::StatusCallback(kz::kStatusTalkStart, &result, &live, kLiveWindowId);
    EXPECT_TRUE(live.m_talkCaptureOn);
}

TEST_F(Player, TheWatchdogPassesDiskFullToTheNamedPlayer)
{
    ASSERT_TRUE(hub.Request(kMotionWindowId, CMediaHub::WatchdogRequest::DiskFull));
    ASSERT_TRUE(ui::RunUntil([&] { return motion.StorageCleanRequests() == 1; }, 5000));
    EXPECT_EQ(live.StorageCleanRequests(), 0);
    EXPECT_EQ(shelter.StorageCleanRequests(), 0);
}

TEST_F(Player, OnlyTheActiveWindowsAudioIsPlayed)
{
    LoginInfo login {};
    live.SetLoginRecord(&login);
    playback.SetLoginRecord(&login);
    std::vector<std::uint8_t> pcm(960, 1);
    playback.OnAudioData(pcm.data(), pcm.size(), kPlaybackWindowId); // not the active window
    std::FILE* f = std::fopen(soundFile.c_str(), "rb");
    ASSERT_TRUE(f);
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), 44) << "the playback window's audio was played";
    live.OnAudioData(pcm.data(), pcm.size(), kLiveWindowId);
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), 44 + 960);
    owner.selected = false;
    live.OnAudioData(pcm.data(), pcm.size(), kLiveWindowId);
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), 44 + 960) << "an unselected control played audio";
    std::fclose(f);
}

// ---- playback ----------------------------------------------------------------------------------

TEST_F(Player, TheRecordingsSoundIsPlayedUnchangedOnlyWhileOnAndActive)
{
    LoginInfo login {};
    login.streamType = kz::kAudioG726; // the live sound's coding says nothing of a recording's
    playback.SetLoginRecord(&login);
    hub.SetActiveWindow(kPlaybackWindowId);
    std::vector<std::uint8_t> pcm(640);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::uint8_t>(i * 7);
    FrameRecord frame {};
    frame.size = static_cast<std::int32_t>(pcm.size());
    frame.payload = pcm.data();
    auto played = [&] {
        std::FILE* f = std::fopen(soundFile.c_str(), "rb");
        std::vector<std::uint8_t> bytes;
        if (f) {
            std::fseek(f, 44, SEEK_SET);
            int c;
            while ((c = std::fgetc(f)) != EOF)
                bytes.push_back(static_cast<std::uint8_t>(c));
            std::fclose(f);
        }
        return bytes;
    };
    CPlayBase::FrameCallback(kz::kFrameAudio, &frame, &playback, kPlaybackWindowId);
    EXPECT_EQ(played(), pcm) << "the recording's PCM, not decoded";
    playback.StopAudio();
    CPlayBase::FrameCallback(kz::kFrameAudio, &frame, &playback, kPlaybackWindowId);
    EXPECT_EQ(played().size(), pcm.size()) << "playback audio off: nothing";
    playback.StartAudio();
    hub.SetActiveWindow(kLiveWindowId);
    CPlayBase::FrameCallback(kz::kFrameAudio, &frame, &playback, kPlaybackWindowId);
    EXPECT_EQ(played().size(), pcm.size()) << "window 1026 not active: nothing";
    EXPECT_EQ(playback.RecordFileName(), "") << "nothing recorded";
}

TEST_F(Player, PlaybackEventsBecomeTheControlsMessages)
{
    auto event = [&](int code, int value) {
        notify.posted.clear();
        CPlayBase::StatusCallback(kz::kStatusPlayback, &code, &playback, value);
        ui::PumpPending();
        return notify.posted;
    };
    struct Expected {
        int code, value;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    for (Expected e : { Expected { 27, 0, 1230, 0, 0 }, Expected { 28, 12, 1230, 1, 12 }, Expected { 29, 40, 1230, 2, 40 }, Expected { 30, 300, 1230, 3, 300 }, Expected { 31, 7, 1229, 0, 7 } }) {
        auto posted = event(e.code, e.value);
        ASSERT_EQ(posted.size(), 1u) << e.code;
        EXPECT_EQ(posted[0].message, e.message) << e.code;
        EXPECT_EQ(posted[0].wParam, e.wParam) << e.code;
        EXPECT_EQ(posted[0].lParam, e.lParam) << e.code;
    }
    EXPECT_TRUE(event(99, 1).empty()) << "other codes: nothing";

    auto buffering = event(26, 0);
    ASSERT_EQ(buffering.size(), 1u);
    EXPECT_EQ(buffering[0].message, 1230u) << "buffering from 0 reports state 0";
    EXPECT_EQ(buffering[0].wParam, 0u);
    EXPECT_FALSE(playback.StatusText().empty()) << "and draws the progress text";
    EXPECT_TRUE(event(26, 50).empty()) << "a later percentage only draws";

    // The end: the control is told, and the watchdog closes the channel,
    // which tells the control the playback stopped.
    auto end = event(33, 300);
    ASSERT_GE(end.size(), 1u);
    EXPECT_EQ(end[0].message, 1228u);
    EXPECT_EQ(end[0].lParam, 300);
    ASSERT_TRUE(ui::RunUntil([&] { return std::any_of(notify.posted.begin(), notify.posted.end(), [](const MSG& m) { return m.message == 1227; }); }, 5000));
}

TEST_F(Player, ALostDisplayThatCannotBeRestoredGetsANewRenderer)
{
    auto packets = testing_support::EncodeH264(320, 240, 2);
    for (auto& p : packets)
        feed(live, kz::kFrameH264, p, p[4] == 0x67);
    media::Renderer* before = hub.GetView();
    bool rebuilt = loseTheDisplay();
    ASSERT_TRUE(rebuilt) << "the watchdog did not rebuild the renderer";
    media::Renderer* after = hub.GetView();
    EXPECT_NE(after, before);
    EXPECT_EQ(live.GetView(), after);
    EXPECT_EQ(playback.GetView(), after) << "the main instance reattaches all four windows";
    EXPECT_TRUE(live.IsViewReady());
    int drawn = live.DrawnFrames();
    feed(live, kz::kFrameH264, packets[0], true);
    EXPECT_EQ(live.DrawnFrames(), drawn + 1);
    EXPECT_EQ(live.GetRenderPath(), RenderPath::Yuv);
}

TEST_F(Player, ASecondaryInstanceRebuildsTheLiveWindowAlone)
{
    owner.main = false;
    media::Renderer* before = hub.GetView();
    bool rebuilt = loseTheDisplay();
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(live.GetView(), hub.GetView());
    EXPECT_EQ(playback.GetView(), nullptr) << "only the live window is reattached";
    EXPECT_NE(hub.GetView(), before);
}

}

// ---- hostile cameras ---------------------------------------------------------------------------

namespace {

// Bits of an H.264 sequence parameter set, Exp-Golomb coded.
struct BitWriter {
    std::vector<std::uint8_t> bytes;
    int used = 8;
    void bit(int b)
    {
        if (used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        if (b)
            bytes.back() |= static_cast<std::uint8_t>(0x80 >> used);
        ++used;
    }
    void bits(unsigned value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            bit((value >> i) & 1);
    }
    void ue(unsigned value)
    {
        unsigned v = value + 1;
        int length = 0;
        while ((v >> length) > 1)
            ++length;
        bits(0, length);
        bits(v, length + 1);
    }
};

// A frame of nothing but a start code and a sequence parameter set that
// claims `width` x `height` (multiples of 16): about 25 bytes.
std::vector<std::uint8_t> sizeClaim(unsigned width, unsigned height)
{
    constexpr unsigned kBaseline = 66, kLevel = 30, kPocType = 2;
    BitWriter w;
    w.bits(kBaseline, 8);
    w.bits(0, 8); // constraints
    w.bits(kLevel, 8);
    w.ue(0); // parameter set id
    w.ue(0); // frame number bits - 4
    w.ue(kPocType);
    w.ue(1); // reference frames
    w.bit(0);
    w.ue(width / 16 - 1);
    w.ue(height / 16 - 1);
    w.bit(1); // frames only
    w.bit(1);
    w.bit(0); // no cropping
    w.bit(0); // no VUI
    w.bit(1); // stop bit
    constexpr std::uint8_t kHeader[] = { 0, 0, 0, 1, 0x67 };
    constexpr std::size_t kFrameBytes = 25;
    std::vector<std::uint8_t> frame(std::max(kFrameBytes, sizeof kHeader + w.bytes.size()), 0xFF);
    std::copy(std::begin(kHeader), std::end(kHeader), frame.begin());
    std::copy(w.bytes.begin(), w.bytes.end(), frame.begin() + sizeof kHeader);
    return frame;
}

}

TEST_F(Player, SizeClaimsPastTheCapAreRefusedBeforeAnythingIsMade)
{
    const auto huge = sizeClaim(16000, 16000);
    EXPECT_LE(huge.size(), 25u);
    std::uint32_t w = 0, h = 0;
    ASSERT_TRUE(media::ProbeH264Size(huge.data() + 5, huge.size() - 5, w, h));
    ASSERT_EQ(w, 16000u) << "the claim is what a probe reads";

    testing_support::Feed(live, kz::kFrameH264, huge, true, kLiveWindowId);
    testing_support::Feed(live, kz::kFrameH264, sizeClaim(4112, 16), true, kLiveWindowId);
    EXPECT_EQ(live.GetPictureWidth(), 0u);
    EXPECT_EQ(live.DecoderOpenCount(), 0) << "no decoder for a refused size";

    // A real picture, then the claims again: the picture's size stands.
    auto packets = testing_support::EncodeH264(64, 48, 1);
    testing_support::Feed(live, kz::kFrameH264, packets[0], true, kLiveWindowId);
    ASSERT_EQ(live.DrawnFrames(), 1);
    testing_support::Feed(live, kz::kFrameH264, huge, true, kLiveWindowId);
    EXPECT_EQ(live.GetPictureWidth(), 64u);
    EXPECT_EQ(live.DecoderOpenCount(), 1);

    // At the cap a size is taken; the decoder makes its buffers only for what decodes.
    testing_support::Feed(live, kz::kFrameH264, sizeClaim(media::kMaxPictureSide, 16), true, kLiveWindowId);
    EXPECT_EQ(live.GetPictureWidth(), media::kMaxPictureSide);
    EXPECT_EQ(live.Decoder().outputBuffer, nullptr);
    EXPECT_LT(media::DecoderInputBytes(live.Decoder()), 1024u);
}

// A frame is still on its way through the network library's thread when
// the page closes the stream; the library stops waiting for it after a
// while and the close goes on. The close must wait for a frame being
// decoded, and a frame that gets there after the close must not decode,
// draw or open a decoder again.
namespace {
std::atomic<bool> g_holdFrames { false };
std::atomic<int> g_framesHeld { 0 };
void holdArrivingFrames(media::ProbePoint point, const void*)
{
    if (point == media::ProbePoint::FrameArrived && g_holdFrames) {
        ++g_framesHeld;
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
}
}

TEST_F(Player, AFrameStillInFlightAtTheCloseIsNeitherDecodedNorDrawn)
{
    sim::CameraConfig config;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    // Every frame a key frame with its size, as a frame after a close would need.
    const auto key = testing_support::EncodeH264(1920, 1080, 1, "baseline", true).front();
    std::vector<sim::EncodedFrame> frames(3, sim::EncodedFrame { key, true });
    frames.push_back(sim::EncodedFrame { sizeClaim(16000, 16000), false });
    camera->SetPreEncoded(frames, sim::Codec::H264, 1920, 1080, 50, true);

    LoginInfo login {};
    std::strncpy(login.ip, "127.0.0.1", sizeof login.ip - 1);
    login.port = camera->Port();
    std::strncpy(login.username, camera->User().c_str(), sizeof login.username - 1);
    std::strncpy(login.passwd, camera->Password().c_str(), sizeof login.passwd - 1);
    live.SetOpenParam(kz::kConnectMedia);
    media::SetFrameProbe(&holdArrivingFrames);
    for (int round = 0; round < 2; ++round) {
        const int before = live.DrawnFrames();
        live.OpenStream("127.0.0.1", &login);
        ASSERT_TRUE(ui::RunUntil([&] { return live.DrawnFrames() > before; }, 10000)) << "round " << round;
        // The next frame is held on the library's thread past the close.
        g_framesHeld = 0;
        g_holdFrames = true;
        ASSERT_TRUE(ui::RunUntil([&] { return g_framesHeld > 0; }, 5000));
        const auto start = std::chrono::steady_clock::now();
        live.CloseStream();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500)) << "round " << round;
        const int drawn = live.DrawnFrames();
        g_holdFrames = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(800)); // the held frame goes on
        EXPECT_EQ(live.DrawnFrames(), drawn) << "a frame was drawn after the close";
        EXPECT_EQ(live.Decoder().context, nullptr) << "a decoder was opened after the close";
    }
    media::SetFrameProbe(nullptr);
}
