#include "host/BridgeServer.h"

#include "host/BridgeProtocol.h"
#include "host/BridgeRequest.h"
#include "host/HttpGate.h"
#include "host/SimCamera.h"
#include "host/WebFiles.h"
#include "host/WorkerLink.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <random>
#include <set>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

extern char** environ;

namespace host {

namespace {

using nlohmann::json;
using namespace bridge;
using Clock = std::chrono::steady_clock;

constexpr int kSessionIdBytes = 16;
constexpr int kTokenBytes = 16;
// Request threads besides one for each page's stream.
constexpr std::size_t kRequestThreads = 48;
// Requests of one page waiting for its worker at once (a page makes one at a
// time): with every page at this, half the request threads are still free.
constexpr int kMaxAsking = 2;
// A page stream whose client has not acknowledged what was sent this long
// (a ping goes every kPingEvery) is gone: its connection fails.
constexpr unsigned kStreamAckLimitMs = 10000;
// The simulated camera's video as pages may set it.
constexpr int kSmallestVideo = 16;
constexpr int kLargestVideo = 4096;
constexpr int kFastestVideo = 60;
// How long a request waits for the worker's answer.
constexpr auto kReplyTimeout = std::chrono::seconds(30);
constexpr auto kStartTimeout = std::chrono::seconds(10);
// A page stream says it is alive this often (and so finds a closed page).
constexpr auto kPingEvery = std::chrono::milliseconds(500);
// A session whose page never opened its stream ends after this long.
constexpr auto kFirstAttachLimit = std::chrono::seconds(20);
constexpr auto kReapEvery = std::chrono::milliseconds(250);
// A worker that does not end this long after it was told to is killed.
constexpr auto kWorkerExitLimit = std::chrono::seconds(3);
constexpr auto kWorkerExitPoll = std::chrono::milliseconds(20);
// Items kept for a page without a stream: callbacks beyond are dropped.
constexpr std::size_t kMaxQueuedItems = 20000;
// Video frames on their way to a page at once; beyond, a stream's frames are
// dropped until its next key frame (a coded frame needs the ones before it).
constexpr int kVideoInFlight = 12;
constexpr const char* kTokenCookie = "tiravex_token";
constexpr const char* kJson = "application/json";
constexpr const char* kIndexFile = "index.html";
constexpr std::pair<const char*, const char*> kFileTypes[] = {
    { ".html", "text/html" },
    { ".htm", "text/html" },
    { ".js", "text/javascript" },
    { ".css", "text/css" },
    { ".json", "application/json" },
    { ".png", "image/png" },
    { ".jpg", "image/jpeg" },
    { ".jpeg", "image/jpeg" },
    { ".gif", "image/gif" },
    { ".svg", "image/svg+xml" },
    { ".ico", "image/x-icon" },
    { ".txt", "text/plain" },
    { ".wasm", "application/wasm" },
};
constexpr const char* kOtherFileType = "application/octet-stream";
constexpr const char* kRecordingType = "video/x-msvideo";
// A recording is read and sent this much at a time.
constexpr std::size_t kRecordingChunk = 256 * 1024;

std::string randomHex(int bytes)
{
    std::vector<unsigned char> raw(static_cast<std::size_t>(bytes));
    std::size_t got = 0;
    while (got < raw.size()) {
        ssize_t n = getrandom(raw.data() + got, raw.size() - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::random_device fallback;
            for (auto& b : raw)
                b = static_cast<unsigned char>(fallback());
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (unsigned char b : raw) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// Compares without stopping at the first difference.
bool sameSecret(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

std::string cookieValue(const httplib::Request& req, const std::string& name)
{
    const std::string cookies = req.get_header_value("Cookie");
    std::size_t at = 0;
    while (at < cookies.size()) {
        std::size_t end = cookies.find(';', at);
        if (end == std::string::npos)
            end = cookies.size();
        std::string part = cookies.substr(at, end - at);
        std::size_t start = part.find_first_not_of(' ');
        if (start != std::string::npos) {
            part = part.substr(start);
            if (part.rfind(name + "=", 0) == 0)
                return part.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return {};
}

bool isLoopbackAddress(const std::string& address)
{
    in_addr v4 {};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return address == "::1" || address == "localhost";
}

void sendJson(httplib::Response& res, const json& body, int status = 200)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), kJson);
}

void refuse(httplib::Response& res, int status, const std::string& why) { sendJson(res, json { { "error", why } }, status); }

// Parses a request's JSON body; false (and the refusal sent) when it is not JSON or nests too deep.
bool readBody(const httplib::Request& req, httplib::Response& res, json& body)
{
    switch (ParseJsonBody(req.body, body)) {
    case BodyError::None: return true;
    case BodyError::TooDeep: refuse(res, 400, "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels"); return false;
    case BodyError::NotJson: break;
    }
    refuse(res, 400, "not JSON");
    return false;
}

const char* fileType(const std::string& path)
{
    for (const auto& [ending, type] : kFileTypes) {
        const std::size_t n = std::strlen(ending);
        if (path.size() >= n && path.compare(path.size() - n, n, ending) == 0)
            return type;
    }
    return kOtherFileType;
}

std::string realPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string text = real;
    std::free(real);
    return text;
}

// A file of the folder `realRoot` (already resolved) for a request's path:
// its contents, or false when there is none. Links are followed only as far
// as they stay inside the folder.
bool readRootFile(const std::string& realRoot, std::string relative, std::string& contents, std::string& real)
{
    if (relative.empty() || relative.back() == '/')
        relative += kIndexFile;
    real = realPath(realRoot + "/" + relative);
    if (real.empty() || real.compare(0, realRoot.size() + 1, realRoot + "/") != 0)
        return false;
    const int fd = ::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        contents.resize(static_cast<std::size_t>(info.st_size));
        std::size_t got = 0;
        while (got < contents.size()) {
            const ssize_t n = ::read(fd, contents.data() + got, contents.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        contents.resize(got);
    }
    ::close(fd);
    return ok;
}

}

// What the worker is owed once a page-stream item is written (or dropped);
// a video frame is owed nothing, but counts among the page's frames on their way.
enum class Owed : std::uint8_t { Nothing, PictureDone, Video };

// One browser page: its worker process and what flows between them.
struct BridgeServer::Session {
    std::string id;
    pid_t pid = -1;
    std::unique_ptr<WorkerLink> link;
    std::thread reader;
    Clock::time_point made = Clock::now();

    std::mutex mutex;
    std::condition_variable changed;
    // guarded by mutex:
    std::uint32_t lastRequest = 0;
    std::map<std::uint32_t, std::optional<std::string>> replies; // waiting requests
    std::deque<std::pair<std::string, Owed>> queue; // page-stream items, and what the worker is owed once each is written
    std::uint64_t streamGeneration = 0; // the newest stream; older ones stop
    bool attached = false;
    bool everAttached = false;
    Clock::time_point detachedAt = Clock::now();
    bool workerGone = false;
    bool ending = false;
    int asking = 0; // requests waiting in Ask
    int videoQueued = 0; // video frames queued or being written
    std::set<std::uint32_t> videoStarted; // streams whose frames go to the page: they had a key frame since it attached, and none was dropped since

    // Tells the worker that a picture left the queue.
    void Acknowledge(Owed owed)
    {
        if (owed == Owed::PictureDone)
            link->Send(LinkKind::PictureDone, kNoRequest, {});
    }

    // Whether a video item goes to the page (called with `mutex` held). A
    // page that falls behind, or is away, skips each stream's frames to its
    // next key frame (a coded frame needs the ones before it); the worker
    // sends every frame, so that it wakes for none of the page's progress.
    bool AdmitVideo(std::string_view item)
    {
        std::uint32_t stream = 0;
        bool key = false;
        if (!ReadVideoItem(item, stream, key))
            return false;
        if (!attached || videoQueued >= kVideoInFlight) {
            videoStarted.erase(stream);
            return false;
        }
        if (key)
            videoStarted.insert(stream);
        return videoStarted.count(stream) > 0;
    }

    // The items of `items` that were video frames have left the page's hands (called with `mutex` held).
    void VideoLeft(const std::deque<std::pair<std::string, Owed>>& items)
    {
        for (const auto& item : items)
            videoQueued -= item.second == Owed::Video;
    }

    // Sends a request and waits for its answer; nothing when the worker is
    // gone or did not answer in time.
    std::optional<std::string> Ask(const json& request, std::chrono::seconds limit)
    {
        std::unique_lock lock(mutex);
        if (workerGone)
            return std::nullopt;
        const std::uint32_t id = ++lastRequest;
        replies[id];
        lock.unlock();
        link->Send(LinkKind::Request, id, request.dump(-1, ' ', false, json::error_handler_t::replace));
        lock.lock();
        changed.wait_for(lock, limit, [&] { return workerGone || replies[id].has_value(); });
        std::optional<std::string> answer = std::move(replies[id]);
        replies.erase(id);
        return answer;
    }

    // Ask, within the page's share of waiting requests; false (and the
    // refusal sent) when the page has too many waiting or the worker does
    // not answer.
    bool AskForPage(const json& request, httplib::Response& res, std::string& answer)
    {
        {
            std::lock_guard lock(mutex);
            if (asking >= kMaxAsking) {
                refuse(res, 503, "too many requests of this page at once");
                return false;
            }
            ++asking;
        }
        auto reply = Ask(request, std::chrono::duration_cast<std::chrono::seconds>(kReplyTimeout));
        {
            std::lock_guard lock(mutex);
            --asking;
        }
        if (!reply) {
            refuse(res, 504, "the page's controls did not answer");
            return false;
        }
        answer = std::move(*reply);
        return true;
    }

    void ReadWorker()
    {
        LinkKind kind;
        std::uint32_t id = 0;
        std::string payload;
        while (link->Receive(kind, id, payload)) {
            std::lock_guard lock(mutex);
            switch (kind) {
            case LinkKind::Reply:
                if (auto it = replies.find(id); it != replies.end())
                    it->second = std::move(payload);
                break;
            case LinkKind::Stream: {
                const bool sound = !payload.empty() && static_cast<ItemType>(payload[0]) == ItemType::Sound;
                if ((sound && !attached) || queue.size() >= kMaxQueuedItems)
                    break; // sound without a listener is gone; callbacks are kept by the worker too
                queue.emplace_back(std::move(payload), Owed::Nothing);
                break;
            }
            case LinkKind::StreamPicture:
                if (attached)
                    queue.emplace_back(std::move(payload), Owed::PictureDone);
                else
                    Acknowledge(Owed::PictureDone);
                break;
            case LinkKind::StreamVideo:
                if (AdmitVideo(payload)) {
                    queue.emplace_back(std::move(payload), Owed::Video);
                    ++videoQueued;
                }
                break;
            default: break;
            }
            changed.notify_all();
        }
        std::lock_guard lock(mutex);
        workerGone = true;
        queue.emplace_back(Item(ItemType::End, 0, "the page's controls ended"), Owed::Nothing);
        changed.notify_all();
    }
};

BridgeServer::BridgeServer(ServeOptions options)
    : m_options(std::move(options)), m_http(std::make_unique<GatedServer>(kRequestThreads + static_cast<std::size_t>(std::max(m_options.maxPages, 0))))
{
}

BridgeServer::~BridgeServer()
{
    Stop();
    if (m_reaper.joinable())
        m_reaper.join();
}

bool BridgeServer::Start(std::string& error)
{
    if (!m_options.camera.empty()) {
        m_camera = StartSimCamera(m_options.camera, error);
        if (!m_camera)
            return false;
    }
    m_loopback = isLoopbackAddress(m_options.bind);
    if (!m_loopback)
        m_token = randomHex(kTokenBytes);
    if (!m_options.root.empty()) {
        m_realRoot = realPath(m_options.root);
        if (m_realRoot.empty()) {
            error = "no folder " + m_options.root;
            return false;
        }
    }
    m_http->set_payload_max_length(kMaxBodyBytes);
    routes();
    int listening = -1;
    m_http->set_socket_options([&listening](socket_t sock) {
        httplib::default_socket_options(sock);
        listening = sock;
    });
    if (m_options.port == 0) {
        m_port = m_http->bind_to_any_port(m_options.bind);
    } else if (m_http->bind_to_port(m_options.bind, m_options.port)) {
        m_port = m_options.port;
    }
    if (m_port <= 0) {
        error = "cannot listen on " + m_options.bind + ":" + std::to_string(m_options.port);
        return false;
    }
    m_http->set_socket_options(httplib::default_socket_options);
    // cpp-httplib listens with a queue of 5: many clients connecting at once
    // (slow ones among them) would have the newest wait for a second try.
    ::listen(listening, SOMAXCONN);
    m_reaper = std::thread([this] { reapLoop(); });
    return true;
}

std::string BridgeServer::Url(const std::string& page) const
{
    std::string host = m_options.bind.find(':') != std::string::npos ? "[" + m_options.bind + "]" : m_options.bind;
    std::string url = "http://" + host + ":" + std::to_string(m_port) + "/" + page;
    if (!m_token.empty())
        url += (page.find('?') == std::string::npos ? "?token=" : "&token=") + m_token;
    return url;
}

void BridgeServer::Run() { m_http->listen_after_bind(); }

void BridgeServer::Stop()
{
    std::map<std::string, std::shared_ptr<Session>> sessions;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_stopped = true;
        sessions.swap(m_sessions);
        m_controlOwners.clear();
    }
    m_stopping.notify_all();
    // Every worker is told first and then waited for, together: the server
    // stops within one worker's time limit however many pages it serves.
    std::vector<std::shared_ptr<Session>> told;
    for (auto& [id, session] : sessions)
        if (tellToEnd(session))
            told.push_back(session);
    const auto limit = Clock::now() + kWorkerExitLimit;
    for (auto& session : told)
        waitForEnd(session, limit);
    m_http->stop();
}

int BridgeServer::SessionCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_sessions.size());
}

std::shared_ptr<BridgeServer::Session> BridgeServer::findSession(const std::string& id) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_sessions.find(id);
    return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<BridgeServer::Session> BridgeServer::startSession(const json& startRequest, std::string& error)
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        error = "no socket for the worker";
        return nullptr;
    }
    // The worker's end becomes its descriptor kWorkerLinkFd (dup2 clears
    // close-on-exec); first moved above it, should it be that number already.
    int child = fds[1];
    if (child <= kWorkerLinkFd) {
        child = fcntl(fds[1], F_DUPFD_CLOEXEC, kWorkerLinkFd + 1);
        ::close(fds[1]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child, kWorkerLinkFd);
    std::string program = m_options.workerProgram;
    std::vector<char*> argv { program.data(), const_cast<char*>(kWorkerSwitch), nullptr };
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(child);
    if (spawned != 0) {
        ::close(fds[0]);
        error = "cannot start a page worker";
        return nullptr;
    }
    auto session = std::make_shared<Session>();
    session->id = randomHex(kSessionIdBytes);
    session->pid = pid;
    session->link = std::make_unique<WorkerLink>(fds[0]);
    session->reader = std::thread([s = session.get()] { s->ReadWorker(); });
    auto answer = session->Ask(startRequest, std::chrono::duration_cast<std::chrono::seconds>(kStartTimeout));
    if (!answer) {
        endSession(session);
        error = "the page worker did not start";
        return nullptr;
    }
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopped) {
            m_sessions[session->id] = session;
            return session;
        }
    }
    endSession(session);
    error = "the server is stopping";
    return nullptr;
}

