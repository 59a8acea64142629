// The audio library's devices and its two back ends, chosen by
// TIRAVEX_AUDIO when a device is made:
//   file (the default): played sound is appended to the WAV file named by
//     TIRAVEX_AUDIO_OUT (discarded when unset); capture reads the WAV file
//     or tone named by TIRAVEX_AUDIO_IN ("tone:FREQ", default "tone:1000";
//     a file is looped) and delivers blocks at real-time pace.
//   sdl: the speakers and the microphone through SDL2.
//   relay: played sound goes to the host's play listener, capture takes
//     the PCM the host pushes (kzaudio.h).

#include "kzaudio/kzaudio.h"

#include "kzaudio/Wav.h"

#include "sys/CrashHandler.h"

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kzaudio {

namespace {

constexpr int kDefaultToneHz = 1000;
constexpr double kToneAmplitude = 8000.0;
constexpr int kAlertHz = 880;
constexpr int kAlertToneMs = 150;
constexpr int kAlertGapMs = 50;
constexpr int kMsPerSecond = 1000;
constexpr int kSdlBufferSamples = 512;
constexpr double kPi = 3.14159265358979323846;

std::string env(const char* name, const char* fallback = "")
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

enum class BackEnd { File, Sdl, Relay };

BackEnd backEnd()
{
    std::string name = env("TIRAVEX_AUDIO", "file");
    return name == "sdl" ? BackEnd::Sdl : name == "relay" ? BackEnd::Relay : BackEnd::File;
}

std::vector<std::int16_t> alertSound()
{
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(kSampleRate * (kAlertToneMs + kAlertGapMs) / kMsPerSecond), 0);
    std::size_t tone = static_cast<std::size_t>(kSampleRate * kAlertToneMs / kMsPerSecond);
    for (std::size_t i = 0; i < tone; ++i)
        pcm[i] = static_cast<std::int16_t>(kToneAmplitude * std::sin(2 * kPi * kAlertHz * static_cast<double>(i) / kSampleRate));
    return pcm;
}

// One WAV file per path, shared by every play device that writes there.
class FileSink {
public:
    static std::shared_ptr<FileSink> For(const std::string& path)
    {
        static std::mutex mutex;
        static std::map<std::string, std::weak_ptr<FileSink>> sinks;
        std::lock_guard lock(mutex);
        if (auto existing = sinks[path].lock())
            return existing;
        auto sink = std::make_shared<FileSink>();
        if (!sink->m_writer.Open(path, kSampleRate, kChannels)) {
            std::fprintf(stderr, "kzaudio: cannot write %s\n", path.c_str());
            return nullptr;
        }
        sinks[path] = sink;
        return sink;
    }
    void Write(const void* pcm, std::size_t bytes)
    {
        std::lock_guard lock(m_mutex);
        m_writer.Write(pcm, bytes);
    }

private:
    std::mutex m_mutex;
    WavWriter m_writer;
};

struct PlayDevice {
    virtual ~PlayDevice() = default;
    virtual bool Open(int bufferBytes) = 0;
    virtual void Write(const void* pcm, std::size_t bytes) = 0;
    void Alert()
    {
        static const std::vector<std::int16_t> sound = alertSound();
        Write(sound.data(), sound.size() * sizeof(std::int16_t));
    }
};

struct FilePlay final : PlayDevice {
    std::shared_ptr<FileSink> sink;
    FilePlay()
    {
        std::string path = env("TIRAVEX_AUDIO_OUT");
        if (!path.empty())
            sink = FileSink::For(path);
    }
    bool Open(int) override { return true; }
    void Write(const void* pcm, std::size_t bytes) override
    {
        if (sink)
            sink->Write(pcm, bytes);
    }
};

bool sdlAudioReady()
{
    static bool ready = [] {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            std::fprintf(stderr, "kzaudio: no SDL audio: %s\n", SDL_GetError());
            return false;
        }
        return true;
    }();
    return ready;
}

SDL_AudioSpec wantedSpec()
{
    SDL_AudioSpec spec {};
    spec.freq = kSampleRate;
    spec.format = AUDIO_S16SYS;
    spec.channels = kChannels;
    spec.samples = kSdlBufferSamples;
    return spec;
}

