#include "app/sentence_service.h"

#include <utility>

#include "app/app.h"
#include "playback/sentence_analysis.h"

namespace orvex {

SentenceService::SentenceService(App& app, QObject* parent) : QObject(parent), app_(app) {}

SentenceService::~SentenceService() {
  Cancel();
}

void SentenceService::Start(uint32_t request, const std::string& path) {
  Cancel();
  // The callbacks run on the analysis thread: they only post. The analysis
  // is gone before this object is, and Qt drops what was posted to an object
  // that no longer exists.
  SentenceAnalysisCallbacks callbacks;
  callbacks.progress = [this, request](int percent) {
    QMetaObject::invokeMethod(
        this, [this, request, percent] { app_.SentenceProgress(request, percent); },
        Qt::QueuedConnection);
  };
  callbacks.peaks = [this, request](size_t first, PeakList blocks) {
    QMetaObject::invokeMethod(
        this,
        [this, request, first, found = std::move(blocks)]() mutable {
          app_.PeaksFound(request, first, std::move(found));
        },
        Qt::QueuedConnection);
  };
  callbacks.done = [this, request](SentenceAnalysisResult&& result) {
    // A file that cannot be analysed simply has no sentences and no peaks.
    std::vector<Sentence> sentences;
    PeakList peaks;
    if (result.ok) {
      sentences = std::move(result.sentences);
      peaks = std::move(result.peaks);
    }
    QMetaObject::invokeMethod(
        this,
        [this, request, found = std::move(sentences), wave = std::move(peaks)]() mutable {
          app_.SentencesFound(request, std::move(found), std::move(wave));
        },
        Qt::QueuedConnection);
  };
  analysis_ = std::make_unique<SentenceAnalysis>(path, std::move(callbacks));
}

void SentenceService::Cancel() {
  if (!analysis_) return;
  analysis_->Cancel();
  analysis_.reset();
}

}  // namespace orvex
