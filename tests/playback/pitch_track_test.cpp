// Pitch tracks by aubio and their alignment: a rising tone and the same tone
// said 1.3 times slower, with a pause before it, must line up so that each
// frame of the original meets the take's pitch at the same point of the rise.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/intonation.h"
#include "playback/pitch_track.h"

namespace orvex {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A tone gliding from f0 to f1 Hz (exponentially, as a voice rises) over
// seconds, with leadSeconds of silence before it and 0.2 s after.
std::vector<float> Glide(double f0, double f1, double seconds, double leadSeconds) {
  const int rate = kPitchRate;
  std::vector<float> out(static_cast<size_t>((leadSeconds + seconds + 0.2) * rate), 0.0f);
  double phase = 0;
  const auto lead = static_cast<size_t>(leadSeconds * rate);
  const auto n = static_cast<size_t>(seconds * rate);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n);
    phase += 2 * kPi * f0 * std::pow(f1 / f0, t) / rate;
    // A voice-like tone: the fundamental and two weaker harmonics.
    out[lead + i] = static_cast<float>(0.4 * std::sin(phase) + 0.2 * std::sin(2 * phase) +
                                       0.1 * std::sin(3 * phase));
  }
  return out;
}

double Semitones(float a, float b) {
  return 12.0 * std::log2(static_cast<double>(a) / static_cast<double>(b));
}

TEST(PitchTrack, FollowsARisingToneAndFindsNoPitchInSilence) {
  const PitchTrack track = PitchOfSamples(Glide(150, 300, 1.0, 0.3), kPitchRate);
  ASSERT_EQ(track.hopMs, kPitchHopMs);
  ASSERT_EQ(track.hz.size(), 150u);
  // The silence before the tone holds no pitch.
  for (size_t i = 0; i < 25; ++i) EXPECT_EQ(track.hz[i], 0.0f) << "frame " << i;
  // In the middle of the glide: the expected pitch within half a semitone.
  for (size_t i = 40; i < 120; ++i) {
    const double t = (static_cast<double>(i) * 10 - 300) / 1000;
    const auto expected = static_cast<float>(150 * std::pow(2.0, t));
    ASSERT_GT(track.hz[i], 0.0f) << "frame " << i;
    EXPECT_LT(std::fabs(Semitones(track.hz[i], expected)), 0.5) << "frame " << i;
  }
}

TEST(Intonation, AStretchedTakeAlignsWithinASemitoneAndItsLateStartShows) {
  // The take starts 200 ms later (after 0.5 s of silence, not 0.3 s) and
  // lasts 1.3 times as long, an octave lower: a lower voice on the same tune.
  const PitchTrack original = PitchOfSamples(Glide(150, 300, 1.0, 0.3), kPitchRate);
  const PitchTrack take = PitchOfSamples(Glide(75, 150, 1.3, 0.5), kPitchRate);
  const Intonation in = AlignIntonation(original, take);
  ASSERT_EQ(in.originalHz.size(), original.hz.size());
  ASSERT_EQ(in.takeHz.size(), original.hz.size());
  int compared = 0;
  for (size_t i = 35; i < 125; ++i) {
    if (in.originalHz[i] <= 0) continue;
    ASSERT_GT(in.takeHz[i], 0.0f) << "frame " << i << ": the take is unvoiced there";
    // An octave lower: 12 semitones, and the tune within one semitone of it.
    EXPECT_LT(std::fabs(Semitones(in.originalHz[i], in.takeHz[i]) - 12.0), 1.0) << "frame " << i;
    ++compared;
  }
  EXPECT_GE(compared, 80);
  // The take is late by 200 ms at its start and 500 ms at its end: on the
  // mean about 350 ms, the largest about 500 ms.
  std::printf("timing: mean %d ms, largest %d ms\n", in.timingMs, in.largestTimingMs);
  EXPECT_NEAR(in.timingMs, 350, 80);
  EXPECT_NEAR(in.largestTimingMs, 500, 100);
}

TEST(Intonation, WarpPathRunsCornerToCornerInSingleSteps) {
  const std::vector<float> a = {0, 1, 2, 3};
  const std::vector<float> b = {0, 0, 1, 1, 2, 3, 3};
  const auto path = WarpPath(a, b);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), (std::pair<size_t, size_t>{0, 0}));
  EXPECT_EQ(path.back(), (std::pair<size_t, size_t>{3, 6}));
  for (size_t k = 1; k < path.size(); ++k) {
    const size_t di = path[k].first - path[k - 1].first;
    const size_t dj = path[k].second - path[k - 1].second;
    EXPECT_TRUE(di <= 1 && dj <= 1 && di + dj >= 1) << "step " << k;
  }
  // Equal values meet: b's doubled frames all lie on a's.
  for (const auto& [i, j] : path) EXPECT_EQ(a[i], b[j]) << i << "," << j;
  EXPECT_TRUE(WarpPath({}, b).empty());
}

}  // namespace
}  // namespace orvex