void BridgeServer::endSession(const std::shared_ptr<Session>& session)
{
    if (tellToEnd(session))
        waitForEnd(session, Clock::now() + kWorkerExitLimit);
}

bool BridgeServer::tellToEnd(const std::shared_ptr<Session>& session)
{
    {
        std::lock_guard lock(session->mutex);
        if (session->ending)
            return false;
        session->ending = true;
    }
    {
        std::lock_guard lock(m_mutex);
        m_sessions.erase(session->id);
        for (auto it = m_controlOwners.begin(); it != m_controlOwners.end();)
            it = it->second == session->id ? m_controlOwners.erase(it) : std::next(it);
    }
    // The worker releases its controls (their camera connections close) and ends.
    session->link->Send(LinkKind::Close, kNoRequest, {});
    return true;
}

void BridgeServer::waitForEnd(const std::shared_ptr<Session>& session, Clock::time_point limit)
{
    int status = 0;
    while (waitpid(session->pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= limit) {
            kill(session->pid, SIGKILL);
            waitpid(session->pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(kWorkerExitPoll);
    }
    session->link->Shutdown();
    if (session->reader.joinable())
        session->reader.join();
    std::lock_guard lock(session->mutex);
    session->workerGone = true;
    session->changed.notify_all();
}

void BridgeServer::reapLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopped) {
        m_stopping.wait_for(lock, kReapEvery);
        std::vector<std::shared_ptr<Session>> gone;
        const auto now = Clock::now();
        for (auto& [id, s] : m_sessions) {
            std::lock_guard sessionLock(s->mutex);
            const bool pageGone = s->everAttached ? (!s->attached && now - s->detachedAt > std::chrono::milliseconds(m_options.detachGraceMs)) : now - s->made > kFirstAttachLimit;
            if (s->workerGone || pageGone)
                gone.push_back(s);
        }
        lock.unlock();
        for (auto& s : gone)
            endSession(s);
        lock.lock();
    }
}

