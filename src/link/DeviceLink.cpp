#include "link/DeviceLink.h"

#include "link/Bytes.h"
#include "link/CgiText.h"
#include "link/ControlDecoder.h"

#include "sys/Debug.h"
#include "sys/Time.h"

#include <chrono>
#include <cstring>

namespace devlink {

namespace {

// Mailbox messages (the search's are in DeviceSearch.h).
constexpr UINT kMsgControlMessage = 1124; // heap {type, length}, heap payload with a zero after it
constexpr UINT kMsgOpenRoad = 1234;       // road mode, connection kind
constexpr UINT kMsgPtzDirection = 1329;   // direction 0..8, 0
constexpr UINT kMsgHttpsPort = 1330;      // port, the instance's Self
constexpr UINT kMsgHttpsPortReport = 1331; // the same, reported but not kept (a superseded or failed query)
// The port a failed query reports.
constexpr std::int32_t kHttpsPortNone = 0;

constexpr const char* kMailboxClass = "TiravexLink";

// Product names of cameras without pan/tilt.
const char* const kNoPtzModelRows[] = {
    "ZA101W", "ZA102W", "ZA103W", "ZB201", "ZB202", "ZB201W", "ZB203", "ZB203W",
    "ZA103P", "ZB301P", "ZA104", "ZA104E", "ZB204", "ZB204E", "ZC401", "ZC402",
};

// Replies this long or longer are not read.
constexpr std::size_t kReplyLimit = 1000;
constexpr int kDefaultGridSize = 10;

// A control message as the road callback hands it to the mailbox (wParam);
// the payload copy travels in lParam.
struct ControlMessage {
    std::int32_t type;
    std::int32_t length;
};

// Instances from 8 up have no HTTPS-port slot: their result is dropped.
bool hasHttpsSlot(std::int32_t self) { return self >= 0 && static_cast<std::size_t>(self) < kHttpsPortSlots; }

std::string element(const char* name) { return std::string("<") + name + ">"; }
std::string closing(const char* name) { return std::string("</") + name + ">"; }

void roadModeFor(const LoginInfo& login, int& mode, int& kind)
{
    if (login.streamType == kz::kAudioPcm || login.webport == static_cast<std::uint16_t>(login.port)) {
        mode = kz::kRoadModeWeb;
        kind = kz::kConnectWeb;
    } else {
        mode = kz::kRoadModeMedia;
        kind = kz::kConnectMedia;
    }
}

}

DeviceLink::DeviceLink(LinkSink& sink, LiveView& live) : m_sink(sink), m_live(live), m_login(std::make_unique<LoginInfo>())
{
    m_noPtzModels.assign(std::begin(kNoPtzModelRows), std::end(kNoPtzModelRows));
    m_login->groupID = static_cast<std::int32_t>(sys::GetTickCount());
    SetLoginStatus(kNoLoginReply);
}

DeviceLink::~DeviceLink()
{
    Shutdown();
    Close();
}

void DeviceLink::Shutdown()
{
    stopWorkers();
    m_search.Stop();
    if (KzHandle road = m_road.exchange(nullptr))
        kz_close_ctrl_road(road);
    // Roads still closing on their own threads are let go after a bounded wait.
    for (auto& closer : m_closeThreads)
        if (!closer->Wait(kPtzWorkerStopMs))
            closer->Detach();
    m_closeThreads.clear();
}

// ---- mailbox -------------------------------------------------------------------------

void DeviceLink::Open()
{
    if (m_mailbox.load())
        return;
    if (!ui::IsClassRegistered(kMailboxClass)) {
        WNDCLASS windowClass;
        windowClass.lpszClassName = kMailboxClass;
        ui::RegisterClass(windowClass);
    }
    m_mailbox = ui::CreateWindowEx(0, kMailboxClass, kMailboxClass, WS_POPUP, 0, 0, 0, 0, nullptr, this);
}

void DeviceLink::Close()
{
    stopWorkers();
    m_cgi.Close();
    if (HWND mailbox = m_mailbox.exchange(nullptr))
        ui::DestroyWindow(mailbox);
}

LRESULT DeviceLink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kMsgControlMessage: {
        std::unique_ptr<ControlMessage> record(reinterpret_cast<ControlMessage*>(wParam));
        std::unique_ptr<std::uint8_t[]> payload(reinterpret_cast<std::uint8_t*>(lParam));
        if (record && payload)
            onControlMessage(record->type, payload.get(), record->length);
        return 0;
    }
    case kMsgOpenRoad:
        onOpenRoad(static_cast<int>(wParam), static_cast<int>(lParam));
        return 0;
    case kMsgDeviceFound:
        m_sink.OnLinkEvent(DeviceSearch::FoundOf(wParam));
        return 0;
    case kMsgSearchAnswer:
        m_sink.OnLinkEvent(DeviceSearch::AnswerOf(wParam));
        return 0;
    case kMsgPtzDirection:
        m_sink.OnLinkEvent(PtzDirection { static_cast<int>(wParam) });
        return 0;
    case kMsgHttpsPort:
    case kMsgHttpsPortReport: {
        auto self = static_cast<std::int32_t>(lParam);
        auto port = static_cast<std::int32_t>(wParam);
        if (message == kMsgHttpsPort && hasHttpsSlot(self))
            m_httpsPorts[static_cast<std::size_t>(self)] = port;
        m_sink.OnLinkEvent(HttpsPort { self, port });
        return 0;
    }
    default:
        return ui::CallClassProc(window, message, wParam, lParam);
    }
}

