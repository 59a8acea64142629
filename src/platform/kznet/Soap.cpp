// ONVIF SOAP requests as templates with named fields, and the readers of
// the answers (pugixml, by local names).

#include "kznet/Soap.h"

#include "kznet/TextParts.h"

#include <nettle/base64.h>
#include <nettle/sha1.h>
#include <pugixml.hpp>

#include <cstring>
#include <string_view>

namespace kz::onvif {

namespace {

using text::localName;
using text::child;

constexpr const char* kEnvelopeOpen =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
    " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\">";
constexpr const char* kEnvelopeClose = "</s:Envelope>";

constexpr const char* kSecurityTemplate =
    "<s:Header>"
    "<wsse:Security s:mustUnderstand=\"1\""
    " xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd\""
    " xmlns:wsu=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd\">"
    "<wsse:UsernameToken>"
    "<wsse:Username>{Username}</wsse:Username>"
    "<wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">{Digest}</wsse:Password>"
    "<wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0#Base64Binary\">{Nonce}</wsse:Nonce>"
    "<wsu:Created>{Created}</wsu:Created>"
    "</wsse:UsernameToken>"
    "</wsse:Security>"
    "</s:Header>";

struct Template {
    Request request;
    const char* action;
    const char* body;
};

constexpr Template kTemplates[] = {
    { Request::GetSystemDateAndTime, "http://www.onvif.org/ver10/device/wsdl/GetSystemDateAndTime", "<tds:GetSystemDateAndTime/>" },
    { Request::GetDeviceInformation, "http://www.onvif.org/ver10/device/wsdl/GetDeviceInformation", "<tds:GetDeviceInformation/>" },
    { Request::GetCapabilities, "http://www.onvif.org/ver10/device/wsdl/GetCapabilities",
        "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>" },
    { Request::GetEndpointReference, "http://www.onvif.org/ver10/device/wsdl/GetEndpointReference", "<tds:GetEndpointReference/>" },
    { Request::GetProfiles, "http://www.onvif.org/ver10/media/wsdl/GetProfiles", "<trt:GetProfiles/>" },
    { Request::GetStreamUri, "http://www.onvif.org/ver10/media/wsdl/GetStreamUri",
        "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport><tt:Protocol>RTSP</tt:Protocol></tt:Transport>"
        "</trt:StreamSetup><trt:ProfileToken>{ProfileToken}</trt:ProfileToken></trt:GetStreamUri>" },
    { Request::GetSnapshotUri, "http://www.onvif.org/ver10/media/wsdl/GetSnapshotUri",
        "<trt:GetSnapshotUri><trt:ProfileToken>{ProfileToken}</trt:ProfileToken></trt:GetSnapshotUri>" },
    { Request::ContinuousMove, "http://www.onvif.org/ver20/ptz/wsdl/ContinuousMove",
        "<tptz:ContinuousMove><tptz:ProfileToken>{ProfileToken}</tptz:ProfileToken><tptz:Velocity><tt:PanTilt x=\"{X}\" y=\"{Y}\"/>"
        "</tptz:Velocity></tptz:ContinuousMove>" },
    { Request::Stop, "http://www.onvif.org/ver20/ptz/wsdl/Stop",
        "<tptz:Stop><tptz:ProfileToken>{ProfileToken}</tptz:ProfileToken><tptz:PanTilt>true</tptz:PanTilt><tptz:Zoom>false</tptz:Zoom></tptz:Stop>" },
};

const Template& templateOf(Request request)
{
    for (const auto& t : kTemplates)
        if (t.request == request)
            return t;
    return kTemplates[0];
}

}

std::string XmlEscape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c; break;
        }
    }
    return out;
}

namespace {

// Replaces every "{Name}" of the template by the escaped field.
std::string fill(std::string_view text, const Fields& fields)
{
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t open = text.find('{', at);
        std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, open - at));
        auto it = fields.find(std::string(text.substr(open + 1, close - open - 1)));
        if (it != fields.end())
            out += XmlEscape(it->second);
        at = close + 1;
    }
    return out;
}

// ---- reading answers by local names ------------------------------------------

