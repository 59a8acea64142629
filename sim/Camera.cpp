#include "sim/Camera.h"

#include "sim/AudioCoder.h"
#include "sim/Connection.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <list>
#include <mutex>
#include <thread>

namespace sim {

using namespace kz;
using namespace kz::wire;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr int kHeartbeatMs = 1000;
constexpr int kPollSliceMs = 50;
constexpr int kFirstMessageMs = 5000;    // a connection that says nothing for this long is closed
constexpr int kToneAmplitude = 8000;
constexpr int kCgiIgnoreMaxMs = 10000;   // an ignored CGI request is held at most this long
constexpr int kMaxLagMs = 1000;          // a stream that falls this far behind skips ahead
constexpr int kListenBacklog = 16;
constexpr const char* kCgiPath = "/cgi-bin/CGIProxy.fcgi";

// Values the camera puts in its login reply.
constexpr std::int32_t kDefaultBitRateKbps = 1024;
constexpr std::int32_t kEntryRightAdmin = 2;

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::int32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}
void putText(std::vector<std::uint8_t>& b, std::size_t at, const std::string& text, std::size_t width)
{
    std::size_t n = std::min(text.size(), width - 1);
    std::memcpy(&b[at], text.data(), n);
}

int openListener(const std::string& address, int port, int type, int& boundPort)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0
        || (type == SOCK_STREAM && ::listen(fd, kListenBacklog) < 0)) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    boundPort = ntohs(a.sin_port);
    return fd;
}

bool accountOk(const CameraConfig& config, const std::string& user, const std::string& password)
{
    for (auto& account : config.accounts)
        if (account.user == user && account.password == password)
            return true;
    return false;
}

int frameKind(Codec codec) { return codec == Codec::H264 ? kz::kFrameH264 : kz::kFrameMjpeg; }
constexpr int kFrameAudioKind = kz::kFrameAudio;

bool isAudioSelector(int s) { return s == kz::kMediaAudio || (s >= kz::kMediaAudioVariant9 && s <= kz::kMediaAudioVariant12); }
constexpr int kTalkSelector = kz::kMediaTalk;
constexpr int kStatusOpenType = kz::kStatusOpen, kStatusPlaybackType = kz::kStatusPlayback, kStatusTalkStartType = kz::kStatusTalkStart, kStatusTalkStopType = kz::kStatusTalkStop;

}

std::string CgiCommandName(const std::string& text)
{
    std::size_t at = text.find("cmd=");
    std::size_t start = at == std::string::npos ? 0 : at + 4;
    std::size_t end = text.find('&', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string CgiAnswer(const CameraConfig& config, int webPort, int port, const std::string& command, bool ok)
{
    auto element = [](const char* name, const std::string& value) { return std::string("<") + name + ">" + value + "</" + name + ">"; };
    std::string body = "<CGI_Result>";
    if (!ok)
        return body + element("result", "-2") + "</CGI_Result>";
    body += element("result", "0");
    if (command == "getDevInfo") {
        body += element("productName", config.product) + element("serialNo", config.deviceId) + element("devName", config.name)
            + element("firmwareVer", "1.0.0.1") + element("hardwareVer", "1.0.0.1");
    } else if (command == "getProductAllInfo") {
        body += element("modelName", config.model) + element("motionAreaRows", std::to_string(config.rows))
            + element("motionAreaCols", std::to_string(config.cols)) + element("ptFlag", std::to_string(config.ptFlag))
            + element("rs485Flag", std::to_string(config.rs485Flag));
    } else if (command == "getPortInfo") {
        body += element("webPort", std::to_string(webPort)) + element("mediaPort", std::to_string(port))
            + element("httpsPort", std::to_string(config.httpsPort));
    }
    return body + "</CGI_Result>";
}

// ---- state -----------------------------------------------------------------

struct MediaSession {
    std::shared_ptr<Connection> connection;
    OpenRequest open;
    bool playback = false;
    Recording recording;
    Clock::time_point opened = Clock::now();

    std::mutex mutex; // guards the fields below
    std::condition_variable wake;
    bool closed = false;
    bool audioOn = false;
    bool paused = false;
    bool seekPending = false;
    double seekTo = 0;
};

struct RoadSession {
    std::shared_ptr<Connection> connection;
    bool loggedIn = false; // set once, by the road's own thread, before it is listed
};

struct Camera::State {
    CameraConfig config;
    int port = 0, webPort = 0, searchPort = -1;
    int listenFd = -1, searchFd = -1;
    std::atomic<bool> stopping { false };

    mutable std::mutex mutex; // guards everything below
    mutable std::condition_variable changed;
    std::vector<std::string> cgiLog;
    std::map<int, int> talkBlocks;
    std::vector<CommandRequest> commands;
    std::vector<MediaControl> mediaControls;
    std::vector<OpenRequest> opens;
    int accepted = 0, refused = 0;
    std::list<std::shared_ptr<RoadSession>> roads;
    std::list<std::shared_ptr<MediaSession>> media;
    std::list<std::shared_ptr<Connection>> connections;
    VideoSettings live;
    int liveGeneration = 0;
    int audioCoding = kAudioPcm;
    int audioGeneration = 0;
    bool videoOn = true;
    bool liveAudioOn = false; // the road's audio command, also for live channels opened after it
    Clock::time_point stallUntil = Clock::now();
    bool ignoreCgi = false;
    std::shared_ptr<const std::vector<EncodedFrame>> preEncoded;
    VideoSettings preEncodedSettings;
    MediaSession* talker = nullptr;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Worker> workers; // guarded by mutex

    std::thread acceptThread, searchThread, httpThread;
    httplib::Server http;
    std::future<void> httpEnded; // ready once the HTTP server's listen loop has returned

    void Notify() { changed.notify_all(); }
    void Spawn(std::function<void()> body);
    void Reap();

    void AcceptLoop();
    void SearchLoop();
    void Serve(std::shared_ptr<Connection> connection);
    void ServeRoad(const std::shared_ptr<Connection>& connection, const LoginRequest& login);
    void ServeMedia(const std::shared_ptr<Connection>& connection, const OpenRequest& open);
    void StreamLive(const std::shared_ptr<MediaSession>& session);
    void StreamPlayback(const std::shared_ptr<MediaSession>& session);
    void HandleCommand(const std::shared_ptr<Connection>& connection, const CommandRequest& command);
    void HandleMediaControl(const std::shared_ptr<MediaSession>& session, const MediaControl& control);
    std::string HandleCgi(const std::string& command, bool ok); // "" when ignored
    void SendToRoads(int type, const std::vector<std::uint8_t>& data);
    std::vector<std::uint8_t> LoginReply(std::int32_t status, const std::string& user) const;
    // The length of a fixed-length control message as this camera sends it.
    std::size_t ControlBytes(int type) const
    {
        const ControlLength* entry = FindControlLength(type);
        return static_cast<std::size_t>(config.replyFormat ? entry->padded : entry->plain);
    }
    bool Stalled()
    {
        std::lock_guard lock(mutex);
        return Clock::now() < stallUntil;
    }
};

void Camera::State::Spawn(std::function<void()> body)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex);
    workers.push_back(Worker { std::thread([body = std::move(body), done] {
                                   body();
                                   *done = true;
                               }),
        done });
}

