#pragma once
// Keyboard focus, mouse capture, the cursor (position, shape and image), key
// state, and injected input. Input from a presenter (the SDL window) or from a test
// enters through InjectMouse and InjectKey, which post the same messages a
// real mouse and keyboard would, to the capturing window or the window under
// the pointer (mouse) and to the focus window (keys).

#include "ui/Window.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ui {

HWND SetFocus(HWND window);
HWND GetFocus();

HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);

// Cursor shapes that a presenter knows how to show.
enum class CursorShape {
    Arrow,
    Hand,
    Cross,
    SizeAll,
    SizeNWSE,
    SizeNESW,
    SizeWE,
    SizeNS,
    No,
    Wait,
    ArrowUp,
    ArrowDown,
    ArrowLeft,
    ArrowRight,
    ArrowUpLeft,
    ArrowUpRight,
    ArrowDownLeft,
    ArrowDownRight,
    ZoomIn,
    ZoomOut,
};

// A cursor's picture: ARGB words (0xAARRGGBB, rows top-down), alpha 0 where
// the cursor is transparent, and the hot spot (the pixel that points).
struct CursorImage {
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
    std::vector<std::uint32_t> argb; // width * height
    // Unique to one cursor for the life of the process, so that a cache kept
    // by it never takes a new cursor for a destroyed one at the same address.
    std::uint64_t serial = 0;
};

// Stock cursors, as LoadCursor(nullptr, IDC_...) gives them.
HCURSOR LoadStockCursor(CursorShape shape);
// A cursor made from a module resource: its identifier and its shape.
HCURSOR CreateResourceCursor(int resourceId, CursorShape shape);
// A cursor with a picture: `argb` (width * height words) is copied. `shape`
// is what a presenter shows where it cannot show pictures. Null for an
// empty size, a missing picture or a hot spot outside it.
HCURSOR CreateImageCursor(int resourceId, int width, int height, int hotX, int hotY, const std::uint32_t* argb, CursorShape shape = CursorShape::Arrow);
// Stock cursors are never destroyed.
void DestroyCursor(HCURSOR cursor);
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
// Arrow for null or a destroyed cursor.
CursorShape GetCursorShape(HCURSOR cursor);
int GetCursorResourceId(HCURSOR cursor); // 0 for stock cursors
// The picture of an image cursor; false for other, destroyed or null cursors.
// Any thread (the presenter reads the current cursor's picture).
bool GetCursorImage(HCURSOR cursor, CursorImage& image);

// Key state: the high bit (0x8000) is set while the key is down. Injected
// mouse input sets VK_SHIFT and VK_CONTROL from its modifiers, so a window
// procedure that asks during a Ctrl-click sees Ctrl down.
SHORT GetKeyState(int virtualKey);
SHORT GetAsyncKeyState(int virtualKey);

// Milliseconds within which a second press is a double click.
UINT GetDoubleClickTime();

enum class MouseAction { Move, LeftDown, LeftUp, RightDown, RightUp, MiddleDown, MiddleUp, Wheel };
enum Modifier : UINT { ModNone = 0, ModShift = 1, ModControl = 2 };

// Mouse input at a screen point, with the modifier keys held for it and the
// wheel delta (multiples of 120) for MouseAction::Wheel. Moves the cursor,
// sends WM_SETCURSOR to the window under it and posts the mouse message
// (double clicks for windows whose class has CS_DBLCLKS). Returns the
// window that received it, or null. While a popup menu is open (Menu.h)
// the menu takes mouse and keys instead, and null is returned.
// `pressedAt` is the tick at which the person acted, for input that comes
// from afar (a browser) and may arrive late or bunched: two presses are a
// double click by when they were made, not by when they arrived.
HWND InjectMouse(MouseAction action, POINT screenPoint, UINT modifiers = ModNone, int wheelDelta = 0,
    std::optional<DWORD> pressedAt = std::nullopt);
// A key going down or up; the message is posted to the focus window.
HWND InjectKey(bool down, UINT virtualKey);
// Key names as pages give them ("Escape", "Control", "Shift", "Left", "a",
// "F1", ...); 0 when unknown.
UINT VirtualKeyFromName(const std::string& name);

// Forgets focus, capture, pressed keys and the double-click memory (tests).
void ResetInput();

}
