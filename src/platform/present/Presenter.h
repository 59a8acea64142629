#pragma once
// What puts the screen (gfx::Screen) in front of a person. A back end is
// chosen at start-up: the headless presenter, which only saves the screen
// as PNG when asked, or a window on the desktop that shows the screen as it
// changes and sends the mouse and keys it receives into the window system
// (ui::InjectMouse, ui::InjectKey) on the thread that made the presenter.
//
// Threads: make, use and destroy a presenter on the page's thread, whose
// message loop must run for input to arrive. The window back end draws on a
// thread of its own.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace present {

enum class Kind { Headless, Window };

class Presenter {
public:
    virtual ~Presenter() = default;
    virtual Kind GetKind() const = 0;
    // How many changed screens the presenter has shown (headless: none).
    virtual std::uint64_t FramesShown() const = 0;
    // The person closed the window (the host may end the page then).
    virtual bool WindowClosed() const { return false; }
    // What the presenter shows now, as a PNG file: the screen (headless),
    // or the window's own pixels as the person sees them.
    virtual bool SaveScreenshot(const std::string& path);
};

// The back end asked for; null when a window cannot be opened (no display).
std::unique_ptr<Presenter> CreatePresenter(Kind kind);

// The screen as a PNG file, at any moment.
bool SaveScreenPng(const std::string& path);
// Display-format pixels (0x00RRGGBB, `pitch` pixels a row) as an RGB PNG.
bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, int pitch);
// Pixels 0xAARRGGBB (`pitch` pixels a row) as an RGBA PNG in memory,
// compressed for speed.
bool EncodePngWithAlpha(const std::uint32_t* pixels, int width, int height, int pitch, std::vector<std::uint8_t>& out);
// Reads an RGB or RGBA PNG back as 0x00RRGGBB pixels (tests and checks).
bool ReadPng(const std::string& path, std::vector<std::uint32_t>& pixels, int& width, int& height);

}
