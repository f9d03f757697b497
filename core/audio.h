#pragma once
// What the listener sets of the sound: the channel, the volume and the speed,
// as the menus, the settings and the player know them.

#include <cstdint>

namespace orvex {

// Channel values, as the menu and the settings know them.
inline constexpr int32_t kChannelStereo = 0;
inline constexpr int32_t kChannelLeft = 1;
inline constexpr int32_t kChannelRight = 2;

// Volume in hundredths of a decibel: silent .. full.
inline constexpr int32_t kVolumeSilent = -10000;
inline constexpr int32_t kVolumeFull = 0;

// Playback speed in hundredths: 50 is half speed, 200 twice. The pitch stays.
inline constexpr int32_t kRateMin = 50;
inline constexpr int32_t kRateNormal = 100;
inline constexpr int32_t kRateMax = 200;

}  // namespace orvex
