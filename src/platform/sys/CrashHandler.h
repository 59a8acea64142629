#pragma once
// The process-wide crash handler. Once installed, a fatal signal on any
// thread writes a dump file (the signal, the thread, a backtrace and the
// memory map) and then lets the process end with that signal. Each crash
// replaces the file. The file is opened without following links.

#include <string>

namespace sys {

// The dump file: $TIRAVEX_CRASH_DUMP, else ${XDG_CACHE_HOME:-~/.cache}/tiravex/123.dmp.
std::string CrashDumpPath();

// Installs (or re-installs, picking up a changed path) the handler for
// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. Safe to call again.
void InstallCrashHandler();

}
