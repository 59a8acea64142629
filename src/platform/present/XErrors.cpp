#include "present/XErrors.h"

#include <X11/Xlib.h>

#include <cstdio>

namespace present {

namespace {

int reportXError(Display*, XErrorEvent* error)
{
    std::fprintf(stderr, "tiravex: an X request failed (error %d, request %d); ignored\n", static_cast<int>(error->error_code), static_cast<int>(error->request_code));
    return 0;
}

}

void ReportXErrors() { XSetErrorHandler(&reportXError); }

}
