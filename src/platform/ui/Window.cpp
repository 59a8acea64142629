#include "ui/Window.h"

#include "ui/Dialogs.h"
#include "ui/WindowInternal.h"

#include "sys/Time.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace ui {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uintptr_t kFirstHandle = 0x10010;
constexpr std::uintptr_t kHandleStep = 4;

struct Timer {
    UINT elapseMs;
    Clock::time_point due;
};

struct Window {
    std::uintptr_t id = 0;
    std::string className;
    std::string name;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect {};
    HWND parent = nullptr;
    std::vector<HWND> children; // top of the z-order first
    WindowHandler* handler = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR controlId = 0;
    sys::ThreadId thread = 0;
    std::shared_ptr<sys::MessageQueue> queue;
    COLORREF background = kNoBackground; // kNoBackground: the class's
    bool destroying = false;
    bool paintPending = false;
    bool eraseNeeded = false;
    RECT update {};
    std::map<UINT_PTR, Timer> timers;
};

struct State {
    std::recursive_mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<HWND> topLevel; // top of the z-order first
    std::unordered_map<std::string, WNDCLASS> classes;
    std::uintptr_t nextHandle = kFirstHandle;
    std::function<void(HWND, COLORREF)> eraser;
};

State& state()
{
    static State* s = [] {
        auto* created = new State;
        // The system's static class takes double clicks.
        WNDCLASS plain;
        plain.style = CS_DBLCLKS;
        plain.lpszClassName = "static";
        created->classes["static"] = plain;
        return created;
    }();
    return *s;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

HWND toHandle(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }
std::uintptr_t toId(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

// Under state().mutex.
Window* find(HWND window)
{
    auto& windows = state().windows;
    auto it = windows.find(toId(window));
    return it == windows.end() ? nullptr : it->second.get();
}

struct Route {
    WindowHandler* handler = nullptr;
    WNDPROC classProc = nullptr;
    bool exists = false;
};

Route routeOf(HWND window)
{
    std::lock_guard lock(state().mutex);
    Route route;
    Window* w = find(window);
    if (!w)
        return route;
    route.exists = true;
    route.handler = w->handler;
    auto it = state().classes.find(lower(w->className));
    if (it != state().classes.end())
        route.classProc = it->second.lpfnWndProc;
    return route;
}

// Runs the window's procedures on the calling thread.
LRESULT dispatchHere(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Route route = routeOf(window);
    if (!route.exists)
        return 0;
    if (route.handler)
        return route.handler->WindowProc(window, message, wParam, lParam);
    if (route.classProc)
        return route.classProc(window, message, wParam, lParam);
    return DefWindowProc(window, message, wParam, lParam);
}

POINT screenOrigin(const Window* w)
{
    POINT origin { w->rect.left, w->rect.top };
    HWND parent = w->parent;
    while (parent) {
        Window* p = find(parent);
        if (!p)
            break;
        origin.x += p->rect.left;
        origin.y += p->rect.top;
        parent = p->parent;
    }
    return origin;
}

// Under state().mutex: the window's rectangle on the screen.
RECT screenRectOf(const Window* w)
{
    POINT origin = screenOrigin(w);
    return RECT { origin.x, origin.y, origin.x + Width(w->rect), origin.y + Height(w->rect) };
}

// The visible windows (and their visible children) that `area`, a screen
// rectangle that `gone` left, uncovers: each with its part of the area, in
// its client coordinates. Under state().mutex.
void collectUncovered(const RECT& area, HWND gone, const std::vector<HWND>& windows, std::vector<std::pair<HWND, RECT>>& out)
{
    for (HWND handle : windows) {
        Window* w = find(handle);
        if (!w || handle == gone || !(w->style & WS_VISIBLE))
            continue;
        RECT screen = screenRectOf(w);
        RECT hit = Intersect(screen, area);
        if (IsEmpty(hit))
            continue;
        out.emplace_back(handle, Offset(hit, -screen.left, -screen.top));
        collectUncovered(area, gone, w->children, out);
    }
}

std::vector<HWND>& siblingsOf(const Window* w)
{
    if (w->parent) {
        if (Window* p = find(w->parent))
            return p->children;
    }
    return state().topLevel;
}

void unlink(Window* w)
{
    auto& siblings = siblingsOf(w);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), toHandle(w->id)), siblings.end());
}

