#pragma once
// The intonation of a take beside the original: both pitch tracks, the take's
// laid onto the original's time by dynamic time warping on their pitch in
// semitones about each one's own median (a lower or higher voice aligns as
// well), and how far the take's timing lies from the original's. Nothing here
// scores the pronunciation: the curves and the timing are shown as they are.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace orvex {

// Pitch in Hz, one value per hop; 0 where no pitch was found.
struct PitchTrack {
  int32_t hopMs = 10;
  std::vector<float> hz;
};

struct Intonation {
  int32_t hopMs = 10;
  std::vector<float> originalHz;
  // The take's pitch at each frame of the original; 0 where unvoiced.
  std::vector<float> takeHz;
  // The mean of (take's time - original's time) over the aligned frames:
  // above 0 the take is late.
  int32_t timingMs = 0;
  // The largest such difference, in either direction.
  int32_t largestTimingMs = 0;
  // Where the original stretch starts in the lesson (-1 when unknown): the
  // first frame of both curves lies there.
  int32_t aMs = -1;
  bool operator==(const Intonation&) const = default;
};

// The warping path from (0, 0) to (a.size() - 1, b.size() - 1), each step
// one frame on in a, in b or in both; empty when either is empty.
std::vector<std::pair<size_t, size_t>> WarpPath(const std::vector<float>& a,
                                                const std::vector<float>& b);

// Both tracks at the same hop (the take's is resampled when it differs).
Intonation AlignIntonation(const PitchTrack& original, const PitchTrack& take);

}  // namespace orvex
