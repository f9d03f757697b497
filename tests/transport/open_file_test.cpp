#include "transport/open_file.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "core/files.h"
#include "core/texts.h"
#include "playback/error_text.h"
#include "tests/settings/temp_home.h"
#include "tests/transport/transport_fixture.h"
#include "transport/user_file.h"

namespace orvex::test {
namespace {

namespace fs = std::filesystem;
using Log = std::vector<std::string>;

TEST(OpenFileNamesTest, ExtensionRule) {
  EXPECT_TRUE(IsMp3Name("/a/b/song.mp3"));
  EXPECT_TRUE(IsMp3Name("/a/b/song.MP3"));
  EXPECT_TRUE(IsMp3Name("/a/b/song.Mp3"));
  EXPECT_TRUE(IsMp3Name("relative.mP3"));
  EXPECT_FALSE(IsMp3Name("/a/b/song.mp3.txt"));
  EXPECT_FALSE(IsMp3Name("/a/b/song"));
  EXPECT_FALSE(IsMp3Name("/a/b.mp3/folder"));
  EXPECT_FALSE(IsMp3Name("/a/b/song.mp4"));
  EXPECT_FALSE(IsMp3Name("/a/b/song.mp33"));
  EXPECT_FALSE(IsMp3Name(""));
  EXPECT_EQ(FindExtension("/x.y/name"), "");
  EXPECT_EQ(FindExtension("/x/name.tar.gz"), ".gz");
}

TEST(OpenFileNamesTest, TitleIsTheNameWithoutItsLastExtension) {
  EXPECT_EQ(FileTitle("/home/u/English/lesson 1.mp3"), "lesson 1");
  EXPECT_EQ(FileTitle("/home/u/a.b.mp3"), "a.b");
  EXPECT_EQ(FileTitle("/home/u.v/noext"), "noext");
  EXPECT_EQ(FileTitle("/home/u/听力 第一课.MP3"), "听力 第一课");
}

TEST(OpenFileNamesTest, RepairCommandKeepsEachPathOneArgument) {
  const RepairCommand c = MakeRepairCommand("/opt/orvex", "/home/u/my \"odd\" file; rm -rf ~.mp3");
  EXPECT_EQ(c.program, "/opt/orvex/mp3val");
  ASSERT_EQ(c.arguments.size(), 2u);
  EXPECT_EQ(c.arguments[0], "-f");
  EXPECT_EQ(c.arguments[1], "/home/u/my \"odd\" file; rm -rf ~.mp3");
  EXPECT_EQ(MakeRepairCommand("/opt/orvex/", "/a.mp3").program, "/opt/orvex/mp3val");
}

// A temporary folder standing in for the program folder.
class ProgramFolder {
 public:
  ProgramFolder() {
    char name[] = "/tmp/orvex-open-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ProgramFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, size_t size) const {
    const std::string file = JoinPath(path_, name);
    std::ofstream(file, std::ios::binary) << std::string(size, 'x');
    return file;
  }
  std::string WriteBytes(const std::string& name, const std::string& bytes) const {
    const std::string file = JoinPath(path_, name);
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

 private:
  std::string path_;
};

TEST(RejectSoundTest, PlaysOnlyASoundOfOneByteToJustUnderOneMebibyte) {
  ProgramFolder folder;
  int played = 0;
  const auto play = [&](const std::string&) {
    ++played;
    return true;
  };
  EXPECT_EQ(PlayRejectSound(folder.path(), play), 0);  // missing
  folder.Write("chord.wav", 0);
  EXPECT_EQ(PlayRejectSound(folder.path(), play), 0);
  folder.Write("chord.wav", 1);
  EXPECT_EQ(PlayRejectSound(folder.path(), play), 1);
  folder.Write("chord.wav", 1048575);
  EXPECT_EQ(PlayRejectSound(folder.path(), play), 1);
  folder.Write("chord.wav", 1048576);
  EXPECT_EQ(PlayRejectSound(folder.path(), play), 0);
  EXPECT_EQ(played, 2);
  // A sound that fails to play reports 0.
  folder.Write("chord.wav", 10);
  EXPECT_EQ(PlayRejectSound(folder.path(), [](const std::string&) { return false; }), 0);
}

TEST(FileCheckTest, NeedsTheRepairToolBesideTheProgram) {
  ProgramFolder folder;
  EXPECT_FALSE(FileCheck(folder.path()));
  // A link to a tool that is not there fails too.
  fs::create_symlink("/nonexistent/mp3val", JoinPath(folder.path(), "mp3val"));
  EXPECT_FALSE(FileCheck(folder.path()));
  fs::remove(JoinPath(folder.path(), "mp3val"));
  folder.Write("mp3val", 10);
  EXPECT_TRUE(FileCheck(folder.path()));
}

class OpenFileTest : public TransportTest {
 protected:
  OpenFileTest() { app.SetProgramFolder(folder.path()); }

