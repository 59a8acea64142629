// tiravex-soak: four live views with sound, talk and recording, each logged
// in to its own simulated camera, for MINUTES minutes while the cameras
// misbehave in turn (the link dropped, the picture's size and coding
// changed, the video stalled, CGI left unanswered); a view whose link was
// dropped is logged in and started again, as a recording page would. Once a minute it prints
// the process's resident memory, threads and open files; at the end it
// stops the recordings and lists them, one "recording PATH" line each, for
// scripts/soak.sh to check.
//
//   tiravex-soak --minutes N --out DIR

#include "ControlPage.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::CallByName;
using testing_support::Num;
using testing_support::Str;

constexpr int kViews = 4;
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 960;
constexpr int kViewWidth = kScreenWidth / 2;
constexpr int kViewHeight = kScreenHeight / 2;
constexpr int kFaultEverySeconds = 15;
constexpr int kCgiEverySeconds = 5;
constexpr int kStallMs = 3000;
constexpr int kSilentChecks = 2; // CGI rounds without a new frame before a view is started again
constexpr int kCgiSilenceMs = 8000;
constexpr int kSecondsPerMinute = 60;
constexpr DWORD kSliceMs = 1000;
// The cameras' sound codings in turn: PCM, G.726, IMA ADPCM.
constexpr int kAudioCodings[] = { kz::kAudioPcm, kz::kAudioG726, kz::kAudioAdpcm };
// The sizes a camera switches between, and the codings.
constexpr sim::VideoSettings kVideos[] = {
    { sim::Codec::H264, 640, 480, 25, 25 },
    { sim::Codec::H264, 320, 240, 25, 25 },
    { sim::Codec::Mjpeg, 640, 480, 15, 1 },
};

int fail(const char* why)
{
    std::fprintf(stderr, "tiravex-soak: %s\n", why);
    return 1;
}

long statusField(const char* name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(name);
    while (std::getline(status, line))
        if (line.compare(0, length, name) == 0)
            return std::atol(line.c_str() + length);
    return -1;
}

// Bytes the allocator has handed out and not had back: what grows with a
// leak, where the resident size also holds memory freed but kept for reuse.
long heapInUseKb()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

long countEntries(const char* folder)
{
    long n = 0;
    std::error_code error;
    for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error))
        ++n;
    return n;
}

HRESULT putText(control::CTiravexCtrl* c, const char* name, const std::string& value)
{
    std::u16string wide = com::MultiByteToWide(name, com::kCodePageUtf8);
    LPOLESTR names[] = { wide.data() };
    DISPID id = 0;
    HRESULT hr = c->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    VARIANT v = Str(value);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params { &v, &put, 1, 1 };
    hr = c->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    VariantClear(&v);
    return hr;
}

}

