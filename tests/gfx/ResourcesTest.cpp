// The module's resources of our own making: the eleven cursor pictures and
// the screen pan/tilt marker bitmap, down to what a blit makes of it.

#include "resources/Bitmaps.h"
#include "resources/Cursors.h"

#include "gfx/DirectDraw.h"
#include "gfx/Gdi.h"
#include "gfx/PixelFormat.h"
#include "gfx/Surface.h"

#include "ui/Input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;
constexpr std::uint32_t kOpaqueWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kClear = 0;
constexpr std::uint32_t kBackdropPixel = 0x00123456;

ui::CursorImage imageOf(int index)
{
    ui::CursorImage image;
    EXPECT_TRUE(ui::GetCursorImage(resources::Cursor(index), image)) << "cursor " << index;
    return image;
}

// The centre of the opaque pixels, from the picture's centre.
std::pair<double, double> leaning(const ui::CursorImage& image)
{
    double sx = 0;
    double sy = 0;
    int n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (image.argb[static_cast<std::size_t>(y * image.width + x)] != kClear) {
                sx += x;
                sy += y;
                ++n;
            }
    const double middle = (resources::kCursorSize - 1) / 2.0;
    return { sx / n - middle, sy / n - middle };
}

int sign(double v)
{
    constexpr double kLevel = 0.25;
    return v > kLevel ? 1 : (v < -kLevel ? -1 : 0);
}

class Resources : public ::testing::Test {
protected:
    void SetUp() override { resources::LoadCursors(); }
    void TearDown() override { resources::FreeCursors(); }
};

TEST_F(Resources, EveryCursorIsAWhiteShapeOutlinedInBlackWithItsHotSpotAtTheCorner)
{
    for (int i = 0; i < resources::kCursorCount; ++i) {
        ui::CursorImage image = imageOf(i);
        EXPECT_EQ(image.width, resources::kCursorSize);
        EXPECT_EQ(image.height, resources::kCursorSize);
        EXPECT_EQ(image.hotX, 0);
        EXPECT_EQ(image.hotY, 0);
        EXPECT_EQ(ui::GetCursorResourceId(resources::Cursor(i)), resources::kFirstCursorResource + i);
        int black = 0;
        int white = 0;
        for (std::uint32_t p : image.argb) {
            ASSERT_TRUE(p == kClear || p == kOpaqueBlack || p == kOpaqueWhite) << std::hex << p << " in cursor " << i;
            black += p == kOpaqueBlack;
            white += p == kOpaqueWhite;
        }
        EXPECT_GT(white, 50) << "cursor " << i;
        EXPECT_GT(black, 50) << "cursor " << i;
    }
    EXPECT_EQ(ui::GetCursorShape(resources::Cursor(resources::kCursorZoomIn)), ui::CursorShape::ZoomIn);
    EXPECT_EQ(ui::GetCursorShape(resources::Cursor(resources::kCursorZoomOut)), ui::CursorShape::ZoomOut);
}

TEST_F(Resources, TheEightArrowsDifferAndEachLeansTheWayItPoints)
{
    std::set<std::vector<std::uint32_t>> pictures;
    for (int i = 0; i < 9; ++i) {
        ui::CursorImage image = imageOf(i);
        pictures.insert(image.argb);
        // Index i is cell (i % 3, i / 3) of the 3 x 3 grid: its arrow points
        // from the middle towards that cell, and the arrow's head outweighs
        // its shaft.
        auto [dx, dy] = leaning(image);
        EXPECT_EQ(sign(dx), i % 3 - 1) << "cursor " << i << " leans " << dx;
        EXPECT_EQ(sign(dy), i / 3 - 1) << "cursor " << i << " leans " << dy;
    }
    EXPECT_EQ(pictures.size(), 9u) << "two direction cursors are the same picture";

    // The middle one points four ways alike: a quarter turn leaves it as it is.
    ui::CursorImage middle = imageOf(4);
    for (int y = 0; y < resources::kCursorSize; ++y)
        for (int x = 0; x < resources::kCursorSize; ++x)
            ASSERT_EQ(middle.argb[static_cast<std::size_t>(y * resources::kCursorSize + x)], middle.argb[static_cast<std::size_t>((resources::kCursorSize - 1 - x) * resources::kCursorSize + y)]) << x << "," << y;

    // Zoom in has a plus where zoom out has a minus: more black on the lens.
    auto blackCount = [](const ui::CursorImage& image) {
        int n = 0;
        for (std::uint32_t p : image.argb)
            n += p == kOpaqueBlack;
        return n;
    };
    EXPECT_GT(blackCount(imageOf(resources::kCursorZoomIn)), blackCount(imageOf(resources::kCursorZoomOut)));
}

TEST_F(Resources, TheCursorsGoWhenFreed)
{
    HCURSOR first = resources::Cursor(0);
    resources::FreeCursors();
    EXPECT_FALSE(resources::CursorsLoaded());
    EXPECT_EQ(resources::Cursor(0), nullptr);
    ui::CursorImage image;
    EXPECT_FALSE(ui::GetCursorImage(first, image));
    EXPECT_EQ(resources::Cursor(resources::kCursorCount), nullptr);
}