  // Opens path; a repair it starts runs (tool stands for the repair tool) and
  // ends, and the window tells the application, as the repair dialog does.
  void Open(const std::string& path) {
    const size_t before = shell.repairs.size();
    app.OpenFile(path);
    if (shell.repairs.size() == before) return;
    if (tool) tool(shell.repairs.back());
    app.RepairFinished(shell.repairTickets.back());
  }

  ProgramFolder folder;
  std::function<void(const RepairCommand&)> tool;
};

TEST_F(OpenFileTest, SuccessfulOpenInOrder) {
  app.SetChannel(1);
  app.SetVolume(-700);
  const std::string path = folder.Write("lesson 1.mp3", 100);
  log.clear();
  app.OpenFile(path);
  const std::string title = "lesson 1 - " + std::string(Text(kTextCaption));
  // The settings reach the player before it plays from the start.
  EXPECT_EQ(shell.Matching("player."),
            (Log{"player.BuildWithMp3Parser", "player.SetChannel(1)", "player.SetVolume(-700)",
                 "player.SeekMs(0)", "player.Run"}));
  // The window sees the file loaded, then playing.
  ASSERT_GE(shell.views.size(), 3u);
  const TransportView& loaded = shell.views[shell.views.size() - 2];
  EXPECT_TRUE(loaded.loaded);
  EXPECT_EQ(loaded.playState, Stopped);
  EXPECT_EQ(loaded.status, "已载入mp3文件");
  EXPECT_TRUE(view().loaded);
  EXPECT_EQ(view().playState, Playing);
  EXPECT_EQ(view().status, "播放中…");
  EXPECT_EQ(view().filePath, path);
  EXPECT_EQ(view().title, title);
}

TEST_F(OpenFileTest, MutedOpenAppliesSilence) {
  app.SetMute(true);
  app.SetVolume(-700);
  app.OpenFile(folder.Write("a.mp3", 10));
  EXPECT_EQ(factory.last->volume, kVolumeSilent);
}

TEST_F(OpenFileTest, SecondBuilderTakesOverOnTheSamePlayer) {
  factory.buildScript.push_back({kErrNotMpegAudio, kOk});
  app.OpenFile(folder.Write("stream.mp3", 10));
  EXPECT_EQ(factory.created, 1);
  EXPECT_EQ(factory.last->builtWith, "splitter");
  EXPECT_TRUE(shell.repairs.empty());
  EXPECT_EQ(view().playState, Playing);
}

// A player that builds on a thread of its own answers by event: the open
// goes on from each result (the second builder after the first failed), a
// command meanwhile finds no file yet, and a new open drops the build.
TEST_F(OpenFileTest, ABuildAnsweredByEventGoesOnFromItsResult) {
  factory.deferBuilds = true;
  factory.buildScript.push_back({kErrNotMpegAudio, kOk});
  const std::string path = folder.Write("stream.mp3", 10);
  app.OpenFile(path);
  EXPECT_TRUE(app.opening());
  EXPECT_FALSE(view().loaded);
  app.TogglePlay();  // nothing to play yet
  EXPECT_FALSE(factory.last->running);
  // The parser's failure, then (the splitter asked on the same player) its
  // success.
  app.OnGraphEvent();
  EXPECT_EQ(factory.created, 1);
  EXPECT_FALSE(app.opening());
  EXPECT_TRUE(view().loaded);
  EXPECT_EQ(view().playState, Playing);
  EXPECT_EQ(factory.last->builtWith, "splitter");
  EXPECT_TRUE(shell.repairs.empty());

  const std::string other = folder.Write("other.mp3", 10);
  app.OpenFile(other);
  log.clear();
  app.OpenFile(path);  // wins over the build of other.mp3, which goes
  EXPECT_EQ(std::count(log.begin(), log.end(), "player.Teardown"), 1);
  app.OnGraphEvent();
  EXPECT_EQ(view().filePath, path);
  EXPECT_EQ(view().playState, Playing);
}

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st;
}

TEST_F(OpenFileTest, RepairWorksOnAPrivateCopyThatTakesThePlaceOfTheFileOnceItLoads) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  const std::string path = folder.Write("broken file.mp3", 10);
  const std::string usersBackup = folder.Write("broken file.mp3.bak", 7);
  chmod(path.c_str(), 0444);
  const struct stat before = StatOf(path);
  std::string copy;
  tool = [&](const RepairCommand& command) {
    // While the tool runs, nothing of the file is held, and the tool sees
    // only its copy, in a private folder beside the file, with a private
    // folder for its temporary files.
    EXPECT_TRUE(app.opening());
    EXPECT_FALSE(view().loaded);
    EXPECT_EQ(factory.created, 1);
    ASSERT_EQ(command.arguments.size(), 2u);
    copy = command.arguments[1];
    EXPECT_EQ(command.arguments[0], "-f");
    EXPECT_NE(copy, path);
    EXPECT_EQ(fs::path(copy).parent_path().parent_path(), fs::path(folder.path()));
    EXPECT_EQ(Content(copy), Content(path));
    ASSERT_EQ(command.environment.size(), 1u);
    EXPECT_EQ(command.environment[0].first, "TMPDIR");
    EXPECT_TRUE(fs::is_directory(command.environment[0].second));
    // The tool mends the copy and keeps its own backup beside it.
    std::ofstream(copy + ".bak") << "tool's own backup";
    std::ofstream(copy, std::ios::trunc) << "mended";
  };
  Open(path);
  ASSERT_EQ(shell.repairs.size(), 1u);
  EXPECT_EQ(shell.repairs[0].program, JoinPath(folder.path(), "mp3val"));
  EXPECT_EQ(factory.created, 2);
  EXPECT_EQ(factory.last->builtPath, copy);
  EXPECT_FALSE(app.opening());
  EXPECT_TRUE(shell.errors.empty());
  EXPECT_TRUE(view().loaded);
  EXPECT_EQ(view().filePath, path);

