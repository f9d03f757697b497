// Figures of sentence finding: the analysis of a long lesson on one core
// (time, CPU, peak memory, boundary accuracy, the cache's second open), and
// whether the analysis makes a playing file drop out, judged on a recording
// of the sound server's null sink. Prints them; asserts nothing. Run through
// bench/run_sentence_bench.sh, which makes the files and starts the server.
//
// sentence_bench analyse <lesson.mp3> <lesson.truth>
// sentence_bench dropouts <tone.mp3> <lesson.mp3> <tone Hz>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "playback/gst_player.h"
#include "playback/sentence_analysis.h"
#include "sentences/sentence_cache.h"
#include "tests/playback/sound_check.h"

namespace {

using namespace orvex;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

// A line of /proc/self/status in megabytes ("VmRSS", "VmHWM").
double StatusMb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field) + 1)) / 1024.0;
  }
  return 0;
}

// Pins this process (and every thread it starts later) to one core.
int PinToOneCore() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  sched_getaffinity(0, sizeof allowed, &allowed);
  int cpu = 0;
  while (cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &allowed)) ++cpu;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  sched_setaffinity(0, sizeof one, &one);
  return cpu;
}

SentenceAnalysisResult AnalyseToEnd(const std::string& path) {
  std::promise<SentenceAnalysisResult> promise;
  SentenceAnalysis analysis(
      path, {{}, [&](SentenceAnalysisResult&& r) { promise.set_value(std::move(r)); }, {}});
  return promise.get_future().get();
}

struct Spoken {
  int32_t first = 0, last = 0;
};

std::vector<Spoken> ReadTruth(const std::string& path) {
  std::vector<Spoken> truth;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Spoken s;
    if (fields >> s.first >> s.last) truth.push_back(s);
  }
  return truth;
}

int Analyse(const std::string& path, const std::string& truthPath) {
  const int cpu = PinToOneCore();
  EnsureGstInit();
  const double rssBefore = StatusMb("VmRSS:");
  const double cpuBefore = CpuSeconds();
  const auto start = Clock::now();
  const SentenceAnalysisResult r = AnalyseToEnd(path);
  const double wall = Seconds(Clock::now() - start);
  const double cpuUsed = CpuSeconds() - cpuBefore;
  if (!r.ok) {
    std::printf("analysis failed: %s\n", r.error.c_str());
    return 1;
  }
  std::printf(
      "Analysis of a %.1f-minute lesson on core %d, sentences and peaks in one pass: %.2f s "
      "wall, %.2f s CPU, %.0fx real time (goal <= 6 s)\n",
      r.lengthMs / 60000.0, cpu, wall, cpuUsed, r.lengthMs / 1000.0 / wall);
  std::printf(
      "Memory: %.1f MB resident before the analysis, peak %.1f MB (goal <= 80 MB); "
      "%zu levels kept (%.1f MB), %zu peaks (%.1f MB)\n",
      rssBefore, StatusMb("VmHWM:"), r.levelsDb.size(), r.levelsDb.size() * sizeof(float) / 1e6,
      r.peaks.size(), r.peaks.size() * sizeof(PeakPair) / 1e6);

  // Boundary accuracy against the truth, as the test measures it.
  const std::vector<Spoken> truth = ReadTruth(truthPath);
  int within = 0, total = 0, inside = 0;
  if (truth.size() == r.sentences.size()) {
    for (size_t i = 0; i < truth.size(); ++i) {
      const int32_t start = std::max(truth[i].first - 150, i > 0 ? truth[i - 1].last : 0);
      const int32_t nextStart =
          i + 1 < truth.size() ? std::max(truth[i + 1].first - 150, truth[i].last) : r.lengthMs;
      const int32_t end = std::min({truth[i].last + 250, nextStart, r.lengthMs});
      within += std::abs(r.sentences[i].startMs - start) <= 150;
      within += std::abs(r.sentences[i].endMs - end) <= 150;
      total += 2;
      inside += r.sentences[i].startMs > truth[i].first || r.sentences[i].endMs < truth[i].last;
    }
  }
  std::printf(
      "Sentences: %zu found, %zu spoken; boundaries within 150 ms: %d of %d; sentences "
      "cut inside their sound: %d\n",
      r.sentences.size(), truth.size(), within, total, inside);

  // The second open: the cache instead of an analysis.
  const std::string folder =
      std::filesystem::temp_directory_path() / ("orvex-sentence-bench-" + std::to_string(getpid()));
  const SentenceCache cache(folder);
  const std::optional<SentenceCacheKey> key = SentenceCacheKeyOf(path);
  if (key && cache.Store(*key, r.sentences, r.peaks) == 0) {
    const auto loadStart = Clock::now();
    const auto loaded = cache.LoadEntry(*key);
    const bool same = loaded && loaded->sentences == r.sentences && loaded->peaks == r.peaks;
    std::printf("Second open from the cache: %.2f ms, %s, entry %ju bytes (goal <= 2 MB)\n",
                Seconds(Clock::now() - loadStart) * 1000, same ? "same" : "DIFFERENT",
                static_cast<uintmax_t>(std::filesystem::file_size(cache.EntryPath(*key))));
  }
  std::filesystem::remove_all(folder);
  return 0;
}

