// The learning aids as heard: the application object drives the real
// GStreamer player into the private null sink, as the main window does (a
// 25 ms tick, the player's events taken as they come, the sentence analysis
// on its own thread), while the sink's monitor is recorded. Every recorded
// stretch is then found in the file's own decoding (test::HeardTake), so the
// file frame a pass starts and ends on is known to the sample. Nothing is
// judged on the wall clock: waits only wait, and every check is on positions
// in the recording.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app.h"
#include "core/sentence_finder.h"
#include "playback/engine_player.h"
#include "playback/gst_player.h"
#include "playback/sentence_analysis.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/sound_check.h"
#include "tests/support/recording_shell.h"
#include "tests/sentences/lesson_files.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::HeardRun;

// Heard within a millisecond: 44 frames at 44.1 kHz.
constexpr int64_t kExactFrames = 44;

// The window side of the sentence analysis without Qt: the real analysis on
// its own thread, whose answers wait until the test's loop hands them to the
// application on the test's thread (as SentenceService posts them to the GUI
// thread).
class QueuedAnalyzer : public SentenceAnalyzer {
 public:
  ~QueuedAnalyzer() override { Cancel(); }

  void Start(uint32_t request, const std::string& path) override {
    Cancel();
    SentenceAnalysisCallbacks callbacks;
    callbacks.progress = [this, request](int percent) {
      std::lock_guard lock(mutex_);
      posted_.push_back([request, percent](App& app) { app.SentenceProgress(request, percent); });
    };
    callbacks.done = [this, request](SentenceAnalysisResult&& result) {
      std::vector<Sentence> sentences;
      if (result.ok) sentences = std::move(result.sentences);
      std::lock_guard lock(mutex_);
      posted_.push_back([request, found = std::move(sentences)](App& app) mutable {
        app.SentencesFound(request, std::move(found));
      });
    };
    analysis_ = std::make_unique<SentenceAnalysis>(path, std::move(callbacks));
  }
  void Cancel() override {
    if (!analysis_) return;
    analysis_->Cancel();
    analysis_.reset();
    std::lock_guard lock(mutex_);
    posted_.clear();
  }
  // Hands what the analysis posted to the application.
  void Deliver(App& app) {
    std::vector<std::function<void(App&)>> posted;
    {
      std::lock_guard lock(mutex_);
      posted.swap(posted_);
    }
    for (auto& call : posted) call(app);
  }

 private:
  std::unique_ptr<SentenceAnalysis> analysis_;
  std::mutex mutex_;
  std::vector<std::function<void(App&)>> posted_;
};

// Two processes that keep both cores busy while they live (ORVEX_HEARD_HOGS=1
// asks for them): the learner's machine compiling, say.
class CpuHogs {
 public:
  CpuHogs() {
    const char* wanted = std::getenv("ORVEX_HEARD_HOGS");
    if (!wanted || std::string(wanted) != "1") return;
    for (int i = 0; i < 2; ++i) {
      char program[] = "sha256sum";
      char input[] = "/dev/zero";
      char* argv[] = {program, input, nullptr};
      pid_t pid = 0;
      if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) == 0) pids_.push_back(pid);
    }
    std::printf("beside %zu CPU hogs\n", pids_.size());
  }
  ~CpuHogs() {
    for (const pid_t pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  CpuHogs(const CpuHogs&) = delete;
  CpuHogs& operator=(const CpuHogs&) = delete;

 private:
  std::vector<pid_t> pids_;
};

class HeardLearn : public test::SoundTest {
 protected:
  HeardLearn()
      : config_("XDG_CONFIG_HOME", dir_.File("config")),
        cache_("XDG_CACHE_HOME", dir_.File("cache")) {
    app_.SetSentenceAnalyzer(&analyzer_);
    // Full volume: the file's samples are heard as they are decoded.
    app_.ApplySettings(Settings{0, kVolumeFull, 3});
  }
  void TearDown() override { EXPECT_TRUE(shell_.errors.empty()) << shell_.errors.front(); }

  // Starts recording, then opens the file, which plays from its start.
  bool Open(const std::string& file) {
    if (!take_.Start(file, dir_.File("heard.wav"))) {
      ADD_FAILURE() << "could not decode " << file << " or start parec";
      return false;
    }
    app_.OpenFile(file);
    // The player builds on its own thread; its result comes as an event.
    const bool playing = PumpUntil([&] { return view().playState == Playing; }, 10s);
    EXPECT_TRUE(playing) << "the file did not play";
    return playing;
  }
  // The main window's part: every 25 ms the analysis's answers and the
  // player's events are taken and, while playing, the tick runs. Stops when
  // the condition holds; false when the limit came first.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      StallMidPass();
      std::this_thread::sleep_for(25ms);
      analyzer_.Deliver(app_);
      app_.OnGraphEvent();
      if (view().playState == Playing) app_.Tick();
    }
    return true;
  }
  // With stall_ set, the GUI thread stops for that long once in the middle
  // of every pass, as a busy window does: what is heard must not change.
  void StallMidPass() {
    const TransportView& v = view();
    if (stall_.count() == 0 || v.pass == 0 || v.pointB == -1) return;
    if (v.positionMs < v.pointA + 300 || v.positionMs > v.pointB - 400) return;
    if (!stalled_.insert({v.pointA, v.pass}).second) return;
    std::this_thread::sleep_for(stall_);
  }
  void PumpFor(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
  }
  // Waits until the loop's pass counter reaches pass and the position lies
  // in the middle of a pass, well away from both seams.
  bool PumpToMidPass(int32_t pass) {
    return PumpUntil(
        [&] {
          const TransportView& v = view();
          return v.pass >= pass && v.positionMs >= v.pointA + 400 && v.positionMs <= v.pointB - 600;
        },
        15s);
  }
  // Lets the monitor catch up, stops and follows the recording.
  bool Finish() {
    PumpFor(200ms);
    last_ = take_.Mark();
    app_.TogglePlay();
    const bool followed = take_.Finish();
    EXPECT_TRUE(followed) << "no recording";
    return followed;
  }

  const TransportView& view() const { return app_.view(); }
  // Repeat count 2, B set by key: what is heard (see the test).
  void BSetByKeyThenTwoPasses();
  double Ms(int64_t frames) const { return take_.FramesToMs(static_cast<double>(frames)); }
  std::string Describe(const HeardRun& run) const {
    char text[128];
    std::snprintf(text, sizeof text, "[%.3f ms .. %.3f ms of the file at %.3f s]", Ms(run.from),
                  Ms(run.FileEnd()), Ms(static_cast<int64_t>(run.at)) / 1000);
    return text;
  }
  // Heard error of a file frame against a point in ms.
  double ErrorMs(int64_t frame, int32_t ms) const { return Ms(frame - take_.MsToFrames(ms)); }

  CpuHogs hogs_;
  std::chrono::milliseconds stall_{0};
  std::set<std::pair<int32_t, int32_t>> stalled_;  // (A, pass)
  test::TempDir dir_;
  test::ScopedEnv config_;
  test::ScopedEnv cache_;
  test::HeardTake take_;
  QueuedAnalyzer analyzer_;
  test::ErrorShell shell_;
  GstPlayerFactory factory_;
  App app_{shell_, &factory_};
  size_t last_ = 0;  // the mark when the take ended
};

