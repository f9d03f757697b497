#include "core/sentence.h"

#include <algorithm>

namespace orvex {

int SentenceIndexAt(const std::vector<Sentence>& sentences, int32_t ms) {
  const auto after = std::upper_bound(sentences.begin(), sentences.end(), ms,
                                      [](int32_t t, const Sentence& s) { return t < s.startMs; });
  return static_cast<int>(after - sentences.begin()) - 1;
}

}  // namespace orvex
