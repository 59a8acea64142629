// tiravex-serve end to end: camera pages of the old style in headless
// Chromium against the simulated camera, driven through the browser's
// DevTools (a person's mouse and wheel), and the server's refusals.

#include "support/Browser.h"

#include "host/BridgeProtocol.h"
#include "kznet/Protocol.h"
#include "present/Presenter.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <dirent.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::CdpPage;
using testing_support::Chromium;
using testing_support::Json;
using testing_support::ServeProcess;

constexpr int kLoginMs = 15000;
constexpr int kPictureMs = 10000;
constexpr int kCloseMs = 8000;

std::string outputFolder()
{
    std::string folder = ::testing::TempDir() + "/serve";
    std::string command = "mkdir -p '" + folder + "'";
    if (std::system(command.c_str()) != 0) { }
    return folder;
}

class Browser : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (testing_support::ChromiumProgram().empty())
            GTEST_SKIP() << "no Chromium";
        ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, "sim"));
        ASSERT_TRUE(browser.Start()) << "Chromium did not start";
    }
    void TearDown() override
    {
        browser.Stop();
        EXPECT_EQ(server.Stop(), 0) << "tiravex-serve did not end cleanly";
    }

    // The camera's open roads and channels drop to none.
    bool cameraLetGo(int timeoutMs)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            if (server.Camera("roadsOpen") == Json(0) && server.Camera("channelsOpen") == Json(0))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    ServeProcess server;
    Chromium browser;
};

// Every 4th pixel of every 4th row of a screenshot that is not dark.
int brightPixels(const std::string& png)
{
    std::vector<std::uint32_t> pixels;
    int width = 0, height = 0;
    if (!present::ReadPng(png, pixels, width, height))
        return -1;
    int n = 0;
    for (int y = 0; y < height; y += 4)
        for (int x = 0; x < width; x += 4) {
            const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
            n += ((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255) > 96;
        }
    return n;
}

TEST_F(Browser, AnOldStylePageLogsInGetsItsCgiAnswerSeesTheLivePictureZoomsAndHearsAlarms)
{
    CdpPage page;
    ASSERT_TRUE(browser.Open(server.Url() + "old.html", page));
    ASSERT_TRUE(page.WaitFor("loginValues > 0", kLoginMs)) << "no login report";
    const int values = page.Eval("loginValues").get<int>();
    EXPECT_TRUE(values == 70 || values == 133) << values << " values with event 100";
    EXPECT_EQ(page.Eval("loginStatus"), Json(0));

    // A member's answer comes back at once, as pages expect.
    Json cgi = page.Eval("IPCam.GetCGIResult('getDevInfo', 0)");
    ASSERT_TRUE(cgi.is_string());
    EXPECT_NE(cgi.get<std::string>().find("Tiravex"), std::string::npos) << cgi;

    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kPictureMs)) << "the picture stays black";
    page.Eval("window.before = samples('IPCam'), 1");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_GT(page.Eval("changedSamples('IPCam', before)").get<int>(), 1000) << "the picture did not move in a second";
    page.Screenshot(outputFolder() + "/old-live.png");

    // The wheel on the picture zooms in around the pointer: the frame
    // counter at the picture's top left leaves the view.
    EXPECT_GT(page.Eval("counterCrossings('IPCam')").get<int>(), 6);
    Json centre = page.Eval("centreOf('IPCam')");
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(page.Mouse("mouseWheel", centre[0].get<double>(), centre[1].get<double>(), "none", -120));
    EXPECT_TRUE(page.WaitFor("counterCrossings('IPCam') < 5", 5000)) << "the wheel did not zoom";
    page.Screenshot(outputFolder() + "/old-zoomed.png");

    // The camera's alarm reaches the page's callback.
    page.Eval("window.heardBefore = codes.length, 1");
    server.Camera("alarm", Json::array({ 0 }));
    EXPECT_TRUE(page.WaitFor("codes.slice(heardBefore).indexOf(111) >= 0", 5000)) << page.Eval("codes.join(',')");

    // Closing the page lets the camera go.
    EXPECT_GT(server.Camera("roadsOpen").get<int>(), 0);
    ASSERT_TRUE(browser.Close(page));
    EXPECT_TRUE(cameraLetGo(kCloseMs)) << "the camera still has " << server.Camera("roadsOpen") << " roads and " << server.Camera("channelsOpen") << " channels";
}

TEST_F(Browser, FourControlsOnOnePageShowFourPicturesAndClosingThePageClosesTheirChannels)
{
    CdpPage page;
    ASSERT_TRUE(browser.Open(server.Url() + "four.html", page));
    for (const char* view : { "view0", "view1", "view2", "view3" })
        EXPECT_TRUE(page.WaitFor(std::string("brightSamples('") + view + "') > 1500", kLoginMs)) << view << " shows no picture";
    page.Screenshot(outputFolder() + "/four.png");
    EXPECT_GE(server.Camera("channelsOpen").get<int>(), 4);
    ASSERT_TRUE(browser.Close(page));
    EXPECT_TRUE(cameraLetGo(kCloseMs)) << "the camera still has " << server.Camera("roadsOpen") << " roads and " << server.Camera("channelsOpen") << " channels";
}

TEST_F(Browser, WhatTheControlOpensOpensOnThePageAndTakesTheMouse)
{
    CdpPage page;
    ASSERT_TRUE(browser.Open(server.Url() + "old.html", page));
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture";
    const std::string windows = "document.querySelectorAll('.tiravex-window')";

    // The picture the camera sends opens in a window on the page.
    server.Camera("snapshot");
    ASSERT_TRUE(page.WaitFor(windows + ".length == 1", 5000)) << "no snapshot window";
    EXPECT_TRUE(page.WaitFor("(function () { var c = " + windows + "[0].firstChild; var d = Tiravex.picture(c).getContext('2d').getImageData(0, 0, c.width, c.height).data;"
                             " var n = 0; for (var i = 0; i < d.length; i += 64) if (d[i] + d[i + 1] + d[i + 2] > 96) ++n; return n > 1000; })()",
        5000)) << "the snapshot window shows no picture";
    // Its close box (the top right of its own title bar) closes it.
    Json box = page.Eval("(function () { var w = " + windows + "[0]; window.scrollTo(w.offsetLeft + w.offsetWidth - innerWidth + 20, 0);"
                         " var r = w.getBoundingClientRect(); return [r.right, r.top]; })()");
    ASSERT_TRUE(box.is_array());
    page.Mouse("mousePressed", box[0].get<double>() - 8, box[1].get<double>() + 8, "left");
    page.Mouse("mouseReleased", box[0].get<double>() - 8, box[1].get<double>() + 8, "left");
    EXPECT_TRUE(page.WaitFor(windows + ".length == 0", 5000)) << "the close box did not close the snapshot window";
    page.Eval("window.scrollTo(0, 0), 1");

    // A member that waits for a person (the About box) answers the page at
    // once, and the dialog waits on the page for its button.
    EXPECT_TRUE(page.Eval("IPCam.AboutBox(), true") == Json(true));
    ASSERT_TRUE(page.WaitFor(windows + ".length == 1", 5000)) << "no About box";
    page.Call("Input.dispatchKeyEvent", Json { { "type", "rawKeyDown" }, { "windowsVirtualKeyCode", 13 }, { "key", "Enter" }, { "code", "Enter" } });
    page.Call("Input.dispatchKeyEvent", Json { { "type", "keyUp" }, { "windowsVirtualKeyCode", 13 }, { "key", "Enter" }, { "code", "Enter" } });
    EXPECT_TRUE(page.WaitFor(windows + ".length == 0", 5000)) << "Return did not end the About box";

    // The right button opens the control's menu on the page; its second
    // item goes full screen, in the browser's full screen.
    Json centre = page.Eval("centreOf('IPCam')");
    page.Mouse("mousePressed", centre[0].get<double>(), centre[1].get<double>(), "right");
    page.Mouse("mouseReleased", centre[0].get<double>(), centre[1].get<double>(), "right");
    ASSERT_TRUE(page.WaitFor(windows + ".length == 1", 5000)) << "no menu";
    page.Screenshot(outputFolder() + "/old-menu.png");
    Json menu = page.Eval("(function () { var r = " + windows + "[0].getBoundingClientRect(); return [r.left, r.top, r.height]; })()");
    const double itemX = menu[0].get<double>() + 30, itemY = menu[1].get<double>() + menu[2].get<double>() / 2;
    page.Mouse("mouseMoved", itemX, itemY);
    page.Mouse("mousePressed", itemX, itemY, "left");
    page.Mouse("mouseReleased", itemX, itemY, "left");
    EXPECT_TRUE(page.WaitFor("document.fullscreenElement && document.fullscreenElement.className == 'tiravex-window'", 5000)) << "not full screen";
    // The live picture fills the screen, as a person sees it.
    const std::string fullScreen = outputFolder() + "/old-full-screen.png";
    int lit = 0;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPictureMs); lit < 10000 && std::chrono::steady_clock::now() < until;) {
        ASSERT_TRUE(page.Screenshot(fullScreen));
        lit = brightPixels(fullScreen);
    }
    EXPECT_GE(lit, 10000) << "the full screen shows no picture";
}

