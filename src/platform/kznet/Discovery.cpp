// WS-Discovery Probe and ProbeMatches (pugixml, by local names).

#include "kznet/Discovery.h"

#include "kznet/Onvif.h"
#include "kznet/Protocol.h"

#include "kznet/TextParts.h"

#include <arpa/inet.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string_view>

namespace kz::onvif {

namespace {

using text::localName;
using text::child;

constexpr const char* kProbeTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
    " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
    " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
    "<s:Header>"
    "<a:Action s:mustUnderstand=\"1\">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>"
    "<a:MessageID>{MessageID}</a:MessageID>"
    "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>"
    "</s:Header>"
    "<s:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body>"
    "</s:Envelope>";
constexpr const char* kNameScope = "onvif://www.onvif.org/name/";
constexpr const char* kAnonymousName = "ONVIF";
constexpr std::size_t kUuidBytes = 16;
constexpr std::size_t kIdentifierChars = 12;
constexpr std::size_t kMaxRemembered = 64;
constexpr int kHexBase = 16;

std::string text(const pugi::xml_node& node)
{
    std::string_view value = node.child_value();
    std::size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    std::size_t last = value.find_last_not_of(" \t\r\n");
    return std::string(value.substr(first, last - first + 1).substr(0, kMaxAnswerText));
}

std::vector<std::string_view> words(std::string_view all)
{
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t start = all.find_first_not_of(" \t\r\n", at);
        if (start == std::string_view::npos)
            break;
        std::size_t end = all.find_first_of(" \t\r\n", start);
        out.push_back(all.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        at = end == std::string_view::npos ? all.size() : end;
    }
    return out;
}

std::string percentDecoded(std::string_view raw)
{
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(raw.substr(i + 1, 2)), nullptr, kHexBase));
            i += 2;
        } else {
            out += raw[i];
        }
    }
    return out;
}

// At most `bytes` bytes of UTF-8 text, never half a character.
std::string utf8Prefix(const std::string& text, std::size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::mutex& rememberedLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<std::pair<std::string, std::string>>& remembered()
{
    static std::vector<std::pair<std::string, std::string>> entries; // endpoint or "host:port" -> identifier, oldest first
    return entries;
}

}

std::string NewMessageId()
{
    std::random_device random;
    std::uint8_t b[kUuidBytes];
    for (auto& byte : b)
        byte = static_cast<std::uint8_t>(random());
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    char out[64];
    std::snprintf(out, sizeof out, "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1], b[2], b[3], b[4],
        b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

std::string MakeProbe(const std::string& messageId)
{
    std::string probe = kProbeTemplate;
    const std::string field = "{MessageID}";
    std::string escaped;
    for (char c : messageId)
        escaped += c == '<' ? std::string("&lt;") : c == '&' ? std::string("&amp;") : std::string(1, c);
    probe.replace(probe.find(field), field.size(), escaped);
    return probe;
}

std::vector<ProbeMatch> ReadProbeMatches(const char* data, std::size_t n, const std::vector<std::string>& messageIds)
{
    std::vector<ProbeMatch> out;
    if (!data || n == 0 || n > kMaxProbeMatchesBytes || messageIds.empty())
        return out;
    pugi::xml_document document;
    if (!document.load_buffer(data, n, pugi::parse_default & ~pugi::parse_doctype))
        return out;
    pugi::xml_node envelope = document.document_element();
    if (localName(envelope) != "Envelope")
        return out;
    const std::string relatesTo = text(child(child(envelope, "Header"), "RelatesTo"));
    if (relatesTo.empty() || std::find(messageIds.begin(), messageIds.end(), relatesTo) == messageIds.end())
        return out; // an answer to someone else's probe
    pugi::xml_node matches = child(child(envelope, "Body"), "ProbeMatches");
    for (pugi::xml_node node = matches.first_child(); node && out.size() < kMaxProbeMatches; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || localName(node) != "ProbeMatch")
            continue;
        ProbeMatch match;
        match.endpoint = text(child(child(node, "EndpointReference"), "Address"));
        const std::string xaddrs = text(child(node, "XAddrs")), scopes = text(child(node, "Scopes"));
        for (std::string_view xaddr : words(xaddrs)) {
            ServiceAddress address;
            in_addr ipv4 {};
            if (SplitHttpAddress(std::string(xaddr), address) && inet_pton(AF_INET, address.host.c_str(), &ipv4) == 1) {
                match.host = address.host;
                match.port = address.port;
                break;
            }
        }
        if (match.host.empty())
            continue;
        const std::size_t scopeLength = std::strlen(kNameScope);
        for (std::string_view scope : words(scopes))
            if (scope.size() > scopeLength && scope.substr(0, scopeLength) == kNameScope) {
                match.name = percentDecoded(scope.substr(scopeLength));
                break;
            }
        out.push_back(std::move(match));
    }
    return out;
}

std::string EndpointIdentifier(const std::string& endpoint)
{
    std::string letters;
    for (char c : endpoint)
        if (std::isalnum(static_cast<unsigned char>(c)))
            letters += c;
    return letters.size() > kIdentifierChars ? letters.substr(letters.size() - kIdentifierChars) : letters;
}

std::vector<std::uint8_t> DiscoveryRecord(const ProbeMatch& match, const std::string& id)
{
    std::vector<std::uint8_t> record(kRecordLong, 0);
    auto put = [&](std::size_t at, const std::string& value, std::size_t width) {
        std::string cut = utf8Prefix(value, width - 1);
        std::memcpy(&record[at], cut.data(), cut.size());
    };
    put(kRecIdAt, id, kRecIdBytes);
    put(kRecNameAt, match.name.empty() ? kAnonymousName : match.name, kRecNameBytes);
    in_addr address {};
    inet_pton(AF_INET, match.host.c_str(), &address);
    std::memcpy(&record[kRecAddressAt], &address, sizeof address);
    record[kRecEncodingAt] = kRecNameUtf8;
    record[kRecValueAt] = static_cast<std::uint8_t>(kDeviceKind100 & 0xFF);
    record[kRecValueAt + 1] = static_cast<std::uint8_t>(kDeviceKind100 >> 8);
    std::uint16_t port = htons(static_cast<std::uint16_t>(match.port));
    std::memcpy(&record[kRecPortAt], &port, sizeof port);
    std::memcpy(&record[kRecWebPortAt], &port, sizeof port);
    return record;
}

void RememberIdentifier(const std::string& endpoint, const std::string& host, int webPort, const std::string& id)
{
    std::vector<std::string> keys { host + ":" + std::to_string(webPort) };
    if (!endpoint.empty())
        keys.push_back(endpoint);
    std::lock_guard lock(rememberedLock());
    auto& entries = remembered();
    for (const auto& key : keys) {
        std::erase_if(entries, [&](const auto& entry) { return entry.first == key; });
        if (entries.size() >= kMaxRemembered)
            entries.erase(entries.begin());
        entries.emplace_back(key, id);
    }
}

std::string RememberedIdentifier(const ProbeMatch& match)
{
    const std::string address = match.host + ":" + std::to_string(match.port);
    std::lock_guard lock(rememberedLock());
    const auto& entries = remembered();
    for (const std::string& key : { match.endpoint, address }) {
        if (key.empty())
            continue;
        for (const auto& entry : entries)
            if (entry.first == key)
                return entry.second;
    }
    return {};
}

}
