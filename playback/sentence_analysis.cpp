#include "playback/sentence_analysis.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iterator>
#include <limits>
#include <mutex>
#include <thread>

#include "playback/decode_front.h"
#include "playback/format_probe.h"
#include "playback/gst_graph.h"
#include "playback/gst_init.h"
#include "playback/gst_ptr.h"
#include "playback/mpeg_scan.h"
#include "playback/pause_split.h"
#include "playback/peak_meter.h"
#include "playback/sample_blocks.h"

namespace orvex {
namespace {

constexpr int64_t kLevelStepNs = 10 * GST_MSECOND;
constexpr int kLevelsPerSecond = 1000 / 10;
// How long a pull waits before the thread looks at the cancel flag and the bus.
constexpr GstClockTime kPullTimeout = 100 * GST_MSECOND;
// A pipeline that delivers nothing for this long has hung.
constexpr std::chrono::seconds kStallLimit{20};
// How often the peaks measured so far are handed on.
constexpr std::chrono::milliseconds kPeaksEvery{200};
// Decoded buffers waiting in the sink: enough to keep the decoder busy.
constexpr guint kSinkQueue = 16;

struct CapsUnref {
  void operator()(GstCaps* caps) const noexcept { gst_caps_unref(caps); }
};
using GstCapsPtr = std::unique_ptr<GstCaps, CapsUnref>;

// The first error on the bus, popping everything else; empty when none.
std::string TakeBusError(GstBus* bus) {
  std::string text;
  while (GstMessage* message = gst_bus_pop(bus)) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && text.empty()) {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      text = error && error->message && *error->message ? error->message : "GStreamer error";
      g_clear_error(&error);
    }
    gst_message_unref(message);
  }
  return text;
}

// One level per 10 ms of source time, from the decoded mono samples.
class LevelMeter {
 public:
  explicit LevelMeter(size_t maxLevels) : maxLevels_(maxLevels) {}

  // Adds frames samples whose first one is sample number first of the stream.
  void Add(int64_t first, const float* samples, size_t frames, int rate) {
    ForEachBlock(first, frames, rate, kLevelsPerSecond, maxLevels_,
                 [&](int64_t level, size_t j, size_t n) {
                   float sum = 0;
                   for (size_t k = 0; k < n; ++k) sum += samples[j + k] * samples[j + k];
                   if (level != current_) {
                     Close();
                     current_ = level;
                   }
                   sumOfSquares_ += sum;
                   count_ += n;
                 });
  }

  std::vector<float> Finish() {
    Close();
    return std::move(levels_);
  }

 private:
  void Close() {
    if (current_ < 0 || count_ == 0) return;
    const auto index = static_cast<size_t>(current_);
    if (levels_.size() <= index) levels_.resize(index + 1, std::numeric_limits<float>::quiet_NaN());
    // 20 log10(rms) = 10 log10(mean square); digital silence gives -inf.
    levels_[index] =
        static_cast<float>(10.0 * std::log10(sumOfSquares_ / static_cast<double>(count_)));
    sumOfSquares_ = 0;
    count_ = 0;
  }

  const size_t maxLevels_;
  std::vector<float> levels_;
  int64_t current_ = -1;
  double sumOfSquares_ = 0;
  size_t count_ = 0;
};

// The analysis graph, filesrc ! mpegaudioparse ! mpg123audiodec (linked pad
// by pad as the player links its graph) or the decoding front end, then
// audioconvert ! appsink (mono F32).
struct AnalysisGraph {
  GstPipelinePtr pipeline;
  GstElement* parser = nullptr;
  GstElement* front = nullptr;  // the decoding front end's bin (not MP3)
  GstAppSink* sink = nullptr;
};

