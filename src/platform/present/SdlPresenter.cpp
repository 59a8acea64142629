#include "present/SdlPresenter.h"
#include "present/XErrors.h"

#include "gfx/MenuPainter.h"
#include "gfx/Screen.h"
#include "ui/Dialogs.h"
#include "ui/Input.h"
#include "ui/Menu.h"

#include "sys/CrashHandler.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

namespace present {

namespace {

constexpr const char* kInputClass = "TiravexPresenterInput";
constexpr const char* kWindowTitle = "Tiravex";
// Messages from the SDL thread to the hidden input window.
constexpr UINT kMouseInputMessage = WM_USER + 0x301;
constexpr UINT kKeyInputMessage = WM_USER + 0x302;
// The SDL thread wakes at least this often to look for a changed screen.
constexpr Uint32 kPollMs = 16;
constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr auto kShotTimeout = std::chrono::seconds(5);
constexpr int kWheelStep = 120;
constexpr int kArgbBits = 32;
constexpr int kBytesPerPixel = 4;
// More changed rectangles than this since the last update go as one.
constexpr std::size_t kMostUpdateRects = 16;

WPARAM packMouse(ui::MouseAction action, UINT modifiers, int wheel)
{
    return static_cast<WPARAM>(static_cast<unsigned>(action)) | (static_cast<WPARAM>(modifiers & 0xFF) << 8) | (static_cast<WPARAM>(static_cast<WORD>(static_cast<SHORT>(wheel))) << 16);
}

// The modifier keys held now: SDL's keyboard state, and the Ctrl and Shift
// keys whose events the window has received and not yet seen released
// (events that come without SDL's keyboard state, as pushed ones do).
UINT modifiersNow(UINT heldByEvents)
{
    SDL_Keymod mod = SDL_GetModState();
    UINT m = heldByEvents;
    if (mod & KMOD_SHIFT)
        m |= ui::ModShift;
    if (mod & KMOD_CTRL)
        m |= ui::ModControl;
    return m;
}

UINT modifierOfKey(SDL_Keycode key)
{
    switch (key) {
    case SDLK_LCTRL:
    case SDLK_RCTRL: return ui::ModControl;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return ui::ModShift;
    default: return ui::ModNone;
    }
}

// An SDL cursor of a ui cursor picture, scaled as the window is.
SDL_Cursor* colorCursorOf(const ui::CursorImage& image, double scale)
{
    std::vector<std::uint32_t> argb = image.argb;
    SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormatFrom(argb.data(), image.width, image.height, kArgbBits, image.width * kBytesPerPixel, SDL_PIXELFORMAT_ARGB8888);
    if (!picture)
        return nullptr;
    int hotX = image.hotX;
    int hotY = image.hotY;
    SDL_Surface* shown = picture;
    if (scale != 1.0) {
        const int width = std::max(1, static_cast<int>(std::lround(image.width * scale)));
        const int height = std::max(1, static_cast<int>(std::lround(image.height * scale)));
        if (SDL_Surface* scaled = SDL_CreateRGBSurfaceWithFormat(0, width, height, kArgbBits, SDL_PIXELFORMAT_ARGB8888)) {
            SDL_SetSurfaceBlendMode(picture, SDL_BLENDMODE_NONE);
            if (SDL_BlitScaled(picture, nullptr, scaled, nullptr) == 0) {
                shown = scaled;
                hotX = std::min(width - 1, static_cast<int>(hotX * scale));
                hotY = std::min(height - 1, static_cast<int>(hotY * scale));
            } else {
                SDL_FreeSurface(scaled);
            }
        }
    }
    SDL_Cursor* cursor = SDL_CreateColorCursor(shown, hotX, hotY);
    if (shown != picture)
        SDL_FreeSurface(shown);
    SDL_FreeSurface(picture);
    return cursor;
}

UINT virtualKeyOf(SDL_Keycode key)
{
    switch (key) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_RETURN: return VK_RETURN;
    case SDLK_TAB: return VK_TAB;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    default: break;
    }
    if (key >= SDLK_a && key <= SDLK_z)
        return static_cast<UINT>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9)
        return static_cast<UINT>('0' + (key - SDLK_0));
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return VK_F1 + static_cast<UINT>(key - SDLK_F1);
    return 0;
}

