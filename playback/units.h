#pragma once
// Conversions between GStreamer nanoseconds and whole milliseconds. Divisions
// truncate toward zero; the low 32 bits of the milliseconds are kept.

#include <chrono>
#include <cstdint>

namespace orvex {

// GStreamer nanoseconds to milliseconds.
constexpr int32_t NsToMs(int64_t ns) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ns / 1000000)));
}

// Milliseconds to GStreamer nanoseconds.
constexpr int64_t MsToNs(int32_t ms) {
  return static_cast<int64_t>(ms) * 1000000;
}

// The steady clock (CLOCK_MONOTONIC, GStreamer's system clock too) in ns:
// the time line that the player's events and the recorder's takes share.
inline int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace orvex
