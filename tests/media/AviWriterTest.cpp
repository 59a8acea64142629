// The recorder's AVI file byte by byte, its limits and write failures, files
// FFmpeg reads, and the repair of recordings a crash left open.

#include "media/AviRepair.h"
#include "media/AviWriter.h"

#include "support/Encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace media;
using Bytes = std::vector<std::uint8_t>;

constexpr int kFrameRate = 25;
constexpr std::uint32_t kSampleRate = 8000;
constexpr std::uint16_t kSampleBytes = 2;
constexpr std::uint32_t kAudioBlock = 640; // 40 ms
constexpr int kWidth = 320;
constexpr int kHeight = 240;

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The first `count` bytes of a file (all of it when shorter).
Bytes readHead(const std::string& path, std::size_t count)
{
    std::ifstream in(path, std::ios::binary);
    Bytes head(count);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(count));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

std::uint32_t at32(const Bytes& b, std::size_t pos)
{
    return pos + 4 <= b.size() ? static_cast<std::uint32_t>(b[pos] | b[pos + 1] << 8 | b[pos + 2] << 16 | static_cast<std::uint32_t>(b[pos + 3]) << 24) : 0xdeadbeef;
}

std::string tempPath(const std::string& name)
{
    return ::testing::TempDir() + "/avi-" + name + ".avi";
}

bool exists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

// Runs a command; its standard error, or "exit N" when it failed silently.
std::string run(const std::string& command, std::string* out = nullptr)
{
    // Tests of this file run side by side in their own processes: each has
    // a standard error file of its own.
    const std::string errPath = ::testing::TempDir() + "/avi-command-stderr-" + std::to_string(::getpid()) + ".txt";
    FILE* p = ::popen((command + " 2>" + errPath).c_str(), "r");
    std::string text;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        text.append(buf, n);
    const int status = ::pclose(p);
    if (out)
        *out = text;
    Bytes err = readFile(errPath);
    std::string errors(err.begin(), err.end());
    if (errors.empty() && status != 0)
        errors = "exit " + std::to_string(status);
    return errors;
}

// A recording as the recording policy makes it: video and audio streams,
// the headers rewritten after every frame and audio block.
struct Recording {
    AviWriter* w = nullptr;
    AviMainHeader main;
    AviStreamHeader video, audio;
    AviStreamFormat videoFormat {}, audioFormat {};
    std::uint32_t videoId = 0, audioId = 0;

    explicit Recording(const std::string& path, std::uint32_t handler = kFourccH264)
    {
        w = AviOpen(path.c_str());
        main.microSecPerFrame = 1'000'000 / kFrameRate;
        main.flags = kAviRecordingFlags;
        main.streams = kAviRecordingStreams;
        main.width = kWidth;
        main.height = kHeight;
        video.fccType = kFourccVids;
        video.fccHandler = handler;
        video.scale = 1;
        video.rate = kFrameRate;
        BitmapInfoHeader bih;
        bih.width = kWidth;
        bih.height = kHeight;
        bih.bitCount = 24;
        bih.compression = handler;
        videoFormat = SerializeBitmapInfo(bih);
        audio.fccType = kFourccAuds;
        audio.scale = kSampleBytes;
        audio.rate = kSampleRate * kSampleBytes;
        audio.sampleSize = kSampleBytes;
        WaveFormatEx wf;
        wf.formatTag = kWaveFormatPcm;
        wf.channels = 1;
        wf.samplesPerSec = kSampleRate;
        wf.avgBytesPerSec = kSampleRate * kSampleBytes;
        wf.blockAlign = kSampleBytes;
        wf.bitsPerSample = 16;
        audioFormat = SerializeWaveFormat(wf);
        EXPECT_EQ(AviAddStream(videoFormat.data(), w, SerializeStreamHeader(video).data(), &videoId), kAviOk);
        EXPECT_EQ(AviAddStream(audioFormat.data(), w, SerializeStreamHeader(audio).data(), &audioId), kAviOk);
    }
    int frame(const Bytes& f, bool key)
    {
        int rc = AviWriteChunk(key, w, static_cast<std::uint32_t>(f.size()), videoId, f.data());
        if (rc == kAviOk) {
            ++main.totalFrames;
            ++video.length;
        }
        AviWriteMainHeader(w, SerializeMainHeader(main).data());
        AviRewriteStream(0, w, SerializeStreamHeader(video).data(), videoFormat.data());
        return rc;
    }
    int sound(const Bytes& block)
    {
        int rc = AviWriteChunk(1, w, static_cast<std::uint32_t>(block.size()), audioId, block.data());
        if (rc == kAviOk)
            audio.length += static_cast<std::uint32_t>(block.size()) / kSampleBytes;
        AviRewriteStream(1, w, SerializeStreamHeader(audio).data(), audioFormat.data());
        return rc;
    }
};

