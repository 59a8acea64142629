#include "audio/CMediaHub.h"

#include "view/CPlayView.h"

#include "sys/MessageQueue.h"
#include "ui/Monitor.h"

#include <algorithm>
#include <thread>

CMediaHub::CMediaHub() = default;

CMediaHub::~CMediaHub()
{
    HubStop();
}

void CMediaHub::AttachControlWindow(HWND controlWindow, int width, int height)
{
    m_controlWindow = controlWindow;
    m_screenWidth = width;
    m_screenHeight = height;
    if (!m_view) {
        // The view's composition surface is as large as the screen, so that
        // resizing and full screen never remake it.
        m_view = std::make_unique<CPlayView>();
        m_view->Create(controlWindow, ui::GetSystemMetrics(SM_CXSCREEN), ui::GetSystemMetrics(SM_CYSCREEN));
        m_view->AttachClipper(controlWindow);
        m_view->FillSurface(m_view->composition, 0);
    }
}

void CMediaHub::HubStart(control::CTiravexCtrl* control, bool smallBlocks)
{
    m_control = control;
    {
        sys::Locker lock(m_audioLock);
        if (!m_playDevice) {
            m_playDevice = CreatePlayDev();
            std::int32_t bytes = kzaudio::kPlayBufferBytes;
            SetPlayParam(m_playDevice, kzaudio::kParamBufferSize, &bytes);
            OpenPlayDev(m_playDevice);
        }
    }
    if (!m_captureDevice) {
        m_captureDevice = CreateRecDev();
        SetRecDataCallback(m_captureDevice, &CMediaHub::CaptureCallback, this);
        std::int32_t block = smallBlocks ? kzaudio::kCaptureBlockBytesNewDevices : kzaudio::kCaptureBlockBytes;
        SetRecParam(m_captureDevice, kzaudio::kParamBufferSize, &block);
        OpenRecDev(m_captureDevice);
    }
    if (!m_watchdog) {
        m_watchdog = sys::Thread::Start("DogThread", [this] { WatchdogLoop(); });
        m_watchdogId = m_watchdog ? m_watchdog->Id() : 0;
    }
}

void CMediaHub::HubStop()
{
    if (m_watchdog) {
        m_watchdog->Post(sys::kQuitMessage);
        // The watchdog only sleeps between messages, so it ends within a tick.
        while (!m_watchdog->Wait(1000)) { }
        m_watchdog.reset();
        m_watchdogId = 0;
    }
    if (m_captureDevice) {
        CloseRecDev(m_captureDevice);
        m_captureDevice = nullptr;
    }
    {
        sys::Locker lock(m_audioLock);
        m_activeWindow = kActiveWindowShutdown;
        if (m_playDevice) {
            ClosePlayDev(m_playDevice);
            m_playDevice = nullptr;
        }
    }
    m_view.reset();
}

std::size_t CMediaHub::AddTalkChannel(KzHandle channel)
{
    sys::Locker lock(m_talkLock);
    if (std::find(m_talkList.begin(), m_talkList.end(), channel) == m_talkList.end())
        m_talkList.push_back(channel);
    return m_talkList.size();
}

std::size_t CMediaHub::RemoveTalkChannel(KzHandle channel)
{
    sys::Locker lock(m_talkLock);
    m_talkList.erase(std::remove(m_talkList.begin(), m_talkList.end(), channel), m_talkList.end());
    return m_talkList.size();
}

void CMediaHub::CaptureCallback(int, const std::int16_t*, int, void*)
{
    // Voice coding and sending come with the talk path.
}

void CMediaHub::WatchdogLoop()
{
    if (!m_control)
        return;
    for (;;) {
        sys::Message message;
        while (sys::PeekMessage(message, true)) {
            if (message.message == sys::kQuitMessage)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWatchdogTickMs));
    }
}
