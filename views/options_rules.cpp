#include "views/options_rules.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace orvex::options {

int32_t SliderPositionFromVolume(int32_t volume) {
  const double position = std::pow(10.0, volume / 5000.0 + 2);
  if (!(position >= kSliderMin)) return kSliderMin;
  if (position >= kSliderMax) return kSliderMax;
  return static_cast<int32_t>(position);
}

int32_t VolumeFromSliderPosition(int32_t position) {
  position = std::clamp(position, kSliderMin, kSliderMax);
  return static_cast<int32_t>((std::log10(static_cast<double>(position)) - 2) * 5000);
}

uint32_t ReadUnsignedField(std::string_view text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && isSpace(text[begin])) ++begin;
  while (end > begin && isSpace(text[end - 1])) --end;
  if (begin == end) return 0;
  uint64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isdigit(c)) return 0;
    value = value * 10 + (c - '0');
    if (value > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(value);
}

int32_t ParseJumpSize(std::string_view text) {
  const int32_t v = static_cast<int32_t>(ReadUnsignedField(text));
  if (v == 0) return kDefaultJumpSeconds;
  return ClampJumpSeconds(v);
}

Layout ComputeLayout(int32_t w, int32_t h) {
  Layout layout;
  layout.topLine = PixelRect{0, 0, w + 1, 2};
  layout.bottomLine = PixelRect{0, h - 2, w + 1, h};
  layout.volumeLine = PixelRect{130, 0, 132, h};
  layout.jumpLine = PixelRect{235, 0, 237, h};
  layout.webPanel = PixelRect{240, 5, 240 + std::max(0, w - 243), 5 + std::max(0, h - 10)};
  return layout;
}

}  // namespace orvex::options
