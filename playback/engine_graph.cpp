#include "playback/engine_graph.h"

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "playback/decode_front.h"
#include "playback/engine_log.h"
#include "playback/error_text.h"
#include "playback/gst_graph.h"

namespace orvex {

namespace {

// How the sound server knows the player's stream. Its stream-restore module
// keeps a volume per stream identity across runs; the player sets its volume
// when the stream is created, so nothing kept is applied to it, and its own
// identity keeps its mute from being applied to the program's other sounds.
constexpr const char* kStreamRestoreId = "orvexplayer-playback";

// How long a teardown waits for the pipeline's threads to stop.
constexpr std::chrono::seconds kTakeDownLimit{5};

}  // namespace

const char* BuilderName(Builder builder) {
  switch (builder) {
    case Builder::kMp3Parser:
      return "mpegaudioparse";
    case Builder::kSplitter:
      return "mpegpsdemux";
    case Builder::kDecoder:
      return "frontEnd";
  }
  return "?";
}

std::string ErrorTextOf(const Failure& failure) {
  return failure.text.empty() ? OwnErrorText(failure.code) : failure.text;
}

Graph::Graph(Builder which, const std::string& path, const MpegScan& scan, const GraphHooks& hooks,
             bool fakeRenderer, double gain)
    : builder(which) {
  pipeline.reset(SinkFloating(gst_pipeline_new(nullptr)));
  if (!pipeline) {
    Fail(kErrFail, "pipeline");
    return;
  }
  // The first start puts its first sample a lead ahead (see kStartLeadNs).
  gst_pipeline_set_delay(GST_PIPELINE(pipeline.get()), kStartLeadNs);
  bool built = false;
  switch (builder) {
    case Builder::kMp3Parser:
      built = BuildWithParser(path, scan);
      break;
    case Builder::kSplitter:
      built = BuildWithSplitter(path);
      break;
    case Builder::kDecoder:
      built = BuildWithDecoder(path);
      break;
  }
  if (!built || !AddRenderer(fakeRenderer, gain)) return;
  if (frontOut_) {
    // The seeks after a segment go upstream from the pad the front end feeds.
    restartPad.reset(gst_pad_get_peer(frontOut_.get()));
    frontOut_.reset();
    if (!restartPad) {
      Fail(kErrNotFound, "frontEnd src peer");
      return;
    }
  }
  Attach(hooks);
}

void Graph::TakeDown() {
  if (!pipeline || takenDown_) return;
  takenDown_ = true;
  // Stopping joins the streaming threads: nothing calls back after this.
  // It runs on a thread of its own, so that a graph whose threads never stop
  // (an element waiting on its own locks) cannot hang the program: after
  // the limit it is left to that thread, its hooks detached.
  auto stopped = std::make_shared<std::promise<void>>();
  std::future<void> done = stopped->get_future();
  GstElement* p = GST_ELEMENT(gst_object_ref(pipeline.get()));
  std::thread([p, stopped] {
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    stopped->set_value();
  }).detach();
  if (done.wait_for(kTakeDownLimit) != std::future_status::ready) {
    GST_ERROR("the pipeline did not stop within %lld s: left behind",
              static_cast<long long>(kTakeDownLimit.count()));
    abandoned_ = true;
  }
  if (padAddedHandler_) g_signal_handler_disconnect(parser, padAddedHandler_);
  if (sinkProbe_) gst_pad_remove_probe(sinkPad.get(), sinkProbe_);
  if (feedProbe_) gst_pad_remove_probe(feedPad.get(), feedProbe_);
  if (framerProbe_) gst_pad_remove_probe(framerPad.get(), framerProbe_);
  if (bus) gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
  GST_INFO("pipeline taken down");
  if (abandoned_) {
    // The stopping thread holds its own reference; ours stays with it.
    (void)pipeline.release();
    bus.reset();
    sinkPad.reset();
    feedPad.reset();
    framerPad.reset();
    restartPad.reset();
  }
}

bool Graph::Fail(Result code, const std::string& detail) {
  if (ok()) failure = {code, OwnErrorText(code) + " (" + detail + ")"};
  return false;
}

GstElement* Graph::Add(const char* factory, const char* name) {
  std::string missing;
  GstElement* element = AddElement(GST_ELEMENT(pipeline.get()), factory, name, missing);
  if (!element) Fail(kErrMissingElement, missing);
  return element;
}

bool Graph::Link(GstElement* from, GstElement* to) {
  if (gst_element_link(from, to)) return true;
  return Fail(kErrFail, std::string(GST_OBJECT_NAME(from)) + " -> " + GST_OBJECT_NAME(to));
}

bool Graph::BuildWithParser(const std::string& path, const MpegScan& scan) {
  // filesrc ! mpegaudioparse ! mpg123audiodec
  source = Add("filesrc", "source");
  parser = Add("mpegaudioparse", "mp3Parser");
  decoder = Add("mpg123audiodec", "decoder");
  if (!ok()) return false;
  g_object_set(source, "location", path.c_str(), nullptr);
  FitParserOutput(parser, scan);
  if (!Link(source, parser) || !Link(parser, decoder)) return false;
  restartPad = FindPin(decoder, GST_PAD_SINK, 0);
  return restartPad || Fail(kErrNotFound, "mpg123audiodec sink");
}

bool Graph::BuildWithSplitter(const std::string& path) {
  // filesrc ! mpegpsdemux, whose audio pad (linked once data flows, in
  // OnPadAdded) feeds mpegaudioparse ! mpg123audiodec.
  source = Add("filesrc", "source");
  parser = Add("mpegpsdemux", "mp3Parser");
  framer = Add("mpegaudioparse", "framer");
  decoder = Add("mpg123audiodec", "decoder");
  if (!ok()) return false;
  g_object_set(source, "location", path.c_str(), nullptr);
  if (!Link(source, parser) || !Link(framer, decoder)) return false;
  framerPad = FindPin(framer, GST_PAD_SINK, 0);
  restartPad = FindPin(framer, GST_PAD_SINK, 0);
  return (framerPad && restartPad) || Fail(kErrNotFound, "mpegaudioparse sink");
}

bool Graph::BuildWithDecoder(const std::string& path) {
  // filesrc ! parsebin ! (the decoder for its audio track) ! audioconvert,
  // in the bin "frontEnd".
  DecodeFront front = AddDecodeFront(GST_ELEMENT(pipeline.get()), path);
  if (front.isMp3) return Fail(kErrFail, "MPEG audio: the MP3 builders' file");
  if (!front.ok) {
    failure = {front.code, front.text};
    return false;
  }
  decoder = front.bin;
  frontOut_ = std::move(front.audioSrc);
  return true;
}

bool Graph::AddRenderer(bool fakeRenderer, double gain) {
  // Speed without a change of pitch; without the plug-in the file plays at
  // its own speed only.
  std::string noTempo;
  tempo = AddElement(GST_ELEMENT(pipeline.get()), "scaletempo", "tempo", noTempo);
  if (tempo) {
    // Windows of 30 ms searched over 14 ms, overlapping by 80 %: a smoother
    // voice at half speed than the default 20 %.
    g_object_set(tempo, "stride", 30u, "search", 14u, "overlap", 0.8, nullptr);
  } else {
    GST_WARNING("no scaletempo: the speed stays 1.00");
  }

  GstElementPtr device;
  if (fakeRenderer) {
    device.reset(SinkFloating(gst_element_factory_make("fakesink", nullptr)));
    if (!device) return Fail(kErrMissingElement, "fakesink");
    g_object_set(device.get(), "sync", FALSE, nullptr);
  } else {
    device = FindDefaultAudioRenderer();
    if (!device) return Fail(kErrNoAudioHardware, "Audio/Sink");
    GObjectClass* klass = G_OBJECT_GET_CLASS(device.get());
    if (g_object_class_find_property(klass, "latency-time") &&
        g_object_class_find_property(klass, "buffer-time")) {
      g_object_set(device.get(), "latency-time", kSinkSegmentUs, "buffer-time", kSinkBufferUs,
                   nullptr);
    }
    if (g_object_class_find_property(klass, "stream-properties")) {
      GstStructure* props = gst_structure_new("props", "module-stream-restore.id", G_TYPE_STRING,
                                              kStreamRestoreId, nullptr);
      g_object_set(device.get(), "stream-properties", props, nullptr);
      gst_structure_free(props);
    }
  }
  // The renderer: audioconvert ! audioresample [! volume] ! audiopanorama ! sink.
  renderer = Add("bin", "renderer");
  if (!renderer) return false;
  std::string missing;
  GstElement* convert = AddElement(renderer, "audioconvert", "convert", missing);
  GstElement* resample = AddElement(renderer, "audioresample", "resample", missing);
  if (!GST_IS_STREAM_VOLUME(device.get())) {
    volume = AddElement(renderer, "volume", "volume", missing);
  } else {
    streamVolume = GST_STREAM_VOLUME(device.get());
  }
  panorama = AddElement(renderer, "audiopanorama", "panorama", missing);
  if (!missing.empty()) return Fail(kErrMissingElement, missing);
  if (!gst_bin_add(GST_BIN(renderer), device.get())) return Fail(kErrFail, "renderer");
  sink = device.get();
  GstElementFactory* factory = gst_element_get_factory(sink);
  spliceable = factory && g_strcmp0(GST_OBJECT_NAME(factory), "pulsesink") == 0;
  gst_util_set_object_arg(G_OBJECT(panorama), "method", "simple");
  if (!Link(convert, resample) || !Link(resample, volume ? volume : panorama) ||
      (volume && !Link(volume, panorama)) || !Link(panorama, sink)) {
    return false;
  }
  // Set before the sink opens its stream, so the stream starts at this volume.
  ApplyGain(gain);
  GstPadPtr target = FindPin(convert, GST_PAD_SINK, 0);
  GstPad* ghost = target ? gst_ghost_pad_new("sink", target.get()) : nullptr;
  if (!ghost || !gst_element_add_pad(renderer, ghost)) return Fail(kErrNotFound, "renderer sink");
  return (!tempo || Link(decoder, tempo)) && Link(tempo ? tempo : decoder, renderer);
}

bool Graph::Attach(const GraphHooks& hooks) {
  sinkPad = FindPin(sink, GST_PAD_SINK, 0);
  if (!sinkPad) return Fail(kErrNotFound, "sink");
  sinkProbe_ = gst_pad_add_probe(
      sinkPad.get(),
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      hooks.sinkPad, hooks.data, nullptr);
  feedPad.reset(gst_pad_get_peer(sinkPad.get()));
  if (!feedPad) return Fail(kErrNotFound, "sink peer");
  feedProbe_ = gst_pad_add_probe(feedPad.get(), GST_PAD_PROBE_TYPE_EVENT_FLUSH, hooks.sinkPad,
                                 hooks.data, nullptr);
  bus.reset(gst_element_get_bus(GST_ELEMENT(pipeline.get())));
  gst_bus_set_sync_handler(bus.get(), hooks.bus, hooks.data, nullptr);
  if (builder == Builder::kSplitter) {
    padAddedHandler_ = g_signal_connect(parser, "pad-added", hooks.padAdded, hooks.data);
    framerProbe_ = gst_pad_add_probe(framerPad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                                     hooks.framerSegment, hooks.data, nullptr);
  }
  return true;
}

void Graph::ApplyGain(double gain) const {
  if (streamVolume) {
    gst_stream_volume_set_volume(streamVolume, GST_STREAM_VOLUME_FORMAT_LINEAR, gain);
    gst_stream_volume_set_mute(streamVolume, gain == 0.0);
  } else if (volume) {
    g_object_set(volume, "volume", gain, nullptr);
  }
}

}  // namespace orvex