struct SdlPlay final : PlayDevice {
    SDL_AudioDeviceID device = 0;
    ~SdlPlay() override
    {
        if (device)
            SDL_CloseAudioDevice(device);
    }
    bool Open(int) override
    {
        if (!sdlAudioReady())
            return false;
        SDL_AudioSpec want = wantedSpec(), have {};
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (!device)
            return false;
        SDL_PauseAudioDevice(device, 0);
        return true;
    }
    void Write(const void* pcm, std::size_t bytes) override
    {
        if (!device && !Open(0))
            return;
        SDL_QueueAudio(device, pcm, static_cast<Uint32>(bytes));
    }
};

// A capture device: delivers blocks of the set size to its callback.
struct CaptureDevice {
    KzRecDataCallback callback = nullptr;
    void* user = nullptr;
    std::atomic<int> blockBytes { kCaptureBlockBytes };
    std::atomic<bool> delivering { false };
    virtual ~CaptureDevice() = default;
    virtual bool Open() = 0;
    virtual void Restart() { delivering = true; }
    virtual void Stop() { delivering = false; }
    void deliver(int event, const std::int16_t* samples, int bytes)
    {
        if (callback)
            callback(event, samples, bytes, user);
    }
};

// Reads a tone or a WAV file at real-time pace on a thread of its own.
struct FileCapture final : CaptureDevice {
    std::vector<std::int16_t> source;
    std::size_t position = 0;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool quit = false;
    bool failed = false;

    ~FileCapture() override
    {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        wake.notify_all();
        if (thread.joinable())
            thread.join();
    }
    bool Open() override
    {
        std::string input = env("TIRAVEX_AUDIO_IN", "tone:1000");
        if (input.rfind("tone:", 0) == 0) {
            int hz = std::atoi(input.c_str() + 5);
            if (hz <= 0 || hz >= kSampleRate / 2)
                hz = kDefaultToneHz;
            // Whole periods, so the loop is seamless.
            int period = kSampleRate / std::gcd(hz, kSampleRate);
            source.resize(static_cast<std::size_t>(period));
            for (std::size_t i = 0; i < source.size(); ++i)
                source[i] = static_cast<std::int16_t>(kToneAmplitude * std::sin(2 * kPi * hz * static_cast<double>(i) / kSampleRate));
        } else {
            std::string error;
            if (!ReadWav(input, source, error) || source.empty()) {
                std::fprintf(stderr, "kzaudio: %s\n", error.empty() ? "empty capture file" : error.c_str());
                failed = true;
            }
        }
        thread = std::thread([this] {
            sys::PrepareThreadForCrash();
            run();
        });
        return true;
    }
    void Restart() override
    {
        CaptureDevice::Restart();
        wake.notify_all();
    }
    void run()
    {
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now();
        std::vector<std::int16_t> block;
        for (;;) {
            std::unique_lock lock(mutex);
            if (!delivering && !quit) {
                wake.wait(lock, [this] { return quit || delivering.load(); });
                next = Clock::now();
            }
            if (quit)
                return;
            if (failed) {
                delivering = false;
                lock.unlock();
                deliver(kEventStopped, nullptr, 0);
                continue;
            }
            int bytes = blockBytes.load();
            std::size_t samples = static_cast<std::size_t>(bytes) / 2;
            // Real-time pace: a block of n samples lasts n / 8000 s.
            next += std::chrono::microseconds(static_cast<long long>(samples) * 1000000 / kSampleRate);
            if (wake.wait_until(lock, next, [this] { return quit; }))
                return;
            if (!delivering)
                continue;
            lock.unlock();
            block.resize(samples);
            for (auto& s : block) {
                s = source[position];
                position = (position + 1) % source.size();
            }
            deliver(kEventData, block.data(), bytes);
        }
    }
};

