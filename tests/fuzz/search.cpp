// Fuzz entry point: search answers. The input is a datagram as it reaches
// the search's socket (answering the search whose nonce it carries); the
// record it holds is taken as the control takes it, into both the list
// search's answer and the one-device search's find. An input of a record's
// length is also taken as a record on its own.

#include "kznet/Library.h"
#include "kznet/Wire.h"
#include "link/DeviceSearch.h"

#include <cstdint>

namespace {

void takeRecord(const std::uint8_t* record, std::size_t length)
{
    auto* text = reinterpret_cast<const char*>(record);
    int n = static_cast<int>(length);
    if (WPARAM copy = devlink::DeviceSearch::CopyAnswer(kz::kSearchAnswer, text, n))
        devlink::DeviceSearch::AnswerOf(copy);
    if (WPARAM copy = devlink::DeviceSearch::CopyAnswer(kz::kSearchAnswer, text, n))
        devlink::DeviceSearch::FoundOf(copy);
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::wire;
    if (size >= kHeaderBytes + kSearchNonceBytes) {
        const std::uint8_t* record = nullptr;
        std::size_t length = 0;
        if (kz::ReadSearchAnswer(data, size, r32(data + kHeaderBytes), record, length))
            takeRecord(record, length);
    }
    takeRecord(data, size);
    return 0;
}
