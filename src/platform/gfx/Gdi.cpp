#include "gfx/Gdi.h"

#include "gfx/Blit.h"
#include "gfx/DeviceShared.h"
#include "gfx/Font.h"
#include "gfx/Pixels.h"
#include "gfx/Region.h"
#include "gfx/Screen.h"
#include "gfx/Surface.h"

#include "ui/Color.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

namespace gfx {

namespace {

// Dash patterns of styled pens, in pen widths: on, off, on, off ...
constexpr std::array<int, 2> kDashPattern { 18, 6 };
constexpr std::array<int, 2> kDotPattern { 3, 3 };
constexpr std::array<int, 4> kDashDotPattern { 9, 6, 3, 6 };
constexpr std::array<int, 6> kDashDotDotPattern { 9, 3, 3, 3, 3, 3 };
// Hatch lines repeat every this many pixels.
constexpr int kHatchPeriod = 8;
// The stock fonts: GDI's system font and its GUI font.
constexpr int kSystemFontHeight = 16;
constexpr int kGuiFontHeight = -11;
constexpr const char* kStockFontFace = "sans-serif";
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

enum class ObjectKind { Pen, Brush, Font, Bitmap };

struct GdiObject {
    explicit GdiObject(ObjectKind k) : kind(k) { }
    virtual ~GdiObject() = default;
    ObjectKind kind;
    bool stock = false;
};

struct PenObject : GdiObject {
    PenObject(int s, int w, COLORREF c) : GdiObject(ObjectKind::Pen), style(s), width(std::max(1, w)), color(c) { }
    int style;
    int width;
    COLORREF color;
};

struct BrushObject : GdiObject {
    enum class Type { Solid, Hatch, Null };
    BrushObject(Type t, int h, COLORREF c) : GdiObject(ObjectKind::Brush), type(t), hatch(h), color(c) { }
    Type type;
    int hatch;
    COLORREF color;
};

struct FontObject : GdiObject {
    explicit FontObject(std::shared_ptr<Font> f) : GdiObject(ObjectKind::Font), font(std::move(f)) { }
    std::shared_ptr<Font> font;
};

struct BitmapObject : GdiObject {
    BitmapObject(int w, int h) : GdiObject(ObjectKind::Bitmap), width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0) { }
    int width;
    int height;
    std::vector<std::uint32_t> pixels;
};

class DeviceContext;

// Every live object and device context, so that a stale or foreign handle
// is refused instead of followed.
struct Registry {
    std::mutex mutex;
    std::unordered_set<const void*> objects;
    std::unordered_set<const void*> contexts;
};

Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

template<typename T>
T* track(T* object)
{
    std::lock_guard lock(registry().mutex);
    registry().objects.insert(object);
    return object;
}

GdiObject* objectOf(HGDIOBJ handle)
{
    std::lock_guard lock(registry().mutex);
    auto* object = reinterpret_cast<GdiObject*>(handle);
    return registry().objects.count(object) ? object : nullptr;
}

template<typename T>
T* objectAs(HGDIOBJ handle, ObjectKind kind)
{
    GdiObject* o = objectOf(handle);
    return o && o->kind == kind ? static_cast<T*>(o) : nullptr;
}

HGDIOBJ handleOf(GdiObject* object) { return reinterpret_cast<HGDIOBJ>(object); }

GdiObject* makeStock(GdiObject* object)
{
    object->stock = true;
    return track(object);
}

GdiObject* stockObject(int which)
{
    static GdiObject* const objects[] = {
        makeStock(new BrushObject(BrushObject::Type::Solid, 0, kWhite)),
        makeStock(new BrushObject(BrushObject::Type::Solid, 0, RGB(192, 192, 192))),
        makeStock(new BrushObject(BrushObject::Type::Solid, 0, RGB(128, 128, 128))),
        makeStock(new BrushObject(BrushObject::Type::Solid, 0, RGB(64, 64, 64))),
        makeStock(new BrushObject(BrushObject::Type::Solid, 0, kBlack)),
        makeStock(new BrushObject(BrushObject::Type::Null, 0, 0)),
        makeStock(new PenObject(PS_SOLID, 1, kWhite)),
        makeStock(new PenObject(PS_SOLID, 1, kBlack)),
        makeStock(new PenObject(PS_NULL, 1, 0)),
    };
    if (which >= 0 && which < static_cast<int>(std::size(objects)))
        return objects[which];
    if (which == SYSTEM_FONT || which == DEFAULT_GUI_FONT) {
        static GdiObject* system = makeStock(new FontObject(Font::Create(FontRequest { kStockFontFace, kSystemFontHeight })));
        static GdiObject* gui = makeStock(new FontObject(Font::Create(FontRequest { kStockFontFace, kGuiFontHeight })));
        return which == SYSTEM_FONT ? system : gui;
    }
    return nullptr;
}

// Pixels of a device context's target while it is locked.
struct Raster {
    PixelView view;
    POINT origin { 0, 0 }; // the target pixel of the context's (0, 0)
    Region clips; // target pixels that may be written, within the target
    RECT clip {}; // their bounds
    RECT touched {};