struct SdlCapture final : CaptureDevice {
    SDL_AudioDeviceID device = 0;
    std::vector<std::int16_t> pending;
    std::mutex mutex;
    ~SdlCapture() override
    {
        if (device)
            SDL_CloseAudioDevice(device);
    }
    static void onAudio(void* self, Uint8* stream, int length)
    {
        sys::PrepareThreadForCrash(); // SDL's audio thread: once, on its first block
        auto* c = static_cast<SdlCapture*>(self);
        if (!c->delivering)
            return;
        std::lock_guard lock(c->mutex);
        auto* samples = reinterpret_cast<std::int16_t*>(stream);
        c->pending.insert(c->pending.end(), samples, samples + length / 2);
        std::size_t block = static_cast<std::size_t>(c->blockBytes.load()) / 2;
        while (c->pending.size() >= block) {
            c->deliver(kEventData, c->pending.data(), static_cast<int>(block * 2));
            c->pending.erase(c->pending.begin(), c->pending.begin() + static_cast<long>(block));
        }
    }
    bool Open() override
    {
        if (!sdlAudioReady())
            return false;
        SDL_AudioSpec want = wantedSpec(), have {};
        want.callback = &SdlCapture::onAudio;
        want.userdata = this;
        device = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
        if (!device) {
            std::fprintf(stderr, "kzaudio: no microphone: %s\n", SDL_GetError());
            return false;
        }
        SDL_PauseAudioDevice(device, 0);
        return true;
    }
};

// The relay's play listener, and the numbers of its play devices.
std::mutex g_relayMutex;
PlayListener g_playListener; // guarded by g_relayMutex
int g_lastRelayDevice = 0; // guarded by g_relayMutex
std::function<void(bool)> g_captureListener; // guarded by g_relayMutex
int g_relayCapturing = 0; // guarded by g_relayMutex: relay capture devices delivering

// A relay capture device started (+1) or stopped (-1) delivering.
void relayCapturing(int change)
{
    std::function<void(bool)> listener;
    bool on = false;
    {
        std::lock_guard lock(g_relayMutex);
        const bool before = g_relayCapturing > 0;
        g_relayCapturing = std::max(0, g_relayCapturing + change);
        on = g_relayCapturing > 0;
        if (on == before)
            return;
        listener = g_captureListener;
    }
    if (listener)
        listener(on);
}

struct RelayPlay final : PlayDevice {
    int number = 0;
    RelayPlay()
    {
        std::lock_guard lock(g_relayMutex);
        number = ++g_lastRelayDevice;
    }
    bool Open(int) override { return true; }
    void Write(const void* pcm, std::size_t bytes) override
    {
        PlayListener listener;
        {
            std::lock_guard lock(g_relayMutex);
            listener = g_playListener;
        }
        if (listener)
            listener(number, static_cast<const std::int16_t*>(pcm), bytes / sizeof(std::int16_t));
    }
};

// Cuts the pushed PCM into blocks while it delivers.
struct RelayCapture final : CaptureDevice {
    std::mutex mutex;
    std::vector<std::int16_t> pending; // guarded by mutex
    ~RelayCapture() override
    {
        if (delivering)
            relayCapturing(-1);
    }
    bool Open() override { return true; }
    void Restart() override
    {
        if (!delivering.exchange(true))
            relayCapturing(+1);
    }
    void Stop() override
    {
        if (delivering.exchange(false))
            relayCapturing(-1);
        std::lock_guard lock(mutex);
        pending.clear();
    }
    void Push(const std::int16_t* samples, std::size_t count)
    {
        if (!delivering)
            return;
        std::lock_guard lock(mutex);
        pending.insert(pending.end(), samples, samples + count);
        const std::size_t block = static_cast<std::size_t>(blockBytes.load()) / sizeof(std::int16_t);
        std::size_t used = 0;
        while (block && pending.size() - used >= block && delivering) {
            deliver(kEventData, pending.data() + used, static_cast<int>(block * sizeof(std::int16_t)));
            used += block;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
    }
};

// Handles are the device objects; only live ones of the right kind are
// accepted. A call holds its device alive, so a close on another thread
// never frees a device under a call.
std::mutex g_devicesMutex;

template<typename T>
std::map<void*, std::shared_ptr<T>>& devicesOf()
{
    static std::map<void*, std::shared_ptr<T>> devices;
    return devices;
}

template<typename T>
std::shared_ptr<T> find(void* handle)
{
    std::lock_guard lock(g_devicesMutex);
    auto& devices = devicesOf<T>();
    auto it = devices.find(handle);
    return it == devices.end() ? nullptr : it->second;
}

template<typename T>
void* keep(T* device)
{
    std::lock_guard lock(g_devicesMutex);
    devicesOf<T>()[device] = std::shared_ptr<T>(device);
    return device;
}

// Forgets the handle; the device goes when the last call holding it ends.
template<typename T>
bool forget(void* handle)
{
    std::shared_ptr<T> last;
    {
        std::lock_guard lock(g_devicesMutex);
        auto& devices = devicesOf<T>();
        auto it = devices.find(handle);
        if (it == devices.end())
            return false;
        last = std::move(it->second);
        devices.erase(it);
    }
    return true; // `last` is released here, outside the registry's lock
}

}

}

