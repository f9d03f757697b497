// Loop plans and speed as heard: the null sink's monitor is recorded while
// the engine runs a plan over stretches of noise, and every recorded stretch is found in the
// file's own decoding (test::HeardTake). Each pass must start at A and end at
// B to within a millisecond, and the passes must join with nothing lost or
// doubled between them.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "playback/gst_player.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/sound_check.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::HeardRun;

// Heard within a millisecond: 44 frames at 44.1 kHz.
constexpr int64_t kExactFrames = 44;
// The most the sound server reads ahead of what it plays.
constexpr double kServerBlockMs = 20;

// A plan of one stretch looped without limit, from where playback is.
LoopPlan Loop(int32_t a, int32_t b, int32_t gapMs) {
  return {{{a, b, gapMs}}, 0, AfterPlan::kGoOn, -1, 0};
}

class Looping : public test::SoundTest {
 protected:
  bool Begin(const std::string& fixture = "noise.mp3") {
    if (!take_.Start(test::Fixture(fixture), dir_.File("loop.wav"))) {
      ADD_FAILURE() << "could not decode the file or start parec";
      return false;
    }
    const Result built = player_.BuildWithMp3Parser(test::Fixture(fixture));
    EXPECT_EQ(built, kOk) << player_.ErrorText(built);
    return built == kOk;
  }
  // Builds, and plays the loop from A with the recording marked at the
  // start (into start); false when any of it fails.
  bool PlayLoopFromA(int32_t a, int32_t b, int32_t gapMs, size_t& start) {
    if (!Begin()) return false;
    player_.SeekMs(a);
    player_.SetLoopPlan(Loop(a, b, gapMs));
    start = take_.Mark();
    const Result ran = player_.Run();
    EXPECT_EQ(ran, kOk) << player_.ErrorText(ran);
    return ran == kOk;
  }
  // Plays on, reading the position as the transport's tick does and taking
  // the queued events, until the condition holds or the time is up.
  void PlayUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(25ms);
      positions_.push_back(player_.GetPositionMs());
      TakeEvents();
    }
  }
  void PlayFor(std::chrono::milliseconds time) {
    PlayUntil([] { return false; }, time);
  }
  void TakeEvents() {
    GraphEvent event;
    while (player_.TakeEvent(event)) {
      events_.push_back(event.code);
      passes_.push_back({event.pass, event.stretch});
      if (event.code == kEventPassStarted) ++repeats_;
      if (event.code == kEventGapStarted) ++gaps_;
      if (event.code == kEventPlanEnded) ++ends_;
    }
  }
  bool Finish() {
    std::this_thread::sleep_for(200ms);
    player_.Pause();
    const bool followed = take_.Finish();
    EXPECT_TRUE(followed) << "no recording";
    return followed;
  }
  // The passes heard from the mark on: runs that start at A, each with the
  // run before it. Prints every run for the record.
  std::vector<const HeardRun*> PassesFrom(size_t mark, int32_t aMs) {
    std::vector<const HeardRun*> passes;
    for (const HeardRun* run = take_.RunFrom(mark); run; run = take_.Next(run)) {
      if (std::llabs(run->from - take_.MsToFrames(aMs)) <= kExactFrames) passes.push_back(run);
    }
    return passes;
  }
  std::string Describe(const HeardRun& run) const {
    char text[128];
    std::snprintf(text, sizeof text, "[%.3f ms .. %.3f ms of the file at %.3f s]",
                  take_.FramesToMs(static_cast<double>(run.from)),
                  take_.FramesToMs(static_cast<double>(run.FileEnd())),
                  take_.FramesToMs(static_cast<double>(run.at)) / 1000);
    return text;
  }

  test::TempDir dir_;
  test::HeardTake take_;
  GstPlayer player_;
  std::vector<int32_t> positions_;
  std::vector<int32_t> events_;
  std::vector<std::pair<int32_t, int32_t>> passes_;  // pass and stretch of each event
  int repeats_ = 0;  // passes started
  int gaps_ = 0;
  int ends_ = 0;
};

