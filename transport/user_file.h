#pragma once
// The user's files are never lost, altered or waited on: a file is looked at
// without blocking before anything reads it, opening never changes its mode,
// and a repair works on a private copy that replaces the original only once
// it loads, with the original kept under a backup name nobody else uses.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

enum class UserFileKind {
  kRegular,     // a regular file (or a link to one) that can be read
  kMissing,     // nothing there, or a dangling link
  kNotRegular,  // a pipe, a device, a socket or a folder
  kUnreadable,  // a regular file the user may not read
};

// What lies at path, found without ever blocking: a pipe or a device is never
// opened, and a file is opened only non-blocking to prove it can be read.
UserFileKind InspectUserFile(const std::string& path);

// The first name of "<path>.bak", "<path>.1.bak", "<path>.2.bak", ... that is
// free. Only a hint: whoever creates the file must still refuse to replace one.
std::string FreeBackupName(const std::string& path);

// A private folder beside the file being repaired (its resolved target, when
// the path is a link), holding a copy of the file for the repair tool and a
// folder for the tool's own temporary files. Everything in the folder is
// removed when the workspace goes.
class RepairWorkspace {
 public:
  // Copies the file's resolved target into a new private folder beside it.
  // Nothing when the target is not a readable regular file or its folder
  // takes no new folder.
  static std::optional<RepairWorkspace> Prepare(const std::string& path);

  RepairWorkspace(RepairWorkspace&& other) noexcept;
  RepairWorkspace& operator=(RepairWorkspace&&) = delete;
  RepairWorkspace(const RepairWorkspace&) = delete;
  ~RepairWorkspace();

  // The copy the tool repairs in place, and the folder for TMPDIR.
  const std::string& copyPath() const { return copy_; }
  const std::string& tempFolder() const { return temp_; }
  // The file the copy replaces: the path itself, or what its link points to.
  const std::string& target() const { return target_; }

  // Puts the repaired copy in the target's place, with the target's mode and
  // owner. The original is kept, untouched, under a free backup name first;
  // when that can't be done, or the original changed since it was copied,
  // nothing is replaced. Returns the backup's name, or nothing.
  std::optional<std::string> Commit();

 private:
  RepairWorkspace() = default;

  std::string folder_;  // the private folder; empty once moved from
  std::string copy_;
  std::string temp_;
  std::string target_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  off_t size_ = 0;
  int64_t modifiedNs_ = 0;
};

// Files that a tool makes under a fixed name pattern in a shared folder and
// leaves behind when it fails ("/tmp/mp3val.XXXXXX", whatever TMPDIR says):
// those of this user's that appear while the sweeper lives go with it; the
// ones that were there before are left alone.
class LeftoverSweeper {
 public:
  LeftoverSweeper(std::string folder, std::string prefix);
  ~LeftoverSweeper();
  LeftoverSweeper(const LeftoverSweeper&) = delete;
  LeftoverSweeper& operator=(const LeftoverSweeper&) = delete;

 private:
  std::vector<std::string> Matching() const;

  std::string folder_;
  std::string prefix_;
  std::vector<std::string> before_;
};

// Removes the private folders that earlier repairs left in folder (a killed
// program never removed them), matched by their exact name pattern and only
// when older than minAge, so a repair running now is left alone.
void RemoveStaleRepairFolders(const std::string& folder, std::chrono::seconds minAge);

}  // namespace orvex
