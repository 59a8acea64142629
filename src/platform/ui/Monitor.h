#pragma once
// Display monitors and the screen. The list of monitors is a setting (the
// page host's --screen option, or a test): the first is the primary one,
// and each later one sits to the right of the one before. The default is a
// single 1920 x 1080 monitor.

#include "ui/Window.h"

#include <vector>

using HMONITOR = struct HMONITOR__*;

struct MONITORINFO {
    DWORD cbSize;
    RECT rcMonitor;
    RECT rcWork;
    DWORD dwFlags;
};

constexpr DWORD MONITORINFOF_PRIMARY = 0x1;
constexpr DWORD MONITOR_DEFAULTTONULL = 0;
constexpr DWORD MONITOR_DEFAULTTOPRIMARY = 1;
constexpr DWORD MONITOR_DEFAULTTONEAREST = 2;

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_XVIRTUALSCREEN = 76;
constexpr int SM_YVIRTUALSCREEN = 77;
constexpr int SM_CXVIRTUALSCREEN = 78;
constexpr int SM_CYVIRTUALSCREEN = 79;
constexpr int SM_CMONITORS = 80;

using MONITORENUMPROC = BOOL (*)(HMONITOR, HDC, RECT*, LPARAM);

namespace ui {

constexpr LONG kDefaultScreenWidth = 1920;
constexpr LONG kDefaultScreenHeight = 1080;

// Monitor sizes, primary first; an empty list restores the default.
void SetMonitorSizes(const std::vector<SIZE>& sizes);
std::vector<RECT> GetMonitorRects();

// Calls `callback` for each monitor in order until it returns FALSE.
BOOL EnumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC callback, LPARAM data);
BOOL GetMonitorInfo(HMONITOR monitor, MONITORINFO* info);
HMONITOR MonitorFromPoint(POINT point, DWORD flags);
HMONITOR MonitorFromWindow(HWND window, DWORD flags);
HMONITOR MonitorFromRect(const RECT* rect, DWORD flags);

int GetSystemMetrics(int index);

// How many times EnumDisplayMonitors has run (diagnostics and tests).
int MonitorEnumerationCount();

}