void Camera::State::Reap()
{
    std::list<Worker> finished;
    {
        std::lock_guard lock(mutex);
        for (auto it = workers.begin(); it != workers.end();) {
            if (it->done->load()) {
                finished.splice(finished.end(), workers, it++);
            } else {
                ++it;
            }
        }
    }
    for (auto& w : finished)
        w.thread.join();
}

// ---- login reply -------------------------------------------------------------

std::vector<std::uint8_t> Camera::State::LoginReply(std::int32_t status, const std::string& user) const
{
    std::size_t bytes = config.replyFormat ? kLoginReplyBytesPadded : kLoginReplyBytes;
    auto r = MakeLoginReply(bytes, status, config.deviceId, "", config.deviceKind);
    if (status != kLoginOk)
        return r;
    r[kReplyFlagAt] = 1;                                   // a second live-view flag
    r[kReplyBytesAt] = 1;                                  // channels
    r[kReplyBytesAt + 1] = static_cast<std::uint8_t>(config.ptFlag);
    r[kReplyBytesAt + 2] = static_cast<std::uint8_t>(config.rs485Flag);
    r[kReplyBytesAt + 3] = static_cast<std::uint8_t>(config.audio);
    for (std::size_t k = 0; k < kReplyChannelTextCount; ++k)
        putText(r, kReplyChannelTextsAt + kTextField * k, "channel" + std::to_string(k + 1), kTextField);
    putText(r, kReplyUserTextAt, user, kTextField);
    r[kReplyByte553At] = 1;
    for (std::size_t k = 0; k < kReplyInputTextCount; ++k)
        putText(r, kReplyInputTextsAt + kTextField * k, "input" + std::to_string(k + 1), kTextField);
    const std::int32_t values[] = { live.width, live.height, live.fps, live.keyInterval, kDefaultBitRateKbps };
    for (std::size_t k = 0; k < kReplyValueCount; ++k)
        put32(r, kReplyValuesAt + sizeof(std::int32_t) * k, values[k % std::size(values)]);
    put32(r, kReplyWebPortAt, webPort);
    put32(r, kReplyHttpsPortAt, config.httpsPort);
    for (std::size_t e = 0; e < kReplyEntryCount && e < config.accounts.size(); ++e) {
        std::size_t b = kReplyEntriesAt + kReplyEntryBytes * e;
        put32(r, b + kEntryNumberAt, static_cast<std::int32_t>(e + 1));
        putText(r, b + kEntryUserAt, config.accounts[e].user, kTextField);
        put32(r, b + kEntryRightAt, kEntryRightAdmin);
        put32(r, b + kEntryStateAt, 0);
        putText(r, b + kEntryText1At, "", kTextField);
        putText(r, b + kEntryText2At, "", kTextField);
        putText(r, b + kEntryText3At, "", kTextField);
    }
    // The device name last: it shares its place with the first entry's last text.
    std::memset(&r[kReplyDeviceNameAt], 0, kReplyDeviceNameBytes);
    putText(r, kReplyDeviceNameAt, config.name, kReplyDeviceNameBytes);
    put32(r, kReplyDeviceKindAt, config.deviceKind);
    return r;
}

