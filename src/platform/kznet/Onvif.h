#pragma once
// The library's standards dialect: a standard camera's ONVIF session. A
// road finds out whether an ONVIF device service answers at the page's web
// port (Probe), logs in through it (LogIn) and registers the session, so
// that media channels opened with the same login play its RTSP stream.
//
// Threads: Probe and LogIn run on the road's threads; the registry and a
// session's flags may be used from any thread. A session is shared: the
// registry, its road and its channels each hold it.

#include "kznet/Soap.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kz::onvif {

using Clock = std::chrono::steady_clock;

// Where the device service answers.
constexpr const char* kDevicePath = "/onvif/device_service";
// Time limits of one SOAP exchange (milliseconds).
constexpr int kSoapConnectTimeoutMs = 2000;
constexpr int kSoapAnswerTimeoutMs = 4000;
// The RTSP port of a stream address that names none.
constexpr int kDefaultRtspPort = 554;

// A service address split into what a connection needs.
struct ServiceAddress {
    std::string host;
    int port = 0;
    std::string path;
};

// One HTTP exchange: the answer's HTTP status, head (status line and
// headers) and body.
struct Exchange {
    bool answered = false; // a whole HTTP answer came back
    int status = 0;
    std::string head;
    std::string body;
};
// One HTTP POST of a SOAP envelope.
Exchange Post(const std::string& host, int port, const std::string& path, Request request, const std::string& envelope, Clock::time_point deadline,
    const std::atomic<bool>* cancel);
// The same with the SOAP action given as text.
Exchange Post(const std::string& host, int port, const std::string& path, const std::string& action, const std::string& envelope,
    Clock::time_point deadline, const std::atomic<bool>* cancel);

// One HTTP GET of `path`, with the account if the server asks for one
// (Digest or Basic, as it asks: a 401 answer is asked again once with the
// Authorization its challenge wants).
Exchange GetWithAccount(const ServiceAddress& address, const std::string& user, const std::string& password, Clock::time_point deadline,
    const std::atomic<bool>* cancel);

// "http://host[:port]/path"; false for anything else. A missing port is 80.
bool SplitHttpAddress(const std::string& address, ServiceAddress& out);
// "rtsp://host[:port]/path"; false for anything else. A missing port is 554.
bool SplitRtspAddress(const std::string& address, ServiceAddress& out);
// An "rtsp://" address with `port` put in when it names none; empty for an
// address that is not rtsp://.
std::string WithRtspPort(const std::string& address, int port);

class Session {
public:
    Session(std::string host, int webPort, std::string user, std::string password);

    // Whether an ONVIF device service answers GetSystemDateAndTime at the
    // web port; on true the camera's clock offset is kept.
    bool Probe(Clock::time_point deadline, const std::atomic<bool>* cancel);
    // The login after a successful Probe: device information,
    // capabilities, profiles and the first profile's stream address.
    // A stream address that names no port gets `rtspPort` (554 when 0).
    // Returns the login status the control gets (kz::kLoginOk,
    // kLoginBadAccount, kLoginUnreachable).
    std::int32_t LogIn(int rtspPort, Clock::time_point deadline, const std::atomic<bool>* cancel);

    // Pan and tilt at speeds from -1 to 1 until Stop; false when the camera
    // has no PTZ service or refuses.
    bool Move(double pan, double tilt, Clock::time_point deadline, const std::atomic<bool>* cancel) const;
    bool Stop(Clock::time_point deadline, const std::atomic<bool>* cancel) const;
    bool HasPtz() const { return !m_ptz.host.empty(); }

    // The first profile's snapshot: GetSnapshotUri, then the picture
    // fetched over HTTP with the login's account. Ok only for a JPEG.
    enum class Picture { Ok, Unsupported, Refused, Failed };
    Picture Snapshot(std::string& jpeg, Clock::time_point deadline, const std::atomic<bool>* cancel) const;
    // Where a picture goes: the road that logged in sets it (as our
    // camera's message 116) and clears it when it closes. Any thread.
    using PictureSink = std::function<void(const std::string& jpeg)>;
    void SetPictureSink(PictureSink sink);
    // False when no road takes pictures.
    bool DeliverPicture(const std::string& jpeg) const;

