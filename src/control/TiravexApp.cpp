#include "control/TiravexApp.h"

#include "ui/Input.h"

namespace control {

namespace {

// The shapes of the module's cursor resources, in resource order.
constexpr ui::CursorShape kCursorShapes[kCursorCount] = {
    ui::CursorShape::ArrowUpLeft, ui::CursorShape::ArrowUp, ui::CursorShape::ArrowUpRight,
    ui::CursorShape::ArrowLeft, ui::CursorShape::SizeAll, ui::CursorShape::ArrowRight,
    ui::CursorShape::ArrowDownLeft, ui::CursorShape::ArrowDown, ui::CursorShape::ArrowDownRight,
    ui::CursorShape::ZoomIn, ui::CursorShape::ZoomOut,
};

// Loads the module when the shared library is loaded, as the module object
// of the original did, and unloads it with the library.
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
    for (int i = 0; i < kCursorCount; ++i)
        m_cursors[static_cast<std::size_t>(i)] = ui::CreateResourceCursor(kFirstCursorResource + i, kCursorShapes[i]);
    m_initialised = true;
    return true;
}

void CTiravexApp::ExitInstance()
{
    if (!m_initialised)
        return;
    for (auto& cursor : m_cursors) {
        ui::DestroyCursor(cursor);
        cursor = nullptr;
    }
    m_initialised = false;
}

HCURSOR CTiravexApp::Cursor(int index) const
{
    if (index < 0 || index >= kCursorCount)
        return nullptr;
    return m_cursors[static_cast<std::size_t>(index)];
}

}
