// End to end through the page host: a snapshot from the simulated camera
// opens a window, and saving it from the window's menu writes a JPEG that
// FFmpeg reads with the camera's picture size.

#include "support/PageFixture.h"

#include "view/CPicShowWnd.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <set>

namespace {

namespace fs = std::filesystem;

std::string output(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
        std::array<char, 4096> buffer {};
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), p))
            out.append(buffer.data(), n);
        ::pclose(p);
    }
    return out;
}

TEST(Snapshot, ASnapshotFromTheCameraIsShownAndSavedAsAJpegOfTheCamerasSize)
{
    auto run = testing_support::RunPage("sim,width=800,height=600", "var save = " + std::to_string(CPicShowWnd::kCommandSave) + ";\n" + R"JS(
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        var shown = false;
        function PluginCallBack(code, a, b) {
            if (code === 100 && a === 0 && !shown) {
                shown = true;
                camera.snapshot();
                setTimeout(function () {
                    // Inside the window's picture, which opens at (150, 30), 1200 x 800.
                    host.chooseFile(host.outputFolder + "/picture");
                    host.chooseMenu(save);
                    host.mouse("rightdown", 700, 400);
                    host.mouse("rightup", 700, 400);
                    setTimeout(function () { host.screenshot("snapshot.png"); host.exit(0); }, 1000);
                }, 1500);
            }
        }
        function PluginCallBackCGI(text, length) { }
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
    )JS", "snapshot");
    ASSERT_EQ(run.exitCode, 0);
    const std::string saved = run.folder + "/picture.jpg";
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(output("ffprobe -v error -show_entries stream=width,height -of default=nw=1 '" + saved + "'"), "width=800\nheight=600\n");

    // The window shows the camera's picture below its title bar: not the
    // black of an empty screen.
    testing_support::Image shot;
    ASSERT_TRUE(shot.read(run.folder + "/snapshot.png"));
    EXPECT_NE(shot.at(700, 400), 0u);
    EXPECT_NE(shot.at(1300, 800), 0u);
}

}

namespace {

// A camera of the standards has no picture message: our snapshot command,
// sent by the page over the road and over HTTP, makes the library fetch
// GetSnapshotUri's picture with the login's account (the camera asks for
// Digest) and hand it on as our camera's picture. Both open a window; the
// saved picture is a JPEG of the camera's size.
TEST(Snapshot, OurSnapshotCommandOnACameraOfTheStandardsOpensItsPictureOverTheRoadAndOverHttp)
{
    auto run = testing_support::RunPage("onvif,width=800,height=600,password=p4ss:\"x", "var save = " + std::to_string(CPicShowWnd::kCommandSave)
            + ";\n" + R"JS(
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        function PluginCallBack(code, a, b) {
            if (code === 100) {
                console.log("login " + a);
                if (a === 0) { v.LoginSuc(); v.SendCgiToPlugin("cmd=takeSnapshot", 8000, 0); }
            }
        }
        function PluginCallBackCGI(text, length) {
            console.log("road " + text);
            console.log("http " + v.GetCGIResult("takeSnapshot", 0));
            setTimeout(function () {
                host.screenshot("snapshot.png");
                host.chooseFile(host.outputFolder + "/picture");
                host.chooseMenu(save);
                host.mouse("rightdown", 700, 400);
                host.mouse("rightup", 700, 400);
                setTimeout(function () { host.exit(0); }, 1000);
            }, 1000);
        }
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
    )JS", "snapshot-standards");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_GE(run.console.size(), 3u);
    EXPECT_EQ(run.console[0], "login 0");
    EXPECT_EQ(run.console[1], "road <CGI_Result><result>0</result></CGI_Result>");
    EXPECT_EQ(run.console[2], "http <CGI_Result><result>0</result></CGI_Result>");

    const std::string saved = run.folder + "/picture.jpg";
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(output("ffprobe -v error -show_entries stream=width,height -of default=nw=1 '" + saved + "'"), "width=800\nheight=600\n");

    // The window (150, 30, 1200 x 800) shows the camera's pattern, stretched:
    // its many colours, not one fill.
    testing_support::Image shot;
    ASSERT_TRUE(shot.read(run.folder + "/snapshot.png"));
    std::set<std::uint32_t> colours;
    for (int y = 100; y < 800; y += 10)
        for (int x = 170; x < 1330; x += 10)
            colours.insert(shot.at(x, y) & 0xFFFFFF);
    EXPECT_GT(colours.size(), 500u) << "the snapshot window does not show the camera's picture";
}

}
