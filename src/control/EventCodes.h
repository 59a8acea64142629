#pragma once
// The page contract: the codes of the events (the first argument of every
// PluginCallBack call), the page's two functions and the CGI time-out text.

namespace control {

// Events made from control messages carry the message's type as their
// code (29, 100, 102 to 162, 303, 602 to 605); these have a name here
// because the control makes them apart from the message's own handling.
constexpr int kEventVideoLoss = 29;
constexpr int kEventLoginReply = 100;
constexpr int kEventAlarm = 111;
// Events of the control's own work.
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
constexpr int kEventState = 500;
constexpr int kEventSettings = 501;
constexpr int kEventProductInfo = 502;

// The page's two global functions.
constexpr const char* kPluginCallBack = "PluginCallBack";
constexpr const char* kPluginCallBackCGI = "PluginCallBackCGI";

// What the page gets when a CGI request finds no answer in time.
constexpr const char* kCgiTimeoutText = "<CGI_Result><result>-5</result></CGI_Result>";
constexpr int kCgiTimeoutLength = 44;
// A relayed CGI answer that says it succeeded.
constexpr const char* kCgiSuccessMarker = "<result>0";

}
