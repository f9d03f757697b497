// What is heard, found in the file: the null sink's monitor is recorded while
// the player plays six seconds of noise, and every stretch of the recording is
// located in the file's own decoding (test::HeardTake). Times are measured in
// the recording's own sample timeline, never on the wall clock; a mark taken
// at a call is exact to the recording's blocks (test::kMarkSlackMs).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "playback/gst_player.h"
#include "playback/sound.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/sound_check.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::HeardRun;

// Heard within a millisecond: 44 frames at 44.1 kHz.
constexpr int64_t kExactFrames = 44;
// A change of volume is heard within 100 ms of the call.
constexpr int32_t kPromptMs = 100;

// A call the test made while recording: a mark before it and, for seeks, the
// target.
struct Call {
  size_t mark = 0;
  int32_t targetMs = 0;
};

class Heard : public test::SoundTest {
 protected:
  // Starts the recording, then builds the player on the noise file.
  bool Begin() {
    if (!take_.Start(test::Fixture("noise.mp3"), dir_.File("heard.wav"))) {
      ADD_FAILURE() << "could not decode the file or start parec";
      return false;
    }
    const Result built = player_.BuildWithMp3Parser(test::Fixture("noise.mp3"));
    EXPECT_EQ(built, kOk) << player_.ErrorText(built);
    return built == kOk;
  }
  // Plays on while the transport's 25 ms tick reads the position.
  void PlayFor(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(25ms);
      player_.GetPositionMs();
    }
  }
  Call Seek(int32_t ms) {
    const Call call{take_.Mark(), ms};
    player_.SeekMs(ms);
    return call;
  }
  // Lets the monitor catch up, pauses and follows the recording.
  bool Finish() {
    std::this_thread::sleep_for(200ms);
    last_ = take_.Mark();
    player_.Pause();
    const bool followed = take_.Finish();
    EXPECT_TRUE(followed) << "no recording";
    return followed;
  }

  // The run heard after the call starts at its target and plays on, nothing
  // lost, until the next call (a mark) is heard. While playing, it follows
  // what played at the call without a silence.
  void ExpectHeardFromTargetUntil(const Call& call, size_t nextMark, const char* what,
                                  bool spliced = false) {
    SCOPED_TRACE(what);
    const HeardRun* run = take_.RunFrom(call.mark);
    ASSERT_NE(run, nullptr) << "nothing heard";
    if (spliced) {
      const HeardRun* before = take_.RunPlayingAt(call.mark);
      ASSERT_NE(before, nullptr) << "nothing heard at the call";
      EXPECT_LE(run->at, before->End() + kExactFrames)
          << take_.FramesToMs(static_cast<double>(run->at) - static_cast<double>(before->End()))
          << " ms of silence";
    }
    EXPECT_NEAR(run->from, take_.MsToFrames(call.targetMs), kExactFrames)
        << "heard from " << take_.FramesToMs(static_cast<double>(run->from)) << " ms";
    EXPECT_GE(run->End(), take_.EarliestFrameOf(nextMark))
        << "cut " << take_.FramesToMs(static_cast<double>(run->FileEnd())) << " ms into the file";
  }

  test::TempDir dir_;
  test::HeardTake take_;
  GstPlayer player_;
  size_t last_ = 0;  // the mark when the take ended
};

// The seeks the transport makes while playing: Home, a jump of 3 s, and an
// A-B repeat (the tick seeking back to A once the position has passed B).
// Each is heard from its target right where the sound before it ends.
TEST_F(Heard, SeeksWhilePlayingAreHeardFromTheirTarget) {
  ASSERT_TRUE(Begin());
  player_.SeekMs(2000);
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(500ms);
  std::vector<std::pair<const char*, Call>> calls;
  calls.emplace_back("Home", Seek(0));
  PlayFor(500ms);
  calls.emplace_back("jump", Seek(player_.GetPositionMs() + 3000));
  PlayFor(500ms);
  // The tick's rule: a position outside (A, B) goes back to A. Right after a
  // seek to A the position reads A until A is heard, so the tick asks again.
  constexpr int32_t kA = 1000, kB = 1500;
  int repeats = 0;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (repeats < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(25ms);
    const int32_t p = player_.GetPositionMs();
    if (kA < p && p < kB) continue;
    if (p >= kB) ++repeats;
    calls.emplace_back("back to A", Seek(kA));
  }
  ASSERT_EQ(repeats, 3) << "the position never passed B";
  PlayFor(300ms);
  ASSERT_TRUE(Finish());
  for (size_t i = 0; i < calls.size(); ++i) {
    const size_t next = i + 1 < calls.size() ? calls[i + 1].second.mark : last_;
    ExpectHeardFromTargetUntil(calls[i].second, next, calls[i].first, true);
  }
}