SDL_SystemCursor systemCursorOf(ui::CursorShape shape)
{
    switch (shape) {
    case ui::CursorShape::Hand: return SDL_SYSTEM_CURSOR_HAND;
    case ui::CursorShape::Cross: return SDL_SYSTEM_CURSOR_CROSSHAIR;
    case ui::CursorShape::SizeAll: return SDL_SYSTEM_CURSOR_SIZEALL;
    case ui::CursorShape::SizeNWSE: return SDL_SYSTEM_CURSOR_SIZENWSE;
    case ui::CursorShape::SizeNESW: return SDL_SYSTEM_CURSOR_SIZENESW;
    case ui::CursorShape::SizeWE: return SDL_SYSTEM_CURSOR_SIZEWE;
    case ui::CursorShape::SizeNS: return SDL_SYSTEM_CURSOR_SIZENS;
    case ui::CursorShape::No: return SDL_SYSTEM_CURSOR_NO;
    case ui::CursorShape::Wait: return SDL_SYSTEM_CURSOR_WAIT;
    case ui::CursorShape::Arrow: return SDL_SYSTEM_CURSOR_ARROW;
    default: return SDL_SYSTEM_CURSOR_CROSSHAIR; // pan/tilt and zoom shapes without their pictures
    }
}

// The window surface's pixels as a PNG file.
bool saveSurfacePng(SDL_Surface* surface, const std::string& path)
{
    if (!surface || surface->w <= 0 || surface->h <= 0)
        return false;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(surface->w) * static_cast<std::size_t>(surface->h));
    if (SDL_ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels, surface->pitch, SDL_PIXELFORMAT_RGB888, pixels.data(), surface->w * kBytesPerPixel) != 0)
        return false;
    return WritePng(path, pixels.data(), surface->w, surface->h, surface->w);
}

// The part of the screen the window shows: from the screen's origin to the
// far corner of the visible top-level windows and the overlay (the page's
// controls, a full-screen view, an open menu), so that the window is as
// large as what the page put on the screen. While nothing is shown, the
// `current` area as far as it is on the screen (else the whole screen).
RECT shownArea(const RECT& screenBounds, const RECT& overlay, const RECT& current)
{
    RECT used = overlay;
    for (HWND top : ui::GetTopLevelWindows())
        used = ui::Union(used, ui::GetVisibleScreenRect(top));
    used = ui::Intersect(used, screenBounds);
    if (ui::IsEmpty(used))
        used = ui::Intersect(current, screenBounds);
    if (ui::IsEmpty(used))
        used = screenBounds;
    return RECT { 0, 0, used.right, used.bottom };
}

