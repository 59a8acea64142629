#pragma once
// The module's eleven cursors, resources 111 to 121: indexes 0 to 8 are the
// pan/tilt directions (the 3 x 3 grid from top left, 4 the middle, a
// four-way arrow), 9 zoom in and 10 zoom out (a magnifier with a plus or a
// minus). Each is a 32 x 32 picture, white with a black outline on a
// transparent ground, with its hot spot at (0, 0); its shape
// (ui::GetCursorShape) names it for presenters that show shapes only.
// Loaded by the module start and freed by the module end.
//
// Threads: loaded and freed on the thread that loads the module; read from
// the page's thread.

#include "ui/Window.h"

namespace resources {

constexpr int kFirstCursorResource = 111;
constexpr int kCursorCount = 11;
constexpr int kCursorZoomIn = 9;
constexpr int kCursorZoomOut = 10;
constexpr int kCursorSize = 32;

// Loads the cursors; a second call does nothing.
void LoadCursors();
void FreeCursors();
bool CursorsLoaded();
// The cursor of an index, or null outside 0..10 or before loading.
HCURSOR Cursor(int index);

}
