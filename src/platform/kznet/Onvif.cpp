// A standard camera's ONVIF session: SOAP over HTTP POST, the login
// sequence, and the registry of logged-in sessions.

#include "kznet/Onvif.h"

#include "kznet/HttpAuth.h"
#include "kznet/Library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

namespace kz::onvif {

namespace {

constexpr std::size_t kNonceBytes = 16;
constexpr int kReadSliceMs = 100;
constexpr std::size_t kReadChunkBytes = 4096;
constexpr std::size_t kSpeedTextBytes = 16; // a read waits this long before it looks at the cancel flag
constexpr int kHttpUnauthorized = 401;
constexpr int kHttpOk = 200;
constexpr int kDefaultHttpPort = 80;
constexpr const char* kHttpScheme = "http://";
constexpr const char* kRtspScheme = "rtsp://";
constexpr const char* kHeadEnd = "\r\n\r\n";
// The first bytes of every JPEG picture (start of image).
constexpr unsigned char kJpegStart[] = { 0xFF, 0xD8 };

std::string nonce()
{
    std::random_device random;
    std::string bytes(kNonceBytes, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(random());
    return bytes;
}

bool cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load();
}

// "host[:port]" of an address after its scheme, and where its path starts.
bool splitAuthority(const std::string& address, std::size_t from, std::string& host, int& port, std::size_t& pathAt)
{
    pathAt = address.find('/', from);
    std::string authority = address.substr(from, pathAt == std::string::npos ? std::string::npos : pathAt - from);
    if (std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority = authority.substr(at + 1);
    std::size_t colon = authority.rfind(':');
    host = authority.substr(0, colon);
    port = 0;
    if (colon != std::string::npos) {
        std::string digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        port = std::stoi(digits);
        if (port <= 0 || port > 65535)
            return false;
    }
    return !host.empty();
}

std::mutex& registryLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<std::weak_ptr<Session>>& registry()
{
    static std::vector<std::weak_ptr<Session>> sessions;
    return sessions;
}

// Sends `request` (head and body) and reads one whole answer.
Exchange exchange(const std::string& host, int port, const std::string& request, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    Exchange out;
    net::Socket socket;
    int connectMs = static_cast<int>(std::min<long long>(kSoapConnectTimeoutMs,
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count())));
    if (connectMs <= 0 || socket.Connect(host, port, connectMs, cancel) != net::ConnectResult::Ok)
        return out;
    if (!socket.WriteAll(request.data(), request.size()))
        return out;
    std::string raw;
    char buffer[kReadChunkBytes];
    while (!cancelled(cancel)) {
        auto now = Clock::now();
        if (now >= deadline)
            return out;
        long n = socket.ReadSome(buffer, sizeof buffer, std::min(deadline, now + std::chrono::milliseconds(kReadSliceMs)));
        if (n < 0)
            continue; // this slice passed without data
        if (n > 0)
            raw.append(buffer, static_cast<std::size_t>(n));
        if (raw.size() > kMaxHttpResponseBytes)
            return out;
        if (ParseHttpResponse(raw, n == 0, out.status, out.body)) {
            out.answered = true;
            out.head = raw.substr(0, raw.find(kHeadEnd));
            return out;
        }
        if (n == 0)
            return out; // closed before a whole answer
    }
    return out;
}

}

Exchange Post(const std::string& host, int port, const std::string& path, const std::string& action, const std::string& envelope,
    Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    std::string head = "POST " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port)
        + "\r\nContent-Type: application/soap+xml; charset=utf-8; action=\"" + action + "\"\r\nContent-Length: "
        + std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n";
    return exchange(host, port, head + envelope, deadline, cancel);
}

Exchange Post(const std::string& host, int port, const std::string& path, Request request, const std::string& envelope, Clock::time_point deadline,
    const std::atomic<bool>* cancel)
{
    return Post(host, port, path, std::string(RequestAction(request)), envelope, deadline, cancel);
}

