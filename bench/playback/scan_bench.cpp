// Figures of opening a huge file whose audio ends early: the sample followed
// by zeros up to 3 GiB (a sparse file made in a temporary folder), as the GUI
// thread pays for it. Prints the time of the frame scan alone, of the whole
// build of the MP3 parser's graph (into a fake sink, no sound server needed),
// and for comparison of a scan that searches for frames to the end of the
// file, as the scan did before it gave up 2 MiB behind the audio. Asserts
// nothing.
//
// scan_bench <MP3 file to start with> [<folder for the sparse file>]
//   e.g. build/bin/scan_bench res/eg.mp3

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "playback/gst_player.h"
#include "playback/mpeg_scan.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Copies the sample into folder/huge.mp3 and extends it with a hole to size.
std::string MakeSparseFile(const std::string& sample, const std::string& folder, off_t size) {
  std::ifstream in(sample, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  if (bytes.empty()) return {};
  const std::string path = folder + "/huge.mp3";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return {};
  const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                  ::ftruncate(fd, size) == 0;
  ::close(fd);
  return ok ? path : std::string{};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <MP3 file to start with> [<folder for the sparse file>]\n",
                 argv[0]);
    return 2;
  }
  std::string folder =
      (argc > 2 ? std::string(argv[2]) : std::filesystem::temp_directory_path().string()) +
      "/scan_bench.XXXXXX";
  if (!::mkdtemp(folder.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const off_t size = off_t{3} << 30;
  const std::string path = MakeSparseFile(argv[1], folder, size);
  if (path.empty()) {
    std::fprintf(stderr, "could not make the sparse file in %s\n", folder.c_str());
    ::rmdir(folder.c_str());
    return 1;
  }

  std::printf("== opening a 3 GiB file: the sample, then zeros\n");
  std::vector<double> scanMs;
  orvex::MpegScan scan;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = Clock::now();
    orvex::FileByteSource source;
    if (!source.Open(path)) break;
    scan = orvex::ScanMpegAudio(source);
    scanMs.push_back(Ms(Clock::now() - t0));
  }
  std::printf("frame scan:  median %8.1f ms  max %8.1f ms  (%llu frames, length %lld ms)\n",
              Median(scanMs), scanMs.empty() ? 0 : *std::max_element(scanMs.begin(), scanMs.end()),
              static_cast<unsigned long long>(scan.audioFrames),
              static_cast<long long>(scan.LengthNs() / 1000000));

  // The first pass also maps the file's hole into the page cache: the second
  // is the figure to compare.
  orvex::MpegScanOptions toTheEnd;
  toTheEnd.maxSyncSearch = ~uint64_t{0} / 2;
  for (int pass = 1; pass <= 2; ++pass) {
    orvex::FileByteSource source;
    const auto t0 = Clock::now();
    if (source.Open(path)) scan = orvex::ScanMpegAudio(source, toTheEnd);
    std::printf("frame scan searching to the end of the file, pass %d: %8.1f ms  (%llu frames)\n",
                pass, Ms(Clock::now() - t0), static_cast<unsigned long long>(scan.audioFrames));
  }

  orvex::EnsureGstInit();
  std::vector<double> buildMs;
  int32_t durationMs = 0;
  for (int i = 0; i < 3; ++i) {
    orvex::GstPlayerOptions options;
    options.fastFakeRenderer = true;
    orvex::GstPlayer player({}, options);
    const auto t0 = Clock::now();
    const orvex::Result r = player.BuildWithMp3Parser(path);
    buildMs.push_back(Ms(Clock::now() - t0));
    if (orvex::Failed(r)) {
      std::printf("build failed: %s\n", player.ErrorText(r).c_str());
      break;
    }
    durationMs = player.GetDurationMs();
  }
  std::printf("whole build: median %8.1f ms  max %8.1f ms  (length shown %d ms)\n", Median(buildMs),
              buildMs.empty() ? 0 : *std::max_element(buildMs.begin(), buildMs.end()), durationMs);

  ::unlink(path.c_str());
  ::rmdir(folder.c_str());
  return 0;
}
