// The stream player fed as the network library feeds it: sizes, decoder
// lifetime, drawing to the screen, audio routing and the watchdog.

#include "support/Encoder.h"
#include "support/PageFixture.h"

#include "gfx/DirectDraw.h"
#include "gfx/Screen.h"
#include "gfx/Surface.h"
#include "sys/Thread.h"
#include "view/CPlayView.h"

#include <cstdlib>

namespace {

using testing_support::PageFixture;

class Player : public PageFixture {
protected:
    control::CTiravexCtrl* loggedIn()
    {
        auto* c = makeControl(0);
        c->postLoginStartup();
        return c;
    }
    static void feed(CPlayBase& player, int kind, const std::vector<std::uint8_t>& payload, bool key, int id = 1025)
    {
        FrameRecord frame {};
        frame.frameRate = 25;
        frame.size = static_cast<std::int32_t>(payload.size());
        frame.keyFrame = key ? 1 : 0;
        frame.payload = payload.data();
        CPlayBase::FrameCallback(kind, &frame, &player, id);
    }
};

TEST_F(Player, NothingIsDrawnBeforeTheFirstSizeBearingFrame)
{
    auto* c = loggedIn();
    ASSERT_TRUE(c->m_live.IsViewReady());
    auto packets = testing_support::EncodeH264(320, 240, 3);
    ASSERT_EQ(packets[0][4], 0x67) << "the key frame should start with its parameter set";
    feed(c->m_live, kz::kFrameH264, packets[1], false); // a P frame first
    EXPECT_EQ(c->m_live.DrawnFrames(), 0);
    EXPECT_EQ(c->m_live.GetPictureWidth(), 0u);
    feed(c->m_live, kz::kFrameH264, packets[0], true);
    feed(c->m_live, kz::kFrameH264, packets[1], false);
    EXPECT_EQ(c->m_live.GetPictureWidth(), 320u);
    EXPECT_EQ(c->m_live.DrawnFrames(), 2);
    EXPECT_LT(c->m_live.m_silence, 10) << "frames reset the silence counter";
}

TEST_F(Player, OnlyAFifthByteOf0x67CarriesTheSize)
{
    auto* c = loggedIn();
    auto packets = testing_support::EncodeH264(320, 240, 1);
    std::vector<std::uint8_t> otherHeader = packets[0];
    otherHeader[4] = 0x27; // a parameter set with another NAL header byte
    feed(c->m_live, kz::kFrameH264, otherHeader, true);
    EXPECT_EQ(c->m_live.GetPictureWidth(), 0u);
    std::vector<std::uint8_t> shortStart(packets[0].begin() + 1, packets[0].end()); // 00 00 01 67
    feed(c->m_live, kz::kFrameH264, shortStart, true);
    EXPECT_EQ(c->m_live.GetPictureWidth(), 0u);
}

TEST_F(Player, AResolutionChangeOpensTheDecoderOnce)
{
    auto* c = loggedIn();
    auto small = testing_support::EncodeH264(320, 240, 3);
    auto large = testing_support::EncodeH264(640, 360, 3);
    for (auto& p : small)
        feed(c->m_live, kz::kFrameH264, p, p[4] == 0x67);
    EXPECT_EQ(c->m_live.DecoderOpenCount(), 1);
    for (auto& p : large)
        feed(c->m_live, kz::kFrameH264, p, p[4] == 0x67);
    EXPECT_EQ(c->m_live.DecoderOpenCount(), 2);
    EXPECT_EQ(c->m_live.Decoder().width, 640);
    EXPECT_EQ(c->m_live.Decoder().height, 360);
    EXPECT_EQ(c->m_live.DrawnFrames(), 6);
}

TEST_F(Player, ThePictureReachesTheScreenAtTheLiveWindow)
{
    auto* c = loggedIn();
    ASSERT_EQ(c->m_live.GetRenderPath(), RenderPath::Plain) << "no frame yet";
    auto packets = testing_support::EncodeH264(320, 240, 2);
    for (auto& p : packets)
        feed(c->m_live, kz::kFrameH264, p, p[4] == 0x67);
    EXPECT_EQ(c->m_live.GetRenderPath(), RenderPath::Yuv);
    ASSERT_EQ(c->m_live.OnTick(), S_OK);
    RECT live {};
    ui::GetWindowRect(c->m_live.GetHwnd(), &live);
    // A 320-wide picture keeps its size in the middle of the window: the
    // bright bar of the second frame is 8 pixels right of the picture's left edge.
    RECT display = c->m_live.GetDisplayRect();
    EXPECT_EQ(display.right - display.left, 320);
    std::uint32_t bar = gfx::Screen::Get().PixelAt(live.left + display.left + 8, live.top + display.top + 100);
    std::uint32_t outside = gfx::Screen::Get().PixelAt(live.left + display.left - 20, live.top + display.top + 100);
    EXPECT_GT((bar >> 8) & 0xFF, 180u) << std::hex << bar; // green of the bright bar
    EXPECT_EQ(outside & 0xFFFFFF, 0u) << "outside the picture should be black";
}

TEST_F(Player, APictureOf320IsCentredUnscaledInA640By480Window)
{
    auto* c = loggedIn();
    ui::MoveWindow(c->GetSafeHwnd(), 0, 0, 642, 482, TRUE); // the live window becomes 640 x 480
    auto packets = testing_support::EncodeH264(320, 240, 1);
    feed(c->m_live, kz::kFrameH264, packets[0], true);
    c->m_live.ComputeDisplayRect();
    EXPECT_EQ(c->m_live.GetDisplayRect(), (RECT { 160, 120, 480, 360 }));
}

TEST_F(Player, ATalkStartReplyWithAnErrorDoesNotStartCapture)
{
    auto* c = loggedIn();
    int result = 5;
    CPlayBase::StatusCallback(kz::kStatusTalkStart, &result, &c->m_live, 1025);
    ui::PumpPending();
    EXPECT_FALSE(c->m_live.m_talkCaptureOn);
    ASSERT_EQ(script.calls.size(), 1u);
    EXPECT_EQ(script.calls[0].args, (std::vector<testing_support::Arg> { 206, 5 }));
    result = 0;
    CPlayBase::StatusCallback(kz::kStatusTalkStart, &result, &c->m_live, 1025);
    EXPECT_TRUE(c->m_live.m_talkCaptureOn);
}

TEST_F(Player, TheWatchdogPassesDiskFullToTheNamedPlayer)
{
    auto* c = loggedIn();
    sys::PostThreadMessage(c->m_audio->GetWatchdogThreadId(), 1027, 0, 7);
    ASSERT_TRUE(ui::RunUntil([&] { return c->m_motion.StorageCleanRequests() == 1; }, 5000));
    EXPECT_EQ(c->m_live.StorageCleanRequests(), 0);
    EXPECT_EQ(c->m_shelter.StorageCleanRequests(), 0);
}

TEST_F(Player, OnlyTheActiveWindowsAudioIsPlayed)
{
    std::string path = ::testing::TempDir() + "/player-audio.wav";
    setenv("TIRAVEX_AUDIO_OUT", path.c_str(), 1);
    auto* c = loggedIn();
    unsetenv("TIRAVEX_AUDIO_OUT");
    LoginInfo login {};
    c->m_live.SetLoginRecord(&login);
    c->m_playback.SetLoginRecord(&login);
    std::vector<std::uint8_t> pcm(960, 1);
    c->m_playback.OnAudioData(pcm.data(), pcm.size(), 1026); // not the active window
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(f);
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), 44) << "the playback window's audio was played";
    c->m_live.OnAudioData(pcm.data(), pcm.size(), 1025);
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), 44 + 960);
    c->m_active = 0;
    c->m_live.OnAudioData(pcm.data(), pcm.size(), 1025);
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), 44 + 960) << "an unselected control played audio";
    std::fclose(f);
}

}