bool isTopmost(HWND window)
{
    Window* w = find(window);
    return w && !w->parent && (w->exStyle & WS_EX_TOPMOST);
}

// Under the mutex: puts an unlinked window at the top of its band among its
// siblings. Top-level windows come in two bands, the topmost ones above the
// rest; children have one.
void linkAtTop(Window* w)
{
    auto& siblings = siblingsOf(w);
    auto at = siblings.begin();
    if (!w->parent && !(w->exStyle & WS_EX_TOPMOST))
        at = std::find_if(siblings.begin(), siblings.end(), [](HWND other) { return !isTopmost(other); });
    siblings.insert(at, toHandle(w->id));
}

// Under the mutex: puts an unlinked window just below `after`, kept within
// its own band.
void linkBelow(Window* w, HWND after)
{
    auto& siblings = siblingsOf(w);
    auto it = std::find(siblings.begin(), siblings.end(), after);
    if (it == siblings.end()) {
        linkAtTop(w);
        return;
    }
    ++it;
    if (!w->parent) {
        const bool topmost = (w->exStyle & WS_EX_TOPMOST) != 0;
        auto bandEnd = std::find_if(siblings.begin(), siblings.end(), [](HWND other) { return !isTopmost(other); });
        if (topmost && it > bandEnd)
            it = bandEnd;
        if (!topmost && it < bandEnd)
            it = bandEnd;
    }
    siblings.insert(it, toHandle(w->id));
}

// Under the mutex: makes WM_PAINT or WM_TIMER for the calling thread's
// windows, paints first, as Windows orders them.
bool synthesize(MSG* out, bool remove)
{
    auto me = sys::CurrentThreadId();
    auto now = Clock::now();
    std::lock_guard lock(state().mutex);
    // Parents paint before their children (and older windows before newer
    // ones), so that a parent's background never covers a child's picture.
    Window* paint = nullptr;
    int paintDepth = 0;
    for (auto& [id, w] : state().windows) {
        if (w->thread != me || !w->paintPending || w->destroying)
            continue;
        int depth = 0;
        for (HWND p = w->parent; p; ++depth) {
            Window* pw = find(p);
            p = pw ? pw->parent : nullptr;
        }
        if (!paint || depth < paintDepth || (depth == paintDepth && w->id < paint->id)) {
            paint = w.get();
            paintDepth = depth;
        }
    }
    if (paint) {
        *out = MSG { toHandle(paint->id), WM_PAINT, 0, 0, sys::GetTickCount() };
        return true;
    }
    Window* best = nullptr;
    UINT_PTR bestId = 0;
    for (auto& [id, w] : state().windows) {
        if (w->thread != me || w->destroying)
            continue;
        for (auto& [timerId, timer] : w->timers) {
            if (timer.due <= now && (!best || timer.due < best->timers[bestId].due)) {
                best = w.get();
                bestId = timerId;
            }
        }
    }
    if (!best)
        return false;
    *out = MSG { toHandle(best->id), WM_TIMER, bestId, 0, sys::GetTickCount() };
    if (remove)
        best->timers[bestId].due = now + std::chrono::milliseconds(best->timers[bestId].elapseMs);
    return true;
}

Clock::time_point nextTimerDue()
{
    auto me = sys::CurrentThreadId();
    auto next = Clock::now() + std::chrono::hours(1);
    std::lock_guard lock(state().mutex);
    for (auto& [id, w] : state().windows) {
        if (w->thread != me)
            continue;
        for (auto& [timerId, timer] : w->timers)
            next = std::min(next, timer.due);
    }
    return next;
}

