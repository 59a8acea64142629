// Eight live views in one process, each control logged in to its own
// simulated camera sending 720p H.264 at 25 frames per second: frames shown
// and dropped per view, the whole process's CPU time per shown frame as a
// ratio to bare FFmpeg decoding of the same frames in the same run, and the
// latency from a frame's arrival (the frame callback) to the present that
// puts its pixels on the screen.
//
//   multiview_bench [--seconds N]

#include "ControlPage.h"

#include "control/TiravexCtrl.h"
#include "host/PageSite.h"
#include "media/CMediaHub.h"
#include "media/FrameProbe.h"
#include "sim/Camera.h"
#include "sim/VideoEncoder.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kViews = 8;
constexpr int kDefaultSeconds = 20;
constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 25;
constexpr int kKeyInterval = 25;   // one key frame a second
constexpr int kLoopFrames = 50;    // the cameras send these pre-encoded frames in a loop
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr int kColumns = 4;        // the views tile the page in 4 columns and 2 rows
constexpr int kViewWidth = kScreenWidth / kColumns;
constexpr int kViewHeight = kScreenHeight / (kViews / kColumns);
constexpr DWORD kFirstFrameWaitMs = 10000;
constexpr int kStallMs = 5000;     // long enough to outlast the settle below
constexpr DWORD kSettleMs = 300;   // frames in flight arrive and are drawn
constexpr double kMsPerSecond = 1000.0;
constexpr double kP50 = 0.50;
constexpr double kP99 = 0.99;

// ---- the latency probe ------------------------------------------------------------------
// Per player: the arrival time of the frame being decoded (set and read on the
// frame thread), the arrival time of the picture in the composition surface
// not yet presented, and the latencies of presented pictures.

struct ProbeSlot {
    std::atomic<const void*> player { nullptr };
    Clock::time_point arriving;
    std::mutex mutex; // guards the three below
    Clock::time_point composedArrival;
    bool composedUnshown = false;
    int superseded = 0; // composed, then overwritten by the next before any present
};

std::array<ProbeSlot, kViews> g_slots;
std::atomic<bool> g_measuring { false };
std::mutex g_latencyMutex;
std::vector<double> g_latenciesMs;

ProbeSlot* slotOf(const void* player)
{
    for (auto& s : g_slots)
        if (s.player.load() == player)
            return &s;
    return nullptr;
}

void onProbe(media::ProbePoint point, const void* player)
{
    auto now = Clock::now();
    ProbeSlot* slot = slotOf(player);
    if (!slot)
        return;
    switch (point) {
    case media::ProbePoint::FrameArrived:
        slot->arriving = now;
        break;
    case media::ProbePoint::FrameComposed: {
        std::lock_guard lock(slot->mutex);
        if (slot->composedUnshown && g_measuring.load())
            ++slot->superseded;
        slot->composedArrival = slot->arriving;
        slot->composedUnshown = true;
        break;
    }
    case media::ProbePoint::Presented: {
        Clock::time_point arrival;
        {
            std::lock_guard lock(slot->mutex);
            if (!slot->composedUnshown)
                return;
            slot->composedUnshown = false;
            arrival = slot->composedArrival;
        }
        if (!g_measuring.load())
            return;
        std::lock_guard lock(g_latencyMutex);
        g_latenciesMs.push_back(std::chrono::duration<double, std::milli>(now - arrival).count());
        break;
    }
    }
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// ---- CPU time ---------------------------------------------------------------------------

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Bare FFmpeg: decodes `count` frames of the loop, one thread, and returns
// the CPU seconds it took.
double bareDecodeCpu(const std::vector<sim::EncodedFrame>& loop, long count)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->thread_count = 1;
    avcodec_open2(c, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::vector<std::uint8_t>> padded;
    for (const auto& f : loop) {
        padded.push_back(f.data);
        padded.back().resize(f.data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    }
    double start = threadCpuSeconds();
    for (long i = 0; i < count; ++i) {
        auto n = static_cast<std::size_t>(i) % loop.size();
        packet->data = padded[n].data();
        packet->size = static_cast<int>(loop[n].data.size());
        avcodec_send_packet(c, packet);
        while (avcodec_receive_frame(c, frame) == 0) {
        }
    }
    double cpu = threadCpuSeconds() - start;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&c);
    return cpu;
}

// ---- the page ---------------------------------------------------------------------------


int fail(const char* what)
{
    std::fprintf(stderr, "multiview_bench: %s\n", what);
    return 1;
}

}