    // A service address the camera named, to be reached at the login's
    // address (the camera's own name for itself may not reach it from here).
    bool Reach(const std::string& xaddr, ServiceAddress& out) const;
    // The services beyond the login's that the camera lists in GetServices
    // (OnvifServices.cpp), asked once per session; an empty host for one it
    // does not list. A camera without GetServices lists none.
    struct Services {
        ServiceAddress media2; // privacy masks
        ServiceAddress search; // recordings
        ServiceAddress replay; // their RTSP addresses
    };
    Services ListServices(Clock::time_point deadline, const std::atomic<bool>* cancel) const;

    const std::string& Host() const { return m_host; }
    int WebPort() const { return m_webPort; }
    const std::string& User() const { return m_user; }
    const std::string& Password() const { return m_password; }
    const DeviceInformation& Device() const { return m_device; }
    // The device's endpoint reference; empty when it does not say.
    const std::string& Endpoint() const { return m_endpoint; }
    const std::vector<Profile>& Profiles() const { return m_profiles; }
    // Where the media, event and analytics services answer (an empty host:
    // the camera has none).
    const ServiceAddress& MediaService() const { return m_media; }
    const ServiceAddress& EventService() const { return m_events; }
    const ServiceAddress& AnalyticsService() const { return m_analytics; }
    // One authenticated request of the login's account to `address`: the
    // envelope around `body` (an XML fragment) with the SOAP action
    // `action`. The status of its answer, which is kept in `answer`. Any
    // thread.
    SoapStatus Send(const ServiceAddress& address, const std::string& action, const std::string& body, std::string& answer,
        Clock::time_point deadline, const std::atomic<bool>* cancel) const;
    // The first profile's RTSP address (with the port filled in).
    const std::string& StreamUri() const { return m_streamUri; }
    long ClockOffsetSeconds() const { return m_clockOffset; }

    // The road's video and sound switches (road commands 1 and 2); live
    // channels deliver sound only while audio is on.
    std::atomic<bool> audioOn { false };
    std::atomic<bool> videoOn { true };

private:
    UsernameToken Token() const;
    // One authenticated request to the service at `address`; the status
    // of its answer (NotAuthorized also for HTTP 401).
    SoapStatus Call(const ServiceAddress& address, Request request, const Fields& fields, std::string& answer, Clock::time_point deadline,
        const std::atomic<bool>* cancel) const;

    const std::string m_host;
    const int m_webPort;
    const std::string m_user;
    const std::string m_password;
    long m_clockOffset = 0; // camera's UTC minus ours, in seconds
    DeviceInformation m_device;
    std::string m_endpoint;
    Capabilities m_capabilities;
    ServiceAddress m_media;
    ServiceAddress m_ptz; // empty host: none
    ServiceAddress m_events;    // empty host: none
    ServiceAddress m_analytics; // empty host: none
    std::vector<Profile> m_profiles;
    std::string m_streamUri;

    mutable std::mutex m_sinkMutex; // guards m_sink
    PictureSink m_sink;

    mutable std::mutex m_servicesMutex; // guards the two below
    mutable bool m_servicesKnown = false;
    mutable Services m_services;
};

// ---- our CGI on a standard camera ----------------------------------------------

// A road pan/tilt code as a PTZ move of the first profile or a stop; false
// when the camera has no PTZ service or refuses.
bool MovePtz(const Session& session, int code, const std::atomic<bool>* cancel);

// The command's name in a CGI text: the value of "cmd=", or the text up to
// the first '&'.
std::string CgiCommandName(const std::string& text);
// The value of `key` in a request target's query ("+" a space, "%XX" the
// byte); empty when absent.
std::string QueryValue(const std::string& target, const std::string& key);

// What our camera would answer to CGI command `command`: the control
// message type (14, 15 or 115) and the CGI_Result text. Pan/tilt commands
// move the camera; the motion grid is the camera's cell motion detector
// (kznet/OnvifAnalytics.h), its size in getProductAllInfo's answer; the
// privacy masks are the camera's Media2 masks (kznet/OnvifMasks.h) and its
// recordings are listed from its search service (kznet/OnvifReplay.h);
// commands without a counterpart are answered "not supported"; a wrong
// account gets our camera's refusal. `request` is the CGI text or request
// target that carries the command's parameters.
struct CgiAnswer {
    int type;
    std::string text;
};
CgiAnswer RelayCgi(const Session& session, const std::string& command, const std::string& request, bool accountOk, const std::atomic<bool>* cancel);

// Sessions of logged-in standard cameras, by address and web port.
void Register(const std::shared_ptr<Session>& session);
void Unregister(const Session* session);
std::shared_ptr<Session> Find(const std::string& host, int webPort);

}
