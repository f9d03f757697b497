// Start-up, memory and tick figures of the whole program, offscreen:
//   app_bench startup   time from process start (and from main) to the main
//                       window's first paint
//   app_bench memory    peak resident memory after opening the sample and
//                       playing it for 10 s
//   app_bench tick      the cost of one 25 ms tick with both views redrawn,
//                       over 1000 ticks while the sample plays
//   app_bench cpu       user and system CPU time of 20 s of playing the
//                       sample in the shown window (run it on xcb under Xvfb
//                       beside a bare gst-launch-1.0 pipeline: bench/run_app_bench.sh)
//   app_bench cpu-wave  the same with the wave strip shown
// Needs an audio output (scripts/pulse.sh) for memory and tick.

#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "app/app.h"
#include "app/main_window.h"
#include "app/program.h"
#include "playback/gst_player.h"

namespace {

double NowSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// When the process started, in seconds since boot (clock-tick resolution).
double ProcessStartSeconds() {
  std::ifstream in("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  const size_t close = stat.rfind(')');
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22; ++i) rest >> field;  // field 22: starttime
  return std::stod(field) / sysconf(_SC_CLK_TCK);
}

// User plus system CPU time of this process so far.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

long PeakRssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

class FirstPaint : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted = true;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const double mainAt = NowSeconds(CLOCK_BOOTTIME);
  const std::string mode = argc > 1 ? argv[1] : "startup";
  QApplication application(argc, argv);
  QTemporaryDir config;
  setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
  setenv("XDG_STATE_HOME", (config.path() + "/state").toUtf8().constData(), 1);
  orvex::EnsureGstInit();

  orvex::App app;
  orvex::ProgramOptions options;
  options.programFolder = QCoreApplication::applicationDirPath().toStdString();
  options.vendorBase = "http://127.0.0.1:9/";
  options.checkRequiredFilters = [] { return orvex::CheckRequiredFilters(); };
  orvex::Program program(app, options);
  FirstPaint paint;
  application.installEventFilter(&paint);
  if (!program.Start()) {
    std::fprintf(stderr, "start-up failed\n");
    return 1;
  }
  while (!paint.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const double paintedAt = NowSeconds(CLOCK_BOOTTIME);
  application.removeEventFilter(&paint);

  if (mode == "startup") {
    std::printf(
        "startup: process start to first paint %.1f ms (clock-tick resolution), "
        "main to first paint %.1f ms\n",
        (paintedAt - ProcessStartSeconds()) * 1000, (paintedAt - mainAt) * 1000);
    return 0;
  }

  if (mode == "cpu-wave") app.SetShowWave(true);
  app.OpenSample();
  // The sample builds on the player's own thread; the window goes on meanwhile.
  for (int i = 0; i < 1000 && app.view().playState != orvex::Playing; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    usleep(5000);
  }
  if (app.view().playState != orvex::Playing) {
    std::fprintf(stderr, "the sample does not play\n");
    return 1;
  }
  if (mode == "memory") {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::printf(
        "memory: peak RSS after opening the sample and playing 10 s: %.1f MB "
        "(position %d ms)\n",
        PeakRssKb() / 1024.0, app.view().positionMs);
    return 0;
  }
  if (mode == "cpu" || mode == "cpu-wave") {
    const double before = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("%s: window playing the sample for 20 s%s: %.2f s user+system (%s platform)\n",
                mode.c_str(), mode == "cpu" ? "" : " with the wave strip", CpuSeconds() - before,
                qPrintable(QGuiApplication::platformName()));
    return 0;
  }
  if (mode == "tick") {
    // Warm up, then time the ticks themselves (each redraws both views).
    for (int i = 0; i < 50; ++i) app.Tick();
    const double cpuBefore = NowSeconds(CLOCK_PROCESS_CPUTIME_ID);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 1000; ++i) app.Tick();
    const double wall = timer.nsecsElapsed() / 1e6;
    const double cpu = (NowSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore) * 1000;
    std::printf(
        "tick: %.3f ms wall, %.3f ms CPU per tick over 1000 ticks "
        "(40 ticks a second: %.2f%% of a core)\n",
        wall / 1000, cpu / 1000, cpu / 1000 * 40 / 10);
    return 0;
  }
  std::fprintf(stderr, "usage: app_bench startup|memory|tick|cpu|cpu-wave\n");
  return 2;
}
