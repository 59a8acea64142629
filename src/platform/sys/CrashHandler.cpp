#include "sys/CrashHandler.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sys {

namespace {

constexpr int kFatalSignals[] = { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT };
constexpr int kMaxFrames = 64;
constexpr std::size_t kPathMax = 4096;

// The least alternate stack: the handler's backtrace needs some room.
constexpr std::size_t kMinAltStackSize = 64 * 1024;

char g_dumpPath[kPathMax]; // written at install, read in the handler

// The calling thread's alternate signal stack, taken away and freed when
// the thread ends.
class AltStack {
public:
    AltStack()
    {
        long wanted = ::sysconf(_SC_SIGSTKSZ);
        m_size = std::max<std::size_t>(kMinAltStackSize, wanted > 0 ? static_cast<std::size_t>(wanted) : 0);
        void* memory = ::mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED)
            return;
        stack_t alt {};
        alt.ss_sp = memory;
        alt.ss_size = m_size;
        if (::sigaltstack(&alt, nullptr) != 0) {
            ::munmap(memory, m_size);
            return;
        }
        m_memory = memory;
    }
    ~AltStack()
    {
        if (!m_memory)
            return;
        stack_t off {};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(m_memory, m_size);
    }
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;

private:
    void* m_memory = nullptr;
    std::size_t m_size = 0;
};

void writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void writeText(int fd, const char* text) { writeAll(fd, text, std::strlen(text)); }

void writeNumber(int fd, long value)
{
    char buffer[24];
    char* p = buffer + sizeof buffer;
    bool negative = value < 0;
    unsigned long v = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative)
        *--p = '-';
    writeAll(fd, p, static_cast<std::size_t>(buffer + sizeof buffer - p));
}

void onFatalSignal(int signal, siginfo_t* info, void*)
{
    int fd = ::open(g_dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        writeText(fd, "Tiravex crash dump\nsignal: ");
        writeNumber(fd, signal);
        writeText(fd, " (");
        writeText(fd, sigabbrev_np(signal) ? sigabbrev_np(signal) : "?");
        writeText(fd, ")\naddress: ");
        writeNumber(fd, static_cast<long>(reinterpret_cast<std::intptr_t>(info ? info->si_addr : nullptr)));
        writeText(fd, "\nprocess: ");
        writeNumber(fd, static_cast<long>(::getpid()));
        writeText(fd, "\nthread: ");
        writeNumber(fd, static_cast<long>(::syscall(SYS_gettid)));
        char name[17] = {};
        ::prctl(PR_GET_NAME, name, 0, 0, 0);
        writeText(fd, " ");
        writeText(fd, name);
        writeText(fd, "\nbacktrace:\n");
        void* frames[kMaxFrames];
        int count = ::backtrace(frames, kMaxFrames);
        ::backtrace_symbols_fd(frames, count, fd);
        writeText(fd, "memory map:\n");
        int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        if (maps >= 0) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(maps, buffer, sizeof buffer)) > 0)
                writeAll(fd, buffer, static_cast<std::size_t>(n));
            ::close(maps);
        }
        ::close(fd);
    }
    // Let the process end with the signal, without running the handler again.
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
}

void makeParentFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0700);
}

}

std::string CrashDumpPath()
{
    if (const char* explicitPath = std::getenv("TIRAVEX_CRASH_DUMP"); explicitPath && *explicitPath)
        return explicitPath;
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
        base = cache;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.cache";
    else
        base = "/tmp";
    return base + "/tiravex/123.dmp";
}

void PrepareThreadForCrash()
{
    if constexpr (kCrashHandlerStandsAside)
        return; // the sanitizer gives each thread the signal stack it needs
    thread_local AltStack stack;
    (void)stack;
}

void InstallCrashHandler()
{
    if constexpr (kCrashHandlerStandsAside)
        return; // the sanitizer's handler stays in place
    std::string path = CrashDumpPath();
    if (path.size() >= kPathMax)
        return;
    makeParentFolders(path);
    std::memcpy(g_dumpPath, path.c_str(), path.size() + 1);

    // backtrace() loads its unwinder on first use; do that now, not in the handler.
    void* warm[1];
    ::backtrace(warm, 1);

    PrepareThreadForCrash();

    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals)
        ::sigaction(signal, &action, nullptr);
}

}
