#pragma once
// The page host's command line.

#include "host/PageHost.h"

#include "ui/Geometry.h"

#include <string>
#include <vector>

namespace host {

inline constexpr const char* kUsage =
    "Usage: tiravex-page [options] page.js\n"
    "\n"
    "Runs a page script (ES5) that creates Tiravex controls with createControl({Self, x, y, width, height}),\n"
    "calls their members by name and receives PluginCallBack and PluginCallBackCGI.\n"
    "A page named without a folder that is not in the current folder is taken from the installed\n"
    "pages (share/tiravex/pages beside the program's folder): login.js, viewer.js, demo.js.\n"
    "\n"
    "  --camera sim[,key=value...]  start a simulated camera on loopback; the page scripts it as `camera`\n"
    "  --display                    show the screen in a window (needs a display)\n"
    "  --screen WxH[,WxH...]        the monitors, primary first (default 1920x1080)\n"
    "  --out DIR                    where screenshots and other output go (default .)\n"
    "  --timeout SECONDS            end the page after this long (default 60)\n"
    "  --arg KEY=VALUE              a value the page reads as host.args.KEY (repeatable)\n"
    "  --help                       this text\n";

struct CommandLine {
    PageOptions page;
    std::vector<SIZE> screens;
    std::string camera; // "" or "sim[,key=value...]"
    bool display = false;
    bool help = false;
    std::string script;
};

bool ParseCommandLine(int argc, char** argv, CommandLine& out, std::string& error);

// Starts what the command line asks for besides the page itself (the
// simulated camera, the display). False, with a reason, when it cannot.
bool InstallExtras(PageHost& page, const CommandLine& line, std::string& error);

}
