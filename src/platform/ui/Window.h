#pragma once
// Windows: classes with window procedures, a tree of parent and child
// windows with rectangles, styles and user data, posted and sent messages,
// timers and painting requests, and the message loop of a thread.
//
// Threads: a window belongs to the thread that created it. Posting (and
// InvalidateRect) may be done from any thread; a posted message is handled
// on the owner's thread, in posting order. A message sent from another
// thread runs on the owner's thread while the sender waits. A message for a
// window that is gone is dropped. Every other call is for the owner thread.
//
// Coordinates: a child window's rectangle is in its parent's client
// coordinates, a top-level window's in screen coordinates. Windows have no
// frame here: the client area is the whole window.

#include "ui/Color.h"
#include "ui/Geometry.h"
#include "ui/Messages.h"

#include "sys/MessageQueue.h"

#include <functional>
#include <string>
#include <vector>

using HWND = struct HWND__*;
using HINSTANCE = struct HINSTANCE__*;
using HCURSOR = struct HCURSOR__*;
using HDC = struct HDC__*;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASS {
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr; // null: DefWindowProc
    COLORREF background = kNoBackground;
    HCURSOR hCursor = nullptr;
    std::string lpszClassName;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

// SetWindowPos's places in the z-order (insertAfter). A top-level window
// placed at HWND_TOPMOST gets WS_EX_TOPMOST and stays above every top-level
// window without it; HWND_NOTOPMOST takes that away. A window that becomes
// a child loses WS_EX_TOPMOST.
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2));

namespace ui {

// An object that handles a window's messages before its class procedure,
// the way a C++ window class wraps a system window. It must outlive the
// window or destroy it first.
class WindowHandler {
public:
    virtual LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

protected:
    ~WindowHandler() = default;
};

bool RegisterClass(const WNDCLASS& windowClass);
bool IsClassRegistered(const std::string& className);

// Makes a window of a registered class ("static" always exists and, as the
// system's, takes double clicks). Sends
// WM_CREATE (-1 from it fails the creation: the window is destroyed and null
// returned) and then WM_SIZE. `handler` may be null.
HWND CreateWindowEx(DWORD exStyle, const std::string& className, const std::string& windowName, DWORD style, int x, int y, int width, int height, HWND parent, WindowHandler* handler = nullptr);

// Sends WM_DESTROY to the window and then to its children, removes them all
// and finally sends WM_NCDESTROY. Focus and capture on them are dropped.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);

LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the class procedure (DefWindowProc when the class has none).
LRESULT CallClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Posted: handled on the owner's thread in order. FALSE when the window is gone.
BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// As PostMessage; `dropped` runs instead when the window goes before the
// message is handled (it frees a heap payload). Not run when FALSE is returned.
BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::function<void()> dropped);
// Sent: handled at once (on the owner's thread; a sender on another thread waits).
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessage(sys::ThreadId thread, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// The calling thread's messages. GetMessage waits and returns FALSE for
// WM_QUIT; PeekMessage does not wait. Both produce WM_TIMER for due timers
// and WM_PAINT for invalid windows when nothing is queued, as Windows does.
BOOL GetMessage(MSG* msg, HWND filter, UINT first, UINT last);
BOOL PeekMessage(MSG* msg, HWND filter, UINT first, UINT last, UINT removeFlags);
LRESULT DispatchMessage(const MSG* msg);
BOOL TranslateMessage(const MSG* msg);

// How often RunUntil looks at its condition between messages, so that a
// condition another thread sets without a message is seen promptly.
constexpr DWORD kRunPollMs = 5;
// For loops whose condition changes only on the thread itself or with a
// message to it: `done` is looked at after each message, and the thread
// sleeps until the next one (a page's loop wakes for nothing else).
constexpr DWORD kRunNoPoll = 0;

// Runs the calling thread's message loop until `done` holds or `timeoutMs`
// passes; returns whether `done` held. Tests and the page host use it in
// place of sleeping.
bool RunUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs = kRunPollMs);
// Handles everything that is ready now (also due timers and paints) and returns.
void PumpPending();
// Runs until WM_QUIT; returns its exit code.
int RunMessageLoop();

// Timers: WM_TIMER with the id as wParam, on the window's thread.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs);
BOOL KillTimer(HWND window, UINT_PTR id);
bool HasTimer(HWND window, UINT_PTR id);

// Painting requests. A null rect means the whole client area.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
// The pending update rectangle; FALSE when nothing is pending.
BOOL GetUpdateRect(HWND window, RECT* rect);
// Whether the pending paint still asks for the background to be erased
// (BeginPaint sends WM_ERASEBKGND then).
bool IsErasePending(HWND window);
BOOL UpdateWindow(HWND window);

// The tree.
HWND GetParent(HWND window);
HWND SetParent(HWND window, HWND newParent);
// Children from the top of the z-order down.
std::vector<HWND> GetChildren(HWND window);
// From the top of the z-order down: the topmost windows first.
std::vector<HWND> GetTopLevelWindows();
sys::ThreadId GetWindowThreadId(HWND window);

// Geometry.
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect); // screen coordinates
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
// Unless SWP_NOZORDER: HWND_TOP puts the window at the top of its band,
// HWND_TOPMOST / HWND_NOTOPMOST as above, a sibling just below that sibling.
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
// The part of the window that is on screen: its screen rectangle clipped by
// every ancestor. Empty when it or an ancestor is hidden.
RECT GetVisibleScreenRect(HWND window);
// The deepest visible, enabled window whose rectangle holds the screen point.
HWND WindowFromPoint(POINT screenPoint);

// Visibility and attributes.
BOOL ShowWindow(HWND window, int command);
// Visible, with every ancestor visible.
BOOL IsWindowVisible(HWND window);
LONG_PTR GetWindowLongPtr(HWND window, int index);
LONG_PTR SetWindowLongPtr(HWND window, int index, LONG_PTR value);
std::string GetClassName(HWND window);
std::string GetWindowText(HWND window);
UINT GetClassStyle(HWND window);
COLORREF GetClassBackground(HWND window);
HCURSOR GetClassCursor(HWND window);
// The window's own background when one was set, else its class's.
COLORREF GetWindowBackground(HWND window);
void SetWindowBackground(HWND window, COLORREF background);
WindowHandler* GetWindowHandler(HWND window);

// Called once for each WM_ERASEBKGND that reaches DefWindowProc on a window
// whose class has a background; the drawing layer installs the fill.
void SetBackgroundEraser(std::function<void(HWND, COLORREF)> eraser);

}
