#pragma once
// A sentence of a lesson: a stretch of the file, in milliseconds of the
// player's own time line, with the text an LRC transcript gives it (empty
// when the sentence was found from the sound itself).

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

struct Sentence {
  int32_t startMs = 0;
  int32_t endMs = 0;  // exclusive; endMs > startMs
  std::string text;

  friend bool operator==(const Sentence&, const Sentence&) = default;
};

// The index of the last sentence that starts at or before ms; -1 when ms lies
// before the first one (or there are none). The sentences must be sorted by
// their start. A position in the gap behind a sentence still belongs to it, so
// "the next sentence" is always index + 1.
int SentenceIndexAt(const std::vector<Sentence>& sentences, int32_t ms);

}  // namespace orvex
