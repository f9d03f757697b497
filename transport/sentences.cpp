#include "transport/sentences.h"

#include <algorithm>

#include "sentences/lrc.h"

namespace orvex {

void Sentences::Find(const std::string& path, int32_t lengthMs,
                     const std::string& embeddedLyrics) {
  Drop();
  LrcBeside lrc = ReadLrcBeside(path, lengthMs);
  if (lrc.lrc.Refused() || lrc.lrc.sentences.empty()) {
    // Lyrics without times are no transcript: ParseLrc finds no sentence.
    lrc.lrc = embeddedLyrics.empty() ? LrcResult{} : ParseLrc(embeddedLyrics, lengthMs);
  }
  if (!lrc.lrc.Refused() && !lrc.lrc.sentences.empty()) {
    list_ = std::make_shared<const std::vector<Sentence>>(std::move(lrc.lrc.sentences));
    transcript_ = true;
  }
  // The transcript's sentences win over the cache's, but the peaks come from
  // the cache or the analysis all the same.
  cacheKey_ = SentenceCacheKeyOf(path);
  if (cacheKey_) {
    if (auto cached = SentenceCache().LoadEntry(*cacheKey_)) {
      if (!transcript_ && !cached->sentences.empty()) {
        list_ = std::make_shared<const std::vector<Sentence>>(std::move(cached->sentences));
      }
      peaks_ = std::make_shared<const PeakList>(std::move(cached->peaks));
      return;
    }
  }
  if (!analyzer_) return;
  analysing_ = 0;
  analyzer_->Start(++request_, path);
}

void Sentences::Drop() {
  if (analysing_ >= 0 && analyzer_) analyzer_->Cancel();
  ++request_;  // whatever is still on its way belongs to no file
  analysing_ = -1;
  list_.reset();
  peaks_.reset();
  transcript_ = false;
  cacheKey_.reset();
}

bool Sentences::Progress(uint32_t request, int32_t percent) {
  if (request != request_ || analysing_ < 0) return false;
  analysing_ = std::clamp(percent, 0, 100);
  return true;
}

bool Sentences::Found(uint32_t request, std::vector<Sentence> sentences, PeakList peaks) {
  if (request != request_ || analysing_ < 0) return false;
  analysing_ = -1;
  if (cacheKey_) SentenceCache().Store(*cacheKey_, sentences, peaks);
  if (!sentences.empty() && !transcript_) {
    list_ = std::make_shared<const std::vector<Sentence>>(std::move(sentences));
  }
  peaks_ = std::make_shared<const PeakList>(std::move(peaks));
  return true;
}

bool Sentences::PeaksFound(uint32_t request, size_t first, const PeakList& blocks) {
  if (request != request_ || analysing_ < 0 || blocks.empty()) return false;
  // The snapshot is never changed once made: the grown list is a new one.
  PeakList grown = peaks_ ? *peaks_ : PeakList();
  if (grown.size() < first + blocks.size()) grown.resize(first + blocks.size());
  std::copy(blocks.begin(), blocks.end(), grown.begin() + static_cast<ptrdiff_t>(first));
  peaks_ = std::make_shared<const PeakList>(std::move(grown));
  return true;
}

int32_t Sentences::Current(int32_t loopSentence, int32_t positionMs) const {
  if (!list_) return -1;
  if (loopSentence >= 0) return loopSentence;
  return SentenceIndexAt(*list_, positionMs);
}

std::optional<int32_t> Sentences::Next(int32_t current) const {
  if (!list_ || current + 1 >= count()) return std::nullopt;
  return current + 1;
}

std::optional<int32_t> Sentences::Previous(int32_t current) const {
  if (!list_) return std::nullopt;
  return std::clamp(current - 1, 0, count() - 1);
}

std::optional<int32_t> Sentences::Again(int32_t current) const {
  if (!list_) return std::nullopt;
  return std::clamp(current, 0, count() - 1);
}

std::string Sentences::LineText(int32_t k, int32_t positionMs) const {
  if (!transcript_ || k < 0 || k >= count()) return {};
  const Sentence& line = (*list_)[static_cast<size_t>(k)];
  return positionMs < line.endMs ? line.text : std::string();
}

}  // namespace orvex
