// The stream player's video: sizes from the bitstream, the decoder, the
// render selection and the hand-over to the window's drawing operation,
// all on the network library's frame thread.

#include "media/CPlayBase.h"

#include "audio/CMediaHub.h"
#include "control/ControlIds.h"
#include "view/CPlayView.h"

#include "gfx/Surface.h"
#include "ui/Monitor.h"

namespace {

// A sequence parameter set after a four-byte start code: its NAL header is
// the fifth byte.
constexpr std::size_t kNalHeaderOffset = 4;
constexpr std::uint8_t kSpsNalHeader = 0x67;
constexpr std::uint32_t kNativeWidth = 320;
constexpr std::uint32_t kNativeMinHeight = 240;

}

void CPlayBase::OnVideoFrame(int kind, const FrameRecord& frame)
{
    m_silence = 0;
    const std::uint8_t* payload = frame.payload;
    std::size_t size = static_cast<std::size_t>(frame.size);
    std::uint32_t width = m_width, height = m_height;
    if (kind == kz::kFrameH264) {
        if (size > kNalHeaderOffset + 1 && payload[kNalHeaderOffset] == kSpsNalHeader)
            media::ProbeH264Size(payload + kNalHeaderOffset + 1, size - kNalHeaderOffset - 1, width, height);
    } else {
        media::ProbeJpegSize(payload, size, width, height);
    }
    m_width = width;
    m_height = height;
    if (width == 0 || height == 0)
        return; // no size yet: nothing can be drawn

    if (m_recordingArmed) {
        bool sizeChanged = m_decoder.width != static_cast<int>(width) || m_decoder.height != static_cast<int>(height);
        if (kind == kz::kFrameH264 ? (m_recordFrameRate == 0 || sizeChanged) : m_recordFrameRate != frame.frameRate)
            StartRecordFile(frame.frameRate);
        if (m_restartFile.exchange(false))
            StartRecordFile(frame.frameRate);
        if (frame.keyFrame)
            m_gotKeyFrame = true;
        if (m_gotKeyFrame && m_recordingArmed && WriteVideoSample(frame, frame.keyFrame != 0) == 1 && kind == kz::kFrameH264)
            ui::PostMessage(m_notifyWindow, control::kMsgRecordStopped, 0, 0);
    }
    DecodeAndDraw(kind == kz::kFrameH264 ? media::Codec::H264 : media::Codec::Mjpeg, frame);
}

void CPlayBase::SelectRender()
{
    // Under the render lock.
    if (!m_view || !m_view->device || !m_view->primary || !m_view->composition) {
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

void CPlayBase::DecodeAndDraw(media::Codec codec, const FrameRecord& frame)
{
    int width = static_cast<int>(m_width), height = static_cast<int>(m_height);
    if (width != m_decoder.width || height != m_decoder.height || codec != m_decoder.codec) {
        {
            sys::Locker lock(m_renderLock);
            if (m_surface)
                m_surface->Release();
            m_surface = m_view ? m_view->CreateYuvSurface(width, height) : nullptr;
            SelectRender();
        }
        {
            sys::Locker lock(m_decoderLock);
            media::DecoderClose(m_decoder);
            media::DecoderOpen(m_decoder, codec, width, height, m_outputFormat);
            ++m_decoderOpens;
        }
        m_pictureBuffer.assign(static_cast<std::size_t>(std::max(m_decoder.outputSize, 0)), 0);
        m_picture.buffer = m_pictureBuffer.empty() ? nullptr : m_pictureBuffer.data();
        m_picture.size = static_cast<std::uint32_t>(m_pictureBuffer.size());
        m_picture.width = static_cast<std::uint32_t>(width);
        m_picture.height = static_cast<std::uint32_t>(height);
        sys::Locker lock(m_decoderLock);
        OnPictureSize(width, height);
    }
    if (m_decoder.width == 0 || m_pictureBuffer.empty())
        return;
    if (!media::DecoderDecode(m_decoder, frame.payload, static_cast<std::size_t>(frame.size), m_pictureBuffer.data()))
        return;
    m_picture.passThrough1 = frame.passThrough1;
    m_picture.passThrough2 = frame.passThrough2;
    sys::Locker lock(m_renderLock);
    ++m_drawnFrames;
    switch (m_renderPath) {
    case RenderPath::Yuv: DrawYuvFrame(m_picture, width, height); break;
    case RenderPath::Rgb: DrawRgbFrame(m_picture, width, height); break;
    case RenderPath::Plain: DrawPlainFrame(m_picture, width, height); break;
    }
}

void CPlayBase::ComputeDisplayRect()
{
    RECT window {};
    ui::GetWindowRect(m_drawWindow ? m_drawWindow : m_hWnd, &window);
    LONG W = ui::Width(window), H = ui::Height(window);
    LONG w = static_cast<LONG>(m_picture.width), h = static_cast<LONG>(m_picture.height);
    sys::Locker lock(m_geometryLock);
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

bool CPlayBase::StartRecordFile(int frameRate)
{
    // No recorder in this build: the armed recording ends here, once.
    sys::Locker lock(m_recordLock);
    m_recordFrameRate = frameRate;
    if (!m_recordingArmed.exchange(false))
        return false;
    ui::PostMessage(m_notifyWindow, control::kMsgRecordStopped, 0, 0);
    return false;
}

int CPlayBase::WriteVideoSample(const FrameRecord&, bool)
{
    return 1;
}
