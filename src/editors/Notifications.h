#pragma once
// Messages the area editors post to the control window.

#include "ui/Messages.h"

namespace editors {

// The mask editor: a drawn rectangle was 3 x 3 pixels or smaller.
constexpr UINT kNotifyMaskTooSmall = 1225; // 0, the editor's window id

}
