// Threading. Every public operation runs on the GUI thread. GStreamer runs the
// pipeline on threads of its own (the parser's or the demuxer's task, the
// PulseAudio main loop); they reach this player only through
//  - the bus sync handler (OnBusMessage): it records how a build ends, queues
//    graph events under `mutex` and then calls `notify`, outside the lock;
//    when a loop's segment is done it sends the next seek without a flush
//    (OnSegmentDone), upstream from the decoder's input, never through the
//    pipeline, whose state lock a state change on the GUI thread may hold;
//  - the probe on the audio sink's input pad (OnSinkPad): it marks a seek as
//    landed when its first buffer arrives, feeds the optional observer, and
//    keeps the segments the sink takes (OnSinkSegment), joining each pass of a
//    loop to the one before in running time;
//  - the clock's thread (OnTimer): it queues a loop event when the clock
//    reaches the running time at which it is heard. Its timers hold a shared
//    `Timers`, so one that fires after the player is gone finds no owner;
//    DisarmTimers waits for one that is delivering.
//  - the demuxer's pad-added handler (OnPadAdded): it links the audio pad;
//  - two more probes: one holds the MPEG parser's first read during a build
//    (Preroll), one moves the splitter graph's segments (OnFramerSegment).
// What they share with the GUI thread is atomic or guarded by `mutex`. The GUI
// thread waits only inside a build, for a bounded preroll; seeks and state
// changes return at once. Each load's graph is a Graph; taking it down stops
// the pipeline (joining its threads) before it removes the handlers, so no
// callback runs after it.

#include "playback/gst_player.h"

#include <gst/audio/audio.h>
#include <gst/audio/streamvolume.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "playback/error_text.h"
#include "playback/gst_graph.h"
#include "playback/gst_ptr.h"
#include "playback/mpeg_scan.h"
#include "playback/units.h"

namespace orvex {

namespace {

enum class Builder { kMp3Parser, kSplitter };

// What the engine is doing. Run, Pause, Stop and Teardown all go through
// Impl::Enter; a build ends in kPaused.
enum class EngineState { kEmpty, kPaused, kPlaying };

const char* StateName(EngineState state) {
  switch (state) {
    case EngineState::kEmpty:
      return "empty";
    case EngineState::kPaused:
      return "paused";
    case EngineState::kPlaying:
      return "playing";
  }
  return "?";
}

// Our result code for a GStreamer error.
Result CodeOfError(const GError* error) {
  if (!error) return kErrFail;
  if (error->domain == GST_RESOURCE_ERROR) {
    switch (error->code) {
      case GST_RESOURCE_ERROR_NOT_FOUND:
      case GST_RESOURCE_ERROR_OPEN_READ:
      case GST_RESOURCE_ERROR_READ:
      case GST_RESOURCE_ERROR_SEEK:
        return kErrCannotOpen;
      default:
        return kErrNoAudioHardware;
    }
  }
  if (error->domain == GST_STREAM_ERROR) {
    return error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND ? kErrMissingElement : kErrStream;
  }
  if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN) {
    return kErrMissingElement;
  }
  return kErrFail;
}

// The audio sink writes to the sound server in segments of this length and
// keeps this much buffered. The sink's defaults (10 ms, 200 ms) cost about
// twice the CPU time. What passes an element before the sink is heard only
// after this buffer has played out: the channel is, but volume and mute are
// set on the sound server's stream, which applies them as it mixes. Seeks
// flush the buffer.
constexpr gint64 kSinkSegmentUs = 100000;
constexpr gint64 kSinkBufferUs = 300000;

// Every start of the clock (Run, and the restart behind each seek while
// playing) puts the first sample this far in the future. The sink places each
// sample in the sound server's stream by the clock; a sample whose place the
// server has already played (it reads ahead by its own block, 5-20 ms here)
// is cut away, so with no lead the first milliseconds after every seek were
// lost. The lead is heard as a short silence before the new position.
constexpr GstClockTime kStartLeadNs = 40 * GST_MSECOND;

// How the sound server knows the player's stream. Its stream-restore module
// keeps a volume per stream identity across runs; the player sets its volume
// when the stream is created, so nothing kept is applied to it, and its own
// identity keeps its mute from being applied to the program's other sounds.
constexpr const char* kStreamRestoreId = "orvexplayer-playback";

// The demuxer of the second builder seeks to the packet of the target itself,
// and the first frames behind it then lack the bit reservoir of the frames
// before: its seeks start this much earlier, and the segment is set back to
// the target on its way to the decoder, which cuts the lead-in away.
constexpr int64_t kSplitterLeadInNs = 300 * GST_MSECOND;

// The engine's log: GST_DEBUG=orvex:5 shows each build, seek, state change,
// loop and error.
GST_DEBUG_CATEGORY_STATIC(orvex_engine);
#define GST_CAT_DEFAULT orvex_engine

void EnsureDebugCategory() {
  static std::once_flag once;
  std::call_once(once, [] {
    GST_DEBUG_CATEGORY_INIT(orvex_engine, "orvex", 0, "OrvexPlayer playback engine");
  });
}

// What a seek sent without a flush (from the bus, when a loop's segment is
// done) starts: the loop's next pass, or playback on past B once the loop is
// cleared.
enum class Restart { kNone, kLoop, kContinue };

// scaletempo holds back a window of its input and drops it where a segment
// ends: at another speed a loop's segment runs this much past B, and the sink
// cuts it at B.
constexpr int64_t kTempoLeadOutNs = 100 * GST_MSECOND;
// Likewise it drops the first window of a segment: at another speed seeks
// start this much early, and the sink cuts the lead-in away.
constexpr int64_t kTempoLeadInNs = 100 * GST_MSECOND;

// Sink segments kept for mapping the clock to a heard position: the sink's
// buffer holds at most a few of them.
constexpr size_t kKeptSegments = 8;

// Linear gain of a volume in hundredths of a decibel; exactly 0 at the bottom.
double LinearGain(int32_t hundredthsOfDb) {
  if (hundredthsOfDb <= kVolumeSilent) return 0.0;
  const int32_t v = std::min(hundredthsOfDb, kVolumeFull);
  return std::pow(10.0, v / 2000.0);
}

// A failure and the text that tells it.
struct Failure {
  Result code = kOk;
  std::string text;  // empty: the code's own text
};

std::string ErrorTextOf(const Failure& failure) {
  return failure.text.empty() ? OwnErrorText(failure.code) : failure.text;
}

// A value that streaming threads read and write atomically, and that a new
// load resets by assignment with the rest of Load (only ever while no
// streaming thread runs).
template <typename T>
struct Shared : std::atomic<T> {
  Shared() : std::atomic<T>(T{}) {}
  Shared(T value) : std::atomic<T>(value) {}  // NOLINT: as plain as the value
  Shared(const Shared& other) : std::atomic<T>(other.load()) {}
  Shared& operator=(const Shared& other) {
    this->store(other.load());
    return *this;
  }
  using std::atomic<T>::operator=;
};

// The hooks through which a graph's threads reach the player.
struct GraphHooks {
  GstBusSyncHandler bus = nullptr;
  GstPadProbeCallback sinkPad = nullptr;
  GstPadProbeCallback framerSegment = nullptr;
  GCallback padAdded = nullptr;
  gpointer data = nullptr;
};

// One file's graph. The constructor builds it with one of the two builders and
// attaches the hooks; the destructor stops it (joining its threads) before it
// detaches them, so no hook runs after it. A build that fails leaves `failure`
// set and the graph half made, for the destructor to take down.
class Graph {
 public:
  Graph(Builder builder, const std::string& path, const MpegScan& scan, const GraphHooks& hooks,
        bool fakeRenderer, double gain);
  ~Graph() { TakeDown(); }
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  bool ok() const { return failure.code == kOk; }
  // Stops the pipeline (joining its threads) and detaches the hooks; the
  // destructor does it too. The player calls it while its graph is still
  // there for the hooks of the stopping threads to find.
  void TakeDown();
  // Sets the output's gain: the sink's stream volume, or the volume element.
  void ApplyGain(double gain) const;

