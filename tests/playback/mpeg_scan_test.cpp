#include "playback/mpeg_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <random>
#include <string>
#include <vector>

namespace orvex {
namespace {

using Bytes = std::vector<uint8_t>;

// MPEG-1 Layer III, 128 kb/s, 44.1 kHz, joint stereo: 417 bytes (418 padded).
constexpr uint32_t kMpeg1Word = 0xFFFB9064;
// MPEG-2 Layer III, 64 kb/s, 22.05 kHz, stereo: 208 bytes.
constexpr uint32_t kMpeg2Word = 0xFFF38004;

void PutBe32(Bytes& out, uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(word >> shift));
}

// Appends one frame of the given header with a silent (zero) body.
void AppendFrame(Bytes& out, uint32_t word) {
  const auto h = ParseMpegFrameHeader(word);
  ASSERT_TRUE(h.has_value());
  PutBe32(out, word);
  out.resize(out.size() + h->frameBytes - 4, 0);
}

void AppendFrames(Bytes& out, uint32_t word, int count) {
  for (int i = 0; i < count; ++i) AppendFrame(out, word);
}

// Appends a free-format frame: bytes long with its header, and a body of
// noise that holds no sync word.
void AppendFreeFrame(Bytes& out, uint32_t word, uint32_t bytes, std::mt19937& random) {
  PutBe32(out, word);
  for (uint32_t i = 4; i < bytes; ++i) out.push_back(static_cast<uint8_t>(random() % 0xFF));
}

Bytes Frames(uint32_t word, int count) {
  Bytes out;
  AppendFrames(out, word, count);
  return out;
}

Bytes Id3Header(uint32_t size, uint8_t flags = 0) {
  Bytes tag = {'I', 'D', '3', 3, 0, flags};
  for (int shift = 21; shift >= 0; shift -= 7) tag.push_back((size >> shift) & 0x7F);
  return tag;
}

// An Info frame as LAME writes it: frame count, byte count, TOC, quality, then
// the LAME tag with the encoder delay and padding.
void AppendInfoFrame(Bytes& out, uint32_t frames, uint32_t delay, uint32_t padding) {
  const size_t start = out.size();
  AppendFrame(out, kMpeg1Word);
  uint8_t* f = out.data() + start;
  const size_t id = 4 + 0x20;  // MPEG-1 stereo: behind 32 bytes of side information
  std::memcpy(f + id, "Info", 4);
  f[id + 7] = 0x0F;  // frames, bytes, TOC, quality
  f[id + 8] = frames >> 24, f[id + 9] = frames >> 16, f[id + 10] = frames >> 8, f[id + 11] = frames;
  const size_t lame = id + 8 + 4 + 4 + 100 + 4;
  std::memcpy(f + lame, "LAME3.100", 9);
  f[lame + 21] = static_cast<uint8_t>(delay >> 4);
  f[lame + 22] = static_cast<uint8_t>(((delay & 0xF) << 4) | (padding >> 8));
  f[lame + 23] = static_cast<uint8_t>(padding);
}

MpegScan Scan(const Bytes& bytes, MpegScanOptions options = {}) {
  MemoryByteSource source(bytes);
  return ScanMpegAudio(source, options);
}

TEST(MpegFrameHeader, DecodesLengthsOfEveryLayerAndVersion) {
  const struct {
    uint32_t word;
    MpegFrameHeader want;
  } cases[] = {
      {kMpeg1Word, {1, 3, 128, 44100, 2, 1152, 417}},
      {kMpeg2Word, {2, 3, 64, 22050, 2, 576, 208}},
      // MPEG-2.5 Layer III, 8 kb/s at 8 kHz, mono: 72 * 8000 / 8000 = 72 bytes.
      {0xFFE318C0, {3, 3, 8, 8000, 1, 576, 72}},
      // Layer II, 192 kb/s, 48 kHz: 144 * 192000 / 48000 = 576 bytes.
      {0xFFFDA400, {1, 2, 192, 48000, 2, 1152, 576}},
      // Layer I, 384 kb/s, 48 kHz: 4 * (12 * 384000 / 48000) = 384 bytes, 384 samples.
      {0xFFFFC400, {1, 1, 384, 48000, 2, 384, 384}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.word);
    const auto h = ParseMpegFrameHeader(c.word);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->version, c.want.version);
    EXPECT_EQ(h->layer, c.want.layer);
    EXPECT_EQ(h->bitrateKbps, c.want.bitrateKbps);
    EXPECT_EQ(h->sampleRate, c.want.sampleRate);
    EXPECT_EQ(h->channels, c.want.channels);
    EXPECT_EQ(h->samplesPerFrame, c.want.samplesPerFrame);
    EXPECT_EQ(h->frameBytes, c.want.frameBytes);
  }
  EXPECT_EQ(ParseMpegFrameHeader(kMpeg1Word | 0x200)->frameBytes, 418u);  // padding bit
}

