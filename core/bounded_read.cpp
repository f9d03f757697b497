#include "core/bounded_read.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orvex {

int ReadAtMost(int fd, size_t limit, std::string& out) {
  constexpr size_t kChunk = 64 * 1024;
  out.clear();
  while (out.size() <= limit) {
    const size_t filled = out.size();
    out.resize(filled + std::min(kChunk, limit + 1 - filled));
    const ssize_t got = read(fd, out.data() + filled, out.size() - filled);
    if (got < 0 && errno == EINTR) {
      out.resize(filled);
      continue;
    }
    if (got <= 0) {
      out.resize(filled);
      return got < 0 ? errno : 0;
    }
    out.resize(filled + static_cast<size_t>(got));
  }
  return 0;
}

}  // namespace orvex
