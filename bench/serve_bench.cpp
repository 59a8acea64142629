// serve_bench: what the browser path costs for one live 720p view.
//
// A simulated camera (tiravex-camsim, its own process, so that its x264
// encoding is outside every figure) sends 1280 x 720 H.264 at 25 frames per
// second. tiravex-serve shows it in headless Chromium (bench/web/view.html,
// one 1282 x 722 control), then the page host shows it the same way
// (bench/web/view.js, headless presenter), each for the same time. Reported:
//
// - latency: from the screen change that a frame's present made in the
//   control (the presenter's change listener) to the picture drawn on the
//   page's canvas, both on this machine's clock; p50 and p99;
// - the presenter's work per picture (reading the view, comparing it, JPEG);
// - CPU per frame (user + system, /proc) of the page's worker process (the
//   control and the presenter), of tiravex-serve (the HTTP side), of
//   Chromium (all its processes), and of the page host showing the same
//   frames; the browser path adds worker + tiravex-serve - page host on the
//   server's side, and Chromium's on the browser's.
//
//   serve_bench [--seconds N] [--width W --height H] [--fps F] [--codec h264|mjpeg]

#include "support/Browser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using testing_support::CdpPage;
using testing_support::ChildProcess;
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
    std::string codec = "h264";
};

// User + system CPU seconds of the processes of group `group` (all of them,
// or all but its leader, or the leader alone).
enum class Members { All, Leader, Others };

double groupCpu(pid_t group, Members members)
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

bool startCamera(ChildProcess& camera, const Options& o, int& port, int& webPort)
{
    if (!camera.Start({ TIRAVEX_CAMSIM_PROGRAM, "--port", "0", "--webport", "0", "--searchport", "-1", "--width", std::to_string(o.width), "--height",
                          std::to_string(o.height), "--fps", std::to_string(o.fps), "--codec", o.codec, "--keyint", std::to_string(o.fps) },
            true))
        return false;
    std::string line;
    if (!camera.ReadLine(line, 10000))
        return false;
    return std::sscanf(line.c_str(), "tiravex-camsim: address %*s port %d webport %d", &port, &webPort) == 2;
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
        else if (a == "--codec")
            o.codec = v;
    }
    if (testing_support::ChromiumProgram().empty()) {
        std::fprintf(stderr, "serve_bench: Chromium is not installed (scripts/setup.sh installs it)\n");
        return 1;
    }
    // The control is the picture and its one-pixel frame.
    const int viewWidth = o.width + 2, viewHeight = o.height + 2;
    std::printf("serve_bench: one %dx%d %s view at %d fps (a %dx%d control), %d s each way\n", o.width, o.height, o.codec.c_str(), o.fps, viewWidth, viewHeight,
        o.seconds);

    ChildProcess camera;
    int port = 0, webPort = 0;
    if (!startCamera(camera, o, port, webPort)) {
        std::fprintf(stderr, "serve_bench: the simulated camera did not start\n");
        return 1;
    }
    const std::string query = "?address=127.0.0.1&port=" + std::to_string(port) + "&webport=" + std::to_string(webPort) + "&width=" + std::to_string(viewWidth) +
        "&height=" + std::to_string(viewHeight);

    // ---- the browser path ----
    ServeProcess serve;
    Chromium browser;
    CdpPage page;
    if (!serve.Start(TIRAVEX_BENCH_WEB, "") || !browser.Start() || !browser.Open(serve.Url() + "view.html" + query, page)) {
        std::fprintf(stderr, "serve_bench: tiravex-serve or Chromium did not start\n");
        return 1;
    }
    if (!page.WaitFor("showing && Tiravex.stats.pictures > 10", kLoginLimitMs)) {
        std::fprintf(stderr, "serve_bench: no picture reached the page\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(kWarmUpSeconds));
    page.Eval("Tiravex.stats.latencies = []; Tiravex.stats.workUs = []; Tiravex.stats.pictures = 0; Tiravex.stats.bytes = 0; 1");
    const pid_t servePid = serve.Child().Pid();
    const double worker0 = groupCpu(servePid, Members::Others), serve0 = groupCpu(servePid, Members::Leader);
    const double browser0 = groupCpu(browser.Pid(), Members::All);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
    const double worker1 = groupCpu(servePid, Members::Others), serve1 = groupCpu(servePid, Members::Leader);
    const double browser1 = groupCpu(browser.Pid(), Members::All);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Json stats = page.Eval("({ pictures: Tiravex.stats.pictures, bytes: Tiravex.stats.bytes, latencies: Tiravex.stats.latencies, workUs: Tiravex.stats.workUs })", 30000);
    browser.Stop();
    serve.Stop();
    if (!stats.is_object()) {
        std::fprintf(stderr, "serve_bench: the page's figures could not be read\n");
        return 1;
    }
    const int pictures = stats["pictures"].get<int>();
    std::vector<double> latencies = stats["latencies"].get<std::vector<double>>();
    std::vector<double> work;
    for (double us : stats["workUs"].get<std::vector<double>>())
        work.push_back(us / 1000.0);

    // ---- the same view in the page host ----
    ChildProcess host;
    const int hostSeconds = kWarmUpSeconds + o.seconds + 1;
    host.Start({ TIRAVEX_PAGE_PROGRAM, "--timeout", std::to_string(hostSeconds + 10), "--arg", "address=127.0.0.1", "--arg", "port=" + std::to_string(port), "--arg",
                   "webport=" + std::to_string(webPort), "--arg", "width=" + std::to_string(viewWidth), "--arg", "height=" + std::to_string(viewHeight), "--arg",
                   "seconds=" + std::to_string(hostSeconds), std::string(TIRAVEX_BENCH_WEB) + "/view.js" },
        true);
    std::this_thread::sleep_for(std::chrono::seconds(kWarmUpSeconds));
    const double host0 = groupCpu(host.Pid(), Members::All);
    std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
    const double host1 = groupCpu(host.Pid(), Members::All);
    host.Stop();
    camera.Stop();

    const double frames = static_cast<double>(std::max(pictures, 1));
    const double hostFrames = static_cast<double>(o.fps) * o.seconds;
    const double workerMs = (worker1 - worker0) * 1000.0 / frames, serveMs = (serve1 - serve0) * 1000.0 / frames;
    const double browserMs = (browser1 - browser0) * 1000.0 / frames, hostMs = (host1 - host0) * 1000.0 / hostFrames;
    std::printf("  pictures drawn on the page: %d in %.1f s (%.1f a second), %.1f KB each\n", pictures, elapsed, pictures / elapsed,
        pictures ? stats["bytes"].get<double>() / pictures / 1024.0 : 0.0);
    std::printf("  latency, frame presented in the control -> drawn on the page: p50 %.1f ms, p99 %.1f ms (%zu pictures)\n", percentile(latencies, 0.5),
        percentile(latencies, 0.99), latencies.size());
    std::printf("  presenter work a picture (read, compare, JPEG): p50 %.2f ms, p99 %.2f ms\n", percentile(work, 0.5), percentile(work, 0.99));
    std::printf("  CPU a frame: page worker %.2f ms, tiravex-serve %.2f ms, Chromium %.2f ms; the page host alone %.2f ms\n", workerMs, serveMs, browserMs, hostMs);
    std::printf("  the browser path adds %.2f ms a frame beside the control (worker + tiravex-serve - page host) and %.2f ms in the browser\n",
        workerMs + serveMs - hostMs, browserMs);
    return 0;
}
