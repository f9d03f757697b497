#include <gtest/gtest.h>

#include <climits>

#include "app/app.h"
#include "core/os_version.h"
#include "core/texts.h"
#include "playback/units.h"
#include "views/format_time.h"

namespace orvex {
namespace {

TEST(AppTest, StartsWithNoFileAndNoPoints) {
  App app;
  const TransportView& v = app.view();
  EXPECT_FALSE(v.loaded);
  EXPECT_EQ(v.playState, Stopped);
  EXPECT_EQ(v.pointA, -1);
  EXPECT_EQ(v.pointB, -1);
  EXPECT_EQ(v.channel, 0);
  EXPECT_FALSE(v.topmost);
  EXPECT_TRUE(v.filePath.empty());
  EXPECT_EQ(v.status, "还未载入mp3文件");
  EXPECT_EQ(v.title, std::string(Text(kTextCaption)));
  EXPECT_GT(ReadOsVersion().major, 0);  // a kernel release such as 6.1.0
}

TEST(TextsTest, TheTableHoldsEveryTextOnce) {
  for (int id :
       {103, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125,
        126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142}) {
    EXPECT_FALSE(Text(id).empty()) << id;
  }
  EXPECT_TRUE(Text(104).empty());
  EXPECT_TRUE(Text(143).empty());
  EXPECT_EQ(Text(kTextCaption), "OrvexPlayer 2.2.3 （对mp3进行ab复读）");
  EXPECT_EQ(Text(kTextMenuSetA), "设置a点 \t ab复读键“↑”");
  EXPECT_EQ(Text(kTextTipClearAB), "取消ab点（ab复读键“↑”）");
  EXPECT_EQ(Text(kTextPlaying), "播放中…");
  // The system to repair is named in the table itself.
  EXPECT_EQ(Text(kTextRepairSystem), "系统环境有问题，请修复或重装 GStreamer");
  EXPECT_EQ(Text(kTextMenuStereo), "立体声");
  EXPECT_EQ(FormatText(kTextErrCode, {"80004005"}), "错误代码 0x80004005。");
}

TEST(TextsTest, FormatFillsEachPlaceInOrderAndLeavesArgumentsAlone) {
  EXPECT_EQ(FormatText(kTextLoadFailed, {"坏文件"}), "载入失败：\r\n坏文件");
  EXPECT_EQ(FormatText(kTextWriteFailed,
                       {"/home/u/.config/OrvexPlayer/options.ini", "No space left on device"}),
            "写文件失败：\n/home/u/.config/OrvexPlayer/options.ini\n\nNo space left on device");
  // A path holding a format directive is inserted as it stands.
  EXPECT_EQ(FormatText(kTextReadFailed, {"/tmp/%s%S%n", "x"}), "读文件失败：\n/tmp/%s%S%n\n\nx");
  // Missing arguments leave their places empty rather than reading past the list.
  EXPECT_EQ(FormatText(kTextReadFailed, {}), "读文件失败：\n\n\n");
}

TEST(UnitsTest, NanosecondsToMilliseconds) {
  EXPECT_EQ(NsToMs(1999999), 1);
  EXPECT_EQ(NsToMs(-1999999), -1);
  EXPECT_EQ(NsToMs(int64_t{3723500} * 1000000), 3723500);
  EXPECT_EQ(MsToNs(3723500), int64_t{3723500} * 1000000);
  EXPECT_EQ(NsToMs((int64_t{1} << 32) * 1000000 + 2000000), 2);
}

TEST(FormatTimeTest, WholeRange) {
  EXPECT_EQ(FormatTime(0), "00:00:00");
  EXPECT_EQ(FormatTime(999), "00:00:00");
  EXPECT_EQ(FormatTime(59999), "00:00:59");
  EXPECT_EQ(FormatTime(60000), "00:01:00");
  EXPECT_EQ(FormatTime(3723500), "01:02:03");
  EXPECT_EQ(FormatTime(360000000), "100:00:00");
  EXPECT_EQ(FormatTime(INT32_MAX), "596:31:23");
  EXPECT_EQ(FormatTime(INT32_MAX).size(), 9u);
  EXPECT_EQ(FormatTime(-1), "00:00:00");
  EXPECT_EQ(FormatTime(INT32_MIN), "00:00:00");
}

}  // namespace
}  // namespace orvex
