// serve_bench: what the browser path costs for live 720p views, with the
// camera's frames passed through to the page (decoded by Chromium's
// WebCodecs) against the control's pictures (decoded and drawn by the
// control, sent as JPEG), in the same run.
//
// A simulated camera in this process sends a loop of pre-encoded 1280 x 720
// H.264 at 25 frames per second (no encoding competes with the figures). tiravex-serve shows it in headless Chromium (bench/web/view.html,
// one 1282 x 722 control) each way for the same time, then four controls
// in one page with the frames passed through. Reported:
//
// - latency from the frame's arrival at the control to its picture shown
//   (passed through: presented by the view's <video> element, as its
//   requestVideoFrameCallback tells, or drawn on its canvas where the page
//   has no video tracks); for the pictures, from the screen
//   change the frame's present made (after decoding and composing) to the
//   canvas; both on this machine's clock; p50 and p99;
// - CPU per shown frame (user + system, /proc) of the page's worker process
//   (the control), of tiravex-serve (the HTTP side) and of Chromium: its
//   renderer processes, its GPU process and the rest;
// - the frames a second of the slowest of four views in one page.
//
// Its last line: "serve passthrough R of jpeg, server S ms a frame, four
// views min fps F" (R: all CPU a frame passed through / with pictures; S:
// worker + tiravex-serve a frame passed through).
//
//   serve_bench [--seconds N] [--width W --height H] [--fps F] [--only passed|jpeg|four]
//
// --only runs that page alone and prints no last line.

#include "support/Browser.h"

#include "sim/Camera.h"
#include "sim/VideoEncoder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using testing_support::CdpPage;
using testing_support::Chromium;
using testing_support::Json;
using testing_support::ServeProcess;

constexpr int kWarmUpSeconds = 3;
constexpr int kLoginLimitMs = 15000;

struct Options {
    int seconds = 10;
    int width = 1280;
    int height = 720;
    int fps = 25;
    std::string only; // "passed", "jpeg" or "four": that run alone, for profiling one path
};

// User + system CPU seconds of the processes of group `group` (all of them,
// or all but its leader, or the leader alone), of those whose command line
// holds `only` when given, or lacks every one of `except`.
enum class Members { All, Leader, Others };

std::string commandLine(const std::string& pid)
{
    std::ifstream file("/proc/" + pid + "/cmdline");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

double groupCpu(pid_t group, Members members, const std::string& only = {}, const std::vector<std::string>& except = {})
{
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    double total = 0;
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string text;
        std::getline(stat, text);
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(text.substr(close + 2));
        std::string state;
        long ppid = 0, pgrp = 0, session = 0, tty = 0, tpgid = 0;
        unsigned long flags = 0, minflt = 0, cminflt = 0, majflt = 0, cmajflt = 0, utime = 0, stime = 0;
        fields >> state >> ppid >> pgrp >> session >> tty >> tpgid >> flags >> minflt >> cminflt >> majflt >> cmajflt >> utime >> stime;
        if (pgrp != group)
            continue;
        if ((members == Members::Leader && pid != group) || (members == Members::Others && pid == group))
            continue;
        if (!only.empty() || !except.empty()) {
            const std::string command = commandLine(entry->d_name);
            if (!only.empty() && command.find(only) == std::string::npos)
                continue;
            if (std::any_of(except.begin(), except.end(), [&](const std::string& e) { return command.find(e) != std::string::npos; }))
                continue;
        }
        total += static_cast<double>(utime + stime) / tick;
    }
    closedir(proc);
    return total;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())));
    return values[at];
}

// The camera's frames: a loop of pre-encoded H.264 (a key frame a second),
// sent paced by a simulated camera in this process, so that no encoding
// competes with what is measured, however many views watch it.
constexpr int kKeyInterval = 25;
constexpr int kLoopFrames = 50;

std::unique_ptr<sim::Camera> startCamera(const Options& o)
{
    sim::VideoSettings video { sim::Codec::H264, o.width, o.height, o.fps, kKeyInterval };
    auto encoder = sim::VideoEncoder::Create(video);
    if (!encoder)
        return nullptr;
    std::vector<sim::EncodedFrame> loop(kLoopFrames);
    for (int i = 0; i < kLoopFrames; ++i)
        if (!encoder->Encode(static_cast<std::uint32_t>(i), loop[static_cast<std::size_t>(i)]))
            return nullptr;
    sim::CameraConfig config;
    config.video = video;
    config.searchPort = -1;
    auto camera = sim::Camera::Start(config);
    if (camera)
        camera->SetPreEncoded(std::move(loop), sim::Codec::H264, o.width, o.height, o.fps, true);
    return camera;
}