  const Builder builder;
  Failure failure;
  // The elements belong to the pipeline.
  GstPipelinePtr pipeline;
  GstBusPtr bus;
  GstElement* source = nullptr;
  GstElement* parser = nullptr;
  GstElement* framer = nullptr;  // the splitter's graph frames the demuxed audio
  GstElement* decoder = nullptr;
  GstElement* tempo = nullptr;  // scaletempo, absent when the plug-in is
  GstElement* renderer = nullptr;
  // Volume and mute: the sink's own stream volume when it has one (the sound
  // server applies it), else a volume element before the sink.
  GstStreamVolume* streamVolume = nullptr;
  GstElement* volume = nullptr;
  GstElement* panorama = nullptr;
  GstElement* sink = nullptr;
  GstPadPtr sinkPad;
  GstPadPtr framerPad;   // the splitter graph's framer input, where segments are set
  GstPadPtr restartPad;  // where the seeks after a segment go upstream from

 private:
  bool Fail(Result code, const std::string& detail);
  GstElement* Add(const char* factory, const char* name);
  bool Link(GstElement* from, GstElement* to);
  // The two builders: the file to the decoder's output.
  bool BuildWithParser(const std::string& path, const MpegScan& scan);
  bool BuildWithSplitter(const std::string& path);
  // What both share: speed, the renderer and the hooks.
  bool AddRenderer(bool fakeRenderer, double gain);
  bool Attach(const GraphHooks& hooks);

  gulong sinkProbe_ = 0;
  gulong framerProbe_ = 0;
  gulong padAddedHandler_ = 0;
  bool takenDown_ = false;
};

}  // namespace

struct GstPlayer::Impl {
  Impl(GraphNotify n, GstPlayerOptions o) : notify(std::move(n)), options(std::move(o)) {}

  Result Build(const std::string& path, Builder builder);
  Result Fail(Failure failure);
  Result Preroll(const MpegScan& scan);
  void Dismantle();
  int64_t PositionNs();
  Result StateResult(GstStateChangeReturn ret, EngineState to);
  // The one way from one state to another.
  Result Enter(EngineState to);
  void RecordText(Result code, const std::string& text);
  // A seek that is heard from target on (it starts earlier where a lead-in
  // is cut away), numbered as the seek in flight.
  GstEvent* MakeSeek(int64_t target, double speed, GstSeekFlags flags, int64_t stop);
  // Sends a flushing, accurate seek to the target (already clamped) at the
  // current speed, as a segment ending at B when the loop holds the target.
  // Loop events not yet taken belong to what the flush ends, and go. A seek
  // that is a return to A (returnGapNs >= 0) is heard after that silence,
  // with the loop's events.
  void SendSeek(int64_t target, int64_t returnGapNs = -1);
  // The heard position from the clock and the segments the sink has taken;
  // false when it cannot tell.
  bool HeardPositionNs(int64_t& ns);
  void OnSegmentDone(uint32_t seqnum);
  // A loop segment's stop at another speed: past B by scaletempo's lead-out.
  int64_t LeadOutStop(int64_t b) const {
    return load.lengthNs > 0 ? std::min(b + kTempoLeadOutNs, load.lengthNs) : b;
  }
  void OnSinkSegment(GstPadProbeInfo* info);
  void QueueEvent(int32_t code);
  // Loop events wait for the clock to reach the running time at which they
  // are heard (the clock's thread queues them).
  void ScheduleAt(int32_t code, GstClockTime runningTime);
  void ArmTimers();
  void DisarmTimers(bool forget);
  static gboolean OnTimer(GstClock* clock, GstClockTime time, GstClockID id, gpointer data);