// ---- connections -------------------------------------------------------------

void Camera::State::AcceptLoop()
{
    while (!stopping.load()) {
        Reap();
        pollfd p { listenFd, POLLIN, 0 };
        if (::poll(&p, 1, kPollSliceMs) <= 0)
            continue;
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto connection = std::make_shared<Connection>(fd);
        {
            std::lock_guard lock(mutex);
            connections.push_back(connection);
        }
        Spawn([this, connection] { Serve(connection); });
    }
}

void Camera::State::Serve(std::shared_ptr<Connection> connection)
{
    Header header;
    std::vector<std::uint8_t> payload;
    if (connection->Next(header, payload, kFirstMessageMs) == Connection::Read::Message) {
        LoginRequest login;
        OpenRequest open;
        if (header.kind == Kind::Login && ParseLogin(payload.data(), payload.size(), login))
            ServeRoad(connection, login);
        else if (header.kind == Kind::Open && ParseOpen(payload.data(), payload.size(), open))
            ServeMedia(connection, open);
    }
    connection->Shutdown();
    std::lock_guard lock(mutex);
    connections.remove(connection);
    Notify();
}

void Camera::State::SendToRoads(int type, const std::vector<std::uint8_t>& data)
{
    std::vector<std::shared_ptr<RoadSession>> list;
    {
        std::lock_guard lock(mutex);
        list.assign(roads.begin(), roads.end());
    }
    auto message = Message(Kind::Control, PutControl(type, data.data(), data.size()));
    for (auto& road : list)
        road->connection->Send(message);
}

void Camera::State::ServeRoad(const std::shared_ptr<Connection>& connection, const LoginRequest& login)
{
    bool ok = accountOk(config, login.user, login.password);
    {
        std::lock_guard lock(mutex);
        (ok ? accepted : refused)++;
    }
    auto control = [&](int type, const std::vector<std::uint8_t>& data) {
        return connection->Send(Kind::Control, PutControl(type, data.data(), data.size()));
    };
    if (config.replyFormat)
        control(kMsgReplyFormat, { 1 });
    control(kMsgLoginReply, LoginReply(ok ? kLoginOk : kLoginBadAccount, login.user));
    if (!ok) {
        Notify();
        return;
    }
    if (config.deviceKind != kDeviceKindOld) {
        std::vector<std::uint8_t> kind(static_cast<std::size_t>(FindControlLength(kMsgDeviceKind)->plain), 0);
        std::int32_t code = config.deviceKind == kDeviceKind101 ? kKindCode101 : config.deviceKind == kDeviceKind100 ? kKindCode100 : kKindCodeOther;
        put32(kind, kDeviceKindCodeAt, code);
        control(kMsgDeviceKind, kind);
    }
    std::vector<std::uint8_t> mode(ControlBytes(kMsgDeviceRecord), 0);
    mode[kStreamModeAt] = kStreamModePlain;
    control(kMsgDeviceRecord, mode);

    auto road = std::make_shared<RoadSession>();
    road->connection = connection;
    road->loggedIn = true;
    {
        std::lock_guard lock(mutex);
        roads.push_back(road);
    }
    Notify();

    Header header;
    std::vector<std::uint8_t> payload;
    while (!stopping.load()) {
        auto r = connection->Next(header, payload, kHeartbeatMs);
        if (r == Connection::Read::Timeout) {
            connection->Send(Kind::Heartbeat, {});
            continue;
        }
        if (r != Connection::Read::Message)
            break;
        CommandRequest command;
        if (header.kind == Kind::Command && ParseCommand(payload.data(), payload.size(), command))
            HandleCommand(connection, command);
    }
    std::lock_guard lock(mutex);
    roads.remove(road);
    Notify();
}

std::string Camera::State::HandleCgi(const std::string& command, bool ok)
{
    {
        std::lock_guard lock(mutex);
        cgiLog.push_back(command);
        Notify();
        if (ignoreCgi)
            return {};
    }
    return CgiAnswer(config, webPort, port, command, ok);
}

