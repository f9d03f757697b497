#pragma once
// An application object over the simulated player and the recording shell.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/support/recording_shell.h"
#include "tests/support/sim_player.h"

namespace orvex::test {

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() : shell(&log), factory(&log), app(shell, &factory) {
    app.ApplySettings(Settings{0, -500, 3});
    log.clear();
  }

  // A loaded file of the given length, played and stopped again.
  SimPlayer& Load(int32_t durationMs = 60000) {
    SimPlayer& p = LoadPlaying(durationMs);
    app.Stop();
    log.clear();
    return p;
  }

  SimPlayer& LoadPlaying(int32_t durationMs = 60000) {
    factory.durationMs = durationMs;
    app.OpenFile("/music/lesson.mp3");
    log.clear();
    return *factory.last;
  }

  // Plays on for ms: the streaming side's events are taken as they come, and
  // the 25 ms tick runs, as in the main window.
  void PlayFor(SimPlayer& p, int32_t ms) {
    for (int32_t t = 0; t < ms && app.view().playState == Playing; t += 25) {
      p.Advance(25);
      app.OnGraphEvent();
      if (app.view().playState == Playing) app.Tick();
    }
  }

  const TransportView& view() const { return app.view(); }
  size_t Publishes() const { return shell.Matching("Changed").size(); }

  std::vector<std::string> log;
  RecordingShell shell;
  SimPlayerFactory factory;
  App app;
};

}  // namespace orvex::test
