// The wave strip's geometry without Qt: the zoom steps, following the
// playhead, snapping, the lane's boxes, the loop's edges and the peaks of a
// pixel column (pixel <-> time is checked on the strip's pictures).
#include <gtest/gtest.h>

#include <cmath>

#include "views/wave_geometry.h"

namespace orvex::wave {
namespace {

TEST(WaveGeometry, ZoomStepsFromTwoSecondsToTheWholeFile) {
  // Out from the default on a 95 s file: the steps below it, then the file.
  std::vector<int32_t> spans{kDefaultSpanMs};
  for (int i = 0; i < 6; ++i) spans.push_back(ZoomedSpan(spans.back(), 1, 95000));
  EXPECT_EQ(spans, (std::vector<int32_t>{10000, 20000, 30000, 60000, 95000, 95000, 95000}));
  // In from the whole file, down to 2 s and no further.
  std::vector<int32_t> in{95000};
  for (int i = 0; i < 9; ++i) in.push_back(ZoomedSpan(in.back(), -1, 95000));
  EXPECT_EQ(
      in, (std::vector<int32_t>{95000, 60000, 30000, 20000, 10000, 5000, 3000, 2000, 2000, 2000}));
  // A span between steps (a whole file's, kept for a longer file) moves to
  // the step on either side.
  EXPECT_EQ(ZoomedSpan(95000, -1, 40 * 60000), 60000);
  EXPECT_EQ(ZoomedSpan(95000, 1, 40 * 60000), 120000);
  // A file shorter than every step has one span: the whole of it.
  EXPECT_EQ(ZoomedSpan(10000, -1, 1500), 2000);
  EXPECT_EQ(ZoomedSpan(10000, 1, 1500), 2000);
}

TEST(WaveGeometry, TheStretchFollowsThePlayheadInPages) {
  constexpr int32_t kLength = 60000;
  // Still while the playhead is in the first nine tenths.
  EXPECT_EQ(FollowStart(0, 0, 10000, kLength), 0);
  EXPECT_EQ(FollowStart(0, 8999, 10000, kLength), 0);
  // At nine tenths it moves on: the playhead a tenth in.
  EXPECT_EQ(FollowStart(0, 9000, 10000, kLength), 8000);
  // A seek back before the stretch brings it there too.
  EXPECT_EQ(FollowStart(30000, 12000, 10000, kLength), 11000);
  // Never past the file's end, never before its start.
  EXPECT_EQ(FollowStart(40000, 59000, 10000, kLength), 50000);
  EXPECT_EQ(FollowStart(50000, 59990, 10000, kLength), 50000);
  EXPECT_EQ(FollowStart(5000, 500, 10000, kLength), 0);
  // A span as long as the file shows it all.
  EXPECT_EQ(FollowStart(7000, 30000, kLength, kLength), 0);
  // A new zoom keeps the playhead in the middle, within the file.
  EXPECT_EQ(CentredStart(30000, 2000, kLength), 29000);
  EXPECT_EQ(CentredStart(500, 2000, kLength), 0);
  EXPECT_EQ(CentredStart(59900, 2000, kLength), 58000);
}

TEST(WaveGeometry, SnappingTakesTheNearestEdgeWithinEightPixels) {
  const std::vector<Sentence> sentences{{1000, 3000, {}}, {3100, 5000, {}}};
  // 10 s over 604 pixels: 8 pixels are 132.45 ms.
  const Window w{0, 10000, 604};
  EXPECT_EQ(Snap(1130, sentences, w), 1000);
  EXPECT_EQ(Snap(1140, sentences, w), 1140);  // just beyond reach
  EXPECT_EQ(Snap(870, sentences, w), 1000);
  // Between two edges, the nearer one.
  EXPECT_EQ(Snap(3040, sentences, w), 3000);
  EXPECT_EQ(Snap(3060, sentences, w), 3100);
  // Closer in, the same distance in time is out of reach.
  const Window close{0, 2000, 604};  // 8 pixels: 26.5 ms
  EXPECT_EQ(Snap(1020, sentences, close), 1000);
  EXPECT_EQ(Snap(1030, sentences, close), 1030);
  EXPECT_EQ(Snap(1030, {}, w), 1030);
}

TEST(WaveGeometry, LaneBoxesLieUnderTheirSentencesApartAndClipped) {
  const Window w{10000, 10000, 600};                          // 60 pixels a second
  const std::vector<Sentence> sentences{{2000, 9000, {}},     // before the stretch: left out
                                        {9000, 11000, {}},    // cut by the left edge
                                        {11000, 12500, {}},   // touches the one before
                                        {15000, 15005, {}},   // 5 ms: still a pixel
                                        {19000, 20000, {}},   // up to the right edge
                                        {20000, 21000, {}}};  // after it: left out
  const std::vector<LaneBox> boxes = LaneBoxes(sentences, w);
  EXPECT_EQ(boxes, (std::vector<LaneBox>{{1, 0, 60}, {2, 61, 150}, {3, 300, 301}, {4, 540, 600}}));
  EXPECT_EQ(SentenceAt(30.5, sentences, w), 1);
  EXPECT_EQ(SentenceAt(60.5, sentences, w), -1);  // the pixel between two boxes
  EXPECT_EQ(SentenceAt(100, sentences, w), 2);
  EXPECT_EQ(SentenceAt(200, sentences, w), -1);
  EXPECT_EQ(SentenceAt(599.9, sentences, w), 4);
}

TEST(WaveGeometry, TheLoopsEdgesAreTakenWithinFourPixels) {
  const Window w{0, 10000, 1000};  // 10 ms a pixel
  EXPECT_EQ(EdgeAt(203, 2000, 5000, w), Edge::kA);
  EXPECT_EQ(EdgeAt(196, 2000, 5000, w), Edge::kA);
  EXPECT_EQ(EdgeAt(205, 2000, 5000, w), Edge::kNone);
  EXPECT_EQ(EdgeAt(497, 2000, 5000, w), Edge::kB);
  EXPECT_EQ(EdgeAt(300, 2000, 5000, w), Edge::kNone);
  // A short loop: the nearer edge wins.
  EXPECT_EQ(EdgeAt(201, 2000, 2050, w), Edge::kA);
  EXPECT_EQ(EdgeAt(204, 2000, 2050, w), Edge::kB);
  EXPECT_EQ(EdgeAt(200, -1, -1, w), Edge::kNone);
  EXPECT_EQ(EdgeAt(200, 2000, -1, w), Edge::kNone);
}

TEST(WaveGeometry, AColumnTakesTheExtremesOfItsBlocksOrIsUnknown) {
  // Blocks of 5 ms: 0..9 measured.
  PeakList peaks;
  for (int8_t i = 0; i < 10; ++i)
    peaks.push_back({static_cast<int8_t>(-i), static_cast<int8_t>(i)});
  peaks[3] = {-100, 20};
  // 10 columns over 100 ms: 2 blocks each.
  const Window w{0, 100, 10};
  const Column first = ColumnPeaks(peaks, w, 0, 10);
  EXPECT_TRUE(first.known);
  EXPECT_EQ(first.low, -1);
  EXPECT_EQ(first.high, 1);
  const Column second = ColumnPeaks(peaks, w, 1, 10);
  EXPECT_EQ(second.low, -100);
  EXPECT_EQ(second.high, 20);
  // Beyond what was measured, and outside the columns: unknown.
  EXPECT_FALSE(ColumnPeaks(peaks, w, 5, 10).known);
  EXPECT_FALSE(ColumnPeaks(peaks, w, 10, 10).known);
  EXPECT_FALSE(ColumnPeaks(peaks, w, -1, 10).known);
  // A column narrower than a block still shows the block under it.
  const Window fine{10, 4, 8};
  const Column narrow = ColumnPeaks(peaks, fine, 7, 8);
  EXPECT_TRUE(narrow.known);
  EXPECT_EQ(narrow.high, 2);
  // Before the file's start.
  EXPECT_FALSE(ColumnPeaks(peaks, Window{-100, 100, 10}, 0, 10).known);
}

}  // namespace
}  // namespace orvex::wave
