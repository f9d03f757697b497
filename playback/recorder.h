#pragma once
// The learner's voice: records the default input into a take file and plays
// takes back. Like the player, it runs on GStreamer's threads and tells how it
// goes through events the GUI thread takes; every call runs on the GUI thread
// and none of them waits for the sound.

#include <cstdint>
#include <string>

namespace orvex {

struct RecorderEvent {
  enum Kind : int32_t {
    kRecorded,      // the take is written
    kRecordFailed,  // the input failed while recording; the file is gone
    kPlayed,        // the take played to its end (or could not be played)
    kInputFailed,   // the input could not be opened, or failed while open
    kWriteFailed,   // the take could not be written (its folder is read-only
                    // or full); what was written of it is dropped
  };
  Kind kind = kRecorded;
  // kRecorded: some sound above the silence threshold came in during the take.
  bool heard = false;
  // kRecorded: the take already plays back (it was asked for with Record).
  bool playing = false;
};

class Recorder {
 public:
  virtual ~Recorder() = default;
  // Opens the input and keeps it streaming, so that a take can begin at any
  // instant of the last second, and the first take is not cut by a device
  // that starts slowly. False when it cannot be opened at once; a device that
  // fails later tells it with kInputFailed. Safe to call when open.
  virtual bool Listen() = 0;
  virtual void StopListening() = 0;
  // Records the input from fromNs (CLOCK_MONOTONIC; 0: now) for windowMs
  // into path (Ogg Opus); with playBack the take is played once as soon as
  // its window is over, without waiting for any call. False when the input is
  // not open, and then nothing is written.
  virtual bool Record(const std::string& path, int32_t windowMs, int64_t fromNs,
                      bool playBack) = 0;
  // The take in progress ends now; what came in so far is kept.
  virtual void EndRecording() = 0;
  // Plays [fromMs, toMs) of a take or a lesson once (toMs < 0: to the end);
  // false when it cannot be started. A stretch begins once the file has
  // prerolled, without waiting here; one that cannot be played after all
  // ends with kPlayed.
  virtual bool Play(const std::string& path, int32_t fromMs, int32_t toMs) = 0;
  // Stops recording (the file is dropped) and playing; no event follows. The
  // input stays open.
  virtual void Stop() = 0;
  // The input's last peak level, 0 (silence) to 100 (full scale).
  virtual int32_t LevelPercent() const = 0;
  // Takes the next queued event without waiting; false when none is queued.
  virtual bool TakeEvent(RecorderEvent& event) = 0;
};

}  // namespace orvex
