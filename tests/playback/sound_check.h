#pragma once
// What the player tests need to hear what the player plays: a recording of
// the private PulseAudio null sink's monitor (parec), and its analysis.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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

  // Starts recording the source into path and returns once data has begun
  // to arrive (an idle monitor delivers its first data late); false when that
  // fails.
  bool Start(const std::string& path, const std::string& source = "ci_null.monitor");
  // Ends the recording and waits for parec to finish the file.
  void Stop();
  // A point in the recording's own timeline: how many bytes the file holds
  // now (Recording::FrameOfMark turns it into a frame). It is as exact as
  // the recording's timing: the null sink hands the monitor a block (5-20 ms)
  // as it starts playing it, and parec writes about every 20 ms, so the
  // sound playing at the call lies within kMarkSlackMs of the mark.
  size_t Mark() const;

 private:
  pid_t pid_ = -1;
  std::string path_;
};

inline constexpr int kMarkSlackMs = 50;

// 16-bit PCM read from a WAV file, one vector per channel, scaled to -1..1.
struct Recording {
  int sampleRate = 0;
  std::vector<std::vector<float>> channels;
  size_t dataOffset = 0;  // where the samples begin in the file
  size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
  // The frame a NullSinkRecording::Mark of this file stands for.
  size_t FrameOfMark(size_t mark) const;
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

// The whole file decoded by the player's own graph (a fake sink, as fast as it
// goes): the reference in which a recording is found.
bool DecodeFile(const std::string& path, Recording& out);

// A stretch of the recording that plays the file's own samples at one gain:
// recorded frames [at, at + frames) are the file's frames from `from`.
struct HeardRun {
  size_t at = 0;
  size_t frames = 0;
  int64_t from = 0;
  size_t End() const { return at + frames; }
  int64_t FileEnd() const { return from + static_cast<int64_t>(frames); }
  // File frame minus recorded frame: equal in two runs when nothing was lost
  // or repeated between them while the recording ran on.
  int64_t Offset() const { return from - static_cast<int64_t>(at); }
};

// Follows the recording through the file: every stretch of at least 10 ms
// that matches the file times the gain sample for sample (within a few steps
// of 16 bits), in recording order, with its exact first and last frame.
// Silence, other volumes and anything not in the file lie between runs. The
// file must never repeat itself (noise does not; a steady tone would match a
// period away).
std::vector<HeardRun> FollowInFile(const Recording& heard, const Recording& file,
                                   double gain = 1.0);

// The first run that begins at or after the recorded frame; null when none.
const HeardRun* FirstRunFrom(const std::vector<HeardRun>& runs, size_t frame);
// The run that holds the recorded frame; null when none.
const HeardRun* RunAt(const std::vector<HeardRun>& runs, size_t frame);

// What the null sink plays while a test plays a file, found in the file: the
// file is decoded first, the recording starts before the player does (see
// NullSinkRecording), and Finish follows the recording through the decoding.
// Marks taken during the take place calls in the recording's timeline.
class HeardTake {
 public:
  // Decodes the file and starts recording the source into wavPath; false
  // when either fails.
  bool Start(const std::string& file, const std::string& wavPath,
             const std::string& source = "ci_null.monitor");
  size_t Mark() const { return recording_.Mark(); }
  // Stops the recording and follows it through the file played at the gain.
  bool Finish(double gain = 1.0);

  const Recording& heard() const { return heard_; }
  const Recording& file() const { return file_; }
  const std::vector<HeardRun>& runs() const { return runs_; }
  int rate() const { return file_.sampleRate; }
  double FramesToMs(double frames) const { return frames * 1000 / rate(); }
  int64_t MsToFrames(int32_t ms) const { return int64_t{ms} * rate() / 1000; }

  // The recorded frame of a mark.
  size_t FrameOf(size_t mark) const { return heard_.FrameOfMark(mark); }
  // The earliest recorded frame the sound playing at the mark can lie at.
  size_t EarliestFrameOf(size_t mark) const;
  // The first run heard from the mark on, and the run playing at it; null
  // when there is none.
  const HeardRun* RunFrom(size_t mark) const;
  const HeardRun* RunPlayingAt(size_t mark) const;
  // The run after the given one; null when it is the last.
  const HeardRun* Next(const HeardRun* run) const;

 private:
  NullSinkRecording recording_;
  std::string wav_;
  Recording file_, heard_;
  std::vector<HeardRun> runs_;
};

// The gain at which recorded frames [at, at + frames) play the file's frames
// from `from` (least squares over the first two channels); 0 for silence.
double GainAgainstFile(const Recording& heard, const Recording& file, size_t at, int64_t from,
                       size_t frames);

// The loudest sample of any channel in recorded frames [from, to).
double PeakBetween(const Recording& heard, size_t from, size_t to);

// The stretches [from, to) of at least minFrames frames in which every
// channel is exactly 0, in order (one still going at the end is left out).
std::vector<std::pair<size_t, size_t>> SilencesIn(const Recording& heard, size_t minFrames);

// A PulseAudio daemon of the test's own with one null sink, "private_null",
// to be taken away while a player uses it, or to load modules the shared one
// does not.
class PrivateSoundServer {
 public:
  PrivateSoundServer() = default;
  ~PrivateSoundServer();
  PrivateSoundServer(const PrivateSoundServer&) = delete;
  PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

  // Starts the daemon with its socket and its state (what modules such as
  // stream-restore keep) in folder, with the extra lines in its start-up
  // script; true once it answers.
  bool Start(const std::string& folder, const std::vector<std::string>& extraLines = {});
  // Ends the daemon by its process id and waits until it is gone.
  void Stop();
  // The value for PULSE_SERVER.
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

// Two processes that keep both cores busy (sha256sum of /dev/zero) for the
// life of the object, started and killed by their process ids.
class CpuHogs {
 public:
  CpuHogs();
  ~CpuHogs();
  CpuHogs(const CpuHogs&) = delete;
  CpuHogs& operator=(const CpuHogs&) = delete;
  bool running() const { return pids_[0] > 0 && pids_[1] > 0; }

 private:
  pid_t pids_[2] = {-1, -1};
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
