// Figures of the GStreamer player: seek accuracy (measured on the decoded
// samples at the sink's input, and as heard on the null sink's monitor), seek
// latency, how soon mute and volume are heard, build latency and the CPU time
// of playback. Prints them; asserts nothing. Run through
// bench/run_player_bench.sh, which starts the private sound server and makes
// the long files.
//
// player_bench <fixture folder> [<30-minute VBR file without header> [<a minute of noise>]]

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "playback/gst_player.h"
#include "playback/mpeg_scan.h"
#include "tests/playback/sound_check.h"

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
  double Min() const {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
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

// What the null sink's monitor records while one player plays a noise file,
// followed through the file's own decoding; beside it, where each seek's
// first block lands at the sink's input.
class Heard {
 public:
  explicit Heard(std::string file) : file_(std::move(file)) {}

  // Decodes the file, starts the recording, then builds the player.
  bool Start() {
    if (!take_.Start(file_, dir_.File("heard.wav"))) return false;
    GstPlayerOptions options;
    options.observer = [this](const PcmBlock& block) {
      if (!block.firstAfterSeek) return;
      std::lock_guard lock(mutex_);
      firstPtsNs_[block.seekGeneration] = block.ptsNs;
    };
    player_ = std::make_unique<GstPlayer>(orvex::GraphNotify{}, options);
    return !orvex::Failed(player_->BuildWithMp3Parser(file_));
  }
  GstPlayer& player() { return *player_; }
  const orvex::test::HeardTake& take() const { return take_; }
  size_t Mark() const { return take_.Mark(); }
  // Seeks and returns the number of the seek whose data will be heard.
  uint64_t Seek(int32_t ms) {
    seekMarks_.push_back(take_.Mark());
    const auto start = Clock::now();
    player_->SeekMs(ms);
    lastCallMs_ = Ms(Clock::now() - start);
    return player_->LastSeekNumber();
  }
  // How long the last seek's call took on the calling thread.
  double lastCallMs() const { return lastCallMs_; }
  // Plays on for the time, reading the position on the transport's 25 ms tick.
  void Tick(std::chrono::milliseconds time) {
    const auto end = Clock::now() + time;
    while (Clock::now() < end) {
      std::this_thread::sleep_for(25ms);
      const size_t mark = take_.Mark();
      positions_.push_back({mark, player_->GetPositionMs()});
    }
  }
  // Lets the monitor catch up, pauses and follows the recording.
  bool Finish() {
    std::this_thread::sleep_for(300ms);
    player_->Pause();
    return take_.Finish();
  }
  double FramesToMs(double frames) const { return take_.FramesToMs(frames); }
  // Where the first run from the mark on starts in the file, minus the
  // target, in ms; false when nothing was heard.
  bool HeardError(size_t mark, int32_t targetMs, double& errorMs) const {
    const orvex::test::HeardRun* run = take_.RunFrom(mark);
    if (!run) return false;
    errorMs = FramesToMs(static_cast<double>(run->from)) - targetMs;
    return true;
  }
  // Recorded silence before the first run from the mark on, in ms.
  bool GapBefore(size_t mark, double& ms) const {
    const orvex::test::HeardRun* run = take_.RunFrom(mark);
    if (!run || run == &take_.runs().front()) return false;
    ms = FramesToMs(static_cast<double>(run->at - (run - 1)->End()));
    return true;
  }
  // Where the seek's first block starts at the sink's input, minus the target.
  bool SinkError(uint64_t seek, int32_t targetMs, double& errorMs) {
    std::lock_guard lock(mutex_);
    const auto it = firstPtsNs_.find(seek);
    if (it == firstPtsNs_.end() || it->second < 0) return false;
    errorMs = static_cast<double>(it->second) / 1e6 - targetMs;
    return true;
  }
  // Recorded ms from the mark to the end of the full-volume run playing at it.
  bool UntilRunEnds(size_t mark, double& ms) const {
    const orvex::test::HeardRun* run = take_.RunPlayingAt(mark);
    if (!run) return false;
    ms = FramesToMs(static_cast<double>(run->End()) - static_cast<double>(take_.FrameOf(mark)));
    return true;
  }
  // Recorded ms from the mark to the next full-volume run.
  bool UntilRunStarts(size_t mark, double& ms) const {
    const orvex::test::HeardRun* run = take_.RunFrom(mark);
    if (!run) return false;
    ms = FramesToMs(static_cast<double>(run->at) - static_cast<double>(take_.FrameOf(mark)));
    return true;
  }
  // The position the player reported minus the one heard at the same mark,
  // 100 ms or more into a run (a mark is as exact as the recording's blocks),
  // and not within 150 ms after a seek: the position reads the target at
  // once, while what played before goes on until the target is heard.
  Stats PositionErrors() const {
    Stats errors;
    const auto settle = static_cast<size_t>(take_.rate() * 15 / 100);
    for (const auto& [mark, ms] : positions_) {
      const size_t at = take_.FrameOf(mark);
      const orvex::test::HeardRun* run = orvex::test::RunAt(take_.runs(), at);
      if (!run || at - run->at < static_cast<size_t>(take_.rate() / 10)) continue;
      const bool afterSeek = std::any_of(seekMarks_.begin(), seekMarks_.end(), [&](size_t seek) {
        const size_t from = take_.FrameOf(seek);
        return from <= at && at < from + settle;
      });
      if (afterSeek) continue;
      errors.values.push_back(ms - FramesToMs(static_cast<double>(run->from + (at - run->at))));
    }
    return errors;
  }

 private:
  std::string file_;
  orvex::test::TempDir dir_;
  orvex::test::HeardTake take_;
  std::unique_ptr<GstPlayer> player_;
  std::mutex mutex_;
  std::map<uint64_t, int64_t> firstPtsNs_;
  std::vector<std::pair<size_t, int32_t>> positions_;
  std::vector<size_t> seekMarks_;
  double lastCallMs_ = 0;
};

void PrintStats(const char* what, const Stats& stats, size_t expected) {
  std::printf("%-30s n %2zu  min %+8.2f  median %+8.2f  max %+8.2f ms", what, stats.values.size(),
              stats.Min(), stats.Median(), stats.Max());
  if (stats.values.size() < expected) {
    std::printf("  (%zu not found)", expected - stats.values.size());
  }
  std::printf("\n");
}

struct SeekMade {
  size_t mark;    // in the recording, just before the call
  uint64_t seek;  // its number
  int32_t target;
  double callMs = 0;  // the call's own time
};

void PrintSeeks(Heard& heard, const char* what, const std::vector<SeekMade>& seeks) {
  Stats heardError, sinkError, gap, after, call;
  for (const SeekMade& s : seeks) {
    double ms = 0;
    if (heard.HeardError(s.mark, s.target, ms)) heardError.values.push_back(ms);
    if (heard.GapBefore(s.mark, ms)) gap.values.push_back(ms);
    if (heard.SinkError(s.seek, s.target, ms)) sinkError.values.push_back(ms);
    if (heard.UntilRunStarts(s.mark, ms)) after.values.push_back(ms);
    call.values.push_back(s.callMs);
  }
  std::printf("%s\n", what);
  PrintStats("  heard start - target", heardError, seeks.size());
  PrintStats("  sink input start - target", sinkError, seeks.size());
  PrintStats("  silence before the heard start", gap, seeks.size());
  PrintStats("  heard start after the call", after, seeks.size());
  PrintStats("  the call's own time", call, seeks.size());
}

// The seeks the transport makes while playing: Home, a 3 s jump forward, an
// A-B repeat (the tick seeking to A once the position has passed B).
void HeardSeeks(const std::string& file, int rounds) {
  Heard heard(file);
  if (!heard.Start()) {
    std::printf("heard seeks: could not start\n");
    return;
  }
  GstPlayer& player = heard.player();
  std::vector<SeekMade> home, jump, repeat, nearEnd;
  heard.Seek(5000);
  player.Run();
  heard.Tick(700ms);
  for (int i = 0; i < rounds; ++i) {
    size_t mark = heard.Mark();
    home.push_back({mark, heard.Seek(0), 0, heard.lastCallMs()});
    heard.Tick(700ms);
    const int32_t target = player.GetPositionMs() + 3000;
    mark = heard.Mark();
    jump.push_back({mark, heard.Seek(target), target, heard.lastCallMs()});
    heard.Tick(700ms);
    const int32_t a = 10000 + 2000 * i, b = a + 600;
    heard.Seek(a);
    // The tick's rule: a position outside (A, B) goes back to A.
    for (int k = 0; k < 3;) {
      std::this_thread::sleep_for(25ms);
      const int32_t p = player.GetPositionMs();
      if (a < p && p < b) continue;
      mark = heard.Mark();
      const uint64_t seek = heard.Seek(a);
      if (p < b) continue;
      repeat.push_back({mark, seek, a, heard.lastCallMs()});
      ++k;
    }
    heard.Tick(700ms);
  }
  // The reference in the same run: a jump to 200 ms before the end cannot be
  // spliced (what the sink holds outlasts it), so it flushes.
  const int32_t length = player.GetDurationMs();
  for (int i = 0; i < rounds; ++i) {
    heard.Seek(20000 + 2000 * i);
    heard.Tick(700ms);
    const int32_t target = length - 200;
    const size_t mark = heard.Mark();
    nearEnd.push_back({mark, heard.Seek(target), target, heard.lastCallMs()});
    heard.Tick(150ms);
  }
  heard.Seek(30000);
  heard.Tick(500ms);
  if (!heard.Finish()) {
    std::printf("heard seeks: no recording\n");
    return;
  }
  PrintSeeks(heard, "Home (target 0)", home);
  PrintSeeks(heard, "jump 3 s forward", jump);
  PrintSeeks(heard, "A-B repeat (target A)", repeat);
  PrintSeeks(heard, "jump to 200 ms before the end (flushed)", nearEnd);
  const Stats positions = heard.PositionErrors();
  std::printf("positions read on the 25 ms tick\n");
  PrintStats("  reported - heard at the call", positions, positions.values.size());
}

// Stop then Play (the transport's Stop pauses and seeks to 0, its Play seeks
// to 0 again and runs), the same after playing out to the end, and a pause:
// where it resumes minus where it paused, in the file.
void HeardStops(const std::string& file, int rounds) {
  Heard heard(file);
  if (!heard.Start()) {
    std::printf("heard stops: could not start\n");
    return;
  }
  GstPlayer& player = heard.player();
  const int32_t length = player.GetDurationMs();
  std::vector<SeekMade> stopPlay, restart;
  std::vector<size_t> resume;
  auto stopThenPlay = [&] {
    player.Stop();
    heard.Seek(0);
    std::this_thread::sleep_for(200ms);
    const size_t mark = heard.Mark();
    const uint64_t seek = heard.Seek(0);
    player.Run();
    heard.Tick(600ms);
    return SeekMade{mark, seek, 0};
  };
  heard.Seek(20000);
  player.Run();
  heard.Tick(500ms);
  for (int i = 0; i < rounds; ++i) {
    stopPlay.push_back(stopThenPlay());
    heard.Seek(length - 500);
    while (!player.IsAtEnd()) heard.Tick(25ms);
    restart.push_back(stopThenPlay());
    player.Pause();
    std::this_thread::sleep_for(300ms);
    resume.push_back(heard.Mark());
    player.Run();
    heard.Tick(500ms);
  }
  if (!heard.Finish()) {
    std::printf("heard stops: no recording\n");
    return;
  }
  PrintSeeks(heard, "Stop, Play (target 0)", stopPlay);
  PrintSeeks(heard, "restart after the end (target 0)", restart);
  const orvex::test::HeardTake& take = heard.take();
  Stats tail;
  for (const SeekMade& s : restart) {
    const orvex::test::HeardRun* run = take.RunFrom(s.mark);
    if (run && run != &take.runs().front()) {
      const auto fileEnd = static_cast<int64_t>(take.file().Frames());
      tail.values.push_back(heard.FramesToMs(static_cast<double>((run - 1)->FileEnd() - fileEnd)));
    }
  }
  std::printf("Playing out to the end\n");
  PrintStats("  last heard sample - the end", tail, restart.size());
  Stats lost;
  for (size_t mark : resume) {
    const orvex::test::HeardRun* after = take.RunFrom(mark);
    if (after && after != &take.runs().front()) {
      lost.values.push_back(
          heard.FramesToMs(static_cast<double>(after->from - (after - 1)->FileEnd())));
    }
  }
  std::printf("Pause, Run\n");
  PrintStats("  heard resume - pause point", lost, resume.size());
}

// How soon a change of volume or channel is heard: from the call (a mark in
// the recording) to the end of the full-volume stereo sound (mute, down to
// -20 dB, left only) or to its return (unmute, back up to 0 dB, stereo).
void HeardVolume(const std::string& file, int rounds) {
  Heard heard(file);
  if (!heard.Start()) {
    std::printf("heard volume: could not start\n");
    return;
  }
  GstPlayer& player = heard.player();
  std::vector<size_t> mute, unmute, down, up, left, stereo;
  player.Run();
  heard.Tick(800ms);
  const auto change = [&](std::vector<size_t>& marks, int32_t volume) {
    marks.push_back(heard.Mark());
    player.SetVolume(volume);
    heard.Tick(2000ms);
  };
  const auto channel = [&](std::vector<size_t>& marks, int32_t channel) {
    marks.push_back(heard.Mark());
    player.SetChannel(channel);
    heard.Tick(2000ms);
  };
  for (int i = 0; i < rounds; ++i) {
    change(mute, orvex::kVolumeSilent);
    change(unmute, orvex::kVolumeFull);
    change(down, -2000);
    change(up, orvex::kVolumeFull);
    channel(left, orvex::kChannelLeft);
    channel(stereo, orvex::kChannelStereo);
  }
  if (!heard.Finish()) {
    std::printf("heard volume: no recording\n");
    return;
  }
  std::printf("volume and channel changes, from the call to the change heard\n");
  for (const auto& [name, marks, ends] :
       {std::tuple{"  mute", &mute, true}, std::tuple{"  unmute", &unmute, false},
        std::tuple{"  0 dB to -20 dB", &down, true}, std::tuple{"  -20 dB to 0 dB", &up, false},
        std::tuple{"  stereo to left only", &left, true},
        std::tuple{"  left only to stereo", &stereo, false}}) {
    Stats delay;
    for (size_t mark : *marks) {
      double ms = 0;
      if (ends ? heard.UntilRunEnds(mark, ms) : heard.UntilRunStarts(mark, ms)) {
        delay.values.push_back(ms);
      }
    }
    PrintStats(name, delay, marks->size());
  }
}

void HeardSection(const std::string& noiseFile, const std::string& only = {}) {
  std::printf(
      "\n== heard on the null sink's monitor (a minute of noise, the recording followed through"
      " the file's decoding)\n");
  if (only.empty() || only == "seeks") HeardSeeks(noiseFile, 6);
  if (only.empty() || only == "stops") HeardStops(noiseFile, 6);
  if (only.empty() || only == "volume") HeardVolume(noiseFile, 4);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

void PlaybackCpu(const std::string& name, const std::string& path, double seconds,
                 int32_t rate = orvex::kRateNormal) {
  GstPlayer player;
  if (orvex::Failed(player.BuildWithMp3Parser(path))) {
    std::printf("%-22s build failed\n", name.c_str());
    return;
  }
  if (rate != orvex::kRateNormal) player.SetRate(rate);
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
  std::printf("%-22s %.0f s of playback at %.2fx: user+system %.3f s of CPU\n", name.c_str(),
              seconds, rate / 100.0, CpuSeconds() - cpu0);
}

// Plays the whole file at the rate into the null sink and records the monitor
// into wav, for listening to (or analysing) what slower playback sounds like.
void RecordAtRate(const std::string& path, int32_t rate, const std::string& wav) {
  orvex::test::NullSinkRecording recording;
  if (!recording.Start(wav)) return;
  GstPlayer player;
  if (orvex::Failed(player.BuildWithMp3Parser(path))) return;
  player.SetRate(rate);
  player.Run();
  WaitUntil([&] { return player.IsAtEnd(); },
            std::chrono::milliseconds(player.GetDurationMs() * 100 / rate + 5000));
  std::this_thread::sleep_for(300ms);
  player.Pause();
  recording.Stop();
  std::printf("recorded %s at %.2fx into %s\n", path.c_str(), rate / 100.0, wav.c_str());
}

// The speech in a recording at a slower rate against the file: how long it
// lasts, the median pitch of its voiced 40 ms frames (autocorrelation, 70-400
// Hz), how its long-term spectrum compares, and how well its loudness
// envelope, squeezed back by the rate, follows the file's (per second: the
// best shift within 300 ms; a lost or repeated chunk would show as a jump).
struct Voice {
  std::vector<float> mono;
  int rate = 0;
};
Voice MonoOf(const orvex::test::Recording& r) {
  Voice v;
  v.rate = r.sampleRate;
  const size_t n = r.Frames();
  size_t first = 0, last = n;
  auto loud = [&](size_t i) {
    return std::fabs(r.channels[0][i]) > 0.01f ||
           (r.channels.size() > 1 && std::fabs(r.channels[1][i]) > 0.01f);
  };
  while (first < n && !loud(first)) ++first;
  while (last > first && !loud(last - 1)) --last;
  for (size_t i = first; i < last; ++i) {
    float x = r.channels[0][i];
    if (r.channels.size() > 1) x = 0.5f * (x + r.channels[1][i]);
    v.mono.push_back(x);
  }
  return v;
}
double MedianPitch(const Voice& v) {
  const size_t frame = static_cast<size_t>(v.rate) * 40 / 1000;
  std::vector<double> pitches;
  const int minLag = v.rate / 400, maxLag = v.rate / 70;
  for (size_t at = 0; at + frame + static_cast<size_t>(maxLag) < v.mono.size(); at += frame) {
    double energy = 0;
    for (size_t k = 0; k < frame; ++k) energy += v.mono[at + k] * v.mono[at + k];
    if (std::sqrt(energy / static_cast<double>(frame)) < 0.02) continue;
    double best = 0;
    int bestLag = 0;
    for (int lag = minLag; lag <= maxLag; ++lag) {
      double c = 0, e2 = 0;
      for (size_t k = 0; k < frame; ++k) {
        c += v.mono[at + k] * v.mono[at + k + static_cast<size_t>(lag)];
        e2 += v.mono[at + k + static_cast<size_t>(lag)] * v.mono[at + k + static_cast<size_t>(lag)];
      }
      const double norm = c / std::sqrt(energy * e2 + 1e-12);
      if (norm > best) {
        best = norm;
        bestLag = lag;
      }
    }
    if (best > 0.6 && bestLag > 0) pitches.push_back(static_cast<double>(v.rate) / bestLag);
  }
  Stats s;
  s.values = pitches;
  return s.Median();
}
// Energy in bands a third of an octave wide from 100 Hz to 8 kHz (a DFT by
// the Goertzel recurrence over 2048-sample frames every 100 ms).
std::vector<double> BandLevels(const Voice& v) {
  std::vector<double> centres;
  for (double f = 100; f < 8000; f *= std::pow(2.0, 1.0 / 3)) centres.push_back(f);
  std::vector<double> level(centres.size(), 0);
  const size_t n = 2048;
  for (size_t at = 0; at + n < v.mono.size(); at += static_cast<size_t>(v.rate) / 10) {
    for (size_t b = 0; b < centres.size(); ++b) {
      const double w = 2 * M_PI * centres[b] / v.rate;
      double s1 = 0, s2 = 0;
      for (size_t k = 0; k < n; ++k) {
        const double s0 = v.mono[at + k] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
      }
      level[b] += s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    }
  }
  for (double& l : level) l = 10 * std::log10(l + 1e-12);
  return level;
}
double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
  ma /= static_cast<double>(n);
  mb /= static_cast<double>(n);
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}
// Loudness per 10 ms of the file's time (the recording's frames squeezed by the rate).
std::vector<double> Envelope(const Voice& v, double speed) {
  std::vector<double> env;
  const double step = v.rate / 100.0 / speed;
  for (double at = 0; at + step < static_cast<double>(v.mono.size()); at += step) {
    double e = 0;
    const auto from = static_cast<size_t>(at), to = static_cast<size_t>(at + step);
    for (size_t k = from; k < to; ++k) e += v.mono[k] * v.mono[k];
    env.push_back(10 * std::log10(e / static_cast<double>(to - from) + 1e-9));
  }
  return env;
}
void AnalyseSpeech(const std::string& path, const std::string& wav, double speed) {
  orvex::test::Recording file, heard;
  if (!orvex::test::DecodeFile(path, file) || !orvex::test::ReadWav(wav, heard)) return;
  const Voice source = MonoOf(file), slow = MonoOf(heard);
  const double lengthRatio =
      static_cast<double>(slow.mono.size()) / static_cast<double>(source.mono.size());
  const double pitchFile = MedianPitch(source), pitchHeard = MedianPitch(slow);
  const double spectrum = Correlation(BandLevels(source), BandLevels(slow));
  const std::vector<double> envFile = Envelope(source, 1.0), envHeard = Envelope(slow, speed);
  const double envelope = Correlation(envFile, envHeard);
  // Per second of the file: the shift (in 10 ms steps) at which the heard
  // envelope best follows it.
  Stats shifts;
  for (size_t at = 30; at + 130 < std::min(envFile.size(), envHeard.size()); at += 100) {
    double best = -2;
    int bestShift = 0;
    for (int shift = -30; shift <= 30; ++shift) {
      std::vector<double> a(envFile.begin() + static_cast<long>(at),
                            envFile.begin() + static_cast<long>(at) + 100);
      std::vector<double> b(envHeard.begin() + static_cast<long>(at) + shift,
                            envHeard.begin() + static_cast<long>(at) + shift + 100);
      const double c = Correlation(a, b);
      if (c > best) {
        best = c;
        bestShift = shift;
      }
    }
    shifts.values.push_back(bestShift * 10.0);
  }
  std::printf("%.2fx: lasts %.3f x the file (expected %.3f); median pitch %.1f Hz (file %.1f Hz)\n",
              speed, lengthRatio, 1 / speed, pitchHeard, pitchFile);
  std::printf(
      "       long-term spectrum correlation %.3f; envelope correlation %.3f; "
      "envelope shift per second min %+.0f max %+.0f ms\n",
      spectrum, envelope, shifts.Min(), shifts.Max());
}

// Loops played by the engine, as heard: each pass's heard start against A and
// end against B, and what lies between two passes (silence inserted, or a
// negative figure for audio doubled; 0 is a seamless seam).
void LoopSeams(const std::string& name, const std::string& path, int32_t a, int32_t b, int passes,
               const std::string& programStream = {}) {
  orvex::test::TempDir dir;
  orvex::test::HeardTake take;
  if (!take.Start(path, dir.File("loops.wav"))) {
    std::printf("%-24s could not start\n", name.c_str());
    return;
  }
  // A program stream of the same frames plays through the second builder; the
  // bare frames are the reference it is found in.
  GstPlayer player;
  if (orvex::Failed(programStream.empty() ? player.BuildWithMp3Parser(path)
                                          : player.BuildWithMpeg1Splitter(programStream))) {
    std::printf("%-24s build failed\n", name.c_str());
    return;
  }
  player.SeekMs(a);
  player.SetLoopPlan({{{a, b, 0}}, 0, orvex::AfterPlan::kGoOn, -1, 0});
  const size_t mark = take.Mark();
  player.Run();
  int repeats = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds((b - a) * (passes + 5));
  while (repeats < passes && Clock::now() < deadline) {
    std::this_thread::sleep_for(25ms);
    player.GetPositionMs();
    orvex::GraphEvent event;
    while (player.TakeEvent(event)) repeats += event.code == orvex::kEventPassStarted;
  }
  std::this_thread::sleep_for(300ms);
  player.Pause();
  take.Finish();
  Stats start, end, seam;
  int found = 0, broken = 0;
  for (const orvex::test::HeardRun* run = take.RunFrom(mark); run; run = take.Next(run)) {
    if (std::llabs(run->from - take.MsToFrames(a)) > take.MsToFrames(20)) {
      ++broken;  // a stretch that does not start near A
      continue;
    }
    ++found;
    start.values.push_back(std::fabs(take.FramesToMs(static_cast<double>(run->from)) - a));
    const orvex::test::HeardRun* next = take.Next(run);
    if (!next) break;  // the last pass is cut by the pause
    end.values.push_back(std::fabs(take.FramesToMs(static_cast<double>(run->FileEnd())) - b));
    seam.values.push_back(
        take.FramesToMs(static_cast<double>(next->at) - static_cast<double>(run->End())));
  }
  Stats seamAbs;
  for (double v : seam.values) seamAbs.values.push_back(std::fabs(v));
  std::printf("%-24s %d returns reported, %d passes heard, %d other stretches\n", name.c_str(),
              repeats, found, broken);
  std::printf("  |heard start - A|   mean %.4f  max %.4f ms\n", start.Mean(), start.Max());
  std::printf("  |heard end - B|     mean %.4f  max %.4f ms\n", end.Mean(), end.Max());
  std::printf("  between passes      mean %.4f  max |%.4f| ms (silence +, doubled -)\n",
              seam.Mean(), seamAbs.Max());
}

// Sentences handed on by the engine under two CPU hogs: a plan of one pass
// per stretch over consecutive stretches of the file (the hand-on from each
// to the next at the sample), ending in a stop. Per stretch as heard: the
// start against A and the end against B; and anything heard past a B.
void HandOns(const std::string& path, int count) {
  orvex::test::TempDir dir;
  orvex::test::HeardTake take;
  if (!take.Start(path, dir.File("handons.wav"))) {
    std::printf("hand-ons: could not start\n");
    return;
  }
  GstPlayer player;
  if (orvex::Failed(player.BuildWithMp3Parser(path))) {
    std::printf("hand-ons: build failed\n");
    return;
  }
  // Stretches of 300 ms, 450 ms apart: what lies between two is never played.
  orvex::LoopPlan plan;
  for (int i = 0; i < count + 1; ++i) {
    const int32_t a = 500 + i * 450;
    plan.stretches.push_back({a, a + 300, 0});
  }
  plan.passes = 1;
  plan.after = orvex::AfterPlan::kStop;
  plan.startMs = plan.stretches.front().aMs;
  plan.firstPass = 1;
  orvex::test::CpuHogs hogs;
  player.SetLoopPlan(plan);
  const size_t mark = take.Mark();
  player.Run();
  bool ended = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(400 * (count + 10));
  while (!ended && Clock::now() < deadline) {
    std::this_thread::sleep_for(25ms);
    player.GetPositionMs();
    orvex::GraphEvent event;
    while (player.TakeEvent(event)) ended |= event.code == orvex::kEventPlanEnded;
  }
  std::this_thread::sleep_for(300ms);
  player.Pause();
  take.Finish();
  Stats start, end;
  double pastB = 0;
  int found = 0, other = 0;
  size_t next = 0;
  for (const orvex::test::HeardRun* run = take.RunFrom(mark); run; run = take.Next(run)) {
    const double fromMs = take.FramesToMs(static_cast<double>(run->from));
    const double toMs = take.FramesToMs(static_cast<double>(run->FileEnd()));
    while (next < plan.stretches.size() && plan.stretches[next].bMs < fromMs) ++next;
    if (next >= plan.stretches.size()) {
      ++other;
      continue;
    }
    const orvex::LoopStretch& s = plan.stretches[next++];
    ++found;
    start.values.push_back(std::fabs(fromMs - s.aMs));
    end.values.push_back(std::fabs(toMs - s.bMs));
    pastB = std::max(pastB, toMs - s.bMs);
  }
  std::printf("== %d sentence hand-ons under two CPU hogs, as heard (plan end %s)\n", count,
              ended ? "reported" : "NOT reported");
  std::printf("  stretches heard %d of %zu, other stretches %d\n", found, plan.stretches.size(),
              other);
  std::printf("  |heard start - A|   mean %.4f  max %.4f ms\n", start.Mean(), start.Max());
  std::printf("  |heard end - B|     mean %.4f  max %.4f ms\n", end.Mean(), end.Max());
  std::printf("  audio past B        max %.4f ms (goal: none)\n", std::max(pastB, 0.0));
}

// From SetRate to the new speed heard: the rate is set by a flushing seek,
// and the new speed begins where the silence that follows the flush ends.
void SpeedLatency(const std::string& name, const std::string& path, int changes) {
  // At 0.75x nothing heard matches the file sample for sample: a change to
  // 0.75x is heard where the run at 1.00x playing at the call ends (and the
  // silence after it, if any), a change back where the next run at 1.00x
  // starts.
  Heard heard(path);
  if (!heard.Start()) return;
  GstPlayer& player = heard.player();
  player.Run();
  heard.Tick(500ms);
  std::vector<size_t> marks;
  for (int i = 0; i < changes; ++i) {
    marks.push_back(heard.Mark());
    player.SetRate(i % 2 == 0 ? 75 : 100);
    heard.Tick(600ms);
  }
  if (!heard.Finish()) return;
  const orvex::test::Recording& r = heard.take().heard();
  Stats latency;
  for (size_t i = 0; i < marks.size(); ++i) {
    double ms = 0;
    if (i % 2 == 1) {
      if (heard.UntilRunStarts(marks[i], ms)) latency.values.push_back(ms);
      continue;
    }
    const orvex::test::HeardRun* run = heard.take().RunPlayingAt(marks[i]);
    if (!run) continue;
    size_t at = run->End();
    while (at < r.Frames() && r.channels[0][at] == 0.0f && r.channels[1][at] == 0.0f) ++at;
    latency.values.push_back(
        heard.FramesToMs(static_cast<double>(at) - static_cast<double>(heard.take().FrameOf(marks[i]))));
  }
  std::printf("%-24s SetRate to new speed heard: n %zu  median %.1f  max %.1f ms (marks +-%d ms)\n",
              name.c_str(), latency.values.size(), latency.Median(), latency.Max(),
              orvex::test::kMarkSlackMs);
}

// How long a jump while playing keeps the calling thread, with nothing but
// the player on the sound server (no recording stream setting its pace).
void JumpCalls(const std::string& path, int count) {
  GstPlayer player;
  if (orvex::Failed(player.BuildWithMp3Parser(path))) return;
  player.Run();
  std::this_thread::sleep_for(700ms);
  Stats calls;
  for (int i = 0; i < count; ++i) {
    const int32_t target = 5000 + 3000 * (i % 10);
    const auto start = Clock::now();
    player.SeekMs(target);
    calls.values.push_back(Ms(Clock::now() - start));
    const auto end = Clock::now() + 700ms;
    while (Clock::now() < end) {
      std::this_thread::sleep_for(25ms);
      player.GetPositionMs();
    }
  }
  player.Pause();
  PrintStats("jump while playing: the call", calls, static_cast<size_t>(count));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(
        stderr,
        "usage: %s <fixture folder> [<long VBR file without header> [<a minute of "
        "noise>]]\n       %s --heard <a minute of noise> [seeks|stops|volume]\n"
        "       %s --loops <CBR noise> <VBR noise without header> [passes [<bare> <as PS>]]\n"
        "       %s --speed <noise>\n       %s --listen <file> <folder>\n"
        "       %s --handons <a minute of noise> [count]\n       %s --calls <a minute of noise>\n",
        argv[0], argv[0], argv[0], argv[0], argv[0], argv[0], argv[0]);
    return 2;
  }
  if (std::string(argv[1]) == "--loops" && argc > 3) {
    // --loops <CBR noise> <VBR noise without header> [passes [<bare frames> <their program
    // stream>]]
    orvex::EnsureGstInit();
    const int passes = argc > 4 ? std::atoi(argv[4]) : 100;
    std::printf("== loop seams, %d passes of a 2 s loop, as heard\n", passes);
    LoopSeams("CBR noise", argv[2], 1000, 3000, passes);
    LoopSeams("VBR noise, no header", argv[3], 1000, 3000, passes);
    if (argc > 6) LoopSeams("program stream (mpegpsdemux)", argv[5], 1000, 3000, passes, argv[6]);
    return 0;
  }
  if (std::string(argv[1]) == "--handons" && argc > 2) {
    // --handons <a minute of noise> [count]
    orvex::EnsureGstInit();
    HandOns(argv[2], argc > 3 ? std::atoi(argv[3]) : 100);
    return 0;
  }
  if (std::string(argv[1]) == "--listen" && argc > 3) {
    // --listen <file> <folder>: the file at 0.50x and 0.75x, recorded
    orvex::EnsureGstInit();
    RecordAtRate(argv[2], 50, std::string(argv[3]) + "/at050.wav");
    RecordAtRate(argv[2], 75, std::string(argv[3]) + "/at075.wav");
    RecordAtRate(argv[2], 100, std::string(argv[3]) + "/at100.wav");
    AnalyseSpeech(argv[2], std::string(argv[3]) + "/at100.wav", 1.0);
    AnalyseSpeech(argv[2], std::string(argv[3]) + "/at075.wav", 0.75);
    AnalyseSpeech(argv[2], std::string(argv[3]) + "/at050.wav", 0.5);
    return 0;
  }
  if (std::string(argv[1]) == "--speed" && argc > 2) {
    // --speed <noise>: speed change latency and the CPU of playing slower
    orvex::EnsureGstInit();
    std::printf("== speed\n");
    SpeedLatency("noise", argv[2], 10);
    PlaybackCpu("noise", argv[2], 20, 100);
    PlaybackCpu("noise", argv[2], 20, 75);
    return 0;
  }
  if (std::string(argv[1]) == "--calls" && argc > 2) {
    orvex::EnsureGstInit();
    JumpCalls(argv[2], 20);
    return 0;
  }
  if (std::string(argv[1]) == "--heard" && argc > 2) {
    orvex::EnsureGstInit();
    HeardSection(argv[2], argc > 3 ? argv[3] : "");
    return 0;
  }
  const std::string data = argv[1];
  const std::string longFile = argc > 2 ? argv[2] : "";
  const std::string noiseFile = argc > 3 ? argv[3] : "";
  orvex::EnsureGstInit();

  std::printf("== seek accuracy (FLUSH|ACCURATE; landed measured on the decoded samples)\n");
  for (const char* f : {"cbr_stereo.mp3", "vbr.mp3", "vbr_noheader.mp3", "mpeg2_22k.mp3",
                        "mono.mp3", "big_id3.mp3", "id3_ffff.mp3", "truncated.mp3"}) {
    SeekAccuracy(f, data + "/" + f, false, 20);
  }
  SeekAccuracy("program_stream.mp3", data + "/program_stream.mp3", true, 20);
  if (!longFile.empty()) SeekAccuracy("30-min VBR, no header", longFile, false, 20);

  if (!noiseFile.empty()) HeardSection(noiseFile);

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
  if (!noiseFile.empty()) {
    PlaybackCpu("a minute of noise", noiseFile, 20, 100);
    PlaybackCpu("a minute of noise", noiseFile, 20, 75);
  }
  return 0;
}
