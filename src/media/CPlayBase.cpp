#include "media/CPlayBase.h"

#include "media/CMediaHub.h"
#include "media/FrameProbe.h"
#include "media/VideoPassThrough.h"
#include "media/Notifications.h"

#include "audio/G726.h"
#include "audio/ImaAdpcm.h"
#include "gfx/Surface.h"
#include "ui/Monitor.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kPcmPerG726Block = audio::kG726BlockSamples * 2;
constexpr std::size_t kPcmPerAdpcmBlock = audio::kImaAdpcmBlockSamples * 2;

// A sequence parameter set after a four-byte start code: its NAL header is
// the fifth byte.
constexpr std::size_t kNalHeaderOffset = 4;
constexpr std::uint8_t kSpsNalHeader = 0x67;
constexpr std::uint32_t kNativeWidth = 320;
constexpr std::uint32_t kNativeMinHeight = 240;


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
    if (hub)
        hub->Register(*this);
}

bool CPlayBase::IsViewReady()
{
    // The watchdog asks while the page's thread may be attaching.
    sys::Locker lock(m_renderLock);
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
        sys::Locker decoder(m_decoderLock);
        m_acceptFrames = true;
    }
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
                m_hub->Request(m_id, CMediaHub::WatchdogRequest::Closed);
            m_channel = nullptr;
            {
                // Waits for a frame being decoded; later frames of the
                // closed channel are turned away.
                sys::Locker decoder(m_decoderLock);
                m_acceptFrames = false;
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
    if (m_login && m_login->streamType != kz::kAudioPcm) {
        switch (m_streamMode.load()) {
        case kz::kStreamModePlain: kind = kz::kMediaAudio; break;
        case kz::kStreamModeVariant10: kind = kz::kMediaAudioVariant10; break;
        case kz::kStreamModeRawAudio: kind = kz::kMediaAudioVariant11; break;
        case kz::kStreamModeVariant12: kind = kz::kMediaAudioVariant12; break;
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

std::string CPlayBase::RecordFileName() const
{
    sys::Locker lock(m_recordLock);
    return m_avi ? m_recordFileName : std::string();
}

int CPlayBase::StatusCallback(int type, int* data, void* user, int value)
{
    auto* player = static_cast<CPlayBase*>(user);
    if (!player)
        return 0;
    int result = data ? *data : 0;
    switch (type) {
    case kz::kStatusOpen:
        ui::PostMessage(player->m_notifyWindow, media::kNotifyStreamStatus, 0, value);
        break;
    case kz::kStatusLinkLost:
        if (player->m_hub)
            player->m_hub->Request(static_cast<std::int16_t>(value), CMediaHub::WatchdogRequest::LinkLost);
        player->StopTalkCapture();
        player->m_audioOn = false;
        ui::PostMessage(player->m_notifyWindow, media::kNotifyLinkLost, 0, 0);
        break;
    case kz::kStatusNothing:
        break;
    case kz::kStatusTalkStart:
        ui::PostMessage(player->m_notifyWindow, media::kNotifyTalkStarted, static_cast<WPARAM>(result), value);
        if (result == 0)
            player->StartTalkCapture();
        break;
    case kz::kStatusTalkStop:
        ui::PostMessage(player->m_notifyWindow, media::kNotifyTalkStopped, static_cast<WPARAM>(result), value);
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
    case kz::kFrameH265:
    case kz::kFrameMjpeg:
        media::Probe(media::ProbePoint::FrameArrived, player);
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
    if (m_view)
        m_view->ClearComposition();
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
    case kz::kAudioPcm:
        pcm = data;
        pcmBytes = size & ~static_cast<std::size_t>(1);
        break;
    case kz::kAudioG726:
        if (m_streamMode == kz::kStreamModeRawAudio) {
            pcm = data;
            pcmBytes = size & ~static_cast<std::size_t>(1);
        } else if (m_streamMode == kz::kStreamModePlain) {
            std::size_t blocks = size / audio::kG726BlockBytes;
            m_audioBuffer.resize(std::max(m_audioBuffer.size(), size * 8));
            auto* out = reinterpret_cast<std::int16_t*>(m_audioBuffer.data());
            for (std::size_t b = 0; b < blocks; ++b)
                audio::G726DecodeBlock(data + b * audio::kG726BlockBytes, out + b * audio::kG726BlockSamples);
            pcm = m_audioBuffer.data();
            pcmBytes = blocks * kPcmPerG726Block;
        }
        break;
    case kz::kAudioAdpcm: {
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
    // The sound is recorded whether it is played or not, from the file's
    // first key frame on.
    if (m_recordingArmed && m_gotKeyFrame)
        WriteAudioSample(pcm, static_cast<std::uint32_t>(pcmBytes));
    if (id == m_hub->ActiveWindow())
        m_hub->PlayAudioPcm(pcm, pcmBytes);
}

void CPlayBase::OnVideoFrame(int kind, const FrameRecord& frame)
{
    m_silence = 0;
    const std::uint8_t* payload = frame.payload;
    std::size_t size = static_cast<std::size_t>(frame.size);
    std::uint32_t width = m_width, height = m_height;
    // H.265 comes from a camera of the standards only, whose library read
    // the picture's size from the parameter sets into the record.
    const bool avc = kind == kz::kFrameH264 || kind == kz::kFrameH265;
    if (kind == kz::kFrameH264) {
        if (size > kNalHeaderOffset + 1 && payload[kNalHeaderOffset] == kSpsNalHeader)
            media::ProbeH264Size(payload + kNalHeaderOffset + 1, size - kNalHeaderOffset - 1, width, height);
    } else if (kind == kz::kFrameH265) {
        if (frame.width > 0 && frame.height > 0) {
            width = frame.width;
            height = frame.height;
        }
    } else {
        media::ProbeJpegSize(payload, size, width, height);
    }
    if (width > media::kMaxPictureSide || height > media::kMaxPictureSide)
        return; // refused before anything is made for it (or recorded)
    m_width = width;
    m_height = height;
    if (width == 0 || height == 0)
        return; // no size yet: nothing can be drawn

    if (m_recordingArmed) {
        // A new file when none is open (or the last one is full), when an
        // H.264 picture changes size, when a Motion-JPEG frame rate changes,
        // and after the camera's sound was switched on.
        // A change of coding starts one too: a file holds one coding only.
        const bool sizeChanged = m_decoder.width != static_cast<int>(width) || m_decoder.height != static_cast<int>(height);
        const bool codingChanged = m_recordKind.exchange(kind) != kind;
        const bool newFile = !m_recordFileOpen || codingChanged || (avc ? sizeChanged : m_recordFrameRate != frame.frameRate);
        if (newFile && StartRecordFile(frame.frameRate))
            m_restartFile = false;
        if (m_restartFile.exchange(false))
            StartRecordFile(frame.frameRate);
        if (frame.keyFrame)
            m_gotKeyFrame = true;
        if (m_gotKeyFrame && m_recordingArmed
            && WriteVideoSample(static_cast<int>(width), static_cast<int>(height), frame.frameRate, frame.bitRate, frame.payload, static_cast<std::uint32_t>(size), frame.keyFrame != 0) == 1
            && avc)
            ui::PostMessage(m_notifyWindow, media::kNotifyRecordStopped, 0, 0);
    }
    DecodeAndDraw(kind == kz::kFrameH264 ? media::Codec::H264 : kind == kz::kFrameH265 ? media::Codec::H265 : media::Codec::Mjpeg, frame);
}

void CPlayBase::SelectRender()
{
    // Under the render lock.
    if (!m_view || !m_view->CanCompose()) {
        m_renderPath = RenderPath::Plain;
        m_outputFormat = media::PixelFormat::Bgra;
    } else if (m_surface) {
        m_renderPath = RenderPath::Yuv;
        m_outputFormat = media::PixelFormat::Yuv420p;
    } else {
        m_renderPath = RenderPath::Rgb;
        m_outputFormat = media::PixelFormat::Bgra;
    }
}

bool CPlayBase::Shown() const
{
    return m_hub && m_hub->ActiveWindow() == m_id;
}

void CPlayBase::DecodeAndDraw(media::Codec codec, const FrameRecord& frame)
{
    // The whole frame is decoded and drawn under the decoder lock, so that
    // a close on another thread waits for it and no frame touches the
    // decoder, the surfaces or the picture after the close that freed them.
    sys::Locker decoderLock(m_decoderLock);
    if (!m_acceptFrames)
        return; // a frame still in flight from a closed channel
    int width = static_cast<int>(m_width), height = static_cast<int>(m_height);
    if (media::VideoPassThrough* pass = media::GetVideoPassThrough(); pass && pass->Takes(codec) && PassesThrough()) {
        passFrame(*pass, codec, frame, width, height);
        return;
    }
    if (width != m_decoder.width || height != m_decoder.height || codec != m_decoder.codec || m_passing) {
        m_passing = false;
        {
            sys::Locker lock(m_renderLock);
            if (m_surface)
                m_surface->Release();
            m_surface = m_view ? m_view->CreateYuvSurface(width, height) : nullptr;
            SelectRender();
        }
        media::DecoderClose(m_decoder);
        media::DecoderOpen(m_decoder, codec, width, height, m_outputFormat);
        ++m_decoderOpens;
        m_pictureBuffer.clear();
        {
            sys::Locker geometry(m_geometryLock);
            m_picture.width = static_cast<std::uint32_t>(width);
            m_picture.height = static_cast<std::uint32_t>(height);
        }
        OnPictureSize(width, height);
    }
    if (m_decoder.width == 0)
        return;
    RenderPath path;
    {
        sys::Locker lock(m_renderLock);
        path = m_renderPath;
    }
    // Windows that take the decoder's planes get them as they are; the
    // others a packed copy (I420 or BGRA as the decoder was opened).
    m_picture.yuv = gfx::YuvPicture {};
    m_picture.buffer = nullptr;
    if (path == RenderPath::Yuv && TakesDecodedPicture() && m_decoder.outputFormat == media::PixelFormat::Yuv420p) {
        if (!media::DecoderDecodePicture(m_decoder, frame.payload, static_cast<std::size_t>(frame.size), m_picture.yuv))
            return;
    } else {
        m_pictureBuffer.resize(static_cast<std::size_t>(std::max(m_decoder.outputSize, 0)));
        m_picture.buffer = m_pictureBuffer.empty() ? nullptr : m_pictureBuffer.data();
        m_picture.size = static_cast<std::uint32_t>(m_pictureBuffer.size());
        if (!m_picture.buffer || !media::DecoderDecode(m_decoder, frame.payload, static_cast<std::size_t>(frame.size), m_picture.buffer))
            return;
    }
    m_picture.passThrough1 = frame.passThrough1;
    m_picture.passThrough2 = frame.passThrough2;
    sys::Locker lock(m_renderLock);
    ++m_drawnFrames;
    switch (m_renderPath) {
    case RenderPath::Yuv: DrawYuvFrame(m_picture, width, height); break;
    case RenderPath::Rgb: DrawRgbFrame(m_picture, width, height); break;
    case RenderPath::Plain: DrawPlainFrame(m_picture, width, height); break;
    }
    media::Probe(media::ProbePoint::FrameComposed, this);
    // The frame reaches the screen now, not at the watchdog's next tick
    // (which still presents what its timeline draws: black, the texts).
    // A lost surface is left for the tick to report and the hub to rebuild.
    if (Shown())
        PresentComposed();
}

void CPlayBase::passFrame(media::VideoPassThrough& pass, media::Codec codec, const FrameRecord& frame, int width, int height)
{
    // Under the decoder lock. A new size or coding is met as a decoded one
    // would be (the surfaces, the picture's size, the window's own answer),
    // with no decoder behind it: the decoder's size stands for the size of
    // the pictures this thread handles, which the recorder compares with.
    if (width != m_decoder.width || height != m_decoder.height || codec != m_decoder.codec || !m_passing) {
        {
            sys::Locker lock(m_renderLock);
            if (m_surface)
                m_surface->Release();
            m_surface = m_view ? m_view->CreateYuvSurface(width, height) : nullptr;
            SelectRender();
        }
        media::DecoderClose(m_decoder);
        m_decoder.width = width;
        m_decoder.height = height;
        m_decoder.codec = codec;
        m_passing = true;
        {
            sys::Locker geometry(m_geometryLock);
            m_picture.width = static_cast<std::uint32_t>(width);
            m_picture.height = static_cast<std::uint32_t>(height);
        }
        OnPictureSize(width, height);
    }
    if (!Shown())
        return; // not shown: nobody sees it
    media::PassedFrame passed;
    passed.player = this;
    passed.codec = codec;
    passed.data = frame.payload;
    passed.size = static_cast<std::size_t>(std::max(frame.size, 0));
    passed.keyFrame = frame.keyFrame != 0;
    passed.width = width;
    passed.height = height;
    sys::Locker lock(m_renderLock);
    ++m_drawnFrames;
    PassFrame(pass, passed);
    media::Probe(media::ProbePoint::FrameComposed, this);
}

void CPlayBase::ComputeDisplayRect()
{
    RECT window {};
    ui::GetWindowRect(m_drawWindow ? m_drawWindow : m_hWnd, &window);
    LONG W = ui::Width(window), H = ui::Height(window);
    sys::Locker lock(m_geometryLock);
    LONG w = static_cast<LONG>(m_picture.width), h = static_cast<LONG>(m_picture.height);
    if (w <= 0 || h <= 0) {
        m_displayRect = RECT { 0, 0, W, H };
        return;
    }
    if (w == static_cast<LONG>(kNativeWidth) && W >= static_cast<LONG>(kNativeWidth) && H >= static_cast<LONG>(kNativeMinHeight)) {
        m_displayRect = RECT { W / 2 - static_cast<LONG>(kNativeWidth) / 2, H / 2 - h / 2, W / 2 + static_cast<LONG>(kNativeWidth) / 2, H / 2 + h / 2 };
        return;
    }
    float sx = static_cast<float>(W) / static_cast<float>(w);
    float sy = static_cast<float>(H) / static_cast<float>(h);
    if (sy <= sx) {
        LONG scaled = static_cast<LONG>(sy * static_cast<float>(w));
        LONG left = (W - scaled) / 2;
        m_displayRect = RECT { left, 0, left + scaled, H };
    } else {
        LONG scaled = static_cast<LONG>(sx * static_cast<float>(h));
        LONG top = (H - scaled) / 2;
        m_displayRect = RECT { 0, top, W, top + scaled };
    }
}

SIZE CPlayBase::PictureSize() const
{
    sys::Locker lock(m_geometryLock);
    return SIZE { static_cast<LONG>(m_picture.width), static_cast<LONG>(m_picture.height) };
}

RECT CPlayBase::GetDisplayRect()
{
    sys::Locker lock(m_geometryLock);
    return m_displayRect;
}

void CPlayBase::DetachView()
{
    if (m_surface)
        m_surface->Release();
    m_surface = nullptr;
    m_view = nullptr;
}

void CPlayBase::ReattachView()
{
    sys::Locker lock(m_renderLock);
    DetachView();
    Attach(m_notifyWindow, ui::GetSystemMetrics(SM_CXSCREEN), ui::GetSystemMetrics(SM_CYSCREEN), m_hub);
    if (m_surface)
        m_surface->Release();
    m_surface = (m_view && m_width && m_height) ? m_view->CreateYuvSurface(static_cast<int>(m_width), static_cast<int>(m_height)) : nullptr;
    SelectRender();
}

bool CPlayBase::showInControl(HWND window, LPARAM id, int inset)
{
    if (!m_hub || id != m_hub->ActiveWindow() || !m_notifyWindow)
        return false;
    RECT client {};
    ui::SetParent(window, m_notifyWindow);
    ui::GetClientRect(m_notifyWindow, &client);
    ui::SetWindowPos(window, nullptr, inset, inset, ui::Width(client) - 2 * inset, ui::Height(client) - 2 * inset, SWP_SHOWWINDOW);
    ui::ShowWindow(window, SW_SHOW);
    return true;
}
