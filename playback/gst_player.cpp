#include "playback/gst_player.h"

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "playback/decode_front.h"
#include "playback/engine_log.h"
#include "playback/engine_player.h"
#include "playback/error_text.h"
#include "playback/gst_graph.h"
#include "playback/gst_player_impl.h"
#include "playback/lyrics_tag.h"
#include "playback/mpeg_scan.h"
#include "playback/units.h"

GST_DEBUG_CATEGORY(orvex_engine);

namespace orvex {

namespace {

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

void EnsureDebugCategory() {
  static std::once_flag once;
  std::call_once(once, [] {
    GST_DEBUG_CATEGORY_INIT(orvex_engine, "orvex", 0, "OrvexPlayer playback engine");
  });
}

// Linear gain of a volume in hundredths of a decibel; exactly 0 at the bottom.
double LinearGain(int32_t hundredthsOfDb) {
  if (hundredthsOfDb <= kVolumeSilent) return 0.0;
  const int32_t v = std::min(hundredthsOfDb, kVolumeFull);
  return std::pow(10.0, v / 2000.0);
}

// The events of a plan that another replaces (or that is cleared) and that
// were not taken yet.
void DropPlanEvents(std::deque<GraphEvent>& events) {
  std::erase_if(events, [](const GraphEvent& e) {
    return e.code == kEventPassStarted || e.code == kEventGapStarted || e.code == kEventPlanEnded;
  });
}

}  // namespace

void GstPlayer::Impl::SharedState::Reset() {
  atEnd = false;
  audioPadLinked = false;
  buffersAtSink = 0;
  seekGeneration = 0;
  flushedGeneration = 0;
  landedGeneration = 0;
  awaitingFirstBuffer = false;
  leadInSeqnum = GST_SEQNUM_INVALID;
  leadInTargetNs = 0;
  playing = false;
  markDiscont = false;
  discontFromNs = 0;
  splicing = false;
  sinkAtEos = false;
  writtenEndNs = -1;
  stoppedAtNs = -1;
  originNs = 0;
}

GstPlayer::Impl::Impl(GraphNotify n, GstPlayerOptions o)
    : notify(std::move(n)),
      options(std::move(o)),
      timers([this](const TimedEvent& event, int64_t heardAtNs) { OnHeard(event, heardAtNs); }) {}

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
    locked.queueEvents = false;
  }
  if (graph) graph->TakeDown();
  graph.reset();
  // No streaming thread runs now; the clock's may still hold a timer, which
  // finds nothing from now on.
  timers.Disarm(true);
  gui = GuiState();
  shared.Reset();
  tap = {};
  sinkSegment = {};
  std::lock_guard lock(mutex);
  locked = LockedState();
}

Result GstPlayer::Impl::Build(const std::string& path, Builder builder) {
  EnsureGstInit();
  Dismantle();
  gui.lyrics.clear();
  GST_INFO("build with %s: %s", BuilderName(builder), path.c_str());

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

  auto duration = [this] {
    gint64 ns = -1;
    return gst_element_query_duration(GST_ELEMENT(graph->pipeline.get()), GST_FORMAT_TIME, &ns) &&
                   ns > 0
               ? ns
               : 0;
  };
  if (builder == Builder::kMp3Parser) {
    gui.lengthNs = scan.LengthNs();
    gui.stopAtLength = true;
    gui.lyrics = Id3v2Lyrics(path);
  } else if (builder == Builder::kSplitter) {
    gui.lengthNs = duration();
  } else {
    gui.lyrics = DecodeFrontLyrics(graph->decoder);
    // The lesson runs from the first sample of the recording to the end of
    // its audio track (a video's picture may run on past it).
    const int64_t origin = std::max<int64_t>(DecodeFrontFirstSampleNs(graph->decoder), 0);
    gui.lengthNs = DecodeFrontLengthNs(graph->decoder, duration());
    // The preroll's segment reached the sink before the origin was known: it
    // is kept in the lesson's time from here on, as every later one is. (A
    // seek to 0 instead left the first seek while playing heard 50-80 ms off
    // in a Matroska file.)
    std::lock_guard lock(mutex);
    shared.originNs = origin;
    for (Segment& s : locked.sinkSegments) s = InLessonTime(s, origin);
    GST_INFO("decoder %s, first sample at %" GST_TIME_FORMAT ", length %" GST_TIME_FORMAT,
             DecodeFrontDecoder(graph->decoder).c_str(), GST_TIME_ARGS(origin),
             GST_TIME_ARGS(gui.lengthNs));
  }
  {
    std::lock_guard lock(mutex);
    locked.events.clear();
    locked.queueEvents = true;
  }
  gui.state = EngineState::kPaused;
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
                     [&] { return locked.asyncDone || locked.failed; });
  }
  const bool done = locked.asyncDone, gotError = locked.failed;
  const Failure error = locked.failure;
  lock.unlock();

  const bool noAudioPad = graph->builder == Builder::kSplitter && !shared.audioPadLinked;
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
  if (graph->builder == Builder::kDecoder) {
    if (!DecodeFrontHasAudio(graph->decoder)) {
      return Fail({kErrNotFound, OwnErrorText(kErrNotFound) + " (no audio track)"});
    }
    if (shared.buffersAtSink == 0) {
      return Fail({kErrStream, OwnErrorText(kErrStream) + " (no sample decoded)"});
    }
    return kOk;
  }
  // A graph can preroll on end of stream without a single frame.
  if (shared.buffersAtSink == 0) {
    return Fail(noAudioPad ? noAudio
                           : Failure{kErrNotMpegAudio,
                                     OwnErrorText(kErrNotMpegAudio) + " (no frame decoded)"});
  }
  return kOk;
}

