// The GStreamer player on the fixtures in tests/data, playing into the private
// PulseAudio null sink that scripts/test starts (PULSE_SERVER).

#include "playback/gst_player.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "playback/error_text.h"
#include "playback/mpeg_scan.h"
#include "playback/sound.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/sound_check.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

using test::Fixture;
using test::SoundTest;
using test::WaitUntil;

// Everything that reaches the sink, decoded as fast as the graph goes.
struct Decoded {
  std::mutex mutex;
  int rate = 0;
  std::vector<float> left;  // channel 0 of the stream as played from the start
  std::map<uint64_t, std::vector<float>> afterSeek;  // channel 0 behind each seek
  std::map<uint64_t, int64_t> firstPtsNs;            // where each seek's data starts

  size_t FramesAfter(uint64_t seek) {
    std::lock_guard lock(mutex);
    return afterSeek[seek].size();
  }
};

GstPlayerOptions FastDecoding(Decoded& out) {
  GstPlayerOptions options;
  options.fastFakeRenderer = true;
  options.observer = [&out](const PcmBlock& block) {
    std::lock_guard lock(out.mutex);
    out.rate = block.sampleRate;
    std::vector<float>& into =
        block.seekGeneration == 0 ? out.left : out.afterSeek[block.seekGeneration];
    if (block.firstAfterSeek) out.firstPtsNs[block.seekGeneration] = block.ptsNs;
    for (size_t i = 0; i < block.frames; ++i) into.push_back(block.samples[i * block.channels]);
  };
  return options;
}

// Which builder a fixture needs, and its length.
struct FixtureCase {
  const char* file;
  int builder;  // 1 the MP3 parser, 2 the splitter, 0 neither
  int32_t lengthMs;
};

void PrintTo(const FixtureCase& c, std::ostream* os) {
  *os << c.file;
}

class FixtureBuild : public SoundTest, public testing::WithParamInterface<FixtureCase> {};

// The open flow: the MP3 parser first, then the splitter on the same player.
TEST_P(FixtureBuild, TakesTheRightBuilderAndLength) {
  const FixtureCase c = GetParam();
  GstPlayer player;
  const Result first = player.BuildWithMp3Parser(Fixture(c.file));
  if (c.builder == 1) {
    ASSERT_EQ(first, kOk) << player.ErrorText(first);
  } else {
    EXPECT_TRUE(Failed(first));
    EXPECT_FALSE(player.ErrorText(first).empty());
    // Nothing left behind: nothing to run, no length.
    EXPECT_TRUE(Failed(player.Run()));
    EXPECT_EQ(player.GetDurationMs(), 0);
    const Result second = player.BuildWithMpeg1Splitter(Fixture(c.file));
    if (c.builder == 2) {
      ASSERT_EQ(second, kOk) << player.ErrorText(second);
    } else {
      EXPECT_TRUE(Failed(second));
      EXPECT_FALSE(player.ErrorText(second).empty());
      EXPECT_TRUE(Failed(player.Run()));
      EXPECT_EQ(player.GetDurationMs(), 0);
      return;
    }
  }
  EXPECT_EQ(player.GetDurationMs(), c.lengthMs);
  EXPECT_EQ(player.GetPositionMs(), 0);
  EXPECT_FALSE(player.IsAtEnd());
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FixtureBuild,
    testing::Values(FixtureCase{"cbr_stereo.mp3", 1, 3000}, FixtureCase{"vbr.mp3", 1, 4000},
                    FixtureCase{"vbr_noheader.mp3", 1, 4048}, FixtureCase{"mpeg2_22k.mp3", 1, 3000},
                    FixtureCase{"mono.mp3", 1, 2000}, FixtureCase{"big_id3.mp3", 1, 2000},
                    FixtureCase{"id3_ffff.mp3", 1, 2000}, FixtureCase{"truncated.mp3", 1, 1803},
                    FixtureCase{"short.mp3", 1, 500},
                    // The demuxer's length runs from the first to the last time
                    // stamp: one frame short of the 3030 ms of audio.
                    FixtureCase{"program_stream.mp3", 2, 3004}, FixtureCase{"random.mp3", 0, 0},
                    FixtureCase{"empty.mp3", 0, 0}, FixtureCase{"no-such-file.mp3", 0, 0}));

