#pragma once
// The player wraps one audio pipeline playing one lesson file. Everything the
// transport and the views need of playback goes through this contract, so the
// logic runs the same over GStreamer and over the simulated player of the tests.
//
// All positions and lengths are whole milliseconds in a signed 32-bit integer.
// Every operation is called from one thread. The window's player
// (EnginePlayer) returns at once from each and does the work on a thread of
// its own; the GStreamer player under it and the simulated player of the
// tests do it there and then.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/audio.h"

namespace orvex {

// A result code: 0 (or any value >= 0) is success, a negative value a failure.
using Result = int32_t;

inline constexpr Result kOk = 0;
inline constexpr bool Failed(Result r) {
  return r < 0;
}

// Codes of our own. Their texts come from OwnErrorText (playback/error_text.h).
inline constexpr Result kErrFail = static_cast<Result>(0x80004005u);
inline constexpr Result kErrNotFound = static_cast<Result>(0x80040216u);         // a pad is missing
inline constexpr Result kErrNoAudioHardware = static_cast<Result>(0x80040256u);  // no output device
inline constexpr Result kErrTimeout = static_cast<Result>(0x800705B4u);
inline constexpr Result kErrCannotOpen =
    static_cast<Result>(0x80070002u);  // file missing or unreadable
inline constexpr Result kErrNotMpegAudio =
    static_cast<Result>(0x80040241u);  // no MPEG audio in the file
inline constexpr Result kErrMissingElement =
    static_cast<Result>(0x80040154u);  // a GStreamer element is missing
inline constexpr Result kErrStream = static_cast<Result>(0x8004022Fu);  // a streaming error
inline constexpr Result kErrNotRegularFile =
    static_cast<Result>(0x80070005u);  // a pipe, a device, a socket or a folder

// Event codes of the graph's event queue.
inline constexpr int32_t kEventComplete = 1;
inline constexpr int32_t kEventErrorAbort = 3;
// A loop plan's pass began to be heard: GraphEvent::pass is its number
// (from 1), GraphEvent::stretch the stretch it plays (from 0).
inline constexpr int32_t kEventPassStarted = 110;
// A pass reached B and the silence before the next one began to be heard.
inline constexpr int32_t kEventGapStarted = 111;
// The plan's last pass reached B: what follows is heard (playback on past B,
// or the stop).
inline constexpr int32_t kEventPlanEnded = 112;

// A build started by StartBuild has ended: GraphEvent::param1 is its result.
inline constexpr int32_t kEventBuilt = 113;

// The three ways a lesson is built (see Player).
enum class BuildWith : int32_t { kMp3Parser, kSplitter, kDecoder };

struct GraphEvent {
  int32_t code = 0;
  Result param1 = 0;  // for kEventErrorAbort: the failing result code
  std::string text;   // for kEventErrorAbort: the error's text
  int32_t pass = 0;     // for kEventPassStarted: the pass, from 1
  int32_t stretch = 0;  // for kEventPassStarted: the stretch, from 0
  // For the plan's events: the instant it was heard, on the steady clock
  // (std::chrono::steady_clock, in ns); 0 when it is not known.
  int64_t heardAtNs = 0;
};

// One stretch of a loop plan: played from A to B, with gapMs of silence
// between two of its passes (none before the first pass of the next stretch).
struct LoopStretch {
  int32_t aMs = 0;
  int32_t bMs = 0;
  int32_t gapMs = 0;
  bool operator==(const LoopStretch&) const = default;
};

// What follows the last pass of a plan's last stretch.
enum class AfterPlan : int32_t {
  kGoOn,  // playback goes on past B
  kStop,  // playback pauses at B
};

// A whole loop, handed to the player at once: each stretch in turn played
// `passes` times (without limit when 0, and then only the first stretch ever
// plays), every pass from exactly A to exactly B, the stretches joined to the
// sample. The player runs it on its own, whatever the caller's thread is
// doing, and tells how it goes through graph events.
struct LoopPlan {
  std::vector<LoopStretch> stretches;
  int32_t passes = 0;
  AfterPlan after = AfterPlan::kGoOn;
  // Where the plan begins: -1 where playback is (a position before the first
  // B plays on to B; one at or past B ends the pass there, and the next pass
  // follows after the gap); otherwise playback moves there at once.
  int32_t startMs = -1;
  // The number of the pass that begins with the plan: 1 for a plan started at
  // A (kEventPassStarted follows at once), 0 when the pass in progress is
  // none of the counted ones; a plan that takes over from another (a new gap)
  // carries its count on. kEventPassStarted for a counted first pass follows
  // at once.
  int32_t firstPass = 0;
  // The stretch's gap also follows its last pass, before the next stretch
  // (the learner's take of each sentence).
  bool gapBeforeHandOn = false;
  bool operator==(const LoopPlan&) const = default;
};

class Player {
 public:
  virtual ~Player() = default;