void GstPlayer::Impl::QueueEvent(const GraphEvent& event) {
  {
    std::lock_guard lock(mutex);
    if (!locked.queueEvents) return;
    locked.events.push_back(event);
  }
  if (notify) notify();
}

void GstPlayer::Impl::OnHeard(const TimedEvent& event, int64_t heardAtNs) {
  // The clock's thread.
  switch (event.code) {
    case kEventPassStarted:
      GST_INFO("pass %d of stretch %d heard", event.pass, event.stretch);
      break;
    case kEventGapStarted:
      GST_INFO("gap heard");
      break;
    case kEventPlanEnded:
      GST_INFO("plan end heard");
      break;
    default:
      break;
  }
  if (event.code != kEventGapStarted) {
    std::lock_guard lock(mutex);
    ++locked.stepsHeard;
  }
  QueueEvent({event.code, 0, {}, event.pass, event.stretch, heardAtNs});
}

void GstPlayer::Impl::Schedule(const std::vector<TimedEvent>& events) {
  for (const TimedEvent& event : events) {
    timers.Schedule(event, graph->pipeline.get(), shared.playing);
  }
}

bool GstPlayer::Impl::HeardPositionNs(int64_t& ns) {
  if (!graph->sink || !shared.playing) return false;
  const GstClockTime now = gst_element_get_current_running_time(graph->sink);
  if (!GST_CLOCK_TIME_IS_VALID(now)) return false;
  std::lock_guard lock(mutex);
  return HeardPosition(locked.sinkSegments, static_cast<int64_t>(now), ns);
}

SeekContext GstPlayer::Impl::SeekContextLocked() const {
  return {locked.rate, gui.lengthNs, gui.stopAtLength, graph->framerPad != nullptr,
          shared.originNs.load(), graph->builder == Builder::kDecoder};
}

int64_t GstPlayer::Impl::ClockNowNs() const {
  GstClock* clock = gst_element_get_clock(graph->pipeline.get());
  if (!clock) return -1;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  return GST_CLOCK_TIME_IS_VALID(now) ? static_cast<int64_t>(now) : -1;
}

GstEvent* GstPlayer::Impl::MakeSeek(const SeekSpan& span, int64_t target, double speed,
                                    GstSeekFlags flags) {
  if (span.segment) flags = static_cast<GstSeekFlags>(flags | GST_SEEK_FLAG_SEGMENT);
  // The stop is always set: left out, an element keeps the stop of the
  // seek before (a loop's B), and a start past it fails.
  GstEvent* seek =
      gst_event_new_seek(speed, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, span.start,
                         GST_SEEK_TYPE_SET, span.stop >= 0 ? span.stop : GST_CLOCK_TIME_NONE);
  if (graph->framerPad) {
    shared.leadInTargetNs = target;
    shared.leadInSeqnum = gst_event_get_seqnum(seek);
  }
  return seek;
}

