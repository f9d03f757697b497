#include "playback/gst_recorder.h"

#include <glib/gstdio.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "playback/gst_init.h"
#include "playback/gst_ptr.h"
#include "playback/units.h"

namespace orvex {
namespace {

// Below this peak the whole take counts as silence (no voice came in).
constexpr double kSilenceDb = -45.0;
// How often the level meter reports.
constexpr GstClockTime kLevelInterval = 50 * GST_MSECOND;
// The default input: the sound server's, as the desktop's own recorder uses it.
constexpr const char* kDefaultSource = "pulsesrc";
// Takes are mono 16-bit at 48 kHz, Opus's own rate.
constexpr int64_t kRate = 48000;
constexpr const char* kTakeCaps =
    "audio/x-raw,format=S16LE,channels=1,rate=48000,layout=interleaved";
// How far back a take may begin: the GUI thread's delay in asking for it.
constexpr int64_t kKeptInputNs = 2 * GST_SECOND;
// A longer take is played back from its file instead of from memory.
constexpr int64_t kMaxTakeInMemoryMs = 120'000;

int64_t FramesIn(int64_t ns) {
  return ns * kRate / static_cast<int64_t>(GST_SECOND);
}

int64_t NsOf(int64_t frames) {
  return frames * static_cast<int64_t>(GST_SECOND) / kRate;
}

// A newly made buffer holding a copy of frames [from, from + count) of pcm,
// stamped as frame `at` of its stream.
GstBuffer* BufferOf(const int16_t* pcm, int64_t count, int64_t at) {
  GstBuffer* buffer = gst_buffer_new_memdup(pcm, static_cast<gsize>(count) * sizeof(int16_t));
  GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(NsOf(at));
  GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(NsOf(at + count) - NsOf(at));
  return buffer;
}

}  // namespace

struct GstRecorder::Impl {
  enum Role : uint32_t { kInput, kWriting, kPlaying, kRoles };
  // What a bus sync handler needs; lives as long as the Impl.
  struct Watch {
    Impl* impl;
    Role role;
  };
  // A stretch of the input, stamped with the steady clock's time of its
  // first frame.
  struct Chunk {
    int64_t startNs = 0;
    std::vector<int16_t> pcm;
    int64_t EndNs() const { return startNs + NsOf(static_cast<int64_t>(pcm.size())); }
  };
  // The take being cut from the input.
  struct Take {
    bool active = false;
    int64_t fromNs = 0;
    int64_t frames = 0;     // its length
    int64_t written = 0;    // frames handed to the writer so far
    int64_t endAtNs = -1;   // ended early: the input up to this instant
    int32_t peak = 0;       // the loudest sample
    GstElement* writer = nullptr;  // the writer's appsrc (a reference of ours)
    GstElement* player = nullptr;  // the playback's appsrc, when it plays back
    std::vector<int16_t> pcm;      // what the playback will play
  };

  // A stretch of a file asked for by Play: it plays once the playback has
  // prerolled, from a thread of GStreamer's (gst_element_call_async), never
  // the caller's. Shared with that thread, which may run after the recorder
  // is gone.
  struct Stretch {
    std::mutex lock;
    GstElement* playback = nullptr;  // the playback it is for; null when none
    bool pending = false;
    int32_t fromMs = 0;
    int32_t toMs = -1;
  };

  std::function<void()> notify;
  std::string source;
  Watch watches[kRoles] = {{this, kInput}, {this, kWriting}, {this, kPlaying}};
  std::shared_ptr<Stretch> stretch = std::make_shared<Stretch>();

  // Guarded by lock: the queued events, each pipeline's generation, the
  // input's last seconds and the take.
  std::mutex lock;
  std::deque<std::pair<uint32_t, RecorderEvent>> events;
  uint32_t generation[kRoles] = {};
  std::deque<Chunk> kept;
  Take take;
  // The last take's outcome, told when its file is whole.
  bool takeHeard = false;
  bool takePlaying = false;
  std::atomic<int32_t> level{0};

  GstPipelinePtr pipelines[kRoles];

