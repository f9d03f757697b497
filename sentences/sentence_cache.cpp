#include "sentences/sentence_cache.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "core/bounded_read.h"
#include "core/checked_text.h"
#include "core/files.h"
#include "core/hash.h"

namespace orvex {
namespace {

constexpr std::string_view kMagic = "OrvexPlayer sentences ";

// The header: everything the checksum covers before the boundaries.
std::string KeyLines(const SentenceCacheKey& key, size_t count) {
  std::string text = CheckedTextHead(kMagic, kSentenceCacheVersion, key.path);
  text += "size " + std::to_string(key.sizeBytes) + "\n";
  text += "mtime " + std::to_string(key.modifiedNs) + "\n";
  text += "count " + std::to_string(count) + "\n";
  return text;
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
  SealCheckedText(text);
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
  const std::optional<std::string> bytes = ReadOwnSmallFile(EntryPath(key), kMaxCacheEntryBytes);
  if (!bytes) return std::nullopt;

  // The checksum line ends the entry and covers everything before it.
  const std::optional<std::string_view> body = CheckedTextBody(*bytes);
  if (!body) return std::nullopt;
  std::string_view text = *body;

  // The header must be this version's and this key's, line for line.
  std::string_view line;
  int64_t count = 0;
  std::string_view header = text;
  for (int i = 0; i < 4; ++i) {
    if (!TakeLine(header, line)) return std::nullopt;
  }
  if (!TakeLine(header, line) || !line.starts_with("count ") ||
      !ParseInt64(line.substr(6), count) || count < 0 ||
      count > static_cast<int64_t>(text.size() / 4)) {
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
    if (space == std::string_view::npos || !ParseInt64(line.substr(0, space), start) ||
        !ParseInt64(line.substr(space + 1), end) || start < 0 || end <= start || end > INT32_MAX ||
        (!sentences.empty() && start < sentences.back().endMs)) {
      return std::nullopt;
    }
    sentences.push_back({static_cast<int32_t>(start), static_cast<int32_t>(end), {}});
  }
  // The peaks: their count, two bytes a block, and the newline behind them.
  int64_t blocks = 0;
  if (!TakeLine(text, line) || !line.starts_with("peaks ") || !ParseInt64(line.substr(6), blocks) ||
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
