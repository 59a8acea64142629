// The render view: making its device and surfaces, the fall-backs a driver
// forces, CopyI420's bounds, lost-surface restore, drawing helpers and the
// frame pipeline from a decoded picture to the screen.

#include "view/CPlayView.h"

#include "media/CMediaHub.h"
#include "gfx/Blit.h"
#include "gfx/Screen.h"
#include "present/Presenter.h"
#include "ui/Monitor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr LONG kScreenWidth = 640;
constexpr LONG kScreenHeight = 360;
constexpr std::uint32_t kYellow = 0x00FFFF00;

struct Yuv {
    BYTE y, u, v;
};

// Video-range BT.601 of an RGB colour.
Yuv yuvOf(std::uint32_t rgb)
{
    double r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    auto byte = [](double v) { return static_cast<BYTE>(std::lround(std::clamp(v, 0.0, 255.0))); };
    return Yuv { byte(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255), byte(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
        byte(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255) };
}

int difference(std::uint32_t a, std::uint32_t b)
{
    int worst = 0;
    for (int shift = 0; shift <= 16; shift += 8)
        worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return worst;
}

// One packed I420 buffer: Y, then U, then V.
struct Picture {
    Picture(int w, int h) : width(w), height(h), bytes(static_cast<std::size_t>(w * h + 2 * (w / 2) * (h / 2))) { }
    BYTE* y() { return bytes.data(); }
    BYTE* u() { return bytes.data() + width * height; }
    BYTE* v() { return u() + (width / 2) * (height / 2); }
    void paint(int x0, int x1, int y0, int y1, Yuv c)
    {
        for (int yy = y0; yy < y1; ++yy)
            for (int x = x0; x < x1; ++x) {
                y()[yy * width + x] = c.y;
                u()[(yy / 2) * (width / 2) + x / 2] = c.u;
                v()[(yy / 2) * (width / 2) + x / 2] = c.v;
            }
    }
    int width;
    int height;
    std::vector<BYTE> bytes;
};

// The eight 75% colour bars.
const std::uint32_t kBars[8] = { 0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF, 0x101010 };

class CPlayViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gfx::ResetDriverRules();
        ui::SetMonitorSizes({ SIZE { kScreenWidth, kScreenHeight } });
        gfx::InstallBackgroundEraser();
        control = ui::CreateWindowEx(0, "static", "control", WS_POPUP | WS_VISIBLE, 20, 20, 600, 320, nullptr);
        video = ui::CreateWindowEx(0, "static", "ALIVE", WS_CHILD | WS_VISIBLE, 2, 2, 596, 316, control);
    }
    void TearDown() override
    {
        ui::DestroyWindow(control);
        gfx::ResetDriverRules();
    }

    static std::vector<BYTE> lockBytes(gfx::Surface* s, gfx::DDSURFACEDESC2* out = nullptr)
    {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        EXPECT_EQ(s->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DD_OK);
        std::size_t size = static_cast<std::size_t>(desc.lPitch) * desc.dwHeight;
        if (s->Format() == gfx::PixelFormat::Yv12)
            size += 2 * static_cast<std::size_t>(desc.lPitch / 2) * ((desc.dwHeight + 1) / 2);
        auto* p = static_cast<BYTE*>(desc.lpSurface);
        std::vector<BYTE> bytes(p, p + size);
        s->Unlock(nullptr);
        if (out)
            *out = desc;
        return bytes;
    }

    static void setBytes(gfx::Surface* s, BYTE value)
    {
        gfx::DDSURFACEDESC2 desc {};
        desc.dwSize = gfx::kSurfaceDescSize;
        ASSERT_EQ(s->Lock(nullptr, &desc, gfx::DDLOCK_WAIT), gfx::DD_OK);
        std::size_t size = static_cast<std::size_t>(desc.lPitch) * desc.dwHeight;
        if (s->Format() == gfx::PixelFormat::Yv12)
            size += 2 * static_cast<std::size_t>(desc.lPitch / 2) * ((desc.dwHeight + 1) / 2);
        std::memset(desc.lpSurface, value, size);
        s->Unlock(nullptr);
    }

    static std::uint32_t pixel(gfx::Surface* s, int x, int y)
    {
        gfx::DDSURFACEDESC2 desc {};
        auto bytes = lockBytes(s, &desc);
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + y * desc.lPitch + x * 4, 4);
        return v & 0x00FFFFFF;
    }

    HWND control = nullptr;
    HWND video = nullptr;
};

