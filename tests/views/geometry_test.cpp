// Geometry and rules of the views, without Qt.
#include <gtest/gtest.h>

#include <climits>

#include "core/texts.h"
#include "views/display_geometry.h"
#include "views/options_rules.h"
#include "views/position_geometry.h"

namespace orvex {
namespace {

// A bar 600 pixels wide: the track runs over x 15..530 and L is 515.
constexpr int32_t kWidth = 600;
constexpr int32_t kLength = kWidth - 85;

TEST(PositionGeometry, TrackLengthAndRectangles) {
  EXPECT_EQ(position::TrackLength(kWidth), 515);
  EXPECT_EQ(position::TrackLength(40), 0);  // narrower than the margins: no track
  EXPECT_EQ(position::TrackRect(kWidth), FromEdges(15, 14, 530, 18));
  EXPECT_EQ(position::PlayedRect(0), FromEdges(15, 14, 15, 18));
  EXPECT_EQ(position::PlayedRect(100), FromEdges(15, 14, 115, 18));
  EXPECT_EQ(position::RestRect(100, kWidth), FromEdges(116, 14, 530, 18));
  EXPECT_EQ(position::RestRect(kLength, kWidth).Width(), 0);  // all played
  EXPECT_EQ(position::ThumbCorner(100), (PixelPoint{109, 19}));
  EXPECT_EQ(position::AFlagCorner(100), (PixelPoint{110, 4}));
  EXPECT_EQ(position::BFlagCorner(100), (PixelPoint{115, 4}));
  EXPECT_EQ(position::DragLabelRect(100, kWidth, 40), (PixelRect{127, 22, kWidth, 40}));
  EXPECT_EQ(position::CopiedRows(kWidth, 40), (PixelRect{0, 2, kWidth, 40}));
}

TEST(PositionGeometry, OffsetOfTimeTruncatesAndStaysOnTrack) {
  EXPECT_EQ(position::OffsetOfTime(0, 60000, kLength), 0);
  EXPECT_EQ(position::OffsetOfTime(30000, 60000, kLength), 257);  // 257.5 truncated
  EXPECT_EQ(position::OffsetOfTime(60000, 60000, kLength), kLength);
  EXPECT_EQ(position::OffsetOfTime(59999, 60000, kLength), 514);
  // A duration of 0 (or a failed read) never divides: everything sits at 0.
  EXPECT_EQ(position::OffsetOfTime(5000, 0, kLength), 0);
  EXPECT_EQ(position::OffsetOfTime(5000, -3, kLength), 0);
  // Positions outside the file stay on the track.
  EXPECT_EQ(position::OffsetOfTime(INT32_MAX, 1, kLength), kLength);
  EXPECT_EQ(position::OffsetOfTime(-1000, 60000, kLength), 0);
  EXPECT_EQ(position::OffsetOfTime(1000, 60000, 0), 0);
}

TEST(PositionGeometry, TimeOfOffsetTruncates) {
  EXPECT_EQ(position::TimeOfOffset(0, 60000, kLength), 0);
  EXPECT_EQ(position::TimeOfOffset(kLength, 60000, kLength), 60000);
  EXPECT_EQ(position::TimeOfOffset(1, 60000, kLength), 116);  // 116.50... truncated
  EXPECT_EQ(position::TimeOfOffset(257, 60000, kLength), 29941);
  EXPECT_EQ(position::TimeOfOffset(kLength, INT32_MAX, kLength), INT32_MAX);
  EXPECT_EQ(position::TimeOfOffset(100, 0, kLength), 0);
  EXPECT_EQ(position::TimeOfOffset(100, 60000, 0), 0);
}

TEST(PositionGeometry, OffsetAndTimeRoundTripWithinOnePixel) {
  for (int32_t p = 0; p <= kLength; ++p) {
    const int32_t t = position::TimeOfOffset(p, 3723500, kLength);
    const int32_t back = position::OffsetOfTime(t, 3723500, kLength);
    EXPECT_LE(p - back, 1) << p;
    EXPECT_GE(p - back, 0) << p;
  }
}

TEST(PositionGeometry, TrackClickOffsetIsClamped) {
  EXPECT_EQ(position::OffsetOfTrackClick(9, kLength), 0);
  EXPECT_EQ(position::OffsetOfTrackClick(15, kLength), 0);
  EXPECT_EQ(position::OffsetOfTrackClick(115, kLength), 100);
  EXPECT_EQ(position::OffsetOfTrackClick(kWidth - 70, kLength), kLength);
  EXPECT_EQ(position::OffsetOfTrackClick(kWidth - 64, kLength), kLength);
  EXPECT_EQ(position::OffsetOfTrackClick(50, 0), 0);
  EXPECT_EQ(position::ClampOffset(-7, kLength), 0);
  EXPECT_EQ(position::ClampOffset(kLength + 7, kLength), kLength);
}

TEST(PositionGeometry, HitRuleWidensByTheSlack) {
  EXPECT_EQ(position::HitArea(10, 20, 30, 40, 2, 3), (PixelRect{8, 17, 33, 44}));
  // Thumb at p: x p+7 .. p+23, y 20 .. 33.
  const PixelRect thumb = position::ThumbHitArea(100);
  EXPECT_EQ(thumb, (PixelRect{107, 20, 124, 34}));
  EXPECT_TRUE(thumb.Contains(107, 20));
  EXPECT_TRUE(thumb.Contains(123, 33));
  EXPECT_FALSE(thumb.Contains(106, 25));
  EXPECT_FALSE(thumb.Contains(124, 25));
  EXPECT_FALSE(thumb.Contains(110, 19));
  EXPECT_FALSE(thumb.Contains(110, 34));
  // Track: x 9 .. W-64, y 12 .. 20.
  const PixelRect track = position::TrackHitArea(kWidth);
  EXPECT_EQ(track, (PixelRect{9, 12, kWidth - 63, 21}));
  EXPECT_TRUE(track.Contains(9, 12));
  EXPECT_TRUE(track.Contains(kWidth - 64, 20));
  EXPECT_FALSE(track.Contains(8, 16));
  EXPECT_FALSE(track.Contains(kWidth - 63, 16));
  EXPECT_FALSE(track.Contains(100, 11));
  EXPECT_FALSE(track.Contains(100, 21));
  // Row 20 lies in both.
  EXPECT_TRUE(position::ThumbHitArea(0).Contains(12, 20));
  EXPECT_TRUE(track.Contains(12, 20));
}

TEST(DisplayGeometry, QuartersAroundTheCentre) {
  const display::Layout layout = display::ComputeLayout(604, 163);
  EXPECT_EQ(layout.noFileText, (PixelRect{8, 8, 596, 155}));
  EXPECT_EQ(layout.position, (PixelRect{100, 40, 302, 81}));
  EXPECT_EQ(layout.length, (PixelRect{100, 81, 302, 123}));     // 163 - 40
  EXPECT_EQ(layout.percentage, (PixelRect{302, 40, 504, 81}));  // 604 - 100
  EXPECT_EQ(layout.state, (PixelRect{302, 81, 504, 123}));
  EXPECT_EQ(layout.playButtonHit, (PixelRect{270, 49, 334, 113}));
  EXPECT_EQ(display::PlayButtonCorner(604, 163, 64, 64), (PixelPoint{270, 49}));
  EXPECT_EQ(display::ShortcutTableCorner(604, 114), (PixelPoint{245, 45}));
  EXPECT_EQ(display::ShortcutTableCorner(605, 114), (PixelPoint{245, 45}));
}

TEST(DisplayGeometry, PercentTruncatesAndNeverFaults) {
  EXPECT_EQ(display::PercentPlayed(0, 60000), 0);
  EXPECT_EQ(display::PercentPlayed(30000, 60000), 50);
  EXPECT_EQ(display::PercentPlayed(59999, 60000), 99);
  EXPECT_EQ(display::PercentPlayed(3723499, 3723500), 99);
  EXPECT_EQ(display::PercentPlayed(60000, 60000), 100);
  EXPECT_EQ(display::PercentPlayed(500, 0), 0);
  EXPECT_EQ(display::PercentPlayed(INT32_MAX, 1), 100);
  EXPECT_EQ(display::PercentPlayed(-5, 100), 0);
}

TEST(DisplayGeometry, StateTexts) {
  EXPECT_EQ(display::StateTextId(0), kTextStopped);
  EXPECT_EQ(display::StateTextId(1), kTextPaused);
  EXPECT_EQ(display::StateTextId(2), kTextPlaying);
  EXPECT_EQ(display::StateTextId(7), kTextPlaying);
  EXPECT_EQ(Text(display::StateTextId(0)), "已停止播放");
}

TEST(VolumeScale, BothWays) {
  EXPECT_EQ(options::SliderPositionFromVolume(0), 100);
  EXPECT_EQ(options::SliderPositionFromVolume(-5000), 10);
  EXPECT_EQ(options::SliderPositionFromVolume(-10000), 1);
  EXPECT_EQ(options::SliderPositionFromVolume(-500), 79);
  EXPECT_EQ(options::VolumeFromSliderPosition(100), 0);
  EXPECT_EQ(options::VolumeFromSliderPosition(10), -5000);
  EXPECT_EQ(options::VolumeFromSliderPosition(1), -10000);
  EXPECT_EQ(options::VolumeFromSliderPosition(79), -511);
  EXPECT_EQ(options::VolumeFromSliderPosition(50), -1505);
  // Out of range on either side stays on the slider.
  EXPECT_EQ(options::SliderPositionFromVolume(INT32_MIN), 1);
  EXPECT_EQ(options::SliderPositionFromVolume(3000), 100);
  EXPECT_EQ(options::VolumeFromSliderPosition(0), -10000);
  EXPECT_EQ(options::VolumeFromSliderPosition(500), 0);
}

TEST(VolumeScale, EverySliderPositionSurvivesARoundTrip) {
  for (int32_t position = 1; position <= 100; ++position) {
    const int32_t volume = options::VolumeFromSliderPosition(position);
    EXPECT_GE(volume, -10000);
    EXPECT_LE(volume, 0);
    // Truncation can lose at most one step.
    const int32_t back = options::SliderPositionFromVolume(volume);
    EXPECT_TRUE(back == position || back == position - 1) << position << " -> " << back;
  }
}

TEST(JumpSizeRule, Cases) {
  EXPECT_EQ(options::ParseJumpSize("0"), 3);
  EXPECT_EQ(options::ParseJumpSize(""), 3);
  EXPECT_EQ(options::ParseJumpSize("abc"), 3);
  EXPECT_EQ(options::ParseJumpSize("5x"), 3);
  EXPECT_EQ(options::ParseJumpSize("-4"), 3);
  EXPECT_EQ(options::ParseJumpSize("１"), 3);  // a full-width digit is not a number
  EXPECT_EQ(options::ParseJumpSize("1"), 1);
  EXPECT_EQ(options::ParseJumpSize("5"), 5);
  EXPECT_EQ(options::ParseJumpSize(" 7 "), 7);
  EXPECT_EQ(options::ParseJumpSize("007"), 7);
  EXPECT_EQ(options::ParseJumpSize("9"), 9);
  EXPECT_EQ(options::ParseJumpSize("12"), 9);
  EXPECT_EQ(options::ParseJumpSize("2147483647"), 9);
  // Read as negative once taken as signed.
  EXPECT_EQ(options::ParseJumpSize("2147483648"), 1);
  EXPECT_EQ(options::ParseJumpSize("4294967295"), 1);
  // Beyond 32 bits the number does not convert at all.
  EXPECT_EQ(options::ParseJumpSize("4294967296"), 3);
  EXPECT_EQ(options::ParseJumpSize("99999999999999999999999"), 3);
  EXPECT_EQ(options::ReadUnsignedField("4294967295"), 4294967295u);
}

TEST(OptionsLayout, SeparatorsAndWebPanel) {
  const options::Layout layout = options::ComputeLayout(604, 98);
  EXPECT_EQ(layout.topLine, (PixelRect{0, 0, 605, 2}));
  EXPECT_EQ(layout.bottomLine, (PixelRect{0, 96, 605, 98}));
  EXPECT_EQ(layout.volumeLine, (PixelRect{130, 0, 132, 98}));
  EXPECT_EQ(layout.jumpLine, (PixelRect{235, 0, 237, 98}));
  EXPECT_EQ(layout.webPanel, (PixelRect{240, 5, 601, 93}));  // 361 x 88
  const options::Layout tiny = options::ComputeLayout(100, 6);
  EXPECT_EQ(tiny.webPanel.Width(), 0);
  EXPECT_EQ(tiny.webPanel.Height(), 0);
}

}  // namespace
}  // namespace orvex
