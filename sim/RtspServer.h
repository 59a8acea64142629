#pragma once
// The standards-mode camera's media: GStreamer's RTSP server
// (GstRTSPOnvifServer, a third-party RTSP stack) on the camera's port, with
// Digest authentication for the camera's accounts, serving at
// kRtspMountPath the camera's own moving pattern (the simulator's H.264 or
// H.265 encoder feeding an appsrc) and its tone in the configured coding
// (CameraConfig::sound). Each RTSP
// session gets its own pipeline and a feeder thread that pushes frames and
// sound at real-time pace; a stall (Camera::StallVideo) holds both. A
// session that asks for the ONVIF back channel also gets it (G.711, A-law
// when the sound is, mu-law otherwise); the voice received is counted in
// Camera::TalkBlocks by RTP payload size and decoded into Camera::TalkSound.
//
// Ownership: one per camera, owned by the Camera. Threads: a GLib main
// loop thread of its own, and one feeder per session (the camera's
// workers). GStreamer's types stay in the .cpp.

#include "sim/CameraState.h"

#include <memory>

namespace sim {

class RtspServer {
public:
    // Binds the configured port (or one the system chooses), records it in
    // the state and starts serving; null when it cannot.
    static std::unique_ptr<RtspServer> Start(Camera::State& state);
    ~RtspServer();
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    // Ends the main loop; the feeders end with the camera's `stopping`.
    void Stop();

    struct Impl;

private:
    RtspServer() = default;
    std::unique_ptr<Impl> m_impl;
};

// G.711 mu-law of one 16-bit sample.
std::uint8_t MuLawEncode(std::int16_t sample);

}
