#pragma once
// The standards-mode camera's privacy masks: the Media2 service's mask
// operations (GetServiceCapabilities, GetMaskOptions, GetMasks, CreateMask,
// SetMask, DeleteMask) over a list of polygons of its one video source
// configuration. Requests that break its limits (more than kSimMaxMasks
// masks, polygons of fewer than 3 or more than kSimMaxMaskPoints points,
// coordinates outside -1..1, unknown tokens) get a SOAP Fault.
//
// Written apart from the network library's client, as OnvifServer is.
// Threads: any; the masks are guarded by the object's own mutex.

#include <pugixml.hpp>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr const char* kOnvifMedia2Path = "/onvif/media2_service";
constexpr const char* kVideoSourceConfigToken = "source_config_1";
constexpr int kSimMaxMasks = 4;
constexpr std::size_t kSimMaxMaskPoints = 16;

class OnvifMasks {
public:
    struct Answer {
        int status;
        std::string body; // the SOAP Body's content
        bool fault;
    };
    // The answer to Media2 operation `operation`; nothing for an
    // operation it does not serve. `log` gets each change ("CreateMask
    // mask_1 -0.50,0.50 ...", "DeleteMask mask_1").
    std::optional<Answer> Handle(std::string_view operation, const pugi::xml_node& request, std::vector<std::string>& log);
    // The masks, oldest first, as "token x,y x,y ..." (two decimals).
    std::vector<std::string> Masks() const;

private:
    struct Mask {
        std::string token;
        std::vector<std::pair<double, double>> points;
    };
    static std::string Describe(const Mask& mask);

    mutable std::mutex m_mutex; // guards the two below
    std::vector<Mask> m_masks;
    int m_next = 1;
};

}
