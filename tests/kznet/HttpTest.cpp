// The HTTP client against the simulated camera's CGI server, in the call
// order the control uses.

#include "kznet/Library.h"
#include "kznet/kznet.h"
#include "sim/Camera.h"
#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

struct Exchange {
    int connect = -1;
    int request = -1;
    std::string body;
    bool hasBody = false;
};

// One CGI exchange as the control makes it.
Exchange cgi(const std::string& address, int port, const std::string& user, const std::string& password, const std::string& command)
{
    Exchange e;
    KzHandle http = kz_create_HttpParser();
    kz_mallocSendData(http, 500);
    std::string path = "/cgi-bin/CGIProxy.fcgi?usr=" + user + "&pwd=" + password + "&cmd=" + command;
    std::string host = address + ":" + std::to_string(port);
    kz_set_httpRequest(http, path.c_str(), "GET", host.c_str(), 0, 0);
    kz_create_HttpSocket(http);
    e.connect = kz_httpConnect(http, address.c_str(), port);
    if (e.connect == kz::kHttpConnectFailed || e.connect == kz::kHttpConnectRefused)
        kz_closeHttpSocket(http);
    e.request = kz_httpRequest(http);
    if (e.request == kz::kHttpSocketClosed)
        kz_closeHttpSocket(http);
    if (kz_httpIsConnected(http))
        kz_httpResponse(http, 300);
    const char* body = kz_GetContentData(http);
    e.hasBody = body != nullptr;
    if (body)
        e.body = body;
    kz_closeHttpSocket(http);
    kz_freeSendData(http);
    kz_close_HttpParser(http);
    return e;
}

}

TEST(kznetHttp, CgiCommandsAreAnsweredAndRecorded)
{
    sim::CameraConfig config;
    config.accounts = { { "admin", "pw" } };
    config.rows = 12;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    auto info = cgi("127.0.0.1", camera->WebPort(), "admin", "pw", "getProductAllInfo");
    EXPECT_EQ(info.connect, 0);
    EXPECT_EQ(info.request, 0);
    ASSERT_TRUE(info.hasBody);
    EXPECT_NE(info.body.find("<motionAreaRows>12</motionAreaRows>"), std::string::npos);

    const char* ptz[] = { "ptzMoveTopLeft", "ptzMoveUp", "ptzMoveTopRight", "ptzMoveLeft", "ptzStopRun", "ptzMoveRight", "ptzMoveBottomLeft", "ptzMoveDown", "ptzMoveBottomRight" };
    for (auto* command : ptz)
        EXPECT_EQ(cgi("127.0.0.1", camera->WebPort(), "admin", "pw", command).body, "<CGI_Result><result>0</result></CGI_Result>");
    auto log = camera->CgiLog();
    ASSERT_EQ(log.size(), 10u);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(log[i + 1], ptz[i]);

    auto refused = cgi("127.0.0.1", camera->WebPort(), "admin", "bad", "getDevInfo");
    EXPECT_NE(refused.body.find("<result>-2</result>"), std::string::npos) << "a wrong password gets a non-zero result";
}

TEST(kznetHttp, ConnectFailuresGiveTheirResultsAndNoBody)
{
    auto refused = cgi("127.0.0.1", testing_support::UnusedLoopbackPort(), "admin", "", "getDevInfo");
    EXPECT_EQ(refused.connect, kz::kHttpConnectRefused);
    EXPECT_EQ(refused.request, kz::kHttpSocketClosed);
    EXPECT_FALSE(refused.hasBody);
    auto bad = cgi("not an address", 80, "admin", "", "getDevInfo");
    EXPECT_EQ(bad.connect, kz::kHttpConnectFailed);
    EXPECT_FALSE(bad.hasBody);

    KzHandle http = kz_create_HttpParser();
    EXPECT_EQ(kz_httpIsConnected(http), 0) << "no socket made yet";
    EXPECT_EQ(kz_httpConnect(http, "127.0.0.1", 80), kz::kHttpSocketClosed);
    EXPECT_EQ(kz_httpRequest(http), kz::kHttpSocketClosed);
    EXPECT_EQ(kz_GetContentData(http), nullptr);
    kz_close_HttpParser(http);
    EXPECT_EQ(kz_httpConnect(nullptr, "127.0.0.1", 80), kz::kHttpSocketClosed);
}

TEST(kznetHttp, AnIgnoredRequestEndsAtTheTimeOutWithoutABody)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    camera->IgnoreCgi(true);
    auto start = std::chrono::steady_clock::now();
    auto e = cgi("127.0.0.1", camera->WebPort(), "admin", "", "getDevInfo");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(e.connect, 0);
    EXPECT_FALSE(e.hasBody);
    EXPECT_LT(took, std::chrono::seconds(6));
    camera->IgnoreCgi(false);
}

TEST(kznetHttp, ClosingTheSocketFromAnotherThreadEndsTheExchangeAtOnce)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    camera->IgnoreCgi(true);
    KzHandle http = kz_create_HttpParser();
    kz_set_httpRequest(http, "/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=&cmd=getDevInfo", "GET", "127.0.0.1", 0, 0);
    kz_create_HttpSocket(http);
    ASSERT_EQ(kz_httpConnect(http, "127.0.0.1", camera->WebPort()), 0);
    ASSERT_EQ(kz_httpRequest(http), 0);
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->CgiLog().size() == 1; }, 5000)) << "the camera has the request";
    auto start = std::chrono::steady_clock::now();
    std::thread closer([http] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kz_closeHttpSocket(http);
    });
    int status = kz_httpResponse(http, 300);
    auto took = std::chrono::steady_clock::now() - start;
    closer.join();
    EXPECT_EQ(status, -1);
    EXPECT_EQ(kz_GetContentData(http), nullptr);
    EXPECT_LT(took, std::chrono::seconds(1)) << "the response wait ran to its time-out";
    EXPECT_EQ(kz_httpIsConnected(http), 0);

    // The parser serves the next exchange as before.
    camera->IgnoreCgi(false);
    kz_create_HttpSocket(http);
    ASSERT_EQ(kz_httpConnect(http, "127.0.0.1", camera->WebPort()), 0);
    ASSERT_EQ(kz_httpRequest(http), 0);
    EXPECT_EQ(kz_httpResponse(http, 300), 200);
    ASSERT_NE(kz_GetContentData(http), nullptr);
    EXPECT_NE(std::string(kz_GetContentData(http)).find("<result>0</result>"), std::string::npos);
    kz_closeHttpSocket(http);
    kz_close_HttpParser(http);
}

TEST(kznetHttp, ResponseParserTakesOnlyCompleteAnswers)
{
    struct Case {
        const char* what;
        std::string raw;
        bool closed;
        bool ok;
        std::string body;
    } cases[] = {
        { "content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, true, "hello" },
        { "short body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", true, false, "" },
        { "chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", false, true, "abcde" },
        { "chunk longer than data", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffff\r\nabc", true, false, "" },
        { "until close", "HTTP/1.0 200 OK\r\n\r\n<CGI_Result>", true, true, "<CGI_Result>" },
        { "not yet closed", "HTTP/1.0 200 OK\r\n\r\n<CGI", false, false, "" },
        { "no status line", "garbage\r\n\r\nbody", true, false, "" },
        { "huge length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\nx", true, false, "" },
    };
    for (auto& c : cases) {
        int status = 0;
        std::string body;
        EXPECT_EQ(kz::ParseHttpResponse(c.raw, c.closed, status, body), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(body, c.body) << c.what;
            EXPECT_EQ(status, 200) << c.what;
        }
    }
}
