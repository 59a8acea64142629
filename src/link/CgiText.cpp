#include "link/CgiText.h"

#include <cctype>
#include <cstring>

namespace devlink {

namespace {
constexpr std::string_view kOpen = "<CGI_Result>";
constexpr std::string_view kClose = "</CGI_Result>";
constexpr std::size_t kMaxDigits = 4;
}

void CopyText(char* field, std::size_t size, std::string_view text)
{
    if (!field || size == 0)
        return;
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

std::string PercentEncode(std::string_view text)
{
    constexpr const char* kHexDigits = "0123456789ABCDEF";
    constexpr unsigned kNibbleBits = 4;
    constexpr unsigned kNibbleMask = 0xF;
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += kHexDigits[byte >> kNibbleBits];
            out += kHexDigits[byte & kNibbleMask];
        }
    }
    return out;
}

CgiExtract ExtractCgiResult(std::string_view body, char* out, std::size_t size)
{
    if (size)
        out[0] = 0;
    std::size_t start = body.find(kOpen);
    if (start == std::string_view::npos)
        return CgiExtract::NoElement;
    std::size_t end = body.find(kClose, start + kOpen.size());
    if (end == std::string_view::npos)
        return CgiExtract::Unterminated;
    CopyText(out, size, body.substr(start, end + kClose.size() - start));
    return CgiExtract::Found;
}

bool ElementText(std::string_view text, std::string_view open, std::string_view close, std::size_t limit, std::string& out)
{
    std::size_t start = text.find(open);
    if (start == std::string_view::npos)
        return false;
    start += open.size();
    std::size_t end = text.find(close, start);
    std::string_view inner = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    out.assign(inner.substr(0, limit));
    return true;
}

namespace {
bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
}

int ElementNumber(std::string_view text, std::string_view open, std::string_view close, int fallback)
{
    std::string found;
    // Room for the digits and some spaces around them.
    constexpr std::size_t kLimit = 64;
    if (!ElementText(text, open, close, kLimit + 1, found) || found.size() > kLimit)
        return fallback;
    std::string_view inner = found;
    while (!inner.empty() && isSpace(inner.front()))
        inner.remove_prefix(1);
    while (!inner.empty() && isSpace(inner.back()))
        inner.remove_suffix(1);
    if (inner.empty() || inner.size() > kMaxDigits)
        return fallback;
    int value = 0;
    for (char c : inner) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return fallback;
        value = value * 10 + (c - '0');
    }
    return value;
}

int ElementDigit(std::string_view text, std::string_view open, int fallback)
{
    std::size_t start = text.find(open);
    if (start == std::string_view::npos)
        return fallback;
    start += open.size();
    while (start < text.size() && isSpace(text[start]))
        ++start;
    if (start >= text.size() || !std::isdigit(static_cast<unsigned char>(text[start])))
        return fallback;
    return text[start] - '0';
}

}
