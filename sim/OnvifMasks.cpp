#include "sim/OnvifMasks.h"
#include "sim/HttpStatus.h"

#include "sim/XmlNames.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

using xml::child;
using xml::localName;

constexpr const char* kMedia2Namespace = "xmlns:tr2=\"http://www.onvif.org/ver20/media/wsdl\" xmlns:tt=\"http://www.onvif.org/ver10/schema\"";
constexpr std::size_t kPointText = 32;

OnvifMasks::Answer ok(const std::string& body)
{
    return { kHttpOk, body, false };
}

OnvifMasks::Answer invalid(const char* subcode, const char* reason)
{
    return { kHttpBadRequest, std::string("<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>") + subcode
                                  + "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" + reason + "</env:Text></env:Reason></env:Fault>",
        true };
}

bool coordinate(const pugi::xml_attribute& attribute, double& out)
{
    const char* text = attribute.value();
    char* end = nullptr;
    out = std::strtod(text, &end);
    return *text && end && *end == '\0' && std::isfinite(out) && out >= -1 && out <= 1;
}

}

std::string OnvifMasks::Describe(const Mask& mask)
{
    std::string out = mask.token;
    for (const auto& [x, y] : mask.points) {
        char point[kPointText];
        std::snprintf(point, sizeof point, " %.2f,%.2f", x, y);
        out += point;
    }
    return out;
}

std::optional<OnvifMasks::Answer> OnvifMasks::Handle(std::string_view operation, const pugi::xml_node& request, std::vector<std::string>& log)
{
    const std::string ns = kMedia2Namespace;
    if (operation == "GetServiceCapabilities")
        return ok("<tr2:GetServiceCapabilitiesResponse " + ns + "><tr2:Capabilities SnapshotUri=\"true\" Mask=\"true\"><tr2:ProfileCapabilities/>"
                  "<tr2:StreamingCapabilities/></tr2:Capabilities></tr2:GetServiceCapabilitiesResponse>");
    if (operation == "GetMaskOptions")
        return ok("<tr2:GetMaskOptionsResponse " + ns + "><tr2:Options RectangleOnly=\"false\" SingleColorOnly=\"true\"><tr2:MaxMasks>"
            + std::to_string(kSimMaxMasks) + "</tr2:MaxMasks><tr2:MaxPoints>" + std::to_string(kSimMaxMaskPoints)
            + "</tr2:MaxPoints><tr2:Types>Color</tr2:Types></tr2:Options></tr2:GetMaskOptionsResponse>");

    std::lock_guard lock(m_mutex);
    auto find = [this](const std::string& token) {
        for (auto it = m_masks.begin(); it != m_masks.end(); ++it)
            if (it->token == token)
                return it;
        return m_masks.end();
    };
    if (operation == "GetMasks") {
        std::string configuration = child(request, "ConfigurationToken").child_value();
        std::string token = child(request, "Token").child_value();
        std::string body = "<tr2:GetMasksResponse " + ns + ">";
        if (configuration.empty() || configuration == kVideoSourceConfigToken) {
            for (const Mask& mask : m_masks) {
                if (!token.empty() && token != mask.token)
                    continue;
                body += "<tr2:Masks token=\"" + mask.token + "\"><tr2:ConfigurationToken>" + kVideoSourceConfigToken
                    + "</tr2:ConfigurationToken><tr2:Polygon>";
                for (const auto& [x, y] : mask.points) {
                    char point[2 * kPointText];
                    std::snprintf(point, sizeof point, "<tt:Point x=\"%.6f\" y=\"%.6f\"/>", x, y);
                    body += point;
                }
                body += "</tr2:Polygon><tr2:Type>Color</tr2:Type><tr2:Enabled>true</tr2:Enabled></tr2:Masks>";
            }
        }
        return ok(body + "</tr2:GetMasksResponse>");
    }
    if (operation == "DeleteMask") {
        auto it = find(child(request, "Token").child_value());
        if (it == m_masks.end())
            return invalid("ter:InvalidArgVal", "No such mask");
        log.push_back("DeleteMask " + it->token);
        m_masks.erase(it);
        return ok("<tr2:DeleteMaskResponse " + ns + "/>");
    }
    if (operation != "CreateMask" && operation != "SetMask")
        return std::nullopt;

    pugi::xml_node maskNode = child(request, "Mask");
    if (std::string(child(maskNode, "ConfigurationToken").child_value()) != kVideoSourceConfigToken)
        return invalid("ter:InvalidArgVal", "No such configuration");
    Mask mask;
    for (pugi::xml_node point = child(maskNode, "Polygon").first_child(); point; point = point.next_sibling()) {
        if (point.type() != pugi::node_element || localName(point) != "Point")
            continue;
        double x = 0, y = 0;
        if (mask.points.size() == kSimMaxMaskPoints || !coordinate(point.attribute("x"), x) || !coordinate(point.attribute("y"), y))
            return invalid("ter:InvalidArgVal", "Bad polygon");
        mask.points.emplace_back(x, y);
    }
    if (mask.points.size() < 3)
        return invalid("ter:InvalidArgVal", "Bad polygon");
    if (operation == "SetMask") {
        auto it = find(maskNode.attribute("token").value());
        if (it == m_masks.end())
            return invalid("ter:InvalidArgVal", "No such mask");
        it->points = mask.points;
        log.push_back("SetMask " + Describe(*it));
        return ok("<tr2:SetMaskResponse " + ns + "/>");
    }
    if (m_masks.size() >= static_cast<std::size_t>(kSimMaxMasks))
        return invalid("ter:MaxMasks", "No room for another mask");
    mask.token = "mask_" + std::to_string(m_next++);
    log.push_back("CreateMask " + Describe(mask));
    m_masks.push_back(mask);
    return ok("<tr2:CreateMaskResponse " + ns + "><tr2:Token>" + mask.token + "</tr2:Token></tr2:CreateMaskResponse>");
}

std::vector<std::string> OnvifMasks::Masks() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const Mask& mask : m_masks)
        out.push_back(Describe(mask));
    return out;
}

}
