#include "view/CPlayView.h"

#include "gfx/Screen.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr int kFrameThickness = 5;
constexpr COLORREF kFrameColor = 0;
constexpr DWORD kTextBackground = 0;
constexpr int kSizedFontWeight = 400;
constexpr DWORD kSizedFontPitchAndFamily = 0x20;
constexpr const char16_t* kSizedFontFace = u"Garamond";
constexpr BYTE kNeutralChroma = 128;
constexpr WORD kPlanes = 1;
constexpr WORD kBitsPerPixel = 32;

gfx::DDSURFACEDESC2 blankDesc()
{
    gfx::DDSURFACEDESC2 desc {};
    desc.dwSize = gfx::kSurfaceDescSize;
    return desc;
}

template<typename T>
void release(T*& object)
{
    if (object)
        object->Release();
    object = nullptr;
}

int textLength(const char16_t* text) { return text ? static_cast<int>(std::char_traits<char16_t>::length(text)) : 0; }

}

std::unique_ptr<media::Renderer> CPlayView::Make()
{
    return std::make_unique<CPlayView>();
}

CPlayView::~CPlayView()
{
    release(composition);
    release(primary);
    release(clipper);
    release(device);
}

bool CPlayView::Create(HWND window, int w, int h)
{
    if (device)
        ReleaseAll(); // a second Create must not leak the first device
    if (FAILED(gfx::DirectDrawCreateEx(nullptr, &device))) {
        device = nullptr;
        return false;
    }
    device->SetCooperativeLevel(window, gfx::DDSCL_NORMAL);
    gfx::DDSURFACEDESC2 desc = blankDesc();
    desc.dwFlags = gfx::DDSD_CAPS;
    desc.ddsCaps.dwCaps = gfx::DDSCAPS_PRIMARYSURFACE;
    if (FAILED(device->CreateSurface(&desc, &primary))) {
        primary = nullptr;
        return false;
    }
    desc = blankDesc();
    desc.dwFlags = gfx::DDSD_CAPS | gfx::DDSD_HEIGHT | gfx::DDSD_WIDTH;
    desc.ddsCaps.dwCaps = gfx::DDSCAPS_OFFSCREENPLAIN;
    desc.dwWidth = static_cast<DWORD>(std::max(0, w));
    desc.dwHeight = static_cast<DWORD>(std::max(0, h));
    if (FAILED(device->CreateSurface(&desc, &composition)))
        composition = nullptr; // found missing later; the windows then draw nothing
    height = h;
    width = w;
    if (composition)
        DrawFrame(kFrameColor, 0, 0, w, h, composition);
    return true;
}

gfx::Surface* CPlayView::CreateSurface(int w, int h)
{
    if (!device)
        return nullptr;
    gfx::DDSURFACEDESC2 desc = blankDesc();
    desc.dwFlags = gfx::DDSD_CAPS | gfx::DDSD_HEIGHT | gfx::DDSD_WIDTH;
    desc.ddsCaps.dwCaps = gfx::DDSCAPS_OFFSCREENPLAIN;
    desc.dwWidth = static_cast<DWORD>(std::max(0, w));
    desc.dwHeight = static_cast<DWORD>(std::max(0, h));
    gfx::Surface* surface = nullptr;
    if (SUCCEEDED(device->CreateSurface(&desc, &surface)))
        return surface;
    desc.ddsCaps.dwCaps = gfx::DDSCAPS_OFFSCREENPLAIN | gfx::DDSCAPS_SYSTEMMEMORY;
    if (SUCCEEDED(device->CreateSurface(&desc, &surface)))
        return surface;
    return nullptr;
}

gfx::Surface* CPlayView::CreateYuvSurface(int w, int h)
{
    if (!device)
        return nullptr;
    for (DWORD fourCC : { gfx::kFourCCYv12, gfx::kFourCCUyvy }) {
        gfx::DDSURFACEDESC2 desc = blankDesc();
        desc.dwFlags = gfx::DDSD_CAPS | gfx::DDSD_HEIGHT | gfx::DDSD_WIDTH | gfx::DDSD_PIXELFORMAT;
        desc.ddsCaps.dwCaps = gfx::DDSCAPS_OFFSCREENPLAIN | gfx::DDSCAPS_VIDEOMEMORY;
        desc.dwWidth = static_cast<DWORD>(std::max(0, w));
        desc.dwHeight = static_cast<DWORD>(std::max(0, h));
        desc.ddpfPixelFormat.dwSize = gfx::kPixelFormatSize;
        desc.ddpfPixelFormat.dwFlags = gfx::DDPF_FOURCC;
        desc.ddpfPixelFormat.dwFourCC = fourCC;
        gfx::Surface* surface = nullptr;
        if (SUCCEEDED(device->CreateSurface(&desc, &surface)))
            return surface;
    }
    return nullptr;
}

