#pragma once
// The module's eleven cursors, resources 111 to 121: indexes 0 to 8 are the
// pan/tilt directions (the 3 x 3 grid from top left, 4 the middle), 9 zoom
// in and 10 zoom out. Loaded by the module start and freed by the module end.
//
// Threads: loaded and freed on the thread that loads the module; read from
// the page's thread.

#include "ui/Window.h"

namespace resources {

constexpr int kFirstCursorResource = 111;
constexpr int kCursorCount = 11;
constexpr int kCursorZoomIn = 9;
constexpr int kCursorZoomOut = 10;

// Loads the cursors; a second call does nothing.
void LoadCursors();
void FreeCursors();
bool CursorsLoaded();
// The cursor of an index, or null outside 0..10 or before loading.
HCURSOR Cursor(int index);

}
