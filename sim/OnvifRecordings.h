#pragma once
// The standards-mode camera's recordings: its recordings (CameraConfig::
// recordings that are not broken) as ONVIF recordings "recording_1", ...,
// the first made from kRecordingsStartUtc on, each an hour after the one
// before, as long as its seconds. The recording search service
// (FindRecordings, GetRecordingSearchResults, GetRecordingSummary,
// EndSearch) finds them and the replay service (GetReplayUri) names each
// one's RTSP address, served by the RTSP server (sim/ReplayServer.h).
//
// Written apart from the network library's client, as OnvifServer is.
// Threads: any; searches are guarded by the object's own mutex.

#include "sim/CameraConfig.h"

#include <pugixml.hpp>

#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr const char* kOnvifSearchPath = "/onvif/search_service";
constexpr const char* kOnvifReplayPath = "/onvif/replay_service";
constexpr const char* kReplayMountPrefix = "/replay/";
constexpr std::time_t kRecordingsStartUtc = 1767225600; // 2026-01-01T00:00:00Z
constexpr std::time_t kRecordingsSpacing = 3600;

// One recording as the standards show it.
struct StoredRecording {
    std::string token;
    std::time_t start = 0; // UTC
    const Recording* recording = nullptr;
};
std::vector<StoredRecording> StoredRecordings(const CameraConfig& config);

class OnvifRecordings {
public:
    struct Answer {
        int status;
        std::string body; // the SOAP Body's content
    };
    // The answer to a search (`search` true) or replay operation; nothing
    // for an operation it does not serve. `rtspBase` is
    // "rtsp://address:port".
    std::optional<Answer> Handle(const CameraConfig& config, bool search, std::string_view operation, const pugi::xml_node& request,
        const std::string& rtspBase);

private:
    std::mutex m_mutex; // guards the two below
    std::vector<std::string> m_searches; // open search tokens
    int m_next = 1;
};

}
