#pragma once
// Shadowing: after a pass the learner says the stretch, is recorded, and
// hears the take once. The player's silence after the pass holds the whole
// take; this side starts the recording when the silence begins, plays the
// take when it is written, and tells when the next pass may begin. Takes are
// kept per lesson file and stretch, the newest kKeptTakes of each.

#include <cstdint>
#include <string>
#include <vector>

#include "playback/recorder.h"

namespace orvex {

inline constexpr size_t kKeptTakes = 5;

// $XDG_DATA_HOME/OrvexPlayer/takes/<a hash of the lesson's path>; empty
// without a home folder.
std::string TakeFolder(const std::string& lessonPath);
// The takes of the stretch a..b in folder, oldest first: regular files named
// as the program names them, nothing else.
std::vector<std::string> TakesOf(const std::string& folder, int32_t aMs, int32_t bMs);
// Deletes all but the newest keep takes of the stretch.
void PruneTakes(const std::string& folder, int32_t aMs, int32_t bMs, size_t keep);
// Deletes every take in folder (of any stretch; nothing else), and the folder
// when that leaves it empty.
void ForgetTakes(const std::string& folder);

class Shadowing {
 public:
  enum class Stage { kIdle, kRecording, kPlaying };
  // What a recorder event means for the loop.
  enum class Outcome {
    kNothing,
    kPlaying,   // the take plays back now
    kSilent,    // nothing was heard: the take is dropped
    kFailed,    // the input failed, or could not be opened
    kDone,      // the take was heard back: the next pass may begin
    kNotSaved,  // the take could not be written in folder(): it is dropped
  };

  void SetRecorder(Recorder* recorder) { recorder_ = recorder; }
  bool hasRecorder() const { return recorder_ != nullptr; }
  // The input opens (and stays open while the mode is on); false when it
  // cannot. A device that fails later is told by a kFailed outcome.
  bool Listen() { return recorder_ && recorder_->Listen(); }
  void StopListening() {
    Stop();
    if (recorder_) recorder_->StopListening();
  }
  Stage stage() const { return stage_; }
  // The take recorded last (or being recorded).
  const std::string& take() const { return take_; }
  int32_t level() const { return recorder_ && stage_ == Stage::kRecording ? recorder_->LevelPercent() : 0; }

  // A silence after a pass of a..b began, heard at heardAtNs on the steady
  // clock (0: now): records the take from that instant, and plays it back
  // when its window is over. False when the input is not open, or the take
  // cannot be written in its folder: startFailure() tells which.
  bool StartTake(const std::string& lessonPath, int32_t aMs, int32_t bMs, int64_t heardAtNs);
  // Why the last StartTake gave false: kFailed (no input) or kNotSaved.
  Outcome startFailure() const { return startFailure_; }
  // The folder of the lesson's takes, as the last StartTake found it.
  const std::string& folder() const { return folder_; }
  // The take in progress ends early: it is kept and played back.
  void EndTake();
  // Everything stops; a take being recorded is dropped.
  void Stop();
  // Plays the newest take of the stretch; false when there is none.
  bool PlayLast(const std::string& lessonPath, int32_t aMs, int32_t bMs);
  // Plays the stretch of the lesson, then its newest take; false when there
  // is no take.
  bool Compare(const std::string& lessonPath, int32_t aMs, int32_t bMs);
  // The recorder's next event, if one is queued.
  bool TakeEvent(RecorderEvent& event) { return recorder_ && recorder_->TakeEvent(event); }
  // Follows one of the recorder's events.
  Outcome Follow(const RecorderEvent& event);

 private:
  Recorder* recorder_ = nullptr;
  Stage stage_ = Stage::kIdle;
  std::string take_;  // the file being recorded
  std::string next_;  // the take that plays after the stretch
  std::string folder_;
  Outcome startFailure_ = Outcome::kFailed;
  int32_t aMs_ = 0;
  int32_t bMs_ = 0;
};

}  // namespace orvex