// The window's pixels of `part` (screen coordinates inside `area`) from
// the screen's: nearest pixels when the window is smaller than the area.
// The window surface is locked by the caller when it must be. Returns the
// window's rectangle that was written (empty when none).
SDL_Rect copyPart(const std::uint32_t* screen, int screenPitch, const RECT& area, const RECT& part, SDL_Surface* window, std::vector<std::uint32_t>& scratch)
{
    const int areaW = static_cast<int>(ui::Width(area)), areaH = static_cast<int>(ui::Height(area));
    const RECT clipped = ui::Intersect(part, area);
    if (ui::IsEmpty(clipped) || areaW <= 0 || areaH <= 0)
        return SDL_Rect {};
    const bool scaled = window->w != areaW || window->h != areaH;
    // The window's pixels whose nearest screen pixel lies in the part.
    const auto toWindow = [](LONG v, int from, int to) { return static_cast<int>((static_cast<long long>(v) * to + from - 1) / from); };
    SDL_Rect dest;
    dest.x = scaled ? toWindow(clipped.left, areaW, window->w) : static_cast<int>(clipped.left);
    dest.y = scaled ? toWindow(clipped.top, areaH, window->h) : static_cast<int>(clipped.top);
    dest.w = std::min(window->w, scaled ? toWindow(clipped.right, areaW, window->w) : static_cast<int>(clipped.right)) - dest.x;
    dest.h = std::min(window->h, scaled ? toWindow(clipped.bottom, areaH, window->h) : static_cast<int>(clipped.bottom)) - dest.y;
    if (dest.w <= 0 || dest.h <= 0)
        return SDL_Rect {};
    const bool direct = window->format->format == SDL_PIXELFORMAT_RGB888;
    std::uint32_t* out = nullptr;
    int outPitch = 0; // pixels
    if (direct) {
        out = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(window->pixels) + static_cast<std::ptrdiff_t>(dest.y) * window->pitch) + dest.x;
        outPitch = window->pitch / kBytesPerPixel;
    } else {
        scratch.resize(static_cast<std::size_t>(dest.w) * static_cast<std::size_t>(dest.h));
        out = scratch.data();
        outPitch = dest.w;
    }
    for (int y = 0; y < dest.h; ++y) {
        const int sy = scaled ? static_cast<int>(static_cast<long long>(dest.y + y) * areaH / window->h) : dest.y + y;
        const std::uint32_t* in = screen + static_cast<std::ptrdiff_t>(sy) * screenPitch;
        std::uint32_t* row = out + static_cast<std::ptrdiff_t>(y) * outPitch;
        if (!scaled) {
            std::copy(in + dest.x, in + dest.x + dest.w, row);
            continue;
        }
        for (int x = 0; x < dest.w; ++x)
            row[x] = in[static_cast<long long>(dest.x + x) * areaW / window->w];
    }
    if (!direct) {
        void* target = static_cast<std::uint8_t*>(window->pixels) + static_cast<std::ptrdiff_t>(dest.y) * window->pitch + static_cast<std::ptrdiff_t>(dest.x) * window->format->BytesPerPixel;
        SDL_ConvertPixels(dest.w, dest.h, SDL_PIXELFORMAT_RGB888, scratch.data(), dest.w * kBytesPerPixel, window->format->format, target, window->pitch);
    }
    return dest;
}

}

std::unique_ptr<SdlPresenter> SdlPresenter::Create()
{
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland))
        return nullptr;
    std::unique_ptr<SdlPresenter> presenter(new SdlPresenter);
    if (!presenter->start())
        return nullptr;
    return presenter;
}

bool SdlPresenter::start()
{
    if (!ui::IsClassRegistered(kInputClass)) {
        WNDCLASS inputClass;
        inputClass.lpszClassName = kInputClass;
        ui::RegisterClass(inputClass);
    }
    m_inputWindow = ui::CreateWindowEx(0, kInputClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, this);
    if (!m_inputWindow)
        return false;
    std::promise<bool> started;
    std::future<bool> answer = started.get_future();
    m_thread = std::thread([this, &started] { run(started); });
    // The thread answers once SDL has started (or failed to).
    bool ok = answer.wait_for(kStartTimeout) == std::future_status::ready && answer.get();
    if (!ok) {
        m_quit = true;
        m_thread.join();
        return false;
    }
    gfx::Screen::Get().SetChangeListener([wake = m_wake] {
        if (wake->pending.exchange(true))
            return;
        SDL_Event event {};
        event.type = wake->event;
        SDL_PushEvent(&event);
    });
    // A person at the window picks from popup menus.
    if (!ui::GetMenuPainter()) {
        ui::SetMenuPainter(&gfx::ScreenMenuPainter());
        m_paintsMenus = true;
    }
    // ... and answers modal dialogs.
    if (!ui::DialogsAnswerable()) {
        ui::SetDialogsAnswerable(true);
        m_answersDialogs = true;
    }
    return true;
}

