// End to end: a page records the simulated camera's live video and sound
// into AVI files that FFmpeg reads silently, a picture size change starts
// a new file, and a page host killed mid-recording leaves a file that
// tiravex-avifix finishes.

#include "support/PageFixture.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Runs a shell command; its standard output and error together.
std::string run(const std::string& command, int* status = nullptr)
{
    std::string out;
    if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
        std::array<char, 4096> buffer {};
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), p))
            out.append(buffer.data(), n);
        int s = ::pclose(p);
        if (status)
            *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    }
    return out;
}

std::string probe(const std::string& file, const std::string& stream, const std::string& entries)
{
    std::string out = run("ffprobe -v error -count_frames -select_streams " + stream + " -show_entries stream=" + entries + " -of default=nw=1 '" + file + "'");
    return out;
}

// "key=value" of ffprobe's output, as a number (-1 when absent).
double field(const std::string& text, const std::string& key)
{
    std::size_t at = text.find(key + "=");
    if (at == std::string::npos)
        return -1;
    return std::atof(text.c_str() + at + key.size() + 1);
}
std::string fieldText(const std::string& text, const std::string& key)
{
    std::size_t at = text.find(key + "=");
    if (at == std::string::npos)
        return "";
    std::size_t end = text.find('\n', at);
    return text.substr(at + key.size() + 1, end - at - key.size() - 1);
}

std::vector<std::string> aviFiles(const std::string& folder)
{
    std::vector<std::string> out;
    std::error_code error;
    for (const auto& e : fs::recursive_directory_iterator(folder, error))
        if (e.path().extension() == ".avi")
            out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A page that records for `seconds` (with `during` run halfway) and prints
// the recording events it got.
std::string recordingPage(int coding, int seconds, const std::string& during = "")
{
    return "var coding = " + std::to_string(coding) + ", seconds = " + std::to_string(seconds) + ";\n" + R"JS(
        var events = [];
        var opened = false;
        var v = createControl({ Self: 0, x: 0, y: 0, width: 642, height: 482 });
        function PluginCallBack(code, a) {
            if (code >= 213 && code <= 216) events.push(code);
            if (code === 100 && a === 0 && !opened) {
                opened = true;
                v.LoginSuc();
                v.RecordPath = host.args.records;
                v.Open("");
                v.OpenAudio();
                setTimeout(start, 1000);
            }
        }
        function start() {
            v.Record(1, "");
            setTimeout(function () { )JS" + during + R"JS( }, seconds * 500);
            setTimeout(stop, seconds * 1000);
        }
        function stop() {
            v.Record(0, "");
            setTimeout(function () { console.log("events " + JSON.stringify(events)); host.exit(0); }, 300);
        }
        v.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, coding, 1);
    )JS";
}

class Recordings : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = ::testing::TempDir() + "/e2e-recording-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(folder);
        fs::create_directories(folder + "/settings");
        setenv("TIRAVEX_SETTINGS_DIR", (folder + "/settings").c_str(), 1);
    }
    void TearDown() override { unsetenv("TIRAVEX_SETTINGS_DIR"); }

    // Runs the page against "sim,<camera>" with the record folder given.
    testing_support::PageRun recordWith(const std::string& camera, const std::string& page, unsigned timeoutMs = 30000)
    {
        std::string script = "host.args.records = " + std::string("\"") + folder + "/records\";\n" + page;
        return testing_support::RunPage("sim," + camera, script, std::string("rec-") + ::testing::UnitTest::GetInstance()->current_test_info()->name(), timeoutMs);
    }

    std::string folder;
};

struct Case {
    const char* name;
    const char* camera;
    int coding;
    int fps;
};

class TenSeconds : public Recordings, public ::testing::WithParamInterface<Case> { };

TEST_P(TenSeconds, OfVideoAndSoundAreReadSilentlyByFfmpeg)
{
    const Case c = GetParam();
    auto page = recordWith(c.camera, recordingPage(c.coding, 10));
    ASSERT_EQ(page.exitCode, 0);
    ASSERT_FALSE(page.console.empty());
    EXPECT_EQ(page.console.back(), "events [213,214]");
    auto files = aviFiles(folder + "/records/" + page.camera->Address());
    ASSERT_EQ(files.size(), 1u) << "in <record folder>/<camera address>/";
    const std::string& file = files[0];
    EXPECT_EQ(run("ffmpeg -v error -i '" + file + "' -f null -"), "") << "FFmpeg reads it silently";
    std::string video = probe(file, "v:0", "nb_read_frames");
    EXPECT_NEAR(field(video, "nb_read_frames"), 10.0 * c.fps, c.fps * 1.0) << video;
    std::string audio = run("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of default=nw=1 '" + file + "'");
    EXPECT_EQ(fieldText(audio, "codec_name"), "pcm_s16le") << audio;
    EXPECT_EQ(field(audio, "sample_rate"), 8000);
    EXPECT_EQ(field(audio, "channels"), 1);
    // The sound's own length: its packets' bytes at 16000 a second.
    std::string sizes = run("ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 '" + file + "'");
    double bytes = 0;
    for (std::size_t at = 0; at < sizes.size();) {
        bytes += std::atof(sizes.c_str() + at);
        at = sizes.find('\n', at);
        at = at == std::string::npos ? sizes.size() : at + 1;
    }
    EXPECT_NEAR(bytes / 16000.0, 10.0, 1.0) << "seconds of sound";
    EXPECT_FALSE(fs::exists(file + "_idx")) << "the index file goes when the recording ends";
}

