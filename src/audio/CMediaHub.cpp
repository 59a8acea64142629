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
    sys::Locker lock(m_talkLock);
    // The microphone's blocks (640 or 960 bytes) and the codings' blocks
    // (480 samples for PCM and G.726, 320 for IMA ADPCM) differ in size:
    // samples wait here until a whole coded block can be made, so nothing
    // is read past a block and nothing is dropped.
    m_talkPending.insert(m_talkPending.end(), samples, samples + size / 2);
    int coding = m_talkCoding.load();
    std::size_t need = coding == kTalkCodingAdpcm ? audio::kImaAdpcmBlockSamples : audio::kG726BlockSamples;
    if (coding != kTalkCodingPcm && coding != kTalkCodingG726 && coding != kTalkCodingAdpcm) {
        m_talkPending.clear();
        return;
    }
    std::size_t used = 0;
    while (m_talkPending.size() - used >= need) {
        const std::int16_t* block = m_talkPending.data() + used;
        std::size_t bytes = 0;
        if (coding == kTalkCodingPcm) {
            std::memcpy(m_talkBuffer, block, kz::kTalkBlockPcm);
            bytes = kz::kTalkBlockPcm;
        } else if (coding == kTalkCodingG726) {
            audio::G726EncodeBlock(block, m_talkBuffer);
            bytes = kz::kTalkBlockG726;
        } else {
            control::CTiravexCtrl* control = m_control.load();
            if (!control)
                break;
            audio::ImaAdpcmState state { control->m_live.m_adpcmEncodePredictor.load(), control->m_live.m_adpcmEncodeIndex.load() };
            audio::ImaAdpcmEncode(block, need, state, m_talkBuffer);
            control->m_live.m_adpcmEncodePredictor = state.predictor;
            control->m_live.m_adpcmEncodeIndex = state.index;
            bytes = kz::kTalkBlockAdpcm;
        }
        used += need;
        for (KzHandle channel : m_talkList)
            kz_send_talk_data(channel, 0, 0, 0, static_cast<int>(bytes), reinterpret_cast<const char*>(m_talkBuffer));
    }
    m_talkPending.erase(m_talkPending.begin(), m_talkPending.begin() + static_cast<std::ptrdiff_t>(used));
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

void CMediaHub::RecoverView(control::CTiravexCtrl& control, CPlayBase& shown)
{
    CPlayView* view = m_view.get();
    if (view && view->device && SUCCEEDED(view->device->RestoreAllSurfaces()))
        return;
    // Rebuild the renderer: every player's render lock, in id order.
    CPlayBase* players[] = { control.PlayerById(kLiveWindowId), control.PlayerById(kPlaybackWindowId),
        control.PlayerById(kMotionWindowId), control.PlayerById(kShelterWindowId) };
    for (CPlayBase* p : players)
        p->RenderLock().Enter();
    for (CPlayBase* p : players)
        p->DetachView();
    m_view = std::make_unique<CPlayView>();
    m_view->Create(shown.GetHwnd(), ui::GetSystemMetrics(SM_CXSCREEN), ui::GetSystemMetrics(SM_CYSCREEN));
    m_view->AttachClipper(shown.GetHwnd());
    m_view->FillSurface(m_view->composition, 0);
    if (control.m_self != 0)
        players[0]->ReattachView();
    else
        for (CPlayBase* p : players)
            p->ReattachView();
    for (CPlayBase* p : players)
        p->RenderLock().Leave();
    ++m_viewRebuilds;
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
            CPlayBase* shown = control->PlayerById(m_activeWindow.load());
            if (shown && shown->Poll() && shown->IsViewReady() && shown->OnTick() == gfx::DDERR_SURFACELOST)
                RecoverView(*control, *shown);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWatchdogTickMs));
    }
}
