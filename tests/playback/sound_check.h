#pragma once
// What the player tests need to hear what the player plays: a recording of
// the private PulseAudio null sink's monitor (parec), and its analysis.

#include <sys/types.h>

#include <string>
#include <vector>

namespace orvex::test {

// parec on ci_null.monitor writing a WAV file, started and stopped by its
// process id.
class NullSinkRecording {
 public:
  NullSinkRecording() = default;
  ~NullSinkRecording();
  NullSinkRecording(const NullSinkRecording&) = delete;
  NullSinkRecording& operator=(const NullSinkRecording&) = delete;

  // Starts recording into path and returns once data has begun to arrive (an
  // idle monitor delivers its first data late); false when that fails.
  bool Start(const std::string& path);
  // Ends the recording and waits for parec to finish the file.
  void Stop();

 private:
  pid_t pid_ = -1;
};

// 16-bit PCM read from a WAV file, one vector per channel, scaled to -1..1.
struct Recording {
  int sampleRate = 0;
  std::vector<std::vector<float>> channels;
};
// Reads the file; the sizes in the header are not trusted (a recorder that is
// stopped may leave them unset): the data runs to the end of the file.
bool ReadWav(const std::string& path, Recording& out);

// The recording cut in windows of windowMs: per window and channel, the RMS
// level and the peak.
struct Window {
  double rms[2] = {0, 0};
  double peak[2] = {0, 0};
};
std::vector<Window> Windows(const Recording& recording, int windowMs = 50);

// Windows in which either channel is louder than the threshold (RMS).
std::vector<Window> Audible(const std::vector<Window>& windows, double threshold = 0.005);

double Median(std::vector<double> values);

// The frequency of a tone on one channel from its zero crossings, over the
// audible part of the recording.
double ToneFrequency(const Recording& recording, int channel, double threshold = 0.005);

// A PulseAudio daemon of the test's own with one null sink, to be taken away
// while a player uses it.
class PrivateSoundServer {
 public:
  PrivateSoundServer() = default;
  ~PrivateSoundServer();
  PrivateSoundServer(const PrivateSoundServer&) = delete;
  PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

  // Starts the daemon with its socket in folder; true once it answers.
  bool Start(const std::string& folder);
  // Ends the daemon by its process id and waits until it is gone.
  void Stop();
  // The value for PULSE_SERVER.
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// A temporary folder, removed with what it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace orvex::test
