#include "transport/user_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include "core/files.h"

namespace orvex {
namespace {

constexpr std::string_view kWorkspacePrefix = ".orvex-repair-";
constexpr int kOpenForReading = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kMaxBackupNumber = 999;
// A repair folder left this long is no longer in use: the tool has a time
// limit of a minute.
constexpr std::chrono::seconds kStaleWorkspaceAge{600};

int64_t ModifiedNs(const struct stat& st) {
  return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file's resolved target, every link followed; nothing when it is gone.
std::optional<std::string> ResolvedPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// Copies everything from the open file `from` to the open file `to`.
bool CopyContent(int from, int to) {
  off_t offset = 0;
  while (true) {
    const ssize_t n = copy_file_range(from, &offset, to, nullptr, SSIZE_MAX, 0);
    if (n > 0) continue;
    if (n == 0) return true;
    if (errno == EINTR) continue;
    break;  // not supported here: copy through a buffer
  }
  std::vector<char> buffer(1 << 16);
  while (true) {
    const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(to, std::string_view(buffer.data(), static_cast<size_t>(n)))) return false;
    offset += n;
  }
}

// Creates `name` as a copy of the open file `from` (content, mode, owner and
// times); never replaces anything. Gives the error number, or 0.
int CopyToNewFile(int from, const struct stat& st, const std::string& name) {
  const int to = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (to < 0) return errno;
  bool ok = CopyContent(from, to) && fsync(to) == 0;
  if (ok) {
    if (fchown(to, st.st_uid, st.st_gid) != 0) (void)!fchown(to, static_cast<uid_t>(-1), st.st_gid);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ok = fchmod(to, st.st_mode & 07777) == 0 && futimens(to, times) == 0;
  }
  const int error = ok ? 0 : (errno != 0 ? errno : EIO);
  close(to);
  if (!ok) unlink(name.c_str());
  return error;
}

std::string BackupName(const std::string& path, int number) {
  return number == 0 ? path + ".bak" : path + "." + std::to_string(number) + ".bak";
}

// The entries of folder whose name passes keep, with their lstat records.
template <typename Keep>
std::vector<std::pair<std::string, struct stat>> EntriesOf(const std::string& folder, Keep keep) {
  std::vector<std::pair<std::string, struct stat>> entries;
  const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return entries;
  DIR* listing = fdopendir(folderFd);
  if (!listing) {
    close(folderFd);
    return entries;
  }
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (!keep(name) || fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (st.st_uid != geteuid()) continue;  // only this user's own
    entries.emplace_back(name, st);
  }
  closedir(listing);
  return entries;
}

}  // namespace

UserFileKind InspectUserFile(const std::string& path) {
  struct stat st {};
  // stat never opens anything, so a pipe or a device is told apart unopened.
  if (stat(path.c_str(), &st) != 0) {
    return errno == EACCES ? UserFileKind::kUnreadable : UserFileKind::kMissing;
  }
  if (!S_ISREG(st.st_mode)) return UserFileKind::kNotRegular;
  const int fd = open(path.c_str(), kOpenForReading);
  if (fd < 0) return errno == ENOENT ? UserFileKind::kMissing : UserFileKind::kUnreadable;
  // The name may have been given to something else in between.
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  return regular ? UserFileKind::kRegular : UserFileKind::kNotRegular;
}

std::string FreeBackupName(const std::string& path) {
  for (int number = 0; number < kMaxBackupNumber; ++number) {
    struct stat st {};
    const std::string name = BackupName(path, number);
    if (lstat(name.c_str(), &st) != 0 && errno == ENOENT) return name;
  }
  return BackupName(path, kMaxBackupNumber);
}

std::optional<RepairWorkspace> RepairWorkspace::Prepare(const std::string& path) {
  const std::optional<std::string> target = ResolvedPath(path);
  if (!target) return std::nullopt;
  const int source = open(target->c_str(), kOpenForReading | O_NOFOLLOW);
  if (source < 0) return std::nullopt;
  struct stat st {};
  if (fstat(source, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(source);
    return std::nullopt;
  }

  const std::string folder = FolderOf(*target);
  RemoveStaleRepairFolders(folder, kStaleWorkspaceAge);
  std::string privateFolder = JoinPath(folder, std::string(kWorkspacePrefix) + "XXXXXX");
  if (!mkdtemp(privateFolder.data())) {
    close(source);
    return std::nullopt;
  }
  RepairWorkspace w;
  w.folder_ = privateFolder;
  w.copy_ = JoinPath(privateFolder, BaseName(*target));
  w.temp_ = JoinPath(privateFolder, "tmp");
  w.target_ = *target;
  w.device_ = st.st_dev;
  w.inode_ = st.st_ino;
  w.size_ = st.st_size;
  w.modifiedNs_ = ModifiedNs(st);

  const int copy =
      open(w.copy_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const bool copied = copy >= 0 && CopyContent(source, copy);
  if (copy >= 0) close(copy);
  close(source);
  if (!copied || mkdir(w.temp_.c_str(), 0700) != 0) return std::nullopt;  // w removes the folder
  return w;
}

RepairWorkspace::RepairWorkspace(RepairWorkspace&& other) noexcept
    : folder_(std::move(other.folder_)),
      copy_(std::move(other.copy_)),
      temp_(std::move(other.temp_)),
      target_(std::move(other.target_)),
      device_(other.device_),
      inode_(other.inode_),
      size_(other.size_),
      modifiedNs_(other.modifiedNs_) {
  other.folder_.clear();
}

RepairWorkspace::~RepairWorkspace() {
  if (!folder_.empty()) DeleteFolderTree(folder_);
}

std::optional<std::string> RepairWorkspace::Commit() {
  const int original = open(target_.c_str(), kOpenForReading | O_NOFOLLOW);
  if (original < 0) return std::nullopt;
  struct stat st {};
  const bool unchanged = fstat(original, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == device_ &&
                         st.st_ino == inode_ && st.st_size == size_ &&
                         ModifiedNs(st) == modifiedNs_;
  std::optional<std::string> backup;
  if (unchanged) {
    // The repaired copy takes the original's mode and owner before it takes
    // its place.
    const int copy = open(copy_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool ready = copy >= 0 && fchmod(copy, st.st_mode & 07777) == 0;
    if (copy >= 0) {
      if (fchown(copy, st.st_uid, st.st_gid) != 0)
        (void)!fchown(copy, static_cast<uid_t>(-1), st.st_gid);
      ready = ready && fsync(copy) == 0;
      close(copy);
    }
    // The backup is the original itself under a second name (or a copy of it
    // where the file system has no links), made where no file is yet.
    for (int number = 0; ready && number <= kMaxBackupNumber && !backup; ++number) {
      const std::string name = BackupName(target_, number);
      if (link(target_.c_str(), name.c_str()) == 0) {
        backup = name;
      } else if (errno != EEXIST) {
        const int error = CopyToNewFile(original, st, name);
        if (error == 0)
          backup = name;
        else if (error != EEXIST)
          break;
      }
    }
    if (backup && rename(copy_.c_str(), target_.c_str()) != 0) {
      unlink(backup->c_str());  // our own second name, nothing else
      backup.reset();
    }
  }
  close(original);
  return backup;
}

LeftoverSweeper::LeftoverSweeper(std::string folder, std::string prefix)
    : folder_(std::move(folder)), prefix_(std::move(prefix)), before_(Matching()) {}

LeftoverSweeper::~LeftoverSweeper() {
  for (const std::string& name : Matching()) {
    if (std::find(before_.begin(), before_.end(), name) == before_.end()) {
      unlink(JoinPath(folder_, name).c_str());
    }
  }
}

std::vector<std::string> LeftoverSweeper::Matching() const {
  std::vector<std::string> names;
  for (const auto& [name, st] :
       EntriesOf(folder_, [&](const std::string& n) { return IsTemporaryName(n, prefix_); })) {
    if (S_ISREG(st.st_mode)) names.push_back(name);
  }
  return names;
}

void RemoveStaleRepairFolders(const std::string& folder, std::chrono::seconds minAge) {
  const time_t now = std::time(nullptr);
  for (const auto& [name, st] : EntriesOf(
           folder, [](const std::string& n) { return IsTemporaryName(n, kWorkspacePrefix); })) {
    if (S_ISDIR(st.st_mode) && now - st.st_mtime >= minAge.count()) {
      DeleteFolderTree(JoinPath(folder, name));
    }
  }
}

}  // namespace orvex
