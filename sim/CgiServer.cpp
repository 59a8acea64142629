#include "sim/CgiServer.h"

#include "sim/Timing.h"

#include <cctype>
#include <string_view>

namespace sim {

using std::chrono::milliseconds;

namespace {

constexpr const char* kFirmwareVersion = "1.0.0.1";
constexpr const char* kHardwareVersion = "1.0.0.1";
constexpr const char* kAnswerType = "text/plain";
constexpr int kHttpUnavailable = 503; // an ignored request, released without an answer
constexpr int kCgiIgnoreMaxMs = 10000;  // an ignored request is held at most this long

std::string element(const char* name, const std::string& value)
{
    return std::string("<") + name + ">" + value + "</" + name + ">";
}

}

std::string CgiCommandName(const std::string& text)
{
    const std::string key = std::string(kz::cgi::kCommandParam) + "=";
    std::size_t at = text.find(key);
    std::size_t start = at == std::string::npos ? 0 : at + key.size();
    std::size_t end = text.find('&', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string CgiQueryValue(const std::string& target, const std::string& key)
{
    constexpr int kHexBase = 16;
    constexpr std::size_t kEscapeLength = 3; // "%XX"
    std::size_t query = target.find('?');
    if (query == std::string::npos)
        return {};
    std::size_t at = query + 1;
    while (at <= target.size()) {
        std::size_t end = target.find('&', at);
        if (end == std::string::npos)
            end = target.size();
        std::string_view pair(target.data() + at, end - at);
        std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == key) {
            std::string_view raw = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
            std::string value;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '+') {
                    value += ' ';
                } else if (raw[i] == '%' && i + kEscapeLength <= raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i + 1]))
                    && std::isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
                    value += static_cast<char>(std::stoi(std::string(raw.substr(i + 1, 2)), nullptr, kHexBase));
                    i += kEscapeLength - 1;
                } else {
                    value += raw[i];
                }
            }
            return value;
        }
        at = end + 1;
    }
    return {};
}

std::string CgiAnswer(const CameraConfig& config, int webPort, int port, const std::string& command, bool ok)
{
    using namespace kz::cgi;
    std::string body = kResultOpen;
    if (!ok)
        return body + element(kResult, std::to_string(kResultBadAccount)) + kResultClose;
    body += element(kResult, std::to_string(kResultOk));
    if (command == kGetDevInfo) {
        body += element(kProductName, config.product) + element(kSerialNo, config.deviceId) + element(kDevName, config.name)
            + element(kFirmwareVer, kFirmwareVersion) + element(kHardwareVer, kHardwareVersion);
    } else if (command == kGetProductAllInfo) {
        body += element(kModelName, config.model) + element(kMotionRows, std::to_string(config.rows))
            + element(kMotionCols, std::to_string(config.cols)) + element(kPtFlag, std::to_string(config.ptFlag))
            + element(kRs485Flag, std::to_string(config.rs485Flag));
    } else if (command == kGetPortInfo) {
        body += element(kWebPort, std::to_string(webPort)) + element(kMediaPort, std::to_string(port))
            + element(kHttpsPort, std::to_string(config.httpsPort));
    }
    return body + kResultClose;
}

std::unique_ptr<CgiServer> CgiServer::Open(Camera::State& state, Routes routes)
{
    std::unique_ptr<CgiServer> server(new CgiServer(state));
    const CameraConfig& config = state.config;
    if (routes == Routes::Cgi)
        server->m_http.Get(kz::cgi::kPath, [s = server.get()](const httplib::Request& request, httplib::Response& response) { s->OnRequest(request, response); });
    if (config.webPort > 0)
        state.webPort = server->m_http.bind_to_port(config.address, config.webPort) ? config.webPort : -1;
    else
        state.webPort = server->m_http.bind_to_any_port(config.address);
    return state.webPort > 0 ? std::move(server) : nullptr;
}

CgiServer::~CgiServer()
{
    Stop();
}

void CgiServer::Start()
{
    std::promise<void> ended;
    m_ended = ended.get_future();
    m_thread = std::thread([this, ended = std::move(ended)]() mutable {
        m_http.listen_after_bind();
        ended.set_value();
    });
}

void CgiServer::Stop()
{
    if (!m_thread.joinable())
        return;
    // A stop before the listen loop has started is lost, so stop until the
    // loop has ended.
    do
        m_http.stop();
    while (m_ended.wait_for(milliseconds(kPollSliceMs)) != std::future_status::ready);
    m_thread.join();
}

std::optional<CgiServer::Reply> CgiServer::Take(const std::string& command, bool ok)
{
    auto now = Clock::now();
    int delayMs;
    {
        std::lock_guard lock(m_state.mutex);
        m_state.cgiLog.push_back(command);
        m_state.Notify();
        if (m_state.ignoreCgi)
            return std::nullopt;
        delayMs = m_state.cgiDelayMs;
    }
    return Reply { CgiAnswer(m_state.config, m_state.webPort, m_state.port, command, ok), now + milliseconds(delayMs) };
}

bool CgiServer::Hold(const Reply& reply)
{
    return reply.due <= Clock::now() || m_state.SleepUnlessStopped(reply.due);
}

void CgiServer::OnRequest(const httplib::Request& request, httplib::Response& response)
{
    using namespace kz::cgi;
    // The query is decoded here as a camera decodes it ("+" a space), not
    // as the HTTP library does.
    bool ok = m_state.AccountOk(CgiQueryValue(request.target, kUserParam), CgiQueryValue(request.target, kPasswordParam));
    auto reply = Take(CgiQueryValue(request.target, kCommandParam), ok);
    if (!reply) {
        // Ignored: hold the request without an answer until told otherwise.
        std::unique_lock lock(m_state.mutex);
        m_state.changed.wait_for(lock, milliseconds(kCgiIgnoreMaxMs), [this] { return m_state.stopping.load() || !m_state.ignoreCgi; });
        response.status = kHttpUnavailable;
        return;
    }
    Hold(*reply);
    response.set_content(reply->text, kAnswerType);
}

}
