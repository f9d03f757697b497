// The lesson rules by name, and what a file holds by its bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/lesson_formats.h"
#include "playback/format_probe.h"

namespace orvex {
namespace {

TEST(LessonNames, ExtensionsInAnyCaseAndOnlyAtTheEnd) {
  struct Case {
    const char* path;
    bool lesson;
    bool mp3;
  };
  const Case cases[] = {
      {"/a/lesson 1.mp3", true, true},  {"/a/LESSON.MP3", true, true},
      {"x.M4a", true, false},           {"x.mp4", true, false},
      {"x.AAC", true, false},           {"x.ogg", true, false},
      {"x.oga", true, false},           {"x.Opus", true, false},
      {"x.flac", true, false},          {"x.WAV", true, false},
      {"x.mkv", true, false},           {"x.WebM", true, false},
      {"song.mp3.txt", false, false},   {"/music.mp3/notes", false, false},
      {"/a/.mp3", false, false},        {"noext", false, false},
      {"x.mpeg", false, false},         {"x.mp", false, false},
      {"x.", false, false},             {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsLessonName(c.path), c.lesson) << c.path;
    EXPECT_EQ(IsMp3LessonName(c.path), c.mp3) << c.path;
  }
}

TEST(LessonNames, DialogFilterListsEveryLessonAndKeepsTheMp3Entry) {
  const std::vector<std::string> filters = OpenDialogFilters();
  ASSERT_EQ(filters.size(), 2u);
  // A filter chosen in an earlier open is selected again by its text.
  EXPECT_EQ(filters[1], "MP3 files (*.mp3)");
  const std::string& all = filters[0];
  const size_t open = all.find('(');
  ASSERT_NE(open, std::string::npos);
  ASSERT_EQ(all.back(), ')');
  std::istringstream patterns(all.substr(open + 1, all.size() - open - 2));
  std::vector<std::string> listed;
  for (std::string p; patterns >> p;) listed.push_back(p);
  std::vector<std::string> expected;
  for (std::string_view ext : LessonExtensions()) expected.emplace_back(1, '*').append(ext);
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(OpenDialogFilter(), filters[0] + ";;" + filters[1]);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(LessonNames, LauncherAndAppStreamOfferEveryType) {
  const std::string desktop = ReadText(ORVEX_SOURCE_DIR "/res/orvexplayer.desktop");
  const std::string metainfo = ReadText(ORVEX_SOURCE_DIR "/res/orvexplayer.metainfo.xml.in");
  ASSERT_FALSE(desktop.empty());
  ASSERT_FALSE(metainfo.empty());
  std::string mimeLine = "MimeType=";
  for (std::string_view type : LessonMimeTypes()) mimeLine += std::string(type) + ";";
  EXPECT_NE(desktop.find(mimeLine + "\n"), std::string::npos) << desktop;
  for (std::string_view type : LessonMimeTypes()) {
    EXPECT_NE(metainfo.find("<mediatype>" + std::string(type) + "</mediatype>"), std::string::npos)
        << type;
  }
}

// An MPEG-1 Layer III frame of 128 kb/s at 44.1 kHz: 417 bytes.
void AppendMp3Frames(std::vector<uint8_t>& out, int count) {
  for (int i = 0; i < count; ++i) {
    const size_t at = out.size();
    out.resize(at + 417, 0);
    out[at] = 0xFF;
    out[at + 1] = 0xFB;
    out[at + 2] = 0x90;
    out[at + 3] = 0x64;
  }
}

std::vector<uint8_t> Id3Tag(uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3, size_t body) {
  std::vector<uint8_t> tag(10 + body, 0);
  const uint8_t header[10] = {'I', 'D', '3', 4, 0, 0, s0, s1, s2, s3};
  std::copy(header, header + 10, tag.begin());
  return tag;
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> Bytes(const std::string& s, size_t padTo = 64) {
  std::vector<uint8_t> b(s.begin(), s.end());
  if (b.size() < padTo) b.resize(padTo, 0x11);
  return b;
}

// Two ADTS frames of 32 bytes each (AAC LC, 44.1 kHz, stereo).
std::vector<uint8_t> Adts(int frames) {
  static constexpr uint8_t kHeader[7] = {0xFF, 0xF1, 0x50, 0x80, 0x04, 0x1F, 0xFC};
  std::vector<uint8_t> out(static_cast<size_t>(frames) * 32, 0x21);
  for (size_t at = 0; at < out.size(); at += 32) std::copy(kHeader, kHeader + 7, out.begin() + at);
  return out;
}

// MPEG transport stream packets of stride bytes (188, or 192 with a time code
// in front) carrying payload, 184 bytes to a packet.
std::vector<uint8_t> TsPackets(const std::vector<uint8_t>& payload, size_t stride) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < payload.size(); at += 184) {
    out.resize(out.size() + stride - 188, 0);
    const uint8_t header[4] = {0x47, 0x41, 0x00, 0x10};
    out.insert(out.end(), header, header + 4);
    std::vector<uint8_t> body(payload.begin() + static_cast<long>(at),
                              payload.begin() + static_cast<long>(std::min(at + 184, payload.size())));
    body.resize(184, 0xFF);
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

LessonProbe Probe(const std::vector<uint8_t>& bytes) {
  MemoryByteSource source(bytes);
  return ProbeLesson(source);
}

TEST(LessonContentProbe, ContainersBySignatureMp3ByItsFrames) {
  std::vector<uint8_t> mp3;
  AppendMp3Frames(mp3, 8);
  EXPECT_EQ(Probe(mp3).content, LessonContent::kMp3);
  EXPECT_EQ(Probe({}).content, LessonContent::kEmpty);
  EXPECT_EQ(Probe(Bytes(std::string("\0\0\0\x20" "ftypM4A ", 12))).content, LessonContent::kMp4);
  EXPECT_EQ(Probe(Bytes("OggS")).content, LessonContent::kOgg);
  EXPECT_EQ(Probe(Bytes("\x1A\x45\xDF\xA3")).content, LessonContent::kMatroska);
  EXPECT_EQ(Probe(Bytes("fLaC")).content, LessonContent::kFlac);
  EXPECT_EQ(Probe(Bytes(std::string("RIFF\x24\0\0\0WAVEfmt ", 16))).content, LessonContent::kWav);
  EXPECT_EQ(Probe(Bytes(std::string("RIFF\x24\0\0\0AVI LIST", 16))).content,
            LessonContent::kUnknown);
  EXPECT_EQ(Probe(Adts(3)).content, LessonContent::kAdts);
  // MP3 frames in transport stream packets are a container, not MP3; a
  // program stream is the MP3 builders' own.
  std::vector<uint8_t> frames;
  AppendMp3Frames(frames, 40);
  EXPECT_EQ(Probe(TsPackets(frames, 188)).content, LessonContent::kMpegTs);
  EXPECT_EQ(Probe(TsPackets(frames, 192)).content, LessonContent::kMpegTs);
  EXPECT_EQ(Probe(Join(Bytes(std::string("\0\0\x01\xBA", 4), 14), frames)).content,
            LessonContent::kMpegPs);
  EXPECT_FALSE(TakesMp3Builders(LessonContent::kMpegTs));
  EXPECT_TRUE(TakesMp3Builders(LessonContent::kMpegPs));
  // One sync word followed by something else is not ADTS.
  std::vector<uint8_t> lone = Adts(1);
  lone.resize(200, 0x33);
  EXPECT_EQ(Probe(lone).content, LessonContent::kUnknown);
  EXPECT_EQ(Probe(Bytes("plain text that is no lesson at all", 4096)).content,
            LessonContent::kUnknown);
}

TEST(LessonContentProbe, LeadingId3TagIsSkippedAndJudged) {
  // A sound tag in front of FLAC: the container behind it counts.
  LessonProbe flac = Probe(Join(Id3Tag(0, 0, 1, 0, 128), Bytes("fLaC")));
  EXPECT_EQ(flac.content, LessonContent::kFlac);
  EXPECT_TRUE(flac.leadingId3);
  EXPECT_TRUE(flac.id3Sound);
  EXPECT_EQ(flac.contentOffset, 138u);
  // MP3 behind a tag stays MP3, so the tag demuxer never sees it.
  std::vector<uint8_t> mp3;
  AppendMp3Frames(mp3, 8);
  EXPECT_EQ(Probe(Join(Id3Tag(0, 0, 0, 20, 20), mp3)).content, LessonContent::kMp3);
  // Sizes that abort GStreamer 1.22's tag demuxer, or run past the file.
  LessonProbe ffff = Probe(Join(Id3Tag(0xFF, 0xFF, 0xFF, 0xFF, 0), Bytes("fLaC")));
  EXPECT_TRUE(ffff.leadingId3);
  EXPECT_FALSE(ffff.id3Sound);
  LessonProbe past = Probe(Join(Id3Tag(0, 0x7F, 0, 0, 16), Bytes("OggS")));
  EXPECT_TRUE(past.leadingId3);
  EXPECT_FALSE(past.id3Sound);
  EXPECT_FALSE(Probe(Bytes("OggS")).leadingId3);
}

TEST(LessonContentProbe, AdtsFramesCountedAndIndexedUpToATrailingTag) {
  // 20 frames of one raw data block and one of two, then an ID3v1 tag.
  std::vector<uint8_t> bytes = Adts(20);
  std::vector<uint8_t> two = Adts(1);
  two[6] = static_cast<uint8_t>((two[6] & 0xFC) | 1);
  bytes = Join(Join(bytes, two), Bytes("TAG", 128));
  MemoryByteSource source(bytes);
  const AdtsScan scan = ScanAdts(source, 0, 8);
  ASSERT_TRUE(scan.found);
  EXPECT_EQ(scan.sampleRate, 44100);
  EXPECT_EQ(scan.samples, 22u * 1024);
  EXPECT_EQ(scan.LengthNs(), int64_t{22} * 1024 * 1000000000 / 44100);
  ASSERT_EQ(scan.index.size(), 3u);
  EXPECT_EQ(scan.index[1].offset, 8u * 32);
  EXPECT_EQ(scan.index[1].sample, 8u * 1024);
  EXPECT_EQ(scan.index[2].sample, 16u * 1024);
  // From an offset behind a leading tag; and one frame alone is not a stream.
  const std::vector<uint8_t> tagged = Join(Id3Tag(0, 0, 0, 20, 20), Adts(3));
  MemoryByteSource taggedSource(tagged);
  EXPECT_EQ(ScanAdts(taggedSource, 30).samples, 3u * 1024);
  EXPECT_EQ(ScanAdts(taggedSource, 30).index.front().offset, 30u);
  const std::vector<uint8_t> one = Adts(1);
  MemoryByteSource oneSource(one);
  EXPECT_FALSE(ScanAdts(oneSource, 0).found);
}

TEST(LessonContentProbe, MatroskaTrackDurationTag) {
  EXPECT_EQ(ParseTrackDuration("00:00:07.503000000"), 7503000000);
  EXPECT_EQ(ParseTrackDuration("01:02:03.5"), 3723500000000);
  EXPECT_EQ(ParseTrackDuration("00:10:00"), 600000000000);
  for (const char* bad : {"", "7.5", "00:61:00.0", "00:00:07.5x", "00::07.5", "aa:00:00"}) {
    EXPECT_EQ(ParseTrackDuration(bad), -1) << bad;
  }
}

}  // namespace
}  // namespace orvex
