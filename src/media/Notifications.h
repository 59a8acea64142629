#pragma once
// Messages the media layer posts to the control window (the window given to
// the players' Attach and the hub's AttachControlWindow), with what wParam
// and lParam carry. The control window turns them into page events.

#include "ui/Messages.h"

namespace media {

constexpr UINT kNotifyStreamStatus = 1224; // 0, the status value (the window id)
constexpr UINT kNotifyTalkStarted = 1425;  // the talk-start reply's result, its value
constexpr UINT kNotifyTalkStopped = 1426;  // the talk-stop reply's result, its value
constexpr UINT kNotifyCaptureFailed = 1427; // 0, 0: the microphone failed, talk was stopped
constexpr UINT kNotifyRecordStarted = 1524; // 0, 0: manual recording started
constexpr UINT kNotifyRecordStopped = 1525; // 0, 0: recording stopped or a frame was refused
constexpr UINT kNotifyDiskFull = 1526;      // 0, 0: not enough free space to record
constexpr UINT kNotifyRecordPathFailed = 1527; // 0, 0: the record folder or file cannot be made
constexpr UINT kNotifyLinkLost = 1624;      // 0, 0: the media channel's link is lost

}
