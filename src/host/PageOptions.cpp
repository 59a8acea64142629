#include "host/PageOptions.h"

#include "host/SimCamera.h"

#include <cstdlib>
#include <sstream>

namespace host {

namespace {

constexpr unsigned kMsPerSecond = 1000;

bool parseScreens(const std::string& text, std::vector<SIZE>& out)
{
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        int w = 0, h = 0;
        char x = 0;
        std::stringstream one(item);
        if (!(one >> w >> x >> h) || (x != 'x' && x != 'X') || w <= 0 || h <= 0)
            return false;
        out.push_back(SIZE { w, h });
    }
    return !out.empty();
}

}

bool ParseCommandLine(int argc, char** argv, CommandLine& out, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--display") {
            out.display = true;
        } else if (a == "--camera") {
            if (!value(out.camera))
                return false;
            if (out.camera.rfind("sim", 0) != 0 && out.camera.rfind("onvif", 0) != 0) {
                error = "--camera takes sim[,key=value...] or onvif[,key=value...]";
                return false;
            }
        } else if (a == "--screen") {
            if (!value(v))
                return false;
            if (!parseScreens(v, out.screens)) {
                error = "--screen takes WxH[,WxH...]";
                return false;
            }
        } else if (a == "--out") {
            if (!value(out.page.outputFolder))
                return false;
        } else if (a == "--arg") {
            if (!value(v))
                return false;
            auto eq = v.find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "--arg takes KEY=VALUE";
                return false;
            }
            out.page.args[v.substr(0, eq)] = v.substr(eq + 1);
        } else if (a == "--timeout") {
            if (!value(v))
                return false;
            int seconds = std::atoi(v.c_str());
            if (seconds < 0 || (seconds == 0 && v != "0")) {
                error = "--timeout takes a number of seconds (0: no limit)";
                return false;
            }
            out.page.timeoutMs = seconds == 0 ? kNoTimeLimit : static_cast<unsigned>(seconds) * kMsPerSecond;
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (out.script.empty()) {
            out.script = a;
        } else {
            error = "only one page script";
            return false;
        }
    }
    if (!out.help && out.script.empty()) {
        error = "no page script";
        return false;
    }
    return true;
}

bool InstallExtras(PageHost& page, const CommandLine& line, std::string& error)
{
    if (!line.camera.empty()) {
        auto camera = InstallSimCamera(page, line.camera, error);
        if (!camera)
            return false;
        page.KeepAlive(camera);
    }
    if (line.display && !page.ShowOnDisplay()) {
        error = "--display needs a display (set DISPLAY, or run under xvfb-run)";
        return false;
    }
    return true;
}

}
