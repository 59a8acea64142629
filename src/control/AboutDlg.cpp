#include "control/AboutDlg.h"

#include "com/CodePage.h"
#include "gfx/Gdi.h"
#include "resources/Bitmaps.h"
#include "ui/Dialogs.h"
#include "ui/Input.h"
#include "ui/Monitor.h"

#include <string>

namespace control {

namespace {

constexpr const char* kDialogFace = "sans-serif";

std::u16string wide(const char* utf8) { return com::MultiByteToWide(utf8, com::kCodePageUtf8); }

RECT clientRect(const RECT& r) { return RECT { 0, 0, ui::Width(r), ui::Height(r) }; }

bool registerDialogClass()
{
    if (ui::IsClassRegistered(kDialogClass))
        return true;
    WNDCLASS dialogClass;
    dialogClass.background = kAboutFaceColor;
    dialogClass.lpszClassName = kDialogClass;
    return ui::RegisterClass(dialogClass);
}

// Text centred in `r`, or from its left edge.
void drawText(HDC dc, const std::u16string& text, const RECT& r, bool centred)
{
    SIZE size {};
    gfx::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
    const int x = centred ? r.left + (ui::Width(r) - size.cx) / 2 : r.left;
    const int y = r.top + (ui::Height(r) - size.cy) / 2;
    gfx::TextOutW(dc, x, y, text.data(), static_cast<int>(text.size()));
}

void fill(HDC dc, const RECT& r, COLORREF colour)
{
    gfx::HBRUSH brush = gfx::CreateSolidBrush(colour);
    gfx::FillRect(dc, &r, brush);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(brush));
}

}

RECT AboutButtonRect(const RECT& dialog)
{
    const LONG right = dialog.right - kAboutMargin;
    const LONG bottom = dialog.bottom - kAboutMargin;
    return RECT { right - kAboutButtonWidth, bottom - kAboutButtonHeight, right, bottom };
}

RECT AboutIconRect(const RECT& dialog)
{
    const LONG left = dialog.left + kAboutMargin;
    const LONG top = dialog.top + kAboutCaptionHeight + kAboutMargin;
    return RECT { left, top, left + resources::kIconSize, top + resources::kIconSize };
}

int CAboutDlg::DoModal()
{
    ui::ShowMessageBox({ kAboutCaption, kAboutText, kAboutButton });
    if (auto preset = ui::TakeNextDialogAnswer())
        return *preset;
    if (!ui::DialogsAnswerable() || !registerDialogClass())
        return ui::IDCANCEL;

    MONITORINFO monitor {};
    monitor.cbSize = sizeof monitor;
    ui::GetMonitorInfo(ui::MonitorFromPoint(POINT { 0, 0 }, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcMonitor;
    const int x = area.left + (ui::Width(area) - kAboutWidth) / 2;
    const int y = area.top + (ui::Height(area) - kAboutHeight) / 2;

    m_answer = 0;
    m_pressed = false;
    m_window = ui::CreateWindowEx(WS_EX_TOPMOST, kDialogClass, kAboutCaption, WS_POPUP | WS_VISIBLE, x, y, kAboutWidth, kAboutHeight, nullptr, this);
    if (!m_window)
        return ui::IDCANCEL;
    ui::SetWindowPos(m_window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    HWND previousFocus = ui::SetFocus(m_window);
    ui::InvalidateRect(m_window, nullptr, TRUE);
    ui::RunModalLoop([this] { return m_answer != 0; });
    if (ui::GetCapture() == m_window)
        ui::ReleaseCapture();
    ui::DestroyWindow(m_window);
    m_window = nullptr;
    if (previousFocus && ui::IsWindow(previousFocus))
        ui::SetFocus(previousFocus);
    return m_answer != 0 ? m_answer : ui::IDCANCEL;
}

void CAboutDlg::end(int answer) { m_answer = answer; }

LRESULT CAboutDlg::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RECT frame {};
    ui::GetWindowRect(window, &frame);
    const RECT button = AboutButtonRect(clientRect(frame));
    const POINT at { GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam) };
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_LBUTTONDOWN:
        if (ui::Contains(button, at)) {
            m_pressed = true;
            ui::SetCapture(window);
            ui::InvalidateRect(window, &button, FALSE);
        }
        return 0;
    case WM_LBUTTONUP:
        if (m_pressed) {
            m_pressed = false;
            ui::ReleaseCapture();
            ui::InvalidateRect(window, &button, FALSE);
            if (ui::Contains(button, at))
                end(ui::IDOK);
        }
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            end(ui::IDCANCEL);
        else if (wParam == VK_RETURN || wParam == VK_SPACE)
            end(ui::IDOK);
        return 0;
    default:
        return ui::CallClassProc(window, message, wParam, lParam);
    }
}

void CAboutDlg::paint(HWND window)
{
    gfx::PAINTSTRUCT ps {};
    HDC dc = gfx::BeginPaint(window, &ps);
    RECT frame {};
    ui::GetWindowRect(window, &frame);
    const RECT client = clientRect(frame);

    fill(dc, client, kAboutBorderColor);
    fill(dc, RECT { kAboutBorder, kAboutBorder, client.right - kAboutBorder, client.bottom - kAboutBorder }, kAboutFaceColor);
    const RECT caption { kAboutBorder, kAboutBorder, client.right - kAboutBorder, kAboutCaptionHeight };
    fill(dc, caption, kAboutCaptionColor);

    gfx::HFONT font = gfx::CreateFontA(kAboutFontHeight, 0, 0, 0, gfx::FW_NORMAL, 0, 0, 0, gfx::GB2312_CHARSET, 0, 0, 0, 0, kDialogFace);
    gfx::HGDIOBJ oldFont = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(font));
    gfx::SetBkMode(dc, gfx::TRANSPARENT);

    gfx::SetTextColor(dc, kAboutCaptionTextColor);
    drawText(dc, wide(kAboutCaption), RECT { caption.left + kAboutMargin / 2, caption.top, caption.right, caption.bottom }, false);

    const RECT icon = AboutIconRect(client);
    if (gfx::HBITMAP bitmap = resources::LoadIcon(resources::kIconModule, kAboutFaceColor)) {
        HDC memory = gfx::CreateCompatibleDC(dc);
        gfx::HGDIOBJ old = gfx::SelectObject(memory, reinterpret_cast<gfx::HGDIOBJ>(bitmap));
        gfx::BitBlt(dc, icon.left, icon.top, resources::kIconSize, resources::kIconSize, memory, 0, 0, gfx::SRCCOPY);
        gfx::SelectObject(memory, old);
        gfx::DeleteDC(memory);
        gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(bitmap));
    }

    gfx::SetTextColor(dc, kAboutTextColor);
    drawText(dc, wide(kAboutText), RECT { icon.right + kAboutMargin, icon.top, client.right - kAboutMargin, icon.bottom }, false);

    const RECT button = AboutButtonRect(client);
    fill(dc, button, kAboutBorderColor);
    fill(dc, RECT { button.left + kAboutBorder, button.top + kAboutBorder, button.right - kAboutBorder, button.bottom - kAboutBorder }, m_pressed ? kAboutButtonPressedColor : kAboutButtonColor);
    drawText(dc, wide(kAboutButton), button, true);

    gfx::SelectObject(dc, oldFont);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(font));
    gfx::EndPaint(window, &ps);
}

}
