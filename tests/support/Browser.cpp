#include "support/Browser.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartLimitMs = 20000;
constexpr auto kPoll = std::chrono::milliseconds(50);

int msLeft(Clock::time_point until)
{
    return static_cast<int>(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count()));
}

std::string base64Decode(const std::string& text)
{
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    std::string out;
    int bits = 0, buffer = 0;
    for (char c : text) {
        int v = value(c);
        if (v < 0)
            continue;
        buffer = (buffer << 6) | v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

bool sendAll(int fd, const char* data, std::size_t size)
{
    while (size) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes before `until`.
bool readExact(int fd, char* data, std::size_t size, Clock::time_point until)
{
    while (size) {
        pollfd p { fd, POLLIN, 0 };
        int ready = ::poll(&p, 1, msLeft(until));
        if (ready <= 0)
            return false;
        ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}

// ---- ChildProcess ----

bool ChildProcess::Start(const std::vector<std::string>& argv, bool readOutput)
{
    int out[2] = { -1, -1 };
    if (readOutput && ::pipe2(out, O_CLOEXEC) != 0)
        return false;
    // Everything the child needs is made before the fork: it only calls
    // what is safe there until exec.
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const bool quiet = !std::getenv("TIRAVEX_TEST_VERBOSE");
    pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::setpgid(0, 0); // its own group, so that Stop reaches what it starts
        if (readOutput)
            ::dup2(out[1], STDOUT_FILENO);
        int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, STDIN_FILENO);
        if (quiet)
            ::dup2(devnull, STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    m_pid = pid;
    if (readOutput) {
        ::close(out[1]);
        m_out = out[0];
    }
    return true;
}

bool ChildProcess::ReadLine(std::string& line, int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return true;
        }
        if (m_out < 0)
            return false;
        pollfd p { m_out, POLLIN, 0 };
        if (::poll(&p, 1, msLeft(until)) <= 0)
            return false;
        char chunk[4096];
        ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

int ChildProcess::Stop(int graceMs)
{
    if (m_pid <= 0)
        return 0;
    ::kill(m_pid, SIGTERM);
    const auto until = Clock::now() + std::chrono::milliseconds(graceMs);
    int status = 0;
    int result = -1;
    for (;;) {
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (Clock::now() >= until) {
            ::kill(-m_pid, SIGKILL);
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-m_pid, SIGKILL); // anything of its group that is left
    m_pid = -1;
    if (m_out >= 0)
        ::close(m_out);
    m_out = -1;
    return result;
}

// ---- ServeProcess ----

bool ServeProcess::Start(const std::string& root, const std::string& camera, const std::vector<std::string>& extra)
{
    std::vector<std::string> argv { TIRAVEX_SERVE_PROGRAM, "--port", "0", "--root", root };
    if (!camera.empty()) {
        argv.push_back("--camera");
        argv.push_back(camera);
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!m_child.Start(argv, true))
        return false;
    std::string line;
    const auto until = Clock::now() + std::chrono::milliseconds(kStartLimitMs);
    while (m_child.ReadLine(line, msLeft(until))) {
        auto at = line.find("http://");
        if (line.find("serving") != std::string::npos && at != std::string::npos) {
            m_url = line.substr(at);
            auto colon = m_url.rfind(':');
            m_port = std::atoi(m_url.c_str() + colon + 1);
            if (auto t = m_url.find("?token="); t != std::string::npos) {
                m_token = m_url.substr(t + 7);
                m_url = m_url.substr(0, t);
            }
            return m_port > 0;
        }
    }
    return false;
}

Json ServeProcess::Camera(const std::string& name, const Json& args)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(10, 0);
    auto res = client.Post(("/tiravex/camera/" + name).c_str(), Json { { "args", args } }.dump(), "application/json");
    if (!res || res->status != 200)
        return nullptr;
    Json answer = Json::parse(res->body, nullptr, false);
    return answer.is_object() && answer.contains("value") ? answer["value"] : Json();
}

// ---- CdpPage ----

CdpPage::~CdpPage()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CdpPage::Connect(int port, const std::string& targetId, const std::string& path)
{
    m_targetId = targetId;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGlyYXZleC10ZXN0cy0xMg==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!sendAll(m_fd, request.data(), request.size()))
        return false;
    const auto until = Clock::now() + std::chrono::seconds(10);
    std::string reply;
    char c = 0;
    while (reply.find("\r\n\r\n") == std::string::npos) {
        if (!readExact(m_fd, &c, 1, until))
            return false;
        reply += c;
    }
    return reply.rfind("HTTP/1.1 101", 0) == 0;
}

bool CdpPage::sendText(const std::string& text)
{
    std::string frame;
    frame += static_cast<char>(0x81); // final text frame
    const std::size_t n = text.size();
    if (n < 126) {
        frame += static_cast<char>(0x80 | n);
    } else if (n < 65536) {
        frame += static_cast<char>(0x80 | 126);
        frame += static_cast<char>((n >> 8) & 0xFF);
        frame += static_cast<char>(n & 0xFF);
    } else {
        frame += static_cast<char>(0x80 | 127);
        for (int i = 7; i >= 0; --i)
            frame += static_cast<char>((static_cast<std::uint64_t>(n) >> (8 * i)) & 0xFF);
    }
    const unsigned char mask[4] = { 0x12, 0x34, 0x56, 0x78 };
    frame.append(reinterpret_cast<const char*>(mask), 4);
    for (std::size_t i = 0; i < n; ++i)
        frame += static_cast<char>(text[i] ^ mask[i % 4]);
    return sendAll(m_fd, frame.data(), frame.size());
}

bool CdpPage::readMessage(std::string& message, int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    message.clear();
    for (;;) {
        unsigned char head[2];
        if (!readExact(m_fd, reinterpret_cast<char*>(head), 2, until))
            return false;
        std::uint64_t length = head[1] & 0x7F;
        if (length == 126 || length == 127) {
            unsigned char more[8];
            const int bytes = length == 126 ? 2 : 8;
            if (!readExact(m_fd, reinterpret_cast<char*>(more), static_cast<std::size_t>(bytes), until))
                return false;
            length = 0;
            for (int i = 0; i < bytes; ++i)
                length = (length << 8) | more[i];
        }
        std::string payload(length, '\0');
        if (length && !readExact(m_fd, payload.data(), payload.size(), until))
            return false;
        const int opcode = head[0] & 0x0F;
        if (opcode == 8)
            return false; // closed
        if (opcode == 9 || opcode == 10)
            continue; // ping, pong
        message += payload;
        if (head[0] & 0x80)
            return true;
    }
}

Json CdpPage::Call(const std::string& method, const Json& params, int timeoutMs)
{
    const int id = m_nextId++;
    if (m_fd < 0 || !sendText(Json { { "id", id }, { "method", method }, { "params", params } }.dump()))
        return Json { { "error", "not connected" } };
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string message;
    while (readMessage(message, msLeft(until))) {
        Json reply = Json::parse(message, nullptr, false);
        if (!reply.is_object() || !reply.contains("id") || reply["id"] != id)
            continue; // an event
        if (reply.contains("error"))
            return Json { { "error", reply["error"] } };
        return reply.value("result", Json::object());
    }
    return Json { { "error", "no answer to " + method } };
}

Json CdpPage::Eval(const std::string& expression, int timeoutMs)
{
    Json result = Call("Runtime.evaluate", Json { { "expression", expression }, { "returnByValue", true }, { "awaitPromise", true } }, timeoutMs);
    if (result.contains("error") || result.contains("exceptionDetails") || !result.contains("result"))
        return nullptr;
    return result["result"].value("value", Json());
}

bool CdpPage::WaitFor(const std::string& expression, int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (Eval("!!(" + expression + ")", 5000) == Json(true))
            return true;
        std::this_thread::sleep_for(kPoll);
    } while (Clock::now() < until);
    return false;
}

bool CdpPage::Mouse(const std::string& type, double x, double y, const std::string& button, double deltaY, int clickCount)
{
    Json params { { "type", type }, { "x", x }, { "y", y }, { "button", button }, { "clickCount", clickCount } };
    if (type == "mouseWheel") {
        params["deltaX"] = 0;
        params["deltaY"] = deltaY;
    }
    return !Call("Input.dispatchMouseEvent", params).contains("error");
}

bool CdpPage::Screenshot(const std::string& path)
{
    Json result = Call("Page.captureScreenshot", Json { { "format", "png" } }, 20000);
    if (!result.contains("data"))
        return false;
    std::ofstream out(path, std::ios::binary);
    out << base64Decode(result["data"].get<std::string>());
    return static_cast<bool>(out);
}

// ---- Chromium ----

std::string ChromiumProgram()
{
    for (const char* candidate : { "/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome" })
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return {};
}

bool Chromium::Start()
{
    const std::string program = ChromiumProgram();
    if (program.empty())
        return false;
    char folder[] = "/tmp/tiravex-chromium-XXXXXX";
    if (!::mkdtemp(folder))
        return false;
    m_profile = folder;
    std::vector<std::string> argv { program, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
        "--disable-background-networking", "--disable-extensions", "--disable-component-update", "--disable-sync",
        "--disable-background-timer-throttling", "--disable-renderer-backgrounding", "--disable-backgrounding-occluded-windows",
        "--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream", "--autoplay-policy=no-user-gesture-required",
        "--window-size=1280,960", "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0", "--user-data-dir=" + m_profile, "about:blank" };
    if (!m_child.Start(argv, false))
        return false;
    const auto until = Clock::now() + std::chrono::milliseconds(kStartLimitMs);
    while (Clock::now() < until) {
        std::ifstream active(m_profile + "/DevToolsActivePort");
        int port = 0;
        if (active >> port && port > 0) {
            m_port = port;
            return true;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return false;
}

void Chromium::Stop()
{
    m_child.Stop(3000);
    if (!m_profile.empty()) {
        std::string command = "rm -rf '" + m_profile + "'";
        if (std::system(command.c_str()) != 0) { }
        m_profile.clear();
    }
}

bool Chromium::Open(const std::string& url, CdpPage& page)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(10, 0);
    // The address is the query: its own '&' and '#' are escaped.
    std::string escaped;
    for (char c : url) {
        if (c == '&' || c == '#' || c == '%' || c == ' ') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    auto res = client.Put(("/json/new?" + escaped).c_str());
    if (!res || res->status != 200)
        return false;
    Json target = Json::parse(res->body, nullptr, false);
    if (!target.is_object() || !target.contains("webSocketDebuggerUrl"))
        return false;
    std::string ws = target["webSocketDebuggerUrl"].get<std::string>();
    auto path = ws.find("/devtools/");
    return path != std::string::npos && page.Connect(m_port, target.value("id", ""), ws.substr(path));
}

bool Chromium::Close(const CdpPage& page)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(10, 0);
    auto res = client.Get(("/json/close/" + page.TargetId()).c_str());
    return res && res->status == 200;
}

}
