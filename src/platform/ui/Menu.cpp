#include "ui/Menu.h"

#include <memory>
#include <mutex>
#include <utility>
#include <set>

namespace ui {

namespace {

struct Menu {
    std::vector<MenuItem> items;
};

struct MenuState {
    std::mutex mutex;
    std::set<Menu*> menus;
    UINT_PTR nextChoice = 0;
    std::vector<MenuItem> lastShown;
    POINT lastPosition { 0, 0 };
    int shownCount = 0;
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
    UINT_PTR choice;
    {
        std::lock_guard lock(menus().mutex);
        Menu* m = find(menu);
        if (!m)
            return FALSE;
        menus().lastShown = m->items;
        menus().lastPosition = POINT { x, y };
        ++menus().shownCount;
        choice = std::exchange(menus().nextChoice, 0);
        // Only an enabled item that is on the menu can be chosen.
        bool onMenu = false;
        for (auto& item : m->items)
            if (item.id == choice && !(item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)))
                onMenu = true;
        if (!onMenu)
            choice = 0;
    }
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
