#pragma once
// Hooks between the parts of the window system; not for callers outside ui.

#include "ui/Window.h"

namespace ui::detail {

// Input forgets focus and capture on a window that is being destroyed.
void ForgetWindow(HWND window);

}
