// The settings store on real files in a temporary config folder.

#include "settings/settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/texts.h"
#include "tests/settings/temp_home.h"

namespace orvex::test {
namespace {

constexpr char kDefaultFile[] = "[options]\nbMute=0\nvolume=9500\neachJump=3\n";

std::string ReadFailed(const std::string& path, int error) {
  return FormatText(kTextReadFailed, {path, std::strerror(error)});
}

std::string WriteFailed(const std::string& path, int error) {
  return FormatText(kTextWriteFailed, {path, std::strerror(error)});
}

// Runs body in a child process on a fresh settings value and a shell that records its messages.
ChildOutcome RunWithChildSettings(
    const std::function<ChildAnswer(Settings&, RecordingShell&)>& body) {
  return RunInChild([&] {
    std::vector<std::string> childLog;
    RecordingShell childShell(&childLog);
    Settings childSettings;
    return body(childSettings, childShell);
  });
}

// Runs act on a fresh settings value in a child process that has given up root (root reads
// and writes whatever the permissions say) and describes them afterwards.
ChildOutcome RunUnprivileged(const std::function<void(Settings&, Shell&)>& act) {
  return RunWithChildSettings([&](Settings& childSettings, RecordingShell& childShell) {
    if (!DropRootPrivileges()) return ChildSkip("cannot switch from root to an unprivileged user");
    act(childSettings, childShell);
    return ChildText(Describe(childSettings, childShell));
  });
}

// A value as stored under a key and what loading makes of it.
struct StoredCase {
  const char* stored;
  int32_t expected;
};

// Loads from a settings file holding text.
class LoadSettingsTest : public TempHomeTest {
 protected:
  void LoadFrom(const std::string& text) {
    WriteSettings(text);
    settings = LoadShown(shell);
  }