void GstPlayer::Impl::SendSeek(int64_t target, Join join, const Cut* cut) {
  timers.Disarm(true);
  gui.seekIsReturn = join.pending;
  gui.lastSeekJump = false;
  gui.holdPosition = false;
  const uint64_t generation = ++shared.seekGeneration;
  shared.stoppedAtNs = -1;
  SeekSpan span;
  double speed;
  const int64_t flushClock =
      join.pending && join.step.gapNs > 0 && gui.state == EngineState::kPlaying ? ClockNowNs() : -1;
  int64_t b;
  {
    std::lock_guard lock(mutex);
    speed = locked.rate;
    b = locked.plan.active() ? locked.plan.current().b : -1;
  }
  // A cut is for a splice: the seek that flushes goes to the plain target.
  bool splice = false;
  if (cut && cut->atNs >= 0) {
    span = PlanSeek(cut->targetNs, b, SeekContextLocked());
    splice = Spliceable(span, speed, join.pending);
    if (splice) target = cut->targetNs;
  }
  if (!splice) {
    span = PlanSeek(target, b, SeekContextLocked());
    splice = !(cut && cut->atNs >= 0) && Spliceable(span, speed, join.pending);
  }
  gui.seekTargetNs = target;
  {
    std::lock_guard lock(mutex);
    locked.flushClockNs = flushClock;
    // What follows the pass heard was on its way: a seek that lands in the
    // pass it led to tells it.
    locked.announce = !join.pending && locked.stepsSent > locked.stepsHeard;
    locked.flushJoin = join;
    locked.stepsSent = join.pending || locked.announce ? 1 : 0;
    locked.stepsHeard = 0;
    locked.join = {};
    locked.flushPending = true;
    locked.clipAtNs = span.clipAt;
    locked.clipFromNs = span.clipFrom;
    locked.segmentStopNs = span.segment ? b : -1;
    locked.cut = splice && cut ? *cut : Cut{};
    locked.cutSpeed = speed;
  }
  if (!splice) {
    // The sink starts from nothing: its first sample needs the lead.
    gst_pipeline_set_delay(GST_PIPELINE(graph->pipeline.get()), kStartLeadNs);
    gui.sinkEmpty = gui.state != EngineState::kPlaying;
  }
  shared.splicing = splice;
  GstEvent* seek = MakeSeek(span, target, speed,
                            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE));
  GST_DEBUG("seek to %" GST_TIME_FORMAT " (from %" GST_TIME_FORMAT " to %" GST_TIME_FORMAT
            ") rate %.2f%s%s",
            GST_TIME_ARGS(target), GST_TIME_ARGS(span.start),
            GST_TIME_ARGS(span.stop >= 0 ? span.stop : GST_CLOCK_TIME_NONE), speed,
            span.segment ? " (a pass)" : "", splice ? ", spliced" : "");
  if (splice) watch.Arm(SteadyNowNs() + kSpliceDeadlineNs, [this] { FlushStuckSink(); });
  // A splice goes upstream from what feeds the sink, not through the
  // pipeline: gst_element_send_event holds the pipeline's state lock while
  // the seek waits for the streaming thread, and that thread may wait in the
  // sink for the pipeline's own state change, which needs that lock. A seek
  // that flushes reaches the sink first and wakes it.
  const bool sent = splice ? gst_pad_send_event(graph->feedPad.get(), seek)
                           : gst_element_send_event(graph->pipeline.get(), seek);
  if (splice && watch.Disarm()) {
    // The sink was flushed under the seek: if the seek's own flush did not
    // reach it after that, it ends here, and the sink starts anew.
    if (GST_PAD_IS_FLUSHING(graph->sinkPad.get())) {
      gst_pad_send_event(graph->sinkPad.get(), gst_event_new_flush_stop(TRUE));
    }
    // A server that asks for data seldom makes every splice wait: this
    // file's seeks flush from now on.
    if (++gui.spliceFlushes >= 3) gui.spliceSlow = true;
    GST_INFO("a splice waited over %" GST_TIME_FORMAT ": the sink was flushed",
             GST_TIME_ARGS(kSpliceDeadlineNs));
  } else if (splice) {
    gui.spliceFlushes = 0;
  }
  shared.splicing = false;
  if (!sent) {
    GST_WARNING("seek to %" GST_TIME_FORMAT " refused", GST_TIME_ARGS(target));
    std::lock_guard lock(mutex);
    locked.flushPending = false;
    locked.segmentsGeneration = generation;
    locked.cut = {};
  }
  // The flush has passed the sink by now, so no end of stream from before the
  // seek can still arrive.
  shared.atEnd = false;
  gui.lastPositionNs = target;
  if (!sent) shared.landedGeneration = generation;
}

