// Live 720p25 H.264 views on a real X screen: one view, and eight views
// tiled, shown by the control in the SDL window, against GStreamer's
// playbin showing the same frames through ximagesink (one pipeline a view,
// each in its window of the view's size and place), all in one run on one
// X server (an Xvfb this bench starts). Each side is measured in a process
// of its own for the same seconds: its CPU and the X server's over those
// seconds, per frame shown. Eight views are also set against eight mpv
// processes (`--vo=x11`, software decoding; mpv is among the packages
// scripts/setup.sh installs); where it is missing, eight playbin pipelines
// are their baseline.
//
//   display_bench [--seconds N]
//
// The one view is also measured on a page of the whole screen (as
// tiravex-page's page is): what it costs should follow the picture, not
// the screen.
//
// Last line: "display one R1 of playbin, eight R8 of mpv, min fps F"
// ("of playbin" for the eight without mpv),
// R the CPU a shown frame (with the X server's) against the baseline's, F
// the lowest frame rate of any of the control's views.

#include "ControlPage.h"

#include "gfx/Screen.h"
#include "media/FrameProbe.h"
#include "present/Presenter.h"
#include "sim/Camera.h"
#include "sim/VideoEncoder.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <X11/Xlib.h>
#include <gst/gst.h>
#include <gst/video/videooverlay.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using bench::kMsPerSecond;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultSeconds = 10;
constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 25;
constexpr int kKeyInterval = 25;
constexpr int kLoopFrames = 50;
constexpr int kMaxViews = 8;
constexpr int kColumns = 4;        // eight views tile in 4 columns and 2 rows
constexpr int kTileWidth = 480;    // 16:9 tiles, a 1920 x 540 page
constexpr int kTileHeight = 270;
constexpr int kScreenWidth = 1920; // the monitor (and the X server's screen)
constexpr int kScreenHeight = 1080;
constexpr int kFileMarginSeconds = 15; // the file outlasts start-up and the measured seconds
constexpr DWORD kFirstFrameWaitMs = 10000;
constexpr int kStartWaitMs = 10000;
constexpr int kPollMs = 20;
constexpr int kWarmMs = 1000;      // after every view showed a frame, before measuring

constexpr const char* kBeginLine = "begin";
constexpr const char* kEndLine = "end";

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// User and system CPU seconds of process `pid` so far (its threads
// included); -1 when it cannot be read.
double cpuSecondsOf(pid_t pid) { return bench::StatCpuSeconds("/proc/" + std::to_string(pid) + "/stat"); }

RECT tileOf(int index, int views)
{
    if (views == 1)
        return RECT { 0, 0, kWidth, kHeight };
    LONG x = (index % kColumns) * kTileWidth, y = (index / kColumns) * kTileHeight;
    return RECT { x, y, x + kTileWidth, y + kTileHeight };
}

std::vector<sim::EncodedFrame> encodeLoop()
{
    sim::VideoSettings video { sim::Codec::H264, kWidth, kHeight, kFps, kKeyInterval };
    auto encoder = sim::VideoEncoder::Create(video);
    std::vector<sim::EncodedFrame> loop;
    if (!encoder)
        return loop;
    loop.resize(kLoopFrames);
    for (int i = 0; i < kLoopFrames; ++i)
        if (!encoder->Encode(static_cast<std::uint32_t>(i), loop[static_cast<std::size_t>(i)]))
            return {};
    return loop;
}