void CPlayView::ReleaseAll()
{
    if (!device)
        return;
    release(composition);
    release(primary);
    release(device);
}

HRESULT CPlayView::RestoreSurfaces()
{
    if (!primary)
        return gfx::DD_OK;
    HRESULT hr = primary->Restore();
    if (FAILED(hr))
        return hr;
    return composition ? composition->Restore() : hr;
}

HRESULT CPlayView::RestoreAllSurfaces()
{
    return device ? device->RestoreAllSurfaces() : gfx::DDERR_GENERIC;
}

int CPlayView::ProbeSurface(gfx::Surface* surface, DWORD value)
{
    if (!surface)
        return 1;
    gfx::DDSURFACEDESC2 desc = blankDesc();
    if (FAILED(surface->Lock(nullptr, &desc, gfx::DDLOCK_WAIT)))
        return 1;
    if (desc.lpSurface)
        std::memcpy(desc.lpSurface, &value, sizeof value);
    return FAILED(surface->Unlock(nullptr)) ? 2 : 0;
}

bool CPlayView::AttachClipper(HWND window)
{
    if (!device)
        return false;
    gfx::Clipper* made = nullptr;
    if (FAILED(device->CreateClipper(0, &made)))
        return false;
    made->SetHWnd(0, window);
    release(clipper); // the clipper this one replaces
    clipper = made;
    return primary && SUCCEEDED(primary->SetClipper(clipper));
}

void CPlayView::DrawText(gfx::Surface* surface, int x, int y, const char16_t* text, gfx::HFONT font, COLORREF color)
{
    if (!surface || !text)
        return;
    HDC dc = nullptr;
    if (FAILED(surface->GetDC(&dc)))
        return;
    gfx::HGDIOBJ oldFont = font ? gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(font)) : nullptr;
    gfx::SetBkColor(dc, kTextBackground);
    gfx::SetTextColor(dc, color);
    gfx::TextOutW(dc, x, y, text, textLength(text));
    if (oldFont)
        gfx::SelectObject(dc, oldFont);
    surface->ReleaseDC(dc);
}

void CPlayView::DrawTextSized(gfx::Surface* surface, int x, int y, const char16_t* text, COLORREF color, int fontHeight, int fontWidth)
{
    gfx::HFONT font = gfx::CreateFontW(fontHeight, fontWidth, 0, 0, kSizedFontWeight, FALSE, FALSE, FALSE, gfx::ANSI_CHARSET, gfx::OUT_DEFAULT_PRECIS,
        gfx::CLIP_DEFAULT_PRECIS, gfx::DEFAULT_QUALITY, kSizedFontPitchAndFamily, kSizedFontFace);
    DrawText(surface, x, y, text, font, color);
    if (font)
        gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(font));
}

void CPlayView::FillSurface(gfx::Surface* surface, WORD value)
{
    if (!surface)
        return;
    gfx::DDBLTFX fx {};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = value;
    surface->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL | gfx::DDBLT_WAIT, &fx);
}

void CPlayView::ClearComposition()
{
    if (composition)
        FillSurface(composition, 0);
}

void CPlayView::DrawFrame(COLORREF color, int left, int top, int right, int bottom, gfx::Surface* surface)
{
    DrawFrameRect(color, RECT { left, top, right, bottom }, surface);
}

void CPlayView::DrawFrameRect(COLORREF color, const RECT& rect, gfx::Surface* surface)
{
    if (!surface)
        return;
    HDC dc = nullptr;
    if (FAILED(surface->GetDC(&dc)))
        return;
    gfx::HPEN pen = gfx::CreatePen(gfx::PS_SOLID, kFrameThickness, color);
    gfx::HGDIOBJ oldPen = gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(pen));
    gfx::HGDIOBJ oldBrush = gfx::SelectObject(dc, gfx::GetStockObject(gfx::NULL_BRUSH));
    gfx::Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
    gfx::SelectObject(dc, oldBrush);
    gfx::SelectObject(dc, oldPen);
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(pen));
    surface->ReleaseDC(dc);
}

