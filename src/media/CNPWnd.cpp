#include "media/CNPWnd.h"

#include "gfx/Gdi.h"
#include "ui/Input.h"

CNPWnd::~CNPWnd()
{
    DestroyWindow();
}

bool CNPWnd::Register(const char* className)
{
    if (ui::IsClassRegistered(className))
        return true;
    WNDCLASS windowClass;
    windowClass.style = GetKind();
    windowClass.hCursor = ui::LoadStockCursor(ui::CursorShape::Arrow);
    windowClass.lpszClassName = className;
    return ui::RegisterClass(windowClass) || ui::IsClassRegistered(className);
}

HWND CNPWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, const RECT& rect, HWND parent, COLORREF background)
{
    if (m_hWnd)
        return nullptr;
    HWND window = ui::CreateWindowEx(exStyle, className, windowName, style, rect.left, rect.top, ui::Width(rect), ui::Height(rect), parent, this);
    if (window) {
        m_hWnd = window;
        ui::SetWindowBackground(window, background);
    }
    return window;
}

void CNPWnd::DestroyWindow()
{
    if (m_hWnd)
        ui::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
}

LRESULT CNPWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE)
        m_hWnd = window;
    if (message == WM_NCDESTROY) {
        LRESULT r = ui::CallClassProc(window, message, wParam, lParam);
        m_hWnd = nullptr;
        return r;
    }
    return ui::CallClassProc(window, message, wParam, lParam);
}

void CNPWnd::Blacken()
{
    if (!m_hWnd)
        return;
    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    HDC dc = gfx::GetDC(m_hWnd);
    if (!dc)
        return;
    gfx::HGDIOBJ old = gfx::SelectObject(dc, gfx::GetStockObject(gfx::BLACK_BRUSH));
    gfx::Rectangle(dc, client.left, client.top, client.right, client.bottom);
    gfx::SelectObject(dc, old);
    gfx::ReleaseDC(m_hWnd, dc);
}
