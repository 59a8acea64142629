#include "host/WorkerLink.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace host::bridge {

namespace {

void put32(char* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t get32(const char* at)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(at[i])) << (8 * i);
    return v;
}

bool writeAll(int fd, const char* data, std::size_t size)
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

bool readAll(int fd, char* data, std::size_t size)
{
    while (size) {
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

std::string ItemHeader(ItemType type, std::uint32_t number, std::size_t payloadBytes)
{
    std::string header(kItemHeaderBytes, '\0');
    header[0] = static_cast<char>(type);
    put32(header.data() + kItemNumberAt, number);
    put32(header.data() + kItemLengthAt, static_cast<std::uint32_t>(payloadBytes));
    return header;
}

std::string Item(ItemType type, std::uint32_t number, std::string_view payload)
{
    std::string item = ItemHeader(type, number, payload.size());
    item.append(payload);
    return item;
}

std::string PictureItem(std::uint32_t view, const PictureHeader& h, const std::uint8_t* jpeg, std::size_t jpegBytes)
{
    std::string item = ItemHeader(ItemType::Picture, view, kPictureHeaderBytes + jpegBytes);
    char fields[kPictureHeaderBytes] = {};
    put32(fields + 0, h.serial);
    put32(fields + 4, static_cast<std::uint32_t>(h.x));
    put32(fields + 8, static_cast<std::uint32_t>(h.y));
    put32(fields + 12, static_cast<std::uint32_t>(h.width));
    put32(fields + 16, static_cast<std::uint32_t>(h.height));
    put32(fields + 20, h.viewWidth);
    put32(fields + 24, h.viewHeight);
    put32(fields + 28, h.workUs);
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof h.changedMs);
    std::memcpy(&bits, &h.changedMs, sizeof bits);
    put32(fields + 32, static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
    put32(fields + 36, static_cast<std::uint32_t>(bits >> 32));
    item.append(fields, sizeof fields);
    item.append(reinterpret_cast<const char*>(jpeg), jpegBytes);
    return item;
}

std::string VideoItem(std::uint32_t stream, const VideoHeader& h, const std::uint8_t* frame, std::size_t frameBytes)
{
    std::string item = ItemHeader(ItemType::Video, stream, kVideoHeaderBytes + frameBytes);
    char fields[kVideoHeaderBytes] = {};
    put32(fields + 0, h.serial);
    fields[4] = static_cast<char>(h.coding);
    fields[kVideoKeyFrameAt] = static_cast<char>(h.keyFrame);
    put32(fields + 8, h.width);
    put32(fields + 12, h.height);
    for (int i = 0; i < 4; ++i) {
        put32(fields + 16 + 4 * i, static_cast<std::uint32_t>(h.source[i]));
        put32(fields + 32 + 4 * i, static_cast<std::uint32_t>(h.target[i]));
    }
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof h.arrivedMs);
    std::memcpy(&bits, &h.arrivedMs, sizeof bits);
    put32(fields + 48, static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
    put32(fields + 52, static_cast<std::uint32_t>(bits >> 32));
    std::memcpy(fields + 56, h.codec, kVideoCodecChars);
    item.append(fields, sizeof fields);
    item.append(reinterpret_cast<const char*>(frame), frameBytes);
    return item;
}

bool ReadVideoItem(std::string_view item, std::uint32_t& stream, bool& keyFrame)
{
    if (item.size() < kItemHeaderBytes + kVideoHeaderBytes || static_cast<ItemType>(item[0]) != ItemType::Video)
        return false;
    stream = get32(item.data() + kItemNumberAt);
    keyFrame = item[kItemHeaderBytes + kVideoKeyFrameAt] == 1;
    return true;
}

WorkerLink::~WorkerLink()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool WorkerLink::Send(LinkKind kind, std::uint32_t id, std::string_view payload)
{
    char header[kLinkHeaderBytes];
    put32(header, static_cast<std::uint32_t>(payload.size() + kLinkHeaderBytes - 4));
    header[4] = static_cast<char>(kind);
    put32(header + 5, id);
    std::lock_guard lock(m_sendMutex);
    return writeAll(m_fd, header, sizeof header) && writeAll(m_fd, payload.data(), payload.size());
}

bool WorkerLink::Receive(LinkKind& kind, std::uint32_t& id, std::string& payload)
{
    char header[kLinkHeaderBytes];
    if (!readAll(m_fd, header, sizeof header))
        return false;
    std::uint32_t length = get32(header);
    if (length < kLinkHeaderBytes - 4 || length > kMaxLinkMessage)
        return false;
    kind = static_cast<LinkKind>(header[4]);
    id = get32(header + 5);
    payload.resize(length - (kLinkHeaderBytes - 4));
    return readAll(m_fd, payload.data(), payload.size());
}

void WorkerLink::Shutdown() { ::shutdown(m_fd, SHUT_RDWR); }

}
