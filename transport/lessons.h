#pragma once
// The lesson list: the lessons in the folder of the open file, in the order
// the application gives (natural order in the program), or the files given
// together at once, in the order given. Stepping to the next or previous
// lesson reads the folder again, so lessons added or deleted since count.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// True when lesson name a comes before name b.
using LessonOrder = std::function<bool(const std::string& a, const std::string& b)>;

// The names of the lessons (regular files with a lesson's extension, links
// to such included, hidden files not) in folder, in order.
std::vector<std::string> FolderLessons(const std::string& folder, const LessonOrder& order);

class Lessons {
 public:
  // Byte order until told otherwise.
  void SetOrder(LessonOrder order) { order_ = std::move(order); }

  // Files given together: the lessons among them, in that order, are the
  // list until a file outside it is opened.
  void Give(const std::vector<std::string>& paths);
  // A file was opened: its place in the given list, else in its folder.
  void Opened(const std::string& path);
  void Clear();

  // The path of the lesson after (direction 1) or before (-1) the open one,
  // from the folder as it is now; nothing at either end.
  std::optional<std::string> Step(int32_t direction);

  // The open file's place from 0 (-1 when it is not among them) and how many
  // there are, as last read.
  int32_t index() const { return index_; }
  int32_t count() const { return static_cast<int32_t>(paths_.size()); }

 private:
  void ReadFolder();

  LessonOrder order_ = [](const std::string& a, const std::string& b) { return a < b; };
  std::vector<std::string> paths_;
  std::string current_;
  int32_t index_ = -1;
  bool given_ = false;
};

}  // namespace orvex