void Camera::State::HandleCommand(const std::shared_ptr<Connection>& connection, const CommandRequest& command)
{
    {
        std::lock_guard lock(mutex);
        commands.push_back(command);
        Notify();
    }
    auto control = [&](int type, const std::vector<std::uint8_t>& data) {
        connection->Send(Kind::Control, PutControl(type, data.data(), data.size()));
    };
    switch (command.command) {
    case kCmdVideo: {
        std::lock_guard lock(mutex);
        videoOn = command.b == kCmdStart;
        break;
    }
    case kCmdAudio: {
        std::lock_guard lock(mutex);
        liveAudioOn = command.b == kCmdStart;
        for (auto& m : media) {
            if (m->playback)
                continue;
            std::lock_guard sessionLock(m->mutex);
            m->audioOn = command.b == kCmdStart;
        }
        ++audioGeneration;
        break;
    }
    case kCmdTalk: {
        std::vector<std::uint8_t> reply;
        wi32(reply, command.b == kCmdStart ? kTalkStarted : kTalkStopped);
        control(kMsgTalkReply, reply);
        break;
    }
    case kCmdLiveCfg: {
        VideoSettings v;
        {
            std::lock_guard lock(mutex);
            v = live;
        }
        std::vector<std::uint8_t> cfg(ControlBytes(kMsgLiveCfg), 0);
        put32(cfg, kLiveCfgWidthAt, v.width);
        put32(cfg, kLiveCfgHeightAt, v.height);
        put32(cfg, kLiveCfgFpsAt, v.fps);
        putText(cfg, kLiveCfgTextAt, v.codec == Codec::H264 ? "h264" : "mjpeg", kTextField);
        control(kMsgLiveCfg, cfg);
        break;
    }
    case kCmdCgi: {
        std::string name = CgiCommandName(command.text);
        std::string answer = HandleCgi(name, true);
        if (answer.empty())
            break;
        int type = name == "getDevInfo" ? kMsgDevInfo : name == "getProductAllInfo" ? kMsgProductInfo : name == "getPortInfo" ? kMsgPortInfo : kMsgCgiReply;
        control(type, std::vector<std::uint8_t>(answer.begin(), answer.end()));
        break;
    }
    case kCmdUpdateFile:
        control(kMsgUpdateAck, std::vector<std::uint8_t>(command.text.begin(), command.text.end()));
        break;
    default: break; // pan/tilt, small picture, registration: recorded only
    }
}

// ---- media ---------------------------------------------------------------------

void Camera::State::ServeMedia(const std::shared_ptr<Connection>& connection, const OpenRequest& open)
{
    {
        std::lock_guard lock(mutex);
        opens.push_back(open);
        Notify();
    }
    if (!accountOk(config, open.user, open.password))
        return; // closing the connection is the refusal
    auto session = std::make_shared<MediaSession>();
    session->connection = connection;
    session->open = open;
    session->playback = !IsLiveAddress(open.address);
    // A recording's sound always travels with it: the control decides on its
    // side whether to play it.
    session->audioOn = session->playback;
    if (session->playback) {
        auto it = std::find_if(config.recordings.begin(), config.recordings.end(), [&](const Recording& r) { return r.path == open.address; });
        if (it != config.recordings.end())
            session->recording = *it;
    }
    {
        std::lock_guard lock(mutex);
        if (!session->playback)
            session->audioOn = liveAudioOn; // the command may come before the channel
        media.push_back(session);
    }
    connection->Send(Kind::Status, PutStatus({ kStatusOpenType, 0, 0 }));

    std::thread streamer([this, session] {
        if (session->playback)
            StreamPlayback(session);
        else
            StreamLive(session);
    });

    Header header;
    std::vector<std::uint8_t> payload;
    while (!stopping.load()) {
        auto r = connection->Next(header, payload, kPollSliceMs * 4);
        if (r == Connection::Read::Timeout)
            continue;
        if (r != Connection::Read::Message)
            break;
        MediaControl control;
        if (header.kind == Kind::MediaControl && ParseMediaControl(payload.data(), payload.size(), control)) {
            HandleMediaControl(session, control);
        } else if (header.kind == Kind::Talk && payload.size() > 0 && payload.size() <= kMaxTalkBlock) {
            std::lock_guard lock(mutex);
            ++talkBlocks[static_cast<int>(payload.size())];
            Notify();
        }
    }
    {
        std::lock_guard lock(session->mutex);
        session->closed = true;
    }
    session->wake.notify_all();
    connection->Shutdown();
    streamer.join();
    std::lock_guard lock(mutex);
    media.remove(session);
    if (talker == session.get())
        talker = nullptr;
    Notify();
}

void Camera::State::HandleMediaControl(const std::shared_ptr<MediaSession>& session, const MediaControl& control)
{
    {
        std::lock_guard lock(mutex);
        mediaControls.push_back(control);
        Notify();
    }
    auto status = [&](int type, int result, int value) { session->connection->Send(Kind::Status, PutStatus({ type, result, value })); };
    switch (control.op) {
    case MediaOp::Start:
    case MediaOp::Stop: {
        bool start = control.op == MediaOp::Start;
        if (isAudioSelector(control.a)) {
            std::lock_guard lock(session->mutex);
            session->audioOn = start;
        } else if (control.a == kTalkSelector) {
            int result = kTalkOk;
            {
                std::lock_guard lock(mutex);
                if (start && talker && talker != session.get())
                    result = kTalkBusy; // one talker at a time
                else
                    talker = start ? session.get() : (talker == session.get() ? nullptr : talker);
            }
            status(start ? kStatusTalkStartType : kStatusTalkStopType, result, 0);
        }
        break;
    }
    case MediaOp::Pause:
    case MediaOp::Resume:
    case MediaOp::Seek: {
        std::lock_guard lock(session->mutex);
        if (control.op == MediaOp::Seek) {
            session->seekPending = true;
            session->seekTo = control.position;
        } else {
            session->paused = control.op == MediaOp::Pause;
        }
        break;
    }
    case MediaOp::Message: break; // recorded only
    }
    session->wake.notify_all();
}

