// Device search: every camera that answers (event 211), or the one this
// control logged in to (event 208).

#include "control/TiravexCtrl.h"

#include "link/EventCodes.h"

#include "com/CodePage.h"

#include <arpa/inet.h>
#include <cstring>

namespace control {

namespace {

// The search record.
constexpr std::size_t kRecordId = 0;
constexpr std::size_t kRecordIdBytes = 13;
constexpr std::size_t kRecordName = 13;
constexpr std::size_t kRecordNameBytes = 21;
constexpr std::size_t kRecordAddress = 34;
constexpr std::size_t kRecordEncoding = 50;
constexpr std::size_t kRecordValue = 52;
constexpr std::size_t kRecordPort = 62;
constexpr int kRecordLengths[] = { 65, 98, 106 };
constexpr std::size_t kMaxNameBytes = 20;

// A copy of a search record, as posted to the window.
struct FoundDevice {
    std::vector<std::uint8_t> record;
};

bool acceptable(int type, const char* record, int length)
{
    if (type != kz::kSearchAnswer || !record)
        return false;
    for (int l : kRecordLengths)
        if (l == length)
            return true;
    return false;
}

FoundDevice* copyRecord(const char* record, int length)
{
    auto* found = new FoundDevice;
    found->record.assign(record, record + length);
    std::uint16_t port;
    std::memcpy(&port, found->record.data() + kRecordPort, sizeof port);
    port = ntohs(port);
    std::memcpy(found->record.data() + kRecordPort, &port, sizeof port);
    return found;
}

std::string addressText(const FoundDevice& d)
{
    in_addr address {};
    std::memcpy(&address.s_addr, d.record.data() + kRecordAddress, sizeof address.s_addr);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::int32_t portOf(const FoundDevice& d)
{
    std::uint16_t port;
    std::memcpy(&port, d.record.data() + kRecordPort, sizeof port);
    return port;
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

int CTiravexCtrl::SearchListCallback(int type, const char* record, int length, void* user)
{
    auto* control = static_cast<CTiravexCtrl*>(user);
    if (!control || !acceptable(type, record, length))
        return 0;
    FoundDevice* found = copyRecord(record, length);
    if (!ui::PostMessage(control->m_hWnd, kMsgSearchAnswer, reinterpret_cast<WPARAM>(found), 0, [found] { delete found; }))
        delete found;
    return 0;
}

int CTiravexCtrl::SearchFindCallback(int type, const char* record, int length, void* user)
{
    auto* control = static_cast<CTiravexCtrl*>(user);
    if (!control || !acceptable(type, record, length))
        return 0;
    if (strncmp(record + kRecordId, control->m_loginReply.deviceId, kRecordIdBytes) != 0)
        return 0;
    FoundDevice* found = copyRecord(record, length);
    if (!ui::PostMessage(control->m_hWnd, kMsgDeviceFound, reinterpret_cast<WPARAM>(found), 0, [found] { delete found; }))
        delete found;
    return kz::kSearchStop;
}

void CTiravexCtrl::searchDevices(LONG parameter)
{
    if (m_search)
        kz_close_search(m_search);
    m_search = kz_search_devices(&CTiravexCtrl::SearchListCallback, this, parameter, kz::kSearchAll);
}

void CTiravexCtrl::searchOneDevice(LONG time)
{
    if (m_search)
        kz_close_search(m_search);
    m_search = nullptr;
    if (m_road) {
        kz_close_ctrl_road(m_road);
        m_road = nullptr;
    }
    m_search = kz_search_devices(&CTiravexCtrl::SearchFindCallback, this, time, kz::kSearchOne);
}

void CTiravexCtrl::onSearchAnswer(WPARAM copy, bool oneDevice)
{
    std::unique_ptr<FoundDevice> found(reinterpret_cast<FoundDevice*>(copy));
    if (!found)
        return;
    if (oneDevice) {
        event(devlink::kEventDeviceFound, { addressText(*found), portOf(*found) }, Delivery::Always);
        return;
    }
    const char* nameField = reinterpret_cast<const char*>(found->record.data() + kRecordName);
    std::string name(nameField, strnlen(nameField, kRecordNameBytes));
    if (found->record[kRecordEncoding] == 0)
        name = cutToCharacters(com::WideToMultiByte(com::MultiByteToWide(name, com::kCodePageUtf8)), kMaxNameBytes);
    std::uint16_t value;
    std::memcpy(&value, found->record.data() + kRecordValue, sizeof value);
    event(devlink::kEventSearchAnswer, { name, addressText(*found), portOf(*found), std::int32_t { value } }, Delivery::Always);
}

}
