// End to end against the camera of the standards: an unchanged page logs
// in through ONVIF, shows the RTSP picture moving and plays its G.711 tone
// whether it asked for PCM or G.726 sound, and with PCM its voice reaches
// the camera's ONVIF back channel.

#include "support/PageFixture.h"
#include "support/Sanitized.h"

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