// A screenshot's pixels, 0xRRGGBB, or none.
struct Shot {
    std::vector<std::uint32_t> pixels;
    int width = 0, height = 0;
    explicit Shot(const std::string& png) { present::ReadPng(png, pixels, width, height); }
    std::uint32_t At(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height ? pixels[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF : 0; }
};

// Red pixels of a screenshot within `box` (left, top, width, height in CSS pixels).
int redPixels(const std::string& png, const Json& box)
{
    const Shot shot(png);
    if (shot.pixels.empty())
        return -1;
    int n = 0;
    for (int y = box[1].get<int>(); y < box[1].get<int>() + box[3].get<int>(); ++y)
        for (int x = box[0].get<int>(); x < box[0].get<int>() + box[2].get<int>(); ++x) {
            const std::uint32_t p = shot.At(x, y);
            if (((p >> 16) & 255) > 180 && ((p >> 8) & 255) < 80 && (p & 255) < 80)
                ++n;
        }
    return n;
}

// Every 4th pixel of every 4th row of `box` that differs between two screenshots by more than coding noise.
int changedPixels(const std::string& a, const std::string& b, const Json& box)
{
    const Shot one(a), two(b);
    int n = 0;
    for (int y = box[1].get<int>(); y < box[1].get<int>() + box[3].get<int>(); y += 4)
        for (int x = box[0].get<int>(); x < box[0].get<int>() + box[2].get<int>(); x += 4) {
            const std::uint32_t p = one.At(x, y), q = two.At(x, y);
            int d = 0;
            for (int shift : { 0, 8, 16 })
                d += std::abs(static_cast<int>((p >> shift) & 255) - static_cast<int>((q >> shift) & 255));
            n += d > 48;
        }
    return n;
}

// Light-dark changes along row y of a screenshot from x0 to x1 (the camera's
// frame counter is a row of white boxes at the picture's top left).
int screenCrossings(const std::string& png, int y, int x0, int x1)
{
    const Shot shot(png);
    int n = 0, light = -1;
    for (int x = x0; x < x1; ++x) {
        const std::uint32_t p = shot.At(x, y);
        const int l = (((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / 3 > 128;
        n += light >= 0 && l != light;
        light = l;
    }
    return n;
}

TEST_F(Browser, TheCamerasFramesPassThroughToTheBrowserUnderTheControlsDrawingAndAPageMayAskForPicturesInstead)
{
    // The browser decodes the frames and plays them in a video element
    // under the control's drawing; or draws them into a canvas under it
    // (tiravex=canvas, as a browser without video tracks does); or the
    // control sends pictures (tiravex=jpeg).
    struct Way {
        const char* query;
        const char* path; // Tiravex.videoPath while frames pass through, or null for pictures
        const char* name;
    };
    for (const Way way : { Way { "", "track", "track" }, Way { "?tiravex=canvas", "canvas", "canvas" }, Way { "?tiravex=jpeg", nullptr, "jpeg" } }) {
        SCOPED_TRACE(way.name);
        const bool passthrough = way.path != nullptr;
        const std::string name = outputFolder() + "/pass-" + way.name;
        CdpPage page;
        ASSERT_TRUE(browser.Open(server.Url() + "old.html" + way.query, page));
        ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "the picture stays black";
        EXPECT_EQ(page.Eval("Tiravex.passthrough.indexOf('h264') >= 0"), Json(passthrough));
        if (passthrough) {
            EXPECT_EQ(page.Eval("Tiravex.videoPath"), Json(way.path));
        }

        // Over a second the picture moves, on the screen too; with the
        // frames passed through the browser decodes them and the control
        // sends no pictures.
        const Json picture = page.Eval("(function () { var r = pictureOf('IPCam').getBoundingClientRect(); return [Math.round(r.left) + 2, Math.round(r.top) + 2, Math.round(r.width) - 4, Math.round(r.height) - 4]; })()");
        ASSERT_TRUE(picture.is_array());
        ASSERT_TRUE(page.Screenshot(name + "-before.png"));
        page.Eval("window.before = samples('IPCam'), window.frames0 = Tiravex.stats.video.frames, window.pictures0 = Tiravex.stats.pictures, 1");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_GT(page.Eval("changedSamples('IPCam', before)").get<int>(), 1000) << "the picture did not move in a second";
        const int frames = page.Eval("Tiravex.stats.video.frames - frames0").get<int>();
        const int pictures = page.Eval("Tiravex.stats.pictures - pictures0").get<int>();
        ASSERT_TRUE(page.Screenshot(name + "-calm.png"));
        EXPECT_GT(changedPixels(name + "-before.png", name + "-calm.png", picture), 1000) << "the picture on the screen did not move in a second";
        // (The camera sends 15 frames a second.)
        if (passthrough) {
            EXPECT_GE(frames, 10) << "frames decoded by the browser and shown in a second";
            EXPECT_LE(pictures, 2) << "pictures of the control while only the video changed";
        } else {
            EXPECT_EQ(frames, 0);
            EXPECT_GE(pictures, 10);
        }

        // The control's own drawing lies over the video: the camera's alarm
        // flag (message 11) puts the red dot at the picture's bottom right.
        const Json corner = Json::array({ picture[0].get<int>() + picture[2].get<int>() - 68, picture[1].get<int>() + picture[3].get<int>() - 68, 60, 60 });
        server.Camera("sendControl", Json::array({ kz::kMsgAlarmFlag, Json::array({ 1, 0, 0, 0 }) }));
        const int calmRed = redPixels(name + "-calm.png", corner);
        int red = calmRed;
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5); red - calmRed <= 200 && std::chrono::steady_clock::now() < until;) {
            ASSERT_TRUE(page.Screenshot(name + "-alarm.png"));
            red = redPixels(name + "-alarm.png", corner);
        }
        EXPECT_GT(red - calmRed, 200) << "no red dot over the picture";

        // The wheel zooms in around the pointer: the frame counter at the
        // picture's top left leaves the view, on the screen as in the page's
        // picture, also in the passed-through video.
        const int counterY = picture[1].get<int>() + 12, counterLeft = picture[0].get<int>() + 2, counterRight = picture[0].get<int>() + 108;
        EXPECT_GT(page.Eval("counterCrossings('IPCam')").get<int>(), 6);
        EXPECT_GT(screenCrossings(name + "-alarm.png", counterY, counterLeft, counterRight), 6) << "no frame counter on the screen";
        Json centre = page.Eval("centreOf('IPCam')");
        for (int i = 0; i < 12; ++i)
            ASSERT_TRUE(page.Mouse("mouseWheel", centre[0].get<double>(), centre[1].get<double>(), "none", -120));
        EXPECT_TRUE(page.WaitFor("counterCrossings('IPCam') < 5", 5000)) << "the wheel did not zoom";
        ASSERT_TRUE(page.Screenshot(name + "-zoomed.png"));
        EXPECT_LT(screenCrossings(name + "-zoomed.png", counterY, counterLeft, counterRight), 5) << "the wheel did not zoom the picture on the screen";

        // Motion-JPEG of another size comes the same way and moves.
        server.Camera("setVideo", Json::array({ Json { { "codec", "mjpeg" }, { "width", 320 }, { "height", 240 }, { "fps", 15 } } }));
        ASSERT_TRUE(page.WaitFor("window.mjpegFrom = Tiravex.stats.video.frames, window.before = samples('IPCam'), true", 1000));
        EXPECT_TRUE(page.WaitFor("changedSamples('IPCam', before) > 1000", kPictureMs)) << "the Motion-JPEG picture does not move";
        if (passthrough) {
            EXPECT_TRUE(page.WaitFor("Tiravex.stats.video.frames > mjpegFrom + 10", kPictureMs)) << "Motion-JPEG is not passed through";
        }
        page.Screenshot(name + "-mjpeg.png");
        // And back to H.264 at a third size: a new decoder, the same way.
        server.Camera("setVideo", Json::array({ Json { { "codec", "h264" }, { "width", 480 }, { "height", 360 }, { "fps", 15 } } }));
        ASSERT_TRUE(page.WaitFor("window.h264From = Tiravex.stats.video.frames, window.before = samples('IPCam'), true", 1000));
        EXPECT_TRUE(page.WaitFor("changedSamples('IPCam', before) > 1000", kPictureMs)) << "the H.264 picture does not move after the switch";
        if (passthrough) {
            EXPECT_TRUE(page.WaitFor("Tiravex.stats.video.frames > h264From + 10", kPictureMs)) << "H.264 is not passed through after the switch";
        }
        server.Camera("setVideo", Json::array({ Json { { "codec", "h264" }, { "width", 640 }, { "height", 480 }, { "fps", 15 } } }));
        ASSERT_TRUE(browser.Close(page));
        EXPECT_TRUE(cameraLetGo(kCloseMs));
    }
}

class Sound : public Browser, public ::testing::WithParamInterface<int> { };

TEST_P(Sound, ThePageHearsTheCamerasToneAndItsMicrophoneReachesTheCameraInBlocksOfTheCoding)
{
    const int coding = GetParam();
    CdpPage page;
    ASSERT_TRUE(browser.Open(server.Url() + "sound.html?coding=" + std::to_string(coding), page));
    ASSERT_TRUE(page.WaitFor("talking", kLoginMs));
    ASSERT_TRUE(page.WaitFor("heard.length > 12000", kPictureMs)) << "less than 1.5 s of sound reached the page";
    EXPECT_GT(page.Eval("share(440)").get<double>(), 0.8) << "the sound is not the camera's 440 Hz tone";
    EXPECT_LT(page.Eval("share(1000)").get<double>(), 0.05);

    const int sizes[] = { 960, 120, 160 };
    const std::string size = std::to_string(sizes[coding]);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPictureMs);
    Json blocks;
    while (std::chrono::steady_clock::now() < until) {
        blocks = server.Camera("talkBlocks");
        if (blocks.is_object() && blocks.value(size, 0) > 10)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(blocks.is_object());
    EXPECT_EQ(blocks.size(), 1u) << blocks;
    EXPECT_GT(blocks.value(size, 0), 10) << blocks;
}

INSTANTIATE_TEST_SUITE_P(Codings, Sound, ::testing::Values(0, 1, 2));

// ---- refusals, without a browser ----

// A loopback connection to the server, spoken to byte by byte.
class RawClient {
public:
    // `receiveBuffer`: the socket's receive buffer, when not the system's.
    explicit RawClient(int port, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Send(const std::string& bytes) { return m_fd >= 0 && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()); }
    // What the server sent until it closed, or until `timeoutMs` passed.
    std::string ReadUntilClosed(int timeoutMs)
    {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
            pollfd p { m_fd, POLLIN, 0 };
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                return got;
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return got;
            got.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // The status of the answer to a whole request sent on a connection of its own.
    static int Status(int port, const std::string& path, int timeoutMs = 5000)
    {
        RawClient c(port);
        c.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n\r\n");
        const std::string answer = c.ReadUntilClosed(timeoutMs);
        return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
    }

private:
    int m_fd = -1;
};

class Refusals : public ::testing::Test {
protected:
    httplib::Result post(const std::string& path, const std::string& body, const httplib::Headers& headers = {})
    {
        httplib::Client client("127.0.0.1", server.Port());
        client.set_read_timeout(10, 0);
        return client.Post(path.c_str(), headers, body, "application/json");
    }
    std::string newSession()
    {
        auto res = post("/tiravex/session", R"({"screen":[1280,720],"callbacks":["PluginCallBack"]})");
        if (!res || res->status != 200)
            return {};
        return Json::parse(res->body)["session"].get<std::string>();
    }
    int status(const std::string& path, const std::string& body)
    {
        auto res = post(path, body);
        return res ? res->status : 0;
    }
    ServeProcess server;
};

TEST_F(Refusals, OnAnyOtherAddressThanLoopbackRequestsWithoutTheTokenAreRefused)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, "", { "--bind", "0.0.0.0" }));
    ASSERT_EQ(server.Token().size(), 32u) << "no token printed";
    httplib::Client client("127.0.0.1", server.Port());
    auto none = client.Get("/tiravex.js");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 403);
    std::string wrong = server.Token();
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
    EXPECT_EQ(client.Get(("/tiravex.js?token=" + wrong).c_str())->status, 403);
    EXPECT_EQ(client.Get(("/old.html?token=" + wrong).c_str())->status, 403);
    EXPECT_EQ(post("/tiravex/session?token=" + wrong, "{}")->status, 403);

    auto right = client.Get(("/old.html?token=" + server.Token()).c_str());
    ASSERT_TRUE(right);
    EXPECT_EQ(right->status, 200);
    const std::string cookie = right->get_header_value("Set-Cookie");
    EXPECT_EQ(cookie.rfind("tiravex_token=" + server.Token() + ";", 0), 0u) << cookie;
    // The browser sends the cookie with the page's own requests.
    auto withCookie = client.Get("/tiravex.js", httplib::Headers { { "Cookie", "tiravex_token=" + server.Token() } });
    EXPECT_EQ(withCookie->status, 200);
}

TEST_F(Refusals, RequestsFromAnotherOriginOrForAnotherHostAreRefused)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, ""));
    EXPECT_TRUE(server.Token().empty()) << "loopback needs no token";
    const std::string self = "http://127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(post("/tiravex/session", "{}", { { "Origin", "http://evil.example" } })->status, 403);
    EXPECT_EQ(post("/tiravex/session", "{}", { { "Origin", "http://localhost:" + std::to_string(server.Port()) } })->status, 403);
    EXPECT_EQ(post("/tiravex/session", "{}", { { "Sec-Fetch-Site", "cross-site" } })->status, 403);
    EXPECT_EQ(post("/tiravex/camera/alarm", "{}", { { "Sec-Fetch-Site", "same-site" } })->status, 403);

    const std::string session = newSession();
    ASSERT_FALSE(session.empty());
    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(2, 0);
    auto stream = client.Get(("/tiravex/s/" + session + "/stream").c_str(), httplib::Headers { { "Sec-Fetch-Site", "cross-site" } });
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->status, 403) << "another site read a page's stream";
    // A name that is not the server's, as DNS rebinding gives.
    auto rebound = client.Get("/tiravex.js", httplib::Headers { { "Host", "evil.example:" + std::to_string(server.Port()) } });
    EXPECT_EQ(rebound->status, 403);

    // The page's own origin is served.
    auto own = post("/tiravex/session", "{}", { { "Origin", self }, { "Sec-Fetch-Site", "same-origin" } });
    ASSERT_TRUE(own);
    EXPECT_EQ(own->status, 200);
}