    void setClip(Region region)
    {
        clips = Intersect(region, RECT { 0, 0, view.width, view.height });
        clip = Bounds(clips);
    }

    bool writable(LONG tx, LONG ty) const
    {
        POINT p { tx, ty };
        return ui::Contains(clip, p) && (clips.size() == 1 || Contains(clips, p));
    }

    std::uint32_t* row(LONG y) const { return reinterpret_cast<std::uint32_t*>(view.data + static_cast<std::ptrdiff_t>(y) * view.pitch); }

    // Fills a rectangle given in context coordinates.
    void fill(const RECT& r, DWORD xrgb)
    {
        const RECT target = ui::Offset(r, origin.x, origin.y);
        for (const RECT& c : clips) {
            RECT t = ui::Intersect(target, c);
            if (ui::IsEmpty(t))
                continue;
            for (LONG y = t.top; y < t.bottom; ++y)
                std::fill(row(y) + t.left, row(y) + t.right, xrgb);
            touched = ui::Union(touched, t);
        }
    }

    // A copy of `picture` through the blit routines, once per clip rectangle.
    HRESULT blit(const PixelView& picture, const RECT& dest, const RECT& source)
    {
        HRESULT hr = DD_OK;
        for (const RECT& c : clips) {
            BlitParams p;
            p.dest = dest;
            p.source = source;
            p.destClip = c;
            hr = FastBlit(view, picture, p, nullptr);
            if (FAILED(hr))
                return hr;
            touched = ui::Union(touched, ui::Intersect(dest, c));
        }
        return hr;
    }

    void put(LONG x, LONG y, DWORD xrgb)
    {
        LONG tx = x + origin.x;
        LONG ty = y + origin.y;
        if (!writable(tx, ty))
            return;
        row(ty)[tx] = xrgb;
        touched = ui::Union(touched, RECT { tx, ty, tx + 1, ty + 1 });
    }

    void blend(LONG x, LONG y, DWORD xrgb, int coverage)
    {
        LONG tx = x + origin.x;
        LONG ty = y + origin.y;
        if (coverage <= 0 || !writable(tx, ty))
            return;
        std::uint32_t& d = row(ty)[tx];
        d = BlendXrgb(d, xrgb, coverage);
        touched = ui::Union(touched, RECT { tx, ty, tx + 1, ty + 1 });
    }
};

bool hatchOn(int hatch, LONG x, LONG y)
{
    const bool horizontal = (y % kHatchPeriod + kHatchPeriod) % kHatchPeriod == 0;
    const bool vertical = (x % kHatchPeriod + kHatchPeriod) % kHatchPeriod == 0;
    const bool forward = ((x - y) % kHatchPeriod + kHatchPeriod) % kHatchPeriod == 0;
    const bool backward = ((x + y) % kHatchPeriod + kHatchPeriod) % kHatchPeriod == 0;
    switch (hatch) {
    case HS_HORIZONTAL: return horizontal;
    case HS_VERTICAL: return vertical;
    case HS_FDIAGONAL: return forward;
    case HS_BDIAGONAL: return backward;
    case HS_CROSS: return horizontal || vertical;
    default: return forward || backward;
    }
}

class DeviceContext {
public:
    enum class Kind { Surface, Window, Memory };

