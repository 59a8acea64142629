#pragma once
// Inside of the network library: the objects behind the handles, and the
// handle table. Not for callers of the library.
//
// Ownership: each open handle is one shared object in the handle table; the
// object's worker thread holds its own reference, so a worker that outlives
// a bounded close still has valid state. A handle is removed from the table
// when it is closed; any later call with it does nothing.

#include "kznet/Socket.h"
#include "kznet/kznet.h"

#include "sys/Thread.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <set>
#include <string>
#include <deque>
#include <vector>

namespace kz {

namespace onvif {
class Session;
}

// Time limits (milliseconds).
constexpr int kConnectTimeoutMs = 3000;       // TCP connect of a road or media channel
constexpr int kLoginReplyTimeoutMs = 5000;    // from connect to the camera's login reply
constexpr int kDefaultLinkTimeoutMs = 10000;  // silence after which a link counts as lost
constexpr int kCloseWaitMs = 300;             // a close waits this long for the worker
constexpr int kHttpConnectTimeoutMs = 2000;
constexpr int kHttpResponseUnitMs = 10;       // kz_httpResponse's time-out is in units of 10 ms
constexpr int kHttpResponseMaxMs = 30000;
constexpr int kDefaultSearchSeconds = 3;
constexpr int kMaxSearchSeconds = 60;
constexpr int kSearchProbeIntervalMs = 1000;
constexpr std::size_t kMaxSearchTargets = 64;
constexpr std::size_t kMaxPendingCommands = 64;
constexpr std::size_t kMaxHttpRequestBytes = 8192;
constexpr std::size_t kMaxHttpResponseBytes = 1024 * 1024;

// Reasons passed with media status 1, link lost (the 32-bit result the
// status points to).
constexpr int kLostClosed = 0;
constexpr int kLostTimedOut = 1;
constexpr int kLostMalformed = 2;
constexpr int kLostUnreachable = 3;

// The standards road: how long the ONVIF probe and the ONVIF login may take.
constexpr int kStandardsProbeTimeoutMs = kLoginReplyTimeoutMs;
constexpr int kStandardsLoginTimeoutMs = 10000;

// Environment: the link time-out (TIRAVEX_LINK_TIMEOUT_MS, for tests) and
// the search targets (TIRAVEX_SEARCH_TARGETS).
constexpr const char* kEnvLinkTimeout = "TIRAVEX_LINK_TIMEOUT_MS";
constexpr const char* kEnvSearchTargets = "TIRAVEX_SEARCH_TARGETS";
constexpr const char* kDefaultSearchTarget = "127.0.0.1";
int LinkTimeoutMs();

// Table of live handles of one object type. Handles are numbers that are
// never given out twice, so a stale handle can never reach a newer object.
template<typename T> class HandleTable {
public:
    explicit HandleTable(std::uintptr_t tag) : m_tag(tag) { }
    KzHandle Add(std::shared_ptr<T> object)
    {
        std::lock_guard lock(m_mutex);
        KzHandle handle = reinterpret_cast<KzHandle>((++m_next << kHandleTagBits) | m_tag);
        m_objects[handle] = std::move(object);
        return handle;
    }
    std::shared_ptr<T> Find(KzHandle handle)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(handle);
        return it == m_objects.end() ? nullptr : it->second;
    }
    std::shared_ptr<T> Remove(KzHandle handle)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(handle);
        if (it == m_objects.end())
            return nullptr;
        auto object = std::move(it->second);
        m_objects.erase(it);
        return object;
    }

private:
    static constexpr int kHandleTagBits = 4;
    const std::uintptr_t m_tag; // which kind of object; a handle of one kind is never found in another table
    std::mutex m_mutex;
    std::uintptr_t m_next = 0;
    std::map<KzHandle, std::shared_ptr<T>> m_objects;
};

// Stops a worker: the caller has already asked it to end; waits a bounded
// time, then lets it run on by itself. Never waits for the calling thread.
void StopWorker(sys::ThreadHandle& thread);

// Guards callback delivery of one object: its worker runs each callback
// through Deliver, and Close marks the object closed and waits (at most
// kCloseWaitMs) for a running callback to return, so that no callback starts
// after Close returns. Close from inside a callback does not wait for itself.
class DeliveryGate {
public:
    // Runs f() unless closed; false when closed.
    template<typename F> bool Deliver(F f)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_closed)
                return false;
            ++m_running;
            m_owner = std::this_thread::get_id();
        }
        f();
        std::lock_guard lock(m_mutex);
        --m_running;
        m_idle.notify_all();
        return true;
    }
    void Close();

private:
    std::mutex m_mutex; // guards the fields below
    std::condition_variable m_idle;
    bool m_closed = false;
    int m_running = 0;
    std::thread::id m_owner;
};

// ---- the connection of a road or media channel ------------------------------