Exchange GetWithAccount(const ServiceAddress& address, const std::string& user, const std::string& password, Clock::time_point deadline,
    const std::atomic<bool>* cancel)
{
    auto request = [&](const std::string& authorization) {
        std::string head = "GET " + address.path + " HTTP/1.1\r\nHost: " + address.host + ":" + std::to_string(address.port) + "\r\n";
        if (!authorization.empty())
            head += "Authorization: " + authorization + "\r\n";
        return head + "Connection: close\r\n\r\n";
    };
    Exchange first = exchange(address.host, address.port, request({}), deadline, cancel);
    if (!first.answered || first.status != kHttpUnauthorized)
        return first;
    Challenge challenge = ReadChallenge(first.head.data(), first.head.size());
    if (challenge.scheme == Challenge::Scheme::None)
        return first;
    return exchange(address.host, address.port, request(Authorization(challenge, "GET", address.path, user, password, Base64(nonce()))), deadline,
        cancel);
}

namespace {

// "<scheme>host[:port]/path" into its parts, `defaultPort` where it names none.
bool splitAddress(const std::string& address, const char* schemeText, int defaultPort, ServiceAddress& out)
{
    std::size_t scheme = std::strlen(schemeText);
    if (address.compare(0, scheme, schemeText) != 0 || address.find_first_of(" \r\n") != std::string::npos)
        return false;
    std::size_t pathAt = 0;
    if (!splitAuthority(address, scheme, out.host, out.port, pathAt))
        return false;
    if (out.port == 0)
        out.port = defaultPort;
    out.path = pathAt == std::string::npos ? "/" : address.substr(pathAt);
    return true;
}

}

bool SplitHttpAddress(const std::string& address, ServiceAddress& out)
{
    return splitAddress(address, kHttpScheme, kDefaultHttpPort, out);
}

bool SplitRtspAddress(const std::string& address, ServiceAddress& out)
{
    return splitAddress(address, kRtspScheme, kDefaultRtspPort, out);
}

std::string WithRtspPort(const std::string& address, int port)
{
    std::size_t scheme = std::strlen(kRtspScheme);
    if (address.compare(0, scheme, kRtspScheme) != 0 || address.find_first_of(" \r\n") != std::string::npos)
        return {};
    std::string host;
    int given = 0;
    std::size_t pathAt = 0;
    if (!splitAuthority(address, scheme, host, given, pathAt))
        return {};
    if (given != 0 || port <= 0)
        return address;
    std::size_t authorityEnd = pathAt == std::string::npos ? address.size() : pathAt;
    return address.substr(0, authorityEnd) + ":" + std::to_string(port) + address.substr(authorityEnd);
}

Session::Session(std::string host, int webPort, std::string user, std::string password)
    : m_host(std::move(host)), m_webPort(webPort), m_user(std::move(user)), m_password(std::move(password))
{
}

UsernameToken Session::Token() const
{
    std::time_t now = std::time(nullptr) + m_clockOffset;
    return MakeUsernameToken(m_user, m_password, nonce(), UtcText(now));
}

bool Session::Probe(Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    // Asked without an account: a device service answers this one to anyone,
    // so that a client can set its clock before it signs anything.
    auto sent = std::time(nullptr);
    Exchange answer = Post(m_host, m_webPort, kDevicePath, Request::GetSystemDateAndTime, MakeRequest(Request::GetSystemDateAndTime, {}, nullptr), deadline, cancel);
    std::time_t camera = 0;
    if (!answer.answered || answer.status != kHttpOk || ReadSystemDateAndTime(answer.body.data(), answer.body.size(), camera) != SoapStatus::Ok)
        return false;
    m_clockOffset = static_cast<long>(camera - sent);
    return true;
}

