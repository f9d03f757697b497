#pragma once
// Reduces decoded samples to peaks (core/peaks.h): one pair per kPeakBlockMs
// of the recording, counted by sample number so that blocks line up with the
// player's time line at any sample rate.

#include <cstddef>
#include <cstdint>

#include "core/peaks.h"

namespace orvex {

class PeakMeter {
 public:
  // At most maxBlocks blocks are kept (the file's length and a margin).
  explicit PeakMeter(size_t maxBlocks) : maxBlocks_(maxBlocks) {}

  // Adds frames mono samples in -1..1 whose first one is sample number first
  // of the recording (negative ones, before it, are skipped). A block left
  // out by a gap in the stream stays silent.
  void Add(int64_t first, const float* samples, size_t frames, int rate);

  // The blocks measured so far; the last one may still grow.
  const PeakList& blocks() const { return blocks_; }
  // The blocks that no later sample can change any more.
  size_t closed() const { return current_ < 0 ? 0 : static_cast<size_t>(current_); }

 private:
  const size_t maxBlocks_;
  PeakList blocks_;
  int64_t current_ = -1;
};

// A sample in -1..1 as a peak value: rounded away from the centre line, so
// a quiet block never looks silent, and within -127..127.
int8_t PeakValue(float sample, bool high);

}  // namespace orvex
