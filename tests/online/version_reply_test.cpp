#include "online/version_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex {
namespace {

using namespace std::string_literals;

TEST(VersionReply, TheWordAtTheStartDecides) {
  EXPECT_EQ(ClassifyVersionReply("_tell"), VersionReply::kNewVersion);
  EXPECT_EQ(ClassifyVersionReply("_tell 2.3.0 is out\r\n"), VersionReply::kNewVersion);
  EXPECT_EQ(ClassifyVersionReply("_must"), VersionReply::kMustUpdate);
  EXPECT_EQ(ClassifyVersionReply("_mustupdate"), VersionReply::kMustUpdate);
}

TEST(VersionReply, TellIsTestedFirst) {
  EXPECT_EQ(ClassifyVersionReply("_tell_must"), VersionReply::kNewVersion);
  EXPECT_EQ(ClassifyVersionReply("_must_tell"), VersionReply::kMustUpdate);
}

TEST(VersionReply, AnythingElseMeansCurrent) {
  EXPECT_EQ(ClassifyVersionReply(""), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply(" _tell"), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("\r\n_must"), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("_TELL"), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("_tel"), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("_mus"), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("ok _tell _must"), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("<html><body>500 Internal Server Error</body></html>"),
            VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("_te\0ll"s), VersionReply::kCurrent);
}

TEST(VersionReply, OnlyTheFirstBytesAreSeen) {
  const std::string filler(kVersionReplyBytes, 'x');
  EXPECT_EQ(ClassifyVersionReply(filler + "_tell"), VersionReply::kCurrent);
  EXPECT_EQ(ClassifyVersionReply("_must" + filler + filler), VersionReply::kMustUpdate);
}

}  // namespace
}  // namespace orvex