// --- Nudging A and B -------------------------------------------------------

// What one command made heard until the next: a lead-in from leadMs to B,
// then passes from A to B.
struct Phase {
  std::string what;
  size_t mark = 0;  // taken just before the command
  int32_t leadMs = 0;
  int32_t aMs = 0;
  int32_t bMs = 0;
};

// The heard errors of one phase, in ms.
struct PhaseHeard {
  double leadStart = 0;
  double passStart = 0;  // of the first complete pass
  double passEnd = 0;
  int passes = 0;  // complete passes heard
};

// A on the way, B on the way: the loop is the learner's own; then A moves
// 50 ms later, B 50 ms earlier, and B back again. Each nudge is heard at once
// (A: from the new A; B: from 1.5 s before the new B), and every pass after
// it runs from the new A to the new B, seamlessly.
TEST_F(HeardLearn, NudgesMoveTheHeardStartAndEndBy50Ms) {
  ASSERT_TRUE(Open(test::Fixture("noise.mp3")));
  ASSERT_GE(view().lengthMs, 5000);
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= 800; }, 10s));
  app_.RepeatKey();
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= 2900; }, 10s));
  app_.RepeatKey();
  const int32_t a = view().pointA, b = view().pointB;
  ASSERT_GE(b - a, 1800) << "A " << a << ", B " << b;
  std::vector<Phase> phases;
  phases.push_back({"A-B set", take_.Mark(), a, a, b});

  // The pass after the return that follows B, then one whole pass; in the
  // middle of the next, A moves.
  ASSERT_TRUE(PumpToMidPass(2)) << "the loop did not go round";
  phases.push_back({"A +50 ms", take_.Mark(), a + 50, a + 50, b});
  app_.NudgeA(kNudgeMs);
  ASSERT_EQ(view().pointA, a + 50);
  ASSERT_EQ(view().pointB, b);
  // The pass from the new A counts as the first.
  ASSERT_TRUE(PumpToMidPass(3));

  phases.push_back({"B -50 ms", take_.Mark(), b - 50 - kNudgeBLeadMs, a + 50, b - 50});
  app_.NudgeB(-kNudgeMs);
  ASSERT_EQ(view().pointA, a + 50);
  ASSERT_EQ(view().pointB, b - 50);
  ASSERT_TRUE(PumpToMidPass(2));

  phases.push_back({"B +50 ms", take_.Mark(), b - kNudgeBLeadMs, a + 50, b});
  app_.NudgeB(kNudgeMs);
  ASSERT_EQ(view().pointB, b);
  ASSERT_TRUE(PumpToMidPass(2));
  ASSERT_TRUE(Finish());

  std::vector<PhaseHeard> heard(phases.size());
  for (size_t p = 0; p < phases.size(); ++p) {
    const Phase& phase = phases[p];
    SCOPED_TRACE(phase.what);
    const size_t end = take_.EarliestFrameOf(p + 1 < phases.size() ? phases[p + 1].mark : last_);
    const HeardRun* first = take_.RunFrom(phase.mark);
    ASSERT_NE(first, nullptr) << "nothing heard";
    // The run in progress when B was set ends where B was pressed, not at
    // B: only the passes after it count, the first of them from the mark on.
    const HeardRun* before = nullptr;
    const HeardRun* run = first;
    if (p == 0 && first != take_.runs().data()) {
      // For the record: how far past B the pass in progress was heard (B is
      // where the position was when the key was pressed).
      std::printf("B set by key: the pass in progress heard to %+.3f ms past B\n",
                  ErrorMs((first - 1)->FileEnd(), phase.bMs));
    }
    if (p > 0) {
      heard[p].leadStart = ErrorMs(first->from, phase.leadMs);
      EXPECT_NEAR(first->from, take_.MsToFrames(phase.leadMs), kExactFrames)
          << "heard from " << Describe(*first);
      EXPECT_NEAR(first->FileEnd(), take_.MsToFrames(phase.bMs), kExactFrames)
          << "heard " << Describe(*first);
      before = first;
      run = take_.Next(first);
    }
    for (; run && run->at < end; before = run, run = take_.Next(run)) {
      SCOPED_TRACE("pass " + Describe(*run));
      EXPECT_NEAR(run->from, take_.MsToFrames(phase.aMs), kExactFrames);
      // Seamless: the pass starts on the frame after the one before.
      if (before) {
        EXPECT_NEAR(static_cast<double>(run->at), static_cast<double>(before->End()), 1.0);
      }
      if (run->End() >= end) break;  // cut by the next command
      EXPECT_NEAR(run->FileEnd(), take_.MsToFrames(phase.bMs), kExactFrames);
      if (heard[p].passes++ == 0) {
        heard[p].passStart = ErrorMs(run->from, phase.aMs);
        heard[p].passEnd = ErrorMs(run->FileEnd(), phase.bMs);
      }
    }
    EXPECT_GE(heard[p].passes, 1) << "no whole pass heard";
    std::printf("%-9s lead-in %+.3f ms, %d passes, first: start %+.3f ms, end %+.3f ms\n",
                phase.what.c_str(), heard[p].leadStart, heard[p].passes, heard[p].passStart,
                heard[p].passEnd);
  }
  // The heard start moved from A to A + 50 ms, the heard end from B to
  // B - 50 ms and back.
  for (const PhaseHeard& h : heard) ASSERT_GE(h.passes, 1);
  const double startMoved = 50 + heard[1].passStart - heard[0].passStart;
  const double endDown = -50 + heard[2].passEnd - heard[1].passEnd;
  const double endUp = 50 + heard[3].passEnd - heard[2].passEnd;
  std::printf("heard start moved %+.3f ms; heard end moved %+.3f ms, then %+.3f ms\n", startMoved,
              endDown, endUp);
  EXPECT_NEAR(startMoved, 50, 1.0);
  EXPECT_NEAR(endDown, -50, 1.0);
  EXPECT_NEAR(endUp, 50, 1.0);
}

