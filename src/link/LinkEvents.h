#pragma once
// What the device link hands to its sink, on the page's thread: one typed
// event for each control message the camera sends (decoded from its bytes,
// the texts cut to their fields), and the results of the link's own work
// (the road opened, devices found, a screen pan/tilt step, the HTTPS port).
// Messages of the same shape share an event that names its type.

#include "kznet/Protocol.h"

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace devlink {

// ---- control messages ------------------------------------------------------------

// 3: a secondary road logged in: its status and the device family.
struct DeviceKindReport {
    std::uint16_t status = 0;
    std::int32_t deviceKind = 0; // 101, 100 or 102
};

// 8: the talk mode (1 or 2).
struct TalkMode {
    std::int32_t value = 0;
};

// 11: the camera's alarm flag.
struct AlarmFlag {
    bool on = false;
};

// 12: from now on the camera pads its messages (the link already filters by it).
struct ReplyFormat {
    std::uint8_t flag = 0;
};

// 14, 15, 16: a device-information answer relayed by the road; the text
// ends at its first zero, the length is the message's.
struct DeviceInfoReply {
    int type = 0;
    std::string text;
    std::int32_t length = 0;
};

// 28: the live stream's description, its codec text upper-cased.
struct LiveConfig {
    std::array<std::uint8_t, kz::kLiveCfgMaxBytes> info {};
    std::size_t size = 0;
};

// 29: video loss.
struct VideoLoss {
    std::int32_t value = 0;
};

// 100: the login reply, its first 2219 bytes (the link has stored it).
struct LoginReply {
    std::vector<std::uint8_t> reply;
    std::int32_t Status() const;
};

// 102, 151, 153, 154, 155, 159, 160: one byte.
struct ByteReport {
    int type = 0;
    std::uint8_t b0 = 0;
};

// 103, 104, 105, 108, 157: two bytes.
struct BytePairReport {
    int type = 0;
    std::uint8_t b0 = 0;
    std::uint8_t b1 = 0;
};

// 112, 113, 119, 158, 162, 602, 604, 605: the int32 at byte 0 (0 when a
// message of any length is shorter).
struct ValueReport {
    int type = 0;
    std::int32_t value = 0;
};

// 106 (16 names, the text at 513) and 107 (8 names, the text at 257).
struct NamesReport {
    int type = 0;
    std::uint8_t b0 = 0;
    std::vector<std::string> names;
    std::string last;
};

// 109 (main stream) and 120 (sub stream): two bytes and 20 values.
struct StreamValues {
    int type = 0;
    std::uint8_t b0 = 0;
    std::uint8_t b1 = 0;
    std::array<std::int32_t, kz::kStreamValueCount> values {};
};

// 110: six bytes.
struct Report110 {
    std::array<std::uint8_t, kz::kReport110Bytes> bytes {};
};

// 111: an alarm, in its short (2 bytes) or long (4 or 16 bytes) form.
struct Alarm {
    bool longForm = false;
    std::array<std::uint8_t, kz::kAlarmLongBytes> bytes {}; // the short form fills two
};

// 115: a CGI answer; the text ends at its first zero, the length is the message's.
struct CgiReply {
    std::string text;
    std::int32_t length = 0;
};

// 116: a picture from the camera.
struct Snapshot {
    std::vector<std::uint8_t> picture;
};

// 152: a byte and a 512-byte text.
struct SettingsText {
    std::uint8_t b0 = 0;
    std::string text;
};

// 156: two bytes and four texts.
struct Settings156 {
    std::uint8_t b0 = 0;
    std::uint8_t b1 = 0;
    std::array<std::string, 4> texts;
};

// 200: the device record (its byte 85 is the stream mode).
struct DeviceRecord {
    std::array<std::uint8_t, kz::kDeviceRecordBytes> record {};
};

// 300: the alarm sound's channel bits and channel.
struct AlarmSound {
    std::uint8_t mask = 0;
    std::uint8_t channel = 0;
    // Channel 0 sounds when the bits are 1; channel c when bit c - 1 is set.
    bool Sounds() const;
};

// 303: a 32-byte text.
struct DeviceText {
    std::string text;
};

// ---- the link's own work -------------------------------------------------------------

// A road was opened: the connection kind the views open their channels with.
struct RoadOpened {
    int mode = 0;
    int kind = 0;
};

// The one-device search found the camera logged in to.
struct DeviceFound {
    std::string address; // dotted
    std::int32_t port = 0;
};

// A camera answered the search; the name in the system code page.
struct SearchAnswer {
    std::string name;
    std::string address;
    std::int32_t port = 0;
    std::int32_t value = 0;
};

// The screen pan/tilt worker sent a move (direction index 0..8) over HTTP.
struct PtzDirection {
    int index = 0;
};

// The camera's HTTPS port was learned for the instance `self`.
struct HttpsPort {
    std::int32_t self = 0;
    std::int32_t port = 0;
};

using LinkEvent = std::variant<DeviceKindReport, TalkMode, AlarmFlag, ReplyFormat, DeviceInfoReply, LiveConfig, VideoLoss,
    LoginReply, ByteReport, BytePairReport, ValueReport, NamesReport, StreamValues, Report110, Alarm, CgiReply, Snapshot,
    SettingsText, Settings156, DeviceRecord, AlarmSound, DeviceText, RoadOpened, DeviceFound, SearchAnswer, PtzDirection,
    HttpsPort>;

}
