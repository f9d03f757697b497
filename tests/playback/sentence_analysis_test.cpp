// The analysis pipeline for real: the sentences it finds in lessons spoken at
// test time against their known boundaries, the files the player opens, files
// it cannot decode, progress, and stopping it in the middle.

#include "playback/sentence_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "playback/mpeg_scan.h"
#include "tests/playback/player_fixture.h"
#include "tests/sentences/lesson_files.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

struct Outcome {
  SentenceAnalysisResult result;
  std::vector<int> progress;
  PeakList streamed;   // the peaks handed on while it ran, joined
  bool joined = true;  // each part began where the one before ended
};

// Runs an analysis to its end (a hang fails after a minute).
Outcome Analyse(const std::string& path) {
  Outcome outcome;
  std::promise<void> finished;
  SentenceAnalysis analysis(path, {[&](int percent) { outcome.progress.push_back(percent); },
                                   [&](SentenceAnalysisResult&& r) {
                                     outcome.result = std::move(r);
                                     finished.set_value();
                                   },
                                   [&](size_t first, PeakList blocks) {
                                     outcome.joined &= first == outcome.streamed.size();
                                     outcome.streamed.insert(outcome.streamed.end(), blocks.begin(),
                                                             blocks.end());
                                   }});
  EXPECT_EQ(finished.get_future().wait_for(60s), std::future_status::ready) << path;
  return outcome;
}

// Where the rule puts a sentence around its sound, given its neighbours.
std::vector<Sentence> ExpectedSentences(const std::vector<test::SpokenSentence>& truth,
                                        int32_t lengthMs) {
  std::vector<Sentence> expected;
  for (size_t i = 0; i < truth.size(); ++i) {
    const int32_t start =
        std::max(truth[i].firstSoundMs - 150, i > 0 ? truth[i - 1].lastSoundMs : 0);
    if (i > 0) expected.back().endMs = std::min(expected.back().endMs, start);
    expected.push_back({start, std::min(truth[i].lastSoundMs + 250, lengthMs), {}});
  }
  return expected;
}

// The loudest peak of the blocks from fromMs to toMs.
int LoudestPeak(const PeakList& peaks, int32_t fromMs, int32_t toMs) {
  int loudest = 0;
  for (int32_t b = fromMs / kPeakBlockMs; b < toMs / kPeakBlockMs; ++b) {
    if (b < 0 || static_cast<size_t>(b) >= peaks.size()) continue;
    loudest = std::max(
        {loudest, -peaks[static_cast<size_t>(b)].low, int{peaks[static_cast<size_t>(b)].high}});
  }
  return loudest;
}

// The peaks of the same pass cover the file, were handed on in order as
// they came, and are loud in every sentence and quiet in the pauses.
void ExpectPeaksFollowTheSound(const Outcome& o, const std::vector<test::SpokenSentence>& truth,
                               const std::string& name) {
  const PeakList& peaks = o.result.peaks;
  EXPECT_NEAR(static_cast<double>(peaks.size()), o.result.lengthMs / kPeakBlockMs, 2) << name;
  EXPECT_TRUE(o.joined) << name;
  ASSERT_LE(o.streamed.size(), peaks.size()) << name;
  EXPECT_TRUE(std::equal(o.streamed.begin(), o.streamed.end(), peaks.begin())) << name;
  int quietestSentence = kPeakFullScale, loudestPause = 0;
  for (size_t i = 0; i < truth.size(); ++i) {
    quietestSentence =
        std::min(quietestSentence, LoudestPeak(peaks, truth[i].firstSoundMs, truth[i].lastSoundMs));
    if (i + 1 < truth.size()) {
      loudestPause = std::max(loudestPause, LoudestPeak(peaks, truth[i].lastSoundMs + 100,
                                                        truth[i + 1].firstSoundMs - 100));
    }
  }
  std::printf(
      "%s: %zu peaks (%zu handed on while it ran), quietest sentence %d, loudest pause %d\n",
      name.c_str(), peaks.size(), o.streamed.size(), quietestSentence, loudestPause);
  EXPECT_GT(quietestSentence, 2 * loudestPause) << name;
}