    explicit DeviceContext(Kind k) : kind(k) { }
    ~DeviceContext()
    {
        if (surface)
            surface->Release();
    }

    // Runs `draw(raster)` with the target locked; false when it cannot be drawn on.
    template<typename F>
    bool draw(F&& draw)
    {
        switch (kind) {
        case Kind::Surface:
            return SUCCEEDED(surface->WithPixels([&](const PixelView& view, RECT& changed) {
                Raster r;
                r.view = view;
                r.setClip({ RECT { 0, 0, view.width, view.height } });
                draw(r);
                changed = r.touched;
            }));
        case Kind::Window: {
            Screen& screen = Screen::Get();
            screen.Width();
            RECT touched {};
            {
                std::lock_guard lock(screen.Mutex());
                RECT windowRect {};
                if (!ui::GetWindowRect(window, &windowRect))
                    return false;
                Raster r;
                r.view = PixelView { PixelFormat::Xrgb8888, reinterpret_cast<std::uint8_t*>(screen.PixelsLocked()), screen.WidthLocked(), screen.HeightLocked(), screen.WidthLocked() * 4 };
                r.origin = POINT { windowRect.left, windowRect.top };
                Region visible = VisibleRegion(window);
                if (paintClipped)
                    visible = Intersect(visible, ui::Offset(paintRect, r.origin.x, r.origin.y));
                r.setClip(std::move(visible));
                draw(r);
                touched = r.touched;
            }
            screen.MarkChanged(touched);
            return true;
        }
        case Kind::Memory: {
            BitmapObject* b = bitmap ? bitmap : &defaultBitmap;
            Raster r;
            r.view = PixelView { PixelFormat::Xrgb8888, reinterpret_cast<std::uint8_t*>(b->pixels.data()), b->width, b->height, b->width * 4 };
            r.setClip({ RECT { 0, 0, b->width, b->height } });
            draw(r);
            return true;
        }
        }
        return false;
    }

    Kind kind;
    Surface* surface = nullptr; // one reference held
    HWND window = nullptr;
    bool paintClipped = false;
    RECT paintRect {}; // client coordinates
    BitmapObject* bitmap = nullptr;
    BitmapObject defaultBitmap { 1, 1 };

