#include "tests/support/microphone.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

namespace orvex::test {
namespace {

pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

}  // namespace

int RunProgram(std::vector<std::string> args) {
  const pid_t pid = Spawn(std::move(args));
  if (pid < 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WriteMonoWav(const std::string& path, int rate, const std::vector<float>& samples) {
  std::vector<int16_t> pcm;
  pcm.reserve(samples.size());
  for (const float s : samples) pcm.push_back(static_cast<int16_t>(std::clamp(s, -1.0f, 1.0f) * 32767));
  std::ofstream out(path, std::ios::binary);
  const auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = static_cast<uint32_t>(pcm.size() * 2);
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(static_cast<uint32_t>(rate));
  u32(static_cast<uint32_t>(rate) * 2);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(bytes);
  out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

bool Microphone::Start() {
  FILE* out = popen("pactl load-module module-null-sink sink_name=mic format=s16le rate=48000 "
                    "channels=1",
                    "r");
  if (!out) return false;
  char line[64] = {};
  const bool read = std::fgets(line, sizeof line, out) != nullptr;
  if (pclose(out) != 0 || !read) {
    std::fprintf(stderr, "the microphone's sink could not be loaded\n");
    return false;
  }
  module_ = std::string(line, std::strcspn(line, "\n"));
  if (RunProgram({"pactl", "set-default-source", "mic.monitor"}) != 0) return false;
  // A microphone streams all the time; an idle null sink would hand its
  // monitor sound in 2-second blocks. Silence keeps it streaming.
  feed_ = Spawn({"pacat", "--playback", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                 "--latency-msec=20", "--device=mic", "/dev/zero"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return feed_ > 0;
}

Microphone::~Microphone() {
  WaitSaid();
  if (feed_ > 0) {
    kill(feed_, SIGTERM);
    waitpid(feed_, nullptr, 0);
  }
  RunProgram({"pactl", "set-default-source", "ci_null.monitor"});
  if (!module_.empty()) RunProgram({"pactl", "unload-module", module_});
}

void Microphone::Say(const std::string& wav) {
  const pid_t pid = Spawn({"paplay", "--device=mic", wav});
  if (pid > 0) speakers_.push_back(pid);
}

void Microphone::WaitSaid() {
  for (const pid_t pid : speakers_) waitpid(pid, nullptr, 0);
  speakers_.clear();
}

}  // namespace orvex::test
