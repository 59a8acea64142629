#include "view/CLiveCtrl.h"

#include "media/VideoPassThrough.h"

#include "view/Notifications.h"

#include "media/CMediaHub.h"

#include "resources/Bitmaps.h"
#include "resources/StringTable.h"

#include "gfx/DirectDraw.h"
#include "gfx/Pixels.h"
#include "gfx/Surface.h"
#include "ui/Input.h"

#include <algorithm>

namespace {

// A picture this size or smaller is a small one.
constexpr std::uint32_t kSmallPictureWidth = 320;
constexpr std::uint32_t kSmallPictureHeight = 240;

constexpr COLORREF kAlarmDotColour = RGB(255, 0, 0);
constexpr COLORREF kRecordDotColour = RGB(0, 255, 0);
// The dots sit in the picture's bottom right corner: alarm 50 to 25
// pixels in from the right and bottom, recording 50 pixels left of it.
constexpr int kDotNear = 25;
constexpr int kDotFar = 50;
constexpr int kRecordDotShift = 50;

constexpr COLORREF kStatusTextColour = RGB(255, 255, 255);
constexpr int kStatusTextX = 10;
constexpr int kStatusTextY = 50;
// "connecting" plus up to three dots.
constexpr std::size_t kStatusTextChars = 100;
constexpr const char16_t* kDots[] = { u"", u".", u"..", u"..." };

}

CLiveCtrl::CLiveCtrl() : CPlayCtrl(kLiveWindowId)
{
    m_font = MakeWindowFont();
    m_keepRatio = true;
    m_silence = kLiveSilenceIdle;
}

CLiveCtrl::~CLiveCtrl()
{
    sys::Locker lock(m_renderLock);
    releaseDrawing();
}

void CLiveCtrl::releaseDrawing()
{
    if (m_marker)
        m_marker->Release();
    m_marker = nullptr;
    if (m_redBrush)
        gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(m_redBrush));
    if (m_greenBrush)
        gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(m_greenBrush));
    m_redBrush = m_greenBrush = nullptr;
}

void CLiveCtrl::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    sys::Locker lock(m_renderLock);
    CPlayCtrl::Attach(notifyWindow, screenWidth, screenHeight, hub);
    releaseDrawing();
    if (m_view) {
        gfx::HBITMAP bitmap = resources::LoadBitmap(resources::kBitmapPtzMarker);
        m_marker = m_view->CreateBitmapSurface(bitmap, resources::kPtzMarkerWidth, resources::kPtzMarkerHeight);
        if (bitmap)
            gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(bitmap));
        if (m_marker) {
            gfx::DDCOLORKEY black { 0, 0 };
            m_marker->SetColorKey(gfx::DDCKEY_SRCBLT, &black);
        }
    }
    m_redBrush = gfx::CreateSolidBrush(kAlarmDotColour);
    m_greenBrush = gfx::CreateSolidBrush(kRecordDotColour);
}

bool CLiveCtrl::IsViewReady()
{
    sys::Locker lock(m_renderLock);
    return CPlayCtrl::IsViewReady() && m_marker;
}

void CLiveCtrl::CloseStream()
{
    CPlayCtrl::CloseStream();
    m_silence = kLiveSilenceIdle;
}

void CLiveCtrl::DetachView()
{
    releaseDrawing();
    CPlayCtrl::DetachView();
}

void CLiveCtrl::OnPictureSize(int width, int height)
{
    CPlayCtrl::OnPictureSize(width, height);
    if (static_cast<std::uint32_t>(width) > kSmallPictureWidth || static_cast<std::uint32_t>(height) > kSmallPictureHeight)
        m_smallVideo = false;
    else
        ui::PostMessage(m_notifyWindow, view::kNotifySmallPicture, 0, 0);
}

void CLiveCtrl::DrawRgbFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view || !m_back || !picture.buffer)
        return;
    m_view->DrawRgbFrame(m_back, picture.buffer, width, height);
    finishFrame(width, height);
}

void CLiveCtrl::DrawYuvFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view)
        return;
    if (picture.yuv.planes[0]) {
        composePicture(picture.yuv, width, height);
        return;
    }
    if (!m_back || !picture.buffer)
        return;
    if (FAILED(m_view->DrawYuvFrame(m_surface, m_back, picture.buffer, width, height)))
        return; // the frame is dropped
    finishFrame(width, height);
}

RECT CLiveCtrl::dotsBox(int w, int h) const
{
    const bool alarm = m_alarmFlag, recording = m_recordingArmed;
    if (!alarm && !recording)
        return RECT {};
    // The dots' squares with a pixel's margin for the outline, within the picture.
    RECT box { w - kDotFar - (recording ? kRecordDotShift : 0) - 1, h - kDotFar - 1, w - kDotNear + 1, h - kDotNear + 1 };
    return ui::Intersect(box, RECT { 0, 0, w, h });
}