TEST(MpegFrameHeader, RefusesInvalidFields) {
  EXPECT_FALSE(ParseMpegFrameHeader(0x7FFB9064));  // no sync
  EXPECT_FALSE(ParseMpegFrameHeader(0xFFEB9064));  // reserved version
  EXPECT_FALSE(ParseMpegFrameHeader(0xFFF99064));  // reserved layer
  EXPECT_FALSE(ParseMpegFrameHeader(0xFFFBF064));  // bit rate index 15
  EXPECT_FALSE(ParseMpegFrameHeader(0xFFFB0064));  // free format
  EXPECT_FALSE(ParseMpegFrameHeader(0xFFFB9C64));  // reserved sample rate
}

TEST(MpegFrameHeader, StreamsDifferOnlyInTheFixedFields) {
  EXPECT_TRUE(SameMpegStream(kMpeg1Word, 0xFFFBB2C4));   // other bit rate, padding, mode
  EXPECT_FALSE(SameMpegStream(kMpeg1Word, 0xFFFB9464));  // 48 kHz
  EXPECT_FALSE(SameMpegStream(kMpeg1Word, kMpeg2Word));
}

TEST(Id3v2TagSize, ReadsSynchsafeSizesDefensively) {
  Bytes tag = Id3Header(1000);
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size(), 5000), 1010u);
  tag = Id3Header(1000, 0x10);  // with a footer
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size(), 5000), 1020u);
  // Larger than the file: only the header counts, the search goes on behind it.
  tag = Id3Header(1000);
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size(), 500), 10u);
  // Not synchsafe, FF FF FF FF among them.
  tag = {'I', 'D', '3', 3, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size(), 1u << 30), 10u);
  tag = {'I', 'D', '3', 4, 0, 0, 0x00, 0x00, 0x81, 0x00};
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size(), 1u << 30), 10u);
  // No tag.
  tag = {'I', 'D', '3', 0xFF, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size(), 100), 0u);
  tag = {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size(), 100), 0u);
  EXPECT_EQ(Id3v2TagSize(tag.data(), 5, 100), 0u);
}

TEST(ScanMpegAudio, CountsFramesOfAPlainStream) {
  Bytes file = Frames(kMpeg1Word, 100);
  const MpegScan scan = Scan(file);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.firstFrameOffset, 0u);
  EXPECT_FALSE(scan.hasInfoFrame);
  EXPECT_EQ(scan.audioFrames, 100u);
  EXPECT_EQ(scan.lastFrameEnd, file.size());
  EXPECT_EQ(scan.PlayedSamples(), 100u * 1152);
  // 115200 samples at 44.1 kHz: 2612.244897... ms.
  EXPECT_EQ(scan.LengthNs(), 2612244897);
  EXPECT_EQ(scan.FrameTimeNs(10), 10 * 26122448);
  // Index points every 8 frames, at their exact offsets.
  ASSERT_EQ(scan.index.size(), 13u);
  EXPECT_EQ(scan.index[1].frame, 8u);
  EXPECT_EQ(scan.index[1].offset, 8u * 417);
}

TEST(ScanMpegAudio, SkipsTagsAndTheFalseFramesInThem) {
  // A tag whose body holds a run of valid frames (as picture data can).
  Bytes body = Frames(0xFFFB9464, 6);  // 48 kHz frames inside the tag
  Bytes file = Id3Header(static_cast<uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  const size_t audioStart = file.size();
  AppendFrames(file, kMpeg1Word, 20);
  const MpegScan scan = Scan(file);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.firstFrameOffset, audioStart);
  EXPECT_EQ(scan.first.sampleRate, 44100);
  EXPECT_EQ(scan.audioFrames, 20u);
}

