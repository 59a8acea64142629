// End to end against the camera of the standards: its alarms, raised and
// ended as ONVIF events, reach an unchanged page as our camera's alarm
// reports. The red dot lights and goes out, the page's alarm event starts
// an alarm recording named by the kind, and after the camera restarts (its
// event subscriptions forgotten) the next alarm arrives
// too (the RTSP session goes on). Meanwhile the page's motion grid has the size of the camera's cell
// layout, and the page saves and reads it with our camera's CGI commands.

#include "support/PageFixture.h"
#include "support/Sanitized.h"

#include <duktape.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

sim::Camera* g_camera = nullptr;
std::string g_records;

int jsEndAlarm(duk_context* ctx)
{
    g_camera->EndAlarm(duk_to_int(ctx, 0));
    return 0;
}

int jsRestart(duk_context*)
{
    g_camera->Restart();
    return 0;
}

// Subscriptions the camera made so far.
int jsSubscriptions(duk_context* ctx)
{
    auto log = g_camera->OnvifLog();
    duk_push_int(ctx, static_cast<int>(std::count(log.begin(), log.end(), std::string("CreatePullPointSubscription"))));
    return 1;
}

// Video frames the camera sent so far.
int jsFrames(duk_context* ctx)
{
    duk_push_number(ctx, static_cast<double>(g_camera->VideoFramesSent()));
    return 1;
}

// Recordings with frames in them so far.
int jsRecordings(duk_context* ctx)
{
    int n = 0;
    std::error_code error;
    for (const auto& e : fs::recursive_directory_iterator(g_records, error))
        n += e.path().extension() == ".avi" && e.file_size(error) > 16 * 1024;
    duk_push_int(ctx, n);
    return 1;
}

// Red (the alarm dot) among a screenshot's pixels near the picture's lower right corner.
bool redDot(const testing_support::Image& shot)
{
    for (int y = 400; y < 482 && y < shot.height; ++y)
        for (int x = 560; x < 642 && x < shot.width; ++x) {
            std::uint32_t p = shot.at(x, y);
            if ((p & 0xFF0000) >= 0xE00000 && (p & 0xFF00) < 0x3000 && (p & 0xFF) < 0x30)
                return true;
        }
    return false;
}

constexpr const char* kPage = R"JS(
    // Each step waits for a condition, looked at every 100 ms.
    function when(what, condition, then) {
        console.log("step " + what);
        (function look() { if (condition()) then(); else setTimeout(look, 100); })();
    }
    var opened = false, restarted = false, answers = 0;
    function PluginCallBackCGI(text) {
        console.log("cgi " + text);
        if (++answers === 1)
            v.SendCgiToPlugin("cmd=getMotionDetectConfig", 5000, 0);
    }
    function PluginCallBack(code) {
        var a = Array.prototype.slice.call(arguments);
        if (code !== 100 && code !== 102 && code !== 111 && code !== 502)
            console.log("step event " + a.join(","));
        if (code === 100 && a[1] === 0 && !opened) {
            opened = true;
            v.LoginSuc(); v.RecordPath = host.args.records; v.Open("");
            console.log("grid " + v.MotionAreas);
            v.MotionAreas = "1,2048,0,0,0,0,0,0,4095,";
            v.SendCgiToPlugin("cmd=setMotionDetectConfig" + v.MotionAreas, 5000, 0);
            when("subscribed", function () { return standards.subscriptions() >= 1; }, function () { camera.alarm(0); });
        }
        if (code === 111) {
            console.log("alarm " + a.slice(1).join(","));
            v.Record(1, "alarm");
        }
        if (code === 102) {
            console.log("state " + a[1]);
            var kind = restarted ? 2 : 0;
            if (a[1] === 1)
                when("recording", function () { return standards.recordings() >= (restarted ? 2 : 1); }, function () {
                    host.screenshot(restarted ? "dot2.png" : "dot.png");
                    standards.endAlarm(kind);
                });
            if (a[1] === 0) {
                v.Record(0, "");
                // The dot is gone from the frames drawn after the alarm's end.
                var shot = restarted ? "nodot2.png" : "nodot.png", frames = standards.frames(), last = restarted;
                when("frames", function () { return standards.frames() >= frames + 8; }, function () {
                    host.screenshot(shot);
                    if (last) { host.exit(0); return; }
                    restarted = true;
                    var before = standards.subscriptions();
                    standards.restart();
                    when("subscribed again", function () { return standards.subscriptions() > before; }, function () { camera.alarm(2); });
                });
            }
        }
    }
    var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
    v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
    // What a page that never ends was waiting with.
    setTimeout(function () {
        console.log("stuck: frames " + standards.frames() + ", recordings " + standards.recordings() + ", subscriptions " + standards.subscriptions());
        host.exit(3);
    }, host.args.limit);
)JS";

}

