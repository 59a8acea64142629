#include "control/TiravexApp.h"

#include "resources/Cursors.h"

namespace control {

namespace {

// Starts the module when the shared library is loaded and ends it when the
// library is unloaded.
struct ModuleLifetime {
    ModuleLifetime() { theApp().InitInstance(); }
    ~ModuleLifetime() { theApp().ExitInstance(); }
};

ModuleLifetime g_module;

}

CTiravexApp& theApp()
{
    static CTiravexApp* app = new CTiravexApp; // lives as long as any instance may
    return *app;
}

bool CTiravexApp::InitInstance()
{
    if (m_initialised)
        return true;
    resources::LoadCursors();
    m_initialised = true;
    return true;
}

void CTiravexApp::ExitInstance()
{
    if (!m_initialised)
        return;
    resources::FreeCursors();
    m_initialised = false;
}

}