// The loop a drag in the wave strip asks for (2.0 s to 3.5 s): heard from A
// at once, each pass from A to B, seamless.
TEST_F(HeardLearn, AStretchFromTheWaveStripIsHeardFromA) {
  ASSERT_TRUE(Open(test::Fixture("noise.mp3")));
  ASSERT_GE(view().lengthMs, 4000);
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= 500; }, 10s));
  const size_t mark = take_.Mark();
  app_.LoopStretch(3500, 2000);
  ASSERT_EQ(view().pointA, 2000);
  ASSERT_EQ(view().pointB, 3500);
  ASSERT_TRUE(PumpUntil([&] { return view().pass >= 3; }, 20s)) << "the loop did not go round";
  ASSERT_TRUE(Finish());
  const HeardRun* run = take_.RunFrom(mark);
  ASSERT_NE(run, nullptr) << "nothing heard";
  int passes = 0;
  for (const HeardRun* before = nullptr; run && run->End() < take_.EarliestFrameOf(last_);
       before = run, run = take_.Next(run)) {
    SCOPED_TRACE("pass " + Describe(*run));
    EXPECT_NEAR(run->from, take_.MsToFrames(2000), kExactFrames);
    EXPECT_NEAR(run->FileEnd(), take_.MsToFrames(3500), kExactFrames);
    if (before) {
      EXPECT_NEAR(static_cast<double>(run->at), static_cast<double>(before->End()), 1.0);
    }
    ++passes;
  }
  EXPECT_GE(passes, 2);
}

