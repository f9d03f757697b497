#pragma once
// Writes the program's own small files on a thread of its own, so that the
// thread that asks (the GUI's) never waits on the disk. The writes of a file
// are merged: only the newest data asked for it is written, and data asked
// for while the file is being written waits, replacing any that waited
// before it. Each write goes through SaveOwnFile, so the file is the old one
// or the new one, never torn. Writes are not flushed to the disk, as they
// come every few seconds; Settle flushes a file once it is done with, and
// the writer's end flushes everything. Plain std::thread, no Qt.
//
// The calls come from one thread (the owner's); only the writing runs on the
// writer's own.

#include <sys/types.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace orvex {

class FileWriter {
 public:
  // The files are written with mode.
  explicit FileWriter(mode_t mode);
  // Writes what is pending, flushed to the disk, flushes what was written
  // without, and only then returns.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Replaces the file at path with data later, in place of a write of it
  // still pending. Never waits on the disk.
  void Write(const std::string& path, std::string data);
  // The file at path is done with for now: its pending write, or the last
  // one made without a flush, is flushed to the disk (on the writer's thread
  // too). Nothing happens for a file with nothing to flush.
  void Settle(const std::string& path);
  // Replaces the file at path with data now, on the calling thread, flushed
  // to the disk: waits for a write of it under way to end and drops the one
  // pending. 0, or the error number of SaveOwnFile.
  int WriteNow(const std::string& path, std::string_view data);
  // Deletes the file at path now when it is a regular file; a write of it
  // pending is dropped, and one under way is followed by the deletion.
  void Remove(const std::string& path);

  // What a reader must take for the file at path while a write or a
  // deletion of it is pending or under way (the disk may not hold it yet):
  // its data, or removed when it is being deleted. Nothing when the disk is
  // up to date.
  struct Ahead {
    bool removed = false;
    std::string data;
  };
  std::optional<Ahead> AheadOf(const std::string& path) const;

  // Waits until nothing is pending or under way.
  void Drain();

  // The error number of the last write or flush on the writer's thread that
  // failed; 0 while none has. The file then stays as it was.
  int lastError() const;

 private:
  enum class Kind { kWrite, kFlush, kDelete };
  struct Job {
    Kind kind = Kind::kWrite;
    std::string data;
    bool flush = false;
  };

  void Run();
  int Do(const std::string& path, const Job& job) const;
  static std::optional<Ahead> AheadIn(const Job& job);

  const mode_t mode_;
  mutable std::mutex lock_;
  // Signalled when a job is queued, one ends, or the end begins.
  std::condition_variable changed_;
  // Guarded by lock_:
  std::map<std::string, Job> pending_;
  std::optional<std::pair<std::string, Job>> busy_;  // the job under way
  std::set<std::string> unflushed_;  // files written without a flush since
  bool stopping_ = false;
  int lastError_ = 0;
  std::thread thread_;  // started with the first write
};

}  // namespace orvex
