#include "app/ui_state.h"

#include <gtest/gtest.h>

#include "app/commands.h"
#include "app/texts.h"

namespace orvex {
namespace {

struct Phase {
  int32_t a;
  int32_t b;
};

TEST(UiStateTest, ToolbarBitmapFollowsStateAndPhase) {
  App app;
  EXPECT_EQ(ToolbarBitmapFor(app), 135);
  app.bLoaded = 1;
  EXPECT_EQ(ToolbarBitmapFor(app), 135);
  const Phase phases[] = {{-1, -1}, {100, -1}, {100, 200}};
  for (int i = 0; i < 3; ++i) {
    app.pointA = phases[i].a;
    app.pointB = phases[i].b;
    app.playState = Paused;
    EXPECT_EQ(ToolbarBitmapFor(app), 135 + i);
    app.playState = Playing;
    EXPECT_EQ(ToolbarBitmapFor(app), 132 + i);
  }
  app.bLoaded = 0;
  EXPECT_EQ(ToolbarBitmapFor(app), 135);
}

TEST(UiStateTest, ToolbarAndMenuEnableTable) {
  App app;
  ToolbarEnable e = ToolbarEnableFor(app);
  MenuState m = MenuStateFor(app);
  EXPECT_TRUE(e.open);
  EXPECT_FALSE(e.play);
  EXPECT_FALSE(e.transport);
  EXPECT_FALSE(m.playEnabled);
  EXPECT_FALSE(m.transportEnabled);

  app.bLoaded = 1;
  e = ToolbarEnableFor(app);
  m = MenuStateFor(app);
  EXPECT_TRUE(e.play);
  EXPECT_FALSE(e.transport);
  EXPECT_TRUE(m.playEnabled);
  EXPECT_FALSE(m.transportEnabled);

  for (PlayState s : {Paused, Playing}) {
    app.playState = s;
    EXPECT_TRUE(ToolbarEnableFor(app).transport);
    EXPECT_TRUE(MenuStateFor(app).transportEnabled);
  }
}

TEST(UiStateTest, MenuTexts) {
  App app;
  MenuState m = MenuStateFor(app);
  EXPECT_EQ(Text(m.playText), "播放 \t ↓");
  EXPECT_EQ(Text(m.topmostText), "窗口置顶");
  EXPECT_EQ(Text(m.repeatText), "设置a点 \t ab复读键“↑”");
  // Playing without a file reads "play": the state alone is not enough.
  app.playState = Playing;
  EXPECT_EQ(MenuStateFor(app).playText, kTextMenuPlay);
  app.bLoaded = 1;
  EXPECT_EQ(Text(MenuStateFor(app).playText), "暂停 \t ↓");
  app.bTopmost = 1;
  EXPECT_EQ(Text(MenuStateFor(app).topmostText), "取消窗口置顶");
  app.pointA = 0;
  EXPECT_EQ(MenuStateFor(app).repeatText, kTextMenuSetB);
  app.pointB = 0;
  EXPECT_EQ(MenuStateFor(app).repeatText, kTextMenuClearAB);
}

TEST(UiStateTest, ChannelRadioMark) {
  App app;
  const int expected[] = {kCmdStereo, kCmdLeft, kCmdRight, kCmdStereo, kCmdStereo};
  const int32_t channels[] = {0, 1, 2, 3, -1};
  for (int i = 0; i < 5; ++i) {
    app.channel = channels[i];
    EXPECT_EQ(MenuStateFor(app).checkedChannel, expected[i]) << channels[i];
  }
}

TEST(UiStateTest, TooltipsFollowStateAndPointsNotTheLoadedFlag) {
  App app;
  EXPECT_EQ(TooltipTextFor(kCmdOpen, app), kTextTipOpen);
  EXPECT_EQ(TooltipTextFor(kCmdPlay, app), kTextTipPlay);
  EXPECT_EQ(TooltipTextFor(kCmdStop, app), kTextTipStop);
  EXPECT_EQ(TooltipTextFor(kCmdJumpForward, app), kTextTipJumpForward);
  EXPECT_EQ(TooltipTextFor(kCmdJumpBackward, app), kTextTipJumpBack);
  EXPECT_EQ(TooltipTextFor(kCmdRepeat, app), kTextTipSetA);
  EXPECT_EQ(TooltipTextFor(kCmdAbout, app), 0);
  app.playState = Playing;
  EXPECT_EQ(TooltipTextFor(kCmdPlay, app), kTextTipPause);
  app.pointA = 5;
  EXPECT_EQ(TooltipTextFor(kCmdRepeat, app), kTextTipSetB);
  app.pointB = 9;
  EXPECT_EQ(Text(TooltipTextFor(kCmdRepeat, app)), "取消ab点（ab复读键“↑”）");
}

}  // namespace
}  // namespace orvex