// Where a recorded tone breaks: the recurrence x[n] = 2 cos(w) x[n-1] - x[n-2]
// holds for a pure tone, so a gap or a jump shows as a large residual.
struct Breaks {
  int events = 0;        // runs of large residuals (10 ms apart count as one)
  int quietWindows = 0;  // 10 ms windows far quieter than the tone
  double seconds = 0;    // the length of the tone examined
};

Breaks FindBreaks(const test::Recording& rec, double hz) {
  Breaks b;
  if (rec.channels.empty() || rec.sampleRate <= 0) return b;
  const auto& x = rec.channels[0];
  const size_t window = static_cast<size_t>(rec.sampleRate) / 100;
  std::vector<double> rms;
  for (size_t s = 0; s + window <= x.size(); s += window) {
    double sum = 0;
    for (size_t i = s; i < s + window; ++i) sum += x[i] * x[i];
    rms.push_back(std::sqrt(sum / static_cast<double>(window)));
  }
  // The tone runs from the first to the last loud window; its ends are left out.
  size_t first = 0, last = rms.size();
  while (first < rms.size() && rms[first] < 0.05) ++first;
  while (last > first && rms[last - 1] < 0.05) --last;
  if (last < first + 40) return b;
  first += 10;
  last -= 10;
  const double median = test::Median(std::vector<double>(rms.begin() + first, rms.begin() + last));
  for (size_t w = first; w < last; ++w) b.quietWindows += rms[w] < 0.3 * median;
  const double k = 2 * std::cos(2 * std::numbers::pi * hz / rec.sampleRate);
  size_t lastEvent = 0;
  for (size_t i = first * window + 2; i < last * window; ++i) {
    const double residual = x[i] - k * x[i - 1] + x[i - 2];
    if (std::fabs(residual) > 0.1 * median * std::sqrt(2.0)) {
      if (b.events == 0 || i - lastEvent > window) ++b.events;
      lastEvent = i;
    }
  }
  b.seconds = static_cast<double>(last - first) / 100;
  return b;
}

// Plays the tone into the null sink for the given time (or, with a lesson,
// while the lesson is analysed) and finds the breaks in the recording.
Breaks PlayAndRecord(const std::string& tone, const std::string& lesson, double hz,
                     Clock::duration& busy) {
  const std::string wav = std::filesystem::temp_directory_path() /
                          ("orvex-dropouts-" + std::to_string(getpid()) + ".wav");
  test::NullSinkRecording recording;
  if (!recording.Start(wav)) {
    std::printf("the null sink cannot be recorded (is PULSE_SERVER set?)\n");
    return {};
  }
  GstPlayer player;
  if (player.BuildWithMp3Parser(tone) != kOk || player.Run() != kOk) {
    std::printf("the tone does not play\n");
    return {};
  }
  std::this_thread::sleep_for(1s);
  if (!lesson.empty()) {
    const auto start = Clock::now();
    const SentenceAnalysisResult r = AnalyseToEnd(lesson);
    busy = Clock::now() - start;
    std::printf("  analysis while playing: %.2f s, %s\n", Seconds(busy),
                r.ok ? "ok" : r.error.c_str());
  } else {
    std::this_thread::sleep_for(busy);
  }
  std::this_thread::sleep_for(1s);
  player.Stop();
  recording.Stop();
  test::Recording rec;
  Breaks b;
  if (test::ReadWav(wav, rec)) {
    b = FindBreaks(rec, hz);
    // The detector itself: a 5 ms gap cut into the recording must be found.
    const Breaks clean = b;
    auto& x = rec.channels[0];
    const size_t middle = x.size() / 2;
    std::fill(x.begin() + static_cast<std::ptrdiff_t>(middle),
              x.begin() + static_cast<std::ptrdiff_t>(middle + rec.sampleRate / 200), 0.f);
    const Breaks cut = FindBreaks(rec, hz);
    std::printf("  detector check: a 5 ms gap cut into the recording is %s\n",
                cut.events > clean.events ? "found" : "NOT found");
  }
  std::filesystem::remove(wav);
  return b;
}

int Dropouts(const std::string& tone, const std::string& lesson, double hz) {
  const int cpu = PinToOneCore();
  std::printf("Dropouts, player and analysis on core %d (the sound server is not pinned):\n", cpu);
  Clock::duration busy{};
  const Breaks during = PlayAndRecord(tone, lesson, hz, busy);
  const Breaks alone = PlayAndRecord(tone, "", hz, busy);
  std::printf("  while analysing: %d breaks, %d quiet 10 ms windows in %.1f s of tone\n",
              during.events, during.quietWindows, during.seconds);
  std::printf("  playing alone:   %d breaks, %d quiet 10 ms windows in %.1f s of tone\n",
              alone.events, alone.quietWindows, alone.seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "analyse") == 0) return Analyse(argv[2], argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "dropouts") == 0) {
    return Dropouts(argv[2], argv[3], std::stod(argv[4]));
  }
  std::fprintf(stderr,
               "usage: sentence_bench analyse <lesson.mp3> <lesson.truth>\n"
               "       sentence_bench dropouts <tone.mp3> <lesson.mp3> <tone Hz>\n");
  return 2;
}
