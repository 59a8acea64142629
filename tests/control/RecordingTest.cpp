// Recording as a page drives it, against the simulated camera: arming
// against the free space, the file names, the headers' rates, the
// storage cleaner, and the two settings files.

#include "support/PageFixture.h"

#include "media/AviWriter.h"
#include "sys/Files.h"
#include "sys/Time.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

using control::CTiravexCtrl;
using testing_support::Arg;

constexpr std::uint64_t kThreshold = 0x10000000;

std::uint32_t le32(const std::vector<char>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8
        | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::vector<char> bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Recording : public testing_support::CameraPage {
protected:
    void SetUp() override
    {
        CameraPage::SetUp();
        folder = ::testing::TempDir() + "/recording-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(folder);
        fs::create_directories(folder + "/settings");
        setenv("TIRAVEX_SETTINGS_DIR", (folder + "/settings").c_str(), 1);
        sys::SetDiskFreeQuery({});
    }

    void TearDown() override
    {
        CameraPage::TearDown();
        sys::SetDiskFreeQuery({});
        sys::SetTickCountBias(0);
        unsetenv("TIRAVEX_SETTINGS_DIR");
    }

    // A control showing the camera's live picture, recording into `folder`.
    CTiravexCtrl* watching(sim::CameraConfig config = {})
    {
        startCamera(config);
        auto* c = makeControl(0);
        EXPECT_TRUE(login(c));
        EXPECT_EQ(call(c, "LoginSuc", {}), S_OK);
        EXPECT_EQ(putText(c, "RecordPath", (folder + "/records").c_str()), S_OK);
        EXPECT_EQ(call(c, "Open", { str("") }), S_OK);
        EXPECT_TRUE(ui::RunUntil([&] { return c->Live().DrawnFrames() > 0; }, 5000));
        return c;
    }
    std::string cameraFolder() const { return folder + "/records/" + camera->Address(); }

    std::vector<std::string> recordings() const
    {
        std::vector<std::string> out;
        std::error_code error;
        for (const auto& e : fs::directory_iterator(cameraFolder(), error))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    int count(int code) const
    {
        int n = 0;
        for (auto& e : events())
            n += !e.empty() && e[0] == Arg(code);
        return n;
    }

    std::string folder;
};

TEST_F(Recording, ArmingNeedsMoreThan256MiBFree)
{
    auto* c = watching();
    sys::SetDiskFreeQuery([](const std::string&) { return std::optional<std::uint64_t>(kThreshold); });
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ui::PumpPending();
    EXPECT_FALSE(c->Live().m_recordingArmed) << "exactly 256 MiB is not enough";
    EXPECT_EQ(count(215), 1);
    EXPECT_TRUE(recordings().empty());

    sys::SetDiskFreeQuery([](const std::string&) { return std::optional<std::uint64_t>(kThreshold + 1); });
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    EXPECT_TRUE(c->Live().m_recordingArmed);
    ASSERT_TRUE(ui::RunUntil([&] { return count(213) == 1; }, 5000)) << "the file begins at the next frame";
    ASSERT_EQ(recordings().size(), 2u) << "the recording and its index file";
    EXPECT_TRUE(recordings()[0].starts_with("manual_"));
    EXPECT_TRUE(recordings()[1].ends_with(".avi_idx"));
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(count(214), 1);
    ASSERT_EQ(recordings().size(), 1u) << "the index file goes when the file is finished";
    EXPECT_TRUE(recordings()[0].ends_with(".avi"));
}

TEST_F(Recording, AlarmRecordingsAreNamedByTheirKindAndStartSilently)
{
    auto* c = watching();
    const char* expected[] = { "motion_alarm_", "sound_alarm_", "io_alarm_", "temperature_alarm_", "alarm_" };
    for (int kind = 0; kind < 5; ++kind) {
        SCOPED_TRACE(kind);
        send(kz::kMsgAlarm, { 0, static_cast<std::uint8_t>(kind), 1, 0 }); // the camera's alarm of this kind
        ASSERT_EQ(call(c, "Record", { num(1), str("alarm") }), S_OK);
        ASSERT_TRUE(ui::RunUntil([&] { return !c->Live().RecordFileName().empty(); }, 5000));
        EXPECT_TRUE(fs::path(c->Live().RecordFileName()).filename().string().starts_with(expected[kind])) << c->Live().RecordFileName();
        ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
    }
    ui::PumpPending();
    EXPECT_EQ(count(213), 0) << "alarm recordings start without event 213";
    EXPECT_EQ(count(214), 5);
}

// A recording whose writer never closed it, at `path` with its index file:
// the two files as they stood, copied aside while `scratch` was written.
void leaveOpen(const std::string& scratch, const std::string& path)
{
    media::AviWriter* w = media::AviOpen(scratch.c_str());
    ASSERT_NE(w, nullptr);
    media::AviStreamHeader video {}, audio {};
    video.fccType = media::kFourccVids;
    audio.fccType = media::kFourccAuds;
    std::uint32_t videoId = 0, audioId = 0;
    media::AviAddStream(media::SerializeBitmapInfo({}).data(), w, media::SerializeStreamHeader(video).data(), &videoId);
    media::AviAddStream(media::SerializeWaveFormat({}).data(), w, media::SerializeStreamHeader(audio).data(), &audioId);
    std::vector<std::uint8_t> payload(40000, 7);
    for (int i = 0; i < 20; ++i)
        media::AviWriteChunk(1, w, static_cast<std::uint32_t>(payload.size()), videoId, payload.data());
    fs::copy_file(scratch, path, fs::copy_options::overwrite_existing);
    fs::copy_file(scratch + "_idx", path + "_idx", fs::copy_options::overwrite_existing);
    media::AviClose(w);
}

bool finished(const std::string& path)
{
    auto bytes = bytesOf(path);
    return bytes.size() > 348u && le32(bytes, 4) == bytes.size() - 8;
}

TEST_F(Recording, ARecordingACrashLeftOpenIsFinishedWhenRecordingStartsThere)
{
    auto* c = watching();
    const std::string dir = cameraFolder();
    fs::create_directories(dir);
    const std::string left = dir + "/manual_20250101100000.avi";
    leaveOpen(folder + "/scratch.avi", left);
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    EXPECT_TRUE(ui::RunUntil([&] { return !fs::exists(left + "_idx"); }, 5000)) << "finished: its index file is gone";
    EXPECT_TRUE(finished(left)) << "the RIFF size is set";
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
}

// Among the leftovers: a link to an unfinished recording outside the
// folder, a FIFO as an index file and as a recording, and a recording
// another writer still holds. Recording starts at once, the clean-up
// finishes what it may, and nothing else changes.
TEST_F(Recording, TheLeftoverCleanUpTouchesOnlyTheFoldersOwnFreeFilesAndNeverWaits)
{
    auto* c = watching();
    const std::string dir = cameraFolder();
    fs::create_directories(dir);
    const std::string outside = folder + "/elsewhere.avi";
    leaveOpen(folder + "/scratch.avi", outside);
    const auto outsideBytes = bytesOf(outside);
    fs::create_symlink(outside, dir + "/manual_20250101100001.avi");
    std::ofstream(dir + "/manual_20250101100001.avi_idx").flush();
    leaveOpen(folder + "/scratch.avi", dir + "/manual_20250101100002.avi");
    fs::remove(dir + "/manual_20250101100002.avi_idx");
    ASSERT_EQ(::mkfifo((dir + "/manual_20250101100002.avi_idx").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir + "/manual_20250101100003.avi").c_str(), 0644), 0);
    std::ofstream(dir + "/manual_20250101100003.avi_idx").flush();
    // Another view's recording, being written.
    const std::string held = dir + "/manual_20250101100004.avi";
    media::AviWriter* writer = media::AviOpen(held.c_str());
    ASSERT_NE(writer, nullptr);
    media::AviStreamHeader video {};
    video.fccType = media::kFourccVids;
    std::uint32_t videoId = 0;
    media::AviAddStream(media::SerializeBitmapInfo({}).data(), writer, media::SerializeStreamHeader(video).data(), &videoId);
    std::vector<std::uint8_t> payload(40000, 7);
    for (int i = 0; i < 5; ++i)
        media::AviWriteChunk(1, writer, static_cast<std::uint32_t>(payload.size()), videoId, payload.data());
    const std::string plain = dir + "/manual_20250101100005.avi";
    leaveOpen(folder + "/scratch.avi", plain);

    const DWORD before = sys::GetTickCount();
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    EXPECT_LT(sys::GetTickCount() - before, 1000u) << "Record does not wait for the clean-up";
    ASSERT_TRUE(ui::RunUntil([&] { return !fs::exists(plain + "_idx") && finished(dir + "/manual_20250101100002.avi"); }, 5000))
        << "the clean-up finishes a plain leftover, and one whose index file is a FIFO by walking it";
    EXPECT_EQ(bytesOf(outside), outsideBytes) << "nothing outside the folder changes";
    EXPECT_TRUE(fs::is_symlink(dir + "/manual_20250101100001.avi"));
    EXPECT_TRUE(fs::is_fifo(dir + "/manual_20250101100002.avi_idx"));
    EXPECT_TRUE(fs::is_fifo(dir + "/manual_20250101100003.avi"));
    EXPECT_TRUE(fs::exists(held + "_idx")) << "the held recording keeps its index file";
    EXPECT_EQ(le32(bytesOf(held), 4), 0u) << "and is not finished under its writer";
    EXPECT_EQ(media::AviClose(writer), media::kAviOk);
    EXPECT_TRUE(finished(held));
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
}

// The second check of the space, at a new file, runs without the record
// lock: a stop meanwhile is final, and every recording the page was told
// of ends with its 214, also when the second check finds no room.
TEST_F(Recording, AStopDuringARolloverWinsAndEveryRecordingEndsWith214)
{
    auto* c = watching();
    const auto page = std::this_thread::get_id();
    std::atomic<bool> checking { false }, released { false }, roomy { true };
    sys::SetDiskFreeQuery([&](const std::string&) {
        if (std::this_thread::get_id() != page) {
            checking = true;
            while (!released)
                std::this_thread::yield();
        }
        return std::optional<std::uint64_t>(roomy ? kThreshold * 4 : kThreshold);
    });
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return count(213) == 1; }, 5000));
    camera->SetVideo({ sim::Codec::H264, 320, 240, 15, 5 }); // a new size: a new file
    ASSERT_TRUE(ui::RunUntil([&] { return checking.load(); }, 5000)) << "the rollover checks the space";
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
    released = true;
    int frames = c->Live().DrawnFrames();
    ASSERT_TRUE(ui::RunUntil([&] { return c->Live().DrawnFrames() >= frames + 5; }, 5000));
    ui::PumpPending();
    EXPECT_FALSE(c->Live().m_recordingArmed);
    EXPECT_EQ(c->Live().RecordFileName(), "");
    EXPECT_EQ(count(213), 1) << "no new file after the stop";
    EXPECT_EQ(count(214), 1);

    // A rollover that finds no room ends the recording: 215, then 214.
    checking = false;
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return count(213) == 2; }, 5000));
    roomy = false;
    camera->SetVideo({ sim::Codec::H264, 640, 480, 15, 5 });
    ASSERT_TRUE(ui::RunUntil([&] { return count(214) == 2; }, 5000));
    EXPECT_EQ(count(215), 1);
    EXPECT_FALSE(c->Live().m_recordingArmed);
}

