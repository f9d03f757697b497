#pragma once
// A loop the learner saved to come back to: from A to B, in milliseconds.

#include <compare>
#include <cstdint>

namespace orvex {

struct SavedLoop {
  int32_t aMs = 0;
  int32_t bMs = 0;
  friend auto operator<=>(const SavedLoop&, const SavedLoop&) = default;
};

}  // namespace orvex
