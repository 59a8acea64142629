#include "XRequest.h"

#include <X11/Xlib.h>

namespace {
constexpr Window kNoSuchWindow = 0x1FFFFF; // below every client's id base
constexpr int kClientMessageFormat = 32;
}

bool SendToAMissingWindow()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent nothing {};
    nothing.type = ClientMessage;
    nothing.xclient.format = kClientMessageFormat;
    XSendEvent(display, kNoSuchWindow, False, NoEventMask, &nothing);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}
