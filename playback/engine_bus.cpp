// The bus sync handler: one function per message type. It runs on whichever
// thread posts the message (a streaming thread, or the GUI thread during a
// state change) and never touches the pipeline's state.

#include <algorithm>

#include "playback/engine_log.h"
#include "playback/gst_graph.h"
#include "playback/gst_player_impl.h"

namespace orvex {

namespace {

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

}  // namespace

GstBusSyncReply GstPlayer::Impl::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
  auto* self = static_cast<Impl*>(data);
  bool wake = false;
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STREAM_STATUS:
      ApplyThreadUrgency(message, ThreadUrgency::kHeard);
      break;
    case GST_MESSAGE_ERROR:
      wake = self->OnError(message);
      break;
    case GST_MESSAGE_SEGMENT_DONE:
      self->OnSegmentDone();
      break;
    case GST_MESSAGE_STATE_CHANGED:
      self->OnStateChanged(message);
      break;
    case GST_MESSAGE_EOS:
      wake = self->OnEndOfStream();
      break;
    case GST_MESSAGE_ASYNC_DONE:
      self->OnAsyncDone(message);
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

bool GstPlayer::Impl::OnError(GstMessage* message) {
  GError* error = nullptr;
  gst_message_parse_error(message, &error, nullptr);
  const Result code = CodeOfError(error);
  const std::string text = error && error->message ? error->message : "";
  GST_WARNING("error from %s: %s", GST_OBJECT_NAME(GST_MESSAGE_SRC(message)), text.c_str());
  g_clear_error(&error);
  std::lock_guard lock(mutex);
  texts[code] = ErrorTextOf({code, text});
  if (!locked.failed) {
    locked.failed = true;
    locked.failure = {code, text};
  }
  if (!locked.queueEvents) return false;
  locked.events.push_back({kEventErrorAbort, code, text});
  return true;
}

bool GstPlayer::Impl::OnEndOfStream() {
  GST_DEBUG("end of stream");
  shared.atEnd = true;
  std::lock_guard lock(mutex);
  if (!locked.queueEvents) return false;
  locked.events.push_back({kEventComplete, 0, {}});
  return true;
}

void GstPlayer::Impl::OnStateChanged(GstMessage* message) {
  if (GST_MESSAGE_SRC(message) != GST_OBJECT(graph->pipeline.get())) return;
  GstState oldState, newState;
  gst_message_parse_state_changed(message, &oldState, &newState, nullptr);
  GST_DEBUG("state %s -> %s", gst_element_state_get_name(oldState),
            gst_element_state_get_name(newState));
  shared.playing = newState == GST_STATE_PLAYING;
  // The base time is new: the plan's events wait for the clock again.
  if (newState == GST_STATE_PLAYING) timers.Arm(graph->pipeline.get());
}

void GstPlayer::Impl::OnAsyncDone(GstMessage* message) {
  if (GST_MESSAGE_SRC(message) != GST_OBJECT(graph->pipeline.get())) return;
  std::lock_guard lock(mutex);
  locked.asyncDone = true;
}

void GstPlayer::Impl::OnSegmentDone() {
  // Streaming thread: the parser (or the demuxer) has pushed the segment to
  // its stop, B. What follows is decided here, whatever the GUI thread is
  // doing, and joins without a flush, so the sink plays on to the sample.
  // The parser numbers its segment-done messages afresh, so they cannot be
  // matched to the seek: one that comes while a flushing seek is on its way
  // (posted before the flush stopped the parser) belongs to what the flush
  // ends, and would count a pass too many.
  SeekSpan span;
  double speed = 1.0;
  int64_t target = 0;
  std::vector<TimedEvent> stopEvents;
  bool stopped = false;
  {
    std::lock_guard lock(mutex);
    const int64_t b = locked.segmentStopNs;
    if (b < 0 || locked.join.pending || locked.flushPending) return;
    speed = locked.rate;
    RunningPlan& plan = locked.plan;
    Join join{true, {Step::kGoOn, {}, 0}, plan.active()};
    if (plan.active()) join.step = AfterPass(plan);
    if (join.step.step == Step::kStop) {
      // Nothing follows: the sink plays out to B, and the plan's end is told
      // when B is heard.
      GST_INFO("plan ended: stopped at %" GST_TIME_FORMAT, GST_TIME_ARGS(b));
      plan = {};
      locked.segmentStopNs = -1;
      shared.stoppedAtNs = b;
      stopped = true;
      const int64_t end =
          locked.sinkSegments.empty() ? -1 : EndRunningTime(locked.sinkSegments.back());
      if (end >= 0) stopEvents = EventsOfStep(join.step, end);
      ++locked.stepsSent;
    } else {
      if (join.step.step == Step::kGoOn) {
        GST_INFO("%s: on past %" GST_TIME_FORMAT, join.tell ? "plan ended" : "loop cleared",
                 GST_TIME_ARGS(b));
        plan = {};
        target = b;
      } else {
        plan.at = join.step.at;
        target = plan.current().a;
        GST_INFO("%s: pass %d of stretch %zu from %" GST_TIME_FORMAT " to %" GST_TIME_FORMAT
                 " after %" GST_TIME_FORMAT,
                 join.step.step == Step::kHandOn ? "hand-on" : "next pass", plan.at.pass,
                 plan.at.stretch, GST_TIME_ARGS(target), GST_TIME_ARGS(plan.current().b),
                 GST_TIME_ARGS(join.step.gapNs));
      }
      span = PlanSeek(target, plan.active() ? plan.current().b : -1, SeekContextLocked());
      locked.clipFromNs = span.clipFrom;
      locked.clipAtNs = span.clipAt;
      locked.segmentStopNs = span.segment ? plan.current().b : -1;
      locked.join = join;
      if (join.tell) ++locked.stepsSent;
    }
  }
  if (stopped) {
    Schedule(stopEvents);
    return;
  }
  GstEvent* seek = MakeSeek(span, target, speed, GST_SEEK_FLAG_ACCURATE);
  // Pushed upstream from the decoder's (or the framer's) input to the parser
  // or the demuxer: sending it to the pipeline would take the state lock,
  // which a state change on the GUI thread holds while it waits for this
  // very thread.
  if (!gst_pad_push_event(graph->restartPad.get(), seek)) {
    // A flushing seek from the GUI thread is on its way and takes over.
    if (GST_PAD_IS_FLUSHING(graph->restartPad.get())) {
      GST_DEBUG("the seek after a segment met a flush");
    } else {
      GST_WARNING("the seek after a segment was refused");
    }
    std::lock_guard lock(mutex);
    if (locked.join.tell) --locked.stepsSent;
    locked.join = {};
  }
}

}  // namespace orvex
