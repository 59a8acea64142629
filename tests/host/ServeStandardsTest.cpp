// tiravex-serve with the simulated camera of the standards (ONVIF and
// RTSP, its media served by GStreamer's RTSP server): the project's own
// viewer page, unchanged, shows its moving picture in headless Chromium,
// opens its snapshot and reports its alarms; the playback page lists and
// plays its recordings; a page hears its tone and talks to its back
// channel.

#include "support/Browser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using testing_support::CdpPage;
using testing_support::Chromium;
using testing_support::Json;
using testing_support::ServeProcess;

constexpr int kLoginMs = 15000;
constexpr int kPictureMs = 10000;

class StandardCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (testing_support::ChromiumProgram().empty())
            GTEST_SKIP() << "no Chromium";
        ASSERT_TRUE(server.Start(root(), "onvif"));
        ASSERT_TRUE(browser.Start()) << "Chromium did not start";
    }
    void TearDown() override
    {
        browser.Stop();
        EXPECT_EQ(server.Stop(), 0) << "tiravex-serve did not end cleanly";
    }
    virtual std::string root() const = 0;
    // The tests' measures of the picture, put into the page.
    void probe(CdpPage& page)
    {
        std::ifstream file(std::string(TIRAVEX_TEST_WEB) + "/probe.js");
        std::stringstream text;
        text << file.rdbuf();
        ASSERT_FALSE(page.Eval(text.str() + "\n; true").is_null());
    }

    ServeProcess server;
    Chromium browser;
};

class StandardViewer : public StandardCamera {
    std::string root() const override { return TIRAVEX_PAGES_WEB; }
};

class StandardSound : public StandardCamera {
    std::string root() const override { return TIRAVEX_TEST_WEB; }
};

}

TEST_F(StandardViewer, TheViewerPageLogsInShowsTheMovingPictureOpensASnapshotAndReportsTheCamerasAlarm)
{
    CdpPage page;
    ASSERT_TRUE(browser.Open(server.Url() + "viewer.html?connect=1", page));
    ASSERT_TRUE(page.WaitFor("location.pathname == '/viewer.html' && document.readyState == 'complete'", kLoginMs));
    probe(page);
    const bool shown = page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs);
    page.Screenshot(::testing::TempDir() + "/standard-viewer.png");
    ASSERT_TRUE(shown) << page.Eval("document.getElementById('status').textContent") << page.Eval("document.getElementById('events').value");
    page.Eval("window.before = samples('IPCam'), 1");
    EXPECT_TRUE(page.WaitFor("changedSamples('IPCam', window.before) > 500", kPictureMs)) << "the picture does not move";
    EXPECT_FALSE(page.Eval("/status|refused|cannot/i.test(document.getElementById('status').textContent)").get<bool>())
        << page.Eval("document.getElementById('status').textContent");

    // The page's Snapshot button: the camera's picture opens in a window of its own.
    const std::string windows = "document.querySelectorAll('.tiravex-window')";
    page.Eval("document.querySelector('input[value=Snapshot]').click(), 1");
    EXPECT_TRUE(page.WaitFor(windows + ".length == 1 && (function () { var c = " + windows + "[0].firstChild;"
            " var d = Tiravex.picture(c).getContext('2d').getImageData(0, 0, c.width, c.height).data; var lit = 0;"
            " for (var i = 0; i < d.length; i += 64) lit += d[i] + d[i + 1] + d[i + 2] > 96; return lit * 16 > c.width * c.height / 2; })()",
        kPictureMs))
        << "no snapshot window with the camera's picture: " << page.Eval("document.getElementById('events').value");

    // The camera's motion alarm, from its event service, is the page's
    // alarm report and alarm state, and its end ends the state.
    const std::string log = "document.getElementById('log').innerText";
    server.Camera("alarm", Json::array({ 0 }));
    EXPECT_TRUE(page.WaitFor("/Alarm: motion at the camera/.test(" + log + ") && /The camera is in alarm/.test(" + log + ")", kPictureMs))
        << page.Eval(log);
    server.Camera("endAlarm", Json::array({ 0 }));
    EXPECT_TRUE(page.WaitFor("/alarm ended/.test(" + log + ")", kPictureMs)) << page.Eval(log);
}

TEST_F(StandardSound, ThePageHearsTheCamerasToneAndItsVoiceReachesTheBackChannel)
{
    CdpPage page;
    ASSERT_TRUE(browser.Open(server.Url() + "sound.html?coding=0", page));
    ASSERT_TRUE(page.WaitFor("talking", kLoginMs));
    ASSERT_TRUE(page.WaitFor("heard.length > 12000", kPictureMs)) << "less than 1.5 s of sound reached the page";
    EXPECT_GT(page.Eval("share(440)").get<double>(), 0.8) << "the sound is not the camera's 440 Hz tone";

    // Each 960-byte block of the microphone's PCM goes as one packet of
    // 480 mu-law bytes.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPictureMs);
    Json blocks;
    while (std::chrono::steady_clock::now() < until) {
        blocks = server.Camera("talkBlocks");
        if (blocks.is_object() && blocks.value("480", 0) > 10)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GT(blocks.value("480", 0), 10) << blocks;
}

TEST_F(StandardViewer, ThePlaybackPageListsTheCamerasRecordingsAndPlaysOneToItsEnd)
{
    CdpPage page;
    ASSERT_TRUE(browser.Open(server.Url() + "playback.html", page));
    ASSERT_TRUE(page.WaitFor("location.pathname == '/playback.html' && document.readyState == 'complete'", kLoginMs));
    probe(page);
    const std::string statusText = "document.getElementById('status').textContent";
    const std::string listed = "document.querySelectorAll('#list .recording[title^=\"/onvif/recording/\"]')";
    // The camera's search lists its recording, with its length, under the
    // path that the control plays.
    page.Eval("document.getElementById('listbutton').click(), 1");
    ASSERT_TRUE(page.WaitFor(listed + ".length == 1", kLoginMs)) << page.Eval(statusText);
    EXPECT_EQ(page.Eval(listed + "[0].value"), Json("recording_1  0:05"));
    page.Eval(listed + "[0].click(), 1");
    EXPECT_TRUE(page.WaitFor("brightSamples('IPCam') > 2000", kLoginMs)) << page.Eval(statusText);
    EXPECT_TRUE(page.WaitFor("/ended/.test(" + statusText + ")", kLoginMs)) << page.Eval(statusText);
    EXPECT_EQ(page.Eval("document.getElementById('position').textContent"), Json("0:05 / 0:05"));
}