// ---- login and the road ---------------------------------------------------------------

void DeviceLink::fillRecord(const Credentials& login)
{
    CopyText(m_login->ip, sizeof m_login->ip, login.ip);
    CopyText(m_login->username, sizeof m_login->username, login.username);
    CopyText(m_login->passwd, sizeof m_login->passwd, login.passwd);
    m_login->port = login.port;
    m_login->groupID = login.groupID;
    m_webPort = login.webport;
    m_login->webport = static_cast<std::uint16_t>(login.webport);
}

void DeviceLink::postOpenRoad(int mode, int kind)
{
    ui::PostMessage(m_mailbox.load(), kMsgOpenRoad, static_cast<WPARAM>(mode), kind);
}

bool DeviceLink::Login(const Credentials& login)
{
    if (m_loginRequested)
        return false;
    m_loginRequested = true;
    fillRecord(login);
    m_login->streamType = static_cast<std::int16_t>(login.streamType);
    // The password stays out of the diagnostics.
    sys::DebugOutput("%s", m_login->ip);
    sys::DebugOutput("%s", m_login->username);
    int mode = 0, kind = 0;
    roadModeFor(*m_login, mode, kind);
    postOpenRoad(mode, kind);
    return true;
}

std::optional<int> DeviceLink::Register(const Credentials& login, std::int32_t deviceType, std::int32_t self)
{
    fillRecord(login);
    m_deviceType = deviceType;
    int mode = 0, kind = 0;
    if (deviceType == 0) {
        m_login->streamType = kForcedStreamType;
        mode = kz::kRoadModeRegister;
        kind = kz::kConnectRegister;
    } else {
        m_login->streamType = static_cast<std::int16_t>(login.streamType);
        roadModeFor(*m_login, mode, kind);
    }
    std::optional<int> resent;
    if (!m_loginRequested) {
        m_loginRequested = true;
        postOpenRoad(mode, kind);
    } else if (KzHandle road = m_road.load()) {
        kz_post_ctrl_road_msg(road, m_login->ip[0] ? kz::kCmdRegister : kz::kCmdUnregister, 0, 0);
        resent = kind;
    } else {
        postOpenRoad(mode, kind);
    }
    startPortQuery(self);
    return resent;
}

bool DeviceLink::Unregister()
{
    KzHandle road = m_road.exchange(nullptr);
    if (!road)
        return false;
    kz_post_ctrl_road_msg(road, kz::kCmdUnregister, 0, 0);
    kz_close_ctrl_road(road);
    std::memset(m_login.get(), 0, sizeof *m_login);
    // The reply and the device name before it; the device identifier stays.
    std::memset(m_reply.deviceName, 0, sizeof m_reply.deviceName);
    std::memset(m_reply.reply, 0, sizeof m_reply.reply);
    SetLoginStatus(kNoLoginReply);
    publishDeviceKind();
    std::memset(m_modelName, 0, sizeof m_modelName);
    std::memset(m_productInfo, 0, sizeof m_productInfo);
    return true;
}