TEST(ResourceBitmaps, TheMarkerIsABrightCrosshairOnTheBlackColourKeyAndBlitsAsItIs)
{
    EXPECT_EQ(resources::LoadBitmap(resources::kBitmapPtzMarker + 1), nullptr);
    gfx::HBITMAP marker = resources::LoadBitmap(resources::kBitmapPtzMarker);
    ASSERT_NE(marker, nullptr);
    auto object = reinterpret_cast<gfx::HGDIOBJ>(marker);
    gfx::BITMAP info {};
    ASSERT_EQ(gfx::GetObjectW(object, sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.bmWidth, resources::kPtzMarkerWidth);
    EXPECT_EQ(info.bmHeight, resources::kPtzMarkerHeight);
    EXPECT_EQ(info.bmBitsPixel, 32);

    HDC memory = gfx::CreateCompatibleDC(nullptr);
    gfx::HGDIOBJ old = gfx::SelectObject(memory, object);
    constexpr int kW = resources::kPtzMarkerWidth;
    constexpr int kH = resources::kPtzMarkerHeight;
    for (int x = 0; x < kW; ++x) {
        EXPECT_EQ(gfx::GetPixel(memory, x, 0), resources::kPtzMarkerKey);
        EXPECT_EQ(gfx::GetPixel(memory, x, kH - 1), resources::kPtzMarkerKey);
    }
    for (int y = 0; y < kH; ++y) {
        EXPECT_EQ(gfx::GetPixel(memory, 0, y), resources::kPtzMarkerKey);
        EXPECT_EQ(gfx::GetPixel(memory, kW - 1, y), resources::kPtzMarkerKey);
    }
    EXPECT_EQ(gfx::GetPixel(memory, kW / 2, kH / 2), resources::kPtzMarkerColor) << "the crosshair's middle";

    // Copied onto an off-screen surface with BitBlt, the marker keeps its
    // colours; blitted from there with black as the source colour key, only
    // the crosshair covers what lies below.
    gfx::DirectDraw* device = nullptr;
    ASSERT_EQ(gfx::DirectDrawCreateEx(nullptr, &device), gfx::DD_OK);
    auto makeSurface = [&] {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        desc.dwFlags = gfx::DDSD_CAPS | gfx::DDSD_WIDTH | gfx::DDSD_HEIGHT;
        desc.ddsCaps.dwCaps = gfx::DDSCAPS_OFFSCREENPLAIN;
        desc.dwWidth = kW;
        desc.dwHeight = kH;
        gfx::Surface* surface = nullptr;
        EXPECT_EQ(device->CreateSurface(&desc, &surface), gfx::DD_OK);
        gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), kBackdropPixel };
        surface->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
        return surface;
    };
    auto pixelsOf = [](gfx::Surface* surface) {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        std::vector<std::uint32_t> out;
        EXPECT_EQ(surface->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DD_OK);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                std::uint32_t v = 0;
                std::memcpy(&v, static_cast<std::uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * 4, 4);
                out.push_back(v & gfx::kRgbMask);
            }
        surface->Unlock(nullptr);
        return out;
    };
    gfx::Surface* copy = makeSurface();
    HDC dc = nullptr;
    ASSERT_EQ(copy->GetDC(&dc), gfx::DD_OK);
    ASSERT_TRUE(gfx::BitBlt(dc, 0, 0, kW, kH, memory, 0, 0, gfx::SRCCOPY));
    copy->ReleaseDC(dc);
    const std::vector<std::uint32_t> copied = pixelsOf(copy);
    int lit = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const std::uint32_t p = copied[static_cast<std::size_t>(y * kW + x)];
            ASSERT_EQ(p, gfx::XrgbFromColorRef(gfx::GetPixel(memory, x, y))) << x << "," << y;
            lit += p == gfx::XrgbFromColorRef(resources::kPtzMarkerColor);
        }
    EXPECT_GT(lit, 40);

    gfx::Surface* scene = makeSurface();
    gfx::DDCOLORKEY key { gfx::XrgbFromColorRef(resources::kPtzMarkerKey), gfx::XrgbFromColorRef(resources::kPtzMarkerKey) };
    ASSERT_EQ(copy->SetColorKey(gfx::DDCKEY_SRCBLT, &key), gfx::DD_OK);
    ASSERT_EQ(scene->Blt(nullptr, copy, nullptr, gfx::DDBLT_KEYSRC, nullptr), gfx::DD_OK);
    const std::vector<std::uint32_t> shown = pixelsOf(scene);
    for (std::size_t i = 0; i < shown.size(); ++i)
        ASSERT_EQ(shown[i], copied[i] == gfx::XrgbFromColorRef(resources::kPtzMarkerKey) ? kBackdropPixel : copied[i]) << i;

    scene->Release();
    copy->Release();
    device->Release();
    gfx::SelectObject(memory, old);
    gfx::DeleteDC(memory);
    gfx::DeleteObject(object);
}

}
