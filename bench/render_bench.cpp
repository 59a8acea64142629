// render_bench: what one 1920 x 1080 frame costs on its way to the screen,
// step by step as the windows run it, each as a ratio to memcpy of the
// bytes that step writes, measured in the same run:
//   YV12 into the back surface (CopyI420, then the converting BltFast);
//   the stretch of the back surface into the screen-sized composition
//   surface (1920 x 1080 and the 1280 x 960 default back surface);
//   the present of the composition surface to a 1280 x 720 window.
// Ratios, not times, are the result: they hold across machines. Build with
// CMAKE_BUILD_TYPE=Release for meaningful figures, and run with
// --benchmark_repetitions=8 --benchmark_enable_random_interleaving=true on a
// shared machine (the best repetition of each counts).

#include "view/CPlayView.h"

#include "ui/Monitor.h"
#include "ui/Window.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kFrameWidth = 1920;
constexpr int kFrameHeight = 1080;
constexpr int kDefaultBackWidth = 1280;
constexpr int kDefaultBackHeight = 960;
constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;
constexpr std::size_t kBytesPerPixel = 4;

struct Rig {
    Rig()
    {
        ui::SetMonitorSizes({ SIZE { kFrameWidth, kFrameHeight } });
        window = ui::CreateWindowEx(0, "static", "ALIVE", WS_POPUP | WS_VISIBLE, 0, 0, kWindowWidth, kWindowHeight, nullptr);
        view.Create(window, kFrameWidth, kFrameHeight);
        view.AttachClipper(window);
        yuv = view.CreateYuvSurface(kFrameWidth, kFrameHeight);
        back = view.CreateSurface(kFrameWidth, kFrameHeight);
        smallBack = view.CreateSurface(kDefaultBackWidth, kDefaultBackHeight);
        picture.resize(static_cast<std::size_t>(kFrameWidth) * kFrameHeight * 3 / 2);
        for (std::size_t i = 0; i < picture.size(); ++i)
            picture[i] = static_cast<BYTE>(i * 7);
    }
    HWND window = nullptr;
    CPlayView view;
    gfx::Surface* yuv = nullptr;
    gfx::Surface* back = nullptr;
    gfx::Surface* smallBack = nullptr;
    std::vector<BYTE> picture;
};

Rig& rig()
{
    static Rig* r = new Rig;
    return *r;
}

void Memcpy(benchmark::State& state)
{
    const std::size_t bytes = static_cast<std::size_t>(state.range(0));
    std::vector<char> from(bytes, 1);
    std::vector<char> to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void Yv12IntoBack(benchmark::State& state)
{
    Rig& r = rig();
    for (auto _ : state)
        r.view.DrawYuvFrame(r.yuv, r.back, r.picture.data(), kFrameWidth, kFrameHeight);
    if (r.view.lastResult != gfx::DD_OK)
        state.SkipWithError("the YV12 path failed");
}

void StretchIntoComposition(benchmark::State& state)
{
    Rig& r = rig();
    gfx::Surface* back = state.range(0) == kFrameWidth ? r.back : r.smallBack;
    const RECT source { 0, 0, back->Width(), back->Height() };
    for (auto _ : state)
        r.view.Compose(back, source, nullptr);
}

void PresentToWindow(benchmark::State& state)
{
    Rig& r = rig();
    for (auto _ : state)
        r.view.Present(r.window, false);
    if (r.view.lastResult != gfx::DD_OK)
        state.SkipWithError("the present failed");
}

constexpr std::int64_t kFrameBytes = static_cast<std::int64_t>(kFrameWidth) * kFrameHeight * kBytesPerPixel;
constexpr std::int64_t kWindowBytes = static_cast<std::int64_t>(kWindowWidth) * kWindowHeight * kBytesPerPixel;

BENCHMARK(Memcpy)->Arg(kFrameBytes)->Arg(kWindowBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(Yv12IntoBack)->Unit(benchmark::kMillisecond);
BENCHMARK(StretchIntoComposition)->Arg(kFrameWidth)->Arg(kDefaultBackWidth)->Unit(benchmark::kMillisecond);
BENCHMARK(PresentToWindow)->Unit(benchmark::kMillisecond);

// Prints the usual table, then each step's ratio to memcpy of the bytes it writes.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions the best repetition counts: the
        // machine is shared, and other work only ever adds time.
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            auto [it, added] = m_ms.emplace(run.benchmark_name(), run.GetAdjustedRealTime());
            if (!added)
                it->second = std::min(it->second, run.GetAdjustedRealTime());
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double frameCopy = m_ms["Memcpy/" + std::to_string(kFrameBytes)];
        const double windowCopy = m_ms["Memcpy/" + std::to_string(kWindowBytes)];
        auto line = [](const char* what, double ms, double copy) {
            std::printf("%-58s %7.3f ms  %5.2fx memcpy\n", what, ms, copy > 0 ? ms / copy : 0.0);
        };
        std::printf("\nPer frame, as a ratio to memcpy of the bytes written (same run):\n");
        line("memcpy of one 1920 x 1080 XRGB frame (8.3 MB)", frameCopy, frameCopy);
        line("YV12 1920 x 1080 into the back surface", m_ms["Yv12IntoBack"], frameCopy);
        line("stretch 1920 x 1080 back into the composition surface", m_ms["StretchIntoComposition/" + std::to_string(kFrameWidth)], frameCopy);
        line("stretch 1280 x 960 back into the composition surface", m_ms["StretchIntoComposition/" + std::to_string(kDefaultBackWidth)], frameCopy);
        line("present to a 1280 x 720 window (vs memcpy of 3.7 MB)", m_ms["PresentToWindow"], windowCopy);
    }

private:
    std::map<std::string, double> m_ms;
};

}

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