  // The mended file is in place with the original's mode; the user's own
  // backup is as it was, and the original went to the next free name,
  // untouched; the private folder is gone.
  EXPECT_EQ(Content(path), "mended");
  EXPECT_EQ(StatOf(path).st_mode, before.st_mode);
  EXPECT_EQ(Content(usersBackup), "xxxxxxx");
  const std::string originalKept = path + ".1.bak";
  EXPECT_EQ(Content(originalKept), std::string(10, 'x'));
  EXPECT_EQ(StatOf(originalKept).st_mode, before.st_mode);
  EXPECT_EQ(StatOf(originalKept).st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_FALSE(fs::exists(fs::path(copy).parent_path()));
  EXPECT_EQ(test::ListFolder(folder.path()),
            (std::vector<std::string>{"broken file.mp3", "broken file.mp3.1.bak",
                                      "broken file.mp3.bak"}));
}

TEST_F(OpenFileTest, FailedRepairLeavesEverythingAsItWas) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  factory.buildScript.push_back({kErrNotMpegAudio, kErrStream});
  const std::string path = folder.Write("bad.mp3", 10);
  folder.Write("bad.mp3.bak", 7);
  tool = [&](const RepairCommand& command) {
    // The tool empties a file it finds no audio in.
    std::ofstream(command.arguments[1], std::ios::trunc).flush();
  };
  Open(path);
  EXPECT_EQ(shell.repairs.size(), 1u);
  EXPECT_EQ(factory.created, 2);
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], FormatText(kTextLoadFailed, {OwnErrorText(kErrStream)}));
  EXPECT_FALSE(view().loaded);
  EXPECT_EQ(view().title, std::string(Text(kTextCaption)));
  EXPECT_EQ(shell.Matching("player.Teardown").size(), 2u);
  EXPECT_EQ(Content(path), std::string(10, 'x'));
  EXPECT_EQ(Content(path + ".bak"), std::string(7, 'x'));
  EXPECT_EQ(test::ListFolder(folder.path()), (std::vector<std::string>{"bad.mp3", "bad.mp3.bak"}));
}