TEST_F(SoundTest, FilesThatCannotBeOpenedFailInBothBuilders) {
  for (const std::string& path : {Fixture("no-such-file.mp3"), std::string(ORVEX_TEST_DATA)}) {
    GstPlayer player;
    EXPECT_EQ(player.BuildWithMp3Parser(path), kErrCannotOpen);
    EXPECT_EQ(player.BuildWithMpeg1Splitter(path), kErrCannotOpen);
    EXPECT_EQ(player.ErrorText(kErrCannotOpen), OwnErrorText(kErrCannotOpen));
  }
}

// The length is what the graph really plays: decoded to the end, the audio
// lasts as long as the length says (within a millisecond; the program
// stream's demuxer knows it within one frame).
TEST(PlayerLength, MatchesTheDecodedAudio) {
  // Two files joined with a run of zeros between them: a short one, and one
  // longer than the 2 MiB behind which the search for frames gives up.
  test::TempDir dir;
  auto join = [&](const std::string& name, size_t zeros) {
    const std::string joined = dir.File(name);
    std::ofstream out(joined, std::ios::binary);
    for (int part = 0; part < 2; ++part) {
      std::ifstream in(Fixture("short.mp3"), std::ios::binary);
      out << in.rdbuf();
      if (part == 0) out << std::string(zeros, '\0');
    }
    return joined;
  };
  const std::string joined = join("joined.mp3", 3 * 1024 * 1024);
  const std::string joinedNear = join("joined-near.mp3", 1024 * 1024);
  const struct {
    std::string file;
    bool splitter;
    double tolerance;
  } cases[] = {{Fixture("cbr_stereo.mp3"), false, 1},
               {Fixture("vbr.mp3"), false, 1},
               {Fixture("vbr_noheader.mp3"), false, 1},
               {Fixture("mpeg2_22k.mp3"), false, 1},
               {Fixture("mono.mp3"), false, 1},
               {Fixture("big_id3.mp3"), false, 1},
               {Fixture("id3_ffff.mp3"), false, 1},
               {Fixture("truncated.mp3"), false, 1},
               {joined, false, 1},
               {joinedNear, false, 1},
               {Fixture("program_stream.mp3"), true, 27}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Decoded decoded;
    GstPlayer player({}, FastDecoding(decoded));
    ASSERT_EQ(
        c.splitter ? player.BuildWithMpeg1Splitter(c.file) : player.BuildWithMp3Parser(c.file),
        kOk);
    ASSERT_EQ(player.Run(), kOk);
    ASSERT_TRUE(WaitUntil([&] { return player.IsAtEnd(); }));
    std::lock_guard lock(decoded.mutex);
    ASSERT_GT(decoded.rate, 0);
    const double decodedMs = decoded.left.size() * 1000.0 / decoded.rate;
    EXPECT_NEAR(decodedMs, player.GetDurationMs(), c.tolerance);
    // Both halves behind 1 MiB of zeros, only the first behind 3 MiB.
    if (c.file == joinedNear) {
      EXPECT_GT(player.GetDurationMs(), 900);
    } else if (c.file == joined) {
      EXPECT_EQ(player.GetDurationMs(), 500);
    }
  }
}

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// The frames of a fixture (bit rates from the table, no junk): offset, length.
std::vector<std::pair<size_t, size_t>> FrameSpans(const Bytes& file) {
  std::vector<std::pair<size_t, size_t>> spans;
  size_t at = 0;
  while (at + 4 <= file.size()) {
    const uint32_t word = (uint32_t{file[at]} << 24) | (uint32_t{file[at + 1]} << 16) |
                          (uint32_t{file[at + 2]} << 8) | file[at + 3];
    const auto h = ParseMpegFrameHeader(word);
    if (!h || at + h->frameBytes > file.size()) break;
    spans.emplace_back(at, h->frameBytes);
    at += h->frameBytes;
  }
  return spans;
}

// What the MP3 parser's graph makes of a file, decoded to its end.
struct Decoding {
  Result built = kErrFail;
  std::string error;
  int32_t durationMs = 0;
  int rate = 0;
  std::vector<float> left;
  double Ms() const { return rate > 0 ? left.size() * 1000.0 / rate : 0; }
};

