// The two area editors as a person uses them: drags and clicks through the
// window system over the live picture, and the texts the page reads and
// loads. The motion grid's cells and the privacy rectangles, and what the
// overlay puts on the screen.

#include "support/Encoder.h"
#include "support/Players.h"

#include "editors/CMotion.h"
#include "editors/CShelter.h"
#include "editors/Notifications.h"
#include "gfx/Screen.h"
#include "media/CMediaHub.h"
#include "ui/Input.h"
#include "ui/Monitor.h"
#include "view/CPlayView.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class Editor : public ::testing::Test {
protected:
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 300;

    void SetUp() override
    {
        ui::ResetInput();
        ui::SetMonitorSizes({});
        page = ui::CreateWindowEx(0, "static", "page", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, &notify);
        const RECT rect { 0, 0, kWidth, kHeight };
        motion.CreateEx(0, "static", "MOTION", WS_CHILD, rect, page, RGB(0, 0, 0));
        shelter.CreateEx(0, "static", "SHELTER", WS_CHILD, rect, page, RGB(0, 0, 0));
        int w = ui::GetSystemMetrics(SM_CXSCREEN), h = ui::GetSystemMetrics(SM_CYSCREEN);
        hub.AttachControlWindow(page, w, h);
        motion.Attach(page, w, h, &hub);
        shelter.Attach(page, w, h, &hub);
        motion.SetWorkRect(rect);
        shelter.SetWorkRect(rect);
    }

    void TearDown() override
    {
        motion.DestroyWindow();
        shelter.DestroyWindow();
        ui::DestroyWindow(page);
        ui::PumpPending();
    }

    // Shows one editor as the page's EnterMotionSet / EnterAreaSet do.
    void enter(CAreaEditor& editor, int id)
    {
        ui::ShowWindow(editor.GetHwnd(), SW_SHOW);
        editor.SetOverlaySize(kWidth, kHeight);
        hub.SetActiveWindow(id);
        hub.GetView()->SetClipperWindow(editor.GetHwnd());
    }

    void drag(HWND window, POINT from, POINT to)
    {
        auto screen = [&](POINT p) {
            ui::ClientToScreen(window, &p);
            return p;
        };
        // Each step is handled before the next comes, as a person's are.
        ui::InjectMouse(ui::MouseAction::LeftDown, screen(from));
        ui::PumpPending();
        ui::InjectMouse(ui::MouseAction::Move, screen(POINT { (from.x + to.x) / 2, (from.y + to.y) / 2 }));
        ui::PumpPending();
        ui::InjectMouse(ui::MouseAction::LeftUp, screen(to));
        ui::PumpPending();
        ++m_drags;
    }
    // A click; two quick ones at one point make a double click.
    void click(HWND window, POINT at) { drag(window, at, at); }

    void showFrame(CPlayBase& player, int id)
    {
        auto packets = testing_support::EncodeH264(kWidth, kHeight, 1);
        ASSERT_FALSE(packets.empty());
        testing_support::Feed(player, kz::kFrameH264, packets[0], true, id);
    }

    testing_support::NotifyWindow notify;
    HWND page = nullptr;
    CMediaHub hub { &CPlayView::Make };
    CMotion motion;
    CShelter shelter;

private:
    int m_drags = 0;
};

// ---- the motion grid --------------------------------------------------------------------------

TEST_F(Editor, ADragFlipsTheCellsItCovers)
{
    enter(motion, kMotionWindowId);
    drag(motion.GetHwnd(), { 0, 0 }, { 79, 59 });
    EXPECT_EQ(motion.Mask(0), 0b11);
    EXPECT_EQ(motion.Mask(1), 0b11);
    for (int row = 2; row < 10; ++row)
        EXPECT_EQ(motion.Mask(row), 0) << row;
    EXPECT_EQ(motion.DragRect(), RECT {}) << "the drag ends";
    drag(motion.GetHwnd(), { 79, 59 }, { 0, 0 });
    for (int row = 0; row < 10; ++row)
        EXPECT_EQ(motion.Mask(row), 0) << "the same drag, backwards, clears them";
    EXPECT_EQ(motion.MaskString(), "&area0=0&area1=0&area2=0&area3=0&area4=0&area5=0&area6=0&area7=0&area8=0&area9=0");

    // Two quick clicks on a cell, a double click to the window system, are
    // two presses: the cell flips and flips back.
    click(motion.GetHwnd(), { 110, 100 });
    EXPECT_EQ(motion.Mask(3), 0b100);
    click(motion.GetHwnd(), { 110, 100 });
    EXPECT_EQ(motion.Mask(3), 0);

    motion.SetGridSize(3, 10);
    EXPECT_EQ(motion.MaskString(), "&area0=0&area1=0&area2=0") << "exactly the grid's rows, from 0";
}

