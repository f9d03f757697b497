// The second front end on every lesson format, made at test time by
// make_formats.sh, against ffmpeg's decoding of the same file: position 0 is
// the recording's first sample, an accurate seek lands where it was asked, a
// loop played as the engine plays it joins B to A to the sample, the length
// is the recording's; bad files fail with a reason (or, an MP3
// under another name, go the MP3 way), and none hangs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "playback/decode_front.h"
#include "playback/gst_player.h"
#include "tests/formats/front_check.h"
#include "tests/playback/sound_check.h"
#include "transport/open_file.h"

namespace orvex::test {
namespace {

constexpr int64_t kOneMs = kCheckRate / 1000;  // 44 samples
// Far more than any preroll takes: it only stops a hang from stopping the run.
constexpr int kPrerollBoundMs = 20000;

std::string Fixture(const std::string& name) { return std::string(ORVEX_FORMATS) + "/" + name; }

int64_t NsToFrames(int64_t ns) { return (ns * kCheckRate + 500000000) / 1000000000; }

// The player without a sound server: it decodes as fast as it can.
GstPlayerOptions Decoding() {
  GstPlayerOptions options;
  options.fastFakeRenderer = true;
  return options;
}

class GoodLesson : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DecodeWithFfmpeg(Fixture(GetParam()), ref_)) << "ffmpeg cannot decode it";
  }
  std::vector<float> ref_;
};

TEST_P(GoodLesson, StartsAtTheFirstSampleAndSeeksExactly) {
  FrontPipeline p(Fixture(GetParam()));
  ASSERT_TRUE(p.front().ok) << p.front().text;
  ASSERT_TRUE(p.Preroll(kPrerollBoundMs)) << p.error();
  EXPECT_TRUE(DecodeFrontHasAudio(p.front().bin));

  // Position 0: a window 0.2 s in is found 0.2 s into ffmpeg's decoding.
  std::vector<float> out;
  ASSERT_TRUE(p.Pull(kCheckRate / 2, out, kPrerollBoundMs));
  const int64_t in = kCheckRate / 5;
  double score = 0;
  const int64_t at = Locate(ref_, out.data() + in, 2048, in, kCheckRate / 10, &score);
  EXPECT_GT(score, 0.9) << "the start is not the file's sound";
  EXPECT_LE(std::abs(at - in), kOneMs) << "position 0 lies " << at - in << " samples off";

  // An accurate seek to 3 s from playing.
  const int64_t target = NsToFrames(3 * GST_SECOND);
  ASSERT_TRUE(p.Seek(3 * GST_SECOND, -1, false));
  ASSERT_TRUE(p.Pull(kCheckRate / 4, out, kPrerollBoundMs));
  const int64_t m = kCheckRate / 20;
  const int64_t landed = Locate(ref_, out.data() + m, 2048, target + m, kCheckRate / 10, &score) - m;
  EXPECT_GT(score, 0.9);
  EXPECT_LE(std::abs(landed - target), kOneMs) << "the seek to 3 s landed " << landed - target
                                               << " samples off";
}

TEST_P(GoodLesson, LoopsFromAToBWithNothingLostAtTheSeams) {
  FrontPipeline p(Fixture(GetParam()));
  ASSERT_TRUE(p.Preroll(kPrerollBoundMs)) << p.error();
  const LoopTake loop = PlayLoop(p, ref_, 2 * GST_SECOND, 4 * GST_SECOND, 4);
  ASSERT_TRUE(loop.ok) << "the loop did not play 4 passes";
  EXPECT_LE(std::abs(loop.firstStart), kOneMs) << "the first pass starts off by " << loop.firstStart;
  EXPECT_LE(loop.seamMax, kOneMs) << "a seam loses or repeats " << loop.seamMax << " samples";
  EXPECT_LE(loop.lengthMax, kOneMs) << "a pass is off in length by " << loop.lengthMax;
}

class LessonLength : public GoodLesson {};

TEST_P(LessonLength, IsTheRecordings) {
  FrontPipeline p(Fixture(GetParam()));
  ASSERT_TRUE(p.Preroll(kPrerollBoundMs)) << p.error();
  const int64_t frames = NsToFrames(p.DurationNs());
  EXPECT_LE(std::abs(frames - static_cast<int64_t>(ref_.size())), kOneMs)
      << "length " << frames << " samples, ffmpeg decodes " << ref_.size();
}

