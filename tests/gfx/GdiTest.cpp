// Device contexts: pens, brushes, shapes, text with real fonts, picture
// copies, and window device contexts that draw onto the screen.

#include "gfx/DirectDraw.h"
#include "gfx/Font.h"
#include "gfx/Gdi.h"
#include "gfx/Screen.h"
#include "gfx/Surface.h"

#include "ui/Monitor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr std::uint32_t kWhitePixel = 0x00FFFFFF;
constexpr std::uint32_t kRedPixel = 0x00FF0000;

gfx::HGDIOBJ obj(auto handle) { return reinterpret_cast<gfx::HGDIOBJ>(handle); }

class GdiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gfx::ResetDriverRules();
        ui::SetMonitorSizes({ SIZE { 400, 300 } });
        ASSERT_EQ(gfx::DirectDrawCreateEx(nullptr, &device), gfx::DD_OK);
    }
    void TearDown() override
    {
        for (auto* s : surfaces)
            s->Release();
        device->Release();
    }

    // A white display-format surface and a device context on it.
    HDC canvas(int w, int h)
    {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        desc.dwFlags = gfx::DDSD_CAPS | gfx::DDSD_WIDTH | gfx::DDSD_HEIGHT;
        desc.ddsCaps.dwCaps = gfx::DDSCAPS_OFFSCREENPLAIN;
        desc.dwWidth = static_cast<DWORD>(w);
        desc.dwHeight = static_cast<DWORD>(h);
        EXPECT_EQ(device->CreateSurface(&desc, &surface), gfx::DD_OK);
        surfaces.push_back(surface);
        gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), kWhitePixel };
        surface->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
        HDC dc = nullptr;
        EXPECT_EQ(surface->GetDC(&dc), gfx::DD_OK);
        return dc;
    }

    std::uint32_t at(int x, int y)
    {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        EXPECT_EQ(surface->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DD_OK);
        std::uint32_t v = 0;
        std::memcpy(&v, static_cast<std::uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * 4, 4);
        surface->Unlock(nullptr);
        return v & 0x00FFFFFF;
    }

    // The pixels of row y from x0 to x1 as '#' (not white) and '.' (white).
    std::string row(int y, int x0, int x1)
    {
        std::string s;
        for (int x = x0; x < x1; ++x)
            s += at(x, y) == kWhitePixel ? '.' : '#';
        return s;
    }

    gfx::DirectDraw* device = nullptr;
    gfx::Surface* surface = nullptr;
    std::vector<gfx::Surface*> surfaces;
};

TEST_F(GdiTest, WidePenFrameIsCentredOnTheRectanglesEdgesAndNullBrushKeepsTheInside)
{
    HDC dc = canvas(40, 30);
    gfx::HPEN pen = gfx::CreatePen(gfx::PS_SOLID, 5, kBlack);
    gfx::SelectObject(dc, obj(pen));
    gfx::SelectObject(dc, gfx::GetStockObject(gfx::NULL_BRUSH));
    ASSERT_TRUE(gfx::Rectangle(dc, 0, 0, 40, 30));
    surface->ReleaseDC(dc);
    // Left and right bands: 3 pixels of the 5 fall inside the surface.
    EXPECT_EQ(row(15, 0, 40), "###" + std::string(34, '.') + "###");
    EXPECT_EQ(row(0, 0, 40), std::string(40, '#'));
    EXPECT_EQ(row(2, 5, 10), "#####");
    EXPECT_EQ(row(3, 5, 10), ".....");
    EXPECT_EQ(row(27, 5, 10), "#####");
    EXPECT_EQ(row(26, 5, 10), ".....");
    gfx::DeleteObject(obj(pen));
}

