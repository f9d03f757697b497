#include "settings/ini.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace orvex {
namespace {

TEST(ParseIniIntTest, TakesTheLeadingNumber) {
  EXPECT_EQ(ParseIniInt("9500"), 9500);
  EXPECT_EQ(ParseIniInt("0"), 0);
  EXPECT_EQ(ParseIniInt("12abc"), 12);
  EXPECT_EQ(ParseIniInt("7 ; seconds"), 7);
  EXPECT_EQ(ParseIniInt("-7"), -7);
  EXPECT_EQ(ParseIniInt("+7"), 7);
  EXPECT_EQ(ParseIniInt("0x1F"), 0);
  EXPECT_EQ(ParseIniInt("007"), 7);
}

TEST(ParseIniIntTest, TextWithoutLeadingDigitsIsNoNumber) {
  EXPECT_EQ(ParseIniInt(""), std::nullopt);
  EXPECT_EQ(ParseIniInt("abc"), std::nullopt);
  EXPECT_EQ(ParseIniInt("-"), std::nullopt);
  EXPECT_EQ(ParseIniInt("- 5"), std::nullopt);
  EXPECT_EQ(ParseIniInt("x12"), std::nullopt);
}

TEST(ParseIniIntTest, SaturatesOutsideThe32BitRange) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(ParseIniInt("2147483647"), kMax);
  EXPECT_EQ(ParseIniInt("2147483648"), kMax);
  EXPECT_EQ(ParseIniInt("4294967295"), kMax);
  EXPECT_EQ(ParseIniInt("99999999999999999999999999999"), kMax);
  EXPECT_EQ(ParseIniInt("-2147483648"), kMin);
  EXPECT_EQ(ParseIniInt("-99999999999999999999999999999"), kMin);
}

TEST(IniReaderTest, NamesAreCaseInsensitive) {
  const IniReader ini("[OPTIONS]\nBMUTE=1\nVolume=8000\n");
  EXPECT_EQ(ini.Find("options", "bMute"), "1");
  EXPECT_EQ(ini.Find("Options", "volume"), "8000");
  EXPECT_EQ(ini.Find("options", "eachJump"), std::nullopt);
  EXPECT_EQ(ini.Find("other", "bMute"), std::nullopt);
}

TEST(IniReaderTest, ToleratesBlanksCrLfBomAndQuotes) {
  const IniReader ini(
      "\xEF\xBB\xBF"
      "  [ options ]  \r\n"
      "\tbMute = 1 \r\n"
      "volume=\"8000\"\r\n"
      "eachJump =  5\r");
  EXPECT_EQ(ini.GetInt("options", "bMute", 0), 1);
  EXPECT_EQ(ini.GetInt("options", "volume", 0), 8000);
  EXPECT_EQ(ini.GetInt("options", "eachJump", 0), 5);
}

TEST(IniReaderTest, KeysCountOnlyInsideTheirSection) {
  const IniReader ini(
      "volume=1\n"
      "[other]\n"
      "volume=2\n"
      "[options]\n"
      "; volume=3\n"
      "# volume=4\n"
      "volume\n"
      "volume=5\n"
      "volume=6\n"
      "[options2]\n"
      "eachJump=7\n");
  EXPECT_EQ(ini.Find("options", "volume"), "5");
  EXPECT_EQ(ini.Find("options", "eachJump"), std::nullopt);
}

TEST(IniReaderTest, ABrokenSectionLineEndsTheSection) {
  const IniReader ini("[options]\nbMute=1\n[options\nvolume=8000\n");
  EXPECT_EQ(ini.Find("options", "bMute"), "1");
  EXPECT_EQ(ini.Find("options", "volume"), std::nullopt);
}

TEST(IniReaderTest, MissingOrNonNumericValuesGiveTheFallback) {
  const IniReader ini("[options]\nbMute=\nvolume=loud\neachJump=-3\n");
  EXPECT_EQ(ini.GetInt("options", "bMute", 42), 42);
  EXPECT_EQ(ini.GetInt("options", "volume", 9500), 9500);
  EXPECT_EQ(ini.GetInt("options", "eachJump", 3), -3);
  EXPECT_EQ(ini.GetInt("options", "absent", 11), 11);
}

TEST(IniReaderTest, NulBytesDoNotEndTheText) {
  const std::string text("[options]\n\0\0\0\nvolume=8000\n", 26);
  EXPECT_EQ(IniReader(text).Find("options", "volume"), "8000");
}

TEST(FormatIniSectionTest, WritesKeysInOrderAsUnsignedNumbers) {
  EXPECT_EQ(FormatIniSection("options", {{"bMute", 0}, {"volume", 9500}, {"eachJump", 3}}),
            "[options]\nbMute=0\nvolume=9500\neachJump=3\n");
  EXPECT_EQ(FormatIniSection("s", {{"k", 4294967295u}}), "[s]\nk=4294967295\n");
}

}  // namespace
}  // namespace orvex
