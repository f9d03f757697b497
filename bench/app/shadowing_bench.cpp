// Shadowing figures, heard on the sound server and never asserted:
// - how long after a pass is heard to end the take begins, and how long
//   after the take's window is over its playback is heard, per cycle;
// - the silence from a pass's end to the next pass's start, beside the one
//   planned;
// - CPU of the process while looping with takes, beside plain looping;
// - the pitch tracks and their alignment, per take.
//
// The microphone is a null sink "mic" whose monitor is the default input
// (bench/run_shadowing_bench.sh sets it up), fed with endless noise. One
// capture pipeline records the output's monitor and the microphone's on one
// clock: the start of each take heard back is found in the microphone's
// recording, which tells when the take began.
//
//   shadowing_bench <lesson> [cycles]

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "core/intonation.h"
#include "playback/gst_player.h"
#include "playback/gst_recorder.h"
#include "playback/pitch_track.h"
#include "transport/shadowing.h"

using namespace orvex;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 48000;
constexpr int32_t kA = 800;
constexpr int32_t kB = 2800;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Two sources of the sound server recorded on one clock, mono at 48 kHz.
class Capture {
 public:
  struct Stream {
    std::mutex lock;
    std::vector<float> pcm;
    // When each buffer's last sample arrived, on the steady clock: the two
    // monitors run at slightly different rates, so samples are not counted
    // but placed on the steady clock by a straight line through these.
    std::vector<std::pair<double, double>> arrivals;  // (sample index, ns)
    // The fitted line: the steady time of sample i is at + perSample * i.
    double at = 0;
    double perSample = 1e9 / kRate;
    void Fit() {
      const double n = static_cast<double>(arrivals.size());
      if (n < 2) return;
      double sx = 0, sy = 0, sxx = 0, sxy = 0;
      const double y0 = arrivals.front().second;
      for (const auto& [x, y] : arrivals) {
        sx += x;
        sy += y - y0;
        sxx += x * x;
        sxy += x * (y - y0);
      }
      perSample = (n * sxy - sx * sy) / (n * sxx - sx * sx);
      at = y0 + (sy - perSample * sx) / n;
    }
    double Ms(size_t i) const { return (at + perSample * static_cast<double>(i)) / 1e6; }
    size_t At(double ms) const { return static_cast<size_t>(std::max(0.0, (ms * 1e6 - at) / perSample)); }
  };
  Capture() {
    const std::string raw = " ! audioconvert ! audioresample ! audio/x-raw,format=F32LE,rate=48000,channels=1";
    pipeline_ = gst_parse_launch(("pulsesrc device=ci_null.monitor" + raw + " ! appsink name=out sync=false "
                                  "pulsesrc device=mic.monitor" + raw + " ! appsink name=mic sync=false")
                                     .c_str(),
                                 nullptr);
    Hook("out", &out);
    Hook("mic", &mic);
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  }
  ~Capture() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
  }
  Stream out;
  Stream mic;

 private:
  void Hook(const char* name, Stream* stream) {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), name);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer data) {
      auto* st = static_cast<Stream*>(data);
      GstSample* sample = gst_app_sink_pull_sample(s);
      GstBuffer* buffer = gst_sample_get_buffer(sample);
      GstMapInfo map;
      if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const std::lock_guard guard(st->lock);
        const auto* f = reinterpret_cast<const float*>(map.data);
        st->pcm.insert(st->pcm.end(), f, f + map.size / sizeof(float));
        const auto now = std::chrono::duration<double, std::nano>(
                             std::chrono::steady_clock::now().time_since_epoch()).count();
        st->arrivals.emplace_back(static_cast<double>(st->pcm.size()), now);
        gst_buffer_unmap(buffer, &map);
      }
      gst_sample_unref(sample);
      return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, stream, nullptr);
    gst_object_unref(sink);
  }
  GstElement* pipeline_;
};

// Sound and silence of a recording, 1 ms at a time: the stretches of sound
// of at least minMs, as [first, end) sample indices.
std::vector<std::pair<size_t, size_t>> SoundStretches(const std::vector<float>& pcm, int minMs) {
  constexpr size_t kWindow = kRate / 1000;
  std::vector<std::pair<size_t, size_t>> found;
  size_t start = 0;
  bool in = false;
  for (size_t w = 0; (w + 1) * kWindow <= pcm.size(); ++w) {
    double sum = 0;
    for (size_t i = w * kWindow; i < (w + 1) * kWindow; ++i) sum += pcm[i] * pcm[i];
    const bool loud = std::sqrt(sum / kWindow) > 0.01;
    if (loud && !in) start = w * kWindow;
    if (!loud && in && (w * kWindow - start) >= static_cast<size_t>(minMs) * kWindow) {
      found.emplace_back(start, w * kWindow);
    }
    in = loud;
  }
  return found;
}

// Where in `in` (searched from `from` to `to`) the `n` samples of `piece`
// begin, by normalised correlation.
size_t Locate(const std::vector<float>& in, size_t from, size_t to, const float* piece, size_t n) {
  double best = -2;
  size_t at = from;
  double pieceEnergy = 0;
  for (size_t i = 0; i < n; ++i) pieceEnergy += piece[i] * piece[i];
  for (size_t lag = from; lag + n <= in.size() && lag < to; ++lag) {
    double dot = 0, energy = 0;
    for (size_t i = 0; i < n; ++i) {
      dot += in[lag + i] * piece[i];
      energy += in[lag + i] * in[lag + i];
    }
    const double score = dot / std::sqrt(energy * pieceEnergy + 1e-12);
    if (score > best) {
      best = score;
      at = lag;
    }
  }
  return at;
}

