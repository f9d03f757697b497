#include "views/wave_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace orvex::wave {

int32_t ZoomedSpan(int32_t spanMs, int32_t steps, int32_t lengthMs) {
  const int32_t whole = std::max(lengthMs, kZoomStepsMs[0]);
  // The steps narrower than the file, then the whole file.
  std::vector<int32_t> spans;
  for (const int32_t step : kZoomStepsMs) {
    if (step < whole) spans.push_back(step);
  }
  spans.push_back(whole);
  const int32_t span = std::min(spanMs, whole);
  const auto at = std::lower_bound(spans.begin(), spans.end(), span);
  auto here = static_cast<int32_t>(std::distance(spans.begin(), at));
  // A span between two steps lies half a step below the wider one.
  if (steps > 0 && *at != span) --here;
  const int32_t last = static_cast<int32_t>(spans.size()) - 1;
  return spans[static_cast<size_t>(std::clamp(here + steps, 0, last))];
}

int32_t Window::MsAt(double x) const {
  return startMs + static_cast<int32_t>(std::lround(x * spanMs / width));
}

int32_t CentredStart(int32_t positionMs, int32_t spanMs, int32_t lengthMs) {
  if (spanMs >= lengthMs) return 0;
  return std::clamp(positionMs - spanMs / 2, 0, lengthMs - spanMs);
}

int32_t FollowStart(int32_t startMs, int32_t positionMs, int32_t spanMs, int32_t lengthMs) {
  if (spanMs >= lengthMs) return 0;
  const int32_t latest = lengthMs - spanMs;
  startMs = std::clamp(startMs, 0, latest);
  if (positionMs >= startMs && positionMs < startMs + spanMs / 10 * 9) return startMs;
  return std::clamp(positionMs - spanMs / 10, 0, latest);
}

int32_t Snap(int32_t ms, const std::vector<Sentence>& sentences, const Window& window) {
  const double reach = kSnapPx * window.MsPerPixel();
  int32_t best = ms;
  double bestDistance = reach + 1;
  for (const Sentence& s : sentences) {
    for (const int32_t edge : {s.startMs, s.endMs}) {
      const double distance = std::abs(edge - ms);
      if (distance <= reach && distance < bestDistance) {
        best = edge;
        bestDistance = distance;
      }
    }
  }
  return best;
}

std::vector<LaneBox> LaneBoxes(const std::vector<Sentence>& sentences, const Window& window) {
  std::vector<LaneBox> boxes;
  const auto width = static_cast<int32_t>(std::ceil(window.width));
  for (size_t k = 0; k < sentences.size(); ++k) {
    const Sentence& s = sentences[k];
    if (s.endMs <= window.startMs || s.startMs >= window.startMs + window.spanMs) continue;
    auto left = static_cast<int32_t>(std::floor(window.XOf(s.startMs)));
    auto right = static_cast<int32_t>(std::floor(window.XOf(s.endMs)));
    left = std::clamp(left, 0, width);
    right = std::clamp(right, 0, width);
    // Neighbours that touch keep a pixel between them.
    if (!boxes.empty() && left <= boxes.back().right) left = boxes.back().right + 1;
    if (right <= left) right = left + 1;
    if (left >= width) continue;
    boxes.push_back({static_cast<int32_t>(k), left, std::min(right, width)});
  }
  return boxes;
}

int32_t SentenceAt(double x, const std::vector<Sentence>& sentences, const Window& window) {
  const auto column = static_cast<int32_t>(std::floor(x));
  for (const LaneBox& box : LaneBoxes(sentences, window)) {
    if (column >= box.left && column < box.right) return box.index;
  }
  return -1;
}

Edge EdgeAt(double x, int32_t aMs, int32_t bMs, const Window& window) {
  if (aMs < 0 || bMs < 0) return Edge::kNone;
  const double toA = std::abs(x - window.XOf(aMs));
  const double toB = std::abs(x - window.XOf(bMs));
  if (std::min(toA, toB) > kEdgeGrabPx) return Edge::kNone;
  return toA <= toB ? Edge::kA : Edge::kB;
}

Column ColumnPeaks(const PeakList& peaks, const Window& window, int32_t c, int32_t columns) {
  Column out;
  if (columns <= 0 || c < 0 || c >= columns) return out;
  // The column's stretch in blocks: [first, end), at least one block.
  const double msPerColumn = static_cast<double>(window.spanMs) / columns;
  const double fromMs = window.startMs + c * msPerColumn;
  const auto first = static_cast<int64_t>(std::floor(fromMs / kPeakBlockMs));
  auto end = static_cast<int64_t>(std::floor((fromMs + msPerColumn) / kPeakBlockMs));
  end = std::max(end, first + 1);
  const auto size = static_cast<int64_t>(peaks.size());
  if (first < 0 || first >= size) return out;
  end = std::min(end, size);
  out.known = true;
  out.low = peaks[static_cast<size_t>(first)].low;
  out.high = peaks[static_cast<size_t>(first)].high;
  for (int64_t i = first + 1; i < end; ++i) {
    out.low = std::min(out.low, peaks[static_cast<size_t>(i)].low);
    out.high = std::max(out.high, peaks[static_cast<size_t>(i)].high);
  }
  return out;
}

}  // namespace orvex::wave
