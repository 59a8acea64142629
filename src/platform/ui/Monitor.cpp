#include "ui/Monitor.h"

#include <atomic>
#include <mutex>

namespace ui {

namespace {

struct Screens {
    std::mutex mutex;
    std::vector<RECT> rects { RECT { 0, 0, kDefaultScreenWidth, kDefaultScreenHeight } };
    std::atomic<int> enumerations { 0 };
};

Screens& screens()
{
    static Screens* s = new Screens;
    return *s;
}

// Monitor handles are index + 1, so null stays "none".
HMONITOR toHandle(std::size_t index) { return reinterpret_cast<HMONITOR>(index + 1); }
std::size_t toIndex(HMONITOR monitor) { return reinterpret_cast<std::size_t>(monitor) - 1; }

LONG distanceTo(const RECT& r, POINT p)
{
    LONG dx = p.x < r.left ? r.left - p.x : (p.x >= r.right ? p.x - r.right + 1 : 0);
    LONG dy = p.y < r.top ? r.top - p.y : (p.y >= r.bottom ? p.y - r.bottom + 1 : 0);
    return dx + dy;
}

}

void SetMonitorSizes(const std::vector<SIZE>& sizes)
{
    std::lock_guard lock(screens().mutex);
    auto& rects = screens().rects;
    rects.clear();
    LONG x = 0;
    for (const SIZE& s : sizes) {
        rects.push_back(RECT { x, 0, x + s.cx, s.cy });
        x += s.cx;
    }
    if (rects.empty())
        rects.push_back(RECT { 0, 0, kDefaultScreenWidth, kDefaultScreenHeight });
}

std::vector<RECT> GetMonitorRects()
{
    std::lock_guard lock(screens().mutex);
    return screens().rects;
}

BOOL EnumDisplayMonitors(HDC dc, const RECT*, MONITORENUMPROC callback, LPARAM data)
{
    ++screens().enumerations;
    std::vector<RECT> rects = GetMonitorRects();
    for (std::size_t i = 0; i < rects.size(); ++i) {
        RECT r = rects[i];
        if (!callback(toHandle(i), dc, &r, data))
            break;
    }
    return TRUE;
}

BOOL GetMonitorInfo(HMONITOR monitor, MONITORINFO* info)
{
    if (!monitor || !info)
        return FALSE;
    std::lock_guard lock(screens().mutex);
    std::size_t index = toIndex(monitor);
    if (index >= screens().rects.size())
        return FALSE;
    info->rcMonitor = screens().rects[index];
    info->rcWork = info->rcMonitor;
    info->dwFlags = index == 0 ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}

HMONITOR MonitorFromPoint(POINT point, DWORD flags)
{
    std::lock_guard lock(screens().mutex);
    auto& rects = screens().rects;
    std::size_t best = 0;
    LONG bestDistance = -1;
    for (std::size_t i = 0; i < rects.size(); ++i) {
        LONG d = distanceTo(rects[i], point);
        if (d == 0)
            return toHandle(i);
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    if (flags == MONITOR_DEFAULTTONULL)
        return nullptr;
    return toHandle(flags == MONITOR_DEFAULTTOPRIMARY ? 0 : best);
}

HMONITOR MonitorFromRect(const RECT* rect, DWORD flags)
{
    if (!rect)
        return nullptr;
    std::size_t best = 0;
    long long bestArea = 0;
    {
        std::lock_guard lock(screens().mutex);
        auto& rects = screens().rects;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            RECT overlap = Intersect(rects[i], *rect);
            long long area = static_cast<long long>(Width(overlap)) * Height(overlap);
            if (area > bestArea) {
                bestArea = area;
                best = i;
            }
        }
    }
    if (bestArea > 0)
        return toHandle(best);
    // No overlap: as for the rectangle's centre.
    return MonitorFromPoint(POINT { (rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2 }, flags);
}

HMONITOR MonitorFromWindow(HWND window, DWORD flags)
{
    RECT r {};
    if (!GetWindowRect(window, &r))
        return flags == MONITOR_DEFAULTTONULL ? nullptr : toHandle(0);
    return MonitorFromRect(&r, flags);
}

int GetSystemMetrics(int index)
{
    std::lock_guard lock(screens().mutex);
    auto& rects = screens().rects;
    RECT all {};
    for (auto& r : rects)
        all = Union(all, r);
    switch (index) {
    case SM_CXSCREEN: return Width(rects[0]);
    case SM_CYSCREEN: return Height(rects[0]);
    case SM_XVIRTUALSCREEN: return all.left;
    case SM_YVIRTUALSCREEN: return all.top;
    case SM_CXVIRTUALSCREEN: return Width(all);
    case SM_CYVIRTUALSCREEN: return Height(all);
    case SM_CMONITORS: return static_cast<int>(rects.size());
    default: return 0;
    }
}

int MonitorEnumerationCount() { return screens().enumerations.load(); }

}
