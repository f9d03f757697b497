#include "app/ui_state.h"

#include <gtest/gtest.h>

#include "app/commands.h"
#include "core/texts.h"

namespace orvex {
namespace {

struct Phase {
  int32_t a;
  int32_t b;
};

TEST(UiStateTest, ToolbarBitmapFollowsStateAndPhase) {
  TransportView view;
  EXPECT_EQ(ToolbarBitmapFor(view), 135);
  view.loaded = true;
  EXPECT_EQ(ToolbarBitmapFor(view), 135);
  const Phase phases[] = {{-1, -1}, {100, -1}, {100, 200}};
  for (int i = 0; i < 3; ++i) {
    view.pointA = phases[i].a;
    view.pointB = phases[i].b;
    view.playState = Paused;
    EXPECT_EQ(ToolbarBitmapFor(view), 135 + i);
    view.playState = Playing;
    EXPECT_EQ(ToolbarBitmapFor(view), 132 + i);
  }
  view.loaded = false;
  EXPECT_EQ(ToolbarBitmapFor(view), 135);
}

TEST(UiStateTest, ToolbarAndMenuEnableTable) {
  TransportView view;
  ToolbarEnable e = ToolbarEnableFor(view);
  MenuState m = MenuStateFor(view);
  EXPECT_TRUE(e.open);
  EXPECT_FALSE(e.play);
  EXPECT_FALSE(e.transport);
  EXPECT_FALSE(m.playEnabled);
  EXPECT_FALSE(m.transportEnabled);

  view.loaded = true;
  e = ToolbarEnableFor(view);
  m = MenuStateFor(view);
  EXPECT_TRUE(e.play);
  EXPECT_FALSE(e.transport);
  EXPECT_TRUE(m.playEnabled);
  EXPECT_FALSE(m.transportEnabled);

  for (PlayState s : {Paused, Playing}) {
    view.playState = s;
    EXPECT_TRUE(ToolbarEnableFor(view).transport);
    EXPECT_TRUE(MenuStateFor(view).transportEnabled);
  }
}

TEST(UiStateTest, MenuTexts) {
  TransportView view;
  MenuState m = MenuStateFor(view);
  EXPECT_EQ(Text(m.playText), "播放 \t ↓");
  EXPECT_EQ(Text(m.topmostText), "窗口置顶");
  EXPECT_EQ(Text(m.repeatText), "设置a点 \t ab复读键“↑”");
  // Playing without a file reads "play": the state alone is not enough.
  view.playState = Playing;
  EXPECT_EQ(MenuStateFor(view).playText, kTextMenuPlay);
  view.loaded = true;
  EXPECT_EQ(Text(MenuStateFor(view).playText), "暂停 \t ↓");
  view.topmost = true;
  EXPECT_EQ(Text(MenuStateFor(view).topmostText), "取消窗口置顶");
  view.pointA = 0;
  EXPECT_EQ(MenuStateFor(view).repeatText, kTextMenuSetB);
  view.pointB = 0;
  EXPECT_EQ(MenuStateFor(view).repeatText, kTextMenuClearAB);
}

TEST(UiStateTest, ChannelRadioMark) {
  TransportView view;
  const int expected[] = {kCmdStereo, kCmdLeft, kCmdRight, kCmdStereo, kCmdStereo};
  const int32_t channels[] = {0, 1, 2, 3, -1};
  for (int i = 0; i < 5; ++i) {
    view.channel = channels[i];
    EXPECT_EQ(MenuStateFor(view).checkedChannel, expected[i]) << channels[i];
  }
}

TEST(UiStateTest, TooltipsFollowStateAndPointsNotTheLoadedFlag) {
  TransportView view;
  EXPECT_EQ(TooltipTextFor(kCmdOpen, view), kTextTipOpen);
  EXPECT_EQ(TooltipTextFor(kCmdPlay, view), kTextTipPlay);
  EXPECT_EQ(TooltipTextFor(kCmdStop, view), kTextTipStop);
  EXPECT_EQ(TooltipTextFor(kCmdJumpForward, view), kTextTipJumpForward);
  EXPECT_EQ(TooltipTextFor(kCmdJumpBackward, view), kTextTipJumpBack);
  EXPECT_EQ(TooltipTextFor(kCmdRepeat, view), kTextTipSetA);
  EXPECT_EQ(TooltipTextFor(kCmdAbout, view), 0);
  view.playState = Playing;
  EXPECT_EQ(TooltipTextFor(kCmdPlay, view), kTextTipPause);
  view.pointA = 5;
  EXPECT_EQ(TooltipTextFor(kCmdRepeat, view), kTextTipSetB);
  view.pointB = 9;
  EXPECT_EQ(Text(TooltipTextFor(kCmdRepeat, view)), "取消ab点（ab复读键“↑”）");
}

}  // namespace
}  // namespace orvex
