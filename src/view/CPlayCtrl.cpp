#include "view/CPlayCtrl.h"

#include "media/CMediaHub.h"
#include "media/FrameProbe.h"

#include "resources/Cursors.h"
#include "resources/StringTable.h"

#include "gfx/Surface.h"
#include "ui/Input.h"
#include "ui/Monitor.h"
#include "ui/System.h"

namespace {

constexpr DWORD kFullScreenStyle = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
// Back in the control, the live window sits this far inside its client
// area (room for the selection frame the control draws); shown by message
// 1034 it sits twice as far in.
constexpr int kLiveInset = 1;
constexpr int kLiveShowInset = 2;

// The live and playback windows' text font.
constexpr int kFontHeight = 18;
constexpr int kFontWidth = 12;
constexpr int kFontWeight = gfx::FW_THIN;
constexpr DWORD kFontPitchAndFamily = gfx::FF_MODERN;
constexpr const char* kFontFace = "Arial";

bool held(int key) { return (ui::GetKeyState(key) & 0x8000) != 0; }
bool noModifier() { return !held(VK_CONTROL) && !held(VK_SHIFT); }

}

CPlayCtrl::CPlayCtrl(std::int16_t id) : CPlayBase(id) { }

gfx::HFONT CPlayCtrl::MakeWindowFont()
{
    return gfx::CreateFontA(kFontHeight, kFontWidth, 0, 0, kFontWeight, FALSE, FALSE, FALSE, gfx::CHINESEBIG5_CHARSET, gfx::OUT_CHARACTER_PRECIS,
        gfx::CLIP_CHARACTER_PRECIS, gfx::DEFAULT_QUALITY, kFontPitchAndFamily, kFontFace);
}

CPlayCtrl::~CPlayCtrl()
{
    DestroyMenu();
    {
        sys::Locker lock(m_renderLock);
        if (m_back)
            m_back->Release();
        m_back = nullptr;
    }
    if (m_font)
        gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(m_font));
}

void CPlayCtrl::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    sys::Locker lock(m_renderLock);
    CPlayBase::Attach(notifyWindow, screenWidth, screenHeight, hub);
    {
        sys::Locker window(m_windowLock);
        ui::GetClientRect(m_hWnd, &m_windowRect);
        m_savedRect = m_windowRect;
    }
    if (m_back)
        m_back->Release();
    m_back = m_view ? m_view->CreateSurface(kDefaultBackWidth, kDefaultBackHeight) : nullptr;
}

void CPlayCtrl::DetachView()
{
    if (m_back)
        m_back->Release();
    m_back = nullptr;
    CPlayBase::DetachView();
}

void CPlayCtrl::OnPictureSize(int width, int height)
{
    {
        sys::Locker geometry(m_geometryLock);
        m_sourceRect.right = m_zoomRect.right = width;
        m_sourceRect.bottom = m_zoomRect.bottom = height;
    }
    sys::Locker lock(m_renderLock);
    if (m_back)
        m_back->Release();
    m_back = m_view ? m_view->CreateSurface(width, height) : nullptr;
}

RECT CPlayCtrl::GetSourceRect() const
{
    sys::Locker lock(m_geometryLock);
    return m_sourceRect;
}

RECT CPlayCtrl::GetZoomRect() const
{
    sys::Locker lock(m_geometryLock);
    return m_zoomRect;
}

HRESULT CPlayCtrl::compose()
{
    RECT zoom = GetZoomRect();
    sys::Locker lock(m_windowLock);
    if (!m_keepRatio)
        return m_view->Compose(m_back, zoom, nullptr);
    ComputeDisplayRect();
    RECT display = GetDisplayRect();
    return m_view->Compose(m_back, zoom, &display);
}

HRESULT CPlayCtrl::present()
{
    if (!m_view || !m_hWnd)
        return S_OK;
    sys::Locker lock(m_windowLock);
    ui::GetWindowRect(m_hWnd, &m_windowRect);
    HRESULT result = m_view->Present(m_hWnd, m_keepRatio);
    if (SUCCEEDED(result))
        media::Probe(media::ProbePoint::Presented, static_cast<CPlayBase*>(this));
    return result;
}

void CPlayCtrl::DrawRgbFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view || !m_back || !picture.buffer)
        return;
    m_view->DrawRgbFrame(m_back, picture.buffer, width, height);
    compose();
}

