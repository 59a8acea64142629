#pragma once
// Numbers of the control shell: internal messages of the control window,
// its timer, sizes of the records it keeps, and colours of its frame.

#include "ui/Color.h"
#include "ui/Messages.h"

#include <cstddef>
#include <cstdint>

namespace control {

// Internal messages posted to the control window (wParam, lParam as noted).
constexpr UINT kMsgRoadMessage = 1124;      // heap {type, length}, heap payload
constexpr UINT kMsgStreamStatus = 1224;     // 0, status value
constexpr UINT kMsgMaskTooSmall = 1225;     // 0, 1028
constexpr UINT kMsgPlaybackStopped = 1227;  // 0, 0
constexpr UINT kMsgPlaybackEnd = 1228;      // 0, value
constexpr UINT kMsgPlaybackProgress = 1229; // 0, value
constexpr UINT kMsgPlaybackState = 1230;    // state 0..3, value
constexpr UINT kMsgSmallPicture = 1231;     // 0, 0
constexpr UINT kMsgDeviceFound = 1232;      // heap device record, 0
constexpr UINT kMsgOpenRoad = 1234;         // road mode, connection kind
constexpr UINT kMsgViewCannotOpen = 1235;   // 0, 0
constexpr UINT kMsgSearchAnswer = 1236;     // heap device record, 0
constexpr UINT kMsgPtzDirection = 1329;     // direction 0..8, 0
constexpr UINT kMsgHttpsPort = 1330;        // port, m_self
constexpr UINT kMsgTalkStarted = 1425;      // result, value
constexpr UINT kMsgTalkStopped = 1426;      // result, value
constexpr UINT kMsgCaptureFailed = 1427;    // 0, 0
constexpr UINT kMsgLiveAudioState = 1428;   // 0, 0
constexpr UINT kMsgRecordStarted = 1524;    // 0, 0
constexpr UINT kMsgRecordStopped = 1525;    // 0, 0
constexpr UINT kMsgDiskFull = 1526;         // 0, 0
constexpr UINT kMsgRecordPathFailed = 1527; // 0, 0
constexpr UINT kMsgAlarmRecordTime = 1528;  // 0 or 1, 0
constexpr UINT kMsgLinkLost = 1624;         // 0, 0
constexpr UINT kMsgSnapshotClosed = 2046;   // sent: the window object, 0

// Thread message to the screen pan/tilt worker: wParam 1 stop, else move.
constexpr UINT kMsgPtzMove = 1424;

// The control window's one timer: the CGI time-out.
constexpr UINT_PTR kCgiTimer = 1;

// Views named by the hub's active window.
constexpr std::int32_t kViewConfigPage1 = 1029;
constexpr std::int32_t kViewConfigPage2 = 1030;

// The frame of the control.
constexpr COLORREF kFrameSelectedColour = RGB(250, 225, 60);
constexpr COLORREF kFrameNormalColour = RGB(255, 255, 255);
constexpr COLORREF kControlBackground = RGB(255, 255, 255);
constexpr COLORREF kVideoBackground = RGB(0, 0, 0);
constexpr COLORREF kConnectFailColour = RGB(255, 255, 255);
// Where the connect-fail text stands in the live window.
constexpr int kConnectFailX = 10;
constexpr int kConnectFailY = 10;

// Record sizes kept by the control.
constexpr std::size_t kDeviceIdLength = 12;
constexpr std::size_t kDeviceNameBytes = 256;
constexpr std::size_t kLoginReplyBytes = 2219;
constexpr std::size_t kDeviceKindOffset = 2215;
constexpr std::size_t kModelNameBytes = 20;
constexpr std::size_t kProductInfoBytes = 1000;
constexpr std::size_t kCgiResultBytes = 1000;
constexpr std::size_t kAlarmInfoBytes = 236;
constexpr std::size_t kDevRecordBytes = 342;
constexpr std::size_t kHttpsPortSlots = 8;
constexpr std::size_t kSnapshotWindows = 50;
constexpr std::int32_t kNoLoginReply = -1;

// Device kinds from 100 up drive pan/tilt, audio and talk over the control road.
constexpr int kFirstRoadDeviceKind = 100;

// Default user right; 0 disables pan/tilt.
constexpr std::int32_t kDefaultUserRight = 2;
// deviceType 1 enables the product-information query.
constexpr std::int32_t kDeviceTypeFull = 1;

// The live area is painted black from this silence count on.
constexpr std::int32_t kSilenceForBlack = 500;

// Bounded wait when stopping the screen pan/tilt worker.
constexpr DWORD kPtzWorkerStopMs = 300;

// The update file chosen by GetUpdataFilePath.
constexpr std::size_t kUpdatePathBytes = 260;

// The send buffer of the control's HTTP client.
constexpr int kHttpSendBufferBytes = 500;

// The framework's version of the stored properties (1.0).
constexpr DWORD kPropertyVersion = 0x10000;

}
