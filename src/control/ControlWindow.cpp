// The control window's procedure: every internal message that other
// threads and the control's own windows post, the CGI time-out, painting.

#include "control/TiravexCtrl.h"

#include "link/EventCodes.h"
#include "resources/StringTable.h"

#include <string>

namespace control {

namespace {

// The playback states 0..3 of message 1230.
constexpr int kPlaybackStates = 4;

}

LRESULT CTiravexCtrl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    using namespace devlink;
    switch (message) {
    case kMsgRoadMessage: {
        auto* record = reinterpret_cast<RoadMessage*>(wParam);
        auto* payload = reinterpret_cast<std::uint8_t*>(lParam);
        if (record && payload)
            onRoadMessage(record->type, payload, record->length);
        delete[] payload;
        delete record;
        break;
    }
    case kMsgStreamStatus:
        if (lParam == kLiveWindowId)
            event(kEventStreamOpen, {}, Delivery::IfActive);
        break;
    case kMsgMaskTooSmall:
        break;
    case kMsgPlaybackStopped:
        event(kEventPlaybackStopped, {}, Delivery::Forced);
        break;
    case kMsgPlaybackEnd:
        event(kEventPlaybackEnd, {}, Delivery::Forced);
        break;
    case kMsgPlaybackProgress:
        event(kEventPlaybackProgress, { static_cast<std::int32_t>(lParam) }, Delivery::Forced);
        break;
    case kMsgPlaybackState:
        if (wParam < kPlaybackStates)
            event(kEventPlaybackState, { static_cast<std::int32_t>(wParam) }, Delivery::Forced);
        break;
    case kMsgSmallPicture:
        if (m_road)
            kz_post_ctrl_road_msg(m_road, 14, static_cast<std::intptr_t>(wParam), lParam);
        break;
    case kMsgOpenRoad:
        onOpenRoad(static_cast<int>(wParam), static_cast<int>(lParam));
        break;
    case kMsgDeviceFound:
        onSearchAnswer(wParam, true);
        break;
    case kMsgSearchAnswer:
        onSearchAnswer(wParam, false);
        break;
    case kMsgViewCannotOpen:
        event(kEventViewCannotOpen, {}, Delivery::IfActive);
        break;
    case kMsgPtzDirection:
        event(kEventPtzDirection, { static_cast<std::int32_t>(wParam) }, Delivery::IfActive);
        break;
    case kMsgHttpsPort:
        event(kEventHttpsPort, { static_cast<std::int32_t>(lParam), static_cast<std::int32_t>(wParam) }, Delivery::Always);
        break;
    case kMsgTalkStarted:
        event(kEventTalkStarted, { static_cast<std::int32_t>(wParam) }, Delivery::IfActive);
        break;
    case kMsgTalkStopped:
        event(kEventTalkStopped, { static_cast<std::int32_t>(wParam) }, Delivery::IfActive);
        break;
    case kMsgCaptureFailed:
        event(kEventCaptureFailed, {}, Delivery::IfActive);
        break;
    case kMsgLiveAudioState:
        event(kEventStreamStalled, { std::int32_t { m_live.m_talkCaptureOn ? 1 : 0 }, std::int32_t { m_live.m_audioOn ? 1 : 0 } }, Delivery::IfActive);
        break;
    case kMsgRecordStarted:
        event(kEventRecordStarted, { m_self }, Delivery::Always);
        break;
    case kMsgRecordStopped:
        event(kEventRecordStopped, { m_self }, Delivery::Always);
        break;
    case kMsgDiskFull:
        event(kEventDiskFull, { m_self }, Delivery::IfActive);
        break;
    case kMsgRecordPathFailed:
        event(kEventRecordPathFailed, { m_self }, Delivery::IfActive);
        break;
    case kMsgAlarmRecordTime:
        event(kEventAlarmRecordTime, { static_cast<std::int32_t>(wParam) }, Delivery::IfActive);
        break;
    case kMsgLinkLost:
        event(kEventLinkLost, {}, Delivery::IfActive);
        break;
    case kMsgSnapshotClosed:
        if (m_snapshotCount > 0)
            --m_snapshotCount;
        break;
    case WM_TIMER:
        if (wParam == kCgiTimer)
            onCgiTimeout();
        break;
    case WM_PAINT: {
        gfx::PAINTSTRUCT paint {};
        HDC dc = gfx::BeginPaint(window, &paint);
        paintControl(dc);
        gfx::EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // painting covers the whole control
    default:
        break;
    }
    // Everything also goes on to the framework's own handling.
    return COleControl::WindowProc(window, message, wParam, lParam);
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
        const char16_t* text = resources::LoadStringW(resources::kStringConnectFail + m_audio->m_language);
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
