#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/texts.h"
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
  app.Tick();
  app.OnGraphEvent();
  app.CloseFile();
  // Only the repeat key dismisses the tooltip, whatever the state.
  app.RepeatKey();
  EXPECT_EQ(log, Log{"DismissTip"});
  EXPECT_EQ(app.pointA, -1);
  EXPECT_EQ(app.playState, Stopped);
}

TEST_F(TransportTest, ChannelIsStoredWithoutAFileAndAppliedWhenLoaded) {
  app.SetChannel(1);
  EXPECT_EQ(app.channel, 1);
  EXPECT_TRUE(log.empty());
  SimPlayer& p = Load();
  app.SetChannel(2);
  EXPECT_EQ(p.balance, 10000);
  app.SetChannel(0);
  EXPECT_EQ(p.balance, 0);
}

TEST_F(TransportTest, StoppedFileOnlyTakesPlay) {
  SimPlayer& p = Load();
  p.positionMs = 5000;
  app.Stop();
  app.JumpForward();
  app.JumpBackward();
  app.GoToStart();
  app.GoToEnd();
  app.Tick();
  app.RepeatKey();
  EXPECT_EQ(log, Log{"DismissTip"});
  EXPECT_EQ(p.positionMs, 5000);
  EXPECT_EQ(app.pointA, -1);
}

TEST_F(TransportTest, PlayFromStoppedSeeksToStartRunsAndStartsTimer) {
  SimPlayer& p = Load();
  p.positionMs = 7000;
  app.TogglePlay();
  EXPECT_EQ(log, (Log{"DismissTip", "player.SeekMs(0)", "player.Run", "TimerStart", "RefreshViews",
                      "ToolbarImage", "ToolbarEnable", "Status0:播放中…"}));
  EXPECT_EQ(app.playState, Playing);
  EXPECT_TRUE(shell.timerRunning);
  EXPECT_EQ(p.positionMs, 0);
}

TEST_F(TransportTest, PauseAndResumeKeepThePosition) {
  SimPlayer& p = LoadPlaying();
  PlayFor(p, 1000);
  log.clear();
  app.TogglePlay();
  EXPECT_EQ(log, (Log{"DismissTip", "player.Pause", "TimerStop", "RefreshViews", "ToolbarImage",
                      "ToolbarEnable", "Status0:暂停播放"}));
  EXPECT_EQ(app.playState, Paused);
  const int32_t pausedAt = p.positionMs;
  log.clear();
  app.TogglePlay();
  EXPECT_EQ(log, (Log{"DismissTip", "player.Run", "TimerStart", "RefreshViews", "ToolbarImage",
                      "ToolbarEnable", "Status0:播放中…"}));
  EXPECT_EQ(p.positionMs, pausedAt);
}

TEST_F(TransportTest, RunFailureShowsMessageAndChangesNothing) {
  SimPlayer& p = Load();
  p.runResult = kErrNoAudioHardware;
  app.TogglePlay();
  EXPECT_EQ(app.playState, Stopped);
  EXPECT_FALSE(shell.timerRunning);
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], FormatText(kTextPlayFailed, {p.ErrorText(kErrNoAudioHardware)}));
  EXPECT_EQ(shell.errors[0].rfind("播放失败：\r\n", 0), 0u);
  EXPECT_TRUE(shell.Matching("Status0").empty());

  // Resuming from pause fails the same way and stays paused.
  p.runResult = kOk;
  app.TogglePlay();
  app.TogglePlay();
  ASSERT_EQ(app.playState, Paused);
  p.runResult = kErrFail;
  app.TogglePlay();
  EXPECT_EQ(app.playState, Paused);
  EXPECT_FALSE(shell.timerRunning);
  EXPECT_EQ(shell.errors.size(), 2u);
}

TEST_F(TransportTest, StopReturnsToStartAndForgetsThePoints) {
  SimPlayer& p = LoadPlaying();
  PlayFor(p, 2000);
  app.RepeatKey();
  PlayFor(p, 1000);
  app.RepeatKey();
  ASSERT_NE(app.pointB, -1);
  log.clear();
  app.Stop();
  EXPECT_EQ(log, (Log{"DismissTip", "player.Stop", "player.SeekMs(0)", "TimerStop", "ToolbarImage",
                      "ToolbarEnable", "RefreshViews", "Status0:已停止播放"}));
  EXPECT_EQ(app.playState, Stopped);
  EXPECT_EQ(app.pointA, -1);
  EXPECT_EQ(app.pointB, -1);
  EXPECT_EQ(p.positionMs, 0);
}

TEST_F(TransportTest, StopWorksWhilePaused) {
  LoadPlaying();
  app.TogglePlay();
  app.RepeatKey();
  app.Stop();
  EXPECT_EQ(app.playState, Stopped);
  EXPECT_EQ(app.pointA, -1);
}