TEST_F(CPlayViewTest, CreateFailsWithoutADeviceAndNothingIsDrawn)
{
    gfx::DriverRules rules;
    rules.deviceAvailable = false;
    gfx::SetDriverRules(rules);
    gfx::Screen::Get().SyncToMonitors();
    const std::uint64_t before = gfx::Screen::Get().Generation();
    CPlayView view;
    EXPECT_FALSE(view.Create(control, kScreenWidth, kScreenHeight));
    EXPECT_EQ(view.device, nullptr);
    EXPECT_FALSE(view.AttachClipper(control));
    view.FillSurface(view.composition, 0);
    EXPECT_FALSE(view.IsReady());
    EXPECT_EQ(view.CreateSurface(8, 8), nullptr);
    EXPECT_EQ(view.CreateYuvSurface(8, 8), nullptr);
    EXPECT_TRUE(FAILED(view.Present(video, false)));
    EXPECT_EQ(gfx::Screen::Get().Generation(), before); // the screen was not touched
}

TEST_F(CPlayViewTest, CreateMakesAScreenSizedCompositionSurfaceAndPrimaryWithClipper)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    EXPECT_TRUE(view.AttachClipper(control));
    view.FillSurface(view.composition, 0);
    EXPECT_TRUE(view.IsReady());
    EXPECT_EQ(view.width, kScreenWidth);
    EXPECT_EQ(view.height, kScreenHeight);
    EXPECT_EQ(view.composition->Width(), kScreenWidth);
    EXPECT_EQ(view.primary->Width(), kScreenWidth);
    EXPECT_EQ(view.GetClipperWindow(), control);
    view.SetClipperWindow(video);
    EXPECT_EQ(view.GetClipperWindow(), video);
    // ReleaseAll keeps only the clipper.
    view.ReleaseAll();
    EXPECT_FALSE(view.device || view.primary || view.composition);
    EXPECT_NE(view.clipper, nullptr);
}

TEST_F(CPlayViewTest, SurfacesFallBackAsTheDriverRefuses)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    gfx::DriverRules rules;
    rules.refuseSurface = [](const gfx::SurfaceRequest& r) { return r.format == gfx::PixelFormat::Yv12 || (r.format == gfx::PixelFormat::Xrgb8888 && !(r.caps & gfx::DDSCAPS_SYSTEMMEMORY)); };
    gfx::SetDriverRules(rules);
    gfx::Surface* yuv = view.CreateYuvSurface(64, 48);
    ASSERT_NE(yuv, nullptr);
    EXPECT_EQ(yuv->Format(), gfx::PixelFormat::Uyvy);
    gfx::Surface* back = view.CreateSurface(64, 48);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Memory(), gfx::MemoryKind::System);
    rules.refuseSurface = [](const gfx::SurfaceRequest& r) { return r.format != gfx::PixelFormat::Xrgb8888; };
    gfx::SetDriverRules(rules);
    EXPECT_EQ(view.CreateYuvSurface(64, 48), nullptr);
    yuv->Release();
    back->Release();
}

TEST_F(CPlayViewTest, CopyI420WithOneRowCopiesOneLumaRowAndNoChroma)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    gfx::Surface* yuv = view.CreateYuvSurface(4, 2);
    setBytes(yuv, 0x55);
    const BYTE y[4] = { 1, 2, 3, 4 };
    const BYTE chroma[2] = { 9, 9 };
    ASSERT_EQ(view.CopyI420(y, chroma, chroma, 1, yuv, 4, 1), yuv);
    EXPECT_EQ(view.lastResult, gfx::DD_OK);
    gfx::DDSURFACEDESC2 desc {};
    auto bytes = lockBytes(yuv, &desc);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[3], 4);
    EXPECT_EQ(bytes[static_cast<std::size_t>(desc.lPitch)], 0x55); // row 1 untouched
    for (std::size_t i = static_cast<std::size_t>(desc.lPitch) * 2; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], 0x55) << "chroma written at " << i;
    yuv->Release();
}