void CLiveCtrl::drawDots(int w, int h)
{
    const bool alarm = m_alarmFlag, recording = m_recordingArmed;
    if (!alarm && !recording)
        return;
    HDC dc = nullptr;
    if (FAILED(m_back->GetDC(&dc)))
        return;
    gfx::HGDIOBJ old = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_redBrush));
    if (alarm)
        gfx::Ellipse(dc, w - kDotFar, h - kDotFar, w - kDotNear, h - kDotNear);
    if (recording) {
        gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_greenBrush));
        gfx::Ellipse(dc, w - kDotFar - kRecordDotShift, h - kDotFar, w - kDotNear - kRecordDotShift, h - kDotNear);
    }
    gfx::SelectObject(dc, old);
    m_back->ReleaseDC(dc);
}

void CLiveCtrl::finishFrame(int w, int h)
{
    drawDots(w, h);
    // The picture and the marker over it reach the composition surface
    // under one hold of the window lock, so no present shows one without
    // the other.
    sys::Locker lock(m_windowLock);
    compose();
    drawMarker();
}

void CLiveCtrl::composePicture(const gfx::YuvPicture& picture, int w, int h)
{
    // The picture goes straight onto the composition surface at the size
    // it is shown; only the square around the dots passes through the back
    // surface, where they are drawn at the picture's scale.
    const RECT zoom = GetZoomRect();
    const RECT box = m_back ? dotsBox(w, h) : RECT {};
    {
        sys::Locker lock(m_windowLock);
        RECT display {};
        const RECT* shown = nullptr;
        if (m_keepRatio) {
            ComputeDisplayRect();
            display = GetDisplayRect();
            shown = &display;
        }
        // When the picture is presented right after with nothing drawn
        // over it (no dots, no marker), it may go onto the screen at once.
        const bool bare = ui::IsEmpty(box) && !(m_screenPtz && m_marker);
        const HWND presentTo = shown && bare && Shown() ? m_hWnd : nullptr;
        if (FAILED(m_view->ComposePicture(picture, zoom, shown, presentTo)))
            return;
        if (!ui::IsEmpty(box) && SUCCEEDED(m_back->BltPicture(box, picture, box))) {
            drawDots(w, h);
            m_view->ComposeWithin(m_back, zoom, shown, box);
        }
        drawMarker();
    }
}

void CLiveCtrl::PassFrame(media::VideoPassThrough& pass, media::PassedFrame& frame)
{
    gfx::Surface* composition = m_view ? m_view->Composition() : nullptr;
    RECT window {};
    if (!composition || !m_hWnd || !ui::GetWindowRect(m_hWnd, &window))
        return;
    const RECT zoom = GetZoomRect();
    {
        sys::Locker lock(m_windowLock);
        RECT display {};
        const RECT* shown = nullptr;
        if (m_keepRatio) {
            ComputeDisplayRect();
            display = GetDisplayRect();
            shown = &display;
        }
        // The composition surface reaches the window one to one with keep
        // ratio on, and stretched over the whole window without.
        frame.source = zoom;
        frame.target = shown ? ui::Offset(display, window.left, window.top) : window;
        pass.OnFrame(frame);
        const KeyState state { zoom, display, shown != nullptr, m_alarmFlag, m_recordingArmed, m_screenPtz && m_marker, m_markerX, m_markerY, frame.width, frame.height };
        if (state != m_keyState || composition->Writes() != m_keyWrites) {
            if (FAILED(m_view->ComposeFill(gfx::kPassThroughKey, shown)))
                return;
            const RECT box = m_back ? dotsBox(frame.width, frame.height) : RECT {};
            if (!ui::IsEmpty(box)) {
                gfx::DDBLTFX fx {};
                fx.dwSize = sizeof fx;
                fx.dwFillColor = gfx::kPassThroughKey;
                RECT fill = box;
                if (SUCCEEDED(m_back->Blt(&fill, nullptr, nullptr, gfx::DDBLT_COLORFILL | gfx::DDBLT_WAIT, &fx))) {
                    drawDots(frame.width, frame.height);
                    m_view->ComposeWithin(m_back, zoom, shown, box);
                }
            }
            drawMarker();
            m_keyState = state;
            m_keyWrites = composition->Writes();
        }
    }
    present();
}

// Under the window lock.
void CLiveCtrl::drawMarker()
{
    if (m_screenPtz && m_marker) {
        if (gfx::Surface* composition = m_view->Composition())
            composition->BltFast(static_cast<DWORD>(m_markerX.load()), static_cast<DWORD>(m_markerY.load()), m_marker, nullptr, gfx::DDBLTFAST_WAIT | gfx::DDBLTFAST_SRCCOLORKEY);
    }
}

void CLiveCtrl::drawStatus(int id, const char16_t* suffix)
{
    std::u16string text = resources::LoadString(id + languageBase(), kStatusTextChars);
    text += suffix;
    m_view->DrawText(m_view->Composition(), kStatusTextX, kStatusTextY, text.c_str(), m_font, kStatusTextColour);
}

