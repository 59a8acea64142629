// Fuzz entry point: what tiravex-serve takes from a client before a page
// worker sees it. The input is a request as it arrives: its head is scanned
// as the server's gate scans it, and its body (or the whole input, when it
// has no head) is read as each route reads a JSON body. Whatever a check
// lets through must be what the worker can use: a body it can write out
// again, and numbers it turns into coordinates, sizes and counts that fit.

#include "host/BridgeRequest.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace {

using nlohmann::json;
using namespace host::bridge;

constexpr ScreenLimit kLimit { 1920, 1080 };
constexpr const char* kControlRoutes[] = { "create", "call", "resize", "destroy" };
constexpr const char* kInputNumbers[] = { "x", "y", "m", "w", "vk" };

void expect(bool holds)
{
    if (!holds)
        std::abort();
}

// As the worker converts a coordinate.
void fitsInt32(const json& v)
{
    expect(v.is_number());
    const double d = v.get<double>();
    expect(d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max());
    static_cast<void>(static_cast<std::int32_t>(d));
}

void readBody(std::string_view body)
{
    json value;
    if (ParseJsonBody(body, value) != BodyError::None)
        return;
    static_cast<void>(value.dump()); // as a request goes to the worker

    json start;
    if (!SessionStart(value, kLimit, start) && start.contains("screen")) {
        expect(start["screen"][0].get<std::int64_t>() >= 1 && start["screen"][0].get<std::int64_t>() <= kLimit.width);
        expect(start["screen"][1].get<std::int64_t>() >= 1 && start["screen"][1].get<std::int64_t>() <= kLimit.height);
    }
    for (const char* what : kControlRoutes) {
        if (ControlRequest(what, value))
            continue;
        if (value.contains("rect"))
            for (const json& v : value["rect"])
                fitsInt32(v);
        if (value.contains("have"))
            expect(value["have"].get<double>() >= 0 && value["have"].get<double>() <= static_cast<double>(kMaxCount));
    }
    if (!PageInput(value) && value.contains("events"))
        for (const json& e : value["events"])
            if (e.is_object())
                for (const char* field : kInputNumbers)
                    if (e.contains(field))
                        fitsInt32(e[field]);
    if (value.is_object() && value.contains("args") && value["args"].is_array())
        for (const json& a : value["args"]) {
            int n = 0;
            static_cast<void>(CameraNumber(a, n));
        }
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Head head = ScanHead(bytes);
    if (head.state == HeadState::Whole) {
        expect(head.headBytes <= kMaxHeadBytes && head.bodyBytes <= kMaxBodyBytes && head.headBytes + head.bodyBytes <= size);
        readBody(bytes.substr(head.headBytes, head.bodyBytes));
    } else {
        readBody(bytes);
    }
    return 0;
}
