#pragma once
// Geometry of the position bar: where the track, its played part, the thumb,
// the A and B flags and the drag label lie for a bar of W x H pixels, and the
// hit areas of the thumb and the track. An offset p runs along the track from
// 0 to the track length L.

#include <cstdint>

#include "core/transport_view.h"
#include "views/pixel_rect.h"

namespace orvex::position {

inline constexpr int32_t kTrackLeft = 15;      // x of the track's first column
inline constexpr int32_t kTrackTop = 14;       // first row of the track
inline constexpr int32_t kTrackBottom = 18;    // last row of the track
inline constexpr int32_t kTrackRightGap = 70;  // the last column is W - 70
inline constexpr int32_t kFlagTop = 4;
inline constexpr int32_t kThumbTop = 19;
inline constexpr int32_t kCopyTop = 2;  // rows above it belong to the separator line

// L = W - 85, never below 0 (a bar narrower than 85 pixels has no track to move on).
int32_t TrackLength(int32_t width);

// The offset of a time on the track: ms / duration * L, truncated, kept within 0..L.
// A duration of 0 or less puts every time at 0.
int32_t OffsetOfTime(int32_t ms, int32_t durationMs, int32_t trackLength);

// The time of an offset: duration * (offset / L), truncated; 0 when L or the duration is 0.
int32_t TimeOfOffset(int32_t offset, int32_t durationMs, int32_t trackLength);

// The offset raised to 0 and lowered to L.
int32_t ClampOffset(int32_t offset, int32_t trackLength);

// The offset a click at x on the track stands for: x - 15 kept within 0..L.
int32_t OffsetOfTrackClick(int32_t x, int32_t trackLength);

// The hit rule: the rectangle of edge pixels (left, top, right, bottom) widened
// by dx on both sides and dy above and below.
PixelRect HitArea(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t dx, int32_t dy);

// The whole track, outline included: x 15 to W - 70, y 14 to 18.
PixelRect TrackRect(int32_t width);
// The played part: x 15 to p + 15.
PixelRect PlayedRect(int32_t offset);
// The rest of the track: x p + 16 to W - 70 (empty once p reaches L).
PixelRect RestRect(int32_t offset, int32_t width);

PixelPoint ThumbCorner(int32_t offset);  // (p + 9, 19); the apex falls on x = p + 15
PixelPoint AFlagCorner(int32_t offset);  // (pA + 10, 4); the stem falls on x = pA + 15
PixelPoint BFlagCorner(int32_t offset);  // (pB + 15, 4); the stem falls on x = pB + 15
PixelRect DragLabelRect(int32_t offset, int32_t width, int32_t height);

PixelRect ThumbHitArea(int32_t offset);
PixelRect TrackHitArea(int32_t width);

// The rows of the off-screen surface copied onto the bar: 2 to H - 1.
PixelRect CopiedRows(int32_t width, int32_t height);

// What the bar draws of the transport's view on a bar `width` pixels wide:
// a view that gives the same value needs no redraw.
struct Shown {
  bool loaded = false;
  bool active = false;
  int32_t thumb = 0;                // the thumb's offset
  int32_t a = -1;                   // the A flag's offset; -1 when it is not drawn
  int32_t b = -1;                   // the B flag's offset; -1 when it is not drawn
  int32_t lengthMs = 0;             // for the drag label's time
  const void* sentences = nullptr;  // the sentence ticks drawn, by their list
  bool operator==(const Shown&) const = default;
};
Shown ShownOf(const TransportView& view, int32_t width);

// The tick under the track that marks a sentence starting at offset: one
// pixel wide, in the rows between the track and the thumb's widest part.
PixelRect SentenceTickRect(int32_t offset);

}  // namespace orvex::position
