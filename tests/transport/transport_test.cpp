#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/learn.h"

#include "core/texts.h"
#include "tests/transport/transport_fixture.h"

namespace orvex::test {
namespace {

using Log = std::vector<std::string>;

TEST_F(TransportTest, CommandsDoNothingWithoutAFile) {
  app.TogglePlay();
  app.Stop();
  app.JumpForward();
  app.JumpBackward();
  app.GoToStart();
  app.GoToEnd();
  app.SeekTo(1000);
  app.Tick();
  app.OnGraphEvent();
  app.CloseFile();
  app.RepeatKey();
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(view().loaded);
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(view().status, "还未载入mp3文件");
  EXPECT_EQ(view().title, std::string(Text(kTextCaption)));
}

TEST_F(TransportTest, ChannelVolumeAndMuteAreKeptWithoutAFileAndAppliedWithOne) {
  app.SetChannel(1);
  app.SetVolume(-2000);
  app.SetMute(true);
  EXPECT_EQ(view().channel, 1);
  EXPECT_EQ(view().volume, -2000);
  EXPECT_TRUE(view().mute);
  SimPlayer& p = LoadPlaying();
  EXPECT_EQ(p.balance, -10000);
  EXPECT_EQ(p.volume, kVolumeSilent);
  app.SetVolume(-700);  // muted: stored, not heard
  EXPECT_EQ(p.volume, kVolumeSilent);
  app.SetMute(false);
  EXPECT_EQ(p.volume, -700);
  app.SetVolume(-99999);  // kept within range
  EXPECT_EQ(view().volume, kVolumeSilent);
  app.SetChannel(2);
  EXPECT_EQ(p.balance, 10000);
  app.SetChannel(0);
  EXPECT_EQ(p.balance, 0);
  EXPECT_EQ(app.CurrentSettings(), (Settings{0, kVolumeSilent, 3}));
  // Settings applied anew bring the channel back to stereo, which is never saved.
  app.SetChannel(2);
  app.ApplySettings(Settings{3, -200, 4});
  EXPECT_EQ(view().channel, 0);
  EXPECT_EQ(p.balance, 0);
  EXPECT_EQ(p.volume, kVolumeSilent);
  EXPECT_EQ(app.CurrentSettings(), (Settings{3, -200, 4}));
}

TEST_F(TransportTest, JumpSizeIsKeptWithinOneToNine) {
  for (const auto& [asked, kept] : {std::pair{0, 1}, {5, 5}, {10, 9}, {-3, 1}}) {
    app.SetJumpSeconds(asked);
    EXPECT_EQ(view().jumpSeconds, kept) << asked;
  }
}

TEST_F(TransportTest, EveryCommandTellsTheWindowOnceWithTheNewView) {
  SimPlayer& p = LoadPlaying();
  const auto once = [&](const char* what, auto command) {
    const size_t before = Publishes();
    command();
    EXPECT_EQ(Publishes(), before + 1) << what;
    EXPECT_EQ(shell.view(), view()) << what;
  };
  once("pause", [&] { app.TogglePlay(); });
  once("resume", [&] { app.TogglePlay(); });
  once("jump", [&] { app.JumpForward(); });
  once("seek", [&] { app.SeekTo(1234); });
  once("repeat key", [&] { app.RepeatKey(); });
  once("volume", [&] { app.SetVolume(-100); });
  once("tick", [&] {
    p.Advance(25);
    app.Tick();
  });
  EXPECT_EQ(view().positionMs, 1259);
  EXPECT_EQ(view().lengthMs, 60000);
  once("stop", [&] { app.Stop(); });
}

TEST_F(TransportTest, StoppedFileOnlyTakesPlay) {
  SimPlayer& p = Load();
  p.positionMs = 5000;
  app.Stop();
  app.JumpForward();
  app.JumpBackward();
  app.GoToStart();
  app.GoToEnd();
  app.SeekTo(100);
  app.Tick();
  app.RepeatKey();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(p.positionMs, 5000);
  EXPECT_EQ(view().pointA, -1);
}

TEST_F(TransportTest, PlayFromStoppedStartsAtTheBeginning) {
  SimPlayer& p = Load();
  p.positionMs = 7000;
  app.TogglePlay();
  EXPECT_EQ(shell.Matching("player."), (Log{"player.SeekMs(0)", "player.Run"}));
  EXPECT_EQ(view().playState, Playing);
  EXPECT_EQ(view().status, "播放中…");
  EXPECT_EQ(view().positionMs, 0);
  EXPECT_TRUE(p.running);
}

TEST_F(TransportTest, PauseAndResumeKeepThePosition) {
  SimPlayer& p = LoadPlaying();
  PlayFor(p, 1000);
  app.TogglePlay();
  EXPECT_EQ(view().playState, Paused);
  EXPECT_EQ(view().status, "暂停播放");
  EXPECT_FALSE(p.running);
  const int32_t pausedAt = p.positionMs;
  log.clear();
  app.TogglePlay();
  EXPECT_EQ(shell.Matching("player."), Log{"player.Run"});  // no seek
  EXPECT_EQ(view().status, "播放中…");
  EXPECT_EQ(view().positionMs, pausedAt);
}

TEST_F(TransportTest, RunFailureShowsMessageAndChangesNothing) {
  SimPlayer& p = Load();
  p.runResult = kErrNoAudioHardware;
  const TransportView before = view();
  app.TogglePlay();
  EXPECT_EQ(view(), before);
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], FormatText(kTextPlayFailed, {p.ErrorText(kErrNoAudioHardware)}));
  EXPECT_EQ(shell.errors[0].rfind("播放失败：\r\n", 0), 0u);

