#pragma once
// The kernel release's major and minor numbers (uname), as the usage report
// tells them.

#include <cstdint>

namespace orvex {

struct OsVersion {
  int32_t major = 0;
  int32_t minor = 0;
};

// 0.0 when the release cannot be read.
OsVersion ReadOsVersion();

}  // namespace orvex
