// What live H.264 from a camera of the standards (ONVIF login, RTSP through
// GStreamer) costs this process against live H.264 from ours, at the same
// size and rate, in one run: each camera runs as its own tiravex-camsim
// process, this process logs in through the network library, opens the
// live stream and decodes every frame with FFmpeg (one thread), as the
// control does. Prints CPU milliseconds a frame for both and their ratio.
//
//   standards_bench [seconds per measurement, default 8]

#include "kznet/kznet.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSize[] = { "--width", "1280", "--height", "720", "--fps", "25", "--keyint", "25" };
constexpr int kWarmupSeconds = 2;
constexpr int kLoginWaitMs = 10000;

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Camera {
    pid_t pid = -1;
    int port = 0;
    int webPort = 0;
};

// Starts tiravex-camsim in `dialect` and reads the ports it prints.
Camera startCamera(const char* dialect)
{
    Camera camera;
    int out[2];
    if (pipe(out) != 0)
        return camera;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = { TIRAVEX_CAMSIM_PROGRAM, "--dialect", dialect, "--port", "0", "--webport", "0", "--searchport", "-1" };
    for (const char* a : kSize)
        args.push_back(a);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&camera.pid, TIRAVEX_CAMSIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
        camera.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[256] = {};
    if (in && std::fgets(line, sizeof line, in)) {
        const char* port = std::strstr(line, " port ");
        const char* web = std::strstr(line, " webport ");
        camera.port = port ? std::atoi(port + 6) : 0;
        camera.webPort = web ? std::atoi(web + 9) : 0;
    }
    if (in)
        std::fclose(in);
    return camera;
}

void stopCamera(Camera& camera)
{
    if (camera.pid > 0) {
        kill(camera.pid, SIGTERM);
        waitpid(camera.pid, nullptr, 0);
    }
}

struct Decoding {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::atomic<long> decoded { 0 };
    std::atomic<bool> loggedIn { false };
};

int onControl(int type, const char* data, void* user, int length)
{
    std::int32_t status = -1;
    if (type == kz::kMsgLoginReply && length >= 4)
        std::memcpy(&status, data, sizeof status);
    if (type == kz::kMsgLoginReply && status == kz::kLoginOk)
        static_cast<Decoding*>(user)->loggedIn = true;
    return 0;
}

int onStatus(int, int*, void*, int) { return 0; }

int onFrame(int kind, FrameRecord* record, void* user, int)
{
    auto* d = static_cast<Decoding*>(user);
    if (kind != kz::kFrameH264)
        return 0;
    d->packet->data = const_cast<std::uint8_t*>(record->payload);
    d->packet->size = record->size;
    if (avcodec_send_packet(d->context, d->packet) == 0)
        while (avcodec_receive_frame(d->context, d->frame) == 0)
            ++d->decoded;
    return 0;
}

// CPU milliseconds a decoded frame over `seconds` of the camera's live stream.
double measure(const char* dialect, int seconds, long& frames)
{
    Camera camera = startCamera(dialect);
    if (camera.port <= 0) {
        stopCamera(camera);
        return 0;
    }
    Decoding d;
    d.context = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
    d.context->thread_count = 1;
    avcodec_open2(d.context, nullptr, nullptr);
    d.packet = av_packet_alloc();
    d.frame = av_frame_alloc();
    LoginInfo login {};
    std::strncpy(login.ip, "127.0.0.1", sizeof login.ip - 1);
    std::strncpy(login.username, "admin", sizeof login.username - 1);
    login.port = camera.port;
    login.webport = static_cast<std::uint16_t>(camera.webPort);
    KzHandle road = kz_open_ctrl_road(kz::kRoadModeMedia, &login, &onControl, &d, 0);
    auto until = Clock::now() + std::chrono::milliseconds(kLoginWaitMs);
    while (!d.loggedIn && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // a bench's wait, not a test's
    KzHandle stream = d.loggedIn ? kz_open_device(kz::kConnectMedia, "", &login, 0, 1, kz::kOpenDeviceConstant, &onStatus, &onFrame, &d, 0) : nullptr;
    double perFrame = 0;
    if (stream) {
        std::this_thread::sleep_for(std::chrono::seconds(kWarmupSeconds));
        double cpu = cpuSeconds();
        long before = d.decoded;
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        frames = d.decoded - before;
        perFrame = frames > 0 ? (cpuSeconds() - cpu) * 1000.0 / static_cast<double>(frames) : 0;
        kz_close_device(stream);
    }
    kz_close_ctrl_road(road);
    stopCamera(camera);
    av_frame_free(&d.frame);
    av_packet_free(&d.packet);
    avcodec_free_context(&d.context);
    return perFrame;
}

}

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    long oursFrames = 0, standardsFrames = 0;
    double ours = measure("ours", seconds, oursFrames);
    double standards = measure("onvif", seconds, standardsFrames);
    std::printf("live H.264 1280x720 at 25 fps, CPU of this process a decoded frame\n");
    std::printf("  ours:      %.3f ms (%ld frames)\n", ours, oursFrames);
    std::printf("  standards: %.3f ms (%ld frames)\n", standards, standardsFrames);
    if (ours > 0 && standards > 0)
        std::printf("  ratio standards / ours: %.2f\n", standards / ours);
    return ours > 0 && standards > 0 ? 0 : 1;
}
