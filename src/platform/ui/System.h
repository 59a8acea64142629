#pragma once
// System-wide settings a window may change for a while: the screen-saver
// switch (full-screen video turns it off and back on).

#include "ui/Window.h"

constexpr UINT SPI_GETSCREENSAVEACTIVE = 0x0010;
constexpr UINT SPI_SETSCREENSAVEACTIVE = 0x0011;

namespace ui {

// SPI_GETSCREENSAVEACTIVE writes the switch as a BOOL to `pv`;
// SPI_SETSCREENSAVEACTIVE sets it to `param`. FALSE for other actions.
BOOL SystemParametersInfo(UINT action, UINT param, void* pv, UINT winIni);

}