namespace {

FrameHeader videoHeader(const VideoSettings& v, const EncodedFrame& frame, std::uint32_t sequence, std::uint32_t timestamp, std::uint32_t number, int bitRate)
{
    FrameHeader h;
    h.kind = frameKind(v.codec);
    h.sequence = sequence;
    h.timestamp = timestamp;
    h.frameRate = v.fps;
    h.keyFrame = frame.key ? 1 : 0;
    h.bitRate = bitRate;
    h.width = static_cast<std::uint32_t>(v.width);
    h.height = static_cast<std::uint32_t>(v.height);
    h.passThrough1 = number;
    h.passThrough2 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(number) * 1000 / static_cast<std::uint32_t>(v.fps));
    return h;
}

FrameHeader audioHeader(std::size_t bytes, std::uint32_t sequence, std::uint32_t timestamp, std::uint32_t number)
{
    FrameHeader h;
    h.kind = kFrameAudioKind;
    h.sequence = sequence;
    h.timestamp = timestamp;
    h.frameRate = 0;
    h.keyFrame = 1;
    h.bitRate = static_cast<std::int32_t>(bytes * 8 * 1000 / 60);
    h.passThrough1 = number;
    return h;
}

}

void Camera::State::StreamLive(const std::shared_ptr<MediaSession>& session)
{
    std::unique_ptr<VideoEncoder> encoder;
    int generation = -1;
    int audioGen = -1;
    std::unique_ptr<ToneCoder> tone;
    bool audioWasOn = false;
    std::uint32_t number = 0, sequence = 0, audioBlocks = 0;
    std::size_t preIndex = 0;
    auto nextVideo = Clock::now(), nextAudio = Clock::now(), lastSend = Clock::now();
    std::uint64_t bytesSent = 0;

    while (!stopping.load()) {
        bool audioOn;
        {
            std::lock_guard lock(session->mutex);
            if (session->closed)
                return;
            audioOn = session->audioOn;
        }
        VideoSettings v;
        bool on;
        std::shared_ptr<const std::vector<EncodedFrame>> pre;
        int coding, gen, agen;
        Clock::time_point stall;
        {
            std::lock_guard lock(mutex);
            v = live;
            on = videoOn;
            pre = preEncoded;
            coding = audioCoding;
            gen = liveGeneration;
            agen = audioGeneration;
            stall = stallUntil;
            if (pre)
                v = preEncodedSettings;
        }
        auto now = Clock::now();
        auto timestamp = static_cast<std::uint32_t>(std::chrono::duration_cast<milliseconds>(now - session->opened).count());
        if (now < stall) {
            std::unique_lock lock(session->mutex);
            session->wake.wait_until(lock, std::min(stall, now + milliseconds(kPollSliceMs)));
            nextVideo = nextAudio = lastSend = Clock::now();
            continue;
        }
        if (pre && on) {
            const EncodedFrame& frame = (*pre)[preIndex++ % pre->size()];
            auto message = FrameMessage(videoHeader(v, frame, sequence++, timestamp, number++, 0), frame.data.data(), frame.data.size());
            if (!session->connection->Send(message))
                return;
            continue;
        }
        if (gen != generation) {
            encoder = VideoEncoder::Create(v);
            generation = gen;
            nextVideo = now;
        }
        if (audioOn && (!audioWasOn || agen != audioGen || !tone || tone->Coding() != coding)) {
            tone = std::make_unique<ToneCoder>(coding, config.toneHz, kToneAmplitude);
            nextAudio = now;
            audioGen = agen;
        }
        audioWasOn = audioOn;

        if (on && encoder && now >= nextVideo) {
            EncodedFrame frame;
            if (encoder->Encode(number, frame)) {
                bytesSent += frame.data.size();
                int bitRate = static_cast<int>(bytesSent * 8 * static_cast<std::uint64_t>(v.fps) / (number + 1));
                auto message = FrameMessage(videoHeader(v, frame, sequence++, timestamp, number, bitRate), frame.data.data(), frame.data.size());
                if (!session->connection->Send(message))
                    return;
                lastSend = now;
            }
            ++number;
            nextVideo += milliseconds(1000 / v.fps);
            if (now - nextVideo > milliseconds(kMaxLagMs))
                nextVideo = now;
        }
        if (audioOn && tone && now >= nextAudio) {
            auto block = tone->NextBlock();
            auto message = FrameMessage(audioHeader(block.size(), sequence++, timestamp, audioBlocks++), block.data(), block.size());
            if (!session->connection->Send(message))
                return;
            lastSend = now;
            nextAudio += milliseconds(tone->BlockMs());
            if (now - nextAudio > milliseconds(kMaxLagMs))
                nextAudio = now;
        }
        if (now - lastSend >= milliseconds(kHeartbeatMs)) {
            session->connection->Send(Kind::Heartbeat, {});
            lastSend = now;
        }
        auto due = now + milliseconds(kPollSliceMs);
        if (on && encoder)
            due = std::min(due, nextVideo);
        if (audioOn && tone)
            due = std::min(due, nextAudio);
        std::unique_lock lock(session->mutex);
        session->wake.wait_until(lock, due);
    }
}