TEST_F(Editor, InvertedSelectionMarksEveryCellButTheDraggedOnes)
{
    enter(motion, kMotionWindowId);
    motion.SetInvertedSelection(true);
    drag(motion.GetHwnd(), { 5, 5 }, { 30, 20 });
    EXPECT_EQ(motion.MaskString(), "&area0=-2&area1=-1&area2=-1&area3=-1&area4=-1&area5=-1&area6=-1&area7=-1&area8=-1&area9=-1");
}

TEST_F(Editor, TheGridStaysWithinItsStorageAndItsWindow)
{
    enter(motion, kMotionWindowId);
    motion.SetGridSize(30, 30); // more than a camera of this kind has
    EXPECT_EQ(motion.GetGridRows(), CMotion::kMaxRows);
    EXPECT_EQ(motion.GetGridCols(), CMotion::kMaxCols);
    // Ending outside the window (the mouse is captured).
    drag(motion.GetHwnd(), { 0, 0 }, { kWidth + 50, kHeight + 50 });
    for (int row = 0; row < CMotion::kMaxRows; ++row)
        EXPECT_EQ(motion.Mask(row), 0xFFFF) << row;
    EXPECT_EQ(motion.Mask(CMotion::kMaxRows), 0) << "nothing past the storage";

    motion.SetGridSize(10, 10);
    motion.LoadMasks("");
    drag(motion.GetHwnd(), { kWidth - 1, kHeight - 1 }, { kWidth - 1, kHeight - 1 });
    EXPECT_EQ(motion.Mask(9), 1 << 9) << "the last cell, at the edge";

    motion.LoadMasks("");
    motion.SetWorkRect(RECT {});
    drag(motion.GetHwnd(), { 0, 0 }, { 100, 100 });
    for (int row = 0; row < 10; ++row)
        EXPECT_EQ(motion.Mask(row), 0) << "no client size, no change";
}

TEST_F(Editor, MasksLoadFromTwentyCommaEndedNumbers)
{
    motion.LoadMasks("5,5,5,");
    motion.LoadMasks("1,2,");
    EXPECT_EQ(motion.Mask(0), 1);
    EXPECT_EQ(motion.Mask(1), 2);
    EXPECT_EQ(motion.Mask(2), 0) << "rows not given are cleared";
    motion.LoadMasks("65535,-1,70000,");
    EXPECT_EQ(motion.MaskString().substr(0, 33), "&area0=-1&area1=-1&area2=4464&are");
}

// The screen's pixels of the editor window that have `colour`.
int pixelsOf(HWND window, std::uint32_t colour, RECT area)
{
    RECT r {};
    ui::GetWindowRect(window, &r);
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            n += (gfx::Screen::Get().PixelAt(r.left + x, r.top + y) & 0xFFFFFF) == colour;
    return n;
}