TEST_F(Refusals, OneSessionCannotReachAnotherSessionsControl)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, ""));
    const std::string a = newSession(), b = newSession();
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.size(), 32u) << "a session id is 128 random bits";
    auto made = post("/tiravex/s/" + a + "/create", R"({"params":{"Self":"0"},"rect":[0,0,320,240]})");
    ASSERT_TRUE(made);
    ASSERT_EQ(made->status, 200);
    const std::uint32_t control = Json::parse(made->body)["control"].get<std::uint32_t>();
    const std::string call = Json { { "control", control }, { "op", "call" }, { "name", "GetLiveCfg" }, { "args", Json::array() }, { "have", 0 } }.dump();

    auto own = post("/tiravex/s/" + a + "/call", call);
    EXPECT_EQ(own->status, 200);
    auto other = post("/tiravex/s/" + b + "/call", call);
    EXPECT_EQ(other->status, 403);
    EXPECT_NE(other->body.find("another page"), std::string::npos);
    EXPECT_EQ(post("/tiravex/s/" + b + "/destroy", call)->status, 403);
    EXPECT_EQ(post("/tiravex/s/" + b + "/resize", call)->status, 403);
    // Unknown sessions and controls are not there at all.
    EXPECT_EQ(post("/tiravex/s/0123456789abcdef0123456789abcdef/call", call)->status, 404);
    EXPECT_EQ(post("/tiravex/s/" + a + "/call", R"({"control":999999,"op":"call","name":"GetLiveCfg","args":[]})")->status, 404);
    // Closing one session leaves the other's control alone.
    EXPECT_EQ(post("/tiravex/s/" + b + "/close", "")->status, 204);
    EXPECT_EQ(post("/tiravex/s/" + a + "/call", call)->status, 200);
}

TEST_F(Refusals, ValuesOfTheWrongTypeAreRefusedAndThePageGoesOn)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, ""));
    const std::string session = newSession();
    ASSERT_FALSE(session.empty());
    auto bad = post("/tiravex/s/" + session + "/create", R"({"params":{"Self":"0"},"rect":["left","top",[],{}]})");
    ASSERT_TRUE(bad);
    EXPECT_NE(bad->body.find("error"), std::string::npos) << bad->body;
    EXPECT_EQ(post("/tiravex/s/" + session + "/input", R"({"events":[{"t":"mouse","a":"move","x":"here","y":null},7,"x"]})")->status, 400);
    EXPECT_EQ(post("/tiravex/s/" + session + "/input", R"({"events":[{"t":"mouse","a":"move"},7,"x"]})")->status, 204);
    EXPECT_EQ(post("/tiravex/s/" + session + "/call", "not json")->status, 400);
    // The page's worker still makes and answers controls.
    auto made = post("/tiravex/s/" + session + "/create", R"({"params":{"Self":"0"},"rect":[0,0,320,240]})");
    ASSERT_TRUE(made);
    ASSERT_EQ(made->status, 200);
    Json answer = Json::parse(made->body);
    ASSERT_TRUE(answer.contains("members")) << made->body;
    const Json call { { "control", answer["control"] }, { "op", "get" }, { "name", "NoSuchMember" }, { "args", Json::array() }, { "have", 0 } };
    auto unknown = post("/tiravex/s/" + session + "/call", call.dump());
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 200);
    EXPECT_LT(Json::parse(unknown->body).value("hr", 0), 0) << "an unknown member is an Automation failure, answered";
}

TEST_F(Refusals, DeepBodiesAndNumbersOutOfRangeAreRefusedBeforeAnyWorkerAndThePageGoesOn)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, "sim"));
    const std::string session = newSession();
    ASSERT_FALSE(session.empty());
    const std::string s = "/tiravex/s/" + session;
    // 100,000 levels: re-serialising it for the worker overflowed a request thread's stack.
    const std::string deep = "{\"args\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    for (const std::string& path : { std::string("/tiravex/session"), s + "/create", s + "/call", s + "/resize", s + "/input", std::string("/tiravex/camera/alarm") })
        EXPECT_EQ(status(path, deep), 400) << path;
    EXPECT_EQ(status("/tiravex/session", R"({"screen":[1e300,-1e300]})"), 400);
    EXPECT_EQ(status("/tiravex/session", R"({"screen":[1280.5,720]})"), 400);
    EXPECT_EQ(status(s + "/create", R"({"params":{"Self":"0"},"rect":[1e300,0,10,10]})"), 400);
    EXPECT_EQ(status(s + "/create", R"({"params":{"Self":"0"},"rect":[0,0,-320,240]})"), 400);
    EXPECT_EQ(status(s + "/input", R"({"events":[{"t":"mouse","a":"move","x":1e300,"y":0}]})"), 400);
    EXPECT_EQ(status(s + "/input", R"({"events":[{"t":"key","down":true,"vk":-1e19}]})"), 400);
    EXPECT_EQ(status("/tiravex/camera/alarm", R"({"args":[1e300]})"), 400);
    EXPECT_EQ(status("/tiravex/camera/sendControl", R"({"args":[100,[1,2,300]]})"), 400);
    EXPECT_EQ(status("/tiravex/camera/setVideo", R"({"args":[{"codec":"h264","width":1e300}]})"), 400);

    // The server and the page's worker go on.
    auto made = post(s + "/create", R"({"params":{"Self":"0"},"rect":[0,0,320,240]})");
    ASSERT_TRUE(made);
    ASSERT_EQ(made->status, 200);
    const Json control = Json::parse(made->body)["control"];
    EXPECT_EQ(status(s + "/call", Json { { "control", control }, { "op", "get" }, { "name", "GetLiveCfg" }, { "have", 1e300 } }.dump()), 400);
    EXPECT_EQ(status(s + "/resize", Json { { "control", control }, { "rect", { 0, 0, 4294967296.0, 10 } } }.dump()), 400);
    EXPECT_EQ(status(s + "/resize", Json { { "control", control }, { "rect", { 10, 10, 300, 200 } } }.dump()), 200);
    EXPECT_EQ(status(s + "/call", Json { { "control", control }, { "op", "call" }, { "name", "GetLiveCfg" }, { "args", Json::array() }, { "have", 0 } }.dump()), 200);
    EXPECT_EQ(status(s + "/input", R"({"events":[{"t":"mouse","a":"move","x":20,"y":20}]})"), 204);
    EXPECT_EQ(server.Camera("roadsOpen"), Json(0));
}

TEST_F(Refusals, PagesBeyondTheLimitAndScreensBeyondTheLargestAreRefusedWithAReason)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, "", { "--max-pages", "2" }));
    const std::string a = newSession(), b = newSession();
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    auto third = post("/tiravex/session", R"({"screen":[1280,720]})");
    ASSERT_TRUE(third);
    EXPECT_EQ(third->status, 503);
    EXPECT_NE(third->body.find("at most 2 pages"), std::string::npos) << third->body;
    // A page that goes makes room for the next.
    EXPECT_EQ(post("/tiravex/s/" + a + "/close", "")->status, 204);
    const std::string c = newSession();
    EXPECT_FALSE(c.empty()) << "no room after a page closed";
    EXPECT_EQ(post("/tiravex/s/" + c + "/close", "")->status, 204);

    auto huge = post("/tiravex/session", R"({"screen":[4097,720]})");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 503);
    EXPECT_NE(huge->body.find("screen may be at most"), std::string::npos) << huge->body;
    // The script asks for no more than the server takes.
    httplib::Client client("127.0.0.1", server.Port());
    auto script = client.Get("/tiravex.js");
    ASSERT_TRUE(script);
    const std::string first = script->body.substr(0, script->body.find('\n'));
    const Json config = Json::parse(first.substr(first.find('{'), first.rfind('}') - first.find('{') + 1));
    ASSERT_TRUE(config["maxScreen"].is_array()) << first;
    EXPECT_LE(config["maxScreen"][0].get<int>(), 4096);
    EXPECT_LE(config["maxScreen"][1].get<int>(), 4096);
}

TEST_F(Refusals, TheScriptCarriesNoAccountAndOnlyTheServersOwnPagesGetIt)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, "sim"));
    const std::string port = std::to_string(server.Port());
    httplib::Client client("127.0.0.1", server.Port());
    // Another site's <script src> gets the script, and nothing of the camera's account.
    auto script = client.Get("/tiravex.js", httplib::Headers { { "Sec-Fetch-Site", "cross-site" }, { "Sec-Fetch-Dest", "script" } });
    ASSERT_TRUE(script);
    ASSERT_EQ(script->status, 200);
    const std::string first = script->body.substr(0, script->body.find('\n'));
    const Json config = Json::parse(first.substr(first.find('{'), first.rfind('}') - first.find('{') + 1));
    EXPECT_EQ(config["camera"], Json(true)) << first;
    const Json account = server.Camera("account");
    ASSERT_TRUE(account.is_object());
    EXPECT_EQ(account["user"], Json("admin"));
    for (const char* secret : { "user", "password", "address", "webPort" })
        EXPECT_EQ(first.find(secret), std::string::npos) << secret << " in " << first;
    EXPECT_EQ(first.find(std::to_string(account["port"].get<int>())), std::string::npos) << first;
    // The account itself goes only to the server's own origin.
    EXPECT_EQ(post("/tiravex/camera/account", "{}", { { "Sec-Fetch-Site", "cross-site" } })->status, 403);
    EXPECT_EQ(post("/tiravex/camera/account", "{}", { { "Origin", "http://evil.example" } })->status, 403);
    EXPECT_EQ(post("/tiravex/camera/account", "{}", { { "Origin", "http://127.0.0.1:" + port }, { "Sec-Fetch-Site", "same-origin" } })->status, 200);
}

TEST_F(Refusals, OnlyFilesWhoseRealPathLiesInsideTheRootAreServedAndANulIsRefused)
{
    const std::string folder = ::testing::TempDir() + "/serve-root-" + std::to_string(::getpid());
    const std::string root = folder + "/root";
    ASSERT_EQ(std::system(("rm -rf '" + folder + "' && mkdir -p '" + root + "/sub'").c_str()), 0);
    std::ofstream(root + "/index.html") << "<p>inside</p>";
    std::ofstream(root + "/sub/page.js") << "var inside = 1;";
    std::ofstream(folder + "/secret.txt") << "outside";
    ASSERT_EQ(::symlink((folder + "/secret.txt").c_str(), (root + "/leak.html").c_str()), 0);
    ASSERT_EQ(::symlink("..", (root + "/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink(folder.c_str(), (root + "/above").c_str()), 0);
    ASSERT_EQ(::symlink("sub/page.js", (root + "/alias.js").c_str()), 0);
    ASSERT_TRUE(server.Start(root, ""));
    const int port = server.Port();

    EXPECT_EQ(RawClient::Status(port, "/"), 200);
    EXPECT_EQ(RawClient::Status(port, "/index.html"), 200);
    EXPECT_EQ(RawClient::Status(port, "/alias.js"), 200) << "a link that stays inside is followed";
    EXPECT_EQ(RawClient::Status(port, "/sub/up/index.html"), 200);
    EXPECT_EQ(RawClient::Status(port, "/index.html%00.js"), 400);
    EXPECT_EQ(RawClient::Status(port, "/sub/page.js%00"), 400);
    for (const char* outside : { "/leak.html", "/above/secret.txt", "/sub/up/../../secret.txt", "/../secret.txt", "/%2e%2e/secret.txt", "/sub" })
        EXPECT_EQ(RawClient::Status(port, outside), 404) << outside;
    httplib::Client client("127.0.0.1", port);
    auto page = client.Get("/sub/page.js");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body, "var inside = 1;");
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/javascript");
}

TEST_F(Refusals, UnderTwoHundredSlowClientsAPageIsServedWithinASecondAndTheSlowOnesTimeOut)
{
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, ""));
    const int port = server.Port();
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    // What the gate will never see whole is refused at once.
    for (const auto& [head, answer] : { std::pair { "POST /tiravex/session HTTP/1.1\r\n" + host + "Content-Length: 99999999\r\n\r\n", "HTTP/1.1 413" },
             std::pair { "POST /tiravex/session HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n", "HTTP/1.1 411" },
             std::pair { "GET /old.html HTTP/1.1\r\nX-Long: " + std::string(20000, 'x'), "HTTP/1.1 431" } }) {
        RawClient c(port);
        ASSERT_TRUE(c.Send(head));
        EXPECT_EQ(c.ReadUntilClosed(2000).rfind(answer, 0), 0u) << answer;
    }
    constexpr int kSlowClients = 200;
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < kSlowClients; ++i) {
        slow.push_back(std::make_unique<RawClient>(port));
        // Heads and bodies both come a line at a time.
        ASSERT_TRUE(slow.back()->Send(i % 2 ? "GET /index.html HTTP/1.1\r\n" + host : "POST /tiravex/session HTTP/1.1\r\n" + host + "Content-Length: 40\r\n\r\n{"));
    }
    for (int round = 0; round < 3; ++round) {
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(RawClient::Status(port, "/old.html", 1000), 200) << "round " << round;
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
        for (int i = 0; i < kSlowClients; ++i)
            ASSERT_TRUE(slow[static_cast<std::size_t>(i)]->Send(i % 2 ? "X-Slow: " + std::to_string(round) + "\r\n" : " ")) << "a slow client was cut off early";
    }
    // A request still not whole at the deadline is answered 408.
    const std::string late = slow.front()->ReadUntilClosed(20000);
    EXPECT_EQ(late.rfind("HTTP/1.1 408", 0), 0u) << late;
}
// Turns the loopback device of this network namespace on or off.
bool setLoopback(bool up)
{
    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = sock >= 0 && ::ioctl(sock, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
        ok = ::ioctl(sock, SIOCSIFFLAGS, &request) == 0;
    }
    if (sock >= 0)
        ::close(sock);
    return ok;
}