// Links the analysis graph's conversion and sink behind from: mono F32, taken
// as fast as it comes.
std::string AddAnalysisSink(GstElement* from, AnalysisGraph& graph) {
  std::string missing;
  GstElement* convert =
      AddElement(GST_ELEMENT(graph.pipeline.get()), "audioconvert", nullptr, missing);
  GstElement* sink = AddElement(GST_ELEMENT(graph.pipeline.get()), "appsink", nullptr, missing);
  if (!missing.empty()) return "missing GStreamer element " + missing;
  auto* appSink = GST_APP_SINK(sink);
  GstCapsPtr wanted(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "channels",
                                        G_TYPE_INT, 1, "layout", G_TYPE_STRING, "interleaved",
                                        nullptr));
  gst_app_sink_set_caps(appSink, wanted.get());
  gst_app_sink_set_max_buffers(appSink, kSinkQueue);
  g_object_set(sink, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
  if (!gst_element_link(from, convert) || !gst_element_link(convert, sink)) {
    return "the analysis pipeline does not link";
  }
  graph.sink = appSink;
  return {};
}

// Builds the graph for the file at path into graph; the error text when it
// cannot, else empty.
std::string BuildGraph(const std::string& path, const MpegScan& scan, AnalysisGraph& graph) {
  graph.pipeline.reset(SinkFloating(gst_pipeline_new("sentence-analysis")));
  if (!graph.pipeline) return "no pipeline";
  std::string missing;
  auto make = [&](const char* factory) {
    return AddElement(GST_ELEMENT(graph.pipeline.get()), factory, nullptr, missing);
  };
  GstElement* source = make("filesrc");
  GstElement* parser = make("mpegaudioparse");
  GstElement* decoder = make("mpg123audiodec");
  if (!missing.empty()) return "missing GStreamer element " + missing;
  g_object_set(source, "location", path.c_str(), nullptr);
  FitParserOutput(parser, scan);
  GstElement* const chain[] = {source, parser, decoder};
  for (size_t i = 0; i + 1 < std::size(chain); ++i) {
    GstPadPtr out = FindPin(chain[i], GST_PAD_SRC, 0);
    GstPadPtr in = FindPin(chain[i + 1], GST_PAD_SINK, 0);
    if (!out || !in) return "a pad of the analysis pipeline was not found";
    if (gst_pad_link(out.get(), in.get()) != GST_PAD_LINK_OK) {
      return "the analysis pipeline does not link";
    }
  }
  graph.parser = parser;
  return AddAnalysisSink(decoder, graph);
}

// The same for every other format: the player's decoding front end.
std::string BuildFrontGraph(const std::string& path, AnalysisGraph& graph) {
  graph.pipeline.reset(SinkFloating(gst_pipeline_new("sentence-analysis")));
  if (!graph.pipeline) return "no pipeline";
  DecodeFront front = AddDecodeFront(graph.pipeline.get(), path);
  if (!front.ok) return front.isMp3 ? "MPEG audio the frame scan refused" : front.text;
  graph.front = front.bin;
  return AddAnalysisSink(front.bin, graph);
}

// The decoded samples as they are pulled, measured into levels against the
// source time.
class SampleFeed {
 public:
  // originNs: where the recording's first sample lies in the file's time
  // (the front end's files), so levels are counted from it as positions are.
  SampleFeed(size_t maxLevels, int64_t originNs)
      : meter_(maxLevels),
        peaks_(maxLevels * (kLevelStepNs / GST_MSECOND) / kPeakBlockMs),
        originNs_(originNs) {}

