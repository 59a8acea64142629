// tiravex-camsim: one simulated camera on this machine, serving until it is
// stopped with SIGINT or SIGTERM.

#include "sim/Camera.h"

#include "kznet/Wire.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kDefaultPort = 9000;
constexpr int kDefaultWebPort = 9080;

const char* const kHelp = R"(Usage: tiravex-camsim [options]

A simulated network camera for Tiravex. It serves the control road and media
channels on --port, CGI over HTTP on --web-port and device search on UDP
--search-port, and runs until stopped with SIGINT (Ctrl-C) or SIGTERM.

Network:
  --address A          address to serve on (default 127.0.0.1)
  --port N             control road and media port (default 9000; 0 = any)
  --web-port N         HTTP (CGI) port (default 9080; 0 = any)
  --search-port N      UDP search port (default 10060; 0 = any; -1 = none)
  --search-record N    length of the search answer: 65, 98 or 106 (default 106)

Accounts (the first is what pages log in with):
  --user NAME          user of the first account (default admin)
  --password TEXT      password of the first account (default empty)
  --account NAME:PASS  one more account (may be repeated)

Device:
  --kind K             device kind 0, 100, 101 or 102 (default 101)
  --product TEXT       product name, answered by getDevInfo (default TVX-C100)
  --model TEXT         model name, answered by getProductAllInfo (default TVX-C100)
  --name TEXT          device name in the login reply and search (default "Tiravex camera")
  --id TEXT            12-character device identifier (default TVX000000001)
  --rows N, --cols N   motion grid size (default 10 x 10)
  --ptflag 0|1         pan/tilt flag (default 1)
  --rs485 0|1          RS-485 flag (default 0)
  --httpsport N        HTTPS port reported by getPortInfo (default 443)
  --reply-format 0|1   reply-format flag: padded control messages (default 0)

Live stream:
  --codec h264|mjpeg   video codec (default h264)
  --width N --height N picture size, even numbers (default 640 x 480)
  --fps N              frames per second (default 15)
  --keyint N           frames between key frames (default 30)
  --audio 0|1|2        audio coding: 0 PCM, 1 G.726 16 kbit/s, 2 IMA ADPCM (default 0)
  --tone HZ            frequency of the audio tone (default 440)

Recordings (played back by path):
  --recording PATH[:SECONDS]   add a recording (default /record/clip1.avi, 5 s);
                               the first --recording replaces the default

  --help               this text
)";

bool number(const char* text, int& out)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end)
        return false;
    out = static_cast<int>(v);
    return true;
}

}

int main(int argc, char** argv)
{
    sim::CameraConfig config;
    config.port = kDefaultPort;
    config.webPort = kDefaultWebPort;
    config.searchPort = kz::wire::kDefaultSearchPort;
    bool recordingsGiven = false;

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        std::string value;
        std::size_t eq = option.find('=');
        if (eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            std::fprintf(stderr, "tiravex-camsim: %s needs a value (see --help)\n", option.c_str());
            return 2;
        }
        int n = 0;
        bool isNumber = number(value.c_str(), n);
        bool ok = true;
        if (option == "--address") config.address = value;
        else if (option == "--port") ok = isNumber && (config.port = n) >= 0;
        else if (option == "--web-port") ok = isNumber && (config.webPort = n) >= 0;
        else if (option == "--search-port") ok = isNumber && (config.searchPort = n) >= -1;
        else if (option == "--search-record") ok = isNumber && kz::wire::IsRecordLength(config.searchRecordBytes = static_cast<std::size_t>(n));
        else if (option == "--user") config.accounts[0].user = value;
        else if (option == "--password") config.accounts[0].password = value;
        else if (option == "--account") {
            std::size_t colon = value.find(':');
            ok = colon != std::string::npos;
            if (ok)
                config.accounts.push_back({ value.substr(0, colon), value.substr(colon + 1) });
        }
        else if (option == "--kind") ok = isNumber && (n == 0 || n == 100 || n == 101 || n == 102) && ((config.deviceKind = n), true);
        else if (option == "--product") config.product = value;
        else if (option == "--model") config.model = value;
        else if (option == "--name") config.name = value;
        else if (option == "--id") ok = value.size() <= kz::wire::kReplyDeviceIdBytes && ((config.deviceId = value), true);
        else if (option == "--rows") ok = isNumber && (config.rows = n) > 0;
        else if (option == "--cols") ok = isNumber && (config.cols = n) > 0;
        else if (option == "--ptflag") ok = isNumber && ((config.ptFlag = n), true);
        else if (option == "--rs485") ok = isNumber && ((config.rs485Flag = n), true);
        else if (option == "--httpsport") ok = isNumber && ((config.httpsPort = n), true);
        else if (option == "--reply-format") ok = isNumber && ((config.replyFormat = n != 0), true);
        else if (option == "--codec") ok = (value == "h264" || value == "mjpeg") && ((config.video.codec = value == "h264" ? sim::Codec::H264 : sim::Codec::Mjpeg), true);
        else if (option == "--width") ok = isNumber && (config.video.width = n) > 0;
        else if (option == "--height") ok = isNumber && (config.video.height = n) > 0;
        else if (option == "--fps") ok = isNumber && (config.video.fps = n) > 0;
        else if (option == "--keyint") ok = isNumber && (config.video.keyInterval = n) > 0;
        else if (option == "--audio") ok = isNumber && n >= 0 && n <= 2 && ((config.audio = n), true);
        else if (option == "--tone") ok = isNumber && (config.toneHz = n) > 0;
        else if (option == "--recording") {
            if (!recordingsGiven)
                config.recordings.clear();
            recordingsGiven = true;
            sim::Recording r;
            std::size_t colon = value.rfind(':');
            int seconds = 0;
            if (colon != std::string::npos && number(value.c_str() + colon + 1, seconds) && seconds > 0) {
                r.path = value.substr(0, colon);
                r.seconds = seconds;
            } else {
                r.path = value;
            }
            config.recordings.push_back(r);
        }
        else {
            std::fprintf(stderr, "tiravex-camsim: unknown option %s (see --help)\n", option.c_str());
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "tiravex-camsim: bad value \"%s\" for %s (see --help)\n", value.c_str(), option.c_str());
            return 2;
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // every thread started below inherits the mask

    auto camera = sim::Camera::Start(config);
    if (!camera) {
        std::fprintf(stderr, "tiravex-camsim: cannot start (ports in use or bad settings)\n");
        return 1;
    }
    std::printf("tiravex-camsim: %s port %d, web port %d, search port %d, user \"%s\"\n", camera->Address().c_str(), camera->Port(), camera->WebPort(), camera->SearchPort(), camera->User().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    std::printf("tiravex-camsim: stopping\n");
    camera.reset();
    return 0;
}
