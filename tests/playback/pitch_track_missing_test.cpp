// Pitch tracks when aubio cannot be loaded: this test builds the pitch code to
// load a library that does not exist. Every track is empty (the curves are
// not drawn), nothing crashes, and the engine's log says why once.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "playback/pitch_track.h"

namespace orvex {
namespace {

struct Warnings {
  int count = 0;
  std::string text;
};

void CountWarning(GstDebugCategory* category, GstDebugLevel level, const gchar*, const gchar*,
                  gint, GObject*, GstDebugMessage* message, gpointer data) {
  if (level != GST_LEVEL_WARNING || std::string(gst_debug_category_get_name(category)) != "orvex") {
    return;
  }
  auto* warnings = static_cast<Warnings*>(data);
  ++warnings->count;
  warnings->text = gst_debug_message_get(message);
}

TEST(PitchTrackWithoutAubio, TracksAreEmptyAndTheLogSaysWhyOnce) {
  gst_init(nullptr, nullptr);
  gst_debug_set_threshold_for_name("orvex", GST_LEVEL_WARNING);
  Warnings warnings;
  gst_debug_add_log_function(CountWarning, &warnings, nullptr);

  std::vector<float> tone(kPitchRate);
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<float>(0.5 * std::sin(2 * 3.14159265358979 * 200 * i / kPitchRate));
  }
  const PitchTrack fromSamples = PitchOfSamples(tone, kPitchRate);
  EXPECT_EQ(fromSamples.hopMs, kPitchHopMs);
  EXPECT_TRUE(fromSamples.hz.empty()) << fromSamples.hz.size() << " frames";
  const PitchTrack fromFile = PitchOfFile(ORVEX_TEST_DATA "/mono.mp3", 0, -1);
  EXPECT_EQ(fromFile.hopMs, kPitchHopMs);
  EXPECT_TRUE(fromFile.hz.empty()) << fromFile.hz.size() << " frames";
  EXPECT_TRUE(PitchOfSamples(tone, kPitchRate).hz.empty());

  gst_debug_remove_log_function_by_data(&warnings);
  EXPECT_EQ(warnings.count, 1);
  EXPECT_NE(warnings.text.find(ORVEX_AUBIO_LIBRARY), std::string::npos) << warnings.text;
}

}  // namespace
}  // namespace orvex