void GstPlayer::Impl::FlushStuckSink() {
  // The splice watch's thread, while the engine thread waits in the seek.
  shared.splicing = false;
  gst_pipeline_set_delay(GST_PIPELINE(graph->pipeline.get()), kStartLeadNs);
  gst_pad_send_event(graph->sinkPad.get(), gst_event_new_flush_start());
}

int64_t GstPlayer::Impl::SinkRunningNowNs() const {
  if (!graph || !graph->sink) return -1;
  const GstClockTime now = gst_element_get_current_running_time(graph->sink);
  return GST_CLOCK_TIME_IS_VALID(now) ? static_cast<int64_t>(now) : -1;
}

bool GstPlayer::Impl::HeardAt(int64_t runningNs, int64_t& ns) {
  if (runningNs < 0) return false;
  std::lock_guard lock(mutex);
  return HeardPosition(locked.sinkSegments, runningNs, ns);
}

void GstPlayer::Impl::Jump(int64_t deltaNs) {
  const bool playing = gui.state == EngineState::kPlaying && shared.playing;
  const int64_t now = playing ? SinkRunningNowNs() : -1;
  // A jump sent before whose segment has not reached the sink is not heard
  // yet: this one adds to it, from the old sound. Any other seek on its way
  // reads as its target.
  bool otherPending = false;
  int64_t carry = 0;
  {
    std::lock_guard lock(mutex);
    const bool pending = locked.segmentsGeneration < shared.seekGeneration.load();
    otherPending = pending && !gui.lastSeekJump;
    if (pending && gui.lastSeekJump) carry = locked.jumpCarryNs;
  }
  auto from = [&](int64_t at) {
    int64_t heard = 0;
    if (otherPending) return gui.seekTargetNs;
    if (!HeardAt(at, heard)) heard = PositionNs();
    return heard;
  };
  auto clamp = [&](int64_t ns) {
    ns = std::max<int64_t>(ns, 0);
    return gui.lengthNs > 0 ? std::min(ns, gui.lengthNs) : ns;
  };
  const int64_t target = clamp(from(now) + carry + deltaNs);
  Cut cut;
  if (now >= 0 && !otherPending) {
    cut.atNs = now + kJumpCutLeadNs;
    cut.targetNs = clamp(from(cut.atNs) + carry + deltaNs);
  }
  SeekInPlan where = SeekInPlan::kInPass;
  {
    std::lock_guard lock(mutex);
    if (locked.plan.active()) where = ClassifySeek(locked.plan.current(), cut.atNs >= 0 ? cut.targetNs : target);
  }
  if (where == SeekInPlan::kEndPass) {
    EndPassNow(target);
  } else if (where == SeekInPlan::kToA) {
    std::unique_lock lock(mutex);
    const int64_t a = locked.plan.current().a;
    lock.unlock();
    SendSeek(a);
  } else {
    SendSeek(target, {}, &cut);
    gui.lastSeekJump = true;
    std::lock_guard lock(mutex);
    locked.jumpCarryNs = carry + deltaNs;
  }
}

SpliceWatch::~SpliceWatch() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SpliceWatch::Arm(int64_t deadlineNs, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  armed_ = true;
  fired_ = false;
  deadlineNs_ = deadlineNs;
  action_ = std::move(action);
  changed_.notify_all();
}

bool SpliceWatch::Disarm() {
  std::unique_lock lock(mutex_);
  armed_ = false;
  changed_.wait(lock, [this] { return !running_; });
  action_ = nullptr;
  return fired_;
}

