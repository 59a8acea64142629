#pragma once
// tiravex-serve's command line.

#include "host/BridgeServer.h"

#include <string>

namespace host {

#define TIRAVEX_TEXT_OF(x) #x
#define TIRAVEX_NUMBER_TEXT(x) TIRAVEX_TEXT_OF(x)

inline constexpr const char* kServeUsage =
    "Usage: tiravex-serve [options]\n"
    "\n"
    "Serves camera pages to a browser and runs the Tiravex control for each <object> of each open page.\n"
    "Pages include /tiravex.js; their members, PluginCallBack and PluginCallBackCGI work as in the control's time.\n"
    "\n"
    "  --camera sim[,key=value...]  start a simulated camera on loopback; pages script it as `camera`\n"
    "  --bind ADDRESS               the address to listen on (default 127.0.0.1; any other needs the printed token)\n"
    "  --port N                     the port (default " TIRAVEX_NUMBER_TEXT(TIRAVEX_SERVE_PORT) "; 0: any free port)\n"
    "  --root DIR                   the pages to serve (default share/tiravex/pages/web beside the program's\n"
    "                               folder: /usr/share/tiravex/pages/web when installed in /usr)\n"
    "  --max-pages N                pages open at once, each a worker process (default 16, at most 256)\n"
    "  --help                       this text\n";

// The most --max-pages takes.
inline constexpr int kMostPages = 256;

struct ServeCommandLine {
    ServeOptions options;
    bool help = false;
};

bool ParseServeCommandLine(int argc, char** argv, ServeCommandLine& out, std::string& error);

}