TEST_F(CPlayViewTest, CopyI420NeverWritesPastTheLockedSurface)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    for (DWORD refused : { 0u, 1u }) {
        gfx::DriverRules rules;
        if (refused)
            rules.refuseSurface = [](const gfx::SurfaceRequest& r) { return r.format == gfx::PixelFormat::Yv12; };
        gfx::SetDriverRules(rules);
        gfx::Surface* yuv = view.CreateYuvSurface(6, 4);
        ASSERT_NE(yuv, nullptr);
        setBytes(yuv, 0xEE);
        Picture big(20, 10); // larger than the surface in both directions
        for (std::size_t i = 0; i < big.bytes.size(); ++i)
            big.bytes[i] = static_cast<BYTE>(i % 200);
        ASSERT_EQ(view.CopyI420(big.y(), big.u(), big.v(), 1, yuv, 20, 10), yuv);
        gfx::DDSURFACEDESC2 desc {};
        auto bytes = lockBytes(yuv, &desc);
        const std::size_t pitch = static_cast<std::size_t>(desc.lPitch);
        if (yuv->Format() == gfx::PixelFormat::Yv12) {
            for (std::size_t row = 0; row < 4; ++row)
                for (std::size_t x = 0; x < pitch; ++x)
                    ASSERT_EQ(bytes[row * pitch + x], x < 6 ? big.y()[row * 20 + x] : 0xEE) << row << "," << x;
            const BYTE* vPlane = bytes.data() + pitch * 4;
            const BYTE* uPlane = vPlane + (pitch / 2) * 2;
            for (std::size_t row = 0; row < 2; ++row)
                for (std::size_t x = 0; x < pitch / 2; ++x) {
                    ASSERT_EQ(vPlane[row * (pitch / 2) + x], x < 3 ? big.v()[row * 10 + x] : 0xEE);
                    ASSERT_EQ(uPlane[row * (pitch / 2) + x], x < 3 ? big.u()[row * 10 + x] : 0xEE);
                }
        } else {
            for (std::size_t row = 0; row < 4; ++row) {
                for (std::size_t x = 0; x < pitch; ++x) {
                    const BYTE b = bytes[row * pitch + x];
                    if (x >= 12) {
                        ASSERT_EQ(b, 0xEE) << "written past the row at " << row << "," << x;
                        continue;
                    }
                    const std::size_t px = (x / 4) * 2;
                    const BYTE expected[4] = { big.u()[(row / 2) * 10 + px / 2], big.y()[row * 20 + px], big.v()[(row / 2) * 10 + px / 2], big.y()[row * 20 + px + 1] };
                    ASSERT_EQ(b, expected[x % 4]) << row << "," << x;
                }
            }
        }
        // Refused inputs: a negative flag, no surface, an RGB surface, a missing plane.
        EXPECT_EQ(view.CopyI420(big.y(), big.u(), big.v(), -1, yuv, 20, 10), nullptr);
        EXPECT_EQ(view.CopyI420(big.y(), big.u(), big.v(), 1, nullptr, 20, 10), nullptr);
        EXPECT_EQ(view.CopyI420(big.y(), nullptr, big.v(), 1, yuv, 20, 10), nullptr);
        gfx::Surface* rgb = view.CreateSurface(6, 4);
        EXPECT_EQ(view.CopyI420(big.y(), big.u(), big.v(), 1, rgb, 6, 4), nullptr);
        rgb->Release();
        yuv->Release();
    }
}

