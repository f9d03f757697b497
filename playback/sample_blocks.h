#pragma once
// Cuts decoded samples into blocks of a fixed share of a second, counted by
// sample number from the recording's first sample, so that blocks line up
// with the player's time line at any sample rate and whatever the buffers.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace orvex {

// For frames samples whose first one is sample number first of the
// recording, calls each(block, offset, count) for every run of count samples
// from offset on that falls into one block of 1/perSecond s. Samples before
// the recording (negative numbers) are skipped; the walk stops at maxBlocks.
template <typename Each>
void ForEachBlock(int64_t first, size_t frames, int rate, int64_t perSecond, size_t maxBlocks,
                  Each&& each) {
  if (rate <= 0) return;
  size_t j = 0;
  if (first < 0) {
    j = static_cast<size_t>(std::min<int64_t>(-first, static_cast<int64_t>(frames)));
    first += static_cast<int64_t>(j);
  }
  int64_t s = first;
  while (j < frames) {
    const int64_t block = s * perSecond / rate;
    if (block >= static_cast<int64_t>(maxBlocks)) break;
    // The first sample of the next block.
    const int64_t next = ((block + 1) * rate + perSecond - 1) / perSecond;
    const size_t n =
        static_cast<size_t>(std::min<int64_t>(next - s, static_cast<int64_t>(frames - j)));
    each(block, j, n);
    j += n;
    s += static_cast<int64_t>(n);
  }
}

}  // namespace orvex
