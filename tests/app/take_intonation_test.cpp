// A take's intonation end to end: the lesson's stretch rises in pitch, the
// learner says a rising glide into the private PulseAudio's microphone
// (tests/support/microphone.h) a little higher and slower; the take is
// recorded after a pass, the take service tracks both pitches on its own
// thread and hands the aligned curves to the application, and the wave strip
// draws them over the stretch. The picture goes to artefacts/views.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/take_service.h"
#include "core/intonation.h"
#include "playback/gst_player.h"
#include "tests/support/microphone.h"
#include "tests/views/view_fixture.h"
#include "views/wave_strip.h"

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

constexpr int kRate = 48000;

// A glide from fromHz to toHz over ms, faded in and out, after leadMs of
// silence and before tailMs of it.
std::vector<float> Glide(int leadMs, int ms, double fromHz, double toHz, int tailMs, float level) {
  std::vector<float> samples(static_cast<size_t>(kRate) * (leadMs + ms + tailMs) / 1000);
  const size_t first = static_cast<size_t>(kRate) * leadMs / 1000;
  const size_t frames = static_cast<size_t>(kRate) * ms / 1000;
  double phase = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(frames);
    phase += 2 * M_PI * (fromHz + (toHz - fromHz) * t) / kRate;
    const double fade = std::min({1.0, i / 960.0, (frames - i) / 960.0});
    samples[first + i] = static_cast<float>(level * fade * std::sin(phase));
  }
  return samples;
}

// The mean pitch in semitones above 100 Hz of the voiced values in [from, to).
double MeanSemitones(const std::vector<float>& hz, size_t from, size_t to) {
  double sum = 0;
  int n = 0;
  for (size_t i = from; i < to && i < hz.size(); ++i) {
    if (hz[i] <= 0) continue;
    sum += 12.0 * std::log2(hz[i] / 100.0);
    ++n;
  }
  return n ? sum / n : 0;
}

TEST(TakeIntonation, ARisingTakeIsTrackedAlignedAndDrawnOverItsStretch) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
  Microphone mic;
  ASSERT_TRUE(mic.Start());
  // The lesson: 150 to 250 Hz from 1.0 s to 2.5 s; the voice: 190 to 320 Hz
  // over 1.95 s, said 200 ms into the take.
  const std::string lesson = (home.path() + "/lesson.wav").toStdString();
  const std::string voice = (home.path() + "/voice.wav").toStdString();
  WriteMonoWav(lesson, kRate, Glide(1000, 1500, 150, 250, 1500, 0.5f));
  WriteMonoWav(voice, kRate, Glide(0, 1950, 190, 320, 100, 0.4f));

  SilentShell shell;
  GstPlayerFactory factory;
  auto app = std::make_unique<App>(shell, &factory);
  auto takes = std::make_unique<TakeService>(*app, "");
  app->ApplyLearnSettings(LearnSettings{.showWave = true, .shadowing = true});
  const auto pumpUntil = [&](const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(20ms);
      QCoreApplication::processEvents();
      app->OnGraphEvent();
      app->Tick();
    }
    return done();
  };
  app->OpenFile(lesson);
  ASSERT_TRUE(pumpUntil([&] { return app->view().playState == Playing; }, 5s));
  app->LoopStretch(900, 2600);
  ASSERT_TRUE(pumpUntil([&] { return app->view().takeStage == 1; }, 10s)) << "no take began";
  pumpUntil([] { return false; }, 200ms);
  mic.Say(voice);
  ASSERT_TRUE(pumpUntil([&] { return app->view().intonation != nullptr; }, 15s))
      << "no intonation came from the take";
  const TransportView view = app->view();
  takes.reset();
  app.reset();

  const Intonation& in = *view.intonation;
  EXPECT_EQ(in.aMs, 900);
  const size_t n = in.originalHz.size();
  ASSERT_EQ(in.takeHz.size(), n);
  // The stretch's frames 100..1600 ms hold the glide (from 1000 ms of the
  // file): it rises by about 8.8 semitones.
  const size_t hop = static_cast<size_t>(in.hopMs);
  const double lowOriginal = MeanSemitones(in.originalHz, 150 / hop, 500 / hop);
  const double highOriginal = MeanSemitones(in.originalHz, 1200 / hop, 1550 / hop);
  EXPECT_GT(highOriginal - lowOriginal, 4.0);
  // The take, aligned to it, rises where it rises; a rise of 9.1 semitones,
  // about 4 semitones above the lesson.
  const double lowTake = MeanSemitones(in.takeHz, 150 / hop, 500 / hop);
  const double highTake = MeanSemitones(in.takeHz, 1200 / hop, 1550 / hop);
  EXPECT_GT(highTake - lowTake, 4.0);
  size_t voiced = 0, both = 0;
  for (size_t i = 0; i < n; ++i) {
    voiced += in.originalHz[i] > 0;
    both += in.originalHz[i] > 0 && in.takeHz[i] > 0;
  }
  EXPECT_GT(both, voiced * 3 / 4) << "the take is voiced where the lesson is";
  std::printf("lesson %.1f to %.1f st, take %.1f to %.1f st; timing %d ms (largest %d ms)\n",
              lowOriginal, highOriginal, lowTake, highTake, in.timingMs, in.largestTimingMs);

  // Drawn over the stretch from the snapshot, as the window shows it.
  WaveStrip strip;
  strip.resize(604, WaveStrip::kHeight);
  strip.show();
  const QImage image = Redrawn(strip, view, "wave_intonation_take");
  int original = 0, take = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = Rgb8(At(image, x, y));
      original += std::abs(c.red() - 30) + std::abs(c.green() - 90) + std::abs(c.blue() - 200) < 40;
      take += std::abs(c.red() - 230) + std::abs(c.green() - 110) + std::abs(c.blue() - 0) < 40;
    }
  }
  EXPECT_GT(original, 100) << "the lesson's curve is not drawn";
  EXPECT_GT(take, 100) << "the take's curve is not drawn";
}

// The service goes while its pitch thread still tracks: the thread is not
// waited for, ends on its own, and its result reaches nothing (the sanitizer
// build would see a use of the service after it went).
TEST(TakeIntonation, AServiceGoneWhileItsPitchThreadTracksHearsNothingMore) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const std::string lesson = (home.path() + "/lesson.wav").toStdString();
  WriteMonoWav(lesson, kRate, Glide(500, 3000, 150, 250, 500, 0.5f));
  SilentShell shell;
  GstPlayerFactory factory;
  App app(shell, &factory);
  auto takes = std::make_unique<TakeService>(app, "");
  takes->MakeIntonation(lesson, 0, 4000, lesson);
  takes.reset();
  // Long enough for the thread to track both and try to hand them over.
  for (int i = 0; i < 150; ++i) {
    std::this_thread::sleep_for(20ms);
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(app.view().intonation, nullptr);
}

}  // namespace
}  // namespace orvex::test