// A camera whose frames say rate 0 does not know it: one file, its rate
// taken from the frames' arrival.
TEST_F(Recording, ACameraThatSaysRate0RecordsOneFileAtTheRateOfArrival)
{
    sim::CameraConfig config;
    config.video = { sim::Codec::Mjpeg, 320, 240, 15, 5, false };
    auto* c = watching(config);
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return !c->Live().RecordFileName().empty(); }, 5000));
    const std::string file = c->Live().RecordFileName();
    int frames = c->Live().DrawnFrames();
    ASSERT_TRUE(ui::RunUntil([&] { return c->Live().DrawnFrames() >= frames + 15; }, 5000));
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(count(213), 1);
    EXPECT_EQ(recordings(), std::vector<std::string> { fs::path(file).filename().string() });
    auto bytes = bytesOf(file);
    ASSERT_GT(bytes.size(), 348u);
    const std::size_t strh = 88 + 12 + 8;
    EXPECT_GE(le32(bytes, strh + 32), 15u) << "the frames are in the file";
    EXPECT_NEAR(le32(bytes, strh + 24), 15.0, 5.0) << "the video rate is the arrival's";
    EXPECT_NEAR(1e6 / le32(bytes, 24 + 8), 15.0, 5.0) << "and so is the main header's frame time";
    EXPECT_EQ(le32(bytes, 24 + 8 + 24), 2u) << "streams";
}

