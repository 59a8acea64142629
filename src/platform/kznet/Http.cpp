// The small HTTP client: one GET exchange at a time over a plain socket,
// with the call order the control uses (set request, create socket,
// connect, request, response, content, close).

#include "kznet/Library.h"
#include "kznet/Onvif.h"

#include <cstdlib>
#include <cstring>

namespace kz {

namespace {

constexpr const char* kHeaderEnd = "\r\n\r\n";
constexpr const char* kLineEnd = "\r\n";
constexpr std::size_t kMaxChunkLine = 32;
constexpr int kHttpOk = 200;

bool iequalsPrefix(const std::string& text, std::size_t at, const char* word)
{
    std::size_t n = std::strlen(word);
    if (text.size() - at < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

// Value of a header named `name` (with its colon) in the header block, or false.
bool headerValue(const std::string& headers, const char* name, std::string& value)
{
    std::size_t at = 0;
    while (at < headers.size()) {
        std::size_t end = headers.find(kLineEnd, at);
        if (end == std::string::npos)
            end = headers.size();
        if (iequalsPrefix(headers, at, name)) {
            std::size_t v = at + std::strlen(name);
            while (v < end && (headers[v] == ' ' || headers[v] == '\t'))
                ++v;
            value = headers.substr(v, end - v);
            return true;
        }
        at = end + 2;
    }
    return false;
}

bool decodeChunked(const std::string& raw, std::size_t at, std::string& body)
{
    body.clear();
    for (;;) {
        std::size_t lineEnd = raw.find(kLineEnd, at);
        if (lineEnd == std::string::npos || lineEnd - at > kMaxChunkLine)
            return false;
        char* stop = nullptr;
        std::string line = raw.substr(at, lineEnd - at);
        unsigned long size = std::strtoul(line.c_str(), &stop, 16);
        if (stop == line.c_str())
            return false;
        at = lineEnd + 2;
        if (size == 0)
            return true;
        if (size > raw.size() - at)
            return false;
        body.append(raw, at, size);
        at += size + 2;
        if (at > raw.size())
            return false;
    }
}

}

bool ParseHttpResponse(const std::string& raw, bool closed, int& status, std::string& body)
{
    std::size_t headerEnd = raw.find(kHeaderEnd);
    if (headerEnd == std::string::npos || !iequalsPrefix(raw, 0, "HTTP/"))
        return false;
    std::size_t space = raw.find(' ');
    if (space == std::string::npos || space > headerEnd)
        return false;
    status = std::atoi(raw.c_str() + space + 1);
    if (status < 100 || status > 999)
        return false;
    std::string headers = raw.substr(0, headerEnd);
    std::size_t bodyAt = headerEnd + std::strlen(kHeaderEnd);

    std::string value;
    if (headerValue(headers, "Transfer-Encoding:", value) && value.find("chunked") != std::string::npos)
        return decodeChunked(raw, bodyAt, body);
    if (headerValue(headers, "Content-Length:", value)) {
        char* stop = nullptr;
        unsigned long long length = std::strtoull(value.c_str(), &stop, 10);
        if (stop == value.c_str() || length > kMaxHttpResponseBytes || raw.size() - bodyAt < length)
            return false;
        body = raw.substr(bodyAt, length);
        return true;
    }
    if (!closed)
        return false;
    body = raw.substr(bodyAt);
    return true;
}

int Http::SetRequest(const char* path, const char* method, const char* host)
{
    std::lock_guard lock(m_mutex);
    if (!path || !method || !host)
        return -1;
    m_path = path;
    m_method = method;
    m_host = host;
    m_haveBody = false;
    m_body.clear();
    return 0;
}

void Http::closeDescriptor()
{
    std::lock_guard socketLock(m_socketLock);
    m_socket.Close();
}

int Http::CreateSocket()
{
    std::lock_guard lock(m_mutex);
    closeDescriptor();
    m_abort = false;
    m_socketOpen = true;
    m_connected = false;
    m_requestSent = false;
    m_haveBody = false;
    m_body.clear();
    m_relay.reset();
    return 0;
}

int Http::IsConnected()
{
    std::lock_guard lock(m_mutex);
    return m_socketOpen ? 1 : 0;
}

int Http::Connect(const char* address, int port)
{
    std::lock_guard lock(m_mutex);
    if (!m_socketOpen || !address)
        return kHttpSocketClosed;
    // The socket's own Connect would close an old descriptor outside the lock.
    closeDescriptor();
    if (m_abort)
        return kHttpConnectFailed;
    m_relay = m_path.rfind(cgi::kPath, 0) == 0 ? onvif::Find(address, port) : nullptr;
    if (m_relay) {
        m_connected = true;
        return 0;
    }
    // The wait for the connection gives up early once the exchange is aborted.
    switch (m_socket.Connect(address, port, kHttpConnectTimeoutMs, &m_abort)) {
    case net::ConnectResult::Ok: m_connected = true; return 0;
    case net::ConnectResult::Refused: return kHttpConnectRefused;
    case net::ConnectResult::Failed:
    case net::ConnectResult::BadAddress: return kHttpConnectFailed;
    }
    return kHttpConnectFailed;
}

int Http::Request()
{
    std::lock_guard lock(m_mutex);
    if (!m_socketOpen || !m_connected || m_abort)
        return kHttpSocketClosed;
    auto hasLineBreak = [](const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; };
    if (hasLineBreak(m_method) || hasLineBreak(m_path) || hasLineBreak(m_host))
        return kHttpSocketClosed; // a line break would split the request
    std::string request = m_method + " " + m_path + " HTTP/1.1\r\nHost: " + m_host + "\r\nConnection: close\r\n\r\n";
    if (request.size() > kMaxHttpRequestBytes)
        return kHttpSocketClosed;
    if (m_relay) {
        bool accountOk = onvif::QueryValue(m_path, cgi::kUserParam) == m_relay->User() && onvif::QueryValue(m_path, cgi::kPasswordParam) == m_relay->Password();
        m_relayAnswer = onvif::RelayCgi(*m_relay, onvif::QueryValue(m_path, cgi::kCommandParam), m_path, accountOk, &m_abort).text;
        m_requestSent = true;
        return 0;
    }
    if (!m_socket.WriteAll(request.data(), request.size()))
        return kHttpSocketClosed;
    m_requestSent = true;
    return 0;
}

int Http::Response(int timeout)
{
    std::lock_guard lock(m_mutex);
    if (!m_socketOpen || !m_requestSent || m_abort)
        return -1;
    long waitMs = static_cast<long>(timeout) * kHttpResponseUnitMs;
    if (waitMs <= 0 || waitMs > kHttpResponseMaxMs)
        waitMs = kHttpResponseMaxMs;
    if (m_relay) {
        m_body = m_relayAnswer;
        m_haveBody = true;
        return kHttpOk;
    }
    auto deadline = net::Clock::now() + std::chrono::milliseconds(waitMs);
    std::string raw;
    char buffer[4096];
    int status = 0;
    for (;;) {
        long n = m_socket.ReadSome(buffer, sizeof buffer, deadline);
        if (n < 0)
            return -1; // no complete answer in time
        if (n == 0 && m_abort)
            return -1; // ended by CloseSocket: what came is not an answer
        if (n == 0)
            break;
        raw.append(buffer, static_cast<std::size_t>(n));
        if (raw.size() > kMaxHttpResponseBytes)
            return -1;
        if (ParseHttpResponse(raw, false, status, m_body)) {
            m_haveBody = true;
            return status;
        }
    }
    if (!ParseHttpResponse(raw, true, status, m_body))
        return -1;
    m_haveBody = true;
    return status;
}

const char* Http::Content()
{
    std::lock_guard lock(m_mutex);
    return m_haveBody ? m_body.c_str() : nullptr;
}

int Http::CloseSocket()
{
    // A call in progress on another thread holds m_mutex: wake it first.
    m_abort = true;
    {
        std::lock_guard socketLock(m_socketLock);
        m_socket.Shutdown();
    }
    std::lock_guard lock(m_mutex);
    closeDescriptor();
    m_socketOpen = false;
    m_connected = false;
    m_requestSent = false;
    return 0;
}

}
