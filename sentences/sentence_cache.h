#pragma once
// The sentences found in a file, kept per file in the user's cache folder so
// that a second open of an unchanged file needs no analysis.
//
// Where: <cache folder>/OrvexPlayer/sentences/<16 hex digits>.txt, the cache
// folder being $XDG_CACHE_HOME when set and absolute, else $HOME/.cache (else
// the account's home folder). The name is a hash of the file's path alone, so
// a file that changes gets its entry replaced, not a second one beside it.
//
// An entry is a small versioned text: the key (the path, the size and the
// modification time in nanoseconds), the sentence boundaries, the waveform's
// peaks (a line with their count, then two bytes per block, low and high, and
// a newline) and a checksum of all that. It counts only when the version, the checksum and the
// whole key match and every boundary is sound; anything else (a corrupt entry, one of another
// version, one of a changed file) is a miss, and the next Store rewrites it. Entries are written
// through a temporary file beside them that is flushed and renamed, and read only up to
// kMaxCacheEntryBytes. Something other than an entry in an entry's place (a folder) is never
// removed: the entry is then neither read nor stored.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/peaks.h"
#include "core/sentence.h"

namespace orvex {

// Entries written by another version are never read: raise it whenever the
// format or the way sentences are found changes.
constexpr int kSentenceCacheVersion = 2;
constexpr size_t kMaxCacheEntryBytes = 8 << 20;

struct SentenceCacheKey {
  std::string path;
  int64_t sizeBytes = 0;
  int64_t modifiedNs = 0;

  friend bool operator==(const SentenceCacheKey&, const SentenceCacheKey&) = default;
};

// The key of the file at path as it is now (stat, following links); nothing
// when it is not a regular file. Take it before the analysis starts and store
// the result under it: a file changed meanwhile then misses next time.
std::optional<SentenceCacheKey> SentenceCacheKeyOf(const std::string& path);

// <cache folder>/OrvexPlayer/sentences; empty when no home folder is known.
std::string SentenceCacheFolder();

// What an entry holds: the sentences found (their texts empty) and the
// waveform's peaks.
struct SentenceCacheEntry {
  std::vector<Sentence> sentences;
  PeakList peaks;
};

class SentenceCache {
 public:
  // A cache in folder (created when the first entry is stored).
  explicit SentenceCache(std::string folder = SentenceCacheFolder());

  // What is stored for key; nothing on a miss.
  std::optional<SentenceCacheEntry> LoadEntry(const SentenceCacheKey& key) const;
  // The sentences stored for key (their texts empty); nothing on a miss.
  std::optional<std::vector<Sentence>> Load(const SentenceCacheKey& key) const;
  // Stores the sentences' boundaries and the peaks for key, replacing the
  // entry of the same path. Gives 0 or the error number of the step that
  // failed (EISDIR for a folder in the entry's place, which stays; EFBIG for
  // an entry beyond kMaxCacheEntryBytes).
  int Store(const SentenceCacheKey& key, const std::vector<Sentence>& sentences,
            const PeakList& peaks = {}) const;
  // Where key's entry lives.
  std::string EntryPath(const SentenceCacheKey& key) const;

 private:
  std::string folder_;
};

}  // namespace orvex