TEST_F(GdiTest, StyledPensRepeatTheirPatternScaledByWidthWithOpaqueGaps)
{
    HDC dc = canvas(40, 10);
    gfx::SetBkMode(dc, gfx::TRANSPARENT);
    gfx::HPEN dot = gfx::CreatePen(gfx::PS_DOT, 1, kBlack);
    gfx::SelectObject(dc, obj(dot));
    gfx::MoveToEx(dc, 0, 1, nullptr);
    gfx::LineTo(dc, 30, 1);
    EXPECT_EQ(row(1, 0, 31), "###...###...###...###...###....");

    gfx::HPEN dashDot = gfx::CreatePen(gfx::PS_DASHDOT, 1, kBlack);
    gfx::SelectObject(dc, obj(dashDot));
    gfx::MoveToEx(dc, 0, 3, nullptr);
    gfx::LineTo(dc, 30, 3);
    EXPECT_EQ(row(3, 0, 30), "#########......###......######");

    gfx::HPEN wideDot = gfx::CreatePen(gfx::PS_DOT, 2, kBlack);
    gfx::SelectObject(dc, obj(wideDot));
    gfx::SetBkMode(dc, gfx::OPAQUE);
    gfx::SetBkColor(dc, kRed);
    gfx::MoveToEx(dc, 0, 7, nullptr);
    gfx::LineTo(dc, 24, 7);
    for (int y : { 6, 7 }) {
        for (int x = 0; x < 24; ++x)
            EXPECT_EQ(at(x, y), (x / 6) % 2 ? kRedPixel : 0u) << x << "," << y;
    }
    EXPECT_EQ(at(0, 8), kWhitePixel);
    surface->ReleaseDC(dc);
    for (auto p : { dot, dashDot, wideDot })
        gfx::DeleteObject(obj(p));
}

TEST_F(GdiTest, DeletingASelectedObjectLeavesTheContextUsable)
{
    HDC dc = canvas(4, 4);
    gfx::HBRUSH red = gfx::CreateSolidBrush(kRed);
    gfx::SelectObject(dc, obj(red));
    ASSERT_TRUE(gfx::DeleteObject(obj(red)));
    EXPECT_FALSE(gfx::DeleteObject(obj(red))); // a stale handle is refused
    ASSERT_TRUE(gfx::Rectangle(dc, 0, 0, 4, 4)); // the stock white brush and black pen again
    surface->ReleaseDC(dc);
    EXPECT_EQ(at(1, 1), kWhitePixel);
    EXPECT_EQ(at(0, 0), 0u);
}

TEST_F(GdiTest, LineToStopsBeforeItsEndPoint)
{
    HDC dc = canvas(10, 10);
    gfx::MoveToEx(dc, 2, 2, nullptr);
    gfx::LineTo(dc, 6, 2);
    EXPECT_EQ(row(2, 0, 8), "..####..");
    gfx::LineTo(dc, 6, 5); // starts with the point the last one left out
    surface->ReleaseDC(dc);
    EXPECT_EQ(row(2, 0, 8), "..#####.");
    EXPECT_EQ(row(4, 0, 8), "......#.");
    EXPECT_EQ(row(5, 0, 8), "........");
}

TEST_F(GdiTest, DiagonalCrossHatchAndStockBlackBrush)
{
    HDC dc = canvas(16, 16);
    gfx::HBRUSH hatch = gfx::CreateHatchBrush(gfx::HS_DIAGCROSS, kBlack);
    gfx::SetBkColor(dc, kRed);
    RECT all { 0, 0, 16, 16 };
    gfx::FillRect(dc, &all, hatch);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            bool on = (x - y) % 8 == 0 || (x + y) % 8 == 0;
            ASSERT_EQ(at(x, y), on ? 0u : kRedPixel) << x << "," << y;
        }
    }
    // Transparent: the gaps keep what was there.
    gfx::SetBkMode(dc, gfx::TRANSPARENT);
    RECT part { 0, 0, 4, 4 };
    gfx::FillRect(dc, &part, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::WHITE_BRUSH)));
    gfx::FillRect(dc, &part, hatch);
    EXPECT_EQ(row(1, 0, 4), ".#..");
    gfx::FillRect(dc, &all, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::BLACK_BRUSH)));
    EXPECT_EQ(at(9, 9), 0u);
    EXPECT_FALSE(gfx::DeleteObject(gfx::GetStockObject(gfx::BLACK_BRUSH))); // stock objects stay
    surface->ReleaseDC(dc);
    gfx::DeleteObject(obj(hatch));
}