// Takes the next message for the calling thread. Messages sent from other
// threads run here and are not returned; messages for windows that are gone
// are dropped.
// `afterCall` ends the wait once a call sent from another thread has run
// (returning false), for a loop whose condition that call may have changed.
bool fetch(MSG* out, bool remove, bool wait, Clock::time_point waitUntil, bool afterCall = false)
{
    auto& queue = sys::CurrentQueue();
    for (;;) {
        sys::Message m;
        if (queue.Front(m)) {
            if (m.call || (m.window && !IsWindow(toHandle(m.window)))) {
                queue.Take(m);
                if (m.call)
                    m.call();
                else if (m.dropped)
                    m.dropped();
                if (afterCall && m.call)
                    return false;
                continue;
            }
            if (remove)
                queue.Take(m);
            *out = MSG { toHandle(m.window), m.message, m.wParam, m.lParam, m.time };
            return true;
        }
        if (synthesize(out, remove))
            return true;
        if (!wait)
            return false;
        auto deadline = std::min(nextTimerDue(), waitUntil);
        if (!queue.WaitReady(deadline) && Clock::now() >= waitUntil)
            return false;
    }
}

void sendSize(HWND window, const RECT& rect)
{
    SendMessage(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(Width(rect), Height(rect)));
}

}

bool RegisterClass(const WNDCLASS& windowClass)
{
    if (windowClass.lpszClassName.empty())
        return false;
    std::lock_guard lock(state().mutex);
    auto key = lower(windowClass.lpszClassName);
    if (state().classes.count(key))
        return false; // as Windows: a class is registered once
    state().classes[key] = windowClass;
    return true;
}

bool IsClassRegistered(const std::string& className)
{
    std::lock_guard lock(state().mutex);
    return state().classes.count(lower(className)) != 0;
}

HWND CreateWindowEx(DWORD exStyle, const std::string& className, const std::string& windowName, DWORD style, int x, int y, int width, int height, HWND parent, WindowHandler* handler)
{
    HWND handle = nullptr;
    {
        std::lock_guard lock(state().mutex);
        if (!state().classes.count(lower(className)))
            return nullptr;
        if (parent && !find(parent))
            return nullptr;
        auto w = std::make_shared<Window>();
        w->id = state().nextHandle;
        state().nextHandle += kHandleStep;
        w->className = className;
        w->name = windowName;
        w->style = style;
        w->exStyle = parent ? (exStyle & ~WS_EX_TOPMOST) : exStyle;
        w->rect = RECT { x, y, x + std::max(0, width), y + std::max(0, height) };
        w->parent = parent;
        w->handler = handler;
        w->thread = sys::CurrentThreadId();
        sys::CurrentQueue();
        w->queue = sys::QueueOf(w->thread);
        handle = toHandle(w->id);
        state().windows[w->id] = w;
        linkAtTop(w.get());
    }
    if (SendMessage(handle, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    RECT rect {};
    GetClientRect(handle, &rect);
    sendSize(handle, rect);
    if (style & WS_VISIBLE)
        InvalidateRect(handle, nullptr, TRUE);
    return handle;
}

namespace {
void repaintUncovered(const RECT& area, HWND gone);
}

bool DestroyWindow(HWND window)
{
    std::vector<HWND> children;
    // A visible window that goes uncovers what lay under it (a child that
    // goes with its parent leaves that to the parent).
    RECT uncovered {};
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w || w->destroying)
            return false;
        w->destroying = true;
        w->timers.clear();
        const Window* parent = w->parent ? find(w->parent) : nullptr;
        if ((w->style & WS_VISIBLE) && (!parent || !parent->destroying))
            uncovered = screenRectOf(w);
    }
    SendMessage(window, WM_DESTROY, 0, 0);
    children = GetChildren(window);
    for (HWND child : children)
        DestroyWindow(child);
    detail::ForgetWindow(window);
    SendMessage(window, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard lock(state().mutex);
        if (Window* w = find(window)) {
            unlink(w);
            state().windows.erase(w->id);
        }
    }
    repaintUncovered(uncovered, window);
    return true;
}

