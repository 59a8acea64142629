#include "resources/Cursors.h"

#include "ui/Input.h"

#include <array>
#include <cstdint>
#include <cstdlib>

namespace resources {

namespace {

constexpr int kSize = kCursorSize;
constexpr int kHotX = 0;
constexpr int kHotY = 0;
constexpr std::uint32_t kTransparent = 0x00000000u;
constexpr std::uint32_t kOutline = 0xFF000000u;
constexpr std::uint32_t kFill = 0xFFFFFFFFu;
constexpr char kFillMark = '#';

// The shapes a presenter falls back to, in resource order.
constexpr ui::CursorShape kCursorShapes[kCursorCount] = {
    ui::CursorShape::ArrowUpLeft, ui::CursorShape::ArrowUp, ui::CursorShape::ArrowUpRight,
    ui::CursorShape::ArrowLeft, ui::CursorShape::SizeAll, ui::CursorShape::ArrowRight,
    ui::CursorShape::ArrowDownLeft, ui::CursorShape::ArrowDown, ui::CursorShape::ArrowDownRight,
    ui::CursorShape::ZoomIn, ui::CursorShape::ZoomOut,
};

using Art = std::array<const char*, kSize>;

// The white fill of each base shape ('#'); the black outline is every
// pixel next to the fill, added in code. The other directions are these
// turned by quarter turns.
constexpr Art kArrowUp = {
    "................................",
    "...............##...............",
    "..............####..............",
    ".............######.............",
    "............########............",
    "...........##########...........",
    "..........############..........",
    ".........##############.........",
    "........################........",
    ".......##################.......",
    "......####################......",
    ".....######################.....",
    "....########################....",
    "...##########################...",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    ".............######.............",
    "................................",
    "................................",
};

constexpr Art kArrowUpLeft = {
    "................................",
    ".################...............",
    ".###############................",
    ".##############.................",
    ".#############..................",
    ".############...................",
    ".###########....................",
    ".##########.....................",
    ".##########.....................",
    ".###########....................",
    ".############...................",
    ".######..#####..................",
    ".#####....#####.................",
    ".####......#####................",
    ".###........#####...............",
    ".##..........#####..............",
    ".#............#####.............",
    "...............#####............",
    "................#####...........",
    ".................#####..........",
    "..................#####.........",
    "...................#####........",
    "....................#####.......",
    ".....................#####......",
    "......................#####.....",
    ".......................#####....",
    "........................#####...",
    ".........................####...",
    "..........................###...",
    "................................",
    "................................",
    "................................",
};

// One arm of the four-way arrow of the middle cell; the cursor is this arm
// and its three quarter turns.
constexpr Art kArrowArm = {
    "................................",
    "...............##...............",
    "..............####..............",
    ".............######.............",
    "............########............",
    "...........##########...........",
    "..........############..........",
    ".........##############.........",
    "..............####..............",
    "..............####..............",
    "..............####..............",
    "..............####..............",
    "..............####..............",
    "..............####..............",
    "..............####..............",
    "..............####..............",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
};

constexpr Art kMagnifier = {
    "................................",
    "................................",
    "................................",
    "........########................",
    "......############..............",
    ".....##############.............",
    "....################............",
    "....################............",
    "...##################...........",
    "...##################...........",
    "...##################...........",
    "...##################...........",
    "...##################...........",
    "...##################...........",
    "...##################...........",
    "...##################...........",
    "....################............",
    "....################............",
    ".....################...........",
    "......################..........",
    "........########..#####.........",
    "...................#####........",
    "....................#####.......",
    ".....................#####......",
    "......................#####.....",
    ".......................#####....",
    "........................#####...",
    ".........................#####..",
    "..........................#####.",
    "...........................###..",
    "............................#...",
    "................................",
};

// The plus and minus drawn in black on the magnifier's lens: bars of
// kSignThickness pixels from kSignFirst to kSignLast, through kSignMiddle.
constexpr int kSignFirst = 7;
constexpr int kSignLast = 16;
constexpr int kSignMiddle = 11;
constexpr int kSignThickness = 2;

using Mask = std::array<std::array<bool, kSize>, kSize>; // [y][x]

Mask maskOf(const Art& art)
{
    Mask m {};
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            m[y][x] = art[static_cast<std::size_t>(y)][x] == kFillMark;
    return m;
}

// A quarter turn clockwise: what pointed up points right.
Mask turned(const Mask& in, int quarterTurns)
{
    Mask out = in;
    for (int t = 0; t < quarterTurns; ++t) {
        Mask next {};
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                next[y][x] = out[kSize - 1 - x][y];
        out = next;
    }
    return out;
}

Mask united(const Mask& a, const Mask& b)
{
    Mask out {};
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            out[y][x] = a[y][x] || b[y][x];
    return out;
}

bool nextToFill(const Mask& fill, int x, int y)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx;
            const int ny = y + dy;
            if (nx >= 0 && ny >= 0 && nx < kSize && ny < kSize && fill[ny][nx])
                return true;
        }
    return false;
}

