#pragma once

#include <cstdint>

namespace orvex {

// A rectangle in a widget's pixels: left and top inside, right and bottom just
// outside (so the width is right - left).
struct PixelRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool Contains(int32_t x, int32_t y) const {
    return left <= x && x < right && top <= y && y < bottom;
  }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct PixelPoint {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// A rectangle given by its edge pixels, all four inside.
inline PixelRect FromEdges(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return PixelRect{left, top, right + 1, bottom + 1};
}

}  // namespace orvex
