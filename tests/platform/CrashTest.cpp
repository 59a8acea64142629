// The crash handler in child processes: a stack overflow on a worker thread
// still leaves a dump, each crash replaces the dump, and a link at the
// dump's place is not followed.

#include "sys/CrashHandler.h"
#include "sys/Thread.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

volatile bool g_keepGoing = true;

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

TEST_F(CrashDump, AStackOverflowOnAWorkerLeavesADumpAndTheNextCrashReplacesIt)
{
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