TEST(StandardsAlarms, AnAlarmLightsTheDotRecordsByKindEndsAndSurvivesARestartAndThePageSavesTheCamerasCells)
{
    const std::string name = "standards-alarms";
    g_records = ::testing::TempDir() + "/" + name + "-records";
    fs::remove_all(g_records);
    host::PageOptions options;
    options.timeoutMs = testing_support::kSanitized ? 60000 : 30000;
    options.outputFolder = ::testing::TempDir() + "/" + name;
    options.args["records"] = g_records;
    options.args["limit"] = std::to_string(options.timeoutMs - 2000);
    fs::create_directories(options.outputFolder);
    host::PageHost page(options);
    std::string error;
    auto camera = host::InstallSimCamera(page, "onvif,password=p4ss,width=640,height=480,keyint=10,cols=12,rows=9", error);
    ASSERT_TRUE(camera) << error;
    g_camera = camera.get();
    page.AddInstaller([](duk_context* ctx) {
        duk_push_object(ctx);
        duk_push_c_function(ctx, jsEndAlarm, 1);
        duk_put_prop_string(ctx, -2, "endAlarm");
        duk_push_c_function(ctx, jsRestart, 0);
        duk_put_prop_string(ctx, -2, "restart");
        duk_push_c_function(ctx, jsSubscriptions, 0);
        duk_put_prop_string(ctx, -2, "subscriptions");
        duk_push_c_function(ctx, jsFrames, 0);
        duk_put_prop_string(ctx, -2, "frames");
        duk_push_c_function(ctx, jsRecordings, 0);
        duk_put_prop_string(ctx, -2, "recordings");
        duk_put_global_string(ctx, "standards");
    });
    // A settings folder of its own: the record folder a page sets is shared
    // by every page of the machine, tests running beside this one included.
    const std::string settings = ::testing::TempDir() + "/" + name + "-settings";
    fs::create_directories(settings);
    setenv("TIRAVEX_SETTINGS_DIR", settings.c_str(), 1);
    int exitCode = page.RunText(kPage, name + ".js");
    unsetenv("TIRAVEX_SETTINGS_DIR");
    const auto& console = page.ConsoleLines();
    std::string all;
    for (const auto& line : console)
        all += line + "\n";
    ASSERT_EQ(exitCode, 0) << all;

    // Our camera's reports: the long form of the alarm (raised, with its
    // kind) and the alarm state on and off, for each alarm once.
    std::vector<std::string> alarms, grid;
    for (const auto& line : console)
        if (line.rfind("step ", 0) != 0)
            (line.rfind("alarm ", 0) == 0 || line.rfind("state ", 0) == 0 ? alarms : grid).push_back(line);
    EXPECT_EQ(alarms, (std::vector<std::string> { "alarm 1,0,1,0,0,0", "state 1", "state 0", "alarm 1,0,1,0,0,2", "state 1", "state 0" })) << all;
    // The grid: nine rows as the camera's layout has, saved and read back.
    EXPECT_EQ(grid, (std::vector<std::string> { "grid &area0=0&area1=0&area2=0&area3=0&area4=0&area5=0&area6=0&area7=0&area8=0",
                        "cgi <CGI_Result><result>0</result></CGI_Result>",
                        "cgi <CGI_Result><result>0</result><area0>1</area0><area1>2048</area1><area2>0</area2><area3>0</area3><area4>0</area4>"
                        "<area5>0</area5><area6>0</area6><area7>0</area7><area8>4095</area8></CGI_Result>" }))
        << all;

    // The dot while the alarm lasts, and none after it.
    for (const char* shot : { "dot.png", "dot2.png" }) {
        testing_support::Image image;
        ASSERT_TRUE(image.read(options.outputFolder + "/" + shot)) << shot;
        EXPECT_TRUE(redDot(image)) << shot;
    }
    for (const char* shot : { "nodot.png", "nodot2.png" }) {
        testing_support::Image image;
        ASSERT_TRUE(image.read(options.outputFolder + "/" + shot)) << shot;
        EXPECT_FALSE(redDot(image)) << shot;
    }

    // One recording of each kind, named by it, that FFmpeg reads silently.
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& e : fs::recursive_directory_iterator(g_records, ignored)) {
        if (e.path().extension() != ".avi")
            continue;
        names.push_back(e.path().filename().string().substr(0, e.path().filename().string().find_last_of('_') + 1));
        std::string said;
        if (FILE* p = ::popen(("ffprobe -v error '" + e.path().string() + "' 2>&1").c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, p))
                said += line;
            ::pclose(p);
        }
        EXPECT_EQ(said, "") << e.path();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> { "io_alarm_", "motion_alarm_" }));
    g_camera = nullptr;
}