TEST_F(GdiTest, EllipseIsFilledInsideItsOutlineAndLeavesTheCorners)
{
    HDC dc = canvas(30, 30);
    gfx::HBRUSH red = gfx::CreateSolidBrush(kRed);
    gfx::SelectObject(dc, obj(red));
    ASSERT_TRUE(gfx::Ellipse(dc, 2, 2, 27, 27)); // a 25 x 25 dot with the default pen
    surface->ReleaseDC(dc);
    EXPECT_EQ(at(14, 14), kRedPixel);
    EXPECT_EQ(at(14, 2), 0u); // top of the outline
    EXPECT_EQ(at(2, 14), 0u);
    EXPECT_EQ(at(26, 14), 0u);
    EXPECT_EQ(at(14, 1), kWhitePixel);
    EXPECT_EQ(at(3, 3), kWhitePixel); // corner of the box
    EXPECT_EQ(at(27, 14), kWhitePixel);
    gfx::DeleteObject(obj(red));
}

TEST_F(GdiTest, RequestedFacesFallBackToInstalledOnesAtTheGdiCellHeight)
{
    gfx::HFONT arial = gfx::CreateFontA(18, 12, 0, 0, gfx::FW_THIN, 0, 0, 0, gfx::CHINESEBIG5_CHARSET, gfx::OUT_CHARACTER_PRECIS, gfx::CLIP_CHARACTER_PRECIS, gfx::DEFAULT_QUALITY, gfx::FF_MODERN, "Arial");
    gfx::HFONT garamond = gfx::CreateFontW(20, 10, 0, 0, gfx::FW_NORMAL, 0, 0, 0, gfx::ANSI_CHARSET, 0, 0, 0, gfx::FF_SWISS, u"Garamond");
    ASSERT_TRUE(arial && garamond);
    const gfx::Font* a = gfx::FontOf(arial);
    const gfx::Font* g = gfx::FontOf(garamond);
    EXPECT_FALSE(a->PrimaryFamily().empty());
    EXPECT_FALSE(g->PrimaryFamily().empty());
    EXPECT_EQ(a->Height(), 18);
    EXPECT_EQ(g->Height(), 20);
    // Chinese in both scripts comes from a CJK face.
    for (char32_t c : { U'连', U'接', U'失', U'败', U'連', U'敗' })
        EXPECT_NE(a->FamilyFor(c).find("WenQuanYi"), std::string::npos) << static_cast<std::uint32_t>(c);
    gfx::DeleteObject(obj(arial));
    gfx::DeleteObject(obj(garamond));
}

TEST_F(GdiTest, TextAppearsInsideItsExtentOnOpaqueOrTransparentBackground)
{
    gfx::HFONT font = gfx::CreateFontA(18, 12, 0, 0, 100, 0, 0, 0, gfx::CHINESEBIG5_CHARSET, 2, 1, 0, 0x30, "Arial");
    for (const std::u16string& text : { std::u16string(u"connecting"), std::u16string(u"连接失败") }) {
        for (int mode : { gfx::OPAQUE, gfx::TRANSPARENT }) {
            HDC dc = canvas(300, 40);
            gfx::SelectObject(dc, obj(font));
            gfx::SetBkMode(dc, mode);
            gfx::SetBkColor(dc, kBlack);
            gfx::SetTextColor(dc, kRed);
            SIZE extent {};
            ASSERT_TRUE(gfx::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent));
            EXPECT_GT(extent.cx, 8 * static_cast<int>(text.size()));
            EXPECT_EQ(extent.cy, 18);
            const int x = 10;
            const int y = 12;
            ASSERT_TRUE(gfx::TextOutW(dc, x, y, text.data(), static_cast<int>(text.size())));
            surface->ReleaseDC(dc);
            int lit = 0;
            for (int py = 0; py < 40; ++py) {
                for (int px = 0; px < 300; ++px) {
                    std::uint32_t p = at(px, py);
                    bool inside = px >= x && px < x + extent.cx && py >= y && py < y + extent.cy;
                    if (!inside) {
                        ASSERT_EQ(p, kWhitePixel) << "text outside its box at " << px << "," << py;
                        continue;
                    }
                    if (mode == gfx::OPAQUE) {
                        ASSERT_NE(p, kWhitePixel) << "the opaque cell is not filled at " << px << "," << py;
                        lit += (p >> 16) > 0x80;
                    } else {
                        lit += p != kWhitePixel;
                    }
                }
            }
            EXPECT_GT(lit, 20 * static_cast<int>(text.size())) << "too few text pixels";
        }
    }
    gfx::DeleteObject(obj(font));
}

