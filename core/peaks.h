#pragma once
// A lesson's waveform for drawing: the lowest and the highest sample of each
// short block of the recording (the centre line always within), as whole
// numbers in -127..127 (full scale).
// The sentence analysis measures them in the same pass as the levels; the
// cache keeps them beside the sentences.

#include <cstdint>
#include <vector>

namespace orvex {

// Each block stands for this much of the recording, on the player's time
// line: fine enough that the closest zoom (2 s across the strip) still has
// a block for every pixel column or two.
inline constexpr int32_t kPeakBlockMs = 5;
inline constexpr int32_t kPeakFullScale = 127;

struct PeakPair {
  int8_t low = 0;
  int8_t high = 0;

  friend bool operator==(const PeakPair&, const PeakPair&) = default;
};

using PeakList = std::vector<PeakPair>;

}  // namespace orvex