TEST_F(OpenFileTest, ALinkIsNeverReplacedTheRepairActsOnItsTarget) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  fs::create_directory(folder.path() + "/store");
  const std::string target = folder.Write("store/real.mp3", 10);
  const std::string link = folder.path() + "/link.mp3";
  fs::create_symlink(target, link);
  tool = [&](const RepairCommand& command) {
    EXPECT_EQ(fs::path(command.arguments[1]).parent_path().parent_path(),
              fs::path(folder.path() + "/store"));
    std::ofstream(command.arguments[1], std::ios::trunc) << "mended";
  };
  Open(link);
  EXPECT_EQ(view().filePath, link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), fs::path(target));
  EXPECT_EQ(Content(target), "mended");
  EXPECT_EQ(Content(target + ".bak"), std::string(10, 'x'));
  EXPECT_FALSE(fs::exists(link + ".bak"));
}

TEST_F(OpenFileTest, PipesDevicesAndFoldersFailAtOnceWithoutARepair) {
  const std::string fifo = folder.path() + "/x.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(folder.path() + "/folder.mp3");
  for (const std::string& path : {fifo, folder.path() + "/folder.mp3", std::string("/dev/null")}) {
    shell.errors.clear();
    app.OpenFile(path);
    EXPECT_EQ(factory.created, 0) << path;
    EXPECT_TRUE(shell.repairs.empty()) << path;
    ASSERT_EQ(shell.errors.size(), 1u) << path;
    EXPECT_EQ(shell.errors[0], FormatText(kTextLoadFailed, {OwnErrorText(kErrNotRegularFile)}));
    EXPECT_FALSE(view().loaded);
  }
}

TEST_F(OpenFileTest, AMissingFileHasNothingToRepair) {
  factory.buildScript.push_back({kErrCannotOpen, kErrCannotOpen});
  app.OpenFile(folder.path() + "/nowhere.mp3");
  EXPECT_TRUE(shell.repairs.empty());
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], FormatText(kTextLoadFailed, {OwnErrorText(kErrCannotOpen)}));
  EXPECT_TRUE(test::ListFolder(folder.path()).empty());
}

TEST_F(OpenFileTest, OpeningNeverChangesModes) {
  for (const mode_t mode : {0444, 0000, 0640}) {
    const std::string path = folder.Write("ro.mp3", 5);
    const std::string backup = folder.Write("ro.mp3.bak", 5);
    chmod(path.c_str(), mode);
    chmod(backup.c_str(), mode);
    app.OpenFile(path);
    EXPECT_EQ(StatOf(path).st_mode & 07777, mode);
    EXPECT_EQ(StatOf(backup).st_mode & 07777, mode);
  }
}

