#include "host/BridgeRequest.h"

#include <cmath>
#include <limits>

namespace host::bridge {

namespace {

using nlohmann::json;

constexpr std::string_view kEndOfHead = "\r\n\r\n";
constexpr std::string_view kEndOfLine = "\r\n";
// Content-Length digits: more than this is beyond any body taken anyway.
constexpr std::size_t kMaxLengthDigits = 18;
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUint32Max = std::numeric_limits<std::uint32_t>::max();
// The fields of an input event that the worker reads as numbers.
constexpr const char* kInputNumbers[] = { "x", "y", "m", "w", "vk", "ms" };

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Four whole numbers: a place (any int32) and a size (not negative).
bool isRect(const json& r)
{
    return r.is_array() && r.size() == 4 && IntegerIn(r[0], kInt32Min, kInt32Max) && IntegerIn(r[1], kInt32Min, kInt32Max) && IntegerIn(r[2], 0, kInt32Max)
        && IntegerIn(r[3], 0, kInt32Max);
}

}

Head ScanHead(std::string_view bytes)
{
    Head head;
    const std::size_t end = bytes.substr(0, kMaxHeadBytes).find(kEndOfHead);
    if (end == std::string_view::npos) {
        head.state = bytes.size() >= kMaxHeadBytes ? HeadState::HeadTooLarge : HeadState::Partial;
        return head;
    }
    head.headBytes = end + kEndOfHead.size();
    const std::size_t firstLineEnd = bytes.find(kEndOfLine);
    if (firstLineEnd == 0) {
        head.state = HeadState::Malformed;
        return head;
    }
    bool haveLength = false;
    std::string_view lines = bytes.substr(firstLineEnd + kEndOfLine.size(), end + kEndOfLine.size() - firstLineEnd - kEndOfLine.size());
    while (!lines.empty()) {
        const std::size_t lineEnd = lines.find(kEndOfLine);
        const std::string_view line = lines.substr(0, lineEnd);
        lines.remove_prefix(lineEnd == std::string_view::npos ? lines.size() : lineEnd + kEndOfLine.size());
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon), value = trimmed(line.substr(colon + 1));
        if (sameName(name, "Content-Length")) {
            if (value.empty() || value.size() > kMaxLengthDigits || value.find_first_not_of("0123456789") != std::string_view::npos) {
                head.state = HeadState::Malformed;
                return head;
            }
            std::size_t length = 0;
            for (char c : value)
                length = length * 10 + static_cast<std::size_t>(c - '0');
            if (haveLength && length != head.bodyBytes) {
                head.state = HeadState::Malformed; // two lengths: which one would the next reader take?
                return head;
            }
            haveLength = true;
            head.bodyBytes = length;
        } else if (sameName(name, "Transfer-Encoding")) {
            head.state = HeadState::LengthRequired;
            return head;
        } else if (sameName(name, "Expect")) {
            head.expectsContinue = sameName(value, "100-continue");
        }
    }
    if (head.bodyBytes > kMaxBodyBytes) {
        head.state = HeadState::BodyTooLarge;
        return head;
    }
    head.state = bytes.size() - head.headBytes >= head.bodyBytes ? HeadState::Whole : HeadState::Partial;
    return head;
}

int JsonDepth(std::string_view text)
{
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"': inString = true; break;
        case '[':
        case '{':
            if (++depth > deepest && (deepest = depth) > kMaxJsonDepth)
                return deepest;
            break;
        case ']':
        case '}':
            if (depth > 0)
                --depth;
            break;
        default: break;
        }
    }
    return deepest;
}

BodyError ParseJsonBody(std::string_view text, json& out)
{
    if (JsonDepth(text) > kMaxJsonDepth)
        return BodyError::TooDeep;
    out = json::parse(text, nullptr, false);
    return out.is_discarded() ? BodyError::NotJson : BodyError::None;
}

bool IntegerIn(const json& value, std::int64_t lo, std::int64_t hi)
{
    if (value.is_number_unsigned()) {
        const std::uint64_t v = value.get<std::uint64_t>();
        return hi >= 0 && v <= static_cast<std::uint64_t>(hi) && static_cast<std::int64_t>(v) >= lo;
    }
    if (value.is_number_integer()) {
        const std::int64_t v = value.get<std::int64_t>();
        return v >= lo && v <= hi;
    }
    if (value.is_number_float()) {
        const double v = value.get<double>();
        return std::isfinite(v) && std::floor(v) == v && v >= static_cast<double>(lo) && v <= static_cast<double>(hi);
    }
    return false;
}

Refusal SessionStart(const json& given, ScreenLimit limit, json& start)
{
    if (!given.is_object())
        return { 400, "not a JSON object" };
    start = json { { "op", "start" }, { "callbacks", json::array() } };
    if (given.contains("screen")) {
        const json& screen = given["screen"];
        if (!screen.is_array() || screen.size() != 2 || !IntegerIn(screen[0], 1, kInt32Max) || !IntegerIn(screen[1], 1, kInt32Max))
            return { 400, "the screen is not two whole numbers" };
        if (screen[0].get<double>() > limit.width || screen[1].get<double>() > limit.height)
            return { 503, "a page's screen may be at most " + std::to_string(limit.width) + "x" + std::to_string(limit.height) };
        start["screen"] = json::array({ screen[0].get<std::int64_t>(), screen[1].get<std::int64_t>() });
    }
    if (given.contains("callbacks") && given["callbacks"].is_array())
        for (const auto& name : given["callbacks"])
            if (name.is_string())
                start["callbacks"].push_back(name);
    // The codings the page decodes itself; their frames go to it as they came.
    if (given.contains("passthrough") && given["passthrough"].is_array()) {
        start["passthrough"] = json::array();
        for (const auto& coding : given["passthrough"])
            if (coding == "h264" || coding == "mjpeg")
                start["passthrough"].push_back(coding);
    }
    return {};
}

Refusal ControlRequest(std::string_view what, const json& request)
{
    if (!request.is_object())
        return { 400, "not a JSON object" };
    if (what != "create" && (!request.contains("control") || !request["control"].is_number_unsigned() || !IntegerIn(request["control"], 0, kUint32Max)))
        return { 400, "no control" };
    if (request.contains("rect") && !isRect(request["rect"]))
        return { 400, "the rectangle is not four whole numbers in range" };
    if (request.contains("have") && !IntegerIn(request["have"], 0, kMaxCount))
        return { 400, "\"have\" is not a count" };
    return {};
}

Refusal PageInput(const json& input)
{
    if (!input.is_object())
        return { 400, "not a JSON object" };
    if (!input.contains("events") || !input["events"].is_array())
        return {};
    for (const json& e : input["events"]) {
        if (!e.is_object())
            continue;
        for (const char* field : kInputNumbers)
            if (e.contains(field) && !IntegerIn(e[field], kInt32Min, kInt32Max))
                return { 400, std::string("an event's \"") + field + "\" is not a whole number in range" };
    }
    return {};
}

bool CameraNumber(const json& value, int& out)
{
    if (value.is_null()) {
        out = 0;
        return true;
    }
    if (value.is_boolean()) {
        out = value.get<bool>() ? 1 : 0;
        return true;
    }
    if (!IntegerIn(value, kInt32Min, kInt32Max))
        return false;
    out = static_cast<int>(value.get<double>());
    return true;
}

}
