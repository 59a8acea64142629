// The npm `onvif` client, a client no one on the team wrote, against the
// simulated camera's ONVIF services: it connects with the account, reads
// the device information, the stream and snapshot addresses, and moves and
// stops pan/tilt, which the camera must have received, and finds the
// camera's recordings and the first one's replay address; it pulls the
// camera's events (its digital input on) and reads back the motion cells
// that our library's CGI relay saved. curl, another client we did not
// write, fetches the snapshot with HTTP Digest.

#include "kznet/Onvif.h"
#include "kznet/Protocol.h"
#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>

TEST(OnvifClient, TheThirdPartyClientConnectsMovesPanTiltPullsTheAlarmAndReadsTheGridOurRelaySaved)
{
    ASSERT_EQ(access(TIRAVEX_ONVIF_CLIENT_DIR "/node_modules/onvif/package.json", R_OK), 0) << "npm did not install the onvif client";
    sim::CameraConfig config;
    config.dialect = sim::Dialect::Standards;
    config.accounts = { { "operator", "pa ss" } };
    config.clockOffsetSeconds = 600; // the client must correct its tokens' time
    config.cols = 12; // 108 cells: the last byte is padded
    config.rows = 9;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);

    // Our relay: the grid's size in the product information, the grid as
    // the camera has it (every cell on), then a grid saved.
    using kz::onvif::RelayCgi;
    auto session = std::make_shared<kz::onvif::Session>("127.0.0.1", camera->WebPort(), "operator", "pa ss");
    auto deadline = kz::onvif::Clock::now() + std::chrono::seconds(10);
    ASSERT_TRUE(session->Probe(deadline, nullptr));
    ASSERT_EQ(session->LogIn(camera->Port(), deadline, nullptr), kz::kLoginOk);
    std::string product = RelayCgi(*session, kz::cgi::kGetProductAllInfo, "", true, nullptr).text;
    EXPECT_NE(product.find("<motionAreaRows>9</motionAreaRows><motionAreaCols>12</motionAreaCols>"), std::string::npos) << product;
    std::string grid = RelayCgi(*session, kz::cgi::kGetMotionConfig, "", true, nullptr).text;
    EXPECT_EQ(grid, "<CGI_Result><result>0</result><area0>4095</area0><area1>4095</area1><area2>4095</area2><area3>4095</area3><area4>4095</area4>"
                    "<area5>4095</area5><area6>4095</area6><area7>4095</area7><area8>4095</area8></CGI_Result>");
    // Rows 0 to 7 saved (row 12 is beyond the grid); row 8, not given, stays on.
    EXPECT_EQ(RelayCgi(*session, kz::cgi::kSetMotionConfig,
                  "cmd=setMotionDetectConfig&area0=1&area1=2048&area2=0&area3=0&area4=0&area5=0&area6=0&area7=0&area12=7", true, nullptr)
                  .text,
        "<CGI_Result><result>0</result></CGI_Result>");
    const std::string cells = "100000000000|000000000001|000000000000|000000000000|000000000000|000000000000|000000000000|000000000000|111111111111";
    camera->Alarm(kz::kAlarmKindInput);

    std::string command = std::string("NODE_PATH='") + TIRAVEX_ONVIF_CLIENT_DIR + "/node_modules' '" + TIRAVEX_NODE + "' '" + TIRAVEX_ONVIF_CLIENT_SCRIPT
        + "' 127.0.0.1 " + std::to_string(camera->WebPort()) + " operator 'pa ss' " + std::to_string(camera->Port()) + " '" + cells + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
        output += line;
    int status = pclose(pipe);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("onvif client: 22 passed, 0 failed"), std::string::npos) << output;
    auto log = camera->OnvifLog();
    auto has = [&](const std::string& entry) { return std::find(log.begin(), log.end(), entry) != log.end(); };
    EXPECT_TRUE(has("ContinuousMove 0.50 -0.25")) << output;
    EXPECT_TRUE(has("Stop")) << output;
    EXPECT_TRUE(has("Renew")) << output;
    EXPECT_TRUE(has("Unsubscribe")) << output;

    // The snapshot's address as the client read it, fetched with Digest by curl.
    if (std::system("curl --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no curl to fetch the snapshot with";
    auto fetch = [&](const std::string& account) {
        std::string picture = ::testing::TempDir() + "/onvif-snapshot.jpg";
        std::remove(picture.c_str());
        std::string curl = "curl -s --digest -u '" + account + "' -o '" + picture + "' -w '%{http_code}' http://127.0.0.1:" + std::to_string(camera->WebPort())
            + "/snapshot.jpg";
        FILE* p = popen(curl.c_str(), "r");
        char code[16] = {};
        if (p) {
            if (!std::fgets(code, sizeof code, p))
                code[0] = 0;
            pclose(p);
        }
        unsigned char start[2] = {};
        if (FILE* f = std::fopen(picture.c_str(), "rb")) {
            if (std::fread(start, 1, sizeof start, f) != sizeof start)
                start[0] = 0;
            std::fclose(f);
        }
        return std::string(code) + (start[0] == 0xFF && start[1] == 0xD8 ? " jpeg" : "");
    };
    EXPECT_EQ(fetch("operator:pa ss"), "200 jpeg");
    EXPECT_EQ(fetch("operator:wrong"), "401");
}
