// The splitting rule over level arrays made by hand: what a pause is, the
// margins, short pieces, the threshold taken from the file, and input that is
// empty, uniform or not a number.

#include "playback/pause_split.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace orvex {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Levels (one per 10 ms) from stretches of (milliseconds, dB); "speech"
// stretches wobble by a few dB so they look like speech, not a tone.
std::vector<float> Levels(const std::vector<std::pair<int, float>>& stretches, float speechDb = -20,
                          float gainDb = 0) {
  std::vector<float> levels;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> wobble(-4, 4);
  for (const auto& [ms, db] : stretches) {
    for (int i = 0; i < ms / 10; ++i) {
      levels.push_back((db == speechDb ? db + wobble(random) : db) + gainDb);
    }
  }
  return levels;
}

using Spans = std::vector<std::pair<int32_t, int32_t>>;
Spans SpansOf(const std::vector<Sentence>& sentences) {
  Spans spans;
  for (const Sentence& s : sentences) spans.emplace_back(s.startMs, s.endMs);
  return spans;
}

TEST(PauseSplit, SentencesAreTheSoundBetweenPausesWithTheirMargins) {
  // 1 s lead-in, 2 s speech, 500 ms pause, 1.5 s speech, 1 s tail.
  const auto levels = Levels({{1000, -80}, {2000, -20}, {500, -80}, {1500, -20}, {1000, -80}});
  EXPECT_EQ(SpansOf(SplitAtPauses(levels)), (Spans{{850, 3250}, {3350, 5250}}));
  // The end is cut by the file's length, the start by the file's start.
  const auto edge = Levels({{100, -80}, {2000, -20}, {500, -80}, {1000, -20}, {100, -80}});
  EXPECT_EQ(SpansOf(SplitAtPauses(edge)), (Spans{{0, 2350}, {2450, 3700}}));
  EXPECT_EQ(SpansOf(SplitAtPauses(edge, 3650)), (Spans{{0, 2350}, {2450, 3650}}));
}

TEST(PauseSplit, APauseLastsAtLeast250Milliseconds) {
  for (const auto& [gapMs, parts] : {std::pair{240, 1u}, {250, 2u}, {300, 2u}}) {
    const auto levels = Levels({{500, -80}, {1000, -20}, {gapMs, -80}, {1000, -20}, {500, -80}});
    const auto sentences = SplitAtPauses(levels);
    ASSERT_EQ(sentences.size(), parts) << gapMs << " ms";
    if (parts == 2) {
      // A short pause cannot hold both margins: the next start wins, and
      // neither sentence reaches into the other's sound.
      EXPECT_EQ(sentences[1].startMs, 1500 + gapMs - 150);
      EXPECT_EQ(sentences[0].endMs, std::min(1500 + 250, sentences[1].startMs));
    }
  }
}

TEST(PauseSplit, PiecesWithLessThanASecondOfSoundJoinTheNext) {
  // 400 ms of sound joins the next piece; a short last piece joins the one before.
  const auto levels = Levels({{500, -80},
                              {400, -20},
                              {600, -80},
                              {1000, -20},
                              {600, -80},
                              {590, -20},
                              {600, -80},
                              {1000, -20},
                              {600, -80},
                              {300, -20},
                              {500, -80}});
  EXPECT_EQ(SpansOf(SplitAtPauses(levels)), (Spans{{350, 2750}, {2950, 6440}}));
}

TEST(PauseSplit, TheThresholdComesFromTheFileItself) {
  // The same lesson recorded quietly or loudly, over digital silence or hiss,
  // splits the same way.
  const Spans expected{{850, 3250}, {3350, 5250}};
  for (const float gain : {-50.f, -25.f, 0.f, 15.f}) {
    for (const float floor : {-120.f, -75.f, -50.f}) {
      if (floor >= -20 + gain - 12) continue;  // no hiss as loud as the speech
      const auto levels = Levels(
          {{1000, floor}, {2000, -20 + gain}, {500, floor}, {1500, -20 + gain}, {1000, floor}},
          -20 + gain);
      EXPECT_EQ(SpansOf(SplitAtPauses(levels)), expected) << "gain " << gain << " floor " << floor;
    }
  }
  const PauseThreshold t = FindPauseThreshold(Levels({{1000, -60}, {2000, -20}, {1000, -60}}));
  EXPECT_FLOAT_EQ(t.floorDb, -60);
  EXPECT_FLOAT_EQ(t.thresholdDb, -50);
}

TEST(PauseSplit, UniformOrBrokenInputGivesOneSentenceOrNone) {
  EXPECT_TRUE(SplitAtPauses({}).empty());
  EXPECT_TRUE(SplitAtPauses(std::vector<float>(500, -kInf)).empty());
  EXPECT_TRUE(SplitAtPauses(std::vector<float>(500, kNaN)).empty());
  EXPECT_TRUE(SplitAtPauses(Levels({{5000, -90}}, 0)).empty());
  // All sound: one sentence over the whole file, whatever the level.
  EXPECT_EQ(SpansOf(SplitAtPauses(std::vector<float>(500, -12))), (Spans{{0, 5000}}));
  std::vector<float> hum(500);
  for (size_t i = 0; i < hum.size(); ++i) hum[i] = -40.f - static_cast<float>(i % 3);
  EXPECT_EQ(SpansOf(SplitAtPauses(hum)), (Spans{{0, 5000}}));
  EXPECT_EQ(SpansOf(SplitAtPauses(std::vector<float>(500, kInf))), (Spans{{0, 5000}}));
  EXPECT_TRUE(SplitAtPauses(std::vector<float>(500, -12), 0).empty());

  // Not-a-number counts as silence, infinities as the extremes.
  std::vector<float> levels =
      Levels({{1000, -80}, {2000, -20}, {500, -80}, {1500, -20}, {1000, -80}});
  for (size_t i = 0; i < 50; ++i) levels[i] = kNaN;
  levels[320] = -kInf;
  levels[60] = kInf;  // a click in the lead-in: a short piece that joins the next
  EXPECT_EQ(SpansOf(SplitAtPauses(levels)), (Spans{{450, 3250}, {3350, 5250}}));

  std::mt19937 random(3);
  std::uniform_int_distribution<int> pick(0, 4);
  const float odd[] = {kNaN, kInf, -kInf, -20, -90};
  for (int round = 0; round < 50; ++round) {
    std::vector<float> noise(1000);
    for (float& v : noise) v = odd[pick(random)];
    const auto sentences = SplitAtPauses(noise);
    for (size_t i = 0; i < sentences.size(); ++i) {
      EXPECT_LT(sentences[i].startMs, sentences[i].endMs);
      if (i > 0) {
        EXPECT_LE(sentences[i - 1].endMs, sentences[i].startMs);
      }
    }
  }
}

TEST(PauseSplit, SentenceIndexAtFindsTheSentenceOfAPosition) {
  const std::vector<Sentence> s{{100, 900, {}}, {1000, 2000, {}}, {2500, 3000, {}}};
  EXPECT_EQ(SentenceIndexAt(s, 0), -1);
  EXPECT_EQ(SentenceIndexAt(s, 100), 0);
  EXPECT_EQ(SentenceIndexAt(s, 950), 0);  // the gap behind a sentence is still its
  EXPECT_EQ(SentenceIndexAt(s, 1000), 1);
  EXPECT_EQ(SentenceIndexAt(s, 99999), 2);
  EXPECT_EQ(SentenceIndexAt({}, 5), -1);
}

}  // namespace
}  // namespace orvex
