#pragma once
// Finding the sentences of a lesson from its loudness alone.
//
// The input is one level per 10 ms of the file (the analysis pipeline measures
// them): the RMS of that stretch's samples in dB relative to full scale,
// 20 * log10(rms) with samples in -1..1. Digital silence may come as -inf.
// A NaN (a stretch with no samples at all) counts as silence but plays no
// part in finding the noise floor; +inf counts as sound.
//
// The rule:
//  - The file's own noise floor is a low percentile of its levels; a level
//    counts as sound when it is at least a margin above that floor (the
//    margin is halved where the loudest level is closer than two margins to
//    the floor, so a quiet recording keeps its threshold between the two).
//  - A pause is a run of at least 250 ms below the threshold. Sentences are
//    the stretches between pauses; one that holds less than 0.6 s of sound
//    (first to last sound) joins the next one (the last one joins the one
//    before it).
//  - A sentence starts 150 ms before its first sound and ends 250 ms after its
//    last, but never before the last sound of the one before it, and never
//    behind the start of the next one (the start wins where a short pause
//    cannot hold both margins).
//  - A file whose levels hardly vary is all silence (no sentence) when it is
//    quiet, else all sound (one sentence over the whole file).

#include <cstdint>
#include <span>
#include <vector>

#include "core/sentence.h"

namespace orvex {

struct PauseRule {
  int32_t levelStepMs = 10;    // the time each level stands for
  int32_t minPauseMs = 250;    // the shortest pause
  int32_t leadMs = 150;        // a sentence starts this much before its sound
  int32_t tailMs = 250;        // and ends this much after it
  int32_t minSoundMs = 600;    // a piece with less sound joins the next
  double floorPercentile = 5;  // the noise floor among the levels
  double marginDb = 10;        // sound lies this much above the floor
  double uniformDb = 6;        // a file whose loudest level is within this of
                               // its floor has no pauses at all
  double silenceDb = -70;      // ... and is silence when nothing is louder
};

// The threshold SplitAtPauses uses, for diagnostics.
struct PauseThreshold {
  double floorDb = 0;      // the noise floor
  double loudestDb = 0;    // the loudest level
  double thresholdDb = 0;  // sound is at or above this
  bool uniform = false;    // too little spread to tell pauses from sound
};
PauseThreshold FindPauseThreshold(std::span<const float> levelsDb, const PauseRule& rule = {});

// The sentences of a file whose levels are levelsDb, sorted, with empty
// texts. lengthMs is the file's length (sentences end there at the latest);
// a negative value means the levels' own length.
std::vector<Sentence> SplitAtPauses(std::span<const float> levelsDb, int32_t lengthMs = -1,
                                    const PauseRule& rule = {});

}  // namespace orvex
