#include "view/CPlayCtrl.h"

#include "media/CMediaHub.h"

#include "gfx/Gdi.h"
#include "gfx/Surface.h"
#include "ui/Input.h"
#include "ui/Monitor.h"

namespace {
constexpr DWORD kFullScreenStyle = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
}

CPlayCtrl::~CPlayCtrl()
{
    DestroyMenu();
    sys::Locker lock(m_renderLock);
    if (m_back)
        m_back->Release();
    m_back = nullptr;
}

void CPlayCtrl::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    sys::Locker lock(m_renderLock);
    CPlayBase::Attach(notifyWindow, screenWidth, screenHeight, hub);
    {
        sys::Locker window(m_windowLock);
        ui::GetClientRect(m_hWnd, &m_windowRect);
        m_savedRect = m_windowRect;
    }
    if (m_back)
        m_back->Release();
    m_back = m_view ? m_view->CreateSurface(kDefaultBackWidth, kDefaultBackHeight) : nullptr;
}

void CPlayCtrl::DetachView()
{
    if (m_back)
        m_back->Release();
    m_back = nullptr;
    CPlayBase::DetachView();
}

void CPlayCtrl::OnPictureSize(int width, int height)
{
    m_sourceRect.right = m_zoomRect.right = width;
    m_sourceRect.bottom = m_zoomRect.bottom = height;
    sys::Locker lock(m_renderLock);
    if (m_back)
        m_back->Release();
    m_back = m_view ? m_view->CreateSurface(width, height) : nullptr;
}

HRESULT CPlayCtrl::compose()
{
    sys::Locker lock(m_windowLock);
    if (!m_keepRatio)
        return m_view->Compose(m_back, m_zoomRect, nullptr);
    ComputeDisplayRect();
    RECT display = GetDisplayRect();
    return m_view->Compose(m_back, m_zoomRect, &display);
}

void CPlayCtrl::DrawRgbFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view || !m_back || !picture.buffer)
        return;
    m_view->DrawRgbFrame(m_back, picture.buffer, width, height);
    compose();
}

void CPlayCtrl::DrawYuvFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view || !m_back || !picture.buffer)
        return;
    if (FAILED(m_view->DrawYuvFrame(m_surface, m_back, picture.buffer, width, height)))
        return; // the frame is dropped
    compose();
}

HRESULT CPlayCtrl::OnTick()
{
    CPlayBase::OnTick();
    sys::Locker render(m_renderLock);
    if (!m_view || !m_hWnd)
        return S_OK;
    sys::Locker lock(m_windowLock);
    ui::GetWindowRect(m_hWnd, &m_windowRect);
    return m_view->Present(m_hWnd, m_keepRatio);
}

void CPlayCtrl::DestroyMenu()
{
    if (m_menu)
        ui::DestroyMenu(m_menu);
    m_menu = nullptr;
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

LRESULT CPlayCtrl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        gfx::PAINTSTRUCT paint {};
        gfx::BeginPaint(window, &paint);
        gfx::EndPaint(window, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        ui::SetFocus(window);
        if (m_owner)
            m_owner->ActivateFromView();
        return 0;
    default:
        return CPlayBase::WindowProc(window, message, wParam, lParam);
    }
}
