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
    recordLocked(RECT { 0, 0, m_width, m_height });
}

void Screen::recordLocked(const RECT& rect)
{
    ++m_generation;
    m_recent[m_generation % kRecentChanges] = Change { m_generation, rect };
}

bool Screen::ChangedSince(std::uint64_t since, const RECT& rect)
{
    std::lock_guard lock(m_mutex);
    if (since > m_generation || m_generation - since >= kRecentChanges)
        return true;
    for (std::uint64_t g = since + 1; g <= m_generation; ++g) {
        const Change& change = m_recent[g % kRecentChanges];
        if (change.generation != g || !ui::IsEmpty(ui::Intersect(change.rect, rect)))
            return true;
    }
    return false;
}

bool Screen::ChangesSince(std::uint64_t since, std::vector<RECT>& rects)
{
    rects.clear();
    std::lock_guard lock(m_mutex);
    if (since > m_generation || m_generation - since >= kRecentChanges)
        return false;
    for (std::uint64_t g = since + 1; g <= m_generation; ++g) {
        const Change& change = m_recent[g % kRecentChanges];
        if (change.generation != g)
            return false;
        rects.push_back(change.rect);
    }
    return true;
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

RECT Screen::overlayOnScreenLocked() const { return ui::Intersect(m_overlayRect, RECT { 0, 0, m_width, m_height }); }

void Screen::Read(const std::function<void(const std::uint32_t*, int, int)>& read)
{
    Width();
    std::lock_guard lock(m_mutex);
    const RECT shown = overlayOnScreenLocked();
    if (ui::IsEmpty(shown)) {
        read(m_pixels.data(), m_width, m_height);
        return;
    }
    // The overlay goes into the pixels for the read alone: what lies under
    // it is kept aside and put back before the mutex is let go.
    const auto screenRow = [&](LONG y) { return m_pixels.data() + static_cast<std::ptrdiff_t>(y) * m_width; };
    const auto overlayRow = [&](LONG y) { return m_overlay.data() + static_cast<std::ptrdiff_t>(y - m_overlayRect.top) * ui::Width(m_overlayRect) - m_overlayRect.left; };
    const LONG width = ui::Width(shown);
    m_underOverlay.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(ui::Height(shown)));
    for (LONG y = shown.top; y < shown.bottom; ++y) {
        std::uint32_t* saved = m_underOverlay.data() + static_cast<std::ptrdiff_t>(y - shown.top) * width;
        std::copy(screenRow(y) + shown.left, screenRow(y) + shown.right, saved);
        std::copy(overlayRow(y) + shown.left, overlayRow(y) + shown.right, screenRow(y) + shown.left);
    }
    read(m_pixels.data(), m_width, m_height);
    for (LONG y = shown.top; y < shown.bottom; ++y) {
        const std::uint32_t* saved = m_underOverlay.data() + static_cast<std::ptrdiff_t>(y - shown.top) * width;
        std::copy(saved, saved + width, screenRow(y) + shown.left);
    }
}

std::uint32_t Screen::PixelAt(int x, int y)
{
    Width();
    std::lock_guard lock(m_mutex);
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return 0;
    if (ui::Contains(m_overlayRect, POINT { x, y }))
        return m_overlay[static_cast<std::size_t>(y - m_overlayRect.top) * static_cast<std::size_t>(ui::Width(m_overlayRect)) + static_cast<std::size_t>(x - m_overlayRect.left)] & 0x00FFFFFF;
    return m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(x)] & 0x00FFFFFF;
}

void Screen::SetOverlay(const RECT& rect, std::vector<std::uint32_t> pixels)
{
    if (ui::IsEmpty(rect) || pixels.size() != static_cast<std::size_t>(ui::Width(rect)) * static_cast<std::size_t>(ui::Height(rect))) {
        ClearOverlay();
        return;
    }
    RECT changed;
    {
        std::lock_guard lock(m_mutex);
        changed = ui::Union(m_overlayRect, rect);
        m_overlayRect = rect;
        m_overlay = std::move(pixels);
    }
    MarkChanged(changed);
}

void Screen::ClearOverlay()
{
    RECT changed;
    {
        std::lock_guard lock(m_mutex);
        changed = m_overlayRect;
        m_overlayRect = RECT {};
        m_overlay.clear();
        m_underOverlay.clear();
    }
    MarkChanged(changed);
}

RECT Screen::OverlayRect()
{
    std::lock_guard lock(m_mutex);
    return m_overlayRect;
}

void Screen::MarkChanged(const RECT& rect)
{
    if (ui::IsEmpty(rect))
        return;
    {
        std::lock_guard lock(m_mutex);
        recordLocked(rect);
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
