#include "ui/System.h"

#include <atomic>

namespace ui {

namespace {

constexpr BOOL kScreenSaverActiveAtStart = TRUE;

std::atomic<BOOL> g_screenSaverActive { kScreenSaverActiveAtStart };

}

BOOL SystemParametersInfo(UINT action, UINT param, void* pv, UINT)
{
    switch (action) {
    case SPI_GETSCREENSAVEACTIVE:
        if (!pv)
            return FALSE;
        *static_cast<BOOL*>(pv) = g_screenSaverActive.load();
        return TRUE;
    case SPI_SETSCREENSAVEACTIVE:
        g_screenSaverActive = param != 0 ? TRUE : FALSE;
        return TRUE;
    default:
        return FALSE;
    }
}

void ResetSystemParameters() { g_screenSaverActive = kScreenSaverActiveAtStart; }

}