TEST_F(Recording, ATakenNameGetsACounter)
{
    std::string base = folder + "/manual_20261209120000";
    EXPECT_EQ(CPlayBase::FreeRecordName(base), base + ".avi");
    std::ofstream(base + ".avi").put('x');
    EXPECT_EQ(CPlayBase::FreeRecordName(base), base + "_2.avi");
    for (int i = 2; i <= 1000; ++i)
        std::ofstream(base + "_" + std::to_string(i) + ".avi").put('x');
    EXPECT_EQ(CPlayBase::FreeRecordName(base), base) << "all taken: the base name itself";
}

// Every name of the second taken, the base name too: no file is
// overwritten, and the page hears that no file could be made.
TEST_F(Recording, WhenEveryNameOfTheSecondIsTakenNoFileIsOverwritten)
{
    auto* c = watching();
    const std::string dir = cameraFolder();
    fs::create_directories(dir);
    const SYSTEMTIME now = sys::GetLocalTime();
    std::tm start {};
    start.tm_year = now.wYear - 1900;
    start.tm_mon = now.wMonth - 1;
    start.tm_mday = now.wDay;
    start.tm_hour = now.wHour;
    start.tm_min = now.wMinute;
    start.tm_sec = now.wSecond;
    start.tm_isdst = -1;
    const std::time_t first = std::mktime(&start);
    std::vector<std::string> bases;
    for (int s = 0; s < 4; ++s) { // this second and the next ones
        const std::time_t at = first + s;
        std::tm t {};
        ::localtime_r(&at, &t);
        char name[64];
        std::snprintf(name, sizeof name, "manual_%4d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
        const std::string base = dir + "/" + name;
        bases.push_back(base);
        std::ofstream(base) << "the user's";
        std::ofstream(base + ".avi").put('x');
        for (int i = 2; i <= 1000; ++i)
            std::ofstream(base + "_" + std::to_string(i) + ".avi").put('x');
    }
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return count(216) == 1; }, 3000));
    EXPECT_FALSE(c->Live().m_recordingArmed);
    EXPECT_EQ(count(213), 0);
    for (const auto& base : bases) {
        auto kept = bytesOf(base);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "the user's") << base;
    }
}

