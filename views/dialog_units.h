#pragma once
// Dialog units: the positions and sizes of the dialog templates, converted to
// pixels from base units taken from the dialog font, the way the templates
// were laid out. The font is measured by the Qt side (app/dialog_font.h); the
// arithmetic is here.

#include <cstdint>
#include <string_view>

#include "views/pixel_rect.h"

namespace orvex {

// The letters whose average width gives the horizontal base unit.
inline constexpr std::string_view kDialogBaseLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Base units in pixels: x is four horizontal dialog units, y eight vertical ones.
struct DialogBase {
  int32_t x = 6;
  int32_t y = 12;
  friend bool operator==(const DialogBase&, const DialogBase&) = default;
};

// The base units the templates were laid out with: 宋体 9 points at 96 dots per
// inch, a 12-pixel font whose Latin letters are 6 pixels wide.
inline constexpr DialogBase kTemplateBase{6, 12};

// The base units of a font from the width of kDialogBaseLetters drawn in it and
// its height: x = (lettersWidth / 26 + 1) / 2, the letters' average rounded,
// and y = height. A width or height that gives a base below 1 (no font to
// measure) gives kTemplateBase.
DialogBase DialogBaseFromFont(int64_t lettersWidth, int32_t height);

// The horizontal base of a font pixelSize pixels high whose Latin letters are
// half as wide, as 宋体's are: (pixelSize + 1) / 2 for a positive size, else 0.
int32_t HalfWidthBaseX(int32_t pixelSize);

// number * numerator / denominator through 64 bits, rounded to the nearest
// integer with halves away from zero; -1 when the denominator is 0 or the
// result does not fit 32 bits.
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator);

// Horizontal and vertical dialog units to pixels: x * base.x / 4 and
// y * base.y / 8, each rounded by MulDiv.
int32_t DialogXToPixels(int32_t units, DialogBase base);
int32_t DialogYToPixels(int32_t units, DialogBase base);

// A template rectangle (x, y, width, height in dialog units) in pixels. The
// position and the size convert separately, as a dialog's controls are
// created, so a control's size in pixels does not depend on where it lies.
PixelRect DialogRectToPixels(int32_t x, int32_t y, int32_t width, int32_t height, DialogBase base);

}  // namespace orvex
