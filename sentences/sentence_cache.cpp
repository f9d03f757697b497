#include "sentences/sentence_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "core/bounded_read.h"
#include "core/files.h"
#include "core/hash.h"

namespace orvex {
namespace {

constexpr std::string_view kMagic = "OrvexPlayer sentences ";

// The header: everything the checksum covers before the boundaries.
std::string KeyLines(const SentenceCacheKey& key, size_t count) {
  std::string text(kMagic);
  text += std::to_string(kSentenceCacheVersion) + "\n";
  text += "path " + HexBytes(key.path) + "\n";
  text += "size " + std::to_string(key.sizeBytes) + "\n";
  text += "mtime " + std::to_string(key.modifiedNs) + "\n";
  text += "count " + std::to_string(count) + "\n";
  return text;
}

// Takes the next line (without its newline) off text; false when none is left.
bool TakeLine(std::string_view& text, std::string_view& line) {
  const size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return false;
  line = text.substr(0, newline);
  text.remove_prefix(newline + 1);
  return true;
}

bool ParseInt(std::string_view text, int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The entry's bytes; nothing when it is missing, not a regular file or too large.
std::optional<std::string> ReadEntry(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> out;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_size <= static_cast<off_t>(kMaxCacheEntryBytes)) {
    std::string bytes;
    if (ReadAtMost(fd, kMaxCacheEntryBytes, bytes) == 0 && bytes.size() <= kMaxCacheEntryBytes) {
      out = std::move(bytes);
    }
  }
  close(fd);
  return out;
}

}  // namespace

std::optional<SentenceCacheKey> SentenceCacheKeyOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return SentenceCacheKey{path, static_cast<int64_t>(st.st_size),
                          int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

std::string SentenceCacheFolder() {
  const std::string cache = CacheFolder();
  return cache.empty() ? std::string() : JoinPath(JoinPath(cache, "OrvexPlayer"), "sentences");
}

SentenceCache::SentenceCache(std::string folder) : folder_(std::move(folder)) {}

std::string SentenceCache::EntryPath(const SentenceCacheKey& key) const {
  return JoinPath(folder_, Hex64(Fnv1a64(key.path)) + ".txt");
}

int SentenceCache::Store(const SentenceCacheKey& key, const std::vector<Sentence>& sentences,
                         const PeakList& peaks) const {
  if (folder_.empty()) return ENOENT;
  if (peaks.size() > kMaxCacheEntryBytes / 2) return EFBIG;
  std::string text = KeyLines(key, sentences.size());
  for (const Sentence& s : sentences) {
    text += std::to_string(s.startMs) + " " + std::to_string(s.endMs) + "\n";
  }
  text += "peaks " + std::to_string(peaks.size()) + "\n";
  text.reserve(text.size() + peaks.size() * 2 + 32);
  for (const PeakPair& p : peaks) {
    text.push_back(static_cast<char>(p.low));
    text.push_back(static_cast<char>(p.high));
  }
  text += "\n";
  text += "check " + Hex64(Fnv1a64(text)) + "\n";
  if (text.size() > kMaxCacheEntryBytes) return EFBIG;
  // Whatever else stands in the entry's place stays, and the entry is not
  // stored.
  return SaveOwnFile(EntryPath(key), text, S_IRUSR | S_IWUSR);
}

std::optional<std::vector<Sentence>> SentenceCache::Load(const SentenceCacheKey& key) const {
  std::optional<SentenceCacheEntry> entry = LoadEntry(key);
  if (!entry) return std::nullopt;
  return std::move(entry->sentences);
}

std::optional<SentenceCacheEntry> SentenceCache::LoadEntry(const SentenceCacheKey& key) const {
  if (folder_.empty()) return std::nullopt;
  const std::optional<std::string> bytes = ReadEntry(EntryPath(key));
  if (!bytes) return std::nullopt;

  // The checksum line ends the entry and covers everything before it.
  std::string_view text = *bytes;
  const size_t checkAt = text.rfind("check ");
  if (checkAt == std::string_view::npos ||
      text.substr(checkAt) != "check " + Hex64(Fnv1a64(text.substr(0, checkAt))) + "\n") {
    return std::nullopt;
  }
  text = text.substr(0, checkAt);

  // The header must be this version's and this key's, line for line.
  std::string_view line;
  int64_t count = 0;
  std::string_view header = text;
  for (int i = 0; i < 4; ++i) {
    if (!TakeLine(header, line)) return std::nullopt;
  }
  if (!TakeLine(header, line) || !line.starts_with("count ") || !ParseInt(line.substr(6), count) ||
      count < 0 || count > static_cast<int64_t>(text.size() / 4)) {
    return std::nullopt;
  }
  const std::string expected = KeyLines(key, static_cast<size_t>(count));
  if (text.substr(0, expected.size()) != expected) return std::nullopt;
  text.remove_prefix(expected.size());

  SentenceCacheEntry entry;
  std::vector<Sentence>& sentences = entry.sentences;
  sentences.reserve(static_cast<size_t>(count));
  while (sentences.size() < static_cast<size_t>(count)) {
    if (!TakeLine(text, line)) return std::nullopt;
    const size_t space = line.find(' ');
    int64_t start = 0, end = 0;
    if (space == std::string_view::npos || !ParseInt(line.substr(0, space), start) ||
        !ParseInt(line.substr(space + 1), end) || start < 0 || end <= start || end > INT32_MAX ||
        (!sentences.empty() && start < sentences.back().endMs)) {
      return std::nullopt;
    }
    sentences.push_back({static_cast<int32_t>(start), static_cast<int32_t>(end), {}});
  }
  // The peaks: their count, two bytes a block, and the newline behind them.
  int64_t blocks = 0;
  if (!TakeLine(text, line) || !line.starts_with("peaks ") || !ParseInt(line.substr(6), blocks) ||
      blocks < 0 || static_cast<uint64_t>(blocks) * 2 + 1 != text.size() || text.back() != '\n') {
    return std::nullopt;
  }
  entry.peaks.resize(static_cast<size_t>(blocks));
  for (size_t i = 0; i < entry.peaks.size(); ++i) {
    const auto low = static_cast<int8_t>(text[2 * i]);
    const auto high = static_cast<int8_t>(text[2 * i + 1]);
    if (low > high || low < -kPeakFullScale) return std::nullopt;
    entry.peaks[i] = {low, high};
  }
  return entry;
}

}  // namespace orvex
