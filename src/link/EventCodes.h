#pragma once
// Event codes: the first argument of every PluginCallBack call.

namespace devlink {

constexpr int kEventVideoLoss = 29;
constexpr int kEventLoginReply = 100;
constexpr int kEventAlarmState = 102;
constexpr int kEvent103 = 103;
constexpr int kEvent104 = 104;
constexpr int kEvent105 = 105;
constexpr int kEvent106 = 106;
constexpr int kEvent107 = 107;
constexpr int kEvent108 = 108;
constexpr int kEvent109 = 109;
constexpr int kEvent110 = 110;
constexpr int kEventAlarm = 111;
constexpr int kEvent112 = 112;
constexpr int kEvent113 = 113;
constexpr int kEvent119 = 119;
constexpr int kEvent120 = 120;
constexpr int kEvent151 = 151;
constexpr int kEvent152 = 152;
constexpr int kEvent153 = 153;
constexpr int kEvent154 = 154;
constexpr int kEvent155 = 155;
constexpr int kEvent156 = 156;
constexpr int kEvent157 = 157;
constexpr int kEvent158 = 158;
constexpr int kEvent159 = 159;
constexpr int kEvent160 = 160;
constexpr int kEvent162 = 162;
constexpr int kEventStreamOpen = 200;
constexpr int kEventTalkMode1 = 201;
constexpr int kEventTalkMode2 = 202;
constexpr int kEventPlaybackProgress = 203;
constexpr int kEventPlaybackState = 204;
constexpr int kEventPlaybackStopped = 205;
constexpr int kEventTalkStarted = 206;
constexpr int kEventTalkStopped = 207;
constexpr int kEventDeviceFound = 208;
constexpr int kEventViewActivated = 209;
constexpr int kEventSecondaryLoggedIn = 210;
constexpr int kEventSearchAnswer = 211;
constexpr int kEventViewCannotOpen = 212;
constexpr int kEventRecordStarted = 213;
constexpr int kEventRecordStopped = 214;
constexpr int kEventDiskFull = 215;
constexpr int kEventRecordPathFailed = 216;
constexpr int kEventLinkLost = 217;
constexpr int kEventAlarmRecordTime = 218;
constexpr int kEventPtzDirection = 219;
constexpr int kEventHttpsPort = 220;
constexpr int kEventPlaybackEnd = 221;
constexpr int kEventCaptureFailed = 300;
constexpr int kEventStreamStalled = 301;
constexpr int kEventRecordingState = 302;
constexpr int kEvent303 = 303;
constexpr int kEventState = 500;
constexpr int kEventSettings = 501;
constexpr int kEventProductInfo = 502;
constexpr int kEvent602 = 602;
constexpr int kEvent604 = 604;
constexpr int kEvent605 = 605;

// The page's two global functions.
constexpr const char* kPluginCallBack = "PluginCallBack";
constexpr const char* kPluginCallBackCGI = "PluginCallBackCGI";

// What the page gets when a CGI request finds no answer in time.
constexpr const char* kCgiTimeoutText = "<CGI_Result><result>-5</result></CGI_Result>";
constexpr int kCgiTimeoutLength = 44;

}