  static uint32_t Tag(Role role, uint32_t generation) { return generation << 2 | role; }

  void Queue(Role role, RecorderEvent event) {
    {
      const std::lock_guard guard(lock);
      events.emplace_back(Tag(role, generation[role]), event);
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
  }

  static GstBusSyncReply OnBus(GstBus*, GstMessage* message, gpointer data) {
    auto* watch = static_cast<Watch*>(data);
    Impl& impl = *watch->impl;
    const bool eos = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ELEMENT:
        if (watch->role == kInput) {
          const GstStructure* s = gst_message_get_structure(message);
          if (s && gst_structure_has_name(s, "level")) impl.OnLevel(s);
        }
        break;
      case GST_MESSAGE_ASYNC_DONE:
        // The playback as a whole (not one of its elements) has prerolled.
        if (watch->role == kPlaying && GST_IS_PIPELINE(GST_MESSAGE_SRC(message))) {
          impl.Prerolled(GST_ELEMENT(GST_MESSAGE_SRC(message)));
        }
        break;
      case GST_MESSAGE_EOS:
      case GST_MESSAGE_ERROR:
        switch (watch->role) {
          case kInput:
            // A take being cut from the input fails with it.
            if (impl.EndTakeOnInputFailure()) impl.Queue(kWriting, {RecorderEvent::kRecordFailed});
            impl.Queue(kInput, {RecorderEvent::kInputFailed});
            break;
          case kWriting: {
            // The writer's own error: the file could not be written (the
            // input's failures come above).
            RecorderEvent event{eos ? RecorderEvent::kRecorded : RecorderEvent::kWriteFailed};
            {
              const std::lock_guard guard(impl.lock);
              event.heard = impl.takeHeard;
              event.playing = impl.takePlaying;
            }
            impl.Queue(kWriting, event);
            break;
          }
          case kPlaying:
          case kRoles:
            impl.Queue(kPlaying, {RecorderEvent::kPlayed});
            break;
        }
        break;
      default:
        break;
    }
    // A dropped message is the handler's to release.
    gst_message_unref(message);
    return GST_BUS_DROP;
  }

  // A streaming thread (or the caller's): the playback has prerolled. A
  // stretch waiting for it is sought and played on a thread of GStreamer's,
  // as seeks and state changes must not run on a streaming thread; this one
  // takes no lock, so that the seek may wait for it.
  void Prerolled(GstElement* playback) {
    gst_element_call_async(
        playback, &Impl::PlayStretch, new std::shared_ptr<Stretch>(stretch),
        [](gpointer data) { delete static_cast<std::shared_ptr<Stretch>*>(data); });
  }

  // GStreamer's thread, holding a reference to playback: plays the stretch
  // unless the playback was ended or replaced since. A stretch that cannot be
  // sought ends as played, through an error of the playback.
  static void PlayStretch(GstElement* playback, gpointer data) {
    Stretch& s = **static_cast<std::shared_ptr<Stretch>*>(data);
    // Held throughout: the playback is not ended under the seek.
    const std::lock_guard guard(s.lock);
    if (!s.pending || s.playback != playback) return;
    s.pending = false;
    if (!gst_element_seek(playback, 1.0, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, static_cast<GstClockTime>(s.fromMs) * GST_MSECOND,
                          s.toMs < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                          s.toMs < 0 ? GST_CLOCK_TIME_NONE
                                     : static_cast<GstClockTime>(s.toMs) * GST_MSECOND)) {
      GError* error =
          g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_SEEK, "stretch not sought");
      gst_element_post_message(playback,
                               gst_message_new_error(GST_OBJECT(playback), error, nullptr));
      g_error_free(error);
      return;
    }
    gst_element_set_state(playback, GST_STATE_PLAYING);
  }

