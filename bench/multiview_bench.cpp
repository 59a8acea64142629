// Eight live views in one process, each control logged in to its own
// simulated camera sending 720p H.264 at 25 frames per second: frames shown
// and dropped per view, the whole process's CPU time per shown frame as a
// ratio to bare FFmpeg decoding of the same frames at the same pace and at
// the same time (and, for comparison, flat out after the views), and the
// latency from a frame's arrival (the frame callback) to the present that
// puts its pixels on the screen. The cameras run in a process of their own,
// forked before anything else starts, as cameras are devices of their own.
//
//   multiview_bench [--seconds N]

#include "ControlPage.h"

#include "control/TiravexCtrl.h"
#include "host/PageSite.h"
#include "media/FrameProbe.h"
#include "sim/Camera.h"
#include "sim/VideoEncoder.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
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
#include <thread>
#include <vector>

using bench::kMsPerSecond;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kViews = 8;
constexpr int kDefaultSeconds = 20;
constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 25;
constexpr int kFrameUs = 1000000 / kFps;
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
constexpr double kP50 = 0.50;
constexpr double kP99 = 0.99;
// A frame is presented as it is composed: its latency's goal is its decoding and this.
constexpr double kLatencyAboveDecodeMs = 10.0;

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

// One bare FFmpeg H.264 decoder on one thread, as the views' 720p decoders.
class BareDecoder {
public:
    BareDecoder()
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        m_context = avcodec_alloc_context3(codec);
        m_context->thread_count = 1;
        avcodec_open2(m_context, codec, nullptr);
    }
    ~BareDecoder()
    {
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_context);
    }
    BareDecoder(const BareDecoder&) = delete;
    BareDecoder& operator=(const BareDecoder&) = delete;

    // `padded` holds `size` bytes of one frame and FFmpeg's input padding.
    void Decode(std::vector<std::uint8_t>& padded, std::size_t size)
    {
        m_packet->data = padded.data();
        m_packet->size = static_cast<int>(size);
        avcodec_send_packet(m_context, m_packet);
        while (avcodec_receive_frame(m_context, m_frame) == 0) {
        }
    }

private:
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = av_packet_alloc();
    AVFrame* m_frame = av_frame_alloc();
};

// The loop's frames, each followed by FFmpeg's input padding.
std::vector<std::vector<std::uint8_t>> paddedFrames(const std::vector<sim::EncodedFrame>& loop)
{
    std::vector<std::vector<std::uint8_t>> padded;
    for (const auto& f : loop) {
        padded.push_back(f.data);
        padded.back().resize(f.data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    }
    return padded;
}

// Bare FFmpeg, one thread: `count` frames of the loop decoded by `streams`
// decoders in turn, a frame each (as many decoders as views decode the
// views' frames; one decoder decodes them as a single stream), and the CPU
// seconds it took.
double bareDecodeCpu(const std::vector<sim::EncodedFrame>& loop, long count, int streams)
{
    std::vector<std::unique_ptr<BareDecoder>> decoders;
    for (int i = 0; i < streams; ++i)
        decoders.push_back(std::make_unique<BareDecoder>());
    auto padded = paddedFrames(loop);
    double start = threadCpuSeconds();
    for (long i = 0; i < count; ++i) {
        auto n = static_cast<std::size_t>(i / streams) % loop.size();
        decoders[static_cast<std::size_t>(i % streams)]->Decode(padded[n], loop[n].data.size());
    }
    return threadCpuSeconds() - start;
}

// Bare FFmpeg at the cameras' pace: `streams` threads, each decoding its own
// stream a frame every 40 ms for `seconds`, as the views receive them, and
// the CPU seconds the threads took together. Work that arrives in bursts
// costs more a frame than decoding flat out (the cores sleep between frames
// and wake with cold caches), and this baseline pays that as the views do.
// It runs in the cameras' process at the same time as the views, so that
// both meet the same machine: on a shared virtual machine the cost of the
// same frames drifts by a third from one minute to the next.
double pacedDecodeCpu(const std::vector<sim::EncodedFrame>& loop, int seconds, int streams, long& decoded)
{
    auto padded = paddedFrames(loop); // only read: FFmpeg copies packets that own no buffer
    const long perStream = static_cast<long>(seconds) * kFps;
    std::vector<double> cpu(static_cast<std::size_t>(streams), 0.0);
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int s = 0; s < streams; ++s) {
        threads.emplace_back([&, s] {
            BareDecoder decoder;
            // The streams start spread over one frame time, as cameras do.
            auto due = start + std::chrono::microseconds(s * kFrameUs / streams);
            double before = threadCpuSeconds();
            for (long i = 0; i < perStream; ++i) {
                std::this_thread::sleep_until(due);
                due += std::chrono::microseconds(kFrameUs);
                auto n = static_cast<std::size_t>(i) % loop.size();
                decoder.Decode(padded[n], loop[n].data.size());
            }
            cpu[static_cast<std::size_t>(s)] = threadCpuSeconds() - before;
        });
    }
    for (auto& t : threads)
        t.join();
    decoded = perStream * streams;
    double total = 0;
    for (double c : cpu)
        total += c;
    return total;
}

