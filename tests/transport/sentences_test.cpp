// Stepping through sentences over the simulated player: where they come from
// (transcript, cache, analysis) and how PageDown, PageUp, Enter and the repeat
// count walk through them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/texts.h"
#include "tests/settings/temp_home.h"
#include "tests/support/fake_recorder.h"
#include "transport/shadowing.h"
#include "tests/transport/transport_fixture.h"

namespace orvex::test {
namespace {

namespace fs = std::filesystem;

// The platform's analysis, answered by hand.
class FakeAnalyzer : public SentenceAnalyzer {
 public:
  void Start(uint32_t request, const std::string& path) override {
    started.push_back(path);
    last = request;
    running = true;
  }
  void Cancel() override {
    running = false;
    ++cancels;
  }
  std::vector<std::string> started;
  uint32_t last = 0;
  bool running = false;
  int cancels = 0;
};

std::vector<Sentence> ThreeSentences() {
  return {{1000, 3000, ""}, {4000, 6000, ""}, {7000, 9500, ""}};
}

class SentencesTest : public TransportTest {
 protected:
  SentencesTest() {
    char name[] = "/tmp/orvex-sentences-XXXXXX";
    folder = mkdtemp(name);
    cache.Set(folder + "/cache");
    data.Set(folder + "/data");
    app.SetSentenceAnalyzer(&analyzer);
  }
  ~SentencesTest() override { fs::remove_all(folder); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = folder + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // A file playing whose analysis found the three sentences.
  SimPlayer& Analysed() {
    factory.durationMs = 20000;
    app.OpenFile(Write("lesson.mp3", "mp3 bytes"));
    app.SentencesFound(analyzer.last, ThreeSentences());
    log.clear();
    return *factory.last;
  }

  std::string folder;
  ScopedEnv cache{"XDG_CACHE_HOME"};
  ScopedEnv data{"XDG_DATA_HOME"};
  FakeAnalyzer analyzer;
};

TEST_F(SentencesTest, AnAnalysisRunsOnceAndItsProgressAndResultShow) {
  factory.durationMs = 20000;
  const std::string mp3 = Write("lesson.mp3", "mp3 bytes");
  app.OpenFile(mp3);
  ASSERT_EQ(analyzer.started, std::vector<std::string>{mp3});
  EXPECT_EQ(view().analysing, 0);
  app.SentenceProgress(analyzer.last, 37);
  EXPECT_NE(view().status.find("分句37%"), std::string::npos) << view().status;
  // Answers for an earlier request are dropped.
  app.SentencesFound(analyzer.last - 1, ThreeSentences());
  EXPECT_EQ(view().sentences, nullptr);
  app.SentencesFound(analyzer.last, ThreeSentences());
  ASSERT_NE(view().sentences, nullptr);
  EXPECT_EQ(view().sentences->size(), 3u);
  EXPECT_EQ(view().analysing, -1);
  // The second open of the unchanged file takes them from the cache.
  app.OpenFile(mp3);
  EXPECT_EQ(analyzer.started.size(), 1u);
  ASSERT_NE(view().sentences, nullptr);
  EXPECT_EQ(view().sentences->at(1).startMs, 4000);
  // A changed file is analysed anew.
  Write("lesson.mp3", "other, longer mp3 bytes");
  app.OpenFile(mp3);
  EXPECT_EQ(analyzer.started.size(), 2u);
  // Closing stops the analysis at once; a late answer finds no file.
  app.CloseFile();
  EXPECT_FALSE(analyzer.running);
  app.SentencesFound(analyzer.last, ThreeSentences());
  EXPECT_EQ(view().sentences, nullptr);
}

TEST_F(SentencesTest, ATranscriptBesideTheFileWinsAndItsLinesShow) {
  factory.durationMs = 20000;
  Write("lesson.lrc",
        "[ti:Lesson]\n[00:01.00]Hello.\n[00:04.00]How are you?\n[0x:99]broken\n"
        "[00:07.50]Fine, thanks.\n");
  const std::string mp3 = Write("lesson.mp3", "mp3 bytes");
  app.OpenFile(mp3);
  ASSERT_NE(view().sentences, nullptr);
  ASSERT_EQ(view().sentences->size(), 3u);
  // The file is still decoded for its waveform; the analysis's sentences do
  // not replace the transcript's, and the next open needs no decoding.
  ASSERT_EQ(analyzer.started.size(), 1u);
  app.SentencesFound(analyzer.last, {{0, 20000, ""}}, PeakList(4000, PeakPair{-3, 3}));
  ASSERT_EQ(view().sentences->size(), 3u);
  EXPECT_EQ(view().sentences->at(1).text, "How are you?");
  ASSERT_NE(view().peaks, nullptr);
  EXPECT_EQ(view().peaks->size(), 4000u);
  app.OpenFile(mp3);
  EXPECT_EQ(analyzer.started.size(), 1u);
  EXPECT_EQ(view().sentences->at(1).text, "How are you?");
  ASSERT_NE(view().peaks, nullptr);
  EXPECT_EQ(view().peaks->at(3999), (PeakPair{-3, 3}));
  SimPlayer& p = *factory.last;
  app.SeekTo(4500);
  EXPECT_EQ(view().lineText, "How are you?");
  EXPECT_NE(view().status.find("第2/3句"), std::string::npos) << view().status;
  app.SeekTo(500);  // before the first line: the usage hint again
  EXPECT_EQ(view().lineText, "");
  (void)p;
}

// Lyrics in the file's tags are the transcript when they carry times and no
// LRC lies beside the file; without times they are no transcript.
TEST_F(SentencesTest, TimedLyricsInTheTagsAreTheTranscriptUnlessAnLrcIsBeside) {
  factory.durationMs = 20000;
  factory.lyrics = "[00:02.00]From the tags.\n[00:05.00]Second line.\n";
  app.OpenFile(Write("tagged.m4a", "m4a bytes"));
  ASSERT_NE(view().sentences, nullptr);
  ASSERT_EQ(view().sentences->size(), 2u);
  // The analysis that runs for the peaks leaves the transcript alone.
  app.SentencesFound(analyzer.last, ThreeSentences());
  ASSERT_EQ(view().sentences->size(), 2u);
  app.SeekTo(2500);
  EXPECT_EQ(view().lineText, "From the tags.");

  Write("beside.lrc", "[00:01.00]From the LRC.\n");
  app.OpenFile(Write("beside.m4a", "m4a bytes"));
  ASSERT_NE(view().sentences, nullptr);
  ASSERT_EQ(view().sentences->size(), 1u);
  app.SeekTo(1500);
  EXPECT_EQ(view().lineText, "From the LRC.");

  factory.lyrics = "Words without times\nto sing along\n";
  app.OpenFile(Write("untimed.m4a", "m4a bytes"));
  EXPECT_EQ(view().sentences, nullptr);
  app.SentencesFound(analyzer.last, ThreeSentences());
  ASSERT_NE(view().sentences, nullptr);
  EXPECT_EQ(view().sentences->size(), 3u) << "the sound's sentences";
}

TEST_F(SentencesTest, PeaksGrowWhileTheAnalysisRunsAndAreCachedWithTheSentences) {
  factory.durationMs = 20000;
  const std::string mp3 = Write("lesson.mp3", "mp3 bytes");
  app.OpenFile(mp3);
  EXPECT_EQ(view().peaks, nullptr);
  app.PeaksFound(analyzer.last, 0, PeakList(100, PeakPair{-50, 60}));
  const auto first = view().peaks;
  ASSERT_NE(first, nullptr);
  app.PeaksFound(analyzer.last, 100, PeakList(50, PeakPair{-1, 1}));
  // A new list each time: the one a view holds never changes under it.
  ASSERT_EQ(view().peaks->size(), 150u);
  EXPECT_EQ(first->size(), 100u);
  EXPECT_EQ(view().peaks->at(99), (PeakPair{-50, 60}));
  EXPECT_EQ(view().peaks->at(100), (PeakPair{-1, 1}));
  // Those of an earlier request are dropped.
  app.PeaksFound(analyzer.last - 1, 150, PeakList(10, PeakPair{-9, 9}));
  EXPECT_EQ(view().peaks->size(), 150u);
  PeakList all(4000, PeakPair{-7, 8});
  app.SentencesFound(analyzer.last, ThreeSentences(), all);
  EXPECT_EQ(*view().peaks, all);
  // The cached file's peaks come without decoding again; a changed file is
  // decoded again.
  app.OpenFile(mp3);
  EXPECT_EQ(analyzer.started.size(), 1u);
  ASSERT_NE(view().peaks, nullptr);
  EXPECT_EQ(*view().peaks, all);
  Write("lesson.mp3", "other mp3 bytes");
  app.OpenFile(mp3);
  EXPECT_EQ(analyzer.started.size(), 2u);
  EXPECT_EQ(view().peaks, nullptr);
}

TEST_F(SentencesTest, AStretchOrASentenceBecomesTheLoopFromTheWaveStrip) {
  SimPlayer& p = Analysed();
  app.Stop();
  // A drag from right to left, from a stop: the loop plays from A.
  app.LoopStretch(3500, 2000);
  EXPECT_EQ(view().playState, Playing);
  EXPECT_EQ(view().pointA, 2000);
  EXPECT_EQ(view().pointB, 3500);
  EXPECT_EQ(p.positionMs, 2000);
  EXPECT_EQ(p.loopA(), 2000);
  EXPECT_EQ(p.loopB(), 3500);
  PlayFor(p, 1600);
  EXPECT_GE(p.positionMs, 2000);
  EXPECT_LT(p.positionMs, 3500);
  // Too short a stretch grows to the shortest loop; past the end is cut.
  app.LoopStretch(19990, 30000);
  EXPECT_EQ(view().pointA, 19900);
  EXPECT_EQ(view().pointB, 20000);
  // A sentence's box: the sentence loops, as Enter does.
  app.LoopSentence(1);
  EXPECT_EQ(view().pointA, 4000);
  EXPECT_EQ(view().pointB, 6000);
  EXPECT_EQ(view().sentence, 1);
  app.LoopSentence(7);  // no such sentence
  EXPECT_EQ(view().pointA, 4000);
}

TEST_F(SentencesTest, PageDownThreeTimesThenPageUpLoopsTheRightSentence) {
  SimPlayer& p = Analysed();
  p.positionMs = 500;
  app.NextSentence();
  EXPECT_EQ(view().pointA, 1000);
  EXPECT_EQ(view().pointB, 3000);
  EXPECT_EQ(p.positionMs, 1000);
  EXPECT_EQ(p.loopA(), 1000);
  EXPECT_EQ(p.loopB(), 3000);
  app.NextSentence();
  app.NextSentence();
  EXPECT_EQ(view().pointA, 7000);
  EXPECT_EQ(view().sentence, 2);
  app.NextSentence();  // there is none after the last
  EXPECT_EQ(view().pointA, 7000);
  app.PreviousSentence();
  EXPECT_EQ(view().pointA, 4000);
  EXPECT_EQ(view().pointB, 6000);
  EXPECT_EQ(p.positionMs, 4000);
  // Without a count the sentence loops until the learner moves on.
  PlayFor(p, 10000);
  EXPECT_EQ(view().pointA, 4000);
  EXPECT_GE(p.positionMs, 4000);
  EXPECT_LE(p.positionMs, 6000);
  // Enter plays it again from its start.
  app.RepeatSentence();
  EXPECT_EQ(p.positionMs, 4000);
}

TEST_F(SentencesTest, WithACountOfTwoEachSentencePlaysTwiceThenTheNext) {
  app.SetRepeatCount(2);
  SimPlayer& p = Analysed();
  p.positionMs = 0;
  app.NextSentence();
  // Where each pass starts, in order.
  std::vector<int32_t> starts{p.positionMs};
  int32_t last = p.positionMs;
  for (int i = 0; i < 2000 && view().pointB != -1; ++i) {
    PlayFor(p, 10);
    if (p.positionMs < last || (p.positionMs > last + 100)) starts.push_back(view().pointA);
    last = p.positionMs;
  }
  EXPECT_EQ(starts, (std::vector<int32_t>{1000, 1000, 4000, 4000, 7000, 7000}));
  // After the last sentence's last pass playback goes on.
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(view().playState, Playing);
}

// Shadowing through sentences: a take follows each sentence's last pass too,
// from the instant the player heard the pass end. A silent take ends the
// silence at once and the next sentence plays; after a take heard back the
// player's own silence runs out and brings the next.
TEST_F(SentencesTest, ATakeFollowsEachSentenceAndTheNextSentenceFollowsIt) {
  FakeRecorder recorder;
  app.SetRecorder(&recorder);
  app.ApplyLearnSettings(LearnSettings{.repeatCount = 1, .shadowing = true});
  SimPlayer& p = Analysed();
  p.positionMs = 0;
  app.NextSentence();
  PlayFor(p, 2100);
  ASSERT_EQ(recorder.takes.size(), 1u);
  EXPECT_NE(recorder.takes[0].find("/1000_3000_"), std::string::npos) << recorder.takes[0];
  EXPECT_TRUE(recorder.playsBack);
  EXPECT_TRUE(view().inGap);
  // Nothing said: the next sentence at once.
  recorder.events.push_back({RecorderEvent::kRecorded, false, false});
  app.OnRecorderEvent();
  app.OnGraphEvent();
  EXPECT_EQ(p.positionMs, 4000);
  EXPECT_EQ(view().pointA, 4000);
  PlayFor(p, 2100);
  ASSERT_EQ(recorder.takes.size(), 2u);
  EXPECT_NE(recorder.takes[1].find("/4000_6000_"), std::string::npos) << recorder.takes[1];
  // Said, and heard back: the silence is the player's to end.
  recorder.events.push_back({RecorderEvent::kRecorded, true, true});
  recorder.events.push_back({RecorderEvent::kPlayed});
  app.OnRecorderEvent();
  EXPECT_TRUE(view().inGap);
  EXPECT_EQ(view().pointA, 4000);
  PlayFor(p, ShadowGapMs(4000, 6000));
  EXPECT_EQ(view().pointA, 7000);
  EXPECT_FALSE(view().inGap);
  app.SetRecorder(nullptr);
}

// A take that cannot be saved says so, and where, never that there is no
// microphone: one whose writing failed on the way (a full disk), and one
// whose folder cannot be made (a file where the takes folder belongs, which
// stops root too).
TEST_F(SentencesTest, ATakeThatCannotBeSavedSaysWhereAndNotThatThereIsNoMicrophone) {
  FakeRecorder recorder;
  app.SetRecorder(&recorder);
  app.ApplyLearnSettings(LearnSettings{.repeatCount = 1, .shadowing = true});
  SimPlayer& p = Analysed();
  const std::string notSaved = FormatText(kTextTakeNotSaved, {TakeFolder(folder + "/lesson.mp3")});
  p.positionMs = 0;
  app.NextSentence();
  PlayFor(p, 2100);
  ASSERT_EQ(recorder.takes.size(), 1u);
  ASSERT_TRUE(fs::exists(recorder.takes[0]));
  recorder.events.push_back({RecorderEvent::kWriteFailed});
  app.OnRecorderEvent();
  EXPECT_NE(view().status.find(notSaved), std::string::npos) << view().status;
  EXPECT_EQ(view().status.find(Text(kTextNoMicrophone)), std::string::npos) << view().status;
  EXPECT_FALSE(fs::exists(recorder.takes[0]));
  EXPECT_EQ(view().takeStage, 0);

  // The mode on again, and the takes folder a file.
  app.ToggleShadowing();
  app.ToggleShadowing();
  EXPECT_EQ(view().status.find(notSaved), std::string::npos) << view().status;
  fs::remove_all(folder + "/data/OrvexPlayer/takes");
  Write("data/OrvexPlayer/takes", "not a folder");
  PlayFor(p, 3100);
  EXPECT_EQ(recorder.takes.size(), 1u);
  EXPECT_NE(view().status.find(notSaved), std::string::npos) << view().status;
  EXPECT_EQ(view().status.find(Text(kTextNoMicrophone)), std::string::npos) << view().status;
  // The second sentence's pass was followed by the third at once, as
  // without the mode.
  EXPECT_EQ(view().pointA, 7000);
  EXPECT_FALSE(view().inGap);
  app.SetRecorder(nullptr);
}

// The player hands each sentence on to the next by itself; a jump in a
// sentence's pass keeps the plan (the pass plays on to B, or restarts at A),
// and the repeat key ends it.
TEST_F(SentencesTest, JumpsKeepTheSentencesGoingUntilTheRepeatKey) {
  app.SetRepeatCount(2);
  SimPlayer& p = Analysed();
  app.NextSentence();
  PlayFor(p, 2100);  // into the second, last pass of [1000, 3000)
  ASSERT_EQ(view().sentence, 0);
  ASSERT_EQ(view().pass, 2);
  app.SeekTo(2500);
  PlayFor(p, 600);
  EXPECT_EQ(view().sentence, 1) << "the next sentence did not follow at B";
  EXPECT_EQ(view().pass, 1);
  EXPECT_EQ(view().pointA, 4000);
  EXPECT_EQ(view().pointB, 6000);
  EXPECT_GE(p.positionMs, 4000);
  EXPECT_LT(p.positionMs, 4200);
  app.SeekTo(500);  // before A: the same pass from A
  EXPECT_EQ(p.positionMs, 4000);
  EXPECT_EQ(view().pass, 1);
  EXPECT_EQ(view().sentence, 1);

  app.RepeatKey();  // no loop any more
  EXPECT_FALSE(p.Looping());
  PlayFor(p, 3000);
  EXPECT_EQ(view().pointA, -1);
  EXPECT_EQ(view().pointB, -1);
  EXPECT_GT(p.positionMs, 6000) << "playback went on past B";
}

TEST_F(SentencesTest, WithoutSentencesTheKeysDoNothing) {
  SimPlayer& p = LoadPlaying();
  p.positionMs = 5000;
  log.clear();
  app.NextSentence();
  app.PreviousSentence();
  app.RepeatSentence();
  EXPECT_TRUE(shell.Matching("player.").empty());
  EXPECT_EQ(view().pointA, -1);
}

}  // namespace
}  // namespace orvex::test
