// The window and the engine's thread, figures never asserted:
// - the time the GUI thread spends in each command (median, 99th percentile,
//   max) for a seek, a loop plan, a speed, a jump, an open and the recorder's
//   start (shadowing on), the application driven as the main window drives it;
// - key to heard, on the null sink's monitor: how long after the call the
//   cut of a jump is heard, the end of the sound at a pause, and the cut of a
//   change of speed; and how far each jump heard is from 3 s.
// Needs the sound server (bench/run_engine_bench.sh starts the private null
// sink and makes the lesson).
//
//   engine_bench <a minute of noise as MP3> [rounds]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "playback/gst_player.h"
#include "playback/gst_recorder.h"
#include "tests/playback/sound_check.h"

using namespace orvex;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Stats {
  std::vector<double> values;
  void Print(const char* what, const char* unit = "ms") {
    if (values.empty()) {
      std::printf("%-34s none\n", what);
      return;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    std::printf("%-34s n=%-4zu median %8.3f %s, 99th %8.3f %s, max %8.3f %s\n", what, n,
                values[n / 2], unit, values[std::min(n - 1, n * 99 / 100)], unit, values.back(),
                unit);
  }
};

class Bench {
 public:
  explicit Bench(std::string lesson) : lesson_(std::move(lesson)) {
    app_.ApplySettings(Settings{0, kVolumeFull, 3});
  }

  double Timed(const std::function<void()>& call) {
    const Clock::time_point start = Clock::now();
    call();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  // The main window's part: the player's events and the tick every 25 ms.
  void Pump(std::chrono::milliseconds time) {
    const Clock::time_point end = Clock::now() + time;
    while (Clock::now() < end) {
      std::this_thread::sleep_for(25ms);
      app_.OnGraphEvent();
      app_.Tick();
    }
  }

  void Run(int rounds) {
    Stats open;
    for (int i = 0; i < 3; ++i) {
      open.values.push_back(Timed([&] { app_.OpenFile(lesson_); }));
      Pump(300ms);
      app_.CloseFile();
    }
    if (!take_.Start(lesson_, dir_.File("heard.wav"))) {
      std::printf("could not decode the lesson or record the sink\n");
      return;
    }
    open.values.push_back(Timed([&] { app_.OpenFile(lesson_); }));
    Pump(800ms);

    Stats jumpCall, seekCall, planCall, rateCall, pauseCall;
    std::vector<size_t> jumps, pauses, rates;
    for (int r = 0; r < rounds; ++r) {
      jumps.push_back(take_.Mark());
      jumpCall.values.push_back(Timed([&] { app_.JumpForward(); }));
      Pump(700ms);
      if (app_.view().positionMs > 45000) {
        seekCall.values.push_back(Timed([&] { app_.SeekTo(2000); }));
        Pump(500ms);
      }
      pauses.push_back(take_.Mark());
      pauseCall.values.push_back(Timed([&] { app_.TogglePlay(); }));
      Pump(300ms);
      app_.TogglePlay();
      Pump(500ms);
      rates.push_back(take_.Mark());
      rateCall.values.push_back(Timed([&] { app_.SetRate(r % 2 ? 100 : 125); }));
      Pump(600ms);
    }
    for (int r = 0; r < rounds; ++r) {
      const int32_t a = 1000 + (r * 1700) % 40000;
      planCall.values.push_back(Timed([&] { app_.LoopStretch(a, a + 1500); }));
      Pump(100ms);
    }
    app_.RepeatKey();
    app_.NormalSpeed();
    Pump(300ms);
    app_.TogglePlay();
    Pump(300ms);
    take_.Finish();

    // Key to heard: where the sound playing at the call ends.
    Stats jumpHeard, jumpSize, pauseHeard, rateHeard;
    auto cutAfter = [&](size_t mark, Stats& latency, Stats* size) {
      const test::HeardRun* run = take_.RunPlayingAt(mark);
      if (!run) return;
      latency.values.push_back(take_.FramesToMs(static_cast<double>(run->End()) -
                                                static_cast<double>(take_.FrameOf(mark))));
      const test::HeardRun* next = take_.Next(run);
      if (size && next) {
        size->values.push_back(
            std::abs(take_.FramesToMs(static_cast<double>(next->from - run->FileEnd())) - 3000));
      }
    };
    for (const size_t m : jumps) cutAfter(m, jumpHeard, &jumpSize);
    for (const size_t m : pauses) cutAfter(m, pauseHeard, nullptr);
    for (const size_t m : rates) cutAfter(m, rateHeard, nullptr);

    std::printf("GUI thread per command:\n");
    jumpCall.Print("  jump (->)");
    seekCall.Print("  seek (position bar)");
    planCall.Print("  loop plan (a stretch dragged)");
    rateCall.Print("  speed");
    pauseCall.Print("  pause");
    open.Print("  open");
    std::printf("key to heard (marks in the recording are good to %d ms):\n", test::kMarkSlackMs);
    jumpHeard.Print("  jump: the cut heard after the key");
    pauseHeard.Print("  pause: the sound ends after the key");
    rateHeard.Print("  speed: the cut heard after the key");
    jumpSize.Print("  |jump heard - 3 s|");
  }

  void Recorder(int rounds) {
    GstRecorder recorder([] {});
    app_.SetRecorder(&recorder);
    app_.OpenFile(lesson_);
    Pump(300ms);
    Stats start, stop;
    for (int r = 0; r < rounds; ++r) {
      start.values.push_back(Timed([&] { app_.ToggleShadowing(); }));
      Pump(200ms);
      stop.values.push_back(Timed([&] { app_.ToggleShadowing(); }));
      Pump(100ms);
    }
    start.Print("  recorder on (shadowing)");
    stop.Print("  recorder off");
    app_.CloseFile();
    app_.SetRecorder(nullptr);
  }

 private:
  std::string lesson_;
  test::TempDir dir_;
  test::HeardTake take_;
  SilentShell shell_;
  GstPlayerFactory factory_;
  App app_{shell_, &factory_};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: engine_bench <a minute of noise as MP3> [rounds]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  EnsureGstInit();
  Bench bench(argv[1]);
  bench.Run(rounds);
  bench.Recorder(std::min(rounds, 10));
  return 0;
}
