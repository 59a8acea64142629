#include "sim/OnvifServer.h"
#include "sim/HttpStatus.h"

#include "sim/OnvifAnalytics.h"
#include "sim/OnvifEvents.h"
#include "sim/VideoEncoder.h"

#include "sim/XmlNames.h"

#include <nettle/base64.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <ctime>
#include <string_view>

namespace sim {

namespace {

using xml::child;
using xml::localName;

constexpr const char* kSoapType = "application/soap+xml; charset=utf-8";
constexpr const char* kJpegType = "image/jpeg";
constexpr const char* kVideoSourceToken = "video_source_1";
constexpr const char* kDigestRealm = "camera";
constexpr std::size_t kServerNonceBytes = 16;

constexpr const char* kEnvelopeOpen =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
    " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\">\n<env:Body>";
constexpr const char* kEnvelopeClose = "</env:Body>\n</env:Envelope>\n";

pugi::xml_node firstElement(const pugi::xml_node& node)
{
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            return c;
    return {};
}

std::string escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

std::string envelope(const std::string& body)
{
    return kEnvelopeOpen + body + kEnvelopeClose;
}

OnvifServer::Answer fault(int status, const char* code, const char* subcode, const char* reason)
{
    return { status, envelope(std::string("<env:Fault><env:Code><env:Value>") + code + "</env:Value><env:Subcode><env:Value>" + subcode
                         + "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" + reason
                         + "</env:Text></env:Reason></env:Fault>") };
}

OnvifServer::Answer notAuthorized()
{
    return fault(kHttpBadRequest, "env:Sender", "ter:NotAuthorized", "The action requested requires authorization");
}

std::string base64Decode(const std::string& text)
{
    base64_decode_ctx context;
    base64_decode_init(&context);
    std::string out(BASE64_DECODE_LENGTH(text.size()), '\0');
    std::size_t n = out.size();
    if (!base64_decode_update(&context, &n, reinterpret_cast<std::uint8_t*>(out.data()), text.size(), text.data()) || !base64_decode_final(&context))
        return {};
    out.resize(n);
    return out;
}

std::string digest(const std::string& nonce, const std::string& created, const std::string& password)
{
    sha1_ctx context;
    sha1_init(&context);
    std::string all = nonce + created + password;
    sha1_update(&context, all.size(), reinterpret_cast<const std::uint8_t*>(all.data()));
    std::uint8_t sum[SHA1_DIGEST_SIZE];
    sha1_digest(&context, sizeof sum, sum);
    std::string out(BASE64_ENCODE_RAW_LENGTH(sizeof sum), '\0');
    base64_encode_raw(out.data(), sizeof sum, sum);
    return out;
}

std::string md5Hex(const std::string& text)
{
    md5_ctx context;
    md5_init(&context);
    md5_update(&context, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
    std::uint8_t sum[MD5_DIGEST_SIZE];
    md5_digest(&context, sizeof sum, sum);
    char out[2 * MD5_DIGEST_SIZE + 1];
    for (std::size_t i = 0; i < sizeof sum; ++i)
        std::snprintf(out + 2 * i, 3, "%02x", sum[i]);
    return out;
}

// The parameters of an "Authorization: Digest a=b, c="d"" header.
std::map<std::string, std::string> digestParameters(const std::string& header)
{
    std::map<std::string, std::string> out;
    if (header.rfind("Digest ", 0) != 0)
        return out;
    std::size_t at = 7;
    while (at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ','))
            ++at;
        std::size_t equals = header.find('=', at);
        if (equals == std::string::npos)
            break;
        std::string name = header.substr(at, equals - at);
        std::string value;
        at = equals + 1;
        if (at < header.size() && header[at] == '"') {
            std::size_t close = ++at;
            while (close < header.size() && header[close] != '"')
                close += header[close] == '\\' ? 2 : 1;
            for (std::size_t i = at; i < close && i < header.size(); ++i) {
                if (header[i] == '\\')
                    ++i;
                if (i < header.size())
                    value += header[i];
            }
            at = close + 1;
        } else {
            std::size_t comma = header.find(',', at);
            value = header.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            at = comma == std::string::npos ? header.size() : comma;
        }
        out[name] = value;
    }
    return out;
}

// "2026-12-09T17:30:05Z" (fractions and a zone other than Z are refused).
bool parseUtc(const std::string& text, long& out)
{
    std::tm parts {};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &parts);
    if (!end)
        return false;
    if (*end == '.') {
        ++end;
        while (*end >= '0' && *end <= '9')
            ++end;
    }
    if (std::strcmp(end, "Z") != 0)
        return false;
    out = static_cast<long>(timegm(&parts));
    return true;
}

}

