// The stream presenter: the views a host names go out as JPEG pictures of
// what changed in them, whole when they are new, resized or asked for again.

#include "present/StreamPresenter.h"

#include "gfx/Gdi.h"
#include "gfx/Screen.h"
#include "ui/Monitor.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

constexpr LONG kScreenWidth = 640;
constexpr LONG kScreenHeight = 360;
constexpr auto kWait = std::chrono::seconds(3);
// Long enough for the presenter to have sent a picture that it should not send.
constexpr auto kQuiet = std::chrono::milliseconds(300);

void paint(const RECT& r, COLORREF color)
{
    HWND window = ui::CreateWindowEx(0, "static", "paint", WS_POPUP | WS_VISIBLE, 0, 0, kScreenWidth, kScreenHeight, nullptr);
    HDC dc = gfx::GetDC(window);
    gfx::HBRUSH brush = gfx::CreateSolidBrush(color);
    gfx::FillRect(dc, &r, brush);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(brush));
    gfx::ReleaseDC(window, dc);
    ui::DestroyWindow(window);
}

// The JPEG's pixel at (x, y) as 0xRRGGBB.
std::uint32_t pixelOf(const std::vector<std::uint8_t>& jpeg, int x, int y)
{
    tjhandle decoder = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colours = 0;
    tjDecompressHeader3(decoder, jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colours);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    tjDecompress2(decoder, jpeg.data(), jpeg.size(), rgb.data(), width, 0, height, TJPF_RGB, 0);
    tjDestroy(decoder);
    const unsigned char* p = rgb.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    return (std::uint32_t { p[0] } << 16) | (std::uint32_t { p[1] } << 8) | p[2];
}

bool near(std::uint32_t a, std::uint32_t b)
{
    for (int shift : { 0, 8, 16 })
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 24)
            return false;
    return true;
}

class StreamPresenterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui::SetMonitorSizes({ SIZE { kScreenWidth, kScreenHeight } });
        gfx::Screen::Get().SyncToMonitors();
        paint(RECT { 0, 0, kScreenWidth, kScreenHeight }, RGB(0, 0, 0));
        presenter = present::StreamPresenter::Create([this](present::StreamPicture&& p) {
            std::lock_guard lock(mutex);
            pictures.push_back(std::move(p));
            arrived.notify_all();
        });
    }
    void TearDown() override
    {
        presenter.reset();
        ui::SetMonitorSizes({});
    }

    // The next picture, or a picture with view 0 when none came.
    present::StreamPicture next(std::chrono::milliseconds limit = kWait)
    {
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, limit, [&] { return !pictures.empty(); }))
            return {};
        present::StreamPicture p = std::move(pictures.front());
        pictures.pop_front();
        return p;
    }

    std::unique_ptr<present::StreamPresenter> presenter;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<present::StreamPicture> pictures;
};

TEST_F(StreamPresenterTest, AViewGoesWholeThenOnlyItsChangedPart)
{
    paint(RECT { 100, 50, 300, 200 }, RGB(0, 0, 255));
    presenter->SetViews({ { 7, RECT { 100, 50, 300, 200 } } });
    auto whole = next();
    ASSERT_EQ(whole.view, 7u);
    EXPECT_EQ(whole.part, (RECT { 0, 0, 200, 150 }));
    EXPECT_EQ(whole.viewWidth, 200);
    EXPECT_EQ(whole.viewHeight, 150);
    EXPECT_TRUE(near(pixelOf(whole.jpeg, 100, 75), 0x0000FF)) << std::hex << pixelOf(whole.jpeg, 100, 75);

    const auto before = std::chrono::system_clock::now();
    paint(RECT { 150, 80, 170, 90 }, RGB(255, 0, 0));
    auto part = next();
    ASSERT_EQ(part.view, 7u);
    EXPECT_EQ(part.part, (RECT { 50, 30, 70, 40 })) << "only the changed rectangle, in the view's coordinates";
    EXPECT_TRUE(near(pixelOf(part.jpeg, 10, 5), 0xFF0000));
    EXPECT_GT(part.serial, whole.serial);
    const auto changed = std::chrono::system_clock::time_point(std::chrono::microseconds(part.changedUs));
    EXPECT_GE(changed, before - std::chrono::milliseconds(1));
    EXPECT_LE(changed, std::chrono::system_clock::now());

    // A change outside the view sends nothing.
    paint(RECT { 400, 250, 420, 260 }, RGB(0, 255, 0));
    EXPECT_EQ(next(kQuiet).view, 0u);
}

TEST_F(StreamPresenterTest, AResizedViewANewViewerAndAnOverlapSendWholePicturesOrBoth)
{
    presenter->SetViews({ { 1, RECT { 0, 0, 100, 100 } } });
    ASSERT_EQ(next().part, (RECT { 0, 0, 100, 100 }));
    presenter->SetViews({ { 1, RECT { 0, 0, 120, 90 } } });
    auto resized = next();
    EXPECT_EQ(resized.part, (RECT { 0, 0, 120, 90 }));
    EXPECT_EQ(resized.viewWidth, 120);

    presenter->SendWhole();
    EXPECT_EQ(next().part, (RECT { 0, 0, 120, 90 })) << "a new viewer gets the whole view";

    // Two views over one spot: a change there goes to both.
    presenter->SetViews({ { 1, RECT { 0, 0, 120, 90 } }, { 2, RECT { 60, 40, 200, 160 } } });
    EXPECT_EQ(next().view, 2u); // the new view, whole
    paint(RECT { 70, 50, 80, 60 }, RGB(255, 255, 255));
    auto first = next(), second = next();
    EXPECT_EQ(first.view + second.view, 3u);
    EXPECT_EQ((first.view == 1 ? first : second).part, (RECT { 70, 50, 80, 60 }));
    EXPECT_EQ((first.view == 2 ? first : second).part, (RECT { 10, 10, 20, 20 }));
}

}