TEST_F(Recording, TheVideoRateIsFramesPerSecondSinceTheFileBegan)
{
    sim::CameraConfig config;
    config.video.keyInterval = 5;
    auto* c = watching(config);
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return !c->Live().RecordFileName().empty(); }, 5000));
    const std::string file = c->Live().RecordFileName();
    const DWORD started = sys::GetTickCount();
    int frames = c->Live().DrawnFrames();
    ASSERT_TRUE(ui::RunUntil([&] { return c->Live().DrawnFrames() >= frames + 10; }, 5000));
    // Two seconds pass for the recorder in an instant: the camera's 25
    // frames a second become far fewer in the header.
    sys::SetTickCountBias(2000);
    frames = c->Live().DrawnFrames();
    ASSERT_TRUE(ui::RunUntil([&] { return c->Live().DrawnFrames() >= frames + 5; }, 5000));
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
    const DWORD elapsed = sys::GetTickCount() - started;
    auto bytes = bytesOf(file);
    ASSERT_GT(bytes.size(), 348u);
    // The video stream header's chunk data starts at 88 + 12 + 8: rate at
    // 24, length at 32.
    const std::size_t strh = 88 + 12 + 8;
    const std::uint32_t length = le32(bytes, strh + 32), rate = le32(bytes, strh + 24);
    ASSERT_GT(length, 5u);
    EXPECT_NEAR(rate, length * 1000.0 / elapsed, 1.0) << length << " frames in " << elapsed << " ms";
    EXPECT_EQ(le32(bytes, 24 + 8 + 16), length) << "the main header's total frames";
}