TEST_F(OpenFileTest, ModesHoldForAUserTheyApplyTo) {
  // Root ignores modes; the user they were set for does not.
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  ASSERT_EQ(chown(folder.path().c_str(), kNobody, kNobody), 0);
  const std::string readOnly = folder.Write("ro.mp3", 10);
  const std::string locked = folder.Write("locked.mp3", 10);
  for (const auto& [path, mode] : {std::pair{readOnly, 0444}, std::pair{locked, 0000}}) {
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }
  const ChildOutcome outcome = RunInChild([&] {
    if (!DropRootPrivileges()) return ChildSkip("cannot switch from root to an unprivileged user");
    std::string text;
    // Neither file loads at first; the tool mends the read-only one's copy.
    factory.buildScript = {
        {kErrNotMpegAudio, kErrNotFound}, {kOk, kOk}, {kErrCannotOpen, kErrCannotOpen}};
    tool = [](const RepairCommand& c) {
      std::ofstream(c.arguments[1], std::ios::trunc) << "mended";
    };
    Open(readOnly);
    text += "ro:" + std::to_string(app.view().loaded) +
            " repairs:" + std::to_string(shell.repairs.size());
    Open(locked);
    text += " locked:" + std::to_string(app.view().loaded) +
            " repairs:" + std::to_string(shell.repairs.size()) +
            " errors:" + std::to_string(shell.errors.size());
    return ChildText(text);
  });
  if (!outcome.ran) GTEST_SKIP() << outcome.text;
  EXPECT_EQ(outcome.text, "ro:1 repairs:1 locked:0 repairs:1 errors:1");
  EXPECT_EQ(Content(readOnly), "mended");
  EXPECT_EQ(StatOf(readOnly).st_mode & 07777, 0444u);
  EXPECT_EQ(StatOf(readOnly).st_uid, kNobody);
  EXPECT_EQ(Content(readOnly + ".bak"), std::string(10, 'x'));
  EXPECT_EQ(StatOf(locked).st_mode & 07777, 0u);
  EXPECT_EQ(Content(locked), std::string(10, 'x'));
  EXPECT_EQ(test::ListFolder(folder.path()),
            (std::vector<std::string>{"locked.mp3", "ro.mp3", "ro.mp3.bak"}));
}

TEST(RepairLeftoversTest, TheToolsNewTemporaryFilesAndOldRepairFoldersGo) {
  ProgramFolder folder;
  const std::string old = folder.Write("mp3val.OLD123", 1);
  {
    const LeftoverSweeper sweeper(folder.path(), "mp3val.");
    folder.Write("mp3val.New456", 1);
    folder.Write("mp3val.toolong1", 1);
    folder.Write("other.New456", 1);
  }
  EXPECT_EQ(test::ListFolder(folder.path()),
            (std::vector<std::string>{"mp3val.OLD123", "mp3val.toolong1", "other.New456"}));

  // A repair folder of a killed program goes at the next repair beside it;
  // one still in use stays.
  const std::string stale = folder.path() + "/.orvex-repair-AbC123";
  const std::string busy = folder.path() + "/.orvex-repair-XyZ789";
  fs::create_directories(stale + "/tmp");
  fs::create_directories(busy);
  const struct timespec longAgo[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, stale.c_str(), longAgo, 0), 0);
  RemoveStaleRepairFolders(folder.path(), std::chrono::seconds(600));
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(busy));
}

TEST_F(OpenFileTest, NoAudioDeviceShowsItsTextAlone) {
  factory.hasDevice = false;
  app.OpenFile(folder.Write("a.mp3", 5));
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], OwnErrorText(kErrNoAudioHardware));
  EXPECT_EQ(factory.created, 0);
  EXPECT_FALSE(view().loaded);
}

