// The pad probes and the demuxer's pad-added handler: streaming threads.

#include <gst/audio/audio.h>

#include <algorithm>

#include "playback/engine_log.h"
#include "playback/gst_graph.h"
#include "playback/gst_player_impl.h"

namespace orvex {

namespace {

// Sink segments kept for mapping the clock to a heard position: the sink's
// buffer holds at most a few of them.
constexpr size_t kKeptSegments = 8;

int64_t NsOrNone(guint64 t) {
  return GST_CLOCK_TIME_IS_VALID(t) ? static_cast<int64_t>(t) : -1;
}

Segment FromGst(const GstSegment& g) {
  return {NsOrNone(g.start), NsOrNone(g.stop), NsOrNone(g.time), static_cast<int64_t>(g.base),
          g.rate,            g.applied_rate};
}

// Writes the arithmetic's changes back into the GStreamer segment.
void IntoGst(const Segment& s, GstSegment& g) {
  const auto start = static_cast<guint64>(s.start);
  if (g.start != start) g.position = start;
  g.start = start;
  g.stop = s.stop < 0 ? GST_CLOCK_TIME_NONE : static_cast<guint64>(s.stop);
  g.time = static_cast<guint64>(s.time);
  g.base = static_cast<guint64>(s.base);
}

}  // namespace

GstPadProbeReturn GstPlayer::Impl::OnSinkPad(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<Impl*>(data);
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    self->OnSinkBuffer(info);
    return GST_PAD_PROBE_OK;
  }
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (!event) return GST_PAD_PROBE_OK;
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_START:
      // A splice: the sink plays on what it holds until the seek's data
      // overwrites it.
      if (self->shared.splicing) return GST_PAD_PROBE_DROP;
      break;
    case GST_EVENT_FLUSH_STOP: {
      const bool splicing = self->shared.splicing;
      self->shared.flushedGeneration = self->shared.seekGeneration.load();
      self->shared.awaitingFirstBuffer = true;
      if (!splicing) {
        self->shared.sinkAtEos = false;
        self->shared.writtenEndNs = -1;
      }
      std::lock_guard lock(self->mutex);
      self->locked.splicePending = splicing;
      if (!splicing) self->locked.sinkSegments.clear();
      // A step sent before the flush went with it.
      self->locked.flushPending = false;
      self->locked.join = {};
      if (splicing) return GST_PAD_PROBE_DROP;
      break;
    }
    case GST_EVENT_EOS:
      self->shared.sinkAtEos = true;
      break;
    case GST_EVENT_SEGMENT:
      self->OnSinkSegment(info);
      break;
    case GST_EVENT_CAPS: {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      self->tap.SetCaps(caps);
      break;
    }
    default:
      break;
  }
  return GST_PAD_PROBE_OK;
}

void GstPlayer::Impl::OnSinkBuffer(GstPadProbeInfo* info) {
  ++shared.buffersAtSink;
  if (shared.markDiscont) {
    // The pass after a silence, or a splice: the sink places it by its time,
    // leaving the silence or overwriting what it held, instead of joining it
    // to what came before. The sink drops a buffer before the segment's start
    // (a decoder's lead-in) with its mark, so the mark stays on until one
    // reaches the segment.
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const GstClockTime duration = GST_BUFFER_DURATION(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || !GST_CLOCK_TIME_IS_VALID(duration) ||
        static_cast<int64_t>(pts + duration) > shared.discontFromNs.load()) {
      shared.markDiscont = false;
    }
  }
  if (const GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
      GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
    int64_t end = static_cast<int64_t>(GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer));
    if (sinkSegment.stop >= 0) end = std::min(end, sinkSegment.stop);
    if (end > sinkSegment.start) {
      const int64_t running = RunningTimeOf(sinkSegment, end);
      if (running > shared.writtenEndNs) shared.writtenEndNs = running;
    }
  }
  const bool first = shared.awaitingFirstBuffer.exchange(false);
  if (first) shared.landedGeneration = shared.flushedGeneration.load();
  if (options.observer) {
    tap.Feed(GST_PAD_PROBE_INFO_BUFFER(info), shared.landedGeneration.load(), first,
             options.observer);
  }
}

void GstPlayer::Impl::OnSinkSegment(GstPadProbeInfo* info) {
  // At the sink's input. A segment that follows another without a flush
  // starts where the one before ends in running time (plus the gap), so the
  // passes join to the sample whatever the parser counted; the plan's events
  // are timed by it.
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  const GstSegment* incoming = nullptr;
  gst_event_parse_segment(event, &incoming);
  if (incoming->format != GST_FORMAT_TIME || incoming->rate <= 0) return;
  const Segment raw = FromGst(*incoming);
  const Segment original = InLessonTime(raw, shared.originNs);
  std::vector<TimedEvent> events;
  std::unique_lock lock(mutex);
  Segment s = ClipForSink(original, graph->framerPad ? -1 : locked.clipFromNs, locked.clipAtNs);
  bool discont = false;
  if (locked.join.pending && !locked.sinkSegments.empty()) {
    discont = JoinToPrevious(s, events);
  } else if (locked.sinkSegments.empty() || locked.splicePending) {
    discont = PlaceAfterFlush(s, events);
  }
  if (discont) {
    shared.discontFromNs = s.start;
    shared.markDiscont = true;
  }
  if (!(s == raw)) {
    GstSegment changed;
    gst_segment_copy_into(incoming, &changed);
    IntoGst(s, changed);
    GstEvent* replacement = gst_event_new_segment(&changed);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
  }
  sinkSegment = s;
  locked.sinkSegments.push_back(s);
  if (locked.sinkSegments.size() > kKeptSegments) {
    locked.sinkSegments.erase(locked.sinkSegments.begin());
  }
  lock.unlock();
  Schedule(events);
}

