// Fuzz entry point: the readers of a standard camera's recording search and
// replay answers (a search's token, the recordings found, the replay
// address), each given the whole input as an answer's body, and a page's
// recording path given the input.

#include "kznet/OnvifReplay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::onvif;
    const char* text = reinterpret_cast<const char*>(data);
    std::string token, uri;
    ReadSearchToken(text, size, token);
    std::vector<RecordingInfo> recordings;
    bool completed = false;
    ReadRecordingResults(text, size, recordings, completed);
    ReadReplayUri(text, size, uri);
    std::time_t start = 0;
    if (ParseRecordingPath(std::string(text, size), token, start))
        RecordingPath(token, start);
    return 0;
}
