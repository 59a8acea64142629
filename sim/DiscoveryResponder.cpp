#include "sim/DiscoveryResponder.h"

#include "sim/OnvifServer.h"

#include "kznet/Discovery.h"

#include "sim/XmlNames.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pugixml.hpp>
#include <sys/socket.h>

#include <cstdio>
#include <random>
#include <string_view>

namespace sim {

namespace {

using xml::child;
using xml::localName;

constexpr std::size_t kMaxProbeBytes = 8192;
constexpr const char* kVideoTransmitter = "NetworkVideoTransmitter";

std::string uuid()
{
    std::random_device random;
    char out[64];
    std::snprintf(out, sizeof out, "urn:uuid:%08x-%04x-4%03x-a%03x-%08x%04x", random(), random() & 0xFFFF, random() & 0xFFF, random() & 0xFFF, random(),
        random() & 0xFFFF);
    return out;
}

std::string escape(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '<' ? std::string("&lt;") : c == '&' ? std::string("&amp;") : c == '>' ? std::string("&gt;") : std::string(1, c);
    return out;
}

// A scope's value: letters and digits as they are, the rest as %XX.
std::string scopeText(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

}

std::unique_ptr<DiscoveryResponder> DiscoveryResponder::Open(Camera::State& state)
{
    auto socket = Listener::Open(kz::onvif::kDiscoveryGroup, kz::onvif::kDiscoveryPort, SOCK_DGRAM);
    if (!socket)
        return nullptr;
    ip_mreq membership {};
    if (inet_pton(AF_INET, kz::onvif::kDiscoveryGroup, &membership.imr_multiaddr) != 1
        || inet_pton(AF_INET, state.config.address.c_str(), &membership.imr_interface) != 1
        || ::setsockopt(socket->Fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
        return nullptr;
    return std::unique_ptr<DiscoveryResponder>(new DiscoveryResponder(state, std::move(socket), CameraEndpoint(state.config)));
}

std::string DiscoveryResponder::AnswerTo(const char* data, std::size_t n) const
{
    pugi::xml_document document;
    if (n == 0 || n > kMaxProbeBytes || !document.load_buffer(data, n))
        return {};
    pugi::xml_node envelope = document.document_element();
    pugi::xml_node probe = child(child(envelope, "Body"), "Probe");
    std::string messageId = child(child(envelope, "Header"), "MessageID").child_value();
    if (localName(envelope) != "Envelope" || !probe || messageId.empty())
        return {};
    std::string types = child(probe, "Types").child_value();
    if (!types.empty() && types.find(kVideoTransmitter) == std::string::npos)
        return {};
    const CameraConfig& config = m_state.config;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\""
           " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
           " xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
           " xmlns:tdn=\"http://www.onvif.org/ver10/network/wsdl\"><SOAP-ENV:Header>"
           "<wsa:MessageID>" + uuid() + "</wsa:MessageID><wsa:RelatesTo>" + escape(messageId) + "</wsa:RelatesTo>"
           "<wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</wsa:To>"
           "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
           "</SOAP-ENV:Header><SOAP-ENV:Body><wsd:ProbeMatches><wsd:ProbeMatch>"
           "<wsa:EndpointReference><wsa:Address>" + m_endpoint + "</wsa:Address></wsa:EndpointReference>"
           "<wsd:Types>tdn:NetworkVideoTransmitter</wsd:Types>"
           "<wsd:Scopes>onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/name/" + escape(scopeText(config.name))
        + " onvif://www.onvif.org/hardware/" + escape(scopeText(config.model)) + "</wsd:Scopes>"
           "<wsd:XAddrs>http://" + config.address + ":" + std::to_string(m_state.webPort) + kOnvifDevicePath + "</wsd:XAddrs>"
           "<wsd:MetadataVersion>1</wsd:MetadataVersion></wsd:ProbeMatch></wsd:ProbeMatches></SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
}

void DiscoveryResponder::Answer()
{
    char buffer[kMaxProbeBytes];
    sockaddr_in from {};
    socklen_t fromLength = sizeof from;
    ssize_t n = ::recvfrom(m_socket->Fd(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0)
        return;
    std::string answer = AnswerTo(buffer, static_cast<std::size_t>(n));
    if (!answer.empty())
        ::sendto(m_socket->Fd(), answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
}

}