TEST_F(Recording, TheCleanerDeletesTheOldestRecordingsUntil256MiBAreFree)
{
    auto* c = watching();
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return !c->Live().RecordFileName().empty(); }, 5000));
    const std::string writing = c->Live().RecordFileName();
    const std::string dir = cameraFolder();
    // Recordings of other days, each taken to hold 100 MiB of the disk.
    const std::vector<std::string> old = { "manual_20240101100000.avi", "manual_20250101100000.avi", "motion_alarm_20230101100000.avi", "io_alarm_20240601100000.avi" };
    for (const auto& name : old)
        std::ofstream(dir + "/" + name).put('x');
    fs::create_directories(dir + "/older");
    std::ofstream(dir + "/older/manual_20220101100000.avi").put('x');
    std::ofstream(dir + "/manual_20200101100000.avi_idx").put('x');
    std::ofstream(dir + "/notes_2019.txt").put('x');
    const std::uint64_t kEach = 100ull << 20;
    std::map<std::string, bool> present;
    auto freeBytes = [&](const std::string&) {
        std::uint64_t deleted = 0;
        for (const auto& name : { std::string("manual_20240101100000.avi"), std::string("manual_20250101100000.avi"), std::string("motion_alarm_20230101100000.avi"), std::string("io_alarm_20240601100000.avi"), std::string("older/manual_20220101100000.avi") })
            deleted += fs::exists(dir + "/" + name) ? 0 : kEach;
        // 56 MiB free with everything there: two deletions reach exactly 256.
        return std::optional<std::uint64_t>(kThreshold - 2 * kEach + deleted);
    };
    sys::SetDiskFreeQuery(freeBytes);
    std::vector<std::string> list;
    CPlayBase::CleanRecordFolder(dir, writing, list);
    EXPECT_FALSE(fs::exists(dir + "/older/manual_20220101100000.avi")) << "the oldest manual recording, in a subfolder";
    EXPECT_FALSE(fs::exists(dir + "/manual_20240101100000.avi"));
    EXPECT_TRUE(fs::exists(dir + "/manual_20250101100000.avi")) << "256 MiB free: the cleaner stops";
    EXPECT_TRUE(fs::exists(dir + "/motion_alarm_20230101100000.avi")) << "alarm recordings sort after manual ones";
    EXPECT_TRUE(fs::exists(dir + "/manual_20200101100000.avi_idx")) << "index files are never deleted";
    EXPECT_TRUE(fs::exists(dir + "/notes_2019.txt")) << "only recordings are deleted";
    EXPECT_TRUE(fs::exists(writing));

    // With no room at all, everything but the open file, the index files and other files goes.
    sys::SetDiskFreeQuery([](const std::string&) { return std::optional<std::uint64_t>(0); });
    CPlayBase::CleanRecordFolder(dir, writing, list);
    EXPECT_TRUE(fs::exists(writing)) << "the file being written stays";
    EXPECT_TRUE(fs::exists(writing + "_idx"));
    EXPECT_FALSE(fs::exists(dir + "/motion_alarm_20230101100000.avi"));
    EXPECT_TRUE(fs::exists(dir + "/notes_2019.txt"));
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
}

