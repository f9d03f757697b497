#include "playback/gst_recorder.h"

#include <glib/gstdio.h>
#include <gst/gst.h>

#include <atomic>
#include <cmath>
#include <deque>
#include <mutex>
#include <utility>

#include "playback/gst_player.h"
#include "playback/gst_ptr.h"

namespace orvex {
namespace {

// Below this peak the whole take counts as silence (no voice came in).
constexpr double kSilenceDb = -45.0;
// How often the level meter reports.
constexpr GstClockTime kLevelInterval = 50 * GST_MSECOND;
// The default input: the sound server's, as the desktop's own recorder uses it.
constexpr const char* kDefaultSource = "pulsesrc";

}  // namespace

struct GstRecorder::Impl {
  enum Role : int { kRecording, kPlaying };
  // What a bus sync handler needs; lives as long as the Impl.
  struct Watch {
    Impl* impl;
    Role role;
  };

  std::function<void()> notify;
  std::string source;
  Watch recordWatch{this, kRecording};
  Watch playWatch{this, kPlaying};

  // Guarded by lock: the events queued by the streaming threads, the
  // recording's generation and what its meter saw.
  std::mutex lock;
  std::deque<std::pair<uint32_t, RecorderEvent>> events;
  uint32_t recordGeneration = 0;
  uint32_t playGeneration = 0;
  double peakDb = -200.0;
  GstElement* eosTarget = nullptr;  // the recording, while its window runs
  int32_t windowMs = 0;
  GstClockID window = nullptr;
  std::atomic<int32_t> level{0};

  GstPipelinePtr recording;
  GstPipelinePtr playing;

  void Queue(Role role, RecorderEvent event) {
    {
      const std::lock_guard guard(lock);
      events.emplace_back(role == kRecording ? recordGeneration : playGeneration | 0x80000000u,
                          event);
    }
    if (notify) notify();
  }

  void OnLevel(const GstStructure* s) {
    const GValue* peaks = gst_structure_get_value(s, "peak");
    // The level element's lists are GValueArrays, deprecated in GLib.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!peaks || G_VALUE_TYPE(peaks) != g_value_array_get_type()) return;
    double top = -200.0;
    const auto* array = static_cast<const GValueArray*>(g_value_get_boxed(peaks));
    for (guint i = 0; array && i < array->n_values; ++i) {
      top = std::max(top, g_value_get_double(g_value_array_get_nth(const_cast<GValueArray*>(array), i)));
    }
#pragma GCC diagnostic pop
    // 0 % at -60 dB and below, 100 % at full scale.
    level = static_cast<int32_t>(std::lround(std::clamp((top + 60.0) / 60.0, 0.0, 1.0) * 100.0));
    const std::lock_guard guard(lock);
    peakDb = std::max(peakDb, top);
  }

  static GstBusSyncReply OnBus(GstBus*, GstMessage* message, gpointer data) {
    auto* watch = static_cast<Watch*>(data);
    Impl& impl = *watch->impl;
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ELEMENT:
        if (watch->role == kRecording) {
          const GstStructure* s = gst_message_get_structure(message);
          if (s && gst_structure_has_name(s, "level")) impl.OnLevel(s);
        }
        break;
      case GST_MESSAGE_EOS:
      case GST_MESSAGE_ERROR: {
        RecorderEvent event;
        const bool eos = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        if (watch->role == kPlaying) {
          event.kind = RecorderEvent::kPlayed;
        } else {
          event.kind = eos ? RecorderEvent::kRecorded : RecorderEvent::kRecordFailed;
          const std::lock_guard guard(impl.lock);
          event.heard = impl.peakDb > kSilenceDb;
        }
        impl.Queue(watch->role, event);
        break;
      }
      default:
        break;
    }
    // A dropped message is the handler's to release.
    gst_message_unref(message);
    return GST_BUS_DROP;
  }

  // The window is over: the input ends, and the muxer closes the file.
  static gboolean OnWindow(GstClock*, GstClockTime, GstClockID, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    const std::lock_guard guard(impl->lock);
    if (impl->eosTarget) gst_element_send_event(impl->eosTarget, gst_event_new_eos());
    impl->eosTarget = nullptr;
    return TRUE;
  }

  void DisarmWindow() {
    GstClockID id = nullptr;
    {
      const std::lock_guard guard(lock);
      eosTarget = nullptr;
      std::swap(id, window);
    }
    if (id) {
      gst_clock_id_unschedule(id);
      gst_clock_id_unref(id);
    }
  }

  // The window counts from the input's first buffer (a sound server may take
  // a while to start a source) on the system clock, on a clock thread of its
  // own, so a busy GUI thread never lengthens a take.
  static GstPadProbeReturn OnFirstBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    const std::lock_guard guard(impl->lock);
    if (impl->eosTarget && !impl->window) {
      GstClock* clock = gst_system_clock_obtain();
      impl->window = gst_clock_new_single_shot_id(
          clock, gst_clock_get_time(clock) + static_cast<GstClockTime>(impl->windowMs) * GST_MSECOND);
      gst_object_unref(clock);
      gst_clock_id_wait_async(impl->window, &Impl::OnWindow, impl, nullptr);
    }
    return GST_PAD_PROBE_REMOVE;
  }

  // Stops a pipeline (NULL state, so a file is closed whole), takes its
  // handler away, and counts a new generation: its queued events go stale.
  void End(GstPipelinePtr& pipeline, uint32_t& generation) {
    if (pipeline) {
      GstBusPtr bus(gst_element_get_bus(pipeline.get()));
      pipeline.reset();
      gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    }
    const std::lock_guard guard(lock);
    ++generation;
  }
  void EndRecordingPipeline() {
    DisarmWindow();
    End(recording, recordGeneration);
  }
  void EndPlayingPipeline() { End(playing, playGeneration); }

  static GstElement* Launch(const std::string& description, Watch& watch) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error) {
      g_error_free(error);
      if (pipeline) gst_object_unref(pipeline);
      return nullptr;
    }
    GstBusPtr bus(gst_element_get_bus(pipeline));
    gst_bus_set_sync_handler(bus.get(), &Impl::OnBus, &watch, nullptr);
    return pipeline;
  }
};

