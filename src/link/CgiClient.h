#pragma once
// The control's HTTP client for the camera's CGI: one network-library HTTP
// parser, the text of the last reply, and the lock that keeps exchanges on
// the parser from overlapping. The page's thread (device information, the
// page's own CGI requests, replacing the parser after a login), the HTTPS-
// port queries and the screen pan/tilt worker all go through it.
//
// Threads: every operation takes the exchange lock, so any thread may call,
// except CloseSocket and Cancel, which end an exchange another thread is in.
//
// The request path carries the user name and password percent-encoded; the
// command is inserted as the page gives it (it may carry parameters of its
// own). Neither the path nor the password is ever written to a diagnostic.

#include "kznet/kznet.h"
#include "sys/Lock.h"

#include <atomic>
#include <optional>
#include <string>

namespace devlink {

// The send buffer of the client's parser.
constexpr int kHttpSendBufferBytes = 500;
// The reply text kept of one exchange: at most 999 characters.
constexpr std::size_t kCgiResultBytes = 1000;

// How an exchange goes: to the network, or (the page asking for HTTPS)
// answered at once with an empty text.
constexpr int kCgiModeNetwork = 0;
constexpr int kCgiModeNoNetwork = 1;

class CgiClient {
public:
    CgiClient() = default;
    ~CgiClient();
    CgiClient(const CgiClient&) = delete;
    CgiClient& operator=(const CgiClient&) = delete;

    // Releases the parser (if any) and makes a new one with its send buffer.
    void Replace();
    // Closes the socket, frees the send buffer and closes the parser.
    void Close();
    // Closes the socket of an exchange in progress (a stopped worker's); the
    // exchange ends at once.
    void CloseSocket();
    // Ends an exchange in progress at once and refuses every later one: for
    // a client that belongs to one worker, when the worker is let go.
    void Cancel();
    bool HasParser() const;

    // One CGI exchange with the camera at `address`:`port`: the reply's
    // CGI_Result element (empty when the reply had no body, or the element
    // no end), or nothing when the exchange failed or the reply had no
    // CGI_Result element. With the reply-format flag, or in mode 1, the
    // empty text without an exchange.
    std::optional<std::string> Request(const char* address, const char* username, int port, const char* passwd, const char* command, int mode, bool replyFormat);

    // A request whose answer is not read (a screen pan/tilt move): false
    // when there is no parser or the exchange failed, which ends the worker.
    bool Send(const char* address, const char* username, int port, const char* passwd, const char* command, const std::string& hostText);

    // "address:port", the host text of a request.
    static std::string HostText(const char* address, int port);

private:
    void releaseParser();

    mutable sys::CriticalSection m_lock; // guards everything below: one exchange at a time
    std::atomic<KzHandle> m_http { nullptr }; // written under m_lock; CloseSocket reads it without
    std::atomic<bool> m_cancelled { false };  // set by Cancel, never cleared
    char m_result[kCgiResultBytes] = {};
};

}
