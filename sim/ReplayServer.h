#pragma once
// The standards-mode camera's replay: each stored recording
// (sim/OnvifRecordings.h) at kReplayMountPrefix + its token on the RTSP
// server, an ONVIF media factory with replay support, so that a client
// must ask with "Require: onvif-replay" and names where to start with
// "Range: clock=...". The recording's H.264 (the pattern, its frame counter
// the frame number in the recording) comes from a seekable appsrc through
// rtph264pay and rtponviftimestamp (ONVIF's RTP header extension, its NTP
// time from the pipeline's running time); a seek to a clock time is mapped onto the recording's own
// time, and the data stops at the recording's end. A PLAY whose clock range starts outside the recording is refused
// with 457 Invalid Range before any seek.
//
// Threads: the RTSP server's main loop, and one feeder per session (the
// camera's workers). GStreamer's types stay in the .cpp.

#include "sim/CameraState.h"

struct _GstRTSPServer;
struct _GstRTSPMountPoints;

namespace sim {

// Mounts the recordings on `mounts` of `server`, open to the accounts
// holding `role`.
void AddReplayMounts(Camera::State& state, _GstRTSPServer* server, _GstRTSPMountPoints* mounts, const char* role);

}