// ---- the cameras' process ---------------------------------------------------------------
// The child starts the cameras and writes one line a camera to the parent
// ("camera PORT WEBPORT USER PASSWORD"); on the parent's "pace N" it starts
// bare decoding at the cameras' pace for N seconds; on "stall" it stalls
// their video and answers "sent N" a camera, then, when decoding was
// started, "paced CPU FRAMES" once it has ended; at the end of its input it
// stops them and exits.

constexpr const char* kStallCommand = "stall";
constexpr const char* kPaceCommand = "pace";

int runCameras(const std::vector<sim::EncodedFrame>& loop, const sim::VideoSettings& video, FILE* commands, FILE* answers)
{
    std::vector<std::unique_ptr<sim::Camera>> cameras;
    for (int i = 0; i < kViews; ++i) {
        sim::CameraConfig config;
        config.video = video;
        config.searchPort = -1;
        auto camera = sim::Camera::Start(config);
        if (!camera) {
            std::fprintf(stderr, "multiview_bench: camera %d did not start\n", i);
            return 1;
        }
        camera->SetPreEncoded(loop, sim::Codec::H264, kWidth, kHeight, kFps, true);
        std::fprintf(answers, "camera %s %d %d %s %s\n", camera->Address().c_str(), camera->Port(), camera->WebPort(), camera->User().c_str(), camera->Password().c_str());
        cameras.push_back(std::move(camera));
    }
    std::fflush(answers);
    char line[64];
    std::thread pacing;
    double pacedCpu = 0;
    long pacedFrames = 0;
    while (std::fgets(line, sizeof line, commands)) {
        if (std::strncmp(line, kPaceCommand, std::strlen(kPaceCommand)) == 0) {
            const int seconds = std::atoi(line + std::strlen(kPaceCommand));
            if (seconds > 0 && !pacing.joinable())
                pacing = std::thread([&, seconds] { pacedCpu = pacedDecodeCpu(loop, seconds, kViews, pacedFrames); });
            continue;
        }
        if (std::strncmp(line, kStallCommand, std::strlen(kStallCommand)) != 0)
            continue;
        for (auto& camera : cameras)
            camera->StallVideo(kStallMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs)); // a frame being sent is counted
        for (auto& camera : cameras)
            std::fprintf(answers, "sent %llu\n", static_cast<unsigned long long>(camera->VideoFramesSent()));
        if (pacing.joinable()) {
            pacing.join();
            std::fprintf(answers, "paced %.6f %ld\n", pacedCpu, pacedFrames);
        }
        std::fflush(answers);
    }
    if (pacing.joinable())
        pacing.join();
    cameras.clear();
    return 0;
}

