#pragma once
// The screen of the window system's desktop: one display-format (XRGB8888)
// picture covering the virtual screen (every monitor), which the primary
// surface, window device contexts and background erasing draw on, and
// which a presenter shows or saves.
//
// Above the pixels lies at most one overlay (an open popup menu): it is
// composed on top whenever the screen is read (Read, PixelAt, and so the
// screenshots and the window presenter), and is never written into the
// pixels, so windows that keep presenting video underneath do not cover it.
//
// Threads: any; the screen's mutex guards the pixels. The change listener
// runs on the thread that drew, possibly with the mutex held: it must only
// wake someone, never wait.

#include "ui/Geometry.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace gfx {

class Screen {
public:
    static Screen& Get();

    // Follows the monitor setting: the screen is remade (black) when the
    // virtual screen's size changed since it was last made.
    void SyncToMonitors();

    int Width();
    int Height();
    RECT Bounds();

    // The mutex that guards the pixels; recursive.
    std::recursive_mutex& Mutex() { return m_mutex; }
    // Under Mutex(): the pixels, Width() words a row.
    std::uint32_t* PixelsLocked() { return m_pixels.data(); }
    int WidthLocked() const { return m_width; }
    int HeightLocked() const { return m_height; }

    // Runs `read` with the pixels, the overlay composed on them, under the mutex.
    void Read(const std::function<void(const std::uint32_t* pixels, int width, int height)>& read);
    // The colour at (x, y) as 0x00RRGGBB, the overlay's where it lies; 0 outside.
    std::uint32_t PixelAt(int x, int y);

    // Puts the overlay at `rect` (screen coordinates): `pixels` are XRGB,
    // Width(rect) words a row, Height(rect) rows; the part outside the
    // screen is not shown. Replaces any overlay there was.
    void SetOverlay(const RECT& rect, std::vector<std::uint32_t> pixels);
    void ClearOverlay();
    // The overlay's rectangle; empty when there is none.
    RECT OverlayRect();

    // Records that `rect` (screen coordinates) changed and tells the listener.
    void MarkChanged(const RECT& rect);
    std::uint64_t Generation();
    // Whether a change after generation `since` touched `rect`; true also
    // when too many changes came since to tell.
    bool ChangedSince(std::uint64_t since, const RECT& rect);
    // The rectangles changed after generation `since`, oldest first, into
    // `rects` (replaced); false when too many changes came since to tell
    // (then everything may have changed).
    bool ChangesSince(std::uint64_t since, std::vector<RECT>& rects);
    // One listener (the presenter); null removes it.
    void SetChangeListener(std::function<void()> listener);

private:
    Screen() = default;
    void makeLocked(int width, int height);
    // Under m_mutex: the part of the overlay on the screen.
    RECT overlayOnScreenLocked() const;

    std::recursive_mutex m_mutex;
    std::vector<std::uint32_t> m_pixels;
    int m_width = 0;
    int m_height = 0;
    bool m_made = false;
    std::uint64_t m_generation = 0; // guarded by m_mutex
    // The latest changes, by generation modulo kRecentChanges; guarded by m_mutex.
    struct Change {
        std::uint64_t generation = 0;
        RECT rect {};
    };
    static constexpr std::size_t kRecentChanges = 256;
    std::array<Change, kRecentChanges> m_recent {};
    void recordLocked(const RECT& rect);
    RECT m_overlayRect {}; // guarded by m_mutex; empty: no overlay
    std::vector<std::uint32_t> m_overlay; // guarded by m_mutex
    std::vector<std::uint32_t> m_underOverlay; // guarded by m_mutex: saved while a read composes
    std::mutex m_listenerMutex;
    std::function<void()> m_listener; // guarded by m_listenerMutex
};

}
