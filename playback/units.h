#pragma once
// Conversions between GStreamer nanoseconds and whole milliseconds. Divisions
// truncate toward zero; the low 32 bits of the milliseconds are kept.

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

}  // namespace orvex
