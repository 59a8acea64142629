#include "kzaudio/Wav.h"
#include "kzaudio/kzaudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Blocks {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::vector<std::int16_t>> data;
    int stopped = 0;

    static void callback(int event, const std::int16_t* samples, int size, void* user)
    {
        auto* self = static_cast<Blocks*>(user);
        std::lock_guard lock(self->mutex);
        if (event == kzaudio::kEventData)
            self->data.emplace_back(samples, samples + size / 2);
        else
            ++self->stopped;
        self->arrived.notify_all();
    }
    bool waitFor(std::size_t blocks)
    {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(5), [&] { return data.size() >= blocks; });
    }
};

// Zero crossings per second / 2 is the frequency of a pure tone.
double frequencyOf(const std::vector<std::int16_t>& s)
{
    int crossings = 0;
    for (std::size_t i = 1; i < s.size(); ++i)
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++crossings;
    return crossings / 2.0 * kzaudio::kSampleRate / static_cast<double>(s.size());
}

TEST(AudioFileBackend, PlayedSoundLandsInTheWavFile)
{
    std::string path = ::testing::TempDir() + "/played.wav";
    setenv("TIRAVEX_AUDIO_OUT", path.c_str(), 1);
    KzAudioHandle play = CreatePlayDev();
    ASSERT_NE(play, nullptr);
    std::int32_t bytes = kzaudio::kPlayBufferBytes;
    EXPECT_EQ(SetPlayParam(play, kzaudio::kParamBufferSize, &bytes), 0);
    EXPECT_EQ(OpenPlayDev(play), 0);
    std::vector<std::int16_t> pcm(480);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(i * 50);
    EXPECT_EQ(WriteData(play, pcm.data(), 960), 0);
    EXPECT_EQ(WriteData(play, pcm.data(), 960), 0);
    // Read it back while the device is still open: the file is valid at once.
    std::vector<std::int16_t> back;
    std::string error;
    ASSERT_TRUE(kzaudio::ReadWav(path, back, error)) << error;
    ASSERT_EQ(back.size(), 960u);
    EXPECT_EQ(back[479], pcm[479]);
    EXPECT_EQ(back[480], pcm[0]);
    EXPECT_EQ(playAudio(play), 0) << "the alert is played too";
    EXPECT_EQ(ClosePlayDev(play), 0);
    ASSERT_TRUE(kzaudio::ReadWav(path, back, error));
    EXPECT_GT(back.size(), 960u);
    unsetenv("TIRAVEX_AUDIO_OUT");
}

TEST(AudioFileBackend, CaptureDeliversBlocksOfTheSetSizeOfTheTone)
{
    setenv("TIRAVEX_AUDIO_IN", "tone:500", 1);
    Blocks blocks;
    KzAudioHandle capture = CreateRecDev();
    ASSERT_EQ(SetRecDataCallback(capture, &Blocks::callback, &blocks), 0);
    std::int32_t block = kzaudio::kCaptureBlockBytesNewDevices;
    ASSERT_EQ(SetRecParam(capture, kzaudio::kParamBufferSize, &block), 0);
    ASSERT_EQ(OpenRecDev(capture), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard lock(blocks.mutex);
        EXPECT_TRUE(blocks.data.empty()) << "blocks came before RestartRecDev";
    }
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RestartRecDev(capture), 0);
    ASSERT_TRUE(blocks.waitFor(4));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(150)) << "4 blocks of 40 ms came faster than real time";
    StopRecDev(capture);
    std::vector<std::int16_t> all;
    {
        std::lock_guard lock(blocks.mutex);
        for (auto& b : blocks.data) {
            EXPECT_EQ(b.size(), 320u);
            all.insert(all.end(), b.begin(), b.end());
        }
    }
    EXPECT_NEAR(frequencyOf(all), 500.0, 10.0);
    EXPECT_EQ(CloseRecDev(capture), 0);
    unsetenv("TIRAVEX_AUDIO_IN");
}

TEST(AudioFileBackend, AMissingCaptureFileReportsTheDeviceStopped)
{
    setenv("TIRAVEX_AUDIO_IN", "/nonexistent/voice.wav", 1);
    Blocks blocks;
    KzAudioHandle capture = CreateRecDev();
    SetRecDataCallback(capture, &Blocks::callback, &blocks);
    OpenRecDev(capture);
    RestartRecDev(capture);
    {
        std::unique_lock lock(blocks.mutex);
        EXPECT_TRUE(blocks.arrived.wait_for(lock, std::chrono::seconds(5), [&] { return blocks.stopped > 0; }));
    }
    CloseRecDev(capture);
    unsetenv("TIRAVEX_AUDIO_IN");
}

