// Frames per second that the network library delivers to the frame callback
// for a pre-encoded 1080p H.264 stream from the simulated camera, against a
// plain loopback socket copy of the same bytes in the same run. Prints both
// rates and their ratio.
//
//   tiravex-bench-kznet [seconds per measurement, default 2]

#include "kznet/kznet.h"
#include "sim/Camera.h"
#include "sim/VideoEncoder.h"
#include "support/Loopback.h"

#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kKeyInterval = 30;
constexpr int kFrames = 90;
constexpr int kWarmupFrames = 30;
constexpr int kRounds = 3;

struct Counter {
    std::atomic<long> frames { 0 };
    std::atomic<long> bytes { 0 };
};

int onFrame(int kind, FrameRecord* frame, void* user, int)
{
    auto* c = static_cast<Counter*>(user);
    if (kind == kz::kFrameH264) {
        c->bytes += frame->size;
        ++c->frames;
    }
    return 0;
}

int onStatus(int, int*, void*, int) { return 0; }

double measureLibrary(const std::vector<sim::EncodedFrame>& frames, double seconds)
{
    auto camera = sim::Camera::Start({});
    if (!camera)
        return 0;
    camera->SetPreEncoded(frames, sim::Codec::H264, kWidth, kHeight, kFps);
    Counter counter;
    LoginInfo login {};
    std::strcpy(login.ip, "127.0.0.1");
    login.port = camera->Port();
    std::strcpy(login.username, "admin");
    KzHandle stream = kz_open_device(kz::kConnectMedia, "", &login, 0, 1025 | kz::kTagNoReopen, kz::kOpenDeviceConstant, &onStatus, &onFrame, &counter, 0);
    while (counter.frames < kWarmupFrames)
        std::this_thread::yield();
    long startFrames = counter.frames;
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); // measurement window, not synchronisation
    long got = counter.frames - startFrames;
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    kz_close_device(stream);
    return got / elapsed;
}

double measurePlainSocket(const std::vector<sim::EncodedFrame>& frames, double seconds)
{
    auto [listener, port] = testing_support::BindLoopback();
    if (listener < 0)
        return 0;

    std::atomic<bool> stop { false };
    std::thread writer([&] {
        int fd = ::accept(listener, nullptr, nullptr);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (std::size_t i = 0; !stop; ++i) {
            const auto& f = frames[i % frames.size()];
            std::uint32_t length = static_cast<std::uint32_t>(f.data.size());
            std::vector<std::uint8_t> message(4 + f.data.size());
            std::memcpy(message.data(), &length, 4);
            std::memcpy(message.data() + 4, f.data.data(), f.data.size());
            if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size()))
                break;
        }
        ::close(fd);
    });
    int fd = testing_support::ConnectLoopback(port);
    std::vector<std::uint8_t> buffer;
    Counter counter;
    auto readFrame = [&] {
        std::uint32_t length = 0;
        if (::recv(fd, &length, 4, MSG_WAITALL) != 4)
            return false;
        buffer.resize(length);
        if (::recv(fd, buffer.data(), length, MSG_WAITALL) != static_cast<ssize_t>(length))
            return false;
        counter.bytes += length;
        ++counter.frames;
        return true;
    };
    for (int i = 0; i < kWarmupFrames; ++i)
        readFrame();
    long startFrames = counter.frames;
    auto start = Clock::now();
    auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end && readFrame()) { }
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    long got = counter.frames - startFrames;
    stop = true;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    writer.join();
    ::close(listener);
    return got / elapsed;
}

}

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (seconds <= 0)
        seconds = 2.0;
    auto encoder = sim::VideoEncoder::Create({ sim::Codec::H264, kWidth, kHeight, kFps, kKeyInterval });
    if (!encoder) {
        std::fprintf(stderr, "cannot open the H.264 encoder\n");
        return 1;
    }
    std::vector<sim::EncodedFrame> frames(kFrames);
    std::size_t total = 0;
    for (int i = 0; i < kFrames; ++i) {
        encoder->Encode(static_cast<std::uint32_t>(i), frames[i]);
        total += frames[i].data.size();
    }
    std::printf("stream: %d frames of %dx%d H.264, %.1f KiB per frame on average\n", kFrames, kWidth, kHeight, total / 1024.0 / kFrames);
    // Alternating rounds; the median of each side is reported.
    std::vector<double> library, plain, ratios;
    for (int round = 0; round < kRounds; ++round) {
        library.push_back(measureLibrary(frames, seconds));
        plain.push_back(measurePlainSocket(frames, seconds));
        ratios.push_back(plain.back() > 0 ? library.back() / plain.back() : 0.0);
        std::printf("round %d: library %.0f frames/s, plain socket %.0f frames/s, ratio %.2f\n", round + 1, library.back(), plain.back(), ratios.back());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("network library, frames delivered to the frame callback: %.0f frames/s (median)\n", median(library));
    std::printf("plain loopback socket copy of the same bytes:           %.0f frames/s (median)\n", median(plain));
    std::printf("ratio (library / plain socket): %.2f (median of the rounds)\n", median(ratios));
    return 0;
}
