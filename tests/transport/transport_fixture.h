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
  TransportTest() : shell(&log), factory(&log) {
    app.shell = &shell;
    app.playerFactory = &factory;
    app.jumpSeconds = 3;
    app.volume = -500;
  }

  // A loaded, stopped file of the given length, as a successful open leaves it
  // before it starts playing.
  SimPlayer& Load(int32_t durationMs = 60000) {
    auto player = std::make_unique<SimPlayer>(&log, durationMs);
    player->built = true;
    SimPlayer& ref = *player;
    app.player = std::move(player);
    app.bLoaded = 1;
    app.playState = Stopped;
    app.filePath = "/music/lesson.mp3";
    return ref;
  }

  SimPlayer& LoadPlaying(int32_t durationMs = 60000) {
    SimPlayer& p = Load(durationMs);
    app.TogglePlay();
    log.clear();
    return p;
  }

  // Plays on for ms, ticking every 25 ms as the main window's timer does.
  void PlayFor(SimPlayer& p, int32_t ms) {
    for (int32_t t = 0; t < ms && app.playState == Playing; t += 25) {
      p.Advance(25);
      app.Tick();
    }
  }

  std::vector<std::string> log;
  RecordingShell shell;
  SimPlayerFactory factory;
  App app;
};

}  // namespace orvex::test
