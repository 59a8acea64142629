#include "editors/CAreaEditor.h"

#include "media/CMediaHub.h"

#include "gfx/DirectDraw.h"
#include "ui/Input.h"
#include "gfx/Surface.h"

#include <algorithm>

CAreaEditor::CAreaEditor(std::int16_t id, bool rereadWindowAfterFrame) : CPlayBase(id), m_rereadWindow(rereadWindowAfterFrame) { }

CAreaEditor::~CAreaEditor()
{
    CloseStream();
    sys::Locker lock(m_renderLock);
    if (m_overlay)
        m_overlay->Release();
    m_overlay = nullptr;
}

void CAreaEditor::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    sys::Locker lock(m_renderLock);
    CPlayBase::Attach(notifyWindow, screenWidth, screenHeight, hub);
    SetOverlaySize(screenWidth, screenHeight);
    ui::GetClientRect(m_hWnd, &m_windowRect);
    if (m_overlay)
        m_overlay->Release();
    m_overlay = m_view ? m_view->CreateSurface(screenWidth, screenHeight) : nullptr;
    if (m_overlay) {
        gfx::DDCOLORKEY black { 0, 0 };
        m_overlay->SetColorKey(gfx::DDCKEY_SRCBLT, &black);
        m_view->FillBlack(m_overlay);
    }
}

bool CAreaEditor::IsViewReady()
{
    sys::Locker lock(m_renderLock);
    return CPlayBase::IsViewReady() && m_overlay;
}

bool CAreaEditor::Poll()
{
    sys::Locker lock(m_renderLock);
    if (m_hWnd)
        ui::GetWindowRect(m_hWnd, &m_windowRect);
    return true;
}

void CAreaEditor::DetachView()
{
    if (m_overlay)
        m_overlay->Release();
    m_overlay = nullptr;
    CPlayBase::DetachView();
}

void CAreaEditor::SetOverlaySize(int width, int height)
{
    width = std::clamp(width, 0, kMaxOverlaySide);
    height = std::clamp(height, 0, kMaxOverlaySide);
    m_overlayWidth = width;
    m_overlayHeight = height;
    sys::Locker lock(m_geometryLock);
    m_displayRect = RECT { 0, 0, width, height };
}

RECT CAreaEditor::pictureRect() const
{
    sys::Locker lock(m_geometryLock);
    return m_displayRect;
}

void CAreaEditor::SetWorkRect(const RECT& rect)
{
    sys::Locker lock(m_areaLock);
    m_workRect = rect;
}

RECT CAreaEditor::GetWorkRect() const
{
    sys::Locker lock(m_areaLock);
    return m_workRect;
}

void CAreaEditor::presentOverlay()
{
    if (!m_view || !m_overlay)
        return;
    m_view->FillBlack(m_overlay);
    HDC dc = nullptr;
    if (SUCCEEDED(m_overlay->GetDC(&dc))) {
        DrawOverlay(dc);
        m_overlay->ReleaseDC(dc);
    }
    m_view->LayOver(m_overlay);
    if (m_rereadWindow && m_hWnd)
        ui::GetWindowRect(m_hWnd, &m_windowRect);
    m_view->PresentPart(pictureRect(), m_windowRect);
}

void CAreaEditor::DrawRgbFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view || !picture.buffer)
        return;
    m_view->DrawRgbToComposition(picture.buffer, width, height, pictureRect());
    presentOverlay();
}

void CAreaEditor::DrawYuvFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view || !picture.buffer)
        return;
    if (FAILED(m_view->DrawYuvToComposition(m_surface, picture.buffer, width, height, pictureRect())))
        return; // the frame is dropped
    presentOverlay();
}

HRESULT CAreaEditor::OnTick()
{
    std::int32_t t = m_silence.fetch_add(1) + 1;
    sys::Locker lock(m_renderLock);
    if (!m_view)
        return S_OK;
    if (t >= kSilenceRefresh) {
        m_silence.compare_exchange_strong(t, kSilenceRefresh);
        m_view->ClearComposition();
        presentOverlay();
    }
    return m_view->LastResult();
}

LRESULT CAreaEditor::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const POINT p { GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam) };
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: // the second press of a quick pair starts a drag too
        if (!m_dragging) {
            m_dragging = 1;
            ui::SetCapture(window);
            sys::Locker lock(m_areaLock);
            OnDragBegin(p);
        }
        break;
    case WM_MOUSEMOVE:
        if (m_dragging) {
            ui::SetCursor(ui::LoadStockCursor(ui::CursorShape::Hand));
            sys::Locker lock(m_areaLock);
            OnDragMove(p);
        }
        break;
    case WM_LBUTTONUP:
        if (m_dragging) {
            ui::ReleaseCapture();
            sys::Locker lock(m_areaLock);
            OnDragEnd(p);
            m_dragging = 0;
        }
        break;
    case WM_ERASEBKGND:
        if (!m_videoStarted)
            Blacken();
        return 1;
    case kMsgShowActiveWindow:
        if (showInControl(window, lParam, 0))
            ui::UpdateWindow(window);
        break;
    case kMsgBlacken:
        Blacken();
        m_dragging = 0;
        break;
    default:
        break;
    }
    return CPlayBase::WindowProc(window, message, wParam, lParam);
}
