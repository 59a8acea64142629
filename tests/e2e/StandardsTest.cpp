// End to end against the camera of the standards: an unchanged page logs
// in through ONVIF, shows the RTSP picture (H.264 or H.265) moving, plays
// and records the camera's 440 Hz tone in whichever coding the camera sends
// it, whatever sound coding the page asked for, and its voice (the
// microphone's tone, coded as the page asked) reaches the camera's ONVIF
// back channel as G.711.

#include "support/PageFixture.h"
#include "support/Tone.h"
#include "support/Sanitized.h"

#include <sched.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// Time for the RTSP session to be set up and the first frames drawn.
constexpr int kFirstShotMs = testing_support::kSanitized ? 6000 : 2500;
// Screenshots from then on, this far apart: the picture is to be drawn in
// one of them and to change between two of them.
constexpr int kShots = 6;
constexpr int kShotEveryMs = 500;
// Recording from the login on for this long: past the second key frame.
constexpr int kRecordMs = kFirstShotMs + kShots * kShotEveryMs;
constexpr int kCameraToneHz = 440;
constexpr int kMicrophoneToneHz = 1000;

std::string standardsPage(int coding)
{
    return "var coding = " + std::to_string(coding) + ", firstShot = " + std::to_string(kFirstShotMs) + ", recordMs = " + std::to_string(kRecordMs)
        + ", shots = " + std::to_string(kShots) + ", shotEvery = " + std::to_string(kShotEveryMs) + ";\n" + R"JS(
        var opened = false;
        function shoot(n) { return function () { host.screenshot("shot" + n + ".png"); }; }
        function PluginCallBack(code, status) {
            if (code === 100) {
                console.log("login " + status);
                if (status === 0 && !opened) {
                    opened = true;
                    v.LoginSuc(); v.RecordPath = host.args.records; v.Open(""); v.OpenAudio(); v.OpenTalk(); v.Record(1, "");
                    for (var i = 0; i < shots; i++)
                        setTimeout(shoot(i), firstShot + i * shotEvery);
                    setTimeout(function () { v.Record(0, ""); setTimeout(function () { host.exit(0); }, 300); }, recordMs);
                }
            }
        }
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, coding, 1);
    )JS";
}

// The frequency of 16-bit samples by zero crossings, past their first
// quarter (the stream's start).
std::string run(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
        std::array<char, 4096> buffer {};
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), p))
            out.append(buffer.data(), n);
        ::pclose(p);
    }
    return out;
}

struct Case {
    const char* name;
    const char* camera; // the standards camera's options
    int coding;         // the page's sound coding (stream type)
    const char* video;  // what ffprobe names the recording's video
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

}

class Standards : public ::testing::TestWithParam<Case> { };

