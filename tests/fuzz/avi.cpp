// Fuzz entry point: the repair tool's reading of a recording a crash left
// open. The input holds the recording (its length first, 32 bits) and then
// its companion index; both are written as files and the repair finishes
// them. A file the repair says it finished must then count as complete.

#include "FuzzInput.h"

#include "media/AviRepair.h"
#include "media/AviWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// A folder of this process's own for the files.
const std::string& folder()
{
    static const std::string made = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tiravex-fuzz-avi-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] { ::rmdir(folder().c_str()); });
        return pattern;
    }();
    return made;
}

void write(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    auto recording = in.Bytes(in.U32());
    auto index = in.Rest();
    const std::string path = folder() + "/recording.avi";
    const std::string indexPath = path + media::kAviIndexSuffix;
    write(path, recording);
    if (index.empty())
        std::remove(indexPath.c_str());
    else
        write(indexPath, index);

    media::AviRepairReport report;
    media::AviRepair(path, report);
    if (report.result == media::AviRepairResult::Done) {
        media::AviRepairReport again;
        media::AviRepair(path, again);
        if (again.result != media::AviRepairResult::AlreadyComplete) {
            std::fprintf(stderr, "a finished recording is not complete: %s\n", again.reason.c_str());
            std::abort();
        }
    }
    std::remove(path.c_str());
    std::remove(indexPath.c_str());
    return 0;
}