// The first Play after opening, Stop then Play (Stop pauses and seeks to 0,
// Play seeks to 0 again and runs), the same after playing out to the end, and
// a pause, which loses nothing.
TEST_F(Heard, StopPlayTheEndAndPauseAreHeardWithoutALoss) {
  ASSERT_TRUE(Begin());
  const int32_t length = player_.GetDurationMs();
  auto stopThenPlay = [&] {
    player_.Stop();
    player_.SeekMs(0);
    std::this_thread::sleep_for(100ms);
    const Call call = Seek(0);
    EXPECT_EQ(player_.Run(), kOk);
    PlayFor(400ms);
    return call;
  };
  const Call opened = Seek(0);
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(400ms);
  const Call toPause = Seek(3000);
  PlayFor(400ms);
  const size_t paused = take_.Mark();
  player_.Pause();
  std::this_thread::sleep_for(300ms);
  const size_t resumed = take_.Mark();
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(300ms);
  const Call stopPlay = stopThenPlay();
  const Call nearEnd = Seek(length - 400);
  ASSERT_TRUE(test::WaitUntil([&] { return player_.IsAtEnd(); }));
  const Call restart = stopThenPlay();
  ASSERT_TRUE(Finish());

  ExpectHeardFromTargetUntil(opened, toPause.mark, "Play after opening");
  // Resumed where it paused, to the sample.
  const HeardRun* before = take_.RunPlayingAt(paused);
  const HeardRun* after = take_.RunFrom(resumed);
  ASSERT_TRUE(before && after);
  EXPECT_EQ(take_.Next(before), after) << "something else was heard during the pause";
  // Across the sink's cork and uncork the null sink's monitor has been seen,
  // once in a while on a busy machine, to carry the last frame twice (0.02 ms):
  // nothing may be lost, and no more than that frame repeated.
  EXPECT_LE(after->from, before->FileEnd()) << "lost across the pause";
  EXPECT_GE(after->from, before->FileEnd() - 1) << "repeated across the pause";

  ExpectHeardFromTargetUntil(stopPlay, nearEnd.mark, "Stop, Play");
  // Played out to the last sample, then heard from the start again.
  const HeardRun* end = take_.RunFrom(nearEnd.mark);
  ASSERT_NE(end, nullptr);
  EXPECT_NEAR(end->from, take_.MsToFrames(nearEnd.targetMs), kExactFrames);
  EXPECT_NEAR(end->FileEnd(), static_cast<int64_t>(take_.file().Frames()), kExactFrames);
  EXPECT_EQ(take_.Next(end), take_.RunFrom(restart.mark));
  ExpectHeardFromTargetUntil(restart, last_, "restart after the end");
}