// The TCP link of a road or a media channel, shared by its callers and its
// worker thread. Messages sent before the worker has connected are kept (at
// most kMaxPendingCommands) and go out right behind the worker's first
// message; every write happens under one lock. Close is prompt: it releases
// a writer blocked on a peer that does not read, then waits a bounded time
// for a running callback (DeliveryGate) and for the worker (StopWorker).
class Link {
public:
    // Starts the worker thread `name`, which runs `run`.
    bool Start(const char* name, std::function<void()> run);
    // Callers: writes one message, or keeps it until the worker has
    // connected; false once closing, when too many are kept, or when the
    // write fails.
    bool Send(wire::Kind kind, const std::vector<std::uint8_t>& payload);
    // Worker: connects, giving up early once Close has been called.
    net::ConnectResult Connect(const std::string& host, int port) { return m_socket.Connect(host, port, kConnectTimeoutMs, &m_closing); }
    // Worker: writes `first` (a whole message) and then the kept messages;
    // from then on Send writes at once.
    void Begin(const std::vector<std::uint8_t>& first);
    // Worker: the connection has ended; shuts the socket down.
    void End();
    // Worker: runs the callback f() unless the link is closed.
    template<typename F> bool Deliver(F f) { return m_gate.Deliver(f); }
    bool Closing() const { return m_closing.load(); }
    net::Socket& Socket() { return m_socket; }
    // Any thread but the worker's callback may wait for: see above.
    void Close();

private:
    net::Socket m_socket;
    std::atomic<bool> m_closing { false };
    DeliveryGate m_gate;
    sys::ThreadHandle m_thread;

    std::mutex m_sendMutex; // guards the two fields below and every write
    bool m_connected = false;
    std::vector<std::vector<std::uint8_t>> m_pending; // whole messages sent before the first one went out
};

// ---- control road ----------------------------------------------------------

// A road speaks one of two dialects, found out at login: ours, or the
// standards (an ONVIF device service at the login's web port, RTSP media).
// Both are tried at once: our login goes out on the road's port while a
// probe asks the web port for the ONVIF clock. Whichever answers first in
// its own dialect decides; our camera's reply is never held for the probe.
// On the standards road the library makes the control messages itself, in
// the same records our camera sends.
class Road : public std::enable_shared_from_this<Road> {
public:
    Road(int mode, const LoginInfo& login, KzCtrlCallback callback, void* user, unsigned char secure);
    bool Start();
    int Post(int command, std::intptr_t a, std::intptr_t b);
    void Close();

private:
    enum class Dialect { Unknown, Ours, Standards, NotStandards };

    void Run();
    void Deliver(int type, const std::uint8_t* data, std::size_t n);
    void DeliverLoginFailure(std::int32_t status);
    // The probe's thread: asks the web port for the ONVIF clock.
    void Probe();
    // Our road has read a message of ours: false when the probe has
    // already decided for the standards.
    bool ClaimOurs();
    // Our road could not log in: waits for the probe's answer; true when
    // an ONVIF device service answered.
    bool WaitForStandards();
    // The standards road: ONVIF login, the login reply and the records our
    // camera sends after it, then the commands until the road closes.
    void RunStandards();
    void HandleStandardCommand(const wire::CommandRequest& command);
    // A CGI text as our camera would answer it (messages 14, 15, 115).
    void AnswerCgi(const std::string& text);

    const int m_mode;
    const LoginInfo m_login;
    const KzCtrlCallback m_callback;
    void* const m_user;
    const unsigned char m_secure;
    const std::shared_ptr<onvif::Session> m_session; // the standards dialect's, registered once logged in

    Link m_link; // commands posted before the login went out wait in it
    std::atomic<bool> m_stopping { false }; // set by Close: ends connects, probes and SOAP exchanges
    sys::ThreadHandle m_probeThread;

    std::mutex m_dialectMutex; // guards the fields below
    std::condition_variable m_dialectChanged;
    Dialect m_dialect = Dialect::Unknown;
    bool m_probeDone = false;
    std::deque<wire::CommandRequest> m_commands; // for the standards road's thread
};

// ---- media channel --------------------------------------------------------

// A media channel behind a handle, of either dialect.
class Channel {
public:
    virtual ~Channel() = default;
    virtual int Control(const wire::MediaControl& control) = 0;
    virtual int Talk(const char* data, int size) = 0;
    virtual void Close() = 0;
};

class Media : public Channel, public std::enable_shared_from_this<Media> {
public:
    Media(const wire::OpenRequest& request, const LoginInfo& login, KzStatusCallback status, KzFrameCallback frame, void* user);
    bool Start();
    int Control(const wire::MediaControl& control) override;
    int Talk(const char* data, int size) override;
    void Close() override;

private:
    void Run();
    void ReportLost(int reason);
    void OnStatus(const std::uint8_t* data, std::size_t n);
    void OnFrame(const std::uint8_t* data, std::size_t n);

