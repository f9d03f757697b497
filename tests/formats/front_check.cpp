#include "tests/formats/front_check.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <mutex>

namespace orvex::test {

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

}  // namespace

std::string TestNameOf(const std::string& fixture) {
  std::string name = fixture;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

bool DecodeWithFfmpeg(const std::string& path, std::vector<float>& out) {
  out.clear();
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -i " + Quote(path) +
                              " -f f32le -ac 1 -ar " + std::to_string(kCheckRate) + " -";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  float block[4096];
  size_t n;
  while ((n = fread(block, sizeof(float), 4096, pipe)) > 0) out.insert(out.end(), block, block + n);
  return pclose(pipe) == 0 && !out.empty();
}

int64_t Locate(const std::vector<float>& ref, const float* w, size_t n, int64_t expect,
               int64_t radius, double* score) {
  double ww = 0;
  for (size_t i = 0; i < n; ++i) ww += double{w[i]} * w[i];
  int64_t best = expect;
  double bestScore = -2;
  for (int64_t at = expect - radius; at <= expect + radius; ++at) {
    if (at < 0 || at + static_cast<int64_t>(n) > static_cast<int64_t>(ref.size())) continue;
    const float* r = ref.data() + at;
    double wr = 0, rr = 0;
    for (size_t i = 0; i < n; ++i) {
      wr += double{w[i]} * r[i];
      rr += double{r[i]} * r[i];
    }
    const double s = (ww > 0 && rr > 0) ? wr / std::sqrt(ww * rr) : -1;
    if (s > bestScore) {
      bestScore = s;
      best = at;
    }
  }
  if (score) *score = bestScore;
  return best;
}

FrontPipeline::FrontPipeline(const std::string& path, Way way) {
  InitOnce();
  pipeline_ = gst_pipeline_new(nullptr);
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  sink_ = gst_element_factory_make("appsink", nullptr);
  GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "channels",
                                      G_TYPE_INT, 1, "rate", G_TYPE_INT, kCheckRate, nullptr);
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
  // Bounded: a loop left running fills no more than this.
  g_object_set(sink_, "sync", FALSE, "max-buffers", 32u, nullptr);
  gst_bin_add_many(GST_BIN(pipeline_), convert, resample, filter, sink_, nullptr);
  gst_element_link_many(convert, resample, filter, sink_, nullptr);
  restartPad_ = gst_element_get_static_pad(convert, "sink");

  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_sync_handler(bus, OnBus, this, nullptr);
  gst_object_unref(bus);

  if (way == Way::kFrontEnd) {
    front_ = AddDecodeFront(pipeline_, path);
    if (front_.ok) {
      gst_pad_link(front_.audioSrc.get(), restartPad_);
    } else {
      error_ = front_.isMp3 ? "MP3" : front_.text;
    }
  } else {
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decode = gst_element_factory_make("decodebin3", nullptr);
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline_), source, decode, nullptr);
    gst_element_link(source, decode);
    g_signal_connect(decode, "pad-added", G_CALLBACK(OnDecodebinPad), this);
    front_.ok = true;
  }
}

FrontPipeline::~FrontPipeline() {
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  gst_object_unref(bus);
  gst_object_unref(restartPad_);
  gst_object_unref(pipeline_);
}

void FrontPipeline::OnDecodebinPad(GstElement*, GstPad* pad, gpointer data) {
  auto* self = static_cast<FrontPipeline*>(data);
  GstCaps* caps = gst_pad_query_caps(pad, nullptr);
  const bool audio = caps && gst_caps_get_size(caps) > 0 &&
                     g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                                      "audio/");
  if (caps) gst_caps_unref(caps);
  if (audio && !gst_pad_is_linked(self->restartPad_)) gst_pad_link(pad, self->restartPad_);
}

GstBusSyncReply FrontPipeline::OnBus(GstBus*, GstMessage* message, gpointer data) {
  auto* self = static_cast<FrontPipeline*>(data);
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_SEGMENT_DONE && self->looping_) {
    // As the engine does: no flush, pushed upstream from the streaming thread.
    GstEvent* seek = gst_event_new_seek(
        1.0, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_ACCURATE | GST_SEEK_FLAG_SEGMENT),
        GST_SEEK_TYPE_SET, self->loopA_, GST_SEEK_TYPE_SET, self->loopB_);
    if (gst_pad_push_event(self->restartPad_, seek)) ++self->loopsSent_;
    gst_message_unref(message);
    return GST_BUS_DROP;
  }
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) self->failed_ = true;
  return GST_BUS_PASS;
}

