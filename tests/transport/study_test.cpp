// Study memory, saved loops and the lesson list through the application
// object, over the simulated player: a restart brings the loop, the place and
// the speed back, and the end of a lesson opens the next one.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "app/app.h"
#include "core/texts.h"
#include "tests/settings/temp_home.h"
#include "tests/support/recording_shell.h"
#include "tests/support/sim_player.h"

namespace orvex::test {
namespace {

class StudyTest : public TempHomeTest {
 protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    folder = root + "/course";
    MakeFolder(folder);
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
      WriteFile(folder + "/" + name, std::string(5000, 'x'));
    }
    WriteFile(folder + "/notes.txt", "not a lesson");
    // Named as lessons but none: a pipe (opening it would hang), a folder and
    // a hidden file.
    ASSERT_EQ(mkfifo((folder + "/b2.mp3").c_str(), 0600), 0);
    MakeFolder(folder + "/b3.mp3");
    WriteFile(folder + "/.b4.mp3", "x");
    store.emplace(root + "/state");
    Start();
  }

  // A new start of the program: a new application object over the same
  // memory, with speed 1.00x as learn.ini's.
  void Start() {
    app.reset();
    app.emplace(shell, &factory);
    app->SetStudyStore(&*store);
    app->ApplyLearnSettings(LearnSettings{});
  }

  SimPlayer& Open(const std::string& name, int32_t durationMs = 60000) {
    factory.durationMs = durationMs;
    app->OpenFile(folder + "/" + name);
    EXPECT_EQ(view().filePath, folder + "/" + name);
    return *factory.last;
  }

  // Plays on for ms as the main window does: events, then the tick.
  void PlayFor(int32_t ms) {
    for (int32_t t = 0; t < ms && view().playState == Playing; t += 25) {
      factory.last->Advance(25);
      app->OnGraphEvent();
      if (view().playState == Playing) app->Tick();
    }
  }

  const TransportView& view() const { return app->view(); }

  std::string folder;
  std::optional<StudyStore> store;
  SimPlayerFactory factory;
  std::optional<App> app;
};

TEST_F(StudyTest, ARestartBringsBackTheLoopThePlaceAndTheSpeedOfEachFile) {
  Open("a.mp3");
  PlayFor(5000);
  app->RepeatKey();
  PlayFor(2000);
  app->RepeatKey();
  app->SetRate(75);
  const int32_t a = view().pointA, b = view().pointB;
  ASSERT_GE(b - a, 1400);
  PlayFor(1000);
  app->ExitProgram();

  Start();
  SimPlayer& p = Open("a.mp3");
  EXPECT_EQ(view().pointA, a);
  EXPECT_EQ(view().pointB, b);
  EXPECT_EQ(view().rate, 75);
  EXPECT_EQ(p.rate, 75);
  EXPECT_EQ(p.loopA(), a);
  EXPECT_EQ(p.loopB(), b);
  EXPECT_EQ(view().status.rfind(FormatText(kTextStatusResume, {"00:05"}), 0), 0u) << view().status;
  // The loop goes round from A to B at the file's speed.
  const int32_t pass = view().pass;
  PlayFor((b - a) * 4 / 3 + 200);
  EXPECT_GT(view().pass, pass);
  EXPECT_GE(view().positionMs, a);
  EXPECT_LE(view().positionMs, b);
  // The restored speed is the file's, not the learner's usual one.
  EXPECT_EQ(app->CurrentLearnSettings().rate, 100);

  // Another file without a memory plays at the usual speed, from its start;
  // leaving this one keeps its place.
  app->SeekTo(0);
  app->RepeatKey();  // the loop goes
  app->SeekTo(12000);
  Open("b.mp3");
  EXPECT_EQ(view().rate, 100);
  EXPECT_EQ(view().pointA, -1);
  EXPECT_LT(view().positionMs, 100);
  Open("a.mp3");
  EXPECT_EQ(view().pointA, -1);
  EXPECT_GE(view().positionMs, 12000);
  EXPECT_LT(view().positionMs, 12100);

  // Forgotten: the next open starts from the beginning.
  app->ForgetFile();
  app->CloseFile();
  Open("a.mp3");
  EXPECT_LT(view().positionMs, 100);
  EXPECT_EQ(view().rate, 100);
}