  // Resuming from pause fails the same way and stays paused.
  p.runResult = kOk;
  app.TogglePlay();
  app.TogglePlay();
  ASSERT_EQ(view().playState, Paused);
  p.runResult = kErrFail;
  app.TogglePlay();
  EXPECT_EQ(view().playState, Paused);
  EXPECT_EQ(shell.errors.size(), 2u);
}

TEST_F(TransportTest, StopReturnsToStartAndForgetsThePoints) {
  SimPlayer& p = LoadPlaying();
  PlayFor(p, 2000);
  app.RepeatKey();
  PlayFor(p, 1000);
  app.RepeatKey();
  ASSERT_NE(view().pointB, -1);
  log.clear();
  app.Stop();
  EXPECT_EQ(shell.Matching("player."),
            (Log{"player.ClearLoop", "player.Stop", "player.SeekMs(0)"}));
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(view().status, "已停止播放");
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(view().pointB, -1);
  EXPECT_EQ(view().positionMs, 0);
}

TEST_F(TransportTest, StopWorksWhilePaused) {
  LoadPlaying();
  app.TogglePlay();
  app.RepeatKey();
  app.Stop();
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(view().pointA, -1);
}

TEST_F(TransportTest, JumpsAndSeeksClampToBothEndsAndKeepState) {
  SimPlayer& p = LoadPlaying(20000);
  p.positionMs = 1500;
  const uint32_t seeks = view().seeks;
  app.JumpBackward();
  EXPECT_EQ(view().positionMs, 0);
  // One jump of the player's own, counted as a seek.
  EXPECT_EQ(shell.Matching("player."), (Log{"player.JumpMs(-3000)", "player.SeekMs(-1500)"}));
  EXPECT_EQ(view().seeks, seeks + 1);
  p.positionMs = 10000;
  app.JumpForward();
  EXPECT_EQ(view().positionMs, 13000);
  p.positionMs = 15000;
  app.JumpForward();
  EXPECT_EQ(view().positionMs, 18000);
  app.SeekTo(25000);
  EXPECT_EQ(view().positionMs, 20000);
  EXPECT_EQ(view().playState, Playing);

  // Jumps act while paused too.
  app.TogglePlay();
  app.JumpBackward();
  EXPECT_EQ(view().positionMs, 17000);
  EXPECT_EQ(view().playState, Paused);
}

TEST_F(TransportTest, JumpNearTheTopOfTheRangeDoesNotWrap) {
  SimPlayer& p = LoadPlaying(INT32_MAX);
  app.SetJumpSeconds(9);
  p.positionMs = INT32_MAX - 100;
  app.JumpForward();
  EXPECT_EQ(p.positionMs, INT32_MAX);
}