// A small file system of its own (root may mount one; others skip).
class FullDisk : public Recording {
protected:
    void SetUp() override
    {
        Recording::SetUp();
        mount = folder + "/disk";
        fs::create_directories(mount);
        mounted = std::system(("mount -t tmpfs -o size=300m tmpfs '" + mount + "' 2>/dev/null").c_str()) == 0;
    }
    void TearDown() override
    {
        Recording::TearDown();
        if (mounted)
            std::system(("umount '" + mount + "'").c_str());
    }
    std::string mount;
    bool mounted = false;
};

TEST_F(FullDisk, FillingUpDeletesTheOldestRecordingsAndRecordingGoesOn)
{
    if (!mounted)
        GTEST_SKIP() << "cannot mount a file system here";
    sim::CameraConfig config;
    config.video.keyInterval = 5;
    auto* c = watching(config);
    ASSERT_EQ(putText(c, "RecordPath", mount.c_str()), S_OK);
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return !c->Live().RecordFileName().empty(); }, 5000));
    const std::string writing = c->Live().RecordFileName();
    const std::string dir = fs::path(writing).parent_path().string();
    // An old recording takes the rest of the disk.
    const std::string old = dir + "/manual_20200101100000.avi";
    {
        std::ofstream fill(old, std::ios::binary);
        std::vector<char> block(1 << 20, 'x');
        while (fill.write(block.data(), static_cast<std::streamsize>(block.size())))
            ;
    }
    ASSERT_TRUE(ui::RunUntil([&] { return !fs::exists(old); }, 10000)) << "the full disk makes room";
    const auto size = fs::file_size(writing);
    ASSERT_TRUE(ui::RunUntil([&] { return fs::file_size(writing) > size + 10000; }, 5000)) << "and recording goes on";
    EXPECT_EQ(c->Live().RecordFileName(), writing) << "in the same file";
    EXPECT_GE(*sys::DiskFreeBytes(dir), kThreshold - (4u << 20));
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(count(214), 1) << "stopped only by the page";
}

