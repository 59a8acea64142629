// The services a standard camera lists beyond the login's (GetServices on
// the device service): Media2 for privacy masks, recording search and
// replay for the recordings it stores.

#include "kznet/Onvif.h"

#include "kznet/TextParts.h"

#include <pugixml.hpp>

#include <string_view>

namespace kz::onvif {

namespace {

constexpr const char* kGetServicesAction = "http://www.onvif.org/ver10/device/wsdl/GetServices";
constexpr const char* kGetServicesBody =
    "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability></tds:GetServices>";
constexpr std::string_view kMedia2Namespace = "http://www.onvif.org/ver20/media/wsdl";
constexpr std::string_view kSearchNamespace = "http://www.onvif.org/ver10/search/wsdl";
constexpr std::string_view kReplayNamespace = "http://www.onvif.org/ver10/replay/wsdl";

std::string trimmed(const pugi::xml_node& node)
{
    return std::string(text::trim(node.child_value()).substr(0, kMaxAnswerText));
}

}

Session::Services Session::ListServices(Clock::time_point deadline, const std::atomic<bool>* cancel) const
{
    {
        std::lock_guard lock(m_servicesMutex);
        if (m_servicesKnown)
            return m_services;
    }
    Services found;
    std::string answer;
    SoapStatus status = Send({ m_host, m_webPort, kDevicePath }, kGetServicesAction, kGetServicesBody, answer, deadline, cancel);
    if (status != SoapStatus::Ok && status != SoapStatus::Fault)
        return found; // no answer, or a refusal: asked again next time
    pugi::xml_document document;
    if (status == SoapStatus::Ok && document.load_buffer(answer.data(), answer.size(), pugi::parse_default & ~pugi::parse_doctype)) {
        pugi::xml_node response = text::child(text::child(document.document_element(), "Body"), "GetServicesResponse");
        for (pugi::xml_node service = response.first_child(); service; service = service.next_sibling()) {
            if (service.type() != pugi::node_element || text::localName(service) != "Service")
                continue;
            std::string space = trimmed(text::child(service, "Namespace"));
            std::string xaddr = trimmed(text::child(service, "XAddr"));
            ServiceAddress* slot = space == kMedia2Namespace ? &found.media2
                : space == kSearchNamespace                  ? &found.search
                : space == kReplayNamespace                  ? &found.replay
                                                             : nullptr;
            if (slot && slot->host.empty() && !Reach(xaddr, *slot))
                *slot = {};
        }
    }
    std::lock_guard lock(m_servicesMutex);
    m_servicesKnown = true;
    m_services = found;
    return found;
}

}