// Repeat count 2, B set by key where playback is: the pass in progress ends
// there, and exactly two passes from A follow, the second going on past B.
void HeardLearn::BSetByKeyThenTwoPasses() {
  ASSERT_TRUE(Open(test::Fixture("noise.mp3")));
  app_.SetRepeatCount(2);
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= 800; }, 10s));
  app_.RepeatKey();
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= 2500; }, 10s));
  const size_t set = take_.Mark();
  app_.RepeatKey();
  const int32_t a = view().pointA, b = view().pointB;
  ASSERT_GE(b - a, 1500) << "A " << a << ", B " << b;
  // Until the points are gone and playback is well past B.
  ASSERT_TRUE(PumpUntil([&] { return view().pointB == -1 && view().positionMs >= b + 1000; }, 20s))
      << "the loop did not end after its passes";
  PumpFor(800ms);  // the recording lags what the clock says is heard
  ASSERT_TRUE(Finish());

  const HeardRun* cut = take_.RunPlayingAt(set);
  ASSERT_NE(cut, nullptr) << "nothing heard when B was set";
  std::printf("B set by key: the pass in progress heard to %+.3f ms past B\n",
              ErrorMs(cut->FileEnd(), b));
  std::vector<const HeardRun*> passes;
  for (const HeardRun* run = take_.Next(cut); run; run = take_.Next(run)) {
    if (std::llabs(run->from - take_.MsToFrames(a)) <= kExactFrames) passes.push_back(run);
  }
  ASSERT_EQ(passes.size(), 2u) << "passes heard from A after B was set";
  EXPECT_EQ(passes[0], take_.Next(cut)) << "something else was heard before the first pass";
  EXPECT_NEAR(passes[0]->FileEnd(), take_.MsToFrames(b), kExactFrames) << Describe(*passes[0]);
  EXPECT_EQ(passes[1], take_.Next(passes[0]));
  EXPECT_NEAR(static_cast<double>(passes[1]->at), static_cast<double>(passes[0]->End()), 1.0);
  // On past B without a break: the last pass runs on, or the very next
  // recorded frame goes on from B (to the sample; the decoder's restart at B
  // may repeat one).
  const HeardRun* on = passes[1];
  if (on->FileEnd() < take_.MsToFrames(b + 500) && take_.Next(on)) {
    const HeardRun* next = take_.Next(on);
    EXPECT_NEAR(static_cast<double>(next->at), static_cast<double>(on->End()), 1.0);
    EXPECT_NEAR(next->from, on->FileEnd(), kExactFrames) << Describe(*next);
    on = next;
  }
  EXPECT_GE(on->FileEnd(), take_.MsToFrames(b + 500))
      << "playback did not go on past B: " << Describe(*on);
}

TEST_F(HeardLearn, BSetByKeyIsFollowedByTheCountedPassesOnly) {
  BSetByKeyThenTwoPasses();
}

// The same while the window stops for 300 ms in the middle of each pass.
TEST_F(HeardLearn, BSetByKeyHoldsWhileTheWindowStalls) {
  stall_ = 300ms;
  BSetByKeyThenTwoPasses();
  EXPECT_GE(stalled_.size(), 2u) << "the window never stalled in a pass";
}

// --- Sentences --------------------------------------------------------------

class HeardSentences : public HeardLearn {
 protected:
  // Opens the lesson, waits for its sentences from the analysis and stops
  // (the position goes back to the start, before the first sentence).
  bool OpenLesson(const char* name = "hiss.mp3") {
    truth_ = test::ReadTruth(test::Lesson("hiss.truth"));
    if (!Open(test::Lesson(name))) return false;
    if (!PumpUntil([&] { return view().sentences && view().analysing < 0; }, 60s)) {
      ADD_FAILURE() << "no sentences found";
      return false;
    }
    sentences_ = *view().sentences;
    EXPECT_EQ(sentences_.size(), truth_.size());
    app_.Stop();
    return sentences_.size() >= 5;
  }
  // The sentence found for spoken sentence k holds its sound and none of
  // its neighbours'.
  void ExpectTheSpokenSentence(size_t k) {
    ASSERT_LT(k, std::min(sentences_.size(), truth_.size()));
    const Sentence& s = sentences_[k];
    EXPECT_LE(s.startMs, truth_[k].firstSoundMs) << "sentence " << k;
    EXPECT_GE(s.endMs, truth_[k].lastSoundMs) << "sentence " << k;
    if (k > 0) {
      EXPECT_GE(s.startMs, truth_[k - 1].lastSoundMs) << "sentence " << k;
    }
    if (k + 1 < truth_.size()) {
      EXPECT_LE(s.endMs, truth_[k + 1].firstSoundMs) << "sentence " << k;
    }
  }
  // The index of the sentence whose A the run starts at; -1 for none.
  int SentenceStartingAt(const HeardRun& run) const {
    for (size_t k = 0; k < sentences_.size(); ++k) {
      if (std::llabs(run.from - take_.MsToFrames(sentences_[k].startMs)) <= kExactFrames)
        return static_cast<int>(k);
    }
    return -1;
  }

  // Repeat count 2 from the first sentence: what is heard (see the test).
  void EachSentenceTwice();

  std::vector<test::SpokenSentence> truth_;
  std::vector<Sentence> sentences_;
};

// The same lesson as AAC in MP4: its sentences are found in its own sound,
// on the same time line, and each PageDown is heard from its sentence's start.
TEST_F(HeardSentences, PageDownInAnAacLessonLandsOnEachSentence) {
  ASSERT_TRUE(OpenLesson("hiss.m4a"));
  for (size_t k = 0; k < 3; ++k) ExpectTheSpokenSentence(k);
  std::vector<size_t> presses;
  for (int k = 0; k < 3; ++k) {
    presses.push_back(take_.Mark());
    app_.NextSentence();
    ASSERT_EQ(view().sentence, k);
    PumpFor(700ms);
  }
  ASSERT_TRUE(Finish());
  for (size_t i = 0; i < presses.size(); ++i) {
    const HeardRun* run = take_.RunFrom(presses[i]);
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(SentenceStartingAt(*run), static_cast<int>(i))
        << "PageDown " << i + 1 << " heard from " << Describe(*run) << " sentence at " << sentences_[i].startMs;
  }
}

