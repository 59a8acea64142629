// End to end: the mask editor's rectangles on a camera of the standards.
// A page draws a rectangle over the live picture, saves the editor's Areas
// text to the camera with the mask commands the camera pages send, reads
// the camera's masks back into the editor (as the areas page does),
// deletes the rectangle and saves again: the camera's Media2 masks follow,
// in its own coordinates. A camera without masks says so, and the editor
// keeps what was drawn.

#include "support/PageFixture.h"

namespace {

constexpr const char* kMaskPage = R"JS(
    var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
    var at = 0, steps;
    function next() { if (at < steps.length) steps[at++](); }
    function later(ms) { setTimeout(next, ms); }
    function PluginCallBack(code, a) {
        if (code === 100) {
            console.log("login " + a);
            if (a === 0) { v.LoginSuc(); v.EnterAreaSet(0, "", "", "", 640, 480); later(1000); }
        }
    }
    // Every CGI answer moves on; the camera's masks, when it has them, go
    // into the editor in the text its Areas property reads.
    function PluginCallBackCGI(text, length) {
        console.log("cgi " + text);
        if (text.indexOf("<x1_0>") >= 0) {
            var areas = "<cgi_result><result>0</result>";
            ["0", "1", "2", "3"].forEach(function (i) {
                ["x1_", "y1_", "x2_", "y2_"].forEach(function (f) {
                    var value = new RegExp("<" + f + i + ">(-?\\d+)</").exec(text)[1];
                    areas += "<" + f + i + ">" + value + "</" + f + i + ">";
                });
            });
            v.Areas = areas + "</cgi_result>";
        }
        later(100);
    }
    function save() { v.SendCgiToPlugin("cmd=setPrivacyMaskConfig&isEnable=" + (/&x2_\d=[1-9]/.test(v.Areas) ? 1 : 0) + v.Areas, 8000, 0); }
    steps = [
        function () { host.mouse("down", 64, 48); host.mouse("up", 320, 240); later(300); },
        save,
        function () { v.SendCgiToPlugin("cmd=getPrivacyMaskConfig", 8000, 0); },
        function () { console.log("areas " + v.Areas); host.mouse("down", 100, 100); host.mouse("up", 100, 100); later(300); },
        function () { v.DelRect(); save(); },
        function () { v.SendCgiToPlugin("cmd=getPrivacyMaskConfig", 8000, 0); },
        function () { console.log("areas " + v.Areas); host.exit(0); }
    ];
    v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
)JS";

constexpr const char* kDrawn = "&x1_0=1000&y1_0=1000&x2_0=5000&y2_0=5000&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0";
constexpr const char* kNone = "&x1_0=0&y1_0=0&x2_0=0&y2_0=0&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0";

std::string masksReply(bool drawn)
{
    std::string out = std::string("<CGI_Result><result>0</result><isEnable>") + (drawn ? "1" : "0") + "</isEnable>";
    for (int i = 0; i < 4; ++i) {
        const bool first = drawn && i == 0;
        for (const char* corner : { "x1_", "y1_", "x2_", "y2_" }) {
            std::string name = corner + std::to_string(i);
            const int value = !first ? 0 : corner[1] == '1' ? 1000 : 5000;
            out += "<" + name + ">" + std::to_string(value) + "</" + name + ">";
        }
    }
    return out + "</CGI_Result>";
}

TEST(StandardsMasks, ARectangleDrawnAndDeletedInTheEditorIsCreatedAndDeletedOnTheCamera)
{
    auto run = testing_support::RunPage("onvif,width=640,height=480", kMaskPage, "masks-standards");
    ASSERT_EQ(run.exitCode, 0);
    const std::vector<std::string> expected = {
        "login 0",
        "cgi <CGI_Result><result>0</result></CGI_Result>",
        "cgi " + masksReply(true),
        std::string("areas ") + kDrawn, // the camera's mask, read back into the editor
        "cgi <CGI_Result><result>0</result></CGI_Result>",
        "cgi " + masksReply(false),
        std::string("areas ") + kNone,
    };
    EXPECT_EQ(run.console, expected);
    // In the camera's coordinates (-1..1, y up): the picture's top left
    // quarter from a tenth in.
    std::vector<std::string> masks;
    for (const auto& entry : run.camera->OnvifLog())
        if (entry.find("Mask ") != std::string::npos)
            masks.push_back(entry);
    EXPECT_EQ(masks, (std::vector<std::string> { "CreateMask mask_1 -0.80,0.80 0.00,0.80 0.00,0.00 -0.80,0.00", "DeleteMask mask_1" }));
    EXPECT_TRUE(run.camera->OnvifMasks().empty());
}

TEST(StandardsMasks, ACameraWithoutMasksSaysNotSupportedAndTheEditorKeepsTheRectangle)
{
    auto run = testing_support::RunPage("onvif,width=640,height=480,masks=0", kMaskPage, "masks-none");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.console.size(), 7u);
    EXPECT_EQ(run.console[1], "cgi <CGI_Result><result>-3</result></CGI_Result>");
    EXPECT_EQ(run.console[2], "cgi <CGI_Result><result>-3</result></CGI_Result>");
    EXPECT_EQ(run.console[3], std::string("areas ") + kDrawn);
    EXPECT_EQ(run.console[6], std::string("areas ") + kNone) << "deleted locally";
}

}
