// tiravex-browser-shot: opens a page in headless Chromium and saves what it
// shows as a PNG, once a script condition holds (or a time passed).
//
//   tiravex-browser-shot URL OUT.png [--wait-for EXPRESSION] [--seconds N]

#include "support/Browser.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tiravex-browser-shot URL OUT.png [--wait-for EXPRESSION] [--seconds N]\n");
        return 64;
    }
    std::string condition;
    int seconds = 10;
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--wait-for")
            condition = argv[i + 1];
        else if (option == "--seconds")
            seconds = std::max(1, std::atoi(argv[i + 1]));
    }
    testing_support::Chromium browser;
    testing_support::CdpPage page;
    if (!browser.Start() || !browser.Open(argv[1], page)) {
        std::fprintf(stderr, "tiravex-browser-shot: Chromium did not open %s\n", argv[1]);
        return 69;
    }
    bool ready = true;
    if (condition.empty())
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
    else
        ready = page.WaitFor(condition, seconds * 1000);
    if (!page.Screenshot(argv[2])) {
        std::fprintf(stderr, "tiravex-browser-shot: no screenshot\n");
        return 1;
    }
    if (!ready)
        std::fprintf(stderr, "tiravex-browser-shot: %s did not hold within %d s\n", condition.c_str(), seconds);
    return ready ? 0 : 2;
}
