// The study memory on real files in a temporary state folder: what is kept
// comes back whole, and anything else in its place reads as no memory.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "core/files.h"
#include "core/hash.h"
#include "settings/file_writer.h"
#include "settings/study_store.h"
#include "tests/settings/temp_home.h"
#include "transport/study_memory.h"

namespace orvex::test {
namespace {

class StudyStoreTest : public TempHomeTest {
 protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    stateEnv.Set(root + "/state");
    lesson = root + "/第1课.mp3";
    WriteFile(lesson, std::string(4000, 'x'));
    store.emplace();
  }

  // A record of the lesson as it is now, with an A-B loop and three saved loops.
  StudyRecord Sample() const {
    StudyRecord r;
    r.path = lesson;
    EXPECT_TRUE(StampStudyRecord(r));
    r.positionMs = 61234;
    r.aMs = 60000;
    r.bMs = 62000;
    r.rate = 75;
    r.sentence = 12;
    r.loops = {{1000, 2500}, {30000, 33000}, {90000, 95000}};
    return r;
  }

  ScopedEnv stateEnv{"XDG_STATE_HOME"};
  std::string lesson;
  std::optional<StudyStore> store;  // made once the state folder is set
};

TEST_F(StudyStoreTest, KeptUnderTheStateFolderByAHashOfThePathAndReadBackWhole) {
  const StudyRecord r = Sample();
  ASSERT_EQ(store->Save(r), 0);
  const std::string file = store->FileFor(lesson);
  EXPECT_TRUE(std::regex_match(file, std::regex(root + "/state/OrvexPlayer/[0-9a-f]{16}\\.study")))
      << file;
  EXPECT_NE(store->FileFor(lesson + "x"), file);
  EXPECT_EQ(ModeOf(file).value_or(0) & 0777, 0600u);

  const auto found = store->Load(lesson);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->record, r);
  EXPECT_FALSE(found->changed);

  // Without $XDG_STATE_HOME it is ~/.local/state.
  stateEnv.Unset();
  EXPECT_EQ(StudyMemoryFolder(), home + "/.local/state/OrvexPlayer");
}

TEST_F(StudyStoreTest, GarbageTornForeignOrOtherVersionReadsAsNoneAndIsReplaced) {
  ASSERT_EQ(store->Save(Sample()), 0);
  const std::string file = store->FileFor(lesson);
  const std::string good = *ReadFile(file);
  std::string otherVersion = good;
  otherVersion.replace(otherVersion.find(" 1\n"), 3, " 2\n");
  std::string flipped = good;
  flipped[flipped.find("61234")] = '7';
  // B before A, under a checksum that matches.
  std::string badValue = good.substr(0, good.rfind("check "));
  badValue.replace(badValue.find("ab 60000 62000"), 14, "ab 62000 60000");
  badValue += "check " + Hex64(Fnv1a64(badValue)) + "\n";
  const std::vector<std::string> bad = {"",
                                        "\x01\x02garbage\xff",
                                        good.substr(0, good.size() / 2),
                                        good.substr(0, good.size() - 1),
                                        otherVersion,
                                        flipped,
                                        badValue};
  for (const std::string& text : bad) {
    WriteFile(file, text);
    EXPECT_FALSE(store->Load(lesson)) << text;
  }
  // The memory of another file copied into this one's place is not this one's.
  StudyRecord other = Sample();
  other.path = root + "/other.mp3";
  ASSERT_EQ(store->Save(other), 0);
  WriteFile(file, *ReadFile(store->FileFor(other.path)));
  EXPECT_FALSE(store->Load(lesson));

  // The next save replaces what was there.
  ASSERT_EQ(store->Save(Sample()), 0);
  EXPECT_TRUE(store->Load(lesson));
}