TEST_F(TransportTest, JumpsClampToBothEndsAndKeepState) {
  SimPlayer& p = LoadPlaying(20000);
  p.positionMs = 1500;
  app.JumpBackward();
  EXPECT_EQ(p.positionMs, 0);
  EXPECT_EQ(log, (Log{"player.SeekMs(-1500)", "RefreshViews"}));
  p.positionMs = 10000;
  app.JumpForward();
  EXPECT_EQ(p.positionMs, 13000);
  p.positionMs = 18500;
  app.JumpForward();
  EXPECT_EQ(p.positionMs, 20000);
  EXPECT_EQ(app.playState, Playing);

  // Jumps act while paused too.
  app.TogglePlay();
  app.JumpBackward();
  EXPECT_EQ(p.positionMs, 17000);
  EXPECT_EQ(app.playState, Paused);
}

TEST_F(TransportTest, JumpNearTheTopOfTheRangeDoesNotWrap) {
  SimPlayer& p = LoadPlaying(INT32_MAX);
  app.jumpSeconds = 9;
  p.positionMs = INT32_MAX - 100;
  app.JumpForward();
  EXPECT_EQ(p.positionMs, INT32_MAX);
}

TEST_F(TransportTest, JumpForwardIntoTheEndStopsAtTheNextTick) {
  SimPlayer& p = LoadPlaying(20000);
  p.positionMs = 18000;
  app.JumpForward();
  log.clear();
  app.Tick();
  EXPECT_EQ(log, (Log{"RefreshViews", "EndDrag", "DismissTip", "player.Stop", "player.SeekMs(0)",
                      "TimerStop", "ToolbarImage", "ToolbarEnable", "RefreshViews",
                      "Status0:已停止播放"}));
  EXPECT_EQ(p.positionMs, 0);
  EXPECT_EQ(app.playState, Stopped);
}

TEST_F(TransportTest, GoToStartAndEnd) {
  SimPlayer& p = LoadPlaying(30000);
  p.positionMs = 12000;
  app.GoToEnd();
  EXPECT_EQ(p.positionMs, 30000);
  app.GoToStart();
  EXPECT_EQ(p.positionMs, 0);
  EXPECT_EQ(app.playState, Playing);
}

TEST_F(TransportTest, GoToEndWhilePausedResumesThereAndStopsAtFirstTick) {
  SimPlayer& p = LoadPlaying(30000);
  app.TogglePlay();
  app.GoToEnd();
  EXPECT_EQ(p.positionMs, 30000);
  EXPECT_EQ(app.playState, Paused);
  app.TogglePlay();
  EXPECT_EQ(p.positionMs, 30000);
  app.Tick();
  EXPECT_EQ(app.playState, Stopped);
  EXPECT_EQ(p.positionMs, 0);
}

TEST_F(TransportTest, RepeatKeyCyclesThroughThreePhases) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 4000;
  app.RepeatKey();
  EXPECT_EQ(log, (Log{"DismissTip", "ToolbarImage", "ToolbarEnable", "RefreshViews"}));
  EXPECT_EQ(app.pointA, 4000);
  EXPECT_EQ(app.pointB, -1);
  p.positionMs = 10000;
  app.RepeatKey();
  EXPECT_EQ(app.pointA, 4000);
  EXPECT_EQ(app.pointB, 10000);
  // Setting the points never seeks.
  EXPECT_EQ(p.positionMs, 10000);
  EXPECT_TRUE(shell.Matching("player.SeekMs").empty());
  app.RepeatKey();
  EXPECT_EQ(app.pointA, -1);
  EXPECT_EQ(app.pointB, -1);
}

TEST_F(TransportTest, SecondPointBeforeTheFirstIsSwapped) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 10000;
  app.RepeatKey();
  p.positionMs = 4000;
  app.RepeatKey();
  EXPECT_EQ(app.pointA, 4000);
  EXPECT_EQ(app.pointB, 10000);
}

TEST_F(TransportTest, EqualPointsSeekBackToAAtEveryTick) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 5000;
  app.RepeatKey();
  app.RepeatKey();
  EXPECT_EQ(app.pointA, 5000);
  EXPECT_EQ(app.pointB, 5000);
  for (int i = 0; i < 3; ++i) {
    p.Advance(25);
    log.clear();
    app.Tick();
    EXPECT_EQ(log, (Log{"RefreshViews", "player.SeekMs(5000)"}));
    EXPECT_EQ(p.positionMs, 5000);
  }
  EXPECT_EQ(app.playState, Playing);
}

TEST_F(TransportTest, LoopRuleAtAAndB) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 4000;
  app.RepeatKey();
  p.positionMs = 10000;
  app.RepeatKey();

  const struct {
    int32_t position;
    bool seeks;
  } cases[] = {{4001, false}, {9999, false}, {10000, true},
               {12000, true}, {4000, true},  {2000, true}};
  for (const auto& c : cases) {
    p.positionMs = c.position;
    log.clear();
    app.Tick();
    EXPECT_EQ(!shell.Matching("player.SeekMs(4000)").empty(), c.seeks) << c.position;
    EXPECT_EQ(p.positionMs, c.seeks ? 4000 : c.position) << c.position;
  }
}

