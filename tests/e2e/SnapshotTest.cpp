// End to end through the page host: a snapshot from the simulated camera
// opens a window, and saving it from the window's menu writes a JPEG that
// FFmpeg reads with the camera's picture size.

#include "support/PageFixture.h"

#include "view/CPicShowWnd.h"

#include <array>
#include <cstdio>
#include <filesystem>

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