// PageDown three times from the stop, then PageUp: the second sentence is
// the loop; the window shows its A and B, and every pass heard runs from
// its A to its B. Each press is heard at once from its sentence's start.
TEST_F(HeardSentences, PageDownThreeTimesThenPageUpLoopsTheSecondSentence) {
  ASSERT_TRUE(OpenLesson());
  std::vector<std::pair<size_t, int>> presses;  // mark, sentence
  for (int k = 0; k < 3; ++k) {
    presses.emplace_back(take_.Mark(), k);
    app_.NextSentence();
    ASSERT_EQ(view().sentence, k);
    PumpFor(700ms);
  }
  presses.emplace_back(take_.Mark(), 1);
  app_.PreviousSentence();
  const Sentence& s = sentences_[1];
  ASSERT_EQ(view().sentence, 1);
  EXPECT_EQ(view().pointA, s.startMs);
  EXPECT_EQ(view().pointB, s.endMs);
  EXPECT_EQ(view().playState, Playing);
  ExpectTheSpokenSentence(1);
  // The pass begun at A, and two more.
  ASSERT_TRUE(PumpUntil([&] { return view().pass >= 3; }, 20s)) << "the loop did not go round";
  EXPECT_EQ(view().pointA, s.startMs);
  EXPECT_EQ(view().pointB, s.endMs);
  ASSERT_TRUE(Finish());

  for (size_t i = 0; i + 1 < presses.size(); ++i) {
    const HeardRun* run = take_.RunFrom(presses[i].first);
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(SentenceStartingAt(*run), presses[i].second)
        << "PageDown " << i + 1 << " heard from " << Describe(*run);
  }
  const HeardRun* run = take_.RunFrom(presses.back().first);
  ASSERT_NE(run, nullptr);
  int whole = 0;
  double worstStart = 0, worstEnd = 0;
  for (const HeardRun* before = nullptr; run && run->at < take_.EarliestFrameOf(last_);
       before = run, run = take_.Next(run)) {
    SCOPED_TRACE("pass " + Describe(*run));
    EXPECT_NEAR(run->from, take_.MsToFrames(s.startMs), kExactFrames);
    if (before) {
      EXPECT_NEAR(static_cast<double>(run->at), static_cast<double>(before->End()), 1.0);
    }
    worstStart = std::max(worstStart, std::abs(ErrorMs(run->from, s.startMs)));
    if (!take_.Next(run)) break;  // cut by the stop
    EXPECT_NEAR(run->FileEnd(), take_.MsToFrames(s.endMs), kExactFrames);
    worstEnd = std::max(worstEnd, std::abs(ErrorMs(run->FileEnd(), s.endMs)));
    ++whole;
  }
  EXPECT_GE(whole, 2);
  std::printf(
      "sentence 2 of %zu [%d ms, %d ms): %d whole passes, worst |start| %.3f ms, "
      "worst |end| %.3f ms\n",
      sentences_.size(), s.startMs, s.endMs, whole, worstStart, worstEnd);
}

// Repeat count 2 in sentence mode: PageDown plays the first sentence twice,
// then each next one twice, in order, each pass from A to B and nothing else
// heard in between.
void HeardSentences::EachSentenceTwice() {
  ASSERT_TRUE(OpenLesson());
  app_.SetRepeatCount(2);
  const size_t start = take_.Mark();
  app_.NextSentence();
  ASSERT_EQ(view().sentence, 0);
  // Three sentences, and the fourth begun.
  ASSERT_TRUE(PumpUntil([&] { return view().sentence >= 3; }, 40s))
      << "stuck at sentence " << view().sentence;
  EXPECT_EQ(view().sentence, 3);
  EXPECT_EQ(view().pointA, sentences_[3].startMs);
  EXPECT_EQ(view().pointB, sentences_[3].endMs);
  PumpFor(500ms);
  ASSERT_TRUE(Finish());

  // The passes heard, in order. One run holds two passes where a sentence
  // ends exactly where the next begins: the player hands on at B, to the
  // sample.
  struct Pass {
    int sentence;
    int64_t from, to;  // file frames
    size_t at, end;    // recorded frames
  };
  std::vector<Pass> passes;
  std::string heard;
  for (const HeardRun* run = take_.RunFrom(start); run; run = take_.Next(run)) {
    heard += "\n  " + Describe(*run);
    int64_t from = run->from;
    size_t at = run->at;
    for (;;) {
      int k = -1;
      for (size_t i = 0; i < sentences_.size(); ++i) {
        if (std::llabs(from - take_.MsToFrames(sentences_[i].startMs)) <= kExactFrames) {
          k = static_cast<int>(i);
        }
      }
      const int64_t b = k >= 0 ? take_.MsToFrames(sentences_[static_cast<size_t>(k)].endMs) : -1;
      if (k < 0 || run->FileEnd() <= b + kExactFrames) {
        passes.push_back({k, from, run->FileEnd(), at, run->End()});
        break;
      }
      passes.push_back({k, from, b, at, at + static_cast<size_t>(b - from)});
      at += static_cast<size_t>(b - from);
      from = b;
    }
  }
  std::vector<int> order;
  for (const Pass& pass : passes) order.push_back(pass.sentence);
  const std::vector<int> expected = {0, 0, 1, 1, 2, 2, 3};
  ASSERT_EQ(order, expected) << "heard:" << heard;
  for (size_t i = 0; i + 1 < expected.size(); ++i) {
    const Pass& pass = passes[i];
    const Sentence& s = sentences_[static_cast<size_t>(expected[i])];
    SCOPED_TRACE("pass " + std::to_string(i));
    // Every pass, the last of a sentence too, ends at B, and the next pass
    // (the same sentence again, or the next one) follows on the next frame.
    EXPECT_NEAR(pass.from, take_.MsToFrames(s.startMs), kExactFrames);
    EXPECT_NEAR(pass.to, take_.MsToFrames(s.endMs), kExactFrames);
    EXPECT_NEAR(static_cast<double>(passes[i + 1].at), static_cast<double>(pass.end), 1.0);
    std::printf("sentence %d pass %zu: start %+.3f ms, end %+.3f ms\n", expected[i] + 1, i % 2 + 1,
                ErrorMs(pass.from, s.startMs), ErrorMs(pass.to, s.endMs));
  }
  for (size_t k = 0; k < 3; ++k) ExpectTheSpokenSentence(k);
}

