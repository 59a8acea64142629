// Device search over UDP: probes go only to the configured targets (never a
// broadcast or a multicast unless a user lists one), answers are checked,
// de-duplicated and handed to the callback on the search's own thread. A
// target at the WS-Discovery port (the discovery group's by default) gets a
// WS-Discovery Probe instead of ours, and its ProbeMatches become our
// search records.

#include "kznet/Discovery.h"
#include "kznet/Library.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <set>
#include <vector>

namespace kz {

std::vector<SearchTarget> ParseSearchTargets(const char* text)
{
    std::vector<SearchTarget> targets;
    if (!text)
        return targets;
    std::string all(text);
    std::size_t at = 0;
    while (at < all.size() && targets.size() < kMaxSearchTargets) {
        std::size_t end = all.find_first_of(", ;", at);
        if (end == std::string::npos)
            end = all.size();
        std::string entry = all.substr(at, end - at);
        at = end + 1;
        if (entry.empty())
            continue;
        SearchTarget target { entry, entry == onvif::kDiscoveryGroup ? onvif::kDiscoveryPort : wire::kDefaultSearchPort };
        std::size_t colon = entry.rfind(':');
        if (colon != std::string::npos) {
            std::string port = entry.substr(colon + 1);
            char* stop = nullptr;
            long value = std::strtol(port.c_str(), &stop, 10);
            if (port.empty() || *stop || value <= 0 || value > 65535)
                continue;
            target.host = entry.substr(0, colon);
            target.port = static_cast<std::uint16_t>(value);
        }
        sockaddr_in check;
        if (target.host.empty() || !net::ResolveIPv4(target.host, target.port, check))
            continue;
        targets.push_back(target);
    }
    return targets;
}

Search::Search(KzSearchCallback callback, void* user, int parameter, int oneDevice)
    : m_callback(callback), m_user(user), m_parameter(parameter), m_oneDevice(oneDevice == kSearchOne)
{
    const char* text = std::getenv(kEnvSearchTargets);
    m_targets = ParseSearchTargets(text && *text ? text : kDefaultSearchTarget);
}

bool Search::Start()
{
    auto self = shared_from_this();
    m_thread = sys::Thread::Start("kz_search", [self] { self->Run(); });
    return m_thread != nullptr;
}

bool ReadSearchAnswer(const std::uint8_t* datagram, std::size_t n, std::uint32_t nonce, const std::uint8_t*& record, std::size_t& length)
{
    if (!datagram || n < wire::kHeaderBytes + wire::kSearchNonceBytes)
        return false;
    wire::Header header;
    if (wire::ParseHeader(datagram, wire::kHeaderBytes, header) != wire::HeaderCheck::Ok || header.kind != wire::Kind::SearchAnswer
        || header.length != n - wire::kHeaderBytes)
        return false;
    const std::uint8_t* payload = datagram + wire::kHeaderBytes;
    if (wire::r32(payload) != nonce)
        return false; // an answer to some other search
    if (!IsRecordLength(header.length - wire::kSearchNonceBytes))
        return false;
    record = payload + wire::kSearchNonceBytes;
    length = header.length - wire::kSearchNonceBytes;
    return true;
}

void Search::Probe(int fd, std::uint32_t nonce, const std::string& messageId)
{
    const std::string discovery = onvif::MakeProbe(messageId);
    std::vector<std::uint8_t> payload;
    wire::w32(payload, nonce);         // nonce
    wire::wi32(payload, m_parameter);  // parameter
    auto datagram = wire::Message(wire::Kind::SearchProbe, payload);
    for (auto& target : m_targets) {
        sockaddr_in address;
        if (!net::ResolveIPv4(target.host, target.port, address))
            continue;
        if (target.port == onvif::kDiscoveryPort)
            ::sendto(fd, discovery.data(), discovery.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        else
            ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
}

void Search::Run()
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        ::close(fd);
        return;
    }
    // A discovery probe to the group stays on the link.
    const int kMulticastHops = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &kMulticastHops, sizeof kMulticastHops);

    // The parameter is the search's length in seconds.
    int seconds = m_parameter <= 0 ? kDefaultSearchSeconds : m_parameter > kMaxSearchSeconds ? kMaxSearchSeconds : m_parameter;
    auto end = net::Clock::now() + std::chrono::seconds(seconds);
    std::uint32_t nonce = std::random_device {}();
    std::vector<std::string> messageIds; // of this search's discovery probes, one each
    std::vector<char> buffer(onvif::kMaxProbeMatchesBytes + 1);
    auto nextProbe = net::Clock::now();
    std::set<std::string> seen;
    constexpr int kSliceMs = 50;

    while (!m_closing.load() && net::Clock::now() < end) {
        if (net::Clock::now() >= nextProbe) {
            messageIds.push_back(onvif::NewMessageId());
            Probe(fd, nonce, messageIds.back());
            nextProbe = net::Clock::now() + std::chrono::milliseconds(kSearchProbeIntervalMs);
        }
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, kSliceMs) <= 0)
            continue;
        sockaddr_in from {};
        socklen_t fromLength = sizeof from;
        // MSG_TRUNC: the datagram's whole length, so that a huge one is seen as such.
        ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n <= 0 || static_cast<std::size_t>(n) > buffer.size())
            continue;
        std::vector<std::vector<std::uint8_t>> records;
        const std::uint8_t* record = nullptr;
        std::size_t length = 0;
        if (ReadSearchAnswer(reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<std::size_t>(n), nonce, record, length)) {
            records.emplace_back(record, record + length);
        } else {
            for (const auto& match : onvif::ReadProbeMatches(buffer.data(), static_cast<std::size_t>(n), messageIds)) {
                std::string id = onvif::RememberedIdentifier(match);
                records.push_back(onvif::DiscoveryRecord(match, id.empty() ? onvif::EndpointIdentifier(match.endpoint) : id));
            }
        }
        bool stop = false;
        for (const auto& found : records) {
            if (!Report(found, seen)) {
                stop = true;
                break;
            }
        }
        if (stop)
            break;
    }
    ::close(fd);
}

bool Search::Report(const std::vector<std::uint8_t>& record, std::set<std::string>& seen)
{
    std::string key(reinterpret_cast<const char*>(record.data()), kRecPortAt + 2);
    if (!seen.insert(key).second)
        return true; // each device once per search
    if (!m_callback)
        return false;
    int r = 0;
    if (!m_gate.Deliver([&] { r = m_callback(kSearchAnswer, reinterpret_cast<const char*>(record.data()), static_cast<int>(record.size()), m_user); }))
        return false;
    return !(m_oneDevice && r == kSearchStop);
}

void Search::Close()
{
    m_closing = true;
    m_gate.Close();
    StopWorker(m_thread);
}

}