void SpliceWatch::Run() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (!armed_) {
      changed_.wait(lock);
      continue;
    }
    const int64_t wait = deadlineNs_ - SteadyNowNs();
    if (wait > 0) {
      changed_.wait_for(lock, std::chrono::nanoseconds(wait));
      continue;
    }
    armed_ = false;
    running_ = true;
    fired_ = true;
    std::function<void()> action = action_;
    lock.unlock();
    action();
    lock.lock();
    running_ = false;
    changed_.notify_all();
  }
}

bool GstPlayer::Impl::Spliceable(const SeekSpan& span, double speed, bool endsPass) const {
  // A pass ended by a seek stops at once: what the sink held would be heard
  // past its end.
  if (!graph->spliceable || gui.spliceSlow || gui.state != EngineState::kPlaying ||
      !shared.playing || gui.sinkEmpty || shared.sinkAtEos || endsPass) {
    return false;
  }
  // A sink that prerolls anew (after a seek that flushed) waits for the
  // pipeline to play again: nothing can be spliced into it yet.
  GstState sinkState = GST_STATE_VOID_PENDING, sinkPending = GST_STATE_VOID_PENDING;
  if (gst_element_get_state(graph->sink, &sinkState, &sinkPending, 0) !=
          GST_STATE_CHANGE_SUCCESS ||
      sinkState != GST_STATE_PLAYING) {
    return false;
  }
  const int64_t written = shared.writtenEndNs;
  const GstClockTime now = gst_element_get_current_running_time(graph->sink);
  const int64_t stop = span.stop >= 0 ? span.stop : gui.lengthNs;
  if (written < 0 || !GST_CLOCK_TIME_IS_VALID(now) || stop <= 0) return false;
  // The seek's data begins a lead from now at the earliest and must reach
  // past all the sink has written.
  const int64_t needed = written + kSpliceMarginNs - static_cast<int64_t>(now) - kSpliceLeadNs;
  return static_cast<double>(stop - span.start) / speed >= static_cast<double>(needed);
}

void GstPlayer::Impl::EndPassNow(int64_t target) {
  NextStep step;
  {
    std::lock_guard lock(mutex);
    RunningPlan& plan = locked.plan;
    if (!plan.active()) return;
    step = AfterPass(plan);
    if (step.step == Step::kNextPass || step.step == Step::kHandOn) plan.at = step.at;
    if (step.step == Step::kGoOn || step.step == Step::kStop) {
      target = step.step == Step::kStop ? plan.current().b : target;
      plan = {};
    } else {
      target = plan.current().a;
    }
  }
  if (step.step == Step::kGoOn || step.step == Step::kStop) {
    GST_INFO("plan ended by a seek: %s", step.step == Step::kGoOn ? "on" : "stopped at B");
    QueueEvent({kEventPlanEnded, 0, {}});
    SendSeek(target);
    if (step.step == Step::kStop && gui.state == EngineState::kPlaying) Enter(EngineState::kPaused);
    return;
  }
  GST_INFO("pass ended by a seek: pass %d of stretch %zu after %" GST_TIME_FORMAT, step.at.pass,
           step.at.stretch, GST_TIME_ARGS(step.gapNs));
  SendSeek(target, {true, step, true});
}

int64_t GstPlayer::Impl::PositionNs(bool* moving, int64_t* untilNs) {
  if (moving) *moving = false;
  if (untilNs) *untilNs = gui.lengthNs;
  if (!built()) return 0;
  int64_t ns = gui.lastPositionNs;
  if (shared.landedGeneration.load() < shared.seekGeneration.load()) {
    // The seek's data has not reached the sink yet: it reads as its target.
    ns = gui.seekTargetNs;
  } else if (gui.holdPosition) {
    ns = gui.heldPositionNs;
  } else if (const int64_t stopped = shared.stoppedAtNs; stopped >= 0 && !shared.playing) {
    ns = stopped;
  } else if (int64_t heard = 0; HeardPositionNs(heard)) {
    ns = heard;
    if (moving || untilNs) {
      std::lock_guard lock(mutex);
      const std::vector<Segment>& segments = locked.sinkSegments;
      const int64_t now = SinkRunningNowNs();
      // Before the newest segment's start (a splice's lead, a silence) the
      // place holds.
      if (moving) *moving = !segments.empty() && now >= segments.back().base;
      if (untilNs && locked.plan.active() && ns < locked.plan.current().b) {
        *untilNs = locked.plan.current().b;
      }
    }
  } else {
    gint64 position = -1;
    if (gst_element_query_position(graph->pipeline.get(), GST_FORMAT_TIME, &position) &&
        position >= 0) {
      ns = position;
    }
  }
  ns = std::max<int64_t>(ns, 0);
  if (gui.lengthNs > 0) ns = std::min(ns, gui.lengthNs);
  gui.lastPositionNs = ns;
  return ns;
}

