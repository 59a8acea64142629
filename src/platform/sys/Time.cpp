#include "sys/Time.h"

#include <atomic>
#include <ctime>

namespace sys {

namespace {
std::atomic<DWORD> g_tickBias{0};
}

DWORD GetTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms) + g_tickBias.load(std::memory_order_relaxed);
}

void SetTickCountBias(DWORD bias) { g_tickBias.store(bias, std::memory_order_relaxed); }

SYSTEMTIME GetLocalTime()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(local.tm_year + 1900);
    st.wMonth = static_cast<WORD>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st.wDay = static_cast<WORD>(local.tm_mday);
    st.wHour = static_cast<WORD>(local.tm_hour);
    st.wMinute = static_cast<WORD>(local.tm_min);
    st.wSecond = static_cast<WORD>(local.tm_sec);
    st.wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
    return st;
}

}