void SdlPresenter::wake()
{
    SDL_Event event {};
    event.type = m_wake->event;
    SDL_PushEvent(&event);
}

bool SdlPresenter::SaveWindowShot(const std::string& path)
{
    std::future<bool> answer;
    {
        std::lock_guard lock(m_shotMutex);
        if (m_shot || !m_thread.joinable())
            return false;
        m_shot = std::make_unique<ShotRequest>();
        m_shot->path = path;
        answer = m_shot->done.get_future();
    }
    wake();
    if (answer.wait_for(kShotTimeout) != std::future_status::ready)
        return false; // the SDL thread answers the request when it ends
    return answer.get();
}

SdlPresenter::~SdlPresenter()
{
    if (m_paintsMenus && ui::GetMenuPainter() == &gfx::ScreenMenuPainter())
        ui::SetMenuPainter(nullptr);
    if (m_answersDialogs)
        ui::SetDialogsAnswerable(false);
    gfx::Screen::Get().SetChangeListener(nullptr);
    m_quit = true;
    if (m_thread.joinable())
        m_thread.join(); // the loop looks at m_quit every kPollMs
    if (m_inputWindow)
        ui::DestroyWindow(m_inputWindow);
}

void SdlPresenter::run(std::promise<bool>& started)
{
    sys::PrepareThreadForCrash();
    // Before SDL's own X error handler, which passes errors on to it.
    ReportXErrors();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        started.set_value(false);
        return;
    }
    gfx::Screen& screen = gfx::Screen::Get();
    SDL_Rect usable {};
    const bool knowsUsable = SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0;
    // The window's size for an area of the screen: the area, made smaller
    // to fit the display.
    const auto windowSizeOf = [&](const RECT& area) {
        const double w = static_cast<double>(ui::Width(area)), h = static_cast<double>(ui::Height(area));
        const double fit = knowsUsable ? std::min({ 1.0, usable.w / w, usable.h / h }) : 1.0;
        return SDL_Point { std::max(1, static_cast<int>(w * fit)), std::max(1, static_cast<int>(h * fit)) };
    };
    RECT area = shownArea(screen.Bounds(), screen.OverlayRect(), screen.Bounds());
    const SDL_Point size = windowSizeOf(area);
    // The window's own framebuffer (shared memory with an X server), updated
    // by rectangles: without a GPU it beats a renderer's texture, whose
    // present sends the whole window however little changed.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_Window* window = SDL_CreateWindow(kWindowTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, size.x, size.y, SDL_WINDOW_SHOWN);
    SDL_Surface* surface = window ? SDL_GetWindowSurface(window) : nullptr;
    Uint32 wakeEvent = SDL_RegisterEvents(1);
    if (!surface || wakeEvent == static_cast<Uint32>(-1)) {
        if (window)
            SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        started.set_value(false);
        return;
    }
    m_wake->event = wakeEvent;
    m_windowId = SDL_GetWindowID(window);
    started.set_value(true); // `started` is gone after this

    std::uint64_t shownGeneration = 0;
    bool redrawNeeded = true;
    std::vector<RECT> changed;       // the screen's changes being shown
    std::vector<SDL_Rect> updated;   // the window's rectangles they became
    std::vector<std::uint32_t> scratch;
    POINT pointer { 0, 0 };
    UINT heldModifiers = ui::ModNone;
    // Cursors made so far, kept until the window closes: pictures by their
    // serial, system cursors by shape.
    std::map<std::uint64_t, SDL_Cursor*> pictureCursors;
    std::map<ui::CursorShape, SDL_Cursor*> systemCursors;
    bool cursorShown = false;
    std::uint64_t shownSerial = 0;
    ui::CursorShape shownShape = ui::CursorShape::Arrow;
    // The window's pixels to the screen's, by the window's actual size.
    double scale = static_cast<double>(surface->w) / static_cast<double>(ui::Width(area));
    double scaleY = static_cast<double>(surface->h) / static_cast<double>(ui::Height(area));
    auto toScreen = [&](int x, int y) { return POINT { static_cast<LONG>(x / scale), static_cast<LONG>(y / scaleY) }; };
    auto postMouse = [&](ui::MouseAction action, POINT at, int wheel) {
        ui::PostMessage(m_inputWindow, kMouseInputMessage, packMouse(action, modifiersNow(heldModifiers), wheel), MAKELPARAM(at.x, at.y));
    };
    auto showCursor = [&] {
        HCURSOR current = ui::GetCursor();
        ui::CursorImage image;
        if (ui::GetCursorImage(current, image)) {
            if (cursorShown && image.serial == shownSerial)
                return;
            SDL_Cursor*& made = pictureCursors[image.serial];
            if (!made)
                made = colorCursorOf(image, scale);
            if (made) {
                SDL_SetCursor(made);
                cursorShown = true;
                shownSerial = image.serial;
                m_shownCursorSerial = image.serial;
                return;
            }
        }
        const ui::CursorShape shape = ui::GetCursorShape(current);
        if (cursorShown && shownSerial == 0 && shape == shownShape)
            return;
        SDL_Cursor*& made = systemCursors[shape];
        if (!made)
            made = SDL_CreateSystemCursor(systemCursorOf(shape));
        if (made)
            SDL_SetCursor(made);
        cursorShown = true;
        shownSerial = 0;
        shownShape = shape;
        m_shownCursorSerial = 0;
    };

    while (!m_quit) {
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, kPollMs)) {
            do {
                switch (e.type) {
                case SDL_MOUSEMOTION:
                    pointer = toScreen(e.motion.x, e.motion.y);
                    postMouse(ui::MouseAction::Move, pointer, 0);
                    break;
                case SDL_MOUSEBUTTONDOWN:
                case SDL_MOUSEBUTTONUP: {
                    const bool down = e.type == SDL_MOUSEBUTTONDOWN;
                    pointer = toScreen(e.button.x, e.button.y);
                    ui::MouseAction action;
                    if (e.button.button == SDL_BUTTON_LEFT)
                        action = down ? ui::MouseAction::LeftDown : ui::MouseAction::LeftUp;
                    else if (e.button.button == SDL_BUTTON_RIGHT)
                        action = down ? ui::MouseAction::RightDown : ui::MouseAction::RightUp;
                    else if (e.button.button == SDL_BUTTON_MIDDLE)
                        action = down ? ui::MouseAction::MiddleDown : ui::MouseAction::MiddleUp;
                    else
                        break;
                    postMouse(action, pointer, 0);
                    break;
                }
                case SDL_MOUSEWHEEL:
                    if (e.wheel.y != 0)
                        postMouse(ui::MouseAction::Wheel, pointer, e.wheel.y * kWheelStep);
                    break;
                case SDL_KEYDOWN:
                case SDL_KEYUP:
                    if (e.type == SDL_KEYDOWN)
                        heldModifiers |= modifierOfKey(e.key.keysym.sym);
                    else
                        heldModifiers &= ~modifierOfKey(e.key.keysym.sym);
                    if (UINT vk = virtualKeyOf(e.key.keysym.sym))
                        ui::PostMessage(m_inputWindow, kKeyInputMessage, vk, e.type == SDL_KEYDOWN ? 1 : 0);
                    break;
                case SDL_QUIT:
                    m_closed = true;
                    // The page's loop sleeps until a message: this one has it look.
                    ui::PostMessage(m_inputWindow, WM_NULL, 0, 0);
                    break;
                case SDL_WINDOWEVENT:
                    if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                        redrawNeeded = true; // uncovered or resized: draw again though the screen did not change
                    break;
                default:
                    break;
                }
            } while (SDL_PollEvent(&e));
        }
        showCursor();
        m_wake->pending = false;
        std::unique_ptr<ShotRequest> shot;
        {
            std::lock_guard lock(m_shotMutex);
            shot = std::move(m_shot);
        }
        // The window follows what the page put on the screen.
        const RECT wanted = shownArea(screen.Bounds(), screen.OverlayRect(), area);
        if (wanted != area) {
            area = wanted;
            const SDL_Point resized = windowSizeOf(area);
            SDL_SetWindowSize(window, resized.x, resized.y);
            redrawNeeded = true;
        }
        if (redrawNeeded) {
            surface = SDL_GetWindowSurface(window); // remade when the window's size changed
            if (!surface)
                continue;
            scale = static_cast<double>(surface->w) / static_cast<double>(ui::Width(area));
            scaleY = static_cast<double>(surface->h) / static_cast<double>(ui::Height(area));
        }
        if (!redrawNeeded && screen.Generation() == shownGeneration && !shot)
            continue;
        // Only what changed since the last update goes to the window (all of
        // it after a resize or exposure), in one update. Reading the screen
        // gives its overlay too (a menu being shown).
        std::uint64_t generation = shownGeneration;
        updated.clear();
        const bool mustLock = SDL_MUSTLOCK(surface);
        if (mustLock && SDL_LockSurface(surface) != 0)
            continue;
        screen.Read([&](const std::uint32_t* pixels, int w, int h) {
            generation = screen.Generation(); // the screen's mutex is held: pixels and generation agree
            const RECT bounds { 0, 0, w, h };
            if (redrawNeeded || !screen.ChangesSince(shownGeneration, changed))
                changed.assign(1, bounds);
            RECT whole {};
            for (const RECT& part : changed)
                whole = ui::Union(whole, part);
            // Many small changes are sent as the rectangle around them.
            if (changed.size() > kMostUpdateRects)
                changed.assign(1, whole);
            for (const RECT& part : changed) {
                const SDL_Rect written = copyPart(pixels, w, area, ui::Intersect(part, bounds), surface, scratch);
                if (written.w > 0 && written.h > 0)
                    updated.push_back(written);
            }
        });
        if (mustLock)
            SDL_UnlockSurface(surface);
        if (!updated.empty())
            SDL_UpdateWindowSurfaceRects(window, updated.data(), static_cast<int>(updated.size()));
        if (shot)
            shot->done.set_value(saveSurfacePng(surface, shot->path));
        shownGeneration = generation;
        if (!updated.empty() || redrawNeeded)
            ++m_framesShown;
        redrawNeeded = false;
    }
    {
        std::lock_guard lock(m_shotMutex);
        if (m_shot) {
            m_shot->done.set_value(false);
            m_shot.reset();
        }
    }
    SDL_SetCursor(SDL_GetDefaultCursor());
    for (auto& [serial, made] : pictureCursors)
        if (made)
            SDL_FreeCursor(made);
    for (auto& [shape, made] : systemCursors)
        if (made)
            SDL_FreeCursor(made);
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

LRESULT SdlPresenter::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kMouseInputMessage: {
        auto action = static_cast<ui::MouseAction>(wParam & 0xFF);
        UINT modifiers = static_cast<UINT>((wParam >> 8) & 0xFF);
        int wheel = static_cast<SHORT>(static_cast<WORD>((wParam >> 16) & 0xFFFF));
        ui::InjectMouse(action, POINT { GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam) }, modifiers, wheel);
        return 0;
    }
    case kKeyInputMessage:
        ui::InjectKey(lParam != 0, static_cast<UINT>(wParam));
        return 0;
    default:
        return ui::DefWindowProc(window, message, wParam, lParam);
    }
}

}