// The loop's frames repeated for `seconds` at 25 fps, in an MPEG-TS file
// that the players read with their timestamps.
bool writeTransportStream(const std::vector<sim::EncodedFrame>& loop, int seconds, const std::string& path)
{
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "mpegts", path.c_str()) < 0 || !out)
        return false;
    AVStream* stream = avformat_new_stream(out, nullptr);
    bool ok = stream != nullptr;
    if (ok) {
        stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        stream->codecpar->codec_id = AV_CODEC_ID_H264;
        stream->codecpar->width = kWidth;
        stream->codecpar->height = kHeight;
        stream->time_base = AVRational { 1, kFps };
        ok = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
    }
    AVPacket* packet = av_packet_alloc();
    for (long i = 0; ok && i < static_cast<long>(seconds) * kFps; ++i) {
        const auto& frame = loop[static_cast<std::size_t>(i) % loop.size()];
        av_packet_unref(packet);
        ok = av_new_packet(packet, static_cast<int>(frame.data.size())) == 0;
        if (!ok)
            break;
        std::memcpy(packet->data, frame.data.data(), frame.data.size());
        packet->stream_index = stream->index;
        packet->pts = packet->dts = av_rescale_q(i, AVRational { 1, kFps }, stream->time_base);
        packet->duration = av_rescale_q(1, AVRational { 1, kFps }, stream->time_base);
        if (frame.key)
            packet->flags |= AV_PKT_FLAG_KEY;
        ok = av_interleaved_write_frame(out, packet) == 0;
    }
    av_packet_free(&packet);
    if (ok)
        ok = av_write_trailer(out) == 0;
    if (out->pb)
        avio_closep(&out->pb);
    avformat_free_context(out);
    return ok;
}

// What a measured side reports on its standard output: "begin" when its
// measured seconds start, then "end CPU FRAMES MINFPS".
void reportBegin()
{
    std::printf("%s\n", kBeginLine);
    std::fflush(stdout);
}

void reportEnd(double cpu, long frames, double minFps)
{
    std::printf("%s %.6f %ld %.3f\n", kEndLine, cpu, frames, minFps);
    std::fflush(stdout);
}

// ---- the control's side ------------------------------------------------------------------

// Frames a view put on the screen: a present after a composition.
struct ShownCount {
    std::atomic<const void*> player { nullptr };
    std::atomic<bool> composed { false };
    std::atomic<long> shown { 0 };
};
std::array<ShownCount, kMaxViews> g_shown;

void onProbe(media::ProbePoint point, const void* player)
{
    for (auto& s : g_shown) {
        if (s.player.load() != player)
            continue;
        if (point == media::ProbePoint::FrameComposed)
            s.composed = true;
        else if (point == media::ProbePoint::Presented && s.composed.exchange(false))
            ++s.shown;
        return;
    }
}

// The cameras, in a process forked before this one starts any thread: one
// line "camera ADDRESS PORT WEBPORT USER PASSWORD" each, then they send
// until the end of their input.
pid_t startCameras(const std::vector<sim::EncodedFrame>& loop, int views, std::vector<bench::CameraAt>& at, FILE*& keepAlive)
{
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(down[1]);
        close(up[0]);
        std::vector<std::unique_ptr<sim::Camera>> cameras;
        FILE* out = fdopen(up[1], "w");
        for (int i = 0; i < views; ++i) {
            sim::CameraConfig config;
            config.video = sim::VideoSettings { sim::Codec::H264, kWidth, kHeight, kFps, kKeyInterval };
            config.searchPort = -1;
            auto camera = sim::Camera::Start(config);
            if (!camera)
                _exit(1);
            camera->SetPreEncoded(loop, sim::Codec::H264, kWidth, kHeight, kFps, true);
            std::fprintf(out, "camera %s %d %d %s %s\n", camera->Address().c_str(), camera->Port(), camera->WebPort(), camera->User().c_str(), camera->Password().c_str());
            cameras.push_back(std::move(camera));
        }
        std::fclose(out);
        char c;
        while (read(down[0], &c, 1) > 0) {
        }
        cameras.clear();
        _exit(0);
    }
    close(down[0]);
    close(up[1]);
    keepAlive = fdopen(down[1], "w");
    FILE* answers = fdopen(up[0], "r");
    if (pid < 0 || !answers)
        return -1;
    for (int i = 0; i < views; ++i) {
        char line[256] = {}, address[64] = {}, user[64] = {};
        bench::CameraAt camera;
        int passwordAt = 0;
        if (!std::fgets(line, sizeof line, answers)
            || std::sscanf(line, "camera %63s %d %d %63s %n", address, &camera.port, &camera.webPort, user, &passwordAt) != 4)
            return -1;
        camera.address = address;
        camera.user = user;
        camera.password = std::string(line + passwordAt, std::strcspn(line + passwordAt, "\n"));
        at.push_back(camera);
    }
    std::fclose(answers);
    return pid;
}

