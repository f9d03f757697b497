#include "playback/gst_graph.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gst/audio/audio.h>
#include <gst/base/gstbaseparse.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "playback/gst_init.h"
#include "playback/gst_player.h"

namespace orvex {

void EnsureGstInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
      g_printerr("GStreamer did not start: %s\n", error ? error->message : "?");
      g_clear_error(&error);
    }
  });
}

int CheckRequiredFilters(const std::function<bool(const char* factoryName)>& hasFactory) {
  // Ours to ship: without them the program cannot play at all.
  for (const char* name : {"mpg123audiodec", "mpegaudioparse"}) {
    if (!hasFactory(name)) return -1;
  }
  // The system's: the second builder and the file source.
  for (const char* name : {"mpegpsdemux", "filesrc"}) {
    if (!hasFactory(name)) return 0;
  }
  return 1;
}

int CheckRequiredFilters() {
  EnsureGstInit();
  return CheckRequiredFilters([](const char* name) {
    GstElementFactory* factory = gst_element_factory_find(name);
    if (!factory) return false;
    gst_object_unref(factory);
    return true;
  });
}

GstPadPtr FindPin(GstElement* element, GstPadDirection direction, int index) {
  if (!element || index < 0) return nullptr;
  GstIterator* it = gst_element_iterate_pads(element);
  GValue item = G_VALUE_INIT;
  GstPadPtr found;
  int count = 0;
  bool done = false;
  while (!done) {
    switch (gst_iterator_next(it, &item)) {
      case GST_ITERATOR_OK: {
        auto* pad = GST_PAD(g_value_get_object(&item));
        if (GST_PAD_DIRECTION(pad) == direction) {
          if (count == index) {
            found.reset(GST_PAD(gst_object_ref(pad)));
            done = true;
          }
          ++count;
        }
        g_value_reset(&item);
        break;
      }
      case GST_ITERATOR_RESYNC:
        gst_iterator_resync(it);
        count = 0;
        break;
      default:
        done = true;
        break;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return found;
}

namespace {

// The state of the probe on the parser's output (streaming thread only).
struct ParserOutput {
  uint64_t lastFrameOffset = 0;
  bool joinFrames = false;      // frames are parted by junk
  bool segmentStarted = false;  // a buffer has passed since the last segment
  uint64_t samplesPerFrame = 0;
};

// The parser marks the encoder's delay and padding for the decoder to clip
// (gapless playback). When that is exactly a whole frame (an MPEG-2 frame
// holds 576 samples, and a delay of 1105 is one frame and 529 samples),
// mpg123audiodec 1.22 does not see the frame as clipped whole: it asks for
// an empty output buffer and GStreamer prints a critical, on every build and
// every seek back to the start. Clipping one sample more makes it a frame
// clipped whole, which the decoder drops as it should: the same samples are
// heard.
GstBuffer* MarkWholeFrameClipped(const ParserOutput& out, GstBuffer* buffer) {
  const GstAudioClippingMeta* meta = gst_buffer_get_audio_clipping_meta(buffer);
  if (!meta || meta->format != GST_FORMAT_DEFAULT || out.samplesPerFrame == 0 ||
      meta->start + meta->end != out.samplesPerFrame) {
    return buffer;
  }
  buffer = gst_buffer_make_writable(buffer);
  GstAudioClippingMeta* writable = gst_buffer_get_audio_clipping_meta(buffer);
  if (writable->start > 0) {
    ++writable->start;
  } else {
    ++writable->end;
  }
  return buffer;
}

GstPadProbeReturn OnParserOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* out = static_cast<ParserOutput*>(data);
  if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event && GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) out->segmentStarted = false;
    return GST_PAD_PROBE_OK;
  }
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  const bool first = !out->segmentStarted;
  out->segmentStarted = true;
  if (GstBuffer* moved = MarkWholeFrameClipped(*out, buffer); moved != buffer) {
    buffer = moved;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
  }
  const bool join =
      out->joinFrames && !first && GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT);
  const bool last = GST_BUFFER_OFFSET(buffer) == out->lastFrameOffset;
  if (!join && !last) return GST_PAD_PROBE_OK;
  buffer = gst_buffer_make_writable(buffer);
  if (join) GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
  uint8_t header[4];
  if (last && gst_buffer_extract(buffer, 0, header, sizeof header) == sizeof header) {
    buffer = gst_buffer_append(buffer, gst_buffer_new_memdup(header, sizeof header));
  }
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  return GST_PAD_PROBE_OK;
}

}  // namespace

void FitParserOutput(GstElement* parser, const MpegScan& scan) {
  GstPadPtr out = FindPin(parser, GST_PAD_SRC, 0);
  if (!out) return;
  auto* state = new ParserOutput;
  state->lastFrameOffset = scan.lastAudioFrame;
  state->joinFrames = scan.junkGaps > 0;
  state->samplesPerFrame = static_cast<uint64_t>(std::max(scan.first.samplesPerFrame, 0));
  gst_pad_add_probe(
      out.get(),
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      OnParserOutput, state, [](gpointer p) { delete static_cast<ParserOutput*>(p); });
}

GstElement* AddElement(GstElement* bin, const char* factory, const char* name,
                       std::string& missing) {
  GstElement* element = gst_element_factory_make(factory, name);
  if (!element) {
    if (missing.empty()) missing = factory;
    return nullptr;
  }
  gst_bin_add(GST_BIN(bin), element);
  return element;
}

