#pragma once
// What tiravex-serve takes from a client before anything reaches a page
// worker, as pure functions of the bytes (so that one fuzz entry point
// covers them all):
//
// - the head of an HTTP request as it arrives: whole or not yet, and how
//   many body bytes follow it (the server's gate hands a connection to its
//   request threads only once the head and the body are all there);
// - a JSON body, refused before it is parsed when it nests deeper than
//   kMaxJsonDepth (re-serialising a deep value recurses once per level);
// - the numbers a worker turns into screen sizes, coordinates, key codes
//   and counts: each must be a whole number in the range of what it
//   becomes, or the request is refused with 400 (a screen larger than the
//   server allows with 503).

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host::bridge {

// Deeper than any page's request (a call's arguments are flat values).
constexpr int kMaxJsonDepth = 32;
// The request line and the header lines together.
constexpr std::size_t kMaxHeadBytes = 16u << 10;
// A request's body: a member call's texts, 100 ms of microphone, a batch of input.
constexpr std::size_t kMaxBodyBytes = 1u << 20;
// The largest screen side a page may have (the server may allow less).
constexpr int kLargestScreenSide = 4096;
// What a page stream's ?have= or a call's "have" may count to (a script's exact integers).
constexpr std::int64_t kMaxCount = (std::int64_t { 1 } << 53) - 1;

enum class HeadState {
    Partial, // not all there yet
    Whole, // the head and `bodyBytes` of body are all there
    Malformed, // 400
    HeadTooLarge, // 431
    BodyTooLarge, // 413
    LengthRequired, // 411: a body of unknown length (chunked) is not taken
};

struct Head {
    HeadState state = HeadState::Partial;
    std::size_t headBytes = 0; // up to and including the empty line
    std::size_t bodyBytes = 0; // Content-Length
    bool expectsContinue = false; // "Expect: 100-continue": the client waits before its body
};

// Reads what has arrived of a request so far (`bytes` starts at the request line).
Head ScanHead(std::string_view bytes);

// How deep `text` nests arrays and objects (outside strings), counted up
// to kMaxJsonDepth + 1 at most.
int JsonDepth(std::string_view text);

enum class BodyError { None, NotJson, TooDeep };
// Parses a request body into `out`: TooDeep without parsing at all.
BodyError ParseJsonBody(std::string_view text, nlohmann::json& out);

// A number that is a whole number in [lo, hi]: an integer, or a float with
// no fraction (scripts compute in doubles).
bool IntegerIn(const nlohmann::json& value, std::int64_t lo, std::int64_t hi);

// A refusal of a request: an HTTP status and why; status 0 takes it.
struct Refusal {
    int status = 0;
    std::string why;
    explicit operator bool() const { return status != 0; }
};

struct ScreenLimit {
    int width;
    int height;
};

// The worker's start request from the page's /session body: its screen
// (two whole numbers, at most `limit`) and the names of its callbacks.
Refusal SessionStart(const nlohmann::json& given, ScreenLimit limit, nlohmann::json& start);

// A request of one page's control (`what`: create, call, resize, destroy):
// the control's handle, its rectangle, a call's "have".
Refusal ControlRequest(std::string_view what, const nlohmann::json& request);

// A batch of page input: {"events": [{"t":"mouse"|"key", ...}]}.
Refusal PageInput(const nlohmann::json& input);

// A number argument of the simulated camera's scripting: a whole number in
// the range of an int, a boolean (0 or 1), or nothing (0).
bool CameraNumber(const nlohmann::json& value, int& out);

}
