// Samples reduced to peaks: blocks of 5 ms counted by sample number at any
// rate, buffers that split a block, gaps, and the rounding away from the line.
#include "playback/peak_meter.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace orvex {
namespace {

// n samples alternating between +amplitude and -amplitude.
std::vector<float> Square(size_t n, float amplitude) {
  std::vector<float> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = i % 2 ? -amplitude : amplitude;
  return out;
}

TEST(PeakMeter, BlocksFollowTheSampleNumbersAcrossBuffersAndRates) {
  // 8 kHz: 40 samples a block. 60 loud samples, then 100 quiet ones, fed in
  // buffers that split blocks.
  PeakMeter meter(100);
  std::vector<float> samples = Square(60, 0.5f);
  const std::vector<float> quiet = Square(100, 0.1f);
  samples.insert(samples.end(), quiet.begin(), quiet.end());
  meter.Add(0, samples.data(), 25, 8000);
  meter.Add(25, samples.data() + 25, 135, 8000);
  ASSERT_EQ(meter.blocks().size(), 4u);
  EXPECT_EQ(meter.blocks()[0], (PeakPair{-64, 64}));  // 63.5 rounded away from the line
  EXPECT_EQ(meter.blocks()[1], (PeakPair{-64, 64}));  // 20 loud, 20 quiet samples
  EXPECT_EQ(meter.blocks()[2], (PeakPair{-13, 13}));
  EXPECT_EQ(meter.closed(), 3u);  // the last block may still grow

  // 44.1 kHz: a block is 220.5 samples; one second is exactly 200 blocks.
  PeakMeter cd(1000);
  const std::vector<float> second = Square(44100, 1.0f);
  cd.Add(0, second.data(), second.size(), 44100);
  EXPECT_EQ(cd.blocks().size(), 200u);
  EXPECT_EQ(cd.blocks().back(), (PeakPair{-127, 127}));

  // A gap in the stream stays silent; samples before the start and past the
  // last block are left out; out-of-range samples are clipped.
  PeakMeter gaps(3);
  const std::vector<float> loud = Square(40, 2.0f);
  gaps.Add(-40, loud.data(), 40, 8000);
  EXPECT_TRUE(gaps.blocks().empty());
  gaps.Add(80, loud.data(), 40, 8000);
  gaps.Add(120, loud.data(), 40, 8000);
  ASSERT_EQ(gaps.blocks().size(), 3u);
  EXPECT_EQ(gaps.blocks()[0], (PeakPair{0, 0}));
  EXPECT_EQ(gaps.blocks()[2], (PeakPair{-127, 127}));
  // A whisper still shows; a NaN counts as silence.
  const float faint[] = {0.001f, -0.001f, std::numeric_limits<float>::quiet_NaN()};
  PeakMeter whisper(1);
  whisper.Add(0, faint, 3, 8000);
  EXPECT_EQ(whisper.blocks()[0], (PeakPair{-1, 1}));
}

}  // namespace
}  // namespace orvex