TEST(ScanMpegAudio, SearchesBehindABrokenTagHeader) {
  for (const Bytes& header : {Bytes{'I', 'D', '3', 3, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
                              Id3Header(0x0FFFFFFF)}) {  // size far beyond the file
    Bytes file = header;
    file.resize(file.size() + 300, 0x55);  // what the broken tag really holds
    AppendFrames(file, kMpeg1Word, 10);
    const MpegScan scan = Scan(file);
    ASSERT_TRUE(scan.found);
    EXPECT_EQ(scan.firstFrameOffset, 310u);
    EXPECT_EQ(scan.audioFrames, 10u);
  }
}

TEST(ScanMpegAudio, RefusesWhatIsNotAnAudioStream) {
  EXPECT_FALSE(Scan({}).found);

  std::mt19937 random(7);
  Bytes noise(64 * 1024);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  EXPECT_FALSE(Scan(noise).found);

  // A program stream: its packets carry audio frames, but it is no audio
  // stream of its own.
  Bytes ps = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x03, 0x41};
  AppendFrames(ps, kMpeg1Word, 10);
  EXPECT_FALSE(Scan(ps).found);

  // Single frames separated by packet headers never make a run.
  Bytes packets;
  for (int i = 0; i < 20; ++i) {
    AppendFrame(packets, kMpeg1Word);
    for (uint8_t b : {0x00, 0x00, 0x01, 0xC0, 0x01, 0xA6}) packets.push_back(b);
  }
  EXPECT_FALSE(Scan(packets).found);

  // An Info frame with no audio behind it.
  Bytes infoOnly;
  AppendInfoFrame(infoOnly, 0, 576, 0);
  EXPECT_FALSE(Scan(infoOnly).found);
}

TEST(ScanMpegAudio, ShortChainsCountWhenTheyRunToTheEnd) {
  Bytes two = Frames(kMpeg1Word, 2);
  EXPECT_TRUE(Scan(two).found);
  Bytes twoAndTag = two;
  twoAndTag.push_back('T'), twoAndTag.push_back('A'), twoAndTag.push_back('G');
  twoAndTag.resize(twoAndTag.size() + 125, 0);  // an ID3v1 tag closes the file
  EXPECT_EQ(Scan(twoAndTag).audioFrames, 2u);
  Bytes threeThenJunk = Frames(kMpeg1Word, 3);
  threeThenJunk.resize(threeThenJunk.size() + 500, 0x11);
  EXPECT_FALSE(Scan(threeThenJunk).found);

  // A single frame is the whole file: audio, however short.
  const Bytes one = Frames(kMpeg1Word, 1);
  MpegScan scan = Scan(one);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.audioFrames, 1u);
  EXPECT_EQ(scan.lastAudioFrame, 0u);
  EXPECT_EQ(scan.PlayedSamples(), 1152u);
  Bytes oneBehindTag = Id3Header(20);
  oneBehindTag.resize(30, 0);
  AppendFrame(oneBehindTag, kMpeg1Word);
  scan = Scan(oneBehindTag);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.firstFrameOffset, 30u);
  // Not when it does not cover the data: junk before or behind it.
  Bytes junkThenOne(300, 0x55);
  AppendFrame(junkThenOne, kMpeg1Word);
  EXPECT_FALSE(Scan(junkThenOne).found);
  Bytes oneThenJunk = one;
  oneThenJunk.resize(one.size() + 40, 0x55);
  EXPECT_FALSE(Scan(oneThenJunk).found);

  // Cut short: the frames run to the end when the data ends inside the next
  // frame of the stream.
  Bytes cut;
  AppendInfoFrame(cut, 100, 576, 700);
  AppendFrames(cut, kMpeg1Word, 2);
  cut.resize(cut.size() - 300);
  scan = Scan(cut);
  ASSERT_TRUE(scan.found);
  EXPECT_TRUE(scan.hasInfoFrame);
  EXPECT_EQ(scan.audioFrames, 1u);
  EXPECT_EQ(scan.PlayedSamples(), 1152u - 576 - 529);
  // An Info frame and a cut frame hold no audio.
  cut.resize(417 + 100);
  EXPECT_FALSE(Scan(cut).found);
}