// The file is asked for first: nothing closes until the window hands the
// chosen one back, so a cancel leaves the lesson playing.
TEST_F(OpenFileTest, TheOpenDialogIsAskedFirstAndOnlyTheChosenFileCloses) {
  app.OpenFile(folder.Write("a.mp3", 5));
  ASSERT_EQ(view().playState, Playing);
  log.clear();
  app.OpenFile();
  EXPECT_EQ(log, Log{"OpenDialog"});
  EXPECT_EQ(view().playState, Playing);
  const std::string chosen = folder.Write("chosen.mp3", 5);
  app.OpenFile(chosen);
  EXPECT_EQ(view().filePath, chosen);
  EXPECT_EQ(view().playState, Playing);
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(OpenFileTest, SameFileTwicePlaysFromTheStartAgain) {
  const std::string path = folder.Write("a.mp3", 5);
  app.OpenFile(path);
  factory.last->Advance(3000);
  ASSERT_EQ(factory.last->positionMs, 3000);
  app.OpenFile(path);
  EXPECT_EQ(factory.created, 2);
  EXPECT_EQ(factory.last->positionMs, 0);
  EXPECT_EQ(view().playState, Playing);
}

TEST_F(OpenFileTest, RunFailureLeavesTheFileLoadedAndStopped) {
  // The factory's players run; make the next one fail to run.
  app.OpenFile(folder.Write("a.mp3", 5));
  factory.last->runResult = kErrFail;
  app.Stop();
  app.TogglePlay();
  EXPECT_TRUE(view().loaded);
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(shell.errors.size(), 1u);
}

TEST_F(OpenFileTest, DropOpensOnlyTheFirstItemWhenItIsALesson) {
  const std::string mp3 = folder.Write("b.MP3", 5);
  app.DropFiles({folder.path() + "/notes.txt", mp3});
  EXPECT_EQ(log, Log{"RejectSound"});
  EXPECT_FALSE(view().loaded);
  app.DropFiles({mp3, folder.path() + "/notes.txt"});
  EXPECT_EQ(view().filePath, mp3);
  // A rejected drop leaves the loaded file playing.
  log.clear();
  app.DropFiles({folder.path()});
  EXPECT_EQ(log, Log{"RejectSound"});
  EXPECT_EQ(view().playState, Playing);
  // Every lesson format, in any letter case.
  const std::string ogg = folder.Write("c.OGG", 5);
  app.DropFiles({ogg});
  EXPECT_EQ(view().filePath, ogg);
  log.clear();
  app.DropFiles({folder.path() + "/c.ogx"});
  EXPECT_EQ(log, Log{"RejectSound"});
}

// The start of an MP4 file, and MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz:
// 417 bytes each).
std::string Mp4Bytes() {
  return std::string("\0\0\0\x18" "ftypM4A \0\0\0\0M4A mp42", 24) + std::string(200, '\0');
}
std::string Mp3Frames(int count) {
  std::string frames;
  for (int i = 0; i < count; ++i) frames += std::string("\xFF\xFB\x90\x64", 4) + std::string(413, '\0');
  return frames;
}

TEST_F(OpenFileTest, OtherFormatsGoToTheDecoderAloneAndAreNeverRepaired) {
  // Any letter case; the file is refused by the front end with its own
  // reason, shown as a load failure; nothing is copied, repaired or changed.
  factory.decoderResult = kErrStream;
  const std::string path = folder.WriteBytes("lesson.M4A", Mp4Bytes());
  log.clear();
  app.OpenFile(path);
  EXPECT_EQ(shell.Matching("player.Build"), Log{"player.BuildWithDecoder"});
  EXPECT_TRUE(shell.repairs.empty());
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_NE(shell.errors[0].find(OwnErrorText(kErrStream)), std::string::npos) << shell.errors[0];
  EXPECT_EQ(Content(path), Mp4Bytes());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator{}), 1);
  EXPECT_FALSE(view().loaded);

  factory.decoderResult = kOk;
  app.OpenFile(path);
  EXPECT_EQ(factory.last->builtWith, "decoder");
  EXPECT_EQ(view().playState, Playing);
}

