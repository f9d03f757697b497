// Loops and speed as heard: the null sink's monitor is recorded while the
// engine loops a stretch of noise, and every recorded stretch is found in the
// file's own decoding (test::HeardTake). Each pass must start at A and end at
// B to within a millisecond, and the passes must join with nothing lost or
// doubled between them.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
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
      if (event.code == kEventLoopRepeat) ++repeats_;
      if (event.code == kEventLoopGap) ++gaps_;
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
  int repeats_ = 0;
  int gaps_ = 0;
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
  ASSERT_TRUE(Begin());
  player_.SeekMs(kA);
  player_.SetLoop(kA, kB, 0);
  const size_t start = take_.Mark();
  ASSERT_EQ(player_.Run(), kOk);
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

}  // namespace
}  // namespace orvex