  // A source that fails before it streams sends its end on before any caps;
  // the level meter would divide by a rate of 0 on it. The failure itself
  // comes as an error on the bus.
  static GstPadProbeReturn OnMeterEvent(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event && GST_EVENT_TYPE(event) == GST_EVENT_EOS && !gst_pad_has_current_caps(pad)) {
      return GST_PAD_PROBE_DROP;
    }
    return GST_PAD_PROBE_OK;
  }

  // The input's streaming thread: each buffer is kept, and given to the
  // take from the instant it begins.
  static GstPadProbeReturn OnInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_PAD_PROBE_OK;
    Chunk chunk;
    const auto* samples = reinterpret_cast<const int16_t*>(map.data);
    chunk.pcm.assign(samples, samples + map.size / sizeof(int16_t));
    gst_buffer_unmap(buffer, &map);
    // A stamp plus the base time is the instant the first frame came in, on
    // the pipeline's clock: the input's own, which follows the device. Read
    // beside the steady clock, it moves onto the player's time line.
    GstElementPtr element(gst_pad_get_parent_element(pad));
    GstElementPtr pipeline(element ? GST_ELEMENT(gst_element_get_parent(element.get())) : nullptr);
    GstClock* clock = pipeline ? gst_element_get_clock(pipeline.get()) : nullptr;
    if (GST_BUFFER_PTS_IS_VALID(buffer) && clock) {
      const int64_t steadyNow = SteadyNowNs();
      const auto clockNow = static_cast<int64_t>(gst_clock_get_time(clock));
      chunk.startNs = static_cast<int64_t>(gst_element_get_base_time(pipeline.get()) +
                                           GST_BUFFER_PTS(buffer)) -
                      clockNow + steadyNow;
    } else {
      chunk.startNs = SteadyNowNs() - NsOf(static_cast<int64_t>(chunk.pcm.size()));
    }
    if (clock) gst_object_unref(clock);
    const std::lock_guard guard(impl->lock);
    impl->kept.push_back(std::move(chunk));
    while (!impl->kept.empty() && impl->kept.front().EndNs() < impl->kept.back().EndNs() - kKeptInputNs) {
      impl->kept.pop_front();
    }
    if (impl->take.active) impl->Feed(impl->kept.back());
    return GST_PAD_PROBE_OK;
  }

  // Under lock: the part of chunk that belongs to the take goes to the
  // writer (and is kept for the playback); the take ends with its window.
  void Feed(const Chunk& chunk) {
    const int64_t nextNs = take.fromNs + NsOf(take.written);
    const auto count = static_cast<int64_t>(chunk.pcm.size());
    int64_t first = 0;
    if (chunk.startNs < nextNs) first = FramesIn(nextNs - chunk.startNs);
    int64_t last = count;
    if (take.endAtNs >= 0) last = std::min(last, std::max<int64_t>(FramesIn(take.endAtNs - chunk.startNs), 0));
    last = std::min(last, first + take.frames - take.written);
    if (first < last) {
      const int16_t* from = chunk.pcm.data() + first;
      const int64_t n = last - first;
      for (int64_t i = 0; i < n; ++i) take.peak = std::max(take.peak, std::abs(int32_t{from[i]}));
      if (take.player) take.pcm.insert(take.pcm.end(), from, from + n);
      gst_app_src_push_buffer(GST_APP_SRC(take.writer), BufferOf(from, n, take.written));
      take.written += n;
    }
    const bool ended = take.endAtNs >= 0 && chunk.EndNs() >= take.endAtNs;
    if (take.written >= take.frames || ended) FinishTake();
  }

  // Under lock: the writer closes the file, and the playback gets the take.
  void FinishTake() {
    gst_app_src_end_of_stream(GST_APP_SRC(take.writer));
    takeHeard = take.peak > 0 && 20.0 * std::log10(take.peak / 32768.0) > kSilenceDb;
    takePlaying = take.player != nullptr && !take.pcm.empty();
    if (takePlaying) {
      // Its caps only now: a sound server stream that waited for seconds
      // without data starts its clock out of step.
      GstCaps* caps = gst_caps_from_string(kTakeCaps);
      gst_app_src_set_caps(GST_APP_SRC(take.player), caps);
      gst_caps_unref(caps);
      gst_app_src_push_buffer(GST_APP_SRC(take.player),
                              BufferOf(take.pcm.data(), static_cast<int64_t>(take.pcm.size()), 0));
      gst_app_src_end_of_stream(GST_APP_SRC(take.player));
    }
    DropTake();
  }

  // Under lock.
  void DropTake() {
    if (take.writer) gst_object_unref(take.writer);
    if (take.player) gst_object_unref(take.player);
    take = Take{};
  }

  // The input failed: a take in progress goes with it. True when there was one.
  bool EndTakeOnInputFailure() {
    const std::lock_guard guard(lock);
    const bool active = take.active;
    if (active) DropTake();
    kept.clear();
    return active;
  }

  // Stops a pipeline (NULL state, so a file is closed whole), takes its
  // handler away, and counts a new generation: its queued events go stale.
  void End(Role role) {
    GstPipelinePtr& pipeline = pipelines[role];
    if (role == kPlaying) {
      // Waits at most for a stretch being sought on GStreamer's thread.
      const std::lock_guard guard(stretch->lock);
      stretch->playback = nullptr;
      stretch->pending = false;
    }
    if (pipeline) {
      GstBusPtr bus(gst_element_get_bus(pipeline.get()));
      pipeline.reset();
      gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    }
    const std::lock_guard guard(lock);
    ++generation[role];
    if (role == kInput) kept.clear();
  }

  void EndTake() {
    {
      const std::lock_guard guard(lock);
      DropTake();
    }
    End(kWriting);
  }

  // A pipeline from a gst-launch description, its bus watched for the role.
  GstElement* Launch(const std::string& description, Role role) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error) {
      g_error_free(error);
      if (pipeline) gst_object_unref(pipeline);
      return nullptr;
    }
    GstBusPtr bus(gst_element_get_bus(pipeline));
    gst_bus_set_sync_handler(bus.get(), &Impl::OnBus, &watches[role], nullptr);
    return pipeline;
  }

  // The appsrc named src of a pipeline (a reference of ours).
  static GstElement* SourceOf(GstElement* pipeline) {
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    // No limit: the whole take is handed to the playback at once.
    g_object_set(src, "max-bytes", guint64{0}, nullptr);
    return src;
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
  StopListening();
}

