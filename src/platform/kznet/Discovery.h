#pragma once
// WS-Discovery, the standards' device search: the Probe a search sends to
// the discovery group (or to a camera's discovery port) for network video
// transmitters, and the reader of the ProbeMatches that answer it, turned
// into our camera's search record.
//
// The reader takes a pointer and a length and never reads past it; an
// answer that is not to our probe, malformed or too large gives nothing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kz::onvif {

// The discovery group and port.
constexpr const char* kDiscoveryGroup = "239.255.255.250";
constexpr std::uint16_t kDiscoveryPort = 3702;
// A ProbeMatches message longer than this is dropped unread.
constexpr std::size_t kMaxProbeMatchesBytes = 32 * 1024;
// At most this many matches are read from one message.
constexpr std::size_t kMaxProbeMatches = 16;

// A fresh "urn:uuid:..." (random, version 4).
std::string NewMessageId();
// The Probe for dn:NetworkVideoTransmitter with MessageID `messageId`.
std::string MakeProbe(const std::string& messageId);

struct ProbeMatch {
    std::string endpoint; // EndpointReference Address
    std::string host;     // of the first http:// XAddr with an IPv4 address
    int port = 0;         // its port (80 when it names none)
    std::string name;     // the "onvif://www.onvif.org/name/" scope, decoded; empty when none
};
// The matches of a ProbeMatches message whose RelatesTo is one of
// `messageIds` (the probes a search has sent); matches without a usable
// http:// XAddr are left out.
std::vector<ProbeMatch> ReadProbeMatches(const char* data, std::size_t n, const std::vector<std::string>& messageIds);

// Our search record (the long one) of a match: identifier `id`, the name
// (or the model text "ONVIF" when the camera names none), the address, device
// kind 100, and the HTTP port as both the port and the web port.
std::vector<std::uint8_t> DiscoveryRecord(const ProbeMatch& match, const std::string& id);
// The identifier a match is listed with when no login named the camera: the
// last 12 letters and digits of its endpoint address.
std::string EndpointIdentifier(const std::string& endpoint);

// Identifiers that logins to cameras of the standards reported, by the
// camera's endpoint reference (when it gave one) and by the address and
// web port it was reached at, so that a search finds the camera under the
// identifier its login gave, also after it has moved. Any thread.
void RememberIdentifier(const std::string& endpoint, const std::string& host, int webPort, const std::string& id);
// The identifier of a match: by its endpoint, else by its address.
std::string RememberedIdentifier(const ProbeMatch& match);
}