  // Loads each stored value of key alone and checks the App's field.
  void ExpectLoaded(const char* key, int32_t Settings::*field,
                    const std::vector<StoredCase>& cases) {
    for (const StoredCase& c : cases) {
      SCOPED_TRACE(c.stored);
      LoadFrom(std::string("[options]\n") + key + "=" + c.stored + "\n");
      EXPECT_EQ(settings.*field, c.expected);
    }
  }
};

TEST_F(LoadSettingsTest, NoFileGivesDefaults) {
  settings.mute = 1;
  settings.volume = -1234;
  settings.jumpSeconds = 0;
  settings = LoadShown(shell);
  EXPECT_EQ(settings.mute, 0);
  EXPECT_EQ(settings.volume, -500);
  EXPECT_EQ(settings.jumpSeconds, 3);
  EXPECT_TRUE(shell.errors.empty());
  EXPECT_FALSE(ModeOf(config)) << "loading must not create anything";
}

TEST_F(LoadSettingsTest, ReadsTheStoredValues) {
  LoadFrom("[options]\nbMute=1\nvolume=8000\neachJump=5\n");
  EXPECT_EQ(settings.mute, 1);
  EXPECT_EQ(settings.volume, -2000);
  EXPECT_EQ(settings.jumpSeconds, 5);
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(LoadSettingsTest, VolumeOutsideItsRangeBecomesFiveDecibelsDown) {
  const std::vector<StoredCase> cases = {
      {"10000", 0},         {"0", -10000},         {"10001", -500},  {"9999", -1},
      {"1", -9999},         {"-1", -500},          {"-10000", -500}, {"4294967295", -500},
      {"2147483647", -500}, {"-2147483648", -500}, {"loud", -500},   {"", -500},
      {"7000dB", -3000},
  };
  ExpectLoaded("volume", &Settings::volume, cases);
}

TEST_F(LoadSettingsTest, JumpSizeIsClampedToOneToNine) {
  ExpectLoaded(
      "eachJump", &Settings::jumpSeconds,
      {{"0", 1}, {"10", 9}, {"7", 7}, {"1", 1}, {"9", 9}, {"-3", 1}, {"2147483648", 9}, {"x", 3}});
}

TEST_F(LoadSettingsTest, MuteIsOnForAnyNumberButZero) {
  ExpectLoaded("bMute", &Settings::mute,
               {{"1", 1},
                {"2", 1},
                {"-1", 1},
                {"4294967295", 1},
                {"99999999999999999999", 1},
                {"-2147483649", 1},
                {"0", 0},
                {"-0", 0},
                {"yes", 0},
                {"", 0}});
}

TEST_F(LoadSettingsTest, GarbageGivesDefaultsWithoutAMessage) {
  std::mt19937 random(99);
  std::string binary(200000, '\0');
  for (char& c : binary) c = static_cast<char>(random() & 0xFF);
  for (const std::string& text :
       {binary, std::string("volume=1\n=\n[\n]\n[]\n==[options\n"), std::string(5000, '\n'),
        std::string("[options]\n") + std::string(100000, '=')}) {
    settings.mute = 7;
    LoadFrom(text);
    EXPECT_EQ(settings.mute, 0);
    EXPECT_EQ(settings.volume, -500);
    EXPECT_EQ(settings.jumpSeconds, 3);
  }
  EXPECT_TRUE(shell.errors.empty());
}

// A settings file of exactly size bytes that holds volume=8000.
std::string FileOfSize(size_t size) {
  std::string text = "[options]\nvolume=8000\n;";
  text.append(size - text.size() - 1, 'x');
  text.push_back('\n');
  return text;
}

TEST_F(LoadSettingsTest, AFileJustUnderOneMebibyteIsRead) {
  LoadFrom(FileOfSize(1048575));
  EXPECT_EQ(settings.volume, -2000);
  ASSERT_TRUE(ModeOf(SettingsFile()));
  EXPECT_EQ(ReadFile(SettingsFile())->size(), 1048575u);
}

TEST_F(LoadSettingsTest, AFileOfOneMebibyteOrMoreIsDeletedUnread) {
  for (size_t size : {1048576u, 3000000u}) {
    SCOPED_TRACE(size);
    LoadFrom(FileOfSize(size));
    EXPECT_EQ(settings.volume, -500);
    EXPECT_FALSE(ModeOf(SettingsFile()));
  }
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(LoadSettingsTest, AnOversizedFileBehindALinkLosesOnlyTheLink) {
  const std::string target = root + "/big.ini";
  WriteFile(target, FileOfSize(1048576));
  MakeFolder(SettingsFolder());
  ASSERT_EQ(symlink(target.c_str(), SettingsFile().c_str()), 0);
  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -500);
  EXPECT_FALSE(ModeOf(SettingsFile()));
  EXPECT_EQ(ReadFile(target)->size(), 1048576u);
}

TEST_F(LoadSettingsTest, AReadOnlyFileIsRead) {
  WriteSettings("[options]\nvolume=8000\n");
  ASSERT_EQ(chmod(SettingsFile().c_str(), 0444), 0);
  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -2000);
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(LoadSettingsTest, AFolderInTheFilesPlaceGivesDefaultsSilently) {
  MakeFolder(SettingsFile());
  WriteFile(SettingsFile() + "/note.txt", "volume=8000\n");
  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -500);
  EXPECT_TRUE(shell.errors.empty());
  EXPECT_EQ(ReadFile(SettingsFile() + "/note.txt"), "volume=8000\n") << "loading deletes nothing";
}

TEST_F(LoadSettingsTest, AFileInTheSettingsFoldersPlaceGivesDefaultsSilently) {
  MakeFolder(config);
  WriteFile(SettingsFolder(), "[options]\nvolume=8000\n");
  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -500);
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(LoadSettingsTest, APipeInTheFilesPlaceDoesNotHangTheStart) {
  MakeFolder(SettingsFolder());
  ASSERT_EQ(mkfifo(SettingsFile().c_str(), 0644), 0);
  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -500);
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(LoadSettingsTest, AFileThatCannotBeOpenedIsReported) {
  WriteSettings("[options]\nvolume=8000\neachJump=5\n");
  ASSERT_EQ(chmod(SettingsFile().c_str(), 0), 0);
  const ChildOutcome outcome = RunUnprivileged(
      [](Settings& childSettings, Shell& childShell) { childSettings = LoadShown(childShell); });
  if (!outcome.ran) GTEST_SKIP() << outcome.text;
  EXPECT_EQ(outcome.text,
            "bMute=0 volume=-500 jump=3\nerror:" + ReadFailed(SettingsFile(), EACCES));
}

class SaveSettingsTest : public TempHomeTest {};

TEST_F(SaveSettingsTest, WritesExactlyTheThreeKeysInOrder) {
  settings.mute = 1;
  settings.volume = -2000;
  settings.jumpSeconds = 5;
  SaveShown(settings, shell);
  EXPECT_EQ(ReadFile(SettingsFile()), "[options]\nbMute=1\nvolume=8000\neachJump=5\n");
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(SaveSettingsTest, FirstStartWritesTheDefaultsAndMakesTheFolders) {
  settings = LoadShown(shell);
  SaveShown(settings, shell);
  EXPECT_EQ(ReadFile(SettingsFile()), kDefaultFile);
  EXPECT_EQ(ListFolder(SettingsFolder()), std::vector<std::string>{"options.ini"})
      << "no temporary file is left behind";
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(SaveSettingsTest, WhatIsSavedLoadsBack) {
  const struct {
    int32_t bMute, volume, jump;
  } cases[] = {{0, -500, 3}, {1, 0, 1}, {0, -10000, 9}, {1, -1, 7}};
  for (const auto& c : cases) {
    settings.mute = c.bMute;
    settings.volume = c.volume;
    settings.jumpSeconds = c.jump;
    SaveShown(settings, shell);
    const Settings loaded = LoadShown(shell);
    EXPECT_EQ(loaded.mute, c.bMute);
    EXPECT_EQ(loaded.volume, c.volume);
    EXPECT_EQ(loaded.jumpSeconds, c.jump);
  }
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(SaveSettingsTest, MuteIsWrittenAsZeroOrOne) {
  // A hand-edited -1 goes back as 1, never as the unsigned 4294967295.
  WriteSettings("[options]\nbMute=-1\nvolume=8000\neachJump=4\n");
  SaveShown(LoadShown(shell), shell);
  EXPECT_EQ(ReadFile(SettingsFile()), "[options]\nbMute=1\nvolume=8000\neachJump=4\n");
  for (const int32_t mute : {-1, 2, INT32_MIN, INT32_MAX}) {
    settings.mute = mute;
    SaveShown(settings, shell);
    EXPECT_EQ(ReadFile(SettingsFile()), "[options]\nbMute=1\nvolume=9500\neachJump=3\n") << mute;
    EXPECT_EQ(LoadShown(shell).mute, 1);
  }
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(SaveSettingsTest, AVolumeOutsideItsRangeComesBackAsTheDefault) {
  settings.volume = -20000;
  settings.jumpSeconds = 0;
  SaveShown(settings, shell);
  EXPECT_EQ(ReadFile(SettingsFile()), "[options]\nbMute=0\nvolume=4294957296\neachJump=0\n");
  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -500);
  EXPECT_EQ(settings.jumpSeconds, 1);
}

TEST_F(SaveSettingsTest, OtherKeysAndSectionsAreLost) {
  WriteSettings(
      "; my settings\n[window]\nx=10\n[OPTIONS]\ntheme=dark\nvolume=8000\nbMute=1\n"
      "eachJump=4\n[extra]\ny=2\n");
  settings = LoadShown(shell);
  SaveShown(settings, shell);
  EXPECT_EQ(ReadFile(SettingsFile()), "[options]\nbMute=1\nvolume=8000\neachJump=4\n");
}

TEST_F(SaveSettingsTest, AReadOnlyFileIsRewrittenAndWritableAgain) {
  WriteSettings("[options]\nvolume=8000\n");
  ASSERT_EQ(chmod(SettingsFile().c_str(), 0444), 0);
  settings = LoadShown(shell);
  settings.jumpSeconds = 6;
  SaveShown(settings, shell);
  EXPECT_EQ(ReadFile(SettingsFile()), "[options]\nbMute=0\nvolume=8000\neachJump=6\n");
  EXPECT_EQ(*ModeOf(SettingsFile()) & 0777, 0644u);
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(SaveSettingsTest, AFileItsOwnerCouldNotReadIsReadableAgainAfterOneSave) {
  // The user's own settings at mode 000: the first start cannot read them,
  // and its save must not leave them that way.
  WriteSettings("[options]\nvolume=8000\neachJump=5\n");
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(chown(SettingsFolder().c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chown(SettingsFile().c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chmod(SettingsFile().c_str(), 0), 0);
  const auto run = [](Settings& childSettings, Shell& childShell) {
    childSettings = LoadShown(childShell);
    childSettings.jumpSeconds = 7;
    SaveShown(childSettings, childShell);
  };
  const ChildOutcome first = RunUnprivileged(run);
  if (!first.ran) GTEST_SKIP() << first.text;
  EXPECT_EQ(first.text, "bMute=0 volume=-500 jump=7\nerror:" + ReadFailed(SettingsFile(), EACCES));
  EXPECT_EQ(*ModeOf(SettingsFile()) & 0777, 0600u);
  const ChildOutcome second = RunUnprivileged(run);
  EXPECT_EQ(second.text, "bMute=0 volume=-500 jump=7");
  // What others may do with the file is kept; the owner may always read and write.
  ASSERT_EQ(chmod(SettingsFile().c_str(), 0044), 0);
  EXPECT_EQ(RunUnprivileged(run).text,
            "bMute=0 volume=-500 jump=7\nerror:" + ReadFailed(SettingsFile(), EACCES));
  EXPECT_EQ(*ModeOf(SettingsFile()) & 0777, 0644u);
}

TEST_F(SaveSettingsTest, TemporaryFilesOfAKilledSaveGoAtTheNextSave) {
  MakeFolder(SettingsFolder());
  const std::string stale = SettingsFolder() + "/options.ini.tmp-a1B2c3";
  const std::string fresh = SettingsFolder() + "/options.ini.tmp-Zz9Yy8";
  const std::string others[] = {SettingsFolder() + "/options.ini.tmp-abc",
                                SettingsFolder() + "/notes.txt.tmp-a1B2c3",
                                SettingsFolder() + "/options.ini.tmp-a1B2c3d"};
  for (const std::string& name : {stale, fresh}) WriteFile(name, "half a save");
  for (const std::string& name : others) WriteFile(name, "not ours");
  // A save of another copy of the program may be under way: only files left
  // for a while are stale.
  const struct timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
  for (const std::string& name : {stale, others[0], others[1], others[2]}) {
    ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), old, 0), 0);
  }
  SaveShown(settings, shell);
  EXPECT_EQ(
      ListFolder(SettingsFolder()),
      (std::vector<std::string>{"notes.txt.tmp-a1B2c3", "options.ini", "options.ini.tmp-Zz9Yy8",
                                "options.ini.tmp-a1B2c3d", "options.ini.tmp-abc"}));
}

TEST_F(SaveSettingsTest, AFolderInTheFilesPlaceIsLeftWithWhatItHoldsAndReported) {
  MakeFolder(SettingsFile() + "/sub/deeper");
  WriteFile(SettingsFile() + "/a.txt", "a");
  WriteFile(SettingsFile() + "/sub/deeper/b.txt", "b");
  settings = LoadShown(shell);
  EXPECT_EQ(settings, Settings{});
  settings.jumpSeconds = 6;
  SaveShown(settings, shell);
  EXPECT_EQ(shell.errors, std::vector<std::string>{WriteFailed(SettingsFile(), EISDIR)});
  EXPECT_EQ(ReadFile(SettingsFile() + "/a.txt"), "a");
  EXPECT_EQ(ReadFile(SettingsFile() + "/sub/deeper/b.txt"), "b");
  EXPECT_EQ(ListFolder(SettingsFolder()), std::vector<std::string>{"options.ini"});
}

TEST_F(SaveSettingsTest, AFileInTheSettingsFoldersPlaceIsLeftAndReported) {
  MakeFolder(config);
  WriteFile(SettingsFolder(), "[options]\nvolume=8000\n");
  settings = LoadShown(shell);
  EXPECT_EQ(settings, Settings{});
  SaveShown(settings, shell);
  SaveLearnShown(LearnSettings{}, shell);
  EXPECT_EQ(shell.errors,
            (std::vector<std::string>{WriteFailed(SettingsFile(), ENOTDIR),
                                      WriteFailed(SettingsFolder() + "/learn.ini", ENOTDIR)}));
  EXPECT_EQ(ReadFile(SettingsFolder()), "[options]\nvolume=8000\n");
}

TEST_F(SaveSettingsTest, APipeInTheFilesPlaceIsLeftAndReported) {
  MakeFolder(SettingsFolder());
  ASSERT_EQ(mkfifo(SettingsFile().c_str(), 0600), 0);
  SaveShown(LoadShown(shell), shell);
  EXPECT_EQ(shell.errors, std::vector<std::string>{WriteFailed(SettingsFile(), EEXIST)});
  EXPECT_TRUE(S_ISFIFO(*ModeOf(SettingsFile())));
}

TEST_F(SaveSettingsTest, ALinkToAFolderIsReplacedAndTheFolderKept) {
  const std::string target = root + "/precious";
  MakeFolder(target + "/inner");
  WriteFile(target + "/one.txt", "1");
  WriteFile(target + "/inner/two.txt", "2");
  MakeFolder(SettingsFolder());
  ASSERT_EQ(symlink(target.c_str(), SettingsFile().c_str()), 0);

  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -500);
  SaveShown(settings, shell);

  EXPECT_TRUE(S_ISREG(*ModeOf(SettingsFile())));
  EXPECT_EQ(ReadFile(SettingsFile()), kDefaultFile);
  EXPECT_EQ(ReadFile(target + "/one.txt"), "1");
  EXPECT_EQ(ReadFile(target + "/inner/two.txt"), "2");
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(SaveSettingsTest, ALinkToAFileIsReadThenReplacedWithoutTouchingItsTarget) {
  const std::string target = root + "/dotfiles.ini";
  WriteFile(target, "[options]\nvolume=8000\n");
  MakeFolder(SettingsFolder());
  ASSERT_EQ(symlink(target.c_str(), SettingsFile().c_str()), 0);
  settings = LoadShown(shell);
  EXPECT_EQ(settings.volume, -2000);
  settings.jumpSeconds = 8;
  SaveShown(settings, shell);
  EXPECT_TRUE(S_ISREG(*ModeOf(SettingsFile())));
  EXPECT_EQ(ReadFile(SettingsFile()), "[options]\nbMute=0\nvolume=8000\neachJump=8\n");
  EXPECT_EQ(ReadFile(target), "[options]\nvolume=8000\n");
}

// A settings file holding the previous save, for the failure cases.
constexpr char kOldFile[] = "[options]\nbMute=1\nvolume=7000\neachJump=2\n; kept\n";

TEST_F(SaveSettingsTest, AFailedWriteKeepsTheOldFileAndIsReported) {
  WriteSettings(kOldFile);
  const std::string file = SettingsFile();
  const ChildOutcome outcome =
      RunWithChildSettings([&](Settings& childSettings, RecordingShell& childShell) {
        // A file size limit makes the write fail part way, as a full disk does,
        // and holds for root too.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, RLIM_INFINITY};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return ChildSkip("cannot limit the file size");
        SaveShown(childSettings, childShell);
        return ChildText(Describe(childSettings, childShell));
      });
  ASSERT_TRUE(outcome.ran) << outcome.text;
  EXPECT_EQ(outcome.text, "bMute=0 volume=-500 jump=3\nerror:" + WriteFailed(file, EFBIG));
  EXPECT_EQ(ReadFile(file), kOldFile);
  EXPECT_EQ(ListFolder(SettingsFolder()), std::vector<std::string>{"options.ini"});
}

TEST_F(SaveSettingsTest, AFullDiskKeepsTheOldFileAndIsReported) {
  MakeFolder(config);
  const std::string file = SettingsFile();
  const std::string cfg = config;
  const ChildOutcome outcome = RunWithChildSettings([&](Settings& childSettings,
                                                        RecordingShell& childShell) {
    // A tiny file system of its own, in a mount namespace that ends with the child.
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", cfg.c_str(), "tmpfs", 0, "size=64k") != 0) {
      return ChildSkip(std::string("cannot mount a small tmpfs here: ") + std::strerror(errno));
    }
    childSettings.mute = 1;
    childSettings.volume = -3000;
    childSettings.jumpSeconds = 2;
    SaveShown(childSettings, childShell);
    const std::string before = ReadFile(file).value_or("(none)");
    {
      const std::string filler = cfg + "/filler";
      FILE* out = std::fopen(filler.c_str(), "wb");
      if (!out) return ChildSkip("cannot fill the tmpfs");
      const std::string block(4096, 'f');
      while (std::fwrite(block.data(), 1, block.size(), out) == block.size() && !std::ferror(out)) {
        if (std::fflush(out) != 0) break;
      }
      std::fclose(out);
    }
    childSettings.volume = 0;
    SaveShown(childSettings, childShell);
    std::string listing;
    for (const std::string& name : ListFolder(cfg + "/OrvexPlayer")) listing += name + " ";
    return ChildText(before + "|" + ReadFile(file).value_or("(none)") + "|" + listing + "|" +
                     Describe(childSettings, childShell));
  });
  if (!outcome.ran) GTEST_SKIP() << outcome.text;
  const std::string saved = "[options]\nbMute=1\nvolume=7000\neachJump=2\n";
  EXPECT_EQ(outcome.text, saved + "|" + saved + "|options.ini |bMute=1 volume=0 jump=2\nerror:" +
                              WriteFailed(file, ENOSPC));
}

TEST_F(SaveSettingsTest, AFolderThatCannotBeWrittenKeepsTheOldFileAndIsReported) {
  WriteSettings(kOldFile);
  ASSERT_EQ(chmod(SettingsFolder().c_str(), 0555), 0);
  const ChildOutcome outcome = RunUnprivileged([](Settings& childSettings, Shell& childShell) {
    childSettings.jumpSeconds = 9;
    SaveShown(childSettings, childShell);
  });
  if (!outcome.ran) GTEST_SKIP() << outcome.text;
  EXPECT_EQ(outcome.text,
            "bMute=0 volume=-500 jump=9\nerror:" + WriteFailed(SettingsFile(), EACCES));
  EXPECT_EQ(ReadFile(SettingsFile()), kOldFile);
  EXPECT_EQ(ListFolder(SettingsFolder()), std::vector<std::string>{"options.ini"});
}

TEST_F(SaveSettingsTest, AConfigFolderBlockedByAFileIsReported) {
  // $XDG_CONFIG_HOME itself is a file: no folder can be made below it.
  WriteFile(config, "in the way");
  SaveShown(settings, shell);
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], WriteFailed(SettingsFile(), ENOTDIR));
  EXPECT_EQ(ReadFile(config), "in the way");

  EXPECT_EQ(SaveSettings(settings), WriteFailed(SettingsFile(), ENOTDIR));
  EXPECT_EQ(ReadFile(config), "in the way");
}

}  // namespace
}  // namespace orvex::test