int main(int argc, char** argv)
{
    int minutes = 0;
    std::string out;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--minutes") == 0)
            minutes = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
    }
    if (minutes <= 0 || out.empty() || out[0] != '/')
        return fail("usage: tiravex-soak --minutes N --out ABSOLUTE-DIR");
    fs::create_directories(out + "/settings");
    fs::create_directories(out + "/records");
    setenv("TIRAVEX_SETTINGS_DIR", (out + "/settings").c_str(), 1);
    setenv("TIRAVEX_AUDIO_IN", "tone:1000", 1);

    std::vector<std::unique_ptr<sim::Camera>> cameras;
    for (int i = 0; i < kViews; ++i) {
        sim::CameraConfig config;
        config.video = kVideos[0];
        config.audio = kAudioCodings[i % std::size(kAudioCodings)];
        config.searchPort = -1;
        auto camera = sim::Camera::Start(config);
        if (!camera)
            return fail("a camera did not start");
        cameras.push_back(std::move(camera));
    }

    auto page = std::make_unique<bench::ControlPage>("SoakPage", kScreenWidth, kScreenHeight);

    std::vector<control::CTiravexCtrl*> controls;
    // Login, live view, sound, talk and recording, as the page starts them
    // (and starts them again after the camera dropped the link).
    auto connect = [&](int i) {
        auto* c = controls[static_cast<std::size_t>(i)];
        const sim::Camera& cam = *cameras[static_cast<std::size_t>(i)];
        if (!bench::LogInAndOpen(c, cam))
            return false;
        CallByName(c, "OpenAudio", {});
        CallByName(c, "OpenTalk", {});
        CallByName(c, "Record", { Num(1), Str("") });
        return true;
    };
    for (int i = 0; i < kViews; ++i) {
        LONG x = (i % 2) * kViewWidth, y = (i / 2) * kViewHeight;
        auto* c = page->AddControl(i, RECT { x, y, x + kViewWidth, y + kViewHeight });
        controls.push_back(c);
        if (i == 0)
            putText(c, "RecordPath", out + "/records");
        if (!connect(i))
            return fail("a login failed");
    }

    std::printf("minute 0: rss %ld kB, heap in use %ld kB, threads %ld, open files %ld\n", statusField("VmRSS:"), heapInUseKb(), statusField("Threads:"), countEntries("/proc/self/fd"));
    std::fflush(stdout);
    const auto start = Clock::now();
    int faults = 0, cgiAnswers = 0, cgiAsked = 0, rearmed = 0;
    std::vector<int> lastShown(kViews, 0), silentChecks(kViews, 0);
    for (int second = 1; second <= minutes * kSecondsPerMinute; ++second) {
        ui::RunUntil([&] { return Clock::now() - start >= std::chrono::seconds(second); }, kSliceMs * 2);
        if (second % kFaultEverySeconds == 0) {
            sim::Camera& cam = *cameras[static_cast<std::size_t>(faults % kViews)];
            switch (faults / kViews % 4) {
            case 0: cam.DropLink(); break;
            case 1: cam.SetVideo(kVideos[static_cast<std::size_t>(faults / kViews / 4 % std::size(kVideos))]); break;
            case 2: cam.StallVideo(kStallMs); break;
            case 3: cam.DelayCgi(kCgiSilenceMs); break;
            }
            ++faults;
        }
        if (second % kCgiEverySeconds == 0) {
            auto* c = controls[static_cast<std::size_t>(second / kCgiEverySeconds % kViews)];
            VARIANT result;
            VariantInit(&result);
            ++cgiAsked;
            if (SUCCEEDED(CallByName(c, "GetCGIResult", { Str(std::string(kz::cgi::kCommandParam) + "=" + kz::cgi::kGetDevInfo), Num(0) }, &result)) && result.vt == VT_BSTR && result.bstrVal && result.bstrVal[0])
                ++cgiAnswers;
            VariantClear(&result);
            for (auto& cam : cameras)
                cam->DelayCgi(0);
            // A view without a new frame for two checks (the camera dropped
            // the link) is closed, logged in and started again, as a page
            // does when the control reports the stall.
            for (int i = 0; i < kViews; ++i) {
                const std::size_t n = static_cast<std::size_t>(i);
                const int shown = controls[n]->Live().DrawnFrames();
                silentChecks[n] = shown == lastShown[n] ? silentChecks[n] + 1 : 0;
                lastShown[n] = shown;
                if (silentChecks[n] < kSilentChecks)
                    continue;
                CallByName(controls[n], "Record", { Num(0), Str("") });
                CallByName(controls[n], "Close", {});
                if (connect(i))
                    ++rearmed;
                silentChecks[n] = 0;
            }
        }
        if (second % kSecondsPerMinute == 0) {
            std::printf("minute %d: rss %ld kB, heap in use %ld kB, threads %ld, open files %ld, faults %d, CGI answered %d of %d, views started again %d\n",
                second / kSecondsPerMinute, statusField("VmRSS:"), heapInUseKb(), statusField("Threads:"), countEntries("/proc/self/fd"), faults, cgiAnswers, cgiAsked, rearmed);
            for (int i = 0; i < kViews; ++i) {
                const CPlayBase& live = controls[static_cast<std::size_t>(i)]->Live();
                std::printf("  view %d: frames shown %d, %s\n", i, live.DrawnFrames(), live.RecordFileName().empty() ? "not recording" : "recording");
            }
            std::fflush(stdout);
        }
    }

    for (auto* c : controls) {
        CallByName(c, "Record", { Num(0), Str("") });
        CallByName(c, "CloseTalk", {});
        CallByName(c, "CloseAudio", {});
        CallByName(c, "Close", {});
    }
    for (auto* c : controls)
        c->Release();
    controls.clear();
    page.reset();
    std::printf("after close: threads %ld, open files %ld\n", statusField("Threads:"), countEntries("/proc/self/fd"));
    for (const auto& entry : fs::recursive_directory_iterator(out + "/records"))
        if (entry.is_regular_file() && entry.path().extension() == ".avi")
            std::printf("recording %s\n", entry.path().c_str());
    return 0;
}
