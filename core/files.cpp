#include "core/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pwd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace orvex {
namespace {

constexpr std::string_view kTemporaryInfix = ".tmp-";
constexpr size_t kTemporarySuffixLength = 6;  // mkstemp's XXXXXX

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The folder an XDG variable names when it is set and absolute, else
// belowHome in the home folder.
std::string XdgFolder(const char* variable, std::string_view belowHome) {
  if (const char* value = std::getenv(variable); value && value[0] == '/') {
    return WithoutTrailingSlashes(value);
  }
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : JoinPath(home, belowHome);
}

// The names in the open folder folderFd, without "." and "..".
std::vector<std::string> NamesIn(DIR* folder) {
  std::vector<std::string> names;
  while (const dirent* entry = readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

// Deletes every entry of the open folder folderFd (which it closes), depth
// first, never following a link.
void DeleteEntries(int folderFd) {
  DIR* folder = fdopendir(folderFd);
  if (!folder) {
    close(folderFd);
    return;
  }
  for (const std::string& name : NamesIn(folder)) {
    struct stat st {};
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const int sub =
          openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) {
        // Removing entries needs the folder's write and search permissions.
        if ((st.st_mode & S_IRWXU) != S_IRWXU) fchmod(sub, (st.st_mode & 07777) | S_IRWXU);
        DeleteEntries(sub);
      }
      // Fails, as it should, when something was left inside.
      unlinkat(folderFd, name.c_str(), AT_REMOVEDIR);
    } else if (S_ISREG(st.st_mode)) {
      // Removing an entry does not depend on the file's own permissions.
      unlinkat(folderFd, name.c_str(), 0);
    }
  }
  closedir(folder);
}

// Makes the names in the folder holding path durable; failures are ignored,
// as the file is in place either way.
void FlushFolder(const std::string& path) {
  const int folderFd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    fsync(folderFd);
    close(folderFd);
  }
}

}  // namespace

std::string HomeFolder() {
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
    return WithoutTrailingSlashes(env);
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/') {
    return WithoutTrailingSlashes(found->pw_dir);
  }
  return {};
}

std::string ConfigFolder() {
  return XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::string CacheFolder() {
  return XdgFolder("XDG_CACHE_HOME", ".cache");
}

std::string StateFolder() {
  return XdgFolder("XDG_STATE_HOME", ".local/state");
}

std::string DataFolder() {
  return XdgFolder("XDG_DATA_HOME", ".local/share");
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

int ReplaceFile(const std::string& path, std::string_view data, mode_t mode, bool flush) {
  std::string temporary = path + std::string(kTemporaryInfix) + "XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  if (!WriteAll(fd, data) || fchmod(fd, mode) != 0 || (flush && fsync(fd) != 0)) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    return error;
  }
  // Makes the rename itself durable; the file is in place either way.
  if (flush) FlushFolder(path);
  return 0;
}

int FlushFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EEXIST;
  } else if (fsync(fd) != 0) {
    error = errno;
  }
  close(fd);
  if (error == 0) FlushFolder(path);
  return error;
}

bool IsTemporaryName(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kTemporarySuffixLength || !name.starts_with(prefix)) {
    return false;
  }
  for (const char c : name.substr(prefix.size())) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

void RemoveStaleTemporaryFiles(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTemporaryInfix);
  const int folderFd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return;
  DIR* folder = fdopendir(folderFd);
  if (!folder) {
    close(folderFd);
    return;
  }
  const time_t now = std::time(nullptr);
  for (const std::string& name : NamesIn(folder)) {
    if (!IsTemporaryName(name, prefix)) continue;
    struct stat st {};
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // Only what a save of ours makes: a regular file of this user's.
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    if (now - st.st_mtime < kStaleTemporarySeconds) continue;
    unlinkat(folderFd, name.c_str(), 0);
  }
  closedir(folder);
}

void CreateParentFolders(const std::string& path, bool createLast) {
  // The first character is skipped, as "/" is never created.
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0700);
  }
  if (createLast && !path.empty()) mkdir(path.c_str(), 0700);
}

int SaveOwnFile(const std::string& path, std::string_view data, mode_t mode, bool flush) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    return S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
  }
  CreateParentFolders(path, false);
  RemoveStaleTemporaryFiles(path);
  return ReplaceFile(path, data, mode, flush);
}

void DeleteFolderTree(const std::string& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  if ((st.st_mode & S_IRWXU) != S_IRWXU) fchmod(fd, (st.st_mode & 07777) | S_IRWXU);
  DeleteEntries(fd);
  rmdir(folder.c_str());
}

mode_t CurrentUmask() {
  // umask() can only be read by setting it, which would race with other
  // threads; the kernel tells it in /proc.
  mode_t mask = 022;
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
      unsigned value = 0;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value & 0777);
        break;
      }
    }
    std::fclose(status);
  }
  return mask;
}

std::string FindExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return {};
  return path.substr(dot);
}

std::string FileTitle(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string ext = FindExtension(name);
  name.resize(name.size() - ext.size());
  return name;
}

bool IsMp3Name(const std::string& path) {
  const std::string ext = FindExtension(path);
  if (ext.size() != 4) return false;
  static constexpr char kMp3[] = ".mp3";
  for (size_t i = 0; i < 4; ++i) {
    char c = ext[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kMp3[i]) return false;
  }
  return true;
}

}  // namespace orvex
