#pragma once
// Finding a lesson's sentences from its sound, off the GUI thread. This header
// does not include GStreamer, so the window side can use it freely.
//
// Threading. The analysis runs on a thread of its own, with a private
// pipeline (filesrc ! mpegaudioparse ! mpg123audiodec, or for every other
// format the player's decoding front end, then audioconvert ! appsink taking
// mono F32) that never touches the playing one. The thread
// pulls decoded buffers as fast as they come and keeps only one level per
// 10 ms of source time and the waveform's peaks (core/peaks.h), never the
// samples. Both callbacks run ON THAT THREAD:
// they must only hand the news on (post it to the GUI thread) and never call
// back into the analysis or wait for the thread that owns it. Cancel and the
// destructor return at once / within about a tenth of a second: the thread
// checks for cancellation after every buffer and every 100 ms while it waits.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/peaks.h"
#include "core/sentence.h"

namespace orvex {

struct SentenceAnalysisResult {
  bool ok = false;
  std::string error;                // why it failed (GStreamer's text or ours)
  int32_t lengthMs = 0;             // the file's length as the player measures it
  std::vector<float> levelsDb;      // one per 10 ms (see playback/pause_split.h)
  std::vector<Sentence> sentences;  // SplitAtPauses(levelsDb, lengthMs)
  PeakList peaks;                   // one pair per kPeakBlockMs
};

struct SentenceAnalysisCallbacks {
  // 0..100, called when the figure changes (analysis thread).
  std::function<void(int percent)> progress;
  // The outcome, once, unless the analysis was cancelled first (analysis
  // thread).
  std::function<void(SentenceAnalysisResult&& result)> done;
  // The peaks measured since the last call, from block number first on, a
  // few times a second while the decoding runs, so the waveform can be drawn
  // as it grows (analysis thread). The result holds them all again.
  std::function<void(size_t first, PeakList blocks)> peaks;
};

class SentenceAnalysis {
 public:
  // Starts analysing the file at path (an MP3 the player's first builder
  // plays, or any file its decoder plays: a file it cannot decode ends in a
  // failed result). Levels and sentences are on the player's time line.
  SentenceAnalysis(std::string path, SentenceAnalysisCallbacks callbacks);
  // Cancels and waits for the thread, which stops within about 100 ms.
  ~SentenceAnalysis();
  SentenceAnalysis(const SentenceAnalysis&) = delete;
  SentenceAnalysis& operator=(const SentenceAnalysis&) = delete;

  // Asks the thread to stop. Returns at once, or when a callback is running,
  // as soon as it returns: no callback runs after Cancel.
  void Cancel();
  // True once the thread has finished (done called, failed or cancelled).
  bool Finished() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvex
