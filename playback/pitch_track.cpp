#include "playback/pitch_track.h"

#include <aubio/aubio.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <memory>

#include "playback/gst_init.h"
#include "playback/gst_ptr.h"

namespace orvex {
namespace {

// A window of four hops finds voices down to about 60 Hz.
constexpr uint_t kWindowHops = 4;
// Below this confidence, or this level, a frame holds no pitch.
constexpr smpl_t kConfidence = 0.7f;
constexpr smpl_t kSilenceDb = -50.0f;

struct PitchDelete {
  void operator()(aubio_pitch_t* p) const noexcept { del_aubio_pitch(p); }
};
struct FvecDelete {
  void operator()(fvec_t* v) const noexcept { del_fvec(v); }
};

}  // namespace

PitchTrack PitchOfSamples(const std::vector<float>& samples, int32_t rate) {
  PitchTrack track;
  track.hopMs = kPitchHopMs;
  if (rate <= 0) return track;
  const auto hop = static_cast<uint_t>(rate * kPitchHopMs / 1000);
  const std::unique_ptr<aubio_pitch_t, PitchDelete> pitch(
      new_aubio_pitch("yinfast", hop * kWindowHops, hop, static_cast<uint_t>(rate)));
  const std::unique_ptr<fvec_t, FvecDelete> in(new_fvec(hop));
  const std::unique_ptr<fvec_t, FvecDelete> out(new_fvec(1));
  if (!pitch || !in || !out) return track;
  aubio_pitch_set_unit(pitch.get(), "Hz");
  aubio_pitch_set_silence(pitch.get(), kSilenceDb);
  for (size_t at = 0; at + hop <= samples.size(); at += hop) {
    for (uint_t i = 0; i < hop; ++i) in->data[i] = samples[at + i];
    aubio_pitch_do(pitch.get(), in.get(), out.get());
    const smpl_t hz = out->data[0];
    const bool sure = aubio_pitch_get_confidence(pitch.get()) >= kConfidence;
    track.hz.push_back(sure && hz > 0 ? hz : 0.0f);
  }
  return track;
}

PitchTrack PitchOfFile(const std::string& path, int32_t fromMs, int32_t toMs) {
  EnsureGstInit();
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  if (!uri) return {};
  const std::string description =
      std::string("uridecodebin uri=\"") + uri +
      "\" ! audioconvert ! audioresample ! audio/x-raw,format=F32LE,channels=1,rate=" +
      std::to_string(kPitchRate) + " ! appsink name=sink sync=false";
  g_free(uri);
  GError* error = nullptr;
  GstPipelinePtr pipeline(gst_parse_launch(description.c_str(), &error));
  if (error) {
    g_error_free(error);
    return {};
  }
  GstElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
  // Bounded: a file that never prerolls gives no track.
  if (gst_element_get_state(pipeline.get(), nullptr, nullptr, 10 * GST_SECOND) !=
      GST_STATE_CHANGE_SUCCESS) {
    return {};
  }
  const auto stop = toMs < 0 ? GST_CLOCK_TIME_NONE : static_cast<GstClockTime>(toMs) * GST_MSECOND;
  gst_element_seek(pipeline.get(), 1.0, GST_FORMAT_TIME,
                   static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                   GST_SEEK_TYPE_SET, static_cast<GstClockTime>(fromMs) * GST_MSECOND,
                   toMs < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET, stop);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  std::vector<float> samples;
  for (;;) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND);
    if (!sample) break;  // the end, an error or a stall
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      const auto* data = reinterpret_cast<const float*>(map.data);
      samples.insert(samples.end(), data, data + map.size / sizeof(float));
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  return PitchOfSamples(samples, kPitchRate);
}

}  // namespace orvex
