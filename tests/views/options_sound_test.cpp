// The mute box on a real player: the samples that reach the audio device go
// silent while it is ticked and come back at the slider's volume.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "app/app.h"
#include "playback/gst_player.h"
#include "views/options_panel.h"

namespace orvex {
namespace {

// The peak of every block that reached the sink, in order.
class Peaks {
 public:
  void Add(const PcmBlock& block) {
    float peak = 0;
    for (size_t i = 0; i < block.frames * block.channels; ++i)
      peak = std::max(peak, std::abs(block.samples[i]));
    std::lock_guard lock(mutex_);
    peaks_.push_back(peak);
  }
  size_t Count() const {
    std::lock_guard lock(mutex_);
    return peaks_.size();
  }
  // The loudest of the blocks from first to last, both included.
  float Max(size_t first, size_t last) const {
    std::lock_guard lock(mutex_);
    float peak = 0;
    for (size_t i = first; i <= last && i < peaks_.size(); ++i) peak = std::max(peak, peaks_[i]);
    return peak;
  }
  // Waits (running the event loop) until count blocks have arrived.
  bool WaitFor(size_t count) const {
    return QTest::qWaitFor([&] { return Count() >= count; }, 10000);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<float> peaks_;
};

// Hands out one player made beforehand.
class OnePlayer : public PlayerFactory {
 public:
  explicit OnePlayer(std::unique_ptr<Player> player) : player_(std::move(player)) {}
  bool HasAudioDevice() override { return true; }
  std::unique_ptr<Player> Create() override { return std::move(player_); }

 private:
  std::unique_ptr<Player> player_;
};

TEST(OptionsPanelSound, MuteWhilePlayingSilencesTheOutput) {
  Peaks peaks;
  GstPlayerOptions options;
  options.observer = [&peaks](const PcmBlock& block) { peaks.Add(block); };
  auto player = std::make_unique<GstPlayer>(GraphNotify{}, options);
  // A build that fails here (no audio output) fails again when the app opens.
  const Result built = player->BuildWithMp3Parser(ORVEX_TEST_DATA "/cbr_stereo.mp3");
  if (Failed(built)) GTEST_SKIP() << "no audio output here: " << player->ErrorText(built);
  player->Teardown();

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

  app.OpenFile(ORVEX_TEST_DATA "/cbr_stereo.mp3");
  ASSERT_EQ(app.view().playState, Playing);
  ASSERT_TRUE(peaks.WaitFor(6));
  const size_t audible = peaks.Count();
  EXPECT_GT(peaks.Max(1, audible - 1), 0.1f);

  mute->click();
  EXPECT_TRUE(app.view().mute);
  ASSERT_TRUE(peaks.WaitFor(audible + 8));
  // A block or two may have passed the volume before the click.
  EXPECT_EQ(peaks.Max(audible + 2, audible + 7), 0.0f);

  mute->click();
  EXPECT_FALSE(app.view().mute);
  const size_t restored = peaks.Count();
  ASSERT_TRUE(peaks.WaitFor(restored + 6));
  EXPECT_GT(peaks.Max(restored + 2, restored + 5), 0.1f);
  app.CloseFile();
}

}  // namespace
}  // namespace orvex