// The whole disk goes to another program's file while recording, with no
// older recording to delete: the page is told (215), and the recording,
// closed on the full disk, plays without an error, its headers counting
// only what it holds.
TEST_F(FullDisk, WithNothingToDeleteThePageIsToldAndTheRecordingStillPlays)
{
    if (!mounted)
        GTEST_SKIP() << "cannot mount a file system here";
    sim::CameraConfig config;
    config.video.keyInterval = 5;
    auto* c = watching(config);
    ASSERT_EQ(call(c, "OpenAudio", {}), S_OK);
    ASSERT_EQ(putText(c, "RecordPath", mount.c_str()), S_OK);
    ASSERT_EQ(call(c, "Record", { num(1), str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return !c->Live().RecordFileName().empty(); }, 5000));
    const std::string writing = c->Live().RecordFileName();
    ASSERT_TRUE(ui::RunUntil([&] { return fs::file_size(writing) > 200000; }, 5000));
    {
        std::ofstream fill(mount + "/filler", std::ios::binary);
        std::vector<char> block(1 << 16, 'x');
        while (fill.write(block.data(), static_cast<std::streamsize>(block.size())))
            ;
    }
    ASSERT_TRUE(ui::RunUntil([&] { return count(215) == 1; }, 5000)) << "a refused chunk tells the page";
    const int frames = c->Live().DrawnFrames();
    ASSERT_TRUE(ui::RunUntil([&] { return c->Live().DrawnFrames() >= frames + 10; }, 5000));
    ASSERT_EQ(call(c, "Record", { num(0), str("") }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(count(214), 1);
    EXPECT_EQ(count(215), 1) << "once for the file";
    EXPECT_FALSE(fs::exists(writing + "_idx")) << "the file was finished";
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(mount)) {
        if (e.path().extension() != ".avi")
            continue;
        ++files;
        std::string out;
        if (FILE* p = ::popen(("ffmpeg -v error -i '" + e.path().string() + "' -f null - 2>&1").c_str(), "r")) {
            char buffer[4096];
            while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p))
                out.append(buffer, n);
            ::pclose(p);
        }
        EXPECT_EQ(out, "") << e.path();
    }
    EXPECT_EQ(files, 1);
    // The counts: the main header's total frames and each stream's length
    // against the chunks idx1 lists.
    auto bytes = bytesOf(writing);
    ASSERT_TRUE(finished(writing));
    const std::size_t idx1 = 336 + 8 + le32(bytes, 340);
    ASSERT_EQ(std::string(bytes.data() + idx1, 4), "idx1");
    std::uint32_t videoChunks = 0, audioBytes = 0;
    for (std::size_t at = idx1 + 8; at + 16 <= bytes.size(); at += 16) {
        videoChunks += std::string(bytes.data() + at, 4) == "00dc";
        audioBytes += std::string(bytes.data() + at, 4) == "01wb" ? le32(bytes, at + 12) : 0;
    }
    EXPECT_GT(videoChunks, 10u);
    EXPECT_EQ(le32(bytes, 24 + 8 + 16), videoChunks) << "total frames";
    EXPECT_EQ(le32(bytes, 88 + 20 + 32), videoChunks) << "the video stream's length";
    EXPECT_EQ(le32(bytes, 88 + 124 + 20 + 32), audioBytes / 2) << "the sound's length in samples";
}

// The folder's files are the user's: the check that a record folder can be
// written in opens none of them.
TEST_F(Recording, TheWritabilityCheckLeavesTheFoldersFilesAlone)
{
    auto* c = makeControl(0);
    fs::create_directories(folder + "/mine");
    std::ofstream(folder + "/mine/test.ts") << "a recording of the user's";
    ASSERT_EQ(putText(c, "RecordPath", (folder + "/mine").c_str()), S_OK);
    EXPECT_EQ(getText(c, "RecordPath"), folder + "/mine");
    auto kept = bytesOf(folder + "/mine/test.ts");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "a recording of the user's");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder + "/mine"), fs::directory_iterator {}), 1) << "the probe is gone";
}

// ---- the settings files ---------------------------------------------------------------------------

TEST_F(Recording, SettingsHaveDefaultsAndReadInvalidTimesAsZero)
{
    auto* c = makeControl(0);
    EXPECT_EQ(getText(c, "LocalAlarmRecordTime"), "10");
    EXPECT_TRUE(getText(c, "RecordPath").ends_with("/IPCamRecord"));
    for (const char* value : { "10", "20", "30", "40", "50", "60" }) {
        ASSERT_EQ(putText(c, "LocalAlarmRecordTime", value), S_OK);
        EXPECT_EQ(getText(c, "LocalAlarmRecordTime"), value);
    }
    for (const char* value : { "25", "abc", "0", "70" }) {
        ASSERT_EQ(putText(c, "LocalAlarmRecordTime", value), S_OK);
        EXPECT_EQ(getText(c, "LocalAlarmRecordTime"), "0") << value;
    }
    ui::PumpPending();
    int stored = 0;
    for (auto& e : events())
        stored += e == std::vector<Arg> { 218, 1 };
    EXPECT_EQ(stored, 10) << "every write is reported stored";
}

