// The display device: surfaces and their memory, the primary surface as the
// screen, the clipper, lost surfaces and the driver's refusals.

#include "gfx/DirectDraw.h"
#include "gfx/Screen.h"
#include "gfx/Surface.h"

#include "ui/Monitor.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr LONG kScreenWidth = 320;
constexpr LONG kScreenHeight = 200;

class SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gfx::ResetDriverRules();
        ui::SetMonitorSizes({ SIZE { kScreenWidth, kScreenHeight } });
        ASSERT_EQ(gfx::DirectDrawCreateEx(nullptr, &device), gfx::DD_OK);
    }
    void TearDown() override
    {
        if (device)
            device->Release();
        gfx::ResetDriverRules();
    }

    gfx::Surface* make(int w, int h, DWORD caps = gfx::DDSCAPS_OFFSCREENPLAIN, DWORD fourCC = 0, HRESULT* result = nullptr)
    {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        desc.dwFlags = gfx::DDSD_CAPS | gfx::DDSD_WIDTH | gfx::DDSD_HEIGHT;
        desc.ddsCaps.dwCaps = caps;
        desc.dwWidth = static_cast<DWORD>(w);
        desc.dwHeight = static_cast<DWORD>(h);
        if (fourCC) {
            desc.dwFlags |= gfx::DDSD_PIXELFORMAT;
            desc.ddpfPixelFormat.dwSize = gfx::kPixelFormatSize;
            desc.ddpfPixelFormat.dwFlags = gfx::DDPF_FOURCC;
            desc.ddpfPixelFormat.dwFourCC = fourCC;
        }
        gfx::Surface* s = nullptr;
        HRESULT hr = device->CreateSurface(&desc, &s);
        if (result)
            *result = hr;
        return s;
    }

    gfx::Surface* makePrimary()
    {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        desc.dwFlags = gfx::DDSD_CAPS;
        desc.ddsCaps.dwCaps = gfx::DDSCAPS_PRIMARYSURFACE;
        gfx::Surface* s = nullptr;
        EXPECT_EQ(device->CreateSurface(&desc, &s), gfx::DD_OK);
        return s;
    }

    static void fill(gfx::Surface* s, DWORD color, const RECT* rect = nullptr)
    {
        gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), color };
        ASSERT_EQ(s->Blt(rect, nullptr, nullptr, gfx::DDBLT_COLORFILL | gfx::DDBLT_WAIT, &fx), gfx::DD_OK);
    }

    static std::uint32_t pixel(gfx::Surface* s, int x, int y)
    {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        EXPECT_EQ(s->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DD_OK);
        std::uint32_t v = 0;
        std::memcpy(&v, static_cast<std::uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * 4, 4);
        s->Unlock(nullptr);
        return v;
    }

    gfx::DirectDraw* device = nullptr;
};

TEST_F(SurfaceTest, NoDeviceWhenTheDriverHasNone)
{
    gfx::DriverRules rules;
    rules.deviceAvailable = false;
    gfx::SetDriverRules(rules);
    gfx::DirectDraw* none = reinterpret_cast<gfx::DirectDraw*>(1);
    EXPECT_EQ(gfx::DirectDrawCreateEx(nullptr, &none), gfx::DDERR_NODIRECTDRAWHW);
    EXPECT_EQ(none, nullptr);
}

TEST_F(SurfaceTest, SurfacesHaveAlignedPitchAndTheirFormat)
{
    gfx::Surface* rgb = make(13, 5);
    gfx::Surface* yv12 = make(13, 5, gfx::DDSCAPS_OFFSCREENPLAIN | gfx::DDSCAPS_VIDEOMEMORY, gfx::kFourCCYv12);
    gfx::Surface* uyvy = make(13, 5, gfx::DDSCAPS_OFFSCREENPLAIN, gfx::kFourCCUyvy);
    ASSERT_TRUE(rgb && yv12 && uyvy);
    EXPECT_EQ(rgb->Format(), gfx::PixelFormat::Xrgb8888);
    EXPECT_GE(rgb->Pitch(), 13 * 4);
    EXPECT_EQ(yv12->Format(), gfx::PixelFormat::Yv12);
    EXPECT_EQ(yv12->Pitch() % 2, 0);
    EXPECT_GE(uyvy->Pitch(), 7 * 4);
    gfx::DDSURFACEDESC2 desc {};
    desc.dwSize = gfx::kSurfaceDescSize;
    ASSERT_EQ(yv12->GetSurfaceDesc(&desc), gfx::DD_OK);
    EXPECT_EQ(desc.ddpfPixelFormat.dwFourCC, gfx::kFourCCYv12);
    // A description of the wrong size is refused.
    desc.dwSize = 100;
    gfx::Surface* none = nullptr;
    EXPECT_EQ(device->CreateSurface(&desc, &none), gfx::DDERR_INVALIDPARAMS);
    rgb->Release();
    yv12->Release();
    uyvy->Release();
}