// How many processes `parent` started that still run (its page workers).
int childrenOf(pid_t parent)
{
    int count = 0;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        char state = 0;
        long ppid = 0;
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        if (fields >> state >> ppid && ppid == parent && state != 'Z')
            ++count;
    }
    if (proc)
        ::closedir(proc);
    return count;
}

// The items of a page stream's chunked body, as far as they came whole.
struct StreamItem {
    int type = 0;
    std::uint32_t number = 0;
    std::string payload;
};
std::vector<StreamItem> streamItems(const std::string& response)
{
    std::string body;
    std::size_t at = response.find("\r\n\r\n");
    if (at == std::string::npos)
        return {};
    at += 4;
    for (;;) {
        const std::size_t line = response.find("\r\n", at);
        if (line == std::string::npos)
            break;
        const std::size_t size = std::strtoul(response.substr(at, line - at).c_str(), nullptr, 16);
        if (size == 0 || line + 2 + size > response.size())
            break;
        body.append(response, line + 2, size);
        at = line + 2 + size + 2;
    }
    std::vector<StreamItem> items;
    auto get32 = [&](std::size_t i) { std::uint32_t v = 0; std::memcpy(&v, body.data() + i, sizeof v); return v; };
    using namespace host::bridge;
    for (std::size_t i = 0; i + kItemHeaderBytes <= body.size();) {
        const std::uint32_t length = get32(i + kItemLengthAt);
        if (i + kItemHeaderBytes + length > body.size())
            break;
        items.push_back(StreamItem { static_cast<unsigned char>(body[i]), get32(i + kItemNumberAt), body.substr(i + kItemHeaderBytes, length) });
        i += kItemHeaderBytes + length;
    }
    return items;
}

TEST(StreamPeer, APageThatFallsBehindSkipsFramesAndGetsEachStreamAgainFromAKeyFrame)
{
    ServeProcess server;
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, "sim"));
    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(10, 0);
    auto post = [&](const std::string& path, const Json& body) {
        auto res = client.Post(path.c_str(), body.dump(), "application/json");
        return res && res->status == 200 ? Json::parse(res->body, nullptr, false) : Json();
    };
    const Json account = server.Camera("account");
    ASSERT_TRUE(account.is_object());
    // A page that decodes H.264 itself, with one control.
    const Json made = post("/tiravex/session", Json { { "screen", { 1280, 720 } }, { "callbacks", { "PluginCallBack" } }, { "passthrough", { "h264" } } });
    ASSERT_TRUE(made.contains("session"));
    const std::string base = "/tiravex/s/" + made["session"].get<std::string>();
    const Json control = post(base + "/create", Json { { "params", { { "Self", "0" } } }, { "rect", { 0, 0, 642, 482 } } });
    ASSERT_TRUE(control.contains("control"));
    auto call = [&](const std::string& name, const Json& args) {
        return post(base + "/call", Json { { "control", control["control"] }, { "op", "call" }, { "name", name }, { "args", args }, { "have", 0 } });
    };

    // A stream that reads little at a time (a small window), opened before the login.
    RawClient stream(server.Port(), 4096);
    ASSERT_TRUE(stream.Send("GET " + base + "/stream HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n\r\n"));
    call("Login", Json::array({ account["address"], account["port"], account["webPort"], account["user"], account["password"], 0, 1 }));
    bool loggedIn = false;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLoginMs); !loggedIn && std::chrono::steady_clock::now() < until;) {
        for (const Json& e : call("GetLiveCfg", Json::array()).value("events", Json::array()))
            loggedIn = loggedIn || (e[2].size() >= 2 && e[2][0] == Json(100) && e[2][1] == Json(0));
        if (!loggedIn)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(loggedIn) << "no login";
    call("LoginSuc", Json::array());
    call("Open", Json::array({ "" }));
    // Large frames, with a key frame every second.
    server.Camera("setVideo", Json::array({ Json { { "codec", "h264" }, { "width", 1280 }, { "height", 720 }, { "fps", 25 } } }));

    // The page reads nothing for seven seconds (about 7 MB of frames: more
    // than the sockets hold), then all that came.
    std::this_thread::sleep_for(std::chrono::seconds(7));
    const std::vector<StreamItem> items = streamItems(stream.ReadUntilClosed(4000));
    int frames = 0, skips = 0;
    std::map<std::uint32_t, std::uint32_t> last; // stream -> serial
    for (const StreamItem& item : items) {
        if (item.type != static_cast<int>(host::bridge::ItemType::Video) || item.payload.size() < host::bridge::kVideoHeaderBytes)
            continue;
        ++frames;
        std::uint32_t serial = 0; // the header's first field
        std::memcpy(&serial, item.payload.data(), sizeof serial);
        const bool key = item.payload[host::bridge::kVideoKeyFrameAt] == 1;
        const auto seen = last.find(item.number);
        if (seen == last.end() || serial != seen->second + 1) {
            EXPECT_TRUE(key) << "stream " << item.number << " goes on after a gap at frame " << serial << " with a frame that needs the ones before it";
            skips += seen != last.end();
        }
        last[item.number] = serial;
    }
    EXPECT_GT(frames, 25) << "the frames did not come";
    EXPECT_GT(skips, 0) << "the page never fell behind, so nothing was checked";
    server.Stop();
}

TEST(StreamPeer, APageWhoseBrowserStopsAnsweringEndsWhileItsStreamIsOpen)
{
    // In a network namespace of this test's own, where loopback can be cut.
    if (::unshare(CLONE_NEWNET) != 0 || !setLoopback(true))
        GTEST_SKIP() << "no network namespace of our own (needs CAP_SYS_ADMIN and CAP_NET_ADMIN)";
    ServeProcess server;
    ASSERT_TRUE(server.Start(TIRAVEX_TEST_WEB, ""));
    httplib::Client client("127.0.0.1", server.Port());
    auto made = client.Post("/tiravex/session", R"({"screen":[1280,720]})", "application/json");
    ASSERT_TRUE(made);
    ASSERT_EQ(made->status, 200);
    const std::string session = Json::parse(made->body)["session"].get<std::string>();
    RawClient stream(server.Port());
    ASSERT_TRUE(stream.Send("GET /tiravex/s/" + session + "/stream HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n\r\n"));
    ASSERT_FALSE(stream.ReadUntilClosed(1500).empty()) << "the stream sent nothing";
    ASSERT_EQ(childrenOf(server.Child().Pid()), 1);

    // The browser's machine goes away: nothing it was sent is acknowledged, and no end comes.
    ASSERT_TRUE(setLoopback(false));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (childrenOf(server.Child().Pid()) > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(childrenOf(server.Child().Pid()), 0) << "the page's worker still runs";
    ASSERT_TRUE(setLoopback(true));
    auto gone = client.Post(("/tiravex/s/" + session + "/close").c_str(), "", "application/json");
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->status, 404) << "the session is still there";
    EXPECT_EQ(server.Stop(), 0);
}
}

