#include "gfx/Screen.h"

#include "ui/Monitor.h"

#include <algorithm>

namespace gfx {

Screen& Screen::Get()
{
    static Screen* screen = new Screen; // lives for the process: threads may draw late
    return *screen;
}

void Screen::makeLocked(int width, int height)
{
    m_width = std::max(1, width);
    m_height = std::max(1, height);
    m_pixels.assign(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), 0);
    m_made = true;
    ++m_generation;
}

void Screen::SyncToMonitors()
{
    int width = ui::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = ui::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    std::lock_guard lock(m_mutex);
    if (!m_made || width != m_width || height != m_height)
        makeLocked(width, height);
}

int Screen::Width()
{
    std::lock_guard lock(m_mutex);
    if (!m_made)
        makeLocked(ui::GetSystemMetrics(SM_CXVIRTUALSCREEN), ui::GetSystemMetrics(SM_CYVIRTUALSCREEN));
    return m_width;
}

int Screen::Height()
{
    Width();
    std::lock_guard lock(m_mutex);
    return m_height;
}

RECT Screen::Bounds() { return RECT { 0, 0, Width(), Height() }; }

void Screen::Read(const std::function<void(const std::uint32_t*, int, int)>& read)
{
    Width();
    std::lock_guard lock(m_mutex);
    read(m_pixels.data(), m_width, m_height);
}

std::uint32_t Screen::PixelAt(int x, int y)
{
    Width();
    std::lock_guard lock(m_mutex);
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return 0;
    return m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(x)] & 0x00FFFFFF;
}

void Screen::MarkChanged(const RECT& rect)
{
    if (ui::IsEmpty(rect))
        return;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
    }
    std::function<void()> listener;
    {
        std::lock_guard lock(m_listenerMutex);
        listener = m_listener;
    }
    if (listener)
        listener();
}

std::uint64_t Screen::Generation()
{
    std::lock_guard lock(m_mutex);
    return m_generation;
}

void Screen::SetChangeListener(std::function<void()> listener)
{
    std::lock_guard lock(m_listenerMutex);
    m_listener = std::move(listener);
}

}