TEST(ScanMpegAudio, FreeFormatFramesAreAsLongAsTheDistanceToTheNext) {
  // 450 and 640 kb/s at 44.1 kHz, bit rate index 0: 1469 and 2089 bytes a
  // frame, one more with the padding bit.
  const struct {
    uint32_t slot;
    int kbps;
  } cases[] = {{1469, 450}, {2089, 640}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kbps);
    std::mt19937 random(c.slot);
    Bytes file;
    for (int i = 0; i < 40; ++i) {
      const bool padded = i % 3 == 2;
      AppendFreeFrame(file, 0xFFFB0064 | (padded ? 0x200u : 0u), c.slot + (padded ? 1 : 0), random);
    }
    const MpegScan scan = Scan(file);
    ASSERT_TRUE(scan.found);
    EXPECT_EQ(scan.freeSlotBytes, c.slot);
    EXPECT_EQ(scan.first.bitrateKbps, c.kbps);
    EXPECT_EQ(scan.audioFrames, 40u);
    EXPECT_EQ(scan.lastFrameEnd, file.size());
    EXPECT_EQ(scan.PlayedSamples(), 40u * 1152);
    ASSERT_GE(scan.index.size(), 2u);
    EXPECT_EQ(scan.index[1].offset, 8u * c.slot + 2);  // frames 2 and 5 are padded
  }
  const auto h = ParseMpegFrameHeader(0xFFFB0264, 1469);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->frameBytes, 1470u);
  EXPECT_EQ(h->bitrateKbps, 450);

  // A free-format frame with no next header to measure it by is refused, and
  // so is one whose next header would make a bit rate over 640 kb/s.
  std::mt19937 random(5);
  Bytes lone;
  AppendFreeFrame(lone, 0xFFFB0064, 1469, random);
  EXPECT_FALSE(Scan(lone).found);
  Bytes tooFast;
  for (int i = 0; i < 10; ++i) AppendFreeFrame(tooFast, 0xFFFB0064, 2400, random);
  EXPECT_FALSE(Scan(tooFast).found);
}

// Frames, each followed by 1 to 3 bytes of junk.
Bytes FramesParted(uint32_t word, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    AppendFrame(out, word);
    out.resize(out.size() + 1 + i % 3, static_cast<uint8_t>(0x40 + i));
  }
  return out;
}

TEST(ScanMpegAudio, JunkBetweenFramesCountsWhenMostOfTheDataIsFrames) {
  Bytes file;
  AppendInfoFrame(file, 60, 576, 700);
  file.push_back(0x00);
  const Bytes parted = FramesParted(kMpeg1Word, 60);
  file.insert(file.end(), parted.begin(), parted.end());
  MpegScan scan = Scan(file);
  ASSERT_TRUE(scan.found);
  EXPECT_TRUE(scan.hasLameTag);
  EXPECT_EQ(scan.audioFrames, 60u);
  EXPECT_EQ(scan.junkGaps, 60u);  // behind the Info frame and the 59 audio frames
  EXPECT_EQ(scan.PlayedSamples(), 60u * 1152 - 576 - 700);
  // Every frame behind junk is an index point at its own offset.
  ASSERT_EQ(scan.index.size(), 60u);
  EXPECT_EQ(scan.index[2].offset, 418u + 2 * 417 + 1 + 2);
  EXPECT_EQ(scan.index[2].frame, 2u);

  // The same frames behind a run, then far more noise than frames: the junk
  // gaps do not count, the run does.
  Bytes mostlyNoise = Frames(kMpeg1Word, 10);
  mostlyNoise.insert(mostlyNoise.end(), parted.begin(), parted.begin() + 3 * 418);
  std::mt19937 random(11);
  for (int i = 0; i < 200000; ++i) mostlyNoise.push_back(static_cast<uint8_t>(random()));
  scan = Scan(mostlyNoise);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.audioFrames, 11u);
  EXPECT_EQ(scan.junkGaps, 0u);

  // Frames that are the smaller part of the data, parted by junk, are none.
  Bytes sparse;
  for (int i = 0; i < 8; ++i) {
    AppendFrame(sparse, kMpeg2Word);
    sparse.resize(sparse.size() + 250, 0x00);
  }
  EXPECT_FALSE(Scan(sparse).found);
  // More junk than a few bytes parts frames for good.
  Bytes wide;
  for (int i = 0; i < 8; ++i) {
    AppendFrame(wide, kMpeg1Word);
    wide.resize(wide.size() + 300, 0x00);
  }
  EXPECT_FALSE(Scan(wide).found);
}