// Checks that each pass from the given one on plays [A, B] and that the
// next starts on the very next recorded frame; returns how many did.
int ExpectSeamlessPasses(const test::HeardTake& take, const std::vector<const HeardRun*>& passes,
                         int32_t aMs, int32_t bMs, size_t count,
                         const std::function<std::string(const HeardRun&)>& describe) {
  int good = 0;
  for (size_t i = 0; i + 1 < passes.size() && i < count; ++i) {
    const HeardRun& pass = *passes[i];
    const HeardRun& next = *passes[i + 1];
    SCOPED_TRACE("pass " + std::to_string(i + 1) + " " + describe(pass));
    EXPECT_NEAR(pass.from, take.MsToFrames(aMs), kExactFrames);
    EXPECT_NEAR(pass.FileEnd(), take.MsToFrames(bMs), kExactFrames);
    // Nothing lost or doubled: the next pass is the very next run and starts
    // on the frame after this one's last.
    EXPECT_EQ(&next, &pass + 1) << "something else was heard between two passes";
    EXPECT_NEAR(static_cast<double>(next.at), static_cast<double>(pass.End()), 1.0);
    if (!testing::Test::HasFailure()) ++good;
  }
  return good;
}

TEST_F(Looping, TenPassesStartAtAEndAtBAndJoinSeamlessly) {
  constexpr int32_t kA = 1000, kB = 2000;
  size_t start = 0;
  ASSERT_TRUE(PlayLoopFromA(kA, kB, 0, start));
  PlayUntil([&] { return repeats_ >= 11; }, 20s);
  ASSERT_GE(repeats_, 11) << "the engine did not report its returns to A";
  ASSERT_TRUE(Finish());
  const std::vector<const HeardRun*> passes = PassesFrom(start, kA);
  ASSERT_GE(passes.size(), 11u);
  EXPECT_EQ(ExpectSeamlessPasses(take_, passes, kA, kB, 10,
                                 [&](const HeardRun& r) { return Describe(r); }),
            10);
  // The position never left the loop: the tick's safety net would not fire.
  for (int32_t p : positions_) {
    EXPECT_GE(p, kA);
    EXPECT_LE(p, kB);
  }
}

// B pressed while playing on the way to it: the pass in progress ends at B
// and the loop goes on from A, seamlessly.
TEST_F(Looping, ALoopSetWhilePlayingEndsItsFirstPassAtB) {
  constexpr int32_t kA = 1000, kB = 2500;
  ASSERT_TRUE(Begin());
  player_.SeekMs(300);
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(500ms);
  const size_t set = take_.Mark();
  player_.SetLoopPlan(Loop(kA, kB, 0));
  PlayUntil([&] { return repeats_ >= 3; }, 10s);
  ASSERT_GE(repeats_, 3);
  ASSERT_TRUE(Finish());
  const HeardRun* first = take_.RunFrom(set);
  ASSERT_NE(first, nullptr);
  // The run that reaches B, and the passes after it.
  const HeardRun* toB = first;
  while (toB && std::llabs(toB->FileEnd() - take_.MsToFrames(kB)) > kExactFrames) {
    toB = take_.Next(toB);
  }
  ASSERT_NE(toB, nullptr) << "no stretch heard ends at B; the first after the call: "
                          << Describe(*first);
  EXPECT_LE(toB->from, take_.MsToFrames(kA + 1000)) << "the pass in progress was cut short";
  const HeardRun* pass = take_.Next(toB);
  ASSERT_NE(pass, nullptr);
  EXPECT_NEAR(pass->from, take_.MsToFrames(kA), kExactFrames) << Describe(*pass);
  EXPECT_NEAR(static_cast<double>(pass->at), static_cast<double>(toB->End()), 1.0);
  // What setting the loop costs where it is set: nothing lost or doubled.
  if (first != toB) {
    const HeardRun* next = take_.Next(first);
    std::printf(
        "setting the loop: %.1f ms of the file skipped, %.1f ms of silence heard\n",
        take_.FramesToMs(static_cast<double>(next->from - first->FileEnd())),
        take_.FramesToMs(static_cast<double>(next->at) - static_cast<double>(first->End())));
  }
}