void BridgeServer::routes()
{
    httplib::Server& http = *m_http;
    http.set_default_headers({ { "X-Content-Type-Options", "nosniff" }, { "X-Frame-Options", "SAMEORIGIN" } });

    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const std::string host = req.get_header_value("Host");
        if (m_loopback) {
            // Only loopback names: a foreign name pointing here is DNS rebinding.
            const std::string port = ":" + std::to_string(m_port);
            if (host != "127.0.0.1" + port && host != "localhost" + port && host != "[::1]" + port) {
                refuse(res, 403, "unknown host");
                return httplib::Server::HandlerResponse::Handled;
            }
        } else {
            const std::string given = req.has_param("token") ? req.get_param_value("token") : cookieValue(req, kTokenCookie);
            if (!sameSecret(given, m_token)) {
                refuse(res, 403, "a token is needed");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.has_param("token"))
                res.set_header("Set-Cookie", std::string(kTokenCookie) + "=" + m_token + "; Path=/; HttpOnly; SameSite=Strict");
        }
        const bool changesState = req.method != "GET" && req.method != "HEAD";
        // The stream and a page's recordings are read only by the page itself.
        const bool ofSession = req.path.rfind("/tiravex/s/", 0) == 0;
        if (changesState || ofSession) {
            const std::string origin = req.get_header_value("Origin");
            const std::string site = req.get_header_value("Sec-Fetch-Site");
            if ((!origin.empty() && origin != "http://" + host) || (!site.empty() && site != "same-origin" && site != "none")) {
                refuse(res, 403, "another origin");
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    // The script carries no secret: another site may include it with <script>.
    http.Get("/tiravex.js", [this](const httplib::Request&, httplib::Response& res) {
        json config { { "camera", m_camera != nullptr }, { "maxScreen", { m_options.maxScreenWidth, m_options.maxScreenHeight } } };
        res.set_header("Cache-Control", "no-store");
        res.set_content("var __tiravexServer = " + config.dump() + ";\n" + std::string(web::kTiravexJs), "application/javascript");
    });
    http.Get("/tiravex-talk.js", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(web::kTalkWorkletJs), "application/javascript");
    });

    http.Post("/tiravex/session", [this](const httplib::Request& req, httplib::Response& res) {
        json given, start;
        if (!readBody(req, res, given))
            return;
        if (Refusal refusal = SessionStart(given, ScreenLimit { m_options.maxScreenWidth, m_options.maxScreenHeight }, start)) {
            refuse(res, refusal.status, refusal.why);
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            if (static_cast<int>(m_sessions.size()) + m_starting >= m_options.maxPages) {
                refuse(res, 503, "at most " + std::to_string(m_options.maxPages) + " pages at once");
                return;
            }
            ++m_starting;
        }
        std::string error;
        auto session = startSession(start, error);
        {
            std::lock_guard lock(m_mutex);
            --m_starting;
        }
        if (!session) {
            refuse(res, 503, error);
            return;
        }
        sendJson(res, json { { "session", session->id } });
    });

    // Requests of one session: /tiravex/s/<session>/<what>.
    http.Post(R"(/tiravex/s/([0-9a-f]+)/(create|call|resize|destroy|view))", [this](const httplib::Request& req, httplib::Response& res) {
        auto session = findSession(req.matches[1]);
        if (!session) {
            refuse(res, 404, "no such session");
            return;
        }
        const std::string what = req.matches[2];
        json request;
        if (!readBody(req, res, request))
            return;
        if (Refusal refusal = ControlRequest(what, request)) {
            refuse(res, refusal.status, refusal.why);
            return;
        }
        if (what == "create") {
            std::lock_guard lock(m_mutex);
            request["control"] = ++m_lastControl;
            m_controlOwners[m_lastControl] = session->id;
        } else {
            std::lock_guard lock(m_mutex);
            auto owner = m_controlOwners.find(request["control"].get<std::uint32_t>());
            if (owner == m_controlOwners.end()) {
                refuse(res, 404, "no such control");
                return;
            }
            if (owner->second != session->id) {
                refuse(res, 403, "another page's control");
                return;
            }
            if (what == "destroy")
                m_controlOwners.erase(owner);
        }
        if (what != "create" && what != "resize" && what != "destroy" && what != "view" && request.value("op", "") != "call" && request.value("op", "") != "get" && request.value("op", "") != "set") {
            refuse(res, 400, "unknown operation");
            return;
        }
        if (what != "call")
            request["op"] = what;
        std::string answer;
        if (!session->AskForPage(request, res, answer))
            return;
        res.set_header("Cache-Control", "no-store");
        res.set_content(answer, kJson);
    });

    // The page's recordings (host/PageRecordings.h): the list, and one of
    // them by the number the list gave it. The path comes from the worker,
    // which checked that it lies under the record folder; it is opened
    // without following a link.
    http.Get(R"(/tiravex/s/([0-9a-f]+)/recordings)", [this](const httplib::Request& req, httplib::Response& res) {
        auto session = findSession(req.matches[1]);
        if (!session) {
            refuse(res, 404, "no such session");
            return;
        }
        std::string answer;
        if (!session->AskForPage(json { { "op", "recordings" } }, res, answer))
            return;
        res.set_header("Cache-Control", "no-store");
        res.set_content(answer, kJson);
    });
    http.Get(R"(/tiravex/s/([0-9a-f]+)/recording/([0-9]{1,15}))", [this](const httplib::Request& req, httplib::Response& res) {
        auto session = findSession(req.matches[1]);
        if (!session) {
            refuse(res, 404, "no such session");
            return;
        }
        std::string answer;
        if (!session->AskForPage(json { { "op", "recording" }, { "id", std::stoull(req.matches[2]) } }, res, answer))
            return;
        const json found = json::parse(answer, nullptr, false);
        if (!found.is_object() || !found.contains("path") || !found["path"].is_string()) {
            refuse(res, 404, "no such recording");
            return;
        }
        const std::string path = found["path"].get<std::string>();
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            if (fd >= 0)
                ::close(fd);
            refuse(res, 404, "no such recording");
            return;
        }
        const std::string name = path.substr(path.rfind('/') + 1);
        res.set_header("Cache-Control", "no-store");
        res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
        auto file = std::make_shared<int>(fd);
        res.set_content_provider(
            static_cast<std::size_t>(info.st_size), kRecordingType,
            [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                std::string chunk(std::min(length, kRecordingChunk), '\0');
                const ssize_t n = ::pread(*file, chunk.data(), chunk.size(), static_cast<off_t>(offset));
                if (n <= 0)
                    return false; // the file shrank: the download ends short
                return sink.write(chunk.data(), static_cast<std::size_t>(n));
            },
            [file](bool) { ::close(*file); });
    });

    http.Post(R"(/tiravex/s/([0-9a-f]+)/(input|talk|close))", [this](const httplib::Request& req, httplib::Response& res) {
        auto session = findSession(req.matches[1]);
        if (!session) {
            refuse(res, 404, "no such session");
            return;
        }
        const std::string what = req.matches[2];
        if (what == "input") {
            json input;
            if (!readBody(req, res, input))
                return;
            if (Refusal refusal = PageInput(input)) {
                refuse(res, refusal.status, refusal.why);
                return;
            }
            session->link->Send(LinkKind::Input, kNoRequest, req.body);
        } else if (what == "talk") {
            session->link->Send(LinkKind::Talk, kNoRequest, std::string_view(req.body.data(), req.body.size() & ~std::size_t { 1 }));
        } else {
            endSession(session);
        }
        res.status = 204;
    });
    http.Get(R"(/tiravex/s/([0-9a-f]+)/stream)", [this](const httplib::Request& req, httplib::Response& res) {
        auto session = findSession(req.matches[1]);
        if (!session) {
            refuse(res, 404, "no such session");
            return;
        }
        // A client that stops acknowledging (its machine or network gone)
        // fails the stream's writes, and the page ends as when it closes.
        if (const int sock = GatedServer::CurrentSocket(); sock >= 0) {
            const unsigned limit = kStreamAckLimitMs;
            ::setsockopt(sock, IPPROTO_TCP, TCP_USER_TIMEOUT, &limit, sizeof limit);
        }
        std::uint64_t generation = 0;
        {
            std::lock_guard lock(session->mutex);
            generation = ++session->streamGeneration;
            session->attached = session->everAttached = true;
            // Pictures queued for an earlier stream are stale: the new one
            // starts whole, and its decoders at the next key frames.
            for (auto it = session->queue.begin(); it != session->queue.end();)
                if (it->second != Owed::Nothing) {
                    session->Acknowledge(it->second);
                    session->videoQueued -= it->second == Owed::Video;
                    it = session->queue.erase(it);
                } else {
                    ++it;
                }
            session->videoStarted.clear();
        }
        std::uint64_t have = 0;
        if (req.has_param("have"))
            have = std::strtoull(req.get_param_value("have").c_str(), nullptr, 10);
        session->link->Send(LinkKind::Attach, kNoRequest, json { { "have", have } }.dump());
        session->changed.notify_all();
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            "application/octet-stream",
            [session, generation](std::size_t, httplib::DataSink& sink) {
                std::deque<std::pair<std::string, Owed>> items;
                bool end = false;
                {
                    std::unique_lock lock(session->mutex);
                    session->changed.wait_for(lock, kPingEvery, [&] { return !session->queue.empty() || session->streamGeneration != generation || session->workerGone; });
                    if (session->streamGeneration != generation)
                        return false; // a newer stream of the page took over
                    items.swap(session->queue);
                    end = session->workerGone && items.empty();
                }
                if (items.empty())
                    items.emplace_back(end ? Item(ItemType::End, 0, "the session ended") : Item(ItemType::Ping, 0, {}), Owed::Nothing);
                bool ok = true;
                for (auto& [bytes, owed] : items) {
                    if (ok)
                        ok = sink.write(bytes.data(), bytes.size());
                    session->Acknowledge(owed);
                }
                {
                    std::lock_guard lock(session->mutex);
                    session->VideoLeft(items);
                }
                if (!ok || end) {
                    if (end)
                        sink.done();
                    return ok;
                }
                return true;
            },
            [session, generation](bool) {
                std::lock_guard lock(session->mutex);
                if (session->streamGeneration == generation) {
                    session->attached = false;
                    session->detachedAt = Clock::now();
                }
            });
    });

    http.Post(R"(/tiravex/camera/([A-Za-z]+))", [this](const httplib::Request& req, httplib::Response& res) {
        if (!m_camera) {
            refuse(res, 404, "no simulated camera");
            return;
        }
        json given = json::object();
        if (!req.body.empty() && !readBody(req, res, given))
            return;
        json args = given.is_object() && given.contains("args") && given["args"].is_array() ? given["args"] : json::array();
        auto arg = [&](std::size_t i) -> json { return i < args.size() ? args[i] : json(); };
        // The first argument of the members that take a number.
        int first = 0;
        if ((arg(0).is_number() || arg(0).is_boolean()) && !CameraNumber(arg(0), first)) {
            refuse(res, 400, "the camera's numbers are whole numbers in range");
            return;
        }
        const std::string name = req.matches[1];
        sim::Camera& camera = *m_camera;
        json value;
        if (name == "account") {
            // Only for the server's own pages (a POST from another origin is refused before this).
            value = json { { "address", camera.Address() }, { "port", camera.Port() }, { "webPort", camera.WebPort() }, { "user", camera.User() }, { "password", camera.Password() } };
            // The recordings it keeps, for the playback page to offer.
            value["recordings"] = json::array();
            for (const auto& r : camera.Config().recordings)
                value["recordings"].push_back(json { { "path", r.path }, { "seconds", r.seconds } });
        } else if (name == "sendControl") {
            std::vector<std::uint8_t> bytes;
            if (arg(1).is_array())
                for (const auto& b : arg(1)) {
                    if (!b.is_null() && !IntegerIn(b, 0, UCHAR_MAX)) {
                        refuse(res, 400, "a message's bytes are whole numbers from 0 to 255");
                        return;
                    }
                    bytes.push_back(static_cast<std::uint8_t>(b.is_null() ? 0 : b.get<int>()));
                }
            camera.SendControl(first, bytes);
        } else if (name == "stallVideo") {
            camera.StallVideo(first);
        } else if (name == "dropLink") {
            camera.DropLink();
        } else if (name == "setVideo") {
            sim::VideoSettings v = camera.Config().video;
            json s = arg(0);
            if (s.is_object()) {
                std::string codec = s.value("codec", "");
                if (codec == "h264")
                    v.codec = sim::Codec::H264;
                else if (codec == "mjpeg")
                    v.codec = sim::Codec::Mjpeg;
                for (auto [field, into, lo, hi] : { std::tuple { "width", &v.width, kSmallestVideo, kLargestVideo }, std::tuple { "height", &v.height, kSmallestVideo, kLargestVideo },
                         std::tuple { "fps", &v.fps, 1, kFastestVideo } }) {
                    if (!s.contains(field))
                        continue;
                    if (!IntegerIn(s[field], lo, hi)) {
                        refuse(res, 400, std::string("the video's ") + field + " is not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
                        return;
                    }
                    *into = s[field].get<int>();
                }
            }
            camera.SetVideo(v);
        } else if (name == "setAudio") {
            camera.SetAudio(first);
        } else if (name == "alarm") {
            camera.Alarm(first);
        } else if (name == "endAlarm") {
            camera.EndAlarm(first);
        } else if (name == "activeCells") {
            value = camera.ActiveCells();
        } else if (name == "onvifMasks") {
            value = camera.OnvifMasks();
        } else if (name == "snapshot") {
            camera.Snapshot();
        } else if (name == "ignoreCgi") {
            camera.IgnoreCgi(first != 0);
        } else if (name == "delayCgi") {
            camera.DelayCgi(first);
        } else if (name == "cgiLog") {
            value = camera.CgiLog();
        } else if (name == "roadLog") {
            value = json::array();
            for (const auto& c : camera.Commands())
                value.push_back(json { { "command", c.command }, { "a", c.a }, { "b", c.b }, { "text", c.text } });
        } else if (name == "talkBlocks") {
            value = json::object();
            for (auto [size, count] : camera.TalkBlocks())
                value[std::to_string(size)] = count;
        } else if (name == "roadsOpen") {
            value = camera.RoadsOpen();
        } else if (name == "channelsOpen") {
            value = camera.ChannelsOpen();
        } else {
            refuse(res, 404, "the camera has no " + name);
            return;
        }
        sendJson(res, value.is_null() ? json::object() : json { { "value", value } });
    });

    // The pages: files whose real path lies inside the folder.
    if (!m_realRoot.empty())
        http.Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
            if (req.path.find('\0') != std::string::npos) {
                refuse(res, 400, "a NUL in the path");
                return;
            }
            std::string contents, real;
            if (!readRootFile(m_realRoot, req.path.substr(1), contents, real)) {
                refuse(res, 404, "no such file");
                return;
            }
            res.set_content(std::move(contents), fileType(real));
        });
}

}
