// How exact each lesson format is through the second front end, beside
// decodebin3: per file, where position 0 lies in ffmpeg's decoding of the
// same file and in the source recording (samples at 44.1 kHz; 44 = 1 ms), the
// error of accurate seeks to 10 random targets, the seam of a 2 s loop
// repeated by segment seeks without a flush (10 passes), the duration's error
// and the time from open to preroll. No audio device needed.
//
//   format_bench <folder made by tests/formats/make_formats.sh> [rounds]
// (bench/run_format_bench.sh makes the folder and runs it)

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
  int64_t firstPassStart = 0, seamMax = 0, passLengthMax = 0;
  int64_t durationRef = 0, durationSource = 0;
};

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

  const LoopTake loop = PlayLoop(p, ref, SecondsToNs(2.0), SecondsToNs(4.0), 10);
  if (!loop.ok) {
    f.why = "loop";
    return f;
  }
  f.firstPassStart = loop.firstStart;
  f.seamMax = loop.seamMax;
  f.passLengthMax = loop.lengthMax;
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
              "[2 s, 4 s]: A = first pass's start, seam = most lost or repeated at a seam, "
              "pass = largest error of a pass's length; cpu: decoding the whole file (all "
              "threads)\n",
              kRate);
  std::printf("%-11s %-10s %8s %8s %8s %9s %6s %6s %6s %7s %7s %7s %7s %s\n", "file", "way", "pos0/ff",
              "pos0/src", "seek max", "seek mean", "loop A", "seam", "pass", "dur/ff",
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
      std::printf("%-11s %-10s %8lld %8lld %8lld %9.1f %6lld %6lld %6lld %7lld %7lld %7.1f %7.1f %s\n", name,
                  wayName, static_cast<long long>(f.offsetRef),
                  static_cast<long long>(f.offsetSource), static_cast<long long>(f.seekMax),
                  f.seekMean, static_cast<long long>(f.firstPassStart),
                  static_cast<long long>(f.seamMax), static_cast<long long>(f.passLengthMax), static_cast<long long>(f.durationRef),
                  static_cast<long long>(f.durationSource), openSum / rounds, f.decodeCpuMs,
                  f.decoder.c_str());
    }
  }
  return 0;
}