TEST_F(HeardSentences, RepeatCountTwoPlaysEachSentenceTwiceInOrder) {
  EachSentenceTwice();
}

// The same while the window stops for 300 ms in the middle of each pass:
// the order heard, and every A and B, stay as they are.
TEST_F(HeardSentences, RepeatCountTwoHoldsWhileTheWindowStalls) {
  stall_ = 300ms;
  EachSentenceTwice();
  EXPECT_GE(stalled_.size(), 4u) << "the window did not stall in the passes";
}

// --- Study memory -------------------------------------------------------------

// A 2 s loop at 0.75x, then the program quits; started again, the same file
// resumes looping the same A..B at 0.75x. With a second of silence between
// the passes, each pass is heard lasting (B - A) / 0.75. (scaletempo's output
// cannot be found sample for sample in the decoding, so the passes are told
// by the silences between them.)
TEST_F(HeardLearn, ARestartResumesTheLoopAtItsSpeed) {
  const StudyStore store(dir_.File("state"));
  const std::string file = test::Fixture("noise.mp3");
  int32_t a = -1, b = -1;
  {
    test::ErrorShell shell;
    App first(shell, &factory_);
    first.SetStudyStore(&store);
    const auto pump = [&](const std::function<bool()>& done) {
      const auto end = std::chrono::steady_clock::now() + 10s;
      while (!done() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(25ms);
        first.OnGraphEvent();
        if (first.view().playState == Playing) first.Tick();
      }
      return done();
    };
    first.OpenFile(file);
    ASSERT_TRUE(pump([&] { return first.view().positionMs >= 1000; }));
    first.RepeatKey();
    ASSERT_TRUE(pump([&] { return first.view().positionMs >= 3000; }));
    first.RepeatKey();
    first.SetRate(75);
    a = first.view().pointA;
    b = first.view().pointB;
    ASSERT_GE(b - a, 1800);
    ASSERT_TRUE(pump([&] { return first.view().pass >= 1; }));
    first.ExitProgram();
    ASSERT_TRUE(shell.errors.empty()) << shell.errors.front();
  }

  app_.SetStudyStore(&store);
  app_.SetRepeatGap(RepeatGap::kOne);
  ASSERT_TRUE(Open(file));
  EXPECT_EQ(view().pointA, a);
  EXPECT_EQ(view().pointB, b);
  EXPECT_EQ(view().rate, 75);
  bool inside = true;
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (!view().inGap) inside = inside && view().positionMs >= a && view().positionMs <= b;
        return view().pass >= 5;
      },
      40s))
      << "the loop did not go round";
  EXPECT_TRUE(inside) << "playback left A..B";
  ASSERT_TRUE(Finish());

  // The passes between the silences.
  const test::Recording& heard = take_.heard();
  const std::vector<std::pair<size_t, size_t>> silences =
      test::SilencesIn(heard, static_cast<size_t>(take_.MsToFrames(500)));
  const double expected = (b - a) / 0.75;
  int measured = 0;
  // Each pass between two gaps (the quiet before the first sound is none).
  for (size_t i = silences.empty() || silences[0].first > 0 ? 0 : 1; i + 1 < silences.size(); ++i) {
    const double passMs = take_.FramesToMs(static_cast<double>(silences[i + 1].first) -
                                           static_cast<double>(silences[i].second));
    std::printf("resumed pass %zu lasts %.2f ms (B - A at 0.75x: %.2f ms)\n", i, passMs,
                expected);
    EXPECT_NEAR(passMs, expected, expected * 0.03);
    ++measured;
  }
  EXPECT_GE(measured, 2) << silences.size() << " silences heard";
}

