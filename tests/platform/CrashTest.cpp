// The crash handler in child processes: a stack overflow on a worker thread
// still leaves a dump, each crash replaces the dump, and a link at the
// dump's place is not followed.

#include "sys/CrashHandler.h"
#include "sys/Thread.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

volatile bool g_keepGoing = true;
// An address nothing is mapped at, unknown to the compiler.
volatile int* volatile g_nowhere = reinterpret_cast<int*>(16);

// Deep enough to run through any thread's stack.
[[gnu::noinline]] int Recurse(volatile char* previous)
{
    volatile char frame[1024];
    if (!g_keepGoing)
        return 0;
    frame[0] = previous ? previous[0] : 1;
    return Recurse(frame) + frame[0];
}

// Runs `crash` on a sys::Thread named `thread` in a child that installed
// the handler for `dump`; the child's wait status.
int CrashInChild(const fs::path& dump, const char* thread, void (*crash)())
{
    pid_t child = ::fork();
    if (child == 0) {
        ::setenv("TIRAVEX_CRASH_DUMP", dump.c_str(), 1);
        sys::InstallCrashHandler();
        auto worker = sys::Thread::Start(thread, crash);
        if (worker)
            worker->Wait(10000);
        ::_exit(0); // only when the crash did not happen
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

std::string Read(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CrashDump : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("tiravex-crash-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

// A crash leaves one report: the dump, or in a build with a sanitizer the
// sanitizer's own report on standard error (the handler stands aside).
TEST_F(CrashDump, ACrashLeavesTheDumpOrTheSanitizersOwnReport)
{
    const fs::path dump = m_dir / "123.dmp";
    const fs::path errors = m_dir / "stderr.txt";
    pid_t child = ::fork();
    if (child == 0) {
        std::freopen(errors.c_str(), "w", stderr);
        ::setenv("TIRAVEX_CRASH_DUMP", dump.c_str(), 1);
        struct sigaction before {}, after {};
        ::sigaction(SIGSEGV, nullptr, &before);
        sys::InstallCrashHandler();
        ::sigaction(SIGSEGV, nullptr, &after);
        bool replaced = before.sa_sigaction != after.sa_sigaction;
        if (replaced == sys::kCrashHandlerStandsAside)
            ::_exit(3);
        *g_nowhere = 1;
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "the handler did not stand aside as the build says";
    std::string report = Read(errors);
    if (sys::kCrashHandlerStandsAside) {
        EXPECT_FALSE(fs::exists(dump));
        EXPECT_TRUE(report.find("Sanitizer") != std::string::npos || report.find("runtime error") != std::string::npos) << report.substr(0, 300);
    } else {
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGSEGV);
        EXPECT_NE(Read(dump).find("signal: 11 (SEGV)"), std::string::npos);
    }
}

TEST_F(CrashDump, AStackOverflowOnAWorkerLeavesADumpAndTheNextCrashReplacesIt)
{
    if (sys::kCrashHandlerStandsAside)
        GTEST_SKIP() << "the sanitizer reports crashes in this build";
    const fs::path dump = m_dir / "123.dmp";
    int status = CrashInChild(dump, "overflower", [] { Recurse(nullptr); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV) << "the process still ends with its signal";
    std::string first = Read(dump);
    EXPECT_NE(first.find("signal: 11 (SEGV)"), std::string::npos) << first.substr(0, 200);
    EXPECT_NE(first.find("overflower"), std::string::npos) << "the dump names the thread";
    EXPECT_NE(first.find("memory map:"), std::string::npos);
    EXPECT_EQ(fs::status(dump).permissions() & fs::perms::others_read, fs::perms::none);

    status = CrashInChild(dump, "aborter", [] { std::abort(); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    std::string second = Read(dump);
    EXPECT_NE(second.find("signal: 6 (ABRT)"), std::string::npos);
    EXPECT_NE(second.find("aborter"), std::string::npos);
    EXPECT_EQ(second.find("overflower"), std::string::npos) << "the second crash replaced the first dump";
}

TEST_F(CrashDump, ALinkAtTheDumpsPlaceIsNotFollowed)
{
    if (sys::kCrashHandlerStandsAside)
        GTEST_SKIP() << "the sanitizer reports crashes in this build";
    const fs::path target = m_dir / "precious";
    const fs::path dump = m_dir / "123.dmp";
    { std::ofstream(target) << "keep me"; }
    fs::create_symlink(target, dump);
    int status = CrashInChild(dump, "crasher", [] { std::abort(); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT) << "without a file the process still ends";
    EXPECT_EQ(Read(target), "keep me");
    EXPECT_TRUE(fs::is_symlink(dump));
}

}