    PenObject* pen = static_cast<PenObject*>(stockObject(BLACK_PEN));
    BrushObject* brush = static_cast<BrushObject*>(stockObject(WHITE_BRUSH));
    FontObject* font = static_cast<FontObject*>(stockObject(SYSTEM_FONT));
    COLORREF textColor = kBlack;
    COLORREF bkColor = kWhite;
    int bkMode = OPAQUE;
    int stretchMode = BLACKONWHITE;
    POINT position { 0, 0 };
};

HDC handleOf(DeviceContext* dc)
{
    std::lock_guard lock(registry().mutex);
    registry().contexts.insert(dc);
    return reinterpret_cast<HDC>(dc);
}

DeviceContext* contextOf(HDC handle)
{
    std::lock_guard lock(registry().mutex);
    auto* dc = reinterpret_cast<DeviceContext*>(handle);
    return registry().contexts.count(dc) ? dc : nullptr;
}

bool destroyContext(DeviceContext* dc)
{
    {
        std::lock_guard lock(registry().mutex);
        if (!registry().contexts.erase(dc))
            return false;
    }
    delete dc;
    return true;
}

// Fills a rectangle (context coordinates) with a brush.
void fillWithBrush(Raster& r, const RECT& rect, const BrushObject& brush, const DeviceContext& dc)
{
    switch (brush.type) {
    case BrushObject::Type::Null:
        return;
    case BrushObject::Type::Solid:
        r.fill(rect, XrgbFromColorRef(brush.color));
        return;
    case BrushObject::Type::Hatch: {
        const DWORD on = XrgbFromColorRef(brush.color);
        const DWORD off = XrgbFromColorRef(dc.bkColor);
        for (LONG y = rect.top; y < rect.bottom; ++y) {
            for (LONG x = rect.left; x < rect.right; ++x) {
                if (hatchOn(brush.hatch, x, y))
                    r.put(x, y, on);
                else if (dc.bkMode == OPAQUE)
                    r.put(x, y, off);
            }
        }
        return;
    }
    }
}

const int* patternOf(int style, int& length)
{
    switch (style) {
    case PS_DASH: length = static_cast<int>(kDashPattern.size()); return kDashPattern.data();
    case PS_DOT: length = static_cast<int>(kDotPattern.size()); return kDotPattern.data();
    case PS_DASHDOT: length = static_cast<int>(kDashDotPattern.size()); return kDashDotPattern.data();
    case PS_DASHDOTDOT: length = static_cast<int>(kDashDotDotPattern.size()); return kDashDotDotPattern.data();
    default: length = 0; return nullptr;
    }
}

// Strokes the path through `points` (each segment without its end point,
// so a closed path's corners are drawn once), with the pen's width centred
// on the path and its dash pattern running on along the path. Gaps are
// drawn in the background colour when the mode is opaque.
void stroke(Raster& r, const std::vector<POINT>& points, const PenObject& pen, const DeviceContext& dc)
{
    if (pen.style == PS_NULL || points.size() < 2)
        return;
    int length = 0;
    const int* pattern = patternOf(pen.style, length);
    int period = 0;
    for (int i = 0; i < length; ++i)
        period += pattern[i] * pen.width;
    auto isOn = [&](long step) {
        if (!pattern)
            return true;
        long at = step % period;
        for (int i = 0; i < length; ++i) {
            at -= pattern[i] * pen.width;
            if (at < 0)
                return i % 2 == 0;
        }
        return true;
    };
    // A solid pen stamps squares (square corners); a styled one stamps
    // across the segment only, so its dashes keep their lengths.
    const LONG half = pen.width / 2;
    bool acrossOnly = false;
    bool horizontal = true;
    auto stamp = [&](LONG x, LONG y, DWORD color) {
        if (!acrossOnly)
            r.fill(RECT { x - half, y - half, x - half + pen.width, y - half + pen.width }, color);
        else if (horizontal)
            r.fill(RECT { x, y - half, x + 1, y - half + pen.width }, color);
        else
            r.fill(RECT { x - half, y, x - half + pen.width, y + 1 }, color);
    };
    acrossOnly = pattern != nullptr;
    const DWORD onColor = XrgbFromColorRef(pen.color);
    const DWORD offColor = XrgbFromColorRef(dc.bkColor);
    for (int pass = 0; pass < 2; ++pass) {
        const bool drawOn = pass == 1;
        if (!drawOn && (!pattern || dc.bkMode != OPAQUE))
            continue;
        long step = 0;
        for (std::size_t i = 0; i + 1 < points.size(); ++i) {
            LONG x = points[i].x;
            LONG y = points[i].y;
            const LONG x1 = points[i + 1].x;
            const LONG y1 = points[i + 1].y;
            const LONG dx = std::abs(x1 - x);
            const LONG dy = -std::abs(y1 - y);
            const LONG sx = x < x1 ? 1 : -1;
            const LONG sy = y < y1 ? 1 : -1;
            LONG err = dx + dy;
            horizontal = dx >= -dy;
            while (x != x1 || y != y1) {
                if (isOn(step) == drawOn)
                    stamp(x, y, drawOn ? onColor : offColor);
                ++step;
                LONG e2 = 2 * err;
                if (e2 >= dy) {
                    err += dy;
                    x += sx;
                }
                if (e2 <= dx) {
                    err += dx;
                    y += sy;
                }
            }
        }
    }
}

RECT normalized(int left, int top, int right, int bottom)
{
    return RECT { std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom) };
}

std::string narrow(const char16_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

HFONT makeFont(int height, int width, int weight, DWORD italic, DWORD charset, std::string face)
{
    FontRequest request;
    request.face = std::move(face);
    request.height = height;
    request.width = std::max(0, width);
    request.weight = weight == FW_DONTCARE ? FW_NORMAL : weight;
    request.italic = italic != 0;
    request.charset = charset;
    auto font = Font::Create(request);
    if (!font)
        return nullptr;
    return reinterpret_cast<HFONT>(track(new FontObject(std::move(font))));
}

const bool kEraserInstalled = (InstallBackgroundEraser(), true);

}