// How large the control's page is: as its views, or the whole screen (as
// tiravex-page's page is, a view in its corner).
enum class Page { OfTheViews, WholeScreen };

int runControl(int views, int seconds, Page pageSize)
{
    auto loop = encodeLoop();
    if (loop.empty())
        return 1;
    std::vector<bench::CameraAt> cameraAt;
    FILE* keepAlive = nullptr;
    const pid_t cameras = startCameras(loop, views, cameraAt, keepAlive);
    if (cameras < 0)
        return 1;
    RECT page {};
    for (int i = 0; i < views; ++i)
        page = ui::Union(page, tileOf(i, views));
    if (pageSize == Page::WholeScreen)
        page = RECT { 0, 0, kScreenWidth, kScreenHeight };
    int result = 1;
    {
        bench::ControlPage host("DisplayBenchPage", static_cast<int>(page.right), static_cast<int>(page.bottom));
        // The monitor is the X server's screen; the page is what it asks for.
        ui::SetMonitorSizes({ SIZE { kScreenWidth, kScreenHeight } });
        gfx::Screen::Get().SyncToMonitors();
        auto presenter = present::CreatePresenter(present::Kind::Window);
        media::SetFrameProbe(&onProbe);
        std::vector<control::CTiravexCtrl*> controls;
        bool ready = presenter != nullptr;
        for (int i = 0; ready && i < views; ++i) {
            auto* c = host.AddControl(i, tileOf(i, views));
            controls.push_back(c);
            g_shown[static_cast<std::size_t>(i)].player = static_cast<const CPlayBase*>(&c->Live());
            ready = bench::LogInAndOpen(c, cameraAt[static_cast<std::size_t>(i)]);
        }
        ready = ready && ui::RunUntil([&] { return std::all_of(controls.begin(), controls.end(), [](auto* c) { return c->Live().DrawnFrames() > 0; }); }, kFirstFrameWaitMs);
        if (ready) {
            ui::RunUntil([] { return false; }, kWarmMs, ui::kRunNoPoll);
            std::vector<long> before;
            for (int i = 0; i < views; ++i)
                before.push_back(g_shown[static_cast<std::size_t>(i)].shown.load());
            const std::uint64_t windowBefore = presenter->FramesShown();
            reportBegin();
            const auto threadsBefore = bench::ThreadCpuByName();
            const double cpuBefore = processCpuSeconds();
            const auto start = Clock::now();
            ui::RunUntil([] { return false; }, static_cast<DWORD>(seconds * kMsPerSecond), ui::kRunNoPoll);
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const double cpu = processCpuSeconds() - cpuBefore;
            long frames = 0;
            double minFps = 1e9;
            for (int i = 0; i < views; ++i) {
                long n = g_shown[static_cast<std::size_t>(i)].shown.load() - before[static_cast<std::size_t>(i)];
                frames += n;
                minFps = std::min(minFps, static_cast<double>(n) / elapsed);
            }
            std::fprintf(stderr, "display_bench: the window showed %llu screens; by thread, ms a shown frame:%s\n",
                static_cast<unsigned long long>(presenter->FramesShown() - windowBefore), bench::ThreadCpuText(threadsBefore, bench::ThreadCpuByName(), frames).c_str());
            reportEnd(cpu, frames, minFps);
            result = 0;
        }
        media::SetFrameProbe(nullptr);
        for (auto* c : controls)
            c->Release();
        presenter.reset();
    }
    std::fclose(keepAlive);
    waitpid(cameras, nullptr, 0);
    return result;
}

// ---- GStreamer's side --------------------------------------------------------------------

constexpr guint kPlayFlagVideo = 1; // playbin's "flags": video only