TEST_F(Editor, TheGridAndTheMarkedCellsAreDrawnOverThePicture)
{
    enter(motion, kMotionWindowId);
    drag(motion.GetHwnd(), { 0, 0 }, { 39, 29 }); // cell (0, 0)
    showFrame(motion, kMotionWindowId);
    const RECT cell { 4, 4, 36, 26 }, other { 124, 124, 156, 146 };
    EXPECT_GT(pixelsOf(motion.GetHwnd(), 0xFF0000, cell), 50) << "red hatching in the marked cell";
    EXPECT_EQ(pixelsOf(motion.GetHwnd(), 0xFF0000, other), 0) << "none in the others";
    EXPECT_GT(pixelsOf(motion.GetHwnd(), 0x0000FF, RECT { 0, 100, 3, 200 }), 30) << "the grid's left line";
    EXPECT_GT(pixelsOf(motion.GetHwnd(), 0x0000FF, RECT { 100, 59, 200, 62 }), 30) << "a row line";
    // Between the lines that cross them, the right and bottom edges have none of their own.
    EXPECT_EQ(pixelsOf(motion.GetHwnd(), 0x0000FF, RECT { kWidth - 4, 35, kWidth, 55 }), 0) << "no line on the right edge";
    EXPECT_EQ(pixelsOf(motion.GetHwnd(), 0x0000FF, RECT { 45, kHeight - 4, 75, kHeight }), 0) << "nor on the bottom";
    EXPECT_GT(pixelsOf(motion.GetHwnd(), 0x0000FF, RECT { 358, 35, 362, 55 }), 5) << "the last column's line is there";
}

// ---- the privacy masks -------------------------------------------------------------------------

