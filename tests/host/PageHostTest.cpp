// Pages run by the page host: members by name, callbacks with numbers and
// texts, timers, and a page script that misbehaves.

#include "host/PageHost.h"
#include "host/SimCamera.h"
#include "present/Presenter.h"

#include "control/TiravexCtrl.h"
#include "kznet/Protocol.h"
#include "kznet/kznet.h"
#include "media/Decoder.h"
#include "sim/Camera.h"
#include "sys/Thread.h"
#include "ui/Input.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

host::PageOptions quick()
{
    host::PageOptions o;
    o.timeoutMs = 5000;
    return o;
}

TEST(PageHost, APageCallsMembersByNameAndReadsProperties)
{
    host::PageHost page(quick());
    int rc = page.RunText(R"JS(
        var c = createControl({ Self: 0, x: 5, y: 6, width: 320, height: 240 });
        console.log(c.test(), typeof c.Login, typeof c.RecordPath, typeof c.NoSuchMember);
        c.SetLauguage(2);
        host.exit(7);
    )JS", "members.js");
    EXPECT_EQ(rc, 7);
    ASSERT_EQ(page.ConsoleLines().size(), 1u);
    EXPECT_EQ(page.ConsoleLines()[0], "3.1.0.9 function string undefined");
    ASSERT_EQ(page.Controls().size(), 1u);
    EXPECT_EQ(page.Controls()[0]->Hub().Language(), 200);
    RECT r {};
    ui::GetWindowRect(page.Controls()[0]->GetSafeHwnd(), &r);
    EXPECT_EQ(r, (RECT { 5, 6, 325, 246 }));
}

