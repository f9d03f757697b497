// The sentence cache on real files in a temporary cache folder: where it
// lives, a hit, the peaks beside the sentences, and the misses (a changed
// file, a corrupt entry, another version) that the next store repairs.

#include "sentences/sentence_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

#include "tests/sentences/lesson_files.h"

namespace orvex {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

class SentenceCacheTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    WriteFile(media, "ID3 and some audio");
    key = *SentenceCacheKeyOf(media);
  }

  TempFolder dir;
  std::string media = dir.File("lesson.mp3");
  SentenceCacheKey key;
  SentenceCache cache{dir.File("cache/OrvexPlayer/sentences")};
  const std::vector<Sentence> sentences{{0, 1250, {}}, {1250, 4000, {}}, {5100, 9000, {}}};
};

// The checksum the entries end with, to forge entries that pass it.
std::string Checked(const std::string& body) {
  uint64_t h = 14695981039346656037ull;
  for (const char c : body) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return body + "check " + hex + "\n";
}

std::string WithoutCheck(const std::string& entry) {
  return entry.substr(0, entry.rfind("check "));
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

// Sets (or, given nothing, unsets) an environment variable for a while.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_.c_str(), old_->c_str(), 1) : unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

TEST(SentenceCacheFolder, FollowsTheXdgRules) {
  const ScopedEnv home("HOME", "/home/learner/");
  {
    const ScopedEnv cache("XDG_CACHE_HOME", "/var/cache/learner//");
    EXPECT_EQ(SentenceCacheFolder(), "/var/cache/learner/OrvexPlayer/sentences");
  }
  {
    const ScopedEnv cache("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(SentenceCacheFolder(), "/home/learner/.cache/OrvexPlayer/sentences");
  }
  const ScopedEnv cache("XDG_CACHE_HOME", nullptr);
  EXPECT_EQ(SentenceCacheFolder(), "/home/learner/.cache/OrvexPlayer/sentences");
}

TEST_F(SentenceCacheTest, AStoredEntryIsFoundUntilTheFileChanges) {
  EXPECT_FALSE(cache.Load(key));
  ASSERT_EQ(cache.Store(key, sentences), 0);
  EXPECT_EQ(cache.Load(key), sentences);
  EXPECT_EQ(ReadFile(cache.EntryPath(key)).rfind("OrvexPlayer sentences 2\n", 0), 0u);
  // Texts are not kept; a file without sentences is remembered as such.
  const SentenceCache other{dir.File("other")};
  ASSERT_EQ(other.Store(key, {{10, 20, "text"}}), 0);
  EXPECT_EQ(other.Load(key), (std::vector<Sentence>{{10, 20, {}}}));
  ASSERT_EQ(other.Store(key, {}), 0);
  EXPECT_EQ(other.Load(key), std::vector<Sentence>{});

  // Another size, another modification time, another path: a miss.
  WriteFile(media, "ID3 and some more audio");
  const SentenceCacheKey grown = *SentenceCacheKeyOf(media);
  EXPECT_FALSE(cache.Load(grown));
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 5}};
  WriteFile(media, "ID3 and some audio");
  ASSERT_EQ(utimensat(AT_FDCWD, media.c_str(), times, 0), 0);
  const SentenceCacheKey touched = *SentenceCacheKeyOf(media);
  EXPECT_EQ(touched.sizeBytes, key.sizeBytes);
  EXPECT_EQ(touched.modifiedNs, 1000000000LL * 1000000000 + 5);
  EXPECT_FALSE(cache.Load(touched));
  EXPECT_FALSE(cache.Load({dir.File("copy.mp3"), key.sizeBytes, key.modifiedNs}));

  // The changed file's entry replaces the old one.
  ASSERT_EQ(cache.Store(touched, {{0, 500, {}}}), 0);
  EXPECT_EQ(cache.Load(touched), (std::vector<Sentence>{{0, 500, {}}}));
  EXPECT_FALSE(cache.Load(key));
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.File("cache/OrvexPlayer/sentences")),
                    std::filesystem::directory_iterator()),
      1);
  EXPECT_FALSE(SentenceCacheKeyOf(dir.path()));
}

TEST_F(SentenceCacheTest, CorruptOrForeignEntriesAreIgnoredAndRewritten) {
  ASSERT_EQ(cache.Store(key, sentences), 0);
  const std::string entry = cache.EntryPath(key);
  const std::string good = ReadFile(entry);
  const std::vector<std::pair<const char*, std::function<void()>>> damages = {
      {"truncated", [&] { WriteFile(entry, good.substr(0, good.size() / 2)); }},
      {"a changed digit",
       [&] {
         std::string bad = good;
         Replace(bad, "1250 4000", "1250 4001");
         WriteFile(entry, bad);
       }},
      {"another version",
       [&] {
         std::string bad = WithoutCheck(good);
         Replace(bad, "sentences 2\n", "sentences 3\n");
         WriteFile(entry, Checked(bad));
       }},
      {"overlapping sentences",
       [&] {
         std::string bad = WithoutCheck(good);
         Replace(bad, "1250 4000", "1000 4000");
         WriteFile(entry, Checked(bad));
       }},
      {"a wrong count",
       [&] {
         std::string bad = WithoutCheck(good);
         Replace(bad, "count 3", "count 4");
         WriteFile(entry, Checked(bad));
       }},
      {"too large",
       [&] {
         WriteFile(entry, good);
         ASSERT_EQ(truncate(entry.c_str(), static_cast<off_t>(kMaxCacheEntryBytes) + 1), 0);
       }},
      {"a link",
       [&] {
         WriteFile(dir.File("elsewhere"), good);
         std::filesystem::remove(entry);
         std::filesystem::create_symlink(dir.File("elsewhere"), entry);
       }},
  };
  for (const auto& [what, damage] : damages) {
    damage();
    EXPECT_FALSE(cache.Load(key)) << what;
    EXPECT_EQ(cache.Store(key, sentences), 0) << what;
    EXPECT_EQ(cache.Load(key), sentences) << what;
    EXPECT_EQ(ReadFile(entry), good) << what;
  }
}

