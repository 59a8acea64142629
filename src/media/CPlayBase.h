#pragma once
// The stream player behind every video window: one media channel to the
// camera, its picture and its flags. The derived window classes give it an
// id (1025 live, 1026 playback, 1027 motion grid, 1028 privacy mask) and
// draw its pictures.
//
// Threads: the page's thread opens, closes and configures; the network
// library's threads deliver frames and status; the media hub's watchdog
// ticks it. Fields that several threads touch are atomics or sit under the
// lock named beside them.

#include "kznet/kznet.h"
#include "sys/Lock.h"
#include "view/CNPWnd.h"

#include <atomic>
#include <cstdint>

class CMediaHub;
class CPlayView;

// Window ids, also the players' names on the wire and in thread messages.
constexpr std::int16_t kLiveWindowId = 1025;
constexpr std::int16_t kPlaybackWindowId = 1026;
constexpr std::int16_t kMotionWindowId = 1027;
constexpr std::int16_t kShelterWindowId = 1028;

// The silence counter's start values.
constexpr std::int32_t kSilenceAtConstruction = 500;

class CPlayBase : public CNPWnd {
public:
    ~CPlayBase() override;

    UINT GetKind() override { return CS_DBLCLKS; }
    virtual std::int16_t GetId() const { return m_id; }

    // Stores the notify window and the hub and takes the hub's view.
    virtual void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub);
    // The first kz_open_device argument (connection kind 1, 3 or 4).
    void SetOpenParam(int kind) { m_streamKind = kind; }
    int GetOpenParam() const { return m_streamKind; }

    // The view exists with its device, surfaces and clipper.
    virtual bool IsViewReady();
    // Closes the media channel, if one is open.
    virtual void CloseStream();

    CPlayView* GetView() const { return m_view; }
    CMediaHub* GetHub() const { return m_hub; }
    HWND GetNotifyWindow() const { return m_notifyWindow; }
    KzHandle GetChannel() const { return m_channel.load(); }

    // Flags read by the control (see the stream player's lifecycle).
    std::atomic<std::int32_t> m_silence { kSilenceAtConstruction };
    std::atomic<bool> m_videoStarted { false };
    std::atomic<bool> m_audioOn { false };
    std::atomic<bool> m_talkCaptureOn { false };
    std::atomic<bool> m_recordingArmed { false };
    std::atomic<bool> m_restartFile { false };
    std::atomic<bool> m_alarmRecording { false };
    // Set by RegMy, cleared by UNRegMy and when the view cannot start.
    std::atomic<bool> m_registered { false };
    bool m_keepRatio = false;
    bool m_reopenAllowed = false;
    bool m_secureTransport = false;

protected:
    explicit CPlayBase(std::int16_t id) : m_id(id) { }

    HWND m_drawWindow = nullptr;
    HWND m_notifyWindow = nullptr;
    std::atomic<KzHandle> m_channel { nullptr }; // changed under m_channelLock
    CPlayView* m_view = nullptr;
    CMediaHub* m_hub = nullptr;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    std::int32_t m_streamParam = 0;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    int m_streamKind = 0;
    std::int16_t m_id;
    sys::CriticalSection m_channelLock;
    sys::CriticalSection m_renderLock;
};