GstRecorder::GstRecorder(std::function<void()> notify, std::string source)
    : impl_(std::make_unique<Impl>()) {
  EnsureGstInit();
  impl_->notify = std::move(notify);
  impl_->source = source.empty() ? kDefaultSource : std::move(source);
}

GstRecorder::~GstRecorder() {
  Stop();
}

bool GstRecorder::HasInput() {
  // One buffer from the input, or its error (a device that is gone fails
  // only once it streams).
  GError* error = nullptr;
  GstPipelinePtr probe(
      gst_parse_launch((impl_->source + " num-buffers=1 ! fakesink").c_str(), &error));
  if (error) {
    g_error_free(error);
    return false;
  }
  if (gst_element_set_state(probe.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return false;
  GstBusPtr bus(gst_element_get_bus(probe.get()));
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus.get(), GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  // An input that is slow to deliver is still one: only an error says no.
  const bool ok = !message || GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
  if (message) gst_message_unref(message);
  return ok;
}

bool GstRecorder::Record(const std::string& path, int32_t windowMs) {
  Stop();
  gchar* location = g_strescape(path.c_str(), nullptr);
  const std::string description =
      impl_->source +
      " ! audioconvert ! audioresample ! audio/x-raw,channels=1,rate=48000"
      " ! level name=meter interval=" +
      std::to_string(kLevelInterval) +
      " post-messages=true ! opusenc bitrate=48000 ! oggmux ! filesink name=out location=\"" +
      location + "\"";
  g_free(location);
  {
    const std::lock_guard guard(impl_->lock);
    impl_->peakDb = -200.0;
  }
  impl_->level = 0;
  impl_->recording.reset(Impl::Launch(description, impl_->recordWatch));
  if (!impl_->recording) return false;
  {
    const std::lock_guard guard(impl_->lock);
    impl_->eosTarget = impl_->recording.get();
    impl_->windowMs = windowMs;
  }
  GstElementPtr meter(gst_bin_get_by_name(GST_BIN(impl_->recording.get()), "meter"));
  GstPadPtr pad(gst_element_get_static_pad(meter.get(), "sink"));
  gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &Impl::OnFirstBuffer, impl_.get(), nullptr);
  if (gst_element_set_state(impl_->recording.get(), GST_STATE_PLAYING) ==
      GST_STATE_CHANGE_FAILURE) {
    impl_->EndRecordingPipeline();
    g_remove(path.c_str());
    return false;
  }
  return true;
}

void GstRecorder::EndRecording() {
  Impl::OnWindow(nullptr, 0, nullptr, impl_.get());
}

bool GstRecorder::Play(const std::string& path, int32_t fromMs, int32_t toMs) {
  impl_->EndPlayingPipeline();
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  if (!uri) return false;
  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  if (!playbin) {
    g_free(uri);
    return false;
  }
  g_object_set(playbin, "uri", uri, nullptr);
  g_free(uri);
  GstBusPtr bus(gst_element_get_bus(playbin));
  gst_bus_set_sync_handler(bus.get(), &Impl::OnBus, &impl_->playWatch, nullptr);
  impl_->playing.reset(SinkFloating(playbin));
  if (fromMs > 0 || toMs >= 0) {
    // A stretch: prerolled (a bounded wait, as a lesson's build), then
    // played from its start to its end only.
    gst_element_set_state(playbin, GST_STATE_PAUSED);
    if (gst_element_get_state(playbin, nullptr, nullptr, 5 * GST_SECOND) == GST_STATE_CHANGE_FAILURE ||
        !gst_element_seek(playbin, 1.0, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, static_cast<GstClockTime>(fromMs) * GST_MSECOND,
                          toMs < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                          toMs < 0 ? GST_CLOCK_TIME_NONE
                                   : static_cast<GstClockTime>(toMs) * GST_MSECOND)) {
      impl_->EndPlayingPipeline();
      return false;
    }
  }
  if (gst_element_set_state(playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    impl_->EndPlayingPipeline();
    return false;
  }
  return true;
}

void GstRecorder::Stop() {
  impl_->EndRecordingPipeline();
  impl_->EndPlayingPipeline();
  impl_->level = 0;
}

int32_t GstRecorder::LevelPercent() const {
  return impl_->level;
}

bool GstRecorder::TakeEvent(RecorderEvent& event) {
  for (;;) {
    std::pair<uint32_t, RecorderEvent> next;
    {
      const std::lock_guard guard(impl_->lock);
      if (impl_->events.empty()) return false;
      next = impl_->events.front();
      impl_->events.pop_front();
      const bool fromPlaying = (next.first & 0x80000000u) != 0;
      const uint32_t current =
          fromPlaying ? (impl_->playGeneration | 0x80000000u) : impl_->recordGeneration;
      if (next.first != current) continue;  // of a pipeline gone since
    }
    event = next.second;
    // The pipeline that ended goes now, on this thread: the file is whole.
    if (event.kind == RecorderEvent::kPlayed) {
      impl_->EndPlayingPipeline();
    } else {
      impl_->EndRecordingPipeline();
    }
    return true;
  }
}

}  // namespace orvex
