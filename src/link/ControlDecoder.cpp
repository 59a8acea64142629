#include "link/ControlDecoder.h"

#include "link/Bytes.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace devlink {

namespace {

// The largest message the road callback copies.
constexpr int kMaxControlMessage = 1 << 20;
constexpr std::size_t kI32Bytes = 4;

std::string textUpTo(const std::uint8_t* data, int length)
{
    if (length <= 0)
        return {};
    const char* text = reinterpret_cast<const char*>(data);
    return std::string(text, strnlen(text, static_cast<std::size_t>(length)));
}

NamesReport names(int type, const std::uint8_t* d, std::size_t count, std::size_t lastAt)
{
    NamesReport r;
    r.type = type;
    r.b0 = d[0];
    for (std::size_t k = 0; k < count; ++k)
        r.names.push_back(FieldText(d, kz::kNamesFirstAt + kz::kTextField * k, kz::kTextField));
    r.last = FieldText(d, lastAt, kz::kTextField);
    return r;
}

StreamValues streamValues(int type, const std::uint8_t* d)
{
    StreamValues r;
    r.type = type;
    r.b0 = d[0];
    r.b1 = d[1];
    for (std::size_t k = 0; k < kz::kStreamValueCount; ++k)
        r.values[k] = ReadI32(d, kz::kStreamValuesAt + kI32Bytes * k);
    return r;
}

LiveConfig liveConfig(const std::uint8_t* d, int length)
{
    LiveConfig r;
    r.size = std::min(static_cast<std::size_t>(length), r.info.size());
    std::copy(d, d + r.size, r.info.begin());
    for (std::size_t i = kz::kLiveCfgTextAt; i < r.size && r.info[i]; ++i)
        r.info[i] = static_cast<std::uint8_t>(std::toupper(r.info[i]));
    return r;
}

}

bool PassesFilter(int type, int length, bool replyFormat)
{
    if (type == kz::kMsgAudioInfo || type == kz::kMsgTalkReply || length > kMaxControlMessage)
        return false;
    return kz::ControlLengthFits(type, length, replyFormat);
}

std::int32_t LoginReply::Status() const
{
    return reply.size() >= kI32Bytes ? ReadI32(reply.data(), kz::kReplyStatusAt) : kz::kLoginUnreachable;
}

bool AlarmSound::Sounds() const
{
    if (channel == 0)
        return mask == 1;
    return channel <= kz::kAlarmSoundChannels && ((mask >> (channel - 1)) & 1);
}

std::optional<LinkEvent> DecodeControl(int type, const std::uint8_t* d, int length)
{
    const kz::ControlLength* entry = kz::FindControlLength(type);
    if (!entry || length < 0 || (length > 0 && !d))
        return std::nullopt;
    // The fields are read within the shortest length the message may have.
    int least = entry->plain == kz::kLengthShortOrLong ? kz::kAlarmShortBytes : std::max(entry->plain, 0);
    if (length < least)
        return std::nullopt;

    using namespace kz;
    switch (type) {
    case kMsgDeviceKind: {
        std::int32_t code = ReadI32(d, kDeviceKindCodeAt);
        int kind = code == kKindCode101 ? kDeviceKind101 : code == kKindCode100 ? kDeviceKind100 : kDeviceKind102;
        return DeviceKindReport { ReadU16(d, kDeviceKindStatusAt), kind };
    }
    case kMsgTalkMode:
        return TalkMode { ReadI32(d, 0) };
    case kMsgAlarmFlag:
        return AlarmFlag { ReadI32(d, 0) != 0 };
    case kMsgReplyFormat:
        return ReplyFormat { d[0] };
    case kMsgDevInfo:
    case kMsgProductInfo:
    case kMsgPortInfo:
        return DeviceInfoReply { type, textUpTo(d, length), length };
    case kMsgLiveCfg:
        return liveConfig(d, length);
    case kMsgVideoLoss:
        return VideoLoss { ReadI32(d, 0) };
    case kMsgLoginReply:
        return LoginReply { std::vector<std::uint8_t>(d, d + kLoginReplyBytes) };
    case kMsgAlarmState:
    case kMsgSettings151:
    case kMsgSettings153:
    case kMsgSettings154:
    case kMsgSettings155:
    case kMsgReport159:
    case kMsgReport160:
        return ByteReport { type, d[0] };
    case kMsgReport103:
    case kMsgReport104:
    case kMsgReport105:
    case kMsgReport108:
    case kMsgSettings157:
        return BytePairReport { type, d[0], d[1] };
    case kMsgReport112:
    case kMsgMainStreamByte0:
    case kMsgMainStreamByte1:
    case kMsgSettings158:
    case kMsgReport162:
        return ValueReport { type, ReadI32(d, 0) };
    case kMsgNotice602:
    case kMsgNotice604:
    case kMsgNotice605:
        return ValueReport { type, length >= static_cast<int>(kI32Bytes) ? ReadI32(d, 0) : 0 };
    case kMsgChannelNames:
        return names(type, d, kChannelNameCount, kChannelNamesLastAt);
    case kMsgInputNames:
        return names(type, d, kInputNameCount, kInputNamesLastAt);
    case kMsgMainStream:
    case kMsgSubStream:
        return streamValues(type, d);
    case kMsgReport110: {
        Report110 r;
        std::copy(d, d + kReport110Bytes, r.bytes.begin());
        return r;
    }
    case kMsgAlarm: {
        Alarm r;
        r.longForm = length != kAlarmShortBytes;
        std::copy(d, d + (r.longForm ? kAlarmLongBytes : kAlarmShortBytes), r.bytes.begin());
        return r;
    }
    case kMsgCgiReply:
        return CgiReply { textUpTo(d, length), length };
    case kMsgSnapshot:
        return Snapshot { std::vector<std::uint8_t>(d, d + length) };
    case kMsgSettingsText:
        return SettingsText { d[0], FieldText(d, kSettingsTextAt, kSettingsTextBytes) };
    case kMsgSettings156: {
        Settings156 r;
        r.b0 = d[0];
        r.b1 = d[1];
        for (std::size_t k = 0; k < r.texts.size(); ++k)
            r.texts[k] = FieldText(d, kSettings156TextsAt[k], kTextField);
        return r;
    }
    case kMsgDeviceRecord: {
        DeviceRecord r;
        std::copy(d, d + kDeviceRecordBytes, r.record.begin());
        return r;
    }
    case kMsgAlarmSound:
        return AlarmSound { d[kAlarmSoundMaskAt], d[kAlarmSoundChannelAt] };
    case kMsgDeviceText:
        return DeviceText { FieldText(d, 0, kTextField) };
    default:
        // 4 and 7 act in the road callback; 13 and 18 carry nothing.
        return std::nullopt;
    }
}

}
