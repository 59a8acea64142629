#pragma once
// Popup menus. A menu is a list of items (text, command id, flags) that a
// window builds and then shows with TrackPopupMenu, which answers in one of
// two ways:
// - Chosen beforehand: a page host or a test calls SetNextMenuChoice, and
//   the next TrackPopupMenu returns (or posts as WM_COMMAND) that command
//   without showing anything. Without a preset choice and without a menu
//   painter the menu is dismissed at once (0).
// - Picked by a person: with a painter installed (the window presenter
//   installs one; tests may too) and no preset choice, TrackPopupMenu shows
//   the menu and runs the calling thread's messages, as a modal loop, until
//   the menu is answered. Injected mouse and keys go to the menu meanwhile:
//   the pointer highlights the item under it, releasing the left button on
//   an item picks it (the right button too with TPM_RIGHTBUTTON), a press
//   outside the menu, Escape or the thread's quit message dismiss it; Up,
//   Down and Return work as on Windows. Separators and greyed items are
//   never picked.
// The geometry of a shown menu is computed here alone (LayoutMenu), so that
// hit testing and the painter's drawing agree. The last menu shown stays
// readable for checks.
//
// Threads: menus are built, tracked and answered on one thread; the painter
// is called on that thread. Input may be injected from any thread.

#include "ui/Window.h"

#include <functional>
#include <string>
#include <vector>

using HMENU = struct HMENU__*;

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;

constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_LEFTBUTTON = 0x0000;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

namespace ui {

struct MenuItem {
    UINT flags = 0;
    UINT_PTR id = 0;
    std::u16string text;
    bool operator==(const MenuItem&) const = default;
};

HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);
// Texts are UTF-16; callers convert from their code page.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, const char16_t* text);
// Returns the previous check state (MF_CHECKED or MF_UNCHECKED), -1 when there is no such item.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
int GetMenuItemCount(HMENU menu);
std::vector<MenuItem> GetMenuItems(HMENU menu);

// Shows the menu with its top-left corner at (x, y) in screen coordinates
// (TPM_RIGHTALIGN, TPM_BOTTOMALIGN: the other corners), kept inside the
// monitor. Returns the chosen command with TPM_RETURNCMD, else posts
// WM_COMMAND with it to `owner` and returns TRUE; 0 when nothing was chosen
// (also when another menu is open).
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* ignored);

// The command the next TrackPopupMenu picks (0: the user dismisses it); a
// preset choice wins over a painter, and nothing is shown.
void SetNextMenuChoice(UINT_PTR command);

// Menu geometry in pixels.
constexpr LONG kMenuBorder = 1;
constexpr LONG kMenuCheckColumn = 22; // between the border and the text: the check mark
constexpr LONG kMenuTextRightMargin = 24;
constexpr LONG kMenuTextMarginY = 3; // above and below an item's text
constexpr LONG kMenuMinItemHeight = 20;
constexpr LONG kMenuSeparatorHeight = 7;
constexpr LONG kMenuMinWidth = 96;

// A shown menu: its items and where each is on the screen.
struct MenuView {
    std::vector<MenuItem> items;
    RECT frame {}; // screen coordinates, border included
    std::vector<RECT> itemRects; // screen coordinates, one per item, inside the border
    int highlighted = -1; // the highlighted item's index, -1 for none
};

// Draws open menus for a person to pick from; lives above ui (the drawing
// layer's painter draws onto the screen).
class MenuPainter {
public:
    // The size of an item's text as the painter draws it.
    virtual SIZE MeasureText(const std::u16string& text) = 0;
    // Shows the menu as `view` has it; called again when the highlight moves.
    virtual void Show(const MenuView& view) = 0;
    // Takes the menu off the screen.
    virtual void Hide() = 0;

protected:
    ~MenuPainter() = default;
};

// The painter of interactive menus; null (the start) removes it. It must
// outlive its installation.
void SetMenuPainter(MenuPainter* painter);
MenuPainter* GetMenuPainter();

// Where a menu's items go when it is shown at `at` with TrackPopupMenu's
// `flags`: each item as high as its text plus margins (at least
// kMenuMinItemHeight; separators kMenuSeparatorHeight), the menu as wide as
// its widest text plus the check column and margins, moved inside the
// monitor nearest to `at`. `measure` gives a text's size.
MenuView LayoutMenu(const std::vector<MenuItem>& items, POINT at, UINT flags, const std::function<SIZE(const std::u16string&)>& measure);
// The index of the item at a screen point, -1 when there is none.
int MenuItemAt(const MenuView& view, POINT screenPoint);
// Not a separator, not greyed, not disabled.
bool IsMenuItemSelectable(const MenuItem& item);

// The menu being picked from now; false when none is open.
bool GetOpenMenu(MenuView& view);
// The items and position of the last menu shown; empty before any.
std::vector<MenuItem> LastShownMenu();
POINT LastShownMenuPosition();
int ShownMenuCount();

}
