// End to end: a page enters the two area editors over the simulated
// camera's live picture and draws in them with the mouse; the screenshots
// show the grid, the hatched cells and the rectangles over the moving
// picture, and the page reads back what the mouse drew.

#include "support/PageFixture.h"
#include "support/Sanitized.h"

namespace {

// The page logs in, enters the motion editor, drags over three by three
// cells, leaves it for the mask editor, draws two rectangles and clicks
// into the first. Every step waits for the last to be handled.
constexpr const char* kPage = R"JS(
    var opened = false;
    var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
    function PluginCallBack(code, a) {
        if (code === 100 && a === 0 && !opened) {
            opened = true;
            v.LoginSuc();
            v.EnterMotionSet(0, "", "", "", 640, 480);
            setTimeout(next, 1500);
        }
    }
    function PluginCallBackCGI(text, length) { }
    var steps = [
        function () { host.mouse("down", 20, 20); },
        function () { host.mouse("move", 80, 60); },
        function () { host.mouse("up", 150, 100); },
        function () { host.screenshot("motion.png"); console.log("motion " + v.MotionAreas); v.LeaveMotionSet(); v.EnterAreaSet(0, "", "", "", 640, 480); },
        function () { host.mouse("down", 51, 51); },
        function () { host.mouse("up", 201, 151); },
        function () { host.mouse("down", 301, 201); },
        function () { host.mouse("up", 501, 401); },
        function () { host.mouse("down", 101, 101); },
        function () { host.mouse("up", 101, 101); },
        function () { host.screenshot("masks.png"); console.log("masks " + v.Areas); host.exit(0); }
    ];
    var at = 0;
    // The overlay follows the frames: the screenshots wait for a few
    // (`settle` milliseconds).
    function next() { if (at < steps.length) { steps[at++](); setTimeout(next, at === 4 ? 1500 : at === 3 || at === 10 ? settle : 150); } }
    v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
)JS";

int count(const testing_support::Image& image, RECT area, std::uint32_t colour)
{
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            n += image.at(x, y) == colour;
    return n;
}

TEST(Editors, WhatTheMouseDrawsIsShownOverThePictureAndReadBackByThePage)
{
    // A few frames take longer to arrive and compose under a sanitizer.
    const int settle = testing_support::kSanitized ? 2000 : 500;
    auto run = testing_support::RunPage("sim,width=640,height=480", "var settle = " + std::to_string(settle) + ";\n" + kPage, "editors");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_GE(run.console.size(), 2u);
    // The editors fill the control at the screen's origin: cells of 64 x 48,
    // so (20, 20) to (150, 100) covers rows and columns 0 to 2.
    EXPECT_EQ(run.console[run.console.size() - 2], "motion &area0=7&area1=7&area2=7&area3=0&area4=0&area5=0&area6=0&area7=0&area8=0&area9=0");
    // The first rectangle, clicked, is moved to the end.
    EXPECT_EQ(run.console.back(), "masks &x1_0=4703&y1_0=4187&x2_0=7828&y2_0=8354&x1_1=796&y1_1=1062&x2_1=3140&y2_1=3145&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0");

    testing_support::Image motion, masks;
    ASSERT_TRUE(motion.read(run.folder + "/motion.png"));
    ASSERT_TRUE(masks.read(run.folder + "/masks.png"));
    EXPECT_GT(count(motion, RECT { 5, 5, 190, 140 }, 0xFF0000), 200) << "red hatching over the marked cells";
    EXPECT_EQ(count(motion, RECT { 200, 160, 380, 280 }, 0xFF0000), 0) << "none elsewhere";
    EXPECT_GT(count(motion, RECT { 255, 100, 260, 400 }, 0x0000FF), 200) << "the blue grid line at x = 256";
    int picture = 0;
    for (int y = 150; y < 450; y += 10)
        for (int x = 400; x < 600; x += 10)
            picture += motion.at(x, y) != 0 && motion.at(x, y) != 0x0000FF;
    EXPECT_GT(picture, 300) << "over the camera's picture";

    EXPECT_GT(count(masks, RECT { 299, 199, 305, 405 }, 0x00FF00), 300) << "the second rectangle, green";
    EXPECT_GT(count(masks, RECT { 49, 49, 55, 155 }, 0xFF0000), 200) << "the first, selected, red";
}

}
