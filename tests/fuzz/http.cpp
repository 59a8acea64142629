// Fuzz entry point: the network library's HTTP response parser, on an answer
// the camera may still be sending and on one it ended by closing.

#include "kznet/Library.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string raw(reinterpret_cast<const char*>(data), size);
    for (bool closed : { false, true }) {
        int status = 0;
        std::string body;
        kz::ParseHttpResponse(raw, closed, status, body);
    }
    return 0;
}