void CPlayCtrl::DrawYuvFrame(const PictureRecord& picture, int width, int height)
{
    if (!m_view || !m_back || !picture.buffer)
        return;
    if (FAILED(m_view->DrawYuvFrame(m_surface, m_back, picture.buffer, width, height)))
        return; // the frame is dropped
    compose();
}

// ---- zoom and drag ----

bool CPlayCtrl::mapPoint(int& x, int& y)
{
    RECT zoom = GetZoomRect();
    LONG width, height;
    {
        sys::Locker lock(m_windowLock);
        width = ui::Width(m_windowRect);
        height = ui::Height(m_windowRect);
    }
    if (m_keepRatio) {
        // The point is taken relative to the picture and scaled by the
        // picture's size on the screen, so the zoom centres where the
        // pointer is.
        ComputeDisplayRect();
        RECT display = GetDisplayRect();
        if (!ui::Contains(display, POINT { x, y }))
            return false;
        x -= display.left;
        y -= display.top;
        width = ui::Width(display);
        height = ui::Height(display);
    }
    if (width <= 0 || height <= 0)
        return false;
    x = static_cast<int>(zoom.left + static_cast<long long>(zoom.right - zoom.left) * x / width);
    y = static_cast<int>(zoom.top + static_cast<long long>(zoom.bottom - zoom.top) * y / height);
    return true;
}

RECT CPlayCtrl::keptInside(RECT r) const
{
    const SIZE picture = PictureSize();
    const LONG W = picture.cx, H = picture.cy;
    if (r.left < 0)
        r = ui::Offset(r, -r.left, 0);
    if (r.top < 0)
        r = ui::Offset(r, 0, -r.top);
    if (r.right > W)
        r = ui::Offset(r, -(r.right - W), 0);
    if (r.bottom > H)
        r = ui::Offset(r, 0, -(r.bottom - H));
    return r;
}

void CPlayCtrl::zoomAround(int x, int y)
{
    const long long d = kZoomSteps - m_zoomLevel;
    const SIZE picture = PictureSize();
    const long long W = picture.cx, H = picture.cy;
    RECT r {};
    r.left = static_cast<LONG>(x - d * x / kZoomSteps);
    r.top = static_cast<LONG>(y - d * y / kZoomSteps);
    r.right = static_cast<LONG>(r.left + W * d / kZoomSteps);
    r.bottom = static_cast<LONG>(r.top + H * d / kZoomSteps);
    // Kept inside the picture when it is made, so that no blit is ever
    // asked to read outside it.
    r = keptInside(r);
    sys::Locker lock(m_geometryLock);
    m_zoomRect = m_sourceRect = r;
}

bool CPlayCtrl::ZoomIn(int x, int y)
{
    if (IsScreenPtz() || !mapPoint(x, y) || m_zoomLevel >= kMaxZoomLevel)
        return false;
    ++m_zoomLevel;
    zoomAround(x, y);
    return true;
}

bool CPlayCtrl::ZoomOut(int x, int y)
{
    if (IsScreenPtz() || !mapPoint(x, y) || m_zoomLevel <= 0)
        return false;
    --m_zoomLevel;
    zoomAround(x, y);
    return true;
}

void CPlayCtrl::Pan(int x0, int y0, int x1, int y1)
{
    const int dx = x1 - x0, dy = y1 - y0; // window pixels, used as video pixels
    sys::Locker lock(m_geometryLock);
    RECT r = m_sourceRect;
    r = ui::Offset(r, -dx, -dy);
    m_zoomRect = keptInside(r);
}

void CPlayCtrl::CommitPan()
{
    sys::Locker lock(m_geometryLock);
    m_sourceRect = m_zoomRect;
}

// ---- menu ----

int CPlayCtrl::languageBase() const
{
    return m_hub ? m_hub->Language() : resources::kLanguageSimplifiedChinese;
}

void CPlayCtrl::appendItem(HMENU menu, int id, UINT command, bool checked)
{
    std::u16string text = resources::LoadString(id + languageBase(), kMenuTextChars);
    ui::AppendMenuW(menu, MF_STRING | (checked ? MF_CHECKED : MF_UNCHECKED), command, text.c_str());
}

void CPlayCtrl::appendZoomItems(HMENU menu)
{
    if (m_zoomLevel != kMaxZoomLevel)
        appendItem(menu, resources::kStringZoomUp, kCommandZoomIn, false);
    if (m_zoomLevel != 0)
        appendItem(menu, resources::kStringZoomDown, kCommandZoomOut, false);
}

void CPlayCtrl::DestroyMenu()
{
    if (m_menu)
        ui::DestroyMenu(m_menu);
    m_menu = nullptr;
}

