#include "playback/segment_plan.h"

#include <algorithm>
#include <cmath>

namespace orvex {

namespace {

int64_t Scale(int64_t ns, double factor) {
  return static_cast<int64_t>(std::llround(static_cast<double>(ns) * factor));
}

}  // namespace

int64_t RunningTimeOf(const Segment& s, int64_t position) {
  return s.base + Scale(position - s.start, 1.0 / s.rate);
}

int64_t PositionAtRunningTime(const Segment& s, int64_t runningTime) {
  return s.start + Scale(runningTime - s.base, s.rate);
}

int64_t StreamTimeOf(const Segment& s, int64_t position) {
  return s.time + Scale(position - s.start, s.appliedRate);
}

int64_t PositionOfStreamTime(const Segment& s, int64_t streamTime) {
  return s.start + Scale(streamTime - s.time, 1.0 / s.appliedRate);
}

int64_t EndRunningTime(const Segment& s) {
  return s.stop < 0 ? -1 : RunningTimeOf(s, s.stop);
}

// The seek in the lesson's time.
static SeekSpan PlanLessonSeek(int64_t target, int64_t loopB, const SeekContext& c) {
  SeekSpan span;
  const bool otherSpeed = c.rate != 1.0;
  const int64_t leadIn = c.splitter      ? kSplitterLeadInNs
                         : otherSpeed    ? std::max(kTempoLeadInNs, c.decoder ? kDecoderLeadInNs : 0)
                         : c.decoder     ? kDecoderLeadInNs
                                         : 0;
  span.start = std::max<int64_t>(target - leadIn, 0);
  if ((otherSpeed || c.decoder) && !c.splitter) span.clipFrom = target;
  if (loopB >= 0 && target < loopB) {
    span.segment = true;
    span.stop = loopB;
    if (otherSpeed) {
      span.clipAt = loopB;
      span.stop = c.lengthNs > 0 ? std::min(loopB + kTempoLeadOutNs, c.lengthNs) : loopB;
    }
    return span;
  }
  span.stop = c.stopAtLength ? c.lengthNs : -1;
  // A segment whose start reaches its stop holds nothing, and the decoder
  // is asked for an empty buffer: at the end the stop stays open (the end
  // of the stream ends it).
  if (span.stop >= 0 && span.start >= span.stop) span.stop = -1;
  return span;
}

SeekSpan PlanSeek(int64_t target, int64_t loopB, const SeekContext& c) {
  SeekSpan span = PlanLessonSeek(target, loopB, c);
  span.start += c.originNs;
  if (span.stop >= 0) span.stop += c.originNs;
  return span;
}

Segment InLessonTime(Segment s, int64_t originNs) {
  if (originNs <= 0 || s.time < 0) return s;
  if (s.time < originNs) {
    int64_t from = PositionOfStreamTime(s, originNs);
    if (s.stop >= 0) from = std::min(from, s.stop);
    s.start = from;
    s.time = originNs;
  }
  s.time -= originNs;
  return s;
}

Segment ClipForSink(Segment s, int64_t clipFrom, int64_t clipAt) {
  if (s.appliedRate <= 0) return s;
  if (clipFrom > s.time) {
    const int64_t from = PositionOfStreamTime(s, clipFrom);
    if (s.stop < 0 || from < s.stop) {
      s.start = from;
      s.time = clipFrom;
    }
  }
  if (clipAt >= 0 && clipAt >= s.time) {
    // After scaletempo the buffers run at the output's pace, and the applied
    // rate maps them back to the file's.
    const int64_t end = PositionOfStreamTime(s, clipAt);
    if (s.stop < 0 || end < s.stop) s.stop = end;
  }
  return s;
}

Segment JoinAfter(const Segment& previous, Segment next, int64_t gapNs) {
  const int64_t end = EndRunningTime(previous);
  if (end >= 0) next.base = end + std::max<int64_t>(gapNs, 0);
  return next;
}

bool HeardPosition(const std::vector<Segment>& segments, int64_t now, int64_t& fileNs) {
  if (segments.empty() || now < 0) return false;
  size_t i = 0;
  while (i + 1 < segments.size() && segments[i + 1].base <= now) ++i;
  const Segment& s = segments[i];
  int64_t position = now < s.base ? s.start : PositionAtRunningTime(s, now);
  if (s.stop >= 0 && position > s.stop) {
    // Between a pass's end and the next pass: the silence reads as A.
    if (i + 1 < segments.size()) {
      const Segment& next = segments[i + 1];
      fileNs = next.time;
      return true;
    }
    position = s.stop;
  }
  fileNs = StreamTimeOf(s, position);
  return fileNs >= 0;
}

RunningPlan ToRunningPlan(const LoopPlan& plan, int64_t lengthNs) {
  RunningPlan running;
  for (const LoopStretch& s : plan.stretches) {
    int64_t b = int64_t{s.bMs} * 1'000'000;
    if (lengthNs > 0) b = std::min(b, lengthNs);
    const int64_t a = int64_t{s.aMs} * 1'000'000;
    if (s.aMs < 0 || b <= a) return {};
    running.stretches.push_back({a, b, int64_t{std::max(s.gapMs, 0)} * 1'000'000});
  }
  running.passes = std::max(plan.passes, 0);
  running.after = plan.after;
  running.gapBeforeHandOn = plan.gapBeforeHandOn;
  running.at = {0, std::max(plan.firstPass, 0)};
  return running;
}

NextStep AfterPass(const RunningPlan& plan) {
  const PlanPoint at = plan.at;
  if (plan.passes == 0 || at.pass < plan.passes) {
    return {Step::kNextPass, {at.stretch, at.pass + 1}, plan.stretches[at.stretch].gap};
  }
  if (at.stretch + 1 < plan.stretches.size()) {
    return {Step::kHandOn, {at.stretch + 1, 1},
            plan.gapBeforeHandOn ? plan.stretches[at.stretch].gap : 0};
  }
  return {plan.after == AfterPlan::kGoOn ? Step::kGoOn : Step::kStop, at, 0};
}

SeekInPlan ClassifySeek(const PlanStretch& stretch, int64_t target) {
  if (target < stretch.a) return SeekInPlan::kToA;
  return target < stretch.b ? SeekInPlan::kInPass : SeekInPlan::kEndPass;
}

std::vector<TimedEvent> EventsOfStep(const NextStep& step, int64_t end) {
  const auto stretch = static_cast<int32_t>(step.at.stretch);
  switch (step.step) {
    case Step::kNextPass:
    case Step::kHandOn:
      if (step.gapNs > 0) {
        return {{kEventGapStarted, end, 0, 0},
                {kEventPassStarted, end + step.gapNs, step.at.pass, stretch}};
      }
      return {{kEventPassStarted, end, step.at.pass, stretch}};
    case Step::kGoOn:
    case Step::kStop:
      return {{kEventPlanEnded, end, 0, 0}};
  }
  return {};
}

}  // namespace orvex