  static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer data);
  static GstPadProbeReturn OnSinkPad(GstPad* pad, GstPadProbeInfo* info, gpointer data);
  static GstPadProbeReturn OnFramerSegment(GstPad* pad, GstPadProbeInfo* info, gpointer data);
  static void OnPadAdded(GstElement* element, GstPad* pad, gpointer data);
  void Observe(GstBuffer* buffer, bool firstAfterSeek);

  bool built() const { return load.state != EngineState::kEmpty; }

  const GraphNotify notify;
  const GstPlayerOptions options;

  // The graph of the file loaded; none while empty.
  std::unique_ptr<Graph> graph;
  // The linear gain last set; a new graph starts with it.
  double gain = 1.0;

  // Guards what the streaming threads share with the GUI thread in `load`,
  // and `texts`.
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::map<Result, std::string> texts;  // the last text of each failure

  // What one load knows. A new load (and a teardown) starts from a fresh one.
  struct Loop {
    bool active = false;
    int64_t aNs = 0, bNs = 0, gapNs = 0;
  };
  struct Load {
    // GUI thread.
    EngineState state = EngineState::kEmpty;
    int64_t lengthNs = 0;
    // Seeks end the segment at the length when the scan knows where the audio
    // ends, so trailing junk (an appended tag, garbage) is never played.
    bool stopAtLength = false;
    int64_t seekTargetNs = 0;
    bool seekIsReturn = false;  // the last seek returned to A as a loop's pass
    int64_t lastPositionNs = 0;
    // Paused by Pause or Stop: the sink's clock settles for a while after it
    // stops, so the position read at that moment holds until the next seek or run.
    bool holdPosition = false;
    int64_t heldPositionNs = 0;

    // Under `mutex`.
    bool asyncDone = false;
    bool failed = false;
    Failure failure;  // the first error the bus reported
    bool queueEvents = false;
    std::deque<GraphEvent> events;
    double rate = 1.0;  // the playback speed; seeks carry it
    // The loop: the GUI thread sets it, the bus handler plays it on when a
    // segment is done, the sink probe places each pass.
    Loop loop;
    int64_t segmentStopNs = -1;  // the stop of the segment seek playing, -1 for none
    uint32_t segmentSeqnum = GST_SEQNUM_INVALID;  // that seek's number
    Restart restart = Restart::kNone;             // a seek without flush on its way
    int64_t clipAtNs = -1;    // where the sink ends a loop's segment (B), -1 for none
    int64_t clipFromNs = -1;  // where the sink starts a segment at another speed
    int64_t restartGapNs = 0;
    int64_t returnGapNs = -1;  // the seek in flight returns to A after this silence
    // Returns to A sent on their way and returns heard since the last flush:
    // while more are sent than heard, the pass after the one heard is already
    // on its way.
    int returnsSent = 0;
    int returnsHeard = 0;
    std::vector<GstSegment> sinkSegments;  // since the last flush, oldest first

    // Atomic.
    Shared<bool> atEnd;
    Shared<bool> audioPadLinked;
    Shared<uint64_t> buffersAtSink;
    // Seeks: the GUI thread numbers them, the sink probe tells which one's
    // data has arrived; a seek whose data has not arrived reads as its target.
    Shared<uint64_t> seekGeneration;
    Shared<uint64_t> flushedGeneration;
    Shared<uint64_t> landedGeneration;
    Shared<bool> awaitingFirstBuffer;
    // The splitter's seek in flight: its event's number and the true target.
    Shared<uint32_t> leadInSeqnum{GST_SEQNUM_INVALID};
    Shared<int64_t> leadInTargetNs;
    Shared<bool> playing;      // the pipeline is in PLAYING
    Shared<bool> markDiscont;  // the next buffer at the sink follows a silence

    // The observer's state (streaming thread only).
    GstAudioInfo sinkInfo{};
    bool sinkInfoValid = false;
    std::vector<float> scratch;
  } load;

  // Loop events waiting for the clock; shared with the clock's thread, which
  // may call back after the player is gone (it then finds nothing to do).
  struct Timers {
    std::mutex mutex;
    std::condition_variable idle;
    Impl* owner = nullptr;  // null once disarmed for good
    int running = 0;        // callbacks delivering right now
    struct Entry {
      int32_t code;
      GstClockTime runningTime;
      GstClockID id;  // null while the clock is not running
    };
    std::vector<Entry> entries;
  };
  std::shared_ptr<Timers> timers = std::make_shared<Timers>();
};