  // Builds the pipeline for the file; 0 on success, negative on failure (the
  // player is then unbuilt and holds nothing, so the other builder may run).
  virtual Result BuildWithMp3Parser(const std::string& path) = 0;
  virtual Result BuildWithMpeg1Splitter(const std::string& path) = 0;
  // Every lesson that is not MP3 (AAC, Vorbis, Opus, FLAC, WAV, the sound of
  // a video): the container and the decoder are found from the bytes. An MP3
  // is refused (it is the two builders' file). Position 0 is the first sample
  // of the recording, and the length ends at its last.
  virtual Result BuildWithDecoder(const std::string& path) = 0;

  // Starts a build with one of the builders above. A player that builds at
  // once (the default) gives the result there: true, with *result set.
  // Otherwise it returns false and the result comes later as kEventBuilt.
  virtual bool StartBuild(BuildWith with, const std::string& path, Result* result) {
    switch (with) {
      case BuildWith::kMp3Parser:
        *result = BuildWithMp3Parser(path);
        break;
      case BuildWith::kSplitter:
        *result = BuildWithMpeg1Splitter(path);
        break;
      case BuildWith::kDecoder:
        *result = BuildWithDecoder(path);
        break;
    }
    return true;
  }

  // Safe on a never-built player and when called twice.
  virtual void Teardown() = 0;

  virtual Result Run() = 0;
  virtual Result Pause() = 0;
  // Stops playback; position and length stay readable.
  virtual Result Stop() = 0;

  // Accepts any value: below 0 seeks to 0, beyond the length to the length.
  // A position set while paused is where the next Run resumes.
  virtual void SeekMs(int32_t ms) = 0;
  // A jump of deltaMs from the place heard where the jump's own cut is heard
  // (not from where playback was when it was asked for): jumps asked for in a
  // row add up. Clamped as SeekMs is.
  virtual void JumpMs(int32_t deltaMs) {
    SeekMs(static_cast<int32_t>(std::clamp<int64_t>(int64_t{GetPositionMs()} + deltaMs, INT32_MIN,
                                                    INT32_MAX)));
  }
  // Cheap; a failing read yields 0.
  virtual int32_t GetPositionMs() = 0;
  virtual int32_t GetDurationMs() = 0;
  // True once playback reached the end of the stream (or the position the
  // length); false again after a seek back.
  virtual bool IsAtEnd() = 0;

  // Replaces whatever plan runs with this one, at once: its first stretch
  // is the loop from here on (see LoopPlan). A plan without a stretch, or
  // with B not after A, is none: the loop is cleared. While a plan runs, a
  // seek inside [A, B) plays on to B in the same pass, one before A goes to
  // A, and one at or past B ends the pass (the next one follows after the
  // gap); the count goes on. Events of the plan replaced (or cleared) that
  // were not taken yet are dropped.
  virtual void SetLoopPlan(const LoopPlan& plan) = 0;
  // No more returns: playback goes on past B (from A, if it is in a gap).
  // The plan's events not taken yet are dropped.
  virtual void ClearLoop() = 0;
  // The speed, kRateMin..kRateMax, pitch unchanged; positions, lengths and
  // loops stay in the file's own time.
  virtual Result SetRate(int32_t percent) = 0;

  virtual Result SetVolume(int32_t hundredthsOfDb) = 0;
  // 0 stereo, 1 left only, 2 right only; any other value means stereo.
  virtual Result SetChannel(int32_t channel) = 0;

  // The lyrics in the file's own tags (ID3 USLT, a Vorbis comment LYRICS, MP4
  // ©lyr) as written, known once built; empty without.
  virtual std::string EmbeddedLyrics() const { return {}; }

  // Takes the next queued graph event without waiting; false when none is queued.
  virtual bool TakeEvent(GraphEvent& event) = 0;

  // The text for a result code this player returned (empty code text falls
  // back to our own texts).
  virtual std::string ErrorText(Result code) const = 0;
};

}  // namespace orvex

#include <memory>

namespace orvex {

// Makes the players the open-file flow needs, and tells whether an audio
// output device exists at all.
class PlayerFactory {
 public:
  virtual ~PlayerFactory() = default;
  // True when the default audio output device (or any) exists.
  virtual bool HasAudioDevice() = 0;
  // A new, empty player.
  virtual std::unique_ptr<Player> Create() = 0;
};

}  // namespace orvex