// The first element named `name` anywhere under `node` (depth first).
pugi::xml_node find(const pugi::xml_node& node, std::string_view name)
{
    return node.find_node([name](const pugi::xml_node& c) { return c.type() == pugi::node_element && localName(c) == name; });
}

std::string text(const pugi::xml_node& node)
{
    std::string_view value = node.child_value();
    std::size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    std::size_t last = value.find_last_not_of(" \t\r\n");
    value = value.substr(first, last - first + 1);
    return std::string(value.substr(0, kMaxAnswerText));
}

// Numbers of an answer (sizes, rates, parts of a date) are at most this.
constexpr long kMaxAnswerNumber = 1000000;

int number(const pugi::xml_node& node)
{
    std::string value = text(node);
    char* end = nullptr;
    long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || n < 0 || n > kMaxAnswerNumber)
        return 0;
    return static_cast<int>(n);
}

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}

// Loads an answer and finds its Body. A Fault in the body gives its status;
// otherwise `body` is set and the status is Ok.
SoapStatus OpenAnswer(pugi::xml_document& document, const char* data, std::size_t n, pugi::xml_node& body)
{
    if (!data || n == 0)
        return SoapStatus::Malformed;
    if (!document.load_buffer(data, n, pugi::parse_default & ~pugi::parse_doctype))
        return SoapStatus::Malformed;
    pugi::xml_node envelope = document.document_element();
    if (localName(envelope) != "Envelope")
        return SoapStatus::Malformed;
    body = child(envelope, "Body");
    if (!body)
        return SoapStatus::Malformed;
    if (pugi::xml_node fault = child(body, "Fault")) {
        // SOAP 1.2 puts the reason in Code/Subcode/Value (ter:NotAuthorized
        // for a wrong account); WS-Security's own is wsse:FailedAuthentication.
        bool account = static_cast<bool>(fault.find_node([](const pugi::xml_node& c) {
            if (c.type() != pugi::node_element || (localName(c) != "Value" && localName(c) != "faultcode"))
                return false;
            std::string code = text(c);
            return endsWith(code, "NotAuthorized") || endsWith(code, "FailedAuthentication");
        }));
        return account ? SoapStatus::NotAuthorized : SoapStatus::Fault;
    }
    return SoapStatus::Ok;
}


