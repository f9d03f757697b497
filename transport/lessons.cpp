#include "transport/lessons.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "core/files.h"
#include "core/lesson_formats.h"

namespace orvex {

std::vector<std::string> FolderLessons(const std::string& folder, const LessonOrder& order) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  const int fd = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.starts_with('.') || !IsLessonName(name)) continue;
    // Only the entries whose kind the folder does not tell need a stat.
    if (entry->d_type != DT_REG) {
      struct stat st {};
      if (fstatat(fd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    }
    names.emplace_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), order);
  return names;
}

void Lessons::Give(const std::vector<std::string>& paths) {
  paths_.clear();
  for (const std::string& p : paths) {
    if (IsLessonName(p) && std::find(paths_.begin(), paths_.end(), p) == paths_.end()) {
      paths_.push_back(p);
    }
  }
  given_ = !paths_.empty();
  index_ = -1;
  current_.clear();
}

void Lessons::Opened(const std::string& path) {
  current_ = path;
  if (given_) {
    const auto at = std::find(paths_.begin(), paths_.end(), path);
    if (at != paths_.end()) {
      index_ = static_cast<int32_t>(at - paths_.begin());
      return;
    }
    given_ = false;
  }
  ReadFolder();
}

void Lessons::Clear() {
  paths_.clear();
  current_.clear();
  index_ = -1;
  given_ = false;
}

void Lessons::ReadFolder() {
  paths_.clear();
  index_ = -1;
  if (current_.empty()) return;
  const std::string folder = FolderOf(current_);
  for (const std::string& name : FolderLessons(folder, order_)) {
    paths_.push_back(JoinPath(folder, name));
  }
  const auto at = std::find(paths_.begin(), paths_.end(), current_);
  if (at != paths_.end()) index_ = static_cast<int32_t>(at - paths_.begin());
}

std::optional<std::string> Lessons::Step(int32_t direction) {
  if (current_.empty()) return std::nullopt;
  if (!given_) ReadFolder();
  int32_t next = 0;
  if (index_ >= 0) {
    next = index_ + direction;
  } else {
    // The open file is gone from its folder: the lessons around where its
    // name would stand.
    const std::string name = current_.substr(current_.rfind('/') + 1);
    const auto at = std::lower_bound(paths_.begin(), paths_.end(), name,
                                     [this](const std::string& path, const std::string& n) {
                                       return order_(path.substr(path.rfind('/') + 1), n);
                                     });
    next = static_cast<int32_t>(at - paths_.begin()) + (direction > 0 ? 0 : -1);
  }
  if (next < 0 || next >= count()) return std::nullopt;
  return paths_[static_cast<size_t>(next)];
}

}  // namespace orvex