TEST_F(Editor, FourRectanglesAtMostAndAFifthDragSelectsInstead)
{
    enter(shelter, kShelterWindowId);
    const std::vector<RECT> drawn = { { 10, 10, 60, 60 }, { 100, 10, 150, 60 }, { 200, 10, 250, 60 }, { 10, 100, 60, 150 } };
    for (const RECT& r : drawn)
        drag(shelter.GetHwnd(), { r.left, r.top }, { r.right, r.bottom });
    ASSERT_EQ(shelter.Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(shelter.Rect(i), drawn[static_cast<std::size_t>(i)]);
    drag(shelter.GetHwnd(), { 110, 20 }, { 300, 200 }); // ends outside every rectangle...
    EXPECT_EQ(shelter.Count(), 4) << "no fifth";
    drag(shelter.GetHwnd(), { 300, 200 }, { 120, 30 }); // ...this one ends in the second
    EXPECT_EQ(shelter.Count(), 4);
    EXPECT_EQ(shelter.Rect(3), drawn[1]) << "the one under the pointer moves to the end, selected";
    EXPECT_EQ(shelter.Selected(), 3);
    EXPECT_EQ(shelter.Rect(1), drawn[2]);
}

TEST_F(Editor, AClickSelectsAndDelRectDeletesKeepingTheOthersInOrder)
{
    enter(shelter, kShelterWindowId);
    const std::vector<RECT> drawn = { { 10, 10, 60, 60 }, { 100, 10, 150, 60 }, { 200, 10, 250, 60 } };
    for (const RECT& r : drawn)
        drag(shelter.GetHwnd(), { r.left, r.top }, { r.right, r.bottom });
    EXPECT_EQ(shelter.Selected(), 3) << "after adding, nothing is highlighted";
    shelter.DeleteSelected();
    EXPECT_EQ(shelter.Count(), 3) << "DelRect with nothing selected deletes nothing";

    click(shelter.GetHwnd(), { 30, 30 });
    ASSERT_EQ(shelter.Selected(), 2);
    EXPECT_EQ(shelter.Rect(2), drawn[0]);
    ASSERT_EQ(notify.posted.size(), 1u);
    EXPECT_EQ(notify.posted[0].message, editors::kNotifyMaskTooSmall) << "a click is too small to be a rectangle";
    EXPECT_EQ(notify.posted[0].lParam, kShelterWindowId);

    shelter.DeleteSelected();
    EXPECT_EQ(shelter.Count(), 2);
    EXPECT_EQ(shelter.Rect(0), drawn[1]);
    EXPECT_EQ(shelter.Rect(1), drawn[2]);
    EXPECT_EQ(shelter.Selected(), 1);
    shelter.DeleteSelected();
    EXPECT_EQ(shelter.Count(), 1) << "a second DelRect deletes again";
    EXPECT_EQ(shelter.Rect(0), drawn[1]);
    EXPECT_EQ(shelter.AreasString().substr(0, 40), "&x1_0=2500&y1_0=333&x2_0=3750&y2_0=2000&") << "deleted ones are gone from the text";

    shelter.DeleteSelected();
    shelter.RestoreDeleted();
    EXPECT_EQ(shelter.Count(), 1) << "entering again restores what the text did not drop";
}

TEST_F(Editor, ADragToTheEdgeReachesTheWholePicture)
{
    enter(shelter, kShelterWindowId);
    drag(shelter.GetHwnd(), { 40, 30 }, { kWidth - 1, kHeight - 1 });
    ASSERT_EQ(shelter.Count(), 1);
    EXPECT_EQ(shelter.Rect(0), (RECT { 40, 30, kWidth + 1, kHeight + 1 }));
    EXPECT_EQ(shelter.AreasString(), "&x1_0=1000&y1_0=1000&x2_0=10000&y2_0=10000&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0");
}

TEST_F(Editor, TheAreasTextLoadsWholeRectanglesInOrder)
{
    shelter.SetPictureSize(640, 480);
    shelter.LoadAreasText("<cgi_result><result>0</result><x1_0>1000</x1_0><y1_0>1000</y1_0><x2_0>2000</x2_0><y2_0>2000</y2_0>"
                          "<x1_1>0</x1_1><y1_1>0</y1_1><x2_1>0</x2_1><y2_1>0</y2_1>"
                          "<x1_2>5000</x1_2><y1_2>5000</y1_2><x2_2>9999</x2_2><y2_2>9999</y2_2>"
                          "<x1_3>0</x1_3><y1_3>0</y1_3><x2_3>30</x2_3><y2_3>9000</y2_3></cgi_result>");
    ASSERT_EQ(shelter.Count(), 2) << "the empty one and the one 2 pixels wide are dropped";
    EXPECT_EQ(shelter.Rect(0), (RECT { 64, 48, 128, 96 }));
    EXPECT_EQ(shelter.Rect(1), (RECT { 320, 240, 639, 479 })) << "rectangle 2 in slot 1";

    shelter.LoadAreasText("<cgi_result><result>0</result><x1_0>1000</x1_0><y1_0>1000</y1_0><x2_0>2000</x2_0><y2_0>2000</y2_0><x1_1>100</x1_1><y1_1>100</y1_1>");
    ASSERT_EQ(shelter.Count(), 1) << "a rectangle with a missing value is not stored";
    EXPECT_EQ(shelter.Rect(1), RECT {});
}

// Found by fuzzing: a page's picture size and values far apart made edges
// whose distance and whose text did not fit 32 bits. The values are kept
// within the picture's range when they are read.
TEST_F(Editor, AreasFarApartAreKeptAndReadBackWithoutOverflow)
{
    shelter.SetPictureSize(10000, 10000);
    shelter.LoadAreasText("<cgi_result><result>0</result><x1_0>-2000000000</x1_0><y1_0>0</y1_0><x2_0>2000000000</x2_0><y2_0>100</y2_0></cgi_result>");
    ASSERT_EQ(shelter.Count(), 1);
    EXPECT_EQ(shelter.Rect(0), (RECT { 0, 0, 10000, 100 }));
    shelter.SetPictureSize(1, 1);
    EXPECT_EQ(shelter.AreasString().substr(0, 64), "&x1_0=0&y1_0=0&x2_0=10000&y2_0=10000&x1_1=0&y1_1=0&x2_1=0&y2_1=0");
    shelter.DeleteSelected();
    shelter.RestoreDeleted();
    EXPECT_EQ(shelter.Count(), 1) << "a restored rectangle that wide counts";
}

TEST_F(Editor, TheRectanglesAreGreenAndTheSelectedOneRed)
{
    enter(shelter, kShelterWindowId);
    drag(shelter.GetHwnd(), { 20, 20 }, { 120, 120 });
    drag(shelter.GetHwnd(), { 200, 20 }, { 300, 120 });
    click(shelter.GetHwnd(), { 250, 70 });
    showFrame(shelter, kShelterWindowId);
    EXPECT_GT(pixelsOf(shelter.GetHwnd(), 0x00FF00, RECT { 18, 18, 23, 122 }), 100) << "the first, green";
    EXPECT_GT(pixelsOf(shelter.GetHwnd(), 0xFF0000, RECT { 198, 18, 203, 122 }), 100) << "the selected, red";
    EXPECT_EQ(pixelsOf(shelter.GetHwnd(), 0xFF0000, RECT { 18, 18, 23, 122 }), 0);
}

}