namespace orvex::test {
namespace {

class LearnSettingsTest : public TempHomeTest {
 protected:
  std::string LearnFile() const { return SettingsFolder() + "/learn.ini"; }
};

TEST_F(LearnSettingsTest, KeptBesideOptionsIniWhichStaysAsItWas) {
  WriteSettings(kDefaultFile);
  SaveLearnShown(LearnSettings{75, 3, RepeatGap::kAsLong, true, true, true}, shell);
  EXPECT_EQ(ReadFile(LearnFile()), "[learn]\nspeed=75\nrepeatCount=3\nrepeatGap=4\nafterEnd=1\n"
                                   "showWave=1\nshadowing=1\n");
  EXPECT_EQ(ReadFile(SettingsFile()), kDefaultFile);
  EXPECT_EQ(LoadLearnShown(shell), (LearnSettings{75, 3, RepeatGap::kAsLong, true, true, true}));
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(LearnSettingsTest, MissingBrokenOrOutOfRangeGivesTheDefaults) {
  EXPECT_EQ(LoadLearnShown(shell), LearnSettings{});
  MakeFolder(SettingsFolder());
  for (const char* text :
       {"\x01\x02garbage\xff", "[learn]\nspeed=33\nrepeatCount=4\nrepeatGap=9\n",
        "[learn]\nspeed=77\nrepeatCount=-1\nrepeatGap=-1\nafterEnd=2\nshowWave=2\nshadowing=2\n",
        "[other]\nspeed=150\nafterEnd=1\nshowWave=1\nshadowing=1\n"}) {
    WriteFile(LearnFile(), text);
    EXPECT_EQ(LoadLearnShown(shell), LearnSettings{}) << text;
  }
  WriteFile(LearnFile(), "[LEARN]\nSPEED=150\n");  // keys and section in any case
  EXPECT_EQ(LoadLearnShown(shell).rate, 150);
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(LearnSettingsTest, RefusedLikeOptionsIni) {
  MakeFolder(SettingsFolder());
  // A pipe is never read; an oversized file goes unread.
  ASSERT_EQ(mkfifo(LearnFile().c_str(), 0600), 0);
  EXPECT_EQ(LoadLearnShown(shell), LearnSettings{});
  unlink(LearnFile().c_str());
  WriteFile(LearnFile(), "[learn]\nspeed=150\n" + std::string(1 << 20, ';'));
  EXPECT_EQ(LoadLearnShown(shell), LearnSettings{});
  EXPECT_FALSE(ModeOf(LearnFile()));
  // A folder is never replaced, nor what it holds deleted.
  unlink(LearnFile().c_str());
  MakeFolder(LearnFile());
  WriteFile(LearnFile() + "/mine.txt", "mine");
  EXPECT_EQ(LoadLearnShown(shell), LearnSettings{});
  SaveLearnShown(LearnSettings{150, 2, RepeatGap::kOne}, shell);
  EXPECT_EQ(shell.errors, std::vector<std::string>{WriteFailed(LearnFile(), EISDIR)});
  EXPECT_EQ(ReadFile(LearnFile() + "/mine.txt"), "mine");
  shell.errors.clear();
  // A link is replaced by the save, its target untouched.
  const std::string target = root + "/elsewhere.ini";
  WriteFile(target, "mine");
  ASSERT_EQ(rename(LearnFile().c_str(), (root + "/kept").c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), LearnFile().c_str()), 0);
  SaveLearnShown(LearnSettings{}, shell);
  EXPECT_EQ(ReadFile(target), "mine");
  EXPECT_TRUE(S_ISREG(*ModeOf(LearnFile())));
  EXPECT_TRUE(shell.errors.empty());
}

}  // namespace
}  // namespace orvex::test
