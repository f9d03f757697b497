#include "transport/open_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/texts.h"
#include "playback/error_text.h"
#include "tests/transport/transport_fixture.h"

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
  OpenFileTest() { app.programFolder = folder.path(); }
  ProgramFolder folder;
};

TEST_F(OpenFileTest, SuccessfulOpenInOrder) {
  app.channel = 1;
  app.volume = -700;
  const std::string path = folder.Write("lesson 1.mp3", 100);
  app.OpenFile(path);
  const std::string title = "lesson 1 - " + std::string(Text(kTextCaption));
  EXPECT_EQ(log, (Log{"factory.Create", "player.BuildWithMp3Parser", "player.SetChannel(1)",
                      "player.SetVolume(-700)", "RefreshViews", "Status0:已载入mp3文件",
                      "Status1:" + path, "ToolbarEnable", "Title:" + title, "DismissTip",
                      "player.SeekMs(0)", "player.Run", "TimerStart", "RefreshViews",
                      "ToolbarImage", "ToolbarEnable", "Status0:播放中…"}));
  EXPECT_EQ(app.bLoaded, 1);
  EXPECT_EQ(app.playState, Playing);
  EXPECT_EQ(app.filePath, path);
  EXPECT_EQ(shell.title, title);
}

TEST_F(OpenFileTest, MutedOpenAppliesSilence) {
  app.bMute = 1;
  app.volume = -700;
  app.OpenFile(folder.Write("a.mp3", 10));
  EXPECT_EQ(factory.last->volume, kVolumeSilent);
}

TEST_F(OpenFileTest, SecondBuilderTakesOverOnTheSamePlayer) {
  factory.buildScript.push_back({kErrNotMpegAudio, kOk});
  app.OpenFile(folder.Write("stream.mp3", 10));
  EXPECT_EQ(factory.created, 1);
  EXPECT_EQ(factory.last->builtWith, "splitter");
  EXPECT_TRUE(shell.repairs.empty());
  EXPECT_EQ(app.playState, Playing);
}

TEST_F(OpenFileTest, RepairOnceThenLoad) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  const std::string path = folder.Write("broken file.mp3", 10);
  shell.onRepair = [&](const RepairCommand&) {
    // While the tool runs, nothing of the file is held.
    EXPECT_EQ(app.bLoaded, 0);
    EXPECT_EQ(app.player, nullptr);
  };
  app.OpenFile(path);
  ASSERT_EQ(shell.repairs.size(), 1u);
  EXPECT_EQ(shell.repairs[0].program, JoinPath(folder.path(), "mp3val"));
  EXPECT_EQ(shell.repairs[0].arguments, (std::vector<std::string>{"-f", path}));
  EXPECT_EQ(factory.created, 2);
  EXPECT_TRUE(shell.errors.empty());
  EXPECT_EQ(app.bLoaded, 1);
}

TEST_F(OpenFileTest, FileNeitherAttemptLoadsGetsOneRepairAndTheSecondBuildersText) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  factory.buildScript.push_back({kErrNotMpegAudio, kErrStream});
  app.OpenFile(folder.Write("bad.mp3", 10));
  EXPECT_EQ(shell.repairs.size(), 1u);
  EXPECT_EQ(factory.created, 2);
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], FormatText(kTextLoadFailed, {OwnErrorText(kErrStream)}));
  EXPECT_EQ(app.bLoaded, 0);
  EXPECT_EQ(app.player, nullptr);
  EXPECT_EQ(shell.title, "");  // never set: no file was loaded before
  EXPECT_EQ(shell.Matching("player.Teardown").size(), 2u);
}

TEST_F(OpenFileTest, BackupMadeByTheRepairIsPutBackWhenTheFileStillFails) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  const std::string path = folder.Write("song.wav.mp3", 0);
  std::ofstream(path, std::ios::binary) << "RIFF....WAVEfmt original";
  shell.onRepair = [&](const RepairCommand&) {
    // The tool keeps the original as the backup and leaves an empty file.
    fs::rename(path, path + ".bak");
    std::ofstream(path, std::ios::binary).flush();
  };
  app.OpenFile(path);
  std::ifstream in(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "RIFF....WAVEfmt original");
  EXPECT_FALSE(fs::exists(path + ".bak"));
  EXPECT_EQ(shell.errors.size(), 1u);
}

