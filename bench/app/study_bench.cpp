// Study memory and lesson list figures, never asserted:
// - the time from OpenFile to the first sample at the sink from the place
//   playback resumes (the file's start without a memory, A with one), for a
//   file without a memory beside one with a memory of 200 saved loops and an
//   A-B loop, median of the rounds; and the memory's read alone;
// - building the lesson list of a folder of 2,000 files, natural order
//   (QCollator) and byte order.
// Needs the sound server (bench/run_study_bench.sh starts the private null
// sink).
//
//   study_bench <program folder holding eg.mp3> [rounds]

#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/natural_order.h"
#include "playback/gst_player.h"
#include "settings/study_store.h"
#include "transport/lessons.h"

using namespace orvex;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

// Players that note when the first sample from a stream time on reaches the
// sink.
class TimedFactory : public PlayerFactory {
 public:
  bool HasAudioDevice() override { return real_.HasAudioDevice(); }
  std::unique_ptr<Player> Create() override {
    GstPlayerOptions options;
    options.observer = [this](const PcmBlock& block) {
      if (block.ptsNs >= fromNs.load() && !arrived.exchange(true)) at = Clock::now();
    };
    return std::make_unique<GstPlayer>(GraphNotify{}, options);
  }
  std::atomic<int64_t> fromNs{0};
  std::atomic<bool> arrived{false};
  Clock::time_point at{};

 private:
  GstPlayerFactory real_;
};

// Milliseconds from OpenFile to the first sample from fromMs on; -1 when
// none came.
double OpenToSound(App& app, TimedFactory& factory, const std::string& path, int32_t fromMs) {
  factory.fromNs = int64_t{fromMs} * 1000000 - 30000000;
  factory.arrived = false;
  const Clock::time_point start = Clock::now();
  app.OpenFile(path);
  const Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
  while (!factory.arrived && Clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const double ms = factory.arrived ? Ms(factory.at - start) : -1;
  app.CloseFile();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: study_bench <program folder holding eg.mp3> [rounds]\n");
    return 2;
  }
  const std::string sample = std::string(argv[1]) + "/eg.mp3";
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  EnsureGstInit();

  // Two copies of the sample: one without a memory, one with 200 saved loops.
  const std::string plain = root + "/plain.mp3", kept = root + "/kept.mp3";
  std::filesystem::copy_file(sample, plain);
  std::filesystem::copy_file(sample, kept);
  const StudyStore store(root + "/state");
  StudyRecord memory;
  memory.path = kept;
  StampStudyRecord(memory);
  memory.aMs = 1500;
  memory.bMs = 3500;
  memory.positionMs = 2000;
  memory.rate = 100;
  for (int32_t i = 0; i < 200; ++i) AddSavedLoop(memory.loops, {i * 20, i * 20 + 15});
  if (store.Save(memory) != 0) {
    std::fprintf(stderr, "could not save the memory\n");
    return 1;
  }

  TimedFactory factory;
  App app;
  app.SetPlayerFactory(&factory);
  app.SetStudyStore(&store);
  std::vector<double> without, with, read;
  OpenToSound(app, factory, plain, 0);  // loads the plug-ins
  for (int r = 0; r < rounds; ++r) {
    without.push_back(OpenToSound(app, factory, plain, 0));
    // The memory as it was: the close keeps the place again.
    (void)store.Save(memory);
    with.push_back(OpenToSound(app, factory, kept, memory.aMs));
    (void)store.Save(memory);
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 100; ++i) (void)store.Load(kept);
    read.push_back(Ms(Clock::now() - start) / 100);
  }
  std::printf("open to first sound, median of %d: without a memory %.2f ms, with 200 saved loops "
              "(from A) %.2f ms, difference %+.2f ms (goal: at most +10 ms)\n",
              rounds, Median(without), Median(with), Median(with) - Median(without));
  std::printf("reading a memory of 200 saved loops: %.3f ms\n", Median(read));

  // A folder of 2,000 lessons.
  const std::string course = root + "/course";
  std::filesystem::create_directory(course);
  for (int i = 1; i <= 2000; ++i) {
    const std::string name = (i % 2 ? "第" + std::to_string(i) + "课.mp3"
                                     : "Lesson " + std::to_string(i) + ".ogg");
    close(open((course + "/" + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  }
  const LessonOrder natural = NaturalOrder();
  const LessonOrder bytes = [](const std::string& a, const std::string& b) { return a < b; };
  for (const auto& [name, order] : {std::pair{"natural order", &natural}, {"byte order", &bytes}}) {
    std::vector<double> times;
    size_t count = 0;
    for (int r = 0; r < rounds; ++r) {
      const Clock::time_point start = Clock::now();
      count = FolderLessons(course, *order).size();
      times.push_back(Ms(Clock::now() - start));
    }
    std::printf("lesson list of %zu files, %s: median %.2f ms (goal: at most 50 ms)\n", count, name,
                Median(times));
  }
  return 0;
}