TEST_F(OpenFileTest, TheBytesDecideTheWayNotTheName) {
  // An MP3 named .m4a plays as MP3; an MP4 named .mp3 goes to the decoder;
  // unknown bytes named .mp3 keep the MP3 way and its repair.
  app.OpenFile(folder.WriteBytes("really an mp3.m4a", Mp3Frames(8)));
  EXPECT_EQ(factory.last->builtWith, "mp3Parser");
  app.OpenFile(folder.WriteBytes("really an mp4.mp3", Mp4Bytes()));
  EXPECT_EQ(factory.last->builtWith, "decoder");
  EXPECT_TRUE(TakesMp3Path(folder.Write("noise.mp3", 100)));
  EXPECT_FALSE(TakesMp3Path(folder.Write("noise.ogg", 100)));
  // A transport stream goes to the decoder even named .mp3, whatever its
  // sound; a program stream goes the MP3 way under any name (the splitter
  // takes it).
  std::string packets;
  for (int i = 0; i < 4; ++i) packets += "\x47" + std::string(187, '\x11');
  EXPECT_FALSE(TakesMp3Path(folder.WriteBytes("broadcast.mp3", packets)));
  EXPECT_TRUE(TakesMp3Path(
      folder.WriteBytes("lesson.mpg", std::string("\0\0\x01\xBA", 4) + std::string(400, '\x11'))));
  EXPECT_TRUE(TakesMp3Path(folder.path() + "/missing.MP3"));
  EXPECT_FALSE(TakesMp3Path(folder.path() + "/missing.flac"));
  EXPECT_TRUE(shell.repairs.empty());
}

TEST_F(OpenFileTest, SampleLiesInTheProgramFolder) {
  app.OpenSample();
  EXPECT_EQ(factory.last->builtPath, JoinPath(folder.path(), "eg.mp3"));
}

}  // namespace
}  // namespace orvex::test

namespace orvex::test {
namespace {

// While an open waits for its repair, every command is answered at once
// from what it finds (no file is loaded), and none runs inside another. A new
// open wins: the repair's tool is stopped, and its end builds nothing.
TEST_F(OpenFileTest, CommandsDuringARepairAreAnsweredAtOnceAndANewOpenWins) {
  const std::string noise = folder.Write("noise.mp3", 300 * 1024);
  const std::string good = folder.Write("good.mp3", 10);
  factory.refuses = [](const std::string& path) {
    return path.find("noise") != std::string::npos;
  };
  app.OpenFile(noise);
  ASSERT_EQ(shell.repairs.size(), 1u);
  ASSERT_TRUE(app.opening());
  log.clear();
  app.TogglePlay();
  app.RepeatKey();
  app.JumpForward();
  app.NextSentence();
  app.Tick();
  app.OnGraphEvent();
  app.SetVolume(-900);
  EXPECT_TRUE(shell.Matching("player.").empty());
  EXPECT_FALSE(view().loaded);
  EXPECT_EQ(view().volume, -900);
  EXPECT_TRUE(app.opening());
  EXPECT_TRUE(shell.stoppedRepairs.empty());

  app.DropFiles({good});
  EXPECT_EQ(shell.stoppedRepairs, shell.repairTickets);
  EXPECT_FALSE(app.opening());
  EXPECT_EQ(view().filePath, good);
  EXPECT_EQ(view().playState, Playing);
  const int created = factory.created;
  // The stopped tool's end: nothing is built, the new file plays on, and
  // the repair's private folder goes.
  app.RepairFinished(shell.repairTickets[0]);
  EXPECT_EQ(factory.created, created);
  EXPECT_EQ(view().filePath, good);
  EXPECT_EQ(view().playState, Playing);
  EXPECT_TRUE(shell.errors.empty());
  EXPECT_EQ(test::ListFolder(folder.path()), (std::vector<std::string>{"good.mp3", "noise.mp3"}));
}

// Closing (and the exit) drops an open that waits for its repair.
TEST_F(OpenFileTest, ClosingDropsAnOpenThatWaitsForItsRepair) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  app.OpenFile(folder.Write("bad.mp3", 10));
  ASSERT_TRUE(app.opening());
  app.CloseFile();
  EXPECT_FALSE(app.opening());
  EXPECT_EQ(shell.stoppedRepairs, shell.repairTickets);
  app.RepairFinished(shell.repairTickets[0]);
  EXPECT_FALSE(view().loaded);
  EXPECT_EQ(factory.created, 1);
  EXPECT_TRUE(shell.errors.empty());
  EXPECT_EQ(test::ListFolder(folder.path()), (std::vector<std::string>{"bad.mp3"}));
}

}  // namespace
}  // namespace orvex::test
