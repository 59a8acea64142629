#include "media/CMediaHub.h"

#include "media/Notifications.h"

#include "audio/G726.h"
#include "sys/MessageQueue.h"
#include "ui/Monitor.h"

#include <algorithm>
#include <cstring>
#include <thread>

CMediaHub::CMediaHub(media::RendererFactory makeRenderer) : m_makeRenderer(std::move(makeRenderer)) { }

CMediaHub::~CMediaHub()
{
    HubStop();
}

std::unique_ptr<media::Renderer> CMediaHub::MakeView(HWND window)
{
    if (!m_makeRenderer)
        return nullptr;
    std::unique_ptr<media::Renderer> view = m_makeRenderer();
    if (!view)
        return nullptr;
    // The composition surface is as large as the screen, so that resizing
    // and full screen never remake it.
    view->Create(window, ui::GetSystemMetrics(SM_CXSCREEN), ui::GetSystemMetrics(SM_CYSCREEN));
    view->AttachClipper(window);
    view->ClearComposition();
    return view;
}

void CMediaHub::AttachControlWindow(HWND controlWindow, int width, int height)
{
    m_controlWindow = controlWindow;
    m_screenWidth = width;
    m_screenHeight = height;
    if (!m_view)
        m_view = MakeView(controlWindow);
}

bool CMediaHub::Register(media::HubPlayer& player)
{
    std::int32_t slot = player.GetId() - kLiveWindowId;
    if (slot < 0 || static_cast<std::size_t>(slot) >= kPlayerCount)
        return false;
    m_players[static_cast<std::size_t>(slot)] = &player;
    return true;
}

media::HubPlayer* CMediaHub::Player(std::int32_t id) const
{
    std::int32_t slot = id - kLiveWindowId;
    if (slot < 0 || static_cast<std::size_t>(slot) >= kPlayerCount)
        return nullptr;
    return m_players[static_cast<std::size_t>(slot)].load();
}

void CMediaHub::HubStart(Owner* owner, bool smallBlocks)
{
    m_owner = owner;
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

bool CMediaHub::Request(std::int16_t id, WatchdogRequest what) const
{
    if (!m_watchdogId)
        return false;
    return sys::PostThreadMessage(m_watchdogId, static_cast<UINT>(id), 0, static_cast<LPARAM>(what));
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

void CMediaHub::ResetTalkCoder()
{
    sys::Locker lock(m_talkLock);
    m_talkAdpcm = audio::ImaAdpcmState {};
}

void CMediaHub::PlayAudioPcm(const void* pcm, std::size_t size)
{
    Owner* owner = m_owner.load();
    sys::Locker lock(m_audioLock);
    if (!owner || !owner->IsSelected() || !m_playDevice)
        return;
    WriteData(m_playDevice, pcm, static_cast<int>(size));
}

void CMediaHub::CaptureCallback(int event, const std::int16_t* samples, int size, void* user)
{
    auto* hub = static_cast<CMediaHub*>(user);
    if (!hub)
        return;
    if (event == kzaudio::kEventData)
        hub->OnCapture(samples, size);
    else
        hub->OnCaptureFailed();
}

void CMediaHub::OnCaptureFailed()
{
    if (!m_owner.load())
        return;
    media::HubPlayer* first = Player(kLiveWindowId);
    if (!first)
        return;
    first->StopTalkMedia();
    ui::PostMessage(m_controlWindow, media::kNotifyCaptureFailed, 0, 0);
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
    if (coding != kz::kAudioPcm && coding != kz::kAudioG726 && coding != kz::kAudioAdpcm) {
        m_talkPending.clear();
        return;
    }
    std::size_t need = coding == kz::kAudioAdpcm ? audio::kImaAdpcmBlockSamples : audio::kG726BlockSamples;
    std::size_t used = 0;
    while (m_talkPending.size() - used >= need) {
        const std::int16_t* block = m_talkPending.data() + used;
        std::size_t bytes = 0;
        if (coding == kz::kAudioPcm) {
            std::memcpy(m_talkBuffer, block, kz::kTalkBlockPcm);
            bytes = kz::kTalkBlockPcm;
        } else if (coding == kz::kAudioG726) {
            audio::G726EncodeBlock(block, m_talkBuffer);
            bytes = kz::kTalkBlockG726;
        } else {
            audio::ImaAdpcmEncode(block, need, m_talkAdpcm, m_talkBuffer);
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
    media::HubPlayer* player = Player(static_cast<std::int32_t>(message.message));
    if (!player)
        return;
    switch (static_cast<WatchdogRequest>(message.lParam)) {
    case WatchdogRequest::Closed:
    case WatchdogRequest::LinkLost:
        player->RefreshView();
        break;
    case WatchdogRequest::CloseA:
    case WatchdogRequest::CloseB:
        player->CloseStream();
        player->RefreshView();
        break;
    case WatchdogRequest::DiskFull:
        player->CleanRecordStorage();
        break;
    default:
        break;
    }
}

void CMediaHub::RecoverView(media::HubPlayer& shown)
{
    if (m_view && SUCCEEDED(m_view->RestoreAllSurfaces()))
        return;
    // Rebuild the renderer: every player's render lock, in id order.
    media::HubPlayer* players[kPlayerCount] = {};
    for (std::size_t i = 0; i < kPlayerCount; ++i)
        players[i] = m_players[i].load();
    for (media::HubPlayer* p : players)
        if (p)
            p->RenderLock().Enter();
    for (media::HubPlayer* p : players)
        if (p)
            p->DetachView();
    m_view = MakeView(shown.GetDrawWindow());
    Owner* owner = m_owner.load();
    bool all = owner && owner->IsMainInstance();
    for (std::size_t i = 0; i < kPlayerCount; ++i)
        if (players[i] && (all || i == 0))
            players[i]->ReattachView();
    for (media::HubPlayer* p : players)
        if (p)
            p->RenderLock().Leave();
    ++m_viewRebuilds;
}

void CMediaHub::WatchdogLoop()
{
    if (!m_owner.load())
        return;
    // The ticks keep to the clock, so that the windows' counts of ticks
    // without frames are times; after a long stall they start afresh
    // rather than run a burst of late ticks. They fall on one grid of the
    // clock, so that the watchdogs of a page's controls wake together: a
    // wake-up shared costs less than as many spread over the tick.
    using Clock = std::chrono::steady_clock;
    const auto tick = std::chrono::milliseconds(kWatchdogTickMs);
    auto gridAfter = [tick](Clock::time_point t) { return Clock::time_point((t.time_since_epoch() / tick + 1) * tick); };
    auto next = Clock::now();
    for (;;) {
        if (!sys::HandleWaitingMessages([this](const sys::Message& message) {
                OnWatchdogMessage(message);
                return true;
            }))
            return;
        media::HubPlayer* shown = Player(m_activeWindow.load());
        if (shown && shown->Poll() && shown->IsViewReady() && shown->OnTick() == gfx::DDERR_SURFACELOST)
            RecoverView(*shown);
        auto now = Clock::now();
        next = now - next > tick * kWatchdogMaxLagTicks ? gridAfter(now) : gridAfter(next);
        std::this_thread::sleep_until(next);
    }
}
