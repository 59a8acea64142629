#pragma once
// HTTP authentication of the standards dialect's plain HTTP requests (a
// camera's snapshot): the camera's challenge read from its 401 answer, and
// the Authorization header that answers it, Digest (RFC 7616: MD5 or
// SHA-256, with or without qop "auth") or Basic.
//
// The reader takes a pointer and a length and never reads past it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kz::onvif {

struct Challenge {
    enum class Scheme { None, Basic, Digest };
    Scheme scheme = Scheme::None;
    std::string realm;
    std::string nonce;
    std::string opaque;
    bool qopAuth = false;   // the camera offers qop "auth"
    bool sha256 = false;    // algorithm SHA-256 instead of MD5
};

// The challenge of an HTTP answer's head (status line and headers, up to
// the blank line): the first Digest challenge with an algorithm we speak,
// else Basic, else none. Values are cut to kMaxChallengeText bytes.
Challenge ReadChallenge(const char* head, std::size_t n);

// The value of the Authorization header for `method` and `uri` (the
// request target). `cnonce` is the client's nonce text; `nonceCount`
// counts the requests made with the challenge's nonce (1 for a request
// that asks afresh, as an HTTP snapshot does; RTSP's requests of one
// session count on).
std::string Authorization(const Challenge& challenge, const std::string& method, const std::string& uri, const std::string& user,
    const std::string& password, const std::string& cnonce, std::uint32_t nonceCount = 1);

constexpr std::size_t kMaxChallengeText = 256;

}