void CPlayCtrl::appendViewItems(HMENU menu)
{
    bool hasSurface;
    {
        sys::Locker lock(m_renderLock);
        hasSurface = m_surface != nullptr;
    }
    if (hasSurface) {
        appendItem(menu, resources::kStringKeepRatio, kCommandKeepRatio, m_keepRatio);
        ui::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    }
    appendItem(menu, resources::kStringFullScreen, kCommandFullScreen, m_fullScreen);
}

HMENU CPlayCtrl::BuildMenu()
{
    DestroyMenu();
    m_menu = ui::CreatePopupMenu();
    appendViewItems(m_menu);
    ui::AppendMenuW(m_menu, MF_SEPARATOR, 0, nullptr);
    appendZoomItems(m_menu);
    m_menuOpen = true;
    return m_menu;
}

// ---- full screen ----

void CPlayCtrl::ToggleFullScreen()
{
    if (!m_hWnd)
        return;
    RECT windowRect {};
    ui::GetWindowRect(m_hWnd, &windowRect);
    MONITORINFO monitor {};
    monitor.cbSize = sizeof monitor;
    ui::GetMonitorInfo(ui::MonitorFromRect(&windowRect, MONITOR_DEFAULTTONEAREST), &monitor);
    if (IsScreenPtz())
        return;
    if (!m_parent)
        m_parent = ui::GetParent(m_hWnd);
    if (ui::GetParent(m_hWnd) == m_parent) {
        ui::SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &m_screenSaverWasActive, 0);
        if (m_screenSaverWasActive)
            ui::SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
        ui::SetWindowLongPtr(m_hWnd, GWL_STYLE, kFullScreenStyle);
        ui::GetClientRect(m_parent, &m_savedRect);
        ui::SetParent(m_hWnd, nullptr);
        m_fullScreen = true;
        const RECT& r = monitor.rcMonitor;
        ui::SetWindowPos(m_hWnd, HWND_TOPMOST, r.left, r.top, ui::Width(r), ui::Height(r), SWP_SHOWWINDOW);
        ui::SetCapture(m_hWnd);
        // The keys come here too, so that Escape leaves however full
        // screen was entered (a page's FullScreen call included).
        ui::SetFocus(m_hWnd);
        return;
    }
    if (m_screenSaverWasActive)
        ui::SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, 0);
    ui::SetWindowLongPtr(m_hWnd, GWL_STYLE, kChildStyle);
    ui::SetParent(m_hWnd, m_parent);
    m_fullScreen = false;
    ui::ReleaseCapture();
    const RECT& r = m_savedRect;
    if (GetId() == kLiveWindowId)
        ui::SetWindowPos(m_hWnd, nullptr, r.left + kLiveInset, r.top + kLiveInset, ui::Width(r) - 2 * kLiveInset, ui::Height(r) - 2 * kLiveInset, SWP_SHOWWINDOW);
    else
        ui::SetWindowPos(m_hWnd, nullptr, r.left, r.top, ui::Width(r), ui::Height(r), SWP_SHOWWINDOW);
}

// ---- input ----

void CPlayCtrl::setCursor(int index)
{
    if (HCURSOR cursor = resources::Cursor(index))
        ui::SetCursor(cursor);
}

POINT CPlayCtrl::cursorInWindow() const
{
    POINT p {};
    ui::GetCursorPos(&p);
    ui::ScreenToClient(m_hWnd, &p);
    return p;
}

