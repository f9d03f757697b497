#include "tests/playback/sound_check.h"

#include <signal.h>
#include <spawn.h>
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
#include <thread>

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

bool NullSinkRecording::Start(const std::string& path) {
  Stop();
  std::string file = path;
  const char* argv[] = {
      "parec", "--latency-msec=20", "-d", "ci_null.monitor", "--file-format=wav", file.c_str(),
      nullptr};
  if (posix_spawnp(&pid_, "parec", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    pid_ = -1;
    return false;
  }
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

PrivateSoundServer::~PrivateSoundServer() {
  Stop();
}

bool PrivateSoundServer::Start(const std::string& folder) {
  Stop();
  const std::string config = folder + "/null.pa";
  {
    std::ofstream pa(config);
    pa << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << folder
       << "/native\n"
       << "load-module module-null-sink sink_name=private_null\n"
       << "set-default-sink private_null\n";
  }
  address_ = "unix:" + folder + "/native";
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0 &&
        std::strncmp(*e, "PULSE_SERVER=", 13) != 0) {
      env.emplace_back(*e);
    }
  }
  env.push_back("XDG_RUNTIME_DIR=" + folder);
  env.push_back("PULSE_SERVER=" + address_);
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
