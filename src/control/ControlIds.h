#pragma once
// Numbers of the control shell: the internal messages the control posts to
// its own window, its timer, and the colours and places of what it paints.
// The messages other layers post to the control window are declared by
// those layers (media/, view/, editors/ Notifications.h).

#include "ui/Color.h"
#include "ui/Messages.h"

#include <cstddef>
#include <cstdint>

namespace control {

// Internal messages the control posts to its own window.
constexpr UINT kMsgViewCannotOpen = 1235;   // 0, 0: a view could not open its stream
constexpr UINT kMsgAlarmRecordTime = 1528;  // 1 stored, 0 failed; 0

// The control window's one timer: the CGI time-out.
constexpr UINT_PTR kCgiTimer = 1;

// The frame of the control.
constexpr COLORREF kFrameSelectedColour = RGB(250, 225, 60);
constexpr COLORREF kFrameNormalColour = RGB(255, 255, 255);
constexpr COLORREF kControlBackground = RGB(255, 255, 255);
constexpr COLORREF kVideoBackground = RGB(0, 0, 0);
constexpr COLORREF kConnectFailColour = RGB(255, 255, 255);
// Where the connect-fail text stands in the live window.
constexpr int kConnectFailX = 10;
constexpr int kConnectFailY = 10;
// The live window sits this far inside the control's frame.
constexpr int kFrameWidth = 1;

// Default user right; 0 disables pan/tilt.
constexpr std::int32_t kDefaultUserRight = 2;

// The live area is painted black from this silence count on.
constexpr std::int32_t kSilenceForBlack = 500;

// The update file chosen by GetUpdataFilePath.
constexpr std::size_t kUpdatePathBytes = 260;

// The framework's version of the stored properties (1.0).
constexpr DWORD kPropertyVersion = 0x10000;

}
