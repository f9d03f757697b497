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

// Hands out one player made beforehand.
class OnePlayer : public PlayerFactory {
 public:
  explicit OnePlayer(std::unique_ptr<Player> player) : player_(std::move(player)) {}
  bool HasAudioDevice() override { return true; }
  std::unique_ptr<Player> Create() override { return std::move(player_); }

 private:
  std::unique_ptr<Player> player_;
};

TEST(OptionsPanelSound, MuteIsHeardAtOnceAndUnmuteComesBackAtTheSlidersVolume) {
  const std::string file = ORVEX_TEST_DATA "/noise.mp3";
  auto player = std::make_unique<GstPlayer>();
  const Result built = player->BuildWithMp3Parser(file);
  if (Failed(built)) GTEST_SKIP() << "no audio output here: " << player->ErrorText(built);
  player->Teardown();
  test::TempDir dir;
  test::HeardTake take;
  ASSERT_TRUE(take.Start(file, dir.File("mute.wav"))) << "could not decode or record";

  OnePlayer factory(std::move(player));
  SilentShell shell;
  App app(shell, &factory);
  app.ApplySettings(Settings{});
  OptionsPanel panel;
  QObject::connect(&panel, &OptionsPanel::muteChanged, [&](bool muted) { app.SetMute(muted); });
  panel.setView(app.view());
  panel.show();
  auto* mute = panel.findChild<QCheckBox*>(QStringLiteral("1004"));
  ASSERT_NE(mute, nullptr);

  app.OpenFile(file);
  ASSERT_EQ(app.view().playState, Playing);
  QTest::qWait(500);
  const size_t muted = take.Mark();
  mute->click();
  EXPECT_TRUE(app.view().mute);
  QTest::qWait(400);
  const size_t unmuted = take.Mark();
  mute->click();
  EXPECT_FALSE(app.view().mute);
  QTest::qWait(400);
  app.Stop();
  ASSERT_TRUE(take.Finish(std::pow(10.0, app.view().volume / 2000.0)));
  app.CloseFile();

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