namespace detail {

HDC CreateSurfaceDC(Surface* surface)
{
    auto* dc = new DeviceContext(DeviceContext::Kind::Surface);
    surface->AddRef();
    dc->surface = surface;
    return handleOf(dc);
}

bool DeleteSurfaceDC(HDC handle, Surface* surface)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc || dc->surface != surface)
        return false;
    return destroyContext(dc);
}

}

HDC GetDC(HWND window)
{
    if (!ui::IsWindow(window))
        return nullptr;
    auto* dc = new DeviceContext(DeviceContext::Kind::Window);
    dc->window = window;
    return handleOf(dc);
}

int ReleaseDC(HWND, HDC handle)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc || dc->kind != DeviceContext::Kind::Window)
        return 0;
    return destroyContext(dc) ? 1 : 0;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint)
{
    if (!paint || !ui::IsWindow(window))
        return nullptr;
    RECT update {};
    if (!ui::GetUpdateRect(window, &update))
        update = RECT {};
    const bool erase = ui::IsErasePending(window);
    HDC handle = GetDC(window);
    DeviceContext* dc = contextOf(handle);
    dc->paintClipped = true;
    dc->paintRect = update;
    // As on Windows, fErase says the background still needs erasing: it was
    // asked for and the window's WM_ERASEBKGND did not do it.
    const bool erased = erase && ui::SendMessage(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(handle), 0) != 0;
    ui::ValidateRect(window, nullptr);
    paint->hdc = handle;
    paint->fErase = erase && !erased ? TRUE : FALSE;
    paint->rcPaint = update;
    return handle;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint)
{
    if (!paint)
        return FALSE;
    ReleaseDC(window, paint->hdc);
    return TRUE;
}

HDC CreateCompatibleDC(HDC)
{
    return handleOf(new DeviceContext(DeviceContext::Kind::Memory));
}

BOOL DeleteDC(HDC handle)
{
    DeviceContext* dc = contextOf(handle);
    return dc && destroyContext(dc) ? TRUE : FALSE;
}

HPEN CreatePen(int style, int width, COLORREF color)
{
    if (style < PS_SOLID || style > PS_NULL)
        return nullptr;
    return reinterpret_cast<HPEN>(track(new PenObject(style, width, color)));
}

HBRUSH CreateSolidBrush(COLORREF color)
{
    return reinterpret_cast<HBRUSH>(track(new BrushObject(BrushObject::Type::Solid, 0, color)));
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color)
{
    if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS)
        return nullptr;
    return reinterpret_cast<HBRUSH>(track(new BrushObject(BrushObject::Type::Hatch, hatch, color)));
}

HFONT CreateFontW(int height, int width, int, int, int weight, DWORD italic, DWORD, DWORD, DWORD charset, DWORD, DWORD, DWORD, DWORD, const char16_t* face)
{
    return makeFont(height, width, weight, italic, charset, narrow(face));
}

HFONT CreateFontA(int height, int width, int, int, int weight, DWORD italic, DWORD, DWORD, DWORD charset, DWORD, DWORD, DWORD, DWORD, const char* face)
{
    return makeFont(height, width, weight, italic, charset, face ? face : "");
}

HBITMAP CreateBitmap(int width, int height, UINT, UINT bitsPerPixel, const void* bits)
{
    if (width <= 0 || height <= 0 || bitsPerPixel != 32)
        return nullptr;
    auto* bitmap = new BitmapObject(width, height);
    if (bits)
        std::memcpy(bitmap->pixels.data(), bits, bitmap->pixels.size() * 4);
    return reinterpret_cast<HBITMAP>(track(bitmap));
}