long CameraUtc(const CameraConfig& config)
{
    return static_cast<long>(std::time(nullptr)) + config.clockOffsetSeconds;
}

std::string CameraEndpoint(const CameraConfig& config)
{
    // The identifier's last bytes as the uuid's last 12 hex digits.
    constexpr std::size_t kNodeBytes = 6;
    std::string last = config.deviceId.size() > kNodeBytes ? config.deviceId.substr(config.deviceId.size() - kNodeBytes) : config.deviceId;
    last.insert(0, kNodeBytes - last.size(), '\0');
    std::string node;
    for (unsigned char c : last) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", c);
        node += hex;
    }
    return "urn:uuid:7a1e0000-0000-4000-8000-" + node;
}

OnvifServer::OnvifServer(Camera::State& state, httplib::Server& http)
    : m_state(state), m_events(std::make_unique<EventService>(state)), m_analytics(std::make_unique<AnalyticsService>(state))
{
    std::random_device random;
    for (std::size_t i = 0; i < kServerNonceBytes; ++i)
        m_nonce += "0123456789abcdef"[random() % 16];
    http.Get(kSnapshotPath, [this](const httplib::Request& request, httplib::Response& response) {
        if (!SnapshotAccountOk(request.method, request.target, request.get_header_value("Authorization"))) {
            response.status = kHttpUnauthorized;
            response.set_header("WWW-Authenticate",
                std::string("Digest realm=\"") + kDigestRealm + "\", qop=\"auth\", algorithm=MD5, nonce=\"" + m_nonce + "\"");
            return;
        }
        VideoSettings live;
        {
            std::lock_guard lock(m_state.mutex);
            live = m_state.live;
        }
        auto picture = EncodeJpeg(static_cast<std::uint32_t>(m_state.videoFramesSent.load()), live.width, live.height);
        response.set_content(std::string(picture.begin(), picture.end()), kJpegType);
    });
    for (const char* path : { kOnvifDevicePath, kOnvifMediaPath, kOnvifPtzPath, kOnvifMedia2Path, kOnvifSearchPath, kOnvifReplayPath, kOnvifEventsPath, kOnvifAnalyticsPath }) {
        http.Post(path, [this, path](const httplib::Request& request, httplib::Response& response) {
            Answer answer = Handle(path, request.body);
            response.status = answer.status;
            response.set_content(answer.body, kSoapType);
        });
    }
    // Each event subscription answers at an address of its own.
    http.Post(std::string(kOnvifSubscriptionPath) + "[0-9]+", [this](const httplib::Request& request, httplib::Response& response) {
        Answer answer = Handle(request.path, request.body);
        response.status = answer.status;
        response.set_content(answer.body, kSoapType);
    });
}

OnvifServer::~OnvifServer() = default;

void OnvifServer::SetAlarm(int kind, bool on)
{
    m_events->SetAlarm(kind, on);
}

void OnvifServer::Restart()
{
    m_events->Forget();
}

std::string OnvifServer::ActiveCells() const
{
    return m_analytics->ActiveCells();
}

bool OnvifServer::SnapshotAccountOk(const std::string& method, const std::string& target, const std::string& authorization) const
{
    auto given = digestParameters(authorization);
    if (given["realm"] != kDigestRealm || given["nonce"] != m_nonce || given["uri"] != target)
        return false;
    const bool qop = given["qop"] == "auth";
    if (!qop && given.count("qop"))
        return false;
    for (const auto& account : m_state.config.accounts) {
        if (account.user != given["username"])
            continue;
        std::string ha1 = md5Hex(account.user + ":" + kDigestRealm + ":" + account.password);
        std::string ha2 = md5Hex(method + ":" + target);
        std::string expected = qop ? md5Hex(ha1 + ":" + m_nonce + ":" + given["nc"] + ":" + given["cnonce"] + ":auth:" + ha2)
                                   : md5Hex(ha1 + ":" + m_nonce + ":" + ha2);
        if (expected == given["response"])
            return true;
    }
    return false;
}

