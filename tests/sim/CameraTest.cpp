// The simulated camera's own behaviour that the network library does not
// exercise: CGI texts and delays, and start-up checks.

#include "sim/Camera.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(simCgi, CommandNameIsTheCmdValueOrTheLeadingWord)
{
    EXPECT_EQ(sim::CgiCommandName("cmd=getDevInfo&usr=a&pwd=b"), "getDevInfo");
    EXPECT_EQ(sim::CgiCommandName("usr=a&cmd=ptzMoveUp"), "ptzMoveUp");
    EXPECT_EQ(sim::CgiCommandName("getPortInfo"), "getPortInfo");
    EXPECT_EQ(sim::CgiCommandName("setSubVideoStreamType&streamType=1"), "setSubVideoStreamType");
    EXPECT_EQ(sim::CgiCommandName(""), "");
}

TEST(simCgi, AnswersCarryTheConfiguredDeviceFacts)
{
    sim::CameraConfig config;
    config.rows = 12;
    config.cols = 14;
    config.ptFlag = 0;
    config.rs485Flag = 1;
    config.httpsPort = 8443;
    config.product = "P-1";
    config.model = "M-2";
    auto info = sim::CgiAnswer(config, 80, 88, "getProductAllInfo", true);
    EXPECT_NE(info.find("<result>0</result>"), std::string::npos);
    EXPECT_NE(info.find("<motionAreaRows>12</motionAreaRows><motionAreaCols>14</motionAreaCols>"), std::string::npos);
    EXPECT_NE(info.find("<ptFlag>0</ptFlag><rs485Flag>1</rs485Flag>"), std::string::npos);
    EXPECT_NE(info.find("<modelName>M-2</modelName>"), std::string::npos);
    EXPECT_NE(sim::CgiAnswer(config, 80, 88, "getDevInfo", true).find("<productName>P-1</productName>"), std::string::npos);
    EXPECT_NE(sim::CgiAnswer(config, 80, 88, "getPortInfo", true).find("<httpsPort>8443</httpsPort>"), std::string::npos);
    auto refused = sim::CgiAnswer(config, 80, 88, "getDevInfo", false);
    EXPECT_EQ(refused, "<CGI_Result><result>-2</result></CGI_Result>");
}

TEST(simCgi, QueryValuesAreDecodedAsCamerasDecodeThem)
{
    const std::string target = "/cgi-bin/CGIProxy.fcgi?usr=ad+min&pwd=a%26b%2b%2Bc%20d%zz%4&cmd=getDevInfo&cmd=other&empty=&bare";
    EXPECT_EQ(sim::CgiQueryValue(target, "usr"), "ad min");
    EXPECT_EQ(sim::CgiQueryValue(target, "pwd"), "a&b++c d%zz%4") << "bad escapes stay as they are";
    EXPECT_EQ(sim::CgiQueryValue(target, "cmd"), "getDevInfo") << "the first occurrence counts";
    EXPECT_EQ(sim::CgiQueryValue(target, "empty"), "");
    EXPECT_EQ(sim::CgiQueryValue(target, "bare"), "");
    EXPECT_EQ(sim::CgiQueryValue(target, "missing"), "");
    EXPECT_EQ(sim::CgiQueryValue("/no/query", "usr"), "");
}

TEST(simCamera, ServesCgiOverHttpAndLogsEveryCommand)
{
    sim::CameraConfig config;
    config.accounts = { { "admin", "secret" } };
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    httplib::Client client(camera->Address(), camera->WebPort());
    auto ok = client.Get("/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=secret&cmd=ptzMoveLeft");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->body, "<CGI_Result><result>0</result></CGI_Result>");
    auto bad = client.Get("/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=wrong&cmd=getDevInfo");
    ASSERT_TRUE(bad);
    EXPECT_NE(bad->body.find("<result>-2</result>"), std::string::npos);
    EXPECT_EQ(camera->CgiLog(), (std::vector<std::string> { "ptzMoveLeft", "getDevInfo" }));
}