bool GstRecorder::Listen() {
  if (impl_->pipelines[Impl::kInput]) return true;
  const std::string description = impl_->source + " ! audioconvert ! audioresample ! " + kTakeCaps +
                                  " ! level name=meter interval=" + std::to_string(kLevelInterval) +
                                  " post-messages=true ! fakesink name=tap sync=false async=false";
  GstElement* pipeline = impl_->Launch(description, Impl::kInput);
  if (!pipeline) return false;
  impl_->pipelines[Impl::kInput].reset(pipeline);
  GstElementPtr meter(gst_bin_get_by_name(GST_BIN(pipeline), "meter"));
  GstPadPtr meterPad(gst_element_get_static_pad(meter.get(), "sink"));
  gst_pad_add_probe(meterPad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &Impl::OnMeterEvent, nullptr,
                    nullptr);
  GstElementPtr tap(gst_bin_get_by_name(GST_BIN(pipeline), "tap"));
  GstPadPtr pad(gst_element_get_static_pad(tap.get(), "sink"));
  gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &Impl::OnInput, impl_.get(), nullptr);
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    impl_->End(Impl::kInput);
    return false;
  }
  return true;
}

void GstRecorder::StopListening() {
  impl_->EndTake();
  impl_->End(Impl::kInput);
  impl_->level = 0;
}