HRESULT CLiveCtrl::OnTick()
{
    // The counter moves in single steps that a frame's reset to 0 may
    // overtake at any time; every jump is a compare-exchange, so a frame
    // that arrived in between is never overwritten.
    std::int32_t t = m_silence.fetch_add(1) + 1;
    sys::Locker render(m_renderLock);
    if (!m_view)
        return S_OK;
    if (t >= kLiveSilenceBlack) {
        sys::Locker lock(m_windowLock);
        m_view->ClearComposition();
        if (t == kLiveSilenceStall) {
            // The camera is told on the channel, when one is open; listen
            // and talk stop and the control reports the stall to the page.
            if (KzHandle channel = GetChannel())
                kz_post_media_msg(channel, kz::kMediaMsgStall, 0, 0);
            m_audioOn = false;
            StopTalkCapture();
            ui::PostMessage(m_notifyWindow, view::kNotifyLiveAudioState, 0, 0);
            m_width = 0; // the next picture's size is read again
            m_height = 0;
            if (m_silence.compare_exchange_strong(t, kLiveSilenceConnecting))
                t = kLiveSilenceConnecting;
        }
        if (t >= kLiveSilenceConnecting && t <= kLiveSilenceCycleEnd) {
            const int dots = t == kLiveSilenceCycleEnd ? 0 : (t - kLiveSilenceConnecting) / kLiveSilenceDotTicks;
            drawStatus(resources::kStringConnecting, kDots[std::clamp(dots, 0, 3)]);
            if (t == kLiveSilenceCycleEnd)
                m_silence.compare_exchange_strong(t, kLiveSilenceConnecting);
        } else if (t >= kLiveSilenceIdle) {
            m_silence.compare_exchange_strong(t, kLiveSilenceIdle);
        }
    }
    if (!m_connected) {
        sys::Locker lock(m_windowLock);
        drawStatus(resources::kStringConnectFail, u"");
    }
    HRESULT result = present();
    return result;
}

HMENU CLiveCtrl::BuildMenu()
{
    if (!m_owner)
        return nullptr;
    DestroyMenu();
    m_menu = ui::CreatePopupMenu();
    if (m_screenPtz) {
        appendItem(m_menu, resources::kStringScreenPtz, kCommandScreenPtz, true);
    } else {
        appendViewItems(m_menu);
        if (m_fullScreen && ptzCapable)
            appendItem(m_menu, resources::kStringScreenPtz, kCommandScreenPtz, false);
    }
    ui::AppendMenuW(m_menu, MF_SEPARATOR, 0, nullptr);
    appendZoomItems(m_menu);
    m_menuOpen = true;
    return m_menu;
}

void CLiveCtrl::ToggleScreenPtz(int x, int y)
{
    m_screenPtz = !m_screenPtz;
    if (m_screenPtz) {
        ui::SetCapture(m_hWnd);
        m_markerX = x - kPtzMarkerOffset;
        m_markerY = y - kPtzMarkerOffset;
        m_dragX = m_markerX;
        m_dragY = m_markerY;
        POINT cursor { x - kPtzCursorJump, y - kPtzCursorJump };
        ui::ClientToScreen(m_hWnd, &cursor);
        ui::SetCursorPos(cursor.x, cursor.y);
        setCursor(kPtzCentreDirection);
    } else {
        ui::ReleaseCapture();
        m_markerX = kPtzMarkerOff;
        m_markerY = kPtzMarkerOff;
        POINT cursor { x + kPtzCursorJump, y + kPtzCursorJump };
        ui::ClientToScreen(m_hWnd, &cursor);
        ui::SetCursorPos(cursor.x, cursor.y);
    }
}

bool CLiveCtrl::TrackPtzCursor(int x, int y)
{
    if (m_moving) {
        setCursor(m_direction);
        return true;
    }
    const int column = x < m_dragX - kPtzDeadZone ? 0 : (x > m_dragX + kPtzDeadZone ? 2 : 1);
    const int row = y < m_dragY - kPtzDeadZone ? 0 : (y > m_dragY + kPtzDeadZone ? 2 : 1);
    const int index = row * 3 + column;
    setCursor(index);
    return m_direction.exchange(index) != index;
}

int CLiveCtrl::BeginPtzMove()
{
    m_moving = true;
    return m_direction;
}

void CLiveCtrl::SetAudioBlockLength(std::int32_t length)
{
    KzHandle channel = GetChannel();
    if (!channel || length == 0)
        return;
    m_audioLength = length;
    kz_post_media_msg(channel, kz::kMediaMsgAudioLength, length, 0);
}

void CLiveCtrl::SetStreamInfo(const std::uint8_t* info, std::size_t size)
{
    std::size_t n = std::min(size, sizeof m_streamInfo);
    std::copy(info, info + n, m_streamInfo);
    if (GetPictureWidth() <= kSmallPictureWidth && GetPictureHeight() <= kSmallPictureHeight)
        m_smallVideo = true;
}
