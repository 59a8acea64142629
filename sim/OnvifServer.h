#pragma once
// The standards-mode camera's ONVIF device, media and PTZ services: SOAP
// 1.2 over the camera's HTTP server (POST /onvif/device_service,
// /onvif/media_service, and /onvif/ptz_service on a pan/tilt camera). Every request but GetSystemDateAndTime must carry
// a WS-Security UsernameToken whose digest matches an account and whose
// creation time is within kTokenSkewSeconds of the camera's clock (which
// runs `clockOffsetSeconds` ahead of the machine's); anything else gets a
// SOAP Fault with the subcode ter:NotAuthorized.
//
// Written apart from the network library's client (its own templates and
// its own reading of the requests), so that the two check each other.
//
// Ownership: one per camera, owned by the Camera; it refers to the state,
// which outlives it. Threads: the HTTP server's.

#include "sim/CameraState.h"
#include "sim/OnvifMasks.h"
#include "sim/OnvifRecordings.h"

#include <httplib.h>

#include <memory>
#include <string>

namespace sim {

constexpr const char* kOnvifDevicePath = "/onvif/device_service";
constexpr const char* kOnvifMediaPath = "/onvif/media_service";
constexpr const char* kOnvifPtzPath = "/onvif/ptz_service"; // served when the camera has pan/tilt (ptflag)
constexpr const char* kRtspMountPath = "/stream1";
// A JPEG picture of the pattern (GetSnapshotUri's address), given to an
// account with HTTP Digest (MD5, qop "auth").
constexpr const char* kSnapshotPath = "/snapshot.jpg";
constexpr const char* kProfileToken = "profile_1";
constexpr int kTokenSkewSeconds = 300;

class EventService;
class AnalyticsService;

class OnvifServer {
public:
    // Adds the services to `http` (before it starts serving), with the
    // event service (sim/OnvifEvents.h) and the analytics service
    // (sim/OnvifAnalytics.h).
    OnvifServer(Camera::State& state, httplib::Server& http);
    ~OnvifServer();

    // Raises or clears an alarm of our protocol's kind (0 motion, 1 sound,
    // 2 input) as ONVIF events.
    void SetAlarm(int kind, bool on);
    // As a camera that restarted: every event subscription is forgotten.
    void Restart();
    // The cell motion detector's ActiveCells (base64).
    std::string ActiveCells() const;

    // The answer to one SOAP request body: HTTP status and envelope.
    struct Answer {
        int status;
        std::string body;
    };
    Answer Handle(const std::string& path, const std::string& request);
    // The Media2 service's privacy masks, as OnvifMasks::Masks gives them.
    std::vector<std::string> Masks() const { return m_masks.Masks(); }

private:
    // Whether an Authorization header answers our Digest challenge for an account.
    bool SnapshotAccountOk(const std::string& method, const std::string& target, const std::string& authorization) const;

    Camera::State& m_state;
    std::string m_nonce; // the Digest challenge's, one per camera
    OnvifMasks m_masks;  // served at kOnvifMedia2Path unless the camera runs without masks
    OnvifRecordings m_recordings; // served at kOnvifSearchPath and kOnvifReplayPath
    std::unique_ptr<EventService> m_events;
    std::unique_ptr<AnalyticsService> m_analytics;
};

// The camera's clock: the machine's UTC plus the configured offset.
long CameraUtc(const CameraConfig& config);
// The camera's endpoint reference ("urn:uuid:..."), the same for every
// camera with its device identifier, as a real camera's stays with it.
std::string CameraEndpoint(const CameraConfig& config);

}
