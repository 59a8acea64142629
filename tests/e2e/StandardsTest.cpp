// End to end against the camera of the standards: an unchanged page logs
// in through ONVIF, shows the RTSP picture moving and plays its G.711 tone
// whether it asked for PCM or G.726 sound, and with PCM its voice reaches
// the camera's ONVIF back channel.

#include "support/PageFixture.h"
#include "support/Sanitized.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace {

// Time for the RTSP session to be set up and the first frames drawn.
constexpr int kFirstShotMs = testing_support::kSanitized ? 6000 : 2500;

std::string standardsPage(int coding)
{
    return "var coding = " + std::to_string(coding) + ", firstShot = " + std::to_string(kFirstShotMs) + ";\n" + R"JS(
        function PluginCallBack(code, status) {
            if (code === 100) {
                console.log("login " + status);
                if (status === 0) { v.LoginSuc(); v.Open(""); v.OpenAudio(); v.OpenTalk(); }
            }
        }
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, coding, 1);
        setTimeout(function () { host.screenshot("first.png"); }, firstShot);
        setTimeout(function () { host.screenshot("second.png"); host.exit(0); }, firstShot + 1000);
    )JS";
}

double wavFrequency(const std::string& path, std::size_t& samples)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::size_t kWavHeader = 44;
    samples = bytes.size() > kWavHeader ? (bytes.size() - kWavHeader) / 2 : 0;
    if (samples < 800)
        return 0;
    const auto* s = reinterpret_cast<const std::int16_t*>(bytes.data() + kWavHeader);
    std::size_t start = samples / 4; // past the start of the stream
    int crossings = 0;
    for (std::size_t i = start + 1; i < samples; ++i)
        crossings += (s[i - 1] < 0) != (s[i] < 0);
    return crossings / 2.0 * 8000.0 / static_cast<double>(samples - start);
}

}

class Standards : public ::testing::TestWithParam<int> { };

TEST_P(Standards, AnUnchangedPageShowsTheMovingPicturePlaysTheToneAndTalksToACameraOfTheStandards)
{
    const int coding = GetParam();
    const std::string name = "standards-" + std::to_string(coding);
    std::string wav = ::testing::TempDir() + "/" + name + ".wav";
    std::remove(wav.c_str());
    setenv("TIRAVEX_AUDIO_OUT", wav.c_str(), 1);
    auto run = testing_support::RunPage("onvif,password=p4ss,width=640,height=480", standardsPage(coding), name);
    unsetenv("TIRAVEX_AUDIO_OUT");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.console.empty());
    EXPECT_EQ(run.console.front(), "login 0");

    testing_support::Image first, second;
    ASSERT_TRUE(first.read(run.folder + "/first.png"));
    ASSERT_TRUE(second.read(run.folder + "/second.png"));
    long bright = 0, differing = 0;
    for (int y = 1; y < 481; y += 2)
        for (int x = 1; x < 641; x += 2) {
            bright += (first.at(x, y) & 0xFF00) > 0x2000;
            differing += first.at(x, y) != second.at(x, y);
        }
    EXPECT_GT(bright, 10000) << "the live picture is black";
    EXPECT_GT(differing, 1000) << "the picture did not move in a second";

    std::size_t samples = 0;
    EXPECT_NEAR(wavFrequency(wav, samples), 440.0, 15.0);
    EXPECT_GT(samples, 4000u) << "less than half a second of sound was played";

    // The voice: PCM blocks coded as G.711 mu-law, half their size, on the
    // back channel. G.726 talk is not sent to a standard camera.
    auto blocks = run.camera->TalkBlocks();
    if (coding == kz::kAudioPcm) {
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks.begin()->first, kz::kTalkBlockPcm / 2);
        EXPECT_GT(blocks.begin()->second, 5);
    } else {
        EXPECT_TRUE(blocks.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Codings, Standards, ::testing::Values(kz::kAudioPcm, kz::kAudioG726));

namespace {

// A network namespace of this test's own, with loopback up and the
// multicast groups routed to it, so that WS-Discovery's multicast never
// leaves this machine. False when the system gives us none.
bool ownNetworkWithMulticastOnLoopback()
{
    if (::unshare(CLONE_NEWNET) != 0)
        return false;
    return std::system("ip link set lo up multicast on && ip route add 224.0.0.0/4 dev lo") == 0;
}

}

// A page's search finds a camera of the standards by WS-Discovery, under its
// name and at the address and HTTP port of its device service, beside the
// answers of our own search; once logged in to, the page locates it.
TEST(StandardsSearch, APagesSearchFindsACameraOfTheStandardsByDiscoveryAndLocatesItAfterItsLogin)
{
    if (!ownNetworkWithMulticastOnLoopback())
        GTEST_SKIP() << "no network namespace of our own with multicast on loopback (needs CAP_SYS_ADMIN and CAP_NET_ADMIN, and ip)";
    setenv("TIRAVEX_SEARCH_TARGETS", "127.0.0.1,239.255.255.250", 1);
    auto run = testing_support::RunPage("onvif,name=前门 Porch", R"JS(
        var loggingIn = false;
        function PluginCallBack(code) {
            var args = Array.prototype.slice.call(arguments);
            if (code === 211) {
                console.log("found " + args.slice(1).join("|"));
                if (!loggingIn) { loggingIn = true; v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1); }
            }
            if (code === 208) { console.log("located " + args.slice(1).join("|")); host.exit(0); }
            if (code === 100) console.log("login " + args[1]);
            if (code === 100 && args[1] === 0) v.GetDevIPandPort(2);
        }
        var v = createControl({ Self: 0 });
        v.SearchDev(3);
        setTimeout(function () { console.log("not found or not located"); host.exit(3); }, 10000);
    )JS", "standards-search");
    unsetenv("TIRAVEX_SEARCH_TARGETS");
    ASSERT_FALSE(run.console.empty());
    const std::string webPort = std::to_string(run.camera->WebPort());
    EXPECT_EQ(run.console.front(), "found 前门 Porch|127.0.0.1|" + webPort + "|100");
    EXPECT_EQ(std::count_if(run.console.begin(), run.console.end(), [](const std::string& line) { return line.rfind("found ", 0) == 0; }), 1)
        << "the camera is listed once a search";
    EXPECT_EQ(run.console.back(), "located 127.0.0.1|" + webPort);
    EXPECT_EQ(run.exitCode, 0);
}
