#pragma once
// Window ids: each stream player's id (its name on the media channel, in
// the watchdog's thread messages and in the status it reports), and the
// media hub's active window. 1029 and 1030 are the two configuration pages
// as active window; they have no player.

#include <cstddef>
#include <cstdint>

constexpr std::int16_t kLiveWindowId = 1025;
constexpr std::int16_t kPlaybackWindowId = 1026;
constexpr std::int16_t kMotionWindowId = 1027;
constexpr std::int16_t kShelterWindowId = 1028;
constexpr std::int32_t kConfigPage1WindowId = 1029;
constexpr std::int32_t kConfigPage2WindowId = 1030;

// The players, in id order from kLiveWindowId.
constexpr std::size_t kPlayerCount = 4;
