#include "settings/study_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "core/bounded_read.h"
#include "core/checked_text.h"
#include "core/files.h"
#include "core/hash.h"

namespace orvex {
namespace {

constexpr std::string_view kMagic = "OrvexPlayer study ";

// A time of the file: 0..INT32_MAX, or -1 where allowed.
bool Time(std::string_view text, int32_t& value, bool allowNone) {
  int64_t v = 0;
  if (!ParseInt64(text, v) || v < (allowNone ? -1 : 0) || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

// "a b" as two times.
bool Pair(std::string_view text, int32_t& a, int32_t& b, bool allowNone) {
  const size_t space = text.find(' ');
  return space != std::string_view::npos && Time(text.substr(0, space), a, allowNone) &&
         Time(text.substr(space + 1), b, allowNone);
}

std::string Format(const StudyRecord& r) {
  std::string text = CheckedTextHead(kMagic, kStudyMemoryVersion, r.path);
  text += "size " + std::to_string(r.sizeBytes) + "\n";
  text += "mtime " + std::to_string(r.modifiedNs) + "\n";
  text += "position " + std::to_string(r.positionMs) + "\n";
  text += "ab " + std::to_string(r.aMs) + " " + std::to_string(r.bMs) + "\n";
  text += "speed " + std::to_string(r.rate) + "\n";
  text += "sentence " + std::to_string(r.sentence) + "\n";
  for (const SavedLoop& l : r.loops) {
    text += "loop " + std::to_string(l.aMs) + " " + std::to_string(l.bMs) + "\n";
  }
  SealCheckedText(text);
  return text;
}

// The record in text when it is whole, of this version and of path.
std::optional<StudyRecord> Parse(std::string_view bytes, const std::string& path) {
  const std::optional<std::string_view> body = CheckedTextBody(bytes);
  if (!body) return std::nullopt;
  std::string_view text = *body;
  const std::string head = CheckedTextHead(kMagic, kStudyMemoryVersion, path);
  if (!text.starts_with(head)) return std::nullopt;
  text.remove_prefix(head.size());

  StudyRecord r;
  r.path = path;
  std::string_view line;
  while (!text.empty()) {
    if (!TakeLine(text, line)) return std::nullopt;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, space);
    const std::string_view value = line.substr(space + 1);
    bool ok = false;
    if (key == "size") {
      ok = ParseInt64(value, r.sizeBytes);
    } else if (key == "mtime") {
      ok = ParseInt64(value, r.modifiedNs);
    } else if (key == "position") {
      ok = Time(value, r.positionMs, false);
    } else if (key == "ab") {
      ok = Pair(value, r.aMs, r.bMs, true) && (r.aMs != -1 || r.bMs == -1) &&
           (r.bMs == -1 || r.bMs > r.aMs);
    } else if (key == "speed") {
      ok = Time(value, r.rate, false);
    } else if (key == "sentence") {
      ok = Time(value, r.sentence, true);
    } else if (key == "loop") {
      SavedLoop l;
      ok = Pair(value, l.aMs, l.bMs, false) && AddSavedLoop(r.loops, l);
    }
    if (!ok) return std::nullopt;
  }
  return r;
}

}  // namespace

bool StampStudyRecord(StudyRecord& record) {
  struct stat st {};
  if (stat(record.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  record.sizeBytes = st.st_size;
  record.modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

void FitStudyRecord(StudyRecord& record, int32_t lengthMs) {
  std::erase_if(record.loops, [lengthMs](const SavedLoop& l) { return l.bMs > lengthMs; });
  if (record.bMs > lengthMs || record.aMs > lengthMs) record.aMs = record.bMs = -1;
  if (record.positionMs > lengthMs) record.positionMs = 0;
}

bool AddSavedLoop(std::vector<SavedLoop>& loops, SavedLoop loop) {
  if (loop.aMs < 0 || loop.bMs <= loop.aMs || loops.size() >= kMaxSavedLoops) return false;
  const auto at = std::lower_bound(loops.begin(), loops.end(), loop);
  if (at != loops.end() && *at == loop) return false;
  loops.insert(at, loop);
  return true;
}

std::string StudyMemoryFolder() {
  const std::string state = StateFolder();
  return state.empty() ? std::string() : JoinPath(state, "OrvexPlayer");
}

StudyStore::StudyStore(std::string folder)
    : folder_(std::move(folder)), writer_(S_IRUSR | S_IWUSR) {}

std::string StudyStore::FileFor(const std::string& path) const {
  return JoinPath(folder_, Hex64(Fnv1a64(path)) + ".study");
}

std::optional<StudyStore::Found> StudyStore::Load(const std::string& path) const {
  if (folder_.empty()) return std::nullopt;
  const std::string file = FileFor(path);
  // A memory kept and not on the disk yet is the memory.
  std::optional<std::string> bytes;
  if (std::optional<FileWriter::Ahead> ahead = writer_.AheadOf(file)) {
    if (ahead->removed) return std::nullopt;
    bytes = std::move(ahead->data);
  } else {
    bytes = ReadOwnSmallFile(file, kMaxStudyFileBytes);
  }
  if (!bytes) return std::nullopt;
  std::optional<StudyRecord> record = Parse(*bytes, path);
  if (!record) return std::nullopt;
  StudyRecord now;
  now.path = path;
  const bool stamped = StampStudyRecord(now);
  const bool changed = !stamped || now.sizeBytes != record->sizeBytes ||
                       now.modifiedNs != record->modifiedNs;
  return Found{std::move(*record), changed};
}

int StudyStore::Save(const StudyRecord& record) const {
  if (folder_.empty()) return ENOENT;
  const std::string text = Format(record);
  if (text.size() > kMaxStudyFileBytes) return EFBIG;
  return writer_.WriteNow(FileFor(record.path), text);
}

void StudyStore::Keep(const StudyRecord& record) const {
  if (folder_.empty()) return;
  std::string text = Format(record);
  if (text.size() > kMaxStudyFileBytes) return;
  writer_.Write(FileFor(record.path), std::move(text));
}

void StudyStore::Settle(const std::string& path) const {
  if (!folder_.empty()) writer_.Settle(FileFor(path));
}

void StudyStore::Forget(const std::string& path) const {
  if (!folder_.empty()) writer_.Remove(FileFor(path));
}

}  // namespace orvex
