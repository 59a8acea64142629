#include "view/CPicShowWnd.h"

#include "view/Notifications.h"

#include "media/Decoder.h"

#include "resources/StringTable.h"

#include "com/CodePage.h"
#include "ui/Dialogs.h"
#include "ui/Input.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace {

constexpr DWORD kExStyle = WS_EX_TOOLWINDOW;
constexpr DWORD kStyle = WS_VISIBLE | WS_CLIPCHILDREN;

// The title bar: its colours, its text's font and place, the close box's cross.
constexpr COLORREF kCaptionColour = RGB(40, 60, 110);
constexpr COLORREF kCaptionTextColour = RGB(255, 255, 255);
constexpr COLORREF kCloseBoxColour = RGB(200, 60, 50);
constexpr COLORREF kGripColour = RGB(220, 220, 220);
constexpr int kCaptionFontHeight = 16;
constexpr const char* kCaptionFontFace = "Sans";
constexpr int kCaptionTextX = 6;
constexpr int kCaptionTextY = 4;
constexpr int kCloseCrossInset = 7;
constexpr int kGripLines = 3;
constexpr int kBytesPerPixel = 4;
constexpr WORD kBitsPerPixel = 32;
constexpr UINT kTitleCodePage = 936;

// The save chooser's one kind of file, and the question before a file is
// replaced (UTF-8): in Chinese for the Simplified Chinese base, in English
// for the others, as the menu item.
constexpr const char* kJpegFilterName = "jpg";
constexpr const char* kJpegFilterPattern = "*.jpg";
struct ReplaceQuestion {
    const char* caption;
    const char* text; // the file's path follows
    const char* button;
};
constexpr ReplaceQuestion kReplaceChinese { "保存", "文件已存在，是否替换？\n", "替换" };
constexpr ReplaceQuestion kReplaceEnglish { "Save", "The file already exists. Replace it?\n", "Replace" };

// The open windows in opening order; free entries (null) at the end.
std::array<CPicShowWnd*, CPicShowWnd::kMaxOpen> g_open {};

void enterList(CPicShowWnd* window)
{
    auto free = std::find(g_open.begin(), g_open.end(), nullptr);
    if (free != g_open.end())
        *free = window;
}

// Later entries move one place forward; the last becomes free.
void leaveList(CPicShowWnd* window)
{
    auto at = std::find(g_open.begin(), g_open.end(), window);
    if (at == g_open.end())
        return;
    std::move(at + 1, g_open.end(), at);
    g_open.back() = nullptr;
}

template <typename Handle>
gfx::HGDIOBJ object(Handle handle) { return reinterpret_cast<gfx::HGDIOBJ>(handle); }

POINT pointOf(LPARAM lParam) { return POINT { GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam) }; }

}

CPicShowWnd::~CPicShowWnd()
{
    // Before the base goes: the window's last messages still reach this object.
    DestroyWindow();
    if (m_menu)
        ui::DestroyMenu(m_menu);
    if (m_font)
        gfx::DeleteObject(object(m_font));
}

void CPicShowWnd::SetPicture(std::size_t size, const std::uint8_t* bytes, int language)
{
    m_picture.assign(bytes, bytes + size);
    m_language = language;
    m_hasPicture = 1;
    if (m_hWnd)
        ui::InvalidateRect(m_hWnd, nullptr, FALSE);
}

HWND CPicShowWnd::Create(HWND owner, const std::string& title, const RECT& rect)
{
    m_owner = owner;
    if (!Register(kClassName))
        return nullptr;
    // Top-level: an owned window is no child of its owner.
    HWND window = CreateEx(kExStyle, kClassName, title.c_str(), kStyle, rect, nullptr, kBackground);
    if (window)
        enterList(this);
    return window;
}

std::vector<CPicShowWnd*> CPicShowWnd::OpenWindows()
{
    std::vector<CPicShowWnd*> open;
    for (CPicShowWnd* window : g_open)
        if (window)
            open.push_back(window);
    return open;
}

// ---- geometry ----

RECT CPicShowWnd::captionRect() const
{
    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    if (!(ui::GetWindowLongPtr(m_hWnd, GWL_STYLE) & WS_CAPTION))
        return RECT {};
    return RECT { 0, 0, client.right, std::min<LONG>(kCaptionHeight, client.bottom) };
}

RECT CPicShowWnd::closeBoxRect() const
{
    RECT caption = captionRect();
    if (ui::IsEmpty(caption) || !(ui::GetWindowLongPtr(m_hWnd, GWL_STYLE) & WS_SYSMENU))
        return RECT {};
    return RECT { std::max<LONG>(0, caption.right - kCaptionHeight), 0, caption.right, caption.bottom };
}

RECT CPicShowWnd::gripRect() const
{
    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    return RECT { std::max<LONG>(0, client.right - kGripSize), std::max<LONG>(0, client.bottom - kGripSize), client.right, client.bottom };
}

RECT CPicShowWnd::PictureRect() const
{
    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    client.top = captionRect().bottom;
    return client;
}