void Camera::State::StreamPlayback(const std::shared_ptr<MediaSession>& session)
{
    auto status = [&](int code, int value) { return session->connection->Send(Kind::Status, PutStatus({ kStatusPlaybackType, code, value })); };
    const Recording& rec = session->recording;
    if (rec.path.empty()) {
        status(kPbRecordMissing, 0);
    } else if (rec.broken || !VideoEncoder::Create(rec.video)) {
        status(kPbRecordBroken, 0);
    }
    bool playable = !rec.path.empty() && !rec.broken;
    const VideoSettings& v = rec.video;
    const std::uint32_t total = playable ? static_cast<std::uint32_t>(rec.seconds * v.fps) : 0;
    std::unique_ptr<VideoEncoder> encoder;
    std::unique_ptr<ToneCoder> tone;
    std::uint32_t number = 0, sequence = 0, audioBlocks = 0;
    bool ended = !playable, paused = false;
    auto nextVideo = Clock::now(), nextAudio = Clock::now(), lastSend = Clock::now();
    int lastSecond = -1;
    auto seconds = [&] { return static_cast<int>(number / static_cast<std::uint32_t>(v.fps)); };
    auto buffer = [&] {
        status(kPbBuffering, 0);
        status(kPbBuffering, 50);
        status(kPbBuffering, 100);
    };

    if (playable) {
        buffer();
        status(kPbLength, rec.seconds);
        status(kPbPlaying, 0);
        encoder = VideoEncoder::Create(v);
        tone = std::make_unique<ToneCoder>(kAudioPcm, config.toneHz, kToneAmplitude);
    }

    while (!stopping.load()) {
        bool wantPause, seek, audioOn;
        double seekTo;
        {
            std::lock_guard lock(session->mutex);
            if (session->closed)
                return;
            wantPause = session->paused;
            seek = session->seekPending;
            seekTo = session->seekTo;
            session->seekPending = false;
            audioOn = session->audioOn;
        }
        auto now = Clock::now();
        auto timestamp = static_cast<std::uint32_t>(std::chrono::duration_cast<milliseconds>(now - session->opened).count());
        if (playable && seek) {
            double to = seekTo < 0 ? 0 : seekTo;
            if (to >= rec.seconds) {
                number = total;
            } else {
                number = static_cast<std::uint32_t>(to * v.fps);
                ended = false;
                buffer();
                status(kPbSeeked, seconds());
                encoder = VideoEncoder::Create(v); // the next frame is a key frame
                nextVideo = nextAudio = now;
            }
        }
        if (playable && wantPause != paused) {
            paused = wantPause;
            status(paused ? kPbPaused : kPbResumed, seconds());
            nextVideo = nextAudio = now;
        }
        if (!ended && number >= total) {
            ended = true;
            status(kPbEnd, rec.seconds);
        }
        if (!ended && !paused && encoder && now >= nextVideo) {
            EncodedFrame frame;
            if (encoder->Encode(number, frame)) {
                auto message = FrameMessage(videoHeader(v, frame, sequence++, timestamp, number, 0), frame.data.data(), frame.data.size());
                if (!session->connection->Send(message))
                    return;
                lastSend = now;
            }
            ++number;
            nextVideo += milliseconds(1000 / v.fps);
            if (seconds() != lastSecond) {
                lastSecond = seconds();
                status(kPbPosition, lastSecond);
            }
        }
        if (!ended && !paused && audioOn && tone && now >= nextAudio) {
            auto block = tone->NextBlock();
            auto message = FrameMessage(audioHeader(block.size(), sequence++, timestamp, audioBlocks++), block.data(), block.size());
            if (!session->connection->Send(message))
                return;
            nextAudio += milliseconds(tone->BlockMs());
        }
        if (now - lastSend >= milliseconds(kHeartbeatMs)) {
            session->connection->Send(Kind::Heartbeat, {});
            lastSend = now;
        }
        auto due = now + milliseconds(kPollSliceMs);
        if (!ended && !paused)
            due = std::min(due, nextVideo);
        std::unique_lock lock(session->mutex);
        session->wake.wait_until(lock, due);
    }
}