Result GstPlayer::Impl::StateResult(GstStateChangeReturn ret, EngineState to) {
  if (ret != GST_STATE_CHANGE_FAILURE) return kOk;
  std::lock_guard lock(mutex);
  // The bus has told what went wrong (and its text is kept), else the state
  // change failed on its own.
  if (locked.failed) return locked.failure.code;
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
    gui.holdPosition = false;
    // A plan that stopped at B goes on from there.
    if (const int64_t stopped = shared.stoppedAtNs; stopped >= 0) SendSeek(stopped);
    // A resume joins what the sink still holds: a lead there would be heard
    // as a silence once the held samples have played. Only a sink that
    // starts from nothing needs it.
    gst_pipeline_set_delay(GST_PIPELINE(graph->pipeline.get()), gui.sinkEmpty ? kStartLeadNs : 0);
    gui.sinkEmpty = false;
  } else {
    if (!gui.holdPosition) {
      gui.heldPositionNs = PositionNs();
      gui.holdPosition = true;
    }
    // The plan's events wait for the clock to run again (the silence between
    // passes goes on where it stopped).
    timers.Disarm(false);
  }
  GST_DEBUG("%s -> %s at %" GST_TIME_FORMAT, StateName(gui.state), StateName(to),
            GST_TIME_ARGS(PositionNs()));
  gui.state = to;
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

Result GstPlayer::BuildWithDecoder(const std::string& path) {
  return impl_->Build(path, Builder::kDecoder);
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
  if (d.gui.lengthNs > 0) target = std::min(target, d.gui.lengthNs);
  // Until the first sample of a seek is heard (its data arriving, then the
  // start lead) the position reads its target. Seeking there again changes
  // nothing heard, and restarting the seek would only put the sound off.
  // A seek that ended a pass is sent again as a plain one.
  if (target == d.gui.seekTargetNs && !d.gui.seekIsReturn &&
      std::llabs(d.PositionNs() - target) < GST_MSECOND) {
    return;
  }
  SeekInPlan where = SeekInPlan::kInPass;
  {
    std::lock_guard lock(d.mutex);
    if (d.locked.plan.active()) {
      where = ClassifySeek(d.locked.plan.current(), target);
      if (where == SeekInPlan::kToA) target = d.locked.plan.current().a;
    }
  }
  if (where == SeekInPlan::kEndPass) {
    d.EndPassNow(target);
  } else {
    d.SendSeek(target);
  }
}

void GstPlayer::JumpMs(int32_t deltaMs) {
  if (impl_->built()) impl_->Jump(MsToNs(deltaMs));
}

GstPlayer::PositionReading GstPlayer::ReadPosition() {
  PositionReading r;
  r.ns = impl_->PositionNs(&r.moving, &r.untilNs);
  std::lock_guard lock(impl_->mutex);
  r.speed = impl_->locked.rate;
  return r;
}

bool GstPlayer::HasTempo() const {
  return !impl_->built() || impl_->graph->tempo != nullptr;
}

int32_t GstPlayer::GetPositionMs() {
  return NsToMs(impl_->PositionNs());
}

int32_t GstPlayer::GetDurationMs() {
  return impl_->built() ? NsToMs(impl_->gui.lengthNs) : 0;
}

bool GstPlayer::IsAtEnd() {
  Impl& d = *impl_;
  if (!d.built()) return true;
  if (d.shared.atEnd) return true;
  return d.gui.lengthNs > 0 && d.PositionNs() >= d.gui.lengthNs;
}

