#pragma once
// Messages the video windows post (or, for 2046, send) to the control
// window, with what wParam and lParam carry. The control window turns them
// into page events or road commands.

#include "ui/Messages.h"

namespace view {

// The playback window: playback stopped, ended, progressed, changed state.
constexpr UINT kNotifyPlaybackStopped = 1227;  // 0, 0
constexpr UINT kNotifyPlaybackEnd = 1228;      // 0, the event's value
constexpr UINT kNotifyPlaybackProgress = 1229; // 0, the position
constexpr UINT kNotifyPlaybackState = 1230;    // state 0..3, the event's value
constexpr WPARAM kPlaybackStates = 4;
// The live window: its picture is 320 x 240 or smaller.
constexpr UINT kNotifySmallPicture = 1231;     // 0, 0
// The live window stopped listen and talk on a stalled stream.
constexpr UINT kNotifyLiveAudioState = 1428;   // 0, 0
// A snapshot window closes (sent, not posted).
constexpr UINT kNotifySnapshotClosed = 2046;   // the window object, 0

}