LRESULT CPlayCtrl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    auto activate = [this] {
        if (m_owner)
            m_owner->ActivateFromView();
    };
    switch (message) {
    case WM_PAINT: {
        gfx::PAINTSTRUCT paint {};
        gfx::BeginPaint(window, &paint);
        gfx::EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYDOWN:
        if (wParam == VK_CONTROL && !IsScreenPtz() && !held(VK_SHIFT)) {
            ui::SetCapture(window);
            setCursor(resources::kCursorZoomIn);
        } else if (wParam == VK_SHIFT && !IsScreenPtz() && !held(VK_CONTROL)) {
            ui::SetCapture(window);
            setCursor(resources::kCursorZoomOut);
        } else if (wParam == VK_ESCAPE && m_fullScreen) {
            if (IsScreenPtz()) {
                if (m_owner) {
                    POINT p = cursorInWindow();
                    m_owner->SetScreenPtz(p.x, p.y);
                }
            } else {
                ToggleFullScreen();
            }
        }
        break;
    case WM_KEYUP:
        if (wParam == VK_CONTROL) {
            if (!IsScreenPtz()) {
                if (held(VK_SHIFT))
                    setCursor(resources::kCursorZoomOut);
                else
                    ui::ReleaseCapture();
            }
        } else if (wParam == VK_SHIFT) {
            if (!IsScreenPtz()) {
                if (held(VK_CONTROL))
                    setCursor(resources::kCursorZoomIn);
                else
                    ui::ReleaseCapture();
            }
        } else {
            ui::ReleaseCapture();
        }
        break;
    case WM_COMMAND:
        ClearMenuFlag();
        switch (LOWORD(wParam)) {
        case kCommandFullScreen: ToggleFullScreen(); break;
        case kCommandKeepRatio: ToggleKeepRatio(); break;
        case kCommandScreenPtz:
            if (m_owner) {
                POINT p = cursorInWindow();
                m_owner->SetScreenPtz(p.x, p.y);
            }
            break;
        case kCommandZoomIn: ZoomIn(m_menuX, m_menuY); break;
        case kCommandZoomOut: ZoomOut(m_menuX, m_menuY); break;
        default: break;
        }
        break;
    case WM_MOUSEMOVE:
        if (IsScreenPtz()) {
            TrackPtzCursor(x, y);
        } else if (m_dragging) {
            ui::SetCursor(ui::LoadStockCursor(ui::CursorShape::Hand));
            Pan(m_dragX, m_dragY, x, y);
        }
        break;
    case WM_LBUTTONDOWN:
        ui::SetFocus(window);
        ui::SetCapture(window);
        activate();
        if (held(VK_CONTROL)) {
            setCursor(resources::kCursorZoomIn);
            ZoomIn(x, y);
        } else if (held(VK_SHIFT)) {
            setCursor(resources::kCursorZoomOut);
            ZoomOut(x, y);
        } else {
            ClearMenuFlag();
            if (IsScreenPtz()) {
                if (m_owner)
                    m_owner->PostPtzMove(false);
            } else {
                m_dragging = 1;
                m_dragX = x;
                m_dragY = y;
            }
        }
        break;
    case WM_LBUTTONUP:
        ui::ReleaseCapture();
        if (noModifier()) {
            if (IsScreenPtz()) {
                if (m_owner)
                    m_owner->PostPtzMove(true);
            } else if (m_dragging) {
                ui::SetCursor(ui::LoadStockCursor(ui::CursorShape::Arrow));
                Pan(m_dragX, m_dragY, x, y);
                CommitPan();
            }
        }
        m_dragging = 0;
        break;
    case WM_LBUTTONDBLCLK:
        if (m_owner && noModifier()) {
            ClearMenuFlag();
            ToggleFullScreen();
        }
        break;
    case WM_RBUTTONDOWN:
        ui::SetFocus(window);
        activate();
        if (noModifier()) {
            if (IsScreenPtz()) {
                if (m_owner) {
                    POINT p = cursorInWindow();
                    m_owner->SetScreenPtz(p.x, p.y);
                }
            } else {
                m_menuX = x;
                m_menuY = y;
                if (HMENU menu = BuildMenu()) {
                    POINT at { x, y };
                    ui::ClientToScreen(window, &at);
                    // A menu closed without a choice is no longer open
                    // (a choice clears the flag with its command).
                    if (!ui::TrackPopupMenu(menu, TPM_LEFTBUTTON, at.x, at.y, 0, window, nullptr))
                        ClearMenuFlag();
                }
            }
        }
        break;
    case WM_MBUTTONDOWN:
        ui::SetFocus(window);
        activate();
        if (noModifier() && m_fullScreen && !m_menuOpen && OffersScreenPtz() && m_owner)
            m_owner->SetScreenPtz(x, y);
        break;
    case WM_MOUSEWHEEL:
        if (m_owner && noModifier()) {
            POINT p { x, y }; // screen coordinates
            ui::ScreenToClient(window, &p);
            const auto delta = static_cast<SHORT>(HIWORD(wParam));
            if (delta > 0)
                ZoomIn(p.x, p.y);
            else if (delta < 0)
                ZoomOut(p.x, p.y);
        }
        break;
    case kMsgShowActiveWindow:
        showInControl(window, lParam, GetId() == kLiveWindowId ? kLiveShowInset : 0);
        break;
    case kMsgBlacken:
        Blacken();
        m_dragging = 0;
        break;
    default:
        break;
    }
    return CPlayBase::WindowProc(window, message, wParam, lParam);
}