TEST(PageHost, CallbacksReachThePageWithNumbersAndTexts)
{
    host::PageHost page(quick());
    ASSERT_TRUE(page.Eval(R"JS(
        var got = [];
        function PluginCallBack() { got.push(Array.prototype.slice.call(arguments)); }
        function PluginCallBackCGI(text, length) { got.push(['cgi', text, length]); }
        var c = createControl({ Self: 0 });
    )JS"));
    auto* c = page.Controls().at(0);
    c->callPage("PluginCallBack", { std::int32_t { 159 }, std::int32_t { 2 }, std::string("\xC1\xAC\xBD\xD3") }, false);
    c->callPage("PluginCallBackCGI", { std::string("<CGI_Result/>"), std::int32_t { 13 } }, false);
    ASSERT_TRUE(page.Eval(R"JS(
        console.log(JSON.stringify(got), typeof got[0][1]);
    )JS"));
    EXPECT_EQ(page.ConsoleLines().back(), "[[159,2,\"连接\"],[\"cgi\",\"<CGI_Result/>\",13]] number");
}

TEST(PageHost, AScriptErrorInACallbackIsReportedOnceAndTheControlGoesOn)
{
    host::PageHost page(quick());
    ASSERT_TRUE(page.Eval(R"JS(
        var calls = 0;
        function PluginCallBack(code) { calls++; if (code === 1) throw new Error('page bug'); }
        var c = createControl({ Self: 0 });
    )JS"));
    auto* c = page.Controls().at(0);
    testing::internal::CaptureStderr();
    c->callPage("PluginCallBack", { std::int32_t { 1 } }, false);
    std::string err = testing::internal::GetCapturedStderr();
    c->callPage("PluginCallBack", { std::int32_t { 2 } }, false);
    EXPECT_NE(err.find("page bug"), std::string::npos);
    ASSERT_TRUE(page.Eval("console.log(calls);"));
    EXPECT_EQ(page.ConsoleLines().back(), "2") << "the failing callback was called again";
}

TEST(PageHost, APageWithoutCallbacksSimplyGetsNothing)
{
    host::PageHost page(quick());
    ASSERT_TRUE(page.Eval("var c = createControl({ Self: 0 });"));
    EXPECT_EQ(page.Controls().at(0)->callPage("PluginCallBack", { std::int32_t { 100 } }, false), -1);
}

TEST(PageHost, TimersRunInOrderAndCanBeCleared)
{
    host::PageHost page(quick());
    int rc = page.RunText(R"JS(
        var order = [];
        setTimeout(function () { order.push('b'); }, 30);
        setTimeout(function () { order.push('a'); }, 5);
        var never = setTimeout(function () { order.push('never'); }, 10);
        clearTimeout(never);
        setTimeout(function () { console.log(order.join(',')); host.exit(0); }, 60);
    )JS", "timers.js");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(page.ConsoleLines().back(), "a,b");
}

TEST(PageHost, APageThatNeverEndsIsStoppedByItsTimeLimit)
{
    host::PageOptions o;
    o.timeoutMs = 100;
    host::PageHost page(o);
    EXPECT_EQ(page.RunText("createControl({});", "forever.js"), 2);
    EXPECT_EQ(page.RunText("this is not javascript", "broken.js"), 1);
}

TEST(PageHost, HostInputReachesTheControlsWindows)
{
    host::PageHost page(quick());
    ASSERT_TRUE(page.Eval(R"JS(
        var c = createControl({ Self: 0, x: 0, y: 0, width: 400, height: 300 });
        host.chooseFile('/tmp/update.bin');
        console.log(c.GetUpdataFilePath());
        host.chooseFile(null);
        console.log('[' + c.GetUpdataFilePath() + ']');
        host.mouse('move', 100, 50, 'ctrl');
    )JS"));
    EXPECT_EQ(page.ConsoleLines().at(0), "/tmp/update.bin");
    EXPECT_EQ(page.ConsoleLines().at(1), "[]");
    POINT p {};
    ui::GetCursorPos(&p);
    EXPECT_EQ(p, (POINT { 100, 50 }));
}

}

namespace {

TEST(PageHost, ARegisteredViewWithoutALoginShowsTheConnectFailText)
{
    host::PageOptions o = quick();
    o.outputFolder = ::testing::TempDir();
    host::PageHost page(o);
    int rc = page.RunText(R"JS(
        var c = createControl({ Self: 0, x: 10, y: 10, width: 640, height: 480 });
        c.SetLauguage(2);
        c.RegMy("127.0.0.1", 80, 88, "admin", "wrong", "cam", 1, 1, 1);
        setTimeout(function () { host.exit(host.screenshot("connect-fail.png") ? 0 : 9); }, 50);
    )JS", "fail.js");
    ASSERT_EQ(rc, 0);
    std::vector<std::uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(present::ReadPng(o.outputFolder + "/connect-fail.png", pixels, width, height));
    auto at = [&](int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)] & 0xFFFFFF; };
    // The live window starts at (11, 11); "connect fail" stands at (10, 10) in it.
    int white = 0;
    for (int y = 21; y < 40; ++y)
        for (int x = 21; x < 120; ++x)
            white += (at(x, y) & 0xFF) > 128; // the text is anti-aliased
    EXPECT_GT(white, 60) << "no text in the live area";
    EXPECT_EQ(at(300, 300), 0u) << "the live area is black";
    EXPECT_EQ(at(10, 300), 0xFAE13Cu) << "the active frame is yellow";
    EXPECT_EQ(at(800, 300), 0xFFFFFFu) << "the page around is white";
}

}

namespace {

// What the page host's `--camera sim,...` takes besides its own settings
// reaches the camera (here its hostile ones), and the page's `camera` can
// turn hostile while it runs.
TEST(PageHost, TheSimulatedCameraTakesItsHostileSettingsFromTheCommandLineAndThePage)
{
    struct Bad {
        const char* description;
        const char* error;
    } bad[] = {
        { "sim,nosuch=1", "unknown camera setting nosuch" },
        { "sim,claims=15x16", "bad value for camera setting claims: 15x16" },
    };
    for (auto& b : bad) {
        host::PageHost page(quick());
        std::string error;
        EXPECT_FALSE(host::InstallSimCamera(page, b.description, error));
        EXPECT_EQ(error, b.error);
    }

    host::PageHost page(quick());
    std::string error;
    auto camera = host::InstallSimCamera(page, "sim,claims=48x48,claimms=30,claimcontent=params,account=op:pw,password=s", error);
    ASSERT_TRUE(camera) << error;
    EXPECT_EQ(camera->Config().claims.sizes.size(), 1u);
    ASSERT_EQ(camera->Config().accounts.size(), 2u) << "the host's own account settings keep the others";
    EXPECT_EQ(camera->Config().accounts[0].password, "s");
    ASSERT_EQ(page.RunText(R"JS(
        camera.claimSizes([[64, 64], [32, 32]], 30, "params");
        host.exit(0);
    )JS", "hostile.js"), 0);

    // A live channel now carries the page's claims.
    struct Seen {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::uint32_t> widths;
    } seen;
    LoginInfo login {};
    std::strncpy(login.ip, "127.0.0.1", sizeof login.ip - 1);
    login.port = camera->Port();
    std::strncpy(login.username, "admin", sizeof login.username - 1);
    std::strncpy(login.passwd, "s", sizeof login.passwd - 1);
    auto onFrame = [](int, FrameRecord* frame, void* user, int) {
        auto* s = static_cast<Seen*>(user);
        std::uint32_t width = 0, height = 0;
        if (frame->size > 5 && media::ProbeH264Size(frame->payload + 5, static_cast<std::size_t>(frame->size) - 5, width, height)) {
            std::lock_guard lock(s->mutex);
            s->widths.push_back(width);
            s->changed.notify_all();
        }
        return 0;
    };
    auto onStatus = [](int, int*, void*, int) { return 0; };
    KzHandle stream = kz_open_device(kz::kConnectMedia, "", &login, 0, 1025 | kz::kTagNoReopen, kz::kOpenDeviceConstant, onStatus, onFrame, &seen, 0);
    ASSERT_TRUE(stream);
    std::unique_lock lock(seen.mutex);
    EXPECT_TRUE(seen.changed.wait_for(lock, std::chrono::seconds(5), [&] { return seen.widths.size() >= 4; }));
    lock.unlock();
    kz_close_device(stream);
    for (std::uint32_t w : seen.widths)
        EXPECT_TRUE(w == 64 || w == 32) << w;
}

}