bool IsWindow(HWND window)
{
    if (!window)
        return false;
    std::lock_guard lock(state().mutex);
    return find(window) != nullptr;
}

void SetBackgroundEraser(std::function<void(HWND, COLORREF)> eraser)
{
    std::lock_guard lock(state().mutex);
    state().eraser = std::move(eraser);
}

LRESULT DefWindowProc(HWND window, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_PAINT: {
        bool erase = false;
        {
            std::lock_guard lock(state().mutex);
            if (Window* w = find(window))
                erase = w->eraseNeeded;
        }
        if (erase)
            SendMessage(window, WM_ERASEBKGND, 0, 0);
        ValidateRect(window, nullptr);
        return 0;
    }
    case WM_ERASEBKGND: {
        COLORREF background = GetWindowBackground(window);
        std::function<void(HWND, COLORREF)> eraser;
        {
            std::lock_guard lock(state().mutex);
            eraser = state().eraser;
        }
        if (background == kNoBackground)
            return 0;
        if (eraser)
            eraser(window, background);
        return 1;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_SETCURSOR:
        return 0;
    default:
        return 0;
    }
}

LRESULT CallClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Route route = routeOf(window);
    if (route.classProc)
        return route.classProc(window, message, wParam, lParam);
    return DefWindowProc(window, message, wParam, lParam);
}

BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessage(window, message, wParam, lParam, nullptr);
}

BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::function<void()> dropped)
{
    std::shared_ptr<sys::MessageQueue> queue;
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w)
            return FALSE;
        queue = w->queue;
    }
    if (!queue)
        return FALSE;
    sys::Message m;
    m.window = toId(window);
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.dropped = std::move(dropped);
    queue->Post(std::move(m));
    return TRUE;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    sys::ThreadId owner = GetWindowThreadId(window);
    if (!owner)
        return 0;
    if (owner == sys::CurrentThreadId())
        return dispatchHere(window, message, wParam, lParam);
    auto queue = sys::QueueOf(owner);
    if (!queue)
        return 0;
    auto result = std::make_shared<std::promise<LRESULT>>();
    auto future = result->get_future();
    sys::Message m;
    m.call = [=] { result->set_value(dispatchHere(window, message, wParam, lParam)); };
    queue->Post(std::move(m));
    return future.get();
}

BOOL PostThreadMessage(sys::ThreadId thread, UINT message, WPARAM wParam, LPARAM lParam)
{
    return sys::PostThreadMessage(thread, message, wParam, lParam) ? TRUE : FALSE;
}

void PostQuitMessage(int exitCode) { sys::PostQuitMessage(exitCode); }

BOOL GetMessage(MSG* msg, HWND, UINT, UINT)
{
    fetch(msg, true, true, Clock::time_point::max());
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessage(MSG* msg, HWND, UINT, UINT, UINT removeFlags)
{
    return fetch(msg, (removeFlags & PM_REMOVE) != 0, false, Clock::now()) ? TRUE : FALSE;
}

LRESULT DispatchMessage(const MSG* msg)
{
    if (!msg->hwnd)
        return 0; // thread messages are read by their loops, not dispatched
    if (GetWindowThreadId(msg->hwnd) != sys::CurrentThreadId())
        return 0;
    return dispatchHere(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

bool RunUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs)
{
    auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= limit)
            return done();
        MSG msg;
        auto slice = pollMs == kRunNoPoll ? limit : std::min(limit, Clock::now() + std::chrono::milliseconds(pollMs));
        if (fetch(&msg, true, true, slice, pollMs == kRunNoPoll)) {
            if (msg.message == WM_QUIT) {
                sys::PostQuitMessage(static_cast<int>(msg.wParam)); // leave it for the outer loop
                return done();
            }
            DispatchMessage(&msg);
        }
    }
}

