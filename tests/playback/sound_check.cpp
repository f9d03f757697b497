#include "tests/playback/sound_check.h"

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "playback/format_probe.h"
#include "playback/gst_player.h"
#include "playback/mpeg_scan.h"

extern char** environ;

namespace orvex::test {

namespace {

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Sends the signal to the child, gives it five seconds to end, then kills it;
// reaps it either way and clears the id.
void EndChild(pid_t& pid, int signal) {
  if (pid <= 0) return;
  kill(pid, signal);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid = -1;
}

}  // namespace

NullSinkRecording::~NullSinkRecording() {
  Stop();
}

bool NullSinkRecording::Start(const std::string& path, const std::string& source) {
  Stop();
  path_ = path;
  const char* argv[] = {"parec",        "--latency-msec=20", "-d",
                        source.c_str(), "--file-format=wav", path.c_str(),
                        nullptr};
  if (posix_spawnp(&pid_, "parec", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    pid_ = -1;
    return false;
  }
  // The recorder keeps up with the sound server as the player does (where
  // the system allows it): a recorder starved by busy programs loses blocks,
  // and the recording would show breaks that nobody heard.
  setpriority(PRIO_PROCESS, static_cast<id_t>(pid_), -11);
  // Wait until the file holds more than its header.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 8192) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Stop();
  return false;
}

void NullSinkRecording::Stop() {
  EndChild(pid_, SIGINT);
}

size_t NullSinkRecording::Mark() const {
  struct stat st {};
  return ::stat(path_.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

size_t Recording::FrameOfMark(size_t mark) const {
  const size_t bytesPerFrame = 2 * std::max<size_t>(channels.size(), 1);
  return mark > dataOffset ? (mark - dataOffset) / bytesPerFrame : 0;
}

bool ReadWav(const std::string& path, Recording& out) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return false;
  }
  size_t pos = 12;
  int channels = 0, bits = 0;
  while (pos + 8 <= bytes.size()) {
    const unsigned char* chunk = bytes.data() + pos;
    const uint32_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && pos + 8 + 16 <= bytes.size()) {
      channels = Le16(chunk + 10);
      out.sampleRate = static_cast<int>(Le32(chunk + 12));
      bits = Le16(chunk + 22);
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (channels <= 0 || bits != 16) return false;
      const size_t start = pos + 8;
      out.dataOffset = start;
      const size_t frames = (bytes.size() - start) / (2 * static_cast<size_t>(channels));
      out.channels.assign(static_cast<size_t>(channels), std::vector<float>(frames));
      for (size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
          const auto v = static_cast<int16_t>(Le16(bytes.data() + start + (f * channels + c) * 2));
          out.channels[c][f] = v / 32768.0f;
        }
      }
      return true;
    }
    pos += 8 + size + (size & 1);
  }
  return false;
}

std::vector<Window> Windows(const Recording& recording, int windowMs) {
  std::vector<Window> windows;
  if (recording.channels.size() < 2 || recording.sampleRate <= 0) return windows;
  const size_t length = static_cast<size_t>(recording.sampleRate) * windowMs / 1000;
  const size_t frames = recording.channels[0].size();
  for (size_t start = 0; start + length <= frames; start += length) {
    Window w;
    for (int c = 0; c < 2; ++c) {
      double sum = 0, peak = 0;
      for (size_t i = start; i < start + length; ++i) {
        const double v = recording.channels[c][i];
        sum += v * v;
        peak = std::max(peak, std::fabs(v));
      }
      w.rms[c] = std::sqrt(sum / static_cast<double>(length));
      w.peak[c] = peak;
    }
    windows.push_back(w);
  }
  return windows;
}