// ---- painting ----

void CPicShowWnd::paint(HDC dc)
{
    paintCaption(dc);
    paintPicture(dc, PictureRect());
    // The grip: a few diagonal strokes in the corner.
    RECT grip = gripRect();
    gfx::HPEN pen = gfx::CreatePen(gfx::PS_SOLID, 1, kGripColour);
    gfx::HGDIOBJ old = gfx::SelectObject(dc, object(pen));
    for (int i = 1; i <= kGripLines; ++i) {
        int offset = i * kGripSize / (kGripLines + 1);
        gfx::MoveToEx(dc, grip.right - offset, grip.bottom, nullptr);
        gfx::LineTo(dc, grip.right, grip.bottom - offset);
    }
    gfx::SelectObject(dc, old);
    gfx::DeleteObject(object(pen));
}

void CPicShowWnd::paintCaption(HDC dc)
{
    RECT caption = captionRect();
    if (ui::IsEmpty(caption))
        return;
    gfx::HBRUSH brush = gfx::CreateSolidBrush(kCaptionColour);
    gfx::FillRect(dc, &caption, brush);
    gfx::DeleteObject(object(brush));

    if (!m_font)
        m_font = gfx::CreateFontA(kCaptionFontHeight, 0, 0, 0, gfx::FW_NORMAL, FALSE, FALSE, FALSE, gfx::DEFAULT_CHARSET, gfx::OUT_DEFAULT_PRECIS,
            gfx::CLIP_DEFAULT_PRECIS, gfx::DEFAULT_QUALITY, gfx::FF_SWISS, kCaptionFontFace);
    std::u16string title = com::MultiByteToWide(ui::GetWindowText(m_hWnd), kTitleCodePage);
    gfx::HGDIOBJ oldFont = gfx::SelectObject(dc, object(m_font));
    gfx::SetBkMode(dc, gfx::TRANSPARENT);
    gfx::SetTextColor(dc, kCaptionTextColour);
    gfx::TextOutW(dc, kCaptionTextX, kCaptionTextY, title.c_str(), static_cast<int>(title.size()));
    gfx::SelectObject(dc, oldFont);

    RECT box = closeBoxRect();
    if (ui::IsEmpty(box))
        return;
    gfx::HBRUSH boxBrush = gfx::CreateSolidBrush(kCloseBoxColour);
    gfx::FillRect(dc, &box, boxBrush);
    gfx::DeleteObject(object(boxBrush));
    gfx::HGDIOBJ oldPen = gfx::SelectObject(dc, gfx::GetStockObject(gfx::WHITE_PEN));
    gfx::MoveToEx(dc, box.left + kCloseCrossInset, box.top + kCloseCrossInset, nullptr);
    gfx::LineTo(dc, box.right - kCloseCrossInset, box.bottom - kCloseCrossInset);
    gfx::MoveToEx(dc, box.right - kCloseCrossInset, box.top + kCloseCrossInset, nullptr);
    gfx::LineTo(dc, box.left + kCloseCrossInset, box.bottom - kCloseCrossInset);
    gfx::SelectObject(dc, oldPen);
}

// The whole picture stretched to `area`, without keeping its aspect ratio.
// A picture that does not decode, or that claims more than the largest
// picture side, leaves the area in the window's background (the size is
// checked before anything is made for the picture).
void CPicShowWnd::paintPicture(HDC dc, const RECT& area)
{
    if (ui::IsEmpty(area))
        return;
    std::vector<std::uint8_t> pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!m_hasPicture || !decodePicture(pixels, width, height)) {
        gfx::HBRUSH brush = gfx::CreateSolidBrush(kBackground);
        gfx::FillRect(dc, &area, brush);
        gfx::DeleteObject(object(brush));
        return;
    }
    gfx::BITMAPINFO info {};
    info.bmiHeader.biSize = gfx::kBitmapInfoHeaderSize;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height); // rows top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = kBitsPerPixel;
    info.bmiHeader.biCompression = gfx::BI_RGB;
    gfx::StretchDIBits(dc, area.left, area.top, ui::Width(area), ui::Height(area), 0, 0, static_cast<int>(width), static_cast<int>(height), pixels.data(),
        &info, gfx::DIB_RGB_COLORS, gfx::SRCCOPY);
}

bool CPicShowWnd::decodePicture(std::vector<std::uint8_t>& pixels, std::uint32_t& width, std::uint32_t& height) const
{
    if (!media::ProbeJpegSize(m_picture.data(), m_picture.size(), width, height) || !width || !height)
        return false;
    if (width > media::kMaxPictureSide || height > media::kMaxPictureSide)
        return false;
    media::DecoderState decoder;
    if (!media::DecoderOpen(decoder, media::Codec::Mjpeg, static_cast<int>(width), static_cast<int>(height), media::PixelFormat::Bgra))
        return false;
    pixels.resize(static_cast<std::size_t>(width) * height * kBytesPerPixel);
    return static_cast<std::size_t>(decoder.outputSize) == pixels.size() && media::DecoderDecode(decoder, m_picture.data(), m_picture.size(), pixels.data());
}