gfx::Surface* CPlayView::CreateBitmapSurface(gfx::HBITMAP bitmap, int w, int h)
{
    if (!device || !bitmap)
        return nullptr;
    gfx::DDSURFACEDESC2 desc = blankDesc();
    desc.dwFlags = gfx::DDSD_CAPS | gfx::DDSD_HEIGHT | gfx::DDSD_WIDTH;
    desc.ddsCaps.dwCaps = gfx::DDSCAPS_OFFSCREENPLAIN | gfx::DDSCAPS_SYSTEMMEMORY;
    desc.dwWidth = static_cast<DWORD>(std::max(0, w));
    desc.dwHeight = static_cast<DWORD>(std::max(0, h));
    gfx::Surface* surface = nullptr;
    if (FAILED(device->CreateSurface(&desc, &surface)))
        return nullptr;
    HDC dc = nullptr;
    if (SUCCEEDED(surface->GetDC(&dc))) {
        HDC memory = gfx::CreateCompatibleDC(dc);
        gfx::HGDIOBJ old = gfx::SelectObject(memory, reinterpret_cast<gfx::HGDIOBJ>(bitmap));
        gfx::BitBlt(dc, 0, 0, w, h, memory, 0, 0, gfx::SRCCOPY);
        gfx::SelectObject(memory, old);
        gfx::DeleteDC(memory);
        surface->ReleaseDC(dc);
    }
    SetColorKey(surface, 0);
    return surface;
}

void CPlayView::SetColorKey(gfx::Surface* surface, DWORD key)
{
    if (!surface)
        return;
    surface->SetColorKey(gfx::DDCKEY_SRCBLT, nullptr);
    gfx::DDCOLORKEY colorKey { key, key };
    surface->SetColorKey(gfx::DDCKEY_SRCBLT, &colorKey);
}

gfx::Surface* CPlayView::CopyI420(const BYTE* y, const BYTE* u, const BYTE* v, int flag, gfx::Surface* surface, int w, int h)
{
    if (flag < 0 || !surface)
        return nullptr;
    gfx::DDSURFACEDESC2 desc = blankDesc();
    HRESULT hr = surface->Lock(nullptr, &desc, gfx::DDLOCK_WAIT);
    lastResult = hr;
    if (FAILED(hr))
        return nullptr;
    BYTE* memory = static_cast<BYTE*>(desc.lpSurface);
    const gfx::PixelFormat format = surface->Format();
    const bool copyable = y && u && v && w > 0 && h > 0 && format != gfx::PixelFormat::Xrgb8888;
    if (memory && copyable) {
        // Cut to the surface: the caller's size may be larger than it.
        const LONG pitch = desc.lPitch;
        const int rows = std::min(h, static_cast<int>(desc.dwHeight));
        const int columns = std::min(w, static_cast<int>(desc.dwWidth));
        if (format == gfx::PixelFormat::Yv12) {
            const int surfaceChromaRows = (static_cast<int>(desc.dwHeight) + 1) / 2;
            const int chromaRows = std::min(h / 2, surfaceChromaRows);
            const int chromaColumns = std::min(w / 2, (static_cast<int>(desc.dwWidth) + 1) / 2);
            const LONG chromaPitch = pitch / 2;
            BYTE* vPlane = memory + static_cast<std::ptrdiff_t>(pitch) * desc.dwHeight;
            BYTE* uPlane = vPlane + static_cast<std::ptrdiff_t>(chromaPitch) * surfaceChromaRows;
            for (int row = 0; row < rows; ++row)
                std::memcpy(memory + static_cast<std::ptrdiff_t>(row) * pitch, y + static_cast<std::ptrdiff_t>(row) * w, static_cast<std::size_t>(columns));
            for (int row = 0; row < chromaRows; ++row)
                std::memcpy(vPlane + static_cast<std::ptrdiff_t>(row) * chromaPitch, v + static_cast<std::ptrdiff_t>(row) * (w / 2), static_cast<std::size_t>(chromaColumns));
            for (int row = 0; row < chromaRows; ++row)
                std::memcpy(uPlane + static_cast<std::ptrdiff_t>(row) * chromaPitch, u + static_cast<std::ptrdiff_t>(row) * (w / 2), static_cast<std::size_t>(chromaColumns));
        } else {
            // UYVY: two picture rows share one chroma row; pixels without
            // chroma in the picture (its last odd column, or every pixel of
            // a picture one pixel high or wide) get neutral chroma.
            const int chromaRows = h / 2;
            const int chromaColumns = w / 2;
            const int pairs = (columns + 1) / 2; // within the pitch: it holds (width + 1) / 2 pairs
            for (int row = 0; row < rows; ++row) {
                BYTE* out = memory + static_cast<std::ptrdiff_t>(row) * pitch;
                const BYTE* luma = y + static_cast<std::ptrdiff_t>(row) * w;
                const int chromaRow = std::min(row / 2, chromaRows - 1);
                for (int pair = 0; pair < pairs; ++pair) {
                    const int x = pair * 2;
                    const bool chroma = chromaRow >= 0 && pair < chromaColumns;
                    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(chromaRow) * chromaColumns + pair;
                    out[0] = chroma ? u[at] : kNeutralChroma;
                    out[1] = luma[x];
                    out[2] = chroma ? v[at] : kNeutralChroma;
                    out[3] = x + 1 < w ? luma[x + 1] : luma[x];
                    out += 4;
                }
            }
        }
    }
    hr = surface->Unlock(nullptr);
    if (!copyable)
        return nullptr;
    return surface;
}