// The window's part: the player's and the recorder's events and the tick,
// every 25 ms, for `span`.
void Pump(App& app, std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(25ms);
    app.OnGraphEvent();
    app.OnRecorderEvent();
    app.Tick();
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <lesson> [cycles]\n", argv[0]);
    return 2;
  }
  const std::string lesson = argv[1];
  const int cycles = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;
  EnsureGstInit();
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", data.path().toUtf8());

  SilentShell shell;
  GstPlayerFactory factory;
  GstRecorder recorder;
  App app{shell, &factory};
  app.SetRecorder(&recorder);
  app.OpenFile(lesson);
  Pump(app, 500ms);
  const int32_t window = ShadowWindowMs(kA, kB);
  const int32_t gap = ShadowGapMs(kA, kB);
  const auto cycleMs = std::chrono::milliseconds(kB - kA + gap);

  // CPU: plain looping, then looping with takes, the same time each.
  const auto cpuSpan = std::chrono::milliseconds(std::max<int64_t>(20000, 2 * cycleMs.count()));
  app.LoopStretch(kA, kB);
  Pump(app, 300ms);
  double before = CpuSeconds();
  Pump(app, cpuSpan);
  const double plain = CpuSeconds() - before;
  app.ToggleShadowing();
  app.LoopStretch(kA, kB);
  Pump(app, 300ms);
  before = CpuSeconds();
  Pump(app, cpuSpan);
  const double takes = CpuSeconds() - before;
  std::printf("CPU over %.0f s: plain looping %.2f s, looping with takes %.2f s (%.2fx)\n",
              cpuSpan.count() / 1000.0, plain, takes, takes / std::max(plain, 1e-6));

  // Heard timings: a fresh loop, recorded from its first pass on.
  app.TogglePlay();
  Pump(app, 200ms);
  Capture capture;
  Pump(app, 500ms);
  app.LoopStretch(kA, kB);
  Pump(app, cycleMs * cycles + 1000ms);
  app.TogglePlay();
  Pump(app, 300ms);

  std::vector<float> out, mic;
  {
    const std::lock_guard a(capture.out.lock);
    const std::lock_guard b(capture.mic.lock);
    capture.out.Fit();
    capture.mic.Fit();
    out = capture.out.pcm;
    mic = capture.mic.pcm;
    std::printf("the monitors' rates on the steady clock: output %.2f Hz, microphone %.2f Hz\n",
                1e9 / capture.out.perSample, 1e9 / capture.mic.perSample);
  }
  const auto outMs = [&](size_t i) { return capture.out.Ms(i); };
  const auto micAt = [&](double ms) { return capture.mic.At(ms); };
  // Passes last B - A, takes heard back the window; anything else (a
  // first partial pass) is left out.
  const auto sounds = SoundStretches(out, 200);
  std::vector<double> recordStarts, playStarts, gaps;
  for (size_t k = 0; k + 2 < sounds.size(); ++k) {
    const double passMs = 1000.0 * static_cast<double>(sounds[k].second - sounds[k].first) / kRate;
    const double takeMs = 1000.0 * static_cast<double>(sounds[k + 1].second - sounds[k + 1].first) / kRate;
    if (std::abs(passMs - (kB - kA)) > 30 || std::abs(takeMs - window) > 60) continue;
    const double passEnd = outMs(sounds[k].second);
    const double playStart = outMs(sounds[k + 1].first);
    // The take's first 50 ms, heard back, found in what the microphone
    // heard around the pass's end.
    const size_t piece = sounds[k + 1].first + kRate / 100;
    const size_t n = kRate / 20;
    if (piece + n > out.size()) continue;
    const size_t from = micAt(passEnd - 500);
    const size_t to = micAt(passEnd + 500);
    const size_t found = Locate(mic, from, to, out.data() + piece, n);
    const double takeBegan = capture.mic.Ms(found) - 10.0;
    const double nextPass = outMs(sounds[k + 2].first);
    recordStarts.push_back(takeBegan - passEnd);
    playStarts.push_back(playStart - (takeBegan + window));
    gaps.push_back(nextPass - passEnd);
    std::printf("cycle %zu: take began %+.1f ms after the pass ended, heard back %+.1f ms after "
                "its window, next pass after %.1f ms (planned %d)\n",
                recordStarts.size(), recordStarts.back(), playStarts.back(), gaps.back(), gap);
  }
  if (!recordStarts.empty()) {
    std::printf("over %zu cycles: take began after the pass end median %+.1f ms (worst %+.1f); "
                "playback after the take's end median %+.1f ms (worst %+.1f); "
                "silence between passes %.1f..%.1f ms (planned %d)\n",
                recordStarts.size(), Median(recordStarts),
                *std::max_element(recordStarts.begin(), recordStarts.end(),
                                  [](double x, double y) { return std::abs(x) < std::abs(y); }),
                Median(playStarts), *std::max_element(playStarts.begin(), playStarts.end()),
                *std::min_element(gaps.begin(), gaps.end()), *std::max_element(gaps.begin(), gaps.end()),
                gap);
  } else {
    std::printf("no whole cycle was heard\n");
  }

  // The pitch tracks of a take and of the stretch, and their alignment.
  const std::vector<std::string> kept = TakesOf(TakeFolder(lesson), kA, kB);
  if (!kept.empty()) {
    const auto t0 = std::chrono::steady_clock::now();
    const Intonation aligned = AlignIntonation(PitchOfFile(lesson, kA, kB), PitchOfFile(kept.back(), 0, -1));
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("pitch of the stretch and the take, aligned: %.1f ms (%zu points)\n", ms,
                aligned.originalHz.size());
  }
  app.SetRecorder(nullptr);
  return 0;
}
