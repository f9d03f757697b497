#include "playback/peak_meter.h"

#include <algorithm>
#include <cmath>

#include "playback/sample_blocks.h"

namespace orvex {
namespace {

constexpr int64_t kBlocksPerSecond = 1000 / kPeakBlockMs;

}  // namespace

int8_t PeakValue(float sample, bool high) {
  if (std::isnan(sample)) return 0;
  const float scaled = std::clamp(sample, -1.0f, 1.0f) * kPeakFullScale;
  return static_cast<int8_t>(high ? std::ceil(scaled) : std::floor(scaled));
}

void PeakMeter::Add(int64_t first, const float* samples, size_t frames, int rate) {
  ForEachBlock(first, frames, rate, kBlocksPerSecond, maxBlocks_,
               [&](int64_t block, size_t j, size_t n) {
                 // NaNs compare false and so are left out.
                 float lo = 0, hi = 0;
                 for (size_t k = j; k < j + n; ++k) {
                   lo = samples[k] < lo ? samples[k] : lo;
                   hi = samples[k] > hi ? samples[k] : hi;
                 }
                 const auto index = static_cast<size_t>(block);
                 if (blocks_.size() <= index) blocks_.resize(index + 1);
                 PeakPair& pair = blocks_[index];
                 const int8_t low = PeakValue(lo, false);
                 const int8_t high = PeakValue(hi, true);
                 if (block != current_) {
                   pair = {low, high};
                 } else {
                   pair.low = std::min(pair.low, low);
                   pair.high = std::max(pair.high, high);
                 }
                 current_ = std::max(current_, block);
               });
}

}  // namespace orvex
