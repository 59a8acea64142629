// tiravex-serve: camera pages in a current browser, the control running
// natively beside it.
//
//   tiravex-serve [--camera sim|onvif[,key=value...]] [--bind ADDRESS] [--port N] [--root DIR] [--max-pages N]
//
// The same program, started with the worker switch, is one page's worker.

#include "host/BridgeProtocol.h"
#include "host/BridgeRequest.h"
#include "host/BridgeServer.h"
#include "host/PageWorker.h"
#include "host/Paths.h"
#include "host/ServeOptions.h"

#include <SDL.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstddef>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

bool isFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string thisProgram(const char* argv0)
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return argv0;
    path[n] = '\0';
    return path;
}

// The largest monitor of this machine's display (by area), each side at
// most the largest a page may have; without a display, that largest square.
host::bridge::ScreenLimit largestMonitor()
{
    using host::bridge::kLargestScreenSide;
    host::bridge::ScreenLimit limit { kLargestScreenSide, kLargestScreenSide };
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!(display && *display) && !(wayland && *wayland))
        return limit;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return limit;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO); // a stand-in display, not a monitor
        return limit;
    }
    long long largest = 0;
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
        SDL_Rect bounds {};
        if (SDL_GetDisplayBounds(i, &bounds) == 0 && static_cast<long long>(bounds.w) * bounds.h > largest) {
            largest = static_cast<long long>(bounds.w) * bounds.h;
            limit = { std::min(bounds.w, kLargestScreenSide), std::min(bounds.h, kLargestScreenSide) };
        }
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return limit;
}

// Under systemd (a Type=notify service) says that the server listens, so
// that `systemctl --user start` returns only once pages can be opened.
void notifyServiceReady()
{
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (!path || (path[0] != '/' && path[0] != '@'))
        return;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, path, length);
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0'; // an abstract socket
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    static constexpr char kReady[] = "READY=1";
    ::sendto(fd, kReady, sizeof kReady - 1, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
    ::close(fd);
    ::unsetenv("NOTIFY_SOCKET"); // the page workers are not the service
}

}

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], host::bridge::kWorkerSwitch) == 0)
        return host::RunPageWorker(host::bridge::kWorkerLinkFd);

    host::ServeCommandLine line;
    std::string error;
    if (!host::ParseServeCommandLine(argc, argv, line, error)) {
        std::fprintf(stderr, "tiravex-serve: %s\n\n%s", error.c_str(), host::kServeUsage);
        return 64;
    }
    if (line.help) {
        std::printf("%s", host::kServeUsage);
        return 0;
    }
    if (line.options.root.empty())
        line.options.root = host::DefaultWebRoot();
    if (!isFolder(line.options.root)) {
        std::fprintf(stderr, "tiravex-serve: no folder %s\n", line.options.root.c_str());
        return 66;
    }
    line.options.workerProgram = thisProgram(argv[0]);
    const host::bridge::ScreenLimit screen = largestMonitor();
    line.options.maxScreenWidth = screen.width;
    line.options.maxScreenHeight = screen.height;

    // Clients waiting to finish their requests each hold a descriptor.
    if (rlimit files {}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    // SIGINT and SIGTERM are taken by this thread alone, with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    host::BridgeServer server(line.options);
    if (!server.Start(error)) {
        std::fprintf(stderr, "tiravex-serve: %s\n", error.c_str());
        return 69;
    }
    std::printf("tiravex-serve: serving %s on %s\n", line.options.root.c_str(), server.Url("").c_str());
    if (!server.Token().empty())
        std::printf("tiravex-serve: requests need the token %s (open the address above once; it sets a cookie)\n", server.Token().c_str());
    std::fflush(stdout);
    notifyServiceReady();
    std::thread http([&] { server.Run(); });
    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("tiravex-serve: stopping\n");
    std::fflush(stdout);
    server.Stop();
    http.join();
    return 0;
}