std::string ParamName(const ::testing::TestParamInfo<const char*>& info) {
  return TestNameOf(info.param);
}

INSTANTIATE_TEST_SUITE_P(Formats, GoodLesson,
                         ::testing::Values("aac.m4a", "adts.aac", "id3_adts.aac", "vorbis.ogg",
                                           "opus.opus", "opus.ogg", "flac.flac", "pcm.wav",
                                           "video.mp4", "video.mkv", "opus.webm"),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Formats, LessonLength,
                         ::testing::Values("aac.m4a", "adts.aac", "id3_adts.aac", "vorbis.ogg",
                                           "opus.opus", "opus.ogg", "flac.flac", "pcm.wav",
                                           "video.mp4", "video.mkv"),
                         ParamName);
// Not exact yet: the length of Opus in WebM counts the end padding that the
// decoder is told to drop (+353 samples, 7 ms); what is heard ends where the
// recording does. Run with --gtest_also_run_disabled_tests.
INSTANTIATE_TEST_SUITE_P(DISABLED_WebM, LessonLength, ::testing::Values("opus.webm"), ParamName);

// MP3 sound in a container goes to the front end whatever the codec, and plays
// as ffmpeg decodes it: from its first sample, for as long. (ffmpeg and
// GStreamer part on where the encoder's padding at the end is dropped, by an
// MP4's edit list or a Matroska block's duration, and tsdemux estimates its
// length: by less than a frame.)
TEST(Mp3InAContainer, EachTakesTheDecoderAndPlaysItAll) {
  constexpr int64_t kFrame = 1152;
  for (const char* name : {"mp3_in.wav", "mp3_in.ts", "mp3_in.mp4", "mp3_in.mkv"}) {
    SCOPED_TRACE(name);
    std::vector<float> ref;
    ASSERT_TRUE(DecodeWithFfmpeg(Fixture(name), ref));
    const auto refFrames = static_cast<int64_t>(ref.size());
    EXPECT_FALSE(TakesMp3Path(Fixture(name)));
    {
      GstPlayer player({}, Decoding());
      const Result built = player.BuildWithDecoder(Fixture(name));
      ASSERT_EQ(built, kOk) << player.ErrorText(built);
      const int64_t length = NsToFrames(int64_t{player.GetDurationMs()} * 1000000);
      EXPECT_LE(std::abs(length - refFrames), kFrame + kOneMs)
          << "length " << length << " samples, ffmpeg decodes " << refFrames;
      player.Teardown();
    }
    FrontPipeline p(Fixture(name));
    ASSERT_TRUE(p.Preroll(kPrerollBoundMs)) << p.error();
    std::vector<float> out;
    p.Pull(ref.size() + kCheckRate, out, kPrerollBoundMs);
    const int64_t in = kCheckRate / 5;
    ASSERT_GT(out.size(), static_cast<size_t>(in + 2048));
    double score = 0;
    const int64_t at = Locate(ref, out.data() + in, 2048, in, kCheckRate / 10, &score);
    EXPECT_GT(score, 0.9) << "the start is not the file's sound";
    EXPECT_LE(std::abs(at - in), kOneMs) << "position 0 lies " << at - in << " samples off";
    EXPECT_LE(std::abs(static_cast<int64_t>(out.size()) - refFrames), kFrame + kOneMs)
        << out.size() << " samples decoded, ffmpeg decodes " << refFrames;
  }
}

