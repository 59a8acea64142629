// Page events: the one way reports reach the page, the login-reply report
// with its 70 or 133 arguments, activation of an instance and the reports
// it makes, the relayed CGI replies and the HTTPS-port query.

#include "control/TiravexCtrl.h"

#include "link/CgiText.h"
#include "link/EventCodes.h"

#include <cstring>

namespace control {

namespace {

// Offsets in the login reply.
constexpr std::size_t kReplyStatus = 0;
constexpr std::size_t kReplyFlagByte = 4;
constexpr std::size_t kReplyDeviceId = 934;
constexpr std::size_t kReplyDeviceName = 1063;
constexpr std::size_t kReplyEntries = 955;
constexpr std::size_t kReplyEntryBytes = 140;
constexpr int kReplyEntryCount = 9;
constexpr std::size_t kReplyText = 32;
constexpr std::size_t kMaxDeviceName = 255;
constexpr std::size_t kReplyLimit = 1000;

std::int32_t i32(const std::uint8_t* d, std::size_t offset)
{
    std::int32_t v;
    std::memcpy(&v, d + offset, sizeof v);
    return v;
}

std::string text(const std::uint8_t* d, std::size_t offset, std::size_t size = kReplyText)
{
    const char* start = reinterpret_cast<const char*>(d + offset);
    return std::string(start, strnlen(start, size));
}

}

void CTiravexCtrl::event(int code, std::vector<PageArg> arguments, Delivery delivery)
{
    arguments.insert(arguments.begin(), PageArg(std::int32_t { code }));
    if (delivery == Delivery::Forced) {
        std::uint8_t before = m_active;
        m_active = 1;
        callPage(devlink::kPluginCallBack, arguments, true);
        if (!before)
            m_active = 0;
        return;
    }
    callPage(devlink::kPluginCallBack, arguments, delivery == Delivery::IfActive);
}

void CTiravexCtrl::cgiToPage(const char* reply, int length)
{
    callPage(devlink::kPluginCallBackCGI, { std::string(reply ? reply : "", reply ? strnlen(reply, static_cast<std::size_t>(length)) : 0), std::int32_t { length } }, false);
}

std::string CTiravexCtrl::deviceName() const
{
    return text(m_loginReply.reply, kReplyDeviceName, kMaxDeviceName);
}

std::vector<PageArg> CTiravexCtrl::loginReplyArgs(const std::uint8_t* r, bool withEntries) const
{
    std::vector<PageArg> a;
    a.emplace_back(i32(r, kReplyStatus));
    a.emplace_back(std::int32_t { m_live.m_recordingArmed ? 1 : 0 });
    for (std::size_t o = 5; o <= 8; ++o)
        a.emplace_back(std::int32_t { r[o] });
    for (std::size_t k = 0; k < 16; ++k)
        a.emplace_back(text(r, 9 + 32 * k));
    a.emplace_back(text(r, 521));
    a.emplace_back(std::int32_t { r[553] });
    for (std::size_t k = 0; k < 8; ++k)
        a.emplace_back(text(r, 554 + 32 * k));
    a.emplace_back(text(r, 810));
    a.emplace_back(std::int32_t { r[842] });
    a.emplace_back(std::int32_t { r[843] });
    for (std::size_t k = 0; k < 20; ++k)
        a.emplace_back(i32(r, 844 + 4 * k));
    for (std::size_t o = 924; o <= 933; ++o)
        a.emplace_back(std::int32_t { r[o] });
    a.emplace_back(i32(r, 947));
    a.emplace_back(i32(r, 951));
    std::int16_t kind;
    std::memcpy(&kind, r + kDeviceKindOffset, sizeof kind);
    a.emplace_back(std::int32_t { kind });
    a.emplace_back(std::int32_t { m_active });
    if (withEntries) {
        for (int e = 0; e < kReplyEntryCount; ++e) {
            std::size_t base = kReplyEntries + kReplyEntryBytes * static_cast<std::size_t>(e);
            a.emplace_back(text(r, base + 4));
            a.emplace_back(i32(r, base + 36));
            a.emplace_back(i32(r, base + 40));
            a.emplace_back(text(r, base + 44));
            a.emplace_back(text(r, base + 76));
            a.emplace_back(text(r, base + 108));
            a.emplace_back(i32(r, base));
        }
    }
    return a;
}

void CTiravexCtrl::reportLoginReply(const std::uint8_t* reply, bool withEntries)
{
    // `reply` may be the stored reply itself.
    std::memmove(m_loginReply.deviceId, reply + kReplyDeviceId, kDeviceIdLength);
    m_loginReply.deviceId[kDeviceIdLength] = 0;
    std::memmove(m_loginReply.reply, reply, kLoginReplyBytes);

    std::int32_t status = m_loginReply.Status();
    if (status != 0) {
        m_live.m_alarmFlag = false;
        paintLiveArea();
    } else {
        m_live.m_alarmFlag = true;
        m_live.m_replyFlag = m_loginReply.reply[kReplyFlagByte] != 0;
        std::string name = text(m_loginReply.reply, kReplyDeviceName, kMaxDeviceName);
        devlink::CopyText(m_loginReply.deviceName, sizeof m_loginReply.deviceName, name);
    }
    event(devlink::kEventLoginReply, loginReplyArgs(m_loginReply.reply, withEntries), Delivery::IfActive);

    if (status == 0 && m_alarmInfo[AlarmInfoLayout::kLatch]) {
        const std::size_t t = AlarmInfoLayout::k156Texts;
        const std::size_t n = AlarmInfoLayout::kTextBytes;
        event(devlink::kEventSettings,
            { settingsByte(AlarmInfoLayout::k151), settingsByte(AlarmInfoLayout::k153), settingsByte(AlarmInfoLayout::k155),
                settingsByte(AlarmInfoLayout::k157), settingsByte(AlarmInfoLayout::k157 + 1), settingsByte(AlarmInfoLayout::k154),
                settingsByte(AlarmInfoLayout::k158), settingsByte(AlarmInfoLayout::k156), settingsByte(AlarmInfoLayout::k156 + 1),
                text(m_alarmInfo, t, n), text(m_alarmInfo, t + n, n), text(m_alarmInfo, t + 2 * n, n), text(m_alarmInfo, t + 3 * n, n) },
            Delivery::IfActive);
    }
}

void CTiravexCtrl::reportAfterLogin()
{
    if (!m_postLoginDone)
        return;
    if (m_deviceKind < kFirstRoadDeviceKind)
        reportLoginReply(m_loginReply.reply, false);
    else
        event(devlink::kEventRecordingState, { std::int32_t { m_live.m_recordingArmed ? 1 : 0 } }, Delivery::IfActive);
}

void CTiravexCtrl::activate()
{
    if (m_active)
        return;
    m_active = 1;
    if (HDC dc = gfx::GetDC(m_hWnd)) {
        paintFrame(dc);
        gfx::ReleaseDC(m_hWnd, dc);
    }
    if (m_live.m_silence >= kSilenceForBlack)
        paintLiveArea();
    event(devlink::kEventViewActivated,
        { m_self, std::string(m_login->ip), m_webPort, std::string(m_login->username), std::string(m_login->passwd), deviceName(),
            std::int32_t { m_deviceKind }, std::int32_t { m_live.m_talkCaptureOn ? 1 : 0 }, std::int32_t { m_live.m_audioOn ? 1 : 0 },
            std::string(m_modelName), std::string(m_productInfo), std::int32_t { m_replyFormat.load() } },
        Delivery::IfActive);
    reportAfterLogin();
}

void CTiravexCtrl::deactivate()
{
    m_active = 0;
    if (HDC dc = gfx::GetDC(m_hWnd)) {
        paintFrame(dc);
        gfx::ReleaseDC(m_hWnd, dc);
    }
}

void CTiravexCtrl::reportState()
{
    if (!m_productInfo[0])
        return;
    event(devlink::kEventState,
        { m_self, deviceName(), std::int32_t { m_deviceKind }, std::int32_t { m_live.m_talkCaptureOn ? 1 : 0 },
            std::int32_t { m_live.m_audioOn ? 1 : 0 }, std::string(m_modelName), std::string(m_login->ip), m_webPort,
            std::string(m_login->username), std::string(m_login->passwd), std::string(m_productInfo) },
        Delivery::IfActive);
    reportAfterLogin();
}

void CTiravexCtrl::onDeviceInfoReply(int type, const char* reply, int length)
{
    std::string body(reply, strnlen(reply, static_cast<std::size_t>(length)));
    if (m_cgiPending) {
        ui::KillTimer(m_hWnd, kCgiTimer);
        m_cgiPending = 0;
    }
    if (m_audio && m_audio->m_activeWindow != kLiveWindowId) {
        // A configuration page: the reply goes to the page.
        if (m_self != 0 && body.find("<result>0") == std::string::npos)
            return;
        cgiToPage(body.c_str(), length);
        return;
    }
    constexpr int kDefaultGrid = 10;
    switch (type) {
    case 14: {
        bool answer = true;
        std::string name;
        if (!body.empty() && body.size() < kReplyLimit && devlink::ElementText(body, "<productName>", "</productName>", kModelNameBytes - 1, name)) {
            devlink::CopyText(m_modelName, sizeof m_modelName, name);
            if (IsNoPtzModel(m_modelName))
                answer = false;
        }
        m_live.ptzCapable = answer ? 1 : 0;
        return;
    }
    case 15: {
        if (body.empty() || body.size() >= kReplyLimit)
            return;
        devlink::CopyText(m_productInfo, sizeof m_productInfo, body);
        if (m_self == 0) {
            m_motion.SetGridSize(devlink::ElementNumber(body, "<motionAreaRows>", "</motionAreaRows>", kDefaultGrid),
                devlink::ElementNumber(body, "<motionAreaCols>", "</motionAreaCols>", kDefaultGrid));
            event(devlink::kEventProductInfo, { std::string(m_productInfo) }, Delivery::Always);
        }
        int pt = devlink::ElementDigit(body, "<ptFlag>", 0);
        int rs = devlink::ElementDigit(body, "<rs485Flag>", 0);
        std::string model;
        if (devlink::ElementText(body, "<modelName>", "<", kModelNameBytes - 1, model))
            devlink::CopyText(m_modelName, sizeof m_modelName, model);
        if (m_userRight == 0 || m_deviceKind == 0)
            m_live.ptzCapable = 0;
        else if (m_deviceType != kDeviceTypeFull)
            return;
        else if (pt == 1 || rs == 1)
            m_live.ptzCapable = 1;
        else if (pt == 0 && rs == 0)
            m_live.ptzCapable = 0;
        return;
    }
    case 16: {
        std::string port;
        if (!devlink::ElementText(body, "<httpsPort>", "</httpsPort>", 19, port))
            return;
        int value = std::atoi(port.c_str());
        if (m_self >= 0 && static_cast<std::size_t>(m_self) < kHttpsPortSlots)
            m_httpsPorts[static_cast<std::size_t>(m_self)] = value;
        ui::PostMessage(m_hWnd, kMsgHttpsPort, static_cast<WPARAM>(value), m_self);
        return;
    }
    default:
        return;
    }
}

void CTiravexCtrl::startPortQuery()
{
    auto link = std::make_shared<PtzWorkerLink>();
    link->control = this;
    auto worker = sys::Thread::Start("https_port", [link] {
        sys::Locker lock(link->lock);
        CTiravexCtrl* c = link->control;
        if (!c)
            return;
        sys::Locker http(c->m_httpLock);
        const char* reply = c->cgiRequest(c->m_login->ip, c->m_login->username, c->m_webPort, c->m_login->passwd, "getPortInfo", 0);
        if (!reply || !*reply || std::strlen(reply) >= kReplyLimit)
            return;
        std::string port;
        if (!devlink::ElementText(reply, "<httpsPort>", "</httpsPort>", 19, port))
            return;
        int value = std::atoi(port.c_str());
        // Instances from 8 up have no slot: their result is dropped.
        if (c->m_self < 0 || static_cast<std::size_t>(c->m_self) >= kHttpsPortSlots)
            return;
        c->m_httpsPorts[static_cast<std::size_t>(c->m_self)] = value;
        ui::PostMessage(c->m_hWnd, kMsgHttpsPort, static_cast<WPARAM>(value), c->m_self);
    });
    if (!worker)
        return;
    m_portLinks.push_back(link);
    m_portThreads.push_back(worker);
}

void CTiravexCtrl::stopWorkers()
{
    stopPtzWorker();
    // Port queries end after one exchange; a closed socket ends one early.
    for (std::size_t i = 0; i < m_portThreads.size(); ++i) {
        if (!m_portThreads[i]->Wait(kPtzWorkerStopMs)) {
            if (m_http)
                kz_closeHttpSocket(m_http);
            m_portThreads[i]->Detach();
        }
        sys::Locker lock(m_portLinks[i]->lock);
        m_portLinks[i]->control = nullptr;
    }
    m_portThreads.clear();
    m_portLinks.clear();
    for (auto& closer : m_closeThreads)
        if (!closer->Wait(kPtzWorkerStopMs))
            closer->Detach();
    m_closeThreads.clear();
}

void CTiravexCtrl::onCgiTimeout()
{
    ui::KillTimer(m_hWnd, kCgiTimer);
    m_cgiPending = 0;
    cgiToPage(devlink::kCgiTimeoutText, devlink::kCgiTimeoutLength);
}

}
