#pragma once
// The loaded file's sentences: from an LRC transcript beside it, else from
// the cache, else from an analysis of its sound in the background; the
// waveform's peaks from the cache or the same analysis; and which one comes
// next or before when the learner steps through them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/peaks.h"
#include "core/sentence_finder.h"
#include "sentences/sentence_cache.h"

namespace orvex {

class Sentences {
 public:
  // Finds them from the sound when there is neither a transcript nor a cache
  // entry; null finds none that way.
  void SetAnalyzer(SentenceAnalyzer* analyzer) { analyzer_ = analyzer; }

  // The sentences of the file just loaded: an LRC beside it, else the
  // lyrics in its own tags when they carry times, else the cache, else the
  // analysis.
  void Find(const std::string& path, int32_t lengthMs, const std::string& embeddedLyrics = {});
  // Forgets them, stopping an analysis.
  void Drop();
  // The analysis's answers; false when they belong to no file loaded now.
  bool Progress(uint32_t request, int32_t percent);
  bool Found(uint32_t request, std::vector<Sentence> sentences, PeakList peaks = {});
  // Peaks from block first on, while the analysis runs.
  bool PeaksFound(uint32_t request, size_t first, const PeakList& blocks);

  // Null without any.
  const std::shared_ptr<const std::vector<Sentence>>& list() const { return list_; }
  bool any() const { return list_ != nullptr; }
  // The waveform as far as it is known; null before any.
  const std::shared_ptr<const PeakList>& peaks() const { return peaks_; }
  int32_t count() const { return list_ ? static_cast<int32_t>(list_->size()) : 0; }
  // Per cent of the analysis done; -1 when none runs.
  int32_t analysing() const { return analysing_; }

  // The sentence playing: the loop's, else the one at the position; -1 for
  // none.
  int32_t Current(int32_t loopSentence, int32_t positionMs) const;
  // The steps from the sentence playing: the next (none after the last), the
  // one before (the first at the most), and the same again.
  std::optional<int32_t> Next(int32_t current) const;
  std::optional<int32_t> Previous(int32_t current) const;
  std::optional<int32_t> Again(int32_t current) const;
  // The transcript's line of sentence k while the position is inside it.
  std::string LineText(int32_t k, int32_t positionMs) const;

 private:
  SentenceAnalyzer* analyzer_ = nullptr;
  std::shared_ptr<const std::vector<Sentence>> list_;
  std::shared_ptr<const PeakList> peaks_;
  bool transcript_ = false;
  uint32_t request_ = 0;
  int32_t analysing_ = -1;
  std::optional<SentenceCacheKey> cacheKey_;
};

}  // namespace orvex