  // Measures one pulled sample. Gives the source time reached in
  // nanoseconds, or -1 when the sample held no audio to measure.
  int64_t Add(GstSample* sample) {
    GstCaps* sampleCaps = gst_sample_get_caps(sample);
    if (sampleCaps && sampleCaps != caps_.get()) {
      GstAudioInfo info;
      if (gst_audio_info_from_caps(&info, sampleCaps)) rate_ = GST_AUDIO_INFO_RATE(&info);
      caps_.reset(gst_caps_ref(sampleCaps));
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (rate_ <= 0 || !buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return -1;
    const size_t frames = map.size / sizeof(float);
    const int64_t first = FirstSampleOf(sample, buffer);
    meter_.Add(first, reinterpret_cast<const float*>(map.data), frames, rate_);
    peaks_.Add(first, reinterpret_cast<const float*>(map.data), frames, rate_);
    gst_buffer_unmap(buffer, &map);
    nextSample_ = first + static_cast<int64_t>(frames);
    anyData_ = true;
    return static_cast<int64_t>(gst_util_uint64_scale(nextSample_, GST_SECOND, rate_));
  }

  bool AnyData() const { return anyData_; }
  std::vector<float> Finish() { return meter_.Finish(); }
  const PeakList& peaks() const { return peaks_.blocks(); }
  // The peaks no later sample changes, from block first on.
  PeakList ClosedPeaksFrom(size_t first) const {
    const PeakList& all = peaks_.blocks();
    const size_t end = std::min(peaks_.closed(), all.size());
    if (first >= end) return {};
    return PeakList(all.begin() + static_cast<ptrdiff_t>(first),
                    all.begin() + static_cast<ptrdiff_t>(end));
  }

 private:
  // The number of the buffer's first sample: the running count, or the
  // buffer's time stamp where it leaves the count by more than a level's
  // stretch (a gap or a jump).
  int64_t FirstSampleOf(GstSample* sample, GstBuffer* buffer) const {
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (!segment || !GST_BUFFER_PTS_IS_VALID(buffer)) return nextSample_;
    const guint64 streamNs =
        gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (streamNs == GST_CLOCK_TIME_NONE) return nextSample_;
    const int64_t lessonNs = static_cast<int64_t>(streamNs) - originNs_;
    const int64_t stamped = lessonNs >= 0
                                ? static_cast<int64_t>(gst_util_uint64_scale_round(
                                      static_cast<guint64>(lessonNs), rate_, GST_SECOND))
                                : -static_cast<int64_t>(gst_util_uint64_scale_round(
                                      static_cast<guint64>(-lessonNs), rate_, GST_SECOND));
    if (!anyData_ || std::abs(stamped - nextSample_) > rate_ / kLevelsPerSecond) return stamped;
    return nextSample_;
  }

  LevelMeter meter_;
  PeakMeter peaks_;
  const int64_t originNs_;
  GstCapsPtr caps_;
  int rate_ = 0;
  int64_t nextSample_ = 0;
  bool anyData_ = false;
};

}  // namespace

struct SentenceAnalysis::Impl {
  Impl(std::string p, SentenceAnalysisCallbacks c) : path(std::move(p)), callbacks(std::move(c)) {}

  void Run();
  // Decodes the file into result's levels and length; false with result.error
  // on failure (or when cancelled).
  bool Analyse(SentenceAnalysisResult& result);
  // The same through the decoding front end, for every file that is not MP3.
  bool AnalyseFront(SentenceAnalysisResult& result);
  // Pulls the decoded audio from the playing graph to its end into feed; the
  // error text when that fails or is cancelled, else empty.
  std::string Pull(const AnalysisGraph& graph, GstBus* bus, int64_t lengthNs, SampleFeed& feed);
  void ReportProgress(int percent);
  // Hands on the peaks closed since the last time.
  void ReportPeaks(const SampleFeed& feed);

  const std::string path;
  const SentenceAnalysisCallbacks callbacks;
  std::mutex callbackMutex;  // held while a callback runs, and by Cancel
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};
  int lastPercent = -1;  // analysis thread only
  size_t peaksSent = 0;  // analysis thread only
  std::thread thread;
};

void SentenceAnalysis::Impl::ReportProgress(int percent) {
  if (percent == lastPercent) return;
  lastPercent = percent;
  std::lock_guard lock(callbackMutex);
  if (!cancelled && callbacks.progress) callbacks.progress(percent);
}