TEST_F(StudyStoreTest, ALinkAPipeOrAnOversizeFileIsNeverRead) {
  ASSERT_EQ(store->Save(Sample()), 0);
  const std::string file = store->FileFor(lesson);
  const std::string good = *ReadFile(file);

  // A link to a good memory.
  WriteFile(root + "/elsewhere", good);
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(symlink((root + "/elsewhere").c_str(), file.c_str()), 0);
  EXPECT_FALSE(store->Load(lesson));
  // A save replaces the link, not what it points to.
  ASSERT_EQ(store->Save(Sample()), 0);
  EXPECT_EQ(ReadFile(root + "/elsewhere"), good);

  // A pipe: neither read (no hang) nor replaced.
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  EXPECT_FALSE(store->Load(lesson));
  EXPECT_NE(store->Save(Sample()), 0);
  EXPECT_TRUE(S_ISFIFO(ModeOf(file).value_or(0)));
  store->Forget(lesson);
  EXPECT_TRUE(S_ISFIFO(ModeOf(file).value_or(0)));
  ASSERT_EQ(unlink(file.c_str()), 0);

  // A good memory made oversize by padding before its checksum line.
  std::string padded = good;
  padded.insert(padded.rfind("check "), std::string(kMaxStudyFileBytes, '\n'));
  WriteFile(file, padded);
  EXPECT_FALSE(store->Load(lesson));
  // Two hundred loops are far below the limit.
  StudyRecord full = Sample();
  for (int32_t i = 0; full.loops.size() < kMaxSavedLoops; ++i) {
    AddSavedLoop(full.loops, {INT32_MAX - 1000 - i * 10, INT32_MAX - i * 10});
  }
  ASSERT_EQ(store->Save(full), 0);
  ASSERT_TRUE(store->Load(lesson));
  EXPECT_EQ(store->Load(lesson)->record.loops.size(), kMaxSavedLoops);
}

TEST_F(StudyStoreTest, SavedLoopsStayInTimeOrderWithoutTwinsAndAtMostTwoHundred) {
  std::vector<SavedLoop> loops;
  EXPECT_TRUE(AddSavedLoop(loops, {5000, 6000}));
  EXPECT_TRUE(AddSavedLoop(loops, {1000, 2000}));
  EXPECT_TRUE(AddSavedLoop(loops, {1000, 1500}));
  EXPECT_FALSE(AddSavedLoop(loops, {5000, 6000}));
  EXPECT_FALSE(AddSavedLoop(loops, {7000, 7000}));
  EXPECT_FALSE(AddSavedLoop(loops, {-1, 700}));
  EXPECT_EQ(loops, (std::vector<SavedLoop>{{1000, 1500}, {1000, 2000}, {5000, 6000}}));
  for (int32_t i = 0; i < 300; ++i) AddSavedLoop(loops, {300000 - i * 100, 300050 - i * 100});
  EXPECT_EQ(loops.size(), kMaxSavedLoops);
  EXPECT_TRUE(std::is_sorted(loops.begin(), loops.end()));
  EXPECT_EQ(loops.front(), (SavedLoop{1000, 1500}));
}

// A memory as an earlier build wrote it, byte for byte: it still reads, and
// the same memory saved again gives the same bytes.
TEST_F(StudyStoreTest, AMemoryWrittenBeforeReadsAndIsWrittenTheSame) {
  const std::string written =
      "OrvexPlayer study 1\n"
      "path 2fe8afbee7a88b2fe7acac31e8afbe2e6d7033\n"
      "size 4000\n"
      "mtime 1700000000123456789\n"
      "position 61234\n"
      "ab 60000 62000\n"
      "speed 75\n"
      "sentence 12\n"
      "loop 1000 2500\n"
      "loop 30000 33000\n"
      "check 4cd18751651146ec\n";
  StudyRecord r;
  r.path = "/课程/第1课.mp3";  // no such file: its memory reads as changed
  r.sizeBytes = 4000;
  r.modifiedNs = 1700000000123456789;
  r.positionMs = 61234;
  r.aMs = 60000;
  r.bMs = 62000;
  r.rate = 75;
  r.sentence = 12;
  r.loops = {{1000, 2500}, {30000, 33000}};
  const std::string file = store->FileFor(r.path);
  MakeFolder(FolderOf(file));
  WriteFile(file, written);
  const auto found = store->Load(r.path);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->record, r);
  EXPECT_TRUE(found->changed);

  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(store->Save(r), 0);
  EXPECT_EQ(ReadFile(file), written);
}

