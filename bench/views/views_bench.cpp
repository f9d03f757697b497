// What the 25 ms tick costs the window (offscreen): one tick of the
// application (a new view) handed to the main window, with nothing the user
// sees changed, and with both live views changed; and one redraw of each view
// alone. The wave strip of an hour's lesson: its first picture (a cached
// file opened), and its cost per 25 ms tick while playing, beside the same
// ticks with the strip hidden. The "allocs" counter is the heap allocations per iteration. The
// baseline is a widget that only copies a ready pixmap onto itself: what Qt
// itself allocates for a synchronous repaint and its two painters.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <atomic>
#include <cstdlib>
#include <new>

#include "app/app.h"
#include "app/main_window.h"
#include "views/display_panel.h"
#include "views/position_bar.h"
#include "views/wave_strip.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace orvex {
namespace {

// A player that only answers the position and the length.
class BenchPlayer : public Player {
 public:
  Result BuildWithMp3Parser(const std::string&) override { return kOk; }
  Result BuildWithMpeg1Splitter(const std::string&) override { return kOk; }
  Result BuildWithDecoder(const std::string&) override { return kOk; }
  void Teardown() override {}
  Result Run() override { return kOk; }
  Result Pause() override { return kOk; }
  Result Stop() override { return kOk; }
  void SeekMs(int32_t ms) override { position = ms; }
  int32_t GetPositionMs() override { return position; }
  int32_t GetDurationMs() override { return 3723500; }
  bool IsAtEnd() override { return false; }
  void SetLoopPlan(const LoopPlan&) override {}
  void ClearLoop() override {}
  Result SetRate(int32_t) override { return kOk; }
  Result SetVolume(int32_t) override { return kOk; }
  Result SetChannel(int32_t) override { return kOk; }
  bool TakeEvent(GraphEvent&) override { return false; }
  std::string ErrorText(Result) const override { return {}; }
  int32_t position = 0;
};

// Copies a ready pixmap, composing nothing.
class BaselineView : public QWidget {
 public:
  BaselineView() { setAttribute(Qt::WA_OpaquePaintEvent); }
  void refresh() { repaint(); }

 protected:
  void resizeEvent(QResizeEvent*) override {
    surface_ = QPixmap(size());
    surface_.fill(Qt::white);
  }
  void paintEvent(QPaintEvent*) override {
    { QPainter compose(&surface_); }
    QPainter painter(this);
    painter.drawPixmap(0, 0, surface_);
  }

 private:
  QPixmap surface_;
};

class BenchFactory : public PlayerFactory {
 public:
  bool HasAudioDevice() override { return true; }
  std::unique_ptr<Player> Create() override {
    auto player = std::make_unique<BenchPlayer>();
    last = player.get();
    return player;
  }
  BenchPlayer* last = nullptr;
};

// Counts the allocations of each iteration of step.
template <typename Step>
void Measure(benchmark::State& state, Step step) {
  long allocs = 0;
  for (auto _ : state) {
    const long before = allocations.load(std::memory_order_relaxed);
    step();
    allocs += allocations.load(std::memory_order_relaxed) - before;
  }
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocs) / state.iterations());
}

// The main window playing a file of 1:02:03 with A and B set; each iteration
// moves the player on by stepMs and runs one tick.
void Ticks(benchmark::State& state, int32_t stepMs) {
  BenchFactory factory;
  App app;
  app.SetPlayerFactory(&factory);
  MainWindow window(app);
  app.SetShell(window);
  window.show();
  QApplication::processEvents();
  app.OpenFile("/bench/lesson.mp3");
  factory.last->position = 600000;
  app.RepeatKey();
  factory.last->position = 1800000;
  app.RepeatKey();
  factory.last->position = 900000;
  app.Tick();
  int32_t direction = 1;
  Measure(state, [&] {
    // Back and forth inside A..B, so the loop rule never seeks.
    if (factory.last->position + stepMs >= 1800000) direction = -1;
    if (factory.last->position - stepMs <= 600000) direction = 1;
    factory.last->position += direction * stepMs;
    app.Tick();
  });
  app.CloseFile();
  static SilentShell nowhere;
  app.SetShell(nowhere);  // the window goes first
}

// 1 ms on: no second and no pixel of the bar changes.
void BM_TickNothingChanged(benchmark::State& state) {
  Ticks(state, 1);
}