TEST_F(CPlayViewTest, CopyI420CutsEveryPictureSizeToEverySurfaceSize)
{
    // Each byte of the locked memory is either the cut picture or untouched.
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    const SIZE surfaces[] = { { 1, 1 }, { 2, 2 }, { 3, 3 }, { 5, 4 }, { 7, 1 } };
    const SIZE pictures[] = { { 1, 1 }, { 1, 2 }, { 2, 1 }, { 3, 3 }, { 9, 7 }, { 16, 16 } };
    for (int refused = 0; refused < 2; ++refused) {
        gfx::DriverRules rules;
        if (refused)
            rules.refuseSurface = [](const gfx::SurfaceRequest& r) { return r.format == gfx::PixelFormat::Yv12; };
        gfx::SetDriverRules(rules);
        for (SIZE sz : surfaces) {
            for (SIZE pic : pictures) {
                gfx::Surface* yuv = view.CreateYuvSurface(sz.cx, sz.cy);
                ASSERT_NE(yuv, nullptr);
                setBytes(yuv, 0xEE);
                const int w = pic.cx;
                const int h = pic.cy;
                Picture picture(w, h);
                for (std::size_t i = 0; i < picture.bytes.size(); ++i)
                    picture.bytes[i] = static_cast<BYTE>(1 + i % 199);
                ASSERT_EQ(view.CopyI420(picture.y(), picture.u(), picture.v(), 1, yuv, w, h), yuv);
                gfx::DDSURFACEDESC2 desc {};
                auto bytes = lockBytes(yuv, &desc);
                const int pitch = desc.lPitch;
                const int rows = std::min<int>(h, sz.cy);
                const int cols = std::min<int>(w, sz.cx);
                for (int i = 0; i < static_cast<int>(bytes.size()); ++i) {
                    int expected = 0xEE;
                    if (yuv->Format() == gfx::PixelFormat::Yv12) {
                        const int lumaBytes = pitch * sz.cy;
                        const int chromaPitch = pitch / 2;
                        const int chromaRows = (sz.cy + 1) / 2;
                        if (i < lumaBytes) {
                            if (i / pitch < rows && i % pitch < cols)
                                expected = picture.y()[(i / pitch) * w + i % pitch];
                        } else {
                            const int c = (i - lumaBytes) % (chromaPitch * chromaRows);
                            const bool isV = i - lumaBytes < chromaPitch * chromaRows;
                            const int row = c / chromaPitch;
                            const int col = c % chromaPitch;
                            if (row < std::min(h / 2, chromaRows) && col < std::min(w / 2, (sz.cx + 1) / 2))
                                expected = (isV ? picture.v() : picture.u())[row * (w / 2) + col];
                        }
                    } else {
                        const int row = i / pitch;
                        const int x = (i % pitch) / 2; // the pixel this byte belongs to
                        const int pairStart = x & ~1;
                        if (row < rows && pairStart < cols) {
                            const int k = (i % pitch) % 4;
                            const int px = pairStart + (k == 3 ? 1 : 0);
                            const bool chromaThere = h / 2 > 0 && pairStart / 2 < w / 2;
                            const int chromaIndex = std::min(row / 2, h / 2 - 1) * (w / 2) + pairStart / 2;
                            if (k == 0)
                                expected = chromaThere ? picture.u()[chromaIndex] : 128;
                            else if (k == 2)
                                expected = chromaThere ? picture.v()[chromaIndex] : 128;
                            else
                                expected = picture.y()[row * w + std::min(px, w - 1)];
                        }
                    }
                    ASSERT_EQ(bytes[static_cast<std::size_t>(i)], expected)
                        << (refused ? "UYVY " : "YV12 ") << sz.cx << "x" << sz.cy << " picture " << w << "x" << h << " byte " << i;
                }
                yuv->Release();
            }
        }
    }
}

TEST_F(CPlayViewTest, UyvyAndYv12PathsShowTheSameColours)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    Picture picture(16, 8);
    for (int i = 0; i < 8; ++i)
        picture.paint(i * 2, i * 2 + 2, 0, 8, yuvOf(kBars[i]));
    std::vector<std::uint32_t> shown[2];
    for (int refused = 0; refused < 2; ++refused) {
        gfx::DriverRules rules;
        if (refused)
            rules.refuseSurface = [](const gfx::SurfaceRequest& r) { return r.format == gfx::PixelFormat::Yv12; };
        gfx::SetDriverRules(rules);
        gfx::Surface* yuv = view.CreateYuvSurface(16, 8);
        gfx::Surface* back = view.CreateSurface(16, 8);
        ASSERT_EQ(yuv->Format(), refused ? gfx::PixelFormat::Uyvy : gfx::PixelFormat::Yv12);
        ASSERT_EQ(view.DrawYuvFrame(yuv, back, picture.bytes.data(), 16, 8), gfx::DD_OK);
        for (int i = 0; i < 8; ++i) {
            shown[refused].push_back(pixel(back, i * 2 + 1, 5));
            EXPECT_LE(difference(shown[refused].back(), kBars[i]), 3) << "bar " << i;
        }
        yuv->Release();
        back->Release();
    }
    EXPECT_EQ(shown[0], shown[1]);
}

