// tiravex-avifix FILE.avi...: finishes recordings a crash left open (see
// media/AviRepair.h) and says what it did to each. Exit status 0 when every
// file is complete afterwards, 1 otherwise.

#include "media/AviRepair.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "Usage: tiravex-avifix FILE.avi...\n"
    "\n"
    "Finishes recordings that a crash or a power cut left open: rebuilds each file's index from its\n"
    "companion index (FILE.avi_idx) or, without it, by walking the file's chunks, cuts the file after\n"
    "its last complete chunk, sets the sizes and counts a close would have set, and says what it did.\n"
    "A complete file is left as it is; a file a recorder still writes is refused.\n"
    "Exit status 0 when every file is complete afterwards, 1 otherwise.\n"
    "\n"
    "  --help                       this text\n";

}

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s", kUsage);
        return EXIT_SUCCESS;
    }
    if (argc < 2) {
        std::fprintf(stderr, "%s", kUsage);
        return EXIT_FAILURE;
    }
    int status = EXIT_SUCCESS;
    for (int i = 1; i < argc; ++i) {
        media::AviRepairReport report;
        media::AviRepair(argv[i], report);
        switch (report.result) {
        case media::AviRepairResult::Done:
            std::printf("%s: repaired: %u index entries (%u from the companion index, %u found by walking the chunks), "
                        "%u video frames, %llu audio bytes, %llu bytes dropped\n",
                argv[i], report.entries, report.fromCompanion, report.entries - report.fromCompanion, report.videoFrames,
                static_cast<unsigned long long>(report.audioBytes), static_cast<unsigned long long>(report.bytesDropped));
            break;
        case media::AviRepairResult::AlreadyComplete:
            std::printf("%s: already complete, left as it is\n", argv[i]);
            break;
        case media::AviRepairResult::Refused:
        case media::AviRepairResult::Failed:
            std::fprintf(stderr, "%s: not repaired: %s\n", argv[i], report.reason.c_str());
            status = EXIT_FAILURE;
            break;
        }
    }
    return status;
}