INSTANTIATE_TEST_SUITE_P(Codings, TenSeconds,
    ::testing::Values(Case { "H264WithG726", "codec=h264,audio=1,keyint=5,fps=15", 1, 15 }, Case { "MjpegWithImaAdpcm", "codec=mjpeg,audio=2,fps=15", 2, 15 }),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST_F(Recordings, APictureSizeChangeStartsANewFile)
{
    auto page = recordWith("codec=h264,audio=1,keyint=5", recordingPage(1, 6, R"(camera.setVideo({ codec: "h264", width: 320, height: 240, fps: 15 });)"));
    ASSERT_EQ(page.exitCode, 0);
    auto files = aviFiles(folder + "/records");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(page.console.back(), "events [213,213,214]") << "each file starts with 213";
    std::string first = probe(files[0], "v:0", "width,height"), second = probe(files[1], "v:0", "width,height");
    EXPECT_EQ(field(first, "width"), 640) << first;
    EXPECT_EQ(field(second, "width"), 320) << second;
    for (const auto& f : files)
        EXPECT_EQ(run("ffmpeg -v error -i '" + f + "' -f null -"), "") << f;
}

TEST_F(Recordings, ACodingChangeStartsANewFileAndEachNamesItsOwnCoding)
{
    // H.264 with IMA ADPCM sound, then Motion-JPEG at the same rate.
    auto page = recordWith("codec=h264,audio=2,keyint=5,fps=15", recordingPage(2, 6, R"(camera.setVideo({ codec: "mjpeg", width: 640, height: 480, fps: 15 });)"));
    ASSERT_EQ(page.exitCode, 0);
    auto files = aviFiles(folder + "/records");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(fieldText(probe(files[0], "v:0", "codec_name"), "codec_name"), "h264");
    EXPECT_EQ(fieldText(probe(files[1], "v:0", "codec_name"), "codec_name"), "mjpeg");
    for (const auto& f : files)
        EXPECT_EQ(run("ffmpeg -v error -i '" + f + "' -f null -"), "") << f;
}

TEST_F(Recordings, AKilledPageHostLeavesAFileThatTheToolFinishes)
{
    // The page host runs as a program of its own and is killed mid-recording.
    const std::string pageFile = folder + "/record.js";
    std::ofstream(pageFile) << recordingPage(1, 60);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::freopen("/dev/null", "w", stdout);
        ::execl(TIRAVEX_BIN_DIR "/tiravex-page", "tiravex-page", "--timeout", "120", "--camera", "sim,codec=h264,audio=1,keyint=5",
            "--arg", ("records=" + folder + "/records").c_str(), "--out", folder.c_str(), pageFile.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Recording for a few seconds: the index file lists 60 video frames
    // (on a busy machine the sound's entries may come faster).
    auto videoEntries = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        int count = 0;
        for (std::size_t at = 0; at + 16 <= bytes.size(); at += 16)
            count += std::string(bytes.data() + at, 4) == "00dc";
        return count;
    };
    std::string idx;
    for (int i = 0; i < 400 && idx.empty(); ++i) {
        ::usleep(50000);
        for (const auto& f : aviFiles(folder + "/records"))
            if (fs::exists(f + "_idx") && videoEntries(f + "_idx") >= 60)
                idx = f + "_idx";
    }
    ASSERT_FALSE(idx.empty()) << "no recording began";
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    const std::string file = idx.substr(0, idx.size() - 4);
    // Every chunk the index file lists was written whole.
    std::ifstream index(idx, std::ios::binary);
    std::vector<char> entries((std::istreambuf_iterator<char>(index)), std::istreambuf_iterator<char>());
    int videoChunks = 0;
    for (std::size_t at = 0; at + 16 <= entries.size(); at += 16)
        videoChunks += std::string(entries.data() + at, 4) == "00dc";

    int fixed = -1;
    std::string said = run(TIRAVEX_BIN_DIR "/tiravex-avifix '" + file + "'", &fixed);
    EXPECT_EQ(fixed, 0) << said;
    EXPECT_EQ(run("ffmpeg -v error -i '" + file + "' -f null -"), "") << "finished: read silently";
    std::string video = probe(file, "v:0", "nb_read_frames");
    EXPECT_GE(field(video, "nb_read_frames"), videoChunks) << video;
    std::string format = run("ffprobe -v error -show_entries format=duration -of default=nw=1 '" + file + "'");
    EXPECT_GT(field(format, "duration"), 2.0) << format;
    EXPECT_EQ(run("ffmpeg -v error -ss 2 -i '" + file + "' -frames:v 1 -f null -"), "") << "it can be seeked in";

    // Complete now: a second run changes nothing.
    auto before = fs::file_size(file);
    EXPECT_EQ(std::system((TIRAVEX_BIN_DIR "/tiravex-avifix '" + file + "' > /dev/null").c_str()), 0);
    EXPECT_EQ(fs::file_size(file), before);
    // Not an AVI: refused.
    std::ofstream(folder + "/not.avi") << "hello";
    int refused = 0;
    std::string why = run(TIRAVEX_BIN_DIR "/tiravex-avifix '" + folder + "/not.avi'", &refused);
    EXPECT_NE(refused, 0);
    EXPECT_FALSE(why.empty());
}

// The chunk ids idx1 lists, in order ("00dc" pictures, "01wb" sound).
std::vector<std::string> indexed(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto le32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
        return v;
    };
    std::vector<std::string> ids;
    constexpr std::size_t kMoviList = 336;
    if (b.size() < kMoviList + 12)
        return ids;
    const std::size_t idx1 = kMoviList + 8 + le32(kMoviList + 4);
    if (idx1 + 8 > b.size() || std::string(b.data() + idx1, 4) != "idx1")
        return ids;
    for (std::size_t at = idx1 + 8; at + 16 <= b.size(); at += 16)
        ids.emplace_back(b.data() + at, 4);
    return ids;
}