// The project's own camera page, as a person uses it all day.
class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (testing_support::ChromiumProgram().empty())
            GTEST_SKIP() << "no Chromium";
        // The server's controls record into a home and settings of this test's own.
        home = outputFolder() + "/home-" + std::to_string(::getpid());
        ASSERT_EQ(std::system(("rm -rf '" + home + "' && mkdir -p '" + home + "/settings'").c_str()), 0);
        const std::string ownHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("TIRAVEX_SETTINGS_DIR", (home + "/settings").c_str(), 1);
        const bool started = server.Start(TIRAVEX_PAGES_WEB, camera());
        ::setenv("HOME", ownHome.c_str(), 1);
        ::unsetenv("TIRAVEX_SETTINGS_DIR");
        ASSERT_TRUE(started);
        ASSERT_TRUE(browser.Start()) << "Chromium did not start";
        ASSERT_TRUE(browser.Open(server.Url() + pageName(), page));
        const std::string path = "/" + pageName().substr(0, pageName().find('?'));
        ASSERT_TRUE(page.WaitFor("location.pathname == '" + path + "' && document.readyState == 'complete'", kLoginMs));
        // The tests' measures of the picture.
        std::ifstream probe(std::string(TIRAVEX_TEST_WEB) + "/probe.js");
        std::stringstream text;
        text << probe.rdbuf();
        ASSERT_FALSE(page.Eval(text.str() + "\n; true").is_null());
    }
    void TearDown() override
    {
        browser.Stop();
        EXPECT_EQ(server.Stop(), 0) << "tiravex-serve did not end cleanly";
    }
    // The server's simulated camera: ours ("sim") or the standards' ("onvif").
    virtual std::string camera() const { return "sim"; }

    // A person's click on the middle of the element `selector`.
    void click(const std::string& selector)
    {
        Json at = page.Eval("(function () { var e = document.querySelector(\"" + selector + "\"); e.scrollIntoView({ block: 'center' });"
                            " var r = e.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()");
        ASSERT_TRUE(at.is_array()) << selector;
        page.Mouse("mousePressed", at[0].get<double>(), at[1].get<double>(), "left");
        page.Mouse("mouseReleased", at[0].get<double>(), at[1].get<double>(), "left");
    }
    // Types `text` into the field `selector`, replacing what it held.
    void type(const std::string& selector, const std::string& text)
    {
        click(selector);
        page.Eval("document.querySelector(\"" + selector + "\").select(), 1");
        page.Call("Input.insertText", Json { { "text", text } });
    }
    // Whether the page's window `box` shows something other than black.
    static std::string drawn(const std::string& box)
    {
        return "(function () { var c = " + box + ".firstChild; var d = Tiravex.picture(c).getContext('2d').getImageData(0, 0, c.width, c.height).data;"
               " for (var i = 0; i < d.length; i += 16) if (d[i] + d[i + 1] + d[i + 2] > 96) return true; return false; })()";
    }
    // How many pixels of the picture's part (given as shares of its size) are of the colour `test` (of r, g, b).
    static std::string coloured(double x0, double y0, double x1, double y1, const std::string& test)
    {
        return "(function () { var c = pictureOf('IPCam'), x = Math.floor(c.width * " + std::to_string(x0) + "), y = Math.floor(c.height * " + std::to_string(y0) + ");"
               " var d = Tiravex.picture(c).getContext('2d').getImageData(x, y, Math.floor(c.width * " + std::to_string(x1) + ") - x, Math.floor(c.height * " + std::to_string(y1) + ") - y).data, n = 0;"
               " for (var i = 0; i < d.length; i += 4) { var r = d[i], g = d[i + 1], b = d[i + 2]; if (" + test + ") ++n; } return n; })()";
    }
    virtual std::string pageName() const { return "viewer.html"; }
    std::string status() { return page.Eval("document.getElementById('status').textContent").get<std::string>(); }
    // The page's log in words, newest first.
    const std::string kLog = "document.getElementById('log').innerText";
    std::string log() { return page.Eval(kLog).get<std::string>(); }
    // The control's menu opened by the right button at the picture's centre: its width on the page.
    double menuWidth()
    {
        const std::string windows = "document.querySelectorAll('.tiravex-window')";
        // Each time somewhere else: two quick presses at one place are a double click.
        Json centre = page.Eval("centreOf('IPCam')");
        const double x = centre[0].get<double>() + 40 * (menus % 3), y = centre[1].get<double>() + 40 * (menus % 3);
        ++menus;
        page.Mouse("mousePressed", x, y, "right");
        page.Mouse("mouseReleased", x, y, "right");
        if (!page.WaitFor(windows + ".length == 1", 5000)) {
            page.Screenshot(outputFolder() + "/viewer-no-menu.png");
            return 0;
        }
        const double width = page.Eval(windows + "[0].getBoundingClientRect().width").get<double>();
        page.Call("Input.dispatchKeyEvent", Json { { "type", "rawKeyDown" }, { "windowsVirtualKeyCode", 27 }, { "key", "Escape" }, { "code", "Escape" } });
        page.Call("Input.dispatchKeyEvent", Json { { "type", "keyUp" }, { "windowsVirtualKeyCode", 27 }, { "key", "Escape" }, { "code", "Escape" } });
        return page.WaitFor(windows + ".length == 0", 5000) ? width : 0;
    }
    // The probe of the tests, in the page as it is now.
    bool loadProbe()
    {
        std::ifstream probe(std::string(TIRAVEX_TEST_WEB) + "/probe.js");
        std::stringstream text;
        text << probe.rdbuf();
        return !page.Eval(text.str() + "\n; true").is_null();
    }

    // The first file named *`ending` that appears in `folder` within `timeoutMs`.
    static std::string fileIn(const std::string& folder, const std::string& ending, int timeoutMs)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            if (DIR* dir = ::opendir(folder.c_str())) {
                std::string found;
                while (dirent* entry = ::readdir(dir)) {
                    const std::string name = entry->d_name;
                    if (name.size() > ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                        found = folder + "/" + name;
                }
                ::closedir(dir);
                if (!found.empty())
                    return found;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } while (std::chrono::steady_clock::now() < until);
        return {};
    }
    static std::string contents(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }
    // The browser's downloads land in a fresh folder.
    std::string downloadsFolder()
    {
        const std::string folder = home + "/downloads";
        if (std::system(("mkdir -p '" + folder + "'").c_str()) != 0)
            return {};
        if (page.Call("Page.setDownloadBehavior", Json { { "behavior", "allow" }, { "downloadPath", folder } }).contains("error"))
            return {};
        return folder;
    }

    std::string home;
    int menus = 0;

    ServeProcess server;
    Chromium browser;
    CdpPage page;
};

TEST_F(Viewer, AWrongPasswordIsSaidInWordsTheRightOneThenShowsThePictureAndAfterTheLinkDropsItComesBackByItself)
{
    // Nothing listens on port 1 here: the page says so in words.
    const std::string port = page.Eval("document.getElementById('port').value").get<std::string>();
    type("#port", "1");
    click("#login");
    ASSERT_TRUE(page.WaitFor("/cannot be reached/.test(document.getElementById('status').textContent)", kLoginMs)) << status();
    type("#port", port);

    type("#password", "not-the-password");
    click("input[value=Login]");
    ASSERT_TRUE(page.WaitFor("/password/i.test(document.getElementById('status').textContent)", kLoginMs)) << status();
    EXPECT_EQ(status().find("status"), std::string::npos) << status();
    EXPECT_EQ(status().find("again"), std::string::npos) << "a refused password is not tried again: " << status();
    // The page's log says it in words; the details keep the code.
    EXPECT_TRUE(page.WaitFor("/Wrong user name or password/.test(" + kLog + ") && /100: status 1,/.test(document.getElementById('events').value)", 5000)) << log();
    page.Screenshot(outputFolder() + "/viewer-wrong-password.png");

    type("#password", server.Camera("account")["password"].get<std::string>());
    click("input[value=Login]");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture after the right password: " << status();
    page.Screenshot(outputFolder() + "/viewer-live.png");
    // The camera's alarm is a notice in the log, with its kind (1: sound).
    server.Camera("alarm", Json::array({ 1 }));
    EXPECT_TRUE(page.WaitFor("!!document.querySelector('#log li.alarm') && /Alarm: sound/.test(" + kLog + ")", 5000)) << log();

    // The camera drops the link: the page says so, tries again after a
    // wait it shows, and the picture comes back by itself.
    page.Eval("IPCam.markedOld = true");
    server.Camera("dropLink");
    ASSERT_TRUE(page.WaitFor("/again/i.test(document.getElementById('status').textContent)", kLoginMs)) << status();
    page.Screenshot(outputFolder() + "/viewer-reconnecting.png");
    EXPECT_TRUE(page.WaitFor("!IPCam.markedOld && brightSamples('IPCam') > 5000", 30000)) << "the picture did not come back: " << status() << page.Eval("document.getElementById('events').value");
    page.Screenshot(outputFolder() + "/viewer-back.png");
    EXPECT_NE(log().find("The link to the camera was lost"), std::string::npos) << log();
    // Only the fresh control holds the camera: the released ones let go.
    EXPECT_LE(server.Camera("roadsOpen").get<int>(), 1);
}

TEST_F(Viewer, ASnapshotSavedFromItsWindowIsTheBrowsersDownload)
{
    const std::string folder = downloadsFolder();
    ASSERT_FALSE(folder.empty());
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    // A member's chooser opens nothing on the server's display: it is cancelled.
    EXPECT_EQ(page.Eval("IPCam.ManualRecordPath"), Json(""));

    const std::string windows = "document.querySelectorAll('.tiravex-window')";
    click("input[value=Snapshot]");
    ASSERT_TRUE(page.WaitFor(windows + ".length == 1", 5000)) << "no snapshot window";
    ASSERT_TRUE(page.WaitFor(drawn(windows + "[0]"), 5000)) << "the snapshot window shows no picture";
    Json centre = page.Eval("(function () { var w = " + windows + "[0]; w.scrollIntoView({ block: 'center' }); var r = w.getBoundingClientRect();"
                            " return [r.left + r.width / 2, r.top + r.height / 2]; })()");
    ASSERT_TRUE(centre.is_array());
    page.Mouse("mousePressed", centre[0].get<double>(), centre[1].get<double>(), "right");
    page.Mouse("mouseReleased", centre[0].get<double>(), centre[1].get<double>(), "right");
    ASSERT_TRUE(page.WaitFor(windows + ".length == 2 && " + drawn(windows + "[1]"), 5000)) << "no menu on the snapshot window";
    Json item = page.Eval("(function () { var r = " + windows + "[1].getBoundingClientRect(); return [r.left + 20, r.top + Math.min(r.height / 2, 10)]; })()");
    page.Screenshot(outputFolder() + "/viewer-snapshot-menu.png");
    page.Mouse("mouseMoved", item[0].get<double>(), item[1].get<double>());
    page.Mouse("mousePressed", item[0].get<double>(), item[1].get<double>(), "left");
    page.Mouse("mouseReleased", item[0].get<double>(), item[1].get<double>(), "left");

    // The picture lands in the browser's downloads as a JPEG file.
    const std::string saved = fileIn(folder, ".jpg", kPictureMs);
    ASSERT_FALSE(saved.empty()) << "no download in " << folder;
    const std::string bytes = contents(saved);
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xD8")) << "not a JPEG";
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string("\xFF\xD9")) << "not a whole JPEG";
}

TEST_F(Viewer, ARecordingMadeInThePageIsListedAndDownloadedOnlyByThatPage)
{
    const std::string folder = downloadsFolder();
    ASSERT_FALSE(folder.empty());
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    click("#record");
    const std::string recorded = home + "/IPCamRecord/" + server.Camera("account")["address"].get<std::string>();
    ASSERT_FALSE(fileIn(recorded, ".avi", kPictureMs).empty()) << "nothing recorded in " << recorded;
    // Two seconds of pictures, as the page shows them (the camera's frames
    // decoded by the browser, or the control's pictures).
    const std::string shown = "(Tiravex.stats.pictures + Tiravex.stats.video.frames)";
    page.Eval("window.recordedFrom = " + shown + ", 1");
    ASSERT_TRUE(page.WaitFor(shown + " > recordedFrom + 40", kPictureMs));
    click("#record");
    ASSERT_TRUE(page.WaitFor("document.getElementById('recordings').rows.length == 2 && /[1-9]/.test(document.getElementById('recordings').rows[1].cells[2].textContent)", kPictureMs))
        << page.Eval("document.getElementById('recordings').innerText");
    page.Screenshot(outputFolder() + "/viewer-recordings.png");
    const Json row = page.Eval("Array.prototype.map.call(document.getElementById('recordings').rows[1].cells, function (c) { return c.textContent; })");
    EXPECT_TRUE(row[0].get<std::string>().rfind("manual_", 0) == 0) << row;
    EXPECT_EQ(row[1].get<std::string>().size(), 19u) << row; // YYYY-MM-DD hh:mm:ss
    EXPECT_NE(row[3].get<std::string>().find("B"), std::string::npos) << row;
    EXPECT_TRUE(page.WaitFor("/Recording stopped[\\s\\S]*Recording started/.test(" + kLog + ")", 5000)) << log();

    click("#recordings a");
    const std::string downloaded = fileIn(folder, ".avi", kPictureMs);
    ASSERT_FALSE(downloaded.empty()) << "no download in " << folder;
    const std::string original = fileIn(recorded, ".avi", 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPictureMs);
    while (contents(downloaded).size() < contents(original).size() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(contents(downloaded) == contents(original)) << "the download is not the recording";

    // Only this page, by the number its list gave: not another session, not
    // another site, not a path.
    const std::string link = page.Eval("document.querySelector('#recordings a').getAttribute('href')").get<std::string>();
    httplib::Client client("127.0.0.1", server.Port());
    auto other = client.Post("/tiravex/session", R"({"screen":[1280,720],"callbacks":[]})", "application/json");
    ASSERT_TRUE(other && other->status == 200);
    const std::string otherSession = Json::parse(other->body)["session"].get<std::string>();
    const std::string number = link.substr(link.rfind('/') + 1);
    auto fromOther = client.Get("/tiravex/s/" + otherSession + "/recording/" + number);
    ASSERT_TRUE(fromOther);
    EXPECT_EQ(fromOther->status, 404);
    auto otherList = client.Get("/tiravex/s/" + otherSession + "/recordings");
    ASSERT_TRUE(otherList && otherList->status == 200);
    EXPECT_EQ(Json::parse(otherList->body)["recordings"], Json::array());
    auto crossSite = client.Get(link, httplib::Headers { { "Sec-Fetch-Site", "cross-site" } });
    ASSERT_TRUE(crossSite);
    EXPECT_EQ(crossSite->status, 403);
    const std::string session = link.substr(0, link.rfind('/'));
    for (const std::string& path : { session + "/../../../../etc/passwd", session + "/" + original, session + "/99", session + "/0" }) {
        auto answer = client.Get(path);
        ASSERT_TRUE(answer) << path;
        EXPECT_EQ(answer->status, 404) << path;
    }
    auto ours = client.Get(link);
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->status, 200);
    EXPECT_TRUE(ours->body == contents(original));
}

