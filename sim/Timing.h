#pragma once
// The simulated camera's time constants (milliseconds).

namespace sim {

// How long the camera's threads sleep at most before they look at their
// stop flag or their channel's switches again.
constexpr int kPollSliceMs = 50;
// A road or media channel that has sent nothing for this long sends a
// heartbeat.
constexpr int kHeartbeatMs = 1000;

}