void SentenceAnalysis::Impl::ReportPeaks(const SampleFeed& feed) {
  if (!callbacks.peaks) return;
  PeakList blocks = feed.ClosedPeaksFrom(peaksSent);
  if (blocks.empty()) return;
  const size_t first = peaksSent;
  peaksSent += blocks.size();
  std::lock_guard lock(callbackMutex);
  if (!cancelled) callbacks.peaks(first, std::move(blocks));
}

void SentenceAnalysis::Impl::Run() {
  SentenceAnalysisResult result;
  result.ok = Analyse(result);
  if (result.ok) {
    result.sentences = SplitAtPauses(result.levelsDb, result.lengthMs);
    ReportProgress(100);
  }
  {
    std::lock_guard lock(callbackMutex);
    if (!cancelled && callbacks.done) callbacks.done(std::move(result));
  }
  finished = true;
}

bool SentenceAnalysis::Impl::Analyse(SentenceAnalysisResult& result) {
  auto fail = [&](std::string text) {
    result.error = std::move(text);
    return false;
  };
  EnsureGstInit();
  MpegScan scan;
  {
    FileByteSource file;
    if (!file.Open(path)) return fail("the file cannot be opened");
    // A container the front end knows goes there; bytes of no known kind
    // stay with the frame scan, which refuses them as the player's first
    // builder does.
    const LessonContent content = ProbeLesson(file).content;
    if (!TakesMp3Builders(content) && content != LessonContent::kUnknown &&
        content != LessonContent::kEmpty) {
      return AnalyseFront(result);
    }
    scan = ScanMpegAudio(file);
  }
  if (!scan.found) return fail("the file holds no MPEG audio frames");
  const int64_t lengthNs = scan.LengthNs();
  result.lengthMs = static_cast<int32_t>(
      std::min<int64_t>(lengthNs / GST_MSECOND, std::numeric_limits<int32_t>::max()));
  if (cancelled) return false;

  AnalysisGraph graph;
  if (std::string text = BuildGraph(path, scan, graph); !text.empty()) return fail(text);
  GstBusPtr bus(gst_element_get_bus(graph.pipeline.get()));
  // The decoding runs as fast as it can, behind whatever plays.
  gst_bus_set_sync_handler(
      bus.get(),
      [](GstBus*, GstMessage* message, gpointer) {
        ApplyThreadUrgency(message, ThreadUrgency::kBackground);
        return GST_BUS_PASS;
      },
      nullptr, nullptr);
  // The parser starts at the first frame, never inside the tags, exactly as
  // the player's parser does.
  GstStateChangeReturn ret = PauseAtFirstFrame(graph.pipeline.get(), graph.parser, scan);
  if (ret != GST_STATE_CHANGE_FAILURE)
    ret = gst_element_set_state(graph.pipeline.get(), GST_STATE_PLAYING);
  if (ret == GST_STATE_CHANGE_FAILURE) {
    const std::string text = TakeBusError(bus.get());
    return fail(text.empty() ? "the analysis pipeline does not start" : text);
  }

  SampleFeed feed(static_cast<size_t>(lengthNs / kLevelStepNs + kLevelsPerSecond), 0);
  if (std::string text = Pull(graph, bus.get(), lengthNs, feed); !text.empty()) return fail(text);
  result.levelsDb = feed.Finish();
  result.peaks = feed.peaks();
  return true;  // the pipeline stops (NULL) as it goes
}