std::vector<Window> Audible(const std::vector<Window>& windows, double threshold) {
  std::vector<Window> audible;
  std::copy_if(windows.begin(), windows.end(), std::back_inserter(audible),
               [&](const Window& w) { return std::max(w.rms[0], w.rms[1]) > threshold; });
  return audible;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double ToneFrequency(const Recording& recording, int channel, double threshold) {
  if (recording.channels.size() <= static_cast<size_t>(channel)) return 0;
  const auto& x = recording.channels[static_cast<size_t>(channel)];
  const size_t window = static_cast<size_t>(recording.sampleRate) / 20;
  // Per audible window: half periods between its first and last crossing.
  std::vector<double> estimates;
  for (size_t start = 0; start + window <= x.size(); start += window) {
    double sum = 0;
    for (size_t i = start; i < start + window; ++i) sum += x[i] * x[i];
    if (std::sqrt(sum / static_cast<double>(window)) <= threshold) continue;
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = start + 1; i < start + window; ++i) {
      if ((x[i - 1] < 0) == (x[i] < 0)) continue;
      if (crossings++ == 0) first = i;
      last = i;
    }
    if (crossings < 3) continue;
    estimates.push_back((crossings - 1) / 2.0 * recording.sampleRate /
                        static_cast<double>(last - first));
  }
  return Median(estimates);
}

bool DecodeFile(const std::string& path, Recording& out) {
  std::mutex mutex;
  Recording decoded;
  GstPlayerOptions options;
  options.fastFakeRenderer = true;
  options.observer = [&](const PcmBlock& block) {
    std::lock_guard lock(mutex);
    if (decoded.channels.empty()) {
      decoded.sampleRate = block.sampleRate;
      decoded.channels.resize(static_cast<size_t>(block.channels));
    }
    if (block.channels != static_cast<int>(decoded.channels.size())) return;
    for (size_t f = 0; f < block.frames; ++f) {
      for (int c = 0; c < block.channels; ++c) {
        decoded.channels[static_cast<size_t>(c)].push_back(block.samples[f * block.channels + c]);
      }
    }
  };
  GstPlayer player({}, options);
  // MP3 by its own builder, any other format by the decoder, as on opening.
  FileByteSource bytes;
  const bool mp3 = bytes.Open(path) && ProbeLesson(bytes).content == LessonContent::kMp3;
  const Result built = mp3 ? player.BuildWithMp3Parser(path) : player.BuildWithDecoder(path);
  if (Failed(built) || Failed(player.Run())) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!player.IsAtEnd()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  player.Teardown();
  std::lock_guard lock(mutex);
  out = std::move(decoded);
  return out.sampleRate > 0 && out.Frames() > 0;
}

namespace {

// Two 16-bit values of the same sample differ by rounding, or by the
// converter's dither when the sink asks for 16 bits.
constexpr float kMatchTolerance = 4.0f / 32768;

// Compares recorded frames with file frames on the first two channels (a mono
// file's one channel against both).
class FrameMatch {
 public:
  FrameMatch(const Recording& heard, const Recording& file, double gain)
      : heard_(heard),
        file_(file),
        gain_(static_cast<float>(gain)),
        channels_(std::min<size_t>(heard.channels.size(), 2)),
        fileFrames_(static_cast<int64_t>(file.Frames())) {}

  bool At(size_t i, int64_t j) const {
    if (j < 0 || j >= fileFrames_ || channels_ == 0 || file_.channels.empty()) return false;
    for (size_t c = 0; c < channels_; ++c) {
      const float f =
          file_.channels[std::min(c, file_.channels.size() - 1)][static_cast<size_t>(j)];
      if (std::fabs(heard_.channels[c][i] - gain_ * f) > kMatchTolerance) return false;
    }
    return true;
  }
  bool Block(size_t i, int64_t j, size_t n) const {
    for (size_t k = 0; k < n; ++k) {
      if (!At(i + k, j + static_cast<int64_t>(k))) return false;
    }
    return true;
  }
  // Where in the file recorded frames [i, i + n) lie; -1 when nowhere. Most
  // places fail at their first frame, so this costs about one pass over the
  // file.
  int64_t Search(size_t i, size_t n) const {
    for (int64_t j = 0; j + static_cast<int64_t>(n) <= fileFrames_; ++j) {
      if (Block(i, j, n)) return j;
    }
    return -1;
  }
  // Whether the block is loud enough to be told from the file's quiet parts.
  bool Loud(size_t i, size_t n) const {
    for (size_t c = 0; c < channels_; ++c) {
      double sum = 0;
      for (size_t k = i; k < i + n; ++k)
        sum += double{heard_.channels[c][k]} * heard_.channels[c][k];
      if (std::sqrt(sum / static_cast<double>(n)) > 0.01) return true;
    }
    return false;
  }