TEST_P(Standards, AnUnchangedPageShowsPlaysRecordsAndTalksToACameraOfTheStandards)
{
    const Case c = GetParam();
    const std::string name = std::string("standards-") + c.name;
    const std::string folder = ::testing::TempDir() + "/" + name + "-records";
    fs::remove_all(folder);
    std::string wav = ::testing::TempDir() + "/" + name + ".wav";
    std::remove(wav.c_str());
    setenv("TIRAVEX_AUDIO_OUT", wav.c_str(), 1);
    setenv("TIRAVEX_AUDIO_IN", ("tone:" + std::to_string(kMicrophoneToneHz)).c_str(), 1);
    // A settings folder of its own: the record folder a page sets is shared
    // by every page of the machine, the other codings' tests beside it included.
    const std::string settings = folder + "-settings";
    fs::remove_all(settings);
    fs::create_directories(settings);
    setenv("TIRAVEX_SETTINGS_DIR", settings.c_str(), 1);
    auto page = testing_support::RunPage(std::string("onvif,password=p4ss,width=640,height=480,keyint=15,") + c.camera,
        "host.args.records = \"" + folder + "\";\n" + standardsPage(c.coding), name);
    unsetenv("TIRAVEX_SETTINGS_DIR");
    unsetenv("TIRAVEX_AUDIO_OUT");
    unsetenv("TIRAVEX_AUDIO_IN");
    ASSERT_EQ(page.exitCode, 0);
    ASSERT_FALSE(page.console.empty());
    EXPECT_EQ(page.console.front(), "login 0");

    // The picture: drawn (bright) in a shot, and a later shot differs from it.
    std::vector<testing_support::Image> shots(kShots);
    for (int i = 0; i < kShots; ++i)
        ASSERT_TRUE(shots[static_cast<std::size_t>(i)].read(page.folder + "/shot" + std::to_string(i) + ".png")) << i;
    int firstDrawn = -1;
    long differing = 0;
    for (int i = 0; i < kShots; ++i) {
        long bright = 0, changed = 0;
        for (int y = 1; y < 481; y += 2)
            for (int x = 1; x < 641; x += 2) {
                bright += (shots[static_cast<std::size_t>(i)].at(x, y) & 0xFF00) > 0x2000;
                if (firstDrawn >= 0)
                    changed += shots[static_cast<std::size_t>(i)].at(x, y) != shots[static_cast<std::size_t>(firstDrawn)].at(x, y);
            }
        differing = std::max(differing, changed);
        if (firstDrawn < 0 && bright > 10000)
            firstDrawn = i;
    }
    ASSERT_GE(firstDrawn, 0) << "the live picture stayed black";
    EXPECT_GT(differing, 1000) << "the picture did not move";

    // The camera's tone, as played.
    std::size_t samples = 0;
    EXPECT_NEAR(testing_support::WavFrequency(wav, samples), kCameraToneHz, 15.0);
    EXPECT_GT(samples, 4000u) << "less than half a second of sound was played";

    // The recording: FFmpeg reads it silently, its video in the camera's
    // coding and its sound the same tone.
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& e : fs::recursive_directory_iterator(folder, error))
        if (e.path().extension() == ".avi")
            files.push_back(e.path().string());
    ASSERT_EQ(files.size(), 1u);
    const std::string& file = files.front();
    EXPECT_EQ(run("ffmpeg -v error -i '" + file + "' -f null -"), "") << "FFmpeg reads it silently";
    EXPECT_EQ(run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 '" + file + "'"), std::string(c.video) + "\n");
    std::string raw = ::testing::TempDir() + "/" + name + ".s16";
    EXPECT_EQ(run("ffmpeg -v error -y -i '" + file + "' -map 0:a -f s16le -ac 1 -ar 8000 '" + raw + "'"), "");
    std::size_t recorded = 0;
    EXPECT_NEAR(testing_support::PcmFrequency(testing_support::ReadAll(raw), 0, recorded), kCameraToneHz, 15.0) << "the recorded sound";
    EXPECT_GT(recorded, 4000u) << "less than half a second of sound was recorded";

    // The voice: each talk block of the page's coding, decoded, is one RTP
    // packet of G.711 (as many bytes as the block has samples) carrying the
    // microphone's tone.
    auto blocks = page.camera->TalkBlocks();
    const int samplesPerBlock = c.coding == kz::kAudioAdpcm ? kz::kTalkBlockAdpcm * 2 : kz::kTalkBlockPcm / 2;
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks.begin()->first, samplesPerBlock);
    EXPECT_GT(blocks.begin()->second, 5);
    auto voice = page.camera->TalkSound();
    EXPECT_NEAR(testing_support::SampleFrequency(voice.data(), voice.size()), kMicrophoneToneHz, 30.0) << "the back channel's voice";
}

INSTANTIATE_TEST_SUITE_P(Codings, Standards,
    ::testing::Values(Case { "mulaw-pcm", "sound=mulaw", kz::kAudioPcm, "h264" }, Case { "mulaw-g726", "sound=mulaw", kz::kAudioG726, "h264" },
        Case { "alaw-adpcm", "sound=alaw", kz::kAudioAdpcm, "h264" }, Case { "g726-pcm", "sound=g726", kz::kAudioPcm, "h264" },
        Case { "g726aal2-adpcm", "sound=g726aal2", kz::kAudioAdpcm, "h264" }, Case { "aac-h265-adpcm", "sound=aac,codec=h265", kz::kAudioAdpcm, "hevc" },
        Case { "mulaw-mjpeg-pcm", "sound=mulaw,codec=mjpeg", kz::kAudioPcm, "mjpeg" }),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), '-', '_');
        return n;
    });

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