TEST_F(CPlayViewTest, RestoreSurfacesStopsAtAPrimaryThatCannotBeRestored)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    gfx::Surface* primary = view.primary;
    gfx::DriverRules rules;
    rules.refuseRestore = [primary](const gfx::Surface& s) { return &s == primary; };
    gfx::SetDriverRules(rules);
    gfx::LoseAllSurfaces();
    EXPECT_EQ(view.RestoreSurfaces(), gfx::DDERR_WRONGMODE);
    EXPECT_EQ(view.composition->IsLost(), gfx::DDERR_SURFACELOST); // not touched
    EXPECT_EQ(view.Present(video, false), gfx::DDERR_SURFACELOST);
    EXPECT_EQ(view.lastResult, static_cast<HRESULT>(0x887601C2u));
    gfx::ResetDriverRules();
    EXPECT_EQ(view.RestoreSurfaces(), gfx::DD_OK);
    EXPECT_EQ(view.composition->IsLost(), gfx::DD_OK);
    CPlayView empty;
    EXPECT_EQ(empty.RestoreSurfaces(), gfx::DD_OK);
}

// The watchdog's recovery: a present reports the loss, the device cannot
// restore, so the view is remade and the windows make their surfaces anew.
TEST_F(CPlayViewTest, ARemadeViewDrawsAgainAfterTheOldOneCouldNotBeRestored)
{
    auto view = std::make_unique<CPlayView>();
    ASSERT_TRUE(view->Create(control, kScreenWidth, kScreenHeight));
    view->AttachClipper(video);
    gfx::Surface* back = view->CreateSurface(8, 8);
    gfx::LoseAllSurfaces();
    EXPECT_EQ(view->Present(video, false), gfx::DDERR_SURFACELOST);
    gfx::DriverRules rules;
    rules.refuseRestore = [](const gfx::Surface&) { return true; };
    gfx::SetDriverRules(rules);
    EXPECT_TRUE(FAILED(view->device->RestoreAllSurfaces()));
    gfx::ResetDriverRules();
    view.reset(); // the window's back surface outlives the view it came from
    back->Release();
    view = std::make_unique<CPlayView>();
    ASSERT_TRUE(view->Create(video, kScreenWidth, kScreenHeight));
    view->AttachClipper(video);
    back = view->CreateSurface(8, 8);
    gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), 0x00FF00FF };
    back->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
    EXPECT_EQ(view->Compose(back, RECT { 0, 0, 8, 8 }, nullptr), gfx::DD_OK);
    EXPECT_EQ(view->Present(video, false), gfx::DD_OK);
    RECT r {};
    ui::GetWindowRect(video, &r);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(r.left + 5, r.top + 5), 0x00FF00FFu);
    back->Release();
}

TEST_F(CPlayViewTest, LastResultHoldsTheLockOfCopyI420AndTheBlitsOfThePipeline)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    gfx::Surface* yuv = view.CreateYuvSurface(8, 8);
    gfx::Surface* back = view.CreateSurface(8, 8);
    Picture picture(8, 8);
    picture.paint(0, 8, 0, 8, yuvOf(0xBF0000));
    // A lost YUV surface: the lock fails, the frame is dropped, the back surface keeps its picture.
    yuv->ForceLost();
    EXPECT_EQ(view.DrawYuvFrame(yuv, back, picture.bytes.data(), 8, 8), gfx::DDERR_SURFACELOST);
    EXPECT_EQ(view.lastResult, gfx::DDERR_SURFACELOST);
    EXPECT_EQ(pixel(back, 4, 4), 0u);
    yuv->Restore();
    // A lost back surface: the copy works, the blit reports the loss.
    back->ForceLost();
    EXPECT_EQ(view.DrawYuvFrame(yuv, back, picture.bytes.data(), 8, 8), gfx::DDERR_SURFACELOST);
    EXPECT_EQ(view.DrawRgbFrame(back, picture.bytes.data(), 2, 2), gfx::DDERR_SURFACELOST);
    back->Restore();
    EXPECT_EQ(view.DrawYuvFrame(yuv, back, picture.bytes.data(), 8, 8), gfx::DD_OK);
    EXPECT_EQ(view.lastResult, gfx::DD_OK);
    // A refused copy drops the frame and says so; lastResult keeps the last lock.
    EXPECT_EQ(view.DrawYuvFrame(nullptr, back, picture.bytes.data(), 8, 8), gfx::DDERR_INVALIDPARAMS);
    EXPECT_EQ(view.lastResult, gfx::DD_OK);
    yuv->Release();
    back->Release();
}

