#pragma once
// Diagnostics for a developer: the stand-in for the debugger output. Lines
// go to standard error only when TIRAVEX_DEBUG_OUTPUT is set, so a page's
// own output stays clean.

namespace sys {

void DebugOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));

}