int runPlaybin(int views, int seconds, const std::string& file)
{
    gst_init(nullptr, nullptr);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    struct View {
        GstElement* playbin = nullptr;
        GstElement* sink = nullptr;
    };
    std::vector<View> played;
    gchar* uri = gst_filename_to_uri(file.c_str(), nullptr);
    for (int i = 0; i < views; ++i) {
        const RECT tile = tileOf(i, views);
        const int w = static_cast<int>(ui::Width(tile)), h = static_cast<int>(ui::Height(tile));
        Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), static_cast<int>(tile.left), static_cast<int>(tile.top), static_cast<unsigned>(w), static_cast<unsigned>(h), 0, 0, 0);
        XMapWindow(display, window);
        XSync(display, False);
        // Scaled to the view in I420, then converted, as a player does in software.
        std::string description = views == 1 ? "videoconvert ! ximagesink name=out"
                                             : "videoscale ! video/x-raw,width=" + std::to_string(w) + ",height=" + std::to_string(h) + " ! videoconvert ! ximagesink name=out";
        GError* error = nullptr;
        GstElement* sinkBin = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
        if (!sinkBin) {
            std::fprintf(stderr, "display_bench: %s\n", error ? error->message : "no sink");
            return 1;
        }
        View v;
        v.playbin = gst_element_factory_make("playbin", nullptr);
        if (!v.playbin)
            return 1;
        v.sink = gst_bin_get_by_name(GST_BIN(sinkBin), "out");
        g_object_set(v.playbin, "uri", uri, "video-sink", sinkBin, "flags", kPlayFlagVideo, nullptr);
        gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(v.sink), window);
        gst_element_set_state(v.playbin, GST_STATE_PLAYING);
        played.push_back(v);
    }
    g_free(uri);
    auto rendered = [](GstElement* sink) {
        GstStructure* stats = nullptr;
        g_object_get(sink, "stats", &stats, nullptr);
        guint64 n = 0;
        if (stats) {
            gst_structure_get_uint64(stats, "rendered", &n);
            gst_structure_free(stats);
        }
        return static_cast<long>(n);
    };
    bool ready = false;
    for (int waited = 0; waited < kStartWaitMs && !ready; waited += kPollMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        ready = std::all_of(played.begin(), played.end(), [&](const View& v) { return rendered(v.sink) > 0; });
    }
    int result = 1;
    if (ready) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWarmMs));
        std::vector<long> before;
        for (const View& v : played)
            before.push_back(rendered(v.sink));
        reportBegin();
        const double cpuBefore = processCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = processCpuSeconds() - cpuBefore;
        long frames = 0;
        double minFps = 1e9;
        for (std::size_t i = 0; i < played.size(); ++i) {
            long n = rendered(played[i].sink) - before[i];
            frames += n;
            minFps = std::min(minFps, static_cast<double>(n) / elapsed);
        }
        reportEnd(cpu, frames, minFps);
        result = 0;
    }
    for (View& v : played) {
        gst_element_set_state(v.playbin, GST_STATE_NULL);
        gst_object_unref(v.sink);
        gst_object_unref(v.playbin);
    }
    XCloseDisplay(display);
    return result;
}

// mpv, one process a view in its window of the view's size and place
// (`--vo=x11`, software decoding and scaling, no sound), each counting the
// frames it shows into a file of its own through a small Lua script.
constexpr const char* kMpvProgram = "/usr/bin/mpv";
constexpr const char* kMpvCounter =
    "local out = os.getenv('DISPLAY_BENCH_COUNT')\n"
    "mp.add_periodic_timer(0.1, function()\n"
    "  local shown = mp.get_property_number('estimated-frame-number', 0) - mp.get_property_number('frame-drop-count', 0)"
    " - mp.get_property_number('decoder-frame-drop-count', 0)\n"
    "  local f = io.open(out .. '.new', 'w')\n"
    "  if f then f:write(string.format('%d\\n', shown)) f:close() os.rename(out .. '.new', out) end\n"
    "end)\n";

long mpvShown(const std::string& countFile)
{
    std::ifstream in(countFile);
    long n = -1;
    in >> n;
    return in ? n : -1;
}