// The picture: white fill, black outline around it, black `ink` on it,
// transparent elsewhere.
std::array<std::uint32_t, kSize * kSize> pictureOf(const Mask& fill, const Mask& ink = Mask {})
{
    std::array<std::uint32_t, kSize * kSize> argb {};
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            std::uint32_t p = kTransparent;
            if (fill[y][x])
                p = ink[y][x] ? kOutline : kFill;
            else if (nextToFill(fill, x, y))
                p = kOutline;
            argb[static_cast<std::size_t>(y * kSize + x)] = p;
        }
    return argb;
}

Mask signOf(bool plus)
{
    Mask m {};
    for (int i = kSignFirst; i <= kSignLast; ++i)
        for (int t = 0; t < kSignThickness; ++t) {
            m[kSignMiddle + t][i] = true;
            if (plus)
                m[i][kSignMiddle + t] = true;
        }
    return m;
}

std::array<std::uint32_t, kSize * kSize> cursorPicture(int index)
{
    const Mask up = maskOf(kArrowUp);
    const Mask upLeft = maskOf(kArrowUpLeft);
    switch (index) {
    case 0: return pictureOf(upLeft);
    case 1: return pictureOf(up);
    case 2: return pictureOf(turned(upLeft, 1));
    case 3: return pictureOf(turned(up, 3));
    case 4: {
        const Mask arm = maskOf(kArrowArm);
        return pictureOf(united(united(arm, turned(arm, 1)), united(turned(arm, 2), turned(arm, 3))));
    }
    case 5: return pictureOf(turned(up, 1));
    case 6: return pictureOf(turned(upLeft, 3));
    case 7: return pictureOf(turned(up, 2));
    case 8: return pictureOf(turned(upLeft, 2));
    case kCursorZoomIn: return pictureOf(maskOf(kMagnifier), signOf(true));
    default: return pictureOf(maskOf(kMagnifier), signOf(false));
    }
}

std::array<HCURSOR, kCursorCount> g_cursors {};
bool g_loaded = false;

}

void LoadCursors()
{
    if (g_loaded)
        return;
    for (int i = 0; i < kCursorCount; ++i) {
        const auto picture = cursorPicture(i);
        g_cursors[static_cast<std::size_t>(i)] = ui::CreateImageCursor(kFirstCursorResource + i, kSize, kSize, kHotX, kHotY, picture.data(), kCursorShapes[i]);
    }
    g_loaded = true;
}

void FreeCursors()
{
    if (!g_loaded)
        return;
    for (auto& cursor : g_cursors) {
        ui::DestroyCursor(cursor);
        cursor = nullptr;
    }
    g_loaded = false;
}

bool CursorsLoaded() { return g_loaded; }

HCURSOR Cursor(int index)
{
    if (index < 0 || index >= kCursorCount)
        return nullptr;
    return g_cursors[static_cast<std::size_t>(index)];
}

}