class Grid : public Viewer, public ::testing::WithParamInterface<int> {
protected:
    std::string pageName() const override { return "grid.html?cameras=" + std::to_string(GetParam()); }
};

TEST_P(Grid, EveryTileShowsItsLivePictureAndHoldsItsCamerasRatio)
{
    const int cameras = GetParam();
    // Tiles whose picture is mostly lit, of the frames that hold one.
    const std::string lit = "(function () { var n = 0; for (var i = 0; i < " + std::to_string(cameras) +
        "; i++) { var f = document.getElementById('tile' + i); var d = f && f.contentDocument; var c = d && d.querySelector('#IPCam canvas');"
        " if (!c || !c.width) continue; var x = f.contentWindow.Tiravex.picture(c).getContext('2d').getImageData(0, 0, c.width, c.height).data, b = 0, all = 0;"
        " for (var j = 0; j < x.length; j += 64) { ++all; if (x[j] + x[j + 1] + x[j + 2] > 96) ++b; } if (b > all / 3) ++n; } return n; })()";
    // The last tile has an address of its own, where nothing listens.
    const std::string last = "tile" + std::to_string(cameras - 1);
    type("#" + last + "-address", "127.0.0.1:1:1");
    click("#show");
    EXPECT_TRUE(page.WaitFor(lit + " == " + std::to_string(cameras - 1), kLoginMs * 2)) << page.Eval(lit) << " of " << cameras - 1 << " tiles show a picture";
    EXPECT_TRUE(page.WaitFor("/127.0.0.1:1 cannot be reached/.test(document.getElementById('" + last + "').contentDocument.getElementById('status').textContent)", kLoginMs))
        << page.Eval("document.getElementById('" + last + "').contentDocument.getElementById('status').textContent");
    page.Screenshot(outputFolder() + "/grid-" + std::to_string(cameras) + ".png");
    const Json ratio = page.Eval("(function () { var c = document.getElementById('tile0').contentDocument.querySelector('#IPCam canvas').getBoundingClientRect();"
                                 " return c.height / c.width; })()");
    ASSERT_TRUE(ratio.is_number());
    EXPECT_NEAR(ratio.get<double>(), 0.75, 0.02);
}

INSTANTIATE_TEST_SUITE_P(Cameras, Grid, ::testing::Values(4, 9));

TEST_F(Viewer, LoggingInAgainWhileTheAboutBoxWaitsKeepsThePageAndItsPicture)
{
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    const std::string windows = "document.querySelectorAll('.tiravex-window')";
    click("input[value=About]");
    ASSERT_TRUE(page.WaitFor(windows + ".length == 1", 5000)) << "no About box";
    // The old control's dialog still runs when the page lets the control go.
    page.Eval("IPCam.markedOld = true");
    click("#login");
    EXPECT_TRUE(page.WaitFor("!IPCam.markedOld && brightSamples('IPCam') > 5000", kLoginMs)) << "no picture from the fresh control: " << status();
    // Return on the About box (the keyboard goes where the person clicked).
    page.Eval(windows + "[0].firstChild.focus(), 1");
    page.Call("Input.dispatchKeyEvent", Json { { "type", "rawKeyDown" }, { "windowsVirtualKeyCode", 13 }, { "key", "Enter" }, { "code", "Enter" } });
    page.Call("Input.dispatchKeyEvent", Json { { "type", "keyUp" }, { "windowsVirtualKeyCode", 13 }, { "key", "Enter" }, { "code", "Enter" } });
    EXPECT_TRUE(page.WaitFor(windows + ".length == 0", 5000)) << "the About box stays";
    // The page's controls still answer, and only the fresh one holds the camera.
    EXPECT_TRUE(page.Eval("typeof IPCam.GetCGIResult('getDevInfo', 0)") == Json("string"));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseMs);
    while (server.Camera("roadsOpen").get<int>() > 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server.Camera("roadsOpen"), Json(1));
}

TEST_F(Viewer, TheBrowsersFullScreenAndTheControlsStayInStepAlsoInScreenPanTiltMode)
{
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    const std::string windows = "document.querySelectorAll('.tiravex-window')";
    const std::string full = "document.fullscreenElement && document.fullscreenElement.className == 'tiravex-window'";
    const std::string centre = "[innerWidth / 2, innerHeight / 2]";
    click("input[value='Full Screen']");
    ASSERT_TRUE(page.WaitFor(full, 5000)) << "the control's full screen is not the browser's";

    // A middle click in full screen points the camera by the picture; the
    // pointer becomes the control's pan/tilt arrow.
    Json at = page.Eval(centre);
    page.Mouse("mousePressed", at[0].get<double>(), at[1].get<double>(), "middle");
    page.Mouse("mouseReleased", at[0].get<double>(), at[1].get<double>(), "middle");
    ASSERT_TRUE(page.WaitFor("/url\\(/.test(document.fullscreenElement.firstChild.style.cursor)", 5000)) << "no screen pan/tilt";

    // The browser leaves its full screen (a person's Escape): the control
    // leaves its own, and the page is back with its picture.
    page.Eval("document.exitFullscreen().then(function () { return 1; })");
    EXPECT_TRUE(page.WaitFor(windows + ".length == 0", 5000)) << "the picture stays over the page";
    page.Screenshot(outputFolder() + "/viewer-left-full-screen.png");
    EXPECT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kPictureMs));

    // The other way: the control leaving full screen (a double click) ends the browser's.
    click("input[value='Full Screen']");
    ASSERT_TRUE(page.WaitFor(full, 5000)) << "no full screen the second time";
    at = page.Eval(centre);
    page.Mouse("mousePressed", at[0].get<double>(), at[1].get<double>(), "left", 0, 1);
    page.Mouse("mouseReleased", at[0].get<double>(), at[1].get<double>(), "left", 0, 1);
    page.Mouse("mousePressed", at[0].get<double>(), at[1].get<double>(), "left", 0, 2);
    page.Mouse("mouseReleased", at[0].get<double>(), at[1].get<double>(), "left", 0, 2);
    EXPECT_TRUE(page.WaitFor("!document.fullscreenElement && " + windows + ".length == 0", 5000)) << "the browser stays in full screen";
}

TEST_F(Viewer, ASnapshotOpensAtItsPicturesRatioWithinTheViewAndClosedWindowsLeaveNoGhost)
{
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    const std::string windows = "document.querySelectorAll('.tiravex-window')";

    // The camera's 640 x 480 picture opens at 4:3 below its title bar, inside the page's view.
    click("input[value=Snapshot]");
    ASSERT_TRUE(page.WaitFor(windows + ".length == 1 && " + drawn(windows + "[0]"), 5000)) << "no snapshot window";
    page.Screenshot(outputFolder() + "/viewer-snapshot.png");
    const Json box = page.Eval("(function () { var r = " + windows + "[0].getBoundingClientRect(), c = " + windows + "[0].firstChild;"
                               " return [r.left, r.top, r.right, r.bottom, innerWidth, innerHeight, c.width, c.height]; })()");
    ASSERT_TRUE(box.is_array()) << box;
    EXPECT_GE(box[0].get<double>(), 0) << box;
    EXPECT_GE(box[1].get<double>(), 0) << box;
    EXPECT_LE(box[2].get<double>(), box[4].get<double>()) << box;
    EXPECT_LE(box[3].get<double>(), box[5].get<double>()) << box;
    EXPECT_LT((box[2].get<double>() - box[0].get<double>()) * (box[3].get<double>() - box[1].get<double>()), 0.8 * box[4].get<double>() * box[5].get<double>())
        << "the snapshot covers the page: " << box;
    constexpr int kTitleBar = 24;
    EXPECT_NEAR((box[7].get<double>() - kTitleBar) / box[6].get<double>(), 0.75, 0.01) << "the picture is stretched: " << box;
    EXPECT_NEAR((box[3].get<double>() - box[1].get<double>()) / (box[2].get<double>() - box[0].get<double>()), box[7].get<double>() / box[6].get<double>(), 0.01)
        << "the window is shown stretched: " << box;

    // The About box opens over the snapshot and the live picture; once it
    // is closed neither shows what it drew (its light grey face, a colour
    // the camera's pictures do not have).
    const std::string ghost = "(function (c) { var d = Tiravex.picture(c).getContext('2d').getImageData(0, 0, c.width, c.height).data, n = 0;"
                              " for (var i = 0; i < d.length; i += 16) if (d[i] > 0xE8 && d[i + 1] > 0xE8 && d[i + 2] > 0xE8 && Math.abs(d[i] - d[i + 2]) < 6) ++n; return n; })";
    const std::string ghosts = ghost + "(" + windows + "[0].firstChild) + " + ghost + "(pictureOf('IPCam'))";
    const int before = page.Eval(ghosts).get<int>();
    // The snapshot's picture does not change: what it shows after is what it showed before.
    const std::string pixels = "(function () { var c = " + windows + "[0].firstChild; return Array.prototype.slice.call(Tiravex.picture(c).getContext('2d').getImageData(0, 0, c.width, c.height).data); })()";
    page.Eval("window.snapshotBefore = " + pixels + ", 1");
    const std::string changed = "(function (now) { var n = 0; for (var i = 0; i < now.length; i += 64) if (Math.abs(now[i] - snapshotBefore[i]) + Math.abs(now[i + 1] - snapshotBefore[i + 1]) > 48) ++n; return n; })(" + pixels + ")";
    page.Eval("IPCam.AboutBox(), 1");
    ASSERT_TRUE(page.WaitFor(windows + ".length == 2", 5000)) << "no About box";
    page.Screenshot(outputFolder() + "/viewer-about.png");
    page.Eval(windows + "[1].firstChild.focus(), 1");
    page.Call("Input.dispatchKeyEvent", Json { { "type", "rawKeyDown" }, { "windowsVirtualKeyCode", 13 }, { "key", "Enter" }, { "code", "Enter" } });
    page.Call("Input.dispatchKeyEvent", Json { { "type", "keyUp" }, { "windowsVirtualKeyCode", 13 }, { "key", "Enter" }, { "code", "Enter" } });
    ASSERT_TRUE(page.WaitFor(windows + ".length == 1", 5000)) << "the About box stays";
    EXPECT_TRUE(page.WaitFor(ghosts + " <= " + std::to_string(before + 20), 3000)) << "the About box's ghost stays: " << page.Eval(ghosts) << " light points, " << before << " before";
    EXPECT_TRUE(page.WaitFor(changed + " < 20", 3000)) << "the snapshot window is not painted again as it was: " << page.Eval(changed) << " points differ";
    page.Screenshot(outputFolder() + "/viewer-about-closed.png");
}

TEST_F(Viewer, ALanguageChangeAppliesAtOnceAndTheBrowserRemembersItWithTheCameraButNeverThePassword)
{
    const std::string password = server.Camera("account")["password"].get<std::string>();
    const std::string chooseTraditional = "(function () { var s = document.getElementById('language'); s.value = '1'; s.dispatchEvent(new Event('change')); return 1; })()";
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    const double english = menuWidth();
    ASSERT_GT(english, 0) << "no menu";

    // A password typed but not used is never kept, whatever else is.
    type("#password", "typed-then-changed");
    page.Eval(chooseTraditional);
    const double traditional = menuWidth();
    ASSERT_GT(traditional, 0) << "no menu";
    EXPECT_NE(traditional, english) << "the menu did not change language without a login";
    const std::string kept = page.Eval("localStorage.getItem('tiravex.camera') || ''").get<std::string>();
    EXPECT_EQ(kept.find("typed-then-changed"), std::string::npos) << kept;
    const Json remembered = Json::parse(kept, nullptr, false);
    ASSERT_TRUE(remembered.is_object()) << kept;
    EXPECT_EQ(remembered.value("language", ""), "1") << kept;
    EXPECT_EQ(remembered.value("address", ""), server.Camera("account")["address"].get<std::string>()) << kept;
    EXPECT_FALSE(remembered.contains("password")) << kept;

    // Loaded again, the page has the language (the server's simulated camera
    // fills in its own address and account); the control it logs in with
    // speaks that language from the start.
    page.Eval("window.beforeReload = true, location.reload(), 1");
    ASSERT_TRUE(page.WaitFor("!window.beforeReload && document.readyState == 'complete' && document.getElementById('status').textContent == 'Not connected'", kLoginMs));
    ASSERT_TRUE(loadProbe());
    EXPECT_EQ(page.Eval("document.getElementById('language').value"), Json("1"));
    EXPECT_EQ(page.Eval("document.getElementById('user').value"), server.Camera("account")["user"]);
    EXPECT_NE(page.Eval("document.getElementById('password').value").get<std::string>(), "typed-then-changed");
    type("#password", password);
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    EXPECT_EQ(menuWidth(), traditional) << "the fresh control does not speak the remembered language";
}