bool isKey(const Bytes& f)
{
    for (std::size_t i = 0; i + 3 < f.size(); ++i)
        if (f[i] == 0 && f[i + 1] == 0 && f[i + 2] == 1 && (f[i + 3] & 0x1f) == 5)
            return true;
    return false;
}

const std::vector<Bytes>& h264Frames()
{
    static const std::vector<Bytes> frames = testing_support::EncodeH264(kWidth, kHeight, 100);
    return frames;
}

// H.265 key frames: a random-access picture (NAL types 16 to 21).
bool isHevcKey(const Bytes& f)
{
    for (std::size_t i = 0; i + 3 < f.size(); ++i)
        if (f[i] == 0 && f[i + 1] == 0 && f[i + 2] == 1 && ((f[i + 3] >> 1) & 0x3f) >= 16 && ((f[i + 3] >> 1) & 0x3f) <= 21)
            return true;
    return false;
}

// Records all frames with an audio block after each; closes unless `crash`,
// in which case a child process records and dies without closing.
void record(const std::string& path, bool crash, const std::vector<Bytes>& frames = h264Frames(), std::uint32_t handler = kFourccH264)
{
    const Bytes audio(kAudioBlock, 0x10);
    auto body = [&] {
        Recording r(path, handler);
        for (const Bytes& f : frames) {
            r.frame(f, handler == kFourccHevc ? isHevcKey(f) : isKey(f));
            r.sound(audio);
        }
        return r.w;
    };
    if (!crash) {
        ASSERT_EQ(AviClose(body()), kAviOk);
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
}

TEST(AviWriter, SmallFileLayoutByteByByte)
{
    const std::string path = tempPath("layout");
    Recording r(path);
    EXPECT_EQ(r.videoId, Fourcc("00dc"));
    EXPECT_EQ(r.audioId, Fourcc("01wb"));
    const Bytes three { 1, 2, 3 }, four { 4, 5, 6, 7 };
    ASSERT_EQ(r.frame(three, true), kAviOk);
    ASSERT_EQ(r.sound(four), kAviOk);
    ASSERT_EQ(AviClose(r.w), kAviOk);
    const Bytes f = readFile(path);

    // A 3-byte payload takes 12 bytes (header, payload, pad); the audio 12.
    const std::uint32_t moviLength = 12 + 12;
    ASSERT_EQ(f.size(), kAviMoviDataPos + moviLength + 8 + 2 * kAviIndexEntrySize);
    const struct {
        std::size_t pos;
        std::uint32_t value;
    } fields[] = {
        { 0, kFourccRiff }, { 4, static_cast<std::uint32_t>(f.size() - 8) }, { 8, kFourccAvi },
        { 12, kFourccList }, { 16, 316 }, { 20, kFourccHdrl },
        { 24, kFourccAvih }, { 28, 56 }, { 32, 1'000'000 / kFrameRate }, { 36 + 8, kAviRecordingFlags }, { 32 + 16, 1 }, { 32 + 24, 2 },
        { 88, kFourccList }, { 92, 116 }, { 96, kFourccStrl }, { 100, kFourccStrh }, { 104, 56 }, { 108, kFourccVids }, { 112, kFourccH264 },
        { 108 + 32, 1 }, { 164, kFourccStrf }, { 168, 40 }, { 172, 40 }, { 172 + 16, kFourccH264 },
        { 212, kFourccList }, { 216, 116 }, { 220, kFourccStrl }, { 224, kFourccStrh }, { 232, kFourccAuds }, { 232 + 32, 2 },
        { 288, kFourccStrf }, { 292, 40 }, { 296, 1 | 1 << 16 }, { 300, kSampleRate },
        { 336, kFourccList }, { 340, moviLength + 4 }, { 344, kFourccMovi },
        { 348, Fourcc("00dc") }, { 352, 3 }, { 360, Fourcc("01wb") }, { 364, 4 },
        { 372, kFourccIdx1 }, { 376, 32 },
        { 380, Fourcc("00dc") }, { 384, kAviifKeyframe }, { 388, 4 }, { 392, 3 },
        { 396, Fourcc("01wb") }, { 400, kAviifKeyframe }, { 404, 16 }, { 408, 4 },
    };
    for (const auto& field : fields)
        EXPECT_EQ(at32(f, field.pos), field.value) << "at " << field.pos;
    EXPECT_EQ(Bytes(f.begin() + 356, f.begin() + 360), (Bytes { 1, 2, 3, 0 }));
    // The WAVEFORMATEX is followed by zeros to 40 bytes.
    EXPECT_EQ(Bytes(f.begin() + 296 + kWaveFormatExSize, f.begin() + 336), Bytes(40 - kWaveFormatExSize, 0));
    std::remove(path.c_str());
    std::remove((path + kAviIndexSuffix).c_str());
}

TEST(AviWriter, EmptyClosedFileHasAnEmptyIndexAndMoviList)
{
    const std::string path = tempPath("empty");
    Recording r(path);
    ASSERT_EQ(AviClose(r.w), kAviOk);
    const Bytes f = readFile(path);
    ASSERT_EQ(f.size(), kAviMoviDataPos + 8u);
    EXPECT_EQ(at32(f, 4), f.size() - 8);
    EXPECT_EQ(at32(f, 340), 4u);
    EXPECT_EQ(at32(f, 348), kFourccIdx1);
    EXPECT_EQ(at32(f, 352), 0u);
    std::remove(path.c_str());
    std::remove((path + kAviIndexSuffix).c_str());
}

TEST(AviWriter, OpenFileKeepsSizesZeroAndRewritesStreamsInPlace)
{
    const std::string path = tempPath("open");
    Recording r(path);
    const Bytes big(kAviWriteBehindBytes + 1, 0x55);
    ASSERT_EQ(r.frame(big, true), kAviOk); // more than is held behind: in the file now
    r.video.length = 77;
    r.audio.length = 99;
    ASSERT_EQ(AviRewriteStream(1, r.w, SerializeStreamHeader(r.audio).data(), r.audioFormat.data()), kAviOk);
    const Bytes f = readFile(path);
    ASSERT_EQ(f.size(), kAviMoviDataPos + 8 + big.size() + 1);
    EXPECT_EQ(at32(f, 4), 0u);
    EXPECT_EQ(at32(f, 16), 0u);
    EXPECT_EQ(at32(f, 340), 0u);
    EXPECT_EQ(at32(f, 48), 1u);       // total frames, current after the frame
    EXPECT_EQ(at32(f, 108 + 32), 1u); // video length untouched by the audio rewrite
    EXPECT_EQ(at32(f, 232 + 32), 99u);
    EXPECT_EQ(at32(f, 212), kFourccList);
    EXPECT_EQ(at32(f, 336), kFourccList);
    EXPECT_EQ(AviRewriteStream(2, r.w, SerializeStreamHeader(r.audio).data(), r.audioFormat.data()), kAviBadArgument);
    EXPECT_EQ(AviRewriteStream(0, nullptr, SerializeStreamHeader(r.audio).data(), r.audioFormat.data()), kAviBadArgument);
    AviClose(r.w);
    std::remove(path.c_str());
    std::remove((path + kAviIndexSuffix).c_str());
}

TEST(AviWriter, RefusesChunksOnceMoviIsBeyondItsLimit)
{
    const std::string path = tempPath("limit");
    Recording r(path);
    const Bytes one { 1 };
    // Test seam: the length the movi list would have after 256 MiB of chunks.
    AviSetMoviLength(r.w, kAviMaxMoviLength);
    EXPECT_EQ(AviWriteChunk(1, r.w, 1, r.videoId, one.data()), kAviOk);
    EXPECT_EQ(AviWriteChunk(1, r.w, 1, r.videoId, one.data()), kAviTooLarge);
    EXPECT_EQ(AviWriteChunk(1, nullptr, 1, r.videoId, one.data()), kAviBadArgument);
    EXPECT_EQ(AviClose(r.w), kAviOk);
    // The file is as long as its movi list: read only its head.
    EXPECT_EQ(at32(readHead(path, 344), 340), kAviMaxMoviLength + 10 + 4);
    std::remove(path.c_str());
    std::remove((path + kAviIndexSuffix).c_str());
}

// The write seam: writes the held chunks and the new chunk's header, then
// fails with g_faultErrno, so a partial chunk is left in the file.
int g_faultErrno = 0;
ssize_t faultyWrite(int fd, const iovec* parts, int count, off_t offset)
{
    if (!g_faultErrno)
        return ::pwritev(fd, parts, count, offset);
    static bool firstPartWritten = false;
    if (!firstPartWritten && count > 1) {
        firstPartWritten = true;
        return ::pwritev(fd, parts, std::min(count - 1, 2), offset);
    }
    firstPartWritten = false;
    errno = g_faultErrno;
    return -1;
}

TEST(AviWriter, FailedWriteIndexesNothingAndTheNextChunkTakesItsPlace)
{
    const struct {
        int error;
        int expected;
    } cases[] = { { ENOSPC, kAviDiskFull }, { EDQUOT, kAviDiskFull }, { EIO, kAviWriteFailed } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const std::string path = tempPath("fault");
        Recording r(path);
        AviSetWriteFunction(r.w, faultyWrite);
        const Bytes small(100, 1), lost(kAviWriteBehindBytes, 2), next(kAviWriteBehindBytes, 3);
        ASSERT_EQ(r.frame(small, true), kAviOk); // held behind
        g_faultErrno = c.error;
        EXPECT_EQ(r.frame(lost, false), c.expected);
        g_faultErrno = 0;
        ASSERT_EQ(r.frame(next, false), kAviOk);
        ASSERT_EQ(AviClose(r.w), kAviOk);
        const Bytes f = readFile(path);
        const std::size_t nextPos = kAviMoviDataPos + 8 + small.size();
        EXPECT_EQ(at32(f, nextPos), r.videoId);
        EXPECT_EQ(at32(f, nextPos + 4), next.size());
        EXPECT_EQ(f[nextPos + 8], 3);
        const std::size_t idx1 = nextPos + 8 + next.size();
        EXPECT_EQ(at32(f, idx1), kFourccIdx1);
        EXPECT_EQ(at32(f, idx1 + 4), 2 * kAviIndexEntrySize);
        EXPECT_EQ(at32(f, idx1 + 8 + 16 + 8), nextPos - (kAviMoviDataPos - 4));
        EXPECT_EQ(f.size(), idx1 + 8 + 2 * kAviIndexEntrySize);
        std::remove(path.c_str());
        std::remove((path + kAviIndexSuffix).c_str());
    }
}

// The seam: the first write fails with g_failOnceErrno, the others go through.
int g_failOnceErrno = 0;
ssize_t failOnce(int fd, const iovec* parts, int count, off_t offset)
{
    if (g_failOnceErrno) {
        errno = std::exchange(g_failOnceErrno, 0);
        return -1;
    }
    return ::pwritev(fd, parts, count, offset);
}

TEST(AviWriter, ChunksACloseCannotWriteLeaveTheIndexAndTheCounts)
{
    for (int error : { EIO, ENOSPC }) {
        SCOPED_TRACE(error);
        const std::string path = tempPath("close-fault");
        Recording r(path);
        const Bytes small(100, 1), large(kAviWriteBehindBytes, 2), block(kAudioBlock, 3);
        ASSERT_EQ(r.frame(small, true), kAviOk);
        ASSERT_EQ(r.frame(large, false), kAviOk); // both written
        ASSERT_EQ(r.frame(small, false), kAviOk); // held behind, with the sound
        ASSERT_EQ(r.sound(block), kAviOk);
        g_failOnceErrno = error;
        AviSetWriteFunction(r.w, failOnce);
        bool finished = false;
        EXPECT_EQ(AviClose(r.w, &finished), error == EIO ? kAviWriteFailed : kAviDiskFull);
        EXPECT_TRUE(finished) << "the file is whole without them";
        const Bytes f = readFile(path);
        const std::size_t idx1 = kAviMoviDataPos + 8 + small.size() + 8 + large.size();
        EXPECT_EQ(at32(f, idx1), kFourccIdx1);
        EXPECT_EQ(at32(f, idx1 + 4), 2 * kAviIndexEntrySize);
        EXPECT_EQ(f.size(), idx1 + 8 + 2 * kAviIndexEntrySize);
        EXPECT_EQ(at32(f, kAviRiffSizePos), f.size() - 8);
        EXPECT_EQ(at32(f, kAviMainHeaderPos + 8 + kAviMainTotalFramesOffset), 2u) << "total frames";
        const std::size_t strh = kAviFirstStreamListPos + kAviListHeaderSize + 8;
        EXPECT_EQ(at32(f, strh + kAviStreamLengthOffset), 2u) << "video length";
        EXPECT_EQ(at32(f, strh + kAviStreamListBytes + kAviStreamLengthOffset), 0u) << "audio length";
        std::remove(path.c_str());
        std::remove((path + kAviIndexSuffix).c_str());
    }
}

TEST(AviWriter, ReportsOpenFailures)
{
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(AviOpen("/nonexistent-folder/x.avi"), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Open2");
    EXPECT_EQ(AviClose(nullptr), kAviBadArgument);
}

// What ffprobe says of a file: "frames,duration", and its errors.
std::string probe(const std::string& path, std::string& errors)
{
    std::string out;
    errors = run("ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -show_entries format=duration -of csv=p=0 '" + path + "'", &out);
    return out;
}

TEST(AviWriter, FfmpegReadsARecording)
{
    const std::string path = tempPath("probe");
    ASSERT_EQ(h264Frames().size(), 100u);
    record(path, false);
    std::string errors;
    const std::string out = probe(path, errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(out, "100\n4.000000\n");
    std::remove(path.c_str());
    std::remove((path + kAviIndexSuffix).c_str());
}

TEST(AviRepair, FinishesARecordingLeftOpenFromTheCompanionAndByWalking)
{
    for (bool withCompanion : { true, false }) {
        SCOPED_TRACE(withCompanion);
        const std::string path = tempPath("crash");
        record(path, true);
        const Bytes before = readFile(path);
        EXPECT_EQ(at32(before, 4), 0u);
        ASSERT_TRUE(exists(path + kAviIndexSuffix));
        if (!withCompanion)
            std::remove((path + kAviIndexSuffix).c_str());
        AviRepairReport report;
        AviRepair(path, report);
        ASSERT_EQ(report.result, AviRepairResult::Done) << report.reason;
        EXPECT_FALSE(exists(path + kAviIndexSuffix));
        // The chunks the dead process still held (under 64 KiB) are lost; the rest is there.
        EXPECT_GT(report.videoFrames, 50u);
        EXPECT_LT(report.videoFrames, 100u);
        EXPECT_EQ(report.entries, report.videoFrames * 2 - (report.audioBytes / kAudioBlock == report.videoFrames ? 0 : 1));
        EXPECT_EQ(report.fromCompanion > 0, withCompanion);
        const Bytes after = readFile(path);
        EXPECT_EQ(at32(after, 4), after.size() - 8);
        EXPECT_EQ(at32(after, 48), report.videoFrames);
        EXPECT_EQ(at32(after, 108 + 32), report.videoFrames);
        // The first frame's index entry is a key frame, found either way.
        const std::size_t idx1 = after.size() - 8 - report.entries * kAviIndexEntrySize;
        EXPECT_EQ(at32(after, idx1), kFourccIdx1);
        EXPECT_EQ(at32(after, idx1 + 8 + 4), kAviifKeyframe);
        EXPECT_EQ(at32(after, idx1 + 8 + 8), 4u);

        std::string errors;
        const std::string out = probe(path, errors);
        EXPECT_EQ(errors, "");
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.6f", report.videoFrames / static_cast<double>(kFrameRate));
        EXPECT_EQ(out, std::to_string(report.videoFrames) + "\n" + duration + "\n");
        EXPECT_EQ(run("ffmpeg -v error -ss 2 -i '" + path + "' -frames:v 1 -f null -"), "");

        // A second repair finds it complete and leaves it alone.
        AviRepair(path, report);
        EXPECT_EQ(report.result, AviRepairResult::AlreadyComplete);
        EXPECT_EQ(readFile(path), after);
        std::remove(path.c_str());
    }
}

// Walking an H.265 recording without its companion flags the chunks of
// random-access pictures as key frames and no others, so that the repaired
// file seeks as the recorder wrote it.
TEST(AviRepair, FindsTheKeyFramesOfAnH265RecordingByWalking)
{
    const auto frames = testing_support::EncodeH265(kWidth, kHeight, 100);
    ASSERT_EQ(frames.size(), 100u);
    const std::string path = tempPath("hevc");
    record(path, true, frames, kFourccHevc);
    std::remove((path + kAviIndexSuffix).c_str());
    AviRepairReport report;
    AviRepair(path, report);
    ASSERT_EQ(report.result, AviRepairResult::Done) << report.reason;
    ASSERT_GT(report.videoFrames, 50u);

    const Bytes after = readFile(path);
    const std::size_t idx1 = after.size() - 8 - report.entries * kAviIndexEntrySize;
    ASSERT_EQ(at32(after, idx1), kFourccIdx1);
    std::vector<bool> flagged;
    for (std::size_t e = 0; e < report.entries; ++e) {
        const std::size_t entry = idx1 + 8 + e * kAviIndexEntrySize;
        if ((at32(after, entry) & 0xffff0000u) == (Fourcc("00dc") & 0xffff0000u))
            flagged.push_back((at32(after, entry + 4) & kAviifKeyframe) != 0);
    }
    ASSERT_EQ(flagged.size(), report.videoFrames);
    for (std::size_t i = 0; i < flagged.size(); ++i)
        EXPECT_EQ(flagged[i], isHevcKey(frames[i])) << "frame " << i;
    EXPECT_EQ(run("ffmpeg -v error -i '" + path + "' -f null -"), "");
    std::string codec;
    run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 '" + path + "'", &codec);
    EXPECT_EQ(codec, "hevc\n");
    std::remove(path.c_str());
}

TEST(AviRepair, DropsALastChunkCutShort)
{
    const std::string path = tempPath("cut"), uncut = tempPath("uncut");
    record(path, true);
    const Bytes whole = readFile(path);
    std::ofstream(uncut, std::ios::binary).write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(whole.size()));
    AviRepairReport full;
    AviRepair(uncut, full);
    ASSERT_EQ(full.result, AviRepairResult::Done) << full.reason;
    EXPECT_EQ(full.bytesDropped, 0u);
    const Bytes repaired = readFile(uncut);
    const std::uint32_t lastSize = at32(repaired, repaired.size() - 4);

    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(whole.size() - 5)), 0);
    AviRepairReport report;
    AviRepair(path, report);
    ASSERT_EQ(report.result, AviRepairResult::Done) << report.reason;
    EXPECT_EQ(report.entries, full.entries - 1);
    EXPECT_EQ(report.bytesDropped, 8 + lastSize + (lastSize & 1) - 5);
    std::string errors;
    probe(path, errors);
    EXPECT_EQ(errors, "");
    std::remove(path.c_str());
    std::remove(uncut.c_str());
}

