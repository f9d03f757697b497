#pragma once
// Conversions between the media time units and whole milliseconds. Divisions
// truncate toward zero; the low 32 bits of the milliseconds are kept.

#include <cstdint>

namespace orvex {

// 100-nanosecond media time to milliseconds.
constexpr int32_t MediaTimeToMs(int64_t t100ns) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(t100ns / 10 / 1000)));
}

// Milliseconds to 100-nanosecond media time.
constexpr int64_t MsToMediaTime(int32_t ms) {
  return static_cast<int64_t>(ms) * 10000;
}

// GStreamer nanoseconds to milliseconds.
constexpr int32_t NsToMs(int64_t ns) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ns / 1000000)));
}

// Milliseconds to GStreamer nanoseconds.
constexpr int64_t MsToNs(int32_t ms) {
  return static_cast<int64_t>(ms) * 1000000;
}

}  // namespace orvex
