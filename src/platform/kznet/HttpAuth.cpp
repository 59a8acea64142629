// The camera's HTTP challenge and our answer to it (Digest or Basic).

#include "kznet/HttpAuth.h"

#include "kznet/Soap.h"
#include "kznet/TextParts.h"

#include <nettle/md5.h>
#include <nettle/sha2.h>

#include <cctype>
#include <cstdio>
#include <string_view>

namespace kz::onvif {

namespace {

using text::trim;

constexpr std::string_view kAuthenticateHeader = "www-authenticate:";

bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// One challenge: "Scheme name=value, name="quoted value", ...".
Challenge readOne(std::string_view value)
{
    Challenge out;
    std::size_t space = value.find(' ');
    std::string_view scheme = value.substr(0, space);
    if (iequals(scheme, "Basic")) {
        out.scheme = Challenge::Scheme::Basic;
        return out;
    }
    if (!iequals(scheme, "Digest") || space == std::string_view::npos)
        return out;
    std::size_t at = space + 1;
    bool algorithmKnown = true;
    while (at < value.size()) {
        while (at < value.size() && (value[at] == ' ' || value[at] == ','))
            ++at;
        std::size_t equals = value.find('=', at);
        if (equals == std::string_view::npos)
            break;
        std::string_view name = trim(value.substr(at, equals - at));
        at = equals + 1;
        std::string text;
        if (at < value.size() && value[at] == '"') {
            ++at;
            while (at < value.size() && value[at] != '"') {
                if (value[at] == '\\' && at + 1 < value.size())
                    ++at;
                if (text.size() < kMaxChallengeText)
                    text += value[at];
                ++at;
            }
            ++at; // the closing quote
        } else {
            std::size_t comma = value.find(',', at);
            std::string_view raw = trim(value.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
            text = std::string(raw.substr(0, kMaxChallengeText));
            at = comma == std::string_view::npos ? value.size() : comma;
        }
        if (iequals(name, "realm"))
            out.realm = text;
        else if (iequals(name, "nonce"))
            out.nonce = text;
        else if (iequals(name, "opaque"))
            out.opaque = text;
        else if (iequals(name, "qop")) {
            // A list of options, "auth" among them or not.
            std::string_view options = text;
            while (!options.empty()) {
                std::size_t comma = options.find(',');
                out.qopAuth = out.qopAuth || iequals(trim(options.substr(0, comma)), "auth");
                options = comma == std::string_view::npos ? std::string_view() : options.substr(comma + 1);
            }
        } else if (iequals(name, "algorithm")) {
            out.sha256 = iequals(text, "SHA-256");
            algorithmKnown = out.sha256 || iequals(text, "MD5");
        }
    }
    if (!algorithmKnown || out.nonce.empty())
        return {};
    out.scheme = Challenge::Scheme::Digest;
    return out;
}

std::string hex(const std::uint8_t* bytes, std::size_t n)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

std::string hash(bool sha256, const std::string& text)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    if (sha256) {
        sha256_ctx context;
        sha256_init(&context);
        sha256_update(&context, text.size(), data);
        std::uint8_t sum[SHA256_DIGEST_SIZE];
        sha256_digest(&context, sizeof sum, sum);
        return hex(sum, sizeof sum);
    }
    md5_ctx context;
    md5_init(&context);
    md5_update(&context, text.size(), data);
    std::uint8_t sum[MD5_DIGEST_SIZE];
    md5_digest(&context, sizeof sum, sum);
    return hex(sum, sizeof sum);
}

// A quoted-string's content.
std::string quoted(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n')
            continue; // never a header of its own
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

}

Challenge ReadChallenge(const char* head, std::size_t n)
{
    if (!head)
        return {};
    std::string_view all(head, n);
    Challenge basic;
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        std::string_view line = all.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? all.size() : end + 1;
        if (line.size() < kAuthenticateHeader.size() || !iequals(line.substr(0, kAuthenticateHeader.size()), kAuthenticateHeader))
            continue;
        Challenge one = readOne(trim(line.substr(kAuthenticateHeader.size())));
        if (one.scheme == Challenge::Scheme::Digest)
            return one;
        if (one.scheme == Challenge::Scheme::Basic)
            basic = one;
    }
    return basic;
}

std::string Authorization(const Challenge& challenge, const std::string& method, const std::string& uri, const std::string& user,
    const std::string& password, const std::string& cnonce, std::uint32_t nonceCount)
{
    if (challenge.scheme == Challenge::Scheme::Basic)
        return "Basic " + Base64(user + ":" + password);
    if (challenge.scheme != Challenge::Scheme::Digest)
        return {};
    const bool sha = challenge.sha256;
    char count[9];
    std::snprintf(count, sizeof count, "%08x", nonceCount);
    std::string ha1 = hash(sha, user + ":" + challenge.realm + ":" + password);
    std::string ha2 = hash(sha, method + ":" + uri);
    std::string response = challenge.qopAuth ? hash(sha, ha1 + ":" + challenge.nonce + ":" + count + ":" + cnonce + ":auth:" + ha2)
                                             : hash(sha, ha1 + ":" + challenge.nonce + ":" + ha2);
    std::string out = "Digest username=\"" + quoted(user) + "\", realm=\"" + quoted(challenge.realm) + "\", nonce=\"" + quoted(challenge.nonce)
        + "\", uri=\"" + quoted(uri) + "\", response=\"" + response + "\", algorithm=" + (sha ? "SHA-256" : "MD5");
    if (challenge.qopAuth)
        out += std::string(", qop=auth, nc=") + count + ", cnonce=\"" + quoted(cnonce) + "\"";
    if (!challenge.opaque.empty())
        out += ", opaque=\"" + quoted(challenge.opaque) + "\"";
    return out;
}

}
