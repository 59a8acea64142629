#include "gfx/MenuPainter.h"

#include "gfx/Font.h"
#include "gfx/PixelFormat.h"
#include "gfx/Pixels.h"
#include "gfx/Screen.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace gfx {

namespace {

constexpr const char* kMenuFace = "sans-serif";
// The separator line leaves this much of the item free at either end.
constexpr LONG kSeparatorInset = 4;
// The tick of a checked item: three points relative to the check column's
// centre, stroked kTickThickness pixels wide.
constexpr POINT kTickPoints[] = { { -4, 0 }, { -1, 3 }, { 4, -3 } };
constexpr LONG kTickThickness = 2;

// A picture being drawn: the menu's frame, XRGB words.
struct Canvas {
    RECT frame;
    std::vector<std::uint32_t> pixels;

    LONG width() const { return ui::Width(frame); }

    // Screen coordinates.
    void put(LONG x, LONG y, DWORD xrgb)
    {
        if (ui::Contains(frame, POINT { x, y }))
            pixels[static_cast<std::size_t>((y - frame.top) * width() + (x - frame.left))] = xrgb;
    }

    void fill(const RECT& r, DWORD xrgb)
    {
        RECT in = ui::Intersect(r, frame);
        for (LONG y = in.top; y < in.bottom; ++y)
            for (LONG x = in.left; x < in.right; ++x)
                pixels[static_cast<std::size_t>((y - frame.top) * width() + (x - frame.left))] = xrgb;
    }

    void blend(LONG x, LONG y, DWORD xrgb, int coverage)
    {
        if (coverage <= 0 || !ui::Contains(frame, POINT { x, y }))
            return;
        std::uint32_t& d = pixels[static_cast<std::size_t>((y - frame.top) * width() + (x - frame.left))];
        d = BlendXrgb(d, xrgb, coverage);
    }

    // A straight line from a to b, both included, `thickness` pixels square.
    void line(POINT a, POINT b, LONG thickness, DWORD xrgb)
    {
        const LONG dx = std::abs(b.x - a.x);
        const LONG dy = -std::abs(b.y - a.y);
        const LONG sx = a.x < b.x ? 1 : -1;
        const LONG sy = a.y < b.y ? 1 : -1;
        LONG err = dx + dy;
        for (;;) {
            fill(RECT { a.x, a.y, a.x + thickness, a.y + thickness }, xrgb);
            if (a.x == b.x && a.y == b.y)
                return;
            const LONG e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                a.x += sx;
            }
            if (e2 <= dx) {
                err += dx;
                a.y += sy;
            }
        }
    }
};

class Painter final : public ui::MenuPainter {
public:
    SIZE MeasureText(const std::u16string& text) override
    {
        const Font* f = font();
        if (!f)
            return SIZE { 0, 0 };
        TextLayout layout = f->Layout(text.data(), static_cast<int>(text.size()));
        return SIZE { layout.width, layout.height };
    }

    void Show(const ui::MenuView& view) override
    {
        Canvas canvas { view.frame, std::vector<std::uint32_t>(static_cast<std::size_t>(ui::Width(view.frame)) * static_cast<std::size_t>(ui::Height(view.frame)), XrgbFromColorRef(kMenuBorderColor)) };
        canvas.fill(RECT { view.frame.left + ui::kMenuBorder, view.frame.top + ui::kMenuBorder, view.frame.right - ui::kMenuBorder, view.frame.bottom - ui::kMenuBorder }, XrgbFromColorRef(kMenuBackgroundColor));
        for (std::size_t i = 0; i < view.items.size() && i < view.itemRects.size(); ++i)
            drawItem(canvas, view.items[i], view.itemRects[i], static_cast<int>(i) == view.highlighted);
        Screen::Get().SetOverlay(view.frame, std::move(canvas.pixels));
    }

    void Hide() override { Screen::Get().ClearOverlay(); }

private:
    const Font* font()
    {
        std::call_once(m_fontMade, [this] {
            FontRequest request;
            request.face = kMenuFace;
            request.height = kMenuFontHeight;
            request.charset = kCharsetGb2312;
            m_font = Font::Create(request);
        });
        return m_font.get();
    }

    void drawItem(Canvas& canvas, const ui::MenuItem& item, const RECT& rect, bool highlighted)
    {
        if (item.flags & MF_SEPARATOR) {
            const LONG y = (rect.top + rect.bottom) / 2;
            canvas.fill(RECT { rect.left + kSeparatorInset, y, rect.right - kSeparatorInset, y + 1 }, XrgbFromColorRef(kMenuSeparatorColor));
            return;
        }
        COLORREF text = kMenuTextColor;
        if (highlighted) {
            canvas.fill(rect, XrgbFromColorRef(kMenuHighlightColor));
            text = kMenuHighlightTextColor;
        } else if (!ui::IsMenuItemSelectable(item)) {
            text = kMenuGreyedTextColor;
        }
        const DWORD ink = XrgbFromColorRef(text);
        if (item.flags & MF_CHECKED) {
            const POINT centre { rect.left + ui::kMenuCheckColumn / 2, (rect.top + rect.bottom) / 2 };
            for (std::size_t i = 0; i + 1 < std::size(kTickPoints); ++i)
                canvas.line(POINT { centre.x + kTickPoints[i].x, centre.y + kTickPoints[i].y }, POINT { centre.x + kTickPoints[i + 1].x, centre.y + kTickPoints[i + 1].y }, kTickThickness, ink);
        }
        const Font* f = font();
        if (!f)
            return;
        TextLayout layout = f->Layout(item.text.data(), static_cast<int>(item.text.size()));
        const LONG x = rect.left + ui::kMenuCheckColumn;
        const LONG baseline = rect.top + (ui::Height(rect) - layout.height) / 2 + layout.ascent;
        for (const PlacedGlyph& g : layout.glyphs) {
            const GlyphImage& image = *g.image;
            for (int row = 0; row < image.rows; ++row)
                for (int col = 0; col < image.width; ++col)
                    canvas.blend(x + g.penX + image.left + col, baseline - image.top + row, ink, image.coverage[static_cast<std::size_t>(row * image.width + col)]);
        }
    }

    std::once_flag m_fontMade;
    std::shared_ptr<Font> m_font;
};

}

ui::MenuPainter& ScreenMenuPainter()
{
    static Painter* painter = new Painter; // lives for the process, as the screen does
    return *painter;
}

}
