// The real player runs the same whole plans as the simulated one: the cases
// of tests/support/plan_cases.h, played in real time into the null sink. The
// events must come in the same order with the same pass and stretch numbers;
// their times, taken when the test polls, within what the sound server and
// the polling add.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "playback/gst_player.h"
#include "tests/playback/player_fixture.h"
#include "tests/support/plan_cases.h"

namespace orvex::test {
namespace {

using Clock = std::chrono::steady_clock;

// The sample recording is long enough for every case played here.
const std::string kLesson = std::string(ORVEX_TEST_DATA) + "/../../res/eg.mp3";
// The sink's lead, the server's block and a poll: how late an event may be
// taken after the time the simulated clock gives it.
constexpr int32_t kLateMs = 250;

class PlanAgreement : public SoundTest {};

TEST_F(PlanAgreement, TheRealPlayerGivesTheSimulatedPlayersEvents) {
  // The cases that fit the sample and play a few seconds each: a pass ended
  // where playback is, gaps, hand-ons between stretches, seeks in a plan.
  const std::vector<std::string> played = {"b ahead, two passes with a gap",
                                           "three sentences twice each",
                                           "seeks inside, before and past the loop"};
  int ran = 0;
  for (const PlanCase& c : PlanCases()) {
    if (std::find(played.begin(), played.end(), c.name) == played.end()) continue;
    SCOPED_TRACE(c.name);
    ++ran;
    GstPlayer player;
    ASSERT_EQ(player.BuildWithMp3Parser(kLesson), kOk);
    ASSERT_GT(player.GetDurationMs(), c.runMs + c.fromMs);
    player.SeekMs(c.fromMs);
    ASSERT_EQ(player.Run(), kOk);
    // The plan starts once the start of playback is heard.
    ASSERT_TRUE(WaitUntil([&] { return player.GetPositionMs() > c.fromMs; }));
    const int32_t lead = player.GetPositionMs() - c.fromMs;
    const Clock::time_point start = Clock::now() - std::chrono::milliseconds(lead);
    const auto now = [&] {
      return static_cast<int32_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    player.SetLoopPlan(c.plan);
    std::vector<PlanEvent> heard;
    const auto take = [&] {
      GraphEvent e;
      while (player.TakeEvent(e)) {
        const bool pass = e.code == kEventPassStarted;
        heard.push_back({e.code, pass ? e.pass : 0, pass ? e.stretch : 0, now()});
      }
    };
    size_t next = 0;
    while (now() < c.runMs) {
      while (next < c.actions.size() && c.actions[next].atMs <= now()) {
        const PlanAction& a = c.actions[next++];
        if (a.kind == PlanAction::kSeek) player.SeekMs(a.seekMs);
        if (a.kind == PlanAction::kPlan) player.SetLoopPlan(a.plan);
        if (a.kind == PlanAction::kClear) player.ClearLoop();
      }
      take();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kLateMs));
    take();
    // Order, codes, passes and stretches exactly; each time no earlier than
    // the simulated one less a little, and not much later.
    ASSERT_EQ(heard.size(), c.events.size())
        << "heard:" << Describe(heard) << "\nwanted:" << Describe(c.events);
    for (size_t i = 0; i < heard.size(); ++i) {
      const PlanEvent& h = heard[i];
      const PlanEvent& w = c.events[i];
      EXPECT_EQ(h.code, w.code) << i;
      EXPECT_EQ(h.pass, w.pass) << i;
      EXPECT_EQ(h.stretch, w.stretch) << i;
      EXPECT_GE(h.atMs, w.atMs - 60) << i;
      EXPECT_LE(h.atMs, w.atMs + kLateMs) << i;
    }
    player.Teardown();
  }
  EXPECT_EQ(ran, static_cast<int>(played.size()));
}

}  // namespace
}  // namespace orvex::test
