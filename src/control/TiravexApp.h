#pragma once
// The module: what every control instance of the process shares. Made when
// the module is loaded and destroyed when it is unloaded.

#include "ui/Geometry.h"
#include "ui/Window.h"

#include <vector>

namespace control {

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
    // The framework's module start: the eleven cursors (the decoders' lock
    // is made when the media library loads).
    bool InitInstance();
    void ExitInstance();
    bool IsInitialised() const { return m_initialised; }

    MonitorTable monitors; // page's thread only

private:
    bool m_initialised = false;
};

CTiravexApp& theApp();

}
