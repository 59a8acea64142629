// Fuzz entry point: a WS-Discovery answer as the search reads it
// (ProbeMatches of our probe, kFuzzMessageId, into search records), and the
// same bytes as the head of an HTTP 401 answer whose challenge a snapshot
// request answers.

#include "kznet/Discovery.h"
#include "kznet/HttpAuth.h"
#include "kznet/Protocol.h"

#include <cstdlib>

namespace {
// The message id the corpus's answers relate to.
constexpr const char* kFuzzMessageId = "urn:uuid:5f1e2d3c-0000-4000-8000-000000000001";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::onvif;
    const char* text = reinterpret_cast<const char*>(data);
    for (const auto& match : ReadProbeMatches(text, size, { kFuzzMessageId })) {
        auto record = DiscoveryRecord(match, EndpointIdentifier(match.endpoint));
        if (!kz::IsRecordLength(record.size()) || match.port <= 0 || match.port > 65535)
            std::abort();
    }
    Challenge challenge = ReadChallenge(text, size);
    std::string answer = Authorization(challenge, "GET", "/snapshot.jpg", "admin", "secret", "cnonce");
    if (answer.find_first_of("\r\n") != std::string::npos)
        std::abort(); // an answer that would start a header of its own
    return 0;
}
