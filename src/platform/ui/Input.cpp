#include "ui/Input.h"

#include "ui/WindowInternal.h"

#include "sys/Time.h"

#include <array>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

namespace ui {

namespace {

constexpr UINT kDoubleClickMs = 500;
constexpr LONG kDoubleClickSlop = 4; // pixels either way
constexpr SHORT kKeyDown = static_cast<SHORT>(0x8000);
constexpr int kKeyCount = 256;

struct Cursor {
    CursorShape shape = CursorShape::Arrow;
    int resourceId = 0;
    bool stock = false;
    std::uint64_t serial = 0;
    std::shared_ptr<const CursorImage> image; // null: a shape only
};

struct InputState {
    std::mutex mutex;
    HWND focus = nullptr;
    HWND capture = nullptr;
    POINT cursorPos { 0, 0 };
    HCURSOR cursor = nullptr;
    std::array<bool, kKeyCount> keys {};
    // The last button press, for double clicks.
    HWND lastDownWindow = nullptr;
    UINT lastDownButton = 0;
    DWORD lastDownTick = 0;
    POINT lastDownPos { 0, 0 };
    bool lastWasDouble = false;
    std::map<int, std::unique_ptr<Cursor>> stock;
    std::set<const Cursor*> live; // every cursor not destroyed
    std::uint64_t nextSerial = 1;
};

InputState& input()
{
    static InputState* s = new InputState;
    return *s;
}

Cursor* cursorOf(HCURSOR cursor) { return reinterpret_cast<Cursor*>(cursor); }

// Under the mutex: the cursor of a handle, or null when it is not a live one.
const Cursor* liveCursor(const InputState& s, HCURSOR cursor)
{
    const Cursor* c = cursorOf(cursor);
    return c && s.live.count(c) ? c : nullptr;
}

// Under the mutex.
HCURSOR adopt(InputState& s, Cursor* c)
{
    c->serial = s.nextSerial++;
    s.live.insert(c);
    return reinterpret_cast<HCURSOR>(c);
}

WPARAM keyFlags(const InputState& s)
{
    WPARAM flags = 0;
    if (s.keys[VK_LBUTTON])
        flags |= MK_LBUTTON;
    if (s.keys[VK_RBUTTON])
        flags |= MK_RBUTTON;
    if (s.keys[VK_MBUTTON])
        flags |= MK_MBUTTON;
    if (s.keys[VK_SHIFT])
        flags |= MK_SHIFT;
    if (s.keys[VK_CONTROL])
        flags |= MK_CONTROL;
    return flags;
}

struct Button {
    UINT down;
    UINT up;
    UINT dbl;
    UINT key;
};

constexpr Button kLeft { WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, VK_LBUTTON };
constexpr Button kRight { WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, VK_RBUTTON };
constexpr Button kMiddle { WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK, VK_MBUTTON };

}

namespace detail {

void ForgetWindow(HWND window)
{
    auto& s = input();
    std::lock_guard lock(s.mutex);
    if (s.focus == window)
        s.focus = nullptr;
    if (s.capture == window)
        s.capture = nullptr;
    if (s.lastDownWindow == window)
        s.lastDownWindow = nullptr;
}

}

HWND SetFocus(HWND window)
{
    HWND old;
    {
        auto& s = input();
        std::lock_guard lock(s.mutex);
        if (window && !IsWindow(window))
            return nullptr;
        old = s.focus;
        if (old == window)
            return old;
        s.focus = window;
    }
    if (old)
        SendMessage(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
    if (window)
        SendMessage(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}

HWND GetFocus()
{
    std::lock_guard lock(input().mutex);
    return input().focus;
}

HWND SetCapture(HWND window)
{
    HWND old;
    {
        std::lock_guard lock(input().mutex);
        if (!IsWindow(window))
            return nullptr;
        old = input().capture;
        input().capture = window;
    }
    if (old && old != window)
        SendMessage(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(window));
    return old;
}

BOOL ReleaseCapture()
{
    HWND old;
    {
        std::lock_guard lock(input().mutex);
        old = input().capture;
        input().capture = nullptr;
    }
    if (old)
        SendMessage(old, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND GetCapture()
{
    std::lock_guard lock(input().mutex);
    return input().capture;
}

BOOL GetCursorPos(POINT* point)
{
    if (!point)
        return FALSE;
    std::lock_guard lock(input().mutex);
    *point = input().cursorPos;
    return TRUE;
}

BOOL SetCursorPos(int x, int y)
{
    std::lock_guard lock(input().mutex);
    input().cursorPos = POINT { x, y };
    return TRUE;
}

HCURSOR LoadStockCursor(CursorShape shape)
{
    auto& s = input();
    std::lock_guard lock(s.mutex);
    auto& slot = s.stock[static_cast<int>(shape)];
    if (!slot) {
        slot = std::make_unique<Cursor>();
        slot->shape = shape;
        slot->stock = true;
        adopt(s, slot.get());
    }
    return reinterpret_cast<HCURSOR>(slot.get());
}

HCURSOR CreateResourceCursor(int resourceId, CursorShape shape)
{
    auto* c = new Cursor;
    c->shape = shape;
    c->resourceId = resourceId;
    std::lock_guard lock(input().mutex);
    return adopt(input(), c);
}

HCURSOR CreateImageCursor(int resourceId, int width, int height, int hotX, int hotY, const std::uint32_t* argb, CursorShape shape)
{
    if (width <= 0 || height <= 0 || !argb || hotX < 0 || hotY < 0 || hotX >= width || hotY >= height)
        return nullptr;
    auto image = std::make_shared<CursorImage>();
    image->width = width;
    image->height = height;
    image->hotX = hotX;
    image->hotY = hotY;
    image->argb.assign(argb, argb + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    auto* c = new Cursor;
    c->shape = shape;
    c->resourceId = resourceId;
    std::lock_guard lock(input().mutex);
    HCURSOR handle = adopt(input(), c);
    image->serial = c->serial;
    c->image = std::move(image);
    return handle;
}

void DestroyCursor(HCURSOR cursor)
{
    Cursor* c = cursorOf(cursor);
    {
        auto& s = input();
        std::lock_guard lock(s.mutex);
        if (!liveCursor(s, cursor) || c->stock)
            return; // stock cursors live for the process
        s.live.erase(c);
        if (s.cursor == cursor)
            s.cursor = nullptr;
    }
    delete c;
}

HCURSOR SetCursor(HCURSOR cursor)
{
    std::lock_guard lock(input().mutex);
    return std::exchange(input().cursor, cursor);
}

HCURSOR GetCursor()
{
    std::lock_guard lock(input().mutex);
    return input().cursor;
}

CursorShape GetCursorShape(HCURSOR cursor)
{
    std::lock_guard lock(input().mutex);
    const Cursor* c = liveCursor(input(), cursor);
    return c ? c->shape : CursorShape::Arrow;
}

int GetCursorResourceId(HCURSOR cursor)
{
    std::lock_guard lock(input().mutex);
    const Cursor* c = liveCursor(input(), cursor);
    return c ? c->resourceId : 0;
}

bool GetCursorImage(HCURSOR cursor, CursorImage& image)
{
    std::shared_ptr<const CursorImage> picture;
    {
        std::lock_guard lock(input().mutex);
        const Cursor* c = liveCursor(input(), cursor);
        if (!c || !c->image)
            return false;
        picture = c->image;
    }
    image = *picture;
    return true;
}

SHORT GetKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey >= kKeyCount)
        return 0;
    std::lock_guard lock(input().mutex);
    return input().keys[static_cast<std::size_t>(virtualKey)] ? kKeyDown : 0;
}

SHORT GetAsyncKeyState(int virtualKey) { return GetKeyState(virtualKey); }

UINT GetDoubleClickTime() { return kDoubleClickMs; }

HWND InjectMouse(MouseAction action, POINT screenPoint, UINT modifiers, int wheelDelta, std::optional<DWORD> pressedAt)
{
    auto& s = input();
    HWND target;
    UINT message = WM_MOUSEMOVE;
    WPARAM flags;
    const Button* button = nullptr;
    bool down = false;
    switch (action) {
    case MouseAction::LeftDown: button = &kLeft; down = true; break;
    case MouseAction::LeftUp: button = &kLeft; break;
    case MouseAction::RightDown: button = &kRight; down = true; break;
    case MouseAction::RightUp: button = &kRight; break;
    case MouseAction::MiddleDown: button = &kMiddle; down = true; break;
    case MouseAction::MiddleUp: button = &kMiddle; break;
    default: break;
    }
    {
        std::lock_guard lock(s.mutex);
        s.cursorPos = screenPoint;
        s.keys[VK_SHIFT] = (modifiers & ModShift) != 0;
        s.keys[VK_CONTROL] = (modifiers & ModControl) != 0;
        if (button)
            s.keys[button->key] = down;
        target = s.capture;
    }
    if (detail::MenuTakesMouse(action, screenPoint))
        return nullptr;
    if (!target)
        target = WindowFromPoint(screenPoint);
    if (!target)
        return nullptr;

    std::unique_lock lock(s.mutex);
    flags = keyFlags(s);
    if (button) {
        message = down ? button->down : button->up;
        if (down) {
            DWORD now = pressedAt.value_or(sys::GetTickCount());
            bool dbl = !s.lastWasDouble && s.lastDownWindow == target && s.lastDownButton == button->down
                && sys::TicksBetween(s.lastDownTick, now) <= kDoubleClickMs
                && std::abs(s.lastDownPos.x - screenPoint.x) <= kDoubleClickSlop
                && std::abs(s.lastDownPos.y - screenPoint.y) <= kDoubleClickSlop
                && (GetClassStyle(target) & CS_DBLCLKS);
            if (dbl)
                message = button->dbl;
            s.lastWasDouble = dbl;
            s.lastDownWindow = target;
            s.lastDownButton = button->down;
            s.lastDownTick = now;
            s.lastDownPos = screenPoint;
        }
    }
    lock.unlock();

    if (action == MouseAction::Wheel) {
        WPARAM wp = (static_cast<WPARAM>(static_cast<WORD>(static_cast<SHORT>(wheelDelta))) << 16) | flags;
        PostMessage(target, WM_MOUSEWHEEL, wp, MAKELPARAM(screenPoint.x, screenPoint.y));
        return target;
    }
    if (!GetCapture())
        SendMessage(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), MAKELPARAM(HTCLIENT, message));
    POINT client = screenPoint;
    ScreenToClient(target, &client);
    PostMessage(target, message, flags, MAKELPARAM(client.x, client.y));
    return target;
}

HWND InjectKey(bool down, UINT virtualKey)
{
    HWND target;
    {
        std::lock_guard lock(input().mutex);
        if (virtualKey < kKeyCount)
            input().keys[virtualKey] = down;
        target = input().focus;
    }
    if (detail::MenuTakesKey(down, virtualKey))
        return nullptr;
    if (!target)
        return nullptr;
    PostMessage(target, down ? WM_KEYDOWN : WM_KEYUP, virtualKey, down ? 1 : static_cast<LPARAM>(0xC0000001u));
    return target;
}

UINT VirtualKeyFromName(const std::string& name)
{
    static const std::map<std::string, UINT> names = {
        { "escape", VK_ESCAPE }, { "esc", VK_ESCAPE }, { "control", VK_CONTROL }, { "ctrl", VK_CONTROL },
        { "shift", VK_SHIFT }, { "alt", VK_MENU }, { "enter", VK_RETURN }, { "return", VK_RETURN },
        { "tab", VK_TAB }, { "space", VK_SPACE }, { "backspace", VK_BACK }, { "delete", VK_DELETE },
        { "left", VK_LEFT }, { "right", VK_RIGHT }, { "up", VK_UP }, { "down", VK_DOWN },
    };
    std::string key;
    for (char c : name)
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (auto it = names.find(key); it != names.end())
        return it->second;
    if (key.size() == 1 && std::isalnum(static_cast<unsigned char>(key[0])))
        return static_cast<UINT>(std::toupper(static_cast<unsigned char>(key[0])));
    if (key.size() >= 2 && key[0] == 'f') {
        int n = std::atoi(key.c_str() + 1);
        if (n >= 1 && n <= 12)
            return VK_F1 + static_cast<UINT>(n - 1);
    }
    return 0;
}

void ResetInput()
{
    auto& s = input();
    std::lock_guard lock(s.mutex);
    s.focus = nullptr;
    s.capture = nullptr;
    s.keys.fill(false);
    s.lastDownWindow = nullptr;
    s.lastWasDouble = false;
    s.cursor = nullptr;
}

}