bool DeviceLink::SendCommand(int command, std::intptr_t a, std::intptr_t b)
{
    KzHandle road = m_road.load();
    if (!road)
        return false;
    kz_post_ctrl_road_msg(road, command, a, b);
    return true;
}

void DeviceLink::onOpenRoad(int mode, int kind)
{
    if (KzHandle old = m_road.exchange(nullptr)) {
        // The page's thread does not wait for the old road to close.
        if (auto closer = sys::Thread::Start("close_ctrl_thread", [old] { kz_close_ctrl_road(old); }))
            m_closeThreads.push_back(closer);
        else
            kz_close_ctrl_road(old);
    }
    m_road = kz_open_ctrl_road(mode, m_login.get(), &DeviceLink::RoadCallback, this, m_httpsFlag);
    m_roadMode = mode;
    m_sink.OnLinkEvent(RoadOpened { mode, kind });
}

bool DeviceLink::PassesFilter(int type, int length) const
{
    return devlink::PassesFilter(type, length, m_replyFormat.load() != 0);
}

int DeviceLink::RoadCallback(int type, const char* data, void* user, int length)
{
    auto* link = static_cast<DeviceLink*>(user);
    if (!link || length < 0 || (length > 0 && !data))
        return 0;
    auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    constexpr int kI32Bytes = 4;

    if (type == kz::kMsgAudioInfo) {
        if (length >= kI32Bytes && ReadI32(bytes, 0) == kz::kAudioInfoMarker)
            link->m_live.OnAudioBlockLength(length);
        return 0;
    }
    if (type == kz::kMsgTalkReply) {
        link->m_live.OnTalkReply(length >= kI32Bytes && ReadI32(bytes, 0) == kz::kTalkStarted);
        return 0;
    }
    if (!link->PassesFilter(type, length))
        return 0;
    // The camera pads every message after this one: the road's next
    // message, on this same thread, is already filtered by it.
    if (type == kz::kMsgReplyFormat)
        link->m_replyFormat = bytes[0];

    auto* copy = new std::uint8_t[static_cast<std::size_t>(length) + 1] {};
    if (length > 0)
        std::memcpy(copy, bytes, static_cast<std::size_t>(length));
    auto* record = new ControlMessage { type, length };
    auto freeBoth = [record, copy] {
        delete record;
        delete[] copy;
    };
    if (!ui::PostMessage(link->m_mailbox.load(), kMsgControlMessage, reinterpret_cast<WPARAM>(record), reinterpret_cast<LPARAM>(copy), freeBoth)) {
        delete record;
        delete[] copy;
    }
    return 0;
}

void DeviceLink::onControlMessage(int type, const std::uint8_t* data, int length)
{
    std::optional<LinkEvent> event = DecodeControl(type, data, length);
    if (!event)
        return;
    if (auto* reply = std::get_if<LoginReply>(&*event))
        storeLoginReply(reply->reply);
    m_sink.OnLinkEvent(*event);
}

// ---- the stored reply -------------------------------------------------------------------

std::int32_t DeviceLink::LoginStatus() const
{
    return ReadI32(m_reply.reply, kz::kReplyStatusAt);
}

void DeviceLink::SetLoginStatus(std::int32_t status)
{
    WriteI32(m_reply.reply, kz::kReplyStatusAt, status);
}

int DeviceLink::DeviceKind() const
{
    return static_cast<std::int16_t>(ReadU16(m_reply.reply, kz::kReplyDeviceKindAt));
}

void DeviceLink::SetDeviceKind(std::int32_t kind)
{
    WriteI32(m_reply.reply, kz::kReplyDeviceKindAt, kind);
    publishDeviceKind();
}

void DeviceLink::publishDeviceKind()
{
    m_sharedDeviceKind = DeviceKind();
}

void DeviceLink::storeLoginReply(const std::vector<std::uint8_t>& reply)
{
    std::memcpy(m_reply.deviceId, reply.data() + kz::kReplyDeviceIdAt, kz::kReplyDeviceIdBytes);
    m_reply.deviceId[kz::kReplyDeviceIdBytes] = 0;
    std::memcpy(m_reply.reply, reply.data(), sizeof m_reply.reply);
    publishDeviceKind();
    if (LoginStatus() == kz::kLoginOk)
        CopyText(m_reply.deviceName, sizeof m_reply.deviceName, ReplyDeviceName());
}

