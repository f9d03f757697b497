#pragma once
// The jump size: how many seconds one jump moves, 1 to 9, 3 when nothing
// usable is given. Settings, the jump-size dialog and the application share
// this one rule.

#include <algorithm>
#include <cstdint>

namespace orvex {

inline constexpr int32_t kMinJumpSeconds = 1;
inline constexpr int32_t kMaxJumpSeconds = 9;
inline constexpr int32_t kDefaultJumpSeconds = 3;

// A stored or typed jump size kept within 1..9.
constexpr int32_t ClampJumpSeconds(int64_t seconds) {
  return static_cast<int32_t>(std::clamp<int64_t>(seconds, kMinJumpSeconds, kMaxJumpSeconds));
}

}  // namespace orvex
