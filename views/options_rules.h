#pragma once
// Rules of the options panel and the jump-size dialog: the volume slider's
// logarithmic scale, the jump-size parse rule and the layout in pixels of the
// separators and the web page panel (the controls are placed in dialog units,
// views/dialog_units.h).

#include <cstdint>
#include <string_view>

#include "core/jump_size.h"
#include "views/pixel_rect.h"

namespace orvex::options {

inline constexpr int32_t kSliderMin = 1;
inline constexpr int32_t kSliderMax = 100;

// 10 ^ (volume / 5000 + 2), truncated: 0 -> 100, -5000 -> 10, -10000 -> 1, -500 -> 79.
// Kept within 1..100.
int32_t SliderPositionFromVolume(int32_t volume);

// (log10(position) - 2) * 5000, truncated: 100 -> 0, 10 -> -5000, 79 -> -511.
// Positions outside 1..100 count as the nearest end.
int32_t VolumeFromSliderPosition(int32_t position);

// The jump-size field's text as the dialog reads it: an unsigned decimal number
// (spaces around it allowed); anything else, or a number above 4294967295, is 0.
uint32_t ReadUnsignedField(std::string_view text);

// The jump size the dialog stores for a field's text: 0, empty or not a number
// gives 3; the number taken as a signed 32-bit value is then kept within 1..9
// (so 2147483648 to 4294967295, negative as signed, give 1).
int32_t ParseJumpSize(std::string_view text);

// The options panel's layout for a panel of W x H pixels.
struct Layout {
  PixelRect topLine;     // separator 1001: (0, 0), (W + 1) x 2
  PixelRect bottomLine;  // separator 1002: (0, H - 2), (W + 1) x 2
  PixelRect volumeLine;  // separator 1005: (130, 0), 2 x H
  PixelRect jumpLine;    // separator 1006: (235, 0), 2 x H
  PixelRect webPanel;    // (240, 5), (W - 243) x (H - 10), never negative
};
Layout ComputeLayout(int32_t width, int32_t height);

}  // namespace orvex::options