// A place kept across a restart: the file is heard again from it, to within
// one decoded frame, and from nothing before it.
TEST_F(HeardLearn, ARestartResumesAtTheKeptPlace) {
  const StudyStore store(dir_.File("state"));
  const std::string file = test::Fixture("noise.mp3");
  constexpr int32_t kPlace = 2345;
  {
    test::ErrorShell shell;
    App first(shell, &factory_);
    first.SetStudyStore(&store);
    first.OpenFile(file);
    for (int i = 0; i < 400 && first.view().playState != Playing; ++i) {
      std::this_thread::sleep_for(25ms);
      first.OnGraphEvent();
    }
    ASSERT_EQ(first.view().playState, Playing);
    first.SeekTo(kPlace);
    first.TogglePlay();  // paused there
    ASSERT_EQ(first.view().playState, Paused);
    first.ExitProgram();
  }
  app_.SetStudyStore(&store);
  ASSERT_TRUE(Open(file));
  PumpFor(1500ms);
  ASSERT_TRUE(Finish());
  ASSERT_FALSE(take_.runs().empty()) << "nothing heard";
  const HeardRun& run = take_.runs().front();
  std::printf("resumed at %+.3f ms from the kept place; %zu runs heard\n",
              ErrorMs(run.from, kPlace), take_.runs().size());
  // An MPEG frame is 1152 samples.
  EXPECT_NEAR(run.from, take_.MsToFrames(kPlace), 1152) << Describe(run);
  EXPECT_GE(run.FileEnd(), take_.MsToFrames(kPlace + 1000)) << Describe(run);
}

// --- The engine on its own thread ------------------------------------------

namespace {

// A minute of white noise, made at test time: it never repeats, so every
// stretch heard is found in it.
std::string NoiseLesson(const test::TempDir& dir) {
  const std::string wav = dir.File("noise.wav"), mp3 = dir.File("noise60.mp3");
  const std::string command = "sox -D -n -r 44100 -c 2 -b 16 '" + wav +
                              "' synth 60 whitenoise vol 0.3 && lame --quiet --cbr -b 192 '" +
                              wav + "' '" + mp3 + "'";
  return std::system(command.c_str()) == 0 ? mp3 : std::string();
}

// The calls the window makes, timed; only a call that never comes back
// fails (a second stands for that), the rest is printed.
class CallTimes {
 public:
  void Time(const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    times_.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start)
                         .count());
  }
  void Check(const char* what) {
    ASSERT_FALSE(times_.empty());
    std::vector<double> t = times_;
    std::sort(t.begin(), t.end());
    std::printf("%s: %zu calls, median %.3f ms, 99th %.3f ms, max %.3f ms\n", what, t.size(),
                t[t.size() / 2], t[t.size() * 99 / 100], t.back());
    EXPECT_LT(t.back(), 1000.0) << "a call held the window";
  }

 private:
  std::vector<double> times_;
};

}  // namespace

// Three jumps, then ten at 30 Hz (a held key), then a pause: each jump is
// heard whole (3 s from the place heard at its cut, to the millisecond),
// without a silence, the burst adds up to 30 s however its jumps were
// merged, and the pause is heard at once.
TEST_F(HeardLearn, JumpsAreHeardWholeAlsoInABurst) {
  const std::string lesson = NoiseLesson(dir_);
  ASSERT_FALSE(lesson.empty()) << "sox or lame failed";
  ASSERT_TRUE(Open(lesson));
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= 1000; }, 10s));
  std::vector<size_t> singles;
  for (int i = 0; i < 3; ++i) {
    singles.push_back(take_.Mark());
    app_.JumpForward();
    PumpFor(1000ms);
  }
  const size_t burst = take_.Mark();
  for (int i = 0; i < 10; ++i) {
    app_.JumpForward();
    std::this_thread::sleep_for(33ms);
    app_.OnGraphEvent();
  }
  PumpFor(700ms);
  const size_t pause = take_.Mark();
  app_.TogglePlay();
  PumpFor(400ms);
  ASSERT_TRUE(take_.Finish());

  // Each cut: the run before it ends where the next begins (no silence),
  // and the file moves on by the jump.
  auto jumpAfter = [&](const HeardRun* run) -> double {
    const HeardRun* next = take_.Next(run);
    if (!next) {
      ADD_FAILURE() << "nothing heard after " << Describe(*run);
      return 0;
    }
    EXPECT_NEAR(static_cast<double>(next->at), static_cast<double>(run->End()), 1.0)
        << "a silence or a gap between " << Describe(*run) << " and " << Describe(*next);
    return Ms(next->from - run->FileEnd());
  };
  for (const size_t mark : singles) {
    const HeardRun* run = take_.RunPlayingAt(mark);
    ASSERT_NE(run, nullptr);
    const double jump = jumpAfter(run);
    std::printf("a jump heard as %.3f ms\n", jump);
    EXPECT_NEAR(jump, 3000, 1.0) << "after " << Describe(*run);
  }
  const HeardRun* run = take_.RunPlayingAt(burst);
  const HeardRun* last = take_.RunPlayingAt(pause);
  ASSERT_NE(run, nullptr);
  ASSERT_NE(last, nullptr);
  // Jumps merged on their way, or cut one after another, add up: the file
  // runs 30 s ahead of the recording, and no silence lies between.
  const double total = Ms(last->Offset() - run->Offset());
  int cuts = 0;
  for (const HeardRun* r = run; r != last; r = take_.Next(r)) ++cuts;
  std::printf("the burst of ten: %d cuts heard, %.3f ms in all\n", cuts, total);
  EXPECT_NEAR(total, 30000, 1.0);
  for (const auto& [from, to] : test::SilencesIn(take_.heard(), take_.MsToFrames(1))) {
    EXPECT_FALSE(from < last->End() && to > run->at)
        << "a silence of " << Ms(static_cast<int64_t>(to - from)) << " ms in the burst";
  }
  // The pause ends what is heard at once, and nothing follows it.
  const double pauseMs = Ms(static_cast<int64_t>(last->End()) -
                            static_cast<int64_t>(take_.FrameOf(pause)));
  std::printf("the pause heard %.1f ms after the key (marks within %d ms)\n", pauseMs,
              test::kMarkSlackMs);
  EXPECT_LE(pauseMs, 100 + test::kMarkSlackMs);
  EXPECT_EQ(take_.Next(last), nullptr);
}

