#include "present/SdlPresenter.h"

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

// The renderer's picture as a PNG file.
bool saveRendererPng(SDL_Renderer* renderer, const std::string& path)
{
    int width = 0;
    int height = 0;
    if (SDL_GetRendererOutputSize(renderer, &width, &height) != 0 || width <= 0 || height <= 0)
        return false;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    if (SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGB888, pixels.data(), width * kBytesPerPixel) != 0)
        return false;
    return WritePng(path, pixels.data(), width, height, width);
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
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        started.set_value(false);
        return;
    }
    gfx::Screen& screen = gfx::Screen::Get();
    int width = screen.Width();
    int height = screen.Height();
    double scale = 1.0;
    SDL_Rect usable {};
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0)
        scale = std::min({ 1.0, static_cast<double>(usable.w) / width, static_cast<double>(usable.h) / height });
    SDL_Window* window = SDL_CreateWindow(kWindowTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, std::max(1, static_cast<int>(width * scale)), std::max(1, static_cast<int>(height * scale)), SDL_WINDOW_SHOWN);
    SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, 0) : nullptr;
    if (window && !renderer)
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    SDL_Texture* texture = renderer ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height) : nullptr;
    Uint32 wakeEvent = SDL_RegisterEvents(1);
    if (!texture || wakeEvent == static_cast<Uint32>(-1)) {
        if (renderer)
            SDL_DestroyRenderer(renderer);
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
    POINT pointer { 0, 0 };
    UINT heldModifiers = ui::ModNone;
    // Cursors made so far, kept until the window closes: pictures by their
    // serial, system cursors by shape.
    std::map<std::uint64_t, SDL_Cursor*> pictureCursors;
    std::map<ui::CursorShape, SDL_Cursor*> systemCursors;
    bool cursorShown = false;
    std::uint64_t shownSerial = 0;
    ui::CursorShape shownShape = ui::CursorShape::Arrow;
    auto toScreen = [&](int x, int y) { return POINT { static_cast<LONG>(x / scale), static_cast<LONG>(y / scale) }; };
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
        std::uint64_t generation = screen.Generation();
        if (!redrawNeeded && generation == shownGeneration && !shot)
            continue;
        // Reading the screen gives its overlay too (a menu being shown).
        screen.Read([&](const std::uint32_t* pixels, int w, int h) {
            if (w == width && h == height)
                SDL_UpdateTexture(texture, nullptr, pixels, w * kBytesPerPixel);
        });
        SDL_RenderClear(renderer);
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        // Read back before presenting: afterwards the back buffer's contents are undefined.
        if (shot)
            shot->done.set_value(saveRendererPng(renderer, shot->path));
        SDL_RenderPresent(renderer);
        shownGeneration = generation;
        redrawNeeded = false;
        ++m_framesShown;
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
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
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
