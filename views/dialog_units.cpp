#include "views/dialog_units.h"

#include <limits>

namespace orvex {

DialogBase DialogBaseFromFont(int64_t lettersWidth, int32_t height) {
  const int64_t x = (lettersWidth / 26 + 1) / 2;
  if (x < 1 || height < 1 || x > std::numeric_limits<int32_t>::max()) return kTemplateBase;
  return DialogBase{static_cast<int32_t>(x), height};
}

int32_t HalfWidthBaseX(int32_t pixelSize) {
  if (pixelSize < 1) return 0;
  return static_cast<int32_t>((int64_t{pixelSize} + 1) / 2);
}

int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return -1;
  int64_t product = int64_t{number} * numerator;
  int64_t divisor = denominator;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  const int64_t half = divisor / 2;
  const int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
  if (result < std::numeric_limits<int32_t>::min() || result > std::numeric_limits<int32_t>::max())
    return -1;
  return static_cast<int32_t>(result);
}

int32_t DialogXToPixels(int32_t units, DialogBase base) {
  return MulDiv(units, base.x, 4);
}

int32_t DialogYToPixels(int32_t units, DialogBase base) {
  return MulDiv(units, base.y, 8);
}

PixelRect DialogRectToPixels(int32_t x, int32_t y, int32_t width, int32_t height, DialogBase base) {
  const int32_t left = DialogXToPixels(x, base);
  const int32_t top = DialogYToPixels(y, base);
  return PixelRect{left, top, left + DialogXToPixels(width, base),
                   top + DialogYToPixels(height, base)};
}

}  // namespace orvex
