// Fuzz entry point: wire messages as each side reads them from its socket.
// The input is the byte stream; the network library reads it as a road and
// as a media channel would (framing, then each message by its kind), and the
// simulated camera reads it as a connection's first and later messages.

#include "kznet/Library.h"
#include "kznet/Wire.h"
#include "sim/Connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

using namespace kz;
using namespace kz::wire;

// How long a read may wait: the writer has closed its end, so only a slow
// machine makes a read wait at all.
constexpr int kReadWaitMs = 2000;

// Writes `bytes` into one end of a fresh socket pair from a thread of its
// own, closes it, and hands the other end to `read`, which owns it (and by
// closing it releases a writer that the reader left behind).
template<typename Read> void throughSocket(const std::vector<std::uint8_t>& bytes, Read read)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    std::thread writer([&] {
        std::size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = ::send(ends[1], bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        ::shutdown(ends[1], SHUT_WR);
    });
    read(ends[0]);
    writer.join();
    ::close(ends[1]);
}

// What the library does with each message on a road and on a media channel.
void libraryReads(int fd, std::uint32_t maxPayload)
{
    net::Socket socket(fd);
    Header header;
    std::vector<std::uint8_t> payload;
    for (;;) {
        auto deadline = net::Clock::now() + std::chrono::milliseconds(kReadWaitMs);
        if (net::ReadMessage(socket, header, payload, maxPayload, deadline) != net::MessageRead::Ok)
            return;
        if (header.kind == Kind::Control && payload.size() >= kControlTypeBytes) {
            int type = ri32(payload.data());
            int length = static_cast<int>(payload.size() - kControlTypeBytes);
            volatile bool fits = ControlLengthFits(type, length, false) || ControlLengthFits(type, length, true);
            (void)fits;
        } else if (header.kind == Kind::Status) {
            Status status;
            ParseStatus(payload.data(), payload.size(), status);
        } else if (header.kind == Kind::Frame) {
            FrameRecord record;
            if (ReadFrameRecord(payload.data(), payload.size(), record)) {
                volatile std::uint8_t last = record.payload[record.size - 1];
                (void)last;
            }
        }
    }
}

// What the camera does with a connection's messages.
void cameraReads(int fd)
{
    sim::Connection connection(fd);
    Header header;
    std::vector<std::uint8_t> payload;
    while (connection.Next(header, payload, kReadWaitMs) == sim::Connection::Read::Message) {
        LoginRequest login;
        OpenRequest open;
        CommandRequest command;
        MediaControl control;
        switch (header.kind) {
        case Kind::Login: ParseLogin(payload.data(), payload.size(), login); break;
        case Kind::Open:
            if (ParseOpen(payload.data(), payload.size(), open))
                IsLiveAddress(open.address);
            break;
        case Kind::Command: ParseCommand(payload.data(), payload.size(), command); break;
        case Kind::MediaControl: ParseMediaControl(payload.data(), payload.size(), control); break;
        default: break;
        }
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    throughSocket(bytes, [](int fd) { libraryReads(fd, kMaxControlPayload); });
    throughSocket(bytes, [](int fd) { libraryReads(fd, kMaxPayload); });
    throughSocket(bytes, [](int fd) { cameraReads(fd); });
    return 0;
}