// ---- menu, saving, closing ----

void CPicShowWnd::showMenu(POINT client)
{
    if (m_menu)
        ui::DestroyMenu(m_menu);
    m_menu = ui::CreatePopupMenu();
    int text = m_language == resources::kLanguageSimplifiedChinese ? resources::kStringSaveChinese : resources::kStringSave;
    const char16_t* item = resources::LoadStringW(text);
    ui::AppendMenuW(m_menu, MF_STRING, kCommandSave, item ? item : u"");
    ui::ClientToScreen(m_hWnd, &client);
    ui::TrackPopupMenu(m_menu, TPM_LEFTBUTTON, client.x, client.y, 0, m_hWnd, nullptr);
}

// Every failure ends the save silently; an existing file is replaced only
// when the person agrees.
void CPicShowWnd::savePicture()
{
    std::string path = ui::ChooseSaveFile({ "", { { kJpegFilterName, kJpegFilterPattern } } });
    if (path.empty() || m_picture.empty())
        return;
    const std::string extension = kExtension;
    if (path.size() < extension.size() || path.compare(path.size() - extension.size(), extension.size(), extension) != 0)
        path += extension;
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        const ReplaceQuestion& q = m_language == resources::kLanguageSimplifiedChinese ? kReplaceChinese : kReplaceEnglish;
        if (!ui::AskQuestion({ q.caption, q.text + path, q.button }))
            return;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return;
    std::fwrite(m_picture.data(), 1, m_picture.size(), file);
    std::fclose(file);
}

void CPicShowWnd::close()
{
    if (m_owner)
        ui::SendMessage(m_owner, view::kNotifySnapshotClosed, reinterpret_cast<WPARAM>(this), 0);
    leaveList(this);
    DestroyWindow();
}

// ---- the mouse: title bar, close box and grip ----

void CPicShowWnd::onLeftDown(POINT client)
{
    ui::SetFocus(m_hWnd);
    // Clicked windows come to the front of the other top-level windows.
    ui::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ui::InvalidateRect(m_hWnd, nullptr, FALSE);
    if (ui::Contains(closeBoxRect(), client))
        m_drag = Drag::Close;
    else if (ui::Contains(captionRect(), client))
        m_drag = Drag::Move;
    else if (ui::Contains(gripRect(), client))
        m_drag = Drag::Size;
    else
        return;
    m_dragFrom = client;
    ui::ClientToScreen(m_hWnd, &m_dragFrom);
    ui::GetWindowRect(m_hWnd, &m_rectFrom);
    ui::SetCapture(m_hWnd);
}

// Follows the pointer where it is now: the client point of a move queued
// before the window last moved is relative to where the window was then.
void CPicShowWnd::onMouseMove()
{
    if (m_drag != Drag::Move && m_drag != Drag::Size)
        return;
    POINT screen {};
    ui::GetCursorPos(&screen);
    LONG dx = screen.x - m_dragFrom.x;
    LONG dy = screen.y - m_dragFrom.y;
    if (m_drag == Drag::Move)
        ui::MoveWindow(m_hWnd, m_rectFrom.left + dx, m_rectFrom.top + dy, ui::Width(m_rectFrom), ui::Height(m_rectFrom), TRUE);
    else
        ui::MoveWindow(m_hWnd, m_rectFrom.left, m_rectFrom.top, std::max<LONG>(kMinWidth, ui::Width(m_rectFrom) + dx),
            std::max<LONG>(kMinHeight, ui::Height(m_rectFrom) + dy), TRUE);
}

void CPicShowWnd::onLeftUp(POINT client)
{
    Drag drag = std::exchange(m_drag, Drag::None);
    if (ui::GetCapture() == m_hWnd)
        ui::ReleaseCapture();
    if (drag == Drag::Close && ui::Contains(closeBoxRect(), client))
        close();
}

LRESULT CPicShowWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        gfx::PAINTSTRUCT ps {};
        HDC dc = gfx::BeginPaint(window, &ps);
        paint(dc);
        gfx::EndPaint(window, &ps);
        return 0;
    }
    case WM_RBUTTONUP:
        // The title bar stands for the frame: no picture menu there.
        if (!ui::Contains(captionRect(), pointOf(lParam)))
            showMenu(pointOf(lParam));
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kCommandSave) {
            savePicture();
            return 0;
        }
        break;
    case WM_CLOSE:
        close();
        return 0;
    case WM_LBUTTONDOWN:
        onLeftDown(pointOf(lParam));
        return 0;
    case WM_MOUSEMOVE:
        onMouseMove();
        return 0;
    case WM_LBUTTONUP:
        onLeftUp(pointOf(lParam));
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != window)
            m_drag = Drag::None;
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            close();
            return 0;
        }
        break;
    case WM_DESTROY:
        // Also when destroyed without closing (the control going).
        leaveList(this);
        m_drag = Drag::None;
        break;
    default:
        break;
    }
    return CNPWnd::WindowProc(window, message, wParam, lParam);
}
