// What the player sends to the sound server, recorded from the private
// PulseAudio null sink's monitor: channels, volume, mute, the program stream,
// and no device at all.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "playback/gst_graph.h"
#include "playback/gst_player.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/sound_check.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Fixture;
using test::Recording;
using test::WaitUntil;

class PlayerSound : public test::SoundTest {
 protected:
  // Plays about a second of the file (from 500 ms on) with the settings and
  // records what reaches the null sink.
  std::optional<Recording> Play(const std::string& file, int32_t channel, int32_t volume,
                                bool splitter = false) {
    const std::string wav = dir_.File("take" + std::to_string(++takes_) + ".wav");
    test::NullSinkRecording recording;
    if (!recording.Start(wav)) {
      ADD_FAILURE() << "parec did not start recording";
      return std::nullopt;
    }
    GstPlayer player;
    const Result built = splitter ? player.BuildWithMpeg1Splitter(Fixture(file))
                                  : player.BuildWithMp3Parser(Fixture(file));
    if (Failed(built)) {
      ADD_FAILURE() << "build failed: " << player.ErrorText(built);
      return std::nullopt;
    }
    EXPECT_EQ(player.SetChannel(channel), kOk);
    EXPECT_EQ(player.SetVolume(volume), kOk);
    player.SeekMs(500);
    EXPECT_EQ(player.Run(), kOk);
    // Played on for a second, then a little more so the monitor catches up.
    EXPECT_TRUE(WaitUntil([&] { return player.GetPositionMs() >= 1500; }));
    player.Pause();
    std::this_thread::sleep_for(150ms);
    recording.Stop();
    Recording result;
    if (!test::ReadWav(wav, result)) {
      ADD_FAILURE() << "no recording in " << wav;
      return std::nullopt;
    }
    EXPECT_GE(result.channels.size(), 2u);
    return result;
  }

  test::TempDir dir_;
  int takes_ = 0;
};

// The loudest sample of a channel over the whole recording.
double Peak(const Recording& r, int channel) {
  double peak = 0;
  for (float v : r.channels[static_cast<size_t>(channel)])
    peak = std::max(peak, double{std::fabs(v)});
  return peak;
}

constexpr double kLsb = 1.0 / 32768;

TEST_F(PlayerSound, StereoPlaysBothTonesOnTheirChannels) {
  const auto r = Play("cbr_stereo.mp3", kChannelStereo, kVolumeFull);
  ASSERT_TRUE(r);
  const auto audible = test::Audible(test::Windows(*r));
  ASSERT_GE(audible.size(), 10u);  // half a second at least
  EXPECT_NEAR(test::ToneFrequency(*r, 0), 440, 20);
  EXPECT_NEAR(test::ToneFrequency(*r, 1), 1000, 40);
}

TEST_F(PlayerSound, LeftOnlySilencesTheRightChannel) {
  const auto r = Play("cbr_stereo.mp3", kChannelLeft, kVolumeFull);
  ASSERT_TRUE(r);
  ASSERT_GE(test::Audible(test::Windows(*r)).size(), 10u);
  EXPECT_GT(Peak(*r, 0), 0.2);
  EXPECT_LE(Peak(*r, 1), 2 * kLsb);
  EXPECT_NEAR(test::ToneFrequency(*r, 0), 440, 20);
}

TEST_F(PlayerSound, RightOnlySilencesTheLeftChannel) {
  const auto r = Play("cbr_stereo.mp3", kChannelRight, kVolumeFull);
  ASSERT_TRUE(r);
  ASSERT_GE(test::Audible(test::Windows(*r)).size(), 10u);
  EXPECT_LE(Peak(*r, 0), 2 * kLsb);
  EXPECT_GT(Peak(*r, 1), 0.2);
  EXPECT_NEAR(test::ToneFrequency(*r, 1), 1000, 40);
}

TEST_F(PlayerSound, AnyOtherChannelValueIsStereo) {
  const auto r = Play("cbr_stereo.mp3", 3, kVolumeFull);
  ASSERT_TRUE(r);
  EXPECT_GT(Peak(*r, 0), 0.2);
  EXPECT_GT(Peak(*r, 1), 0.2);
}

TEST_F(PlayerSound, MonoComesOutOfTheChosenSideOnly) {
  const auto r = Play("mono.mp3", kChannelRight, kVolumeFull);
  ASSERT_TRUE(r);
  EXPECT_LE(Peak(*r, 0), 2 * kLsb);
  EXPECT_GT(Peak(*r, 1), 0.2);
}