TEST_F(TransportTest, TheEndOfTheStreamStopsAndEndsADrag) {
  SimPlayer& p = LoadPlaying(20000);
  p.positionMs = 18000;
  app.JumpForward();
  EXPECT_EQ(view().playState, Playing);  // the event has not been taken yet
  log.clear();
  app.OnGraphEvent();
  EXPECT_EQ(log.front(), "EndDrag");
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(view().status, "已停止播放");
  EXPECT_EQ(p.positionMs, 0);
}

TEST_F(TransportTest, AnEndOfStreamOvertakenByASeekIsIgnored) {
  SimPlayer& p = LoadPlaying(20000);
  app.GoToEnd();
  app.GoToStart();  // before the window took the event
  app.OnGraphEvent();
  EXPECT_EQ(view().playState, Playing);
  PlayFor(p, 1000);
  EXPECT_EQ(view().positionMs, 1000);
}

TEST_F(TransportTest, GoToStartAndEnd) {
  SimPlayer& p = LoadPlaying(30000);
  p.positionMs = 12000;
  app.GoToEnd();
  EXPECT_EQ(p.positionMs, 30000);
  app.GoToStart();
  EXPECT_EQ(p.positionMs, 0);
  EXPECT_EQ(view().playState, Playing);
}

TEST_F(TransportTest, GoToEndWhilePausedResumesThereAndStops) {
  SimPlayer& p = LoadPlaying(30000);
  app.TogglePlay();
  app.GoToEnd();
  EXPECT_EQ(p.positionMs, 30000);
  EXPECT_EQ(view().playState, Paused);
  app.TogglePlay();
  EXPECT_EQ(p.positionMs, 30000);
  PlayFor(p, 25);
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(p.positionMs, 0);
}

TEST_F(TransportTest, RepeatKeyCyclesThroughThreePhases) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 4000;
  app.RepeatKey();
  EXPECT_EQ(view().pointA, 4000);
  EXPECT_EQ(view().pointB, -1);
  p.positionMs = 10000;
  app.RepeatKey();
  EXPECT_EQ(view().pointA, 4000);
  EXPECT_EQ(view().pointB, 10000);
  // The pass in progress ends at B, where it is: the player goes back to A
  // by itself, and that pass is the first one counted.
  EXPECT_TRUE(shell.Matching("player.SeekMs").empty());
  EXPECT_EQ(p.positionMs, 4000);
  EXPECT_EQ(view().pass, 0);
  app.OnGraphEvent();
  EXPECT_EQ(view().pass, 1);
  app.RepeatKey();
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(view().pointB, -1);
  EXPECT_EQ(view().pass, 0);
  EXPECT_FALSE(p.Looping());
}

TEST_F(TransportTest, SecondPointBeforeTheFirstIsSwapped) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 10000;
  app.RepeatKey();
  p.positionMs = 4000;
  app.RepeatKey();
  EXPECT_EQ(view().pointA, 4000);
  EXPECT_EQ(view().pointB, 10000);
}

// Two presses at one place make the shortest loop there is, which the
// player plays like any other.
TEST_F(TransportTest, EqualPointsMakeTheShortestLoop) {
  SimPlayer& p = LoadPlaying(20000);
  p.positionMs = 5000;
  app.RepeatKey();
  app.RepeatKey();
  EXPECT_EQ(view().pointA, 5000);
  EXPECT_EQ(view().pointB, 5000 + kMinLoopMs);
  int32_t lowest = INT32_MAX, highest = 0;
  for (int i = 0; i < 40; ++i) {
    PlayFor(p, 25);
    lowest = std::min(lowest, view().positionMs);
    highest = std::max(highest, view().positionMs);
  }
  EXPECT_EQ(lowest, 5000);
  EXPECT_EQ(highest, 5000 + kMinLoopMs - 25);
  EXPECT_GE(view().pass, 9);
  // At the end of the file, A moves back instead.
  app.RepeatKey();
  p.SeekMs(20000 - 30);
  app.RepeatKey();
  app.GoToEnd();
  app.RepeatKey();
  EXPECT_EQ(view().pointA, 20000 - kMinLoopMs);
  EXPECT_EQ(view().pointB, 20000);
  EXPECT_TRUE(shell.Matching("player.SeekMs(5000)").empty());
}

