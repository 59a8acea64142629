#pragma once
// The browser side of tiravex-serve, built into the program from
// src/host/web: /tiravex.js (which pages include) and the microphone's
// audio worklet it loads.

#include <string_view>

namespace host::web {

extern const std::string_view kTiravexJs;
extern const std::string_view kTalkWorkletJs;

}