struct CameraProcess {
    pid_t pid = -1;
    FILE* commands = nullptr; // to the child
    FILE* answers = nullptr;  // from it
    std::vector<bench::CameraAt> cameras;

    ~CameraProcess()
    {
        if (commands)
            std::fclose(commands);
        if (answers)
            std::fclose(answers);
        if (pid > 0)
            waitpid(pid, nullptr, 0);
    }

    bool Start(const std::vector<sim::EncodedFrame>& loop, const sim::VideoSettings& video)
    {
        int down[2], up[2];
        if (pipe(down) != 0 || pipe(up) != 0)
            return false;
        pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            close(down[1]);
            close(up[0]);
            FILE* in = fdopen(down[0], "r");
            FILE* out = fdopen(up[1], "w");
            _exit(in && out ? runCameras(loop, video, in, out) : 1);
        }
        close(down[0]);
        close(up[1]);
        commands = fdopen(down[1], "w");
        answers = fdopen(up[0], "r");
        if (!commands || !answers)
            return false;
        for (int i = 0; i < kViews; ++i) {
            // The password is the rest of the line, and may be empty.
            char line[256] = {}, address[64] = {}, user[64] = {};
            bench::CameraAt at;
            int passwordAt = 0;
            if (!std::fgets(line, sizeof line, answers)
                || std::sscanf(line, "camera %63s %d %d %63s %n", address, &at.port, &at.webPort, user, &passwordAt) != 4)
                return false;
            at.address = address;
            at.user = user;
            at.password = std::string(line + passwordAt, std::strcspn(line + passwordAt, "\n"));
            cameras.push_back(at);
        }
        return true;
    }

    // Starts bare decoding at the cameras' pace for `seconds`.
    void StartPacedDecoding(int seconds)
    {
        std::fprintf(commands, "%s %d\n", kPaceCommand, seconds);
        std::fflush(commands);
    }

    // Stalls every camera's video; the frames each sent since it started;
    // and, after StartPacedDecoding, the CPU seconds and frames of that
    // decoding once it has ended.
    std::vector<long> StallAndCount(double& pacedCpu, long& pacedFrames)
    {
        std::vector<long> sent;
        std::fprintf(commands, "%s\n", kStallCommand);
        std::fflush(commands);
        for (int i = 0; i < kViews; ++i) {
            long n = -1;
            if (std::fscanf(answers, " sent %ld", &n) != 1)
                n = -1;
            sent.push_back(n);
        }
        if (std::fscanf(answers, " paced %lf %ld", &pacedCpu, &pacedFrames) != 2)
            pacedFrames = 0;
        return sent;
    }
};

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

    // The cameras' process is forked now, while this process has no other
    // thread, so that their sending is in no figure of this one.
    CameraProcess cameras;
    if (!cameras.Start(loop, video))
        return fail("the cameras did not start");

    auto page = std::make_unique<bench::ControlPage>("BenchPage", kScreenWidth, kScreenHeight);

    media::SetFrameProbe(&onProbe);
    std::vector<control::CTiravexCtrl*> controls;
    for (int i = 0; i < kViews; ++i) {
        LONG x = (i % kColumns) * kViewWidth, y = (i / kColumns) * kViewHeight;
        auto* c = page->AddControl(i, RECT { x, y, x + kViewWidth, y + kViewHeight });
        controls.push_back(c);
        g_slots[static_cast<std::size_t>(i)].player = static_cast<const CPlayBase*>(&c->Live());
        if (!bench::LogInAndOpen(c, cameras.cameras[static_cast<std::size_t>(i)]))
            return fail("a login failed");
    }
    if (!ui::RunUntil([&] { return std::all_of(controls.begin(), controls.end(), [](auto* c) { return c->Live().DrawnFrames() > 0; }); }, kFirstFrameWaitMs))
        return fail("a view never showed a frame");

    // The measured run.
    std::vector<int> drawnBefore;
    for (auto* c : controls)
        drawnBefore.push_back(c->Live().DrawnFrames());
    cameras.StartPacedDecoding(seconds);
    g_measuring = true;
    const auto threadsBefore = bench::ThreadCpuByName();
    double cpuBefore = processCpuSeconds();
    auto start = Clock::now();
    ui::RunUntil([] { return false; }, static_cast<DWORD>(seconds * kMsPerSecond), ui::kRunNoPoll);
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = processCpuSeconds() - cpuBefore;
    auto threadsAfter = bench::ThreadCpuByName();
    g_measuring = false;
    std::vector<int> drawnAfter;
    for (auto* c : controls)
        drawnAfter.push_back(c->Live().DrawnFrames());

    // The cameras stop sending; what is in flight arrives; then sent and
    // shown since the start are compared.
    double pacedCpu = 0;
    long pacedFrames = 0;
    const std::vector<long> sentByCamera = cameras.StallAndCount(pacedCpu, pacedFrames);
    if (pacedFrames <= 0)
        return fail("the paced decoding gave no figure");
    ui::RunUntil([] { return false; }, kSettleMs, ui::kRunNoPoll);

    long shown = 0, dropped = 0;
    double minFps = 1e9;
    std::printf("%d views of %dx%d H.264 at %d fps, %d s\n", kViews, kWidth, kHeight, kFps, seconds);
    for (int i = 0; i < kViews; ++i) {
        auto n = static_cast<std::size_t>(i);
        int viewShown = drawnAfter[n] - drawnBefore[n];
        double fps = viewShown / elapsed;
        long sent = sentByCamera[n];
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

    // Bare FFmpeg decoding of the same frames, two ways. At the cameras'
    // pace, eight threads each decoding its stream a frame every 40 ms, as
    // the views do, and at the same time: the ratio's baseline. Flat out on
    // this thread alone, the views' eight streams by eight decoders in turn
    // and as one stream by one decoder: what the frames cost with the cores
    // never sleeping.
    const long frames = std::max(shown, 1L);
    const double processMs = cpu / static_cast<double>(frames) * kMsPerSecond;
    const double decodeMs = pacedCpu / static_cast<double>(pacedFrames) * kMsPerSecond;
    const double ratio = decodeMs > 0 ? processMs / decodeMs : 0;
    const double flatMs = bareDecodeCpu(loop, frames, kViews) / static_cast<double>(frames) * kMsPerSecond;
    const double singleMs = bareDecodeCpu(loop, frames, 1) / static_cast<double>(frames) * kMsPerSecond;
    std::printf("process cpu %.2f s, %.2f ms a shown frame; by thread, ms a shown frame:%s\n", cpu, processMs,
        bench::ThreadCpuText(threadsBefore, threadsAfter, frames).c_str());
    std::printf("bare decode at the cameras' pace, %d threads, alongside: %.2f ms a frame, ratio %.2f\n", kViews, decodeMs, ratio);
    std::printf("bare decode flat out, %d streams in turn: %.2f ms a frame, ratio %.2f; one stream: %.2f ms a frame, ratio %.2f\n", kViews, flatMs,
        flatMs > 0 ? processMs / flatMs : 0, singleMs, singleMs > 0 ? processMs / singleMs : 0);

    std::vector<double> latencies;
    {
        std::lock_guard lock(g_latencyMutex);
        latencies = g_latenciesMs;
    }
    double p50 = percentile(latencies, kP50), p99 = percentile(latencies, kP99);
    std::printf("latency over %zu presented frames: p50 %.1f ms, p99 %.1f ms (goal: decode + %.0f ms = %.1f ms)\n", latencies.size(), p50, p99,
        kLatencyAboveDecodeMs, decodeMs + kLatencyAboveDecodeMs);
    std::printf("views %d, min fps %.1f, dropped %ld, cpu ratio %.2f, latency p99 %.1f ms, decode %.2f ms\n", kViews, minFps, dropped, ratio, p99, decodeMs);
    return 0;
}
