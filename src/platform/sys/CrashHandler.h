#pragma once
// The process-wide crash handler. Once installed, a fatal signal on any
// thread writes a dump file (the signal, the thread, a backtrace and the
// memory map) and then lets the process end with that signal. Each crash
// replaces the file. The file is opened without following links.
//
// A thread that overflows its stack can only reach the handler on a stack
// of its own for signals: every thread the system starts gets one
// (sys::Thread does it; code that starts threads another way calls
// PrepareThreadForCrash first thing on the new thread).

#include <string>

namespace sys {

// A build with a sanitizer (AddressSanitizer, ThreadSanitizer or
// UndefinedBehaviorSanitizer: TIRAVEX_SANITIZED, set by the build) reports
// a crash through the sanitizer's own handler, with far more than a dump
// holds. There the crash handler stands aside: InstallCrashHandler and
// PrepareThreadForCrash do nothing, and no dump is written.
#if defined(TIRAVEX_SANITIZED) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCrashHandlerStandsAside = true;
#else
constexpr bool kCrashHandlerStandsAside = false;
#endif

// The dump file: $TIRAVEX_CRASH_DUMP, else ${XDG_CACHE_HOME:-~/.cache}/tiravex/123.dmp.
std::string CrashDumpPath();

// Installs (or re-installs, picking up a changed path) the handler for
// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. Safe to call again.
// The page's thread gets its signal stack here.
void InstallCrashHandler();

// Gives the calling thread an alternate signal stack, freed when the thread
// ends. Calling it again on the same thread does nothing.
void PrepareThreadForCrash();

}