int runMpv(int views, int seconds, const std::string& file)
{
    const std::string folder = file.substr(0, file.rfind('/'));
    const std::string script = folder + "/count.lua";
    std::ofstream(script) << kMpvCounter;
    std::vector<pid_t> players;
    std::vector<std::string> counts;
    for (int i = 0; i < views; ++i) {
        const RECT tile = tileOf(i, views);
        const std::string geometry = std::to_string(ui::Width(tile)) + "x" + std::to_string(ui::Height(tile)) + "+" + std::to_string(tile.left) + "+"
            + std::to_string(tile.top);
        counts.push_back(folder + "/shown-" + std::to_string(i));
        std::remove(counts.back().c_str());
        pid_t pid = fork();
        if (pid == 0) {
            setenv("DISPLAY_BENCH_COUNT", counts.back().c_str(), 1);
            int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            const std::string geometryArg = "--geometry=" + geometry, scriptArg = "--script=" + script;
            execl(kMpvProgram, kMpvProgram, "--no-config", "--vo=x11", "--hwdec=no", "--no-audio", "--no-border", "--no-osc", "--really-quiet",
                "--no-input-terminal", "--keepaspect=no", geometryArg.c_str(), scriptArg.c_str(), file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        players.push_back(pid);
    }
    bool ready = false;
    for (int waited = 0; waited < kStartWaitMs && !ready; waited += kPollMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        ready = std::all_of(counts.begin(), counts.end(), [](const std::string& c) { return mpvShown(c) > 0; });
    }
    int result = 1;
    if (ready) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWarmMs));
        std::vector<long> before;
        double cpuBefore = processCpuSeconds();
        for (std::size_t i = 0; i < players.size(); ++i) {
            before.push_back(mpvShown(counts[i]));
            cpuBefore += cpuSecondsOf(players[i]);
        }
        reportBegin();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        double cpu = processCpuSeconds();
        long frames = 0;
        double minFps = 1e9;
        for (std::size_t i = 0; i < players.size(); ++i) {
            cpu += cpuSecondsOf(players[i]);
            long n = mpvShown(counts[i]) - before[i];
            frames += n;
            minFps = std::min(minFps, static_cast<double>(n) / elapsed);
        }
        reportEnd(cpu - cpuBefore, frames, minFps);
        result = 0;
    }
    for (pid_t pid : players) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    for (const auto& c : counts)
        std::remove(c.c_str());
    std::remove(script.c_str());
    return result;
}

// ---- the measuring process ---------------------------------------------------------------

// An Xvfb of the monitor's size on a free display, and its number.
pid_t startXvfb(int& displayNumber)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        const std::string screen = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    FILE* in = fdopen(fds[0], "r");
    if (pid < 0 || !in || std::fscanf(in, "%d", &displayNumber) != 1) {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        return -1;
    }
    std::fclose(in);
    return pid;
}

struct Measured {
    bool ok = false;
    double cpu = 0;    // the side's own seconds
    double server = 0; // the X server's over the same seconds
    long frames = 0;
    double minFps = 0;
    double msPerFrame() const { return frames > 0 ? (cpu + server) / static_cast<double>(frames) * kMsPerSecond : 0; }
};

// Runs this program as one side (`arguments` after argv[0]) and reads its report.
Measured measure(const char* self, const std::vector<std::string>& arguments, pid_t server)
{
    Measured m;
    int fds[2];
    if (pipe(fds) != 0)
        return m;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        std::vector<char*> argv { const_cast<char*>(self) };
        for (const auto& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self, argv.data());
        _exit(127);
    }
    close(fds[1]);
    FILE* in = fdopen(fds[0], "r");
    char line[256];
    double serverBefore = -1;
    while (in && std::fgets(line, sizeof line, in)) {
        if (std::strncmp(line, kBeginLine, std::strlen(kBeginLine)) == 0) {
            serverBefore = cpuSecondsOf(server);
        } else if (std::strncmp(line, kEndLine, std::strlen(kEndLine)) == 0 && serverBefore >= 0) {
            m.server = cpuSecondsOf(server) - serverBefore;
            m.ok = std::sscanf(line + std::strlen(kEndLine), "%lf %ld %lf", &m.cpu, &m.frames, &m.minFps) == 3 && m.frames > 0;
        }
    }
    if (in)
        std::fclose(in);
    int status = 0;
    waitpid(pid, &status, 0);
    m.ok = m.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

void printMeasured(const char* what, int views, const Measured& m)
{
    std::printf("%-9s %d view%s: %.2f ms a shown frame (own %.2f, X server %.2f), %ld frames, min fps %.1f\n", what, views, views == 1 ? " " : "s", m.msPerFrame(),
        m.cpu / static_cast<double>(std::max(m.frames, 1L)) * kMsPerSecond, m.server / static_cast<double>(std::max(m.frames, 1L)) * kMsPerSecond, m.frames, m.minFps);
}

