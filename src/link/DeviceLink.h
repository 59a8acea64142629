#pragma once
// The device link: everything between the control and one camera. It owns
// the login record that the network library reads, the control road (opened,
// replaced and closed), the camera's stored login reply with the device
// kind, the road callback's length filter, the CGI client with the device
// information it learns, the HTTPS-port queries, the network side of the
// screen pan/tilt worker and the device search. Every control message is
// decoded into a typed event and handed to the sink on the page's thread;
// messages 4 and 7 are acted on at once, through the live view.
//
// Work reaches the page's thread through the link's own mailbox: a hidden
// window on that thread, made by Open and destroyed by Close. Without it
// nothing reaches the sink (answers are dropped, as a control without a
// window drops them).
//
// Threads: every operation is for the page's thread unless it says
// otherwise. The road callback runs on the network library's threads, the
// port queries and the pan/tilt worker on their own; they only read
// atomics and copies taken when they started, use a CGI client (which has
// its own lock) and post to the mailbox.
//
// HTTPS-port queries: each has an HTTP client of its own, so that a camera
// that never answers CGI holds neither the page's exchanges nor its end. A
// new RegMy supersedes the query before it: that one's exchange is ended at
// once and it reports nothing from then on.

#include "link/CgiClient.h"
#include "link/DeviceSearch.h"
#include "link/LinkSink.h"
#include "link/LiveView.h"
#include "link/PtzWorker.h"

#include "kznet/kznet.h"
#include "sys/Thread.h"
#include "ui/Window.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devlink {

// What the camera's product information says (getProductAllInfo, message 15).
struct ProductFacts {
    int rows = 0;
    int cols = 0;
    int pt = 0; // the digit of <ptFlag>
    int rs = 0; // the digit of <rs485Flag>
};

// Where an absent <rs485Flag> takes its value from.
enum class Rs485Default { FromPtFlag, Zero };

// The stored login reply: the device identifier with its zero, the device
// name, then the reply record as the camera sent it. The device kind
// overlays bytes 2215-2216 of the reply.
struct LoginReplyArea {
    char deviceId[kz::kReplyDeviceIdBytes + 1];
    char deviceName[kz::kReplyDeviceNameBytes];
    std::uint8_t reply[kz::kLoginReplyBytes];
};

// The page's login, as Login and RegMy take it.
struct Credentials {
    std::string ip;
    std::int32_t port = 0;    // the camera's media and control port
    std::int32_t webport = 0; // its HTTP port
    std::string username;
    std::string passwd;
    std::int32_t streamType = 0;
    std::int32_t groupID = 0;
};

// deviceType 1 (the default) asks the camera for its full product information.
constexpr std::int32_t kDeviceTypeFull = 1;
// RegMy with deviceType 0 forces this stream type.
constexpr std::int16_t kForcedStreamType = 2;
// The HTTPS port learned per instance: instances from 8 up have no slot.
constexpr std::size_t kHttpsPortSlots = 8;
// The device information kept: model name (19 characters and a zero) and
// product text (999 characters and a zero).
constexpr std::size_t kModelNameBytes = 20;
constexpr std::size_t kProductInfoBytes = 1000;
// The longest element text read from a reply.
constexpr std::size_t kElementTextLimit = 19;
// The page's CGI answer: the CGI_Result element, at most 2047 characters.
constexpr std::size_t kPageCgiResultLimit = 2047;
constexpr std::int32_t kNoLoginReply = -1;

class DeviceLink : private ui::WindowHandler, private PtzWorker::Target {
public:
    DeviceLink(LinkSink& sink, LiveView& live);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // The mailbox on the calling thread, and its end: Close also stops the
    // workers and closes the CGI client.
    void Open();
    void Close();
    // Closes the search and the road and stops the workers: after it no
    // callback of the link reaches the live view.
    void Shutdown();

    // ---- login and the road ----
    // Fills the login record and asks for the road (opened on the mailbox's
    // turn, then RoadOpened). False, doing nothing, once a Login or Register
    // has been asked for.
    bool Login(const Credentials& login);
    // The registration: fills the record (deviceType 0 forces stream type 2
    // and the register road), asks for the road or, when one is open, sends
    // 1025 (1026 without an address) on it and returns the connection kind
    // the live view must take; then starts an HTTPS-port query for `self`.
    std::optional<int> Register(const Credentials& login, std::int32_t deviceType, std::int32_t self);
    // With a road open: sends 1026, closes the road, and clears the login
    // record, the stored reply (keeping the device identifier, so that the
    // camera last logged in to can still be found), the model name and the
    // product text. Without one nothing changes. True when a road was open.
    bool Unregister();
    bool HasRoad() const { return m_road.load() != nullptr; }
    // Sends a road command; false, sending nothing, without a road.
    bool SendCommand(int command, std::intptr_t a, std::intptr_t b);
    // The secure byte given to road and channels.
    void SetHttpsFlag(std::uint8_t flag) { m_httpsFlag = flag; }