// A value for a page's address.
std::string escaped(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

constexpr const char* kRenderer = "--type=renderer";
constexpr const char* kGpu = "--type=gpu-process";

// CPU seconds of each part, read at once.
struct Cpu {
    double worker = 0, serve = 0, renderer = 0, gpu = 0, browserRest = 0;
    static Cpu Read(pid_t servePid, pid_t browserPid)
    {
        Cpu c;
        c.worker = groupCpu(servePid, Members::Others);
        c.serve = groupCpu(servePid, Members::Leader);
        c.renderer = groupCpu(browserPid, Members::All, kRenderer);
        c.gpu = groupCpu(browserPid, Members::All, kGpu);
        c.browserRest = groupCpu(browserPid, Members::All, {}, { kRenderer, kGpu });
        return c;
    }
    Cpu operator-(const Cpu& o) const { return Cpu { worker - o.worker, serve - o.serve, renderer - o.renderer, gpu - o.gpu, browserRest - o.browserRest }; }
    double Server() const { return worker + serve; }
    double Browser() const { return renderer + gpu + browserRest; }
    double All() const { return Server() + Browser(); }
};

// One page of `views` views for `seconds`, after a warm-up.
struct Run {
    bool ok = false;
    Cpu cpu;
    double frames = 0; // shown frames (video frames drawn, or pictures)
    double elapsed = 0;
    std::vector<double> latencies;
    double minFps = 0; // of the slowest view
};

Run runPage(const Options& o, const std::string& query, bool passthrough, int views)
{
    Run run;
    ServeProcess serve;
    Chromium browser;
    CdpPage page;
    const std::string url = "view.html" + query + "&views=" + std::to_string(views) + (passthrough ? "" : "&tiravex=jpeg");
    if (!serve.Start(TIRAVEX_BENCH_WEB, "") || !browser.Start() || !browser.Open(serve.Url() + url, page)) {
        std::fprintf(stderr, "serve_bench: tiravex-serve or Chromium did not start\n");
        return run;
    }
    const std::string shown = passthrough ? "Tiravex.stats.video.frames" : "Tiravex.stats.pictures";
    if (!page.WaitFor("showing && " + shown + " > 10", kLoginLimitMs)) {
        std::fprintf(stderr, "serve_bench: no picture reached the page (%s): %s\n", passthrough ? "passed through" : "pictures",
            page.Eval("JSON.stringify({ heard: heard, showing: showing, opened: opened, pictures: Tiravex.stats.pictures, video: [Tiravex.stats.video.frames, Tiravex.stats.video.dropped, Tiravex.stats.video.streams], passthrough: Tiravex.passthrough })").dump().c_str());
        return run;
    }
    if (passthrough && page.Eval("Tiravex.stats.pictures > 0 && Tiravex.stats.video.frames == 0") == Json(true)) {
        std::fprintf(stderr, "serve_bench: this Chromium does not decode the frames itself\n");
        return run;
    }
    std::this_thread::sleep_for(std::chrono::seconds(kWarmUpSeconds));
    page.Eval("Tiravex.stats.latencies = []; Tiravex.stats.pictures = 0; Tiravex.stats.video.latencies = []; Tiravex.stats.video.frames = 0;"
              " Tiravex.stats.video.streams = {}; 1");
    const pid_t servePid = serve.Child().Pid();
    const Cpu before = Cpu::Read(servePid, browser.Pid());
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
    const Cpu after = Cpu::Read(servePid, browser.Pid());
    run.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Json stats = page.Eval("({ pictures: Tiravex.stats.pictures, latencies: Tiravex.stats.latencies, frames: Tiravex.stats.video.frames,"
                           " videoLatencies: Tiravex.stats.video.latencies, streams: Tiravex.stats.video.streams })",
        30000);
    browser.Stop();
    serve.Stop();
    if (!stats.is_object()) {
        std::fprintf(stderr, "serve_bench: the page's figures could not be read\n");
        return run;
    }
    run.cpu = after - before;
    run.frames = passthrough ? stats["frames"].get<double>() : stats["pictures"].get<double>();
    run.latencies = (passthrough ? stats["videoLatencies"] : stats["latencies"]).get<std::vector<double>>();
    run.minFps = 0;
    if (passthrough) {
        bool first = true;
        for (const auto& [stream, count] : stats["streams"].items()) {
            const double fps = count.get<double>() / run.elapsed;
            run.minFps = first ? fps : std::min(run.minFps, fps);
            first = false;
        }
        if (static_cast<int>(stats["streams"].size()) < views)
            run.minFps = 0; // a view showed nothing
    } else {
        run.minFps = run.frames / run.elapsed / views;
    }
    run.ok = true;
    return run;
}

void report(const char* name, const Run& r)
{
    const double frames = std::max(r.frames, 1.0);
    auto ms = [&](double seconds) { return seconds * 1000.0 / frames; };
    std::printf("  %s: %.0f frames shown in %.1f s (%.1f a second)\n", name, r.frames, r.elapsed, r.frames / r.elapsed);
    std::printf("    latency: p50 %.1f ms, p99 %.1f ms (%zu frames)\n", percentile(r.latencies, 0.5), percentile(r.latencies, 0.99), r.latencies.size());
    std::printf("    CPU a frame: page worker %.2f ms, tiravex-serve %.2f ms; Chromium renderer %.2f ms, GPU process %.2f ms, others %.2f ms; in all %.2f ms\n",
        ms(r.cpu.worker), ms(r.cpu.serve), ms(r.cpu.renderer), ms(r.cpu.gpu), ms(r.cpu.browserRest), ms(r.cpu.All()));
}

}

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i], v = argv[i + 1];
        if (a == "--seconds")
            o.seconds = std::max(1, std::atoi(v.c_str()));
        else if (a == "--width")
            o.width = std::atoi(v.c_str());
        else if (a == "--height")
            o.height = std::atoi(v.c_str());
        else if (a == "--fps")
            o.fps = std::atoi(v.c_str());
        else if (a == "--only")
            o.only = v;
    }
    if (testing_support::ChromiumProgram().empty()) {
        std::fprintf(stderr, "serve_bench: Chromium is not installed (scripts/setup.sh installs it)\n");
        return 1;
    }
    // The control is the picture and its one-pixel frame.
    const int viewWidth = o.width + 2, viewHeight = o.height + 2;
    std::printf("serve_bench: one %dx%d H.264 view at %d fps (a %dx%d control), %d s each way; then four views in one page\n", o.width, o.height, o.fps, viewWidth,
        viewHeight, o.seconds);

    auto camera = startCamera(o);
    if (!camera) {
        std::fprintf(stderr, "serve_bench: the simulated camera did not start\n");
        return 1;
    }
    const std::string cameraQuery = "?address=" + camera->Address() + "&port=" + std::to_string(camera->Port()) + "&webport=" + std::to_string(camera->WebPort()) +
        "&user=" + escaped(camera->User()) + "&password=" + escaped(camera->Password());
    const std::string one = cameraQuery + "&width=" + std::to_string(viewWidth) + "&height=" + std::to_string(viewHeight);
    // Four views two a row, each half the picture's size.
    const std::string quarter = cameraQuery + "&width=" + std::to_string(o.width / 2 + 2) + "&height=" + std::to_string(o.height / 2 + 2);

    if (!o.only.empty()) {
        const bool jpegOnly = o.only == "jpeg", fourOnly = o.only == "four";
        const Run r = runPage(o, fourOnly ? quarter : one, !jpegOnly, fourOnly ? 4 : 1);
        camera.reset();
        if (!r.ok)
            return 1;
        report(o.only.c_str(), r);
        if (fourOnly)
            std::printf("    the slowest of the four views: %.1f frames a second\n", r.minFps);
        return 0;
    }
    const Run passed = runPage(o, one, true, 1);
    const Run jpeg = runPage(o, one, false, 1);
    const Run four = runPage(o, quarter, true, 4);
    camera.reset();
    if (!passed.ok || !jpeg.ok || !four.ok)
        return 1;
    report("passed through", passed);
    report("pictures (JPEG)", jpeg);
    report("four views passed through", four);
    std::printf("    the slowest of the four views: %.1f frames a second\n", four.minFps);
    const double ratio = (passed.cpu.All() / std::max(passed.frames, 1.0)) / std::max(jpeg.cpu.All() / std::max(jpeg.frames, 1.0), 1e-9);
    const double serverMs = passed.cpu.Server() * 1000.0 / std::max(passed.frames, 1.0);
    std::printf("serve passthrough %.2f of jpeg, server %.2f ms a frame, four views min fps %.1f\n", ratio, serverMs, four.minFps);
    return 0;
}
