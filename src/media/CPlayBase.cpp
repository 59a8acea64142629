#include "media/CPlayBase.h"

#include "audio/CMediaHub.h"
#include "control/ControlIds.h"
#include "view/CPlayView.h"

#include <cstring>

CPlayBase::~CPlayBase()
{
    CloseStream();
}

void CPlayBase::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    m_notifyWindow = notifyWindow;
    m_screenWidth = screenWidth;
    m_screenHeight = screenHeight;
    m_hub = hub;
    m_view = hub ? hub->GetView() : nullptr;
}

bool CPlayBase::IsViewReady()
{
    return m_view && m_view->IsReady();
}

void CPlayBase::OpenStream(const char* address, LoginInfo* login)
{
    if (!IsViewReady())
        return;
    if (m_channel.load()) {
        if (!m_reopenAllowed)
            return;
        CloseStream();
    }
    m_silence = kSilenceAtOpen;
    std::strncpy(m_address, address ? address : "", sizeof m_address - 1);
    m_address[sizeof m_address - 1] = 0;
    m_login = login;
    {
        sys::Locker lock(m_channelLock);
        int tag = static_cast<int>(m_id) | (m_reopenAllowed ? 0 : kz::kTagNoReopen);
        m_channel = kz_open_device(m_streamKind, m_address, m_login, m_streamParam, tag, kz::kOpenDeviceConstant, &CPlayBase::StatusCallback, &CPlayBase::FrameCallback, this, m_secureTransport ? 1 : 0);
    }
    m_videoStarted = true;
}

void CPlayBase::CloseStream()
{
    {
        sys::Locker lock(m_channelLock);
        if (KzHandle channel = m_channel.load()) {
            if (m_hub && m_hub->RemoveTalkChannel(channel) == 0)
                StopRecDev(m_hub->GetCaptureDevice());
            kz_close_device(channel);
            if (m_hub)
                sys::PostThreadMessage(m_hub->GetWatchdogThreadId(), static_cast<UINT>(m_id), 0, kWatchdogClosed);
            m_channel = nullptr;
            m_width = 0;
            m_height = 0;
        }
    }
    StopRecord();
    m_videoStarted = false;
    m_talkCaptureOn = false;
    m_audioOn = false;
}

void CPlayBase::StartAudio()
{
    int kind = kz::kMediaAudio;
    if (m_login && m_login->streamType != 0) {
        switch (m_streamMode.load()) {
        case 0: kind = kz::kMediaAudio; break;
        case 2: kind = kz::kMediaAudioVariant10; break;
        case 4: kind = kz::kMediaAudioVariant11; break;
        case 8: kind = kz::kMediaAudioVariant12; break;
        default: kind = kz::kMediaAudioVariant9; break;
        }
    }
    kz_start_media(m_channel.load(), kind);
    m_audioOn = true;
    if (m_recordingArmed)
        m_restartFile = true;
}

void CPlayBase::StopAudio()
{
    kz_stop_media(m_channel.load(), kz::kMediaAudio);
    m_audioOn = false;
}

void CPlayBase::SetAudioOn(bool on)
{
    m_adpcmPredictor = 0;
    m_adpcmIndex = 0;
    m_audioOn = on;
    if (m_recordingArmed)
        m_restartFile = true;
}

void CPlayBase::StartTalkMedia() { kz_start_media(m_channel.load(), kz::kMediaTalk); }
void CPlayBase::StopTalkMedia() { kz_stop_media(m_channel.load(), kz::kMediaTalk); }

void CPlayBase::StartTalkCapture()
{
    if (KzHandle channel = m_channel.load(); channel && m_hub) {
        m_hub->AddTalkChannel(channel);
        RestartRecDev(m_hub->GetCaptureDevice());
    }
    m_talkCaptureOn = true;
}

void CPlayBase::StopTalkCapture()
{
    if (KzHandle channel = m_channel.load(); channel && m_hub) {
        if (m_hub->RemoveTalkChannel(channel) == 0)
            StopRecDev(m_hub->GetCaptureDevice());
    }
    m_talkCaptureOn = false;
}

void CPlayBase::StartRecord(const std::string& directory)
{
    sys::Locker lock(m_recordLock);
    m_recordDirectory = directory;
    m_recordingArmed = true;
}

void CPlayBase::StopRecord()
{
    sys::Locker lock(m_recordLock);
    m_recordingArmed = false;
}

int CPlayBase::StatusCallback(int type, int* data, void* user, int value)
{
    auto* player = static_cast<CPlayBase*>(user);
    if (!player)
        return 0;
    int result = data ? *data : 0;
    switch (type) {
    case kz::kStatusOpen:
        ui::PostMessage(player->m_notifyWindow, control::kMsgStreamStatus, 0, value);
        break;
    case kz::kStatusLinkLost:
        if (player->m_hub)
            sys::PostThreadMessage(player->m_hub->GetWatchdogThreadId(), static_cast<UINT>(value), reinterpret_cast<WPARAM>(player), kWatchdogLinkLost);
        player->StopTalkCapture();
        player->m_audioOn = false;
        ui::PostMessage(player->m_notifyWindow, control::kMsgLinkLost, 0, 0);
        break;
    case kz::kStatusNothing:
        break;
    case kz::kStatusTalkStart:
        ui::PostMessage(player->m_notifyWindow, control::kMsgTalkStarted, static_cast<WPARAM>(result), value);
        if (result == 0)
            player->StartTalkCapture();
        break;
    case kz::kStatusTalkStop:
        ui::PostMessage(player->m_notifyWindow, control::kMsgTalkStopped, static_cast<WPARAM>(result), value);
        if (result == 0)
            player->StopTalkCapture();
        break;
    default:
        player->OnLinkEvent(type, data, value);
        break;
    }
    return 0;
}

int CPlayBase::FrameCallback(int, FrameRecord*, void*, int)
{
    // Frames are decoded and drawn once the decoder is in place.
    return 0;
}
