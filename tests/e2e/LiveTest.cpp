// End to end: a page logs in to the simulated camera, opens the live
// picture, listens and talks, as a user's page does.

#include "support/PageFixture.h"
#include "support/Tone.h"
#include "support/Sanitized.h"

#include <cmath>
#include <fstream>

namespace {

// A page that logs in with stream type `coding`, starts everything, takes
// two screenshots a second apart and prints the camera's talk counts. The
// first is taken when the first frames have had time to arrive and be
// drawn, which under a sanitizer takes longer.
constexpr int kFirstShotMs = testing_support::kSanitized ? 4000 : 1500;

std::string livePage(int coding)
{
    return "var coding = " + std::to_string(coding) + ", firstShot = " + std::to_string(kFirstShotMs) + ";\n" + R"JS(
        function PluginCallBack(code, status) {
            if (code === 100 && status === 0) { v.LoginSuc(); v.Open(""); v.OpenAudio(); v.OpenTalk(); }
        }
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, coding, 1);
        setTimeout(function () { host.screenshot("first.png"); }, firstShot);
        setTimeout(function () {
            host.screenshot("second.png");
            console.log(JSON.stringify(camera.talkBlocks()));
            host.exit(0);
        }, firstShot + 1000);
    )JS";
}

// The live window sits at (1, 1), 640 x 480.
struct Stats {
    long bright = 0;
    long differing = 0;
};

Stats compare(const testing_support::Image& a, const testing_support::Image& b)
{
    Stats s;
    for (int y = 1; y < 481; y += 2)
        for (int x = 1; x < 641; x += 2) {
            if ((a.at(x, y) & 0xFF00) > 0x2000)
                ++s.bright;
            if (a.at(x, y) != b.at(x, y))
                ++s.differing;
        }
    return s;
}

class Live : public ::testing::TestWithParam<const char*> { };

TEST_P(Live, TheMovingPatternIsOnTheScreen)
{
    std::string codec = GetParam();
    auto run = testing_support::RunPage("sim,codec=" + codec, livePage(0), "live-" + codec);
    ASSERT_EQ(run.exitCode, 0);
    testing_support::Image first, second;
    ASSERT_TRUE(first.read(run.folder + "/first.png"));
    ASSERT_TRUE(second.read(run.folder + "/second.png"));
    Stats s = compare(first, second);
    EXPECT_GT(s.bright, 10000) << "the live picture is black";
    EXPECT_GT(s.differing, 1000) << "the picture did not move in a second";
}

INSTANTIATE_TEST_SUITE_P(Codecs, Live, ::testing::Values("h264", "mjpeg"));

// A page that logs in with stream type `coding`, listens and talks until the
// camera has sent a few seconds of sound, then prints the camera's talk
// counts. It waits on the camera rather than the clock, since a loaded
// machine may take seconds to log in and open the sound.
std::string soundPage(int coding)
{
    return "var coding = " + std::to_string(coding) + ";\n" + R"JS(
        function PluginCallBack(code, status) {
            if (code === 100 && status === 0) { v.LoginSuc(); v.Open(""); v.OpenAudio(); v.OpenTalk(); }
        }
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, coding, 1);
        var waited = 0;
        function done() {
            console.log(JSON.stringify(camera.talkBlocks()));
            host.exit(0);
        }
        function listen() {
            waited += 100;
            if (camera.soundMsSent() >= 2500 || waited >= 30000)
                setTimeout(done, 500);
            else
                setTimeout(listen, 100);
        }
        setTimeout(listen, 100);
    )JS";
}

class Sound : public ::testing::TestWithParam<int> { };

TEST_P(Sound, TheCamerasToneIsPlayedAndTheVoiceArrivesInBlocksOfTheCoding)
{
    int coding = GetParam();
    std::string wav = ::testing::TempDir() + "/sound-" + std::to_string(coding) + ".wav";
    std::remove(wav.c_str());
    setenv("TIRAVEX_AUDIO_OUT", wav.c_str(), 1);
    auto run = testing_support::RunPage("sim,audio=" + std::to_string(coding), soundPage(coding), "sound-" + std::to_string(coding));
    unsetenv("TIRAVEX_AUDIO_OUT");
    ASSERT_EQ(run.exitCode, 0);
    std::size_t samples = 0;
    double frequency = testing_support::WavFrequency(wav, samples);
    EXPECT_GT(samples, 8000u) << "less than a second of sound was played";
    EXPECT_NEAR(frequency, 440.0, 15.0);
    const int sizes[] = { 960, 120, 160 };
    auto blocks = run.camera->TalkBlocks();
    ASSERT_EQ(blocks.size(), 1u) << run.console.back();
    EXPECT_EQ(blocks.begin()->first, sizes[coding]);
    EXPECT_GT(blocks.begin()->second, 10);
}

INSTANTIATE_TEST_SUITE_P(Codings, Sound, ::testing::Values(0, 1, 2));

// A G.726 camera in raw-audio mode (its device record says 4) sends its sound
// already decoded: it is played as it comes, not decoded again.
TEST(Sound, AG726CameraInRawModeIsPlayedAsItsPcm)
{
    std::string wav = ::testing::TempDir() + "/sound-raw.wav";
    std::remove(wav.c_str());
    setenv("TIRAVEX_AUDIO_OUT", wav.c_str(), 1);
    auto run = testing_support::RunPage("sim,audio=1,streammode=4", soundPage(1), "sound-raw");
    unsetenv("TIRAVEX_AUDIO_OUT");
    ASSERT_EQ(run.exitCode, 0);
    std::size_t samples = 0;
    double frequency = testing_support::WavFrequency(wav, samples);
    EXPECT_GT(samples, 8000u) << "less than a second of sound was played";
    EXPECT_NEAR(frequency, 440.0, 15.0);
}

// A microphone that cannot deliver stops talk: the camera is told (its
// talk-stop status comes back as event 207), the page hears of the failure
// (event 300) and no voice was sent. A lost link is reported as event 217.
TEST(Talk, AFailingMicrophoneStopsTalkAndALostLinkIsReported)
{
    setenv("TIRAVEX_AUDIO_IN", (::testing::TempDir() + "/no-such-microphone.wav").c_str(), 1);
    auto run = testing_support::RunPage("sim", R"JS(
        var events = [];
        function PluginCallBack(code, a) {
            if (code === 207 || code === 217 || code === 300) events.push(code + (code === 217 || code === 300 ? "" : ":" + a));
            if (code === 100 && a === 0) {
                v.LoginSuc(); v.Open(""); v.OpenTalk();
                setTimeout(function () { camera.dropLink(); }, 1500);
                setTimeout(function () { console.log(events.join(" ") + " " + JSON.stringify(camera.talkBlocks())); host.exit(0); }, 2500);
            }
        }
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
    )JS", "talk-failing-microphone");
    unsetenv("TIRAVEX_AUDIO_IN");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.console.empty());
    // 300 is posted on the page's thread, 207 comes back from the camera:
    // either may come first; the lost link comes after both.
    const std::string& said = run.console.back();
    EXPECT_TRUE(said == "300 207:0 217 {}" || said == "207:0 300 217 {}") << said;
}

}