// 7.3 s on: the time, the percentage and the thumb all move.
void BM_TickBothViewsChanged(benchmark::State& state) {
  Ticks(state, 7300);
}

void BM_BaselineRepaint(benchmark::State& state) {
  BaselineView view;
  view.resize(604, 40);
  view.show();
  QApplication::processEvents();
  Measure(state, [&] { view.refresh(); });
}

TransportView PlayingView() {
  TransportView v;
  v.loaded = true;
  v.playState = Playing;
  v.lengthMs = 3723500;
  v.positionMs = 1234567;
  v.pointA = 600000;
  v.pointB = 1800000;
  return v;
}

// An hour of peaks (a tone that swells and fades) and sentences of 3 s.
TransportView WaveView() {
  TransportView v = PlayingView();
  PeakList peaks(static_cast<size_t>(v.lengthMs / kPeakBlockMs));
  for (size_t i = 0; i < peaks.size(); ++i) {
    const auto a = static_cast<int8_t>(20 + (i * 7) % 100);
    peaks[i] = {static_cast<int8_t>(-a), a};
  }
  v.peaks = std::make_shared<const PeakList>(std::move(peaks));
  std::vector<Sentence> sentences;
  for (int32_t ms = 0; ms + 3000 < v.lengthMs; ms += 3500) sentences.push_back({ms, ms + 3000, ""});
  v.sentences = std::make_shared<const std::vector<Sentence>>(std::move(sentences));
  return v;
}

// The first picture of the strip for a file just opened: all of it composed.
void BM_WaveStripFirstPicture(benchmark::State& state) {
  WaveStrip strip;
  strip.resize(604, WaveStrip::kHeight);
  strip.show();
  QApplication::processEvents();
  TransportView v = WaveView();
  Measure(state, [&] {
    ++v.track;  // a new file each time
    strip.setView(v);
    benchmark::DoNotOptimize(strip.grab());  // painted for certain
  });
}

// Playing: 25 ms on per tick, with the strip shown and hidden.
void StripTicks(benchmark::State& state, bool shown) {
  WaveStrip strip;
  strip.resize(604, WaveStrip::kHeight);
  strip.setVisible(shown);
  QApplication::processEvents();
  TransportView v = WaveView();
  v.pointA = v.pointB = -1;
  Measure(state, [&] {
    v.positionMs = (v.positionMs + 25) % v.lengthMs;
    if (shown) {
      strip.setView(v);
      QApplication::processEvents();
    }
  });
}
void BM_WaveStripPlayingShown(benchmark::State& state) {
  StripTicks(state, true);
}
void BM_WaveStripPlayingHidden(benchmark::State& state) {
  StripTicks(state, false);
}

// One widget given a view that changes what it shows at every iteration.
template <typename Widget>
void Redraws(benchmark::State& state, Widget& widget, TransportView v, int32_t stepMs) {
  widget.show();
  QApplication::processEvents();
  widget.setView(v);
  Measure(state, [&] {
    v.positionMs = (v.positionMs + stepMs) % v.lengthMs;
    widget.setView(v);
  });
}

void BM_PositionBarRedraw(benchmark::State& state) {
  PositionBar bar;
  bar.resize(604, 40);
  Redraws(state, bar, PlayingView(), 7300);
}

void BM_DisplayPanelRedraw(benchmark::State& state) {
  DisplayPanel panel;
  panel.resize(604, 163);
  Redraws(state, panel, PlayingView(), 1000);
}

// A thousand refreshes per run, five runs.
void PerRefresh(benchmark::internal::Benchmark* b) {
  b->Iterations(1000)->Repetitions(5)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_TickNothingChanged)->Apply(PerRefresh);
BENCHMARK(BM_TickBothViewsChanged)->Apply(PerRefresh);
BENCHMARK(BM_BaselineRepaint)->Apply(PerRefresh);
BENCHMARK(BM_PositionBarRedraw)->Apply(PerRefresh);
BENCHMARK(BM_DisplayPanelRedraw)->Apply(PerRefresh);
BENCHMARK(BM_WaveStripFirstPicture)->Iterations(50)->Repetitions(3)->Unit(benchmark::kMillisecond);
// 20 s of playing: 800 ticks.
BENCHMARK(BM_WaveStripPlayingShown)->Iterations(800)->Repetitions(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveStripPlayingHidden)
    ->Iterations(800)
    ->Repetitions(3)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvex

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