TEST(AviRepair, LeavesCompleteFilesAndRefusesOthers)
{
    const std::string complete = tempPath("complete");
    record(complete, false);
    const Bytes before = readFile(complete);
    AviRepairReport report;
    AviRepair(complete, report);
    EXPECT_EQ(report.result, AviRepairResult::AlreadyComplete);
    EXPECT_EQ(readFile(complete), before);

    const struct {
        const char* name;
        Bytes content;
        const char* reason;
    } refused[] = {
        { "text", Bytes(400, 'x'), "not a RIFF AVI file" },
        { "short", Bytes { 'R', 'I', 'F', 'F' }, "too short for a RIFF header" },
        { "nomovi", Bytes { 'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' ', 'L', 'I', 'S', 'T', 4, 0, 0, 0, 'h', 'd', 'r', 'l' }, "no movi list" },
        // Found by fuzzing: finished, the first header list kept its size 0
        // and the file still did not count as complete.
        { "twoheaders", Bytes { 'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' ', 'L', 'I', 'S', 'T', 0, 0, 0, 0, 'h', 'd', 'r', 'l',
                              'L', 'I', 'S', 'T', 0, 0, 0, 0, 'h', 'd', 'r', 'l', 'L', 'I', 'S', 'T', 4, 0, 0, 0, 'm', 'o', 'v', 'i' },
            "more than one header list" },
    };
    for (const auto& c : refused) {
        const std::string path = tempPath(c.name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(c.content.data()), static_cast<std::streamsize>(c.content.size()));
        AviRepair(path, report);
        EXPECT_EQ(report.result, AviRepairResult::Refused) << c.name;
        EXPECT_EQ(report.reason, c.reason);
        EXPECT_EQ(readFile(path), c.content);
        std::remove(path.c_str());
    }
    std::remove(complete.c_str());
    std::remove((complete + kAviIndexSuffix).c_str());
}

TEST(AviRepair, ToolExitsNonZeroForFilesItCannotFinish)
{
    const std::string crashed = tempPath("tool-crashed"), text = tempPath("tool-text");
    record(crashed, true);
    std::ofstream(text) << "not a recording";
    std::string out;
    EXPECT_EQ(run(std::string(TIRAVEX_AVIFIX) + " '" + crashed + "'", &out), "");
    EXPECT_NE(out.find("repaired"), std::string::npos);
    EXPECT_EQ(run(std::string(TIRAVEX_AVIFIX) + " '" + crashed + "'", &out), "");
    EXPECT_NE(out.find("already complete"), std::string::npos);
    const std::string errors = run(std::string(TIRAVEX_AVIFIX) + " '" + crashed + "' '" + text + "' '" + text + ".missing'");
    EXPECT_NE(errors.find("not a RIFF AVI file"), std::string::npos) << errors;
    EXPECT_NE(errors.find("cannot open"), std::string::npos) << errors;
    std::remove(crashed.c_str());
    std::remove(text.c_str());
}

}