gfx::BITMAPINFO CPlayView::FrameHeader(int w, int h)
{
    gfx::BITMAPINFO info {};
    info.bmiHeader.biSize = gfx::kBitmapInfoHeaderSize;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = kPlanes;
    info.bmiHeader.biBitCount = kBitsPerPixel;
    info.bmiHeader.biCompression = gfx::BI_RGB;
    return info;
}

HRESULT CPlayView::stretchRgb(gfx::Surface* target, const RECT& dest, const void* bgra, int w, int h)
{
    if (!target || !bgra)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    HDC dc = nullptr;
    HRESULT hr = target->GetDC(&dc);
    lastResult = hr;
    if (FAILED(hr))
        return hr;
    gfx::BITMAPINFO info = FrameHeader(w, h);
    gfx::SetStretchBltMode(dc, gfx::COLORONCOLOR);
    gfx::StretchDIBits(dc, dest.left, dest.top, ui::Width(dest), ui::Height(dest), 0, 0, w, h, bgra, &info, gfx::DIB_RGB_COLORS, gfx::SRCCOPY);
    target->ReleaseDC(dc);
    return hr;
}

HRESULT CPlayView::DrawRgbFrame(gfx::Surface* back, const void* bgra, int w, int h)
{
    return stretchRgb(back, RECT { 0, 0, w, h }, bgra, w, h);
}

HRESULT CPlayView::DrawYuvFrame(gfx::Surface* yuv, gfx::Surface* back, const BYTE* i420, int w, int h)
{
    if (!back || !i420)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    const std::ptrdiff_t luma = static_cast<std::ptrdiff_t>(w) * h;
    if (!CopyI420(i420, i420 + luma, i420 + luma * 5 / 4, 1, yuv, w, h)) {
        // The frame is dropped: a failed lock is in lastResult already; a
        // refused copy (no surface, an RGB surface) is reported as such.
        HRESULT lock = lastResult;
        return FAILED(lock) ? lock : gfx::DDERR_INVALIDPARAMS;
    }
    HRESULT hr = back->BltFast(0, 0, yuv, nullptr, gfx::DDBLTFAST_WAIT);
    lastResult = hr;
    return hr;
}

void CPlayView::prepareBars(const RECT* display)
{
    noteForeignWrites();
    if (!display || (m_barsBlack && *display == m_barsDisplay && composition->Writes() == m_barsWrites))
        return;
    // The composition surface less the display rectangle: the bands above
    // and below it, and left and right of it.
    const LONG W = width, H = height;
    const RECT bars[] = {
        { 0, 0, W, display->top },
        { 0, display->bottom, W, H },
        { 0, display->top, display->left, display->bottom },
        { display->right, display->top, W, display->bottom },
    };
    gfx::DDBLTFX fx {};
    fx.dwSize = sizeof fx;
    for (const RECT& bar : bars) {
        RECT inside = ui::Intersect(bar, RECT { 0, 0, W, H });
        if (!ui::IsEmpty(inside)) {
            composition->Blt(&inside, nullptr, nullptr, gfx::DDBLT_COLORFILL | gfx::DDBLT_WAIT, &fx);
            noteOwnWrite(inside);
        }
    }
}