TEST_F(GdiTest, StretchDIBitsDrawsTopDownAndBottomUpPicturesNearest)
{
    HDC dc = canvas(8, 8);
    const std::uint32_t picture[4] = { 0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFF00 };
    gfx::BITMAPINFO info {};
    info.bmiHeader = gfx::BITMAPINFOHEADER { gfx::kBitmapInfoHeaderSize, 2, -2, 1, 32, gfx::BI_RGB, 0, 0, 0, 0, 0 };
    gfx::SetStretchBltMode(dc, gfx::COLORONCOLOR);
    EXPECT_EQ(gfx::StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 2, 2, picture, &info, gfx::DIB_RGB_COLORS, gfx::SRCCOPY), 2);
    EXPECT_EQ(at(0, 0), 0x00FF0000u);
    EXPECT_EQ(at(3, 1), 0x0000FF00u);
    EXPECT_EQ(at(1, 2), 0x000000FFu);
    EXPECT_EQ(at(3, 3), 0x00FFFF00u);
    EXPECT_EQ(at(4, 0), kWhitePixel);
    info.bmiHeader.biHeight = 2; // bottom-up: the first row in memory is the lowest
    gfx::StretchDIBits(dc, 4, 4, 2, 2, 0, 0, 2, 2, picture, &info, gfx::DIB_RGB_COLORS, gfx::SRCCOPY);
    EXPECT_EQ(at(4, 4), 0x000000FFu);
    EXPECT_EQ(at(4, 5), 0x00FF0000u);
    // Off the surface or with a wrong header: clipped, or refused.
    EXPECT_EQ(gfx::StretchDIBits(dc, 6, 6, 4, 4, 0, 0, 2, 2, picture, &info, gfx::DIB_RGB_COLORS, gfx::SRCCOPY), 2);
    info.bmiHeader.biBitCount = 24;
    EXPECT_EQ(gfx::StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 2, 2, picture, &info, gfx::DIB_RGB_COLORS, gfx::SRCCOPY), 0);
    surface->ReleaseDC(dc);
}

TEST_F(GdiTest, BitBltCopiesFromABitmapThroughAMemoryContext)
{
    HDC dc = canvas(6, 4);
    const std::uint32_t bits[6] = { 1, 2, 3, 4, 5, 6 };
    gfx::HBITMAP bitmap = gfx::CreateBitmap(3, 2, 1, 32, bits);
    HDC memory = gfx::CreateCompatibleDC(dc);
    gfx::HGDIOBJ old = gfx::SelectObject(memory, obj(bitmap));
    ASSERT_TRUE(gfx::BitBlt(dc, 1, 1, 3, 2, memory, 0, 0, gfx::SRCCOPY));
    EXPECT_EQ(at(1, 1), 1u);
    EXPECT_EQ(at(3, 2), 6u);
    EXPECT_EQ(at(0, 0), kWhitePixel);
    // A source area reaching past the bitmap copies only the bitmap's part.
    ASSERT_TRUE(gfx::BitBlt(dc, 4, 0, 2, 2, memory, 2, 1, gfx::SRCCOPY));
    EXPECT_EQ(at(4, 0), 6u);
    EXPECT_EQ(at(5, 0), kWhitePixel);
    EXPECT_EQ(at(4, 1), kWhitePixel);
    gfx::SelectObject(memory, old);
    gfx::DeleteDC(memory);
    surface->ReleaseDC(dc);
    gfx::DeleteObject(obj(bitmap));
}

