// The simulated player runs whole loop plans as the contract says: the
// events, their order, pass and stretch numbers and times of every case in
// plan_cases.h, which the real player is held to as well
// (tests/playback/plan_agreement_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/plan_cases.h"
#include "tests/support/sim_player.h"

namespace orvex::test {
namespace {

TEST(SimPlanTest, EveryCaseGivesItsEventsInOrderAtTheirTimes) {
  for (const PlanCase& c : PlanCases()) {
    SCOPED_TRACE(c.name);
    SimPlayer p(nullptr, c.lengthMs);
    p.Run();
    p.SeekMs(c.fromMs);
    std::vector<PlanEvent> heard;
    const auto take = [&](int32_t t) {
      GraphEvent e;
      while (p.TakeEvent(e)) {
        const bool pass = e.code == kEventPassStarted;
        heard.push_back({e.code, pass ? e.pass : 0, pass ? e.stretch : 0, t});
      }
    };
    p.SetLoopPlan(c.plan);
    for (int32_t t = 0; t < c.runMs; ++t) {
      for (const PlanAction& a : c.actions) {
        if (a.atMs != t) continue;
        if (a.kind == PlanAction::kSeek) p.SeekMs(a.seekMs);
        if (a.kind == PlanAction::kPlan) p.SetLoopPlan(a.plan);
        if (a.kind == PlanAction::kClear) p.ClearLoop();
      }
      take(t);
      p.Advance(1);
    }
    take(c.runMs);
    EXPECT_EQ(heard, c.events) << "heard:" << Describe(heard) << "\nwanted:" << Describe(c.events);
    EXPECT_EQ(p.positionMs, c.endPositionMs);
    EXPECT_EQ(p.running, c.endRunning);
  }
}

// A plan without a stretch, or with B not after A, is none: the loop goes.
TEST(SimPlanTest, APlanWithoutALoopClearsTheLoop) {
  SimPlayer p;
  p.Run();
  p.SetLoopPlan(LoopPlan{{{1000, 3000, 0}}, 0, AfterPlan::kGoOn, 1000, 1});
  ASSERT_TRUE(p.Looping());
  p.SetLoopPlan(LoopPlan{{{3000, 3000, 0}}, 0, AfterPlan::kGoOn, -1, 0});
  EXPECT_FALSE(p.Looping());
  p.Advance(5000);
  EXPECT_EQ(p.positionMs, 6000);
}

// A plan that replaces another takes the old one's untaken events with it:
// the window never sees a pass or an end of a plan that no longer runs.
TEST(SimPlanTest, ANewPlanDropsTheOldPlansUntakenEvents) {
  SimPlayer p;
  p.Run();
  p.SetLoopPlan(LoopPlan{{{1000, 2000, 0}}, 1, AfterPlan::kGoOn, 1000, 1});
  p.Advance(1000);  // PassStarted(1), then PlanEnded, none taken
  p.SetLoopPlan(LoopPlan{{{5000, 6000, 0}}, 2, AfterPlan::kGoOn, 5000, 1});
  GraphEvent e;
  ASSERT_TRUE(p.TakeEvent(e));
  EXPECT_EQ(e.code, kEventPassStarted);
  EXPECT_EQ(p.positionMs, 5000);
  EXPECT_FALSE(p.TakeEvent(e));
  p.Advance(500);
  p.ClearLoop();
  p.Advance(1000);
  EXPECT_FALSE(p.TakeEvent(e));
  EXPECT_EQ(p.positionMs, 6500);
}

// Speed changes time, not the plan: at 0.5x a 1 s stretch takes 2 s.
TEST(SimPlanTest, PassesKeepTheirBoundsAtAnySpeed) {
  SimPlayer p;
  p.Run();
  p.SetRate(50);
  p.SetLoopPlan(LoopPlan{{{1000, 2000, 0}}, 2, AfterPlan::kGoOn, 1000, 1});
  p.Advance(1999);
  EXPECT_EQ(p.pass, 1);
  p.Advance(1);
  EXPECT_EQ(p.pass, 2);
  EXPECT_EQ(p.positionMs, 1000);
}

}  // namespace
}  // namespace orvex::test
