// End to end: a page plays a recording stored on the simulated camera with
// its sound, pauses it (the red "PAUSE" in the middle of the picture),
// resumes, goes full screen by a double click and back with Escape, seeks,
// and the playback ends with its events.

#include "support/PageFixture.h"
#include "support/Tone.h"

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

constexpr const char* kPage = R"JS(
    var events = [];
    var opened = false;
    var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
    function PluginCallBack(code, a) {
        if (code >= 203 && code <= 205 || code === 221) events.push(code === 204 ? "204:" + a : String(code));
        if (code === 100 && a === 0 && !opened) {
            opened = true;
            v.LoginSuc();
            v.SetLauguage(2);
            v.Playback();
            v.PlaybackOpen("/record/clip1.avi");
            v.OpenAudio();
            setTimeout(pause, 1500);
        }
        if (code === 205) setTimeout(function () { console.log(events.join(" ")); host.exit(0); }, 100);
    }
    function PluginCallBackCGI(text, length) { }
    function pause() { v.PlaybackPause(); setTimeout(shot, 700); }
    function shot() { host.screenshot("paused.png"); v.PlaybackResume(); setTimeout(full, 300); }
    function full() {
        host.mouse("down", 300, 200); host.mouse("up", 300, 200); host.mouse("down", 300, 200); host.mouse("up", 300, 200);
        setTimeout(function () { host.screenshot("full.png"); host.key("down", "Escape"); host.key("up", "Escape"); setTimeout(back, 300); }, 400);
    }
    function back() { host.screenshot("back.png"); setTimeout(seek, 100); }
    function seek() { v.PlaybackSeek(3); }
    v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
)JS";

TEST(Playback, ARecordingPlaysWithItsSoundPausesResumesSeeksAndEnds)
{
    const std::string sound = ::testing::TempDir() + "/playback-sound.wav";
    std::remove(sound.c_str());
    setenv("TIRAVEX_AUDIO_OUT", sound.c_str(), 1);
    auto run = testing_support::RunPage("sim", kPage, "playback");
    unsetenv("TIRAVEX_AUDIO_OUT");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.console.empty());
    const std::string events = run.console.back();
    // Playing (state 0), the length (3), positions (203), paused and
    // resumed, the seek (state 2), the end (221) and the close (205).
    for (const char* e : { "204:0", "204:3", "203", "204:2", "221", "205" })
        EXPECT_NE(events.find(e), std::string::npos) << e << " in " << events;
    EXPECT_LT(events.find("221"), events.find("205")) << events;
    std::size_t samples = 0;
    EXPECT_NEAR(testing_support::WavFrequency(sound, samples), 440.0, 20.0) << "the recording's tone was heard";

    testing_support::Image paused;
    ASSERT_TRUE(paused.read(run.folder + "/paused.png"));
    int left = 10000, right = -1, top = 10000, bottom = -1;
    for (int y = 0; y < 482; ++y)
        for (int x = 0; x < 642; ++x)
            if (paused.at(x, y) == 0xFF0000) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(right, 0) << "no red text";
    EXPECT_NEAR((left + right) / 2, 321, 40) << "\"PAUSE\" in the middle";
    EXPECT_NEAR((top + bottom) / 2, 241, 50);
    EXPECT_LT(right - left, 200) << "one short word";

    // A double click covered the monitor: the page around the control gave
    // way to the window, with the picture in the middle; Escape brought the
    // page back as it was.
    testing_support::Image full, back;
    ASSERT_TRUE(full.read(run.folder + "/full.png"));
    ASSERT_TRUE(back.read(run.folder + "/back.png"));
    int pageShowing = 0, same = 0, all = 0;
    for (int y = 500; y < 1080; y += 9)
        for (int x = 660; x < 1920; x += 9, ++all) {
            const bool inPicture = std::abs(x - 960) < 260 && std::abs(y - 540) < 200; // may match by chance
            pageShowing += !inPicture && full.at(x, y) == paused.at(x, y);
            same += back.at(x, y) == paused.at(x, y);
        }
    EXPECT_EQ(pageShowing, 0) << "the page still shows beside the window";
    const std::uint32_t middle = full.at(960, 540);
    EXPECT_GT(0.299 * ((middle >> 16) & 0xFF) + 0.587 * ((middle >> 8) & 0xFF) + 0.114 * (middle & 0xFF), 10) << "the picture in the monitor's middle";
    EXPECT_EQ(same, all) << "the page around the control is as it was";
}

}