bool FrontPipeline::Preroll(int timeoutMs) {
  if (!front_.ok) return false;
  if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    error_ = "state change failed";
    return false;
  }
  GstBus* bus = gst_element_get_bus(pipeline_);
  const GstClockTime deadline = gst_util_get_timestamp() + timeoutMs * GST_MSECOND;
  bool done = false;
  while (!done) {
    const GstClockTime now = gst_util_get_timestamp();
    if (now >= deadline) {
      error_ = "preroll timed out";
      break;
    }
    GstMessage* m = gst_bus_timed_pop_filtered(
        bus, deadline - now,
        static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
    if (!m) continue;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
      GError* e = nullptr;
      gst_message_parse_error(m, &e, nullptr);
      error_ = e ? e->message : "error";
      g_clear_error(&e);
      gst_message_unref(m);
      break;
    }
    done = GST_MESSAGE_SRC(m) == GST_OBJECT(pipeline_);
    gst_message_unref(m);
  }
  gst_object_unref(bus);
  return done;
}

int64_t FrontPipeline::DurationNs() const {
  gint64 d = -1;
  if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &d)) d = -1;
  const int64_t trackEnd = front_.bin ? DecodeFrontTrackEndNs(front_.bin) : -1;
  if (trackEnd >= 0 && (d < 0 || trackEnd < d)) d = trackEnd;
  return d < 0 ? d : d - StartNs();
}

int64_t FrontPipeline::StartNs() const {
  const int64_t first = front_.bin ? DecodeFrontFirstSampleNs(front_.bin) : -1;
  return first > 0 ? first : 0;
}

bool FrontPipeline::Seek(int64_t startNs, int64_t stopNs, bool segment) {
  startNs += StartNs();
  if (stopNs >= 0) stopNs += StartNs();
  auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE |
                                         (segment ? GST_SEEK_FLAG_SEGMENT : 0));
  return gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, startNs,
                          stopNs < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                          stopNs < 0 ? 0 : stopNs);
}

void FrontPipeline::LoopOnSegmentDone(int64_t aNs, int64_t bNs) {
  loopA_ = aNs + StartNs();
  loopB_ = bNs + StartNs();
  looping_ = true;
}

bool FrontPipeline::Pull(size_t frames, std::vector<float>& out, int timeoutMs) {
  out.clear();
  gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  const GstClockTime deadline = gst_util_get_timestamp() + timeoutMs * GST_MSECOND;
  while (out.size() < frames && !failed_) {
    const GstClockTime now = gst_util_get_timestamp();
    if (now >= deadline) break;
    GstSample* sample =
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), std::min<GstClockTime>(deadline - now, 200 * GST_MSECOND));
    if (!sample) {
      if (gst_app_sink_is_eos(GST_APP_SINK(sink_))) break;
      continue;
    }
    // Cut to the segment as an audio sink cuts what it plays.
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (buffer && segment) {
      buffer = gst_audio_buffer_clip(gst_buffer_ref(buffer), segment, kCheckRate, sizeof(float));
    } else if (buffer) {
      gst_buffer_ref(buffer);
    }
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      const auto* f = reinterpret_cast<const float*>(map.data);
      out.insert(out.end(), f, f + map.size / sizeof(float));
      gst_buffer_unmap(buffer, &map);
    }
    if (buffer) gst_buffer_unref(buffer);
    gst_sample_unref(sample);
  }
  if (out.size() > frames) out.resize(frames);
  return out.size() == frames;
}

LoopTake PlayLoop(FrontPipeline& p, const std::vector<float>& ref, int64_t aNs, int64_t bNs,
                  int passes) {
  LoopTake take;
  auto frames = [](int64_t ns) { return (ns * kCheckRate + 500000000) / 1000000000; };
  const int64_t passFrames = frames(bNs - aNs);
  std::vector<float> out;
  p.LoopOnSegmentDone(aNs, bNs);
  if (!p.Seek(aNs, bNs, true) || !p.Pull(static_cast<size_t>(passFrames * passes), out, 30000)) {
    return take;
  }
  // Pass by pass: which sample of the file follows the pass's start (a window
  // just behind it is found just behind A), then where its B lies (a window
  // just before it is found just before B). Each start is counted from where
  // the pass before ended, so an error is counted at the seam it happens at.
  constexpr size_t kWindow = 2048;
  const int64_t w = static_cast<int64_t>(kWindow), m = kCheckRate / 100, radius = kCheckRate / 10;
  const int64_t aFrame = frames(aNs), bFrame = frames(bNs);
  int64_t at = 0;  // where the pass's A lies in the take
  for (int i = 0; i < passes; ++i) {
    const int64_t startErr = Locate(ref, out.data() + at + m, kWindow, aFrame + m, radius) - m - aFrame;
    if (i == 0) take.firstStart = startErr;
    if (i > 0) take.seamMax = std::max(take.seamMax, std::abs(startErr));
    at -= startErr;
    const int64_t endAt = at + passFrames - m - w;
    if (endAt + w > static_cast<int64_t>(out.size())) break;
    const int64_t endErr =
        Locate(ref, out.data() + endAt, kWindow, bFrame - m - w, radius) - (bFrame - m - w);
    take.lengthMax = std::max(take.lengthMax, std::abs(endErr));
    at += passFrames - endErr;
  }
  take.ok = true;
  return take;
}

}  // namespace orvex::test
