#include "core/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
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

std::optional<std::string> ReadOwnSmallFile(const std::string& path, size_t limit) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> out;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= static_cast<off_t>(limit)) {
    std::string bytes;
    if (ReadAtMost(fd, limit, bytes) == 0 && bytes.size() <= limit) out = std::move(bytes);
  }
  close(fd);
  return out;
}

}  // namespace orvex