namespace {

Graph::Graph(Builder which, const std::string& path, const MpegScan& scan, const GraphHooks& hooks,
             bool fakeRenderer, double gain)
    : builder(which) {
  pipeline.reset(SinkFloating(gst_pipeline_new(nullptr)));
  if (!pipeline) {
    Fail(kErrFail, "pipeline");
    return;
  }
  gst_pipeline_set_delay(GST_PIPELINE(pipeline.get()), kStartLeadNs);
  const bool built =
      builder == Builder::kMp3Parser ? BuildWithParser(path, scan) : BuildWithSplitter(path);
  if (built && AddRenderer(fakeRenderer, gain)) Attach(hooks);
}

void Graph::TakeDown() {
  if (!pipeline || takenDown_) return;
  takenDown_ = true;
  // Stopping joins the streaming threads: nothing calls back after this.
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  if (padAddedHandler_) g_signal_handler_disconnect(parser, padAddedHandler_);
  if (sinkProbe_) gst_pad_remove_probe(sinkPad.get(), sinkProbe_);
  if (framerProbe_) gst_pad_remove_probe(framerPad.get(), framerProbe_);
  if (bus) gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
  GST_INFO("pipeline taken down");
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

bool Graph::AddRenderer(bool fakeRenderer, double gain) {
  // Speed without a change of pitch; without the plug-in the file plays at
  // its own speed only.
  std::string noTempo;
  tempo = AddElement(GST_ELEMENT(pipeline.get()), "scaletempo", "tempo", noTempo);
  if (!tempo) GST_WARNING("no scaletempo: the speed stays 1.00");

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
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
      hooks.sinkPad, hooks.data, nullptr);
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

}  // namespace

void GstPlayer::Impl::RecordText(Result code, const std::string& text) {
  std::lock_guard lock(mutex);
  texts[code] = ErrorTextOf({code, text});
}

Result GstPlayer::Impl::Fail(Failure failure) {
  Dismantle();
  RecordText(failure.code, failure.text);
  GST_WARNING("load failed: %s", ErrorTextOf(failure).c_str());
  return failure.code;
}

void GstPlayer::Impl::Dismantle() {
  {
    std::lock_guard lock(mutex);
    load.queueEvents = false;
  }
  if (graph) graph->TakeDown();
  graph.reset();
  // The clock's thread may still hold a timer: it finds no owner from now on.
  DisarmTimers(true);
  timers = std::make_shared<Timers>();
  std::lock_guard lock(mutex);
  load = Load();
}

Result GstPlayer::Impl::Build(const std::string& path, Builder builder) {
  EnsureGstInit();
  Dismantle();
  GST_INFO("build with %s: %s", builder == Builder::kMp3Parser ? "mpegaudioparse" : "mpegpsdemux",
           path.c_str());

  FileByteSource file;
  if (!file.Open(path)) return Fail({kErrCannotOpen, {}});
  MpegScan scan;
  if (builder == Builder::kMp3Parser) {
    // The parser alone would take noise, or a program stream, for audio.
    scan = ScanMpegAudio(file);
    if (!scan.found) return Fail({kErrNotMpegAudio, {}});
  }
  const GraphHooks hooks{OnBusMessage, OnSinkPad, OnFramerSegment, G_CALLBACK(OnPadAdded), this};
  graph = std::make_unique<Graph>(builder, path, scan, hooks, options.fastFakeRenderer, gain);
  if (!graph->ok()) return Fail(graph->failure);
  if (const Result r = Preroll(scan); Failed(r)) return r;

  if (builder == Builder::kMp3Parser) {
    load.lengthNs = scan.LengthNs();
    load.stopAtLength = true;
  } else {
    gint64 duration = -1;
    load.lengthNs = gst_element_query_duration(GST_ELEMENT(graph->pipeline.get()), GST_FORMAT_TIME,
                                               &duration) &&
                            duration > 0
                        ? duration
                        : 0;
  }
  {
    std::lock_guard lock(mutex);
    load.events.clear();
    load.queueEvents = true;
  }
  load.state = EngineState::kPaused;
  return kOk;
}

Result GstPlayer::Impl::Preroll(const MpegScan& scan) {
  GstElement* pipeline = GST_ELEMENT(graph->pipeline.get());
  const bool withParser = graph->builder == Builder::kMp3Parser;
  const GstStateChangeReturn ret = withParser ? PauseAtFirstFrame(pipeline, graph->parser, scan)
                                              : gst_element_set_state(pipeline, GST_STATE_PAUSED);

  std::unique_lock lock(mutex);
  if (ret != GST_STATE_CHANGE_FAILURE) {
    changed.wait_for(lock, std::chrono::milliseconds(options.prerollTimeoutMs),
                     [&] { return load.asyncDone || load.failed; });
  }
  const bool done = load.asyncDone, gotError = load.failed;
  const Failure error = load.failure;
  lock.unlock();

  const bool noAudioPad = !withParser && !load.audioPadLinked;
  const Failure noAudio{kErrNotFound,
                        OwnErrorText(kErrNotFound) + " (mpegpsdemux: no MPEG-1 audio stream)"};
  if (gotError || ret == GST_STATE_CHANGE_FAILURE) {
    if (noAudioPad) return Fail(noAudio);
    return Fail(gotError ? error
                         : Failure{kErrFail, OwnErrorText(kErrFail) + " (state change to paused)"});
  }
  if (!done) {
    return Fail({kErrTimeout, OwnErrorText(kErrTimeout) + " (" +
                                  std::to_string(options.prerollTimeoutMs) + " ms)"});
  }
  // A graph can preroll on end of stream without a single frame.
  if (load.buffersAtSink == 0) {
    return Fail(noAudioPad ? noAudio
                           : Failure{kErrNotMpegAudio,
                                     OwnErrorText(kErrNotMpegAudio) + " (no frame decoded)"});
  }
  return kOk;
}

GstBusSyncReply GstPlayer::Impl::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
  auto* self = static_cast<Impl*>(data);
  bool wake = false;
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      const Result code = CodeOfError(error);
      const std::string text = error && error->message ? error->message : "";
      GST_WARNING("error from %s: %s", GST_OBJECT_NAME(GST_MESSAGE_SRC(message)), text.c_str());
      g_clear_error(&error);
      std::lock_guard lock(self->mutex);
      self->texts[code] = ErrorTextOf({code, text});
      if (!self->load.failed) {
        self->load.failed = true;
        self->load.failure = {code, text};
      }
      if (self->load.queueEvents) {
        self->load.events.push_back({kEventErrorAbort, code, text});
        wake = true;
      }
      break;
    }
    case GST_MESSAGE_SEGMENT_DONE:
      self->OnSegmentDone(gst_message_get_seqnum(message));
      break;
    case GST_MESSAGE_STATE_CHANGED:
      if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->graph->pipeline.get())) {
        GstState oldState, newState;
        gst_message_parse_state_changed(message, &oldState, &newState, nullptr);
        GST_DEBUG("state %s -> %s", gst_element_state_get_name(oldState),
                  gst_element_state_get_name(newState));
        self->load.playing = newState == GST_STATE_PLAYING;
        // The base time is new: loop events wait for the clock again.
        if (newState == GST_STATE_PLAYING) self->ArmTimers();
      }
      break;
    case GST_MESSAGE_EOS: {
      GST_DEBUG("end of stream");
      self->load.atEnd = true;
      std::lock_guard lock(self->mutex);
      if (self->load.queueEvents) {
        self->load.events.push_back({kEventComplete, 0, {}});
        wake = true;
      }
      break;
    }
    case GST_MESSAGE_ASYNC_DONE:
      if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->graph->pipeline.get())) {
        std::lock_guard lock(self->mutex);
        self->load.asyncDone = true;
      }
      break;
    default:
      break;
  }
  // Nobody pops the bus: every message ends here (a dropped message is the
  // handler's to release).
  gst_message_unref(message);
  self->changed.notify_all();
  if (wake && self->notify) self->notify();
  return GST_BUS_DROP;
}

GstPadProbeReturn GstPlayer::Impl::OnSinkPad(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<Impl*>(data);
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    ++self->load.buffersAtSink;
    if (self->load.markDiscont.exchange(false)) {
      // The pass after a silence: the sink places it by its time, leaving
      // the silence, instead of joining it to what came before.
      GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
      GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
      GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    const bool first = self->load.awaitingFirstBuffer.exchange(false);
    if (first) self->load.landedGeneration = self->load.flushedGeneration.load();
    if (self->options.observer) self->Observe(GST_PAD_PROBE_INFO_BUFFER(info), first);
    return GST_PAD_PROBE_OK;
  }
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (!event) return GST_PAD_PROBE_OK;
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_STOP: {
      self->load.flushedGeneration = self->load.seekGeneration.load();
      self->load.awaitingFirstBuffer = true;
      std::lock_guard lock(self->mutex);
      self->load.sinkSegments.clear();
      break;
    }
    case GST_EVENT_SEGMENT:
      self->OnSinkSegment(info);
      break;
    case GST_EVENT_CAPS: {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      self->load.sinkInfoValid = caps && gst_audio_info_from_caps(&self->load.sinkInfo, caps);
      break;
    }
    default:
      break;
  }
  return GST_PAD_PROBE_OK;
}

void GstPlayer::Impl::Observe(GstBuffer* buffer, bool firstAfterSeek) {
  if (!load.sinkInfoValid) return;
  const GstAudioInfo& ai = load.sinkInfo;
  const int channels = GST_AUDIO_INFO_CHANNELS(&ai);
  const int bpf = GST_AUDIO_INFO_BPF(&ai);
  if (channels <= 0 || bpf <= 0) return;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
  const size_t frames = map.size / static_cast<size_t>(bpf);
  const size_t count = frames * static_cast<size_t>(channels);
  load.scratch.resize(count);
  bool known = true;
  switch (GST_AUDIO_INFO_FORMAT(&ai)) {
    case GST_AUDIO_FORMAT_S16: {
      const auto* s = reinterpret_cast<const int16_t*>(map.data);
      for (size_t i = 0; i < count; ++i) load.scratch[i] = s[i] / 32768.0f;
      break;
    }
    case GST_AUDIO_FORMAT_S32: {
      const auto* s = reinterpret_cast<const int32_t*>(map.data);
      for (size_t i = 0; i < count; ++i) load.scratch[i] = static_cast<float>(s[i] / 2147483648.0);
      break;
    }
    case GST_AUDIO_FORMAT_F32: {
      const auto* s = reinterpret_cast<const float*>(map.data);
      std::copy(s, s + count, load.scratch.begin());
      break;
    }
    default:
      known = false;
      break;
  }
  gst_buffer_unmap(buffer, &map);
  if (!known) return;
  PcmBlock block;
  block.ptsNs = GST_BUFFER_PTS_IS_VALID(buffer) ? static_cast<int64_t>(GST_BUFFER_PTS(buffer)) : -1;
  block.sampleRate = GST_AUDIO_INFO_RATE(&ai);
  block.channels = channels;
  block.samples = load.scratch.data();
  block.frames = frames;
  block.seekGeneration = load.landedGeneration.load();
  block.firstAfterSeek = firstAfterSeek;
  options.observer(block);
}

