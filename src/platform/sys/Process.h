#pragma once
// Starting another program without waiting for it.

#include <string>
#include <vector>

namespace sys {

// Starts `argv[0]` (looked up in PATH) with its arguments, detached from
// the caller: no console, no wait. False when it could not be started.
bool StartProcess(const std::vector<std::string>& argv);

// The last command line StartProcess was given (diagnostics and tests).
std::vector<std::string> LastStartedProcess();

}
