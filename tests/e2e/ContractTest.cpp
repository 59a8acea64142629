// End to end: the page contract against the simulated camera.

#include "support/PageFixture.h"

namespace {

TEST(Contract, ACgiRequestWithoutAnswerTimesOutOnceAndALateReplyStillArrives)
{
    auto run = testing_support::RunPage("sim", R"JS(
        var cgi = [];
        function PluginCallBackCGI(text, length) { cgi.push(text + "|" + length); }
        function PluginCallBack(code, status) {
            if (code !== 100 || status !== 0) return;
            camera.ignoreCgi(true);
            v.SendCgiToPlugin("cmd=getDevState", 200, 0);
            setTimeout(function () {
                // A reply the camera sends after the time-out is passed on too.
                camera.sendControl(115, [60, 67, 71, 73, 95, 82, 101, 115, 117, 108, 116, 47, 62]);
            }, 700);
            setTimeout(function () { console.log(JSON.stringify(cgi)); host.exit(0); }, 1200);
        }
        var v = createControl({ Self: 0 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
    )JS", "cgi-timeout");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.console.empty());
    EXPECT_EQ(run.console.back(), R"(["<CGI_Result><result>-5</result></CGI_Result>|44","<CGI_Result/>|13"])");
}

TEST(Contract, ARepliedCgiRequestGetsItsAnswerAndNoTimeOut)
{
    auto run = testing_support::RunPage("sim", R"JS(
        var cgi = [];
        function PluginCallBackCGI(text, length) { cgi.push(text); }
        function PluginCallBack(code, status) {
            if (code !== 100 || status !== 0) return;
            v.SendCgiToPlugin("cmd=getDevState", 300, 0);
            setTimeout(function () { console.log(cgi.length, cgi[0].indexOf("<CGI_Result>") === 0); host.exit(0); }, 900);
        }
        var v = createControl({ Self: 0 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
    )JS", "cgi-reply");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console.back(), "1 true");
}

// The camera relays device-information answers over the road (messages 14,
// 15, 16). On a configuration page they go to the page, the secondary view
// only passing successes on, and an answer ends the page's pending request
// without a time-out; on the live page they set the motion grid (spaces
// around the digits and all), raise event 502 in the main view and event 220
// in both, and never reach PluginCallBackCGI.
TEST(Contract, RelayedDeviceAnswersGoToConfigurationPagesOrSetTheLiveViewsState)
{
    auto run = testing_support::RunPage("sim", R"JS(
        var cgi = [], events = [];
        function PluginCallBackCGI(text, length) { cgi.push(text); }
        function PluginCallBack(code, a, b) {
            // The inactive second view reports no login: both have logged in a moment later.
            if (code === 100 && a === 0) setTimeout(configPages, 1000);
            if (code === 502) events.push("502 rows:" + (a.indexOf("<motionAreaRows> 8") >= 0));
            if (code === 220) events.push("220 " + a + ":" + b);
        }
        function bytes(text) { var out = []; for (var i = 0; i < text.length; ++i) out.push(text.charCodeAt(i)); return out; }
        var main = createControl({ Self: 0, x: 0, y: 0, width: 322, height: 242 });
        var second = createControl({ Self: 1, x: 330, y: 0, width: 322, height: 242 });
        main.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
        second.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
        function configPages() {
            main.EnterConfigPage(1);
            second.EnterConfigPage(2);
            camera.ignoreCgi(true);
            second.SendCgiToPlugin("cmd=getDevInfo", 400, 0);
            camera.sendControl(14, bytes("<CGI_Result><result>0</result><productName>Z1</productName></CGI_Result>"));
            camera.sendControl(15, bytes("<CGI_Result><result>-2</result></CGI_Result>"));
            setTimeout(livePage, 800); // past the request's time-out
        }
        function livePage() {
            main.EnterConfigPage(0);
            second.EnterConfigPage(0);
            camera.sendControl(15, bytes("<CGI_Result><result>0</result><motionAreaRows> 8</motionAreaRows><motionAreaCols>12 </motionAreaCols></CGI_Result>"));
            camera.sendControl(16, bytes("<CGI_Result><result>0</result><httpsPort>8443</httpsPort></CGI_Result>"));
            setTimeout(function () {
                cgi.sort();
                events.sort();
                console.log(JSON.stringify({ cgi: cgi, events: events, rows: main.MotionAreas.split("&area").length - 1 }));
                host.exit(0);
            }, 500);
        }
    )JS", "relayed-answers");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.console.empty());
    EXPECT_EQ(run.console.back(), R"({"cgi":["<CGI_Result><result>-2</result></CGI_Result>",)"
                                  R"("<CGI_Result><result>0</result><productName>Z1</productName></CGI_Result>",)"
                                  R"("<CGI_Result><result>0</result><productName>Z1</productName></CGI_Result>"],)"
                                  R"("events":["220 0:8443","220 1:8443","502 rows:true"],"rows":8})");
}

TEST(Contract, RegisteringWithAWrongPasswordShowsConnectFail)
{
    auto run = testing_support::RunPage("sim", R"JS(
        function PluginCallBack(code, status) {
            if (code === 100) {
                console.log("status", status);
                setTimeout(function () { host.screenshot("fail.png"); host.exit(0); }, 100);
            }
        }
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        v.SetLauguage(2);
        v.RegMy(camera.address, camera.webPort, camera.port, camera.user, "not the password", "cam", 1, 1, 1);
    )JS", "regmy-fail");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.console.empty());
    EXPECT_NE(run.console.back(), "status 0");
    testing_support::Image shot;
    ASSERT_TRUE(shot.read(run.folder + "/fail.png"));
    int text = 0;
    for (int y = 11; y < 30; ++y)
        for (int x = 11; x < 110; ++x)
            text += (shot.at(x, y) & 0xFF) > 128;
    EXPECT_GT(text, 60) << "no connect-fail text at (10, 10) of the live window";
    EXPECT_EQ(shot.at(300, 300), 0u);
}

TEST(Contract, TheLoginReportReachesThePageWith133Values)
{
    auto run = testing_support::RunPage("sim,kind=102", R"JS(
        function PluginCallBack(code) {
            if (code === 100) { console.log(arguments.length, arguments[1], arguments[68]); host.exit(0); }
        }
        var v = createControl({ Self: 0 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
    )JS", "login-report");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console.back(), "133 0 102");
}

}

namespace {

TEST(Search, ThePageFindsTheCameraAndTheLoggedInCameraByItsIdentifier)
{
    unsetenv("TIRAVEX_SEARCH_TARGETS");
    // The camera sends its name in UTF-8; the page gets the same characters.
    auto run = testing_support::RunPage("sim,name=前门 Porch", R"JS(
        function PluginCallBack(code) {
            var args = Array.prototype.slice.call(arguments);
            if (code === 211) console.log("found " + args.slice(1).join("|"));
            if (code === 208) { console.log("located " + args.slice(1).join("|")); host.exit(0); }
            if (code === 100 && args[1] === 0) v.GetDevIPandPort(1);
        }
        var v = createControl({ Self: 0 });
        v.SearchDev(0);
        setTimeout(function () { v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1); }, 300);
    )JS", "search");
    unsetenv("TIRAVEX_SEARCH_TARGETS");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_GE(run.console.size(), 2u);
    std::string port = std::to_string(run.camera->Port());
    EXPECT_EQ(run.console[0], "found 前门 Porch|127.0.0.1|" + port + "|101");
    EXPECT_EQ(run.console.back(), "located 127.0.0.1|" + port);
    // The camera sees the road's end when its socket closes, a moment after the page.
    EXPECT_TRUE(run.camera->WaitUntil([&] { return run.camera->RoadsOpen() == 0; }, 2000)) << "locating the camera closes the road";
}

}

namespace {

// After logging out, the page can still find where the camera it was logged
// in to now answers: its identifier outlives the login.
TEST(Search, TheCameraLastLoggedInToIsFoundAfterLoggingOut)
{
    unsetenv("TIRAVEX_SEARCH_TARGETS");
    auto run = testing_support::RunPage("sim", R"JS(
        function PluginCallBack(code, a, b) {
            if (code === 100 && a === 0) { v.UNRegMy(); v.GetDevIPandPort(2); }
            if (code === 208) { console.log("located " + a + "|" + b); host.exit(0); }
        }
        var v = createControl({ Self: 0 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
        setTimeout(function () { console.log("not located"); host.exit(3); }, 5000);
    )JS", "search-after-logout");
    unsetenv("TIRAVEX_SEARCH_TARGETS");
    ASSERT_EQ(run.exitCode, 0) << (run.console.empty() ? "" : run.console.back());
    EXPECT_EQ(run.console.back(), "located 127.0.0.1|" + std::to_string(run.camera->Port()));
}

// A camera that pads its messages says so first and sends its padded login
// reply right after: the reply is taken and the login completes.
TEST(Contract, ACameraThatPadsItsMessagesLogsIn)
{
    auto run = testing_support::RunPage("sim,replyformat=1", R"JS(
        function PluginCallBack(code, status) {
            if (code === 100) { console.log("status " + status); v.LoginSuc(); v.Open(""); }
            if (code === 200) { console.log("live"); host.exit(0); }
        }
        var v = createControl({ Self: 0 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 1, 1);
        setTimeout(function () { console.log("no login reply"); host.exit(3); }, 5000);
    )JS", "padded-camera");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, (std::vector<std::string> { "status 0", "live" }));
}

}