TEST(SentenceAnalysis, BoundariesInTheMadeLessonsFallInThePauses) {
  int boundaries = 0, close = 0, spoken = 0;
  int32_t worst = 0;
  double total = 0;
  for (const std::string name : {"plain", "hiss", "quiet", "loud", "ten_minutes"}) {
    const Outcome o = Analyse(test::Lesson(name + ".mp3"));
    ASSERT_TRUE(o.result.ok) << name << ": " << o.result.error;
    const auto truth = test::ReadTruth(test::Lesson(name + ".truth"));
    spoken += static_cast<int>(truth.size());
    ExpectPeaksFollowTheSound(o, truth, name);
    const std::vector<Sentence>& found = o.result.sentences;
    const std::vector<Sentence> expected = ExpectedSentences(truth, o.result.lengthMs);
    EXPECT_NEAR(o.result.lengthMs, truth.back().lastSoundMs + 1200, 2) << name;

    // No sentence starts or ends inside a spoken sentence, and each spoken
    // sentence lies whole inside one found sentence.
    for (const Sentence& s : found) {
      for (const test::SpokenSentence& t : truth) {
        EXPECT_FALSE(s.startMs > t.firstSoundMs && s.startMs < t.lastSoundMs)
            << name << ": a start at " << s.startMs << " inside \"" << t.text << "\"";
        EXPECT_FALSE(s.endMs > t.firstSoundMs && s.endMs < t.lastSoundMs)
            << name << ": an end at " << s.endMs << " inside \"" << t.text << "\"";
      }
    }
    ASSERT_EQ(found.size(), truth.size()) << name;
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_LE(found[i].startMs, truth[i].firstSoundMs) << name << " " << i;
      EXPECT_GE(found[i].endMs, truth[i].lastSoundMs) << name << " " << i;
      for (const int32_t error :
           {found[i].startMs - expected[i].startMs, found[i].endMs - expected[i].endMs}) {
        ++boundaries;
        close += std::abs(error) <= 150;
        worst = std::max(worst, std::abs(error));
        total += std::abs(error);
      }
    }
  }
  std::printf(
      "Boundaries: %d of %d within 150 ms of the truth (%.1f %%), mean error %.1f ms, "
      "worst %d ms\n",
      close, boundaries, 100.0 * close / std::max(boundaries, 1), total / std::max(boundaries, 1),
      worst);
  EXPECT_EQ(boundaries, 2 * spoken);
  EXPECT_GE(close * 100, boundaries * 95);
}

TEST(SentenceAnalysis, FilesThePlayerOpensAreAnalysedOnItsTimeLine) {
  for (const std::string name :
       {"cbr_stereo.mp3", "mono.mp3", "vbr.mp3", "vbr_noheader.mp3", "mpeg2_22k.mp3", "big_id3.mp3",
        "id3_ffff.mp3", "short.mp3", "truncated.mp3"}) {
    const std::string path = test::Fixture(name);
    const Outcome o = Analyse(path);
    ASSERT_TRUE(o.result.ok) << name << ": " << o.result.error;
    FileByteSource file;
    ASSERT_TRUE(file.Open(path));
    const int64_t lengthMs = ScanMpegAudio(file).LengthNs() / 1000000;
    EXPECT_EQ(o.result.lengthMs, lengthMs) << name;
    EXPECT_NEAR(static_cast<double>(o.result.levelsDb.size()), lengthMs / 10.0, 2) << name;
    EXPECT_NEAR(static_cast<double>(o.result.peaks.size()), lengthMs / 5.0, 4) << name;
    // Tones and noise from end to end: one sentence over the whole file (the
    // varied file has a second of silence in it).
    if (name != "vbr.mp3" && name != "vbr_noheader.mp3") {
      ASSERT_EQ(o.result.sentences.size(), 1u) << name;
      EXPECT_EQ(o.result.sentences[0].startMs, 0) << name;
      EXPECT_NEAR(o.result.sentences[0].endMs, lengthMs, 20) << name;
    }
    EXPECT_FALSE(o.progress.empty());
    EXPECT_TRUE(std::is_sorted(o.progress.begin(), o.progress.end())) << name;
    EXPECT_EQ(o.progress.back(), 100) << name;
  }
  EXPECT_TRUE(Analyse(test::Lesson("silence.mp3")).result.sentences.empty());
  EXPECT_LE(Analyse(test::Lesson("hiss_only.mp3")).result.sentences.size(), 1u);
}