OnvifServer::Answer OnvifServer::Handle(const std::string& path, const std::string& request)
{
    const CameraConfig& config = m_state.config;
    pugi::xml_document document;
    if (!document.load_buffer(request.data(), request.size()))
        return fault(kHttpBadRequest, "env:Sender", "ter:WellFormed", "Not well-formed XML");
    pugi::xml_node envelopeNode = document.document_element();
    pugi::xml_node body = child(envelopeNode, "Body");
    pugi::xml_node operationNode = firstElement(body);
    if (localName(envelopeNode) != "Envelope" || !operationNode)
        return fault(kHttpBadRequest, "env:Sender", "ter:InvalidArgs", "No SOAP body");
    std::string operation(localName(operationNode));

    if (path == kOnvifDevicePath && operation == "GetSystemDateAndTime") {
        std::time_t now = CameraUtc(config);
        std::tm t {};
        gmtime_r(&now, &t);
        auto n = [](int v) { return std::to_string(v); };
        return { kHttpOk, envelope("<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>NTP</tt:DateTimeType>"
                                   "<tt:DaylightSavings>false</tt:DaylightSavings><tt:UTCDateTime><tt:Date><tt:Year>"
                              + n(t.tm_year + 1900) + "</tt:Year><tt:Month>" + n(t.tm_mon + 1) + "</tt:Month><tt:Day>" + n(t.tm_mday)
                              + "</tt:Day></tt:Date><tt:Time><tt:Hour>" + n(t.tm_hour) + "</tt:Hour><tt:Minute>" + n(t.tm_min)
                              + "</tt:Minute><tt:Second>" + n(t.tm_sec)
                              + "</tt:Second></tt:Time></tt:UTCDateTime></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>") };
    }

    // Everything else needs an account.
    pugi::xml_node token = child(child(child(envelopeNode, "Header"), "Security"), "UsernameToken");
    std::string user = child(token, "Username").child_value();
    std::string given = child(token, "Password").child_value();
    std::string nonce = base64Decode(child(token, "Nonce").child_value());
    std::string created = child(token, "Created").child_value();
    long createdUtc = 0;
    bool ok = false;
    if (token && parseUtc(created, createdUtc) && std::labs(createdUtc - CameraUtc(config)) <= kTokenSkewSeconds) {
        for (const auto& account : config.accounts)
            ok = ok || (account.user == user && digest(nonce, created, account.password) == given);
    }
    {
        std::lock_guard lock(m_state.mutex);
        if (!ok)
            ++m_state.refused;
        else if (operation == "GetDeviceInformation")
            ++m_state.accepted;
        m_state.Notify();
    }
    if (!ok)
        return notAuthorized();
    auto log = [this](const std::string& entry) {
        std::lock_guard lock(m_state.mutex);
        m_state.onvifLog.push_back(entry);
        m_state.Notify();
    };
    const bool ptz = config.ptFlag != 0;

    const std::string base = "http://" + config.address + ":" + std::to_string(m_state.webPort);
    if (path == kOnvifDevicePath && operation == "GetDeviceInformation") {
        return { kHttpOk, envelope("<tds:GetDeviceInformationResponse><tds:Manufacturer>Tiravex</tds:Manufacturer><tds:Model>" + escape(config.model)
                              + "</tds:Model><tds:FirmwareVersion>1.0.0.1</tds:FirmwareVersion><tds:SerialNumber>" + escape(config.deviceId)
                              + "</tds:SerialNumber><tds:HardwareId>1.0</tds:HardwareId></tds:GetDeviceInformationResponse>") };
    }
    if (path == kOnvifDevicePath && operation == "GetEndpointReference") {
        return { kHttpOk, envelope("<tds:GetEndpointReferenceResponse><tds:GUID>" + CameraEndpoint(config) + "</tds:GUID></tds:GetEndpointReferenceResponse>") };
    }
    if (path == kOnvifDevicePath && operation == "GetCapabilities") {
        return { kHttpOk, envelope("<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>" + base + kOnvifDevicePath
                              + "</tt:XAddr></tt:Device><tt:Media><tt:XAddr>" + base + kOnvifMediaPath
                              + "</tt:XAddr><tt:StreamingCapabilities><tt:RTPMulticast>false</tt:RTPMulticast><tt:RTP_TCP>true</tt:RTP_TCP>"
                                "<tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP></tt:StreamingCapabilities></tt:Media>"
                              + (ptz ? "<tt:PTZ><tt:XAddr>" + base + kOnvifPtzPath + "</tt:XAddr></tt:PTZ>" : std::string())
                              + "<tt:Events><tt:XAddr>" + base + kOnvifEventsPath + "</tt:XAddr><tt:WSSubscriptionPolicySupport>false"
                                "</tt:WSSubscriptionPolicySupport><tt:WSPullPointSupport>true</tt:WSPullPointSupport>"
                                "<tt:WSPausableSubscriptionManagerInterfaceSupport>false</tt:WSPausableSubscriptionManagerInterfaceSupport></tt:Events>"
                              + "<tt:Analytics><tt:XAddr>" + base + kOnvifAnalyticsPath + "</tt:XAddr><tt:RuleSupport>true</tt:RuleSupport>"
                                "<tt:AnalyticsModuleSupport>true</tt:AnalyticsModuleSupport></tt:Analytics>"
                              + "</tds:Capabilities></tds:GetCapabilitiesResponse>") };
    }
    if (path == kOnvifEventsPath || path.rfind(kOnvifSubscriptionPath, 0) == 0) {
        EventService::Answer answer = m_events->Handle(path, operationNode, base);
        return { answer.status, answer.body };
    }
    if (path == kOnvifAnalyticsPath) {
        AnalyticsService::Answer answer = m_analytics->Handle(operationNode);
        return { answer.status, answer.body };
    }
    VideoSettings live;
    {
        std::lock_guard lock(m_state.mutex);
        live = m_state.live;
    }
    if (path == kOnvifMediaPath && operation == "GetProfiles") {
        auto n = [](int v) { return std::to_string(v); };
        return { kHttpOk, envelope(std::string("<trt:GetProfilesResponse><trt:Profiles token=\"") + kProfileToken
                              + "\" fixed=\"true\"><tt:Name>main</tt:Name><tt:VideoSourceConfiguration token=\"source_config_1\"><tt:Name>source</tt:Name>"
                                "<tt:UseCount>1</tt:UseCount><tt:SourceToken>" + kVideoSourceToken + "</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\""
                              + n(live.width) + "\" height=\"" + n(live.height) + "\"/></tt:VideoSourceConfiguration>"
                                "<tt:VideoEncoderConfiguration token=\"video_1\"><tt:Name>video</tt:Name>"
                                "<tt:UseCount>1</tt:UseCount><tt:Encoding>"
                              + (live.codec == Codec::H264 ? "H264" : live.codec == Codec::H265 ? "H265" : "JPEG") + "</tt:Encoding><tt:Resolution><tt:Width>" + n(live.width)
                              + "</tt:Width><tt:Height>" + n(live.height) + "</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality>"
                              + "<tt:RateControl><tt:FrameRateLimit>" + n(live.fps) + "</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval>"
                              + "<tt:BitrateLimit>1024</tt:BitrateLimit></tt:RateControl></tt:VideoEncoderConfiguration>"
                                "<tt:AudioEncoderConfiguration token=\"audio_1\"><tt:Name>audio</tt:Name><tt:UseCount>1</tt:UseCount>"
                                "<tt:Encoding>G711</tt:Encoding><tt:Bitrate>64</tt:Bitrate><tt:SampleRate>8</tt:SampleRate>"
                                "</tt:AudioEncoderConfiguration><tt:VideoAnalyticsConfiguration token=\"" + kAnalyticsToken + "\"><tt:Name>analytics</tt:Name>"
                                "<tt:UseCount>1</tt:UseCount><tt:AnalyticsEngineConfiguration/><tt:RuleEngineConfiguration/>"
                                "</tt:VideoAnalyticsConfiguration></trt:Profiles></trt:GetProfilesResponse>") };
    }
    if (path == kOnvifMediaPath && operation == "GetVideoSources") {
        auto n = [](int v) { return std::to_string(v); };
        return { kHttpOk, envelope(std::string("<trt:GetVideoSourcesResponse><trt:VideoSources token=\"") + kVideoSourceToken + "\"><tt:Framerate>"
                              + n(live.fps) + "</tt:Framerate><tt:Resolution><tt:Width>" + n(live.width) + "</tt:Width><tt:Height>" + n(live.height)
                              + "</tt:Height></tt:Resolution></trt:VideoSources></trt:GetVideoSourcesResponse>") };
    }
    if (path == kOnvifMediaPath && operation == "GetSnapshotUri") {
        if (std::string(child(operationNode, "ProfileToken").child_value()) != kProfileToken)
            return fault(kHttpBadRequest, "env:Sender", "ter:NoProfile", "No such profile");
        return { kHttpOk, envelope("<trt:GetSnapshotUriResponse><trt:MediaUri><tt:Uri>" + base + kSnapshotPath
                              + "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
                                "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri></trt:GetSnapshotUriResponse>") };
    }
    if (path == kOnvifMediaPath && operation == "GetStreamUri") {
        std::string wanted = child(operationNode, "ProfileToken").child_value();
        if (wanted != kProfileToken)
            return fault(kHttpBadRequest, "env:Sender", "ter:NoProfile", "No such profile");
        return { kHttpOk, envelope("<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>rtsp://" + config.address + ":" + std::to_string(m_state.port)
                              + kRtspMountPath + "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
                                "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri></trt:GetStreamUriResponse>") };
    }
    if (path == kOnvifPtzPath && ptz && (operation == "ContinuousMove" || operation == "Stop")) {
        if (std::string(child(operationNode, "ProfileToken").child_value()) != kProfileToken)
            return fault(kHttpBadRequest, "env:Sender", "ter:NoProfile", "No such profile");
        if (operation == "Stop") {
            log(operation);
            return { kHttpOk, envelope("<tptz:StopResponse xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\"/>") };
        }
        pugi::xml_node panTilt = child(child(operationNode, "Velocity"), "PanTilt");
        double x = panTilt.attribute("x").as_double(), y = panTilt.attribute("y").as_double();
        if (!panTilt || x < -1 || x > 1 || y < -1 || y > 1)
            return fault(kHttpBadRequest, "env:Sender", "ter:InvalidArgVal", "Velocity out of range");
        char entry[64];
        std::snprintf(entry, sizeof entry, "ContinuousMove %.2f %.2f", x, y);
        log(entry);
        return { kHttpOk, envelope("<tptz:ContinuousMoveResponse xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\"/>") };
    }
    if (path == kOnvifDevicePath && operation == "GetServices") {
        // Every service, also those GetCapabilities does not name.
        std::string services;
        auto service = [&](const char* space, const char* servicePath) {
            services += std::string("<tds:Service><tds:Namespace>") + space + "</tds:Namespace><tds:XAddr>" + base + servicePath
                + "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version></tds:Service>";
        };
        service("http://www.onvif.org/ver10/device/wsdl", kOnvifDevicePath);
        service("http://www.onvif.org/ver10/media/wsdl", kOnvifMediaPath);
        if (ptz)
            service("http://www.onvif.org/ver20/ptz/wsdl", kOnvifPtzPath);
        if (config.onvifMasks)
            service("http://www.onvif.org/ver20/media/wsdl", kOnvifMedia2Path);
        service("http://www.onvif.org/ver10/events/wsdl", kOnvifEventsPath);
        service("http://www.onvif.org/ver20/analytics/wsdl", kOnvifAnalyticsPath);
        service("http://www.onvif.org/ver10/search/wsdl", kOnvifSearchPath);
        service("http://www.onvif.org/ver10/replay/wsdl", kOnvifReplayPath);
        return { kHttpOk, envelope("<tds:GetServicesResponse>" + services + "</tds:GetServicesResponse>") };
    }
    if (path == kOnvifMedia2Path && config.onvifMasks) {
        std::vector<std::string> changes;
        std::optional<OnvifMasks::Answer> answer = m_masks.Handle(operation, operationNode, changes);
        for (const auto& change : changes)
            log(change);
        if (answer)
            return { answer->status, envelope(answer->body) };
    }
    if (path == kOnvifSearchPath || path == kOnvifReplayPath) {
        const std::string rtspBase = "rtsp://" + config.address + ":" + std::to_string(m_state.port);
        if (auto answer = m_recordings.Handle(config, path == kOnvifSearchPath, operation, operationNode, rtspBase))
            return { answer->status, envelope(answer->body) };
    }
    return fault(kHttpServerError, "env:Receiver", "ter:ActionNotSupported", "Not supported");
}

}
