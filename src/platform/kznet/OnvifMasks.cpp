// Privacy masks on a standard camera (Media2 GetMasks, CreateMask, SetMask,
// DeleteMask) as the mask editor's rectangles.

#include "kznet/OnvifMasks.h"

#include "kznet/Protocol.h"
#include "kznet/TextParts.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace kz::onvif {

namespace {

using text::child;
using text::localName;

// A mask request may take this long, each.
constexpr int kMaskRequestTimeoutMs = 4000;
constexpr int kHalfScale = kMaskScale / 2;
constexpr std::size_t kPointTextBytes = 32;

constexpr const char* kMedia2Action = "http://www.onvif.org/ver20/media/wsdl/";
#define TR2_NAMESPACE "xmlns:tr2=\"http://www.onvif.org/ver20/media/wsdl\""
constexpr const char* kGetServiceCapabilitiesBody = "<tr2:GetServiceCapabilities " TR2_NAMESPACE "/>";
constexpr const char* kGetMasksBody = "<tr2:GetMasks " TR2_NAMESPACE "><tr2:ConfigurationToken>{Configuration}</tr2:ConfigurationToken></tr2:GetMasks>";
constexpr const char* kDeleteMaskBody = "<tr2:DeleteMask " TR2_NAMESPACE "><tr2:Token>{Token}</tr2:Token></tr2:DeleteMask>";
// The mask itself: {Points} is a list of tt:Point elements made here.
constexpr const char* kCreateMaskBody =
    "<tr2:CreateMask " TR2_NAMESPACE "><tr2:Mask><tr2:ConfigurationToken>{Configuration}</tr2:ConfigurationToken><tr2:Polygon>{Points}</tr2:Polygon>"
    "<tr2:Type>Color</tr2:Type><tr2:Enabled>true</tr2:Enabled></tr2:Mask></tr2:CreateMask>";
constexpr const char* kSetMaskBody =
    "<tr2:SetMask " TR2_NAMESPACE "><tr2:Mask token=\"{Token}\"><tr2:ConfigurationToken>{Configuration}</tr2:ConfigurationToken><tr2:Polygon>{Points}</tr2:Polygon>"
    "<tr2:Type>Color</tr2:Type><tr2:Enabled>true</tr2:Enabled></tr2:Mask></tr2:SetMask>";

// The Areas text's names of rectangle i's corners.
constexpr const char* kCorners[] = { "x1_", "y1_", "x2_", "y2_" };

constexpr const char* kEmptyPolygon = "<tr2:Polygon></tr2:Polygon>";

// Fills a template, its fields escaped; the points, made here, go into
// the polygon as they are.
std::string body(const char* templ, const Fields& fields, const std::string& points = {})
{
    std::string out = FillTemplate(templ, fields);
    if (std::size_t at = out.find(kEmptyPolygon); at != std::string::npos)
        out.replace(at, std::strlen(kEmptyPolygon), "<tr2:Polygon>" + points + "</tr2:Polygon>");
    return out;
}

std::string pointsText(const std::vector<MaskPoint>& polygon)
{
    std::string out;
    for (const MaskPoint& p : polygon) {
        char x[kPointTextBytes], y[kPointTextBytes];
        std::snprintf(x, sizeof x, "%.4f", p.x);
        std::snprintf(y, sizeof y, "%.4f", p.y);
        out += std::string("<tt:Point xmlns:tt=\"http://www.onvif.org/ver10/schema\" x=\"") + x + "\" y=\"" + y + "\"/>";
    }
    return out;
}

// A coordinate: a number in -1..1, nothing else.
bool coordinate(const char* text, double& out)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text, &end);
    return errno == 0 && *text::trim(end).data() == '\0' && std::isfinite(out) && out >= -1.0 && out <= 1.0;
}

int clampScale(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, 0, kMaskScale));
}

int toEditorX(double x)
{
    return clampScale(std::llround((x + 1.0) * kHalfScale));
}

int toEditorY(double y)
{
    return clampScale(std::llround((1.0 - y) * kHalfScale));
}

double toCameraX(int x)
{
    return static_cast<double>(x) / kHalfScale - 1.0;
}

double toCameraY(int y)
{
    return 1.0 - static_cast<double>(y) / kHalfScale;
}

int resultOf(SoapStatus status)
{
    return status == SoapStatus::NotAuthorized ? kz::cgi::kResultBadAccount : kz::cgi::kResultFailed;
}

}

