#pragma once
// The page's `camera` object: a simulated camera on loopback, started from
// the host's --camera sim[,key=value...] option, that the page logs in to
// and scripts.

#include "host/PageHost.h"

#include <memory>
#include <string>

namespace sim {
class Camera;
}

namespace host {

// Starts the camera described by "sim[,key=value...]" on loopback ("onvif"
// in place of "sim": the camera of the standards, ONVIF and RTSP); null,
// with a reason, when the text is wrong or the camera cannot start. A
// device search of this process (and of the processes it starts) finds it,
// unless TIRAVEX_SEARCH_TARGETS names other targets.
std::shared_ptr<sim::Camera> StartSimCamera(const std::string& description, std::string& error);

// Starts the camera described by "sim[,key=value...]" and adds `camera` to
// the page. Null, with a reason, when the text is wrong or the camera cannot
// start.
std::shared_ptr<sim::Camera> InstallSimCamera(PageHost& page, const std::string& description, std::string& error);

}