namespace {

TEST_F(Player, ALostDisplayThatCannotBeRestoredGetsANewRenderer)
{
    auto* c = loggedIn();
    auto packets = testing_support::EncodeH264(320, 240, 2);
    for (auto& p : packets)
        feed(c->m_live, kz::kFrameH264, p, p[4] == 0x67);
    CPlayView* before = c->m_audio->GetView();
    gfx::DriverRules rules;
    rules.refuseRestore = [](const gfx::Surface& s) { return s.IsPrimary(); };
    gfx::SetDriverRules(rules);
    gfx::LoseAllSurfaces();
    bool rebuilt = ui::RunUntil([&] { return c->m_audio->ViewRebuilds() == 1; }, 5000);
    gfx::ResetDriverRules();
    ASSERT_TRUE(rebuilt) << "the watchdog did not rebuild the renderer";
    CPlayView* after = c->m_audio->GetView();
    EXPECT_NE(after, before);
    EXPECT_EQ(c->m_live.GetView(), after);
    EXPECT_EQ(c->m_playback.GetView(), after) << "the main instance reattaches all four windows";
    EXPECT_TRUE(c->m_live.IsViewReady());
    int drawn = c->m_live.DrawnFrames();
    feed(c->m_live, kz::kFrameH264, packets[0], true);
    EXPECT_EQ(c->m_live.DrawnFrames(), drawn + 1);
    EXPECT_EQ(c->m_live.GetRenderPath(), RenderPath::Yuv);
}

TEST_F(Player, AClickInASecondaryViewSelectsIt)
{
    auto* main = makeControl(0);
    auto* second = control::CTiravexCtrl::Create();
    second->LoadProperties({ { "Self", "1" } });
    second->SetClientSite(site.Get());
    second->CreateControlWindow(page, RECT { 700, 10, 900, 160 });
    controls.push_back(second);
    ASSERT_EQ(second->m_active, 0);
    RECT live {};
    ui::GetWindowRect(second->m_live.GetHwnd(), &live);
    ui::InjectMouse(ui::MouseAction::LeftDown, POINT { live.left + 20, live.top + 20 });
    ui::InjectMouse(ui::MouseAction::LeftUp, POINT { live.left + 20, live.top + 20 });
    ui::PumpPending();
    EXPECT_EQ(second->m_active, 1);
    ASSERT_FALSE(script.calls.empty());
    EXPECT_EQ(script.calls.back().args.at(0), testing_support::Arg(209));
    EXPECT_EQ(script.calls.back().args.at(1), testing_support::Arg(1)) << "Self of the selected view";
    (void)main;
}

}
