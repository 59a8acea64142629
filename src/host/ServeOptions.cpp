#include "host/ServeOptions.h"

#include <cstdlib>

namespace host {

bool ParseServeCommandLine(int argc, char** argv, ServeCommandLine& out, std::string& error)
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
        } else if (a == "--camera") {
            if (!value(out.options.camera))
                return false;
            if (out.options.camera.rfind("sim", 0) != 0 && out.options.camera.rfind("onvif", 0) != 0) {
                error = "--camera takes sim[,key=value...] or onvif[,key=value...]";
                return false;
            }
        } else if (a == "--bind") {
            if (!value(out.options.bind))
                return false;
        } else if (a == "--port") {
            if (!value(v))
                return false;
            char* end = nullptr;
            long port = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || port < 0 || port > 65535) {
                error = "--port takes a number from 0 to 65535";
                return false;
            }
            out.options.port = static_cast<int>(port);
        } else if (a == "--max-pages") {
            if (!value(v))
                return false;
            char* end = nullptr;
            long pages = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || pages < 1 || pages > kMostPages) {
                error = "--max-pages takes a number from 1 to " + std::to_string(kMostPages);
                return false;
            }
            out.options.maxPages = static_cast<int>(pages);
        } else if (a == "--root") {
            if (!value(out.options.root))
                return false;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    return true;
}

}