TEST_F(TransportTest, LoopLandsOnAWithinOneTickOfB) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 2000;
  app.RepeatKey();
  PlayFor(p, 3000);
  app.RepeatKey();
  ASSERT_EQ(app.pointB, 5000);
  p.SeekMs(2000);
  int loops = 0;
  int32_t furthest = 0;
  for (int i = 0; i < 600; ++i) {
    p.Advance(25);
    furthest = std::max(furthest, p.positionMs);
    const int32_t before = p.positionMs;
    app.Tick();
    if (p.positionMs != before) {
      ++loops;
      EXPECT_EQ(p.positionMs, 2000);
    }
  }
  EXPECT_EQ(loops, 5);
  EXPECT_LE(furthest, 5000 + 25);
  EXPECT_EQ(app.playState, Playing);
}

TEST_F(TransportTest, EndOfFileWithOnlyAStopsAndClearsA) {
  SimPlayer& p = LoadPlaying(3000);
  p.positionMs = 1000;
  app.RepeatKey();
  PlayFor(p, 5000);
  EXPECT_EQ(app.playState, Stopped);
  EXPECT_EQ(app.pointA, -1);
  EXPECT_EQ(p.positionMs, 0);
  EXPECT_EQ(shell.status[0], "已停止播放");
  EXPECT_EQ(shell.Matching("EndDrag").size(), 1u);
}

TEST_F(TransportTest, EndOfFileDoesNotStopALoop) {
  SimPlayer& p = LoadPlaying(3000);
  p.positionMs = 1000;
  app.RepeatKey();
  p.positionMs = 3000;
  app.RepeatKey();
  app.Tick();
  EXPECT_EQ(app.playState, Playing);
  EXPECT_EQ(p.positionMs, 1000);
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
  EXPECT_EQ(app.pointA, -1);
  app.TogglePlay();
  PlayFor(p, 100);
  EXPECT_GT(p.positionMs, 10000);
}

TEST_F(TransportTest, RepeatKeyWorksWhilePaused) {
  SimPlayer& p = LoadPlaying();
  app.TogglePlay();
  p.positionMs = 3000;
  app.RepeatKey();
  EXPECT_EQ(app.pointA, 3000);
}

TEST_F(TransportTest, TickDoesNothingUnlessPlaying) {
  SimPlayer& p = LoadPlaying(1000);
  app.TogglePlay();
  p.positionMs = 1000;
  log.clear();
  app.Tick();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(app.playState, Paused);
}

TEST_F(TransportTest, AbortWhilePlayingStopsThenShowsTheMessage) {
  SimPlayer& p = LoadPlaying();
  PlayFor(p, 500);
  p.QueueAbort(kErrStream, "Internal data stream error.");
  log.clear();
  app.OnGraphEvent();
  EXPECT_EQ(app.playState, Stopped);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Error:播放异常：\r\nInternal data stream error.");
  EXPECT_EQ(log[log.size() - 2], "Status0:已停止播放");
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
  EXPECT_EQ(app.playState, Paused);
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
  EXPECT_EQ(log, (Log{"DismissTip", "player.Stop", "player.SeekMs(0)", "TimerStop", "ToolbarImage",
                      "ToolbarEnable", "RefreshViews", "Status0:已停止播放", "player.Teardown",
                      "RefreshViews", "Status0:还未载入mp3文件", "Status1:", "ToolbarEnable",
                      "Title:" + std::string(Text(kTextCaption))}));
  EXPECT_EQ(app.bLoaded, 0);
  EXPECT_EQ(app.player, nullptr);
  EXPECT_TRUE(app.filePath.empty());
  EXPECT_EQ(app.pointA, -1);
  EXPECT_FALSE(shell.timerRunning);
}

TEST_F(TransportTest, ExitClosesTheFileSavesTheSettingsAndEndsTheWindow) {
  char folder[] = "/tmp/orvex-exit-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("XDG_CONFIG_HOME", folder, 1);
  LoadPlaying();
  app.volume = -1200;
  app.ExitProgram();
  EXPECT_EQ(app.bLoaded, 0);
  EXPECT_EQ(log.back(), "DestroyMainWindow");
  const std::string settings = std::string(folder) + "/OrvexPlayer/options.ini";
  std::ifstream in(settings);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(content.find("volume=8800"), std::string::npos) << content;
  std::filesystem::remove_all(folder);
  unsetenv("XDG_CONFIG_HOME");

  // Exit without a file goes straight to the exit procedure.
  log.clear();
  App idle;
  idle.shell = &shell;
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
    EXPECT_TRUE(app.pointB == -1 || (app.pointA != -1 && app.pointA <= app.pointB));
    if (app.playState == Stopped) {
      EXPECT_EQ(app.pointA, -1);
      EXPECT_EQ(app.pointB, -1);
    }
    EXPECT_EQ(shell.timerRunning, app.playState == Playing);
    if (!app.bLoaded) {
      EXPECT_EQ(app.playState, Stopped);
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
