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

// After Done the companion index is deleted. A file a recorder still holds
// (AviOpen's lock) is refused, whichever process writes it; so is anything
// but a regular file.
void AviRepair(const std::string& path, AviRepairReport& report);

// Finishes every recording in `directory` that has its companion index
// beside it and that no recorder holds. Only the folder's own regular files
// of this user with one name are touched, opened without following a
// symbolic link and without waiting (a FIFO is passed over); a companion
// that is not such a file is ignored and the recording walked.
void RepairLeftovers(const std::string& directory);

// RepairLeftovers on the process's clean-up thread; returns at once. The
// folders asked for are done one after the other, each once however often
// it is asked for while it waits.
void RepairLeftoversInBackground(const std::string& directory);

}
