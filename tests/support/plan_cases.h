#pragma once
// Whole loop plans and the events a player gives for them, as plain data, so
// the simulated player and the real one can be held to the same sequences.
// Each case plays a file of lengthMs from fromMs at normal speed; the plan is
// handed over at 0 ms, the actions follow at their times (ms of playback
// since then), and the events are those heard until runMs, each with the
// time it is heard. Positions and times are in ms; a real player is expected
// to match codes, passes and stretches exactly and times within its own
// accuracy.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "playback/player.h"

namespace orvex::test {

struct PlanAction {
  enum Kind { kSeek, kPlan, kClear };
  int32_t atMs = 0;
  Kind kind = kSeek;
  int32_t seekMs = 0;  // kSeek
  LoopPlan plan;       // kPlan
};

struct PlanEvent {
  int32_t code = 0;
  int32_t pass = 0;     // kEventPassStarted only
  int32_t stretch = 0;  // kEventPassStarted only
  int32_t atMs = 0;
  bool operator==(const PlanEvent&) const = default;
};

struct PlanCase {
  const char* name;
  int32_t lengthMs;
  int32_t fromMs;
  LoopPlan plan;
  std::vector<PlanAction> actions;
  int32_t runMs;
  std::vector<PlanEvent> events;
  int32_t endPositionMs;  // where playback is at runMs
  bool endRunning;
};

inline PlanEvent Pass(int32_t pass, int32_t stretch, int32_t atMs) {
  return {kEventPassStarted, pass, stretch, atMs};
}
inline PlanEvent Gap(int32_t atMs) {
  return {kEventGapStarted, 0, 0, atMs};
}
inline PlanEvent Ended(int32_t atMs) {
  return {kEventPlanEnded, 0, 0, atMs};
}
inline PlanEvent End(int32_t atMs) {
  return {kEventComplete, 0, 0, atMs};
}

// The events as one line, for a failure's message.
inline std::string Describe(const std::vector<PlanEvent>& events) {
  std::string text;
  for (const PlanEvent& e : events) {
    char one[64];
    std::snprintf(one, sizeof one, " %d(%d,%d)@%d", e.code, e.pass, e.stretch, e.atMs);
    text += one;
  }
  return text;
}

inline std::vector<PlanCase> PlanCases() {
  using S = LoopStretch;
  const auto plan = [](std::vector<S> s, int32_t passes, int32_t startMs, int32_t firstPass,
                       AfterPlan after = AfterPlan::kGoOn) {
    return LoopPlan{std::move(s), passes, after, startMs, firstPass};
  };
  return {
      // B set by key where playback is, at B: the pass in progress ends
      // there and is not counted; two passes follow, then playback goes on.
      {"b at the position, two passes", 60000, 3000, plan({{1000, 3000, 0}}, 2, -1, 0), {}, 5000,
       {Pass(1, 0, 0), Pass(2, 0, 2000), Ended(4000)}, 4000, true},
      // B set on the way: the pass in progress plays on to B; each counted
      // pass is preceded by the gap, the last one goes on past B.
      {"b ahead, two passes with a gap", 60000, 2500, plan({{1000, 3000, 1000}}, 2, -1, 0), {},
       7000,
       {Gap(500), Pass(1, 0, 1500), Gap(3500), Pass(2, 0, 4500), Ended(6500)}, 3500, true},
      // Sentences, each twice from the first one's A: the gap only between a
      // sentence's own passes, none before the next sentence.
      {"three sentences twice each", 60000, 0,
       plan({{1000, 3000, 500}, {4000, 6000, 500}, {7000, 9500, 500}}, 2, 1000, 1), {}, 15000,
       {Pass(1, 0, 0), Gap(2000), Pass(2, 0, 2500), Pass(1, 1, 4500), Gap(6500), Pass(2, 1, 7000),
        Pass(1, 2, 9000), Gap(11500), Pass(2, 2, 12000), Ended(14500)},
       10000, true},
      // A take after each pass: the gap also follows a sentence's last pass.
      {"sentences with a gap before the next", 60000, 0,
       [&] {
         LoopPlan p = plan({{1000, 2500, 700}, {4000, 5000, 700}}, 1, 1000, 1);
         p.gapBeforeHandOn = true;
         return p;
       }(),
       {}, 4000, {Pass(1, 0, 0), Gap(1500), Pass(1, 1, 2200), Ended(3200)}, 5800, true},
      // Without a count only the first stretch plays, for ever.
      {"unlimited passes of the first stretch", 60000, 0,
       plan({{1000, 3000, 0}, {4000, 6000, 0}}, 0, 1000, 1), {}, 5500,
       {Pass(1, 0, 0), Pass(2, 0, 2000), Pass(3, 0, 4000)}, 2500, true},
      // Seeks while a plan runs: inside [A, B) the pass plays on to B, before
      // A goes to A, at or past B ends the pass; the count goes on.
      {"seeks inside, before and past the loop", 60000, 0, plan({{2000, 4000, 0}}, 3, 2000, 1),
       {{500, PlanAction::kSeek, 3500, {}},
        {1500, PlanAction::kSeek, 500, {}},
        {2000, PlanAction::kSeek, 9000, {}}},
       5000, {Pass(1, 0, 0), Pass(2, 0, 1000), Pass(3, 0, 2000), Ended(4000)}, 5000, true},
      // A stop after the last pass pauses at B.
      {"stop after the last pass", 60000, 0,
       plan({{1000, 2000, 0}}, 1, 1000, 1, AfterPlan::kStop), {}, 3000,
       {Pass(1, 0, 0), Ended(1000)}, 2000, false},
      // A new gap while looping: the plan that takes over carries the count
      // on; its counted pass is told at once.
      {"a new gap carries the count on", 60000, 0, plan({{1000, 3000, 0}}, 3, 1000, 1),
       {{500, PlanAction::kPlan, 0, plan({{1000, 3000, 1000}}, 3, -1, 1)}}, 9000,
       {Pass(1, 0, 0), Pass(1, 0, 500), Gap(2000), Pass(2, 0, 3000), Gap(5000), Pass(3, 0, 6000),
        Ended(8000)},
       4000, true},
      // Clearing the loop in a gap: playback goes on from A at once.
      {"clear in a gap", 60000, 0, plan({{1000, 2000, 3000}}, 0, 1000, 1),
       {{1500, PlanAction::kClear, 0, {}}}, 3000, {Pass(1, 0, 0), Gap(1000)}, 2500, true},
      // A plan whose B is the end of the file: the plan ends, then the stream.
      {"b at the end of the file", 5000, 0, plan({{3000, 5000, 0}}, 1, 3000, 1), {}, 3000,
       {Pass(1, 0, 0), Ended(2000), End(2000)}, 5000, true},
  };
}

}  // namespace orvex::test
