#include "sim/SearchResponder.h"

#include "sim/Fields.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace sim {

using namespace kz;
using namespace kz::wire;

std::unique_ptr<SearchResponder> SearchResponder::Open(Camera::State& state)
{
    auto socket = Listener::Open(state.config.address, state.config.searchPort, SOCK_DGRAM);
    if (!socket)
        return nullptr;
    state.searchPort = socket->Port();
    return std::unique_ptr<SearchResponder>(new SearchResponder(state, std::move(socket)));
}

std::vector<std::uint8_t> SearchResponder::Record() const
{
    const CameraConfig& config = m_state.config;
    std::size_t bytes = IsRecordLength(config.searchRecordBytes) ? config.searchRecordBytes : kRecordLong;
    std::vector<std::uint8_t> record(bytes, 0);
    PutText(record, kRecIdAt, config.deviceId, kRecIdBytes);
    PutText(record, kRecNameAt, config.name, kRecNameBytes);
    in_addr address {};
    inet_pton(AF_INET, config.address.c_str(), &address);
    std::memcpy(&record[kRecAddressAt], &address, sizeof address);
    record[kRecEncodingAt] = kRecNameUtf8;
    record[kRecValueAt] = static_cast<std::uint8_t>(config.deviceKind);
    record[kRecValueAt + 1] = static_cast<std::uint8_t>(config.deviceKind >> 8);
    PutNetPort(record, kRecPortAt, m_state.port);
    if (bytes >= kRecWebPortAt + sizeof(std::uint16_t))
        PutNetPort(record, kRecWebPortAt, m_state.webPort);
    return record;
}

void SearchResponder::Answer()
{
    const int fd = m_socket->Fd();
    std::uint8_t buffer[kMaxDatagram];
    sockaddr_in from {};
    socklen_t fromLength = sizeof from;
    ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    Header header;
    if (n != static_cast<ssize_t>(kHeaderBytes + kSearchProbeBytes) || ParseHeader(buffer, kHeaderBytes, header) != HeaderCheck::Ok
        || header.kind != Kind::SearchProbe || header.length != kSearchProbeBytes)
        return;
    auto record = Record();
    std::vector<std::uint8_t> payload;
    payload.reserve(kSearchNonceBytes + record.size());
    w32(payload, r32(buffer + kHeaderBytes)); // the probe's nonce
    wbytes(payload, record.data(), record.size());
    auto datagram = Message(Kind::SearchAnswer, payload);
    ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
}

}
