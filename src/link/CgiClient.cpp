#include "link/CgiClient.h"

#include "link/CgiText.h"

#include <cstdio>

namespace devlink {

namespace {

constexpr const char* kCgiPathFormat = "%s?%s=%s&%s=%s&%s=%s";
constexpr const char* kHostFormat = "%s:%d";
constexpr const char* kMethodGet = "GET";
// The response wait, in the library's 10 ms units.
constexpr int kResponseWait = 300;
constexpr std::size_t kHostTextBytes = 160;

std::string cgiPath(const char* username, const char* passwd, const char* command)
{
    // The account is escaped, the command is not: the page may give it
    // parameters of its own.
    const std::string user = PercentEncode(username ? username : "");
    const std::string password = PercentEncode(passwd ? passwd : "");
    auto format = [&](char* out, std::size_t size) {
        return std::snprintf(out, size, kCgiPathFormat, kz::cgi::kPath, kz::cgi::kUserParam, user.c_str(), kz::cgi::kPasswordParam, password.c_str(),
            kz::cgi::kCommandParam, command);
    };
    int n = format(nullptr, 0);
    std::string out(static_cast<std::size_t>(n < 0 ? 0 : n), '\0');
    format(out.data(), out.size() + 1);
    return out;
}

}

CgiClient::~CgiClient()
{
    Close();
}

std::string CgiClient::HostText(const char* address, int port)
{
    char buffer[kHostTextBytes];
    std::snprintf(buffer, sizeof buffer, kHostFormat, address, port);
    return buffer;
}

void CgiClient::releaseParser()
{
    if (!m_http)
        return;
    kz_freeSendData(m_http);
    kz_close_HttpParser(m_http);
    m_http = nullptr;
}

void CgiClient::Replace()
{
    sys::Locker lock(m_lock);
    releaseParser();
    m_http = kz_create_HttpParser();
    kz_mallocSendData(m_http, kHttpSendBufferBytes);
}

void CgiClient::Close()
{
    sys::Locker lock(m_lock);
    if (m_http)
        kz_closeHttpSocket(m_http);
    releaseParser();
}

void CgiClient::CloseSocket()
{
    // Not under the lock: the exchange in progress holds it.
    if (KzHandle http = m_http.load())
        kz_closeHttpSocket(http);
}

void CgiClient::Cancel()
{
    // Set before the parser is looked at: an exchange that starts after this
    // sees the flag once its socket exists, one already running loses its socket.
    m_cancelled = true;
    CloseSocket();
}

bool CgiClient::HasParser() const
{
    // Without the lock: an exchange in progress holds it.
    return m_http.load() != nullptr;
}

std::optional<std::string> CgiClient::Request(const char* address, const char* username, int port, const char* passwd, const char* command, int mode, bool replyFormat)
{
    sys::Locker lock(m_lock);
    if (m_cancelled)
        return std::nullopt;
    std::string host = HostText(address, port);
    m_result[0] = 0;
    std::string path = cgiPath(username, passwd, command);
    if (replyFormat || mode == kCgiModeNoNetwork)
        return std::string();

    // A new parser per request; the previous one is released here rather
    // than left behind.
    releaseParser();
    m_http = kz_create_HttpParser();
    kz_mallocSendData(m_http, kHttpSendBufferBytes);
    kz_set_httpRequest(m_http, path.c_str(), kMethodGet, host.c_str(), 0, 0);
    kz_create_HttpSocket(m_http);
    if (m_cancelled) {
        kz_closeHttpSocket(m_http);
        return std::nullopt;
    }

    int r = kz_httpConnect(m_http, address, port);
    if (r == kz::kHttpSocketClosed) {
        kz_closeHttpSocket(m_http);
        return std::nullopt;
    }
    if (r == kz::kHttpConnectFailed || r == kz::kHttpConnectRefused)
        kz_closeHttpSocket(m_http);
    if (kz_httpRequest(m_http) == kz::kHttpSocketClosed)
        kz_closeHttpSocket(m_http);
    if (kz_httpIsConnected(m_http))
        kz_httpResponse(m_http, kResponseWait);
    if (m_cancelled)
        return std::nullopt;

    const char* body = kz_GetContentData(m_http);
    if (!body)
        return std::string();
    if (ExtractCgiResult(body, m_result, sizeof m_result) == CgiExtract::NoElement)
        return std::nullopt;
    return std::string(m_result);
}

bool CgiClient::Send(const char* address, const char* username, int port, const char* passwd, const char* command, const std::string& hostText)
{
    sys::Locker lock(m_lock);
    if (!m_http)
        return false;
    std::string path = cgiPath(username, passwd, command);
    kz_set_httpRequest(m_http, path.c_str(), kMethodGet, hostText.c_str(), 0, 0);
    kz_create_HttpSocket(m_http);
    if (!kz_httpIsConnected(m_http))
        return false;
    if (m_cancelled) {
        kz_closeHttpSocket(m_http);
        return false;
    }
    int r = kz_httpConnect(m_http, address, port);
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

}