// ---- search --------------------------------------------------------------------

void Camera::State::SearchLoop()
{
    while (!stopping.load()) {
        pollfd p { searchFd, POLLIN, 0 };
        if (::poll(&p, 1, kPollSliceMs) <= 0)
            continue;
        std::uint8_t buffer[kMaxDatagram];
        sockaddr_in from {};
        socklen_t fromLength = sizeof from;
        ssize_t n = ::recvfrom(searchFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        Header header;
        if (n != static_cast<ssize_t>(kHeaderBytes + kSearchProbeBytes) || ParseHeader(buffer, kHeaderBytes, header) != HeaderCheck::Ok
            || header.kind != Kind::SearchProbe || header.length != kSearchProbeBytes)
            continue;
        std::uint32_t nonce = r32(buffer + kHeaderBytes);
        std::size_t bytes = IsRecordLength(config.searchRecordBytes) ? config.searchRecordBytes : kRecordLong;
        std::vector<std::uint8_t> record(bytes, 0);
        putText(record, kRecIdAt, config.deviceId, kRecIdBytes);
        putText(record, kRecNameAt, config.name, kRecNameBytes);
        in_addr address {};
        inet_pton(AF_INET, config.address.c_str(), &address);
        std::memcpy(&record[kRecAddressAt], &address, sizeof address);
        record[kRecEncodingAt] = kRecNameUtf8;
        record[kRecValueAt] = static_cast<std::uint8_t>(config.deviceKind);
        record[kRecValueAt + 1] = static_cast<std::uint8_t>(config.deviceKind >> 8);
        std::uint16_t netPort = htons(static_cast<std::uint16_t>(port));
        std::memcpy(&record[kRecPortAt], &netPort, sizeof netPort);
        if (bytes >= kRecWebPortAt + sizeof(std::uint16_t)) {
            std::uint16_t netWeb = htons(static_cast<std::uint16_t>(webPort));
            std::memcpy(&record[kRecWebPortAt], &netWeb, sizeof netWeb);
        }
        std::vector<std::uint8_t> payload;
        w32(payload, nonce);
        wbytes(payload, record.data(), record.size());
        auto datagram = Message(Kind::SearchAnswer, payload);
        ::sendto(searchFd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
}

// ---- Camera ----------------------------------------------------------------------

std::unique_ptr<Camera> Camera::Start(const CameraConfig& config)
{
    auto state = std::make_shared<State>();
    state->config = config;
    state->live = config.video;
    state->audioCoding = config.audio;
    if (config.deviceId.size() > kReplyDeviceIdBytes || BlockBytes(config.audio) == 0 || !VideoEncoder::Create(config.video))
        return nullptr;

    state->listenFd = openListener(config.address, config.port, SOCK_STREAM, state->port);
    if (state->listenFd < 0)
        return nullptr;
    if (config.searchPort >= 0) {
        state->searchFd = openListener(config.address, config.searchPort, SOCK_DGRAM, state->searchPort);
        if (state->searchFd < 0) {
            ::close(state->listenFd);
            return nullptr;
        }
    }
    State* s = state.get();
    s->http.Get(kCgiPath, [s](const httplib::Request& request, httplib::Response& response) {
        std::string command = request.get_param_value("cmd");
        bool ok = accountOk(s->config, request.get_param_value("usr"), request.get_param_value("pwd"));
        std::string answer = s->HandleCgi(command, ok);
        if (answer.empty()) {
            // Ignored: hold the request without an answer until told otherwise.
            std::unique_lock lock(s->mutex);
            s->changed.wait_for(lock, milliseconds(kCgiIgnoreMaxMs), [s] { return s->stopping.load() || !s->ignoreCgi; });
            response.status = 503;
            return;
        }
        response.set_content(answer, "text/plain");
    });
    if (config.webPort > 0) {
        if (!s->http.bind_to_port(config.address, config.webPort))
            state->webPort = -1;
        else
            state->webPort = config.webPort;
    } else {
        state->webPort = s->http.bind_to_any_port(config.address);
    }
    if (state->webPort <= 0) {
        ::close(state->listenFd);
        if (state->searchFd >= 0)
            ::close(state->searchFd);
        return nullptr;
    }
    std::promise<void> httpEnded;
    s->httpEnded = httpEnded.get_future();
    s->httpThread = std::thread([s, ended = std::move(httpEnded)]() mutable {
        s->http.listen_after_bind();
        ended.set_value();
    });
    s->acceptThread = std::thread([s] { s->AcceptLoop(); });
    if (s->searchFd >= 0)
        s->searchThread = std::thread([s] { s->SearchLoop(); });

    std::unique_ptr<Camera> camera(new Camera);
    camera->m_state = state;
    return camera;
}

Camera::~Camera()
{
    State& s = *m_state;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    s.Notify();
    // A stop before the listen loop has started is lost, so stop until the
    // loop has ended.
    do
        s.http.stop();
    while (s.httpEnded.wait_for(milliseconds(kPollSliceMs)) != std::future_status::ready);
    if (s.httpThread.joinable())
        s.httpThread.join();
    if (s.acceptThread.joinable())
        s.acceptThread.join();
    if (s.searchThread.joinable())
        s.searchThread.join();
    DropLink();
    for (;;) {
        std::list<State::Worker> workers;
        {
            std::lock_guard lock(s.mutex);
            workers.swap(s.workers);
        }
        if (workers.empty())
            break;
        for (auto& w : workers)
            w.thread.join();
    }
    ::close(s.listenFd);
    if (s.searchFd >= 0)
        ::close(s.searchFd);
}

const std::string& Camera::Address() const { return m_state->config.address; }
int Camera::Port() const { return m_state->port; }
int Camera::WebPort() const { return m_state->webPort; }
int Camera::SearchPort() const { return m_state->searchPort; }
std::string Camera::User() const { return m_state->config.accounts.empty() ? std::string() : m_state->config.accounts[0].user; }
std::string Camera::Password() const { return m_state->config.accounts.empty() ? std::string() : m_state->config.accounts[0].password; }
const CameraConfig& Camera::Config() const { return m_state->config; }

void Camera::SendControl(int type, const std::vector<std::uint8_t>& bytes) { m_state->SendToRoads(type, bytes); }

void Camera::StallVideo(int ms)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stallUntil = Clock::now() + milliseconds(ms < 0 ? 0 : ms);
    }
    m_state->Notify();
}

void Camera::DropLink()
{
    std::list<std::shared_ptr<Connection>> list;
    {
        std::lock_guard lock(m_state->mutex);
        list = m_state->connections;
    }
    for (auto& c : list)
        c->Shutdown();
}

void Camera::SetVideo(const VideoSettings& settings)
{
    if (settings.width <= 0 || settings.height <= 0 || settings.fps <= 0)
        return;
    std::lock_guard lock(m_state->mutex);
    m_state->live = settings;
    ++m_state->liveGeneration;
}

void Camera::SetAudio(int coding)
{
    if (BlockBytes(coding) == 0)
        return;
    std::lock_guard lock(m_state->mutex);
    m_state->audioCoding = coding;
    ++m_state->audioGeneration;
}

void Camera::Alarm(int kind)
{
    State& s = *m_state;
    std::vector<std::uint8_t> alarm(s.config.replyFormat ? s.ControlBytes(kMsgAlarm) : static_cast<std::size_t>(kAlarmLongBytes), 0);
    alarm[kAlarmKindAt] = static_cast<std::uint8_t>(kind);
    alarm[kAlarmOnAt] = 1;
    s.SendToRoads(kMsgAlarm, alarm);
    std::vector<std::uint8_t> sound(s.ControlBytes(kMsgAlarmSound), 0);
    sound[kAlarmSoundMaskAt] = 1;
    sound[kAlarmSoundChannelAt] = 0;
    s.SendToRoads(kMsgAlarmSound, sound);
}

void Camera::Snapshot()
{
    VideoSettings v;
    {
        std::lock_guard lock(m_state->mutex);
        v = m_state->live;
    }
    auto jpeg = EncodeJpeg(0, v.width, v.height);
    if (!jpeg.empty())
        m_state->SendToRoads(kMsgSnapshot, jpeg);
}

void Camera::IgnoreCgi(bool on)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->ignoreCgi = on;
    }
    m_state->Notify();
}

