// The mute box on a real player, as heard on the null sink's monitor: the
// sound stops within 100 ms of ticking it and comes back, at the slider's
// volume and where playback has got to, within 100 ms of clearing it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTest>

#include <cmath>
#include <memory>

#include "app/app.h"
#include "playback/gst_player.h"
#include "tests/playback/sound_check.h"
#include "views/options_panel.h"

namespace orvex {
namespace {

TEST(OptionsPanelSound, MuteIsHeardAtOnceAndUnmuteComesBackAtTheSlidersVolume) {
  const std::string file = ORVEX_TEST_DATA "/noise.mp3";
  auto player = std::make_unique<GstPlayer>();
  const Result built = player->BuildWithMp3Parser(file);
  if (Failed(built)) GTEST_SKIP() << "no audio output here: " << player->ErrorText(built);
  test::TempDir dir;
  test::HeardTake take;
  ASSERT_TRUE(take.Start(file, dir.File("mute.wav"))) << "could not decode or record";

  App app;
  app.volume = -500;
  app.player = std::move(player);
  app.bLoaded = 1;
  app.player->SetVolume(app.volume);
  OptionsPanel panel(app);
  panel.show();
  auto* mute = panel.findChild<QCheckBox*>(QStringLiteral("1004"));
  ASSERT_NE(mute, nullptr);

  ASSERT_FALSE(Failed(app.player->Run()));
  app.playState = Playing;
  QTest::qWait(500);
  const size_t muted = take.Mark();
  mute->click();
  EXPECT_EQ(app.bMute, 1);
  QTest::qWait(400);
  const size_t unmuted = take.Mark();
  mute->click();
  EXPECT_EQ(app.bMute, 0);
  QTest::qWait(400);
  app.player->Stop();
  ASSERT_TRUE(take.Finish(std::pow(10.0, app.volume / 2000.0)));
  app.player->Teardown();

  // Runs are what plays at the slider's volume.
  const int64_t prompt = take.MsToFrames(100);
  const test::HeardRun* before = take.RunPlayingAt(muted);
  ASSERT_NE(before, nullptr) << "not heard at the slider's volume before the mute";
  EXPECT_LE(static_cast<int64_t>(before->End()),
            static_cast<int64_t>(take.FrameOf(muted)) + prompt);
  EXPECT_EQ(test::PeakBetween(take.heard(), before->End(), take.EarliestFrameOf(unmuted)), 0.0);
  const test::HeardRun* after = take.RunFrom(unmuted);
  ASSERT_NE(after, nullptr) << "not heard at the slider's volume after the mute";
  EXPECT_LE(static_cast<int64_t>(after->at), static_cast<int64_t>(take.FrameOf(unmuted)) + prompt);
  EXPECT_EQ(after->Offset(), before->Offset()) << "playback did not run on while muted";
}

}  // namespace
}  // namespace orvex
