#include "media/CPlayBase.h"

#include "audio/CMediaHub.h"
#include "control/ControlIds.h"
#include "view/CPlayView.h"

#include "gfx/Surface.h"

#include "audio/G726.h"
#include "audio/ImaAdpcm.h"
#include "control/TiravexCtrl.h"
#include "media/Decoder.h"

#include <cstring>

namespace {

// The stream types that select the audio coding.
constexpr std::int16_t kAudioPcm = 0;
constexpr std::int16_t kAudioG726 = 1;
constexpr std::int16_t kAudioAdpcm = 2;
// Stream mode 4: G.726 audio arrives already as PCM.
constexpr std::uint8_t kStreamModeRawAudio = 4;
constexpr std::size_t kPcmPerG726Block = audio::kG726BlockSamples * 2;
constexpr std::size_t kPcmPerAdpcmBlock = audio::kImaAdpcmBlockSamples * 2;

}

CPlayBase::~CPlayBase()
{
    CloseStream();
    sys::Locker lock(m_renderLock);
    if (m_surface)
        m_surface->Release();
    m_surface = nullptr;
}

void CPlayBase::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    sys::Locker lock(m_renderLock); // the watchdog and the frame thread use the view
    m_notifyWindow = notifyWindow;
    m_drawWindow = m_hWnd;
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
            {
                sys::Locker decoder(m_decoderLock);
                media::DecoderClose(m_decoder);
            }
            m_width = 0;
            m_height = 0;
            RefreshView();
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

int CPlayBase::FrameCallback(int kind, FrameRecord* frame, void* user, int id)
{
    auto* player = static_cast<CPlayBase*>(user);
    if (!player || !frame || frame->size < 0 || (frame->size > 0 && !frame->payload))
        return 0;
    switch (kind) {
    case kz::kFrameH264:
    case kz::kFrameMjpeg:
        player->OnVideoFrame(kind, *frame);
        break;
    case kz::kFrameAudio:
        player->OnAudioFrame(*frame, id);
        break;
    default:
        break;
    }
    return 0;
}

HRESULT CPlayBase::OnTick()
{
    // One atomic step, so that a frame's reset to 0 between reading and
    // writing the counter is never overwritten.
    std::int32_t seen = m_silence.load();
    std::int32_t next;
    do {
        next = seen + 1 > kSilenceRefresh - 1 ? kSilenceRefresh : seen + 1;
    } while (!m_silence.compare_exchange_weak(seen, next));
    if (seen + 1 > kSilenceRefresh - 1)
        RefreshView();
    return S_OK;
}

void CPlayBase::RefreshView()
{
    sys::Locker lock(m_renderLock);
    if (m_view && m_view->composition)
        m_view->FillSurface(m_view->composition, 0);
}

void CPlayBase::OnAudioFrame(const FrameRecord& frame, int id)
{
    OnAudioData(frame.payload, static_cast<std::size_t>(frame.size), id);
}

void CPlayBase::OnAudioData(const std::uint8_t* data, std::size_t size, int id)
{
    if (!m_login || !m_hub || !data || size == 0)
        return;
    const std::uint8_t* pcm = nullptr;
    std::size_t pcmBytes = 0;
    switch (m_login->streamType) {
    case kAudioPcm:
        pcm = data;
        pcmBytes = size & ~static_cast<std::size_t>(1);
        break;
    case kAudioG726:
        if (m_streamMode == kStreamModeRawAudio) {
            pcm = data;
            pcmBytes = size & ~static_cast<std::size_t>(1);
        } else if (m_streamMode == 0) {
            std::size_t blocks = size / audio::kG726BlockBytes;
            m_audioBuffer.resize(std::max(m_audioBuffer.size(), size * 8));
            auto* out = reinterpret_cast<std::int16_t*>(m_audioBuffer.data());
            for (std::size_t b = 0; b < blocks; ++b)
                audio::G726DecodeBlock(data + b * audio::kG726BlockBytes, out + b * audio::kG726BlockSamples);
            pcm = m_audioBuffer.data();
            pcmBytes = blocks * kPcmPerG726Block;
        }
        break;
    case kAudioAdpcm: {
        std::size_t blocks = size / audio::kImaAdpcmBlockBytes;
        m_audioBuffer.resize(std::max(m_audioBuffer.size(), size * 8));
        auto* out = reinterpret_cast<std::int16_t*>(m_audioBuffer.data());
        audio::ImaAdpcmState state { m_adpcmPredictor.load(), m_adpcmIndex.load() };
        for (std::size_t b = 0; b < blocks; ++b)
            audio::ImaAdpcmDecode(data + b * audio::kImaAdpcmBlockBytes, audio::kImaAdpcmBlockBytes, state, out + b * audio::kImaAdpcmBlockSamples);
        m_adpcmPredictor = state.predictor;
        m_adpcmIndex = state.index;
        pcm = m_audioBuffer.data();
        pcmBytes = blocks * kPcmPerAdpcmBlock;
        break;
    }
    default:
        return;
    }
    if (!pcm || pcmBytes == 0)
        return;
    if (id == m_hub->m_activeWindow)
        m_hub->PlayAudioPcm(pcm, pcmBytes);
}