namespace {

// Modal loops running on this thread, innermost counted.
thread_local int t_modalDepth = 0;

}

int ModalLoopDepth() { return t_modalDepth; }

namespace detail {

bool RunModalLoop(const std::function<bool()>& done)
{
    ++t_modalDepth;
    struct Leave {
        ~Leave() { --t_modalDepth; }
    } leave;
    for (;;) {
        if (done())
            return true;
        MSG msg;
        // Wake at least every 5 ms, as RunUntil does, for conditions that
        // other threads change without a message.
        if (fetch(&msg, true, true, Clock::now() + std::chrono::milliseconds(5))) {
            if (msg.message == WM_QUIT) {
                sys::PostQuitMessage(static_cast<int>(msg.wParam)); // for the outer loop
                return false;
            }
            DispatchMessage(&msg);
        }
    }
}

}

void PumpPending()
{
    // Bounded, so that a window that never validates cannot spin forever.
    for (int i = 0; i < 100000; ++i) {
        MSG msg;
        if (!fetch(&msg, true, false, Clock::now()))
            return;
        if (msg.message == WM_QUIT) {
            sys::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        DispatchMessage(&msg);
    }
}

int RunMessageLoop()
{
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
    return static_cast<int>(msg.wParam);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs)
{
    std::shared_ptr<sys::MessageQueue> queue;
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w || w->destroying)
            return 0;
        w->timers[id] = Timer { elapseMs, Clock::now() + std::chrono::milliseconds(elapseMs) };
        queue = w->queue;
    }
    if (queue)
        queue->Wake();
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w)
        return FALSE;
    return w->timers.erase(id) ? TRUE : FALSE;
}

bool HasTimer(HWND window, UINT_PTR id)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w && w->timers.count(id);
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase)
{
    std::shared_ptr<sys::MessageQueue> queue;
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w)
            return FALSE;
        RECT client { 0, 0, Width(w->rect), Height(w->rect) };
        RECT area = rect ? Intersect(*rect, client) : client;
        w->update = Union(w->update, area);
        w->paintPending = true;
        w->eraseNeeded = w->eraseNeeded || erase;
        queue = w->queue;
    }
    if (queue)
        queue->Wake();
    return TRUE;
}

BOOL ValidateRect(HWND window, const RECT*)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w)
        return FALSE;
    w->paintPending = false;
    w->eraseNeeded = false;
    w->update = RECT {};
    return TRUE;
}

BOOL GetUpdateRect(HWND window, RECT* rect)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w || !w->paintPending)
        return FALSE;
    if (rect)
        *rect = w->update;
    return TRUE;
}

bool IsErasePending(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w && w->paintPending && w->eraseNeeded;
}

BOOL UpdateWindow(HWND window)
{
    bool pending = false;
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w)
            return FALSE;
        pending = w->paintPending;
    }
    if (pending)
        SendMessage(window, WM_PAINT, 0, 0);
    return TRUE;
}

HWND GetParent(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w ? w->parent : nullptr;
}

namespace {

// Repaints what a window that moved, shrank, went or changed parents left
// uncovered on the screen: the windows under `area` get it invalidated.
void repaintUncovered(const RECT& area, HWND gone)
{
    if (IsEmpty(area))
        return;
    std::vector<std::pair<HWND, RECT>> targets;
    {
        std::lock_guard lock(state().mutex);
        collectUncovered(area, gone, state().topLevel, targets);
    }
    for (auto& [handle, rect] : targets)
        InvalidateRect(handle, &rect, TRUE);
}

}

HWND SetParent(HWND window, HWND newParent)
{
    HWND old;
    RECT before {};
    bool visible;
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w || (newParent && !find(newParent)) || newParent == window)
            return nullptr;
        before = screenRectOf(w);
        visible = (w->style & WS_VISIBLE) != 0;
        old = w->parent;
        unlink(w);
        w->parent = newParent;
        if (newParent)
            w->exStyle &= ~WS_EX_TOPMOST; // only top-level windows are topmost
        linkAtTop(w);
    }
    if (visible) {
        repaintUncovered(before, window);
        InvalidateRect(window, nullptr, TRUE);
    }
    return old;
}