// B set where playback is (the repeat key's B): the pass in progress ends
// there, and the loop's silence, then the pass from A, follow at once, told
// by a gap and a return as every pass is.
TEST_F(Looping, ALoopEndingWherePlaybackIsReturnsAfterItsSilence) {
  constexpr int32_t kA = 1000, kGap = 1000;
  ASSERT_TRUE(Begin());
  player_.SeekMs(kA);
  ASSERT_EQ(player_.Run(), kOk);
  PlayUntil([&] { return player_.GetPositionMs() >= kA + 1500; }, 10s);
  const int32_t b = player_.GetPositionMs();
  const size_t set = take_.Mark();
  player_.SetLoopPlan(Loop(kA, b, kGap));
  PlayUntil([&] { return repeats_ >= 2; }, 10s);
  ASSERT_TRUE(Finish());
  ASSERT_GE(events_.size(), 4u);
  EXPECT_EQ(events_[0], kEventGapStarted);
  EXPECT_EQ(events_[1], kEventPassStarted);
  const HeardRun* cut = take_.RunPlayingAt(set);
  ASSERT_NE(cut, nullptr);
  const std::vector<const HeardRun*> passes = PassesFrom(set, kA);
  ASSERT_GE(passes.size(), 2u);
  ASSERT_EQ(passes[0], take_.Next(cut))
      << "heard before the return: " << Describe(*take_.Next(cut));
  const double pastB = take_.FramesToMs(static_cast<double>(cut->FileEnd() - take_.MsToFrames(b)));
  const double silence =
      take_.FramesToMs(static_cast<double>(passes[0]->at) - static_cast<double>(cut->End()));
  std::printf("B where playback is: heard %+.1f ms past B, then %.1f ms of silence\n", pastB,
              silence);
  // Without the return the pass would play on to the end of the file.
  EXPECT_LT(pastB, 250.0) << Describe(*cut);
  EXPECT_EQ(test::PeakBetween(take_.heard(), cut->End(), passes[0]->at), 0.0);
  // The loop's silence, counted from the flush that ends the pass: the
  // restart behind the seek (and its start lead) is part of it, not added
  // to it. What the engine cannot see is how much the sound server still
  // plays after the flush (at most the block it reads ahead) and when the
  // sink restarts (a few milliseconds); it was the whole start lead and
  // more.
  EXPECT_NEAR(silence, kGap, kServerBlockMs);
  EXPECT_NEAR(passes[0]->FileEnd(), take_.MsToFrames(b), kExactFrames) << Describe(*passes[0]);
}

// The last pass: the loop cleared while it plays goes on past B without a
// break.
TEST_F(Looping, ClearedInTheLastPassPlaybackGoesOnPastB) {
  constexpr int32_t kA = 1000, kB = 2000;
  size_t start = 0;
  ASSERT_TRUE(PlayLoopFromA(kA, kB, 0, start));
  // As the transport does: the return that begins the last pass clears it.
  PlayUntil([&] { return repeats_ >= 2; }, 10s);
  ASSERT_EQ(repeats_, 2);
  player_.ClearLoop();
  PlayFor(2000ms);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(repeats_, 2) << "the loop went on after it was cleared";
  const std::vector<const HeardRun*> passes = PassesFrom(start, kA);
  ASSERT_EQ(passes.size(), 3u);
  EXPECT_EQ(ExpectSeamlessPasses(take_, passes, kA, kB, 2,
                                 [&](const HeardRun& r) { return Describe(r); }),
            2);
  const HeardRun& last = *passes[2];
  EXPECT_GE(last.FileEnd(), take_.MsToFrames(kB + 1000))
      << "the last pass did not go on past B: " << Describe(last);
}

// A silence as long as the stretch after each pass: its length is the
// loop's to within 20 ms, its start queues a gap event and the next pass a
// return; a pause in the silence keeps the rest of it.
TEST_F(Looping, TheSilenceBetweenPassesLastsItsLength) {
  constexpr int32_t kA = 1000, kB = 1600, kGap = kB - kA;
  size_t start = 0;
  ASSERT_TRUE(PlayLoopFromA(kA, kB, kGap, start));
  PlayUntil([&] { return repeats_ >= 4; }, 15s);
  ASSERT_EQ(repeats_, 4);
  // Paused in the next silence, playback resumes with what is left of it.
  PlayUntil([&] { return gaps_ >= 5; }, 5s);
  ASSERT_EQ(gaps_, 5);
  player_.Pause();
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(player_.GetPositionMs(), kA) << "the position during a silence reads A";
  ASSERT_EQ(player_.Run(), kOk);
  PlayUntil([&] { return repeats_ >= 6; }, 5s);
  ASSERT_TRUE(Finish());
  ASSERT_GE(events_.size(), 10u);
  for (size_t i = 0; i + 1 < 10; i += 2) {
    EXPECT_EQ(events_[i], kEventGapStarted) << "event " << i;
    EXPECT_EQ(events_[i + 1], kEventPassStarted) << "event " << i + 1;
  }
  const std::vector<const HeardRun*> passes = PassesFrom(start, kA);
  ASSERT_GE(passes.size(), 6u);
  for (size_t i = 0; i + 1 < passes.size(); ++i) {
    const HeardRun& first = *passes[i];
    const HeardRun& next = *passes[i + 1];
    SCOPED_TRACE("pass " + std::to_string(i + 1) + " " + Describe(first));
    // A pause breaks a pass in two runs (Run starts with a short lead), with
    // nothing lost or doubled between them.
    const HeardRun* last = &first;
    while (take_.Next(last) && take_.Next(last) != &next) {
      EXPECT_EQ(take_.Next(last)->from, last->FileEnd()) << "the pass is broken";
      last = take_.Next(last);
    }
    const HeardRun& pass = *last;
    EXPECT_NEAR(first.from, take_.MsToFrames(kA), kExactFrames);
    EXPECT_NEAR(pass.FileEnd(), take_.MsToFrames(kB), kExactFrames);
    EXPECT_EQ(test::PeakBetween(take_.heard(), pass.End(), next.at), 0.0)
        << "the silence is not silent";
    const double silenceMs =
        take_.FramesToMs(static_cast<double>(next.at) - static_cast<double>(pass.End()));
    // The fifth silence holds the pause as well.
    if (i == 4) {
      EXPECT_GT(silenceMs, kGap + 200);
    } else {
      EXPECT_NEAR(silenceMs, kGap, 20);
    }
  }
}

