#pragma once
// The About box: a modal dialog in the middle of the primary monitor with a
// caption bar, the module's icon, the text and one button. It runs the
// page's thread's messages while it is open (video and timers go on) and
// ends with IDOK when its button is clicked or Return pressed, IDCANCEL for
// Escape. An answer preset with ui::SetNextDialogAnswer ends it without
// showing it, and so does the absence of anyone to answer
// (ui::DialogsAnswerable), with IDCANCEL. What it shows is recorded
// (ui::LastMessageBox) either way.

#include "ui/Color.h"
#include "ui/Geometry.h"
#include "ui/Window.h"

namespace control {

constexpr const char* kAboutCaption = "关于 Tiravex Control";
constexpr const char* kAboutText = "Tiravex Control 1.0 版";
constexpr const char* kAboutButton = "确定";
// The dialog windows' class.
constexpr const char* kDialogClass = "#32770";

// Geometry in pixels, from the dialog's top-left corner.
constexpr LONG kAboutWidth = 320;
constexpr LONG kAboutHeight = 140;
constexpr LONG kAboutCaptionHeight = 24;
constexpr LONG kAboutBorder = 1;
constexpr LONG kAboutMargin = 14;
constexpr LONG kAboutButtonWidth = 76;
constexpr LONG kAboutButtonHeight = 24;
constexpr int kAboutFontHeight = -12;

constexpr COLORREF kAboutFaceColor = RGB(240, 240, 240);
constexpr COLORREF kAboutBorderColor = RGB(100, 100, 100);
constexpr COLORREF kAboutCaptionColor = RGB(0, 120, 215);
constexpr COLORREF kAboutCaptionTextColor = RGB(255, 255, 255);
constexpr COLORREF kAboutTextColor = RGB(0, 0, 0);
constexpr COLORREF kAboutButtonColor = RGB(225, 225, 225);
constexpr COLORREF kAboutButtonPressedColor = RGB(204, 228, 247);

// Where the parts lie for a dialog at `dialog` (screen coordinates).
RECT AboutButtonRect(const RECT& dialog);
RECT AboutIconRect(const RECT& dialog);

class CAboutDlg final : public ui::WindowHandler {
public:
    // Shows the box and returns how it ended (IDOK, IDCANCEL).
    int DoModal();

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void paint(HWND window);
    void end(int answer);

    HWND m_window = nullptr;
    bool m_pressed = false;
    int m_answer = 0; // 0 while open
};

}
