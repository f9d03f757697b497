// The kept takes: per lesson and stretch, the newest five, and only files the
// program named and wrote are ever counted or deleted; a folder that cannot
// hold a take.

#include "transport/shadowing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/files.h"
#include "tests/settings/temp_home.h"
#include "tests/support/fake_recorder.h"

namespace orvex {
namespace {

void Touch(const std::string& path) {
  std::ofstream(path) << "x";
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

class KeptTakes : public test::TempHomeTest {
 protected:
  test::ScopedEnv dataEnv{"XDG_DATA_HOME"};
};

TEST_F(KeptTakes, PruningLeavesTheNewestFiveAndEverythingNotATake) {
  dataEnv.Unset();
  const std::string folder = TakeFolder("/lessons/one.mp3");
  EXPECT_EQ(folder.rfind(home + "/.local/share/OrvexPlayer/takes/", 0), 0u) << folder;
  EXPECT_NE(folder, TakeFolder("/lessons/two.mp3"));
  CreateParentFolders(folder, true);
  std::vector<std::string> takes;
  for (int i = 0; i < 7; ++i) {
    takes.push_back(folder + "/1000_2000_170000000000" + std::to_string(i) + ".ogg");
    Touch(takes.back());
  }
  // Not takes of this stretch, or not the program's: a take of another
  // stretch, a folder and a link named as takes, other names.
  const std::string other = folder + "/1000_2500_1700000000000.ogg";
  const std::string dir = folder + "/1000_2000_1600000000000.ogg";
  const std::string link = folder + "/1000_2000_1500000000000.ogg";
  const std::string outside = home + "/mine.ogg";
  const std::string note = folder + "/1000_2000_notes.ogg";
  Touch(other);
  Touch(outside);
  Touch(note);
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);

  EXPECT_EQ(TakesOf(folder, 1000, 2000), takes);
  PruneTakes(folder, 1000, 2000, kKeptTakes);
  EXPECT_EQ(TakesOf(folder, 1000, 2000), std::vector<std::string>(takes.begin() + 2, takes.end()));
  EXPECT_FALSE(Exists(takes[0]));
  EXPECT_FALSE(Exists(takes[1]));
  for (const auto& kept : {other, dir, link, outside, note}) EXPECT_TRUE(Exists(kept)) << kept;
  EXPECT_TRUE(TakesOf(folder + "/missing", 1000, 2000).empty());

  // Forgetting the file takes every stretch's takes and nothing else; the
  // folder stays while something else lies in it.
  ForgetTakes(folder);
  for (const auto& gone : {takes[6], other}) EXPECT_FALSE(Exists(gone)) << gone;
  for (const auto& kept : {dir, link, outside, note}) EXPECT_TRUE(Exists(kept)) << kept;
  ASSERT_EQ(rmdir(dir.c_str()), 0);
  ASSERT_EQ(unlink(link.c_str()), 0);
  ASSERT_EQ(unlink(note.c_str()), 0);
  ForgetTakes(folder);
  EXPECT_FALSE(Exists(folder));
}

// The take's file is made before the input records into it: a folder that
// cannot hold it is told apart from an input that does not answer, and
// neither leaves a file behind.
TEST_F(KeptTakes, AFolderThatCannotHoldATakeIsToldApartFromAnInputThatDoesNotAnswer) {
  test::FakeRecorder recorder;
  Shadowing shadowing;
  shadowing.SetRecorder(&recorder);
  const std::string lesson = "/lessons/one.mp3";
  // $XDG_DATA_HOME a file: no folder below it can be made, even by root.
  dataEnv.Set(root + "/data");
  Touch(root + "/data");
  EXPECT_FALSE(shadowing.StartTake(lesson, 1000, 2000, 0));
  EXPECT_EQ(shadowing.startFailure(), Shadowing::Outcome::kNotSaved);
  EXPECT_EQ(shadowing.folder(), TakeFolder(lesson));
  EXPECT_TRUE(recorder.takes.empty());

  ASSERT_EQ(unlink((root + "/data").c_str()), 0);
  recorder.answers = false;
  EXPECT_FALSE(shadowing.StartTake(lesson, 1000, 2000, 0));
  EXPECT_EQ(shadowing.startFailure(), Shadowing::Outcome::kFailed);
  EXPECT_TRUE(test::ListFolder(TakeFolder(lesson)).empty());

  recorder.answers = true;
  ASSERT_TRUE(shadowing.StartTake(lesson, 1000, 2000, 0));
  EXPECT_EQ(recorder.takes, std::vector<std::string>{shadowing.take()});
  EXPECT_TRUE(Exists(shadowing.take()));
}

}  // namespace
}  // namespace orvex