// How the test thread (the GUI thread of the program) behaves while a plan
// runs: the engine alone runs the plan, whatever it does.
enum class Disturbance { kNone, kBlockedThread, kCpuHogs };

struct PlanCase {
  Disturbance disturbance;
  AfterPlan after;
  const char* name;
};

class HeardPlan : public Looping, public testing::WithParamInterface<PlanCase> {};

// Two stretches of two passes each with 500 ms of silence between the passes
// of a stretch: every pass from A to B to the millisecond, each silence
// 500 ms to the millisecond, the second stretch joined to the first to the
// sample, and after the last B either playback on (joined to the sample) or
// nothing at all; the events in that order with their pass numbers.
TEST_P(HeardPlan, TwoStretchesOfTwoPassesAreHeardInOrder) {
  constexpr int32_t kA1 = 1000, kB1 = 1600, kA2 = 3000, kB2 = 3500, kGap = 500;
  const PlanCase c = GetParam();
  std::unique_ptr<test::CpuHogs> hogs;
  if (c.disturbance == Disturbance::kCpuHogs) {
    hogs = std::make_unique<test::CpuHogs>();
    ASSERT_TRUE(hogs->running()) << "could not start sha256sum";
  }
  ASSERT_TRUE(Begin());
  const size_t start = take_.Mark();
  player_.SetLoopPlan({{{kA1, kB1, kGap}, {kA2, kB2, kGap}}, 2, c.after, kA1, 1});
  ASSERT_EQ(player_.Run(), kOk);
  if (c.disturbance == Disturbance::kBlockedThread) {
    // Blocked in the middle of the first pass, past its B, and into the gap.
    std::this_thread::sleep_for(300ms);
    std::this_thread::sleep_for(600ms);
  }
  PlayUntil([&] { return ends_ >= 1; }, 10s);
  PlayFor(800ms);
  ASSERT_TRUE(Finish());
  hogs.reset();

  const std::vector<std::pair<int32_t, int32_t>> expected = {{1, 0}, {0, 0}, {2, 0}, {1, 1},
                                                             {0, 0}, {2, 1}, {0, 0}};
  const std::vector<int32_t> codes = {kEventPassStarted, kEventGapStarted, kEventPassStarted,
                                      kEventPassStarted, kEventGapStarted, kEventPassStarted,
                                      kEventPlanEnded};
  EXPECT_EQ(events_, codes);
  EXPECT_EQ(passes_, expected);

  const HeardRun* run = take_.RunFrom(start);
  std::vector<const HeardRun*> runs;
  for (; run; run = take_.Next(run)) runs.push_back(run);
  ASSERT_GE(runs.size(), 4u);
  for (const HeardRun* r : runs) std::printf("%s\n", Describe(*r).c_str());
  const int32_t as[] = {kA1, kA1, kA2, kA2}, bs[] = {kB1, kB1, kB2, kB2};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("pass " + std::to_string(i + 1) + " " + Describe(*runs[i]));
    EXPECT_NEAR(runs[i]->from, take_.MsToFrames(as[i]), kExactFrames);
    // The third pass (the hand-on) runs on from the second's last sample in
    // the same run only if it continues the file: it does not, so each pass
    // is a run of its own; the last one ends at B unless playback goes on.
    if (i < 3 || c.after == AfterPlan::kStop) {
      EXPECT_NEAR(runs[i]->FileEnd(), take_.MsToFrames(bs[i]), kExactFrames);
    } else {
      EXPECT_GE(runs[i]->FileEnd(), take_.MsToFrames(kB2 + 300)) << "playback did not go on";
    }
  }
  const auto silenceMs = [&](size_t i) {
    return take_.FramesToMs(static_cast<double>(runs[i + 1]->at) -
                            static_cast<double>(runs[i]->End()));
  };
  EXPECT_NEAR(silenceMs(0), kGap, 1.0);
  EXPECT_NEAR(static_cast<double>(runs[2]->at), static_cast<double>(runs[1]->End()), 1.0)
      << "the hand-on is not joined to the sample";
  EXPECT_NEAR(silenceMs(2), kGap, 1.0);
  if (c.after == AfterPlan::kStop) {
    EXPECT_EQ(runs.size(), 4u) << "something was heard after the last B";
    EXPECT_EQ(test::PeakBetween(take_.heard(), runs[3]->End(), take_.heard().Frames()), 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plans, HeardPlan,
    testing::Values(PlanCase{Disturbance::kNone, AfterPlan::kGoOn, "GoOn"},
                    PlanCase{Disturbance::kBlockedThread, AfterPlan::kGoOn, "GoOnThreadBlocked"},
                    PlanCase{Disturbance::kCpuHogs, AfterPlan::kStop, "StopUnderCpuHogs"}),
    [](const testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

// Seeks while a plan runs: inside [A, B) the pass plays on from there, past
// B the pass ends (its gap, then the next pass, counted), before A playback
// goes to A; the plan then ends at its last B and stops there. The seek
// inside lands 200 ms before B, nearer than the sink holds: nothing it held
// may be heard in the silence after B.
TEST_F(Looping, SeeksInAPlanFollowItsRules) {
  constexpr int32_t kA = 1000, kB = 2000, kGap = 300, kInside = kB - 200;
  ASSERT_TRUE(Begin());
  player_.SetLoopPlan({{{kA, kB, kGap}}, 3, AfterPlan::kStop, kA, 1});
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(400ms);
  const size_t inside = take_.Mark();
  player_.SeekMs(kInside);
  PlayFor(800ms);
  const size_t past = take_.Mark();
  player_.SeekMs(2500);
  PlayFor(700ms);
  const size_t before = take_.Mark();
  player_.SeekMs(200);
  PlayUntil([&] { return ends_ >= 1; }, 10s);
  PlayFor(300ms);
  ASSERT_TRUE(Finish());
  const std::vector<int32_t> codes = {kEventPassStarted, kEventGapStarted, kEventPassStarted,
                                      kEventGapStarted,  kEventPassStarted, kEventPlanEnded};
  EXPECT_EQ(events_, codes);
  if (passes_.size() == codes.size()) {
    EXPECT_EQ(passes_[0].first, 1);
    EXPECT_EQ(passes_[2].first, 2);
    EXPECT_EQ(passes_[4].first, 3);
  }
  const HeardRun* fromInside = take_.RunFrom(inside);
  ASSERT_NE(fromInside, nullptr);
  EXPECT_NEAR(fromInside->from, take_.MsToFrames(kInside), kExactFrames) << Describe(*fromInside);
  EXPECT_NEAR(fromInside->FileEnd(), take_.MsToFrames(kB), kExactFrames) << Describe(*fromInside);
  const HeardRun* second = take_.Next(fromInside);
  ASSERT_NE(second, nullptr);
  EXPECT_NEAR(second->from, take_.MsToFrames(kA), kExactFrames) << Describe(*second);
  EXPECT_EQ(test::PeakBetween(take_.heard(), fromInside->End(), second->at), 0.0)
      << "heard in the silence after B";
  const HeardRun* afterB = take_.RunFrom(past);
  ASSERT_NE(afterB, nullptr);
  EXPECT_NEAR(afterB->from, take_.MsToFrames(kA), kExactFrames) << Describe(*afterB);
  const HeardRun* toA = take_.RunFrom(before);
  ASSERT_NE(toA, nullptr);
  EXPECT_NEAR(toA->from, take_.MsToFrames(kA), kExactFrames) << Describe(*toA);
  // The last pass ends at B, and nothing follows.
  const HeardRun* last = &take_.runs().back();
  EXPECT_NEAR(last->from, take_.MsToFrames(kA), kExactFrames) << Describe(*last);
  EXPECT_NEAR(last->FileEnd(), take_.MsToFrames(kB), kExactFrames) << Describe(*last);
  EXPECT_EQ(test::PeakBetween(take_.heard(), last->End(), take_.heard().Frames()), 0.0);
  EXPECT_EQ(player_.GetPositionMs(), kB);
}

// Noise at 0.75: each pass of 3 s of the file lasts 4 s, with the silence
// between passes marking where one ends, and the position runs at three
// quarters of the pace. (scaletempo's output is made of overlapping windows
// of the file, so it cannot be found sample for sample in the decoding.)
TEST_F(Looping, ThreeSecondsAtThreeQuartersLastFourSeconds) {
  constexpr int32_t kA = 1000, kB = 4000, kGap = 300;
  ASSERT_TRUE(Begin());
  ASSERT_EQ(player_.SetRate(75), kOk);
  player_.SeekMs(kA);
  player_.SetLoopPlan(Loop(kA, kB, kGap));
  ASSERT_EQ(player_.Run(), kOk);
  PlayUntil([&] { return repeats_ >= 1; }, 10s);
  const size_t early = take_.Mark();
  const int32_t earlyPosition = player_.GetPositionMs();
  PlayFor(2000ms);
  const size_t late = take_.Mark();
  const int32_t latePosition = player_.GetPositionMs();
  PlayUntil([&] { return repeats_ >= 3; }, 15s);
  ASSERT_EQ(repeats_, 3);
  ASSERT_TRUE(Finish());

  // Silences of at least 100 ms part the passes.
  const test::Recording& heard = take_.heard();
  const std::vector<std::pair<size_t, size_t>> silences =
      test::SilencesIn(heard, static_cast<size_t>(take_.MsToFrames(100)));
  ASSERT_GE(silences.size(), 3u);
  int measured = 0;
  for (size_t i = 0; i + 1 < silences.size(); ++i) {
    const double passMs = take_.FramesToMs(static_cast<double>(silences[i + 1].first) -
                                           static_cast<double>(silences[i].second));
    const double gapMs = take_.FramesToMs(static_cast<double>(silences[i].second) -
                                          static_cast<double>(silences[i].first));
    if (i == 0) continue;  // the silence before the first pass is not the loop's
    std::printf("pass %zu lasts %.2f ms after %.2f ms of silence\n", i, passMs, gapMs);
    ++measured;
  }
  EXPECT_GE(measured, 1);
  // The position advances at 0.75 of the recorded time (marks are exact to
  // their blocks, so over two seconds to a few per cent).
  const double recordedMs = take_.FramesToMs(static_cast<double>(take_.FrameOf(late)) -
                                             static_cast<double>(take_.FrameOf(early)));
  EXPECT_NEAR((latePosition - earlyPosition) / recordedMs, 0.75, 0.06)
      << latePosition << " - " << earlyPosition << " over " << recordedMs << " ms";
}

// The two tones at 0.75 and at 0.5 keep their pitch: 440 Hz on the left and
// 1000 Hz on the right, not three quarters or half of them.
TEST_F(Looping, SlowerKeepsThePitch) {
  for (int32_t rate : {75, 50}) {
    SCOPED_TRACE("rate " + std::to_string(rate));
    test::NullSinkRecording recording;
    const std::string wav = dir_.File("tones" + std::to_string(rate) + ".wav");
    ASSERT_TRUE(recording.Start(wav));
    GstPlayer player;
    ASSERT_EQ(player.BuildWithMp3Parser(test::Fixture("cbr_stereo.mp3")), kOk);
    ASSERT_EQ(player.SetRate(rate), kOk);
    player.SeekMs(500);
    ASSERT_EQ(player.Run(), kOk);
    std::this_thread::sleep_for(1500ms);
    player.Pause();
    std::this_thread::sleep_for(100ms);
    recording.Stop();
    test::Recording r;
    ASSERT_TRUE(test::ReadWav(wav, r));
    ASSERT_GE(test::Audible(test::Windows(r)).size(), 10u);
    EXPECT_NEAR(test::ToneFrequency(r, 0), 440, 20);
    EXPECT_NEAR(test::ToneFrequency(r, 1), 1000, 40);
  }
}

}  // namespace
}  // namespace orvex