std::string DeviceLink::ReplyDeviceName() const
{
    return FieldText(m_reply.reply, kz::kReplyDeviceNameAt, kz::kReplyDeviceNameBytes - 1);
}

bool DeviceLink::IsNoPtzModel(const char* productName) const
{
    if (!productName)
        return false;
    for (const auto& row : m_noPtzModels)
        if (row == productName)
            return true;
    return false;
}

std::int32_t DeviceLink::KnownHttpsPort(std::int32_t self) const
{
    return hasHttpsSlot(self) ? m_httpsPorts[static_cast<std::size_t>(self)] : 0;
}

// ---- device information ------------------------------------------------------------------

void DeviceLink::ReplaceHttpClient()
{
    m_cgi.Replace();
}

bool DeviceLink::TakeDevInfo(std::string_view text)
{
    if (text.empty() || text.size() >= kReplyLimit)
        return true;
    std::string name;
    if (!ElementText(text, element(kz::cgi::kProductName), closing(kz::cgi::kProductName), kElementTextLimit, name))
        return true;
    CopyText(m_modelName, sizeof m_modelName, name);
    return !IsNoPtzModel(m_modelName);
}

std::optional<ProductFacts> DeviceLink::TakeProductInfo(std::string_view text, Rs485Default rs485)
{
    if (text.empty() || text.size() >= kReplyLimit)
        return std::nullopt;
    CopyText(m_productInfo, sizeof m_productInfo, text);
    ProductFacts facts;
    facts.rows = ElementNumber(text, element(kz::cgi::kMotionRows), closing(kz::cgi::kMotionRows), kDefaultGridSize);
    facts.cols = ElementNumber(text, element(kz::cgi::kMotionCols), closing(kz::cgi::kMotionCols), kDefaultGridSize);
    facts.pt = ElementDigit(text, element(kz::cgi::kPtFlag), 0);
    facts.rs = ElementDigit(text, element(kz::cgi::kRs485Flag), rs485 == Rs485Default::FromPtFlag ? facts.pt : 0);
    std::string model;
    if (ElementText(text, element(kz::cgi::kModelName), "<", kElementTextLimit, model))
        CopyText(m_modelName, sizeof m_modelName, model);
    return facts;
}

bool DeviceLink::QueryDevInfo()
{
    auto text = m_cgi.Request(m_login->ip, m_login->username, m_webPort, m_login->passwd, kz::cgi::kGetDevInfo, kCgiModeNetwork, ReplyFormat());
    return text ? TakeDevInfo(*text) : true;
}

std::optional<ProductFacts> DeviceLink::QueryProductInfo()
{
    auto text = m_cgi.Request(m_login->ip, m_login->username, m_webPort, m_login->passwd, kz::cgi::kGetProductAllInfo, kCgiModeNetwork, ReplyFormat());
    if (!text)
        return std::nullopt;
    return TakeProductInfo(*text, Rs485Default::FromPtFlag);
}

std::optional<int> DeviceLink::HttpsPortOf(std::string_view text)
{
    std::string port;
    if (!ElementText(text, element(kz::cgi::kHttpsPort), closing(kz::cgi::kHttpsPort), kElementTextLimit, port))
        return std::nullopt;
    return std::atoi(port.c_str());
}

void DeviceLink::ReportHttpsPort(std::int32_t self, int port)
{
    if (!hasHttpsSlot(self))
        return;
    // Kept when the mailbox takes the report, as a port query's is.
    ui::PostMessage(m_mailbox.load(), kMsgHttpsPort, static_cast<WPARAM>(port), self);
}

std::string DeviceLink::PageCgiRequest(const std::string& command, std::int32_t isHttps)
{
    std::string result;
    if (!m_login->ip[0])
        return result;
    auto text = m_cgi.Request(m_login->ip, m_login->username, m_webPort, m_login->passwd, command.c_str(), isHttps, ReplyFormat());
    if (!text)
        return result;
    char found[kPageCgiResultLimit + 1];
    if (ExtractCgiResult(*text, found, sizeof found) == CgiExtract::Found)
        result = found;
    return result;
}

