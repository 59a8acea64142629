#include "ui/Menu.h"

#include "ui/Monitor.h"
#include "ui/WindowInternal.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

namespace ui {

namespace {

struct Menu {
    std::vector<MenuItem> items;
};

// Input that reached an open menu, waiting for the menu's thread.
struct MenuInput {
    bool mouse = true;
    MouseAction action = MouseAction::Move;
    POINT point { 0, 0 };
    bool keyDown = false;
    UINT key = 0;
};

// The menu a person is picking from.
struct Tracking {
    sys::ThreadId thread = 0;
    UINT flags = 0;
    MenuView view; // guarded by the menu mutex: tests read it from anywhere
    std::deque<MenuInput> input; // guarded by the menu mutex
};

struct MenuState {
    std::mutex mutex;
    std::set<Menu*> menus;
    std::optional<UINT_PTR> nextChoice;
    std::vector<MenuItem> lastShown;
    POINT lastPosition { 0, 0 };
    int shownCount = 0;
    MenuPainter* painter = nullptr;
    std::shared_ptr<Tracking> tracking;
};

MenuState& menus()
{
    static MenuState* s = new MenuState;
    return *s;
}

// Under the mutex.
Menu* find(HMENU menu)
{
    auto* m = reinterpret_cast<Menu*>(menu);
    return menus().menus.count(m) ? m : nullptr;
}

// Hands input to the open menu and wakes its thread; false when none is open.
bool queueForMenu(const MenuInput& in)
{
    std::shared_ptr<sys::MessageQueue> queue;
    {
        std::lock_guard lock(menus().mutex);
        auto& tracking = menus().tracking;
        if (!tracking)
            return false;
        tracking->input.push_back(in);
        queue = sys::QueueOf(tracking->thread);
    }
    if (queue)
        queue->Wake();
    return true;
}

// The next selectable item from `from` in `step` direction, wrapping; -1
// when there is none.
int nextSelectable(const MenuView& view, int from, int step)
{
    const int count = static_cast<int>(view.items.size());
    int at = from;
    for (int i = 0; i < count; ++i) {
        at = at < 0 ? (step > 0 ? 0 : count - 1) : (at + step + count) % count;
        if (IsMenuItemSelectable(view.items[static_cast<std::size_t>(at)]))
            return at;
    }
    return -1;
}

// What one piece of input does to the open menu.
struct Outcome {
    bool answered = false;
    UINT_PTR choice = 0;
    int highlighted = -1;
};

Outcome apply(const MenuView& view, UINT flags, const MenuInput& in)
{
    Outcome out;
    out.highlighted = view.highlighted;
    auto pickAt = [&](POINT p) {
        int index = MenuItemAt(view, p);
        return index >= 0 && IsMenuItemSelectable(view.items[static_cast<std::size_t>(index)]) ? index : -1;
    };
    auto choose = [&](int index) {
        out.answered = true;
        out.choice = view.items[static_cast<std::size_t>(index)].id;
    };
    if (!in.mouse) {
        if (!in.keyDown)
            return out;
        switch (in.key) {
        case VK_ESCAPE:
        case VK_MENU:
            out.answered = true;
            break;
        case VK_DOWN: out.highlighted = nextSelectable(view, view.highlighted, 1); break;
        case VK_UP: out.highlighted = nextSelectable(view, view.highlighted, -1); break;
        case VK_RETURN:
            if (view.highlighted >= 0)
                choose(view.highlighted);
            break;
        default: break;
        }
        return out;
    }
    const bool inside = Contains(view.frame, in.point);
    switch (in.action) {
    case MouseAction::Move:
        out.highlighted = pickAt(in.point);
        break;
    case MouseAction::LeftDown:
    case MouseAction::RightDown:
    case MouseAction::MiddleDown:
        if (!inside)
            out.answered = true; // a press outside dismisses the menu
        else
            out.highlighted = pickAt(in.point);
        break;
    case MouseAction::LeftUp:
    case MouseAction::RightUp: {
        if (in.action == MouseAction::RightUp && !(flags & TPM_RIGHTBUTTON))
            break;
        int index = pickAt(in.point);
        if (index >= 0)
            choose(index);
        break;
    }
    default:
        break;
    }
    return out;
}

// Shows the menu to a person and runs the thread's messages until it is
// answered; the chosen command or 0.
UINT_PTR trackInteractively(MenuPainter& painter, std::vector<MenuItem> items, UINT flags, POINT at)
{
    auto tracking = std::make_shared<Tracking>();
    tracking->thread = sys::CurrentThreadId();
    tracking->flags = flags;
    tracking->view = LayoutMenu(items, at, flags, [&](const std::u16string& text) { return painter.MeasureText(text); });
    {
        std::lock_guard lock(menus().mutex);
        if (menus().tracking)
            return 0; // one open menu at a time
        menus().tracking = tracking;
    }
    MenuView shown = tracking->view;
    painter.Show(shown);
    Outcome outcome;
    bool answered = detail::RunModalLoop([&] {
        std::deque<MenuInput> input;
        {
            std::lock_guard lock(menus().mutex);
            input.swap(tracking->input);
        }
        for (const MenuInput& in : input) {
            outcome = apply(shown, flags, in);
            if (outcome.answered)
                return true;
            if (outcome.highlighted != shown.highlighted) {
                shown.highlighted = outcome.highlighted;
                {
                    std::lock_guard lock(menus().mutex);
                    tracking->view.highlighted = shown.highlighted;
                }
                painter.Show(shown);
            }
        }
        return false;
    });
    painter.Hide();
    {
        std::lock_guard lock(menus().mutex);
        menus().tracking.reset();
    }
    return answered && outcome.answered ? outcome.choice : 0;
}

}

namespace detail {

bool MenuTakesMouse(MouseAction action, POINT screenPoint)
{
    MenuInput in;
    in.mouse = true;
    in.action = action;
    in.point = screenPoint;
    return queueForMenu(in);
}

bool MenuTakesKey(bool down, UINT virtualKey)
{
    MenuInput in;
    in.mouse = false;
    in.keyDown = down;
    in.key = virtualKey;
    return queueForMenu(in);
}

}

HMENU CreatePopupMenu()
{
    auto* m = new Menu;
    std::lock_guard lock(menus().mutex);
    menus().menus.insert(m);
    return reinterpret_cast<HMENU>(m);
}

BOOL DestroyMenu(HMENU menu)
{
    std::lock_guard lock(menus().mutex);
    Menu* m = find(menu);
    if (!m)
        return FALSE;
    menus().menus.erase(m);
    delete m;
    return TRUE;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, const char16_t* text)
{
    std::lock_guard lock(menus().mutex);
    Menu* m = find(menu);
    if (!m)
        return FALSE;
    m->items.push_back(MenuItem { flags, id, (text && !(flags & MF_SEPARATOR)) ? std::u16string(text) : std::u16string() });
    return TRUE;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags)
{
    std::lock_guard lock(menus().mutex);
    Menu* m = find(menu);
    if (!m)
        return static_cast<DWORD>(-1);
    MenuItem* target = nullptr;
    if (flags & MF_BYPOSITION) {
        if (item < m->items.size())
            target = &m->items[item];
    } else {
        for (auto& i : m->items)
            if (i.id == item && !(i.flags & MF_SEPARATOR)) {
                target = &i;
                break;
            }
    }
    if (!target)
        return static_cast<DWORD>(-1);
    DWORD old = target->flags & MF_CHECKED;
    target->flags = (target->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
    return old;
}

int GetMenuItemCount(HMENU menu)
{
    std::lock_guard lock(menus().mutex);
    Menu* m = find(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

std::vector<MenuItem> GetMenuItems(HMENU menu)
{
    std::lock_guard lock(menus().mutex);
    Menu* m = find(menu);
    return m ? m->items : std::vector<MenuItem> {};
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*)
{
    UINT_PTR choice = 0;
    MenuPainter* painter = nullptr;
    std::vector<MenuItem> items;
    {
        std::lock_guard lock(menus().mutex);
        Menu* m = find(menu);
        if (!m)
            return FALSE;
        menus().lastShown = m->items;
        menus().lastPosition = POINT { x, y };
        ++menus().shownCount;
        if (auto preset = std::exchange(menus().nextChoice, std::nullopt)) {
            // Only an enabled item that is on the menu can be chosen.
            for (auto& item : m->items)
                if (item.id == *preset && IsMenuItemSelectable(item))
                    choice = *preset;
        } else if (!m->items.empty()) {
            painter = menus().painter;
            items = m->items;
        }
    }
    if (painter)
        choice = trackInteractively(*painter, std::move(items), flags, POINT { x, y });
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(choice);
    if (choice && owner && !(flags & TPM_NONOTIFY))
        PostMessage(owner, WM_COMMAND, choice, 0);
    return choice ? TRUE : FALSE;
}

void SetNextMenuChoice(UINT_PTR command)
{
    std::lock_guard lock(menus().mutex);
    menus().nextChoice = command;
}

void SetMenuPainter(MenuPainter* painter)
{
    std::lock_guard lock(menus().mutex);
    menus().painter = painter;
}

MenuPainter* GetMenuPainter()
{
    std::lock_guard lock(menus().mutex);
    return menus().painter;
}

bool IsMenuItemSelectable(const MenuItem& item) { return !(item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)); }

MenuView LayoutMenu(const std::vector<MenuItem>& items, POINT at, UINT flags, const std::function<SIZE(const std::u16string&)>& measure)
{
    MenuView view;
    view.items = items;
    LONG textWidth = 0;
    std::vector<LONG> heights;
    for (const MenuItem& item : items) {
        if (item.flags & MF_SEPARATOR) {
            heights.push_back(kMenuSeparatorHeight);
            continue;
        }
        SIZE text = measure(item.text);
        textWidth = std::max(textWidth, text.cx);
        heights.push_back(std::max(kMenuMinItemHeight, text.cy + 2 * kMenuTextMarginY));
    }
    LONG innerHeight = 0;
    for (LONG h : heights)
        innerHeight += h;
    const LONG width = std::max(kMenuMinWidth, 2 * kMenuBorder + kMenuCheckColumn + textWidth + kMenuTextRightMargin);
    const LONG height = 2 * kMenuBorder + innerHeight;

    // Aligned as asked, then flipped to the other side of the point (as
    // Windows does) or pushed back when it would leave the monitor.
    MONITORINFO monitor {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfo(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& bounds = monitor.rcMonitor;
    LONG left = (flags & TPM_RIGHTALIGN) ? at.x - width : at.x;
    LONG top = (flags & TPM_BOTTOMALIGN) ? at.y - height : at.y;
    if (left + width > bounds.right && at.x - width >= bounds.left)
        left = at.x - width;
    if (top + height > bounds.bottom && at.y - height >= bounds.top)
        top = at.y - height;
    left = std::max(bounds.left, std::min(left, bounds.right - width));
    top = std::max(bounds.top, std::min(top, bounds.bottom - height));

    view.frame = RECT { left, top, left + width, top + height };
    LONG y = top + kMenuBorder;
    for (LONG h : heights) {
        view.itemRects.push_back(RECT { left + kMenuBorder, y, left + width - kMenuBorder, y + h });
        y += h;
    }
    return view;
}

int MenuItemAt(const MenuView& view, POINT screenPoint)
{
    for (std::size_t i = 0; i < view.itemRects.size(); ++i)
        if (Contains(view.itemRects[i], screenPoint))
            return static_cast<int>(i);
    return -1;
}

bool GetOpenMenu(MenuView& view)
{
    std::lock_guard lock(menus().mutex);
    if (!menus().tracking)
        return false;
    view = menus().tracking->view;
    return true;
}

std::vector<MenuItem> LastShownMenu()
{
    std::lock_guard lock(menus().mutex);
    return menus().lastShown;
}

POINT LastShownMenuPosition()
{
    std::lock_guard lock(menus().mutex);
    return menus().lastPosition;
}

int ShownMenuCount()
{
    std::lock_guard lock(menus().mutex);
    return menus().shownCount;
}

}
