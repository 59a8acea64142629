#pragma once
// The camera protocol's numbers, as the network library's callers and the
// camera see them: road modes, connection kinds, commands, control message
// types with their lengths and fields, the login reply's layout, media
// status types, frame kinds, media selectors, the device-search record and
// the CGI vocabulary. This is the one place of each number; the library,
// the control and the simulated camera all read them from here.
//
// Header-only and free of the library's client code, so that the camera
// side can use the vocabulary without linking the library.

#include <cstddef>
#include <cstdint>

namespace kz {

// ---- opening roads and channels ----------------------------------------------

// Road modes (first argument of kz_open_ctrl_road).
constexpr int kRoadModeRegister = 257;
constexpr int kRoadModeMedia = 259;
constexpr int kRoadModeWeb = 260;

// Connection kinds (first argument of kz_open_device).
constexpr int kConnectRegister = 1;
constexpr int kConnectMedia = 3;
constexpr int kConnectWeb = 4;

// The constant sixth argument of kz_open_device.
constexpr int kOpenDeviceConstant = 258;
// Bit 16 of the tag: the channel may not be reopened by the library.
constexpr int kTagNoReopen = 0x10000;
// The window id sits in the tag's low 16 bits.
constexpr int kTagIdMask = 0xFFFF;

// ---- road commands (kz_post_ctrl_road_msg) -------------------------------------

constexpr int kCmdVideo = 1;         // b: start or stop
constexpr int kCmdAudio = 2;         // b: start or stop
constexpr int kCmdTalk = 3;          // b: start or stop
constexpr int kCmdPtz = 4;           // b: a pan/tilt code
constexpr int kCmdLiveCfg = 12;      // answered by message 28
constexpr int kCmdCgi = 13;          // a: the page's value, b: the CGI text
constexpr int kCmdSmallPicture = 14; // the live picture is 320 x 240 or smaller
constexpr int kCmdUpdateFile = 17;   // a: the file's path text
constexpr int kCmdRegister = 1025;
constexpr int kCmdUnregister = 1026;
// The b of commands 1, 2 and 3.
constexpr int kCmdStart = 0;
constexpr int kCmdStop = 1;

// True for the commands whose argument `a` or `b` is a text pointer.
constexpr bool CommandHasTextA(int command) { return command == kCmdUpdateFile; }
constexpr bool CommandHasTextB(int command) { return command == kCmdCgi; }

// Pan/tilt codes of command 4.
constexpr int kPtzUp = 0;
constexpr int kPtzStop = 1;
constexpr int kPtzDown = 2;
constexpr int kPtzRight = 4;
constexpr int kPtzLeft = 6;
constexpr int kPtzUpRight = 90;
constexpr int kPtzUpLeft = 91;
constexpr int kPtzDownRight = 92;
constexpr int kPtzDownLeft = 93;

// ---- control messages (camera -> road callback) --------------------------------

constexpr int kMsgDeviceKind = 3;      // a secondary road's login: status and device family
constexpr int kMsgAudioInfo = 4;       // the camera's audio block length
constexpr int kMsgTalkReply = 7;       // answer to command 3
constexpr int kMsgTalkMode = 8;
constexpr int kMsgAlarmFlag = 11;
constexpr int kMsgReplyFormat = 12;    // from now on messages come padded
constexpr int kMsgCgiAck = 13;
constexpr int kMsgDevInfo = 14;        // getDevInfo answer text
constexpr int kMsgProductInfo = 15;    // getProductAllInfo answer text
constexpr int kMsgPortInfo = 16;       // getPortInfo answer text
constexpr int kMsgUpdateAck = 18;      // answer to command 17
constexpr int kMsgLiveCfg = 28;        // answer to command 12
constexpr int kMsgVideoLoss = 29;
constexpr int kMsgLoginReply = 100;
constexpr int kMsgAlarmState = 102;
constexpr int kMsgReport103 = 103;
constexpr int kMsgReport104 = 104;
constexpr int kMsgReport105 = 105;
constexpr int kMsgChannelNames = 106;
constexpr int kMsgInputNames = 107;
constexpr int kMsgReport108 = 108;
constexpr int kMsgMainStream = 109;    // 20 values of the main stream
constexpr int kMsgReport110 = 110;
constexpr int kMsgAlarm = 111;
constexpr int kMsgReport112 = 112;
constexpr int kMsgMainStreamByte0 = 113;
constexpr int kMsgCgiReply = 115;
constexpr int kMsgSnapshot = 116;      // a JPEG picture
constexpr int kMsgMainStreamByte1 = 119;
constexpr int kMsgSubStream = 120;     // 20 values of the sub stream
constexpr int kMsgSettings151 = 151;
constexpr int kMsgSettingsText = 152;
constexpr int kMsgSettings153 = 153;
constexpr int kMsgSettings154 = 154;
constexpr int kMsgSettings155 = 155;
constexpr int kMsgSettings156 = 156;
constexpr int kMsgSettings157 = 157;
constexpr int kMsgSettings158 = 158;
constexpr int kMsgReport159 = 159;
constexpr int kMsgReport160 = 160;
constexpr int kMsgReport162 = 162;
constexpr int kMsgDeviceRecord = 200;
constexpr int kMsgAlarmSound = 300;
constexpr int kMsgDeviceText = 303;
constexpr int kMsgNotice602 = 602;
constexpr int kMsgNotice604 = 604;
constexpr int kMsgNotice605 = 605;

// Lengths of the control messages: as the camera first sends them, and
// padded (to a multiple of 16 for most) once it has sent message 12.
constexpr int kLengthAny = -1;        // no fixed length
constexpr int kLengthShortOrLong = -2; // message 111: 2 or 4 bytes

struct ControlLength {
    int type;
    int plain;
    int padded;
};

constexpr ControlLength kControlLengths[] = {
    { kMsgDeviceKind, 7, 7 },
    { kMsgAudioInfo, kLengthAny, kLengthAny },
    { kMsgTalkReply, kLengthAny, kLengthAny },
    { kMsgTalkMode, 4, 4 },
    { kMsgAlarmFlag, 4, 4 },
    { kMsgReplyFormat, 1, 1 },
    { kMsgCgiAck, kLengthAny, kLengthAny },
    { kMsgDevInfo, kLengthAny, kLengthAny },
    { kMsgProductInfo, kLengthAny, kLengthAny },
    { kMsgPortInfo, kLengthAny, kLengthAny },
    { kMsgUpdateAck, kLengthAny, kLengthAny },
    { kMsgLiveCfg, 76, 80 },
    { kMsgVideoLoss, 4, 16 },
    { kMsgLoginReply, 2219, 2224 },
    { kMsgAlarmState, 1, 16 },
    { kMsgReport103, 2, 16 },
    { kMsgReport104, 2, 16 },
    { kMsgReport105, 2, 16 },
    { kMsgChannelNames, 545, 560 },
    { kMsgInputNames, 289, 304 },
    { kMsgReport108, 2, 16 },
    { kMsgMainStream, 82, 96 },
    { kMsgReport110, 6, 16 },
    { kMsgAlarm, kLengthShortOrLong, 16 },
    { kMsgReport112, 4, 16 },
    { kMsgMainStreamByte0, 4, 16 },
    { kMsgCgiReply, kLengthAny, kLengthAny },
    { kMsgSnapshot, kLengthAny, kLengthAny },
    { kMsgMainStreamByte1, 4, 16 },
    { kMsgSubStream, 82, 96 },
    { kMsgSettings151, 1, 16 },
    { kMsgSettingsText, 513, 528 },
    { kMsgSettings153, 1, 16 },
    { kMsgSettings154, 1, 16 },
    { kMsgSettings155, 1, 16 },
    { kMsgSettings156, 130, 144 },
    { kMsgSettings157, 2, 16 },
    { kMsgSettings158, 4, 16 },
    { kMsgReport159, 1, 16 },
    { kMsgReport160, 1, 16 },
    { kMsgReport162, 4, 16 },
    { kMsgDeviceRecord, 342, 352 },
    { kMsgAlarmSound, 5, 16 },
    { kMsgDeviceText, 32, 32 },
    { kMsgNotice602, kLengthAny, kLengthAny },
    { kMsgNotice604, kLengthAny, kLengthAny },
    { kMsgNotice605, kLengthAny, kLengthAny },
};

// The entry of a message type, or null for a type the protocol does not know.
constexpr const ControlLength* FindControlLength(int type)
{
    for (const auto& entry : kControlLengths)
        if (entry.type == type)
            return &entry;
    return nullptr;
}

// Whether a message of `type` may carry `length` bytes.
constexpr bool ControlLengthFits(int type, int length, bool padded)
{
    const ControlLength* entry = FindControlLength(type);
    if (!entry || length < 0)
        return false;
    switch (int required = padded ? entry->padded : entry->plain) {
    case kLengthAny: return true;
    case kLengthShortOrLong: return length == 2 || length == 4;
    default: return length == required;
    }
}

// The short and long forms of message 111.
constexpr int kAlarmShortBytes = 2;
constexpr int kAlarmLongBytes = 4;

// Fields of the control messages (byte offsets in the payload).
constexpr std::size_t kDeviceKindStatusAt = 0;   // 3: uint16 status
constexpr std::size_t kDeviceKindCodeAt = 3;     // 3: int32 family code
constexpr std::int32_t kKindCode101 = 1;         // 3: family codes
constexpr std::int32_t kKindCode100 = 2;
constexpr std::int32_t kKindCodeOther = 3;       // any other code means 102
constexpr std::int32_t kAudioInfoMarker = 10;    // 4: int32 at 0 of an audio block length
constexpr std::int32_t kTalkStarted = 19;        // 7: int32 at 0
constexpr std::int32_t kTalkStopped = 20;
constexpr std::int32_t kTalkMode201 = 1;         // 8: int32 at 0
constexpr std::int32_t kTalkMode202 = 2;
constexpr std::size_t kLiveCfgWidthAt = 0;       // 28: int32 width, height, frame rate
constexpr std::size_t kLiveCfgHeightAt = 4;
constexpr std::size_t kLiveCfgFpsAt = 8;
constexpr std::size_t kLiveCfgTextAt = 12;       // 28: the codec's name, upper-cased by the control
constexpr std::size_t kLiveCfgMaxBytes = 80;
constexpr std::size_t kTextField = 32;           // most texts: 32-byte fields
constexpr std::size_t kChannelNameCount = 16;    // 106: b0, 16 texts from byte 1, a text at 513
constexpr std::size_t kChannelNamesLastAt = 513;
constexpr std::size_t kInputNameCount = 8;       // 107: b0, 8 texts from byte 1, a text at 257
constexpr std::size_t kInputNamesLastAt = 257;
constexpr std::size_t kNamesFirstAt = 1;
constexpr std::size_t kStreamValueCount = 20;    // 109, 120: b0, b1, 20 int32 from byte 2
constexpr std::size_t kStreamValuesAt = 2;
constexpr std::size_t kReport110Bytes = 6;
constexpr std::size_t kAlarmKindAt = 1;          // 111: b1 the alarm's kind
constexpr std::size_t kAlarmOnAt = 2;            // 111: b2, long form: non-zero when raised
constexpr int kAlarmKindMotion = 0;              // 111: alarm kinds (b1)
constexpr int kAlarmKindSound = 1;
constexpr int kAlarmKindInput = 2;
constexpr std::size_t kSettingsTextAt = 1;       // 152: b0, a 512-byte text from byte 1
constexpr std::size_t kSettingsTextBytes = 512;
constexpr std::size_t kSettings156TextsAt[] = { 2, 34, 66, 98 }; // 156: b0, b1, four texts
constexpr std::size_t kDeviceRecordBytes = 342;  // 200
constexpr std::size_t kStreamModeAt = 85;        // 200: the stream mode byte
constexpr std::size_t kAlarmSoundMaskAt = 2;     // 300: channel bits
constexpr std::size_t kAlarmSoundChannelAt = 4;  // 300: 0 = any, else the bit's number + 1
constexpr int kAlarmSoundChannels = 8;

// Stream modes (byte 85 of message 200) and the audio they select.
constexpr std::uint8_t kStreamModePlain = 0;
constexpr std::uint8_t kStreamModeVariant10 = 2;
constexpr std::uint8_t kStreamModeRawAudio = 4; // G.726 audio arrives already as PCM
constexpr std::uint8_t kStreamModeVariant12 = 8;

// ---- the login reply (message 100) ------------------------------------------------

constexpr std::size_t kLoginReplyBytes = 2219;
constexpr std::size_t kLoginReplyBytesPadded = 2224;
constexpr std::size_t kReplyStatusAt = 0;         // int32, 0 = logged in
constexpr std::size_t kReplyFlagAt = 4;           // byte: a second live-view flag
constexpr std::size_t kReplyBytesAt = 5;          // bytes 5..8
constexpr std::size_t kReplyByteCount = 4;
constexpr std::size_t kReplyChannelTextsAt = 9;   // 16 texts of 32 bytes
constexpr std::size_t kReplyChannelTextCount = 16;
constexpr std::size_t kReplyUserTextAt = 521;
constexpr std::size_t kReplyByte553At = 553;
constexpr std::size_t kReplyInputTextsAt = 554;   // 8 texts of 32 bytes
constexpr std::size_t kReplyInputTextCount = 8;
constexpr std::size_t kReplyText810At = 810;
constexpr std::size_t kReplyByte842At = 842;
constexpr std::size_t kReplyByte843At = 843;
constexpr std::size_t kReplyValuesAt = 844;       // 20 int32
constexpr std::size_t kReplyValueCount = 20;
constexpr std::size_t kReplyFlagsAt = 924;        // bytes 924..933
constexpr std::size_t kReplyFlagCount = 10;
constexpr std::size_t kReplyDeviceIdAt = 934;     // 12 characters
constexpr std::size_t kReplyDeviceIdBytes = 12;
constexpr std::size_t kReplyWebPortAt = 947;      // int32
constexpr std::size_t kReplyHttpsPortAt = 951;    // int32
constexpr std::size_t kReplyEntriesAt = 955;      // 9 entries of 140 bytes
constexpr std::size_t kReplyEntryBytes = 140;
constexpr std::size_t kReplyEntryCount = 9;
constexpr std::size_t kEntryNumberAt = 0;         // int32
constexpr std::size_t kEntryUserAt = 4;           // text
constexpr std::size_t kEntryRightAt = 36;         // int32
constexpr std::size_t kEntryStateAt = 40;         // int32
constexpr std::size_t kEntryText1At = 44;
constexpr std::size_t kEntryText2At = 76;
constexpr std::size_t kEntryText3At = 108;
constexpr std::size_t kReplyDeviceNameAt = 1063;  // text, at most 255 characters
constexpr std::size_t kReplyDeviceNameBytes = 256;
constexpr std::size_t kReplyDeviceKindAt = 2215;  // int16 as read, int32 as written

// Login statuses.
constexpr std::int32_t kLoginOk = 0;
constexpr std::int32_t kLoginBadAccount = 1;   // the camera refused user or password
constexpr std::int32_t kLoginUnreachable = -1; // made by the library: no connection
constexpr std::int32_t kLoginNoAnswer = -2;    // made by the library: no reply in time

// Device families (the login reply's device kind); 0 for older cameras.
constexpr int kDeviceKindOld = 0;
constexpr int kDeviceKind100 = 100;
constexpr int kDeviceKind101 = 101;
constexpr int kDeviceKind102 = 102;
// From this family up, audio, talk and pan/tilt go over the road.
constexpr int kFirstRoadDeviceKind = kDeviceKind100;

// ---- media channels ----------------------------------------------------------------

// Frame kinds (frame callback).
constexpr int kFrameH264 = 261;
constexpr int kFrameMjpeg = 262;
constexpr int kFrameAudio = 265;
// H.265 access units in Annex B, the parameter sets before every key frame;
// only a camera of the standards sends them. The record carries the
// picture's size.
constexpr int kFrameH265 = 266;

// Status types (status callback).
constexpr int kStatusOpen = 0;
constexpr int kStatusLinkLost = 1;
constexpr int kStatusNothing = 2;
constexpr int kStatusPlayback = 5;
constexpr int kStatusTalkStart = 9;
constexpr int kStatusTalkStop = 10;

// Results of the talk statuses 9 and 10.
constexpr std::int32_t kTalkOk = 0;
constexpr std::int32_t kTalkBusy = 1;

// Playback events (status 5, in the status's result).
constexpr int kPbRecordMissing = 24;  // no such recording
constexpr int kPbRecordBroken = 25;   // the recording cannot be read
constexpr int kPbBuffering = 26;      // value: percent
constexpr int kPbPlaying = 27;        // value: position in seconds
constexpr int kPbResumed = 28;        // value: position in seconds
constexpr int kPbSeeked = 29;         // value: new position in seconds
constexpr int kPbLength = 30;         // value: length in seconds
constexpr int kPbPosition = 31;       // value: position in seconds, once a second
constexpr int kPbPaused = 32;         // value: position in seconds
constexpr int kPbEnd = 33;            // value: length in seconds

// Media selectors of kz_start_media / kz_stop_media.
constexpr int kMediaAudio = 2;
constexpr int kMediaTalk = 3;
constexpr int kMediaAudioVariant9 = 9;
constexpr int kMediaAudioVariant10 = 10;
constexpr int kMediaAudioVariant11 = 11;
constexpr int kMediaAudioVariant12 = 12;

// Media messages (kz_post_media_msg).
constexpr int kMediaMsgStall = 1025;
constexpr int kMediaMsgAudioLength = 1039;

// Talk block sizes by audio coding.
constexpr int kTalkBlockPcm = 960;
constexpr int kTalkBlockG726 = 120;
constexpr int kTalkBlockAdpcm = 160;

// Audio codings (the login record's stream type).
constexpr int kAudioPcm = 0;
constexpr int kAudioG726 = 1;
constexpr int kAudioAdpcm = 2;

// ---- device search ----------------------------------------------------------------

constexpr int kSearchAll = 0;
constexpr int kSearchOne = 1;
constexpr int kSearchAnswer = 1;  // the search callback's type of an answer
constexpr int kSearchStop = -4;   // a one-device search callback ends the search

// The device record of an answer: 65, 98 or 106 bytes. Address and ports
// are in network byte order.
constexpr std::size_t kRecordShort = 65;
constexpr std::size_t kRecordMedium = 98;
constexpr std::size_t kRecordLong = 106;
constexpr std::size_t kRecIdAt = 0;        // 13 bytes, zero-terminated
constexpr std::size_t kRecIdBytes = 13;
constexpr std::size_t kRecNameAt = 13;     // 21 bytes, zero-terminated
constexpr std::size_t kRecNameBytes = 21;
constexpr std::size_t kRecAddressAt = 34;  // IPv4
constexpr std::size_t kRecEncodingAt = 50; // 0 UTF-8, otherwise the system code page
constexpr std::size_t kRecValueAt = 52;    // uint16, little-endian (the device kind)
constexpr std::size_t kRecPortAt = 62;     // media port
constexpr std::size_t kRecWebPortAt = 64;  // longer records: HTTP port
constexpr std::uint8_t kRecNameUtf8 = 0;

constexpr bool IsRecordLength(std::size_t n) { return n == kRecordShort || n == kRecordMedium || n == kRecordLong; }

// ---- HTTP -----------------------------------------------------------------------------

// kz_httpConnect and kz_httpRequest results after which the socket is closed.
constexpr int kHttpConnectFailed = 10;
constexpr int kHttpConnectRefused = 12;
constexpr int kHttpSocketClosed = 13;

// The camera's CGI: one path, the command in "cmd", answered by a
// <CGI_Result> element.
namespace cgi {
constexpr const char* kPath = "/cgi-bin/CGIProxy.fcgi";
constexpr const char* kUserParam = "usr";
constexpr const char* kPasswordParam = "pwd";
constexpr const char* kCommandParam = "cmd";
constexpr const char* kGetDevInfo = "getDevInfo";
constexpr const char* kGetProductAllInfo = "getProductAllInfo";
constexpr const char* kGetPortInfo = "getPortInfo";
// A picture of the live view: the camera sends it as a snapshot (message
// 116) and answers the command with its result.
constexpr const char* kTakeSnapshot = "takeSnapshot";
// The motion grid: read answers one "<areaN>" element a row (the row's
// mask, as the grid editor's MotionAreas gives it); save takes the same
// as "areaN" parameters (a row not given stays as it is).
constexpr const char* kGetMotionConfig = "getMotionDetectConfig";
constexpr const char* kSetMotionConfig = "setMotionDetectConfig";
constexpr const char* kAreaPrefix = "area";
constexpr const char* kResultOpen = "<CGI_Result>";
constexpr const char* kResultClose = "</CGI_Result>";
constexpr const char* kProductName = "productName";
constexpr const char* kModelName = "modelName";
constexpr const char* kMotionRows = "motionAreaRows";
constexpr const char* kMotionCols = "motionAreaCols";
constexpr const char* kPtFlag = "ptFlag";
constexpr const char* kRs485Flag = "rs485Flag";
constexpr const char* kHttpsPort = "httpsPort";
constexpr const char* kResult = "result";
constexpr const char* kSerialNo = "serialNo";
constexpr const char* kDevName = "devName";
constexpr const char* kFirmwareVer = "firmwareVer";
constexpr const char* kHardwareVer = "hardwareVer";
constexpr const char* kWebPort = "webPort";
constexpr const char* kMediaPort = "mediaPort";
// Values of <result>.
constexpr int kResultOk = 0;
constexpr int kResultBadAccount = -2; // wrong user or password
constexpr int kResultUnsupported = -3; // a command a standard camera has no counterpart for
constexpr int kResultFailed = -1;      // the camera could not carry the command out
}

}