namespace {

// The status of a SOAP answer (NotAuthorized also for HTTP 401); its body
// is kept in `answer`.
SoapStatus answerStatus(Exchange exchange, std::string& answer)
{
    if (!exchange.answered)
        return SoapStatus::Malformed;
    answer = std::move(exchange.body);
    SoapStatus status = ReadFault(answer.data(), answer.size());
    if (status == SoapStatus::Ok && exchange.status != kHttpOk)
        return exchange.status == kHttpUnauthorized ? SoapStatus::NotAuthorized : SoapStatus::Fault;
    if (status == SoapStatus::Malformed && exchange.status == kHttpUnauthorized)
        return SoapStatus::NotAuthorized;
    return status;
}

}

SoapStatus Session::Call(const ServiceAddress& address, Request request, const Fields& fields, std::string& answer, Clock::time_point deadline,
    const std::atomic<bool>* cancel) const
{
    UsernameToken token = Token();
    return answerStatus(Post(address.host, address.port, address.path, request, MakeRequest(request, fields, &token), deadline, cancel), answer);
}

SoapStatus Session::Send(const ServiceAddress& address, const std::string& action, const std::string& body, std::string& answer,
    Clock::time_point deadline, const std::atomic<bool>* cancel) const
{
    if (address.host.empty())
        return SoapStatus::Fault;
    UsernameToken token = Token();
    return answerStatus(Post(address.host, address.port, address.path, action, MakeEnvelope(body, &token), deadline, cancel), answer);
}

bool Session::Reach(const std::string& xaddr, ServiceAddress& out) const
{
    if (!SplitHttpAddress(xaddr, out))
        return false;
    out.host = m_host;
    return true;
}

std::int32_t Session::LogIn(int rtspPort, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    auto failed = [](SoapStatus status) { return status == SoapStatus::NotAuthorized ? kLoginBadAccount : kLoginUnreachable; };
    // Service addresses name the camera as it sees itself; the connection
    // goes to the address the page gave, at the port and path the camera named.
    auto reach = [this](const std::string& xaddr, ServiceAddress& out) { return Reach(xaddr, out); };
    ServiceAddress device { m_host, m_webPort, kDevicePath };
    std::string answer;
    SoapStatus status = Call(device, Request::GetDeviceInformation, {}, answer, deadline, cancel);
    if (status != SoapStatus::Ok || ReadDeviceInformation(answer.data(), answer.size(), m_device) != SoapStatus::Ok)
        return failed(status);

    // Optional (older cameras lack it): what names the camera in its
    // discovery answers wherever it moves.
    if (Call(device, Request::GetEndpointReference, {}, answer, deadline, cancel) != SoapStatus::Ok
        || ReadEndpointReference(answer.data(), answer.size(), m_endpoint) != SoapStatus::Ok)
        m_endpoint.clear();

    status = Call(device, Request::GetCapabilities, {}, answer, deadline, cancel);
    if (status != SoapStatus::Ok || ReadCapabilities(answer.data(), answer.size(), m_capabilities) != SoapStatus::Ok)
        return failed(status);
    ServiceAddress& media = m_media;
    if (!reach(m_capabilities.media, media))
        return kLoginUnreachable; // a camera without a media service has nothing to show
    if (!reach(m_capabilities.ptz, m_ptz))
        m_ptz = {};
    if (!reach(m_capabilities.events, m_events))
        m_events = {};
    if (!reach(m_capabilities.analytics, m_analytics))
        m_analytics = {};

    status = Call(media, Request::GetProfiles, {}, answer, deadline, cancel);
    if (status != SoapStatus::Ok || ReadProfiles(answer.data(), answer.size(), m_profiles) != SoapStatus::Ok)
        return failed(status);
    if (m_profiles.empty())
        return kLoginUnreachable;

    status = Call(media, Request::GetStreamUri, { { "ProfileToken", m_profiles.front().token } }, answer, deadline, cancel);
    std::string uri;
    if (status != SoapStatus::Ok || ReadMediaUri(answer.data(), answer.size(), uri) != SoapStatus::Ok)
        return failed(status);
    m_streamUri = WithRtspPort(uri, rtspPort > 0 ? rtspPort : kDefaultRtspPort);
    return m_streamUri.empty() ? kLoginUnreachable : kLoginOk;
}