// The player loops by itself; a jump while it loops stays in the loop as
// the player's contract says, and the tick only shows where playback is.
TEST_F(TransportTest, JumpsWhileLoopingStayInTheLoopAndTheTickNeverSeeks) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 4000;
  app.RepeatKey();
  p.positionMs = 9000;
  app.RepeatKey();
  const struct {
    int32_t target;
    int32_t heard;  // where playback goes on from
  } cases[] = {{4001, 4001}, {8999, 8999}, {9000, 4000}, {12000, 4000}, {2000, 4000}};
  for (const auto& c : cases) {
    app.SeekTo(c.target);
    app.OnGraphEvent();
    EXPECT_EQ(view().positionMs, c.heard) << c.target;
    EXPECT_EQ(view().pointA, 4000) << c.target;
    EXPECT_EQ(view().pointB, 9000) << c.target;
  }
  for (int i = 0; i < 3; ++i) {
    p.Advance(25);
    log.clear();
    app.Tick();
    EXPECT_TRUE(shell.Matching("player.").empty());
    EXPECT_EQ(view().positionMs, p.positionMs);
  }
}

TEST_F(TransportTest, TheSecondPressHandsTheLoopToThePlayerAndTheTickNeverSeeks) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 2000;
  app.RepeatKey();
  PlayFor(p, 3000);
  log.clear();
  app.RepeatKey();
  ASSERT_EQ(view().pointB, 5000);
  // From where playback is, without limit, the pass in progress not counted.
  EXPECT_EQ(p.plan, (LoopPlan{{{2000, 5000, 0}}, 0, AfterPlan::kGoOn, -1, 0}));
  int32_t furthest = 0;
  for (int i = 0; i < 600; ++i) {
    PlayFor(p, 25);
    furthest = std::max(furthest, p.positionMs);
  }
  EXPECT_LE(furthest, 5000);
  EXPECT_TRUE(shell.Matching("player.SeekMs").empty());
  EXPECT_EQ(view().playState, Playing);
  // A pass every 3 s, the first begun at the press (playback was at B).
  EXPECT_EQ(view().pass, 6);
  // The third press ends the loop in the player too.
  app.RepeatKey();
  EXPECT_FALSE(p.Looping());
  PlayFor(p, 4000);
  EXPECT_GT(p.positionMs, 5000);
}

TEST_F(TransportTest, EndOfFileWithOnlyAStopsAndClearsA) {
  SimPlayer& p = LoadPlaying(3000);
  p.positionMs = 1000;
  app.RepeatKey();
  PlayFor(p, 5000);
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(p.positionMs, 0);
  EXPECT_EQ(view().status, "已停止播放");
  EXPECT_EQ(shell.Matching("EndDrag").size(), 1u);
}

TEST_F(TransportTest, EndOfFileDoesNotStopALoop) {
  SimPlayer& p = LoadPlaying(3000);
  p.positionMs = 1000;
  app.RepeatKey();
  p.positionMs = 3000;
  app.RepeatKey();
  PlayFor(p, 25);
  EXPECT_EQ(view().playState, Playing);
  EXPECT_GE(p.positionMs, 1000);  // back at A, and on from there
  EXPECT_LT(p.positionMs, 1100);
}

TEST_F(TransportTest, ClearingThePointsWhilePausedPlaysOnPastB) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 4000;
  app.RepeatKey();
  p.positionMs = 10000;
  app.RepeatKey();
  p.SeekMs(9990);
  app.TogglePlay();
  app.RepeatKey();
  EXPECT_EQ(view().pointA, -1);
  app.TogglePlay();
  PlayFor(p, 100);
  EXPECT_GT(p.positionMs, 10000);
}

TEST_F(TransportTest, RepeatKeyWorksWhilePaused) {
  SimPlayer& p = LoadPlaying();
  app.TogglePlay();
  p.positionMs = 3000;
  app.RepeatKey();
  EXPECT_EQ(view().pointA, 3000);
}

TEST_F(TransportTest, TickDoesNothingUnlessPlaying) {
  SimPlayer& p = LoadPlaying(1000);
  app.TogglePlay();
  p.positionMs = 1000;
  log.clear();
  app.Tick();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(view().playState, Paused);
}

