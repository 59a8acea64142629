#pragma once
// Tick count and local time.

#include "sys/Types.h"

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

namespace sys {

// Milliseconds since the system started, wrapping around at 2^32 like the
// Windows tick count. Callers compare ticks by unsigned subtraction.
DWORD GetTickCount();

// Tests move the tick count to just before the wrap-around with this bias,
// which is added to every later GetTickCount.
void SetTickCountBias(DWORD bias);

// Local wall-clock time, to the millisecond.
SYSTEMTIME GetLocalTime();

// Milliseconds elapsed from `earlier` to `later`, correct across one wrap.
constexpr DWORD TicksBetween(DWORD earlier, DWORD later) { return later - earlier; }

}