// What a port query keeps alive itself: its own HTTP client, and whether a
// newer query superseded it or the link ended it.
struct DeviceLink::PortQuery {
    CgiClient client;
    sys::CriticalSection lock;
    bool superseded = false; // guarded by lock; its port is reported, not kept
    bool ended = false;      // guarded by lock; once set, the query posts nothing

    // Page's thread.
    void Supersede()
    {
        sys::Locker hold(lock);
        superseded = true;
    }
    // Page's thread: ends the exchange at once; no report follows. Once is
    // enough (ending an exchange may wait up to one connect slice).
    void End()
    {
        {
            sys::Locker hold(lock);
            if (ended)
                return;
            ended = true;
        }
        client.Cancel();
    }
};

void DeviceLink::startPortQuery(std::int32_t self)
{
    // The queries before this one are superseded: they still report, but
    // only this one's port is kept. Those that have ended are forgotten.
    for (auto& running : m_portQueries)
        running.query->Supersede();
    std::erase_if(m_portQueries, [](RunningQuery& running) { return running.thread->HasEnded(); });

    auto query = std::make_shared<PortQuery>();
    HWND mailbox = m_mailbox.load();
    // The query runs on its own thread with copies of what it needs; it
    // never touches the link. Every query reports once: its port, or
    // kHttpsPortNone when the camera gave none.
    LoginInfo login = *m_login;
    std::int32_t webPort = m_webPort;
    bool replyFormat = ReplyFormat() != 0;
    auto worker = sys::Thread::Start("https_port", [query, mailbox, login, webPort, replyFormat, self] {
        auto text = query->client.Request(login.ip, login.username, webPort, login.passwd, kz::cgi::kGetPortInfo, kCgiModeNetwork, replyFormat);
        std::optional<int> port;
        if (text && !text->empty() && text->size() < kReplyLimit)
            port = HttpsPortOf(*text);
        if (!hasHttpsSlot(self))
            return;
        // Kept when the mailbox takes the report.
        sys::Locker hold(query->lock);
        if (query->ended)
            return;
        UINT message = port && !query->superseded ? kMsgHttpsPort : kMsgHttpsPortReport;
        ui::PostMessage(mailbox, message, static_cast<WPARAM>(port.value_or(kHttpsPortNone)), self);
    });
    if (worker)
        m_portQueries.push_back({ query, worker });
}

// ---- search ----------------------------------------------------------------------------------

void DeviceLink::SearchAll(std::int32_t parameter)
{
    m_search.StartAll(m_mailbox.load(), parameter);
}

void DeviceLink::SearchLoggedInDevice(std::int32_t time)
{
    m_search.Stop();
    if (KzHandle road = m_road.exchange(nullptr))
        kz_close_ctrl_road(road);
    m_search.StartOne(m_mailbox.load(), time, m_reply.deviceId);
}

// ---- screen pan/tilt --------------------------------------------------------------------------

void DeviceLink::StartPtzWorker()
{
    StopPtzWorker();
    // What the worker moves with is taken now: host text from the media
    // port, requests to the HTTP port.
    m_ptz.Start({ m_login->ip, m_login->username, m_login->passwd, m_webPort, CgiClient::HostText(m_login->ip, m_login->port) });
}

void DeviceLink::StopPtzWorker()
{
    m_ptz.Stop();
}

void DeviceLink::SendRoadMove(int code)
{
    if (KzHandle road = m_road.load())
        kz_post_ctrl_road_msg(road, kz::kCmdPtz, 0, code);
}

void DeviceLink::ReportDirection(int index)
{
    ui::PostMessage(m_mailbox.load(), kMsgPtzDirection, static_cast<WPARAM>(index), 0);
}

void DeviceLink::stopWorkers()
{
    // Port queries end at once; they and the pan/tilt worker's stop share
    // one bounded wait, and a query still running is let go (it keeps its
    // own state).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPtzWorkerStopMs);
    for (auto& running : m_portQueries)
        running.query->End();
    m_ptz.Stop(deadline);
    for (auto& running : m_portQueries) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (!running.thread->Wait(static_cast<DWORD>(left > 0 ? left : 0)))
            running.thread->Detach();
    }
    m_portQueries.clear();
}

}
