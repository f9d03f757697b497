#pragma once
// What the format tests and the format bench share: a pipeline that decodes a
// lesson through the second front end into an appsink (44.1 kHz mono float,
// as fast as it decodes), the reference decoding of the same file by ffmpeg,
// and finding a stretch of the one in the other.

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "playback/decode_front.h"

namespace orvex::test {

inline constexpr int kCheckRate = 44100;

// A fixture's name as a test's name ("aac.m4a" -> "aac_m4a").
std::string TestNameOf(const std::string& fixture);

// ffmpeg's decoding of the file at kCheckRate, mono (it honours MP4 edit
// lists, Opus pre-skip and Vorbis granule positions); false when it fails.
bool DecodeWithFfmpeg(const std::string& path, std::vector<float>& out);

// Where the n samples at w lie in ref: the start within radius of expect at
// which they match best (normalised cross-correlation); the match's score
// (1 for a perfect one) goes to score.
int64_t Locate(const std::vector<float>& ref, const float* w, size_t n, int64_t expect,
               int64_t radius, double* score = nullptr);

// The way in under test: the second front end, or decodebin3 for comparison.
enum class Way { kFrontEnd, kDecodebin3 };

// filesrc ! <way in> ! audioconvert ! audioresample ! F32 mono 44.1 kHz !
// appsink. Every wait is bounded.
class FrontPipeline {
 public:
  FrontPipeline(const std::string& path, Way way = Way::kFrontEnd);
  ~FrontPipeline();
  FrontPipeline(const FrontPipeline&) = delete;
  FrontPipeline& operator=(const FrontPipeline&) = delete;

  const DecodeFront& front() const { return front_; }
  // Prerolls in PAUSED; false on an error or when timeoutMs passes first
  // (error() then says which).
  bool Preroll(int timeoutMs);
  const std::string& error() const { return error_; }
  // The length, and positions below, on the recording's timeline: the file's
  // time minus DecodeFrontFirstSampleNs.
  int64_t DurationNs() const;
  int64_t StartNs() const;
  // An accurate seek from the GUI side: flushing, or a segment seek ending
  // at stopNs (-1: the end).
  bool Seek(int64_t startNs, int64_t stopNs, bool segment);
  // From now on every segment done sends a non-flushing accurate segment seek
  // to [aNs, bNs], pushed upstream from the pad linked to the front end.
  void LoopOnSegmentDone(int64_t aNs, int64_t bNs);
  // Plays (as fast as it decodes) and collects frames samples; false when
  // fewer arrive before the stream ends, an error or timeoutMs.
  bool Pull(size_t frames, std::vector<float>& out, int timeoutMs);
  int loopsSent() const { return loopsSent_; }

 private:
  static GstBusSyncReply OnBus(GstBus* bus, GstMessage* message, gpointer data);
  static void OnDecodebinPad(GstElement* element, GstPad* pad, gpointer data);

  DecodeFront front_;
  GstElement* pipeline_ = nullptr;
  GstElement* sink_ = nullptr;
  GstPad* restartPad_ = nullptr;  // the pad linked to the way in's output
  std::string error_;
  std::atomic<bool> looping_{false};
  std::atomic<bool> failed_{false};
  std::atomic<int> loopsSent_{0};
  int64_t loopA_ = 0, loopB_ = 0;
};

// A loop of [aNs, bNs] played for passes passes as the engine plays it (a
// segment seek, then on each segment done another without a flush), cut as an
// audio sink cuts it, and followed through ref pass by pass.
struct LoopTake {
  bool ok = false;
  int64_t firstStart = 0;  // the first pass's start against A, in samples
  int64_t seamMax = 0;     // the most lost (+) or repeated (-) at a seam
  int64_t lengthMax = 0;   // the largest error of a pass's length
};
LoopTake PlayLoop(FrontPipeline& p, const std::vector<float>& ref, int64_t aNs, int64_t bNs,
                  int passes);

}  // namespace orvex::test
