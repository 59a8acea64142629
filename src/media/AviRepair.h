#pragma once
// Finishes a recording the recorder (media/AviWriter.h) left open: rebuilds
// idx1 from the companion index "<path>_idx", or without it by walking the
// movi chunks, cuts the file after its last complete chunk and sets the
// sizes and counts the close would have set. The file is untrusted input:
// nothing is read past its end.

#include <cstdint>
#include <string>

namespace media {

enum class AviRepairResult {
    Done,            // the file was finished
    AlreadyComplete, // its RIFF size matches and it has an idx1: left untouched
    Refused,         // not a recording this can finish; see reason
    Failed,          // reading or writing the file failed; see reason
};

struct AviRepairReport {
    AviRepairResult result = AviRepairResult::Refused;
    std::string reason;
    std::uint32_t entries = 0;          // index entries written
    std::uint32_t fromCompanion = 0;    // of them, taken from the companion index
    std::uint32_t videoFrames = 0;
    std::uint64_t audioBytes = 0;
    std::uint64_t bytesDropped = 0;     // cut from the end of the file
};

// After Done the companion index is deleted.
void AviRepair(const std::string& path, AviRepairReport& report);

}
