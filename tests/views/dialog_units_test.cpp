// Dialog units to pixels, without Qt.
#include "views/dialog_units.h"

#include <gtest/gtest.h>

#include <climits>

namespace orvex {
namespace {

TEST(DialogBase, FromTheLettersAndTheHeight) {
  // 52 letters of 6 pixels in a 12-pixel font: the base the templates assume.
  EXPECT_EQ(DialogBaseFromFont(52 * 6, 12), (DialogBase{6, 12}));
  EXPECT_EQ(kTemplateBase, (DialogBase{6, 12}));
  // (width / 26 + 1) / 2: the average letter, rounded half up.
  EXPECT_EQ(DialogBaseFromFont(337, 13), (DialogBase{6, 13}));  // 6.48 per letter
  EXPECT_EQ(DialogBaseFromFont(338, 13), (DialogBase{7, 13}));  // 6.5
  EXPECT_EQ(DialogBaseFromFont(385, 14), (DialogBase{7, 14}));  // a wide Latin face at 12 pixels
  EXPECT_EQ(DialogBaseFromFont(26, 1), (DialogBase{1, 1}));
}

TEST(DialogBase, NothingToMeasureGivesTheTemplateBase) {
  EXPECT_EQ(DialogBaseFromFont(0, 12), kTemplateBase);
  EXPECT_EQ(DialogBaseFromFont(25, 12), kTemplateBase);  // letters narrower than a pixel
  EXPECT_EQ(DialogBaseFromFont(-312, 12), kTemplateBase);
  EXPECT_EQ(DialogBaseFromFont(312, 0), kTemplateBase);
  EXPECT_EQ(DialogBaseFromFont(312, -12), kTemplateBase);
  EXPECT_EQ(DialogBaseFromFont(INT64_MAX, 12), kTemplateBase);
}

TEST(DialogBase, HalfWidthLetters) {
  EXPECT_EQ(HalfWidthBaseX(12), 6);
  EXPECT_EQ(HalfWidthBaseX(11), 6);
  EXPECT_EQ(HalfWidthBaseX(15), 8);
  EXPECT_EQ(HalfWidthBaseX(1), 1);
  EXPECT_EQ(HalfWidthBaseX(0), 0);
  EXPECT_EQ(HalfWidthBaseX(-12), 0);
  // The same as measuring 52 letters of half the size, for even sizes.
  for (int32_t size = 2; size <= 40; size += 2)
    EXPECT_EQ(HalfWidthBaseX(size), DialogBaseFromFont(52 * (size / 2), size).x) << size;
}

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(100, 6, 4), 150);
  EXPECT_EQ(MulDiv(25, 6, 4), 38);   // 37.5
  EXPECT_EQ(MulDiv(149, 1, 4), 37);  // 37.25
  EXPECT_EQ(MulDiv(151, 1, 4), 38);  // 37.75
  EXPECT_EQ(MulDiv(-25, 6, 4), -38);
  EXPECT_EQ(MulDiv(25, 6, -4), -38);
  EXPECT_EQ(MulDiv(-25, -6, -4), -38);
  EXPECT_EQ(MulDiv(2, 1, 3), 1);  // 0.67
  EXPECT_EQ(MulDiv(1, 1, 3), 0);  // 0.33
  // Through 64 bits: the product may pass 32 bits as long as the result fits.
  EXPECT_EQ(MulDiv(INT32_MAX, 4, 8), 1073741824);
  EXPECT_EQ(MulDiv(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);
}

TEST(DialogUnits, MulDivFailsAsMinusOne) {
  EXPECT_EQ(MulDiv(10, 6, 0), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT32_MIN, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT32_MIN, -1, 1), -1);
}

TEST(DialogUnits, QuartersAndEighthsOfTheBase) {
  const DialogBase base{6, 12};
  EXPECT_EQ(DialogXToPixels(4, base), 6);
  EXPECT_EQ(DialogYToPixels(8, base), 12);
  EXPECT_EQ(DialogXToPixels(45, base), 68);               // 67.5
  EXPECT_EQ(DialogYToPixels(65, base), 98);               // 97.5
  EXPECT_EQ(DialogYToPixels(22, DialogBase{6, 13}), 36);  // 35.75
  EXPECT_EQ(DialogYToPixels(22, DialogBase{6, 11}), 30);  // 30.25
}

TEST(DialogUnits, RectanglesConvertPositionAndSizeApart) {
  const DialogBase base{6, 12};
  EXPECT_EQ(DialogRectToPixels(8, 22, 70, 12, base), (PixelRect{12, 33, 117, 51}));
  // 1.5 and 1.5 pixels: both round up, so the control is 2 wide, not 1.
  EXPECT_EQ(DialogRectToPixels(1, 1, 1, 1, DialogBase{6, 4}), (PixelRect{2, 1, 4, 2}));
  // A control's size in pixels does not depend on where it lies.
  for (int32_t x = 0; x < 8; ++x) {
    EXPECT_EQ(DialogRectToPixels(x, x, 45, 15, base).Width(), 68) << x;
    EXPECT_EQ(DialogRectToPixels(x, x, 45, 15, base).Height(), 23) << x;
  }
}

TEST(DialogUnits, TheJumpSectionLiesBetweenTheSeparatorsWithTheTemplateBase) {
  // The options panel's separators stand at x 130 and 235 (2 pixels wide each);
  // the jump section's controls, 100 to 145 dialog units across, lie between.
  const PixelRect label = DialogRectToPixels(100, 8, 45, 8, kTemplateBase);
  const PixelRect unit = DialogRectToPixels(125, 22, 15, 8, kTemplateBase);
  const PixelRect button = DialogRectToPixels(100, 40, 40, 12, kTemplateBase);
  EXPECT_EQ(label, (PixelRect{150, 12, 218, 24}));
  EXPECT_EQ(unit, (PixelRect{188, 33, 211, 45}));
  EXPECT_EQ(button, (PixelRect{150, 60, 210, 78}));
  // The volume section's slider ends before the first separator.
  EXPECT_EQ(DialogRectToPixels(8, 22, 70, 12, kTemplateBase).right, 117);
}

}  // namespace
}  // namespace orvex