TEST_F(Viewer, ThePictureFitsPhoneLaptopAndLargeScreensAtTheCamerasRatioALongPressOpensTheMenuAPinchZoomsAndResetZoomUndoesIt)
{
    const struct {
        int width, height;
        bool mobile;
    } screens[] = { { 390, 844, true }, { 1280, 800, false }, { 2560, 1440, false } };
    // The picture's box on the page, the view, and the size of what the control draws.
    const std::string measure = "(function () { scrollTo(0, 0); var c = pictureOf('IPCam'), r = c.getBoundingClientRect();"
                                " return [r.left, r.top, r.width, r.height, innerWidth, innerHeight, c.width, c.height, document.documentElement.scrollWidth]; })()";
    for (const auto& screen : screens) {
        const std::string name = std::to_string(screen.width) + "x" + std::to_string(screen.height);
        // A person opens the page on that screen and logs in.
        page.Call("Emulation.setDeviceMetricsOverride", Json { { "width", screen.width }, { "height", screen.height }, { "deviceScaleFactor", 1 }, { "mobile", screen.mobile } });
        // The old page is marked, so that only the reloaded one is waited for.
        page.Eval("window.beforeReload = true, location.reload(), 1");
        ASSERT_TRUE(page.WaitFor("!window.beforeReload && document.readyState == 'complete' && innerWidth == " + std::to_string(screen.width) + " && document.getElementById('status').textContent == 'Not connected'", kLoginMs)) << name;
        ASSERT_TRUE(loadProbe());
        click("#login");
        ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << name << ": no picture: " << status();
        // The control draws at the size its box has on the page.
        const std::string settled = "(function (m) { return m[4] == " + std::to_string(screen.width) + " && Math.abs(m[6] - m[2]) <= 1 && Math.abs(m[7] - m[3]) <= 1; })(" + measure + ")";
        EXPECT_TRUE(page.WaitFor(settled + " && brightSamples('IPCam') > 1000", kPictureMs)) << name << ": " << page.Eval(measure);
        const Json m = page.Eval(measure);
        page.Screenshot(outputFolder() + "/viewer-" + name + ".png");
        ASSERT_TRUE(m.is_array()) << name;
        const double left = m[0].get<double>(), top = m[1].get<double>(), width = m[2].get<double>(), height = m[3].get<double>();
        const double viewWidth = m[4].get<double>(), viewHeight = m[5].get<double>();
        EXPECT_GE(left, 0) << name << ": " << m;
        EXPECT_GE(top, 0) << name << ": " << m;
        EXPECT_LE(left + width, viewWidth) << name << ": " << m;
        EXPECT_LE(top + height, viewHeight) << name << ": " << m;
        EXPECT_NEAR(height / width, 0.75, 0.01) << name << ": " << m;
        // It uses the screen: most of a phone's width, most of a large screen's height.
        EXPECT_GT(std::max(width / viewWidth, height / viewHeight), 0.6) << name << ": " << m;
        EXPECT_LE(m[8].get<double>(), viewWidth) << name << ": the page scrolls sideways";
    }

    // A finger held on the picture opens the control's menu.
    page.Call("Emulation.setTouchEmulationEnabled", Json { { "enabled", true } });
    const std::string windows = "document.querySelectorAll('.tiravex-window')";
    Json centre = page.Eval("centreOf('IPCam')");
    const Json finger = Json::array({ Json { { "x", centre[0] }, { "y", centre[1] } } });
    page.Call("Input.dispatchTouchEvent", Json { { "type", "touchStart" }, { "touchPoints", finger } });
    EXPECT_TRUE(page.WaitFor(windows + ".length == 1", 5000)) << "no menu for a long press";
    page.Call("Input.dispatchTouchEvent", Json { { "type", "touchEnd" }, { "touchPoints", Json::array() } });
    page.Screenshot(outputFolder() + "/viewer-touch-menu.png");
    EXPECT_TRUE(page.WaitFor(windows + ".length == 1", 1000)) << "the menu went with the finger";
    page.Call("Input.dispatchKeyEvent", Json { { "type", "rawKeyDown" }, { "windowsVirtualKeyCode", 27 }, { "key", "Escape" }, { "code", "Escape" } });
    page.Call("Input.dispatchKeyEvent", Json { { "type", "keyUp" }, { "windowsVirtualKeyCode", 27 }, { "key", "Escape" }, { "code", "Escape" } });
    ASSERT_TRUE(page.WaitFor(windows + ".length == 0", 5000)) << "the menu stays";

    // Two fingers moving apart zoom in: the frame counter at the picture's top left leaves the view.
    ASSERT_TRUE(page.WaitFor("counterCrossings('IPCam') > 6", kPictureMs)) << "no frame counter";
    auto fingers = [&](double apart) {
        return Json::array({ Json { { "x", centre[0].get<double>() - apart }, { "y", centre[1] }, { "id", 1 } },
            Json { { "x", centre[0].get<double>() + apart }, { "y", centre[1] }, { "id", 2 } } });
    };
    page.Call("Input.dispatchTouchEvent", Json { { "type", "touchStart" }, { "touchPoints", fingers(20) } });
    for (double apart = 40; apart <= 300; apart += 20)
        page.Call("Input.dispatchTouchEvent", Json { { "type", "touchMove" }, { "touchPoints", fingers(apart) } });
    page.Call("Input.dispatchTouchEvent", Json { { "type", "touchEnd" }, { "touchPoints", Json::array() } });
    EXPECT_TRUE(page.WaitFor("counterCrossings('IPCam') < 5", 5000)) << "the pinch did not zoom";
    EXPECT_EQ(page.Eval(windows + ".length"), Json(0)) << "two fingers opened something";

    // Under the picture: the stream's size and frame rate, and the zoom,
    // which Reset zoom takes back to the whole picture.
    const std::string facts = "document.getElementById('facts').innerText";
    // The camera sends 15 frames a second (fewer reach a slow machine's page).
    EXPECT_TRUE(page.WaitFor("(function (m) { return m && m[1] >= 8 && m[1] <= 17; })(/640 \u00d7 480, (\\d+) fps/.exec(" + facts + "))", 5000)) << page.Eval(facts);
    EXPECT_TRUE(page.WaitFor("/Zoom \u00d7[1-9]\\.\\d\\d/.test(" + facts + ") && !/\u00d71\\.00/.test(" + facts + ")", 5000)) << page.Eval(facts);
    click("#resetzoom");
    // The frame counter is back in view.
    EXPECT_TRUE(page.WaitFor("counterCrossings('IPCam') > 6", 5000)) << "the zoom was not reset";
    EXPECT_TRUE(page.WaitFor("/Zoom \u00d71\\.00/.test(" + facts + ")", 5000)) << page.Eval(facts);
    // A camera whose stream turns wide: the picture takes its ratio.
    server.Camera("setVideo", Json::array({ Json { { "width", 1280 }, { "height", 720 } } }));
    EXPECT_TRUE(page.WaitFor("/1280 \u00d7 720/.test(" + facts + ") && (function (r) { return Math.abs(r.height / r.width - 0.5625) < 0.01; })(pictureOf('IPCam').getBoundingClientRect())", kPictureMs))
        << page.Eval(facts) << page.Eval(measure);
    page.Screenshot(outputFolder() + "/viewer-wide.png");
}

class Playback : public Viewer {
protected:
    std::string pageName() const override { return "playback.html"; }
};

TEST_F(Playback, ARecordingPickedFromTheListPlaysStaysInSightWhilePausedGoesWhereTheTimelineIsClickedAndEnds)
{
    const std::string position = "document.getElementById('position').textContent";
    const std::string statusText = "document.getElementById('status').textContent";
    // The simulated camera's recording is offered with its length.
    ASSERT_TRUE(page.WaitFor("document.querySelectorAll('#list .recording').length == 1", 5000));
    EXPECT_EQ(page.Eval("document.querySelector('#list .recording').value"), Json("clip1.avi  0:05"));
    page.Eval("document.getElementById('path').value = '', 1");
    click("#list .recording");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 2000 && " + position + " != '0:00 / 0:05'", kLoginMs)) << "no playback: " << status();
    page.Screenshot(outputFolder() + "/playback.png");

    // Paused, the last picture stays with the control's red "PAUSE" over
    // it, also after the 2.5 s in which a picture without frames goes black.
    click("#pause");
    ASSERT_TRUE(page.WaitFor("/Paused/.test(" + statusText + ")", 5000)) << status();
    page.Eval("window.pausedAt = Date.now(), 1");
    ASSERT_TRUE(page.WaitFor("Date.now() - pausedAt > 4000", 6000));
    EXPECT_GT(page.Eval("brightSamples('IPCam')").get<int>(), 2000) << "the paused picture went black";
    EXPECT_GT(page.Eval(coloured(0.3, 0.3, 0.7, 0.7, "r > 150 && g < 90 && b < 90")).get<int>(), 60) << "no PAUSE";
    page.Screenshot(outputFolder() + "/playback-paused.png");
    const std::string at = page.Eval(position).get<std::string>();
    click("#pause");
    EXPECT_TRUE(page.WaitFor(position + " > '" + at + "' && /Playing/.test(" + statusText + ")", 5000)) << status();

    // A click at 70 % of the timeline goes to second 3 of 5.
    const Json line = page.Eval("(function () { var r = document.getElementById('timeline').getBoundingClientRect(); return [r.left + r.width * 0.7, r.top + r.height / 2]; })()");
    page.Mouse("mousePressed", line[0].get<double>(), line[1].get<double>(), "left");
    page.Mouse("mouseReleased", line[0].get<double>(), line[1].get<double>(), "left");
    EXPECT_TRUE(page.WaitFor("/Moved to 0:03/.test(" + statusText + ")", 5000)) << status();
    EXPECT_TRUE(page.WaitFor("/ended/.test(" + statusText + ")", kPictureMs)) << status();
    EXPECT_EQ(page.Eval(position), Json("0:05 / 0:05")) << "the end of a 5 s recording";
    EXPECT_EQ(page.Eval("document.getElementById('played').style.width"), Json("100%"));
}

class Areas : public Viewer {
protected:
    std::string pageName() const override { return "areas.html"; }
    // A person's drag over the picture, between two points given as shares of its size.
    void drag(double x0, double y0, double x1, double y1)
    {
        const Json r = page.Eval("(function () { var r = pictureOf('IPCam').getBoundingClientRect(); return [r.left, r.top, r.width, r.height]; })()");
        auto at = [&](double fx, double fy) { return std::pair { r[0].get<double>() + fx * r[2].get<double>(), r[1].get<double>() + fy * r[3].get<double>() }; };
        const auto [ax, ay] = at(x0, y0);
        const auto [bx, by] = at(x1, y1);
        page.Mouse("mousePressed", ax, ay, "left");
        for (int step = 1; step <= 4; ++step)
            page.Mouse("mouseMoved", ax + (bx - ax) * step / 4, ay + (by - ay) * step / 4, "left");
        page.Mouse("mouseReleased", bx, by, "left");
    }
    // The last CGI text starting with `command` that the camera received on its road.
    std::string lastSent(const std::string& command)
    {
        std::string found;
        for (const auto& c : server.Camera("roadLog"))
            if (c.value("text", "").rfind(command, 0) == 0)
                found = c["text"].get<std::string>();
        return found;
    }
    static int valueIn(const std::string& cgi, const std::string& name)
    {
        const std::size_t at = cgi.find("&" + name + "=");
        return at == std::string::npos ? -1 : std::atoi(cgi.c_str() + at + name.size() + 2);
    }
};

