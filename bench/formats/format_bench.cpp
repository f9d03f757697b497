// How exact each lesson format is through the second front end, beside
// decodebin3: per file, where position 0 lies in ffmpeg's decoding of the
// same file and in the source recording (samples at 44.1 kHz; 44 = 1 ms), the
// error of accurate seeks to 10 random targets, the seam of a 2 s loop
// repeated by segment seeks without a flush (10 passes), the duration's error
// and the time from open to preroll. No audio device needed.
//
//   format_bench <folder made by tests/formats/make_formats.sh> [rounds]

#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/formats/front_check.h"

using namespace orvex;
using namespace orvex::test;

namespace {

constexpr int kRate = kCheckRate;
constexpr size_t kWindow = 2048;
constexpr int64_t kRadius = kRate / 10;
// The engine's lead-out past B at other speeds (kTempoLeadOutNs).
constexpr int64_t kLeadOutNs = 100000000;

int64_t Abs(int64_t v) { return v < 0 ? -v : v; }
int64_t NsToFrames(int64_t ns) { return (ns * kRate + 500000000) / 1000000000; }
int64_t SecondsToNs(double s) { return static_cast<int64_t>(std::llround(s * 1e9)); }

struct Figures {
  bool ok = false;
  std::string why;
  double openMs = 0;
  double decodeCpuMs = 0;
  std::string decoder;
  int64_t offsetRef = 0, offsetSource = 0;
  int64_t seekMax = 0;
  double seekMean = 0;
  int64_t firstPassStart = 0, firstPassStartLeadOut = 0;
  int64_t seamMax = 0, seamMaxLeadOut = 0;
  int64_t durationRef = 0, durationSource = 0;
};

// A loop of [2 s, 4 s] for 10 passes as the engine plays it: a segment seek,
// then on each segment done another without a flush. With a lead-out the
// segments run on past B and what is pulled is cut at B.
bool Loop(FrontPipeline& p, const std::vector<float>& ref, int64_t leadOut, int64_t& firstStart,
          int64_t& seamMax) {
  std::vector<float> out;
  firstStart = seamMax = 0;
  const int64_t a = SecondsToNs(2.0), b = SecondsToNs(4.0);
  const int64_t passFrames = NsToFrames(b - a);
  const int passes = 10;
  p.LoopOnSegmentDone(a, b, leadOut);
  if (!p.Seek(a, b + leadOut, true) || !p.Pull(static_cast<size_t>(passFrames * passes), out, 20000)) {
    return false;
  }
  // Pass by pass: where B of the pass lies in the take (a window just before
  // it is found in the file just before B), then which sample of the file
  // follows it (a window just behind it is found just behind A): 0 when B is
  // followed by A exactly, more when samples after A are lost, less when
  // samples are repeated or more of the file after B is played.
  const int64_t m = kRate / 100;
  const int64_t w = static_cast<int64_t>(kWindow);
  const int64_t aFrame = NsToFrames(a), bFrame = NsToFrames(b);
  int64_t at = 0;  // where the pass's A lies in the take
  for (int i = 0; i < passes; ++i) {
    const int64_t startErr = Locate(ref, out.data() + at + m, kWindow, aFrame + m, kRadius) - m - aFrame;
    if (i == 0) {
      firstStart = startErr;
    } else {
      seamMax = std::max(seamMax, Abs(startErr));
    }
    at -= startErr;
    const int64_t endIdx = at + passFrames - m - w;
    if (endIdx + w > static_cast<int64_t>(out.size())) break;
    const int64_t endErr = Locate(ref, out.data() + endIdx, kWindow, bFrame - m - w, kRadius) -
                           (bFrame - m - w);
    if (std::getenv("ORVEX_BENCH_VERBOSE")) {
      std::printf("  pass %d: start %lld end %lld\n", i, static_cast<long long>(startErr),
                  static_cast<long long>(endErr));
    }
    at += passFrames - endErr;
  }
  return true;
}

Figures Measure(const std::string& path, Way way, const std::vector<float>& ref,
                const std::vector<float>& source) {
  Figures f;
  const auto t0 = std::chrono::steady_clock::now();
  FrontPipeline p(path, way);
  if (!p.Preroll(10000)) {
    f.why = p.error();
    return f;
  }
  f.openMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  {
    // The CPU time of decoding the whole file in a pipeline of its own.
    const std::clock_t c0 = std::clock();
    FrontPipeline whole(path, way);
    std::vector<float> all;
    if (whole.Preroll(10000)) whole.Pull(ref.size() + kRate, all, 30000);
    f.decodeCpuMs = 1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  }
  if (p.front().bin) f.decoder = DecodeFrontDecoder(p.front().bin);
  const int64_t durationNs = p.DurationNs();
  f.durationRef = NsToFrames(durationNs) - static_cast<int64_t>(ref.size());
  f.durationSource = NsToFrames(durationNs) - static_cast<int64_t>(source.size());

  std::vector<float> out;
  const int64_t k0 = kRate / 5;
  if (!p.Pull(kRate, out, 10000)) {
    f.why = "no audio from the start";
    return f;
  }
  f.offsetRef = Locate(ref, out.data() + k0, kWindow, k0, kRadius) - k0;
  f.offsetSource = Locate(source, out.data() + k0, kWindow, k0, kRadius) - k0;

  std::mt19937 random(1);
  const double length = static_cast<double>(durationNs) / 1e9;
  std::uniform_real_distribution<double> target(0.2, length - 1.0);
  double sum = 0;
  for (int i = 0; i < 10; ++i) {
    const int64_t t = SecondsToNs(target(random));
    const int64_t m = kRate / 20;
    if (!p.Seek(t, -1, false) || !p.Pull(kRate / 4, out, 10000)) {
      f.why = "seek";
      return f;
    }
    const int64_t at = NsToFrames(t);
    const int64_t err = Locate(ref, out.data() + m, kWindow, at + m, kRadius) - m - at;
    f.seekMax = std::max(f.seekMax, Abs(err));
    sum += static_cast<double>(Abs(err));
  }
  f.seekMean = sum / 10;

  if (!Loop(p, ref, 0, f.firstPassStart, f.seamMax) ||
      !Loop(p, ref, kLeadOutNs, f.firstPassStartLeadOut, f.seamMaxLeadOut)) {
    f.why = "loop";
    return f;
  }
  f.ok = true;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <fixture folder> [rounds]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  std::vector<float> source;
  if (!DecodeWithFfmpeg(folder + "/source.wav", source)) {
    std::fprintf(stderr, "cannot decode the source recording\n");
    return 1;
  }
  const char* files[] = {"aac.m4a",  "adts.aac",  "id3_adts.aac", "vorbis.ogg", "opus.opus",
                         "opus.ogg", "opus.webm", "flac.flac",    "pcm.wav",    "video.mp4",
                         "video.mkv"};
  std::printf("samples at %d Hz (44 = 1 ms); seek: 10 random targets; loop: 10 passes of "
              "[2 s, 4 s], A = first pass's start, seam = most lost or repeated at a seam; "
              "/B: segments stop at B, /lead: run 100 ms past B and cut at B; cpu: decoding the "
              "whole file (all threads)\n",
              kRate);
  std::printf("%-11s %-10s %8s %8s %8s %9s %6s %6s %6s %9s %7s %7s %7s %7s %s\n", "file", "way", "pos0/ff",
              "pos0/src", "seek max", "seek mean", "A/B", "seam/B", "A/lead", "seam/lead", "dur/ff",
              "dur/src", "open ms", "cpu ms", "decoder");
  for (const char* name : files) {
    const std::string path = folder + "/" + name;
    std::vector<float> ref;
    if (!DecodeWithFfmpeg(path, ref)) {
      std::printf("%-11s ffmpeg cannot decode it\n", name);
      continue;
    }
    for (Way way : {Way::kFrontEnd, Way::kDecodebin3}) {
      double openSum = 0;
      Figures f;
      for (int r = 0; r < rounds; ++r) {
        f = Measure(path, way, ref, source);
        openSum += f.openMs;
      }
      const char* wayName = way == Way::kFrontEnd ? "front end" : "decodebin3";
      if (!f.ok) {
        std::printf("%-11s %-10s failed: %s\n", name, wayName, f.why.c_str());
        continue;
      }
      std::printf("%-11s %-10s %8lld %8lld %8lld %9.1f %6lld %6lld %6lld %9lld %7lld %7lld %7.1f %7.1f %s\n", name,
                  wayName, static_cast<long long>(f.offsetRef),
                  static_cast<long long>(f.offsetSource), static_cast<long long>(f.seekMax),
                  f.seekMean, static_cast<long long>(f.firstPassStart),
                  static_cast<long long>(f.seamMax), static_cast<long long>(f.firstPassStartLeadOut),
                  static_cast<long long>(f.seamMaxLeadOut), static_cast<long long>(f.durationRef),
                  static_cast<long long>(f.durationSource), openSum / rounds, f.decodeCpuMs,
                  f.decoder.c_str());
    }
  }
  return 0;
}
