#include "settings/file_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "core/files.h"

namespace orvex {
namespace {

// Deletes path when it is a regular file: never a link's target, a folder or
// anything else standing there.
void DeleteOwnFile(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

}  // namespace

FileWriter::FileWriter(mode_t mode) : mode_(mode) {}

FileWriter::~FileWriter() {
  {
    const std::lock_guard guard(lock_);
    if (!thread_.joinable()) return;
    stopping_ = true;
    // Run flushes every write from now on.
    for (const std::string& path : unflushed_) {
      pending_.try_emplace(path, Job{Kind::kFlush, {}, true});
    }
  }
  changed_.notify_all();
  thread_.join();
}

void FileWriter::Write(const std::string& path, std::string data) {
  std::unique_lock guard(lock_);
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread(&FileWriter::Run, this);
    } catch (const std::system_error&) {
      // No thread to be had: written here and flushed, as files were before
      // there was one.
      guard.unlock();
      const int error = SaveOwnFile(path, data, mode_, true);
      guard.lock();
      if (error != 0) lastError_ = error;
      return;
    }
  }
  Job& job = pending_[path];
  // A flush asked for the file before still holds.
  job = Job{Kind::kWrite, std::move(data), job.flush};
  guard.unlock();
  changed_.notify_all();
}

void FileWriter::Settle(const std::string& path) {
  {
    const std::lock_guard guard(lock_);
    if (const auto at = pending_.find(path); at != pending_.end()) {
      at->second.flush = true;
      return;
    }
    // The last write (or the one under way) went without a flush.
    if (!unflushed_.contains(path) || !thread_.joinable()) return;
    pending_.emplace(path, Job{Kind::kFlush, {}, true});
  }
  changed_.notify_all();
}

int FileWriter::WriteNow(const std::string& path, std::string_view data) {
  {
    std::unique_lock guard(lock_);
    pending_.erase(path);
    changed_.wait(guard, [&] { return !busy_ || busy_->first != path; });
    unflushed_.erase(path);
  }
  return SaveOwnFile(path, data, mode_, true);
}

void FileWriter::Remove(const std::string& path) {
  {
    const std::lock_guard guard(lock_);
    pending_.erase(path);
    unflushed_.erase(path);
    // The write under way would bring the file back: it is deleted after.
    if (busy_ && busy_->first == path && busy_->second.kind == Kind::kWrite) {
      pending_.emplace(path, Job{Kind::kDelete, {}, false});
    }
  }
  changed_.notify_all();
  DeleteOwnFile(path);
}

std::optional<FileWriter::Ahead> FileWriter::AheadIn(const Job& job) {
  switch (job.kind) {
    case Kind::kWrite:
      return Ahead{false, job.data};
    case Kind::kDelete:
      return Ahead{true, {}};
    case Kind::kFlush:
      break;
  }
  return std::nullopt;
}

std::optional<FileWriter::Ahead> FileWriter::AheadOf(const std::string& path) const {
  const std::lock_guard guard(lock_);
  if (const auto at = pending_.find(path); at != pending_.end()) {
    if (std::optional<Ahead> ahead = AheadIn(at->second)) return ahead;
  }
  if (busy_ && busy_->first == path) return AheadIn(busy_->second);
  return std::nullopt;
}

void FileWriter::Drain() {
  std::unique_lock guard(lock_);
  changed_.wait(guard, [this] { return pending_.empty() && !busy_; });
}

int FileWriter::lastError() const {
  const std::lock_guard guard(lock_);
  return lastError_;
}

int FileWriter::Do(const std::string& path, const Job& job) const {
  switch (job.kind) {
    case Kind::kWrite:
      return SaveOwnFile(path, job.data, mode_, job.flush);
    case Kind::kFlush: {
      // A file deleted since has nothing left to flush.
      const int error = FlushFile(path);
      return error == ENOENT ? 0 : error;
    }
    case Kind::kDelete:
      DeleteOwnFile(path);
      return 0;
  }
  return 0;
}

void FileWriter::Run() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;  // the end, and nothing is left
    auto node = pending_.extract(pending_.begin());
    busy_.emplace(std::move(node.key()), std::move(node.mapped()));
    const std::string& path = busy_->first;
    Job& job = busy_->second;
    if (stopping_) job.flush = true;
    if (job.kind == Kind::kWrite && !job.flush) {
      unflushed_.insert(path);
    } else {
      unflushed_.erase(path);
    }
    // Readers may copy the job meanwhile; nothing changes it until it ends.
    guard.unlock();
    const int error = Do(path, job);
    guard.lock();
    if (error != 0) lastError_ = error;
    busy_.reset();
    changed_.notify_all();
  }
}

}  // namespace orvex
