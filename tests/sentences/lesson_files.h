#pragma once
// What the sentence tests share: a temporary folder, small file helpers and
// the lessons that make_lessons.sh speaks at test time (ctest makes them
// first, as the fixture "lessons").

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace orvex::test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvex-s-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A made lesson's file; fails the test when the lessons were not made.
inline std::string Lesson(const std::string& name) {
  const std::string path = std::string(ORVEX_LESSONS) + "/" + name;
  EXPECT_TRUE(std::filesystem::exists(path))
      << path << " is missing: run tests/sentences/make_lessons.sh " << ORVEX_LESSONS
      << " (ctest does it first)";
  return path;
}

// One line of a lesson's truth (<name>.truth): the span of a sentence's sound.
struct SpokenSentence {
  int32_t firstSoundMs = 0;
  int32_t lastSoundMs = 0;
  std::string text;
};

inline std::vector<SpokenSentence> ReadTruth(const std::string& path) {
  std::vector<SpokenSentence> truth;
  std::istringstream lines(ReadFile(path));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    SpokenSentence s;
    fields >> s.firstSoundMs >> s.lastSoundMs;
    fields.ignore(1);
    std::getline(fields, s.text);
    truth.push_back(s);
  }
  return truth;
}

}  // namespace orvex::test
