#pragma once
// The rules of the learning aids: the speed steps, the repeat counts and
// gaps, and how far A and B may be nudged. Plain C++, shared by the
// application, its settings and the menus.

#include <cstdint>
#include <optional>

#include "core/audio.h"

namespace orvex {

inline constexpr int32_t kRateStep = 5;  // hundredths: 0.05x

// The repeat counts the menu offers; 0 is without limit.
inline constexpr int32_t kRepeatCounts[] = {0, 1, 2, 3, 5, 10};

// The silence between the passes of a loop.
enum class RepeatGap : int32_t { kNone = 0, kOne = 1, kTwo = 2, kThree = 3, kAsLong = 4 };
inline constexpr RepeatGap kRepeatGaps[] = {RepeatGap::kNone, RepeatGap::kOne, RepeatGap::kTwo,
                                            RepeatGap::kThree, RepeatGap::kAsLong};

// How far one nudge moves A or B, and how close A may come to B.
inline constexpr int32_t kNudgeMs = 50;
inline constexpr int32_t kMinLoopMs = 100;
// After B moves, playback goes on this long before the new B (or at A).
inline constexpr int32_t kNudgeBLeadMs = 1500;

constexpr bool ValidRate(int32_t rate) {
  return rate >= kRateMin && rate <= kRateMax && rate % kRateStep == 0;
}
constexpr bool ValidRepeatCount(int32_t count) {
  for (const int32_t c : kRepeatCounts)
    if (c == count) return true;
  return false;
}
constexpr bool ValidRepeatGap(int32_t gap) {
  return gap >= 0 && gap <= static_cast<int32_t>(RepeatGap::kAsLong);
}

// One step slower (steps < 0) or faster, within 0.50x .. 2.00x.
constexpr int32_t StepRate(int32_t rate, int32_t steps) {
  const int32_t next = rate + steps * kRateStep;
  return next < kRateMin ? kRateMin : next > kRateMax ? kRateMax : next;
}

// The silence before each return to A for a loop from a to b.
constexpr int32_t GapMs(RepeatGap gap, int32_t aMs, int32_t bMs) {
  return gap == RepeatGap::kAsLong ? bMs - aMs : static_cast<int32_t>(gap) * 1000;
}

// Shadowing: after each pass the learner is recorded for the loop's length
// and a margin, from the instant the pass ended, then hears the take once,
// the moment its window is over. The silence the player leaves is both, and
// a short breath before the next pass.
constexpr int32_t ShadowWindowMs(int32_t aMs, int32_t bMs) {
  return (bMs - aMs) * 13 / 10 + 500;
}
inline constexpr int32_t kShadowSlackMs = 400;
constexpr int32_t ShadowGapMs(int32_t aMs, int32_t bMs) {
  return 2 * ShadowWindowMs(aMs, bMs) + kShadowSlackMs;
}

// A loop's two points, A before B.
struct LoopPoints {
  int32_t aMs = 0;
  int32_t bMs = 0;
  bool operator==(const LoopPoints&) const = default;
};

// The loop between two points, in either order, in a file of lengthMs: both
// inside the file, and at least kMinLoopMs apart, B moving on to make it (A
// back, at the end of the file). None in a file shorter than that.
constexpr std::optional<LoopPoints> GrownLoop(int32_t fromMs, int32_t toMs, int32_t lengthMs) {
  const auto inside = [lengthMs](int32_t ms) { return ms > lengthMs ? lengthMs : ms < 0 ? 0 : ms; };
  int32_t a = inside(fromMs < toMs ? fromMs : toMs);
  int32_t b = inside(fromMs < toMs ? toMs : fromMs);
  if (b - a < kMinLoopMs) {
    b = int64_t{a} + kMinLoopMs < lengthMs ? a + kMinLoopMs : lengthMs;
    a = inside(b - kMinLoopMs);
  }
  if (b - a < kMinLoopMs) return std::nullopt;
  return LoopPoints{a, b};
}

// A moved by deltaMs: inside the file, and at least kMinLoopMs before B when
// there is one (bMs -1 when not).
constexpr int32_t NudgedA(int32_t aMs, int32_t bMs, int32_t lengthMs, int32_t deltaMs) {
  const int32_t top = bMs >= 0 ? bMs - kMinLoopMs : lengthMs;
  const int32_t moved = aMs + deltaMs;
  if (moved > top) return top < aMs ? aMs : top;
  return moved < 0 ? 0 : moved;
}

// B moved by deltaMs: inside the file and at least kMinLoopMs after A.
constexpr int32_t NudgedB(int32_t aMs, int32_t bMs, int32_t lengthMs, int32_t deltaMs) {
  const int32_t bottom = aMs + kMinLoopMs;
  const int32_t moved = bMs + deltaMs;
  if (moved < bottom) return bottom > bMs ? bMs : bottom;
  return moved > lengthMs ? lengthMs : moved;
}

}  // namespace orvex
