#pragma once
// What the window shows of the application: one immutable value, made by the
// application once per command or tick and handed to the window in a single
// notification. Views read it and nothing else of the application.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/saved_loop.h"
#include "core/peaks.h"
#include "core/intonation.h"
#include "core/sentence.h"

namespace orvex {

enum PlayState : int32_t { Stopped = 0, Paused = 1, Playing = 2 };

// A file is loaded and not stopped: the transport's keys act.
constexpr bool TransportActive(bool loaded, PlayState playState) {
  return loaded && playState != Stopped;
}

struct TransportView {
  bool loaded = false;
  PlayState playState = Stopped;
  int32_t positionMs = 0;  // the player's position; 0 without a file
  int32_t lengthMs = 0;    // the file's length; 0 without a file
  int32_t pointA = -1;     // ms; -1 when not set
  int32_t pointB = -1;     // ms; -1 when not set
  int32_t volume = 0;      // hundredths of a decibel, -10000..0
  bool mute = false;
  int32_t channel = 0;  // 0 stereo, 1 left, 2 right
  int32_t jumpSeconds = 3;
  bool topmost = false;
  int32_t rate = 100;       // speed in hundredths, 50..200
  int32_t repeatCount = 0;  // passes of a loop; 0 without limit
  int32_t repeatGap = 0;    // a RepeatGap (app/learn.h)
  int32_t pass = 0;         // the loop's pass in progress, counted from 1; 0 before the first
  bool inGap = false;       // the silence between two passes
  uint32_t track = 0;       // counts the files loaded: a new file, a new number
  uint32_t seeks = 0;       // counts the jumps of the position (seeks, loop returns)
  // The file's sentences (shared, never changed once made); null without any.
  std::shared_ptr<const std::vector<Sentence>> sentences;
  // The file's waveform as far as it is known (shared, never changed once
  // made); null before any.
  std::shared_ptr<const PeakList> peaks;
  bool showWave = false;   // the wave strip is shown
  int32_t sentence = -1;   // the sentence playing, from 0; -1 when none
  int32_t analysing = -1;  // per cent of the analysis done; -1 when none runs
  std::string lineText;    // the transcript's line at the position; empty when none
  std::string filePath;    // the loaded file; empty when none is
  std::string title;       // the window's title
  std::string status;      // the status bar's first part, speed and pass included
  // The open file's saved loops (shared, never changed once made); the one
  // that is the A-B loop now (-1 for none); the lesson list.
  std::shared_ptr<const std::vector<SavedLoop>> savedLoops;
  int32_t savedLoop = -1;
  int32_t lesson = -1;  // the open file's place in the lesson list, from 0
  int32_t lessons = 0;
  bool playNextLesson = false;
  // Shadowing: the mode, what the take is doing (0 nothing, 1 recording, 2
  // playing back), the input's level (0..100) while recording, and the
  // intonation of the stretch beside its last take (null until one is known).
  bool shadowing = false;
  int32_t takeStage = 0;
  int32_t recordLevel = 0;
  std::shared_ptr<const Intonation> intonation;

  bool Active() const { return TransportActive(loaded, playState); }
  // A file is loaded and has sentences to step through.
  bool HasSentences() const { return loaded && sentences && !sentences->empty(); }
  bool operator==(const TransportView&) const = default;
};

}  // namespace orvex