TEST_F(CPlayViewTest, ProbeSurfaceWritesTheValueOrReportsTheLock)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    gfx::Surface* s = view.CreateSurface(4, 4);
    EXPECT_EQ(view.ProbeSurface(s, 0x00ABCDEF), 0);
    EXPECT_EQ(pixel(s, 0, 0), 0x00ABCDEFu);
    s->ForceLost();
    EXPECT_EQ(view.ProbeSurface(s, 1), 1);
    EXPECT_EQ(view.ProbeSurface(nullptr, 1), 1);
    s->Release();
}

TEST_F(CPlayViewTest, BitmapSurfacesCopyTheBitmapWithBlackTransparent)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    EXPECT_EQ(view.CreateBitmapSurface(nullptr, 22, 23), nullptr);
    const std::uint32_t bits[4] = { 0x00FF0000, 0, 0, 0x0000FF00 };
    gfx::HBITMAP bitmap = gfx::CreateBitmap(2, 2, 1, 32, bits);
    gfx::Surface* marker = view.CreateBitmapSurface(bitmap, 2, 2);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(bitmap));
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->Memory(), gfx::MemoryKind::System);
    gfx::Surface* target = view.CreateSurface(4, 4);
    gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), 0x00777777 };
    target->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
    ASSERT_EQ(target->BltFast(1, 1, marker, nullptr, gfx::DDBLTFAST_WAIT | gfx::DDBLTFAST_SRCCOLORKEY), gfx::DD_OK);
    EXPECT_EQ(pixel(target, 1, 1), 0x00FF0000u);
    EXPECT_EQ(pixel(target, 2, 1), 0x00777777u);
    EXPECT_EQ(pixel(target, 2, 2), 0x0000FF00u);
    marker->Release();
    target->Release();
}

TEST_F(CPlayViewTest, FramesOfFivePixelsAndTextsOnSurfaces)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    gfx::Surface* s = view.CreateSurface(40, 30);
    view.DrawFrame(RGB(255, 255, 0), 10, 10, 30, 20, s);
    // The 5-pixel pen is centred on the edges: 8..12 on the left, 27..31 on the right.
    EXPECT_EQ(pixel(s, 8, 15), kYellow);
    EXPECT_EQ(pixel(s, 12, 15), kYellow);
    EXPECT_EQ(pixel(s, 7, 15), 0u);
    EXPECT_EQ(pixel(s, 13, 15), 0u); // hollow
    EXPECT_EQ(pixel(s, 31, 15), kYellow);
    EXPECT_EQ(pixel(s, 32, 15), 0u);
    // Text stands on black cells; a sized "Garamond" text draws too.
    gfx::Surface* t = view.CreateSurface(200, 40);
    gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), 0x00808080 };
    t->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
    view.DrawTextSized(t, 5, 5, u"PAUSE", RGB(255, 0, 0), 20, 10);
    int red = 0;
    int black = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x) {
            std::uint32_t p = pixel(t, x, y);
            red += p == 0x00FF0000;
            black += p == 0;
            if (p != 0x00808080) {
                ASSERT_TRUE(x >= 5 && y >= 5 && y < 25) << x << "," << y;
            }
        }
    EXPECT_GT(red, 30);
    EXPECT_GT(black, 100);
    s->Release();
    t->Release();
}

