#pragma once
// Popup menus. A menu is a list of items (text, command id, flags) that a
// window builds and then shows with TrackPopupMenu. There is no one to click
// it here, so the answer is chosen beforehand: a page host or a test calls
// SetNextMenuChoice, and the next TrackPopupMenu returns (or posts as
// WM_COMMAND) that command. The last menu shown stays readable for checks.

#include "ui/Window.h"

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
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
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

// Shows the menu: returns the chosen command with TPM_RETURNCMD, else posts
// WM_COMMAND with it to `owner` and returns TRUE; 0 when nothing was chosen.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* ignored);

// The command the next TrackPopupMenu picks (0: the user dismisses it).
void SetNextMenuChoice(UINT_PTR command);
// The items and position of the last menu shown; empty before any.
std::vector<MenuItem> LastShownMenu();
POINT LastShownMenuPosition();
int ShownMenuCount();

}
