// LRC transcripts: every time syntax, offsets, broken lines, encodings, files
// that are refused, and finding and reading the file beside a lesson.

#include "sentences/lrc.h"

#include <sys/stat.h>

#include <climits>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/sentences/lesson_files.h"

namespace orvex {
namespace {

using test::TempFolder;
using test::WriteFile;
using Lines = std::vector<std::tuple<int32_t, int32_t, std::string>>;

Lines LinesOf(const LrcResult& r) {
  Lines lines;
  for (const Sentence& s : r.sentences) lines.emplace_back(s.startMs, s.endMs, s.text);
  return lines;
}

TEST(Lrc, EveryTimeSyntaxGivesLinesThatRunToTheNext) {
  const LrcResult r = ParseLrc(
      "[ti:A title]\n[ar:Somebody]\n[al:An album]\n[by:me]\n[length:03:00]\n"
      "[00:05.5]tenths\r\n"
      "[00:01]whole seconds\n"
      "  [00:02.25] hundredths  \n"
      "[00:03.125]thousandths\n"
      "[00:04:50]colon before the fraction\n"
      "[61:00.00]past the hour\n"
      "plain text without a tag is ignored\n"
      "[00:07.00]<00:07.00>word <00:07.50>times <b>kept</b>\n",
      4000000);
  EXPECT_EQ(r.skippedLines, 0);
  EXPECT_FALSE(r.Refused());
  EXPECT_EQ(LinesOf(r), (Lines{{1000, 2250, "whole seconds"},
                               {2250, 3125, "hundredths"},
                               {3125, 4500, "thousandths"},
                               {4500, 5500, "colon before the fraction"},
                               {5500, 7000, "tenths"},
                               {7000, 3660000, "word times <b>kept</b>"},
                               {3660000, 4000000, "past the hour"}}));
}

TEST(Lrc, SeveralTimesSameTimesEmptyLinesAndTheFileLength) {
  const LrcResult r = ParseLrc(
      "[00:10.00][00:01.00] [00:20.00]chorus\n"
      "[00:05.00]Hello\n[00:05.00]你好\n"
      "[00:08.00]\n"  // ends the line before, starts none
      "[00:12.00][Spoken] a bracket in the text\n"
      "[00:30.00]behind the end\n",
      25000);
  EXPECT_EQ(LinesOf(r), (Lines{{1000, 5000, "chorus"},
                               {5000, 8000, "Hello / 你好"},
                               {10000, 12000, "chorus"},
                               {12000, 20000, "[Spoken] a bracket in the text"},
                               {20000, 25000, "chorus"}}));
  // Without a known length the last line runs on.
  EXPECT_EQ(LinesOf(ParseLrc("[00:01.00]only", 0)), (Lines{{1000, INT32_MAX, "only"}}));
  EXPECT_TRUE(ParseLrc("", 1000).sentences.empty());
}

TEST(Lrc, OffsetMovesEveryLine) {
  const std::string body = "[00:01.00]one\n[00:03.00]two\n";
  EXPECT_EQ(LinesOf(ParseLrc("[offset:+500]\n" + body, 9000)),
            (Lines{{500, 2500, "one"}, {2500, 9000, "two"}}));
  EXPECT_EQ(LinesOf(ParseLrc(body + "[OFFSET: -250]\n", 9000)),
            (Lines{{1250, 3250, "one"}, {3250, 9000, "two"}}));
  // Times before the start become the start.
  EXPECT_EQ(LinesOf(ParseLrc("[offset:2000]\n" + body, 9000)),
            (Lines{{0, 1000, "one"}, {1000, 9000, "two"}}));
}

TEST(Lrc, BrokenLinesAreSkippedAndTheRestGoesOn) {
  const LrcResult r = ParseLrc(
      "[00:01.00]good\n[00:02.00 unclosed\n[00:6x.00]x\n[00:60.00]x\n[00:03.1234]x\n"
      "[-00:01.00]x\n[offset:soon]\n[123456:00.00]x\n[00:09.00]still read\n",
      10000);
  EXPECT_EQ(r.skippedLines, 7);
  EXPECT_EQ(LinesOf(r), (Lines{{1000, 9000, "good"}, {9000, 10000, "still read"}}));
}

TEST(Lrc, EncodingsAreDetected) {
  const Lines expected{{1000, 5000, "你好😀"}};
  EXPECT_EQ(LinesOf(ParseLrc("[00:01.00]你好😀", 5000)), expected);
  EXPECT_EQ(LinesOf(ParseLrc("\xEF\xBB\xBF[00:01.00]你好😀", 5000)), expected);
  // The same text in GB18030 (a four-byte sequence for the emoji).
  EXPECT_EQ(LinesOf(ParseLrc("[00:01.00]\xC4\xE3\xBA\xC3\x94\x39\xFC\x36", 5000)), expected);
  // UTF-16 with a byte order mark, both orders.
  const std::string le(
      "\xFF\xFE[\0"
      "0\0"
      "0\0:\0"
      "0\0"
      "1\0]\0h\0\xE9\0",
      20);
  const std::string be(
      "\xFE\xFF\0[\0"
      "0\0"
      "0\0:\0"
      "0\0"
      "1\0]\0h\0\xE9",
      20);
  EXPECT_EQ(LinesOf(ParseLrc(le, 5000)), (Lines{{1000, 5000, "hé"}}));
  EXPECT_EQ(LinesOf(ParseLrc(be, 5000)), (Lines{{1000, 5000, "hé"}}));
}

TEST(Lrc, HugeBinaryOrUndecodableFilesAreRefused) {
  std::string huge = "[00:01.00]x\n";
  huge.resize(kMaxLrcBytes + 1, 'x');
  const LrcResult big = ParseLrc(huge, 5000);
  EXPECT_EQ(big.refusal, LrcRefusal::kTooLarge);
  EXPECT_TRUE(big.sentences.empty());
  EXPECT_FALSE(big.reason.empty());
  huge.resize(kMaxLrcBytes);
  EXPECT_FALSE(ParseLrc(huge, 5000).Refused());

  EXPECT_EQ(ParseLrc(std::string("[00:01.00]a\0b", 13), 5000).refusal, LrcRefusal::kBinary);
  std::string controls = "[00:01.00]text";
  for (int i = 0; i < 20; ++i) controls += "\x01\x02\x1b";
  EXPECT_EQ(ParseLrc(controls, 5000).refusal, LrcRefusal::kBinary);
  // A few stray control characters in a text are no reason to refuse it.
  EXPECT_FALSE(ParseLrc("[00:01.00]tab\tand\x1b escape and\fmore text than that", 5000).Refused());
  // 0x80 and 0xFF start nothing in GB18030; an odd UTF-16 length does not decode.
  EXPECT_EQ(ParseLrc("[00:01.00]\x80\xFF", 5000).refusal, LrcRefusal::kUndecodable);
  EXPECT_EQ(ParseLrc(std::string("\xFF\xFE[\0x", 5), 5000).refusal, LrcRefusal::kUndecodable);
}

TEST(Lrc, TheFileBesideTheLessonIsFoundAndReadSafely) {
  TempFolder dir;
  const std::string mp3 = dir.File("lesson.mp3");
  WriteFile(mp3, "");
  EXPECT_EQ(FindLrcBeside(mp3), "");
  EXPECT_TRUE(ReadLrcBeside(mp3, 1000).path.empty());

  WriteFile(dir.File("lesson.Lrc"), "[00:00.10]mixed case\n");
  WriteFile(dir.File("lesson.LRC"), "[00:00.10]upper case\n");
  WriteFile(dir.File("lessons.lrc"), "[00:00.10]another lesson's\n");
  EXPECT_EQ(FindLrcBeside(mp3), dir.File("lesson.LRC"));
  WriteFile(dir.File("lesson.lrc"), "[00:00.10]exact\n");
  const LrcBeside read = ReadLrcBeside(mp3, 1000);
  EXPECT_EQ(read.path, dir.File("lesson.lrc"));
  EXPECT_EQ(LinesOf(read.lrc), (Lines{{100, 1000, "exact"}}));

  // A pipe is refused without being opened (a read would hang), and so are a
  // folder and a file too large to read.
  for (const std::string name : {"pipe", "folder", "big"}) {
    const std::string lrc = dir.File(name + ".lrc");
    if (name == "pipe") {
      ASSERT_EQ(mkfifo(lrc.c_str(), 0600), 0);
    }
    if (name == "folder") {
      ASSERT_EQ(mkdir(lrc.c_str(), 0700), 0);
    }
    if (name == "big") WriteFile(lrc, std::string(kMaxLrcBytes + 1, 'x'));
    const LrcBeside refused = ReadLrcBeside(dir.File(name + ".mp3"), 1000);
    EXPECT_EQ(refused.path, lrc);
    EXPECT_EQ(refused.lrc.refusal, name == "big" ? LrcRefusal::kTooLarge : LrcRefusal::kUnreadable)
        << name;
  }
}

TEST(Lrc, TheMadeTranscriptsMatchTheirLesson) {
  for (const std::string variant : {"lrc", "lrc_offset", "lrc_gb"}) {
    const LrcBeside read = ReadLrcBeside(test::Lesson(variant + "/lesson.mp3"), 60000);
    EXPECT_FALSE(read.lrc.Refused()) << variant << ": " << read.lrc.reason;
    EXPECT_EQ(read.lrc.skippedLines, 0);
    std::istringstream expected(test::ReadFile(test::Lesson(variant + "/lesson.expected")));
    size_t i = 0;
    for (std::string line; std::getline(expected, line); ++i) {
      ASSERT_LT(i, read.lrc.sentences.size()) << variant;
      const Sentence& s = read.lrc.sentences[i];
      EXPECT_EQ(std::to_string(s.startMs) + "\t" + s.text, line) << variant;
      if (i + 1 < read.lrc.sentences.size()) {
        EXPECT_EQ(s.endMs, read.lrc.sentences[i + 1].startMs);
      }
    }
    EXPECT_EQ(i, read.lrc.sentences.size()) << variant;
    EXPECT_EQ(i, 10u) << variant;
  }
}

}  // namespace
}  // namespace orvex
