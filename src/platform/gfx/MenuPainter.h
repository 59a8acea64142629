#pragma once
// The painter of popup menus that a person picks from: draws the menu the
// window system lays out (ui::MenuView) into the screen's overlay, so that
// it shows above the windows in every read of the screen. Light grey with a
// dark border, black text (grey when greyed), the highlighted item in blue
// with white text, a drawn tick for checked items and a thin line for
// separators. Text comes from FreeType with the CJK fallback, so menus in
// either Chinese script show as well as English ones.
//
// Threads: the window system calls it on the thread that tracks the menu.

#include "ui/Color.h"
#include "ui/Menu.h"

namespace gfx {

constexpr COLORREF kMenuBackgroundColor = RGB(240, 240, 240);
constexpr COLORREF kMenuBorderColor = RGB(100, 100, 100);
constexpr COLORREF kMenuTextColor = RGB(0, 0, 0);
constexpr COLORREF kMenuGreyedTextColor = RGB(150, 150, 150);
constexpr COLORREF kMenuHighlightColor = RGB(0, 120, 215);
constexpr COLORREF kMenuHighlightTextColor = RGB(255, 255, 255);
constexpr COLORREF kMenuSeparatorColor = RGB(200, 200, 200);
// The menu font's em height in pixels (GDI's negative height).
constexpr int kMenuFontHeight = -12;

// The process's menu painter, drawing on gfx::Screen. Install it with
// ui::SetMenuPainter (the window presenter does; tests may).
ui::MenuPainter& ScreenMenuPainter();

}