bool GstPlayer::Impl::JoinToPrevious(Segment& s, std::vector<TimedEvent>& events) {
  bool discont = false;
  const int64_t end = EndRunningTime(locked.sinkSegments.back());
  if (end >= 0) {
    const NextStep& step = locked.join.step;
    s = JoinAfter(locked.sinkSegments.back(), s, step.gapNs);
    discont = step.gapNs > 0;
    if (locked.join.tell) events = EventsOfStep(step, end);
    GST_DEBUG("joined at running time %" GST_TIME_FORMAT " (+%" GST_TIME_FORMAT ")",
              GST_TIME_ARGS(end), GST_TIME_ARGS(step.gapNs));
  }
  locked.join = {};
  return discont;
}

bool GstPlayer::Impl::PlaceAfterFlush(Segment& s, std::vector<TimedEvent>& events) {
  // A pass ended by a seek is heard after its silence; a seek into a silence
  // lands in the pass it led to.
  bool discont = false;
  locked.segmentsGeneration = shared.flushedGeneration.load();
  if (locked.splicePending) {
    // Spliced: the sink places it by its time, over what it held.
    const GstClockTime now = gst_element_get_current_running_time(graph->sink);
    if (GST_CLOCK_TIME_IS_VALID(now)) s = PlaceSplice(s, static_cast<int64_t>(now));
    locked.cut = {};
    GST_DEBUG("spliced at running time %" GST_TIME_FORMAT, GST_TIME_ARGS(s.base));
    locked.sinkSegments.clear();
    locked.splicePending = false;
    discont = true;
  }
  if (locked.flushJoin.pending) {
    const NextStep& step = locked.flushJoin.step;
    int64_t gap = step.gapNs;
    if (locked.flushClockNs >= 0) {
      // The silence began at the flush, and the restart (now, and the
      // start lead) is part of it.
      const int64_t now = ClockNowNs();
      if (now >= locked.flushClockNs) {
        gap = std::max<int64_t>(gap - (now - locked.flushClockNs) - kStartLeadNs, 0);
      }
    }
    events = EventsOfStep(step, s.base);
    events.back().runningTime = s.base + gap;
    s.base += gap;
    discont = discont || step.gapNs > 0;
    locked.flushJoin = {};
  } else if (locked.announce && locked.plan.active()) {
    events.push_back({kEventPassStarted, s.base, locked.plan.at.pass,
                      static_cast<int32_t>(locked.plan.at.stretch)});
  }
  locked.announce = false;
  return discont;
}

Segment GstPlayer::Impl::PlaceSplice(Segment s, int64_t now) {
  const int64_t earliest = now + kSpliceLeadNs;
  const Cut& cut = locked.cut;
  if (cut.atNs < 0) {
    s.base = earliest;
    return s;
  }
  // A jump: the old sound ends at its cut and the new one begins there. What
  // the sink has written reaches past the cut (a splice needs that much), so
  // nothing but the new sound follows it.
  if (cut.atNs >= earliest) {
    const int64_t written = shared.writtenEndNs;
    // (Only a sink that has written less than the lead holds too little:
    // the new sound then begins where its writing ends, a little early.)
    s.base = written >= earliest ? std::min(cut.atNs, written) : earliest;
    return s;
  }
  // Its data came too late for the cut: the old sound goes on for longer,
  // and the new one begins as far past its target, so the jump is heard
  // whole all the same.
  const auto late = static_cast<int64_t>(static_cast<double>(earliest - cut.atNs) * locked.cutSpeed);
  GST_DEBUG("a jump's data came %" GST_TIME_FORMAT " late for its cut",
            GST_TIME_ARGS(earliest - cut.atNs));
  s = ClipForSink(s, cut.targetNs + late, -1);
  s.base = earliest;
  return s;
}

GstPadProbeReturn GstPlayer::Impl::OnFramerSegment(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<Impl*>(data);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (!event || GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
  const uint32_t seqnum = gst_event_get_seqnum(event);
  if (seqnum == GST_SEQNUM_INVALID || seqnum != self->shared.leadInSeqnum.load())
    return GST_PAD_PROBE_OK;
  const GstSegment* segment = nullptr;
  gst_event_parse_segment(event, &segment);
  if (segment->format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
  GstSegment moved;
  gst_segment_copy_into(segment, &moved);
  const auto target = static_cast<guint64>(self->shared.leadInTargetNs.load());
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
  if (self->shared.audioPadLinked) return;
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
    self->shared.audioPadLinked = true;
}

}  // namespace orvex