using namespace kzaudio;

extern "C" {

KzAudioHandle CreatePlayDev()
{
    switch (backEnd()) {
    case BackEnd::Sdl: return keep(static_cast<PlayDevice*>(new SdlPlay));
    case BackEnd::Relay: return keep(static_cast<PlayDevice*>(new RelayPlay));
    case BackEnd::File: break;
    }
    return keep(static_cast<PlayDevice*>(new FilePlay));
}

int SetPlayParam(KzAudioHandle play, int parameter, const std::int32_t* value)
{
    return find<PlayDevice>(play) && parameter == kParamBufferSize && value && *value > 0 ? 0 : -1;
}

int OpenPlayDev(KzAudioHandle play)
{
    auto d = find<PlayDevice>(play);
    return d && d->Open(kPlayBufferBytes) ? 0 : -1;
}

int WriteData(KzAudioHandle play, const void* pcm, int size)
{
    auto d = find<PlayDevice>(play);
    if (!d || !pcm || size <= 0)
        return -1;
    d->Write(pcm, static_cast<std::size_t>(size));
    return 0;
}

int playAudio(KzAudioHandle play)
{
    auto d = find<PlayDevice>(play);
    if (!d)
        return -1;
    d->Alert();
    return 0;
}

int ClosePlayDev(KzAudioHandle play)
{
    return forget<PlayDevice>(play) ? 0 : -1;
}

KzAudioHandle CreateRecDev()
{
    switch (backEnd()) {
    case BackEnd::Sdl: return keep(static_cast<CaptureDevice*>(new SdlCapture));
    case BackEnd::Relay: return keep(static_cast<CaptureDevice*>(new RelayCapture));
    case BackEnd::File: break;
    }
    return keep(static_cast<CaptureDevice*>(new FileCapture));
}

int SetRecDataCallback(KzAudioHandle capture, KzRecDataCallback callback, void* user)
{
    auto d = find<CaptureDevice>(capture);
    if (!d)
        return -1;
    d->callback = callback;
    d->user = user;
    return 0;
}

int SetRecParam(KzAudioHandle capture, int parameter, const std::int32_t* value)
{
    auto d = find<CaptureDevice>(capture);
    if (!d || parameter != kParamBufferSize || !value || *value <= 0 || (*value & 1))
        return -1;
    d->blockBytes = *value;
    return 0;
}

int OpenRecDev(KzAudioHandle capture)
{
    auto d = find<CaptureDevice>(capture);
    return d && d->Open() ? 0 : -1;
}

int RestartRecDev(KzAudioHandle capture)
{
    auto d = find<CaptureDevice>(capture);
    if (!d)
        return -1;
    d->Restart();
    return 0;
}

int StopRecDev(KzAudioHandle capture)
{
    auto d = find<CaptureDevice>(capture);
    if (!d)
        return -1;
    d->Stop();
    return 0;
}

int CloseRecDev(KzAudioHandle capture)
{
    return forget<CaptureDevice>(capture) ? 0 : -1;
}

}

namespace kzaudio {

void SetPlayListener(PlayListener listener)
{
    std::lock_guard lock(g_relayMutex);
    g_playListener = std::move(listener);
}

void SetCaptureListener(std::function<void(bool)> listener)
{
    std::lock_guard lock(g_relayMutex);
    g_captureListener = std::move(listener);
}

void PushCapture(const std::int16_t* samples, std::size_t count)
{
    if (!samples || !count)
        return;
    std::vector<std::shared_ptr<CaptureDevice>> devices;
    {
        std::lock_guard lock(g_devicesMutex);
        for (auto& [handle, device] : devicesOf<CaptureDevice>())
            devices.push_back(device);
    }
    for (auto& device : devices)
        if (auto* relay = dynamic_cast<RelayCapture*>(device.get()))
            relay->Push(samples, count);
}

}
