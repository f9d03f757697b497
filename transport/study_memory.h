#pragma once
// The study memory of the loaded file: what is kept when it closes (and now
// and then while it plays), what comes back when it opens, and its saved
// loops. Without a store nothing is read or written, but the saved loops
// still last as long as the file is open. Keeping never waits on the disk:
// the store writes on its own thread, and flushes once the file closes.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/saved_loop.h"
#include "settings/study_store.h"

namespace orvex {

class StudyMemory {
 public:
  using Clock = std::chrono::steady_clock;
  // How often the memory is kept while a file plays, and how long the status
  // bar tells where playback resumed.
  static constexpr Clock::duration kKeepEvery = std::chrono::seconds(10);
  static constexpr Clock::duration kNoteFor = std::chrono::seconds(4);

  // The store outlives its use here; null keeps nothing.
  void SetStore(const StudyStore* store) { store_ = store; }

  // The file just loaded, lengthMs long: its memory, without what lies past
  // its end when it changed since; nothing when it has none.
  std::optional<StudyRecord> Open(const std::string& path, int32_t lengthMs, Clock::time_point now);
  // Shows "resumed at ms" in the status bar for a while.
  void Resumed(int32_t ms, Clock::time_point now);
  // The time to tell in the status bar; nothing once the note is over.
  std::optional<int32_t> Note(Clock::time_point now) const;

  // Keeps the state of the open file.
  struct State {
    int32_t positionMs = 0;
    int32_t aMs = -1;
    int32_t bMs = -1;
    int32_t rate = 0;
    int32_t sentence = -1;
  };
  void Keep(const State& state, Clock::time_point now);
  // Time for the next keep while playing.
  bool Due(Clock::time_point now) const { return open_ && now - kept_ >= kKeepEvery; }
  // The file closes (after its last Keep): what was kept is flushed to the
  // disk.
  void Close();
  // Deletes the file's memory; nothing more is kept of it until a loop is
  // saved or it is opened again.
  void Forget();

  // The saved loops, in time order; never null.
  const std::shared_ptr<const std::vector<SavedLoop>>& loops() const { return loops_; }
  // Adds (false when there is no file, it is there already or the list is
  // full) or removes a saved loop, and keeps the memory at once.
  bool AddLoop(SavedLoop loop);
  bool RemoveLoop(SavedLoop loop);

 private:
  void Save();

  const StudyStore* store_ = nullptr;
  bool open_ = false;
  bool forgotten_ = false;
  StudyRecord record_;
  std::shared_ptr<const std::vector<SavedLoop>> loops_ =
      std::make_shared<const std::vector<SavedLoop>>();
  Clock::time_point kept_{};
  Clock::time_point noteUntil_{};
  int32_t noteMs_ = 0;
};

}  // namespace orvex