 private:
  const Recording& heard_;
  const Recording& file_;
  const float gain_;
  const size_t channels_;
  const int64_t fileFrames_;
};

}  // namespace

std::vector<HeardRun> FollowInFile(const Recording& heard, const Recording& file, double gain) {
  std::vector<HeardRun> runs;
  if (heard.sampleRate <= 0 || heard.sampleRate != file.sampleRate) return runs;
  const FrameMatch match(heard, file, gain);
  const size_t block = static_cast<size_t>(heard.sampleRate) / 100;
  const size_t frames = heard.Frames();
  HeardRun run;
  bool open = false;
  size_t floor = 0;  // where the last run ended: the next one starts after it
  // Closes the open run at its exact last frame.
  auto close = [&] {
    size_t k = run.End();
    while (k < frames && match.At(k, static_cast<int64_t>(k) + run.Offset())) ++k;
    run.frames = k - run.at;
    runs.push_back(run);
    floor = k;
    open = false;
  };
  size_t i = 0;
  while (i + block <= frames) {
    if (open) {
      if (match.Block(i, static_cast<int64_t>(i) + run.Offset(), block)) {
        run.frames = i + block - run.at;
        i += block;
        continue;
      }
      close();
      i = std::max(i, floor);
      continue;
    }
    const int64_t j = match.Loud(i, block) ? match.Search(i, block) : -1;
    if (j < 0) {
      i += block;
      continue;
    }
    // Back to the run's exact first frame.
    const int64_t offset = j - static_cast<int64_t>(i);
    size_t start = i;
    while (start > floor && match.At(start - 1, static_cast<int64_t>(start - 1) + offset)) --start;
    run.at = start;
    run.from = static_cast<int64_t>(start) + offset;
    run.frames = i + block - start;
    open = true;
    i += block;
  }
  if (open) close();
  return runs;
}

const HeardRun* FirstRunFrom(const std::vector<HeardRun>& runs, size_t frame) {
  for (const HeardRun& run : runs) {
    if (run.at >= frame) return &run;
  }
  return nullptr;
}

const HeardRun* RunAt(const std::vector<HeardRun>& runs, size_t frame) {
  for (const HeardRun& run : runs) {
    if (run.at <= frame && frame < run.End()) return &run;
  }
  return nullptr;
}

bool HeardTake::Start(const std::string& file, const std::string& wavPath,
                      const std::string& source) {
  wav_ = wavPath;
  return DecodeFile(file, file_) && recording_.Start(wavPath, source);
}

bool HeardTake::Finish(double gain) {
  recording_.Stop();
  if (!ReadWav(wav_, heard_)) return false;
  runs_ = FollowInFile(heard_, file_, gain);
  return true;
}

size_t HeardTake::EarliestFrameOf(size_t mark) const {
  const size_t at = FrameOf(mark);
  const auto slack = static_cast<size_t>(MsToFrames(kMarkSlackMs));
  return at > slack ? at - slack : 0;
}

const HeardRun* HeardTake::RunFrom(size_t mark) const {
  return FirstRunFrom(runs_, EarliestFrameOf(mark));
}

const HeardRun* HeardTake::RunPlayingAt(size_t mark) const {
  return RunAt(runs_, EarliestFrameOf(mark));
}

const HeardRun* HeardTake::Next(const HeardRun* run) const {
  if (!run || runs_.empty() || run < runs_.data() || run + 1 >= runs_.data() + runs_.size()) {
    return nullptr;
  }
  return run + 1;
}