TEST_F(SurfaceTest, RefusedVideoMemoryFailsWithItsCode)
{
    gfx::DriverRules rules;
    rules.refuseSurface = [](const gfx::SurfaceRequest& r) { return (r.caps & gfx::DDSCAPS_SYSTEMMEMORY) == 0; };
    gfx::SetDriverRules(rules);
    HRESULT hr = gfx::DD_OK;
    EXPECT_EQ(make(8, 8, gfx::DDSCAPS_OFFSCREENPLAIN, 0, &hr), nullptr);
    EXPECT_EQ(hr, gfx::DDERR_OUTOFVIDEOMEMORY);
    gfx::Surface* system = make(8, 8, gfx::DDSCAPS_OFFSCREENPLAIN | gfx::DDSCAPS_SYSTEMMEMORY);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->Memory(), gfx::MemoryKind::System);
    system->Release();
}

TEST_F(SurfaceTest, PrimaryIsTheScreenAtScreenSize)
{
    gfx::Surface* primary = makePrimary();
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(primary->Width(), kScreenWidth);
    EXPECT_EQ(primary->Height(), kScreenHeight);
    RECT r { 10, 20, 30, 40 };
    fill(primary, 0x00FF8000, &r);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(10, 20), 0x00FF8000u);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(30, 40), 0u);
    // A Lock of the primary surface is the screen's memory.
    gfx::DDSURFACEDESC2 desc {};
    desc.dwSize = gfx::kSurfaceDescSize;
    ASSERT_EQ(primary->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DD_OK);
    std::uint64_t before = gfx::Screen::Get().Generation();
    static_cast<std::uint32_t*>(desc.lpSurface)[0] = 0x0000FF;
    primary->Unlock(nullptr);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(0, 0), 0x0000FFu);
    EXPECT_GT(gfx::Screen::Get().Generation(), before); // presenters see the change
    fill(primary, 0);
    primary->Release();
}

TEST_F(SurfaceTest, ClipperKeepsBlitsToThePrimaryInsideTheWindowsVisiblePart)
{
    gfx::Surface* primary = makePrimary();
    gfx::Surface* red = make(100, 100);
    fill(red, 0x00FF0000);
    fill(primary, 0);
    HWND parent = ui::CreateWindowEx(0, "static", "parent", WS_POPUP | WS_VISIBLE, 100, 100, 100, 60, nullptr);
    HWND child = ui::CreateWindowEx(0, "static", "child", WS_CHILD | WS_VISIBLE, 50, 20, 100, 100, parent);
    gfx::Clipper* clipper = nullptr;
    ASSERT_EQ(device->CreateClipper(0, &clipper), gfx::DD_OK);
    clipper->SetHWnd(0, child);
    primary->SetClipper(clipper);
    RECT windowRect {};
    ui::GetWindowRect(child, &windowRect); // (150, 120) to (250, 220); visible to (200, 160)
    ASSERT_EQ(primary->Blt(&windowRect, red, nullptr, gfx::DDBLT_WAIT, nullptr), gfx::DD_OK);
    gfx::Screen& screen = gfx::Screen::Get();
    EXPECT_EQ(screen.PixelAt(150, 120), 0x00FF0000u);
    EXPECT_EQ(screen.PixelAt(199, 159), 0x00FF0000u);
    EXPECT_EQ(screen.PixelAt(200, 159), 0u);
    EXPECT_EQ(screen.PixelAt(199, 160), 0u);
    EXPECT_EQ(screen.PixelAt(149, 120), 0u);
    // A window above it is cut out too.
    fill(primary, 0);
    HWND above = ui::CreateWindowEx(0, "static", "above", WS_POPUP | WS_VISIBLE, 160, 130, 10, 10, nullptr);
    ASSERT_EQ(primary->Blt(&windowRect, red, nullptr, gfx::DDBLT_WAIT, nullptr), gfx::DD_OK);
    EXPECT_EQ(screen.PixelAt(165, 135), 0u);
    EXPECT_EQ(screen.PixelAt(159, 135), 0x00FF0000u);
    EXPECT_EQ(screen.PixelAt(170, 135), 0x00FF0000u);
    ui::DestroyWindow(above);
    // Hidden: nothing at all.
    fill(primary, 0);
    ui::ShowWindow(parent, SW_HIDE);
    EXPECT_EQ(primary->Blt(&windowRect, red, nullptr, gfx::DDBLT_WAIT, nullptr), gfx::DD_OK);
    EXPECT_EQ(screen.PixelAt(150, 120), 0u);
    primary->SetClipper(nullptr);
    clipper->Release();
    ui::DestroyWindow(parent);
    red->Release();
    primary->Release();
}