TEST_F(Areas, CellsDraggedAndMasksDrawnAndDeletedInThePageAreSavedToTheCamera)
{
    const std::string statusText = "document.getElementById('status').textContent";
    click("#login");
    // The editor shows the camera's picture under its blue grid.
    const std::string grid = coloured(0, 0, 1, 1, "b > 180 && r < 90 && g < 90") + " > 1000";
    ASSERT_TRUE(page.WaitFor("/no areas yet/.test(" + statusText + ") && brightSamples('IPCam') > 2000 && " + grid, kLoginMs)) << status();
    // From the middle of cell (0, 0) to that of cell (2, 1) of the 10 x 10 grid.
    drag(0.05, 0.05, 0.25, 0.15);
    EXPECT_TRUE(page.WaitFor(coloured(0, 0, 0.3, 0.2, "r > 180 && g < 90 && b < 90") + " > 200", 5000)) << "no red cells over the picture";
    EXPECT_LT(page.Eval(coloured(0.4, 0.4, 1, 1, "r > 180 && g < 90 && b < 90")).get<int>(), 50) << "red cells elsewhere";
    page.Screenshot(outputFolder() + "/areas-motion.png");
    click("#save");
    ASSERT_TRUE(page.WaitFor("/saved the motion areas/.test(" + statusText + ")", 5000)) << status();
    EXPECT_EQ(lastSent("cmd=setMotionDetectConfig"), "cmd=setMotionDetectConfig&isEnable=1&area0=7&area1=7&area2=0&area3=0&area4=0&area5=0&area6=0&area7=0&area8=0&area9=0");

    // The window shrinks: the open editor takes the picture's new size, the
    // marked cells staying the same share of the picture.
    const std::string box = "(function () { var c = pictureOf('IPCam'), r = c.getBoundingClientRect(); return Math.round(r.width) + 'x' + c.width; })()";
    auto resize = [&](int width, int height) {
        const std::string before = page.Eval(box).get<std::string>();
        page.Call("Emulation.setDeviceMetricsOverride", Json { { "width", width }, { "height", height }, { "deviceScaleFactor", 1 }, { "mobile", false } });
        // The new size, then no change for 400 ms with no refit pending (the
        // viewport's width and height may come as two resizes).
        return page.WaitFor("(function (b) { var p = b.split('x'); return p[0] == p[1] && b != '" + before + "'; })(" + box + ")", 5000)
            && page.WaitFor("(function (b) { if (window.lastBox !== b) { window.lastBox = b; window.lastBoxAt = Date.now(); }"
                            " return !refitTimer && Date.now() - window.lastBoxAt > 400; })(" + box + ")", 5000);
    };
    ASSERT_TRUE(resize(800, 600)) << page.Eval(box);
    EXPECT_TRUE(page.WaitFor(coloured(0, 0, 0.3, 0.2, "r > 180 && g < 90 && b < 90") + " > 40", 5000)) << "the marked cells were lost";
    EXPECT_TRUE(page.WaitFor(coloured(0.33, 0, 1, 1, "r > 180 && g < 90 && b < 90") + " < 50", 5000)) << "the cells kept their old size";

    ASSERT_TRUE(resize(1280, 960)) << page.Eval(box);

    // The mask editor: two rectangles, the first selected by a click and deleted.
    page.Eval("(function () { var s = document.getElementById('editor'); s.value = 'masks'; s.dispatchEvent(new Event('change')); })(), 1");
    ASSERT_TRUE(page.WaitFor("/no areas yet/.test(" + statusText + ") && getComputedStyle(document.getElementById('delete')).display != 'none'", 5000)) << status();
    drag(0.1, 0.1, 0.3, 0.3);
    drag(0.5, 0.5, 0.8, 0.8);
    drag(0.2, 0.2, 0.2, 0.2);
    // The click into the first selects it (drawn red) before Delete.
    EXPECT_TRUE(page.WaitFor(coloured(0.1, 0.1, 0.3, 0.3, "r > 180 && g < 90 && b < 90") + " > 200", 10000)) << "the mask was not selected";
    page.Screenshot(outputFolder() + "/areas-masks.png");
    click("#delete");
    click("#save");
    ASSERT_TRUE(page.WaitFor("/saved the privacy masks/.test(" + statusText + ")", 5000)) << status();
    const std::string masks = lastSent("cmd=setPrivacyMaskConfig");
    EXPECT_EQ(valueIn(masks, "isEnable"), 1) << masks;
    EXPECT_NEAR(valueIn(masks, "x1_0"), 5000, 150) << masks;
    EXPECT_NEAR(valueIn(masks, "y2_0"), 8000, 150) << masks;
    for (const char* gone : { "x1_1", "x2_1", "y2_1", "x2_2", "x2_3" })
        EXPECT_EQ(valueIn(masks, gone), 0) << gone << " in " << masks;

    // The window shrinks with the mask editor open: the kept rectangle stays
    // the same share of the picture, and one drawn now lands where it is drawn.
    ASSERT_TRUE(resize(800, 600)) << page.Eval(box);
    drag(0.1, 0.1, 0.3, 0.3);
    page.Eval(statusText + " = '', 1");
    click("#save");
    ASSERT_TRUE(page.WaitFor("/saved the privacy masks/.test(" + statusText + ")", 5000)) << status();
    page.Screenshot(outputFolder() + "/areas-masks-refitted.png");
    const std::string refitted = lastSent("cmd=setPrivacyMaskConfig");
    EXPECT_NEAR(valueIn(refitted, "x1_0"), 5000, 150) << refitted;
    EXPECT_NEAR(valueIn(refitted, "y2_0"), 8000, 150) << refitted;
    EXPECT_NEAR(valueIn(refitted, "x1_1"), 1000, 150) << refitted;
    EXPECT_NEAR(valueIn(refitted, "y2_1"), 3000, 150) << refitted;

    // A camera that does not answer is said to, and the page saves again after.
    server.Camera("ignoreCgi", Json::array({ 1 }));
    click("#save");
    EXPECT_TRUE(page.WaitFor("/did not answer/.test(" + statusText + ")", 10000)) << status();
    server.Camera("ignoreCgi", Json::array({ 0 }));
    click("#save");
    EXPECT_TRUE(page.WaitFor("/saved the privacy masks/.test(" + statusText + ")", 5000)) << status();
}

class StandardAreas : public Areas {
protected:
    std::string camera() const override { return "onvif"; }
    // Waits until the camera's privacy masks number `count`.
    bool masksBecome(std::size_t count)
    {
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5); std::chrono::steady_clock::now() < until;) {
            if (server.Camera("onvifMasks").size() == count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

TEST_F(StandardAreas, TheSamePageEditsTheCellMotionDetectorsCellsAndTheMedia2MasksOfACameraOfTheStandards)
{
    const std::string statusText = "document.getElementById('status').textContent";
    click("#login");
    // The camera's cells start all marked: the page loads them into the editor.
    ASSERT_TRUE(page.WaitFor("/motion areas are shown/.test(" + statusText + ") && brightSamples('IPCam') > 2000", kLoginMs)) << status();
    const std::string before = server.Camera("activeCells").get<std::string>();
    // A drag over marked (red) cells clears them; the save reaches the camera's detector.
    const std::string redCells = coloured(0, 0, 0.3, 0.2, "r > 180 && g < 90 && b < 90");
    ASSERT_TRUE(page.WaitFor(redCells + " > 100", 10000)) << "the camera's marked cells are not shown";
    const int redBefore = page.Eval(redCells).get<int>();
    drag(0.05, 0.05, 0.25, 0.15);
    ASSERT_TRUE(page.WaitFor(redCells + " < " + std::to_string(redBefore / 2), 10000)) << "the drag cleared no cells";
    click("#save");
    ASSERT_TRUE(page.WaitFor("/saved the motion areas/.test(" + statusText + ")", 10000)) << status();
    EXPECT_NE(server.Camera("activeCells").get<std::string>(), before) << "the camera's active cells did not change";

    // A mask drawn and saved is one of the camera's masks; deleted and saved, it is gone.
    page.Eval("(function () { var s = document.getElementById('editor'); s.value = 'masks'; s.dispatchEvent(new Event('change')); })(), 1");
    ASSERT_TRUE(page.WaitFor("/no areas yet/.test(" + statusText + ") && getComputedStyle(document.getElementById('delete')).display != 'none'", 10000)) << status();
    drag(0.1, 0.1, 0.4, 0.4);
    // Saved once the editor shows it (the drag and the save reach the control by separate roads).
    ASSERT_TRUE(page.WaitFor(coloured(0.1, 0.1, 0.4, 0.4, "g > 180 && r < 90 && b < 90") + " > 200", 10000)) << "the mask was not drawn";
    click("#save");
    ASSERT_TRUE(page.WaitFor("/saved the privacy masks/.test(" + statusText + ")", 10000)) << status();
    EXPECT_TRUE(masksBecome(1)) << server.Camera("onvifMasks").dump();
    page.Eval("document.getElementById('status').textContent = '', 1");
    // A click into the mask selects it (drawn red) before Delete takes it away.
    const std::string selected = coloured(0.1, 0.1, 0.4, 0.4, "r > 180 && g < 90 && b < 90") + " > 200";
    drag(0.2, 0.2, 0.2, 0.2);
    ASSERT_TRUE(page.WaitFor(selected, 10000)) << "the mask was not selected";
    click("#delete");
    ASSERT_TRUE(page.WaitFor("!(" + selected + ")", 10000)) << "the mask was not deleted";
    click("#save");
    ASSERT_TRUE(page.WaitFor("/saved the privacy masks/.test(" + statusText + ")", 10000)) << status();
    EXPECT_TRUE(masksBecome(0)) << server.Camera("onvifMasks").dump();
}

TEST_F(Viewer, HoldingTheTalkButtonTalksWithTheMicrophonesLevelShownAndLettingGoEndsIt)
{
    click("#login");
    ASSERT_TRUE(page.WaitFor("brightSamples('IPCam') > 5000", kLoginMs)) << "no picture: " << status();
    const Json at = page.Eval("(function () { var e = document.getElementById('hold'); e.scrollIntoView({ block: 'center' });"
                              " var r = e.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()");
    ASSERT_TRUE(at.is_array());
    page.Mouse("mousePressed", at[0].get<double>(), at[1].get<double>(), "left");
    EXPECT_TRUE(page.WaitFor("document.getElementById('microphone').value > 0 && document.getElementById('talk').className == 'btn btn-on'", kPictureMs))
        << "level " << page.Eval("document.getElementById('microphone').value");
    // The browser's microphone reaches the camera.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPictureMs);
    int blocks = 0;
    while (blocks <= 10 && std::chrono::steady_clock::now() < until) {
        const Json counts = server.Camera("talkBlocks");
        blocks = 0;
        if (counts.is_object())
            for (const auto& [size, n] : counts.items())
                blocks += n.get<int>();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GT(blocks, 10) << "the camera heard nothing";
    page.Screenshot(outputFolder() + "/viewer-talking.png");
    page.Mouse("mouseReleased", at[0].get<double>(), at[1].get<double>(), "left");
    EXPECT_TRUE(page.WaitFor("document.getElementById('microphone').value == 0 && document.getElementById('talk').className == 'btn' && !Tiravex.microphone", 5000))
        << "still talking";
}