MaskRect RectOfPolygon(const std::vector<MaskPoint>& polygon)
{
    if (polygon.empty())
        return {};
    double left = polygon.front().x, right = left, top = polygon.front().y, bottom = top;
    for (const MaskPoint& p : polygon) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::max(top, p.y);
        bottom = std::min(bottom, p.y);
    }
    return { toEditorX(left), toEditorY(top), toEditorX(right), toEditorY(bottom) };
}

std::vector<MaskPoint> PolygonOfRect(const MaskRect& r)
{
    const double left = toCameraX(r.x1), right = toCameraX(r.x2), top = toCameraY(r.y1), bottom = toCameraY(r.y2);
    return { { left, top }, { right, top }, { right, bottom }, { left, bottom } };
}

SoapStatus ReadMasks(const char* data, std::size_t n, std::vector<Mask>& out)
{
    pugi::xml_document document;
    pugi::xml_node bodyNode;
    if (SoapStatus status = OpenAnswer(document, data, n, bodyNode); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(bodyNode, "GetMasksResponse");
    if (!answer)
        return SoapStatus::Malformed;
    out.clear();
    for (pugi::xml_node node = answer.first_child(); node && out.size() < kMaxMasks; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || localName(node) != "Masks")
            continue;
        Mask mask;
        mask.token = std::string(node.attribute("token").value()).substr(0, kMaxAnswerText);
        mask.configuration = std::string(text::trim(child(node, "ConfigurationToken").child_value()).substr(0, kMaxAnswerText));
        if (mask.token.empty())
            return SoapStatus::Malformed;
        for (pugi::xml_node point = child(node, "Polygon").first_child(); point; point = point.next_sibling()) {
            if (point.type() != pugi::node_element || localName(point) != "Point")
                continue;
            if (mask.polygon.size() == kMaxMaskPoints)
                return SoapStatus::Malformed;
            MaskPoint p;
            if (!coordinate(point.attribute("x").value(), p.x) || !coordinate(point.attribute("y").value(), p.y))
                return SoapStatus::Malformed;
            mask.polygon.push_back(p);
        }
        if (mask.polygon.size() < kMinMaskPoints)
            return SoapStatus::Malformed;
        out.push_back(std::move(mask));
    }
    return SoapStatus::Ok;
}

SoapStatus ReadCreatedMask(const char* data, std::size_t n, std::string& token)
{
    pugi::xml_document document;
    pugi::xml_node bodyNode;
    if (SoapStatus status = OpenAnswer(document, data, n, bodyNode); status != SoapStatus::Ok)
        return status;
    token = std::string(text::trim(child(child(bodyNode, "CreateMaskResponse"), "Token").child_value()).substr(0, kMaxAnswerText));
    return token.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
}

SoapStatus ReadMaskCapability(const char* data, std::size_t n, bool& masks)
{
    pugi::xml_document document;
    pugi::xml_node bodyNode;
    if (SoapStatus status = OpenAnswer(document, data, n, bodyNode); status != SoapStatus::Ok)
        return status;
    pugi::xml_node capabilities = child(child(bodyNode, "GetServiceCapabilitiesResponse"), "Capabilities");
    if (!capabilities)
        return SoapStatus::Malformed;
    // The Mask attribute sits on the capabilities or on their
    // ProfileCapabilities, as cameras of either schema version put it.
    std::string_view value = capabilities.attribute("Mask").value();
    if (value.empty())
        value = child(capabilities, "ProfileCapabilities").attribute("Mask").value();
    masks = value == "true" || value == "1";
    return SoapStatus::Ok;
}

std::vector<MaskRect> RectsOfQuery(const std::string& query)
{
    std::string target = query.empty() || query.front() != '?' ? "?" + query : query;
    std::vector<MaskRect> out;
    if (QueryValue(target, kCgiMaskEnable) == "0")
        return out;
    for (int i = 0; i < kMaskSlots; ++i) {
        int v[std::size(kCorners)];
        for (std::size_t k = 0; k < std::size(kCorners); ++k) {
            std::string value = QueryValue(target, kCorners[k] + std::to_string(i));
            char* end = nullptr;
            errno = 0;
            long long n = std::strtoll(value.c_str(), &end, 10);
            v[k] = value.empty() || *end || errno ? 0 : clampScale(n);
        }
        MaskRect r { v[0], v[1], v[2], v[3] };
        if (!r.Empty())
            out.push_back(r);
    }
    return out;
}

