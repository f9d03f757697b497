#pragma once
// Geometry and texts of the display panel for a panel of W x H pixels. Every
// division truncates toward zero, each term on its own.

#include <cstdint>

#include "core/transport_view.h"
#include "views/pixel_rect.h"

namespace orvex::display {

inline constexpr int32_t kPlayButtonSize = 64;
inline constexpr int32_t kShortcutTableTop = 45;

struct Layout {
  PixelRect noFileText;     // the client rectangle shrunk by 8 on every side
  PixelRect position;       // (W/6, H/4, W/2, H/2)
  PixelRect length;         // (W/6, H/2, W/2, H - H/4)
  PixelRect percentage;     // (W/2, H/4, W - W/6, H/2)
  PixelRect state;          // (W/2, H/2, W - W/6, H - H/4)
  PixelRect playButtonHit;  // the central 64 x 64 square
};

Layout ComputeLayout(int32_t width, int32_t height);

// Where a picture of the given size sits: the shortcut table centred at y 45,
// the play button centred on the panel.
PixelPoint ShortcutTableCorner(int32_t width, int32_t pictureWidth);
PixelPoint PlayButtonCorner(int32_t width, int32_t height, int32_t pictureWidth,
                            int32_t pictureHeight);

// position / duration * 100, truncated (99.9 % reads 99); 0 for a duration of 0
// or less, and never outside 0..100.
int32_t PercentPlayed(int32_t positionMs, int32_t durationMs);

// The text id of a transport state: 121 stopped, 120 paused, 119 otherwise.
int StateTextId(int32_t playState);

// What the panel draws of the transport's view: the time display moves once
// a second, the percentage once a per cent. A view that gives the same value
// needs no redraw.
struct Shown {
  bool loaded = false;
  PlayState playState = Stopped;
  int32_t positionSeconds = 0;
  int32_t lengthSeconds = 0;
  int32_t percent = 0;
  bool operator==(const Shown&) const = default;
};
Shown ShownOf(const TransportView& view);

}  // namespace orvex::display