TEST_F(Recording, AnEmptyRecordPathChangesNothingAndABadOneIsReported)
{
    auto* c = makeControl(0);
    ASSERT_EQ(putText(c, "RecordPath", (folder + "/kept").c_str()), S_OK);
    c->SetModifiedFlag(false);
    ASSERT_EQ(putText(c, "RecordPath", ""), S_OK);
    EXPECT_FALSE(c->IsModified()) << "\"\" does not even mark the control modified";
    EXPECT_EQ(getText(c, "RecordPath"), folder + "/kept");

    std::ofstream(folder + "/plainfile").put('x');
    ASSERT_EQ(putText(c, "RecordPath", (folder + "/plainfile/sub").c_str()), S_OK);
    ui::PumpPending();
    EXPECT_TRUE(c->IsModified());
    EXPECT_EQ(getText(c, "RecordPath"), folder + "/kept") << "the file keeps its old value";
    int failed = 0;
    for (auto& e : events())
        failed += e == std::vector<Arg> { 216, 0 };
    EXPECT_EQ(failed, 1);
}

// A relative folder would land wherever the browser runs: it is refused
// before anything is made, and one already in the file is not used.
TEST_F(Recording, ARecordFolderMustBeAnAbsolutePath)
{
    auto* c = makeControl(0);
    ASSERT_EQ(putText(c, "RecordPath", (folder + "/kept").c_str()), S_OK);
    // The process works in a folder of the test's own.
    const fs::path before = fs::current_path();
    fs::create_directories(folder + "/work/here");
    fs::current_path(folder + "/work/here");
    for (const char* path : { "relative-records/sub", "./relative-records", "../relative-records", "C:\\IPCamRecord" }) {
        ASSERT_EQ(putText(c, "RecordPath", path), S_OK);
        EXPECT_EQ(getText(c, "RecordPath"), folder + "/kept") << path;
    }
    fs::current_path(before);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(folder + "/work"), fs::recursive_directory_iterator {}), 1) << "a folder was made";
    ui::PumpPending();
    int failed = 0;
    for (auto& e : events())
        failed += e == std::vector<Arg> { 216, 0 };
    EXPECT_EQ(failed, 4);

    std::ofstream(folder + "/settings/kzIPCamCofing.ini") << "relative-records";
    EXPECT_TRUE(getText(c, "RecordPath").ends_with("/IPCamRecord")) << "a stored relative folder reads as the default";
}

TEST_F(Recording, SettingsAreKeptOnAFreshAccount)
{
    // No ~/.config yet: the whole settings folder tree is made.
    unsetenv("TIRAVEX_SETTINGS_DIR");
    const char* oldHome = std::getenv("HOME");
    std::string home = oldHome ? oldHome : "";
    setenv("HOME", (folder + "/home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    fs::create_directories(folder + "/home");
    auto* c = makeControl(0);
    ASSERT_EQ(putText(c, "RecordPath", (folder + "/fresh").c_str()), S_OK);
    ASSERT_EQ(putText(c, "LocalAlarmRecordTime", "30"), S_OK);
    EXPECT_EQ(getText(c, "RecordPath"), folder + "/fresh");
    EXPECT_EQ(getText(c, "LocalAlarmRecordTime"), "30");
    EXPECT_TRUE(fs::exists(folder + "/home/.config/IPCamRecord/kzIPCamCofing.ini"));
    setenv("HOME", home.c_str(), 1);
}

TEST_F(Recording, AnAlarmReportsTheRecordTimeOrTenWhenItIsNotValid)
{
    auto* c = watching();
    (void)c;
    std::ofstream(folder + "/settings/kzIPCamAlarmRecordTime.ini") << "25";
    send(kz::kMsgAlarm, { 0, 1 });
    std::ofstream(folder + "/settings/kzIPCamAlarmRecordTime.ini") << "40";
    send(kz::kMsgAlarm, { 0, 1 });
    std::vector<std::int32_t> times;
    for (auto& e : events())
        if (e.size() == 6 && e[0] == Arg(111))
            times.push_back(std::get<std::int32_t>(e[5]));
    EXPECT_EQ(times, (std::vector<std::int32_t> { 10, 40 }));
}

}