    const wire::OpenRequest m_request;
    const std::string m_host;
    const int m_port;
    const int m_id; // window id, the low 16 bits of the tag sign-extended
    const KzStatusCallback m_status;
    const KzFrameCallback m_frame;
    void* const m_user;

    Link m_link; // controls and talk sent before the open went out wait in it
};

// A standard camera's RTSP stream at `url` as a media channel, with the
// login's account (Digest, or Basic where the camera asks for it); the
// same status and frame callbacks as ours. `session` (may be null) is the
// road's: its audio switch gates the sound. Null when it cannot start.
std::shared_ptr<Channel> StartRtspMedia(const std::string& url, std::shared_ptr<onvif::Session> session, const wire::OpenRequest& request,
    KzStatusCallback status, KzFrameCallback frame, void* user);

// Whether a playback address names a recording on a standard camera
// (OnvifReplay.h); StartReplay plays it, with the same status and frame
// callbacks as our camera's playback. Null when it cannot start.
bool IsRecordingPath(const std::string& address);
std::shared_ptr<Channel> StartReplay(const std::string& path, std::shared_ptr<onvif::Session> session, const wire::OpenRequest& request,
    KzStatusCallback status, KzFrameCallback frame, void* user);

// A media channel's Frame message as its callback gets it: the record of
// `n` payload bytes, whose `payload` points into `data`. False for a payload
// shorter than its frame header, of a kind a channel does not deliver, or
// without data.
bool ReadFrameRecord(const std::uint8_t* data, std::size_t n, FrameRecord& record);

// ---- device search ----------------------------------------------------------

// The device record in a datagram of `n` bytes that answers the search with
// `nonce`; false for anything else (not an answer, a length that disagrees
// with its header, another search's nonce, a record of a length the protocol
// does not know). `record` points into `datagram`.
bool ReadSearchAnswer(const std::uint8_t* datagram, std::size_t n, std::uint32_t nonce, const std::uint8_t*& record, std::size_t& length);

struct SearchTarget {
    std::string host;
    std::uint16_t port;
};
// Parses a target list: entries "host" or "host:port", separated by commas,
// spaces or semicolons; bad entries are skipped.
std::vector<SearchTarget> ParseSearchTargets(const char* text);

class Search : public std::enable_shared_from_this<Search> {
public:
    Search(KzSearchCallback callback, void* user, int parameter, int oneDevice);
    bool Start();
    void Close();

private:
    void Run();
    // Our probe, with `nonce`, to our targets; the WS-Discovery probe, with
    // `messageId`, to the targets at the discovery port.
    void Probe(int fd, std::uint32_t nonce, const std::string& messageId);
    // Hands one record to the callback unless this search has had it;
    // false when the search is to end.
    bool Report(const std::vector<std::uint8_t>& record, std::set<std::string>& seen);

    const KzSearchCallback m_callback;
    void* const m_user;
    const int m_parameter;
    const bool m_oneDevice;
    std::vector<SearchTarget> m_targets;
    std::atomic<bool> m_closing { false };
    DeliveryGate m_gate;
    sys::ThreadHandle m_thread;
};

// ---- HTTP client --------------------------------------------------------------

// One parser. Its calls are serialised, except that CloseSocket from another
// thread ends a connect, request or response in progress at once: it marks
// the exchange aborted and shuts the socket down before it waits for the call
// to return. The descriptor is closed only under m_socketLock, where the
// shutdown reads it, so the shutdown never reaches a number already closed
// and given to another file.
class Http {
public:
    int SetRequest(const char* path, const char* method, const char* host);
    int CreateSocket();
    int IsConnected();
    int Connect(const char* address, int port);
    int Request();
    int Response(int timeout);
    const char* Content();
    int CloseSocket();

private:
    void closeDescriptor();

    std::mutex m_mutex; // every call of one parser is serialised
    std::mutex m_socketLock; // held to close the descriptor and to shut it down
    std::atomic<bool> m_abort { false }; // set by CloseSocket, cleared by CreateSocket
    std::string m_path, m_method, m_host;
    net::Socket m_socket;
    bool m_socketOpen = false;
    bool m_connected = false;
    bool m_requestSent = false;
    bool m_haveBody = false;
    std::string m_body;
    // A CGI request to the web port of a standard camera that is logged in
    // is answered by the library for it (onvif::RelayCgi), without a connection.
    std::shared_ptr<onvif::Session> m_relay;
    std::string m_relayAnswer;
};

// Splits a received HTTP answer into status and body. False when the answer
// is not a complete HTTP response (a body cut short by the peer's close is
// taken as it is only without Content-Length or chunking).
bool ParseHttpResponse(const std::string& raw, bool closed, int& status, std::string& body);

}