// Kept on the store's writer thread: a memory kept reads at once, whether
// it is on the disk yet or not; one forgotten or saved over at once stays
// so, whatever the thread was writing; what was kept last is on the disk
// once the store goes.
TEST_F(StudyStoreTest, AKeptMemoryReadsAtOnceAndIsOnTheDiskOnceTheStoreGoes) {
  StudyRecord r = Sample();
  const std::string file = store->FileFor(lesson);
  for (int32_t i = 0; i < 200; ++i) {
    r.positionMs = i;
    store->Keep(r);
    const auto found = store->Load(lesson);
    ASSERT_TRUE(found) << i;
    ASSERT_EQ(found->record.positionMs, i);
  }
  // Other names in the folder make each write scan them for what killed
  // saves left: a write then lasts long enough to be caught under way.
  MakeFolder(FolderOf(file));
  for (int i = 0; i < 4000; ++i) WriteFile(FolderOf(file) + "/other" + std::to_string(i), "");
  for (int round = 0; round < 50; ++round) {
    store->Keep(r);
    // Forgotten before, while or after the thread writes it.
    std::this_thread::sleep_for(std::chrono::microseconds(round * 40));
    store->Forget(lesson);
    EXPECT_FALSE(store->Load(lesson)) << round;
    store.emplace();
    ASSERT_FALSE(ModeOf(file)) << "a forgotten memory came back, round " << round;

    StudyRecord saved = r;
    saved.positionMs = 5;
    store->Keep(r);
    ASSERT_EQ(store->Save(saved), 0);
    store.emplace();
    const auto found = store->Load(lesson);
    ASSERT_TRUE(found) << "round " << round;
    ASSERT_EQ(found->record, saved) << "round " << round;
  }
  r.positionMs = 777;
  store->Keep(r);
  store->Settle(lesson);
  store.emplace();
  const auto last = store->Load(lesson);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->record, r);
  EXPECT_EQ(ModeOf(file).value_or(0) & 0777, 0600u);
}

// A write the writer thread cannot make is told, and what stood in the way
// stays; the other files are written all the same.
TEST_F(StudyStoreTest, TheWriterThreadTellsAFailedWriteAndGoesOn) {
  FileWriter writer(S_IRUSR | S_IWUSR);
  MakeFolder(root + "/taken/inner");
  WriteFile(root + "/plain", "mine");
  writer.Write(root + "/taken", "memory");
  writer.Write(root + "/plain/below", "memory");
  writer.Write(root + "/fine", "memory");
  writer.Drain();
  EXPECT_NE(writer.lastError(), 0);
  EXPECT_TRUE(S_ISDIR(ModeOf(root + "/taken/inner").value_or(0)));
  EXPECT_EQ(ReadFile(root + "/plain"), "mine");
  EXPECT_EQ(ReadFile(root + "/fine"), "memory");
}

// The keeper over the store: a file cut between two runs keeps its memory
// but loses what lies past its new end; the same file unchanged keeps all.
TEST_F(StudyStoreTest, AFileCutSinceDropsLoopsAndPlacesPastItsNewEnd) {
  ASSERT_EQ(store->Save(Sample()), 0);
  StudyMemory memory;
  memory.SetStore(&*store);
  const auto now = StudyMemory::Clock::now();
  // Unchanged: everything, even past a length the player may misjudge.
  std::optional<StudyRecord> kept = memory.Open(lesson, 40000, now);
  ASSERT_TRUE(kept);
  EXPECT_EQ(*kept, Sample());
  memory.Close();

  WriteFile(lesson, std::string(2000, 'y'));  // cut: a new size and time
  kept = memory.Open(lesson, 40000, now);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->loops, (std::vector<SavedLoop>{{1000, 2500}, {30000, 33000}}));
  EXPECT_EQ(kept->aMs, -1);
  EXPECT_EQ(kept->bMs, -1);
  EXPECT_EQ(kept->positionMs, 0);
  EXPECT_EQ(kept->rate, 75);
  EXPECT_EQ(memory.loops()->size(), 2u);

  // Forgotten: gone from the disk, and nothing is kept of the file until it
  // is opened again.
  memory.Forget();
  EXPECT_FALSE(ModeOf(store->FileFor(lesson)));
  memory.Keep({5000, 1000, 3000, 100, -1}, now);
  EXPECT_FALSE(ModeOf(store->FileFor(lesson)));
  memory.Close();
  EXPECT_FALSE(memory.Open(lesson, 40000, now));
}

// Saves killed at random moments, 200 times: the memory on the disk is
// always the one before or the one after, never torn.
TEST_F(StudyStoreTest, KilledWhileSavingLeavesTheOldOrTheNewMemory) {
  StudyRecord first = Sample();
  StudyRecord second = Sample();
  for (int32_t i = 0; i < 150; ++i) AddSavedLoop(second.loops, {i * 1000 + 100, i * 1000 + 900});
  ASSERT_EQ(store->Save(first), 0);
  int seen[2] = {0, 0};
  for (int round = 0; round < 200; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) (void)store->Save(i % 2 ? first : second);
    }
    usleep(static_cast<useconds_t>(200 + (round * 37) % 1800));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const auto found = store->Load(lesson);
    ASSERT_TRUE(found) << "round " << round;
    const bool isFirst = found->record == first;
    ASSERT_TRUE(isFirst || found->record == second) << "round " << round;
    ++seen[isFirst ? 0 : 1];
  }
  std::printf("after 200 kills: the first memory %d times, the second %d times\n", seen[0],
              seen[1]);
}

}  // namespace
}  // namespace orvex::test