// A page host as a program of its own, its standard output to `out`.
pid_t startHost(const std::string& camera, const std::string& pageFile, const std::string& records, const std::string& out)
{
    pid_t child = ::fork();
    if (child == 0) {
        ::freopen(out.c_str(), "w", stdout);
        ::execl(TIRAVEX_BIN_DIR "/tiravex-page", "tiravex-page", "--timeout", "60", "--camera", camera.c_str(), "--arg", ("records=" + records).c_str(),
            "--out", fs::path(out).parent_path().c_str(), pageFile.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

// Two page hosts, each with its own camera on 127.0.0.1, record into one
// folder, the second starting 6 s after the first. The cameras give a key
// frame every 3 s (the first) and every 1/3 s, with G.726 sound.
TEST_F(Recordings, TwoPageHostsRecordIntoOneFolderAndEachFileStartsWithItsPicture)
{
    const std::string records = folder + "/records", own = records + "/127.0.0.1";
    std::ofstream(folder + "/long.js") << recordingPage(1, 14);
    std::ofstream(folder + "/short.js") << recordingPage(1, 2);
    const pid_t first = startHost("sim,codec=h264,audio=1,keyint=45,fps=15", folder + "/long.js", records, folder + "/first.out");
    ASSERT_GT(first, 0);
    std::string firstFile;
    for (int i = 0; i < 400 && firstFile.empty(); ++i) {
        ::usleep(50000);
        for (const auto& f : aviFiles(records))
            if (fs::exists(f + "_idx"))
                firstFile = f;
    }
    ASSERT_FALSE(firstFile.empty()) << "the first recording began";
    // Six seconds into the first recording (the scenario's delay, not a wait
    // for anything), the second host starts and records for two seconds.
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(6));
    const pid_t second = startHost("sim,codec=h264,audio=1,keyint=5,fps=15", folder + "/short.js", records, folder + "/second.out");
    ASSERT_GT(second, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(second, &status, 0), second);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(::waitpid(first, &status, WNOHANG), 0) << "the first still records";
    EXPECT_TRUE(fs::exists(firstFile + "_idx")) << "its index file stays while it records";
    ASSERT_EQ(::waitpid(first, &status, 0), first);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char* out : { "/first.out", "/second.out" }) {
        std::ifstream in(folder + out);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("events [213,214]"), std::string::npos) << out << ": " << text;
    }

    auto files = aviFiles(own);
    ASSERT_EQ(files.size(), 2u);
    for (const auto& f : files) {
        SCOPED_TRACE(f);
        EXPECT_FALSE(fs::exists(f + "_idx"));
        EXPECT_EQ(run("ffprobe -v error '" + f + "'"), "");
        EXPECT_EQ(run("ffmpeg -v error -i '" + f + "' -f null -"), "") << "FFmpeg reads it silently";
        const auto ids = indexed(f);
        const auto picture = std::find(ids.begin(), ids.end(), "00dc");
        ASSERT_NE(picture, ids.end()) << "it holds pictures";
        EXPECT_LE(std::count(ids.begin(), picture, "01wb"), 1) << "sound chunks before the first picture";
        EXPECT_GT(std::count(picture, ids.end(), "01wb"), 10) << "and sound after it";
    }
}

}