std::string MaskFields(const std::vector<MaskRect>& rects)
{
    std::string out = std::string("<") + kCgiMaskEnable + ">" + (rects.empty() ? "0" : "1") + "</" + kCgiMaskEnable + ">";
    for (int i = 0; i < kMaskSlots; ++i) {
        MaskRect r = static_cast<std::size_t>(i) < rects.size() ? rects[static_cast<std::size_t>(i)] : MaskRect {};
        const int values[] = { r.x1, r.y1, r.x2, r.y2 };
        for (std::size_t k = 0; k < std::size(kCorners); ++k) {
            std::string name = kCorners[k] + std::to_string(i);
            out += "<" + name + ">" + std::to_string(values[k]) + "</" + name + ">";
        }
    }
    return out;
}

bool RelayMaskCgi(const Session& session, const std::string& command, const std::string& query, int& result, std::string& fields,
    const std::atomic<bool>* cancel)
{
    using namespace kz::cgi;
    const bool get = command == kCgiGetPrivacyMask;
    if (!get && command != kCgiSetPrivacyMask)
        return false;
    auto finish = [&](int r, const std::vector<MaskRect>& rects) {
        result = r;
        fields = get && r == kResultOk ? MaskFields(rects) : std::string();
        return true;
    };
    auto deadline = [] { return Clock::now() + std::chrono::milliseconds(kMaskRequestTimeoutMs); };
    Session::Services services = session.ListServices(deadline(), cancel);
    if (services.media2.host.empty() || session.Profiles().empty())
        return finish(kResultUnsupported, {});
    const ServiceAddress& media2 = services.media2;
    auto call = [&](const char* operation, const std::string& requestBody, std::string& answer) {
        return session.Send(media2, std::string(kMedia2Action) + operation, requestBody, answer, deadline(), cancel);
    };
    std::string answer;
    bool hasMasks = false;
    SoapStatus status = call("GetServiceCapabilities", body(kGetServiceCapabilitiesBody, {}), answer);
    if (status == SoapStatus::Ok)
        status = ReadMaskCapability(answer.data(), answer.size(), hasMasks);
    if (status == SoapStatus::NotAuthorized)
        return finish(kResultBadAccount, {});
    if (status != SoapStatus::Ok || !hasMasks)
        return finish(kResultUnsupported, {});

    const std::string configuration = session.Profiles().front().videoSourceConfiguration;
    std::vector<Mask> masks;
    status = call("GetMasks", body(kGetMasksBody, { { "Configuration", configuration } }), answer);
    if (status == SoapStatus::Ok)
        status = ReadMasks(answer.data(), answer.size(), masks);
    if (status != SoapStatus::Ok)
        return finish(resultOf(status), {});
    std::vector<MaskRect> current;
    for (const Mask& mask : masks)
        if (mask.configuration.empty() || configuration.empty() || mask.configuration == configuration)
            current.push_back(RectOfPolygon(mask.polygon));
    if (get) {
        current.resize(std::min<std::size_t>(current.size(), kMaskSlots));
        return finish(kResultOk, current);
    }

    // The camera's masks, in its order, take the rectangles in the editor's
    // order: one that already has its rectangle stays as it is, another is
    // moved, and those left over are deleted or created.
    const std::vector<MaskRect> wanted = RectsOfQuery(query);
    std::size_t slot = 0;
    for (const Mask& mask : masks) {
        if (!(mask.configuration.empty() || configuration.empty() || mask.configuration == configuration))
            continue;
        const std::size_t i = slot++;
        if (i < wanted.size() && RectOfPolygon(mask.polygon) == wanted[i])
            continue;
        if (i < wanted.size())
            status = call("SetMask", body(kSetMaskBody, { { "Token", mask.token }, { "Configuration", configuration } }, pointsText(PolygonOfRect(wanted[i]))), answer);
        else
            status = call("DeleteMask", body(kDeleteMaskBody, { { "Token", mask.token } }), answer);
        if (status != SoapStatus::Ok)
            return finish(resultOf(status), {});
    }
    for (std::size_t i = slot; i < wanted.size(); ++i) {
        std::string token;
        status = call("CreateMask", body(kCreateMaskBody, { { "Configuration", configuration } }, pointsText(PolygonOfRect(wanted[i]))), answer);
        if (status == SoapStatus::Ok)
            status = ReadCreatedMask(answer.data(), answer.size(), token);
        if (status != SoapStatus::Ok)
            return finish(resultOf(status), {});
    }
    return finish(kResultOk, {});
}

}
