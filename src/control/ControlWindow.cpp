// The control window's procedure: the notifications the video windows, the
// stream players, the hub and the editors post, the control's own
// messages, the CGI time-out and painting. Every message then goes on to
// the framework's own handling.

#include "control/TiravexCtrl.h"

#include "control/EventCodes.h"

#include "editors/Notifications.h"
#include "media/Notifications.h"
#include "resources/StringTable.h"
#include "view/Notifications.h"

#include <string>

namespace control {

LRESULT CTiravexCtrl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case media::kNotifyStreamStatus:
        if (lParam == kLiveWindowId)
            event(kEventStreamOpen, {}, Delivery::IfActive);
        break;
    case editors::kNotifyMaskTooSmall:
        break;
    case view::kNotifyPlaybackStopped:
        event(kEventPlaybackStopped, {}, Delivery::Forced);
        break;
    case view::kNotifyPlaybackEnd:
        event(kEventPlaybackEnd, {}, Delivery::Forced);
        break;
    case view::kNotifyPlaybackProgress:
        event(kEventPlaybackProgress, { static_cast<std::int32_t>(lParam) }, Delivery::Forced);
        break;
    case view::kNotifyPlaybackState:
        if (wParam < view::kPlaybackStates)
            event(kEventPlaybackState, { static_cast<std::int32_t>(wParam) }, Delivery::Forced);
        break;
    case view::kNotifySmallPicture:
        m_link.SendCommand(kz::kCmdSmallPicture, static_cast<std::intptr_t>(wParam), lParam);
        break;
    case kMsgViewCannotOpen:
        event(kEventViewCannotOpen, {}, Delivery::IfActive);
        break;
    case media::kNotifyTalkStarted:
        event(kEventTalkStarted, { static_cast<std::int32_t>(wParam) }, Delivery::IfActive);
        break;
    case media::kNotifyTalkStopped:
        event(kEventTalkStopped, { static_cast<std::int32_t>(wParam) }, Delivery::IfActive);
        break;
    case media::kNotifyCaptureFailed:
        event(kEventCaptureFailed, {}, Delivery::IfActive);
        break;
    case view::kNotifyLiveAudioState:
        event(kEventStreamStalled, { std::int32_t { m_live.m_talkCaptureOn ? 1 : 0 }, std::int32_t { m_live.m_audioOn ? 1 : 0 } }, Delivery::IfActive);
        break;
    case media::kNotifyRecordStarted:
        event(kEventRecordStarted, { m_self }, Delivery::Always);
        break;
    case media::kNotifyRecordStopped:
        event(kEventRecordStopped, { m_self }, Delivery::Always);
        break;
    case media::kNotifyDiskFull:
        event(kEventDiskFull, { m_self }, Delivery::IfActive);
        break;
    case media::kNotifyRecordPathFailed:
        event(kEventRecordPathFailed, { m_self }, Delivery::IfActive);
        break;
    case kMsgAlarmRecordTime:
        event(kEventAlarmRecordTime, { static_cast<std::int32_t>(wParam) }, Delivery::IfActive);
        break;
    case media::kNotifyLinkLost:
        event(kEventLinkLost, {}, Delivery::IfActive);
        break;
    case view::kNotifySnapshotClosed:
        if (m_snapshotCount > 0)
            --m_snapshotCount;
        break;
    case WM_TIMER:
        if (wParam == kCgiTimer)
            onCgiTimeout();
        break;
    case WM_PAINT: {
        // BeginPaint first has the background erased (by the framework's
        // own handling of the erase message below), then the frame is drawn.
        gfx::PAINTSTRUCT paint {};
        HDC dc = gfx::BeginPaint(window, &paint);
        paintControl(dc);
        gfx::EndPaint(window, &paint);
        break;
    }
    default:
        break;
    }
    // Everything also goes on to the framework's own handling.
    return COleControl::WindowProc(window, message, wParam, lParam);
}

void CTiravexCtrl::onCgiTimeout()
{
    ui::KillTimer(m_hWnd, kCgiTimer);
    m_cgiPending = 0;
    cgiToPage(kCgiTimeoutText, kCgiTimeoutLength);
}

void CTiravexCtrl::paintFrame(HDC dc)
{
    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    gfx::HGDIOBJ pen = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_active ? m_penSelected : m_penNormal));
    gfx::HGDIOBJ brush = gfx::SelectObject(dc, gfx::GetStockObject(gfx::NULL_BRUSH));
    gfx::Rectangle(dc, client.left, client.top, client.right, client.bottom);
    gfx::SelectObject(dc, brush);
    gfx::SelectObject(dc, pen);
}

void CTiravexCtrl::paintControl(HDC dc)
{
    if (!dc)
        return;
    paintFrame(dc);
    if (m_live.m_silence >= kSilenceForBlack)
        paintLiveArea();
}

void CTiravexCtrl::paintLiveArea()
{
    HWND live = m_live.GetHwnd();
    if (!live)
        return;
    HDC dc = gfx::GetDC(live);
    if (!dc)
        return;
    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    gfx::FillRect(dc, &client, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::BLACK_BRUSH)));
    // RegMy was called but no login completed.
    if (!m_live.m_videoStarted && !m_live.GetHub() && m_live.m_registered) {
        const char16_t* text = resources::LoadStringW(resources::kStringConnectFail + m_audio->Language());
        if (text) {
            gfx::SetTextColor(dc, kConnectFailColour);
            gfx::SetBkMode(dc, gfx::TRANSPARENT);
            gfx::TextOutW(dc, kConnectFailX, kConnectFailY, text, static_cast<int>(std::char_traits<char16_t>::length(text)));
        }
    }
    gfx::ReleaseDC(live, dc);
    // The live window's own erase would paint over what was just drawn.
    ui::ValidateRect(live, nullptr);
}

}
