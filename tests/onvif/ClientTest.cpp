// The npm `onvif` client, a client no one on the team wrote, against the
// simulated camera's ONVIF services: it connects with the account, reads
// the device information, the stream and snapshot addresses, and moves and
// stops pan/tilt, which the camera must have received, and finds the
// camera's recordings and the first one's replay address. curl, another
// client we did not write, fetches the snapshot with HTTP Digest.

#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>

TEST(OnvifClient, TheThirdPartyClientConnectsReadsTheAddressesAndMovesPanTilt)
{
    ASSERT_EQ(access(TIRAVEX_ONVIF_CLIENT_DIR "/node_modules/onvif/package.json", R_OK), 0) << "npm did not install the onvif client";
    sim::CameraConfig config;
    config.dialect = sim::Dialect::Standards;
    config.accounts = { { "operator", "pa ss" } };
    config.clockOffsetSeconds = 600; // the client must correct its tokens' time
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    std::string command = std::string("NODE_PATH='") + TIRAVEX_ONVIF_CLIENT_DIR + "/node_modules' '" + TIRAVEX_NODE + "' '" + TIRAVEX_ONVIF_CLIENT_SCRIPT
        + "' 127.0.0.1 " + std::to_string(camera->WebPort()) + " operator 'pa ss' " + std::to_string(camera->Port()) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
        output += line;
    int status = pclose(pipe);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("onvif client: 12 passed, 0 failed"), std::string::npos) << output;
    auto log = camera->OnvifLog();
    auto has = [&](const std::string& entry) { return std::find(log.begin(), log.end(), entry) != log.end(); };
    EXPECT_TRUE(has("ContinuousMove 0.50 -0.25")) << output;
    EXPECT_TRUE(has("Stop")) << output;

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