namespace {

// Of the devices, the audio output marked as the default, else the first one.
GstDevice* ChooseAudioOutput(GList* devices) {
  GstDevice* chosen = nullptr;
  for (GList* l = devices; l; l = l->next) {
    auto* device = GST_DEVICE(l->data);
    if (!gst_device_has_classes(device, "Audio/Sink")) continue;
    if (!chosen) chosen = device;
    GstStructure* props = gst_device_get_properties(device);
    gboolean isDefault = FALSE;
    if (props && gst_structure_get_boolean(props, "is-default", &isDefault) && isDefault) {
      chosen = device;
    }
    if (props) gst_structure_free(props);
    if (isDefault) break;
  }
  return chosen;
}

// The plugin of the audio sink autoaudiosink would take: the highest ranked.
std::string PreferredSinkPlugin() {
  GList* sinks = gst_element_factory_list_get_elements(
      GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
  sinks = g_list_sort(sinks, gst_plugin_feature_rank_compare_func);
  std::string plugin;
  if (sinks) {
    const gchar* name = gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(sinks->data));
    if (name) plugin = name;
  }
  gst_plugin_feature_list_free(sinks);
  return plugin;
}

// The sink of the default output among devices (or the first), which it
// takes and frees; null when there is none.
GstElementPtr SinkOfDevices(GList* devices) {
  GstElementPtr sink;
  if (GstDevice* chosen = ChooseAudioOutput(devices)) {
    sink.reset(SinkFloating(gst_device_create_element(chosen, nullptr)));
  }
  g_list_free_full(devices, gst_object_unref);
  return sink;
}

// The default output of the device provider that comes with the preferred
// sink (the sound server's, where there is one). Only that provider's plugin
// is loaded: a device monitor over every provider loads them all (DeckLink's,
// with the video library, among them) and they stay for the life of the
// process.
GstElementPtr SinkOfPreferredProvider() {
  const std::string plugin = PreferredSinkPlugin();
  if (plugin.empty()) return nullptr;
  GList* factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_MARGINAL);
  GstDeviceProviderFactory* factory = nullptr;
  for (GList* l = factories; l && !factory; l = l->next) {
    auto* candidate = GST_DEVICE_PROVIDER_FACTORY(l->data);
    const gchar* name = gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(candidate));
    if (name && plugin == name && gst_device_provider_factory_has_classes(candidate, "Audio/Sink")) {
      factory = candidate;
    }
  }
  // Started, not only probed: a provider knows its default device once started.
  GstDeviceProvider* provider = factory ? gst_device_provider_factory_get(factory) : nullptr;
  gst_plugin_feature_list_free(factories);
  if (!provider) return nullptr;
  GstElementPtr sink;
  if (gst_device_provider_start(provider)) {
    sink = SinkOfDevices(gst_device_provider_get_devices(provider));
    gst_device_provider_stop(provider);
  }
  gst_object_unref(provider);
  return sink;
}

}  // namespace

GstElementPtr FindDefaultAudioRenderer() {
  EnsureGstInit();
  if (GstElementPtr sink = SinkOfPreferredProvider()) return sink;
  // Otherwise every provider of audio outputs.
  GstDeviceMonitor* monitor = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor, "Audio/Sink", nullptr);
  GstElementPtr sink;
  if (gst_device_monitor_start(monitor)) {
    sink = SinkOfDevices(gst_device_monitor_get_devices(monitor));
    gst_device_monitor_stop(monitor);
  }
  gst_object_unref(monitor);
  return sink;
}

GstStateChangeReturn PauseAtFirstFrame(GstElement* pipeline, GstElement* parser,
                                       const MpegScan& scan) {
  GstPadPtr parserIn = FindPin(parser, GST_PAD_SINK, 0);
  if (!parserIn) return GST_STATE_CHANGE_FAILURE;
  // The probe holds the first read until it is removed.
  const gulong hold = gst_pad_add_probe(
      parserIn.get(),
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_PULL | GST_PAD_PROBE_TYPE_BLOCK),
      [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);
  const GstStateChangeReturn ret = gst_element_set_state(pipeline, GST_STATE_PAUSED);
  if (ret != GST_STATE_CHANGE_FAILURE) {
    auto* base = GST_BASE_PARSE(parser);
    for (const MpegIndexPoint& point : scan.index) {
      const uint64_t offset = point.frame == 0 ? scan.firstFrameOffset : point.offset;
      gst_base_parse_add_index_entry(base, offset, scan.FrameTimeNs(point.frame), TRUE, TRUE);
    }
    gst_element_send_event(
        parser,
        gst_event_new_seek(1.0, GST_FORMAT_TIME,
                           static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                           GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_SET, scan.LengthNs()));
  }
  gst_pad_remove_probe(parserIn.get(), hold);
  return ret;
}

void ApplyThreadUrgency(GstMessage* message, ThreadUrgency urgency) {
  if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_STREAM_STATUS) return;
  GstStreamStatusType type;
  GstElement* owner = nullptr;
  gst_message_parse_stream_status(message, &type, &owner);
  if (type != GST_STREAM_STATUS_TYPE_ENTER) return;
  const pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
  // The audio sink keeps a few hundred milliseconds: a thread that waits
  // longer than that for a core behind busy programs is heard as a break.
  // A nice value well above theirs gets it the core in time, and a decoding
  // in the background must never take it away.
  const int nice = urgency == ThreadUrgency::kHeard ? -11 : 10;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) != 0) {
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
      GST_CAT_INFO(GST_CAT_DEFAULT, "streaming threads keep their priority (nice %d refused)",
                   nice);
    }
  }
}

}  // namespace orvex
