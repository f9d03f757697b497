// The files the build lays out beside the program: the sample recording, the warning sound
// and the link to the repair tool.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "res/sample.h"

namespace orvex {
namespace {

const std::string kBin = ORVEX_BIN_DIR;
const std::string kRes = ORVEX_RES_DIR;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8;
}
uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
  return static_cast<uint32_t>(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
}
uint32_t SyncSafe(const std::vector<uint8_t>& d, size_t at) {
  return d[at] << 21 | d[at + 1] << 14 | d[at + 2] << 7 | d[at + 3];
}

TEST(ProgramFilesTest, BuildPlacesCopiesOfTheCommittedFiles) {
  for (const char* name : {"eg.mp3", "chord.wav"}) {
    SCOPED_TRACE(name);
    const auto placed = ReadAll(kBin + "/" + name);
    ASSERT_FALSE(placed.empty());
    EXPECT_EQ(placed, ReadAll(kRes + "/" + name));
  }
}

TEST(ProgramFilesTest, SampleIsAHalfMinuteMp3TitledAsTheMenuSays) {
  const auto mp3 = ReadAll(kBin + "/eg.mp3");
  ASSERT_GT(mp3.size(), 10u);
  EXPECT_LT(mp3.size(), 400u * 1024);

  // ID3v2.3 tag with a Latin-1 title equal to the one the menu shows.
  ASSERT_EQ(std::string(mp3.begin(), mp3.begin() + 3), "ID3");
  ASSERT_EQ(mp3[3], 3);
  const size_t tagEnd = 10 + SyncSafe(mp3, 6);
  ASSERT_LT(tagEnd + 4, mp3.size());
  std::string title;
  for (size_t at = 10; at + 10 <= tagEnd && mp3[at] != 0;) {
    const std::string id(mp3.begin() + at, mp3.begin() + at + 4);
    const size_t size = Be32(mp3, at + 4);
    ASSERT_LE(at + 10 + size, tagEnd) << "frame " << id << " runs past the tag";
    if (id == "TIT2" && size > 1) {
      EXPECT_EQ(mp3[at + 10], 0) << "title not in Latin-1";
      title.assign(mp3.begin() + at + 11, mp3.begin() + at + 10 + size);
      while (!title.empty() && title.back() == '\0') title.pop_back();
    }
    at += 10 + size;
  }
  EXPECT_EQ(title, kSampleTitle);

  // The first frame after the tag: MPEG-1 Layer III at 44.1 kHz, constant bit rate, so the
  // length follows from the size.
  const uint32_t header = Be32(mp3, tagEnd);
  ASSERT_EQ(header & 0xFFE00000u, 0xFFE00000u) << "no frame right after the tag";
  EXPECT_EQ((header >> 19) & 3, 3u) << "not MPEG-1";
  EXPECT_EQ((header >> 17) & 3, 1u) << "not Layer III";
  EXPECT_EQ((header >> 10) & 3, 0u) << "not 44.1 kHz";
  static constexpr int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  const uint32_t index = (header >> 12) & 0xF;
  ASSERT_GE(index, 1u);
  ASSERT_LE(index, 14u);
  const double seconds = (mp3.size() - tagEnd) * 8.0 / (kKbps[index] * 1000.0);
  EXPECT_GE(seconds, 20.0);
  EXPECT_LE(seconds, 40.0);
}

TEST(ProgramFilesTest, WarningSoundIsAShortPcmWaveTheDropHandlerWillPlay) {
  const auto wav = ReadAll(kBin + "/chord.wav");
  // The drop handler plays sizes from 1 byte up to, not including, 1 MiB; ours stays small.
  ASSERT_GT(wav.size(), 44u);
  EXPECT_LT(wav.size(), 100u * 1024);
  ASSERT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  ASSERT_EQ(std::string(wav.begin() + 8, wav.begin() + 12), "WAVE");
  EXPECT_EQ(Le32(wav, 4) + 8, wav.size());
  uint32_t byteRate = 0, dataSize = 0;
  for (size_t at = 12; at + 8 <= wav.size();) {
    const std::string id(wav.begin() + at, wav.begin() + at + 4);
    const uint32_t size = Le32(wav, at + 4);
    if (id == "fmt ") {
      EXPECT_EQ(Le16(wav, at + 8), 1) << "not PCM";
      byteRate = Le32(wav, at + 16);
    } else if (id == "data") {
      dataSize = size;
    }
    at += 8 + size + (size & 1);
  }
  ASSERT_GT(byteRate, 0u);
  const double seconds = static_cast<double>(dataSize) / byteRate;
  EXPECT_GT(seconds, 0.2);
  EXPECT_LT(seconds, 2.0);
}

TEST(ProgramFilesTest, RepairToolIsLinkedBesideTheProgram) {
  const std::string link = kBin + "/mp3val";
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0) << link << " missing";
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  char target[4096] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(target[0], '/') << "the link must not depend on the folder it is read from";
  // Where the tool is installed the link must reach a program (CI installs it).
  if (access(target, F_OK) == 0) {
    EXPECT_EQ(access(link.c_str(), X_OK), 0);
  }
}

}  // namespace
}  // namespace orvex
