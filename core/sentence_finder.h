#pragma once
// The sentences of the loaded file: an LRC transcript beside it wins, else the
// cache, else the platform decodes the file once in the background. The
// analysis is the only part that needs the platform; the application tells it
// to start and stop, and hears back through App::SentenceProgress and
// App::SentencesFound (and App::PeaksFound while it runs) on the GUI thread.

#include <cstdint>
#include <string>

namespace orvex {

class SentenceAnalyzer {
 public:
  virtual ~SentenceAnalyzer() = default;
  // Starts finding the sentences of the file at path. The answers name the
  // request, so one that arrives for an earlier file is dropped. Starting
  // again cancels the analysis before.
  virtual void Start(uint32_t request, const std::string& path) = 0;
  // Stops the analysis at once; no answer follows.
  virtual void Cancel() = 0;
};

}  // namespace orvex
