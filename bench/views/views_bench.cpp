// The redraw cost of the two live views, as the 25 ms tick pays it: each
// iteration is one synchronous refresh of a shown widget (offscreen). The
// "allocs" counter is the heap allocations per refresh. The baseline is a
// widget that only copies a ready pixmap onto itself: what Qt itself allocates
// for a synchronous repaint and its two painters. The views allocate no more
// than that plus their texts, since fonts, pens, brushes and pictures are made
// once.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <atomic>
#include <cstdlib>
#include <new>

#include "app/app.h"
#include "views/display_panel.h"
#include "views/position_bar.h"

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
  void Teardown() override {}
  Result Run() override { return kOk; }
  Result Pause() override { return kOk; }
  Result Stop() override { return kOk; }
  void SeekMs(int32_t ms) override { position = ms; }
  int32_t GetPositionMs() override { return position; }
  int32_t GetDurationMs() override { return 3723500; }
  bool IsAtEnd() override { return false; }
  Result SetVolume(int32_t) override { return kOk; }
  Result SetChannel(int32_t) override { return kOk; }
  bool TakeEvent(GraphEvent&) override { return false; }
  std::string ErrorText(Result) const override { return {}; }
  int32_t position = 0;
};

void Load(App& app, PlayState state) {
  auto player = std::make_unique<BenchPlayer>();
  player->position = 1234567;
  app.player = std::move(player);
  app.bLoaded = 1;
  app.playState = state;
  app.pointA = 600000;
  app.pointB = 1800000;
}

template <typename View>
void Refreshes(benchmark::State& state, View& view, App& app) {
  view.show();
  QApplication::processEvents();
  view.refresh();  // the first draw makes the pictures it needs
  long allocs = 0;
  for (auto _ : state) {
    if (app.player) app.player->SeekMs(app.player->GetPositionMs() + 25);
    const long before = allocations.load(std::memory_order_relaxed);
    view.refresh();
    allocs += allocations.load(std::memory_order_relaxed) - before;
  }
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocs) / state.iterations());
}

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

void BM_BaselineRepaint(benchmark::State& state) {
  App app;
  BaselineView view;
  view.resize(604, 40);
  Refreshes(state, view, app);
}

void BM_PositionBarRefresh(benchmark::State& state) {
  App app;
  Load(app, Playing);
  PositionBar bar(app);
  bar.resize(604, 40);
  Refreshes(state, bar, app);
}

// The display panel refreshed with a file in the given state, or with none.
void DisplayPanelRefreshes(benchmark::State& state, bool loaded, PlayState playState) {
  App app;
  if (loaded) Load(app, playState);
  DisplayPanel panel(app);
  panel.resize(604, 163);
  Refreshes(state, panel, app);
}

void BM_DisplayPanelRefreshPlaying(benchmark::State& state) {
  DisplayPanelRefreshes(state, true, Playing);
}

void BM_DisplayPanelRefreshPaused(benchmark::State& state) {
  DisplayPanelRefreshes(state, true, Paused);
}

void BM_DisplayPanelRefreshNoFile(benchmark::State& state) {
  DisplayPanelRefreshes(state, false, Stopped);
}

// A thousand refreshes per run, five runs.
void PerRefresh(benchmark::internal::Benchmark* b) {
  b->Iterations(1000)->Repetitions(5)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_BaselineRepaint)->Apply(PerRefresh);
BENCHMARK(BM_PositionBarRefresh)->Apply(PerRefresh);
BENCHMARK(BM_DisplayPanelRefreshPlaying)->Apply(PerRefresh);
BENCHMARK(BM_DisplayPanelRefreshPaused)->Apply(PerRefresh);
BENCHMARK(BM_DisplayPanelRefreshNoFile)->Apply(PerRefresh);

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
