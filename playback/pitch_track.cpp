#include "playback/pitch_track.h"

#include <aubio/aubio.h>
#include <dlfcn.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <memory>
#include <mutex>

#include "playback/gst_init.h"
#include "playback/gst_ptr.h"

// aubio is loaded by name (ORVEX_AUBIO_LIBRARY, from the build) the first
// time a track is made, not linked: it brings FFmpeg's codecs and all they
// link (about 140 libraries), which the program needs only when intonation
// curves are made.

// The engine's log ("orvex"): the same category as the player's.
GST_DEBUG_CATEGORY_STATIC(orvex_pitch_log);
#define GST_CAT_DEFAULT orvex_pitch_log

namespace orvex {
namespace {

// A window of four hops finds voices down to about 60 Hz.
constexpr uint_t kWindowHops = 4;
// Below this confidence, or this level, a frame holds no pitch.
constexpr smpl_t kConfidence = 0.7f;
constexpr smpl_t kSilenceDb = -50.0f;

// The functions used from aubio, typed by its header.
struct Aubio {
  decltype(&new_aubio_pitch) newPitch = nullptr;
  decltype(&del_aubio_pitch) delPitch = nullptr;
  decltype(&aubio_pitch_set_unit) setUnit = nullptr;
  decltype(&aubio_pitch_set_silence) setSilence = nullptr;
  decltype(&aubio_pitch_do) pitchDo = nullptr;
  decltype(&aubio_pitch_get_confidence) confidence = nullptr;
  decltype(&new_fvec) newFvec = nullptr;
  decltype(&del_fvec) delFvec = nullptr;
};

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

// Loaded once, for the life of the process; nullptr (and one warning in the
// engine's log) when the library or one of its functions is missing.
const Aubio* LoadedAubio() {
  static Aubio aubio;
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] {
    void* library = dlopen(ORVEX_AUBIO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library) {
      loaded = Bind(library, "new_aubio_pitch", aubio.newPitch) &&
               Bind(library, "del_aubio_pitch", aubio.delPitch) &&
               Bind(library, "aubio_pitch_set_unit", aubio.setUnit) &&
               Bind(library, "aubio_pitch_set_silence", aubio.setSilence) &&
               Bind(library, "aubio_pitch_do", aubio.pitchDo) &&
               Bind(library, "aubio_pitch_get_confidence", aubio.confidence) &&
               Bind(library, "new_fvec", aubio.newFvec) && Bind(library, "del_fvec", aubio.delFvec);
    }
    if (loaded) return;
    const char* why = dlerror();
    const std::string reason = why ? why : "unknown error";
    if (library) dlclose(library);
    EnsureGstInit();
    GST_DEBUG_CATEGORY_INIT(orvex_pitch_log, "orvex", 0, "OrvexPlayer playback engine");
    GST_WARNING("pitch tracks: %s cannot be used (%s); no intonation curves", ORVEX_AUBIO_LIBRARY,
                reason.c_str());
  });
  return loaded ? &aubio : nullptr;
}

}  // namespace

PitchTrack PitchOfSamples(const std::vector<float>& samples, int32_t rate) {
  PitchTrack track;
  track.hopMs = kPitchHopMs;
  if (rate <= 0) return track;
  const Aubio* aubio = LoadedAubio();
  if (!aubio) return track;
  const auto hop = static_cast<uint_t>(rate * kPitchHopMs / 1000);
  const auto delPitch = [aubio](aubio_pitch_t* p) { aubio->delPitch(p); };
  const auto delFvec = [aubio](fvec_t* v) { aubio->delFvec(v); };
  const std::unique_ptr<aubio_pitch_t, decltype(delPitch)> pitch(
      aubio->newPitch("yinfast", hop * kWindowHops, hop, static_cast<uint_t>(rate)), delPitch);
  const std::unique_ptr<fvec_t, decltype(delFvec)> in(aubio->newFvec(hop), delFvec);
  const std::unique_ptr<fvec_t, decltype(delFvec)> out(aubio->newFvec(1), delFvec);
  if (!pitch || !in || !out) return track;
  aubio->setUnit(pitch.get(), "Hz");
  aubio->setSilence(pitch.get(), kSilenceDb);
  for (size_t at = 0; at + hop <= samples.size(); at += hop) {
    for (uint_t i = 0; i < hop; ++i) in->data[i] = samples[at + i];
    aubio->pitchDo(pitch.get(), in.get(), out.get());
    const smpl_t hz = out->data[0];
    const bool sure = aubio->confidence(pitch.get()) >= kConfidence;
    track.hz.push_back(sure && hz > 0 ? hz : 0.0f);
  }
  return track;
}

PitchTrack PitchOfFile(const std::string& path, int32_t fromMs, int32_t toMs) {
  // Without aubio there is nothing to decode for.
  if (!LoadedAubio()) return {kPitchHopMs, {}};
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
