// Figures of the GStreamer player: seek accuracy (measured on the decoded
// samples), seek latency, build latency and the CPU time of playback. Prints
// them; asserts nothing. Run through bench/run_player_bench.sh, which starts
// the private sound server and makes the long file.
//
// player_bench <fixture folder> [<30-minute VBR file without header>]

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "playback/gst_player.h"
#include "playback/mpeg_scan.h"

namespace {

using orvex::GstPlayer;
using orvex::GstPlayerOptions;
using orvex::PcmBlock;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
  std::vector<double> values;
  double Max() const {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  }
  double Mean() const {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
  }
  double Median() const {
    if (values.empty()) return 0;
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
};

orvex::Result Build(GstPlayer& player, const std::string& path, bool splitter) {
  return splitter ? player.BuildWithMpeg1Splitter(path) : player.BuildWithMp3Parser(path);
}

// Channel 0 of the file decoded from the start, kept only around the targets.
struct Reference {
  int rate = 0;
  std::vector<int32_t> targetsMs;
  std::vector<int64_t> windowStart;  // first sample of each window
  std::vector<std::vector<float>> windows;
};

constexpr int64_t kWindowHalfMs = 600;

bool DecodeReference(const std::string& path, bool splitter, Reference& ref) {
  std::mutex mutex;
  int64_t seen = 0;
  GstPlayerOptions options;
  options.fastFakeRenderer = true;
  options.observer = [&](const PcmBlock& block) {
    if (block.seekGeneration != 0) return;
    std::lock_guard lock(mutex);
    if (ref.rate == 0) {
      ref.rate = block.sampleRate;
      for (int32_t t : ref.targetsMs) {
        ref.windowStart.push_back(std::max<int64_t>(0, (t - kWindowHalfMs) * ref.rate / 1000));
        ref.windows.emplace_back();
      }
    }
    const int64_t windowLength = 2 * kWindowHalfMs * ref.rate / 1000;
    for (size_t w = 0; w < ref.windows.size(); ++w) {
      const int64_t from = std::max(seen, ref.windowStart[w]);
      const int64_t to = std::min<int64_t>(seen + static_cast<int64_t>(block.frames),
                                           ref.windowStart[w] + windowLength);
      for (int64_t i = from; i < to; ++i) {
        ref.windows[w].push_back(block.samples[(i - seen) * block.channels]);
      }
    }
    seen += static_cast<int64_t>(block.frames);
  };
  GstPlayer player({}, options);
  if (orvex::Failed(Build(player, path, splitter)) || orvex::Failed(player.Run())) return false;
  return WaitUntil([&] { return player.IsAtEnd(); }, 600s);
}

// Where the captured samples lie in the reference window, in samples from the
// window's start; -1 when nothing matches.
int64_t Locate(const std::vector<float>& window, const std::vector<float>& got, size_t n) {
  if (got.size() < n || window.size() < n) return -1;
  double best = 1e300;
  int64_t where = -1;
  for (size_t off = 0; off + n <= window.size(); ++off) {
    double err = 0;
    for (size_t k = 0; k < n && err < best; ++k) {
      const double d = window[off + k] - got[k];
      err += d * d;
    }
    if (err < best) {
      best = err;
      where = static_cast<int64_t>(off);
    }
  }
  double energy = 0;
  for (size_t k = 0; k < n; ++k) energy += double{got[k]} * got[k];
  // The decoder's own samples match exactly; a tone also matches itself a
  // period away, but not exactly.
  return best <= 1e-7 * energy + 1e-9 ? where : -1;
}

void SeekAccuracy(const std::string& name, const std::string& path, bool splitter, int seeks) {
  int32_t length = 0;
  {
    GstPlayerOptions probe;
    probe.fastFakeRenderer = true;
    GstPlayer player({}, probe);
    if (orvex::Failed(Build(player, path, splitter))) {
      std::printf("%-22s build failed\n", name.c_str());
      return;
    }
    length = player.GetDurationMs();
  }
  Reference ref;
  std::mt19937 random(1234);
  for (int i = 0; i < seeks; ++i) {
    ref.targetsMs.push_back(static_cast<int32_t>(random() % static_cast<uint32_t>(length - 200)));
  }
  if (!DecodeReference(path, splitter, ref)) {
    std::printf("%-22s reference decode failed\n", name.c_str());
    return;
  }

  std::mutex mutex;
  std::map<uint64_t, std::vector<float>> after;
  GstPlayerOptions options;
  options.fastFakeRenderer = true;
  options.observer = [&](const PcmBlock& block) {
    if (block.seekGeneration == 0) return;
    std::lock_guard lock(mutex);
    auto& into = after[block.seekGeneration];
    if (into.size() > 8192) return;
    for (size_t i = 0; i < block.frames; ++i) into.push_back(block.samples[i * block.channels]);
  };
  GstPlayer player({}, options);
  Build(player, path, splitter);
  Stats error;
  int missed = 0, glitched = 0;
  for (int i = 0; i < seeks; ++i) {
    const uint64_t generation = static_cast<uint64_t>(i) + 1;
    player.SeekMs(ref.targetsMs[i]);
    player.Run();
    WaitUntil(
        [&] {
          std::lock_guard lock(mutex);
          return after[generation].size() >= 4096;
        },
        10s);
    player.Pause();
    std::lock_guard lock(mutex);
    const std::vector<float>& got = after[generation];
    int64_t at = Locate(ref.windows[i], got, 2048);
    if (at < 0 && got.size() >= 2304 + 2048) {
      // The first frames behind a seek may lack the previous frames' data
      // (a demuxer seeks to a packet, not through the parser's lead-in):
      // locate what follows them.
      const std::vector<float> rest(got.begin() + 2304, got.end());
      at = Locate(ref.windows[i], rest, 2048);
      if (at >= 0) {
        at -= 2304;
        ++glitched;
      }
    }
    if (at < 0) {
      ++missed;
      continue;
    }
    const double landedMs = (ref.windowStart[i] + at) * 1000.0 / ref.rate;
    error.values.push_back(std::fabs(landedMs - ref.targetsMs[i]));
  }
  std::string notes;
  if (glitched) notes += "  (" + std::to_string(glitched) + " with garbled first frames)";
  if (missed) notes += "  (" + std::to_string(missed) + " not located)";
  std::printf("%-22s seeks %2d  |landed-target| max %7.3f ms  mean %7.3f ms%s\n", name.c_str(),
              seeks, error.Max(), error.Mean(), notes.c_str());
}

void SeekLatency(const std::string& name, const std::string& path, int seeks) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::map<uint64_t, Clock::time_point> firstBlock;
  GstPlayerOptions options;
  options.observer = [&](const PcmBlock& block) {
    if (!block.firstAfterSeek) return;
    std::lock_guard lock(mutex);
    firstBlock.emplace(block.seekGeneration, Clock::now());
    arrived.notify_all();
  };
  GstPlayer player({}, options);
  if (orvex::Failed(player.BuildWithMp3Parser(path))) {
    std::printf("%-22s build failed\n", name.c_str());
    return;
  }
  const int32_t length = player.GetDurationMs();
  player.Run();
  std::this_thread::sleep_for(300ms);
  std::mt19937 random(99);
  Stats latency;
  for (int i = 0; i < seeks; ++i) {
    const uint64_t generation = static_cast<uint64_t>(i) + 1;
    const auto start = Clock::now();
    player.SeekMs(static_cast<int32_t>(random() % static_cast<uint32_t>(length - 500)));
    std::unique_lock lock(mutex);
    if (arrived.wait_for(lock, 5s, [&] { return firstBlock.count(generation) > 0; })) {
      latency.values.push_back(Ms(firstBlock[generation] - start));
    }
    lock.unlock();
    std::this_thread::sleep_for(150ms);
  }
  std::printf("%-22s seeks %2d  first sample at the sink: median %6.2f ms  max %6.2f ms\n",
              name.c_str(), seeks, latency.Median(), latency.Max());
}