TEST(AudioLibrary, StaleAndWrongHandlesAreRefused)
{
    KzAudioHandle play = CreatePlayDev();
    KzAudioHandle capture = CreateRecDev();
    EXPECT_EQ(RestartRecDev(play), -1) << "a play handle passed as a capture handle";
    EXPECT_EQ(WriteData(capture, "ab", 2), -1);
    EXPECT_EQ(ClosePlayDev(play), 0);
    EXPECT_EQ(ClosePlayDev(play), -1);
    EXPECT_EQ(WriteData(play, "ab", 2), -1);
    EXPECT_EQ(CloseRecDev(capture), 0);
    EXPECT_EQ(OpenPlayDev(nullptr), -1);
}

}

namespace {

// The relay back end, chosen for one test and put back after it.
class AudioRelayBackend : public ::testing::Test {
protected:
    void SetUp() override { setenv("TIRAVEX_AUDIO", "relay", 1); }
    void TearDown() override
    {
        kzaudio::SetPlayListener(nullptr);
        kzaudio::SetCaptureListener(nullptr);
        unsetenv("TIRAVEX_AUDIO");
    }
};

TEST_F(AudioRelayBackend, PlayedSoundGoesToTheListenerWithEachDevicesOwnNumber)
{
    std::vector<std::pair<int, std::vector<std::int16_t>>> heard;
    kzaudio::SetPlayListener([&](int device, const std::int16_t* samples, std::size_t count) { heard.emplace_back(device, std::vector<std::int16_t>(samples, samples + count)); });
    KzAudioHandle first = CreatePlayDev(), second = CreatePlayDev();
    ASSERT_EQ(OpenPlayDev(first), 0);
    ASSERT_EQ(OpenPlayDev(second), 0);
    const std::int16_t a[] = { 1, -2, 3 }, b[] = { 400, 500 };
    ASSERT_EQ(WriteData(first, a, sizeof a), 0);
    ASSERT_EQ(WriteData(second, b, sizeof b), 0);
    ASSERT_EQ(WriteData(first, b, sizeof b), 0);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].second, std::vector<std::int16_t>(a, a + 3));
    EXPECT_EQ(heard[1].second, std::vector<std::int16_t>(b, b + 2));
    EXPECT_EQ(heard[0].first, heard[2].first);
    EXPECT_NE(heard[0].first, heard[1].first) << "two devices, two numbers";
    ClosePlayDev(first);
    ClosePlayDev(second);
}

TEST_F(AudioRelayBackend, PushedSoundIsCutIntoBlocksOfTheSetSizeOnlyWhileTheDeviceDelivers)
{
    std::vector<bool> capturing;
    kzaudio::SetCaptureListener([&](bool on) { capturing.push_back(on); });
    Blocks blocks;
    KzAudioHandle capture = CreateRecDev();
    const std::int32_t size = kzaudio::kCaptureBlockBytesNewDevices; // 320 samples
    ASSERT_EQ(SetRecDataCallback(capture, &Blocks::callback, &blocks), 0);
    ASSERT_EQ(SetRecParam(capture, kzaudio::kParamBufferSize, &size), 0);
    ASSERT_EQ(OpenRecDev(capture), 0);

    std::vector<std::int16_t> pcm(1000);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(i);
    kzaudio::PushCapture(pcm.data(), pcm.size());
    EXPECT_TRUE(blocks.data.empty()) << "a device that was not started takes nothing";
    EXPECT_TRUE(capturing.empty());

    ASSERT_EQ(RestartRecDev(capture), 0);
    EXPECT_EQ(capturing, std::vector<bool> { true });
    kzaudio::PushCapture(pcm.data(), pcm.size()); // 3 blocks and 40 samples over
    ASSERT_EQ(blocks.data.size(), 3u);
    EXPECT_EQ(blocks.data[0].size(), 320u);
    EXPECT_EQ(blocks.data[2].front(), 640);
    kzaudio::PushCapture(pcm.data(), 280); // the 40 over and 280 more make the fourth
    ASSERT_EQ(blocks.data.size(), 4u);
    EXPECT_EQ(blocks.data[3].front(), 960);
    EXPECT_EQ(blocks.data[3][40], 0);
    EXPECT_EQ(blocks.data[3].back(), 279);

    ASSERT_EQ(StopRecDev(capture), 0);
    EXPECT_EQ(capturing, (std::vector<bool> { true, false }));
    kzaudio::PushCapture(pcm.data(), pcm.size());
    EXPECT_EQ(blocks.data.size(), 4u) << "a stopped device takes nothing";
    // Started again and closed while delivering: the relay is told it stopped.
    RestartRecDev(capture);
    CloseRecDev(capture);
    EXPECT_EQ(capturing, (std::vector<bool> { true, false, true, false }));
}

}