// A file of a few GB that holds frames at the start and zeros behind them,
// reading only what is asked for.
class HugeSource : public ByteSource {
 public:
  HugeSource(Bytes head, uint64_t size) : head_(std::move(head)), size_(size) {}
  uint64_t Size() const override { return size_; }
  size_t Read(uint64_t offset, uint8_t* out, size_t n) override {
    if (offset >= size_) return 0;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
    for (size_t i = 0; i < count; ++i) {
      out[i] = offset + i < head_.size() ? head_[static_cast<size_t>(offset + i)] : 0;
    }
    bytesRead += count;
    return count;
  }
  uint64_t bytesRead = 0;

 private:
  Bytes head_;
  uint64_t size_;
};

TEST(ScanMpegAudio, StopsSearchingTwoMebibytesBehindTheAudio) {
  const uint64_t kMiB = 1024 * 1024;
  HugeSource huge(Frames(kMpeg1Word, 100), 3 * 1024 * kMiB);
  MpegScan scan = ScanMpegAudio(huge);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.audioFrames, 100u);
  EXPECT_EQ(scan.lastFrameEnd, 100u * 417);
  EXPECT_LT(huge.bytesRead, 4 * kMiB);

  // Audio again after less than the search distance is found; after more, not.
  for (const uint64_t gap : {kMiB + kMiB / 2, 2 * kMiB + kMiB / 2}) {
    SCOPED_TRACE(gap);
    Bytes file = Frames(kMpeg1Word, 20);
    file.resize(file.size() + gap, 0);
    AppendFrames(file, kMpeg1Word, 20);
    scan = Scan(file);
    ASSERT_TRUE(scan.found);
    EXPECT_EQ(scan.audioFrames, gap < 2 * kMiB ? 40u : 20u);
  }
}

TEST(ScanMpegAudio, DropsACutLastFrameAndResyncsAfterJunk) {
  Bytes file = Frames(kMpeg1Word, 30);
  file.resize(file.size() + 777, 0x00);  // damage in the middle
  const size_t resumed = file.size();
  AppendFrames(file, kMpeg1Word, 30);
  file.resize(file.size() - 100);  // the last frame is cut short
  const MpegScan scan = Scan(file);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.audioFrames, 59u);
  // The parser stamps frames by their count, so the first frame behind the
  // damage is an index point with its own count.
  bool pointAtResync = false;
  for (const auto& point : scan.index) {
    if (point.offset == resumed) pointAtResync = point.frame == 30;
  }
  EXPECT_TRUE(pointAtResync);
}

TEST(ScanMpegAudio, GivesTheGaplessLengthOfAnInfoFrame) {
  Bytes file;
  AppendInfoFrame(file, 50, 576, 700);
  AppendFrames(file, kMpeg1Word, 50);
  MpegScan scan = Scan(file);
  ASSERT_TRUE(scan.found);
  EXPECT_TRUE(scan.hasInfoFrame);
  EXPECT_TRUE(scan.hasLameTag);
  EXPECT_EQ(scan.infoFrames, 50u);
  EXPECT_EQ(scan.encoderDelay, 576u);
  EXPECT_EQ(scan.encoderPadding, 700u);
  EXPECT_EQ(scan.audioFrames, 50u);
  EXPECT_EQ(scan.PlayedSamples(), 50u * 1152 - 576 - 700);
  // The Info frame is no audio: frame 0 is the one behind it.
  EXPECT_EQ(scan.index.front().offset, 417u);

  // Cut short: the audio ends where the frames do, less the delays.
  file.resize(417 + 20 * 417 + 100);
  scan = Scan(file);
  EXPECT_EQ(scan.audioFrames, 20u);
  EXPECT_EQ(scan.PlayedSamples(), 20u * 1152 - 576 - 529);

  // More frames than the header says (files joined): all of them play.
  file.clear();
  AppendInfoFrame(file, 10, 576, 700);
  AppendFrames(file, kMpeg1Word, 15);
  scan = Scan(file);
  EXPECT_EQ(scan.PlayedSamples(), (10u * 1152 - 576 - 700) + 5 * 1152);

  // Files joined together: the second one's Info frame is no audio either.
  file.clear();
  AppendInfoFrame(file, 10, 576, 700);
  AppendFrames(file, kMpeg1Word, 10);
  AppendInfoFrame(file, 5, 576, 700);
  AppendFrames(file, kMpeg1Word, 5);
  scan = Scan(file);
  EXPECT_EQ(scan.audioFrames, 15u);
  EXPECT_EQ(scan.PlayedSamples(), (10u * 1152 - 576 - 700) + 5 * 1152);
}

