#pragma once
// The engine's segment arithmetic, in plain C++ (no GStreamer): where a seek
// starts and stops, how a pass joins the one before in running time, how a
// segment is clipped to the loop at another speed, what follows when a pass
// is done, which events fall at which running time, and the heard position
// from the running time. The engine copies GStreamer's segments into
// Segment and back; the rules live here and are tested on hand-made ones.
//
// Times are nanoseconds; -1 stands for none (an open stop, no clip).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "playback/player.h"

namespace orvex {

// The part of a GstSegment (TIME format, forward) the engine reasons about.
struct Segment {
  int64_t start = 0;   // buffer time of the first sample
  int64_t stop = -1;   // buffer time where it ends, -1 when open
  int64_t time = 0;    // stream time (the file's) of start
  int64_t base = 0;    // running time of start
  double rate = 1.0;   // buffer time per running time
  double appliedRate = 1.0;  // file time per buffer time, applied upstream
                             // (scaletempo's speed)
  bool operator==(const Segment&) const = default;
};

// Running time of a buffer time, and the buffer time at a running time.
int64_t RunningTimeOf(const Segment& s, int64_t position);
int64_t PositionAtRunningTime(const Segment& s, int64_t runningTime);
// The file's time of a buffer time, and the buffer time of a file time.
int64_t StreamTimeOf(const Segment& s, int64_t position);
int64_t PositionOfStreamTime(const Segment& s, int64_t streamTime);
// The running time at which the segment ends; -1 when its stop is open.
int64_t EndRunningTime(const Segment& s);

// scaletempo holds back a window of its input and drops it where a segment
// ends: at another speed a loop's segment runs this much past B, and the
// sink cuts it at B. Likewise it drops the first window of a segment: at
// another speed seeks start this much early, and the sink cuts the lead-in
// away. (The window is stride + search + overlap, under 70 ms here.)
inline constexpr int64_t kTempoLeadOutNs = 100'000'000;
inline constexpr int64_t kTempoLeadInNs = 100'000'000;
// The demuxer of the second builder seeks to the packet of the target itself,
// and the first frames behind it then lack the bit reservoir of the frames
// before: its seeks start this much earlier, and the segment is set back to
// the target on its way to the decoder, which cuts the lead-in away.
inline constexpr int64_t kSplitterLeadInNs = 300'000'000;
// A decoder of another format that starts at the frame of the target lacks
// the frame before, which its first output overlaps (AAC's transform, Opus's
// pre-roll): its seeks start this much earlier, and the sink cuts the
// lead-in away, so the first sample heard is the one the whole file gives.
inline constexpr int64_t kDecoderLeadInNs = 100'000'000;

// What a seek needs to know of the file and the graph.
struct SeekContext {
  double rate = 1.0;
  int64_t lengthNs = 0;
  // The scan knows where the audio ends: seeks end the segment there, so
  // trailing junk (an appended tag, garbage) is never played.
  bool stopAtLength = false;
  bool splitter = false;  // the demuxer's lead-in applies
  // Where the recording's first sample lies in the file's time: positions,
  // loops and seeks are asked in the lesson's time, which starts there.
  int64_t originNs = 0;
  bool decoder = false;  // the decoder's lead-in applies
};

// A seek as sent: from start to stop in the file's time (-1: to the end,
// still sent as a stop set explicitly, so no element keeps an older one), as
// a segment that ends in SEGMENT_DONE or not, and what the sink cuts away at
// either end (the lesson's time, as the sink's segments are kept; -1 for
// nothing).
struct SeekSpan {
  int64_t start = 0;
  int64_t stop = -1;
  bool segment = false;
  int64_t clipFrom = -1;
  int64_t clipAt = -1;
  bool operator==(const SeekSpan&) const = default;
};

// The seek that is heard from target on; with loopB >= 0 and the target
// before it, a segment that ends at B. Never a segment whose start reaches
// its stop: a target at the length plays to the end, which it is.
SeekSpan PlanSeek(int64_t target, int64_t loopB, const SeekContext& context);

// A segment in the lesson's time: its stream times moved back by the origin
// (SeekContext::originNs); a part before the origin is cut away. Unchanged
// for an origin of 0.
Segment InLessonTime(Segment s, int64_t originNs);

// A segment as the sink takes it, cut to what is heard: at another speed the
// lead-in before clipFrom and the lead-out after clipAt go (file times, -1
// for none; the splitter's lead-in is cut upstream). Unchanged otherwise.
Segment ClipForSink(Segment s, int64_t clipFrom, int64_t clipAt);

// A segment that follows another without a flush, placed in running time
// right after it, and after the silence. Unchanged when the one before has
// no stop.
Segment JoinAfter(const Segment& previous, Segment next, int64_t gapNs);

// The heard position at a running time, in the file's time, over the
// segments the sink has taken (oldest first): in the silence between two
// passes it reads the next pass's start (A). False when it cannot tell.
bool HeardPosition(const std::vector<Segment>& segments, int64_t runningTime, int64_t& fileNs);

// One stretch of a plan, in nanoseconds.
struct PlanStretch {
  int64_t a = 0, b = 0, gap = 0;
};

// Where a plan stands: the stretch fed to the graph, and its pass (0 for a
// pass that is none of the counted ones).
struct PlanPoint {
  size_t stretch = 0;
  int32_t pass = 0;
  bool operator==(const PlanPoint&) const = default;
};

// A plan in nanoseconds, as the engine runs it.
struct RunningPlan {
  std::vector<PlanStretch> stretches;
  int32_t passes = 0;
  AfterPlan after = AfterPlan::kGoOn;
  bool gapBeforeHandOn = false;
  PlanPoint at;
  bool active() const { return !stretches.empty(); }
  const PlanStretch& current() const { return stretches[at.stretch]; }
};

// The plan of a LoopPlan, empty when it is none (no stretch, or one whose B
// is not after its A, or an A before 0); Bs past the length are cut to it.
RunningPlan ToRunningPlan(const LoopPlan& plan, int64_t lengthNs);

// What follows a pass that reached B.
enum class Step {
  kNextPass,  // the stretch again, after its gap
  kHandOn,    // the next stretch's first pass, joined to the sample (or after the gap)
  kGoOn,      // the plan has ended: playback goes on past B
  kStop,      // the plan has ended: playback stops at B
};
struct NextStep {
  Step step = Step::kNextPass;
  PlanPoint at;        // the pass that follows (kNextPass, kHandOn)
  int64_t gapNs = 0;   // the silence before it
  bool operator==(const NextStep&) const = default;
};
NextStep AfterPass(const RunningPlan& plan);

// Where a seek lands while a plan runs, by its target: inside [A, B) the
// pass plays on to B, before A it goes to A, at or past B the pass ends.
enum class SeekInPlan { kInPass, kToA, kEndPass };
SeekInPlan ClassifySeek(const PlanStretch& stretch, int64_t target);

// A graph event with the running time at which it is heard.
struct TimedEvent {
  int32_t code = 0;
  int64_t runningTime = 0;
  int32_t pass = 0;
  int32_t stretch = 0;
  bool operator==(const TimedEvent&) const = default;
};
// The events of a step whose pass before ended (is heard to end) at
// endRunningTime: the gap's start, then the next pass after the gap, or the
// plan's end.
std::vector<TimedEvent> EventsOfStep(const NextStep& step, int64_t endRunningTime);

}  // namespace orvex
