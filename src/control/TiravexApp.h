#pragma once
// The module: what every control instance of the process shares. Made when
// the module is loaded and destroyed when it is unloaded.

#include "sys/Lock.h"
#include "ui/Geometry.h"
#include "ui/Window.h"

#include <array>
#include <vector>

namespace control {

// The module's cursors: resources 111 to 121, indexed by id - 111. Indexes
// 0 to 8 are the pan/tilt directions, 9 zoom in and 10 zoom out.
constexpr int kFirstCursorResource = 111;
constexpr int kCursorCount = 11;
constexpr int kCursorZoomIn = 9;
constexpr int kCursorZoomOut = 10;

// At most this many monitors are recorded by the post-login start-up.
constexpr std::size_t kMaxMonitors = 10;

// The monitor sizes found by the main instance's post-login start-up; a
// secondary instance reuses them.
struct MonitorTable {
    std::vector<SIZE> sizes;
    SIZE kept { 0, 0 };
};

class CTiravexApp {
public:
    // The framework's module start, then the cursors and codecLock.
    bool InitInstance();
    void ExitInstance();
    bool IsInitialised() const { return m_initialised; }

    HCURSOR Cursor(int index) const;

    sys::CriticalSection codecLock;
    MonitorTable monitors; // page's thread only

private:
    std::array<HCURSOR, kCursorCount> m_cursors {};
    bool m_initialised = false;
};

CTiravexApp& theApp();

}