// The whole pipeline, and the picture it leaves on the screen, saved as PNG.
TEST_F(CPlayViewTest, PipelineShowsTheConvertedPictureFrameAndTextsOnTheScreen)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    ASSERT_TRUE(view.AttachClipper(control));
    view.FillSurface(view.composition, 0);
    ui::SendMessage(control, WM_ERASEBKGND, 0, 0);

    const int w = 320;
    const int h = 180;
    Picture picture(w, h);
    for (int i = 0; i < 8; ++i)
        picture.paint(i * w / 8, (i + 1) * w / 8, 0, h * 2 / 3, yuvOf(kBars[i]));
    for (int x = 0; x < w; ++x) // a grey ramp below the bars
        picture.paint(x, x + 1, h * 2 / 3, h, Yuv { static_cast<BYTE>(16 + x * 219 / (w - 1)), 128, 128 });
    gfx::Surface* yuv = view.CreateYuvSurface(w, h);
    gfx::Surface* back = view.CreateSurface(w, h);
    ASSERT_EQ(view.DrawYuvFrame(yuv, back, picture.bytes.data(), w, h), gfx::DD_OK);
    // The alarm dot on the back surface.
    HDC dc = nullptr;
    ASSERT_EQ(back->GetDC(&dc), gfx::DD_OK);
    gfx::HBRUSH red = gfx::CreateSolidBrush(RGB(255, 0, 0));
    gfx::HGDIOBJ old = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(red));
    gfx::Ellipse(dc, w - 50, h - 50, w - 25, h - 25);
    gfx::SelectObject(dc, old);
    back->ReleaseDC(dc);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(red));

    ASSERT_EQ(view.Compose(back, RECT { 0, 0, w, h }, nullptr), gfx::DD_OK);
    view.DrawFrame(RGB(255, 255, 0), 300, 40, 620, 200, view.composition);
    gfx::HFONT font = gfx::CreateFontA(18, 12, 0, 0, 100, 0, 0, 0, gfx::CHINESEBIG5_CHARSET, 2, 1, 0, 0x30, "Arial");
    view.DrawText(view.composition, 10, 50, u"connecting...", font, RGB(255, 255, 255));
    view.DrawText(view.composition, 10, 80, u"连接失败", font, RGB(255, 255, 255));
    view.DrawText(view.composition, 10, 110, u"連接失敗", font, RGB(255, 255, 255));
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(font));
    ASSERT_EQ(view.Present(video, false), gfx::DD_OK);
    EXPECT_EQ(view.lastResult, gfx::DD_OK);

    // The video window is at (22, 22), 596 x 316, showing the 640 x 360
    // composition surface stretched onto it.
    RECT windowRect {};
    ui::GetWindowRect(video, &windowRect);
    auto onScreen = [&](int cx, int cy) {
        return gfx::Screen::Get().PixelAt(windowRect.left + cx * ui::Width(windowRect) / kScreenWidth, windowRect.top + cy * ui::Height(windowRect) / kScreenHeight);
    };
    for (int i = 0; i < 8; ++i) {
        const int cx = (i * 2 + 1) * kScreenWidth / 16;
        EXPECT_LE(difference(onScreen(cx, 130), kBars[i]), 3) << "bar " << i;
    }
    EXPECT_EQ(onScreen(301, 120), kYellow); // the frame's left band
    EXPECT_EQ(gfx::Screen::Get().PixelAt(windowRect.left - 1, windowRect.top + 10), 0u); // outside the window
    EXPECT_LE(difference(onScreen(w * 2 - 75, h * 2 - 75), 0xFF0000), 0);

    const std::string path = ::testing::TempDir() + "tiravex-render-view.png";
    ASSERT_TRUE(present::SaveScreenPng(path));
    std::vector<std::uint32_t> saved;
    int pw = 0;
    int ph = 0;
    ASSERT_TRUE(present::ReadPng(path, saved, pw, ph));
    EXPECT_EQ(pw, kScreenWidth);
    EXPECT_EQ(ph, kScreenHeight);
    EXPECT_EQ(saved[static_cast<std::size_t>(30 * kScreenWidth + 30)], gfx::Screen::Get().PixelAt(30, 30));
    std::printf("screen saved as %s\n", path.c_str());
    yuv->Release();
    back->Release();
}

TEST_F(CPlayViewTest, KeepRatioComposesIntoTheDisplayRectangleOnBlack)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    view.AttachClipper(video);
    gfx::Surface* back = view.CreateSurface(4, 4);
    gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), 0x00FFFFFF };
    back->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
    view.composition->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
    const RECT display { 100, 0, 300, 200 };
    ASSERT_EQ(view.Compose(back, RECT { 0, 0, 4, 4 }, &display), gfx::DD_OK);
    EXPECT_EQ(pixel(view.composition, 99, 10), 0u);
    EXPECT_EQ(pixel(view.composition, 100, 10), 0x00FFFFFFu);
    EXPECT_EQ(pixel(view.composition, 300, 10), 0u);
    // The present copies one to one from the top-left window-sized part.
    ASSERT_EQ(view.Present(video, true), gfx::DD_OK);
    RECT r {};
    ui::GetWindowRect(video, &r);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(r.left + 100, r.top + 10), 0x00FFFFFFu);
    EXPECT_EQ(gfx::Screen::Get().PixelAt(r.left + 99, r.top + 10), 0u);
    back->Release();
}

