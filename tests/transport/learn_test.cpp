// The learning aids over the simulated player, which plays a loop's passes,
// gaps and returns exactly as the real one must.
#include <gtest/gtest.h>

#include <climits>

#include "core/learn.h"
#include "core/texts.h"
#include "tests/transport/transport_fixture.h"

namespace orvex::test {
namespace {

using Log = std::vector<std::string>;

class LearnTest : public TransportTest {
 protected:
  // Plays from a to b and presses the repeat key at each, as a learner does.
  SimPlayer& LoopByKey(int32_t a, int32_t b) {
    SimPlayer& p = LoadPlaying();
    p.positionMs = a;
    app.RepeatKey();
    PlayFor(p, b - a);
    app.RepeatKey();
    return p;
  }
};

TEST_F(LearnTest, ARepeatCountOfThreePlaysThreePassesFromAThenOnPastB) {
  app.SetRepeatCount(3);
  SimPlayer& p = LoopByKey(2000, 4000);
  EXPECT_EQ(view().pass, 0);  // the pass during which B was set does not count
  // Where each counted pass begins, as the window shows it.
  std::vector<int32_t> passes;
  for (int i = 0; i < 600 && view().pointB != -1; ++i) {
    PlayFor(p, 25);
    if (view().pass > static_cast<int32_t>(passes.size())) {
      passes.push_back(view().pass);
      EXPECT_NE(view().status.find("第" + std::to_string(view().pass) + "/3遍"), std::string::npos)
          << view().status;
      EXPECT_LT(view().positionMs, 2100);
    }
  }
  EXPECT_EQ(passes, (std::vector<int32_t>{1, 2, 3}));
  // After the third full pass playback goes on past B with the points gone.
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(view().pointB, -1);
  PlayFor(p, 1000);
  EXPECT_GT(p.positionMs, 4500);
  EXPECT_EQ(view().status, "播放中…");
}

TEST_F(LearnTest, WithoutACountTheLoopGoesOnAndANewLoopCountsAfresh) {
  SimPlayer& p = LoopByKey(2000, 3000);
  PlayFor(p, 20000);
  EXPECT_EQ(view().pointB, 3000);
  EXPECT_LE(p.positionMs, 3000);
  // A count set during a loop counts from the pass in progress.
  app.SetRepeatCount(1);
  PlayFor(p, 1000);
  EXPECT_EQ(view().pointB, 3000);  // the one return
  PlayFor(p, 1100);
  EXPECT_EQ(view().pointB, -1);
}

TEST_F(LearnTest, APauseAsLongAsTheStretchIsSilenceAtA) {
  app.SetRepeatGap(RepeatGap::kAsLong);
  SimPlayer& p = LoopByKey(2000, 3500);
  EXPECT_EQ(p.plan.stretches.at(0).gapMs, 1500);
  PlayFor(p, 25);  // B reached: the silence begins
  EXPECT_TRUE(view().inGap);
  EXPECT_EQ(view().status, "复读间隔中…");
  EXPECT_EQ(view().positionMs, 2000);
  // The silence holds A through its whole length, ticks included.
  PlayFor(p, 1450);
  EXPECT_TRUE(view().inGap);
  EXPECT_EQ(p.positionMs, 2000);
  EXPECT_TRUE(shell.Matching("player.SeekMs").empty());
  PlayFor(p, 100);
  EXPECT_FALSE(view().inGap);
  EXPECT_GT(p.positionMs, 2000);
  EXPECT_EQ(view().status, "播放中…");
}

TEST_F(LearnTest, DownAndUpActAtOnceDuringTheSilence) {
  app.SetRepeatGap(RepeatGap::kThree);
  SimPlayer& p = LoopByKey(2000, 3000);
  PlayFor(p, 25);
  ASSERT_TRUE(view().inGap);
  app.TogglePlay();
  EXPECT_EQ(view().playState, Paused);
  EXPECT_FALSE(p.running);
  app.TogglePlay();
  app.RepeatKey();  // clears: playback goes on from A at once
  EXPECT_FALSE(view().inGap);
  EXPECT_EQ(view().pointA, -1);
  PlayFor(p, 500);
  EXPECT_EQ(p.positionMs, 2500);
}

TEST_F(LearnTest, NudgingAMovesTheStartAndPlaysFromIt) {
  SimPlayer& p = LoopByKey(2000, 4000);
  log.clear();
  app.NudgeA(-kNudgeMs);
  EXPECT_EQ(view().pointA, 1950);
  EXPECT_EQ(p.positionMs, 1950);
  EXPECT_EQ(p.loopA(), 1950);
  app.NudgeA(+kNudgeMs);
  app.NudgeA(+kNudgeMs);
  EXPECT_EQ(view().pointA, 2050);
  // Never closer than 100 ms to B.
  for (int i = 0; i < 100; ++i) app.NudgeA(+kNudgeMs);
  EXPECT_EQ(view().pointA, 3900);
  // Nor before the file's start.
  for (int i = 0; i < 100; ++i) app.NudgeA(-kNudgeMs);
  EXPECT_EQ(view().pointA, 0);
}

TEST_F(LearnTest, NudgingBPlaysOnShortlyBeforeTheNewEnd) {
  SimPlayer& p = LoopByKey(2000, 6000);
  app.NudgeB(+kNudgeMs);
  EXPECT_EQ(view().pointB, 6050);
  EXPECT_EQ(p.loopB(), 6050);
  EXPECT_EQ(p.positionMs, 6050 - 1500);
  // A short loop plays on from A.
  for (int i = 0; i < 100; ++i) app.NudgeB(-kNudgeMs);
  EXPECT_EQ(view().pointB, 2100);
  EXPECT_EQ(p.positionMs, 2000);
  // And B never passes the end of the file.
  for (int i = 0; i < 2000; ++i) app.NudgeB(+kNudgeMs);
  EXPECT_EQ(view().pointB, 60000);
}

TEST_F(LearnTest, WithoutBShiftMovesAAloneAndCtrlDoesNothing) {
  SimPlayer& p = LoadPlaying();
  app.NudgeA(+kNudgeMs);  // no A yet
  EXPECT_EQ(view().pointA, -1);
  p.positionMs = 5000;
  app.RepeatKey();
  log.clear();
  app.NudgeB(+kNudgeMs);
  EXPECT_TRUE(log.empty());
  app.NudgeA(-kNudgeMs);
  EXPECT_EQ(view().pointA, 4950);
  EXPECT_EQ(view().pointB, -1);
  EXPECT_EQ(p.positionMs, 4950);
  EXPECT_EQ(p.loopB(), -1);
}

// The one rule for a loop from two points, whether the repeat key or the
// wave strip gives them.
TEST(GrownLoopTest, PointsInEitherOrderMakeALoopInsideTheFileAtLeastTheShortestLong) {
  EXPECT_EQ(GrownLoop(4000, 2000, 60000), (LoopPoints{2000, 4000}));
  EXPECT_EQ(GrownLoop(5000, 5000, 60000), (LoopPoints{5000, 5000 + kMinLoopMs}));
  EXPECT_EQ(GrownLoop(5050, 5000, 60000), (LoopPoints{5000, 5000 + kMinLoopMs}));
  // At the end of the file A moves back instead; points beyond it are cut.
  EXPECT_EQ(GrownLoop(19990, 30000, 20000), (LoopPoints{20000 - kMinLoopMs, 20000}));
  EXPECT_EQ(GrownLoop(-50, 20, 20000), (LoopPoints{0, kMinLoopMs}));
  EXPECT_EQ(GrownLoop(INT32_MAX - 10, INT32_MAX, INT32_MAX),
            (LoopPoints{INT32_MAX - kMinLoopMs, INT32_MAX}));
  EXPECT_EQ(GrownLoop(0, 10, kMinLoopMs), (LoopPoints{0, kMinLoopMs}));
  // A file shorter than the shortest loop has none.
  EXPECT_EQ(GrownLoop(0, 50, kMinLoopMs - 20), std::nullopt);
  EXPECT_EQ(GrownLoop(0, 0, 0), std::nullopt);
}

TEST_F(LearnTest, InAFileShorterThanTheShortestLoopBMakesNoneAndAStaysAlone) {
  SimPlayer& p = LoadPlaying(kMinLoopMs - 20);
  app.RepeatKey();
  p.positionMs = 60;
  app.RepeatKey();
  EXPECT_EQ(view().pointA, 0);
  EXPECT_EQ(view().pointB, -1);
  EXPECT_FALSE(p.Looping());
  app.LoopStretch(0, kMinLoopMs);
  EXPECT_FALSE(p.Looping());
  EXPECT_EQ(view().pointB, -1);
}

TEST_F(LearnTest, SpeedStepsWithinHalfToDoubleAndShowsInTheStatus) {
  SimPlayer& p = LoadPlaying();
  app.Slower();
  EXPECT_EQ(p.rate, 95);
  for (int i = 0; i < 30; ++i) app.Slower();
  EXPECT_EQ(view().rate, 50);
  EXPECT_EQ(view().status, "播放中… 0.50×");
  for (int i = 0; i < 40; ++i) app.Faster();
  EXPECT_EQ(p.rate, 200);
  app.NormalSpeed();
  EXPECT_EQ(p.rate, 100);
  EXPECT_EQ(view().status, "播放中…");
  // Source time: a 3 s stretch at 0.75x takes 4 s.
  for (int i = 0; i < 5; ++i) app.Slower();
  ASSERT_EQ(view().rate, 75);
  const int32_t start = p.positionMs;
  PlayFor(p, 4000);
  EXPECT_EQ(p.positionMs - start, 3000);
  // A new file plays at the chosen speed.
  app.OpenFile("/music/other.mp3");
  EXPECT_EQ(factory.last->rate, 75);
  EXPECT_EQ(app.CurrentLearnSettings(), (LearnSettings{75, 0, RepeatGap::kNone}));
}

TEST_F(LearnTest, AnySpeedGoesToTheNearestStepWithoutOverflow) {
  SimPlayer& p = LoadPlaying();
  const struct {
    int32_t asked, kept;
  } cases[] = {{INT32_MIN, 50}, {INT32_MAX, 200}, {0, 50},    {-5, 50},
               {102, 100},      {103, 105},      {97, 95}, {1000, 200}};
  for (const auto& c : cases) {
    app.SetRate(c.asked);
    EXPECT_EQ(view().rate, c.kept) << c.asked;
    EXPECT_EQ(p.rate, c.kept) << c.asked;
  }
}

// Without a time-stretching element the player refuses any speed but its
// own: the status keeps the speed heard, and the user is told once a file.
TEST_F(LearnTest, ASpeedThePlayerRefusesIsNotShownAndIsToldOnce) {
  SimPlayer& p = LoadPlaying();
  p.rateResult = kErrMissingElement;
  app.Slower();
  app.SetRate(50);
  EXPECT_EQ(p.rate, 100);
  EXPECT_EQ(view().rate, 100);
  EXPECT_EQ(view().status, "播放中…");
  EXPECT_EQ(app.CurrentLearnSettings().rate, 100);
  const std::string refused = FormatText(kTextRateFailed, {p.ErrorText(kErrMissingElement)});
  EXPECT_EQ(shell.errors, std::vector<std::string>{refused});
  // A new file that refuses the learner's speed plays at its own, and says so.
  p.rateResult = kOk;
  app.SetRate(75);
  factory.rateResult = kErrMissingElement;
  app.OpenFile("/music/other.mp3");
  EXPECT_EQ(factory.last->rate, 100);
  EXPECT_EQ(view().rate, 100);
  EXPECT_EQ(shell.errors.size(), 2u);
  EXPECT_EQ(app.CurrentLearnSettings().rate, 75);
}

TEST_F(LearnTest, LearnSettingsApplyAndUnknownValuesFallBack) {
  app.ApplyLearnSettings(LearnSettings{80, 5, RepeatGap::kTwo});
  EXPECT_EQ(view().rate, 80);
  EXPECT_EQ(view().repeatCount, 5);
  EXPECT_EQ(view().repeatGap, 2);
  app.ApplyLearnSettings(LearnSettings{81, 4, RepeatGap::kOne});
  EXPECT_EQ(app.CurrentLearnSettings(), (LearnSettings{100, 0, RepeatGap::kOne}));
}

}  // namespace
}  // namespace orvex::test
