// The control road: login and registration, the road's life, the filter of
// the control-road callback and the handling of each control message on the
// window's thread.

#include "control/TiravexCtrl.h"

#include "control/Settings.h"
#include "link/CgiText.h"
#include "link/EventCodes.h"

#include "sys/Debug.h"

#include <cctype>
#include <cstring>

namespace control {

namespace {

using devlink::CopyText;

// Road commands (kz_post_ctrl_road_msg).
constexpr int kCommandRegister = 1025;
constexpr int kCommandUnregister = 1026;

constexpr int kAnyLength = -1;
constexpr int kNeverPosted = -2;
constexpr int kShortOrLong = -3; // type 111: 2 or 4 bytes

struct LengthRule {
    int type;
    int length;      // required length, or one of the markers above
    int replyLength; // required length while the reply-format flag is set
};

// Control messages the control accepts, with their lengths.
constexpr LengthRule kLengthRules[] = {
    { 3, 7, 7 }, { 4, kNeverPosted, kNeverPosted }, { 7, kNeverPosted, kNeverPosted },
    { 8, 4, 4 }, { 11, 4, 4 }, { 12, 1, 1 },
    { 13, kAnyLength, kAnyLength }, { 18, kAnyLength, kAnyLength },
    { 14, kAnyLength, kAnyLength }, { 15, kAnyLength, kAnyLength }, { 16, kAnyLength, kAnyLength },
    { 28, 76, 80 }, { 29, 4, 16 }, { 100, 2219, 2224 }, { 102, 1, 16 },
    { 103, 2, 16 }, { 104, 2, 16 }, { 105, 2, 16 }, { 108, 2, 16 },
    { 106, 545, 560 }, { 107, 289, 304 }, { 109, 82, 96 }, { 120, 82, 96 },
    { 110, 6, 16 }, { 111, kShortOrLong, 16 }, { 112, 4, 16 }, { 113, 4, 16 }, { 119, 4, 16 },
    { 115, kAnyLength, kAnyLength }, { 116, kAnyLength, kAnyLength },
    { 151, 1, 16 }, { 153, 1, 16 }, { 154, 1, 16 }, { 155, 1, 16 }, { 159, 1, 16 }, { 160, 1, 16 },
    { 152, 513, 528 }, { 156, 130, 144 }, { 157, 2, 16 }, { 158, 4, 16 }, { 162, 4, 16 },
    { 200, 342, 352 }, { 300, 5, 16 }, { 303, 32, 32 },
    { 602, kAnyLength, kAnyLength }, { 604, kAnyLength, kAnyLength }, { 605, kAnyLength, kAnyLength },
};

// Messages acted on inside the callback.
constexpr int kTypeAudioInfo = 4;
constexpr int kTypeTalkReply = 7;
constexpr std::int32_t kAudioInfoMarker = 10;
constexpr std::int32_t kTalkReplyStarted = 19;

// The largest payload the control copies from the road.
constexpr int kMaxRoadMessage = 1 << 20;

constexpr int kStreamTextOffset = 12;
constexpr std::uint32_t kSmallVideoWidth = 320;
constexpr std::uint32_t kSmallVideoHeight = 240;
constexpr std::size_t kStreamModeOffset = 85;
constexpr int kAlarmSoundRepeats = 4;

constexpr std::int16_t kForcedStreamType = 2;

const LengthRule* ruleFor(int type)
{
    for (const auto& rule : kLengthRules)
        if (rule.type == type)
            return &rule;
    return nullptr;
}

std::int32_t i32(const std::uint8_t* data, std::size_t offset = 0)
{
    std::int32_t v;
    std::memcpy(&v, data + offset, sizeof v);
    return v;
}

std::int32_t b(const std::uint8_t* data, std::size_t offset) { return data[offset]; }

// A text that is zero-terminated within its field of `size` bytes.
std::string fieldText(const std::uint8_t* data, std::size_t offset, std::size_t size)
{
    const char* start = reinterpret_cast<const char*>(data + offset);
    return std::string(start, strnlen(start, size));
}

void fill(LoginInfo& login, const std::string& ip, const std::string& username, const std::string& passwd)
{
    CopyText(login.ip, sizeof login.ip, ip);
    CopyText(login.username, sizeof login.username, username);
    CopyText(login.passwd, sizeof login.passwd, passwd);
}

void roadModeFor(const LoginInfo& login, int& mode, int& kind)
{
    if (login.streamType == 0 || login.webport == static_cast<std::uint16_t>(login.port)) {
        mode = kz::kRoadModeWeb;
        kind = kz::kConnectWeb;
    } else {
        mode = kz::kRoadModeMedia;
        kind = kz::kConnectMedia;
    }
}

}

void CTiravexCtrl::Login(const std::string& ip, LONG port, LONG webport, const std::string& username, const std::string& passwd, LONG streamType, LONG groupID)
{
    if (m_loginRequested)
        return;
    m_loginRequested = 1;
    fill(*m_login, ip, username, passwd);
    m_login->port = port;
    m_login->streamType = static_cast<std::int16_t>(streamType);
    m_audio->m_talkCoding = m_login->streamType;
    m_login->groupID = groupID;
    m_webPort = webport;
    m_login->webport = static_cast<std::uint16_t>(webport);
    // The password stays out of the diagnostics.
    sys::DebugOutput("%s", m_login->ip);
    sys::DebugOutput("%s", m_login->username);
    int mode = 0, kind = 0;
    roadModeFor(*m_login, mode, kind);
    ui::PostMessage(m_hWnd, kMsgOpenRoad, static_cast<WPARAM>(mode), kind);
}

void CTiravexCtrl::RegMy(const std::string& ip, LONG webport, LONG port, const std::string& username, const std::string& passwd, const std::string&, LONG streamType, LONG groupID, LONG deviceType)
{
    fill(*m_login, ip, username, passwd);
    m_webPort = webport;
    m_login->webport = static_cast<std::uint16_t>(webport);
    m_login->port = port;
    m_login->groupID = groupID;
    m_deviceType = deviceType;
    int mode = 0, kind = 0;
    if (deviceType == 0) {
        m_login->streamType = kForcedStreamType;
        mode = kz::kRoadModeRegister;
        kind = kz::kConnectRegister;
    } else {
        m_login->streamType = static_cast<std::int16_t>(streamType);
        roadModeFor(*m_login, mode, kind);
    }
    m_audio->m_talkCoding = m_login->streamType;
    m_live.m_registered = true;

    if (!m_loginRequested) {
        m_loginRequested = 1;
        ui::PostMessage(m_hWnd, kMsgOpenRoad, static_cast<WPARAM>(mode), kind);
    } else if (m_road) {
        m_live.SetOpenParam(kind);
        kz_post_ctrl_road_msg(m_road, m_login->ip[0] ? kCommandRegister : kCommandUnregister, 0, 0);
    } else {
        ui::PostMessage(m_hWnd, kMsgOpenRoad, static_cast<WPARAM>(mode), kind);
    }
    startPortQuery();
}

void CTiravexCtrl::UNRegMy()
{
    if (m_road) {
        m_live.CloseStream();
        kz_post_ctrl_road_msg(m_road, kCommandUnregister, 0, 0);
        kz_close_ctrl_road(m_road);
        m_road = nullptr;
    }
    std::memset(m_login, 0, sizeof *m_login);
    std::memset(&m_loginReply, 0, sizeof m_loginReply); // also zeroes m_deviceKind
    m_loginReply.SetStatus(kNoLoginReply);
    std::memset(m_modelName, 0, sizeof m_modelName);
    std::memset(m_productInfo, 0, sizeof m_productInfo);
    m_postLoginDone = 0;
    std::memset(m_devRecord, 0, sizeof m_devRecord);
    m_live.m_streamMode = 0;
    m_alarmInfo[AlarmInfoLayout::kLatch] = 0;
    m_live.m_registered = false;
}

bool CTiravexCtrl::PassesRoadFilter(int type, int length) const
{
    const LengthRule* rule = ruleFor(type);
    if (!rule || length < 0 || length > kMaxRoadMessage)
        return false;
    int required = m_replyFormat ? rule->replyLength : rule->length;
    switch (required) {
    case kAnyLength: return true;
    case kNeverPosted: return false;
    case kShortOrLong: return length == 2 || length == 4;
    default: return length == required;
    }
}

int CTiravexCtrl::RoadCallback(int type, const char* data, void* user, int length)
{
    auto* control = static_cast<CTiravexCtrl*>(user);
    if (!control || length < 0 || (length > 0 && !data))
        return 0;
    auto* bytes = reinterpret_cast<const std::uint8_t*>(data);

    if (type == kTypeAudioInfo) {
        KzHandle live = control->m_live.GetChannel();
        if (length >= 4 && i32(bytes) == kAudioInfoMarker && live) {
            control->m_live.m_audioLength = length;
            kz_post_media_msg(live, kz::kMediaMsgAudioLength, length, 0);
        }
        return 0;
    }
    if (type == kTypeTalkReply) {
        if (length >= 4 && i32(bytes) == kTalkReplyStarted)
            control->m_live.StartTalkCapture();
        else
            control->m_live.StopTalkCapture();
        return 0;
    }
    if (!control->PassesRoadFilter(type, length))
        return 0;

    auto* copy = new std::uint8_t[static_cast<std::size_t>(length) + 1] {};
    if (length > 0)
        std::memcpy(copy, bytes, static_cast<std::size_t>(length));
    auto* record = new RoadMessage { type, length };
    auto freeBoth = [record, copy] {
        delete record;
        delete[] copy;
    };
    if (!ui::PostMessage(control->m_hWnd, kMsgRoadMessage, reinterpret_cast<WPARAM>(record), reinterpret_cast<LPARAM>(copy), freeBoth)) {
        delete record;
        delete[] copy;
    }
    return 0;
}

void CTiravexCtrl::onOpenRoad(int mode, int kind)
{
    if (KzHandle old = std::exchange(m_road, nullptr)) {
        // The page's thread does not wait for the old road to close.
        if (auto closer = sys::Thread::Start("close_ctrl_thread", [old] { kz_close_ctrl_road(old); }))
            m_closeThreads.push_back(closer);
        else
            kz_close_ctrl_road(old);
    }
    m_road = kz_open_ctrl_road(mode, m_login, &CTiravexCtrl::RoadCallback, this, m_httpsFlag);
    m_live.SetOpenParam(kind);
    m_playback.SetOpenParam(kind);
    m_motion.SetOpenParam(kind);
    m_shelter.SetOpenParam(kind);
    m_roadMode = mode;
}

void CTiravexCtrl::onRoadMessage(int type, const std::uint8_t* d, int length)
{
    using namespace devlink;
    const auto L = AlarmInfoLayout {};
    (void)L;
    switch (type) {
    case 3: {
        if (m_self == 0)
            return;
        std::uint16_t status;
        std::memcpy(&status, d, sizeof status);
        m_loginReply.SetStatus(status);
        std::int32_t kind = i32(d, 3);
        m_deviceKind = kind == 1 ? 101 : kind == 2 ? 100 : 102;
        postLoginStartup();
        if (status == 0 && m_road)
            event(kEventSecondaryLoggedIn, { m_self, std::int32_t { status } }, Delivery::Always);
        return;
    }
    case 8:
        if (i32(d) == 1)
            event(kEventTalkMode1, {}, Delivery::IfActive);
        else if (i32(d) == 2)
            event(kEventTalkMode2, {}, Delivery::IfActive);
        return;
    case 11:
        m_live.m_alarmFlag = i32(d) != 0;
        return;
    case 12:
        m_replyFormat = d[0];
        return;
    case 13:
    case 18:
        return;
    case 14:
    case 15:
    case 16:
        onDeviceInfoReply(type, reinterpret_cast<const char*>(d), length);
        return;
    case 28: {
        std::size_t n = std::min(static_cast<std::size_t>(length), sizeof m_live.m_streamInfo);
        std::memcpy(m_live.m_streamInfo, d, n);
        for (std::size_t i = kStreamTextOffset; i < n && m_live.m_streamInfo[i]; ++i)
            m_live.m_streamInfo[i] = static_cast<std::uint8_t>(std::toupper(m_live.m_streamInfo[i]));
        if (m_live.GetPictureWidth() <= kSmallVideoWidth && m_live.GetPictureHeight() <= kSmallVideoHeight)
            m_live.m_smallVideo = true;
        return;
    }
    case 29:
        if (i32(d) == 1 && m_loginReply.Status() == 0)
            event(kEventVideoLoss, { i32(d) }, Delivery::IfActive);
        return;
    case 100:
        reportLoginReply(d, true);
        if (m_self != 0 && m_loginReply.Status() == 0) {
            postLoginStartup();
            event(kEventSecondaryLoggedIn, { m_self, m_loginReply.Status() }, Delivery::Always);
        }
        return;
    case 102:
        m_stores.alarmState = d[0];
        m_live.m_alarmFlag = d[0] != 0;
        event(kEventAlarmState, { b(d, 0) }, Delivery::IfActive);
        return;
    case 103:
        m_stores.b103[0] = d[0];
        m_stores.b103[1] = d[1];
        event(kEvent103, { b(d, 0), b(d, 1) }, Delivery::IfActive);
        return;
    case 104:
        event(kEvent104, { b(d, 0), b(d, 1) }, Delivery::IfActive);
        return;
    case 105:
        m_stores.b105First = m_stores.b105Second = d[0];
        m_stores.b105b1 = d[1];
        event(kEvent105, { b(d, 0), b(d, 1) }, Delivery::IfActive);
        return;
    case 106: {
        std::vector<PageArg> args { b(d, 0) };
        m_stores.b106 = d[0];
        for (int k = 0; k < 16; ++k) {
            m_stores.texts106[k] = fieldText(d, 1 + 32 * static_cast<std::size_t>(k), 32);
            args.emplace_back(m_stores.texts106[k]);
        }
        args.emplace_back(fieldText(d, 513, 32));
        event(kEvent106, std::move(args), Delivery::IfActive);
        return;
    }
    case 107: {
        std::vector<PageArg> args { b(d, 0) };
        m_stores.b107 = d[0];
        for (int k = 0; k < 8; ++k) {
            m_stores.texts107[k] = fieldText(d, 1 + 32 * static_cast<std::size_t>(k), 32);
            args.emplace_back(m_stores.texts107[k]);
        }
        m_stores.last107 = fieldText(d, 257, 32);
        args.emplace_back(m_stores.last107);
        event(kEvent107, std::move(args), Delivery::IfActive);
        return;
    }
    case 108:
        m_stores.b108[0] = d[0];
        m_stores.b108[1] = d[1];
        event(kEvent108, { b(d, 1), b(d, 0) }, Delivery::IfActive);
        return;
    case 109:
    case 120: {
        m_stores.b109[0] = d[0];
        m_stores.b109[1] = d[1];
        bool keep = type == 109 ? m_login->streamType == 0 : m_login->streamType != 0;
        std::vector<PageArg> args { b(d, 0), b(d, 1) };
        for (std::size_t k = 0; k < 20; ++k) {
            std::int32_t v = i32(d, 2 + 4 * k);
            if (keep)
                m_stores.values109[k] = v;
            args.emplace_back(v);
        }
        event(type == 109 ? kEvent109 : kEvent120, std::move(args), Delivery::IfActive);
        return;
    }
    case 110:
        std::memcpy(m_stores.b110, d, sizeof m_stores.b110);
        event(kEvent110, { b(d, 0), b(d, 1), b(d, 2), b(d, 3), b(d, 4), b(d, 5) }, Delivery::IfActive);
        return;
    case 111:
        onAlarm111(d, length);
        return;
    case 112:
        m_stores.b112 = static_cast<std::uint8_t>(i32(d));
        event(kEvent112, { i32(d) }, Delivery::IfActive);
        return;
    case 113:
        m_stores.b109[0] = static_cast<std::uint8_t>(i32(d));
        event(kEvent113, { i32(d) }, Delivery::IfActive);
        return;
    case 119:
        m_stores.b109[1] = static_cast<std::uint8_t>(i32(d));
        event(kEvent119, { i32(d) }, Delivery::IfActive);
        return;
    case 115:
        if (m_cgiPending) {
            ui::KillTimer(m_hWnd, kCgiTimer);
            m_cgiPending = 0;
        }
        cgiToPage(reinterpret_cast<const char*>(d), length);
        return;
    case 116:
        // A picture from the camera: shown by a snapshot window.
        return;
    case 151:
    case 153:
    case 154:
    case 155: {
        std::size_t slot = type == 151 ? AlarmInfoLayout::k151 : type == 153 ? AlarmInfoLayout::k153 : type == 154 ? AlarmInfoLayout::k154 : AlarmInfoLayout::k155;
        m_alarmInfo[slot] = d[0];
        m_alarmInfo[AlarmInfoLayout::kLatch] = 1;
        event(type, { b(d, 0) }, Delivery::IfActive);
        return;
    }
    case 152:
        event(kEvent152, { b(d, 0), fieldText(d, 1, 512) }, Delivery::IfActive);
        return;
    case 156: {
        m_alarmInfo[AlarmInfoLayout::k156] = d[0];
        m_alarmInfo[AlarmInfoLayout::k156 + 1] = d[1];
        std::vector<PageArg> args { b(d, 0), b(d, 1) };
        const std::size_t offsets[] = { 2, 34, 66, 98 };
        for (std::size_t k = 0; k < 4; ++k) {
            std::string text = fieldText(d, offsets[k], AlarmInfoLayout::kTextBytes);
            std::uint8_t* field = m_alarmInfo + AlarmInfoLayout::k156Texts + AlarmInfoLayout::kTextBytes * k;
            std::memset(field, 0, AlarmInfoLayout::kTextBytes);
            std::memcpy(field, text.data(), text.size());
            args.emplace_back(text);
        }
        m_alarmInfo[AlarmInfoLayout::kLatch] = 1;
        event(kEvent156, std::move(args), Delivery::IfActive);
        return;
    }
    case 157:
        m_alarmInfo[AlarmInfoLayout::k157] = d[0];
        m_alarmInfo[AlarmInfoLayout::k157 + 1] = d[1];
        m_alarmInfo[AlarmInfoLayout::kLatch] = 1;
        event(kEvent157, { b(d, 0), b(d, 1) }, Delivery::IfActive);
        return;
    case 158:
        m_alarmInfo[AlarmInfoLayout::k158] = static_cast<std::uint8_t>(i32(d));
        m_alarmInfo[AlarmInfoLayout::kLatch] = 1;
        event(kEvent158, { i32(d) }, Delivery::IfActive);
        return;
    case 159:
        event(kEvent159, { b(d, 0), m_self }, Delivery::Always);
        return;
    case 160:
        event(kEvent160, { b(d, 0) }, Delivery::IfActive);
        return;
    case 162:
        event(kEvent162, { i32(d), m_self }, Delivery::IfActive);
        return;
    case 200:
        std::memcpy(m_devRecord, d, sizeof m_devRecord);
        m_live.m_streamMode = d[kStreamModeOffset];
        return;
    case 300:
        onAlarmSound(d);
        return;
    case 303:
        m_stores.text303 = fieldText(d, 0, 32);
        event(kEvent303, { m_stores.text303 }, Delivery::IfActive);
        return;
    case 602:
    case 604:
    case 605:
        event(type, { length >= 4 ? i32(d) : 0 }, Delivery::Always);
        return;
    default:
        return;
    }
}

void CTiravexCtrl::onAlarm111(const std::uint8_t* d, int length)
{
    using namespace devlink;
    bool idle = !m_live.m_alarmRecording && !m_live.m_recordingArmed;
    if (length == 2 && !m_replyFormat) {
        if (m_audio->m_activeWindow != kLiveWindowId)
            return; // the short form counts in live mode only
        if (idle) {
            m_live.m_alarmRecording = true;
            m_live.m_alarmKind = d[1];
        }
        event(kEventAlarm, { 0, b(d, 0), b(d, 1), m_self, ReadAlarmRecordTime() }, Delivery::Always);
        return;
    }
    if (d[2] == 0)
        return;
    if (idle)
        m_live.m_alarmRecording = true;
    m_live.m_alarmKind = d[1];
    event(kEventAlarm, { 1, m_self, b(d, 2), b(d, 3), b(d, 0), b(d, 1) }, Delivery::Always);
}

void CTiravexCtrl::onAlarmSound(const std::uint8_t* d)
{
    int c = d[4];
    int m = d[2];
    bool sound = c == 0 ? m == 1 : (c <= 8 && (m >> (c - 1)) & 1);
    if (!sound)
        return;
    // The alarm sound keeps nothing of the control: it may outlive it.
    if (auto worker = sys::Thread::Start("alarm_sound", [] {
            KzAudioHandle device = CreatePlayDev();
            if (!device)
                return;
            for (int i = 0; i < kAlarmSoundRepeats; ++i)
                playAudio(device);
            ClosePlayDev(device);
        }))
        worker->Detach();
}

}
