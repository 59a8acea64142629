#include "sys/Process.h"

#include "sys/CrashHandler.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace sys {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_last;
}

bool StartProcess(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return false;
    {
        std::lock_guard lock(g_mutex);
        g_last = argv;
    }
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = 0;
    int rc = posix_spawnp(&child, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        return false;
    // Nobody waits for the program; a small thread reaps it when it ends.
    std::thread([child] {
        PrepareThreadForCrash();
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    }).detach();
    return true;
}

std::vector<std::string> LastStartedProcess()
{
    std::lock_guard lock(g_mutex);
    return g_last;
}

}
