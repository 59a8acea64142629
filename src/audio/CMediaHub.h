#pragma once
// The media hub that the control owns once and shares with its four
// players: the play and capture devices, the talk list, the shared
// renderer, the active window, the display language and the watchdog
// thread "DogThread".
//
// Threads: HubStart and HubStop on the page's thread; the talk list under
// m_talkLock from the page's, the network library's and the capture
// threads; the play device and the active window under m_audioLock.

#include "kzaudio/kzaudio.h"
#include "kznet/kznet.h"
#include "sys/Lock.h"
#include "sys/Thread.h"
#include "ui/Window.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CPlayView;
namespace control {
class CTiravexCtrl;
}

// The active window while the hub shuts down.
constexpr std::int32_t kActiveWindowShutdown = 65436;
// Language bases of the string table.
constexpr std::int32_t kLanguageSimplifiedChinese = 0;
constexpr std::int32_t kLanguageTraditionalChinese = 100;
constexpr std::int32_t kLanguageEnglish = 200;
// The watchdog's tick.
constexpr DWORD kWatchdogTickMs = 25;
// Bytes of one coded voice block at most.
constexpr std::size_t kTalkBufferBytes = 960;

class CMediaHub {
public:
    CMediaHub();
    ~CMediaHub();
    CMediaHub(const CMediaHub&) = delete;
    CMediaHub& operator=(const CMediaHub&) = delete;

    // The control's window and the screen size the renderer is made for.
    // Makes the view on first use.
    void AttachControlWindow(HWND controlWindow, int width, int height);
    HWND GetControlWindow() const { return m_controlWindow; }
    int GetScreenWidth() const { return m_screenWidth; }
    int GetScreenHeight() const { return m_screenHeight; }

    // Opens the audio devices and starts the watchdog; small blocks for
    // cameras whose device kind is 100 or more.
    void HubStart(control::CTiravexCtrl* control, bool smallBlocks);
    void HubStop();
    bool IsStarted() const { return m_watchdog != nullptr; }

    // Writes PCM to the play device while the control is the selected one.
    void PlayAudioPcm(const void* pcm, std::size_t size);

    std::size_t AddTalkChannel(KzHandle channel);
    std::size_t RemoveTalkChannel(KzHandle channel);

    CPlayView* GetView() const { return m_view.get(); }
    KzAudioHandle GetCaptureDevice() const { return m_captureDevice; }
    KzAudioHandle GetPlayDevice() const { return m_playDevice; }
    sys::ThreadId GetWatchdogThreadId() const { return m_watchdogId; }

    std::atomic<std::int32_t> m_activeWindow { 1025 };
    std::atomic<std::int32_t> m_language { kLanguageSimplifiedChinese };
    std::atomic<std::int32_t> m_talkCoding { 0 };

private:
    static void CaptureCallback(int event, const std::int16_t* samples, int size, void* hub);
    void OnCapture(const std::int16_t* samples, int size);
    void WatchdogLoop();
    void OnWatchdogMessage(const sys::Message& message);

    KzAudioHandle m_captureDevice = nullptr;
    KzAudioHandle m_playDevice = nullptr; // guarded by m_audioLock
    std::uint8_t m_talkBuffer[kTalkBufferBytes] = {}; // guarded by m_talkLock
    sys::ThreadId m_watchdogId = 0;
    sys::ThreadHandle m_watchdog;
    std::vector<KzHandle> m_talkList; // guarded by m_talkLock
    std::atomic<control::CTiravexCtrl*> m_control { nullptr }; // read by the watchdog
    std::unique_ptr<CPlayView> m_view;
    HWND m_controlWindow = nullptr;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    sys::CriticalSection m_talkLock;
    sys::CriticalSection m_audioLock;
};