int GetObjectW(HGDIOBJ object, int size, void* out)
{
    auto* bitmap = objectAs<BitmapObject>(object, ObjectKind::Bitmap);
    if (!bitmap || !out || size < static_cast<int>(sizeof(BITMAP)))
        return 0;
    constexpr WORD kBitsPerPixel = 32;
    *static_cast<BITMAP*>(out) = BITMAP { 0, bitmap->width, bitmap->height, bitmap->width * kBitsPerPixel / 8, 1, kBitsPerPixel, nullptr };
    return static_cast<int>(sizeof(BITMAP));
}

HGDIOBJ GetStockObject(int object) { return handleOf(stockObject(object)); }

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object)
{
    DeviceContext* dc = contextOf(handle);
    GdiObject* o = objectOf(object);
    if (!dc || !o)
        return nullptr;
    switch (o->kind) {
    case ObjectKind::Pen: return handleOf(std::exchange(dc->pen, static_cast<PenObject*>(o)));
    case ObjectKind::Brush: return handleOf(std::exchange(dc->brush, static_cast<BrushObject*>(o)));
    case ObjectKind::Font: return handleOf(std::exchange(dc->font, static_cast<FontObject*>(o)));
    case ObjectKind::Bitmap:
        if (dc->kind != DeviceContext::Kind::Memory)
            return nullptr;
        return handleOf(std::exchange(dc->bitmap, static_cast<BitmapObject*>(o)));
    }
    return nullptr;
}

BOOL DeleteObject(HGDIOBJ object)
{
    GdiObject* o = objectOf(object);
    if (!o || o->stock)
        return FALSE;
    {
        // A context that still holds the object goes back to the stock one
        // (or its own bitmap) rather than keep a pointer to freed memory.
        std::lock_guard lock(registry().mutex);
        registry().objects.erase(o);
        for (const void* c : registry().contexts) {
            auto* dc = static_cast<DeviceContext*>(const_cast<void*>(c));
            if (dc->pen == o)
                dc->pen = static_cast<PenObject*>(stockObject(BLACK_PEN));
            if (dc->brush == o)
                dc->brush = static_cast<BrushObject*>(stockObject(WHITE_BRUSH));
            if (dc->font == o)
                dc->font = static_cast<FontObject*>(stockObject(SYSTEM_FONT));
            if (dc->bitmap == o)
                dc->bitmap = nullptr;
        }
    }
    delete o;
    return TRUE;
}

const Font* FontOf(HFONT font)
{
    auto* o = objectAs<FontObject>(reinterpret_cast<HGDIOBJ>(font), ObjectKind::Font);
    return o ? o->font.get() : nullptr;
}

COLORREF SetTextColor(HDC handle, COLORREF color)
{
    DeviceContext* dc = contextOf(handle);
    return dc ? std::exchange(dc->textColor, color) : CLR_INVALID;
}

COLORREF SetBkColor(HDC handle, COLORREF color)
{
    DeviceContext* dc = contextOf(handle);
    return dc ? std::exchange(dc->bkColor, color) : CLR_INVALID;
}

int SetBkMode(HDC handle, int mode)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc || (mode != OPAQUE && mode != TRANSPARENT))
        return 0;
    return std::exchange(dc->bkMode, mode);
}

int SetStretchBltMode(HDC handle, int mode)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    return std::exchange(dc->stretchMode, mode);
}

BOOL Rectangle(HDC handle, int left, int top, int right, int bottom)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc)
        return FALSE;
    RECT r = normalized(left, top, right, bottom);
    return dc->draw([&](Raster& raster) {
        if (dc->pen->style == PS_NULL) {
            fillWithBrush(raster, RECT { r.left, r.top, r.right - 1, r.bottom - 1 }, *dc->brush, *dc);
            return;
        }
        fillWithBrush(raster, r, *dc->brush, *dc);
        std::vector<POINT> path { { r.left, r.top }, { r.right - 1, r.top }, { r.right - 1, r.bottom - 1 }, { r.left, r.bottom - 1 }, { r.left, r.top } };
        stroke(raster, path, *dc->pen, *dc);
    }) ? TRUE : FALSE;
}

