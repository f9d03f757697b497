// Every lesson format through the player, beside MP3 in the same run: the
// time from the start of a build to the first decoded sample at the audio
// sink's input (the preroll; Run then starts it after the start lead), median
// and worst of the rounds; and the CPU of playing each format for a few
// seconds beside a bare gst-launch-1.0 ... decodebin ! pulsesink of the same
// file (whose figure includes its own start-up: loading the plug-ins). Needs the sound server (bench/run_format_bench.sh starts the
// private null sink).
//
//   player_format_bench <folder made by tests/formats/make_formats.sh> [rounds]

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "playback/gst_player.h"

using namespace orvex;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPlaySeconds = 5;

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Lesson {
  const char* file;
  bool mp3;
};

// Milliseconds from the start of the build to the first sample at the sink;
// -1 when it fails.
double OpenToFirstSample(const std::string& path, bool mp3) {
  std::atomic<bool> arrived{false};
  Clock::time_point at{};
  GstPlayerOptions options;
  options.observer = [&](const PcmBlock&) {
    if (!arrived.exchange(true)) at = Clock::now();
  };
  GstPlayer player({}, options);
  const Clock::time_point start = Clock::now();
  const Result built = mp3 ? player.BuildWithMp3Parser(path) : player.BuildWithDecoder(path);
  if (Failed(built) || Failed(player.Run())) return -1;
  // The preroll's sample reaches the sink during the build.
  const Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
  while (!arrived && Clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!arrived) return -1;
  return std::chrono::duration<double, std::milli>(at - start).count();
}

// CPU seconds per second of playing through the player.
double PlayerCpu(const std::string& path, bool mp3) {
  GstPlayer player;
  const Result built = mp3 ? player.BuildWithMp3Parser(path) : player.BuildWithDecoder(path);
  if (Failed(built) || Failed(player.Run())) return -1;
  const double before = CpuSeconds(RUSAGE_SELF);
  std::this_thread::sleep_for(std::chrono::seconds(kPlaySeconds));
  const double used = CpuSeconds(RUSAGE_SELF) - before;
  player.Teardown();
  return used / kPlaySeconds;
}

// The same for gst-launch-1.0 with decodebin, stopped after the same time.
double BareCpu(const std::string& path) {
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  const std::string command = "timeout -s INT " + std::to_string(kPlaySeconds) +
                              " gst-launch-1.0 -q filesrc location='" + path +
                              "' ! decodebin ! audioconvert ! audioresample ! pulsesink "
                              ">/dev/null 2>&1";
  if (std::system(command.c_str()) == -1) return -1;
  return (CpuSeconds(RUSAGE_CHILDREN) - before) / kPlaySeconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: player_format_bench <formats folder> [rounds]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  // The fixtures are 7.5 s long: the CPU is measured over the first 5 s.
  const Lesson lessons[] = {{"mp3_named.m4a", true}, {"aac.m4a", false},   {"vorbis.ogg", false},
                            {"opus.opus", false},    {"flac.flac", false}, {"pcm.wav", false},
                            {"video.mp4", false},    {"video.mkv", false}};
  std::printf("%-14s %22s %26s\n", "", "open to first sample", "CPU of playing (one core)");
  std::printf("%-14s %10s %10s  %9s %9s %6s\n", "file", "median ms", "worst ms", "player",
              "bare", "ratio");
  for (const Lesson& lesson : lessons) {
    const std::string path = folder + "/" + lesson.file;
    std::vector<double> opens;
    for (int i = 0; i < rounds; ++i) {
      const double ms = OpenToFirstSample(path, lesson.mp3);
      if (ms >= 0) opens.push_back(ms);
    }
    if (opens.empty()) {
      std::printf("%-14s does not play\n", lesson.file);
      continue;
    }
    std::sort(opens.begin(), opens.end());
    const double player = PlayerCpu(path, lesson.mp3);
    const double bare = BareCpu(path);
    std::printf("%-14s %10.1f %10.1f  %8.1f%% %8.1f%% %6.2f%s\n", lesson.file,
                opens[opens.size() / 2], opens.back(), player * 100, bare * 100,
                bare > 0 ? player / bare : 0.0, lesson.mp3 ? "  (MP3)" : "");
  }
  return 0;
}