double GainAgainstFile(const Recording& heard, const Recording& file, size_t at, int64_t from,
                       size_t frames) {
  if (file.channels.empty() || from < 0) return 0;
  double cross = 0, energy = 0;
  const size_t channels = std::min<size_t>(heard.channels.size(), 2);
  for (size_t k = 0; k < frames; ++k) {
    const size_t i = at + k;
    const auto j = static_cast<size_t>(from) + k;
    if (i >= heard.Frames() || j >= file.Frames()) break;
    for (size_t c = 0; c < channels; ++c) {
      const double f = file.channels[std::min(c, file.channels.size() - 1)][j];
      cross += heard.channels[c][i] * f;
      energy += f * f;
    }
  }
  return energy > 0 ? cross / energy : 0;
}

double PeakBetween(const Recording& heard, size_t from, size_t to) {
  double peak = 0;
  for (const auto& channel : heard.channels) {
    for (size_t i = from; i < to && i < channel.size(); ++i) {
      peak = std::max(peak, double{std::fabs(channel[i])});
    }
  }
  return peak;
}

std::vector<std::pair<size_t, size_t>> SilencesIn(const Recording& heard, size_t minFrames) {
  std::vector<std::pair<size_t, size_t>> silences;
  size_t quiet = 0;
  for (size_t i = 0; i < heard.Frames(); ++i) {
    if (heard.channels[0][i] == 0.0f && heard.channels[1][i] == 0.0f) {
      ++quiet;
      continue;
    }
    if (quiet >= minFrames) silences.emplace_back(i - quiet, i);
    quiet = 0;
  }
  return silences;
}

PrivateSoundServer::~PrivateSoundServer() {
  Stop();
}

bool PrivateSoundServer::Start(const std::string& folder,
                               const std::vector<std::string>& extraLines) {
  Stop();
  const std::string config = folder + "/null.pa";
  {
    std::ofstream pa(config);
    pa << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << folder
       << "/native\n"
       << "load-module module-null-sink sink_name=private_null\n"
       << "set-default-sink private_null\n";
    for (const std::string& line : extraLines) pa << line << "\n";
  }
  address_ = "unix:" + folder + "/native";
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0 &&
        std::strncmp(*e, "PULSE_SERVER=", 13) != 0 &&
        std::strncmp(*e, "PULSE_STATE_PATH=", 17) != 0) {
      env.emplace_back(*e);
    }
  }
  env.push_back("XDG_RUNTIME_DIR=" + folder);
  env.push_back("PULSE_SERVER=" + address_);
  env.push_back("PULSE_STATE_PATH=" + folder);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string configArg = "-F" + config;
  const std::string logArg = "--log-target=file:" + folder + "/pulse.log";
  const char* argv[] = {"pulseaudio",
                        "-n",
                        configArg.c_str(),
                        "--daemonize=no",
                        "--exit-idle-time=-1",
                        "--disallow-exit",
                        "--use-pid-file=no",
                        logArg.c_str(),
                        nullptr};
  if (posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, const_cast<char* const*>(argv),
                   envp.data()) != 0) {
    pid_ = -1;
    return false;
  }
  const std::string probe = "pactl -s '" + address_ + "' info >/dev/null 2>&1";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::system(probe.c_str()) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Stop();
  return false;
}

void PrivateSoundServer::Stop() {
  EndChild(pid_, SIGTERM);
}

CpuHogs::CpuHogs() {
  for (pid_t& pid : pids_) {
    const char* argv[] = {"sha256sum", "/dev/zero", nullptr};
    if (posix_spawnp(&pid, "sha256sum", nullptr, nullptr, const_cast<char* const*>(argv),
                     environ) != 0) {
      pid = -1;
    }
  }
}

CpuHogs::~CpuHogs() {
  for (pid_t& pid : pids_) EndChild(pid, SIGKILL);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    ::setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvex-player-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace orvex::test