// A WAV file of more than 2 GiB: 205 minutes of 16-bit stereo at 44.1 kHz,
// its sound a hole in a sparse file (silence, no disk), a loud chunk behind it.
// It opens at once with its length, a seek near its end plays to its end, and
// the chunk behind the sound is never played.
TEST(LargeWav, OpensWithItsLengthAndPlaysFromNearItsEnd) {
  constexpr uint32_t kRate = 44100, kBlock = 4;
  constexpr int32_t kLengthMs = 205 * 60 * 1000;
  constexpr uint64_t kDataBytes = uint64_t{kLengthMs} / 1000 * kRate * kBlock;
  static_assert(kDataBytes > (uint64_t{1} << 31));
  auto le = [](std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  std::string header = "RIFF";
  le(header, 36 + kDataBytes + 8 + 4096, 4);
  header += "WAVEfmt ";
  le(header, 16, 4);
  le(header, 1, 2);  // PCM
  le(header, 2, 2);
  le(header, kRate, 4);
  le(header, kRate * kBlock, 4);
  le(header, kBlock, 2);
  le(header, 16, 2);
  header += "data";
  le(header, kDataBytes, 4);
  TempDir dir;
  const std::string path = dir.File("long lesson.wav");
  std::ofstream(path, std::ios::binary) << header;
  std::filesystem::resize_file(path, header.size() + kDataBytes);
  std::ofstream(path, std::ios::binary | std::ios::app)
      << "LIST" << std::string("\0\x10\0\0", 4) << std::string(4096, '\x40');

  {
    GstPlayer player({}, Decoding());
    const Result built = player.BuildWithDecoder(path);
    ASSERT_EQ(built, kOk) << player.ErrorText(built);
    EXPECT_EQ(player.GetDurationMs(), kLengthMs);
    player.SeekMs(kLengthMs - 2000);
    ASSERT_EQ(player.Run(), kOk);
    for (int i = 0; i < 1000 && !player.IsAtEnd(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(player.IsAtEnd());
    EXPECT_EQ(player.GetPositionMs(), kLengthMs);
    player.Teardown();
  }
  // What an audio sink plays from a second before the end: that second of
  // silence, and nothing of the chunk behind it.
  FrontPipeline p(path);
  ASSERT_TRUE(p.Preroll(kPrerollBoundMs)) << p.error();
  EXPECT_EQ(p.DurationNs(), int64_t{kLengthMs} * 1000000);
  ASSERT_TRUE(p.Seek(int64_t{kLengthMs - 1000} * 1000000, -1, false));
  std::vector<float> out;
  p.Pull(2 * kCheckRate, out, kPrerollBoundMs);
  EXPECT_LE(std::abs(static_cast<int64_t>(out.size()) - kCheckRate), kOneMs) << out.size();
  EXPECT_EQ(std::count(out.begin(), out.end(), 0.0f), static_cast<int64_t>(out.size()));
}

TEST(BadLesson, EachFailsWithAReasonAndNoneHangs) {
  for (const char* name : {"truncated.m4a", "no_audio.ogg", "video_only.mp4", "empty.m4a"}) {
    FrontPipeline p(Fixture(name));
    EXPECT_FALSE(p.front().isMp3) << name;
    EXPECT_FALSE(p.Preroll(kPrerollBoundMs)) << name << " prerolled";
    EXPECT_NE(p.error(), "preroll timed out") << name;
    EXPECT_FALSE(p.error().empty()) << name;
    std::printf("%s: %s\n", name, p.error().c_str());
    if (p.front().bin) {
      EXPECT_FALSE(DecodeFrontHasAudio(p.front().bin)) << name;
    }
  }
}

TEST(BadLesson, MpegAudioUnderAnotherNameGoesTheMp3Way) {
  FrontPipeline p(Fixture("mp3_named.m4a"));
  EXPECT_TRUE(p.front().isMp3);
  EXPECT_FALSE(p.front().ok);
  EXPECT_EQ(p.front().bin, nullptr);
}

TEST(BadLesson, TagOfImpossibleSizeIsRefusedBeforeAnyElement) {
  // An ID3v2 size of FF FF FF FF in front of FLAC: GStreamer 1.22's tag
  // demuxer would abort the process on it.
  FrontPipeline p(Fixture("id3_ffff.flac"));
  EXPECT_FALSE(p.front().ok);
  EXPECT_FALSE(p.front().isMp3);
  EXPECT_NE(p.front().text.find("ID3"), std::string::npos) << p.front().text;
}

// An LRC's text kept as the lyrics in a Vorbis comment, an MP4 atom and an
// MP3's USLT frame reaches the player as written; a lesson without has none.
TEST(Lyrics, TheTagsOfEachFormatGiveTheirLyrics) {
  const std::string lrc = "[00:01.00]First line.\n[00:03.00]Second line.";
  for (const std::string name : {"lyrics.ogg", "lyrics.m4a", "lyrics.mp3", "aac.m4a"}) {
    GstPlayer player;
    const bool mp3 = name.ends_with(".mp3");
    const Result built = mp3 ? player.BuildWithMp3Parser(Fixture(name))
                             : player.BuildWithDecoder(Fixture(name));
    ASSERT_EQ(built, kOk) << name << ": " << player.ErrorText(built);
    EXPECT_EQ(player.EmbeddedLyrics(), name == "aac.m4a" ? "" : lrc) << name;
    player.Teardown();
  }
}

}  // namespace
}  // namespace orvex::test
