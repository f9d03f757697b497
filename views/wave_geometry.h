#pragma once
// Geometry of the wave strip: which stretch of the file it shows (the zoom
// and how it follows the playhead), pixel <-> time, snapping to a sentence's
// edge, the sentence lane's boxes, the loop's edges under the pointer and the
// peaks of each pixel column. Standard C++ only.

#include <cstdint>
#include <vector>

#include "core/peaks.h"
#include "core/sentence.h"

namespace orvex::wave {

// The zoom steps, the width of the strip in time; past the last one the strip
// shows the whole file.
inline constexpr int32_t kZoomStepsMs[] = {2000,  3000,  5000,   10000,  20000,
                                           30000, 60000, 120000, 300000, 600000};
inline constexpr int32_t kDefaultSpanMs = 10000;
// A drag's end within this many pixels of a sentence's edge lands on it.
inline constexpr int32_t kSnapPx = 8;
// The loop's edge is taken by a press this close to it.
inline constexpr int32_t kEdgeGrabPx = 4;
// A press that moves less than this is a click.
inline constexpr int32_t kDragStartPx = 3;

// The span one step closer (steps < 0) or wider (steps > 0) than spanMs,
// within 2 s and the whole file (lengthMs). A span that is no step (the whole
// file) counts as the widest step below it plus one.
int32_t ZoomedSpan(int32_t spanMs, int32_t steps, int32_t lengthMs);

// The stretch the strip shows on a strip `width` pixels wide (logical or
// device pixels, as long as x is in the same unit).
struct Window {
  int32_t startMs = 0;
  int32_t spanMs = kDefaultSpanMs;  // > 0
  double width = 1;                 // > 0

  double MsPerPixel() const { return spanMs / width; }
  // The left edge of the pixel column at ms's time (fractional).
  double XOf(int32_t ms) const { return (ms - startMs) * width / spanMs; }
  // The time at x, rounded to the millisecond.
  int32_t MsAt(double x) const;
};

// Where the strip starts to show positionMs in spanMs of a file of lengthMs,
// given where it starts now: it keeps still while the playhead lies in its
// first nine tenths and otherwise moves on so that the playhead stands a
// tenth in. The whole file when it fits.
int32_t FollowStart(int32_t startMs, int32_t positionMs, int32_t spanMs, int32_t lengthMs);
// The same for a new span: the playhead keeps its place in the middle.
int32_t CentredStart(int32_t positionMs, int32_t spanMs, int32_t lengthMs);

// ms moved onto the nearest sentence edge (a start or an end) within kSnapPx
// pixels of the window; ms itself when none is that close.
int32_t Snap(int32_t ms, const std::vector<Sentence>& sentences, const Window& window);

// A sentence's box in the lane, in whole pixels clipped to the strip.
struct LaneBox {
  int32_t index = 0;
  int32_t left = 0;   // first column inside
  int32_t right = 0;  // first column after it
  friend bool operator==(const LaneBox&, const LaneBox&) = default;
};
// The boxes of the sentences that show in the window, in order; each at
// least one pixel wide, and apart from the next by at least a pixel.
std::vector<LaneBox> LaneBoxes(const std::vector<Sentence>& sentences, const Window& window);
// The sentence whose box holds column x; -1 when none.
int32_t SentenceAt(double x, const std::vector<Sentence>& sentences, const Window& window);

enum class Edge { kNone, kA, kB };
// The loop's edge a press at x takes: within kEdgeGrabPx of A or B (the
// nearer one); none without a loop.
Edge EdgeAt(double x, int32_t aMs, int32_t bMs, const Window& window);

// The lowest and highest peak of the blocks under column c of `columns`
// spread over the window; known is false where no block has been measured
// (before the file, after its end, or beyond what the analysis reached).
struct Column {
  bool known = false;
  int8_t low = 0;
  int8_t high = 0;
};
Column ColumnPeaks(const PeakList& peaks, const Window& window, int32_t c, int32_t columns);

}  // namespace orvex::wave