void BuildLatency(const std::string& name, const std::string& path) {
  Stats scan, build;
  for (int i = 0; i < 5; ++i) {
    orvex::FileByteSource source;
    const auto s0 = Clock::now();
    source.Open(path);
    const orvex::MpegScan result = orvex::ScanMpegAudio(source);
    scan.values.push_back(Ms(Clock::now() - s0));
    GstPlayer player;
    const auto b0 = Clock::now();
    const orvex::Result r = player.BuildWithMp3Parser(path);
    build.values.push_back(Ms(Clock::now() - b0));
    if (orvex::Failed(r) || !result.found) {
      std::printf("%-22s build failed\n", name.c_str());
      return;
    }
  }
  std::printf(
      "%-22s build (header scan included): median %6.1f ms  max %6.1f ms"
      "  (scan alone median %5.1f ms)\n",
      name.c_str(), build.Median(), build.Max(), scan.Median());
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

void PlaybackCpu(const std::string& name, const std::string& path, double seconds) {
  GstPlayer player;
  if (orvex::Failed(player.BuildWithMp3Parser(path))) {
    std::printf("%-22s build failed\n", name.c_str());
    return;
  }
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  player.Run();
  while (Ms(Clock::now() - start) < seconds * 1000) {
    if (player.IsAtEnd()) {
      player.SeekMs(0);
      player.Run();
    }
    std::this_thread::sleep_for(25ms);  // what the transport's tick does
    player.GetPositionMs();
  }
  player.Pause();
  std::printf("%-22s %.0f s of playback: user+system %.3f s of CPU\n", name.c_str(), seconds,
              CpuSeconds() - cpu0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <fixture folder> [<long VBR file without header>]\n", argv[0]);
    return 2;
  }
  const std::string data = argv[1];
  const std::string longFile = argc > 2 ? argv[2] : "";
  orvex::EnsureGstInit();

  std::printf("== seek accuracy (FLUSH|ACCURATE; landed measured on the decoded samples)\n");
  for (const char* f : {"cbr_stereo.mp3", "vbr.mp3", "vbr_noheader.mp3", "mpeg2_22k.mp3",
                        "mono.mp3", "big_id3.mp3", "id3_ffff.mp3", "truncated.mp3"}) {
    SeekAccuracy(f, data + "/" + f, false, 20);
  }
  SeekAccuracy("program_stream.mp3", data + "/program_stream.mp3", true, 20);
  if (!longFile.empty()) SeekAccuracy("30-min VBR, no header", longFile, false, 20);

  std::printf("\n== seek latency (playing into the sound server)\n");
  SeekLatency("cbr_stereo.mp3", data + "/cbr_stereo.mp3", 20);
  if (!longFile.empty()) SeekLatency("30-min VBR, no header", longFile, 20);

  std::printf("\n== build latency\n");
  BuildLatency("cbr_stereo.mp3", data + "/cbr_stereo.mp3");
  if (!longFile.empty()) BuildLatency("30-min VBR, no header", longFile);

  std::printf("\n== CPU\n");
  // The fixture lasts 3 s, so 20 s of it include six loops back to the start;
  // the long file shows the cost of playing on alone.
  PlaybackCpu("cbr_stereo.mp3", data + "/cbr_stereo.mp3", 20);
  if (!longFile.empty()) PlaybackCpu("30-min VBR, no header", longFile, 20);
  return 0;
}
