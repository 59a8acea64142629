// Snapshot windows against the simulated camera: the pictures it sends
// (message 116) open windows that show them stretched and follow the mouse
// on their title bar, close box and grip; closing keeps the others in
// opening order, fifty at most are open; every JPEG the decoder reads is
// shown (progressive and extended ones too), and one it cannot read or that
// claims a hostile size shows the window's background without costing its
// memory; saving through the chooser and the menu, with the ".jpg" rule,
// the ".jpg" filter and a question before a file is replaced; the title and
// the menu item per language.

#include "support/PageFixture.h"

#include "media/Decoder.h"
#include "view/CPicShowWnd.h"

#include "com/CodePage.h"
#include "gfx/Gdi.h"
#include "gfx/Screen.h"
#include "ui/Dialogs.h"

#include <turbojpeg.h>

#include <filesystem>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using control::CTiravexCtrl;

constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 240;
constexpr RECT kShownRect { 150, 30, 1350, 830 };
constexpr DWORD kWaitMs = 5000;
// Channel difference allowed between the screen and the decoded picture.
constexpr int kTolerance = 12;

class Snapshots : public testing_support::CameraPage {
protected:
    void SetUp() override
    {
        CameraPage::SetUp();
        gfx::InstallBackgroundEraser();
        gfx::Screen::Get().SyncToMonitors();
        sim::CameraConfig config;
        config.video.width = kPictureWidth;
        config.video.height = kPictureHeight;
        startCamera(config);
        control = makeControl(0);
        ASSERT_TRUE(login(control));
        folder = fs::path(::testing::TempDir()) / ("snapshots-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override
    {
        CameraPage::TearDown();
        fs::remove_all(folder);
    }

    // The camera takes a picture; returns once the control has handled it.
    void snapshot()
    {
        camera->Snapshot();
        send(kz::kMsgNotice602, { 0, 0, 0, 0 });
        ui::PumpPending();
    }
    static std::vector<CPicShowWnd*> open() { return CPicShowWnd::OpenWindows(); }
    static RECT rectOf(const CPicShowWnd* w)
    {
        RECT r {};
        ui::GetWindowRect(w->GetHwnd(), &r);
        return r;
    }
    // A left drag on the screen from `from` by (dx, dy).
    static void drag(POINT from, LONG dx, LONG dy)
    {
        ui::InjectMouse(ui::MouseAction::LeftDown, from);
        ui::InjectMouse(ui::MouseAction::Move, POINT { from.x + dx / 2, from.y + dy / 2 });
        ui::InjectMouse(ui::MouseAction::Move, POINT { from.x + dx, from.y + dy });
        ui::InjectMouse(ui::MouseAction::LeftUp, POINT { from.x + dx, from.y + dy });
        ui::PumpPending();
    }
    static POINT closeBox(const CPicShowWnd* w)
    {
        RECT r = rectOf(w);
        return POINT { r.right - CPicShowWnd::kCaptionHeight / 2, r.top + CPicShowWnd::kCaptionHeight / 2 };
    }
    static POINT caption(const CPicShowWnd* w)
    {
        RECT r = rectOf(w);
        return POINT { r.left + ui::Width(r) / 2, r.top + CPicShowWnd::kCaptionHeight / 2 };
    }
    static POINT inPicture(const CPicShowWnd* w)
    {
        RECT r = rectOf(w);
        return POINT { r.left + ui::Width(r) / 2, r.top + ui::Height(r) / 2 };
    }
    // Right click in the picture with the menu's answer preset.
    static void menu(const CPicShowWnd* w, UINT_PTR choice)
    {
        ui::SetNextMenuChoice(choice);
        ui::InjectMouse(ui::MouseAction::RightDown, inPicture(w));
        ui::InjectMouse(ui::MouseAction::RightUp, inPicture(w));
        ui::PumpPending();
    }

    // The window's picture area on the screen shows the whole picture
    // stretched to it: a grid of points compared with the decoded picture.
    static void expectStretched(const CPicShowWnd* w)
    {
        const auto& jpeg = w->Picture();
        std::uint32_t width = 0, height = 0;
        ASSERT_TRUE(media::ProbeJpegSize(jpeg.data(), jpeg.size(), width, height));
        media::DecoderState decoder;
        ASSERT_TRUE(media::DecoderOpen(decoder, media::Codec::Mjpeg, static_cast<int>(width), static_cast<int>(height), media::PixelFormat::Bgra));
        std::vector<std::uint8_t> bgra(static_cast<std::size_t>(decoder.outputSize));
        ASSERT_TRUE(media::DecoderDecode(decoder, jpeg.data(), jpeg.size(), bgra.data()));
        media::DecoderClose(decoder);

        ui::PumpPending();
        RECT area = w->PictureRect();
        POINT origin { area.left, area.top };
        ui::ClientToScreen(w->GetHwnd(), &origin);
        constexpr int kGrid = 8;
        for (int gy = 0; gy < kGrid; ++gy)
            for (int gx = 0; gx < kGrid; ++gx) {
                int x = (2 * gx + 1) * ui::Width(area) / (2 * kGrid);
                int y = (2 * gy + 1) * ui::Height(area) / (2 * kGrid);
                std::uint32_t screen = gfx::Screen::Get().PixelAt(origin.x + x, origin.y + y);
                int sx = x * static_cast<int>(width) / ui::Width(area);
                int sy = y * static_cast<int>(height) / ui::Height(area);
                // Nearest sampling may pick a neighbour: the closest of the 3 x 3 around.
                int best = 256;
                for (int ny = std::max(0, sy - 1); ny <= std::min<int>(height - 1, sy + 1); ++ny)
                    for (int nx = std::max(0, sx - 1); nx <= std::min<int>(width - 1, sx + 1); ++nx) {
                        const std::uint8_t* p = &bgra[(static_cast<std::size_t>(ny) * width + nx) * 4];
                        int d = std::max({ std::abs(p[2] - static_cast<int>((screen >> 16) & 0xFF)), std::abs(p[1] - static_cast<int>((screen >> 8) & 0xFF)),
                            std::abs(p[0] - static_cast<int>(screen & 0xFF)) });
                        best = std::min(best, d);
                    }
                EXPECT_LE(best, kTolerance) << "at " << x << "," << y << " of " << ui::Width(area) << "x" << ui::Height(area);
            }
    }

    // The window's picture area shows its background colour all over.
    static void expectBackground(const CPicShowWnd* w)
    {
        ui::PumpPending();
        RECT area = w->PictureRect();
        POINT origin { area.left, area.top };
        ui::ClientToScreen(w->GetHwnd(), &origin);
        const COLORREF b = CPicShowWnd::kBackground;
        const std::uint32_t rgb = (static_cast<std::uint32_t>(b & 0xFF) << 16) | (b & 0xFF00) | ((b >> 16) & 0xFF);
        int other = 0;
        for (int y = 8; y < ui::Height(area) - CPicShowWnd::kGripSize; y += 37)
            for (int x = 8; x < ui::Width(area) - CPicShowWnd::kGripSize; x += 37)
                other += gfx::Screen::Get().PixelAt(origin.x + x, origin.y + y) != rgb;
        EXPECT_EQ(other, 0) << "points not in the background";
    }

    static std::string inCodePage936(const char16_t* text) { return com::WideToMultiByte(text, 936); }

    CTiravexCtrl* control = nullptr;
    fs::path folder;
};

TEST_F(Snapshots, APictureOpensAStretchedWindowThatAPersonMovesResizesAndCloses)
{
    snapshot();
    ASSERT_EQ(open().size(), 1u);
    CPicShowWnd* w = open()[0];
    HWND window = w->GetHwnd();
    EXPECT_EQ(ui::GetClassName(window), "SHOWPIC");
    EXPECT_EQ(ui::GetWindowText(window), inCodePage936(u"显示抓拍"));
    EXPECT_EQ(ui::GetParent(window), nullptr); // top-level, owned by the control
    EXPECT_EQ(ui::GetWindowLongPtr(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, static_cast<LONG_PTR>(WS_EX_TOOLWINDOW));
    EXPECT_EQ(ui::GetWindowLongPtr(window, GWL_STYLE) & (WS_CAPTION | WS_SYSMENU), static_cast<LONG_PTR>(WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(rectOf(w), kShownRect);
    EXPECT_EQ(control->SnapshotCount(), 1);
    std::uint32_t width = 0, height = 0;
    ASSERT_TRUE(media::ProbeJpegSize(w->Picture().data(), w->Picture().size(), width, height));
    EXPECT_EQ(width, static_cast<std::uint32_t>(kPictureWidth));
    EXPECT_EQ(height, static_cast<std::uint32_t>(kPictureHeight));
    expectStretched(w);

    // The grip resizes and the picture follows the new size.
    RECT before = rectOf(w);
    drag(POINT { before.right - 4, before.bottom - 4 }, -500, -300);
    EXPECT_EQ(rectOf(w), (RECT { before.left, before.top, before.right - 500, before.bottom - 300 }));
    expectStretched(w);
    // Never smaller than the least size.
    before = rectOf(w);
    drag(POINT { before.right - 4, before.bottom - 4 }, -600, -450);
    EXPECT_EQ(ui::Width(rectOf(w)), CPicShowWnd::kMinWidth);
    EXPECT_EQ(ui::Height(rectOf(w)), CPicShowWnd::kMinHeight);
    drag(POINT { rectOf(w).right - 4, rectOf(w).bottom - 4 }, 400, 300);

    // The title bar moves it; the picture goes along.
    before = rectOf(w);
    drag(caption(w), 120, 70);
    EXPECT_EQ(rectOf(w), ui::Offset(before, 120, 70));
    expectStretched(w);

    // A press on the close box released elsewhere does not close it.
    POINT box = closeBox(w);
    ui::InjectMouse(ui::MouseAction::LeftDown, box);
    ui::InjectMouse(ui::MouseAction::LeftUp, POINT { box.x - 3 * CPicShowWnd::kCaptionHeight, box.y + 3 * CPicShowWnd::kCaptionHeight });
    ui::PumpPending();
    EXPECT_TRUE(ui::IsWindow(window));
    // A click closes it and tells the control.
    ui::InjectMouse(ui::MouseAction::LeftDown, box);
    ui::InjectMouse(ui::MouseAction::LeftUp, box);
    ASSERT_TRUE(ui::RunUntil([&] { return !ui::IsWindow(window); }, kWaitMs));
    EXPECT_TRUE(open().empty());
    EXPECT_EQ(control->SnapshotCount(), 0);
}

TEST_F(Snapshots, ClosingKeepsTheOthersInOpeningOrderAndFiftyAtMostAreOpen)
{
    for (int i = 0; i < 3; ++i)
        snapshot();
    auto three = open();
    ASSERT_EQ(three.size(), 3u);
    // The newest is on top: moved aside, the second's close box is reachable.
    drag(caption(three[2]), 300, 200);
    ui::InjectMouse(ui::MouseAction::LeftDown, closeBox(three[1]));
    ui::InjectMouse(ui::MouseAction::LeftUp, closeBox(three[1]));
    ASSERT_TRUE(ui::RunUntil([&] { return !three[1]->IsOpen(); }, kWaitMs));
    EXPECT_EQ(open(), (std::vector<CPicShowWnd*> { three[0], three[2] }));
    EXPECT_EQ(control->SnapshotCount(), 2);

    // The closed object is the first free one and comes back last in order.
    snapshot();
    EXPECT_EQ(open(), (std::vector<CPicShowWnd*> { three[0], three[2], three[1] }));
    while (open().size() < CPicShowWnd::kMaxOpen)
        snapshot();
    EXPECT_EQ(control->SnapshotCount(), 50);
    auto full = open();
    snapshot(); // the 51st
    EXPECT_EQ(open(), full);
    EXPECT_EQ(control->SnapshotCount(), 50);

    // Escape closes the window clicked last; then a picture is shown again.
    CPicShowWnd* top = full.back();
    ui::InjectMouse(ui::MouseAction::LeftDown, inPicture(top));
    ui::InjectMouse(ui::MouseAction::LeftUp, inPicture(top));
    ui::PumpPending();
    ui::InjectKey(true, VK_ESCAPE);
    ASSERT_TRUE(ui::RunUntil([&] { return !top->IsOpen(); }, kWaitMs));
    EXPECT_EQ(open().size(), CPicShowWnd::kMaxOpen - 1);
    snapshot();
    EXPECT_EQ(open().size(), CPicShowWnd::kMaxOpen);
    EXPECT_EQ(open().back(), top);

    // With the control the windows go, and none is left in the list.
    control->Release();
    controls.clear();
    EXPECT_TRUE(open().empty());
}

// The same picture coded progressively (SOF2) by TurboJPEG; empty on failure.
std::vector<std::uint8_t> progressive(const std::vector<std::uint8_t>& baseline)
{
    tjhandle transformer = tjInitTransform();
    if (!transformer)
        return {};
    tjtransform transform {};
    transform.op = TJXOP_NONE;
    transform.options = TJXOPT_PROGRESSIVE;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    std::vector<std::uint8_t> result;
    if (tjTransform(transformer, baseline.data(), baseline.size(), 1, &out, &outSize, &transform, 0) == 0)
        result.assign(out, out + outSize);
    tjFree(out);
    tjDestroy(transformer);
    return result;
}

// The offset of the first start-of-frame marker of a JPEG (0 when none).
std::size_t frameMarkerAt(const std::vector<std::uint8_t>& jpeg)
{
    for (std::size_t i = 2; i + 9 < jpeg.size(); i += 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]))
        if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xC0 && jpeg[i + 1] <= 0xC2)
            return i;
    return 0;
}

std::size_t peakMemory()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

TEST_F(Snapshots, EveryJpegTheDecoderReadsIsShownAndTheOthersLeaveTheBackground)
{
    snapshot();
    ASSERT_EQ(open().size(), 1u);
    const std::vector<std::uint8_t> baseline = open()[0]->Picture();
    ASSERT_NE(frameMarkerAt(baseline), 0u);

    // Progressive (SOF2), and extended sequential (SOF1, coded as baseline).
    std::vector<std::uint8_t> sof2 = progressive(baseline);
    ASSERT_NE(frameMarkerAt(sof2), 0u);
    ASSERT_EQ(sof2[frameMarkerAt(sof2) + 1], 0xC2);
    std::vector<std::uint8_t> sof1 = baseline;
    sof1[frameMarkerAt(sof1) + 1] = 0xC1;
    for (const auto& picture : { sof2, sof1 }) {
        send(kz::kMsgSnapshot, picture);
        ASSERT_EQ(open().back()->Picture(), picture);
        expectStretched(open().back());
    }

    // Each of these opens over the last picture, which must not show through.
    std::vector<std::uint8_t> broken = baseline;
    std::fill(broken.begin() + static_cast<std::ptrdiff_t>(frameMarkerAt(broken) + 20), broken.end(), 0x5A);
    std::vector<std::uint8_t> huge = baseline; // claims 16000 x 16000: a gigabyte as BGRA
    const std::size_t sof = frameMarkerAt(huge);
    huge[sof + 5] = huge[sof + 7] = 16000 >> 8;
    huge[sof + 6] = huge[sof + 8] = 16000 & 0xFF;
    const std::size_t before = peakMemory();
    for (const auto& picture : { broken, huge, std::vector<std::uint8_t> { 0xFF, 0xD8, 0xFF } }) {
        send(kz::kMsgSnapshot, picture);
        ASSERT_EQ(open().back()->Picture(), picture);
        expectBackground(open().back());
        // Painted again as a person drags it: the size is never paid for.
        ui::InvalidateRect(open().back()->GetHwnd(), nullptr, FALSE);
        ui::PumpPending();
    }
    EXPECT_LT(peakMemory() - before, std::size_t { 256 } << 20) << "a hostile size was allocated";
    EXPECT_EQ(open().size(), 6u);
}

TEST_F(Snapshots, SavingWritesThePictureAndAddsJpgUnlessTheNameEndsInIt)
{
    snapshot();
    ASSERT_EQ(open().size(), 1u);
    CPicShowWnd* w = open()[0];
    const std::vector<std::uint8_t> picture = w->Picture();
    auto bytesOf = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };

    const std::pair<const char*, const char*> names[] = { { "plain", "plain.jpg" }, { "kept.jpg", "kept.jpg" }, { "upper.JPG", "upper.JPG.jpg" } };
    for (auto [chosen, written] : names) {
        ui::SetNextChooserAnswer((folder / chosen).string());
        menu(w, CPicShowWnd::kCommandSave);
        ASSERT_TRUE(ui::RunUntil([&] { return fs::exists(folder / written); }, kWaitMs)) << chosen;
        ui::RunUntil([&] { return fs::file_size(folder / written) == picture.size(); }, kWaitMs);
        EXPECT_EQ(bytesOf(folder / written), picture) << chosen;
    }
    EXPECT_EQ(ui::LastShownMenu(), (std::vector<ui::MenuItem> { { MF_STRING, CPicShowWnd::kCommandSave, u"保存" } }));
    EXPECT_EQ(ui::LastSaveChooser(), (ui::SaveChooser { "", { { "jpg", "*.jpg" } } })) << "the chooser offers JPEG files";
    EXPECT_FALSE(fs::exists(folder / "upper.JPG"));

    // A file that is there is replaced only when the person agrees; with
    // nobody to ask, it stays.
    const std::vector<std::uint8_t> mine { 'm', 'i', 'n', 'e' };
    std::ofstream(folder / "plain.jpg", std::ios::binary | std::ios::trunc) << "mine";
    for (std::optional<int> answer : { std::optional<int> { ui::IDCANCEL }, std::optional<int> {} }) {
        if (answer)
            ui::SetNextDialogAnswer(*answer);
        ui::SetNextChooserAnswer((folder / "plain").string());
        menu(w, CPicShowWnd::kCommandSave);
        ui::PumpPending();
        EXPECT_EQ(bytesOf(folder / "plain.jpg"), mine);
    }
    auto asked = ui::LastMessageBox();
    ASSERT_TRUE(asked);
    EXPECT_NE(asked->text.find((folder / "plain.jpg").string()), std::string::npos) << "the question names the file";
    ui::SetNextDialogAnswer(ui::IDOK);
    ui::SetNextChooserAnswer((folder / "plain").string());
    menu(w, CPicShowWnd::kCommandSave);
    ASSERT_TRUE(ui::RunUntil([&] { return fs::file_size(folder / "plain.jpg") == picture.size(); }, kWaitMs));
    EXPECT_EQ(bytesOf(folder / "plain.jpg"), picture);

    // A cancelled chooser writes nothing; so does a dismissed menu.
    ui::SetNextChooserAnswer(std::nullopt);
    menu(w, CPicShowWnd::kCommandSave);
    menu(w, 0);
    ui::PumpPending();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator {}), 3);
}

TEST_F(Snapshots, TheTitleAndTheMenuItemFollowTheLanguage)
{
    const struct {
        LONG language;
        const char16_t* title;
        const char16_t* item;
    } cases[] = { { 1, u"顯示抓拍", u"Save" }, { 2, u"Snap Display", u"Save" }, { 0, u"显示抓拍", u"保存" } };
    for (const auto& c : cases) {
        ASSERT_EQ(call(control, "SetLauguage", { num(c.language) }), S_OK);
        snapshot();
        CPicShowWnd* w = open().back();
        EXPECT_EQ(ui::GetWindowText(w->GetHwnd()), inCodePage936(c.title)) << c.language;
        menu(w, 0);
        EXPECT_EQ(ui::LastShownMenu(), (std::vector<ui::MenuItem> { { MF_STRING, CPicShowWnd::kCommandSave, c.item } })) << c.language;
    }
}

}
