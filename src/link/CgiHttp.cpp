// CGI over HTTP: the control's device-information queries and the screen
// pan/tilt worker. Every exchange goes through the network library's HTTP
// client, one at a time under m_httpLock.

#include "control/TiravexCtrl.h"

#include "link/CgiText.h"

#include "sys/MessageQueue.h"

#include <cstdio>
#include <cstring>

namespace control {

namespace {

constexpr const char* kCgiPathFormat = "/cgi-bin/CGIProxy.fcgi?usr=%s&pwd=%s&cmd=%s";
constexpr const char* kHostFormat = "%s:%d";
constexpr const char* kMethodGet = "GET";
constexpr int kResponseWait = 300;
constexpr int kCgiModeNoNetwork = 1;
constexpr std::size_t kReplyLimit = 1000;
constexpr std::size_t kElementTextLimit = 19;
constexpr int kDefaultGridSize = 10;
constexpr DWORD kPtzPollMs = 50;

// Screen pan/tilt directions: CGI command and road code per index.
struct PtzDirection {
    const char* command;
    std::intptr_t roadCode;
};
constexpr PtzDirection kPtzDirections[] = {
    { "ptzMoveTopLeft", 91 }, { "ptzMoveUp", 0 }, { "ptzMoveTopRight", 90 },
    { "ptzMoveLeft", 6 }, { "ptzStopRun", 1 }, { "ptzMoveRight", 4 },
    { "ptzMoveBottomLeft", 93 }, { "ptzMoveDown", 2 }, { "ptzMoveBottomRight", 92 },
};
constexpr int kPtzStopIndex = 4;
constexpr int kRoadCommandPtz = 4;

std::string format(const char* pattern, const char* a, const char* b, const char* c)
{
    int n = std::snprintf(nullptr, 0, pattern, a, b, c);
    std::string out(static_cast<std::size_t>(n < 0 ? 0 : n), '\0');
    std::snprintf(out.data(), out.size() + 1, pattern, a, b, c);
    return out;
}

std::string hostText(const char* address, int port)
{
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, kHostFormat, address, port);
    return buffer;
}

}

const char* CTiravexCtrl::cgiRequest(const char* address, const char* username, int port, const char* passwd, const char* command, int mode)
{
    sys::Locker lock(m_httpLock);
    std::string host = hostText(address, port);
    m_cgiResult[0] = 0;
    std::string path = format(kCgiPathFormat, username, passwd, command);
    if (m_replyFormat || mode == kCgiModeNoNetwork)
        return m_cgiResult;

    // A new parser per request; the previous one is released here rather
    // than left behind.
    if (m_http) {
        kz_freeSendData(m_http);
        kz_close_HttpParser(m_http);
    }
    m_http = kz_create_HttpParser();
    kz_mallocSendData(m_http, kHttpSendBufferBytes);
    kz_set_httpRequest(m_http, path.c_str(), kMethodGet, host.c_str(), 0, 0);
    kz_create_HttpSocket(m_http);

    int r = kz_httpConnect(m_http, address, port);
    if (r == kz::kHttpSocketClosed) {
        kz_closeHttpSocket(m_http);
        return nullptr;
    }
    if (r == kz::kHttpConnectFailed || r == kz::kHttpConnectRefused)
        kz_closeHttpSocket(m_http);
    if (kz_httpRequest(m_http) == kz::kHttpSocketClosed)
        kz_closeHttpSocket(m_http);
    if (kz_httpIsConnected(m_http))
        kz_httpResponse(m_http, kResponseWait);

    const char* body = kz_GetContentData(m_http);
    if (!body)
        return m_cgiResult;
    switch (devlink::ExtractCgiResult(body, m_cgiResult, sizeof m_cgiResult)) {
    case devlink::CgiExtract::NoElement: return nullptr;
    case devlink::CgiExtract::Unterminated:
    case devlink::CgiExtract::Found: return m_cgiResult;
    }
    return m_cgiResult;
}

bool CTiravexCtrl::getDevInfo()
{
    bool answer = true;
    const char* text = cgiRequest(m_login->ip, m_login->username, m_webPort, m_login->passwd, "getDevInfo", 0);
    if (text && *text && std::strlen(text) < kReplyLimit) {
        std::string name;
        if (devlink::ElementText(text, "<productName>", "</productName>", kElementTextLimit, name)) {
            devlink::CopyText(m_modelName, sizeof m_modelName, name);
            if (IsNoPtzModel(m_modelName))
                answer = false;
        }
    }
    return answer;
}

