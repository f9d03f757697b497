#include "views/display_geometry.h"

#include "core/texts.h"

namespace orvex::display {

Layout ComputeLayout(int32_t w, int32_t h) {
  Layout layout;
  layout.noFileText = PixelRect{8, 8, w - 8, h - 8};
  layout.position = PixelRect{w / 6, h / 4, w / 2, h / 2};
  layout.length = PixelRect{w / 6, h / 2, w / 2, h - h / 4};
  layout.percentage = PixelRect{w / 2, h / 4, w - w / 6, h / 2};
  layout.state = PixelRect{w / 2, h / 2, w - w / 6, h - h / 4};
  const int32_t half = kPlayButtonSize / 2;
  layout.playButtonHit = PixelRect{w / 2 - half, h / 2 - half, w / 2 + half, h / 2 + half};
  return layout;
}

PixelPoint ShortcutTableCorner(int32_t width, int32_t pictureWidth) {
  return {width / 2 - pictureWidth / 2, kShortcutTableTop};
}

PixelPoint PlayButtonCorner(int32_t width, int32_t height, int32_t pictureWidth,
                            int32_t pictureHeight) {
  return {width / 2 - pictureWidth / 2, height / 2 - pictureHeight / 2};
}

int32_t PercentPlayed(int32_t positionMs, int32_t durationMs) {
  if (durationMs <= 0) return 0;
  const double percent = static_cast<double>(positionMs) / durationMs * 100.0;
  if (!(percent > 0)) return 0;
  if (percent >= 100) return 100;
  return static_cast<int32_t>(percent);
}

int StateTextId(int32_t playState) {
  switch (playState) {
    case 0:
      return kTextStopped;
    case 1:
      return kTextPaused;
    default:
      return kTextPlaying;
  }
}

Shown ShownOf(const TransportView& view) {
  Shown shown;
  if (!view.loaded) return shown;
  shown.loaded = true;
  shown.playState = view.playState;
  // FormatTime shows whole seconds, and nothing below 0.
  shown.positionSeconds = view.positionMs < 0 ? 0 : view.positionMs / 1000;
  shown.lengthSeconds = view.lengthMs < 0 ? 0 : view.lengthMs / 1000;
  shown.percent = PercentPlayed(view.positionMs, view.lengthMs);
  return shown;
}

}  // namespace orvex::display