// Full screen on the second monitor: the window leaves its parent and
// covers that monitor; presents reach it there, and the page repainting
// beneath it does not paint over it.
TEST_F(CPlayViewTest, AFullScreenWindowOnTheSecondMonitorIsPresentedAndKeptClear)
{
    ui::SetMonitorSizes({ SIZE { 320, 200 }, SIZE { 400, 300 } });
    CPlayView view;
    ASSERT_TRUE(view.Create(control, 320, 200));
    EXPECT_EQ(view.primary->Width(), 720); // the screen covers both monitors
    EXPECT_EQ(view.primary->Height(), 300);
    HWND page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, 0, 0, 720, 300, nullptr);
    ui::SetParent(video, nullptr);
    ui::SetWindowLongPtr(video, GWL_STYLE, WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    ui::SetWindowPos(video, nullptr, 320, 0, 400, 300, SWP_SHOWWINDOW);
    view.SetClipperWindow(video);
    gfx::Surface* back = view.CreateSurface(4, 4);
    gfx::DDBLTFX fx { sizeof(gfx::DDBLTFX), 0x0000FFFF };
    back->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL, &fx);
    ASSERT_EQ(view.Compose(back, RECT { 0, 0, 4, 4 }, nullptr), gfx::DD_OK);
    ASSERT_EQ(view.Present(video, false), gfx::DD_OK);
    gfx::Screen& screen = gfx::Screen::Get();
    EXPECT_EQ(screen.PixelAt(320, 0), 0x0000FFFFu);
    EXPECT_EQ(screen.PixelAt(719, 299), 0x0000FFFFu);
    EXPECT_EQ(screen.PixelAt(319, 0), 0u);
    HDC dc = gfx::GetDC(page);
    RECT all { 0, 0, 720, 300 };
    gfx::FillRect(dc, &all, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::WHITE_BRUSH)));
    gfx::ReleaseDC(page, dc);
    EXPECT_EQ(screen.PixelAt(100, 100), 0x00FFFFFFu);
    EXPECT_EQ(screen.PixelAt(500, 100), 0x0000FFFFu); // under the full-screen window: untouched
    back->Release();
    ui::DestroyWindow(video);
    ui::DestroyWindow(page);
}

TEST_F(CPlayViewTest, TheMediaHubMakesTheViewAtScreenSizeWithItsClipper)
{
    CMediaHub hub(&CPlayView::Make);
    hub.AttachControlWindow(control, 100, 100);
    auto* view = dynamic_cast<CPlayView*>(hub.GetView());
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->IsReady());
    EXPECT_EQ(view->width, kScreenWidth);
    EXPECT_EQ(view->height, kScreenHeight);
    EXPECT_EQ(view->GetClipperWindow(), control);
}

// Frames drawn on a media thread, presents on the watchdog's, paints on
// the page's, all at once: each surface's own lock keeps them apart (run
// under ThreadSanitizer to see it).
TEST_F(CPlayViewTest, FramesPresentsAndPaintsFromThreeThreadsAtOnce)
{
    CPlayView view;
    ASSERT_TRUE(view.Create(control, kScreenWidth, kScreenHeight));
    view.AttachClipper(video);
    const int w = 64;
    const int h = 48;
    gfx::Surface* yuv = view.CreateYuvSurface(w, h);
    gfx::Surface* back = view.CreateSurface(w, h);
    Picture picture(w, h);
    picture.paint(0, w, 0, h, yuvOf(0x00BF00));
    constexpr int kRounds = 20;
    std::atomic<int> framesLeft { kRounds };
    std::thread media([&] {
        for (int i = 0; i < kRounds; ++i) {
            view.DrawYuvFrame(yuv, back, picture.bytes.data(), w, h);
            view.Compose(back, RECT { 0, 0, w, h }, nullptr);
            --framesLeft;
        }
    });
    std::thread watchdog([&] {
        while (framesLeft > 0)
            view.Present(video, false);
    });
    HDC dc = gfx::GetDC(control);
    RECT border { 0, 0, 600, 2 };
    while (framesLeft > 0)
        gfx::FillRect(dc, &border, reinterpret_cast<gfx::HBRUSH>(gfx::GetStockObject(gfx::WHITE_BRUSH)));
    gfx::ReleaseDC(control, dc);
    media.join();
    watchdog.join();
    EXPECT_EQ(view.Present(video, false), gfx::DD_OK);
    RECT r {};
    ui::GetWindowRect(video, &r);
    EXPECT_LE(difference(gfx::Screen::Get().PixelAt(r.left + 50, r.top + 50), 0x00BF00), 3);
    yuv->Release();
    back->Release();
}

}