TEST(simCamera, DecodesTheAccountInTheQueryAsCamerasDo)
{
    sim::CameraConfig config;
    config.accounts = { { "ad min", "a&b#c%d e+f" } };
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    httplib::Client client(camera->Address(), camera->WebPort());
    client.set_url_encode(false); // the requests go as written
    for (const char* query : { "usr=ad%20min&pwd=a%26b%23c%25d%20e%2Bf", "usr=ad+min&pwd=a%26b%23c%25d+e%2bf" }) {
        auto answer = client.Get((std::string("/cgi-bin/CGIProxy.fcgi?") + query + "&cmd=getDevInfo").c_str());
        ASSERT_TRUE(answer);
        EXPECT_NE(answer->body.find("<result>0</result>"), std::string::npos) << query;
    }
    auto raw = client.Get("/cgi-bin/CGIProxy.fcgi?usr=ad%20min&pwd=a%26b%23c%25d%20e+f&cmd=getDevInfo");
    ASSERT_TRUE(raw);
    EXPECT_NE(raw->body.find("<result>-2</result>"), std::string::npos) << "a plain + is a space";
}

TEST(simCamera, RefusesUnusableSettings)
{
    sim::CameraConfig tooLongId;
    tooLongId.deviceId = "0123456789ABC";
    EXPECT_FALSE(sim::Camera::Start(tooLongId));
    sim::CameraConfig badAudio;
    badAudio.audio = 7;
    EXPECT_FALSE(sim::Camera::Start(badAudio));
    sim::CameraConfig oddSize;
    oddSize.video.width = 641;
    EXPECT_FALSE(sim::Camera::Start(oddSize));
}

TEST(simCamera, TwoCamerasGetTheirOwnPorts)
{
    auto a = sim::Camera::Start({});
    auto b = sim::Camera::Start({});
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->Port(), b->Port());
    EXPECT_NE(a->WebPort(), b->WebPort());
    EXPECT_NE(a->SearchPort(), b->SearchPort());
}

TEST(simCamera, ADelayHoldsEveryCgiAnswerOverHttpUntilTurnedOff)
{
    constexpr int kDelayMs = 400;
    sim::CameraConfig config;
    config.cgiDelayMs = kDelayMs;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    httplib::Client client(camera->Address(), camera->WebPort());
    auto timed = [&](const char* command) {
        auto start = std::chrono::steady_clock::now();
        auto answer = client.Get(std::string("/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=&cmd=") + command);
        EXPECT_TRUE(answer) << command;
        if (answer) {
            EXPECT_NE(answer->body.find("<result>0</result>"), std::string::npos) << command;
        }
        return std::chrono::steady_clock::now() - start;
    };
    auto configured = timed("getDevInfo");
    EXPECT_GE(configured, std::chrono::milliseconds(kDelayMs));
    EXPECT_LT(configured, std::chrono::milliseconds(kDelayMs + 5000));

    camera->DelayCgi(2 * kDelayMs);
    auto scripted = timed("getPortInfo");
    EXPECT_GE(scripted, std::chrono::milliseconds(2 * kDelayMs));
    EXPECT_LT(scripted, std::chrono::milliseconds(2 * kDelayMs + 5000));

    camera->DelayCgi(0);
    EXPECT_LT(timed("ptzStopRun"), std::chrono::milliseconds(kDelayMs));
    EXPECT_EQ(camera->CgiLog(), (std::vector<std::string> { "getDevInfo", "getPortInfo", "ptzStopRun" }));
}

TEST(simCamera, ADelayedAnswerDoesNotHoldUpTheCamerasStop)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    camera->DelayCgi(60000);
    std::thread request([port = camera->WebPort(), address = camera->Address()] {
        httplib::Client client(address, port);
        client.Get("/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=&cmd=getDevInfo");
    });
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->CgiLog().size() == 1; }, 5000));
    auto start = std::chrono::steady_clock::now();
    camera.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    request.join();
}
