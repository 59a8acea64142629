// The page's CGI exchanges against cameras that misbehave or accounts with
// awkward passwords: a flood of RegMy calls to a camera that never answers
// CGI leaves the page responsive and its end prompt, every HTTPS-port query
// reports once (a failed one too) and only the newest one's port is kept,
// and passwords with query characters reach the camera intact.

#include "support/Loopback.h"
#include "support/PageFixture.h"

#include <chrono>

namespace {

using control::CTiravexCtrl;
using testing_support::Arg;
using Clock = std::chrono::steady_clock;

// One CGI exchange waits this long for its answer (300 units of 10 ms).
constexpr auto kExchangeTimeout = std::chrono::seconds(3);
// Slack for a loaded machine on top of a time limit.
constexpr auto kSlack = std::chrono::milliseconds(1500);
constexpr int kRegMyFlood = 20;

class CgiExchange : public testing_support::CameraPage {
protected:
    void regMy(CTiravexCtrl* c)
    {
        ASSERT_EQ(call(c, "RegMy", { str(camera->Address().c_str()), num(camera->WebPort()), num(camera->Port()), str(camera->User().c_str()),
                                        str(camera->Password().c_str()), str("cam"), num(1), num(1), num(1) }),
            S_OK);
    }
    int eventCount(int code) const
    {
        int n = 0;
        for (auto& e : events())
            n += !e.empty() && e[0] == Arg(code);
        return n;
    }
    // Destroys a control made by makeControl; returns how long it took.
    Clock::duration destroy(CTiravexCtrl* c)
    {
        controls.erase(std::find(controls.begin(), controls.end(), c));
        auto start = Clock::now();
        c->Release();
        return Clock::now() - start;
    }

    // A control registered with a camera that from then on never answers
    // CGI, after a flood of RegMy calls.
    CTiravexCtrl* flooded()
    {
        startCamera();
        auto* c = makeControl(0);
        regMy(c);
        EXPECT_TRUE(ui::RunUntil([&] { return c->Link().LoginStatus() == 0; }, 10000));
        camera->IgnoreCgi(true);
        for (int i = 0; i < kRegMyFlood; ++i)
            regMy(c);
        return c;
    }
};

TEST_F(CgiExchange, AfterARegMyFloodThePagesExchangeWaitsOnlyForItsOwnTimeOut)
{
    auto* c = flooded();
    auto start = Clock::now();
    EXPECT_EQ(callText(c, "GetCGIResult", { str("getDevInfo"), num(0) }), "") << "the camera never answered";
    EXPECT_LT(Clock::now() - start, kExchangeTimeout + kSlack) << "the page's exchange waited behind the port queries";
}

TEST_F(CgiExchange, AfterARegMyFloodThePageClosesPromptly)
{
    auto* c = flooded();
    EXPECT_LT(destroy(c), std::chrono::seconds(2)) << "closing the page waited for the port queries";
}

TEST_F(CgiExchange, EveryPortQueryReportsOnceAndTheNewestPortIsKept)
{
    startCamera();
    auto* c = makeControl(0);
    regMy(c);
    ASSERT_TRUE(ui::RunUntil([&] { return eventCount(220) == 1; }, 10000)) << "the first query's answer";
    // Each answer now takes a while: the queries overlap, and every one but
    // the last is superseded while it waits; each still reports.
    camera->DelayCgi(300);
    for (int i = 0; i < kRegMyFlood; ++i)
        regMy(c);
    ASSERT_TRUE(ui::RunUntil([&] { return eventCount(220) >= 1 + kRegMyFlood; }, 10000)) << eventCount(220) << " reports";
    ui::RunUntil([] { return false; }, 1000); // time for any second report to come in
    EXPECT_EQ(eventCount(220), 1 + kRegMyFlood);
    EXPECT_EQ(c->Link().KnownHttpsPort(0), 443);

    // A query that fails (nothing at that web port) reports port 0 and the
    // known port stays.
    ASSERT_EQ(call(c, "RegMy", { str(camera->Address().c_str()), num(testing_support::UnusedLoopbackPort()), num(camera->Port()), str(camera->User().c_str()),
                                    str(camera->Password().c_str()), str("cam"), num(1), num(1), num(1) }),
        S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return eventCount(220) == 2 + kRegMyFlood; }, 10000)) << "the failed query's report";
    std::vector<Arg> last;
    for (auto& e : events())
        if (!e.empty() && e[0] == Arg(220))
            last = e;
    EXPECT_EQ(last, (std::vector<Arg> { 220, 0, 0 }));
    EXPECT_EQ(c->Link().KnownHttpsPort(0), 443);
}

// The page's thread rewrites the login record (RegMy copies the page's,
// UNRegMy clears it while a road is open) and the stored reply while port queries and a search
// for the camera run on their own threads: they work from what they took
// when they started (the ThreadSanitizer build checks that nothing is
// shared without a lock).
TEST_F(CgiExchange, RegisteringAndLoggingOutWhileQueriesAndASearchRun)
{
    startCamera();
    camera->DelayCgi(50);
    auto* c = makeControl(0);
    regMy(c);
    ASSERT_TRUE(ui::RunUntil([&] { return c->Link().LoginStatus() == 0; }, 10000));
    const std::string deviceId = c->Link().DeviceId();
    ASSERT_FALSE(deviceId.empty());
    for (int i = 0; i < 10; ++i) {
        regMy(c);
        ASSERT_EQ(call(c, "GetDevIPandPort", { num(1) }), S_OK);
        ui::RunUntil([] { return false; }, 20);
        ASSERT_EQ(call(c, "UNRegMy", {}), S_OK);
        EXPECT_FALSE(c->Link().HasRoad());
        EXPECT_EQ(c->Link().DeviceId(), deviceId) << "the camera to look for stays";
    }
    ui::RunUntil([] { return false; }, 200);
    EXPECT_LT(destroy(c), std::chrono::seconds(2));
}

// Passwords holding the characters of a query reach the camera as they are;
// the command is not escaped (it may bring parameters of its own).
TEST_F(CgiExchange, PasswordsWithQueryCharactersLogInAndGetTheirAnswers)
{
    // The page's text, and the same in the system code page as the camera keeps it.
    const std::pair<const char*, const char*> passwords[] = {
        { "a&b", "a&b" }, { "c#d", "c#d" }, { "50%off", "50%off" }, { "two words", "two words" }, { "p+q=r?", "p+q=r?" },
        { "\xe4\xb8\xad\xe6\x96\x87", "\xd6\xd0\xce\xc4" },
    };
    for (const auto& [pagePassword, password] : passwords) {
        sim::CameraConfig config;
        config.accounts = { { "admin", password } };
        startCamera(config);
        auto* c = makeControl(0);
        ASSERT_TRUE(login(c, 1, pagePassword)) << password;
        std::string answer = callText(c, "GetCGIResult", { str("getDevInfo"), num(0) });
        EXPECT_NE(answer.find("<result>0</result>"), std::string::npos) << password << ": " << answer;
        answer = callText(c, "GetCGIResult", { str("getPortInfo&extra=1"), num(0) });
        EXPECT_NE(answer.find("<httpsPort>"), std::string::npos) << "the command reached the camera as given: " << answer;
        EXPECT_EQ(camera->CgiLog().back(), kz::cgi::kGetPortInfo);
        controls.clear();
        c->Release();
        camera.reset();
    }
}

}