bool Session::Move(double pan, double tilt, Clock::time_point deadline, const std::atomic<bool>* cancel) const
{
    if (!HasPtz() || m_profiles.empty())
        return false;
    char x[kSpeedTextBytes], y[kSpeedTextBytes];
    std::snprintf(x, sizeof x, "%.2f", pan);
    std::snprintf(y, sizeof y, "%.2f", tilt);
    std::string answer;
    return Call(m_ptz, Request::ContinuousMove, { { "ProfileToken", m_profiles.front().token }, { "X", x }, { "Y", y } }, answer, deadline, cancel)
        == SoapStatus::Ok;
}

bool Session::Stop(Clock::time_point deadline, const std::atomic<bool>* cancel) const
{
    if (!HasPtz() || m_profiles.empty())
        return false;
    std::string answer;
    return Call(m_ptz, Request::Stop, { { "ProfileToken", m_profiles.front().token } }, answer, deadline, cancel) == SoapStatus::Ok;
}

Session::Picture Session::Snapshot(std::string& jpeg, Clock::time_point deadline, const std::atomic<bool>* cancel) const
{
    if (m_profiles.empty() || m_media.host.empty())
        return Picture::Unsupported;
    std::string answer, uri;
    SoapStatus status = Call(m_media, Request::GetSnapshotUri, { { "ProfileToken", m_profiles.front().token } }, answer, deadline, cancel);
    if (status == SoapStatus::Ok)
        status = ReadMediaUri(answer.data(), answer.size(), uri);
    if (status == SoapStatus::NotAuthorized)
        return Picture::Refused;
    if (status != SoapStatus::Ok)
        return Picture::Unsupported; // a camera without snapshots answers with a Fault
    // As the service addresses: the camera's own name for itself is not
    // what reaches it from here.
    ServiceAddress address;
    if (!SplitHttpAddress(uri, address))
        return Picture::Unsupported;
    address.host = m_host;
    Exchange picture = GetWithAccount(address, m_user, m_password, deadline, cancel);
    if (picture.answered && picture.status == kHttpUnauthorized)
        return Picture::Refused;
    if (!picture.answered || picture.status != kHttpOk || picture.body.size() < sizeof kJpegStart
        || std::memcmp(picture.body.data(), kJpegStart, sizeof kJpegStart) != 0)
        return Picture::Failed;
    jpeg = std::move(picture.body);
    return Picture::Ok;
}

void Session::SetPictureSink(PictureSink sink)
{
    std::lock_guard lock(m_sinkMutex);
    m_sink = std::move(sink);
}

bool Session::DeliverPicture(const std::string& jpeg) const
{
    PictureSink sink;
    {
        std::lock_guard lock(m_sinkMutex);
        sink = m_sink;
    }
    if (!sink)
        return false;
    sink(jpeg);
    return true;
}

void Register(const std::shared_ptr<Session>& session)
{
    std::lock_guard lock(registryLock());
    auto& sessions = registry();
    std::erase_if(sessions, [](const std::weak_ptr<Session>& s) { return s.expired(); });
    sessions.push_back(session);
}

void Unregister(const Session* session)
{
    std::lock_guard lock(registryLock());
    std::erase_if(registry(), [session](const std::weak_ptr<Session>& s) {
        auto live = s.lock();
        return !live || live.get() == session;
    });
}

std::shared_ptr<Session> Find(const std::string& host, int webPort)
{
    std::lock_guard lock(registryLock());
    // The newest session of that camera counts.
    auto& sessions = registry();
    for (auto it = sessions.rbegin(); it != sessions.rend(); ++it)
        if (auto live = it->lock(); live && live->Host() == host && live->WebPort() == webPort)
            return live;
    return nullptr;
}

}
