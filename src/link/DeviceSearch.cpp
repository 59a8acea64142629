#include "link/DeviceSearch.h"

#include "link/Bytes.h"

#include "com/CodePage.h"

#include <arpa/inet.h>
#include <cstring>

namespace devlink {

struct DeviceSearch::Context {
    HWND mailbox = nullptr;
    char deviceId[kz::kRecIdBytes] = {};
};

namespace {

// A copy of a search answer, as posted to the mailbox.
struct FoundDevice {
    std::vector<std::uint8_t> record;
};

bool acceptable(int type, const char* record, int length)
{
    return type == kz::kSearchAnswer && record && length > 0 && kz::IsRecordLength(static_cast<std::size_t>(length));
}

bool post(HWND mailbox, UINT message, const char* record, int length)
{
    auto* found = reinterpret_cast<FoundDevice*>(DeviceSearch::CopyAnswer(kz::kSearchAnswer, record, length));
    if (ui::PostMessage(mailbox, message, reinterpret_cast<WPARAM>(found), 0, [found] { delete found; }))
        return true;
    delete found;
    return false;
}

std::string addressText(const FoundDevice& d)
{
    in_addr address {};
    std::memcpy(&address.s_addr, d.record.data() + kz::kRecAddressAt, sizeof address.s_addr);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// A 16-bit field of the copy, in host order (the port was turned so when copied).
std::int32_t hostU16(const FoundDevice& d, std::size_t offset)
{
    std::uint16_t value;
    std::memcpy(&value, d.record.data() + offset, sizeof value);
    return value;
}

// Cuts an 8-bit text in the system code page to at most `limit` bytes
// without splitting a character.
std::string cutToCharacters(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::u16string wide = com::MultiByteToWide(text);
    std::string out;
    for (char16_t c : wide) {
        std::string piece = com::WideToMultiByte(std::u16string_view(&c, 1));
        if (out.size() + piece.size() > limit)
            break;
        out += piece;
    }
    return out;
}

}

DeviceSearch::DeviceSearch() = default;

DeviceSearch::~DeviceSearch()
{
    Stop();
}

void DeviceSearch::Stop()
{
    if (m_handle)
        kz_close_search(m_handle); // no callback runs after this returns
    m_handle = nullptr;
    m_context.reset();
}

void DeviceSearch::StartAll(HWND mailbox, int parameter)
{
    Stop();
    m_context = std::make_unique<Context>();
    m_context->mailbox = mailbox;
    m_handle = kz_search_devices(&DeviceSearch::ListCallback, m_context.get(), parameter, kz::kSearchAll);
}

void DeviceSearch::StartOne(HWND mailbox, int parameter, const char* deviceId)
{
    Stop();
    m_context = std::make_unique<Context>();
    m_context->mailbox = mailbox;
    std::memcpy(m_context->deviceId, deviceId, strnlen(deviceId, sizeof m_context->deviceId));
    m_handle = kz_search_devices(&DeviceSearch::FindCallback, m_context.get(), parameter, kz::kSearchOne);
}

int DeviceSearch::ListCallback(int type, const char* record, int length, void* user)
{
    auto* context = static_cast<Context*>(user);
    if (context && acceptable(type, record, length))
        post(context->mailbox, kMsgSearchAnswer, record, length);
    return 0;
}

int DeviceSearch::FindCallback(int type, const char* record, int length, void* user)
{
    auto* context = static_cast<Context*>(user);
    if (!context || !acceptable(type, record, length))
        return 0;
    if (strncmp(record + kz::kRecIdAt, context->deviceId, kz::kRecIdBytes) != 0)
        return 0;
    post(context->mailbox, kMsgDeviceFound, record, length);
    return kz::kSearchStop;
}

WPARAM DeviceSearch::CopyAnswer(int type, const char* record, int length)
{
    if (!acceptable(type, record, length))
        return 0;
    auto* found = new FoundDevice;
    found->record.assign(record, record + length);
    std::uint16_t port;
    std::memcpy(&port, found->record.data() + kz::kRecPortAt, sizeof port);
    port = ntohs(port);
    std::memcpy(found->record.data() + kz::kRecPortAt, &port, sizeof port);
    return reinterpret_cast<WPARAM>(found);
}

SearchAnswer DeviceSearch::AnswerOf(WPARAM copy)
{
    std::unique_ptr<FoundDevice> found(reinterpret_cast<FoundDevice*>(copy));
    const std::uint8_t* r = found->record.data();
    std::string name = FieldText(r, kz::kRecNameAt, kz::kRecNameBytes);
    if (r[kz::kRecEncodingAt] == kz::kRecNameUtf8)
        name = cutToCharacters(com::WideToMultiByte(com::MultiByteToWide(name, com::kCodePageUtf8)), kMaxSearchNameBytes);
    return SearchAnswer { name, addressText(*found), hostU16(*found, kz::kRecPortAt), hostU16(*found, kz::kRecValueAt) };
}

DeviceFound DeviceSearch::FoundOf(WPARAM copy)
{
    std::unique_ptr<FoundDevice> found(reinterpret_cast<FoundDevice*>(copy));
    return DeviceFound { addressText(*found), hostU16(*found, kz::kRecPortAt) };
}

}
