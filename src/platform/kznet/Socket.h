#pragma once
// Blocking sockets with deadlines for the network library's worker threads.
// A Socket owns its descriptor and closes it when destroyed; Shutdown may be
// called from any thread to wake a thread blocked in Read.

#include "kznet/Wire.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct sockaddr_in;

namespace kz::net {

using Clock = std::chrono::steady_clock;

// A write that makes no progress for this long fails.
constexpr int kSendTimeoutMs = 2000;

enum class ConnectResult { Ok, Refused, Failed, BadAddress };

// Resolves a numeric IPv4 address or a host name ("localhost") to an address.
bool ResolveIPv4(const std::string& host, std::uint16_t port, sockaddr_in& out);

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) { }
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Valid() const { return m_fd.load() >= 0; }
    int Fd() const { return m_fd.load(); }

    // TCP connect with a time limit; gives up early (Failed) once `cancel`
    // becomes true.
    ConnectResult Connect(const std::string& host, int port, int timeoutMs, const std::atomic<bool>* cancel = nullptr);

    // Writes all bytes; false on error. Safe to call from several threads if
    // the caller serialises whole messages.
    bool WriteAll(const void* data, std::size_t n);
    // Reads exactly n bytes before the deadline; false on end, error or time-out.
    enum class ReadResult { Ok, Closed, TimedOut };
    ReadResult ReadExact(void* data, std::size_t n, Clock::time_point deadline);
    // Reads whatever is there (at most n) before the deadline; 0 on end or error, -1 on time-out.
    long ReadSome(void* data, std::size_t n, Clock::time_point deadline);

    // Wakes blocked readers and writers; the descriptor stays until Close.
    void Shutdown();
    void Close();

private:
    std::atomic<int> m_fd { -1 };
};

// Reads one framed message (header and payload) into `payload`. Messages
// that are malformed (bad magic, longer than `maxPayload`) give Malformed;
// the payload buffer never grows past maxPayload.
enum class MessageRead { Ok, Closed, TimedOut, Malformed };
MessageRead ReadMessage(Socket& socket, wire::Header& header, std::vector<std::uint8_t>& payload, std::uint32_t maxPayload, Clock::time_point deadline);

}
