#include "sys/Debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sys {

void DebugOutput(const char* format, ...)
{
    static const bool enabled = std::getenv("TIRAVEX_DEBUG_OUTPUT") != nullptr;
    if (!enabled)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

}
