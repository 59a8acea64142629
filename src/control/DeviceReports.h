#pragma once
// What the control keeps of the camera's reports, for later page events:
// values of the device messages, the settings of messages 151 to 158 (kept
// in a fixed layout, then the settings-received latch that brings event 501
// after a login), and the device record of message 200.
//
// Threads: page's thread only.

#include "kznet/Protocol.h"

#include <array>
#include <cstdint>
#include <string>

namespace control {

struct DeviceReports {
    std::uint8_t alarmState = 0;        // 102
    std::uint8_t b103[2] = {};          // 103
    std::uint8_t b105First = 0;         // 105, b0
    std::uint8_t b105Second = 0;        // 105, b0 again
    std::uint8_t b105b1 = 0;            // 105, b1
    std::uint8_t b106 = 0;              // 106
    std::array<std::string, kz::kChannelNameCount> texts106; // 106
    std::uint8_t b107 = 0;              // 107
    std::array<std::string, kz::kInputNameCount> texts107;   // 107
    std::string last107;                // 107, the text at byte 257
    std::uint8_t b108[2] = {};          // 108
    std::uint8_t b109[2] = {};          // 109 and 120; 113 and 119 write these too
    std::array<std::int32_t, kz::kStreamValueCount> values109 {}; // 109 (stream type 0) or 120 (otherwise)
    std::uint8_t b110[kz::kReport110Bytes - 1] = {}; // 110, b0..b4
    std::uint8_t b112 = 0;              // 112
    std::string text303;                // 303

    // The settings, kept as the camera reported them.
    struct Settings {
        std::uint8_t b151 = 0;
        std::uint8_t b153 = 0;
        std::uint8_t b154 = 0;
        std::uint8_t b155 = 0;
        std::uint8_t b156[2] = {};
        std::array<std::string, 4> texts156;
        std::uint8_t b157[2] = {};
        std::uint8_t b158 = 0;
    } settings;
    // Set by any of 151, 153 to 158; cleared by logging out.
    bool settingsReceived = false;

    std::array<std::uint8_t, kz::kDeviceRecordBytes> deviceRecord {};
};

}