int main(int argc, char** argv)
{
    int seconds = kDefaultSeconds;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else
            return fail("usage: multiview_bench [--seconds N]");
    }
    if (seconds <= 0)
        return fail("--seconds needs a positive number");

    // The cameras' frames: the simulator's pattern, pre-encoded once, sent
    // by every camera in a loop at 25 frames per second.
    sim::VideoSettings video { sim::Codec::H264, kWidth, kHeight, kFps, kKeyInterval };
    auto encoder = sim::VideoEncoder::Create(video);
    if (!encoder)
        return fail("no H.264 encoder");
    std::vector<sim::EncodedFrame> loop(kLoopFrames);
    for (int i = 0; i < kLoopFrames; ++i)
        if (!encoder->Encode(static_cast<std::uint32_t>(i), loop[static_cast<std::size_t>(i)]))
            return fail("encoding failed");
    encoder.reset();

    std::vector<std::unique_ptr<sim::Camera>> cameras;
    for (int i = 0; i < kViews; ++i) {
        sim::CameraConfig config;
        config.video = video;
        config.searchPort = -1;
        auto camera = sim::Camera::Start(config);
        if (!camera)
            return fail("a camera did not start");
        camera->SetPreEncoded(loop, sim::Codec::H264, kWidth, kHeight, kFps, true);
        cameras.push_back(std::move(camera));
    }

    auto page = std::make_unique<bench::ControlPage>("BenchPage", kScreenWidth, kScreenHeight);

    media::SetFrameProbe(&onProbe);
    std::vector<control::CTiravexCtrl*> controls;
    for (int i = 0; i < kViews; ++i) {
        LONG x = (i % kColumns) * kViewWidth, y = (i / kColumns) * kViewHeight;
        auto* c = page->AddControl(i, RECT { x, y, x + kViewWidth, y + kViewHeight });
        controls.push_back(c);
        g_slots[static_cast<std::size_t>(i)].player = static_cast<const CPlayBase*>(&c->Live());
        if (!bench::LogInAndOpen(c, *cameras[static_cast<std::size_t>(i)]))
            return fail("a login failed");
    }
    if (!ui::RunUntil([&] { return std::all_of(controls.begin(), controls.end(), [](auto* c) { return c->Live().DrawnFrames() > 0; }); }, kFirstFrameWaitMs))
        return fail("a view never showed a frame");

    // The measured run.
    std::vector<int> drawnBefore;
    for (auto* c : controls)
        drawnBefore.push_back(c->Live().DrawnFrames());
    g_measuring = true;
    double cpuBefore = processCpuSeconds();
    auto start = Clock::now();
    ui::RunUntil([] { return false; }, static_cast<DWORD>(seconds * kMsPerSecond));
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = processCpuSeconds() - cpuBefore;
    g_measuring = false;
    std::vector<int> drawnAfter;
    for (auto* c : controls)
        drawnAfter.push_back(c->Live().DrawnFrames());

    // The cameras stop sending; what is in flight arrives; then sent and
    // shown since the start are compared.
    for (auto& cam : cameras)
        cam->StallVideo(kStallMs);
    ui::RunUntil([] { return false; }, kSettleMs);

    long shown = 0, dropped = 0;
    double minFps = 1e9;
    std::printf("%d views of %dx%d H.264 at %d fps, %d s\n", kViews, kWidth, kHeight, kFps, seconds);
    for (int i = 0; i < kViews; ++i) {
        auto n = static_cast<std::size_t>(i);
        int viewShown = drawnAfter[n] - drawnBefore[n];
        double fps = viewShown / elapsed;
        long sent = static_cast<long>(cameras[n]->VideoFramesSent());
        long viewDropped = std::max(0L, sent - controls[n]->Live().DrawnFrames());
        shown += viewShown;
        dropped += viewDropped;
        minFps = std::min(minFps, fps);
        std::printf("view %d: shown %d (%.1f fps), sent %ld since login, dropped %ld, composed but never presented %d\n", i, viewShown, fps, sent, viewDropped, g_slots[n].superseded);
    }

    media::SetFrameProbe(nullptr);
    for (auto* c : controls)
        c->Release();
    controls.clear();
    page.reset();
    cameras.clear();

    // Bare FFmpeg decode of as many of the same frames, on this thread alone.
    double bareCpu = bareDecodeCpu(loop, std::max(shown, 1L));
    double decodeMs = bareCpu / static_cast<double>(std::max(shown, 1L)) * kMsPerSecond;
    double ratio = bareCpu > 0 ? cpu / bareCpu : 0;
    std::printf("process cpu %.2f s, %.2f ms a shown frame; bare decode %.2f ms a frame; ratio %.2f\n", cpu, cpu / static_cast<double>(std::max(shown, 1L)) * kMsPerSecond, decodeMs, ratio);

    std::vector<double> latencies;
    {
        std::lock_guard lock(g_latencyMutex);
        latencies = g_latenciesMs;
    }
    double p50 = percentile(latencies, kP50), p99 = percentile(latencies, kP99);
    std::printf("latency over %zu presented frames: p50 %.1f ms, p99 %.1f ms (decode + one %u ms tick = %.1f ms)\n", latencies.size(), p50, p99,
        static_cast<unsigned>(kWatchdogTickMs), decodeMs + static_cast<double>(kWatchdogTickMs));
    std::printf("views %d, min fps %.1f, dropped %ld, cpu ratio %.2f, latency p99 %.1f ms, decode %.2f ms\n", kViews, minFps, dropped, ratio, p99, decodeMs);
    return 0;
}