// Mute, unmute and a volume change are heard within 100 ms of the call; the
// stream plays on meanwhile, so what comes back is exactly where playback is.
TEST_F(Heard, MuteUnmuteAndVolumeAreHeardAtOnce) {
  ASSERT_TRUE(Begin());
  ASSERT_EQ(player_.SetVolume(kVolumeFull), kOk);
  player_.SeekMs(1000);
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(500ms);
  auto setVolume = [&](int32_t volume) {
    const size_t mark = take_.Mark();
    EXPECT_EQ(player_.SetVolume(volume), kOk);
    PlayFor(400ms);
    return mark;
  };
  const size_t mute = setVolume(kVolumeSilent);
  const size_t unmute = setVolume(kVolumeFull);
  const size_t down = setVolume(-2000);
  const size_t up = setVolume(kVolumeFull);
  ASSERT_TRUE(Finish());

  const int64_t prompt = take_.MsToFrames(kPromptMs);
  auto delayMs = [&](size_t frame, size_t mark) {
    return take_.FramesToMs(static_cast<double>(frame) - static_cast<double>(take_.FrameOf(mark)));
  };
  const HeardRun* loud = take_.RunPlayingAt(mute);
  ASSERT_NE(loud, nullptr);
  EXPECT_LE(static_cast<int64_t>(loud->End()), static_cast<int64_t>(take_.FrameOf(mute)) + prompt)
      << "mute heard " << delayMs(loud->End(), mute) << " ms after the call";
  EXPECT_EQ(test::PeakBetween(take_.heard(), loud->End(), take_.EarliestFrameOf(unmute)), 0.0);

  const HeardRun* back = take_.RunFrom(unmute);
  ASSERT_NE(back, nullptr);
  EXPECT_LE(static_cast<int64_t>(back->at), static_cast<int64_t>(take_.FrameOf(unmute)) + prompt)
      << "unmute heard " << delayMs(back->at, unmute) << " ms after the call";
  EXPECT_EQ(back->Offset(), loud->Offset()) << "playback did not run on while muted";

  // -20 dB: a tenth of the amplitude, from within 100 ms of the call.
  EXPECT_LE(static_cast<int64_t>(back->End()), static_cast<int64_t>(take_.FrameOf(down)) + prompt)
      << "-20 dB heard " << delayMs(back->End(), down) << " ms after the call";
  const size_t quiet = back->End() + static_cast<size_t>(take_.MsToFrames(20));
  EXPECT_NEAR(test::GainAgainstFile(take_.heard(), take_.file(), quiet,
                                    static_cast<int64_t>(quiet) + back->Offset(),
                                    static_cast<size_t>(take_.MsToFrames(200))),
              0.1, 0.002);
  const HeardRun* full = take_.RunFrom(up);
  ASSERT_NE(full, nullptr);
  EXPECT_LE(static_cast<int64_t>(full->at), static_cast<int64_t>(take_.FrameOf(up)) + prompt)
      << "0 dB heard " << delayMs(full->at, up) << " ms after the call";
  EXPECT_EQ(full->Offset(), loud->Offset());
}

// The sound server's stream-restore module keeps a volume per stream identity
// from run to run. A mute in one run must neither start the next run's player
// muted nor silence the program's other sounds (the warning sound), which the
// module would otherwise give the same saved volume.
TEST_F(Heard, AMuteIsNotRestoredIntoTheNextRun) {
  test::TempDir serverDir;
  test::PrivateSoundServer server;
  ASSERT_TRUE(
      server.Start(serverDir.path(), {"load-module module-stream-restore restore_device=false"}))
      << "could not start a sound server of the test's own";
  test::ScopedEnv env("PULSE_SERVER", server.address());
  {
    // Muted by the user while it plays.
    GstPlayer muted;
    ASSERT_EQ(muted.BuildWithMp3Parser(test::Fixture("noise.mp3")), kOk);
    ASSERT_EQ(muted.Run(), kOk);
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(muted.SetVolume(kVolumeSilent), kOk);
    std::this_thread::sleep_for(200ms);
  }
  std::this_thread::sleep_for(100ms);

  ASSERT_TRUE(
      take_.Start(test::Fixture("noise.mp3"), dir_.File("next.wav"), "private_null.monitor"));
  GstPlayer next;
  ASSERT_EQ(next.BuildWithMp3Parser(test::Fixture("noise.mp3")), kOk);
  ASSERT_EQ(next.Run(), kOk);
  // This null sink is idle before: a stream may start up to 2 s late.
  std::this_thread::sleep_for(2500ms);
  next.Teardown();
  const size_t warning = take_.Mark();
  EXPECT_TRUE(PlaySoundFileSync(ORVEX_TEST_DATA "/../../res/chord.wav"));
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(take_.Finish());

  size_t fullVolume = 0;
  for (const HeardRun& run : take_.runs()) fullVolume += run.frames;
  EXPECT_GE(fullVolume, static_cast<size_t>(take_.MsToFrames(300)))
      << "the next player was not heard at full volume";
  // The player was taken down before the mark: what is heard from a block
  // after it on is the warning sound.
  const size_t afterPlayer =
      take_.FrameOf(warning) + static_cast<size_t>(take_.MsToFrames(test::kMarkSlackMs));
  EXPECT_GT(test::PeakBetween(take_.heard(), afterPlayer, take_.heard().Frames()), 0.1)
      << "the warning sound was not heard";
}

}  // namespace
}  // namespace orvex
