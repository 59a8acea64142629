#pragma once
// tiravex-serve and a headless Chromium for tests and benches: the server
// runs as a child process on a free loopback port; Chromium runs headless
// with a fake microphone and camera and is driven through its DevTools
// protocol (a WebSocket on loopback): open a page, evaluate script in it,
// send it real mouse and wheel input, take a screenshot, close it.
//
// Everything has a time limit; a child that does not end is killed.

#include <nlohmann/json.hpp>

#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

using Json = nlohmann::json;

// A child process whose standard output is read line by line.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::vector<std::string>& argv, bool readOutput);
    // The next line of its output, or false after `timeoutMs`.
    bool ReadLine(std::string& line, int timeoutMs);
    // SIGTERM, then SIGKILL after `graceMs`; the exit status (-1: killed).
    int Stop(int graceMs = 10000);
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

// tiravex-serve with a simulated camera, on a free loopback port.
class ServeProcess {
public:
    static constexpr int kStopGraceMs = 30000;
    // `camera`: "sim[,key=value...]" or empty; `extra`: more options.
    bool Start(const std::string& root, const std::string& camera, const std::vector<std::string>& extra = {});
    // SIGTERM; a clean end may take a while under a sanitizer, which checks
    // the whole heap for leaks as the process exits.
    int Stop() { return m_child.Stop(kStopGraceMs); }
    int Port() const { return m_port; }
    const std::string& Url() const { return m_url; } // "http://127.0.0.1:PORT/"
    const std::string& Token() const { return m_token; }
    ChildProcess& Child() { return m_child; }
    // POST /tiravex/camera/<name> with `args`; the answer's value.
    Json Camera(const std::string& name, const Json& args = Json::array());

private:
    ChildProcess m_child;
    int m_port = 0;
    std::string m_url;
    std::string m_token;
};

// One page's DevTools connection.
class CdpPage {
public:
    CdpPage() = default;
    ~CdpPage();
    CdpPage(const CdpPage&) = delete;
    CdpPage& operator=(const CdpPage&) = delete;

    bool Connect(int port, const std::string& targetId, const std::string& path);
    // A DevTools command and its result; an object with "error" on failure or time-out.
    Json Call(const std::string& method, const Json& params = Json::object(), int timeoutMs = 10000);
    // The value of a script expression (promises are awaited); null on failure.
    Json Eval(const std::string& expression, int timeoutMs = 10000);
    // Evaluates `expression` until it is true, at most `timeoutMs`.
    bool WaitFor(const std::string& expression, int timeoutMs);
    // A mouse event through the browser's input (a person's): type is
    // mousePressed, mouseReleased, mouseMoved or mouseWheel.
    bool Mouse(const std::string& type, double x, double y, const std::string& button = "none", double deltaY = 0, int clickCount = 1);
    bool Screenshot(const std::string& path);
    const std::string& TargetId() const { return m_targetId; }

private:
    bool sendText(const std::string& text);
    bool readMessage(std::string& message, int timeoutMs);
    int m_fd = -1;
    int m_nextId = 1;
    std::string m_targetId;
};

class Chromium {
public:
    Chromium() = default;
    ~Chromium() { Stop(); }
    // False when Chromium is not installed or does not start.
    bool Start();
    void Stop();
    // Opens `url` in a new page.
    bool Open(const std::string& url, CdpPage& page);
    // Closes the page as a person closes its tab.
    bool Close(const CdpPage& page);
    int DevToolsPort() const { return m_port; }
    // The browser's first process, the leader of the group of all of them.
    pid_t Pid() const { return m_child.Pid(); }

private:
    ChildProcess m_child;
    std::string m_profile;
    int m_port = 0;
};

// Where the program is, or "" (the test then skips).
std::string ChromiumProgram();

}
