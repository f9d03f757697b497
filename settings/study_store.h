#pragma once
// What the program remembers of each file a learner studies: where playback
// was, the A-B loop, the speed, the sentence and the saved loops.
//
// Where: <state folder>/OrvexPlayer/<16 hex digits>.study, the state folder
// being $XDG_STATE_HOME when set and absolute, else ~/.local/state. The name
// is a hash of the file's path, so each file has one memory, which a file
// that changes keeps.
//
// A memory is a small versioned text holding the path, the file's size and
// modification time, the values and a checksum of all that. Anything else
// (garbage, a torn or foreign file, another version, another path, a link, a
// pipe, a file past kMaxStudyFileBytes) reads as no memory and is replaced by
// the next save. Saves go through a temporary file that is renamed, so a kill
// leaves the old memory or the new one.
//
// What the program keeps while a file is open goes to the store's writer
// thread (settings/file_writer.h), never waiting on the disk: the newest
// memory of a file replaces one not written yet, it is written without a
// flush to the disk, and flushed once the file closes and when the store
// goes. A memory kept and not written yet is what Load reads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/saved_loop.h"
#include "settings/file_writer.h"

namespace orvex {

inline constexpr int kStudyMemoryVersion = 1;
inline constexpr size_t kMaxStudyFileBytes = 64 << 10;
inline constexpr size_t kMaxSavedLoops = 200;

struct StudyRecord {
  std::string path;
  int64_t sizeBytes = 0;
  int64_t modifiedNs = 0;
  int32_t positionMs = 0;
  int32_t aMs = -1;  // -1: not set; B is set only with A
  int32_t bMs = -1;
  int32_t rate = 0;  // hundredths; 0 when the file has no speed of its own
  int32_t sentence = -1;
  std::vector<SavedLoop> loops;  // in time order, at most kMaxSavedLoops
  bool operator==(const StudyRecord&) const = default;
};

// Fills in the size and modification time of the file at path as it is now
// (following links); false when it is not a regular file.
bool StampStudyRecord(StudyRecord& record);

// Keeps in a record only what lies inside a file lengthMs long: loops and the
// A-B past its end go, a position past it becomes the start.
void FitStudyRecord(StudyRecord& record, int32_t lengthMs);

// Adds a loop in time order; false when it is no loop, is there already or
// kMaxSavedLoops are.
bool AddSavedLoop(std::vector<SavedLoop>& loops, SavedLoop loop);

// <state folder>/OrvexPlayer; empty when no home folder is known.
std::string StudyMemoryFolder();

// Its calls come from one thread (the GUI's).
class StudyStore {
 public:
  explicit StudyStore(std::string folder = StudyMemoryFolder());
  // Writes what Keep left, flushed to the disk, before it returns.
  ~StudyStore() = default;

  // The memory of the file at path as saved (or kept); nothing when there is
  // none that reads. changed tells whether the file's size or time differ
  // from the saved ones (then the record is still the saved one, as it was).
  struct Found {
    StudyRecord record;
    bool changed = false;
  };
  std::optional<Found> Load(const std::string& path) const;
  // Replaces the memory of record.path now, flushed to the disk, in place of
  // one kept and not written yet; 0 or the error number of the step that
  // failed (what is not a file of ours in its place stays).
  int Save(const StudyRecord& record) const;
  // Keeps record as the memory of record.path: written on the writer
  // thread, without a flush. A failure keeps the memory there was.
  void Keep(const StudyRecord& record) const;
  // The file at path closes: its memory kept last is flushed to the disk, on
  // the writer thread too.
  void Settle(const std::string& path) const;
  // Deletes the memory of the file at path when it is a regular file, and
  // one kept and not written yet.
  void Forget(const std::string& path) const;
  std::string FileFor(const std::string& path) const;

 private:
  std::string folder_;
  mutable FileWriter writer_;
};

}  // namespace orvex