bool GstRecorder::Record(const std::string& path, int32_t windowMs, int64_t fromNs, bool playBack) {
  Stop();
  if (!impl_->pipelines[Impl::kInput] || windowMs <= 0) return false;
  gchar* location = g_strescape(path.c_str(), nullptr);
  const std::string description = std::string("appsrc name=src format=time caps=\"") + kTakeCaps +
                                  "\" ! opusenc bitrate=48000 ! oggmux ! filesink location=\"" +
                                  location + "\"";
  g_free(location);
  GstElement* writer = impl_->Launch(description, Impl::kWriting);
  if (!writer) return false;
  impl_->pipelines[Impl::kWriting].reset(writer);
  GstElement* player = nullptr;
  if (playBack && windowMs <= kMaxTakeInMemoryMs) {
    // Waiting for its data from now on, so that the take sounds the moment
    // it is handed over.
    GstElement* playback = impl_->Launch(
        "appsrc name=src format=time ! audioconvert ! audioresample ! autoaudiosink",
        Impl::kPlaying);
    if (playback) {
      impl_->pipelines[Impl::kPlaying].reset(playback);
      player = Impl::SourceOf(playback);
      if (gst_element_set_state(playback, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_object_unref(player);
        player = nullptr;
        impl_->End(Impl::kPlaying);
      }
    }
  }
  GstElement* src = Impl::SourceOf(writer);
  if (gst_element_set_state(writer, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    gst_object_unref(src);
    if (player) gst_object_unref(player);
    Stop();
    g_remove(path.c_str());
    return false;
  }
  const std::lock_guard guard(impl_->lock);
  Impl::Take& take = impl_->take;
  take.active = true;
  take.fromNs = fromNs > 0 ? fromNs : SteadyNowNs();
  take.frames = int64_t{windowMs} * kRate / 1000;
  take.writer = src;
  take.player = player;
  if (player) take.pcm.reserve(static_cast<size_t>(take.frames));
  impl_->takeHeard = false;
  impl_->takePlaying = false;
  // What came in since the take's instant is its beginning.
  for (const Impl::Chunk& chunk : impl_->kept) {
    if (!take.active) break;
    if (chunk.EndNs() > take.fromNs) impl_->Feed(chunk);
  }
  return true;
}

void GstRecorder::EndRecording() {
  const std::lock_guard guard(impl_->lock);
  if (impl_->take.active) impl_->take.endAtNs = SteadyNowNs();
}

bool GstRecorder::Play(const std::string& path, int32_t fromMs, int32_t toMs) {
  impl_->End(Impl::kPlaying);
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
  gst_bus_set_sync_handler(bus.get(), &Impl::OnBus, &impl_->watches[Impl::kPlaying], nullptr);
  impl_->pipelines[Impl::kPlaying].reset(SinkFloating(playbin));
  if (fromMs > 0 || toMs >= 0) {
    // A stretch: prerolled, then played from its start to its end only
    // (Impl::Prerolled), without waiting here. A file that cannot be played
    // ends as played.
    {
      Impl::Stretch& s = *impl_->stretch;
      const std::lock_guard guard(s.lock);
      s.playback = playbin;
      s.pending = true;
      s.fromMs = fromMs;
      s.toMs = toMs;
    }
    const GstStateChangeReturn paused = gst_element_set_state(playbin, GST_STATE_PAUSED);
    if (paused == GST_STATE_CHANGE_FAILURE) {
      impl_->End(Impl::kPlaying);
      return false;
    }
    // Prerolled at once: no message will tell.
    if (paused != GST_STATE_CHANGE_ASYNC) impl_->Prerolled(playbin);
    return true;
  }
  if (gst_element_set_state(playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    impl_->End(Impl::kPlaying);
    return false;
  }
  return true;
}

void GstRecorder::Stop() {
  impl_->EndTake();
  impl_->End(Impl::kPlaying);
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
      const auto role = static_cast<Impl::Role>(next.first & 3u);
      if (next.first != Impl::Tag(role, impl_->generation[role])) continue;  // of a pipeline gone since
    }
    event = next.second;
    // The pipeline that ended goes now, on this thread: the file is whole.
    switch (event.kind) {
      case RecorderEvent::kPlayed:
        impl_->End(Impl::kPlaying);
        break;
      case RecorderEvent::kRecorded:
      case RecorderEvent::kRecordFailed:
      case RecorderEvent::kWriteFailed:
        impl_->End(Impl::kWriting);
        break;
      case RecorderEvent::kInputFailed:
        impl_->level = 0;
        impl_->End(Impl::kInput);
        break;
    }
    return true;
  }
}

}  // namespace orvex
