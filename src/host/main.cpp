// tiravex-page: runs a page script against Tiravex controls.
//
//   tiravex-page [--camera sim|onvif[,key=value...]] [--display] [--screen WxH[,WxH...]]
//                [--out DIR] [--timeout SECONDS] page.js

#include "host/PageHost.h"
#include "host/PageOptions.h"
#include "host/Paths.h"

#include "ui/Monitor.h"

#include <cstdio>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    host::CommandLine line;
    std::string error;
    if (!host::ParseCommandLine(argc, argv, line, error)) {
        std::fprintf(stderr, "tiravex-page: %s\n\n%s", error.c_str(), host::kUsage);
        return 64;
    }
    if (line.help) {
        std::printf("%s", host::kUsage);
        return 0;
    }
    if (!line.screens.empty())
        ui::SetMonitorSizes(line.screens);
    ::mkdir(line.page.outputFolder.c_str(), 0755);
    host::PageHost page(line.page);
    if (!host::InstallExtras(page, line, error)) {
        std::fprintf(stderr, "tiravex-page: %s\n", error.c_str());
        return 69;
    }
    return page.RunFile(host::ResolvePageScript(line.script));
}
