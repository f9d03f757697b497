#pragma once
// The window side of finding sentences: runs the analysis of the loaded
// file's sound on its own thread and hands its answers to the application on
// the GUI thread.

#include <QObject>
#include <memory>

#include "core/sentence_finder.h"

namespace orvex {

class App;
class SentenceAnalysis;

class SentenceService : public QObject, public SentenceAnalyzer {
  Q_OBJECT

 public:
  explicit SentenceService(App& app, QObject* parent = nullptr);
  // Stops an analysis that still runs; nothing reaches the application after.
  ~SentenceService() override;

  void Start(uint32_t request, const std::string& path) override;
  void Cancel() override;

 private:
  App& app_;
  std::unique_ptr<SentenceAnalysis> analysis_;
};

}  // namespace orvex
