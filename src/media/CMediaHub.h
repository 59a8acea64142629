#pragma once
// The media hub that the control owns once and shares with its four stream
// players: the play and capture devices, the talk list and the talk coder,
// the shared renderer, the active window, the display language and the
// watchdog thread "DogThread". Players register with it through
// media::HubPlayer; the control that owns it answers through Owner.
//
// Threads: HubStart, HubStop and Register on the page's thread; the talk
// list and the talk coder under m_talkLock from the page's, the network
// library's and the capture threads; the play device under m_audioLock;
// the renderer is remade on the watchdog thread under the players' render
// locks. The active window, language and talk coding are atomics.

#include "media/HubPlayer.h"
#include "media/Renderer.h"
#include "media/WindowIds.h"

#include "audio/ImaAdpcm.h"
#include "kzaudio/kzaudio.h"
#include "kznet/kznet.h"
#include "resources/StringTable.h"
#include "sys/Lock.h"
#include "sys/Thread.h"
#include "ui/Window.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The active window while the hub shuts down.
constexpr std::int32_t kActiveWindowShutdown = 65436;
// The watchdog's tick.
constexpr DWORD kWatchdogTickMs = 25;
// Ticks the watchdog may fall behind the clock before it stops catching up.
constexpr int kWatchdogMaxLagTicks = 4;
// Bytes of one coded voice block at most.
constexpr std::size_t kTalkBufferBytes = 960;

class CMediaHub {
public:
    // What the hub asks of the control that owns it.
    class Owner {
    public:
        // The control is the page's selected one: only then is sound played.
        virtual bool IsSelected() const = 0;
        // The page's main instance: a remade renderer is given to all four
        // players, not to the live window alone.
        virtual bool IsMainInstance() const = 0;

    protected:
        ~Owner() = default;
    };

    // What a player asks of the watchdog thread: the thread message's
    // lParam, the message number being the player's id.
    enum class WatchdogRequest : LPARAM { Closed = 2, CloseA = 4, LinkLost = 5, CloseB = 6, DiskFull = 7 };

    explicit CMediaHub(media::RendererFactory makeRenderer);
    ~CMediaHub();
    CMediaHub(const CMediaHub&) = delete;
    CMediaHub& operator=(const CMediaHub&) = delete;

    // The control's window and the screen size the renderer is made for.
    // Makes the renderer on first use.
    void AttachControlWindow(HWND controlWindow, int width, int height);
    HWND GetControlWindow() const { return m_controlWindow; }
    int GetScreenWidth() const { return m_screenWidth; }
    int GetScreenHeight() const { return m_screenHeight; }

    // A player joins the hub under its id (1025 to 1028); another id is refused.
    bool Register(media::HubPlayer& player);

    // Opens the audio devices and starts the watchdog; small capture blocks
    // for cameras whose device kind is 100 or more.
    void HubStart(Owner* owner, bool smallBlocks);
    void HubStop();
    bool IsStarted() const { return m_watchdog != nullptr; }

    // Posts a request to the watchdog thread for the player `id`; false
    // when the watchdog does not run.
    bool Request(std::int16_t id, WatchdogRequest what) const;

    // Writes PCM to the play device while the owner is the selected control.
    void PlayAudioPcm(const void* pcm, std::size_t size);

    std::size_t AddTalkChannel(KzHandle channel);
    std::size_t RemoveTalkChannel(KzHandle channel);
    // The IMA ADPCM talk coder starts again from zero (a new talk).
    void ResetTalkCoder();

    // The window whose sound is played and which the watchdog ticks.
    std::int32_t ActiveWindow() const { return m_activeWindow.load(); }
    void SetActiveWindow(std::int32_t id) { m_activeWindow = id; }
    // The string table's language base: 0, 100 or 200.
    std::int32_t Language() const { return m_language.load(); }
    void SetLanguage(std::int32_t base) { m_language = base; }
    // The voice's coding: the login record's stream type.
    std::int32_t TalkCoding() const { return m_talkCoding.load(); }
    void SetTalkCoding(std::int32_t coding) { m_talkCoding = coding; }

    media::Renderer* GetView() const { return m_view.get(); }
    KzAudioHandle GetCaptureDevice() const { return m_captureDevice; }
    KzAudioHandle GetPlayDevice() const { return m_playDevice; }
    sys::ThreadId GetWatchdogThreadId() const { return m_watchdogId; }
    // How often the renderer was rebuilt after lost surfaces.
    int ViewRebuilds() const { return m_viewRebuilds; }

private:
    static void CaptureCallback(int event, const std::int16_t* samples, int size, void* hub);
    void OnCapture(const std::int16_t* samples, int size);
    void OnCaptureFailed();
    void WatchdogLoop();
    void OnWatchdogMessage(const sys::Message& message);
    media::HubPlayer* Player(std::int32_t id) const;
    // After a lost surface that cannot be restored: a new renderer for the shown window.
    void RecoverView(media::HubPlayer& shown);
    std::unique_ptr<media::Renderer> MakeView(HWND window);

    media::RendererFactory m_makeRenderer;
    KzAudioHandle m_captureDevice = nullptr;
    KzAudioHandle m_playDevice = nullptr; // guarded by m_audioLock
    std::uint8_t m_talkBuffer[kTalkBufferBytes] = {}; // guarded by m_talkLock
    audio::ImaAdpcmState m_talkAdpcm;                 // guarded by m_talkLock
    sys::ThreadId m_watchdogId = 0;
    sys::ThreadHandle m_watchdog;
    std::atomic<std::int32_t> m_activeWindow { kLiveWindowId };
    std::atomic<std::int32_t> m_language { resources::kLanguageSimplifiedChinese };
    std::vector<KzHandle> m_talkList; // guarded by m_talkLock
    std::vector<std::int16_t> m_talkPending; // captured samples not yet coded; guarded by m_talkLock
    std::atomic<Owner*> m_owner { nullptr }; // read by the watchdog and the audio paths
    std::array<std::atomic<media::HubPlayer*>, kPlayerCount> m_players {};
    std::unique_ptr<media::Renderer> m_view;
    std::atomic<std::int32_t> m_talkCoding { 0 };
    std::atomic<int> m_viewRebuilds { 0 };
    HWND m_controlWindow = nullptr;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    sys::CriticalSection m_talkLock;
    sys::CriticalSection m_audioLock;
};