TEST(ScanMpegAudio, MpegTwoFramesHaveHalfTheSamples) {
  Bytes file = Frames(kMpeg2Word, 40);
  const MpegScan scan = Scan(file);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.PlayedSamples(), 40u * 576);
  EXPECT_EQ(scan.LengthNs(), 1044897959);  // 23040 / 22050 s
}

struct FixtureLength {
  const char* file;
  bool found;
  int64_t lengthMs;
};

class ScanFixture : public testing::TestWithParam<FixtureLength> {};

TEST_P(ScanFixture, FindsTheLengthOfTheFixture) {
  FileByteSource source;
  ASSERT_TRUE(source.Open(std::string(ORVEX_TEST_DATA) + "/" + GetParam().file));
  const MpegScan scan = ScanMpegAudio(source);
  EXPECT_EQ(scan.found, GetParam().found);
  EXPECT_EQ(scan.LengthNs() / 1000000, GetParam().lengthMs);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ScanFixture,
    testing::Values(
        FixtureLength{"cbr_stereo.mp3", true, 3000}, FixtureLength{"vbr.mp3", true, 4000},
        // 155 frames of 1152 samples: the decoded stream keeps the delays.
        FixtureLength{"vbr_noheader.mp3", true, 4048}, FixtureLength{"mpeg2_22k.mp3", true, 3000},
        FixtureLength{"mono.mp3", true, 2000}, FixtureLength{"big_id3.mp3", true, 2000},
        FixtureLength{"id3_ffff.mp3", true, 2000},
        // 70 whole audio frames less the 1105 samples of delay.
        FixtureLength{"truncated.mp3", true, 1803}, FixtureLength{"short.mp3", true, 500},
        FixtureLength{"program_stream.mp3", false, 0}, FixtureLength{"random.mp3", false, 0},
        FixtureLength{"empty.mp3", false, 0}));

TEST(FileByteSource, OpensOnlyRegularReadableFiles) {
  FileByteSource source;
  EXPECT_FALSE(source.Open(std::string(ORVEX_TEST_DATA) + "/no-such-file.mp3"));
  EXPECT_FALSE(source.Open(ORVEX_TEST_DATA));  // a folder
  ASSERT_TRUE(source.Open(std::string(ORVEX_TEST_DATA) + "/short.mp3"));
  uint8_t head[3] = {};
  EXPECT_EQ(source.Read(0, head, 3), 3u);
  EXPECT_EQ(source.Read(source.Size() - 1, head, 3), 1u);
  EXPECT_EQ(source.Read(source.Size() + 10, head, 3), 0u);
}

// A FIFO named like an MP3 must not block the open (nobody ever writes to it):
// it fails at once, as a device does. The watchdog writes to the FIFO to free
// a blocked open, so a fault fails the test instead of hanging it.
TEST(FileByteSource, RefusesAFifoAndADeviceWithoutBlocking) {
  std::string folder = (std::filesystem::temp_directory_path() / "orvex-scan-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const std::string fifo = folder + "/x.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto opened = std::async(std::launch::async, [&] {
    FileByteSource source;
    return source.Open(fifo);
  });
  const bool returned = opened.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!returned) {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  EXPECT_TRUE(returned) << "the open of a FIFO blocked";
  EXPECT_FALSE(opened.get());
  ::unlink(fifo.c_str());
  ::rmdir(folder.c_str());

  FileByteSource device;
  EXPECT_FALSE(device.Open("/dev/null"));
  EXPECT_EQ(device.Size(), 0u);
}

}  // namespace
}  // namespace orvex