// Thousands of loops dragged on the wave strip and of ← → ↑ keys while
// playing (seeded): every call comes back, the player still plays after
// them, and its thread ends when the file is closed.
TEST_F(HeardLearn, AStormOfDragsAndKeysNeverHoldsTheWindow) {
  const std::string lesson = NoiseLesson(dir_);
  ASSERT_FALSE(lesson.empty()) << "sox or lame failed";
  ASSERT_TRUE(Open(lesson));
  std::mt19937 random(18);
  CallTimes calls;
  for (int i = 0; i < 3000; ++i) {
    const uint32_t pick = random() % 8;
    calls.Time([&] {
      if (pick < 3) {
        const auto a = static_cast<int32_t>(random() % 55000);
        app_.LoopStretch(a, a + 300 + static_cast<int32_t>(random() % 3000));
      } else if (pick == 3) {
        app_.JumpForward();
      } else if (pick == 4) {
        app_.JumpBackward();
      } else if (pick == 5) {
        app_.RepeatKey();
      } else {
        app_.OnGraphEvent();
        app_.Tick();
      }
    });
    if (i % 20 == 0) std::this_thread::sleep_for(3ms);
  }
  calls.Check("the storm");
  // The player answers: the loop cleared, playback moves on.
  if (view().pointA != -1) app_.RepeatKey();
  if (view().pointA != -1) app_.RepeatKey();
  ASSERT_EQ(view().playState, Playing);
  const int32_t before = view().positionMs;
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs > before + 500; }, 10s))
      << "playback stood still after the storm at " << before << " ms";
  take_.Finish();
  app_.CloseFile();
  EXPECT_TRUE(WaitForEngines(5s)) << "the player's thread did not end";
}

// The sound server stopped for two seconds while playing, with a jump and a
// pause asked meanwhile: the window answers all along, and once the server
// is back the lesson waits paused at the place asked for and plays on.
TEST_F(HeardLearn, AStoppedSoundServerNeverHoldsTheWindow) {
  const char* server = std::getenv("ORVEX_PULSE_PID");
  if (!server) GTEST_SKIP() << "no sound server of the tests' own";
  const pid_t pid = static_cast<pid_t>(std::atol(server));
  const std::string lesson = NoiseLesson(dir_);
  ASSERT_FALSE(lesson.empty()) << "sox or lame failed";
  ASSERT_TRUE(Open(lesson));
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= 1500; }, 10s));
  const int32_t heardBefore = view().positionMs;
  CallTimes calls;
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  const auto stopped = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(200ms);
  calls.Time([&] { app_.JumpForward(); });
  for (int i = 0; i < 12; ++i) {
    std::this_thread::sleep_for(25ms);
    calls.Time([&] {
      app_.OnGraphEvent();
      app_.Tick();
    });
  }
  calls.Time([&] { app_.TogglePlay(); });
  while (std::chrono::steady_clock::now() - stopped < 2s) {
    std::this_thread::sleep_for(25ms);
    calls.Time([&] { app_.OnGraphEvent(); });
  }
  kill(pid, SIGCONT);
  calls.Check("with the sound server stopped");
  EXPECT_EQ(view().playState, Paused);
  PumpFor(1500ms);
  const int32_t asked = view().positionMs;
  std::printf("before the stop %d ms, paused at %d ms\n", heardBefore, asked);
  // The jump counts from where the sound stopped, a little after what the
  // window last showed.
  EXPECT_GE(asked, heardBefore + 3000);
  EXPECT_LE(asked, heardBefore + 3000 + 1000);
  const size_t resumed = take_.Mark();
  app_.TogglePlay();
  PumpFor(1500ms);
  ASSERT_TRUE(Finish());
  // The lesson plays on. (Where from is not judged on the null sink, which
  // catches up on the time it was stopped by playing what it holds at once.)
  const HeardRun* run = take_.RunFrom(resumed);
  ASSERT_NE(run, nullptr) << "nothing heard after the pause";
  std::printf("heard after the pause from %.3f ms (shown %d ms)\n", Ms(run->from), asked);
  EXPECT_GT(Ms(run->from), heardBefore + 2900) << "the jump was not made: " << Describe(*run);
}

}  // namespace
}  // namespace orvex
