#pragma once
// Hooks between the parts of the window system; not for callers outside ui.

#include "ui/Input.h"
#include "ui/Window.h"

#include <functional>

namespace ui::detail {

// Input forgets focus and capture on a window that is being destroyed.
void ForgetWindow(HWND window);

// An open popup menu takes injected input: true when it took it (any
// thread; the menu handles it on its own thread).
bool MenuTakesMouse(MouseAction action, POINT screenPoint);
bool MenuTakesKey(bool down, UINT virtualKey);

// Runs the calling thread's messages (posted, sent, timers, paints) until
// `done` holds. False when WM_QUIT came first; it is posted again for the
// outer loop, as Windows does for a modal loop.
bool RunModalLoop(const std::function<bool()>& done);

}