Decoding DecodeToEnd(const std::string& path) {
  Decoded decoded;
  Decoding result;
  GstPlayer player({}, FastDecoding(decoded));
  result.built = player.BuildWithMp3Parser(path);
  if (Failed(result.built)) {
    result.error = player.ErrorText(result.built);
    return result;
  }
  result.durationMs = player.GetDurationMs();
  if (player.Run() != kOk || !WaitUntil([&] { return player.IsAtEnd(); })) {
    result.built = kErrTimeout;
    return result;
  }
  std::lock_guard lock(decoded.mutex);
  result.rate = decoded.rate;
  result.left = decoded.left;
  return result;
}

double Rms(const std::vector<float>& samples) {
  double sum = 0;
  for (float v : samples) sum += double{v} * v;
  return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

// The largest difference between got and the start of want.
double WorstDifference(const std::vector<float>& got, const std::vector<float>& want) {
  double worst = got.size() > want.size() ? 1 : 0;
  for (size_t k = 0; k < std::min(got.size(), want.size()); ++k) {
    worst = std::max(worst, double{std::fabs(got[k] - want[k])});
  }
  return worst;
}

// MP3s that other players play and the frame scan once refused, made from the
// fixtures: free format at 450 and 640 kb/s (lame), a file of one frame,
// frames with junk between every two, and files cut short behind their first
// frame or two. Each loads, plays for as long as its length says, and sounds
// as the frames it holds do.
TEST(PlayerUnusualMp3, LoadsAndPlaysWhatOtherPlayersPlay) {
  test::TempDir dir;
  const Bytes cbr = ReadBytes(Fixture("cbr_stereo.mp3"));
  const Bytes vbr = ReadBytes(Fixture("vbr.mp3"));
  const Bytes plain = ReadBytes(Fixture("vbr_noheader.mp3"));
  const Decoding cbrDecoded = DecodeToEnd(Fixture("cbr_stereo.mp3"));
  const Decoding vbrDecoded = DecodeToEnd(Fixture("vbr.mp3"));
  const Decoding plainDecoded = DecodeToEnd(Fixture("vbr_noheader.mp3"));
  ASSERT_EQ(cbrDecoded.built, kOk);
  ASSERT_EQ(vbrDecoded.built, kOk);
  ASSERT_EQ(plainDecoded.built, kOk);

  auto junkBetweenFrames = [&](const Bytes& file, const std::string& name) {
    Bytes out;
    int i = 0;
    for (const auto& [at, length] : FrameSpans(file)) {
      out.insert(out.end(), file.begin() + static_cast<long>(at),
                 file.begin() + static_cast<long>(at + length));
      for (int k = 0; k <= i % 3; ++k) out.push_back(static_cast<uint8_t>(0x4A + k));
      ++i;
    }
    WriteBytes(dir.File(name), out);
    return dir.File(name);
  };
  auto cut = [&](const Bytes& file, size_t bytes, const std::string& name) {
    WriteBytes(dir.File(name), Bytes(file.begin(), file.begin() + static_cast<long>(bytes)));
    return dir.File(name);
  };
  const auto cbrSpans = FrameSpans(cbr);
  ASSERT_GT(cbrSpans.size(), 3u);
  const std::string one = dir.File("one.mp3");
  WriteBytes(one, Bytes(cbr.begin() + static_cast<long>(cbrSpans[1].first),
                        cbr.begin() + static_cast<long>(cbrSpans[2].first)));
  for (const int kbps : {450, 640}) {
    const std::string out = dir.File("free" + std::to_string(kbps) + ".mp3");
    const std::string command = "lame --quiet --mp3input --freeformat -b " + std::to_string(kbps) +
                                " '" + Fixture("cbr_stereo.mp3") + "' '" + out + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command << " (scripts/deps.sh installs lame)";
    const Bytes made = ReadBytes(out);
    ASSERT_GT(made.size(), 4u);
    ASSERT_EQ(made[2] >> 4, 0) << "not free format";
  }

  const struct {
    std::string file;
    int32_t lengthMs;
    const Decoding* same;  // from skip on, it decodes to the start of these samples
    size_t skip;
  } cases[] = {
      {dir.File("free450.mp3"), 3000, nullptr, 0},
      {dir.File("free640.mp3"), 3000, nullptr, 0},
      // 1152 samples, without a LAME tag to cut the 1105 samples of delay away
      // that the fixture's decoding starts behind.
      {one, 26, &cbrDecoded, 1105},
      {junkBetweenFrames(plain, "junk.mp3"), 4048, &plainDecoded, 0},
      {junkBetweenFrames(cbr, "junk-info.mp3"), 3000, &cbrDecoded, 0},
      // The Info frame and two (one) of the frames behind it, and part of the
      // next: what the first 1 % of a ten-second file holds. Without the
      // encoder and decoder delays 1199 (47) samples remain.
      {cut(cbr, cbrSpans[3].first + 40, "cut-cbr.mp3"), 27, &cbrDecoded, 0},
      {cut(vbr, FrameSpans(vbr)[2].first + 150, "cut-vbr.mp3"), 1, &vbrDecoded, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Decoding d = DecodeToEnd(c.file);
    EXPECT_EQ(d.built, kOk) << d.error;
    if (Failed(d.built)) continue;
    EXPECT_EQ(d.durationMs, c.lengthMs);
    EXPECT_NEAR(d.Ms(), d.durationMs, 1.0);
    if (c.same) {
      EXPECT_GT(d.left.size(), c.skip);
      if (d.left.size() <= c.skip) continue;
      const std::vector<float> heard(d.left.begin() + static_cast<long>(c.skip), d.left.end());
      EXPECT_LT(WorstDifference(heard, c.same->left), 1e-4);
      EXPECT_GT(Rms(heard), 0.01);
    } else {
      // Re-encoded or alone: as loud as the fixture it comes from.
      EXPECT_NEAR(Rms(d.left), Rms(cbrDecoded.left), 0.25 * Rms(cbrDecoded.left));
    }
  }
}

// Whatever holds no MPEG audio still fails with the first builder and with the
// second, so the open flow goes on to the repair as before.
TEST(PlayerUnusualMp3, ForeignDataIsStillRefused) {
  test::TempDir dir;
  const std::string wav = dir.File("wav.mp3");
  WriteBytes(wav, ReadBytes(ORVEX_TEST_DATA "/../../res/chord.wav"));
  const std::string text = dir.File("text.mp3");
  {
    std::ofstream out(text);
    for (int i = 0; i < 500; ++i) out << "Line " << i << " of a text that is no audio.\n";
  }
  // Frames that are the smaller part of the data, junk between them.
  const std::string sparse = dir.File("sparse.mp3");
  {
    const Bytes cbr = ReadBytes(Fixture("cbr_stereo.mp3"));
    Bytes out;
    std::mt19937 random(9);
    for (const auto& [at, length] : FrameSpans(cbr)) {
      out.insert(out.end(), cbr.begin() + static_cast<long>(at),
                 cbr.begin() + static_cast<long>(at + length));
      for (int k = 0; k < 600; ++k) out.push_back(static_cast<uint8_t>(random() % 0xFF));
    }
    WriteBytes(sparse, out);
  }
  for (const std::string& file : {wav, text, sparse, Fixture("random.mp3")}) {
    SCOPED_TRACE(file);
    GstPlayer player;
    EXPECT_EQ(player.BuildWithMp3Parser(file), kErrNotMpegAudio);
    EXPECT_TRUE(Failed(player.BuildWithMpeg1Splitter(file)));
    EXPECT_TRUE(Failed(player.Run()));
  }
}

// A FIFO named like an MP3 (nobody writes to it) fails at once in both
// builders. The watchdog writes to the FIFO to free a blocked open, so a fault
// fails the test instead of hanging it.
TEST(PlayerUnusualMp3, AFifoFailsAtOnce) {
  test::TempDir dir;
  const std::string fifo = dir.File("x.mp3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto results = std::async(std::launch::async, [&] {
    GstPlayer player;
    return std::make_pair(player.BuildWithMp3Parser(fifo), player.BuildWithMpeg1Splitter(fifo));
  });
  const bool returned = results.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  for (int i = 0; !returned && i < 2; ++i) {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(returned) << "opening a FIFO blocked";
  const auto [first, second] = results.get();
  EXPECT_EQ(first, kErrCannotOpen);
  EXPECT_EQ(second, kErrCannotOpen);
}

// Accurate seeks land on the sample: the first block after a seek starts at
// the target, and its samples are the ones a decode from the start has there.
TEST(PlayerSeek, LandsOnTheSampleAlsoWithoutAVbrHeader) {
  const struct {
    const char* file;
    bool splitter;
  } cases[] = {{"vbr_noheader.mp3", false}, {"vbr.mp3", false},     {"cbr_stereo.mp3", false},
               {"mpeg2_22k.mp3", false},    {"big_id3.mp3", false}, {"truncated.mp3", false},
               {"program_stream.mp3", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string file = Fixture(c.file);
    auto build = [&](GstPlayer& player) {
      return c.splitter ? player.BuildWithMpeg1Splitter(file) : player.BuildWithMp3Parser(file);
    };
    Decoded reference;
    {
      GstPlayer player({}, FastDecoding(reference));
      ASSERT_EQ(build(player), kOk);
      ASSERT_EQ(player.Run(), kOk);
      ASSERT_TRUE(WaitUntil([&] { return player.IsAtEnd(); }));
    }
    Decoded seeks;
    GstPlayer player({}, FastDecoding(seeks));
    ASSERT_EQ(build(player), kOk);
    std::mt19937 random(42);
    const int32_t length = player.GetDurationMs();
    for (uint64_t seek = 1; seek <= 6; ++seek) {
      const int32_t target = static_cast<int32_t>(random() % static_cast<uint32_t>(length - 100));
      player.SeekMs(target);
      ASSERT_EQ(player.Run(), kOk);
      ASSERT_TRUE(WaitUntil([&] { return seeks.FramesAfter(seek) >= 256; }));
      ASSERT_EQ(player.Pause(), kOk);
      std::lock_guard lock(seeks.mutex);
      EXPECT_EQ(seeks.firstPtsNs[seek], int64_t{target} * 1000000) << "target " << target;
      const std::vector<float>& got = seeks.afterSeek[seek];
      const size_t at = static_cast<size_t>(int64_t{target} * reference.rate / 1000);
      ASSERT_LT(at + 256, reference.left.size());
      double worst = 0;
      for (size_t k = 0; k < 256; ++k) {
        worst = std::max(worst, double{std::fabs(got[k] - reference.left[at + k])});
      }
      EXPECT_LT(worst, 1e-4) << "target " << target;
    }
  }
}

TEST_F(SoundTest, PositionsFollowSeeksPausesAndRuns) {
  GstPlayer player;
  ASSERT_EQ(player.BuildWithMp3Parser(Fixture("vbr_noheader.mp3")), kOk);

  // Paused: a seek reads its target at once and stays there.
  player.SeekMs(1500);
  EXPECT_EQ(player.GetPositionMs(), 1500);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(player.GetPositionMs(), 1500);

  // Running resumes where the paused seek left off.
  ASSERT_EQ(player.Run(), kOk);
  ASSERT_TRUE(WaitUntil([&] { return player.GetPositionMs() > 1500; }));
  EXPECT_LT(player.GetPositionMs(), 2500);

  // A seek while running reads its target plus what has played since.
  const auto before = std::chrono::steady_clock::now();
  player.SeekMs(500);
  const int32_t justAfter = player.GetPositionMs();
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - before)
                             .count();
  EXPECT_GE(justAfter, 500);
  EXPECT_LE(justAfter, 500 + elapsedMs + 20);
  ASSERT_TRUE(WaitUntil([&] { return player.GetPositionMs() > 600; }));

  // Paused, the position holds.
  ASSERT_EQ(player.Pause(), kOk);
  std::this_thread::sleep_for(100ms);
  const int32_t paused = player.GetPositionMs();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(player.GetPositionMs(), paused);

  // Stop is a pause: position and length stay readable.
  ASSERT_EQ(player.Stop(), kOk);
  EXPECT_EQ(player.GetPositionMs(), paused);
  EXPECT_EQ(player.GetDurationMs(), 4048);
}

TEST_F(SoundTest, SeeksAreClampedToTheFile) {
  GstPlayer player;
  ASSERT_EQ(player.BuildWithMp3Parser(Fixture("cbr_stereo.mp3")), kOk);
  player.SeekMs(-5);
  EXPECT_EQ(player.GetPositionMs(), 0);
  EXPECT_FALSE(player.IsAtEnd());
  player.SeekMs(3000 + 1000);
  EXPECT_EQ(player.GetPositionMs(), 3000);
  EXPECT_TRUE(player.IsAtEnd());
  player.SeekMs(1000);
  EXPECT_FALSE(player.IsAtEnd());
  player.SeekMs(3000);
  EXPECT_EQ(player.GetPositionMs(), 3000);
  EXPECT_TRUE(player.IsAtEnd());

  // A truncated file: past its end is its real end, not where its header
  // says the audio would end.
  GstPlayer cut;
  ASSERT_EQ(cut.BuildWithMp3Parser(Fixture("truncated.mp3")), kOk);
  cut.SeekMs(2500);
  EXPECT_EQ(cut.GetPositionMs(), 1803);
  EXPECT_TRUE(cut.IsAtEnd());
  ASSERT_EQ(cut.Run(), kOk);
  EXPECT_TRUE(WaitUntil([&] {
    GraphEvent event;
    return cut.TakeEvent(event) && event.code == kEventComplete;
  }));
  EXPECT_EQ(cut.GetPositionMs(), 1803);
}

TEST_F(SoundTest, PlayingOutReachesTheEndAndQueuesItsEvent) {
  std::atomic<int> notified{0};
  for (const char* file : {"short.mp3", "vbr_noheader.mp3"}) {
    SCOPED_TRACE(file);
    GstPlayer player([&] { ++notified; });
    ASSERT_EQ(player.BuildWithMp3Parser(Fixture(file)), kOk);
    const int32_t length = player.GetDurationMs();
    player.SeekMs(length - 300);
    GraphEvent event;
    EXPECT_FALSE(player.TakeEvent(event));
    const int before = notified;
    ASSERT_EQ(player.Run(), kOk);
    // The last position may fall short of the length: the end of the stream
    // counts as the end.
    ASSERT_TRUE(WaitUntil([&] { return player.IsAtEnd(); }));
    ASSERT_TRUE(WaitUntil([&] { return player.TakeEvent(event); }));
    EXPECT_EQ(event.code, kEventComplete);
    // The news follows the event, from the bus's thread.
    EXPECT_TRUE(WaitUntil([&] { return notified > before; }));
    EXPECT_FALSE(player.TakeEvent(event));
    // Back from the end.
    player.SeekMs(0);
    EXPECT_FALSE(player.IsAtEnd());
    EXPECT_EQ(player.GetPositionMs(), 0);
  }
}

// Audio followed by more junk than the parser would skip before giving up:
// playback ends cleanly where the audio does.
TEST_F(SoundTest, TrailingJunkIsNeverPlayed) {
  test::TempDir dir;
  const std::string path = dir.File("junk.mp3");
  {
    std::ifstream in(Fixture("short.mp3"), std::ios::binary);
    std::ofstream out(path, std::ios::binary);
    out << in.rdbuf();
    std::mt19937 random(3);
    for (int i = 0; i < 3 * 1024 * 1024; ++i) out.put(static_cast<char>(random()));
  }
  GstPlayer player;
  ASSERT_EQ(player.BuildWithMp3Parser(path), kOk);
  EXPECT_EQ(player.GetDurationMs(), 500);
  ASSERT_EQ(player.Run(), kOk);
  GraphEvent event;
  ASSERT_TRUE(WaitUntil([&] { return player.TakeEvent(event); }));
  EXPECT_EQ(event.code, kEventComplete) << event.text;
  EXPECT_TRUE(player.IsAtEnd());
}

// The sound server going away while a file plays aborts the graph: the error
// arrives as an abort event with its code and text, and the owner is told.
TEST_F(SoundTest, LosingTheSoundServerQueuesAnAbortEvent) {
  test::TempDir dir;
  test::PrivateSoundServer server;
  ASSERT_TRUE(server.Start(dir.path())) << "could not start a sound server of the test's own";
  std::atomic<int> notified{0};
  GstPlayer player([&] { ++notified; });
  {
    test::ScopedEnv env("PULSE_SERVER", server.address());
    ASSERT_EQ(player.BuildWithMp3Parser(Fixture("vbr_noheader.mp3")), kOk);
  }
  ASSERT_EQ(player.Run(), kOk);
  std::this_thread::sleep_for(300ms);
  GraphEvent event;
  EXPECT_FALSE(player.TakeEvent(event));
  server.Stop();
  ASSERT_TRUE(WaitUntil([&] { return player.TakeEvent(event); }));
  EXPECT_EQ(event.code, kEventErrorAbort);
  EXPECT_TRUE(Failed(event.param1));
  EXPECT_FALSE(event.text.empty());
  EXPECT_EQ(player.ErrorText(event.param1), event.text);
  EXPECT_GT(notified, 0);
}

TEST_F(SoundTest, TeardownIsSafeAnyTimeAndLeavesNothing) {
  GstPlayer never;
  never.Teardown();
  never.Teardown();
  EXPECT_TRUE(Failed(never.Run()));

  GstPlayer player;
  ASSERT_EQ(player.BuildWithMp3Parser(Fixture("cbr_stereo.mp3")), kOk);
  ASSERT_EQ(player.Run(), kOk);
  player.Teardown();
  player.Teardown();
  EXPECT_EQ(player.GetPositionMs(), 0);
  EXPECT_EQ(player.GetDurationMs(), 0);
  EXPECT_TRUE(Failed(player.Run()));
  GraphEvent event;
  EXPECT_FALSE(player.TakeEvent(event));
}

TEST_F(SoundTest, TheFactoryMakesPlayersThatReportThroughItsCallback) {
  std::atomic<int> notified{0};
  GstPlayerFactory factory([&] { ++notified; });
  EXPECT_TRUE(factory.HasAudioDevice());
  std::unique_ptr<Player> player = factory.Create();
  ASSERT_EQ(player->BuildWithMp3Parser(Fixture("short.mp3")), kOk);
  player->SeekMs(300);
  ASSERT_EQ(player->Run(), kOk);
  ASSERT_TRUE(WaitUntil([&] { return notified > 0; }));
  GraphEvent event;
  EXPECT_TRUE(player->TakeEvent(event));
}

TEST(RequiredFilters, AllArePresentHere) {
  EXPECT_EQ(CheckRequiredFilters(), 1);
}

TEST(RequiredFilters, TheFirstMissingOneDecides) {
  auto without = [](std::set<std::string> missing, std::vector<std::string>* asked) {
    return [missing, asked](const char* name) {
      asked->push_back(name);
      return missing.count(name) == 0;
    };
  };
  std::vector<std::string> asked;
  EXPECT_EQ(CheckRequiredFilters(without({"mpg123audiodec", "mpegpsdemux"}, &asked)), -1);
  EXPECT_EQ(asked, std::vector<std::string>{"mpg123audiodec"});
  asked.clear();
  EXPECT_EQ(CheckRequiredFilters(without({"mpegaudioparse"}, &asked)), -1);
  asked.clear();
  EXPECT_EQ(CheckRequiredFilters(without({"mpegpsdemux"}, &asked)), 0);
  EXPECT_EQ(asked.size(), 3u);
  asked.clear();
  EXPECT_EQ(CheckRequiredFilters(without({"filesrc"}, &asked)), 0);
  asked.clear();
  EXPECT_EQ(CheckRequiredFilters(without({}, &asked)), 1);
  EXPECT_EQ(asked.size(), 4u);
}

}  // namespace
}  // namespace orvex

namespace orvex::test {
namespace {

// The warning sound of a rejected drop plays to its end; a file that is no
// WAV, or none at all, is not played.
TEST_F(SoundTest, WarningSoundPlaysOnlyARealWav) {
  EXPECT_TRUE(PlaySoundFileSync(ORVEX_TEST_DATA "/../../res/chord.wav"));
  EXPECT_FALSE(PlaySoundFileSync(Fixture("random.mp3")));
  EXPECT_FALSE(PlaySoundFileSync(Fixture("nowhere.wav")));
}

}  // namespace
}  // namespace orvex::test
