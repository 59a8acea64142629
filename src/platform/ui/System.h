#pragma once
// System-wide settings that the control reads and changes, as
// SystemParametersInfo offers them: the screen saver's on/off flag. The
// settings belong to the process here (there is no desktop session to
// change); the flag starts on.
//
// Threads: any.

#include "sys/Types.h"

constexpr UINT SPI_GETSCREENSAVEACTIVE = 0x0010;
constexpr UINT SPI_SETSCREENSAVEACTIVE = 0x0011;
constexpr UINT SPIF_UPDATEINIFILE = 0x0001;
constexpr UINT SPIF_SENDCHANGE = 0x0002;

namespace ui {

// SPI_GETSCREENSAVEACTIVE writes the flag as a BOOL to `pv`;
// SPI_SETSCREENSAVEACTIVE sets it from `param` (non-zero: on). FALSE for
// other actions or a missing `pv`. `winIni` is accepted and ignored.
BOOL SystemParametersInfo(UINT action, UINT param, void* pv, UINT winIni);

// Puts every setting back to its start value (tests).
void ResetSystemParameters();

}
