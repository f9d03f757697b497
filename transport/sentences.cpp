// Sentences: the loaded file's sentences come from an LRC transcript beside
// it, else from the cache, else from an analysis of its sound in the
// background; stepping through them makes each the A-B loop in turn. With a
// repeat count, a sentence plays that many times and the next one follows.

#include <algorithm>

#include "app/app.h"
#include "core/texts.h"
#include "sentences/lrc.h"

namespace orvex {

void App::FindSentences() {
  DropSentences();
  const int32_t lengthMs = player->GetDurationMs();
  LrcBeside lrc = ReadLrcBeside(filePath, lengthMs);
  if (!lrc.lrc.Refused() && !lrc.lrc.sentences.empty()) {
    sentences_ = std::make_shared<const std::vector<Sentence>>(std::move(lrc.lrc.sentences));
    transcript_ = true;
    return;
  }
  cacheKey_ = SentenceCacheKeyOf(filePath);
  if (cacheKey_) {
    if (auto cached = SentenceCache().Load(*cacheKey_)) {
      if (!cached->empty())
        sentences_ = std::make_shared<const std::vector<Sentence>>(std::move(*cached));
      return;
    }
  }
  if (!analyzer_) return;
  analysing_ = 0;
  analyzer_->Start(++request_, filePath);
}

void App::DropSentences() {
  if (analysing_ >= 0 && analyzer_) analyzer_->Cancel();
  ++request_;  // whatever is still on its way belongs to no file
  analysing_ = -1;
  sentences_.reset();
  transcript_ = false;
  sentence_ = -1;
  cacheKey_.reset();
}

void App::SentenceProgress(uint32_t request, int32_t percent) {
  if (request != request_ || analysing_ < 0) return;
  analysing_ = std::clamp(percent, 0, 100);
  Publish();
}

void App::SentencesFound(uint32_t request, std::vector<Sentence> sentences) {
  if (request != request_ || analysing_ < 0) return;
  analysing_ = -1;
  if (cacheKey_) SentenceCache().Store(*cacheKey_, sentences);
  if (!sentences.empty()) {
    sentences_ = std::make_shared<const std::vector<Sentence>>(std::move(sentences));
  }
  Publish();
}

int32_t App::CurrentSentence() const {
  if (!sentences_ || !bLoaded) return -1;
  if (sentence_ >= 0) return sentence_;
  return SentenceIndexAt(*sentences_, player->GetPositionMs());
}

const Sentence* App::FollowingSentence() const {
  if (!sentences_ || sentence_ < 0 || sentence_ + 1 >= static_cast<int32_t>(sentences_->size())) {
    return nullptr;
  }
  return &(*sentences_)[static_cast<size_t>(sentence_ + 1)];
}

void App::NextSentence() {
  if (!bLoaded || !sentences_) return;
  const int32_t k = CurrentSentence() + 1;
  if (k >= static_cast<int32_t>(sentences_->size())) return;
  PlaySentence(k);
}

void App::PreviousSentence() {
  if (!bLoaded || !sentences_) return;
  PlaySentence(std::max(CurrentSentence() - 1, 0));
}

void App::RepeatSentence() {
  if (!bLoaded || !sentences_) return;
  PlaySentence(std::max(CurrentSentence(), 0));
}

void App::PlaySentence(int32_t k) {
  const Sentence& s = (*sentences_)[static_cast<size_t>(k)];
  // From a stop, playback starts first (at the beginning), then moves on.
  if (playState == Stopped) {
    TogglePlay();
    if (playState != Playing) return;
  }
  EndLoop();
  pointA = s.startMs;
  pointB = s.endMs;
  sentence_ = k;
  StartLoop(true);
  SeekPlayer(pointA);
  if (playState == Paused) {
    TogglePlay();
    return;  // it published
  }
  Publish();
}

}  // namespace orvex