TEST_F(TransportTest, AbortWhilePlayingStopsThenShowsTheMessage) {
  SimPlayer& p = LoadPlaying();
  PlayFor(p, 500);
  p.QueueAbort(kErrStream, "Internal data stream error.");
  log.clear();
  app.OnGraphEvent();
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(view().status, "已停止播放");
  // The window shows the stop before the message box comes up.
  EXPECT_EQ(log.back(), "Error:播放异常：\r\nInternal data stream error.");
  EXPECT_EQ(log[log.size() - 2], "Changed");
}

TEST_F(TransportTest, AbortWithoutTextUsesTheCodesText) {
  SimPlayer& p = LoadPlaying();
  p.QueueAbort(kErrStream, "");
  app.OnGraphEvent();
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], FormatText(kTextPlaybackAbort, {p.ErrorText(kErrStream)}));
}

TEST_F(TransportTest, AbortWhilePausedOrStoppedIsDiscarded) {
  SimPlayer& p = LoadPlaying();
  app.TogglePlay();
  p.QueueAbort(kErrStream, "x");
  app.OnGraphEvent();
  EXPECT_EQ(view().playState, Paused);
  EXPECT_TRUE(shell.errors.empty());
  // The discarded events are gone: resuming and a later notification show nothing.
  app.TogglePlay();
  app.OnGraphEvent();
  EXPECT_TRUE(shell.errors.empty());

  app.Stop();
  p.QueueAbort(kErrStream, "y");
  app.OnGraphEvent();
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(TransportTest, CloseFileWhilePlayingStopsFirst) {
  SimPlayer& p = LoadPlaying();
  PlayFor(p, 1000);
  app.RepeatKey();
  log.clear();
  app.CloseFile();
  EXPECT_EQ(shell.Matching("player."), (Log{"player.Stop", "player.SeekMs(0)", "player.Teardown"}));
  EXPECT_FALSE(view().loaded);
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_TRUE(view().filePath.empty());
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(view().status, "还未载入mp3文件");
  EXPECT_EQ(view().title, std::string(Text(kTextCaption)));
}

TEST_F(TransportTest, ExitClosesTheFileSavesTheSettingsAndEndsTheWindow) {
  char folder[] = "/tmp/orvex-exit-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("XDG_CONFIG_HOME", folder, 1);
  LoadPlaying();
  app.SetVolume(-1200);
  app.ExitProgram();
  EXPECT_FALSE(view().loaded);
  EXPECT_EQ(log.back(), "DestroyMainWindow");
  const std::string settings = std::string(folder) + "/OrvexPlayer/options.ini";
  std::ifstream in(settings);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(content.find("volume=8800"), std::string::npos) << content;
  std::filesystem::remove_all(folder);
  unsetenv("XDG_CONFIG_HOME");

  // Exit without a file goes straight to the exit procedure.
  log.clear();
  App idle(shell);
  setenv("XDG_CONFIG_HOME", folder, 1);
  idle.ExitProgram();
  EXPECT_EQ(log, Log{"DestroyMainWindow"});
  std::filesystem::remove_all(folder);
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(TransportTest, ThePlayingLoopInvariantsHoldThroughACommandSequence) {
  SimPlayer& p = LoadPlaying(8000);
  // A scripted session: every step is followed by the invariants.
  const auto check = [&](const char* step) {
    SCOPED_TRACE(step);
    const TransportView& v = view();
    EXPECT_EQ(shell.view(), v);
    EXPECT_TRUE(v.pointB == -1 || (v.pointA != -1 && v.pointA <= v.pointB));
    if (v.playState == Stopped) {
      EXPECT_EQ(v.pointA, -1);
      EXPECT_EQ(v.pointB, -1);
    }
    if (v.loaded) {
      EXPECT_EQ(p.running, v.playState == Playing);
    }
    if (!v.loaded) {
      EXPECT_EQ(v.playState, Stopped);
    }
  };
  PlayFor(p, 3000);
  app.RepeatKey();
  check("A");
  app.JumpBackward();
  app.RepeatKey();
  check("B before A");
  PlayFor(p, 2000);
  check("looping");
  app.TogglePlay();
  check("paused");
  app.GoToEnd();
  app.TogglePlay();
  PlayFor(p, 100);
  check("looped back from the end");
  app.RepeatKey();
  PlayFor(p, 10000);
  check("played out");
  app.TogglePlay();
  app.RepeatKey();
  app.CloseFile();
  check("closed");
}

}  // namespace
}  // namespace orvex::test