int fail(const char* what)
{
    std::fprintf(stderr, "display_bench: %s\n", what);
    return 1;
}

}

int main(int argc, char** argv)
{
    // The measured sides, run by the measuring process below.
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--control") == 0)
        return runControl(std::clamp(std::atoi(argv[2]), 1, kMaxViews), std::max(1, std::atoi(argv[3])), argc == 5 ? Page::WholeScreen : Page::OfTheViews);
    if (argc == 5 && std::strcmp(argv[1], "--playbin") == 0)
        return runPlaybin(std::clamp(std::atoi(argv[2]), 1, kMaxViews), std::max(1, std::atoi(argv[3])), argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "--mpv") == 0)
        return runMpv(std::clamp(std::atoi(argv[2]), 1, kMaxViews), std::max(1, std::atoi(argv[3])), argv[4]);

    int seconds = kDefaultSeconds;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else
            return fail("usage: display_bench [--seconds N]");
    }
    if (seconds <= 0)
        return fail("--seconds needs a positive number");

    auto loop = encodeLoop();
    if (loop.empty())
        return fail("no H.264 encoder");
    char folder[] = "/tmp/display_bench.XXXXXX";
    if (!mkdtemp(folder))
        return fail("no temporary folder");
    const std::string file = std::string(folder) + "/views.ts";
    if (!writeTransportStream(loop, seconds + kFileMarginSeconds, file))
        return fail("cannot write the players' file");

    int displayNumber = 0;
    const pid_t server = startXvfb(displayNumber);
    if (server < 0)
        return fail("Xvfb did not start");
    char displayName[16];
    std::snprintf(displayName, sizeof displayName, ":%d", displayNumber);
    setenv("DISPLAY", displayName, 1);

    const std::string secondsText = std::to_string(seconds);
    std::printf("%dx%d H.264 at %d fps, %d s a side, on Xvfb %dx%d\n", kWidth, kHeight, kFps, seconds, kScreenWidth, kScreenHeight);
    const Measured controlOne = measure(argv[0], { "--control", "1", secondsText }, server);
    printMeasured("control", 1, controlOne);
    const Measured playbinOne = measure(argv[0], { "--playbin", "1", secondsText, file }, server);
    printMeasured("playbin", 1, playbinOne);
    // The same view in the corner of a page as large as the screen.
    const Measured controlOnScreen = measure(argv[0], { "--control", "1", secondsText, "--whole-screen" }, server);
    printMeasured("control", 1, controlOnScreen);
    std::printf("          (the view above on a page of the whole %dx%d screen)\n", kScreenWidth, kScreenHeight);
    const std::string eight = std::to_string(kMaxViews);
    const Measured controlEight = measure(argv[0], { "--control", eight, secondsText }, server);
    printMeasured("control", kMaxViews, controlEight);
    const Measured playbinEight = measure(argv[0], { "--playbin", eight, secondsText, file }, server);
    printMeasured("playbin", kMaxViews, playbinEight);
    // mpv where it is installed; eight playbin pipelines stand in otherwise.
    const bool haveMpv = access(kMpvProgram, X_OK) == 0;
    const Measured mpvEight = haveMpv ? measure(argv[0], { "--mpv", eight, secondsText, file }, server) : playbinEight;
    if (haveMpv)
        printMeasured("mpv", kMaxViews, mpvEight);
    else
        std::printf("          (no %s: apt-get install mpv; eight views are set against playbin)\n", kMpvProgram);

    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::remove(file.c_str());
    rmdir(folder);
    if (!controlOne.ok || !playbinOne.ok || !controlEight.ok || !playbinEight.ok || !mpvEight.ok)
        return fail("a side did not run to its end");
    const double r1 = controlOne.msPerFrame() / playbinOne.msPerFrame();
    const double r8 = controlEight.msPerFrame() / mpvEight.msPerFrame();
    std::printf("display one %.2f of playbin, eight %.2f of %s, min fps %.1f\n", r1, r8, haveMpv ? "mpv" : "playbin",
        std::min(controlOne.minFps, controlEight.minFps));
    return 0;
}
