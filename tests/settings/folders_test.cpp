// Where the settings live, and the folder routines, on real files.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/files.h"
#include "settings/settings.h"
#include "tests/settings/temp_home.h"

namespace orvex::test {
namespace {

using UserFoldersTest = TempHomeTest;

TEST_F(UserFoldersTest, AnAbsoluteXdgConfigHomeWins) {
  EXPECT_EQ(ConfigFolder(), config);
  configEnv.Set(config + "//");
  EXPECT_EQ(ConfigFolder(), config);
}

TEST_F(UserFoldersTest, OtherwiseTheConfigFolderInHome) {
  configEnv.Unset();
  EXPECT_EQ(ConfigFolder(), home + "/.config");
  configEnv.Set("");
  EXPECT_EQ(ConfigFolder(), home + "/.config");
  configEnv.Set("relative/config");
  EXPECT_EQ(ConfigFolder(), home + "/.config");
  homeEnv.Set(home + "/");
  EXPECT_EQ(ConfigFolder(), home + "/.config");
}

TEST_F(UserFoldersTest, WithoutAUsableHomeTheAccountsHomeFolder) {
  const passwd* account = getpwuid(getuid());
  if (!account || !account->pw_dir || account->pw_dir[0] != '/') {
    GTEST_SKIP() << "this user has no home folder in the account database";
  }
  std::string expected = account->pw_dir;
  if (expected != "/") expected += "/";
  expected += ".config";
  configEnv.Unset();
  homeEnv.Unset();
  EXPECT_EQ(ConfigFolder(), expected);
  homeEnv.Set("not/absolute");
  EXPECT_EQ(ConfigFolder(), expected);
}

TEST_F(UserFoldersTest, SettingsGoIntoOrvexPlayerInTheConfigFolder) {
  configEnv.Unset();
  SaveShown(settings, shell);
  EXPECT_TRUE(ReadFile(home + "/.config/OrvexPlayer/options.ini"));
  EXPECT_EQ(*ModeOf(home + "/.config/OrvexPlayer") & 0777, 0700u);
  EXPECT_TRUE(shell.errors.empty());
}

using FolderRoutinesTest = TempHomeTest;

TEST_F(FolderRoutinesTest, CreateParentFoldersMakesEveryFolderOnThePath) {
  const std::string path = root + "/a/b/c/name";
  CreateParentFolders(path, false);
  EXPECT_TRUE(S_ISDIR(*ModeOf(root + "/a/b/c")));
  EXPECT_FALSE(ModeOf(path));

  CreateParentFolders(path, true);
  EXPECT_TRUE(S_ISDIR(*ModeOf(path)));

  WriteFile(path + "/file", "x");
  CreateParentFolders(path + "/file/below/name", true);  // blocked by a file: ignored
  EXPECT_EQ(ReadFile(path + "/file"), "x");
}

TEST_F(FolderRoutinesTest, DeleteFolderTreeRemovesEverythingDepthFirst) {
  const std::string tree = root + "/tree";
  MakeFolder(tree + "/one/two/three");
  MakeFolder(tree + "/empty");
  WriteFile(tree + "/top.txt", "t");
  WriteFile(tree + "/.hidden", "h");
  WriteFile(tree + "/one/two/three/deep.txt", "d");
  ASSERT_EQ(chmod((tree + "/top.txt").c_str(), 0), 0);
  ASSERT_EQ(chmod((tree + "/one/two/three").c_str(), 0500), 0);
  ASSERT_EQ(chmod((tree + "/one").c_str(), 0555), 0);
  DeleteFolderTree(tree);
  EXPECT_FALSE(ModeOf(tree));
}

TEST_F(FolderRoutinesTest, DeleteFolderTreeDeletesOnlyRegularFilesAndTheFoldersTheyEmpty) {
  const std::string outside = root + "/outside";
  MakeFolder(outside + "/sub");
  WriteFile(outside + "/keep.txt", "k");
  const std::string tree = root + "/tree";
  MakeFolder(tree + "/plain");
  MakeFolder(tree + "/inner");
  WriteFile(tree + "/plain/file.txt", "f");
  WriteFile(tree + "/inner/file.txt", "f");
  ASSERT_EQ(symlink(outside.c_str(), (tree + "/inner/to-folder").c_str()), 0);
  ASSERT_EQ(symlink((root + "/nowhere").c_str(), (tree + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((tree + "/pipe").c_str(), 0600), 0);

  DeleteFolderTree(tree);
  EXPECT_EQ(ListFolder(tree), (std::vector<std::string>{"dangling", "inner", "pipe"}));
  EXPECT_EQ(ListFolder(tree + "/inner"), std::vector<std::string>{"to-folder"});
  EXPECT_EQ(ListFolder(outside), (std::vector<std::string>{"keep.txt", "sub"}));

  // Given a link itself, nothing goes.
  const std::string link = root + "/link";
  ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
  DeleteFolderTree(link);
  EXPECT_TRUE(ModeOf(link));
  EXPECT_EQ(ListFolder(outside), (std::vector<std::string>{"keep.txt", "sub"}));
}

TEST_F(FolderRoutinesTest, DeleteFolderTreeLeavesFilesAndMissingPathsAlone) {
  WriteFile(root + "/plain", "p");
  DeleteFolderTree(root + "/plain");
  EXPECT_EQ(ReadFile(root + "/plain"), "p");
  DeleteFolderTree(root + "/missing");
  DeleteFolderTree("");
  EXPECT_TRUE(ModeOf(root + "/plain"));
}

}  // namespace
}  // namespace orvex::test