TEST_F(GdiTest, WindowContextsDrawOnTheScreenInsideTheVisiblePartOnly)
{
    gfx::Screen& screen = gfx::Screen::Get();
    HWND parent = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, 20, 20, 100, 50, nullptr);
    HWND child = ui::CreateWindowEx(0, "static", "video", WS_CHILD | WS_VISIBLE, 60, 10, 80, 80, parent);
    HDC dc = gfx::GetDC(child);
    RECT all { -10, -10, 200, 200 };
    gfx::FillRect(dc, &all, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::WHITE_BRUSH)));
    gfx::ReleaseDC(child, dc);
    // The child sits at (80, 30) on the screen; its parent ends at (120, 70).
    EXPECT_EQ(screen.PixelAt(80, 30), kWhitePixel);
    EXPECT_EQ(screen.PixelAt(119, 69), kWhitePixel);
    EXPECT_EQ(screen.PixelAt(120, 50), 0u);
    EXPECT_EQ(screen.PixelAt(100, 70), 0u);
    EXPECT_EQ(screen.PixelAt(79, 30), 0u);

    // A window background is erased through the drawing layer, and
    // BeginPaint clips erasing and drawing to the update rectangle.
    ui::SetWindowBackground(child, RGB(0, 0, 255));
    RECT update { 0, 0, 10, 10 };
    ui::ValidateRect(child, nullptr);
    ui::InvalidateRect(child, &update, TRUE);
    gfx::PAINTSTRUCT paint {};
    HDC paintDc = gfx::BeginPaint(child, &paint);
    ASSERT_NE(paintDc, nullptr);
    EXPECT_EQ(paint.rcPaint, update);
    EXPECT_FALSE(paint.fErase); // erased already
    EXPECT_EQ(screen.PixelAt(85, 35), 0x000000FFu); // erased blue
    gfx::FillRect(paintDc, &all, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::BLACK_BRUSH)));
    gfx::EndPaint(child, &paint);
    EXPECT_EQ(screen.PixelAt(85, 35), 0u);
    EXPECT_EQ(screen.PixelAt(95, 35), kWhitePixel) << "erased outside the update rectangle";
    EXPECT_FALSE(ui::GetUpdateRect(child, nullptr));
    ui::DestroyWindow(parent);
    HDC gone = gfx::GetDC(child);
    EXPECT_EQ(gone, nullptr);
}

TEST_F(GdiTest, WindowsDrawAroundTheirChildrenAndTheWindowsAboveThem)
{
    gfx::Screen& screen = gfx::Screen::Get();
    HWND page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 200, 100, nullptr);
    HWND child = ui::CreateWindowEx(0, "static", "child", WS_CHILD | WS_VISIBLE, 10, 10, 20, 20, page);
    HWND above = ui::CreateWindowEx(0, "static", "above", WS_POPUP | WS_VISIBLE, 150, 0, 100, 100, nullptr);
    HDC dc = gfx::GetDC(child);
    RECT all { 0, 0, 300, 300 };
    gfx::FillRect(dc, &all, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::BLACK_BRUSH)));
    gfx::ReleaseDC(child, dc);
    dc = gfx::GetDC(page);
    gfx::FillRect(dc, &all, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::WHITE_BRUSH)));
    gfx::ReleaseDC(page, dc);
    EXPECT_EQ(screen.PixelAt(15, 15), 0u); // the child keeps its picture
    EXPECT_EQ(screen.PixelAt(5, 15), kWhitePixel);
    EXPECT_EQ(screen.PixelAt(35, 15), kWhitePixel);
    EXPECT_EQ(screen.PixelAt(149, 50), kWhitePixel);
    EXPECT_EQ(screen.PixelAt(150, 50), 0u); // under the window above
    // Without WS_CLIPCHILDREN the parent paints over its child, as on Windows.
    ui::SetWindowLongPtr(page, GWL_STYLE, WS_POPUP | WS_VISIBLE);
    dc = gfx::GetDC(page);
    gfx::FillRect(dc, &all, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::WHITE_BRUSH)));
    gfx::ReleaseDC(page, dc);
    EXPECT_EQ(screen.PixelAt(15, 15), kWhitePixel);
    ui::DestroyWindow(above);
    ui::DestroyWindow(page);
    RECT clear { 0, 0, 400, 300 };
    HWND cover = ui::CreateWindowEx(0, "static", "cover", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr);
    dc = gfx::GetDC(cover);
    gfx::FillRect(dc, &clear, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::BLACK_BRUSH)));
    gfx::ReleaseDC(cover, dc);
    ui::DestroyWindow(cover);
}

}