void GstPlayer::SetLoopPlan(const LoopPlan& plan) {
  Impl& d = *impl_;
  if (!d.built()) return;
  RunningPlan running = ToRunningPlan(plan, d.gui.lengthNs);
  if (!running.active()) {
    ClearLoop();
    return;
  }
  const PlanStretch first = running.stretches.front();
  GST_INFO("plan of %zu stretches x %d passes (%s), from %" GST_TIME_FORMAT " to %" GST_TIME_FORMAT
           " gap %" GST_TIME_FORMAT ", first pass %d, start %d ms",
           running.stretches.size(), running.passes,
           running.after == AfterPlan::kGoOn ? "then on" : "then stop", GST_TIME_ARGS(first.a),
           GST_TIME_ARGS(first.b), GST_TIME_ARGS(first.gap), running.at.pass, plan.startMs);
  const int64_t position = plan.startMs < 0 ? d.PositionNs() : -1;
  bool sameSegment;
  {
    std::lock_guard lock(d.mutex);
    // The segment playing already ends at this B and nothing else is on its
    // way: the plan takes over without a seek (a new gap, a new count).
    sameSegment = d.locked.segmentStopNs == first.b && !d.locked.join.pending &&
                  d.locked.stepsSent == d.locked.stepsHeard && !d.locked.flushJoin.pending;
    d.locked.plan = running;
    DropPlanEvents(d.locked.events);
    // What the plan before had on its way goes with the seek below; the new
    // plan tells its own first pass.
    if (!sameSegment) d.locked.stepsSent = d.locked.stepsHeard;
  }
  if (running.at.pass > 0) d.QueueEvent({kEventPassStarted, 0, {}, running.at.pass, 0});
  if (plan.startMs >= 0) {
    int64_t target = MsToNs(plan.startMs);
    if (d.gui.lengthNs > 0) target = std::min(target, d.gui.lengthNs);
    if (target >= first.b) {
      d.EndPassNow(target);
    } else {
      d.SendSeek(target);
    }
    return;
  }
  if (position >= first.b) {
    GST_DEBUG("the pass in progress is at or past B: it ends now");
    d.EndPassNow(position);
  } else if (!sameSegment) {
    d.SendSeek(position);
  }
}

void GstPlayer::ClearLoop() {
  Impl& d = *impl_;
  bool seamPassed;
  bool wasLooping;
  {
    std::lock_guard lock(d.mutex);
    wasLooping = d.locked.plan.active();
    d.locked.plan = {};
    DropPlanEvents(d.locked.events);
    seamPassed = d.locked.stepsSent > d.locked.stepsHeard;
  }
  if (!wasLooping || !d.built()) return;
  GST_INFO("loop cleared%s", seamPassed ? " behind the seam" : "");
  // What follows the pass has already begun on its way to the sink (or its
  // silence is playing): playback goes on from where it is heard, A in a
  // silence. Otherwise the segment ends at B and the bus goes on past it.
  if (seamPassed) d.SendSeek(d.PositionNs());
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
    if (d.locked.rate == speed) return kOk;
    d.locked.rate = speed;
  }
  GST_INFO("rate %.2f", speed);
  // The elements take a new rate only with a seek: one that goes on from the
  // place heard where it is heard (a jump of 0).
  if (d.built()) d.Jump(0);
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
  if (impl_->locked.events.empty()) return false;
  event = std::move(impl_->locked.events.front());
  impl_->locked.events.pop_front();
  return true;
}

std::string GstPlayer::EmbeddedLyrics() const { return impl_->gui.lyrics; }

std::string GstPlayer::ErrorText(Result code) const {
  {
    std::lock_guard lock(impl_->mutex);
    if (const auto it = impl_->texts.find(code); it != impl_->texts.end()) return it->second;
  }
  return OwnErrorText(code);
}

uint64_t GstPlayer::LastSeekNumber() const {
  return impl_->shared.seekGeneration.load();
}

bool GstPlayerFactory::HasAudioDevice() {
  return FindDefaultAudioRenderer() != nullptr;
}

GstPlayerFactory::~GstPlayerFactory() {
  // The players it made end on their own threads; at exit they are given a
  // moment to take their pipelines down.
  WaitForEngines(std::chrono::seconds(5));
}

std::unique_ptr<Player> GstPlayerFactory::Create() {
  return std::make_unique<EnginePlayer>(notify_);
}

}  // namespace orvex