bool CTiravexCtrl::getProductAllInfo()
{
    const char* text = cgiRequest(m_login->ip, m_login->username, m_webPort, m_login->passwd, "getProductAllInfo", 0);
    if (!text || !*text || std::strlen(text) >= kReplyLimit)
        return false;
    devlink::CopyText(m_productInfo, sizeof m_productInfo, text);

    if (m_self == 0) {
        int rows = devlink::ElementNumber(m_productInfo, "<motionAreaRows>", "</motionAreaRows>", kDefaultGridSize);
        int cols = devlink::ElementNumber(m_productInfo, "<motionAreaCols>", "</motionAreaCols>", kDefaultGridSize);
        m_motion.SetGridSize(rows, cols);
    }
    int pt = devlink::ElementDigit(m_productInfo, "<ptFlag>", 0);
    int rs = devlink::ElementDigit(m_productInfo, "<rs485Flag>", pt);
    std::string model;
    if (devlink::ElementText(m_productInfo, "<modelName>", "<", kElementTextLimit, model))
        devlink::CopyText(m_modelName, sizeof m_modelName, model);

    if (m_userRight == 0 || m_deviceKind == 0) {
        m_live.ptzCapable = 0;
        return true;
    }
    if (m_deviceType != kDeviceTypeFull)
        return true;
    if (pt == 1 || rs == 1) {
        m_live.ptzCapable = 1;
        return true;
    }
    if (pt == 0 && rs == 0) {
        m_live.ptzCapable = 0;
        return true;
    }
    return false;
}

bool CTiravexCtrl::ptzStep(WPARAM stop, const std::string& host)
{
    int index;
    if (stop == 1) {
        m_live.EndPtzMove();
        index = kPtzStopIndex;
    } else {
        index = m_live.BeginPtzMove();
        if (index < 0 || index > 8)
            return true;
    }
    if (m_deviceKind >= kFirstRoadDeviceKind) {
        if (m_road)
            kz_post_ctrl_road_msg(m_road, kRoadCommandPtz, 0, kPtzDirections[index].roadCode);
        return true;
    }
    ui::PostMessage(m_hWnd, kMsgPtzDirection, static_cast<WPARAM>(index), 0);
    sys::Locker lock(m_httpLock);
    if (!m_http)
        return false;
    std::string path = format(kCgiPathFormat, m_login->username, m_login->passwd, kPtzDirections[index].command);
    kz_set_httpRequest(m_http, path.c_str(), kMethodGet, host.c_str(), 0, 0);
    kz_create_HttpSocket(m_http);
    if (!kz_httpIsConnected(m_http))
        return false;
    int r = kz_httpConnect(m_http, m_login->ip, m_webPort);
    if (r == kz::kHttpConnectFailed || r == kz::kHttpConnectRefused || r == kz::kHttpSocketClosed) {
        kz_closeHttpSocket(m_http);
        return false;
    }
    if (kz_httpRequest(m_http) == kz::kHttpSocketClosed) {
        kz_closeHttpSocket(m_http);
        return false;
    }
    kz_closeHttpSocket(m_http); // the answer is not read
    return true;
}

void CTiravexCtrl::ptzWorkerLoop(std::shared_ptr<PtzWorkerLink> link)
{
    std::string host;
    {
        sys::Locker lock(link->lock);
        CTiravexCtrl* control = link->control;
        if (!control || !control->m_http)
            return;
        host = hostText(control->m_login->ip, control->m_login->port);
    }
    for (;;) {
        sys::Message message;
        while (sys::PeekMessage(message, true)) {
            if (message.message == sys::kQuitMessage)
                return;
            if (message.message != kMsgPtzMove)
                continue;
            sys::Locker lock(link->lock);
            if (!link->control || !link->control->ptzStep(message.wParam, host))
                return;
        }
        if (sys::CurrentQueue().WaitReady(std::chrono::steady_clock::now() + std::chrono::milliseconds(kPtzPollMs)))
            continue;
        sys::Locker lock(link->lock);
        if (!link->control || !link->control->m_http)
            return;
    }
}

}