std::vector<HWND> GetChildren(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w ? w->children : std::vector<HWND> {};
}

std::vector<HWND> GetTopLevelWindows()
{
    std::lock_guard lock(state().mutex);
    return state().topLevel;
}

sys::ThreadId GetWindowThreadId(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w ? w->thread : 0;
}

BOOL GetClientRect(HWND window, RECT* rect)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w || !rect)
        return FALSE;
    *rect = RECT { 0, 0, Width(w->rect), Height(w->rect) };
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w || !rect)
        return FALSE;
    POINT origin = screenOrigin(w);
    *rect = RECT { origin.x, origin.y, origin.x + Width(w->rect), origin.y + Height(w->rect) };
    return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint)
{
    BOOL done = SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (done && repaint)
        InvalidateRect(window, nullptr, TRUE);
    return done;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags)
{
    bool moved = false;
    bool sized = false;
    RECT after {};
    RECT before {};
    bool visible;
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w)
            return FALSE;
        before = screenRectOf(w);
        visible = (w->style & WS_VISIBLE) != 0;
        RECT r = w->rect;
        if (!(flags & SWP_NOMOVE)) {
            r = Offset(r, x - r.left, y - r.top);
        }
        if (!(flags & SWP_NOSIZE)) {
            r.right = r.left + std::max(0, width);
            r.bottom = r.top + std::max(0, height);
        }
        moved = r.left != w->rect.left || r.top != w->rect.top;
        sized = Width(r) != Width(w->rect) || Height(r) != Height(w->rect);
        w->rect = r;
        after = r;
        if (!(flags & SWP_NOZORDER) && insertAfter != window) {
            unlink(w);
            if (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
                if (!w->parent) {
                    if (insertAfter == HWND_TOPMOST)
                        w->exStyle |= WS_EX_TOPMOST;
                    else
                        w->exStyle &= ~WS_EX_TOPMOST;
                }
                linkAtTop(w);
            } else if (insertAfter == HWND_TOP) {
                linkAtTop(w);
            } else {
                linkBelow(w, insertAfter);
            }
        }
    }
    if (moved)
        SendMessage(window, WM_MOVE, 0, MAKELPARAM(after.left, after.top));
    if (sized) {
        sendSize(window, RECT { 0, 0, Width(after), Height(after) });
        InvalidateRect(window, nullptr, TRUE);
    }
    if (visible && (moved || sized))
        repaintUncovered(before, window);
    if (flags & SWP_SHOWWINDOW)
        ShowWindow(window, SW_SHOWNA);
    if (flags & SWP_HIDEWINDOW)
        ShowWindow(window, SW_HIDE);
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w || !point)
        return FALSE;
    POINT origin = screenOrigin(w);
    point->x += origin.x;
    point->y += origin.y;
    return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w || !point)
        return FALSE;
    POINT origin = screenOrigin(w);
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}

RECT GetVisibleScreenRect(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w || !(w->style & WS_VISIBLE))
        return RECT {};
    POINT origin = screenOrigin(w);
    RECT visible { origin.x, origin.y, origin.x + Width(w->rect), origin.y + Height(w->rect) };
    HWND parent = w->parent;
    while (parent) {
        Window* p = find(parent);
        if (!p || !(p->style & WS_VISIBLE))
            return RECT {};
        POINT po = screenOrigin(p);
        visible = Intersect(visible, RECT { po.x, po.y, po.x + Width(p->rect), po.y + Height(p->rect) });
        parent = p->parent;
    }
    return visible;
}