TEST_F(StudyTest, SavedLoopsAreKeptPlayedAndRemoved) {
  Open("a.mp3");
  app->SaveLoop();  // neither a loop nor a sentence: nothing to save
  EXPECT_TRUE(view().savedLoops->empty());
  PlayFor(3000);
  app->RepeatKey();
  PlayFor(1500);
  app->RepeatKey();
  const SavedLoop first{view().pointA, view().pointB};
  app->SaveLoop();
  app->SaveLoop();  // once only
  EXPECT_EQ(view().savedLoop, 0);
  app->RepeatKey();
  app->SeekTo(40000);
  app->RepeatKey();
  PlayFor(2000);
  app->RepeatKey();
  const SavedLoop second{view().pointA, view().pointB};
  app->SaveLoop();
  ASSERT_EQ(*view().savedLoops, (std::vector<SavedLoop>{first, second}));
  app->ExitProgram();

  Start();
  SimPlayer& p = Open("a.mp3");
  ASSERT_EQ(*view().savedLoops, (std::vector<SavedLoop>{first, second}));
  app->PlaySavedLoop(0);
  EXPECT_EQ(p.loopA(), first.aMs);
  EXPECT_EQ(p.loopB(), first.bMs);
  EXPECT_EQ(view().savedLoop, 0);
  EXPECT_EQ(view().playState, Playing);
  app->RemoveSavedLoop();
  EXPECT_EQ(*view().savedLoops, std::vector<SavedLoop>{second});
  EXPECT_EQ(view().savedLoop, -1);
  app->PlaySavedLoop(5);  // none such
  EXPECT_EQ(p.loopA(), first.aMs);
  app->CloseFile();
  Open("a.mp3");
  EXPECT_EQ(*view().savedLoops, std::vector<SavedLoop>{second});
}

TEST_F(StudyTest, TheLessonsOfTheFolderInOrderAndTheNextOneAtTheEnd) {
  Open("b.mp3", 3000);
  EXPECT_EQ(view().lesson, 1);
  EXPECT_EQ(view().lessons, 3);  // only the three regular files
  EXPECT_NE(view().status.find(FormatText(kTextStatusLesson, {"2", "3"})), std::string::npos)
      << view().status;
  app->PreviousLesson();
  EXPECT_EQ(view().filePath, folder + "/a.mp3");
  app->PreviousLesson();  // the first: nothing happens
  EXPECT_EQ(view().filePath, folder + "/a.mp3");
  EXPECT_EQ(view().lesson, 0);

  // Stop at the end, as by default.
  PlayFor(3500);
  EXPECT_EQ(view().playState, Stopped);
  EXPECT_EQ(view().filePath, folder + "/a.mp3");

  // A lesson added and the next one deleted since the folder was read.
  WriteFile(folder + "/a2.mp3", "x");
  ASSERT_EQ(unlink((folder + "/b.mp3").c_str()), 0);
  app->SetPlayNextLesson(true);
  EXPECT_TRUE(app->CurrentLearnSettings().playNextLesson);
  app->TogglePlay();
  PlayFor(3500);
  EXPECT_EQ(view().filePath, folder + "/a2.mp3");
  EXPECT_EQ(view().playState, Playing);
  EXPECT_EQ(view().lessons, 3);
  PlayFor(3500);
  EXPECT_EQ(view().filePath, folder + "/c.mp3");
  // The last lesson: it ends, and nothing follows.
  PlayFor(3500);
  EXPECT_EQ(view().filePath, folder + "/c.mp3");
  EXPECT_EQ(view().playState, Stopped);
  app->NextLesson();
  EXPECT_EQ(view().filePath, folder + "/c.mp3");
}

TEST_F(StudyTest, SeveralFilesDroppedAtOnceAreTheLessonsInTheOrderGiven) {
  app->DropFiles({folder + "/c.mp3", folder + "/notes.txt", folder + "/a.mp3"});
  EXPECT_EQ(view().filePath, folder + "/c.mp3");
  EXPECT_EQ(view().lesson, 0);
  EXPECT_EQ(view().lessons, 2);
  app->NextLesson();
  EXPECT_EQ(view().filePath, folder + "/a.mp3");
  app->NextLesson();
  EXPECT_EQ(view().filePath, folder + "/a.mp3");
  // A file from elsewhere makes its folder the list again.
  app->OpenFile(folder + "/b.mp3");
  EXPECT_EQ(view().lesson, 1);
  EXPECT_EQ(view().lessons, 3);
}

}  // namespace
}  // namespace orvex::test