BOOL Ellipse(HDC handle, int left, int top, int right, int bottom)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc)
        return FALSE;
    RECT r = normalized(left, top, right, bottom);
    if (ui::IsEmpty(r))
        return TRUE;
    const double cx = (r.left + r.right - 1) / 2.0;
    const double cy = (r.top + r.bottom - 1) / 2.0;
    const double a = std::max(0.5, (r.right - r.left) / 2.0);
    const double b = std::max(0.5, (r.bottom - r.top) / 2.0);
    const bool hasPen = dc->pen->style != PS_NULL;
    const double penWidth = hasPen ? dc->pen->width : 0;
    auto inside = [&](LONG x, LONG y, double shrink) {
        double ra = a - shrink;
        double rb = b - shrink;
        if (ra <= 0 || rb <= 0)
            return false;
        double nx = (x - cx) / ra;
        double ny = (y - cy) / rb;
        return nx * nx + ny * ny <= 1.0;
    };
    return dc->draw([&](Raster& raster) {
        const DWORD penColor = hasPen ? XrgbFromColorRef(dc->pen->color) : 0;
        for (LONG y = r.top; y < r.bottom; ++y) {
            for (LONG x = r.left; x < r.right; ++x) {
                if (!inside(x, y, 0))
                    continue;
                if (hasPen && !inside(x, y, penWidth)) {
                    raster.put(x, y, penColor);
                    continue;
                }
                if (dc->brush->type != BrushObject::Type::Null)
                    fillWithBrush(raster, RECT { x, y, x + 1, y + 1 }, *dc->brush, *dc);
            }
        }
    }) ? TRUE : FALSE;
}

BOOL MoveToEx(HDC handle, int x, int y, POINT* previous)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc)
        return FALSE;
    if (previous)
        *previous = dc->position;
    dc->position = POINT { x, y };
    return TRUE;
}

BOOL LineTo(HDC handle, int x, int y)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc)
        return FALSE;
    std::vector<POINT> path { dc->position, POINT { x, y } };
    dc->position = POINT { x, y };
    return dc->draw([&](Raster& raster) { stroke(raster, path, *dc->pen, *dc); }) ? TRUE : FALSE;
}

int FillRect(HDC handle, const RECT* rect, HBRUSH brush)
{
    DeviceContext* dc = contextOf(handle);
    auto* b = objectAs<BrushObject>(reinterpret_cast<HGDIOBJ>(brush), ObjectKind::Brush);
    if (!dc || !rect || !b)
        return 0;
    return dc->draw([&](Raster& raster) { fillWithBrush(raster, *rect, *b, *dc); }) ? 1 : 0;
}

BOOL TextOutW(HDC handle, int x, int y, const char16_t* text, int count)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc || (!text && count > 0) || count < 0 || !dc->font->font)
        return FALSE;
    TextLayout layout = dc->font->font->Layout(text, count);
    return dc->draw([&](Raster& raster) {
        if (dc->bkMode == OPAQUE)
            raster.fill(RECT { x, y, x + layout.width, y + layout.height }, XrgbFromColorRef(dc->bkColor));
        const DWORD color = XrgbFromColorRef(dc->textColor);
        const LONG baseline = y + layout.ascent;
        for (const PlacedGlyph& g : layout.glyphs) {
            const GlyphImage& image = *g.image;
            for (int row = 0; row < image.rows; ++row) {
                for (int col = 0; col < image.width; ++col) {
                    int coverage = image.coverage[static_cast<std::size_t>(row * image.width + col)];
                    raster.blend(x + g.penX + image.left + col, baseline - image.top + row, color, coverage);
                }
            }
        }
    }) ? TRUE : FALSE;
}

BOOL GetTextExtentPoint32W(HDC handle, const char16_t* text, int count, SIZE* size)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc || !size || count < 0 || (!text && count > 0) || !dc->font->font)
        return FALSE;
    TextLayout layout = dc->font->font->Layout(text, count);
    *size = SIZE { layout.width, layout.height };
    return TRUE;
}

