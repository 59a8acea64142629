#pragma once
// Camera settings by name, as `tiravex-camsim` options and the page host's
// `--camera sim,key=value,...` give them. One table, so that both accept the
// same names and values.

#include "sim/CameraConfig.h"

#include <string>
#include <vector>

namespace sim {

struct OptionHelp {
    const char* key;
    const char* value;
    const char* text;
};

// Every option with its help line, in the order of the help text.
const std::vector<OptionHelp>& CameraOptions();

// Applies one option; false (with the config unchanged for that option) when
// the key is unknown or the value is not acceptable.
bool ApplyCameraOption(CameraConfig& config, const std::string& key, const std::string& value);

// Applies "key=value,key=value"; false at the first bad entry.
bool ApplyCameraOptions(CameraConfig& config, const std::string& list);

}
