#include "audio/CMediaHub.h"

#include "view/CPlayView.h"

#include "audio/G726.h"
#include "audio/ImaAdpcm.h"
#include "control/TiravexCtrl.h"

#include "sys/MessageQueue.h"
#include "ui/Monitor.h"

#include <algorithm>
#include <cstring>
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

void CMediaHub::PlayAudioPcm(const void* pcm, std::size_t size)
{
    control::CTiravexCtrl* control = m_control.load();
    sys::Locker lock(m_audioLock);
    if (!control || !control->m_active || !m_playDevice)
        return;
    WriteData(m_playDevice, pcm, static_cast<int>(size));
}

void CMediaHub::CaptureCallback(int event, const std::int16_t* samples, int size, void* user)
{
    auto* hub = static_cast<CMediaHub*>(user);
    if (!hub)
        return;
    if (event == kzaudio::kEventData) {
        hub->OnCapture(samples, size);
        return;
    }
    control::CTiravexCtrl* control = hub->m_control.load();
    if (!control)
        return;
    control->m_live.StopTalkMedia();
    ui::PostMessage(control->m_live.GetNotifyWindow(), control::kMsgCaptureFailed, 0, 0);
}

void CMediaHub::OnCapture(const std::int16_t* samples, int size)
{
    if (!samples || size <= 0)
        return;
    std::size_t bytes = 0;
    sys::Locker lock(m_talkLock);
    switch (m_talkCoding.load()) {
    case 0: // PCM
        if (static_cast<std::size_t>(size) < kz::kTalkBlockPcm)
            return;
        std::memcpy(m_talkBuffer, samples, kz::kTalkBlockPcm);
        bytes = kz::kTalkBlockPcm;
        break;
    case 1: // G.726: 480 samples into 120 bytes
        if (static_cast<std::size_t>(size) < audio::kG726BlockSamples * 2)
            return;
        audio::G726EncodeBlock(samples, m_talkBuffer);
        bytes = kz::kTalkBlockG726;
        break;
    case 2: { // IMA ADPCM, with the live window's encoder state
        control::CTiravexCtrl* control = m_control.load();
        if (!control)
            return;
        std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size) / 2, audio::kImaAdpcmBlockSamples);
        audio::ImaAdpcmState state { control->m_live.m_adpcmEncodePredictor.load(), control->m_live.m_adpcmEncodeIndex.load() };
        audio::ImaAdpcmEncode(samples, count, state, m_talkBuffer);
        control->m_live.m_adpcmEncodePredictor = state.predictor;
        control->m_live.m_adpcmEncodeIndex = state.index;
        bytes = kz::kTalkBlockAdpcm;
        break;
    }
    default:
        return;
    }
    for (KzHandle channel : m_talkList)
        kz_send_talk_data(channel, 0, 0, 0, static_cast<int>(bytes), reinterpret_cast<const char*>(m_talkBuffer));
}

void CMediaHub::OnWatchdogMessage(const sys::Message& message)
{
    control::CTiravexCtrl* control = m_control.load();
    CPlayBase* player = control ? control->PlayerById(static_cast<int>(message.message)) : nullptr;
    if (!player)
        return;
    switch (message.lParam) {
    case kWatchdogClosed:
    case kWatchdogLinkLost:
        player->RefreshView();
        break;
    case kWatchdogCloseA:
    case kWatchdogCloseB:
        player->CloseStream();
        player->RefreshView();
        break;
    case kWatchdogDiskFull:
        player->CleanRecordStorage();
        break;
    default:
        break;
    }
}

void CMediaHub::WatchdogLoop()
{
    if (!m_control.load())
        return;
    for (;;) {
        sys::Message message;
        while (sys::PeekMessage(message, true)) {
            if (message.message == sys::kQuitMessage)
                return;
            OnWatchdogMessage(message);
        }
        if (control::CTiravexCtrl* control = m_control.load()) {
            if (CPlayBase* shown = control->PlayerById(m_activeWindow.load()); shown && shown->Poll() && shown->IsViewReady())
                shown->OnTick();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWatchdogTickMs));
    }
}