    // ---- what the link knows ----
    const LoginInfo& Record() const { return *m_login; }
    // The record the media channels are opened with (the library reads it).
    LoginInfo* RecordForChannels() { return m_login.get(); }
    std::int32_t RoadMode() const { return m_roadMode; }
    std::int32_t WebPort() const { return m_webPort; }
    std::int32_t DeviceType() const { return m_deviceType; }
    // The reply-format flag as message 12 set it (0 until then).
    std::uint8_t ReplyFormat() const { return m_replyFormat.load(); }
    // The stored reply: status -1 until a reply came.
    std::int32_t LoginStatus() const;
    void SetLoginStatus(std::int32_t status);
    // The device kind: bytes 2215-2216 of the stored reply as an int16;
    // setting it writes an int32 over 2215-2218.
    int DeviceKind() const;
    void SetDeviceKind(std::int32_t kind);
    const std::uint8_t* StoredReply() const { return m_reply.reply; }
    const char* DeviceId() const { return m_reply.deviceId; }
    // The name field, filled from a successful reply.
    const char* DeviceNameField() const { return m_reply.deviceName; }
    // The reply's own device-name text (at most 255 characters).
    std::string ReplyDeviceName() const;
    const char* ModelName() const { return m_modelName; }
    const char* ProductInfo() const { return m_productInfo; }
    // A product name that equals a row exactly: the camera has no pan/tilt.
    bool IsNoPtzModel(const char* productName) const;
    const std::vector<std::string>& NoPtzModels() const { return m_noPtzModels; }
    std::int32_t KnownHttpsPort(std::int32_t self) const;

    // ---- device information ----
    // A new HTTP client (the post-login start-up), made under the exchange lock.
    void ReplaceHttpClient();
    // getDevInfo over HTTP: true unless the product name rules pan/tilt out.
    bool QueryDevInfo();
    // getProductAllInfo over HTTP.
    std::optional<ProductFacts> QueryProductInfo();
    // A getDevInfo answer (over HTTP or relayed as message 14): the product
    // name becomes the model name; false when it rules pan/tilt out.
    bool TakeDevInfo(std::string_view text);
    // A getProductAllInfo answer (HTTP or message 15) shorter than 1000
    // characters: kept as the product text, its model name taken; nothing
    // for an empty or longer text.
    std::optional<ProductFacts> TakeProductInfo(std::string_view text, Rs485Default rs485);
    // The port of a getPortInfo answer's <httpsPort>, if it has one.
    static std::optional<int> HttpsPortOf(std::string_view text);
    // Keeps the port for `self` and reports it (HttpsPort event); an
    // instance without a slot is dropped.
    void ReportHttpsPort(std::int32_t self, int port);
    // The page's synchronous CGI request: the reply's CGI_Result element, or
    // the empty text (no address, no answer, or `isHttps` 1).
    std::string PageCgiRequest(const std::string& command, std::int32_t isHttps);

    // ---- search ----
    void SearchAll(std::int32_t parameter);
    // Closes the road, then looks for the camera last logged in to.
    void SearchLoggedInDevice(std::int32_t time);

    // ---- screen pan/tilt ----
    void StartPtzWorker();
    // Stops the worker within its bound (an exchange in progress is cut short).
    void StopPtzWorker();
    bool IsPtzWorkerRunning() const { return m_ptz.IsRunning(); }
    // A move in the live window's direction, or (stop) its end, for the worker.
    void PtzMove(bool stop) { m_ptz.Move(stop); }

    // The control-road callback, on the library's threads: acts on 4 and
    // 7, filters, copies and posts the rest to the mailbox. `user` is the link.
    static int RoadCallback(int type, const char* data, void* user, int length);

private:
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    // The road callback's filter as it stands (it follows the reply-format flag).
    bool PassesFilter(int type, int length) const;
    void onOpenRoad(int mode, int kind);
    void onControlMessage(int type, const std::uint8_t* data, int length);
    void storeLoginReply(const std::vector<std::uint8_t>& reply);
    void publishDeviceKind();
    void fillRecord(const Credentials& login);
    void postOpenRoad(int mode, int kind);
    void startPortQuery(std::int32_t self);
    void stopWorkers();

    // PtzWorker::Target, on the worker's thread.
    int BeginPtzMove() override { return m_live.BeginPtzMove(); }
    void EndPtzMove() override { m_live.EndPtzMove(); }
    bool MovesOverRoad() const override { return m_sharedDeviceKind.load() >= kz::kFirstRoadDeviceKind; }
    void SendRoadMove(int code) override;
    bool HasHttpClient() const override { return m_cgi.HasParser(); }
    void ReportDirection(int index) override;

    // A running HTTPS-port query (DeviceLink.cpp).
    struct PortQuery;
    struct RunningQuery {
        std::shared_ptr<PortQuery> query;
        sys::ThreadHandle thread;
    };

    LinkSink& m_sink;
    LiveView& m_live;

    // Page's thread.
    std::unique_ptr<LoginInfo> m_login;
    bool m_loginRequested = false;
    std::int32_t m_webPort = 0;
    std::int32_t m_roadMode = 0;
    std::int32_t m_deviceType = kDeviceTypeFull;
    std::uint8_t m_httpsFlag = 0;
    LoginReplyArea m_reply {};
    char m_modelName[kModelNameBytes] = {};
    char m_productInfo[kProductInfoBytes] = {};
    std::array<std::int32_t, kHttpsPortSlots> m_httpsPorts {};
    std::vector<std::string> m_noPtzModels;
    DeviceSearch m_search;
    std::vector<sys::ThreadHandle> m_closeThreads; // closing replaced roads
    std::vector<RunningQuery> m_portQueries; // the last is current, the others superseded and ending

    // Read by other threads.
    std::atomic<HWND> m_mailbox { nullptr };
    std::atomic<KzHandle> m_road { nullptr };
    std::atomic<std::uint8_t> m_replyFormat { 0 }; // written by the road callback
    std::atomic<int> m_sharedDeviceKind { 0 };     // the device kind, for the pan/tilt worker
    CgiClient m_cgi;
    PtzWorker m_ptz { *this };
};

}