TEST_F(OpenFileTest, AnOlderBackupIsNeverPutBack) {
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  factory.buildScript.push_back({kErrNotMpegAudio, kErrNotFound});
  const std::string path = folder.Write("x.mp3", 5);
  folder.Write("x.mp3.bak", 7);
  app.OpenFile(path);  // the tool (not run here) leaves everything alone
  EXPECT_EQ(fs::file_size(path), 5u);
  EXPECT_EQ(fs::file_size(path + ".bak"), 7u);
}

TEST_F(OpenFileTest, ReadOnlyFileAndBackupAreMadeWritable) {
  const std::string path = folder.Write("ro.mp3", 5);
  const std::string backup = folder.Write("ro.mp3.bak", 5);
  chmod(path.c_str(), 0444);
  chmod(backup.c_str(), 0444);
  app.OpenFile(path);
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_TRUE(st.st_mode & S_IWUSR);
  stat(backup.c_str(), &st);
  EXPECT_TRUE(st.st_mode & S_IWUSR);
}

TEST_F(OpenFileTest, NoAudioDeviceShowsItsTextAlone) {
  factory.hasDevice = false;
  app.OpenFile(folder.Write("a.mp3", 5));
  ASSERT_EQ(shell.errors.size(), 1u);
  EXPECT_EQ(shell.errors[0], OwnErrorText(kErrNoAudioHardware));
  EXPECT_EQ(factory.created, 0);
  EXPECT_EQ(app.bLoaded, 0);
}

TEST_F(OpenFileTest, CancelledDialogWhilePlayingLeavesNoFile) {
  app.OpenFile(folder.Write("a.mp3", 5));
  ASSERT_EQ(app.playState, Playing);
  log.clear();
  app.OpenFile();
  EXPECT_EQ(app.bLoaded, 0);
  EXPECT_EQ(shell.title, std::string(Text(kTextCaption)));
  EXPECT_EQ(shell.status[0], "还未载入mp3文件");
  // The file is closed before the dialog shows.
  EXPECT_LT(std::find(log.begin(), log.end(), "player.Teardown"),
            std::find(log.begin(), log.end(), "OpenDialog"));
  EXPECT_TRUE(shell.errors.empty());
}

TEST_F(OpenFileTest, DialogAnswerIsOpened) {
  shell.openDialogAnswer = folder.Write("chosen.mp3", 5);
  app.OpenFile();
  EXPECT_EQ(app.filePath, *shell.openDialogAnswer);
}

TEST_F(OpenFileTest, SameFileTwicePlaysFromTheStartAgain) {
  const std::string path = folder.Write("a.mp3", 5);
  app.OpenFile(path);
  factory.last->Advance(3000);
  ASSERT_EQ(factory.last->positionMs, 3000);
  app.OpenFile(path);
  EXPECT_EQ(factory.created, 2);
  EXPECT_EQ(factory.last->positionMs, 0);
  EXPECT_EQ(app.playState, Playing);
}

TEST_F(OpenFileTest, RunFailureLeavesTheFileLoadedAndStopped) {
  // The factory's players run; make the next one fail to run.
  app.OpenFile(folder.Write("a.mp3", 5));
  factory.last->runResult = kErrFail;
  app.Stop();
  app.TogglePlay();
  EXPECT_EQ(app.bLoaded, 1);
  EXPECT_EQ(app.playState, Stopped);
  EXPECT_EQ(shell.errors.size(), 1u);
}

TEST_F(OpenFileTest, DropOpensOnlyTheFirstItemWhenItIsAnMp3) {
  const std::string mp3 = folder.Write("b.MP3", 5);
  app.DropFiles({folder.path() + "/notes.txt", mp3});
  EXPECT_EQ(log, Log{"RejectSound"});
  EXPECT_EQ(app.bLoaded, 0);
  app.DropFiles({mp3, folder.path() + "/notes.txt"});
  EXPECT_EQ(app.filePath, mp3);
  // A rejected drop leaves the loaded file playing.
  log.clear();
  app.DropFiles({folder.path()});
  EXPECT_EQ(log, Log{"RejectSound"});
  EXPECT_EQ(app.playState, Playing);
}

TEST_F(OpenFileTest, SampleLiesInTheProgramFolder) {
  app.OpenSample();
  EXPECT_EQ(factory.last->builtPath, JoinPath(folder.path(), "eg.mp3"));
}

}  // namespace
}  // namespace orvex::test
