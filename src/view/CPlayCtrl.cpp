#include "view/CPlayCtrl.h"

#include "ui/Input.h"
#include "ui/Monitor.h"

namespace {
constexpr DWORD kFullScreenStyle = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
}

CPlayCtrl::~CPlayCtrl()
{
    DestroyMenu();
}

void CPlayCtrl::DestroyMenu()
{
    if (m_menu)
        ui::DestroyMenu(m_menu);
    m_menu = nullptr;
}

CLiveCtrl::CLiveCtrl() : CPlayCtrl(kLiveWindowId)
{
    m_keepRatio = true;
}

void CLiveCtrl::ToggleScreenPtz(int, int)
{
    m_screenPtz = !m_screenPtz;
}

int CLiveCtrl::BeginPtzMove()
{
    m_ptzMoving = true;
    return m_ptzDirection;
}

CPbCtrl::CPbCtrl() : CPlayCtrl(kPlaybackWindowId)
{
    m_keepRatio = true;
}

void CPlayCtrl::ToggleFullScreen()
{
    if (!m_hWnd)
        return;
    RECT windowRect {};
    ui::GetWindowRect(m_hWnd, &windowRect);
    MONITORINFO monitor {};
    monitor.cbSize = sizeof monitor;
    ui::GetMonitorInfo(ui::MonitorFromRect(&windowRect, MONITOR_DEFAULTTONEAREST), &monitor);
    if (IsScreenPtz())
        return;
    if (!m_parent)
        m_parent = ui::GetParent(m_hWnd);
    if (!m_fullScreen) {
        ui::SetWindowLongPtr(m_hWnd, GWL_STYLE, kFullScreenStyle);
        ui::GetClientRect(m_parent, &m_savedRect);
        ui::SetParent(m_hWnd, nullptr);
        m_fullScreen = true;
        const RECT& r = monitor.rcMonitor;
        ui::SetWindowPos(m_hWnd, nullptr, r.left, r.top, ui::Width(r), ui::Height(r), SWP_SHOWWINDOW);
        ui::SetCapture(m_hWnd);
        return;
    }
    ui::SetWindowLongPtr(m_hWnd, GWL_STYLE, kChildStyle);
    ui::SetParent(m_hWnd, m_parent);
    m_fullScreen = false;
    ui::ReleaseCapture();
    const RECT& r = m_savedRect;
    if (GetId() == kLiveWindowId)
        ui::SetWindowPos(m_hWnd, nullptr, r.left + 1, r.top + 1, ui::Width(r) - 2, ui::Height(r) - 2, SWP_SHOWWINDOW);
    else
        ui::SetWindowPos(m_hWnd, nullptr, r.left, r.top, ui::Width(r), ui::Height(r), SWP_SHOWWINDOW);
}

void CPbCtrl::Pause()
{
    if (KzHandle channel = GetChannel())
        kz_pause_media(channel);
}

void CPbCtrl::Resume()
{
    if (KzHandle channel = GetChannel())
        kz_resume_media(channel);
}
