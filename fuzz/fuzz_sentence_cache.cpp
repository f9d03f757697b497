// The sentence cache reading any entry: the input is written as the entry of
// one key in a private temporary folder and loaded. The checksum would stop
// almost every input at the first line, so when the first byte is odd the
// rest gets a correct checksum line behind it and the parsing of the header
// and the boundaries is reached.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "sentences/sentence_cache.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::string Checked(std::string_view body) {
  uint64_t h = 14695981039346656037ull;
  for (const char c : body) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return std::string(body) + "check " + hex + "\n";
}

// The folder holding the one entry, removed when the run ends.
class EntryFolder {
 public:
  EntryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvex-fuzz-XXXXXX").string();
    Require(mkdtemp(pattern.data()) != nullptr);
    folder_ = pattern;
  }
  ~EntryFolder() {
    unlink(orvex::SentenceCache(folder_).EntryPath(Key()).c_str());
    rmdir(folder_.c_str());
  }
  const std::string& path() const { return folder_; }

  // The key the seed entries in fuzz/corpus/sentence_cache were written for.
  static orvex::SentenceCacheKey Key() { return {"lesson.mp3", 48900, 1700000000123456789}; }

 private:
  std::string folder_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const EntryFolder folder;
  const orvex::SentenceCache cache(folder.path());
  const orvex::SentenceCacheKey key = EntryFolder::Key();

  std::string entry(reinterpret_cast<const char*>(data), size);
  if (!entry.empty()) {
    const bool check = entry[0] & 1;
    entry.erase(0, 1);
    if (check) entry = Checked(entry);
  }
  const std::string path = cache.EntryPath(key);
  // A new file each time: truncating one makes the file system write it out.
  unlink(path.c_str());
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  Require(fd >= 0);
  Require(write(fd, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size()));
  close(fd);

  // A hit holds sound boundaries (each sentence non-empty, in order, apart)
  // and peaks in range, each low at or below its high.
  if (const auto entry = cache.LoadEntry(key)) {
    int32_t end = 0;
    for (const orvex::Sentence& s : entry->sentences) {
      Require(s.startMs >= end && s.endMs > s.startMs && s.text.empty());
      end = s.endMs;
    }
    for (const orvex::PeakPair& p : entry->peaks) {
      Require(p.low <= p.high && p.low >= -orvex::kPeakFullScale);
    }
  }
  return 0;
}