std::string Base64(const std::string& bytes)
{
    std::string out(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
    base64_encode_raw(out.data(), bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    return out;
}

std::string PasswordDigest(const std::string& nonce, const std::string& created, const std::string& password)
{
    sha1_ctx context;
    sha1_init(&context);
    sha1_update(&context, nonce.size(), reinterpret_cast<const std::uint8_t*>(nonce.data()));
    sha1_update(&context, created.size(), reinterpret_cast<const std::uint8_t*>(created.data()));
    sha1_update(&context, password.size(), reinterpret_cast<const std::uint8_t*>(password.data()));
    std::uint8_t digest[SHA1_DIGEST_SIZE];
    sha1_digest(&context, sizeof digest, digest);
    return Base64(std::string(reinterpret_cast<const char*>(digest), sizeof digest));
}

UsernameToken MakeUsernameToken(const std::string& user, const std::string& password, const std::string& nonce, const std::string& created)
{
    return { user, PasswordDigest(nonce, created, password), Base64(nonce), created };
}

std::string UtcText(std::time_t utc)
{
    std::tm parts {};
    gmtime_r(&utc, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

const char* RequestAction(Request request)
{
    return templateOf(request).action;
}

std::string MakeEnvelope(const std::string& body, const UsernameToken* token)
{
    std::string out = kEnvelopeOpen;
    if (token)
        out += fill(kSecurityTemplate, { { "Username", token->user }, { "Digest", token->digest }, { "Nonce", token->nonce }, { "Created", token->created } });
    out += "<s:Body>";
    out += body;
    out += "</s:Body>";
    out += kEnvelopeClose;
    return out;
}

std::string FillTemplate(std::string_view text, const Fields& fields)
{
    return fill(text, fields);
}

std::string RequestBody(Request request, const Fields& fields)
{
    return fill(templateOf(request).body, fields);
}

std::string MakeRequest(Request request, const Fields& fields, const UsernameToken* token)
{
    return MakeEnvelope(RequestBody(request, fields), token);
}

SoapStatus ReadFault(const char* data, std::size_t n)
{
    pugi::xml_document document;
    pugi::xml_node body;
    return OpenAnswer(document, data, n, body);
}

SoapStatus ReadSystemDateAndTime(const char* data, std::size_t n, std::time_t& utc)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node when = find(body, "UTCDateTime");
    pugi::xml_node date = child(when, "Date"), time = child(when, "Time");
    if (!date || !time)
        return SoapStatus::Malformed;
    std::tm parts {};
    parts.tm_year = number(child(date, "Year")) - 1900;
    parts.tm_mon = number(child(date, "Month")) - 1;
    parts.tm_mday = number(child(date, "Day"));
    parts.tm_hour = number(child(time, "Hour"));
    parts.tm_min = number(child(time, "Minute"));
    parts.tm_sec = number(child(time, "Second"));
    if (parts.tm_year < 70 || parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > 31 || parts.tm_hour > 23
        || parts.tm_min > 59 || parts.tm_sec > 60)
        return SoapStatus::Malformed;
    utc = timegm(&parts);
    return SoapStatus::Ok;
}

SoapStatus ReadDeviceInformation(const char* data, std::size_t n, DeviceInformation& out)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(body, "GetDeviceInformationResponse");
    if (!answer)
        return SoapStatus::Malformed;
    out.manufacturer = text(child(answer, "Manufacturer"));
    out.model = text(child(answer, "Model"));
    out.firmware = text(child(answer, "FirmwareVersion"));
    out.serial = text(child(answer, "SerialNumber"));
    out.hardware = text(child(answer, "HardwareId"));
    return SoapStatus::Ok;
}

SoapStatus ReadCapabilities(const char* data, std::size_t n, Capabilities& out)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node capabilities = find(body, "Capabilities");
    if (!capabilities)
        return SoapStatus::Malformed;
    out.media = text(child(child(capabilities, "Media"), "XAddr"));
    out.ptz = text(child(child(capabilities, "PTZ"), "XAddr"));
    out.events = text(child(child(capabilities, "Events"), "XAddr"));
    out.analytics = text(child(child(capabilities, "Analytics"), "XAddr"));
    return SoapStatus::Ok;
}

SoapStatus ReadProfiles(const char* data, std::size_t n, std::vector<Profile>& out)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(body, "GetProfilesResponse");
    if (!answer)
        return SoapStatus::Malformed;
    out.clear();
    for (pugi::xml_node node = answer.first_child(); node && out.size() < kMaxProfiles; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || localName(node) != "Profiles")
            continue;
        Profile profile;
        profile.token = std::string(node.attribute("token").value()).substr(0, kMaxAnswerText);
        if (profile.token.empty())
            continue;
        profile.name = text(child(node, "Name"));
        profile.videoSourceConfiguration = std::string(child(node, "VideoSourceConfiguration").attribute("token").value()).substr(0, kMaxAnswerText);
        if (pugi::xml_node video = child(node, "VideoEncoderConfiguration")) {
            profile.videoEncoding = text(child(video, "Encoding"));
            pugi::xml_node resolution = child(video, "Resolution");
            profile.width = number(child(resolution, "Width"));
            profile.height = number(child(resolution, "Height"));
            profile.frameRate = number(child(child(video, "RateControl"), "FrameRateLimit"));
        }
        if (pugi::xml_node audio = child(node, "AudioEncoderConfiguration"))
            profile.audioEncoding = text(child(audio, "Encoding"));
        out.push_back(std::move(profile));
    }
    return SoapStatus::Ok;
}

SoapStatus ReadEndpointReference(const char* data, std::size_t n, std::string& guid)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    guid = text(child(child(body, "GetEndpointReferenceResponse"), "GUID"));
    return guid.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
}

SoapStatus ReadMediaUri(const char* data, std::size_t n, std::string& uri)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node media = find(body, "MediaUri");
    uri = text(child(media, "Uri"));
    return uri.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
}

}
