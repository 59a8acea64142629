#pragma once
// The standards-mode camera's analytics service: one video analytics
// configuration ("analytics_1", named in the profile) with a cell motion
// engine whose layout is the camera's motion grid (its `cols` and `rows`)
// and a cell motion detector rule whose ActiveCells (PackBits, base64; all
// cells on at the start) change on ModifyRules. GetAnalyticsModules,
// GetRules, ModifyRules and GetSupportedRules.
//
// ActiveCells that are not base64, whose runs are cut short or that hold
// more cells than the layout (beyond the last byte's padding) are refused
// with a SOAP Fault (ter:InvalidArgVal), and the cells stay as they were.
//
// Threads: the HTTP server's; ActiveCells from any thread.

#include "sim/CameraState.h"

#include <pugixml.hpp>

#include <mutex>
#include <string>

namespace sim {

constexpr const char* kOnvifAnalyticsPath = "/onvif/analytics_service";
constexpr const char* kAnalyticsToken = "analytics_1";
constexpr const char* kCellRuleName = "cell_motion";

class AnalyticsService {
public:
    explicit AnalyticsService(Camera::State& state);

    struct Answer {
        int status;
        std::string body;
    };
    Answer Handle(const pugi::xml_node& operation);

    // The rule's ActiveCells as the camera holds them (base64 text).
    std::string ActiveCells() const;

private:
    Camera::State& m_state;
    mutable std::mutex m_mutex; // guards m_cells
    std::string m_cells;
};

}