GstPadProbeReturn GstPlayer::Impl::OnFramerSegment(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<Impl*>(data);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (!event || GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
  const uint32_t seqnum = gst_event_get_seqnum(event);
  if (seqnum == GST_SEQNUM_INVALID || seqnum != self->load.leadInSeqnum.load())
    return GST_PAD_PROBE_OK;
  const GstSegment* segment = nullptr;
  gst_event_parse_segment(event, &segment);
  if (segment->format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
  GstSegment moved;
  gst_segment_copy_into(segment, &moved);
  const auto target = static_cast<guint64>(self->load.leadInTargetNs.load());
  if (target > moved.start) {
    moved.time += target - moved.start;
    moved.start = target;
    moved.position = target;
  }
  GstEvent* replacement = gst_event_new_segment(&moved);
  gst_event_set_seqnum(replacement, seqnum);
  gst_event_unref(event);
  GST_PAD_PROBE_INFO_DATA(info) = replacement;
  return GST_PAD_PROBE_OK;
}

void GstPlayer::Impl::OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* self = static_cast<Impl*>(data);
  if (self->load.audioPadLinked) return;
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  bool mpegAudio = false;
  if (caps && gst_caps_get_size(caps) > 0) {
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    int version = 0;
    mpegAudio = gst_structure_has_name(s, "audio/mpeg") &&
                gst_structure_get_int(s, "mpegversion", &version) && version == 1;
  }
  if (caps) gst_caps_unref(caps);
  if (!mpegAudio) return;
  // The demuxer's output is looked up only now that its input is linked and
  // data flows.
  GstPadPtr framerIn = FindPin(self->graph->framer, GST_PAD_SINK, 0);
  if (framerIn && gst_pad_link(pad, framerIn.get()) == GST_PAD_LINK_OK)
    self->load.audioPadLinked = true;
}

void GstPlayer::Impl::QueueEvent(int32_t code) {
  {
    std::lock_guard lock(mutex);
    if (code == kEventLoopRepeat) ++load.returnsHeard;
    if (!load.queueEvents) return;
    load.events.push_back({code, 0, {}});
  }
  if (notify) notify();
}

void GstPlayer::Impl::OnSegmentDone(uint32_t seqnum) {
  // Streaming thread: the parser (or the demuxer) has pushed the segment to
  // its stop. The next one follows without a flush, so the sink plays on.
  int64_t start = 0, stop = -1;
  GstSeekFlags flags = GST_SEEK_FLAG_ACCURATE;
  double speed = 1.0;
  {
    std::lock_guard lock(mutex);
    if (load.segmentStopNs < 0 || load.restart != Restart::kNone) return;
    // The parser numbers its segment-done messages afresh, so they cannot be
    // matched to the seek; a flush in between clears segmentStopNs or sets a
    // new one, and a stale message is then at worst one extra seek to A.
    GST_DEBUG("segment done (%u)", seqnum);
    speed = load.rate;
    load.clipAtNs = load.clipFromNs = -1;
    if (load.loop.active) {
      start = load.loop.aNs;
      stop = load.loop.bNs;
      if (speed != 1.0) {
        load.clipAtNs = stop;
        stop = LeadOutStop(stop);
      }
      flags = static_cast<GstSeekFlags>(flags | GST_SEEK_FLAG_SEGMENT);
      load.restart = Restart::kLoop;
      ++load.returnsSent;
      load.restartGapNs = load.loop.gapNs;
    } else {
      // The loop was cleared during its last pass: on past B.
      start = load.segmentStopNs;
      stop = load.stopAtLength ? load.lengthNs : -1;
      load.restart = Restart::kContinue;
      load.restartGapNs = 0;
    }
    if (speed != 1.0) load.clipFromNs = start;
    load.segmentStopNs = (flags & GST_SEEK_FLAG_SEGMENT) ? load.loop.bNs : -1;
  }
  GstEvent* seek = MakeSeek(start, speed, flags, stop);
  GST_DEBUG("segment done: %s from %" GST_TIME_FORMAT " to %" GST_TIME_FORMAT,
            load.restart == Restart::kLoop ? "loop" : "on", GST_TIME_ARGS(start),
            GST_TIME_ARGS(stop >= 0 ? stop : GST_CLOCK_TIME_NONE));
  // Pushed upstream from the decoder's (or the framer's) input to the parser
  // or the demuxer: sending it to the pipeline would take the state lock,
  // which a state change on the GUI thread holds while it waits for this
  // very thread.
  if (!gst_pad_push_event(graph->restartPad.get(), seek)) {
    GST_WARNING("the seek after a segment was refused");
    std::lock_guard lock(mutex);
    if (load.restart == Restart::kLoop) --load.returnsSent;
    load.restart = Restart::kNone;
  }
}

void GstPlayer::Impl::OnSinkSegment(GstPadProbeInfo* info) {
  // Streaming thread, at the sink's input. A segment that follows another
  // without a flush starts where the one before ends in running time (plus
  // the loop's silence), so the passes join to the sample whatever the
  // parser counted; the loop's events are timed by it.
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  const GstSegment* incoming = nullptr;
  gst_event_parse_segment(event, &incoming);
  if (incoming->format != GST_FORMAT_TIME) return;
  GstSegment segment;
  gst_segment_copy_into(incoming, &segment);
  GstClockTime gapAt = GST_CLOCK_TIME_NONE, repeatAt = GST_CLOCK_TIME_NONE;
  std::unique_lock lock(mutex);
  bool changed = false;
  if (load.clipFromNs > static_cast<int64_t>(segment.time) && segment.applied_rate > 0 &&
      graph->framerPad == nullptr) {
    const auto from = static_cast<guint64>(
        static_cast<double>(segment.start) +
        static_cast<double>(static_cast<guint64>(load.clipFromNs) - segment.time) /
            segment.applied_rate);
    if (!GST_CLOCK_TIME_IS_VALID(segment.stop) || from < segment.stop) {
      segment.start = segment.position = from;
      segment.time = static_cast<guint64>(load.clipFromNs);
      changed = true;
    }
  }
  if (load.clipAtNs >= 0 && segment.applied_rate > 0 &&
      load.clipAtNs >= static_cast<int64_t>(segment.time)) {
    // The segment's own time of B (after scaletempo the buffers run at the
    // output's pace, and the applied rate maps them back to the file's).
    const auto end = static_cast<guint64>(
        static_cast<double>(segment.start) +
        static_cast<double>(static_cast<guint64>(load.clipAtNs) - segment.time) /
            segment.applied_rate);
    if (!GST_CLOCK_TIME_IS_VALID(segment.stop) || end < segment.stop) {
      segment.stop = end;
      changed = true;
    }
  }
  if (load.restart != Restart::kNone && !load.sinkSegments.empty()) {
    const GstSegment& previous = load.sinkSegments.back();
    const guint64 end = GST_CLOCK_TIME_IS_VALID(previous.stop)
                            ? gst_segment_to_running_time(&previous, GST_FORMAT_TIME, previous.stop)
                            : GST_CLOCK_TIME_NONE;
    if (GST_CLOCK_TIME_IS_VALID(end)) {
      const guint64 gap =
          load.restart == Restart::kLoop ? static_cast<guint64>(load.restartGapNs) : 0;
      segment.base = end + gap;
      changed = true;
      if (load.restart == Restart::kLoop) {
        if (gap > 0) {
          gapAt = end;
          load.markDiscont = true;
        }
        repeatAt = end + gap;
      }
      GST_DEBUG("pass joined at running time %" GST_TIME_FORMAT " (+%" GST_TIME_FORMAT ")",
                GST_TIME_ARGS(end), GST_TIME_ARGS(gap));
    }
    load.restart = Restart::kNone;
  }
  if (load.returnGapNs >= 0 && load.sinkSegments.empty()) {
    // The first segment of a return to A: heard after the loop's silence,
    // and told as a pass's return when it is.
    const guint64 gap = static_cast<guint64>(load.returnGapNs);
    if (gap > 0) {
      gapAt = segment.base;
      load.markDiscont = true;
    }
    segment.base += gap;
    repeatAt = segment.base;
    changed = true;
    load.returnGapNs = -1;
  }
  if (changed) {
    GstEvent* replacement = gst_event_new_segment(&segment);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
  }
  load.sinkSegments.push_back(segment);
  if (load.sinkSegments.size() > kKeptSegments) load.sinkSegments.erase(load.sinkSegments.begin());
  lock.unlock();
  if (GST_CLOCK_TIME_IS_VALID(gapAt)) ScheduleAt(kEventLoopGap, gapAt);
  if (GST_CLOCK_TIME_IS_VALID(repeatAt)) ScheduleAt(kEventLoopRepeat, repeatAt);
}

void GstPlayer::Impl::ScheduleAt(int32_t code, GstClockTime runningTime) {
  {
    std::lock_guard lock(timers->mutex);
    timers->owner = this;
    timers->entries.push_back({code, runningTime, nullptr});
  }
  if (load.playing) ArmTimers();
}

void GstPlayer::Impl::ArmTimers() {
  // Any thread. Entries without a clock id get one at base time + running time.
  GstElement* p = graph->pipeline.get();
  if (!p) return;
  GstClock* clock = gst_element_get_clock(p);
  if (!clock) return;
  const GstClockTime base = gst_element_get_base_time(p);
  const std::shared_ptr<Timers> shared = timers;
  std::lock_guard lock(shared->mutex);
  for (Timers::Entry& entry : shared->entries) {
    if (entry.id) continue;
    entry.id = gst_clock_new_single_shot_id(clock, base + entry.runningTime);
    gst_clock_id_wait_async(
        entry.id, OnTimer, new std::shared_ptr<Timers>(shared),
        [](gpointer data) { delete static_cast<std::shared_ptr<Timers>*>(data); });
  }
  gst_object_unref(clock);
}

void GstPlayer::Impl::DisarmTimers(bool forget) {
  // GUI thread: on pause the entries wait for the clock to run again; on a
  // flush or a teardown they go.
  Timers& t = *timers;
  std::unique_lock lock(t.mutex);
  for (Timers::Entry& entry : t.entries) {
    if (!entry.id) continue;
    gst_clock_id_unschedule(entry.id);
    gst_clock_id_unref(entry.id);
    entry.id = nullptr;
  }
  if (forget) {
    t.entries.clear();
    t.owner = nullptr;
  }
  t.idle.wait(lock, [&] { return t.running == 0; });
}

gboolean GstPlayer::Impl::OnTimer(GstClock*, GstClockTime, GstClockID id, gpointer data) {
  Timers& t = **static_cast<std::shared_ptr<Timers>*>(data);
  std::unique_lock lock(t.mutex);
  const auto it = std::find_if(t.entries.begin(), t.entries.end(),
                               [&](const Timers::Entry& e) { return e.id == id; });
  if (it == t.entries.end() || !t.owner) return TRUE;
  const int32_t code = it->code;
  gst_clock_id_unref(it->id);
  t.entries.erase(it);
  Impl* owner = t.owner;
  ++t.running;
  lock.unlock();
  GST_DEBUG("loop event %d heard", code);
  owner->QueueEvent(code);
  lock.lock();
  --t.running;
  t.idle.notify_all();
  return TRUE;
}

bool GstPlayer::Impl::HeardPositionNs(int64_t& ns) {
  if (!graph->sink || !load.playing) return false;
  const GstClockTime now = gst_element_get_current_running_time(graph->sink);
  if (!GST_CLOCK_TIME_IS_VALID(now)) return false;
  std::lock_guard lock(mutex);
  if (load.sinkSegments.empty()) return false;
  size_t i = 0;
  while (i + 1 < load.sinkSegments.size() && load.sinkSegments[i + 1].base <= now) ++i;
  const GstSegment& s = load.sinkSegments[i];
  guint64 position = 0;
  if (now < s.base) {
    position = s.start;
  } else if (gst_segment_position_from_running_time_full(&s, GST_FORMAT_TIME, now, &position) !=
             1) {
    return false;
  }
  if (GST_CLOCK_TIME_IS_VALID(s.stop) && position > s.stop) {
    // Between a pass's end and the next pass: the silence reads as A.
    if (i + 1 < load.sinkSegments.size()) {
      const GstSegment& next = load.sinkSegments[i + 1];
      ns = static_cast<int64_t>(gst_segment_to_stream_time(&next, GST_FORMAT_TIME, next.start));
      return true;
    }
    position = s.stop;
  }
  const guint64 stream = gst_segment_to_stream_time(&s, GST_FORMAT_TIME, position);
  if (!GST_CLOCK_TIME_IS_VALID(stream)) return false;
  ns = static_cast<int64_t>(stream);
  return true;
}

GstEvent* GstPlayer::Impl::MakeSeek(int64_t target, double speed, GstSeekFlags flags,
                                    int64_t stop) {
  // The splitter's graph starts a little early and cuts the lead-in away;
  // at another speed scaletempo's first window is cut away at the sink.
  const bool leadIn = graph->framerPad != nullptr;
  const int64_t start = leadIn         ? std::max<int64_t>(target - kSplitterLeadInNs, 0)
                        : speed != 1.0 ? std::max<int64_t>(target - kTempoLeadInNs, 0)
                                       : target;
  GstEvent* seek = gst_event_new_seek(speed, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, start,
                                      stop >= 0 ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE, stop);
  const uint32_t seqnum = gst_event_get_seqnum(seek);
  {
    std::lock_guard lock(mutex);
    load.segmentSeqnum = seqnum;
  }
  if (leadIn) {
    load.leadInTargetNs = target;
    load.leadInSeqnum = seqnum;
  }
  return seek;
}

void GstPlayer::Impl::SendSeek(int64_t target, int64_t returnGapNs) {
  DisarmTimers(true);
  {
    std::lock_guard lock(mutex);
    std::erase_if(load.events, [](const GraphEvent& e) {
      return e.code == kEventLoopGap || e.code == kEventLoopRepeat;
    });
    load.returnGapNs = returnGapNs;
    load.returnsSent = returnGapNs >= 0 ? 1 : 0;
    load.returnsHeard = 0;
  }
  load.seekIsReturn = returnGapNs >= 0;
  load.seekTargetNs = target;
  load.holdPosition = false;
  const uint64_t generation = ++load.seekGeneration;
  int64_t stop = load.stopAtLength ? load.lengthNs : -1;
  GstSeekFlags flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  double speed;
  {
    std::lock_guard lock(mutex);
    speed = load.rate;
    // A target inside the loop plays to B and loops on from there.
    const bool looping = load.loop.active && target < load.loop.bNs;
    load.clipAtNs = -1;
    load.clipFromNs = speed != 1.0 ? target : -1;
    if (looping) {
      stop = load.loop.bNs;
      flags = static_cast<GstSeekFlags>(flags | GST_SEEK_FLAG_SEGMENT);
      if (speed != 1.0) {
        load.clipAtNs = stop;
        stop = LeadOutStop(stop);
      }
    }
    load.segmentStopNs = looping ? load.loop.bNs : -1;
    load.restart = Restart::kNone;
  }
  GstEvent* seek = MakeSeek(target, speed, flags, stop);
  GST_DEBUG("seek to %" GST_TIME_FORMAT " stop %" GST_TIME_FORMAT " rate %.2f%s",
            GST_TIME_ARGS(target), GST_TIME_ARGS(stop >= 0 ? stop : GST_CLOCK_TIME_NONE), speed,
            (flags & GST_SEEK_FLAG_SEGMENT) ? " (loop segment)" : "");
  const bool sent = gst_element_send_event(graph->pipeline.get(), seek);
  if (!sent) GST_WARNING("seek to %" GST_TIME_FORMAT " refused", GST_TIME_ARGS(target));
  // The flush has passed the sink by now, so no end of stream from before the
  // seek can still arrive.
  load.atEnd = false;
  load.lastPositionNs = target;
  if (!sent) load.landedGeneration = generation;
}

int64_t GstPlayer::Impl::PositionNs() {
  if (!built()) return 0;
  int64_t ns = load.lastPositionNs;
  if (load.landedGeneration.load() < load.seekGeneration.load()) {
    // The seek's data has not reached the sink yet: it reads as its target.
    ns = load.seekTargetNs;
  } else if (load.holdPosition) {
    ns = load.heldPositionNs;
  } else if (int64_t heard = 0; HeardPositionNs(heard)) {
    ns = heard;
  } else {
    gint64 position = -1;
    if (gst_element_query_position(graph->pipeline.get(), GST_FORMAT_TIME, &position) &&
        position >= 0) {
      ns = position;
    }
  }
  ns = std::max<int64_t>(ns, 0);
  if (load.lengthNs > 0) ns = std::min(ns, load.lengthNs);
  load.lastPositionNs = ns;
  return ns;
}

Result GstPlayer::Impl::StateResult(GstStateChangeReturn ret, EngineState to) {
  if (ret != GST_STATE_CHANGE_FAILURE) return kOk;
  std::lock_guard lock(mutex);
  // The bus has told what went wrong (and its text is kept), else the state
  // change failed on its own.
  if (load.failed) return load.failure.code;
  texts[kErrFail] = OwnErrorText(kErrFail) + " (state change to " + StateName(to) + ")";
  return kErrFail;
}

Result GstPlayer::Impl::Enter(EngineState to) {
  if (to == EngineState::kEmpty) {
    Dismantle();
    return kOk;
  }
  if (!built()) return kErrFail;
  if (to == EngineState::kPlaying) {
    load.holdPosition = false;
  } else {
    if (!load.holdPosition) {
      load.heldPositionNs = PositionNs();
      load.holdPosition = true;
    }
    // Loop events wait for the clock to run again (the silence between
    // passes goes on where it stopped).
    DisarmTimers(false);
  }
  GST_DEBUG("%s -> %s at %" GST_TIME_FORMAT, StateName(load.state), StateName(to),
            GST_TIME_ARGS(PositionNs()));
  load.state = to;
  return StateResult(
      gst_element_set_state(GST_ELEMENT(graph->pipeline.get()),
                            to == EngineState::kPlaying ? GST_STATE_PLAYING : GST_STATE_PAUSED),
      to);
}

GstPlayer::GstPlayer(GraphNotify notify, GstPlayerOptions options)
    : impl_(std::make_unique<Impl>(std::move(notify), std::move(options))) {
  EnsureGstInit();
  EnsureDebugCategory();
}

GstPlayer::~GstPlayer() {
  Teardown();
}

Result GstPlayer::BuildWithMp3Parser(const std::string& path) {
  return impl_->Build(path, Builder::kMp3Parser);
}

Result GstPlayer::BuildWithMpeg1Splitter(const std::string& path) {
  return impl_->Build(path, Builder::kSplitter);
}

void GstPlayer::Teardown() {
  impl_->Enter(EngineState::kEmpty);
}

Result GstPlayer::Run() {
  return impl_->Enter(EngineState::kPlaying);
}

Result GstPlayer::Pause() {
  return impl_->Enter(EngineState::kPaused);
}

Result GstPlayer::Stop() {
  // Paused, never NULL: the position and the length stay readable.
  return Pause();
}

void GstPlayer::SeekMs(int32_t ms) {
  Impl& d = *impl_;
  if (!d.built()) return;
  int64_t target = std::max<int64_t>(MsToNs(ms), 0);
  if (d.load.lengthNs > 0) target = std::min(target, d.load.lengthNs);
  // Until the first sample of a seek is heard (its data arriving, then the
  // start lead) the position reads its target. Seeking there again changes
  // nothing heard, and restarting the seek would only put the sound off: the
  // transport's tick asks for A again while the position reads A.
  // A seek that returned to A as a loop's pass is sent again as a plain one:
  // the caller starts the count afresh.
  if (target == d.load.seekTargetNs && !d.load.seekIsReturn &&
      std::llabs(d.PositionNs() - target) < GST_MSECOND) {
    return;
  }
  d.SendSeek(target);
}

int32_t GstPlayer::GetPositionMs() {
  return NsToMs(impl_->PositionNs());
}

int32_t GstPlayer::GetDurationMs() {
  return impl_->built() ? NsToMs(impl_->load.lengthNs) : 0;
}

bool GstPlayer::IsAtEnd() {
  Impl& d = *impl_;
  if (!d.built()) return true;
  if (d.load.atEnd) return true;
  return d.load.lengthNs > 0 && d.PositionNs() >= d.load.lengthNs;
}

void GstPlayer::SetLoop(int32_t aMs, int32_t bMs, int32_t gapMs) {
  Impl& d = *impl_;
  if (aMs < 0 || bMs <= aMs) return;
  const int64_t a = MsToNs(aMs), b = MsToNs(bMs), gap = MsToNs(std::max(gapMs, 0));
  bool samePoints;
  {
    std::lock_guard lock(d.mutex);
    samePoints = d.load.loop.active && d.load.loop.aNs == a && d.load.loop.bNs == b;
    d.load.loop = {true, a, b, gap};
  }
  GST_INFO("loop %" GST_TIME_FORMAT " - %" GST_TIME_FORMAT " gap %" GST_TIME_FORMAT,
           GST_TIME_ARGS(a), GST_TIME_ARGS(b), GST_TIME_ARGS(gap));
  // A new silence applies from the next pass on; new points end the pass in
  // progress at the new B, from where playback is. A pass already at or past
  // B (B set where playback is) has ended: it returns to A at once, after
  // the silence, as each pass does.
  if (!d.built() || samePoints) return;
  const int64_t position = d.PositionNs();
  if (position < b) {
    d.SendSeek(position);
  } else {
    GST_DEBUG("the pass in progress is past B: back to A");
    d.SendSeek(a, gap);
  }
}

void GstPlayer::ClearLoop() {
  Impl& d = *impl_;
  bool seamPassed;
  bool wasLooping;
  {
    std::lock_guard lock(d.mutex);
    wasLooping = d.load.loop.active;
    d.load.loop.active = false;
    seamPassed = d.load.returnsSent > d.load.returnsHeard;
  }
  if (!wasLooping || !d.built()) return;
  GST_INFO("loop cleared%s", seamPassed ? " behind the seam" : "");
  // The next pass has already begun on its way to the sink (or its silence
  // is playing): playback goes on from where it is heard, A in a silence.
  // Otherwise the segment ends at B and the bus goes on past it.
  if (seamPassed) d.SendSeek(d.PositionNs());
}

bool GstPlayer::QueueLoop(int32_t aMs, int32_t bMs, int32_t gapMs) {
  Impl& d = *impl_;
  if (!d.built() || aMs < 0 || bMs <= aMs) return false;
  const int64_t a = MsToNs(aMs), b = MsToNs(bMs), gap = MsToNs(std::max(gapMs, 0));
  {
    // The segment playing ends at the current B; when it is done, the bus
    // handler starts the next pass from the loop it finds.
    std::lock_guard lock(d.mutex);
    if (!d.load.loop.active || d.load.segmentStopNs < 0 ||
        d.load.returnsSent > d.load.returnsHeard) {
      return false;
    }
    d.load.loop = {true, a, b, gap};
  }
  GST_INFO("loop %" GST_TIME_FORMAT " - %" GST_TIME_FORMAT " queued after this pass",
           GST_TIME_ARGS(a), GST_TIME_ARGS(b));
  return true;
}

Result GstPlayer::SetRate(int32_t percent) {
  Impl& d = *impl_;
  if (percent < kRateMin || percent > kRateMax) return kErrFail;
  if (percent != kRateNormal && d.built() && !d.graph->tempo) {
    d.RecordText(kErrMissingElement, OwnErrorText(kErrMissingElement) + " (scaletempo)");
    return kErrMissingElement;
  }
  const double speed = percent / 100.0;
  {
    std::lock_guard lock(d.mutex);
    if (d.load.rate == speed) return kOk;
    d.load.rate = speed;
  }
  GST_INFO("rate %.2f", speed);
  // The elements take a new rate only with a seek: an accurate one where
  // playback is heard.
  if (d.built()) d.SendSeek(d.PositionNs());
  return kOk;
}

Result GstPlayer::SetVolume(int32_t hundredthsOfDb) {
  if (!impl_->built()) return kErrFail;
  impl_->gain = LinearGain(hundredthsOfDb);
  impl_->graph->ApplyGain(impl_->gain);
  return kOk;
}

Result GstPlayer::SetChannel(int32_t channel) {
  if (!impl_->built()) return kErrFail;
  const float pan = channel == kChannelLeft ? -1.0f : channel == kChannelRight ? 1.0f : 0.0f;
  g_object_set(impl_->graph->panorama, "panorama", pan, nullptr);
  return kOk;
}

bool GstPlayer::TakeEvent(GraphEvent& event) {
  std::lock_guard lock(impl_->mutex);
  if (impl_->load.events.empty()) return false;
  event = std::move(impl_->load.events.front());
  impl_->load.events.pop_front();
  return true;
}

std::string GstPlayer::ErrorText(Result code) const {
  {
    std::lock_guard lock(impl_->mutex);
    if (const auto it = impl_->texts.find(code); it != impl_->texts.end()) return it->second;
  }
  return OwnErrorText(code);
}

uint64_t GstPlayer::LastSeekNumber() const {
  return impl_->load.seekGeneration.load();
}

bool GstPlayerFactory::HasAudioDevice() {
  return FindDefaultAudioRenderer() != nullptr;
}

std::unique_ptr<Player> GstPlayerFactory::Create() {
  return std::make_unique<GstPlayer>(notify_);
}

}  // namespace orvex