bool SentenceAnalysis::Impl::AnalyseFront(SentenceAnalysisResult& result) {
  auto fail = [&](std::string text) {
    result.error = std::move(text);
    return false;
  };
  AnalysisGraph graph;
  if (std::string text = BuildFrontGraph(path, graph); !text.empty()) return fail(text);
  GstBusPtr bus(gst_element_get_bus(graph.pipeline.get()));
  // Prerolled first: the length and the recording's first sample are known
  // only then, as in the player.
  GstElement* pipeline = graph.pipeline.get();
  if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    const std::string text = TakeBusError(bus.get());
    return fail(text.empty() ? "the analysis pipeline does not start" : text);
  }
  const auto deadline = std::chrono::steady_clock::now() + kStallLimit;
  GstState state = GST_STATE_NULL;
  while (!cancelled &&
         gst_element_get_state(pipeline, &state, nullptr, kPullTimeout) == GST_STATE_CHANGE_ASYNC) {
    if (std::string text = TakeBusError(bus.get()); !text.empty()) return fail(text);
    if (std::chrono::steady_clock::now() > deadline) return fail("the analysis pipeline hung");
  }
  if (cancelled) return fail("cancelled");
  if (std::string text = TakeBusError(bus.get()); !text.empty()) return fail(text);
  if (state != GST_STATE_PAUSED || !DecodeFrontHasAudio(graph.front)) {
    return fail("no audio track");
  }
  gint64 duration = -1;
  if (!gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration)) duration = -1;
  const int64_t lengthNs = DecodeFrontLengthNs(graph.front, duration);
  result.lengthMs = static_cast<int32_t>(
      std::min<int64_t>(lengthNs / GST_MSECOND, std::numeric_limits<int32_t>::max()));
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    const std::string text = TakeBusError(bus.get());
    return fail(text.empty() ? "the analysis pipeline does not start" : text);
  }
  SampleFeed feed(static_cast<size_t>(lengthNs / kLevelStepNs + kLevelsPerSecond),
                  std::max<int64_t>(DecodeFrontFirstSampleNs(graph.front), 0));
  if (std::string text = Pull(graph, bus.get(), lengthNs, feed); !text.empty()) return fail(text);
  result.levelsDb = feed.Finish();
  result.peaks = feed.peaks();
  return true;
}

std::string SentenceAnalysis::Impl::Pull(const AnalysisGraph& graph, GstBus* bus, int64_t lengthNs,
                                         SampleFeed& feed) {
  auto lastData = std::chrono::steady_clock::now();
  auto lastPeaks = lastData;
  while (!cancelled) {
    GstSample* sample = gst_app_sink_try_pull_sample(graph.sink, kPullTimeout);
    if (!sample) {
      if (gst_app_sink_is_eos(graph.sink)) break;
      if (std::string text = TakeBusError(bus); !text.empty()) return text;
      if (std::chrono::steady_clock::now() - lastData > kStallLimit) {
        return "the analysis pipeline stopped delivering data";
      }
      continue;
    }
    lastData = std::chrono::steady_clock::now();
    const int64_t doneNs = feed.Add(sample);
    gst_sample_unref(sample);
    if (doneNs >= 0 && lengthNs > 0) {
      ReportProgress(static_cast<int>(std::clamp<int64_t>(doneNs * 100 / lengthNs, 0, 99)));
    }
    if (lastData - lastPeaks >= kPeaksEvery) {
      lastPeaks = lastData;
      ReportPeaks(feed);
    }
  }
  if (cancelled) return "cancelled";
  if (std::string text = TakeBusError(bus); !text.empty()) return text;
  if (!feed.AnyData()) return "no audio was decoded";
  return {};
}

SentenceAnalysis::SentenceAnalysis(std::string path, SentenceAnalysisCallbacks callbacks)
    : impl_(std::make_unique<Impl>(std::move(path), std::move(callbacks))) {
  impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
}

SentenceAnalysis::~SentenceAnalysis() {
  Cancel();
  if (impl_->thread.joinable()) impl_->thread.join();
}

void SentenceAnalysis::Cancel() {
  std::lock_guard lock(impl_->callbackMutex);
  impl_->cancelled = true;
}

bool SentenceAnalysis::Finished() const {
  return impl_->finished;
}

}  // namespace orvex
