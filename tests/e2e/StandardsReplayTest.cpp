// End to end: a page lists the recordings stored on a camera of the
// standards through the relay, plays the first through its replay address
// (GStreamer's RTSP server, which maps the clock range onto the
// recording), pauses, resumes, seeks and sees it end, with the page events
// our camera's playback gives; a start outside the recording is refused
// with the event of a missing recording. The recording's sound is heard.

#include "support/PageFixture.h"
#include "support/Tone.h"

namespace {

constexpr const char* kReplayPage = R"JS(
    var events = [];
    var opened = false;
    var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
    function field(text, name) {
        var at = text.indexOf("<" + name + ">");
        return at < 0 ? "" : text.substring(at + name.length + 2, text.indexOf("</" + name + ">"));
    }
    function PluginCallBack(code, a) {
        if (code >= 203 && code <= 205 || code === 221) events.push(code === 204 ? "204:" + a : String(code));
        if (code === 100 && a === 0 && !opened) {
            opened = true;
            v.LoginSuc();
            v.SetLauguage(2);
            v.Playback();
            v.SendCgiToPlugin("cmd=getRecordList", 8000, 0);
        }
        if (code === 205) setTimeout(function () { console.log(events.join(" ")); host.exit(0); }, 100);
    }
    function PluginCallBackCGI(text, length) {
        console.log("list " + field(text, "result") + " " + field(text, "count") + " " + field(text, "path_0") + " " + field(text, "start_0")
            + " " + field(text, "end_0"));
        v.PlaybackOpen(field(text, "path_0") + suffix);
        v.OpenAudio();
        setTimeout(pause, 1500);
    }
    function pause() { v.PlaybackPause(); setTimeout(function () { host.screenshot("paused.png"); v.PlaybackResume(); setTimeout(seek, 500); }, 700); }
    function seek() { v.PlaybackSeek(3); }
    v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
)JS";

TEST(StandardsReplay, ARecordingFoundOnTheCameraPlaysPausesSeeksAndEndsAsOursDoes)
{
    const std::string sound = ::testing::TempDir() + "/replay-standards-sound.wav";
    std::remove(sound.c_str());
    setenv("TIRAVEX_AUDIO_OUT", sound.c_str(), 1);
    auto run = testing_support::RunPage("onvif,width=640,height=480", std::string("var suffix = '';\n") + kReplayPage, "replay-standards", 30000);
    unsetenv("TIRAVEX_AUDIO_OUT");
    std::string log;
    for (const auto& entry : run.camera->OnvifLog())
        log += entry + "\n";
    ASSERT_EQ(run.exitCode, 0) << log;
    ASSERT_GE(run.console.size(), 2u);
    EXPECT_EQ(run.console[0], "list 0 1 /onvif/recording/recording_1 2026-01-01T00:00:00Z 2026-01-01T00:00:05Z");
    const std::string events = run.console.back();
    // Playing (state 0), the length (3), positions (203), paused and
    // resumed, the seek (state 2), the end (221) and the close (205).
    for (const char* e : { "204:0", "204:3", "203", "204:2", "221", "205" })
        EXPECT_NE(events.find(e), std::string::npos) << e << " in " << events;
    EXPECT_LT(events.find("221"), events.find("205")) << events;
    std::size_t samples = 0;
    EXPECT_NEAR(testing_support::WavFrequency(sound, samples), 440.0, 20.0) << "the recording's tone was heard";
    EXPECT_GT(samples, 8000u) << "less than a second of the recording's sound was played";

    // The page's pause reached the camera as PAUSE, the resume and the seek
    // as PLAY with a new clock range; every request asked for replay.
    std::vector<std::string> requests;
    for (const auto& entry : run.camera->OnvifLog())
        if (entry.rfind("PLAY", 0) == 0 || entry.rfind("PAUSE", 0) == 0)
            requests.push_back(entry);
    // (A fifth would be the client asking again after a stall.)
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0], "PLAY clock=20260101T000000.000Z- onvif-replay");
    EXPECT_EQ(requests[1], "PAUSE onvif-replay");
    EXPECT_EQ(requests[2].substr(0, 25), "PLAY clock=20260101T00000") << "resumed where it paused: " << requests[2];
    EXPECT_EQ(requests[3], "PLAY clock=20260101T000003.000Z- onvif-replay");

    testing_support::Image paused;
    ASSERT_TRUE(paused.read(run.folder + "/paused.png"));
    int left = 10000, right = -1;
    for (int y = 0; y < 482; ++y)
        for (int x = 0; x < 642; ++x)
            if (paused.at(x, y) == 0xFF0000) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(right, 0) << "no \"PAUSE\" over the recording's picture";
    EXPECT_NEAR((left + right) / 2, 321, 40);
}

TEST(StandardsReplay, AStartOutsideTheRecordingIsAMissingRecording)
{
    auto run = testing_support::RunPage("onvif", std::string("var suffix = '/2026-01-01T00:00:09Z';\n") + kReplayPage, "replay-outside", 30000);
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_GE(run.console.size(), 2u);
    const std::string events = run.console.back();
    EXPECT_EQ(events.find("204:0"), std::string::npos) << events;
    EXPECT_NE(events.find("205"), std::string::npos) << events;
    // Refused by the camera (457) before anything played.
    int refused = 0;
    for (const auto& entry : run.camera->OnvifLog())
        refused += entry == "PLAY clock=20260101T000009.000Z- onvif-replay";
    EXPECT_EQ(refused, 0) << "a start outside the recording is known from the search";
}

}