void CPlayView::noteForeignWrites()
{
    if (composition->Writes() != m_knownWrites) {
        m_changed = RECT { 0, 0, width, height };
        m_knownWrites = composition->Writes();
    }
}

void CPlayView::noteOwnWrite(const RECT& rect)
{
    m_changed = ui::IsEmpty(m_changed) ? rect : ui::Union(m_changed, rect);
    m_knownWrites = composition->Writes();
}

void CPlayView::noteComposed(const RECT* display)
{
    noteOwnWrite(display ? *display : RECT { 0, 0, width, height });
    noteBars(display);
}

void CPlayView::noteBars(const RECT* display)
{
    m_barsBlack = display != nullptr;
    m_barsDisplay = display ? *display : RECT {};
    m_barsWrites = composition->Writes();
}

HRESULT CPlayView::Compose(gfx::Surface* back, const RECT& source, const RECT* display)
{
    if (!composition || !back)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    std::lock_guard account(m_accountMutex);
    prepareBars(display);
    HRESULT hr = composition->Blt(display, back, &source, gfx::DDBLT_WAIT, nullptr);
    noteComposed(display);
    lastResult = hr;
    return hr;
}

HRESULT CPlayView::ComposePicture(const gfx::YuvPicture& picture, const RECT& source, const RECT* display, HWND presentTo)
{
    if (!composition)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    std::lock_guard account(m_accountMutex);
    prepareBars(display);
    const RECT dest = display ? *display : RECT { 0, 0, width, height };
    HRESULT hr = gfx::DD_OK;
    if (presentTo && display && composeOntoScreen(picture, source, dest, presentTo, hr)) {
        noteBars(display);
        return lastResult = hr;
    }
    hr = composition->BltPicture(dest, picture, source);
    noteComposed(display);
    return lastResult = hr;
}

bool CPlayView::composeOntoScreen(const gfx::YuvPicture& picture, const RECT& source, const RECT& dest, HWND window, HRESULT& result)
{
    RECT windowRect {};
    if (!primary || !ui::IsEmpty(m_changed) || !ui::GetWindowRect(window, &windowRect))
        return false;
    // The present that follows would copy the picture one to one from the
    // composition's window-sized top-left part: the same pixels go onto
    // the screen now, under its lock, as long as the screen shows all the
    // rest as it is (the conditions of a present with nothing to copy).
    gfx::Screen& screen = gfx::Screen::Get();
    std::lock_guard screenLock(screen.Mutex());
    const RECT topLeft { 0, 0, ui::Width(windowRect), ui::Height(windowRect) };
    if (!screenShowsLastPresent(screen, window, windowRect, true) || ui::Intersect(dest, topLeft) != dest)
        return false;
    bool mirrored = false;
    result = composition->BltPictureMirrored(dest, picture, source, *primary, POINT { windowRect.left, windowRect.top }, mirrored);
    if (!mirrored) {
        noteOwnWrite(dest); // for the present to copy
        return true;
    }
    // On the screen already: the composition's write is accounted for
    // without becoming a change to present.
    m_knownWrites = composition->Writes();
    m_presentedGeneration = screen.Generation();
    return true;
}

HRESULT CPlayView::ComposeFill(std::uint32_t colour, const RECT* display)
{
    if (!composition)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    std::lock_guard account(m_accountMutex);
    prepareBars(display);
    RECT dest = display ? *display : RECT { 0, 0, width, height };
    gfx::DDBLTFX fx {};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = colour;
    HRESULT hr = composition->Blt(&dest, nullptr, nullptr, gfx::DDBLT_COLORFILL | gfx::DDBLT_WAIT, &fx);
    noteComposed(display);
    return lastResult = hr;
}

HRESULT CPlayView::ComposeWithin(gfx::Surface* back, const RECT& source, const RECT* display, const RECT& sourceBox)
{
    if (!composition || !back)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    const RECT dest = display ? *display : RECT { 0, 0, width, height };
    const RECT clip = gfx::DestPixelsReading(dest, source, sourceBox);
    if (ui::IsEmpty(clip))
        return lastResult = gfx::DD_OK;
    std::lock_guard account(m_accountMutex);
    noteForeignWrites();
    HRESULT hr = composition->BltWithin(dest, back, source, clip);
    noteOwnWrite(clip);
    return lastResult = hr;
}