TEST_F(SurfaceTest, LostSurfacesRefuseWorkUntilRestored)
{
    gfx::Surface* a = make(4, 4);
    gfx::Surface* b = make(4, 4);
    fill(a, 0x00123456);
    a->ForceLost();
    EXPECT_EQ(a->IsLost(), gfx::DDERR_SURFACELOST);
    EXPECT_EQ(static_cast<std::uint32_t>(gfx::DDERR_SURFACELOST), 0x887601C2u);
    EXPECT_EQ(b->BltFast(0, 0, a, nullptr, gfx::DDBLTFAST_WAIT), gfx::DDERR_SURFACELOST);
    EXPECT_EQ(a->BltFast(0, 0, b, nullptr, gfx::DDBLTFAST_WAIT), gfx::DDERR_SURFACELOST);
    gfx::DDSURFACEDESC2 desc {};
    desc.dwSize = gfx::kSurfaceDescSize;
    EXPECT_EQ(a->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DDERR_SURFACELOST);
    HDC dc = nullptr;
    EXPECT_EQ(a->GetDC(&dc), gfx::DDERR_SURFACELOST);
    EXPECT_EQ(a->Restore(), gfx::DD_OK);
    EXPECT_EQ(a->IsLost(), gfx::DD_OK);
    EXPECT_EQ(pixel(a, 0, 0), 0u); // restored memory is black

    // A display change loses all; the device restores all, or reports the first refusal.
    gfx::LoseAllSurfaces();
    EXPECT_EQ(b->IsLost(), gfx::DDERR_SURFACELOST);
    gfx::DriverRules rules;
    rules.refuseRestore = [a](const gfx::Surface& s) { return &s == a; };
    gfx::SetDriverRules(rules);
    EXPECT_EQ(device->RestoreAllSurfaces(), gfx::DDERR_WRONGMODE);
    EXPECT_EQ(b->IsLost(), gfx::DD_OK);
    EXPECT_EQ(a->IsLost(), gfx::DDERR_SURFACELOST);
    gfx::ResetDriverRules();
    EXPECT_EQ(device->RestoreAllSurfaces(), gfx::DD_OK);
    a->Release();
    b->Release();
}

TEST_F(SurfaceTest, BltFastWithColourKeyAndBadRectangles)
{
    gfx::Surface* marker = make(3, 1, gfx::DDSCAPS_OFFSCREENPLAIN | gfx::DDSCAPS_SYSTEMMEMORY);
    gfx::Surface* target = make(5, 2);
    fill(target, 0x00777777);
    gfx::DDSURFACEDESC2 desc {};
    desc.dwSize = gfx::kSurfaceDescSize;
    ASSERT_EQ(marker->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DD_OK);
    auto* row = static_cast<std::uint32_t*>(desc.lpSurface);
    row[0] = 0x00FF0000;
    row[1] = 0;
    row[2] = 0x0000FF00;
    marker->Unlock(nullptr);
    // Without a key set, a keyed blit is refused rather than copying black.
    EXPECT_EQ(target->BltFast(1, 0, marker, nullptr, gfx::DDBLTFAST_WAIT | gfx::DDBLTFAST_SRCCOLORKEY), gfx::DDERR_NOCOLORKEY);
    gfx::DDCOLORKEY black { 0, 0 };
    marker->SetColorKey(gfx::DDCKEY_SRCBLT, &black);
    EXPECT_EQ(target->BltFast(1, 0, marker, nullptr, gfx::DDBLTFAST_WAIT | gfx::DDBLTFAST_SRCCOLORKEY), gfx::DD_OK);
    EXPECT_EQ(pixel(target, 1, 0), 0x00FF0000u);
    EXPECT_EQ(pixel(target, 2, 0), 0x00777777u);
    EXPECT_EQ(pixel(target, 3, 0), 0x0000FF00u);
    // Partly off the target: only the part inside is drawn.
    EXPECT_EQ(target->BltFast(4, 1, marker, nullptr, gfx::DDBLTFAST_WAIT), gfx::DD_OK);
    EXPECT_EQ(pixel(target, 4, 1), 0x00FF0000u);
    RECT inverted { 2, 0, 1, 1 };
    EXPECT_EQ(target->BltFast(0, 0, marker, &inverted, gfx::DDBLTFAST_WAIT), gfx::DDERR_INVALIDRECT);
    EXPECT_EQ(target->Blt(&inverted, marker, nullptr, gfx::DDBLT_WAIT, nullptr), gfx::DDERR_INVALIDRECT);
    marker->Release();
    target->Release();
}

TEST_F(SurfaceTest, ReleasingTheDeviceFirstLeavesSurfacesUsable)
{
    gfx::Surface* s = make(2, 2);
    device->Release();
    device = nullptr;
    fill(s, 0x00010203);
    EXPECT_EQ(pixel(s, 1, 1), 0x00010203u);
    s->Release();
}

}
