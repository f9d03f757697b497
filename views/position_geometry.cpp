#include "views/position_geometry.h"

#include <algorithm>
#include <cmath>

namespace orvex::position {
namespace {

// A double truncated toward zero into 0..limit; NaN reads as 0.
int32_t TruncateInto(double value, int32_t limit) {
  if (!(value > 0)) return 0;
  if (value >= limit) return limit;
  return static_cast<int32_t>(value);
}

}  // namespace

int32_t TrackLength(int32_t width) {
  return std::max(0, width - 85);
}

int32_t OffsetOfTime(int32_t ms, int32_t durationMs, int32_t trackLength) {
  if (durationMs <= 0 || trackLength <= 0) return 0;
  return TruncateInto(static_cast<double>(ms) / durationMs * trackLength, trackLength);
}

int32_t TimeOfOffset(int32_t offset, int32_t durationMs, int32_t trackLength) {
  if (durationMs <= 0 || trackLength <= 0) return 0;
  const double t = durationMs * (static_cast<double>(offset) / trackLength);
  return TruncateInto(t, durationMs);
}

int32_t ClampOffset(int32_t offset, int32_t trackLength) {
  return std::clamp(offset, 0, std::max(0, trackLength));
}

int32_t OffsetOfTrackClick(int32_t x, int32_t trackLength) {
  return ClampOffset(x - kTrackLeft, trackLength);
}

PixelRect HitArea(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t dx,
                  int32_t dy) {
  return PixelRect{left - dx, top - dy, right + dx + 1, bottom + dy + 1};
}

PixelRect TrackRect(int32_t width) {
  return FromEdges(kTrackLeft, kTrackTop, width - kTrackRightGap, kTrackBottom);
}

PixelRect PlayedRect(int32_t offset) {
  return FromEdges(kTrackLeft, kTrackTop, offset + kTrackLeft, kTrackBottom);
}

PixelRect RestRect(int32_t offset, int32_t width) {
  PixelRect rest =
      FromEdges(offset + kTrackLeft + 1, kTrackTop, width - kTrackRightGap, kTrackBottom);
  rest.right = std::max(rest.right, rest.left);
  return rest;
}

PixelPoint ThumbCorner(int32_t offset) {
  return {offset + 9, kThumbTop};
}
PixelPoint AFlagCorner(int32_t offset) {
  return {offset + 10, kFlagTop};
}
PixelPoint BFlagCorner(int32_t offset) {
  return {offset + 15, kFlagTop};
}

PixelRect DragLabelRect(int32_t offset, int32_t width, int32_t height) {
  return PixelRect{offset + 27, 22, width, height};
}

PixelRect ThumbHitArea(int32_t offset) {
  return HitArea(offset + 9, 22, offset + 21, 31, 2, 2);
}

PixelRect TrackHitArea(int32_t width) {
  return HitArea(kTrackLeft, kTrackTop, width - kTrackRightGap, kTrackBottom, 6, 2);
}

PixelRect CopiedRows(int32_t width, int32_t height) {
  return PixelRect{0, kCopyTop, width, std::max(kCopyTop, height)};
}

Shown ShownOf(const TransportView& view, int32_t width) {
  Shown shown;
  if (!view.loaded) return shown;
  const int32_t length = TrackLength(width);
  shown.loaded = true;
  shown.active = view.Active();
  shown.lengthMs = view.lengthMs;
  shown.thumb = OffsetOfTime(view.positionMs, view.lengthMs, length);
  shown.sentences = view.sentences.get();
  if (shown.active && view.pointA != -1) shown.a = OffsetOfTime(view.pointA, view.lengthMs, length);
  if (shown.active && view.pointB != -1) shown.b = OffsetOfTime(view.pointB, view.lengthMs, length);
  return shown;
}

PixelRect SentenceTickRect(int32_t offset) {
  return PixelRect{kTrackLeft + offset, kTrackBottom + 1, kTrackLeft + offset + 1,
                   kTrackBottom + 4};
}

}  // namespace orvex::position