bool CPlayView::screenShowsLastPresent(gfx::Screen& screen, HWND window, const RECT& windowRect, bool keepRatio)
{
    return m_presented && window == m_presentedWindow && windowRect == m_presentedRect && keepRatio == m_presentedKeepRatio
        && !screen.ChangedSince(m_presentedGeneration, windowRect);
}

HRESULT CPlayView::Present(HWND window, bool keepRatio)
{
    if (!primary || !composition)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    RECT windowRect {};
    if (!ui::GetWindowRect(window, &windowRect))
        return lastResult = gfx::DDERR_NOHWND;
    gfx::Screen& screen = gfx::Screen::Get();
    // The screen's lock is held from the look at its changes until the
    // generation after the blit is read, so that no other change slips
    // between them unseen. The view's account is locked first.
    std::lock_guard account(m_accountMutex);
    std::lock_guard screenLock(screen.Mutex());
    noteForeignWrites();
    const bool sameTarget = screenShowsLastPresent(screen, window, windowRect, keepRatio);
    if (sameTarget && ui::IsEmpty(m_changed)) {
        // The screen shows the composition already; a lost display is
        // still reported, for the watchdog to restore or remake it.
        if (FAILED(primary->IsLost()) || FAILED(composition->IsLost()))
            return lastResult = gfx::DDERR_SURFACELOST;
        return lastResult = gfx::DD_OK;
    }
    RECT whole { 0, 0, width, height };
    RECT topLeft { 0, 0, ui::Width(windowRect), ui::Height(windowRect) };
    HRESULT hr;
    if (keepRatio && sameTarget) {
        // One to one: the changed part of the composition surface only.
        RECT part = ui::Intersect(m_changed, topLeft);
        RECT target = ui::Offset(part, windowRect.left, windowRect.top);
        hr = ui::IsEmpty(part) ? gfx::DD_OK : primary->Blt(&target, composition, &part, gfx::DDBLT_WAIT, nullptr);
    } else {
        hr = primary->Blt(&windowRect, composition, keepRatio ? &topLeft : &whole, gfx::DDBLT_WAIT, nullptr);
    }
    lastResult = hr;
    if (SUCCEEDED(hr)) {
        m_changed = RECT {};
        m_presented = true;
        m_presentedWindow = window;
        m_presentedRect = windowRect;
        m_presentedKeepRatio = keepRatio;
        m_presentedGeneration = screen.Generation();
    } else {
        m_presented = false;
    }
    return hr;
}

HRESULT CPlayView::DrawYuvToComposition(gfx::Surface* yuv, const BYTE* i420, int w, int h, const RECT& dest)
{
    if (!composition || !i420)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    const std::ptrdiff_t luma = static_cast<std::ptrdiff_t>(w) * h;
    if (!CopyI420(i420, i420 + luma, i420 + luma * 5 / 4, 1, yuv, w, h)) {
        HRESULT lock = lastResult;
        return FAILED(lock) ? lock : gfx::DDERR_INVALIDPARAMS;
    }
    return lastResult = composition->Blt(&dest, yuv, nullptr, gfx::DDBLT_WAIT, nullptr);
}

HRESULT CPlayView::DrawRgbToComposition(const void* bgra, int w, int h, const RECT& dest)
{
    return stretchRgb(composition, dest, bgra, w, h);
}

HRESULT CPlayView::LayOver(gfx::Surface* overlay)
{
    if (!composition || !overlay)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    return lastResult = composition->BltFast(0, 0, overlay, nullptr, gfx::DDBLTFAST_WAIT | gfx::DDBLTFAST_SRCCOLORKEY);
}

HRESULT CPlayView::PresentPart(const RECT& source, const RECT& screen)
{
    if (!primary || !composition)
        return lastResult = gfx::DDERR_INVALIDPARAMS;
    RECT target = screen;
    RECT from = source;
    return lastResult = primary->Blt(&target, composition, &from, gfx::DDBLT_WAIT, nullptr);
}

void CPlayView::SetClipperWindow(HWND window)
{
    if (clipper)
        clipper->SetHWnd(0, window);
    else
        AttachClipper(window);
}

HWND CPlayView::GetClipperWindow() const
{
    HWND window = nullptr;
    if (clipper)
        clipper->GetHWnd(&window);
    return window;
}
