// The engine's segment arithmetic on hand-made segments: seeks, joins in
// running time (with and without a gap, at 0.5x and 2x), clipping at A and
// B, seeks in a plan and in a gap, the hand-on, and the plan's end.

#include "playback/segment_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvex {
namespace {

constexpr int64_t kMs = 1'000'000;

// A pass of [a, b] as the parser sends it at the speed (scaletempo runs it
// at the output's pace: rate 1, applied rate the speed) starting at running
// time base.
Segment Pass(int64_t a, int64_t b, double speed, int64_t base) {
  Segment s;
  s.start = static_cast<int64_t>(static_cast<double>(a) / speed);
  s.stop = static_cast<int64_t>(static_cast<double>(b) / speed);
  s.time = a;
  s.base = base;
  s.appliedRate = speed;
  return s;
}

TEST(SegmentPlan, SeeksAlwaysCarryAStopAndNeverAnEmptySegment) {
  const SeekContext mp3{1.0, 5000 * kMs, true, false};
  // Inside the loop: a segment to B; past it, to the length.
  EXPECT_EQ(PlanSeek(1200 * kMs, 2000 * kMs, mp3), (SeekSpan{1200 * kMs, 2000 * kMs, true, -1, -1}));
  EXPECT_EQ(PlanSeek(2000 * kMs, 2000 * kMs, mp3), (SeekSpan{2000 * kMs, 5000 * kMs, false, -1, -1}));
  // At the length the stop stays open rather than equal to the start.
  EXPECT_EQ(PlanSeek(5000 * kMs, -1, mp3).stop, -1);
  // The splitter knows no length: its stop is open, but still sent; its
  // seeks start early for the demuxer's lead-in and are cut upstream.
  const SeekContext splitter{1.0, 0, false, true};
  EXPECT_EQ(PlanSeek(1500 * kMs, -1, splitter),
            (SeekSpan{1500 * kMs - kSplitterLeadInNs, -1, false, -1, -1}));
  // At another speed: scaletempo's lead-in before the target and lead-out
  // past B, both cut at the sink.
  const SeekContext slow{0.5, 5000 * kMs, true, false};
  EXPECT_EQ(PlanSeek(1000 * kMs, 2000 * kMs, slow),
            (SeekSpan{1000 * kMs - kTempoLeadInNs, 2000 * kMs + kTempoLeadOutNs, true, 1000 * kMs,
                      2000 * kMs}));
  EXPECT_EQ(PlanSeek(50 * kMs, 4950 * kMs, slow).stop, 5000 * kMs) << "the lead-out passes the end";
  EXPECT_EQ(PlanSeek(50 * kMs, 4950 * kMs, slow).start, 0);
}

TEST(SegmentPlan, AFileWhoseRecordingStartsLaterIsSeekedAndHeardInTheLessonsTime) {
  // The recording's first sample lies 2.9 ms into the file (a Matroska
  // file's Vorbis): seeks go there plus the target, the sink's segments read
  // back in the lesson's time, at either speed.
  constexpr int64_t kOrigin = 2'902'494;
  // Through the decoder of another format every seek starts a lead-in
  // early, which the sink cuts away.
  for (const auto& [speed, decoder] :
       {std::pair{1.0, false}, {0.5, false}, {1.0, true}, {0.5, true}}) {
    SCOPED_TRACE(testing::Message() << speed << (decoder ? " decoder" : ""));
    const SeekContext c{speed, 7000 * kMs, false, false, kOrigin, decoder};
    const SeekSpan span = PlanSeek(2000 * kMs, 2500 * kMs, c);
    const int64_t leadIn = decoder ? kDecoderLeadInNs : speed == 1.0 ? 0 : kTempoLeadInNs;
    EXPECT_EQ(span.start, 2000 * kMs - leadIn + kOrigin);
    EXPECT_EQ(span.stop, 2500 * kMs + (speed == 1.0 ? 0 : kTempoLeadOutNs) + kOrigin);
    // The demuxer answers in the file's time; the sink cuts it in the lesson's.
    Segment sent = Pass(span.start, span.stop, speed, 0);
    const Segment lesson = InLessonTime(sent, kOrigin);
    const Segment heard = ClipForSink(lesson, span.clipFrom, span.clipAt);
    EXPECT_EQ(StreamTimeOf(heard, heard.start), 2000 * kMs);
    EXPECT_NEAR(static_cast<double>(StreamTimeOf(heard, heard.stop)), 2500.0 * kMs, 1.0);
    int64_t position = 0;
    ASSERT_TRUE(HeardPosition({heard}, heard.base, position));
    EXPECT_EQ(position, 2000 * kMs);
  }
  // The open stop stays open; a plain seek to 0 goes to the origin.
  EXPECT_EQ(PlanSeek(0, -1, {1.0, 7000 * kMs, false, false, kOrigin}),
            (SeekSpan{kOrigin, -1, false, -1, -1}));
  // The first segment from 0 (before any seek): what lies before the origin
  // is cut, and position 0 is the first sample.
  Segment first;
  first.stop = 7100 * kMs;
  const Segment cut = InLessonTime(first, kOrigin);
  EXPECT_EQ(cut.start, kOrigin);
  EXPECT_EQ(cut.time, 0);
  EXPECT_EQ(StreamTimeOf(cut, kOrigin + 1000 * kMs), 1000 * kMs);
  EXPECT_EQ(InLessonTime(first, 0), first);
}

TEST(SegmentPlan, ClippingCutsTheTempoLeadInAndLeadOutAtEitherSpeed) {
  for (const double speed : {0.5, 2.0}) {
    SCOPED_TRACE(speed);
    const SeekSpan span = PlanSeek(1000 * kMs, 2000 * kMs, {speed, 5000 * kMs, true, false});
    const Segment sent = Pass(span.start, span.stop, speed, 0);
    const Segment heard = ClipForSink(sent, span.clipFrom, span.clipAt);
    EXPECT_EQ(StreamTimeOf(heard, heard.start), 1000 * kMs);
    EXPECT_NEAR(static_cast<double>(StreamTimeOf(heard, heard.stop)), 2000.0 * kMs, 1.0);
    // A pass of a second of the file lasts 1/speed seconds.
    EXPECT_NEAR(static_cast<double>(EndRunningTime(heard) - heard.base), 1000.0 * kMs / speed, 2.0);
    // Nothing to cut: unchanged.
    EXPECT_EQ(ClipForSink(sent, -1, -1), sent);
  }
}

TEST(SegmentPlan, APassJoinsTheOneBeforeWithAndWithoutAGap) {
  for (const double speed : {1.0, 0.5, 2.0}) {
    SCOPED_TRACE(speed);
    const Segment first = Pass(1000 * kMs, 2000 * kMs, speed, 300 * kMs);
    const int64_t end = EndRunningTime(first);
    EXPECT_NEAR(static_cast<double>(end), 300.0 * kMs + 1000.0 * kMs / speed, 2.0);
    // The parser counts its own base; the join replaces it.
    const Segment again = Pass(1000 * kMs, 2000 * kMs, speed, 77 * kMs);
    EXPECT_EQ(JoinAfter(first, again, 0).base, end);
    EXPECT_EQ(JoinAfter(first, again, 500 * kMs).base, end + 500 * kMs);
    // A segment before without a stop cannot be joined to.
    Segment open = first;
    open.stop = -1;
    EXPECT_EQ(JoinAfter(open, again, 0), again);
  }
}

TEST(SegmentPlan, TheHeardPositionFollowsThePassesAndReadsAInAGap) {
  const Segment first = Pass(1000 * kMs, 2000 * kMs, 1.0, 0);
  const Segment second = JoinAfter(first, Pass(1000 * kMs, 2000 * kMs, 1.0, 0), 500 * kMs);
  const std::vector<Segment> sink = {first, second};
  int64_t at = 0;
  ASSERT_TRUE(HeardPosition(sink, 400 * kMs, at));
  EXPECT_EQ(at, 1400 * kMs);
  ASSERT_TRUE(HeardPosition(sink, 1200 * kMs, at));  // in the gap
  EXPECT_EQ(at, 1000 * kMs);
  ASSERT_TRUE(HeardPosition(sink, 1700 * kMs, at));
  EXPECT_EQ(at, 1200 * kMs);
  // Half speed: a second of running time is half a second of the file.
  ASSERT_TRUE(HeardPosition({Pass(1000 * kMs, 2000 * kMs, 0.5, 0)}, 1000 * kMs, at));
  EXPECT_EQ(at, 1500 * kMs);
  // Past the last stop it holds B.
  ASSERT_TRUE(HeardPosition({first}, 5000 * kMs, at));
  EXPECT_EQ(at, 2000 * kMs);
  EXPECT_FALSE(HeardPosition({}, 0, at));
}

RunningPlan TwoStretches(int32_t passes, AfterPlan after) {
  return ToRunningPlan({{{1000, 2000, 500}, {3000, 4000, 300}}, passes, after, -1, 1}, 10000 * kMs);
}

TEST(SegmentPlan, AfterAPassComeTheNextPassTheHandOnAndTheEnd) {
  RunningPlan plan = TwoStretches(2, AfterPlan::kGoOn);
  ASSERT_TRUE(plan.active());
  EXPECT_EQ(AfterPass(plan), (NextStep{Step::kNextPass, {0, 2}, 500 * kMs}));
  plan.at = {0, 2};
  EXPECT_EQ(AfterPass(plan), (NextStep{Step::kHandOn, {1, 1}, 0}));
  plan.at = {1, 1};
  EXPECT_EQ(AfterPass(plan), (NextStep{Step::kNextPass, {1, 2}, 300 * kMs}));
  plan.at = {1, 2};
  EXPECT_EQ(AfterPass(plan).step, Step::kGoOn);
  plan.after = AfterPlan::kStop;
  EXPECT_EQ(AfterPass(plan).step, Step::kStop);
  // A take of each stretch: its gap follows its last pass too.
  plan.gapBeforeHandOn = true;
  plan.at = {0, 2};
  EXPECT_EQ(AfterPass(plan), (NextStep{Step::kHandOn, {1, 1}, 500 * kMs}));
  // Without limit the first stretch plays for ever; an uncounted pass in
  // progress is followed by the first counted one.
  RunningPlan endless = TwoStretches(0, AfterPlan::kStop);
  endless.at = {0, 41};
  EXPECT_EQ(AfterPass(endless), (NextStep{Step::kNextPass, {0, 42}, 500 * kMs}));
  endless.at = {0, 0};
  EXPECT_EQ(AfterPass(endless).at, (PlanPoint{0, 1}));
}

TEST(SegmentPlan, EventsFallWhereEachStepIsHeard) {
  const int64_t end = 7 * kMs;
  EXPECT_EQ(EventsOfStep({Step::kNextPass, {0, 2}, 500 * kMs}, end),
            (std::vector<TimedEvent>{{kEventGapStarted, end, 0, 0},
                                     {kEventPassStarted, end + 500 * kMs, 2, 0}}));
  EXPECT_EQ(EventsOfStep({Step::kNextPass, {0, 3}, 0}, end),
            (std::vector<TimedEvent>{{kEventPassStarted, end, 3, 0}}));
  EXPECT_EQ(EventsOfStep({Step::kHandOn, {1, 1}, 0}, end),
            (std::vector<TimedEvent>{{kEventPassStarted, end, 1, 1}}));
  EXPECT_EQ(EventsOfStep({Step::kHandOn, {1, 1}, 400 * kMs}, end),
            (std::vector<TimedEvent>{{kEventGapStarted, end, 0, 0},
                                     {kEventPassStarted, end + 400 * kMs, 1, 1}}));
  EXPECT_EQ(EventsOfStep({Step::kGoOn, {1, 2}, 0}, end),
            (std::vector<TimedEvent>{{kEventPlanEnded, end, 0, 0}}));
  EXPECT_EQ(EventsOfStep({Step::kStop, {1, 2}, 0}, end),
            (std::vector<TimedEvent>{{kEventPlanEnded, end, 0, 0}}));
}

TEST(SegmentPlan, SeeksInAPlanAndPlansThatAreNone) {
  const PlanStretch s{1000 * kMs, 2000 * kMs, 0};
  EXPECT_EQ(ClassifySeek(s, 999 * kMs), SeekInPlan::kToA);
  EXPECT_EQ(ClassifySeek(s, 1000 * kMs), SeekInPlan::kInPass);
  EXPECT_EQ(ClassifySeek(s, 1999 * kMs), SeekInPlan::kInPass);
  EXPECT_EQ(ClassifySeek(s, 2000 * kMs), SeekInPlan::kEndPass);
  // A seek in a gap: the position there reads the next pass's A, which is
  // inside the pass the gap leads to.
  const Segment first = Pass(1000 * kMs, 2000 * kMs, 1.0, 0);
  int64_t inGap = 0;
  ASSERT_TRUE(HeardPosition({first, JoinAfter(first, first, 500 * kMs)}, 1100 * kMs, inGap));
  EXPECT_EQ(ClassifySeek(s, inGap), SeekInPlan::kInPass);

  EXPECT_FALSE(ToRunningPlan({}, 0).active());
  EXPECT_FALSE(ToRunningPlan({{{2000, 2000, 0}}}, 0).active());
  EXPECT_FALSE(ToRunningPlan({{{1000, 2000, 0}, {3000, 2500, 0}}}, 0).active());
  EXPECT_FALSE(ToRunningPlan({{{-5, 2000, 0}}}, 0).active());
  // B past the length is cut to it; a negative gap is none.
  const RunningPlan cut = ToRunningPlan({{{1000, 9000, -40}}}, 5000 * kMs);
  ASSERT_TRUE(cut.active());
  EXPECT_EQ(cut.current().b, 5000 * kMs);
  EXPECT_EQ(cut.current().gap, 0);
}

}  // namespace
}  // namespace orvex