HWND WindowFromPoint(POINT screenPoint)
{
    std::lock_guard lock(state().mutex);
    const std::vector<HWND>* level = &state().topLevel;
    HWND found = nullptr;
    POINT p = screenPoint; // in the current level's parent coordinates
    for (;;) {
        HWND next = nullptr;
        for (HWND candidate : *level) {
            Window* w = find(candidate);
            if (w && (w->style & WS_VISIBLE) && !w->destroying && Contains(w->rect, p)) {
                next = candidate;
                break;
            }
        }
        if (!next)
            return found;
        Window* w = find(next);
        found = next;
        p.x -= w->rect.left;
        p.y -= w->rect.top;
        level = &w->children;
    }
}

BOOL ShowWindow(HWND window, int command)
{
    bool wasVisible = false;
    bool show = command != SW_HIDE;
    RECT screen {};
    {
        std::lock_guard lock(state().mutex);
        Window* w = find(window);
        if (!w)
            return FALSE;
        wasVisible = (w->style & WS_VISIBLE) != 0;
        if (wasVisible == show)
            return wasVisible ? TRUE : FALSE;
        if (show)
            w->style |= WS_VISIBLE;
        else
            w->style &= ~WS_VISIBLE;
        screen = screenRectOf(w);
    }
    SendMessage(window, WM_SHOWWINDOW, show ? 1 : 0, 0);
    if (show)
        InvalidateRect(window, nullptr, TRUE);
    else
        repaintUncovered(screen, window);
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    while (w) {
        if (!(w->style & WS_VISIBLE))
            return FALSE;
        if (!w->parent)
            return TRUE;
        w = find(w->parent);
    }
    return FALSE;
}

LONG_PTR GetWindowLongPtr(HWND window, int index)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w)
        return 0;
    switch (index) {
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    case GWLP_USERDATA: return w->userData;
    case GWLP_ID: return w->controlId;
    default: return 0;
    }
}

LONG_PTR SetWindowLongPtr(HWND window, int index, LONG_PTR value)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (!w)
        return 0;
    LONG_PTR old = 0;
    switch (index) {
    case GWL_STYLE:
        old = static_cast<LONG_PTR>(w->style);
        w->style = static_cast<DWORD>(value);
        break;
    case GWL_EXSTYLE:
        old = static_cast<LONG_PTR>(w->exStyle);
        w->exStyle = static_cast<DWORD>(value);
        break;
    case GWLP_USERDATA:
        old = std::exchange(w->userData, value);
        break;
    case GWLP_ID:
        old = std::exchange(w->controlId, value);
        break;
    default:
        break;
    }
    return old;
}

std::string GetClassName(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w ? w->className : std::string {};
}

std::string GetWindowText(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w ? w->name : std::string {};
}

namespace {
const WNDCLASS* classOf(HWND window)
{
    Window* w = find(window);
    if (!w)
        return nullptr;
    auto it = state().classes.find(lower(w->className));
    return it == state().classes.end() ? nullptr : &it->second;
}
}

UINT GetClassStyle(HWND window)
{
    std::lock_guard lock(state().mutex);
    const WNDCLASS* c = classOf(window);
    return c ? c->style : 0;
}

COLORREF GetClassBackground(HWND window)
{
    std::lock_guard lock(state().mutex);
    const WNDCLASS* c = classOf(window);
    return c ? c->background : kNoBackground;
}

COLORREF GetWindowBackground(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    if (w && w->background != kNoBackground)
        return w->background;
    const WNDCLASS* c = classOf(window);
    return c ? c->background : kNoBackground;
}

void SetWindowBackground(HWND window, COLORREF background)
{
    std::lock_guard lock(state().mutex);
    if (Window* w = find(window))
        w->background = background;
}

HCURSOR GetClassCursor(HWND window)
{
    std::lock_guard lock(state().mutex);
    const WNDCLASS* c = classOf(window);
    return c ? c->hCursor : nullptr;
}

WindowHandler* GetWindowHandler(HWND window)
{
    std::lock_guard lock(state().mutex);
    Window* w = find(window);
    return w ? w->handler : nullptr;
}

}