void Camera::SetPreEncoded(std::vector<EncodedFrame> frames, Codec codec, int width, int height, int fps)
{
    std::lock_guard lock(m_state->mutex);
    if (frames.empty()) {
        m_state->preEncoded.reset();
        return;
    }
    m_state->preEncoded = std::make_shared<const std::vector<EncodedFrame>>(std::move(frames));
    m_state->preEncodedSettings = VideoSettings { codec, width, height, fps, 0 };
}

std::vector<std::string> Camera::CgiLog() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cgiLog;
}

std::map<int, int> Camera::TalkBlocks() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->talkBlocks;
}

std::vector<CommandRequest> Camera::Commands() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->commands;
}

std::vector<MediaControl> Camera::MediaControls() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->mediaControls;
}

std::vector<OpenRequest> Camera::Opens() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->opens;
}

int Camera::LoginsAccepted() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->accepted;
}

int Camera::LoginsRefused() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->refused;
}

int Camera::RoadsOpen() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->roads.size());
}

bool Camera::WaitUntil(const std::function<bool()>& condition, int timeoutMs) const
{
    auto deadline = Clock::now() + milliseconds(timeoutMs);
    std::unique_lock lock(m_state->mutex);
    while (true) {
        lock.unlock();
        bool ok = condition();
        lock.lock();
        if (ok)
            return true;
        if (m_state->changed.wait_until(lock, std::min(deadline, Clock::now() + milliseconds(kPollSliceMs))) == std::cv_status::timeout && Clock::now() >= deadline) {
            lock.unlock();
            return condition();
        }
    }
}

}