TEST_F(PlayerSound, MuteIsSilence) {
  const auto r = Play("cbr_stereo.mp3", kChannelStereo, kVolumeSilent);
  ASSERT_TRUE(r);
  EXPECT_LE(Peak(*r, 0), 2 * kLsb);
  EXPECT_LE(Peak(*r, 1), 2 * kLsb);
}

TEST_F(PlayerSound, MinusTwentyDecibelsIsATenthOfTheAmplitude) {
  const auto full = Play("cbr_stereo.mp3", kChannelStereo, kVolumeFull);
  const auto quiet = Play("cbr_stereo.mp3", kChannelStereo, -2000);
  ASSERT_TRUE(full && quiet);
  for (int c = 0; c < 2; ++c) {
    std::vector<double> loud, soft;
    for (const auto& w : test::Audible(test::Windows(*full))) loud.push_back(w.rms[c]);
    for (const auto& w : test::Audible(test::Windows(*quiet), 0.002)) soft.push_back(w.rms[c]);
    ASSERT_GE(loud.size(), 10u);
    ASSERT_GE(soft.size(), 10u);
    const double db = 20 * std::log10(test::Median(soft) / test::Median(loud));
    EXPECT_NEAR(db, -20.0, 1.0) << "channel " << c;
  }
}

// The program stream plays through the splitter, tones on the right sides.
TEST_F(PlayerSound, TheProgramStreamPlaysItsAudio) {
  const auto r = Play("program_stream.mp3", kChannelStereo, kVolumeFull, true);
  ASSERT_TRUE(r);
  ASSERT_GE(test::Audible(test::Windows(*r)).size(), 10u);
  EXPECT_NEAR(test::ToneFrequency(*r, 0), 440, 20);
  EXPECT_NEAR(test::ToneFrequency(*r, 1), 1000, 40);
}

// The default output (the null sink the test server makes its default) comes
// from the sound server's own device provider: the plugins of the other
// providers of audio outputs (DeckLink's on this kind of system) stay unloaded.
TEST_F(PlayerSound, TheDefaultOutputLoadsNoOtherDeviceProvider) {
  const GstElementPtr sink = FindDefaultAudioRenderer();
  ASSERT_TRUE(sink);
  gchar* device = nullptr;
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink.get()), "device")) {
    g_object_get(sink.get(), "device", &device, nullptr);
  }
  EXPECT_STREQ(device, "ci_null");
  g_free(device);
  const std::string own =
      gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(gst_element_get_factory(sink.get())));
  int others = 0;
  GList* factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_NONE);
  for (GList* l = factories; l; l = l->next) {
    auto* factory = GST_DEVICE_PROVIDER_FACTORY(l->data);
    const gchar* name = gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(factory));
    if (!name || own == name || !gst_device_provider_factory_has_classes(factory, "Audio/Sink")) {
      continue;
    }
    ++others;
    GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), name);
    EXPECT_FALSE(plugin && gst_plugin_is_loaded(plugin)) << "the plugin " << name << " is loaded";
    if (plugin) gst_object_unref(plugin);
  }
  gst_plugin_feature_list_free(factories);
  if (others == 0) GTEST_SKIP() << "no other provider of audio outputs is installed";
}

// No sound server (its socket leads nowhere): no device, and a build says so.
TEST_F(PlayerSound, WithoutASoundServerThereIsNoDevice) {
  struct stat st {};
  if (::stat("/dev/snd", &st) == 0) GTEST_SKIP() << "this machine has sound hardware of its own";
  const std::string saved = std::getenv("PULSE_SERVER");
  ::setenv("PULSE_SERVER", ("unix:" + dir_.File("no-server")).c_str(), 1);
  // HasAudioDevice is FindDefaultAudioRenderer finding a device.
  EXPECT_FALSE(GstPlayerFactory().HasAudioDevice());
  GstPlayer player;
  EXPECT_EQ(player.BuildWithMp3Parser(Fixture("cbr_stereo.mp3")), kErrNoAudioHardware);
  EXPECT_FALSE(player.ErrorText(kErrNoAudioHardware).empty());
  ::setenv("PULSE_SERVER", saved.c_str(), 1);
  EXPECT_TRUE(GstPlayerFactory().HasAudioDevice());
}

}  // namespace
}  // namespace orvex