int StretchDIBits(HDC handle, int xDest, int yDest, int destWidth, int destHeight, int xSource, int ySource, int sourceWidth, int sourceHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc || !bits || !info || usage != DIB_RGB_COLORS || rop != SRCCOPY)
        return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < kBitmapInfoHeaderSize || h.biBitCount != 32 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0)
        return 0;
    if (destWidth <= 0 || destHeight <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return 0; // mirroring is not offered
    const int rows = std::abs(h.biHeight);
    const LONG rowBytes = h.biWidth * 4;
    PixelView picture;
    picture.width = h.biWidth;
    picture.height = rows;
    if (h.biHeight < 0) {
        picture.data = static_cast<std::uint8_t*>(const_cast<void*>(bits));
        picture.pitch = rowBytes;
    } else { // bottom-up: the view starts at the last row in memory
        picture.data = static_cast<std::uint8_t*>(const_cast<void*>(bits)) + static_cast<std::ptrdiff_t>(rows - 1) * rowBytes;
        picture.pitch = -rowBytes;
    }
    HRESULT hr = DD_OK;
    // Every stretch mode draws as COLORONCOLOR: the nearest pixel.
    bool drawn = dc->draw([&](Raster& raster) {
        RECT dest { xDest + raster.origin.x, yDest + raster.origin.y, xDest + raster.origin.x + destWidth, yDest + raster.origin.y + destHeight };
        hr = raster.blit(picture, dest, RECT { xSource, ySource, xSource + sourceWidth, ySource + sourceHeight });
    });
    return drawn && SUCCEEDED(hr) ? sourceHeight : 0;
}

BOOL BitBlt(HDC handle, int x, int y, int width, int height, HDC sourceHandle, int xSource, int ySource, DWORD rop)
{
    DeviceContext* dc = contextOf(handle);
    DeviceContext* source = contextOf(sourceHandle);
    if (!dc || !source || rop != SRCCOPY || width <= 0 || height <= 0)
        return FALSE;
    // Copy out what the source has, then draw it: never two targets locked at once.
    std::vector<std::uint32_t> copy(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    RECT available {};
    bool read = source->draw([&](Raster& raster) {
        RECT want = ui::Offset(RECT { xSource, ySource, xSource + width, ySource + height }, raster.origin.x, raster.origin.y);
        RECT have = ui::Intersect(want, RECT { 0, 0, raster.view.width, raster.view.height });
        for (LONG ty = have.top; ty < have.bottom; ++ty) {
            for (LONG tx = have.left; tx < have.right; ++tx)
                copy[static_cast<std::size_t>((ty - want.top) * width + (tx - want.left))] = raster.row(ty)[tx];
        }
        available = ui::IsEmpty(have) ? RECT {} : ui::Offset(have, -want.left, -want.top);
    });
    if (!read)
        return FALSE;
    if (ui::IsEmpty(available))
        return TRUE;
    PixelView picture { PixelFormat::Xrgb8888, reinterpret_cast<std::uint8_t*>(copy.data()), width, height, width * 4 };
    return dc->draw([&](Raster& raster) { raster.blit(picture, ui::Offset(available, x + raster.origin.x, y + raster.origin.y), available); }) ? TRUE : FALSE;
}

COLORREF GetPixel(HDC handle, int x, int y)
{
    DeviceContext* dc = contextOf(handle);
    if (!dc)
        return CLR_INVALID;
    COLORREF color = CLR_INVALID;
    dc->draw([&](Raster& raster) {
        LONG tx = x + raster.origin.x;
        LONG ty = y + raster.origin.y;
        if (!raster.writable(tx, ty))
            return;
        DWORD p = raster.row(ty)[tx];
        color = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    });
    return color;
}

void InstallBackgroundEraser()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ui::SetBackgroundEraser([](HWND window, COLORREF color) {
            HDC dc = GetDC(window);
            if (!dc)
                return;
            // Only what is to be painted: a window partly uncovered keeps the rest.
            RECT client {};
            ui::GetClientRect(window, &client);
            RECT update {};
            if (ui::GetUpdateRect(window, &update))
                client = ui::Intersect(client, update);
            HBRUSH brush = CreateSolidBrush(color);
            FillRect(dc, &client, brush);
            DeleteObject(reinterpret_cast<HGDIOBJ>(brush));
            ReleaseDC(window, dc);
        });
    });
}

}