TEST_F(SentenceCacheTest, PeaksAreKeptBesideTheSentencesAndADamagedOrOlderEntryIsRebuilt) {
  // Every byte value a peak can take, the newline and "check " among them.
  PeakList peaks;
  for (int v = -127; v <= 127; ++v) {
    peaks.push_back({static_cast<int8_t>(std::min(v, 0)), static_cast<int8_t>(std::max(v, 0))});
  }
  for (const char c : std::string("check 0\n")) peaks.push_back({-1, static_cast<int8_t>(c)});
  ASSERT_EQ(cache.Store(key, sentences, peaks), 0);
  const std::optional<SentenceCacheEntry> loaded = cache.LoadEntry(key);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->sentences, sentences);
  EXPECT_EQ(loaded->peaks, peaks);
  const std::string entry = cache.EntryPath(key);
  const std::string good = ReadFile(entry);

  const std::vector<std::pair<const char*, std::function<void()>>> damages = {
      {"a peak changed",
       [&] {
         std::string bad = good;
         bad[good.find("peaks ") + 20] ^= 1;
         WriteFile(entry, bad);
       }},
      {"a peak short",
       [&] {
         std::string bad = WithoutCheck(good);
         bad.erase(bad.size() - 2, 1);
         WriteFile(entry, Checked(bad));
       }},
      {"a low above its high",
       [&] {
         std::string bad = WithoutCheck(good);
         const size_t first = bad.find("peaks ") + std::string("peaks 263\n").size();
         bad[first] = 5;
         bad[first + 1] = 4;
         WriteFile(entry, Checked(bad));
       }},
      {"the version before, without peaks",
       [&] {
         std::string old = WithoutCheck(good);
         Replace(old, "sentences 2\n", "sentences 1\n");
         old.erase(old.find("peaks "));
         WriteFile(entry, Checked(old));
       }},
  };
  for (const auto& [what, damage] : damages) {
    damage();
    EXPECT_FALSE(cache.LoadEntry(key)) << what;
    EXPECT_FALSE(cache.Load(key)) << what;
    ASSERT_EQ(cache.Store(key, sentences, peaks), 0) << what;
    EXPECT_EQ(ReadFile(entry), good) << what;
  }
  // An hour of peaks fits well within an entry.
  const PeakList hour(3600 * 1000 / kPeakBlockMs, PeakPair{-90, 90});
  ASSERT_EQ(cache.Store(key, sentences, hour), 0);
  EXPECT_LE(ReadFile(entry).size(), 2u << 20);
  EXPECT_EQ(cache.LoadEntry(key)->peaks, hour);
}

TEST_F(SentenceCacheTest, WhatStandsInTheWayOfAnEntryStays) {
  // A folder with the entry's name: kept with what it holds, and a miss.
  const std::string entry = cache.EntryPath(key);
  std::filesystem::create_directories(entry + "/inner");
  WriteFile(entry + "/inner/notes.txt", "mine");
  EXPECT_FALSE(cache.Load(key));
  EXPECT_EQ(cache.Store(key, sentences), EISDIR);
  EXPECT_EQ(ReadFile(entry + "/inner/notes.txt"), "mine");
  EXPECT_FALSE(cache.Load(key));

  // A file where the cache folder belongs: kept, and the store fails.
  WriteFile(dir.File("file"), "mine");
  EXPECT_EQ(SentenceCache(dir.File("file/sub")).Store(key, sentences), ENOTDIR);
  EXPECT_EQ(ReadFile(dir.File("file")), "mine");
}

// An entry as an earlier build wrote it, byte for byte (peak bytes that are a
// newline or a zero included): it is still found, and the same entry stored
// again gives the same bytes.
TEST_F(SentenceCacheTest, AnEntryWrittenBeforeReadsAndIsWrittenTheSame) {
  const SentenceCacheKey old{"/课程/第1课.mp3", 4000, 1700000000123456789};
  const std::vector<Sentence> spans{{100, 900, {}}, {1200, 2500, {}}};
  const PeakList peaks{{-3, 5}, {-127, 127}, {10, 10}, {0, 0}};
  const std::string written(
      "OrvexPlayer sentences 2\n"
      "path 2fe8afbee7a88b2fe7acac31e8afbe2e6d7033\n"
      "size 4000\n"
      "mtime 1700000000123456789\n"
      "count 2\n"
      "100 900\n"
      "1200 2500\n"
      "peaks 4\n"
      "\xfd\x05\x81\x7f\n\n\x00\x00\n"
      "check 4c6c373247f47339\n",
      170);
  ASSERT_EQ(written.back(), '\n');
  std::filesystem::create_directories(dir.File("cache/OrvexPlayer/sentences"));
  WriteFile(cache.EntryPath(old), written);
  const std::optional<SentenceCacheEntry> found = cache.LoadEntry(old);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->sentences, spans);
  EXPECT_EQ(found->peaks, peaks);

  ASSERT_EQ(std::remove(cache.EntryPath(old).c_str()), 0);
  ASSERT_EQ(cache.Store(old, spans, peaks), 0);
  EXPECT_EQ(ReadFile(cache.EntryPath(old)), written);
}

}  // namespace
}  // namespace orvex
