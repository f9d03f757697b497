#include "sentences/peak_meter.h"

#include <algorithm>
#include <cmath>

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
  if (rate <= 0) return;
  size_t j = 0;
  if (first < 0) {
    j = static_cast<size_t>(std::min<int64_t>(-first, static_cast<int64_t>(frames)));
    first += static_cast<int64_t>(j);
  }
  int64_t s = first;
  while (j < frames) {
    const int64_t block = s * kBlocksPerSecond / rate;
    if (block >= static_cast<int64_t>(maxBlocks_)) break;
    // The first sample of the next block.
    const int64_t next = ((block + 1) * rate + kBlocksPerSecond - 1) / kBlocksPerSecond;
    const size_t n =
        static_cast<size_t>(std::min<int64_t>(next - s, static_cast<int64_t>(frames - j)));
    const auto [lo, hi] = std::minmax_element(samples + j, samples + j + n);
    const auto index = static_cast<size_t>(block);
    if (blocks_.size() <= index) blocks_.resize(index + 1);
    PeakPair& pair = blocks_[index];
    const int8_t low = PeakValue(*lo, false);
    const int8_t high = PeakValue(*hi, true);
    if (block != current_) {
      pair = {low, high};
    } else {
      pair.low = std::min(pair.low, low);
      pair.high = std::max(pair.high, high);
    }
    current_ = std::max(current_, block);
    j += n;
    s += static_cast<int64_t>(n);
  }
}

}  // namespace orvex
