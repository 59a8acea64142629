#pragma once
// The snapshot window: a top-level tool window of class "SHOWPIC" that shows
// one JPEG picture from the camera stretched to its client area, decoded
// again on every paint (one it cannot read, or larger than the live
// pictures' bound, leaves its background), with a one-item context menu that saves the picture
// as a ".jpg" file. The control holds fifty of these objects; the open ones
// are kept in a module-wide list in opening order, and a window that closes
// sends message 2046 to its owner (the control window) and leaves the list.
//
// Windows have no frames here, so with WS_CAPTION the window draws its own
// title bar across its top: dragging it moves the window, its close box
// (WS_SYSMENU) closes it; dragging the grip at the bottom-right corner
// resizes it, and Escape closes it too. The client area, as far as the
// picture is concerned, is what lies below the title bar.
//
// Threads: page's thread only.

#include "media/CNPWnd.h"

#include "gfx/Gdi.h"
#include "ui/Menu.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CPicShowWnd : public CNPWnd {
public:
    static constexpr const char* kClassName = "SHOWPIC";
    // At most this many snapshot windows are open at a time.
    static constexpr std::size_t kMaxOpen = 50;
    // The context menu's one command.
    static constexpr UINT kCommandSave = 1331;
    // The extension a saved picture's name ends in.
    static constexpr const char* kExtension = ".jpg";

    // What the window shows where there is no picture, or one it cannot read.
    static constexpr COLORREF kBackground = RGB(64, 64, 64);

    // The title bar, the close box (a square at its right end) and the grip.
    static constexpr int kCaptionHeight = 24;
    static constexpr int kGripSize = 16;
    // Dragging the grip keeps the window at least this large.
    static constexpr int kMinWidth = 160;
    static constexpr int kMinHeight = 120;

    CPicShowWnd() = default;
    ~CPicShowWnd() override;

    // Replaces the picture with `size` bytes of JPEG file and remembers the
    // language base (0, 100, 200) the menu is shown in.
    void SetPicture(std::size_t size, const std::uint8_t* bytes, int language);

    // Makes the window over `rect` (screen coordinates) with `title` (8-bit
    // text in code page 936), owned by `owner`, which gets message 2046 when
    // it closes; enters it into the list of open windows. Null on failure
    // or when this object's window exists.
    HWND Create(HWND owner, const std::string& title, const RECT& rect);

    bool IsOpen() const { return m_hWnd != nullptr; }
    bool HasPicture() const { return m_hasPicture != 0; }
    const std::vector<std::uint8_t>& Picture() const { return m_picture; }
    int Language() const { return m_language; }

    // Where the picture is drawn: the window's client area below the title bar.
    RECT PictureRect() const;

    // The open snapshot windows of the module, in opening order.
    static std::vector<CPicShowWnd*> OpenWindows();

protected:
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    enum class Drag { None, Move, Size, Close };

    void paint(HDC dc);
    void paintPicture(HDC dc, const RECT& area);
    // The picture as top-down BGRA rows; false when it does not decode.
    bool decodePicture(std::vector<std::uint8_t>& pixels, std::uint32_t& width, std::uint32_t& height) const;
    void paintCaption(HDC dc);
    void showMenu(POINT client);
    void savePicture();
    void close();
    void onLeftDown(POINT client);
    void onMouseMove();
    void onLeftUp(POINT client);
    RECT captionRect() const;
    RECT closeBoxRect() const;
    RECT gripRect() const;

    std::vector<std::uint8_t> m_picture;
    std::int32_t m_hasPicture = 0;
    HWND m_owner = nullptr;
    HMENU m_menu = nullptr;
    std::int32_t m_language = 0;
    gfx::HFONT m_font = nullptr;

    Drag m_drag = Drag::None;
    POINT m_dragFrom {}; // screen point where the drag began
    RECT m_rectFrom {}; // the window's screen rectangle then
};
