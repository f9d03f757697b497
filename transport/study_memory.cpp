#include "transport/study_memory.h"

#include <algorithm>

namespace orvex {

std::optional<StudyRecord> StudyMemory::Open(const std::string& path, int32_t lengthMs,
                                             Clock::time_point now) {
  Close();
  open_ = true;
  kept_ = now;
  record_ = {};
  record_.path = path;
  std::optional<StudyRecord> found;
  if (store_) {
    if (std::optional<StudyStore::Found> loaded = store_->Load(path)) {
      // A file cut or grown since keeps what still lies inside it.
      if (loaded->changed) FitStudyRecord(loaded->record, lengthMs);
      found = loaded->record;
      record_ = std::move(loaded->record);
    }
  }
  loops_ = std::make_shared<const std::vector<SavedLoop>>(record_.loops);
  return found;
}

void StudyMemory::Resumed(int32_t ms, Clock::time_point now) {
  noteMs_ = ms;
  noteUntil_ = now + kNoteFor;
}

std::optional<int32_t> StudyMemory::Note(Clock::time_point now) const {
  if (!open_ || now >= noteUntil_) return std::nullopt;
  return noteMs_;
}

void StudyMemory::Keep(const State& state, Clock::time_point now) {
  if (!open_) return;
  kept_ = now;
  if (forgotten_) return;
  record_.positionMs = std::max(0, state.positionMs);
  record_.aMs = state.aMs;
  record_.bMs = state.aMs >= 0 && state.bMs > state.aMs ? state.bMs : -1;
  record_.rate = state.rate;
  record_.sentence = state.sentence;
  Save();
}

void StudyMemory::Close() {
  // What was kept of the file goes to the disk for good.
  if (open_ && store_) store_->Settle(record_.path);
  open_ = false;
  forgotten_ = false;
  noteUntil_ = {};
  record_ = {};
  loops_ = std::make_shared<const std::vector<SavedLoop>>();
}

void StudyMemory::Forget() {
  if (!open_) return;
  if (store_) store_->Forget(record_.path);
  std::string path = std::move(record_.path);
  record_ = {};
  record_.path = std::move(path);
  loops_ = std::make_shared<const std::vector<SavedLoop>>();
  forgotten_ = true;
  noteUntil_ = {};
}

bool StudyMemory::AddLoop(SavedLoop loop) {
  if (!open_ || !AddSavedLoop(record_.loops, loop)) return false;
  forgotten_ = false;
  loops_ = std::make_shared<const std::vector<SavedLoop>>(record_.loops);
  Save();
  return true;
}

bool StudyMemory::RemoveLoop(SavedLoop loop) {
  if (!open_ || std::erase(record_.loops, loop) == 0) return false;
  loops_ = std::make_shared<const std::vector<SavedLoop>>(record_.loops);
  if (!forgotten_) Save();
  return true;
}

void StudyMemory::Save() {
  // The file's stamp as it is now: a memory of the file that changed is its
  // memory again from here.
  if (!store_ || !StampStudyRecord(record_)) return;
  // Written on the store's own thread; a failed save keeps the memory there
  // was, and the program goes on.
  store_->Keep(record_);
}

}  // namespace orvex
