// tiravex-camsim: one simulated camera on this machine, serving until it is
// stopped with SIGINT or SIGTERM.

#include "sim/Camera.h"
#include "sim/Options.h"

#include "kznet/Wire.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace {

constexpr int kDefaultPort = 9000;
constexpr int kDefaultWebPort = 9080;
constexpr int kExitUsage = 2;
constexpr int kExitCannotStart = 1;

void printHelp()
{
    std::printf("Usage: tiravex-camsim [--option value | --option=value]...\n\n"
                "A simulated network camera for Tiravex. It serves the control road and media\n"
                "channels on --port (default %d), CGI over HTTP on --webport (default %d) and\n"
                "device search on UDP --searchport (default %d), and runs until it is stopped\n"
                "with SIGINT (Ctrl-C) or SIGTERM. On start it prints its address and ports.\n\nOptions:\n",
        kDefaultPort, kDefaultWebPort, kz::wire::kDefaultSearchPort);
    for (auto& o : sim::CameraOptions()) {
        std::string left = std::string("--") + o.key + " " + o.value;
        std::printf("  %-28s %s\n", left.c_str(), o.text);
    }
    std::printf("  %-28s %s\n", "--help", "this text");
}

}

int main(int argc, char** argv)
{
    sim::CameraConfig config;
    config.port = kDefaultPort;
    config.webPort = kDefaultWebPort;
    config.searchPort = kz::wire::kDefaultSearchPort;

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            printHelp();
            return 0;
        }
        if (option.rfind("--", 0) != 0) {
            std::fprintf(stderr, "tiravex-camsim: unexpected argument %s (see --help)\n", option.c_str());
            return kExitUsage;
        }
        std::string key = option.substr(2), value;
        std::size_t eq = key.find('=');
        if (eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            std::fprintf(stderr, "tiravex-camsim: --%s needs a value (see --help)\n", key.c_str());
            return kExitUsage;
        }
        if (!sim::ApplyCameraOption(config, key, value)) {
            std::fprintf(stderr, "tiravex-camsim: bad option --%s %s (see --help)\n", key.c_str(), value.c_str());
            return kExitUsage;
        }
    }

    // Every thread started below inherits the blocked signals; the main
    // thread takes them with sigwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto camera = sim::Camera::Start(config);
    if (!camera) {
        std::fprintf(stderr, "tiravex-camsim: cannot start (a port is in use, or a setting is unusable)\n");
        return kExitCannotStart;
    }
    std::printf("tiravex-camsim: address %s port %d webport %d searchport %d user %s\n", camera->Address().c_str(), camera->Port(), camera->WebPort(), camera->SearchPort(), camera->User().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    std::printf("tiravex-camsim: stopping\n");
    std::fflush(stdout);
    camera.reset();
    return 0;
}