TEST(SentenceAnalysis, ALessonInAnotherFormatHasTheSameSentences) {
  // The lesson encoded as AAC in .m4a at test time: the decoding front end
  // finds the sentences the MP3 has, on the same time line (its priming is
  // gone), so a sentence step lands on the sentence's start.
  test::TempFolder dir;
  const std::string mp3 = test::Lesson("plain.mp3");
  const std::string m4a = dir.File("plain.m4a");
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -i '" + mp3 +
                              "' -c:a aac -b:a 128k '" + m4a + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const Outcome fromMp3 = Analyse(mp3);
  const Outcome fromM4a = Analyse(m4a);
  ASSERT_TRUE(fromM4a.result.ok) << fromM4a.result.error;
  EXPECT_NEAR(fromM4a.result.lengthMs, fromMp3.result.lengthMs, 30);
  const auto truth = test::ReadTruth(test::Lesson("plain.truth"));
  const std::vector<Sentence>& found = fromM4a.result.sentences;
  ASSERT_EQ(found.size(), truth.size());
  ASSERT_EQ(found.size(), fromMp3.result.sentences.size());
  int32_t worst = 0;
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_LE(found[i].startMs, truth[i].firstSoundMs) << i;
    EXPECT_GE(found[i].endMs, truth[i].lastSoundMs) << i;
    const int32_t off = found[i].startMs - fromMp3.result.sentences[i].startMs;
    EXPECT_LE(std::abs(off), 30) << "sentence " << i << " starts " << off << " ms off the MP3's";
    worst = std::max(worst, std::abs(off));
  }
  std::printf("m4a: %zu sentences, starts at most %d ms from the MP3's\n", found.size(), worst);
  EXPECT_TRUE(std::is_sorted(fromM4a.progress.begin(), fromM4a.progress.end()));
  EXPECT_EQ(fromM4a.progress.back(), 100);
}

TEST(SentenceAnalysis, FilesItCannotDecodeFailWithAReason) {
  test::TempFolder dir;
  for (const std::string& path :
       {test::Fixture("random.mp3"), test::Fixture("empty.mp3"),
        test::Fixture("program_stream.mp3"), dir.File("missing.mp3"), dir.path()}) {
    const Outcome o = Analyse(path);
    EXPECT_FALSE(o.result.ok) << path;
    EXPECT_FALSE(o.result.error.empty()) << path;
    EXPECT_TRUE(o.result.sentences.empty()) << path;
  }
}

TEST(SentenceAnalysis, CancellingOrDestroyingStopsItAndNothingIsReportedAfter) {
  const std::string lesson = test::Lesson("ten_minutes.mp3");
  std::atomic<int> late{0};
  double slowestStopMs = 0;
  for (int round = 0; round < 12; ++round) {
    std::atomic<bool> gone{false};
    SentenceAnalysisCallbacks callbacks{[&](int) { late += gone.load(); },
                                        [&](SentenceAnalysisResult&&) { late += gone.load(); },
                                        [&](size_t, PeakList) { late += gone.load(); }};
    if (round % 2 == 0) {
      // Destroyed at once, or while it decodes.
      auto analysis = std::make_unique<SentenceAnalysis>(lesson, callbacks);
      std::this_thread::sleep_for(std::chrono::milliseconds(round * 20));
      const auto before = std::chrono::steady_clock::now();
      analysis.reset();
      gone = true;
      slowestStopMs = std::max(slowestStopMs, std::chrono::duration<double, std::milli>(
                                                  std::chrono::steady_clock::now() - before)
                                                  .count());
    } else {
      SentenceAnalysis analysis(lesson, callbacks);
      std::this_thread::sleep_for(std::chrono::milliseconds(round * 20));
      analysis.Cancel();
      gone = true;
      EXPECT_TRUE(test::WaitUntil([&] { return analysis.Finished(); }, 30s));
    }
  }
  // Several at once, all dropped in the middle.
  std::vector<std::unique_ptr<SentenceAnalysis>> many;
  for (int i = 0; i < 4; ++i)
    many.push_back(std::make_unique<SentenceAnalysis>(lesson, SentenceAnalysisCallbacks{}));
  std::this_thread::sleep_for(20ms);
  many.clear();
  EXPECT_EQ(late, 0);
  std::printf("The slowest destruction in the middle of an analysis took %.1f ms\n", slowestStopMs);
}

}  // namespace
}  // namespace orvex
