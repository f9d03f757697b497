#pragma once
// The player's inside, shared by gst_player.cpp (the operations), the bus
// handlers (engine_bus.cpp) and the pad probes (engine_pads.cpp).
//
// Threading. Every public operation runs on one thread, the engine's (see
// playback/engine_player.h: the window never calls a GstPlayer itself; tests
// and benchmarks may call one from their own thread). GStreamer runs the
// pipeline on threads of its own (the parser's or the demuxer's task, the
// PulseAudio main loop); they reach this player only through
//  - the bus sync handler (OnBusMessage, one function per message type): it
//    records how a build ends and queues graph events under `mutex`, then
//    calls `notify` outside the lock. When a segment is done it decides on
//    its own what follows (the plan's next pass, the next stretch, playback
//    on past B, or the stop) and sends the next seek without a flush
//    (OnSegmentDone), upstream from the decoder's input, never through the
//    pipeline, whose state lock a state change on the engine thread may hold;
//  - the probe on the audio sink's input pad (OnSinkPad): it marks a seek as
//    landed when its first buffer arrives, feeds the optional observer, and
//    keeps the segments the sink takes (OnSinkSegment), joining each pass to
//    the one before in running time, placing a spliced seek's cut and timing
//    the plan's events;
//  - the clock's thread (ClockTimers): it queues a plan event when the clock
//    reaches the running time at which it is heard;
//  - the demuxer's pad-added handler (OnPadAdded): it links the audio pad;
//  - two more probes: one holds the MPEG parser's first read during a build
//    (PauseAtFirstFrame), one moves the splitter graph's segments
//    (OnFramerSegment);
//  - the splice watch's thread (SpliceWatch): it flushes the sink when a
//    spliced seek waits too long for it.
// The state of one load is split by who touches it: `gui` (the engine
// thread only; named for the thread that called the player before it had
// its own), `locked` (under `mutex`), `shared` (atomics) and `tap` (the
// streaming thread only); a new load resets each. The engine thread waits
// inside a build, for a bounded preroll, in a teardown, and in a seek that
// flushes or splices: a splice is bounded by the splice watch.

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/clock_timers.h"
#include "playback/engine_graph.h"
#include "playback/gst_player.h"
#include "playback/pcm_tap.h"
#include "playback/segment_plan.h"

namespace orvex {

// What the engine is doing. Run, Pause, Stop and Teardown all go through
// Impl::Enter; a build ends in kPaused.
enum class EngineState { kEmpty, kPaused, kPlaying };

// Bounds a spliced seek. Its flush is kept from the sink, so the seek waits
// for the sink's streaming thread, and that thread waits for the sound server
// to ask for data. When the server does not ask in time (stopped, stalled, or
// a sink that never wakes), the watch runs its action on a thread of its own:
// the sink is flushed, which wakes its thread, and the seek goes on as one
// that flushes.
class SpliceWatch {
 public:
  SpliceWatch() = default;
  ~SpliceWatch();
  SpliceWatch(const SpliceWatch&) = delete;
  SpliceWatch& operator=(const SpliceWatch&) = delete;
  // Runs action once deadlineNs (steady clock) has passed, unless disarmed.
  void Arm(int64_t deadlineNs, std::function<void()> action);
  // Disarms it, waiting for an action that is running; true when it ran.
  bool Disarm();

 private:
  void Run();
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
  bool armed_ = false;
  bool running_ = false;
  bool fired_ = false;
  bool quit_ = false;
  int64_t deadlineNs_ = 0;
  std::function<void()> action_;
};

// A jump's cut, while playing: the running time at which the old sound is
// to end and the new one to begin, and the new one's first place, there.
struct Cut {
  int64_t atNs = -1;
  int64_t targetNs = 0;
};

// What a segment on its way to the sink starts: a step of the plan (told by
// its events) or, once the plan is cleared, playback on past B (told by none).
struct Join {
  bool pending = false;
  NextStep step;
  bool tell = true;
};

struct GstPlayer::Impl {
  Impl(GraphNotify n, GstPlayerOptions o);

  Result Build(const std::string& path, Builder builder);
  Result Fail(Failure failure);
  Result Preroll(const MpegScan& scan);
  void Dismantle();
  bool built() const { return gui.state != EngineState::kEmpty; }
  Result Enter(EngineState to);
  Result StateResult(GstStateChangeReturn ret, EngineState to);
  void RecordText(Result code, const std::string& text);
  // The position; `moving` is set when it is the place heard with playback
  // going on (it then moves with the clock at the speed), and `untilNs` to
  // where it goes on without a seek (B, or the length).
  int64_t PositionNs(bool* moving = nullptr, int64_t* untilNs = nullptr);
  bool HeardPositionNs(int64_t& ns);
  // Whether a seek can be spliced into what plays (see Graph::spliceable).
  bool Spliceable(const SeekSpan& span, double speed, bool endsPass) const;
  SeekContext SeekContextLocked() const;
  // The pipeline clock's time now, -1 without a clock.
  int64_t ClockNowNs() const;

  // A seek as GStreamer takes it, numbered for the splitter's lead-in.
  GstEvent* MakeSeek(const SeekSpan& span, int64_t target, double speed, GstSeekFlags flags);
  // Sends a flushing, accurate seek to the target (already clamped) at the
  // current speed, as a segment ending at B when the plan's pass holds the
  // target. The first segment after the flush starts `join` (a pass ended by
  // the seek) and is heard after its silence.
  // With a cut, a seek spliced into what plays begins at the cut's target,
  // heard from the cut's running time on (the target is the sink's to move
  // on when its data come too late for that); one that flushes goes to
  // target.
  void SendSeek(int64_t target, Join join = {}, const Cut* cut = nullptr);
  // A jump of deltaNs, counted from the place heard where its cut is heard;
  // jumps whose cut is not heard yet add up. A change of speed is a jump of 0.
  void Jump(int64_t deltaNs);
  // The place heard at a running time of the sink, by the segments it has
  // taken; false when it cannot tell.
  bool HeardAt(int64_t runningNs, int64_t& ns);
  // The sink's running time now, -1 when it has none.
  int64_t SinkRunningNowNs() const;
  // The sink is flushed by the splice watch (a splice that waits too long).
  void FlushStuckSink();
  // The pass in progress ends now: what follows it starts at once (after
  // the gap), or the plan ends here.
  void EndPassNow(int64_t target);

  // Queues an event for the GUI thread and tells it.
  void QueueEvent(const GraphEvent& event);
  void OnHeard(const TimedEvent& event, int64_t heardAtNs);
  void Schedule(const std::vector<TimedEvent>& events);

  // The bus, one function per message type.
  static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer data);
  bool OnError(GstMessage* message);
  bool OnEndOfStream();
  void OnStateChanged(GstMessage* message);
  void OnAsyncDone(GstMessage* message);
  void OnSegmentDone();

  // The pads.
  static GstPadProbeReturn OnSinkPad(GstPad* pad, GstPadProbeInfo* info, gpointer data);
  static GstPadProbeReturn OnFramerSegment(GstPad* pad, GstPadProbeInfo* info, gpointer data);
  static void OnPadAdded(GstElement* element, GstPad* pad, gpointer data);
  void OnSinkBuffer(GstPadProbeInfo* info);
  void OnSinkSegment(GstPadProbeInfo* info);
  // A segment that follows the one before without a flush (a step of the
  // plan), and the first one after a flush or a splice: placed in running
  // time, with the events they start; true when the sink must place it by
  // its time (after a silence, or over what it held). Under `mutex`.
  bool JoinToPrevious(Segment& s, std::vector<TimedEvent>& events);
  bool PlaceAfterFlush(Segment& s, std::vector<TimedEvent>& events);
  // Where a spliced seek's first segment goes in running time (under
  // `mutex`): its jump's cut, or a lead after now.
  Segment PlaceSplice(Segment s, int64_t now);

  const GraphNotify notify;
  const GstPlayerOptions options;

  // The graph of the file loaded; none while empty.
  std::unique_ptr<Graph> graph;
  // The linear gain last set; a new graph starts with it.
  double gain = 1.0;

  // Guards `locked` and `texts`.
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::map<Result, std::string> texts;  // the last text of each failure

  // GUI thread only.
  struct GuiState {
    EngineState state = EngineState::kEmpty;
    int64_t lengthNs = 0;
    bool stopAtLength = false;
    int64_t seekTargetNs = 0;
    bool seekIsReturn = false;  // the last seek ended a pass
    int64_t lastPositionNs = 0;
    // Paused by Pause or Stop: the sink's clock settles for a while after it
    // stops, so the position read at that moment holds until the next seek
    // or run.
    bool holdPosition = false;
    int64_t heldPositionNs = 0;
    // The sink starts from nothing at the next run (a build or a seek while
    // paused emptied it): only then does its first sample need the lead.
    bool sinkEmpty = true;
    // Splices that the watch had to end, in a row; after a few (a sound
    // server that asks for data seldom) this file's seeks flush.
    int spliceFlushes = 0;
    bool spliceSlow = false;
    // The last seek was a jump, whose cut may not be heard yet.
    bool lastSeekJump = false;
    std::string lyrics;  // in the file's tags
  } gui;

  // Under `mutex`.
  struct LockedState {
    bool asyncDone = false;
    bool failed = false;
    Failure failure;  // the first error the bus reported
    bool queueEvents = false;
    std::deque<GraphEvent> events;
    double rate = 1.0;  // the playback speed; seeks carry it
    // The plan: the GUI thread sets it, the bus handler runs it on when a
    // segment is done, the sink probe places each pass.
    RunningPlan plan;
    int64_t segmentStopNs = -1;  // B of the segment seek playing, -1 for none
    Join join;                   // a seek without flush on its way
    // A flushing seek is on its way: a segment done before its flush reaches
    // the sink belongs to what the flush ends.
    bool flushPending = false;
    Join flushJoin;              // the step the first segment after a flush starts
    // A seek in a silence lands in the pass the silence led to, which is
    // told as it lands.
    bool announce = false;
    // The clock when a pass was ended by a seek while playing: what was heard
    // stops then, and its gap is counted from there, not from the restart.
    int64_t flushClockNs = -1;
    // A seek spliced into what plays: its first segment is placed a lead
    // after what is heard now, over what the sink still holds.
    bool splicePending = false;
    int64_t clipAtNs = -1;    // where the sink ends a segment at another speed (B)
    int64_t clipFromNs = -1;  // where the sink starts a segment at another speed
    // Steps sent on their way and steps heard since the last flush: while
    // more are sent than heard, what follows the pass heard is on its way.
    int stepsSent = 0;
    int stepsHeard = 0;
    std::vector<Segment> sinkSegments;  // since the last flush, oldest first
    // The seek whose segment the sink has taken (sinkSegments are its).
    uint64_t segmentsGeneration = 0;
    // A spliced jump's cut, for the sink to place (atNs -1: none), at the
    // speed of the new segment.
    Cut cut;
    double cutSpeed = 1.0;
    // The jumps sent whose segment has not reached the sink yet, added up.
    int64_t jumpCarryNs = 0;
  } locked;

  // Atomic: read and written by any thread.
  struct SharedState {
    std::atomic<bool> atEnd{false};
    std::atomic<bool> audioPadLinked{false};
    std::atomic<uint64_t> buffersAtSink{0};
    // Seeks: the GUI thread numbers them, the sink probe tells which one's
    // data has arrived; a seek whose data has not arrived reads as its target.
    std::atomic<uint64_t> seekGeneration{0};
    std::atomic<uint64_t> flushedGeneration{0};
    std::atomic<uint64_t> landedGeneration{0};
    std::atomic<bool> awaitingFirstBuffer{false};
    // The splitter's seek in flight: its event's number and the true target.
    std::atomic<uint32_t> leadInSeqnum{GST_SEQNUM_INVALID};
    std::atomic<int64_t> leadInTargetNs{0};
    std::atomic<bool> playing{false};      // the pipeline is in PLAYING
    std::atomic<bool> markDiscont{false};  // the next buffer at the sink follows a silence
    std::atomic<int64_t> discontFromNs{0};  // where that buffer's segment starts
    std::atomic<bool> splicing{false};     // the seek on its way keeps its flush from the sink
    std::atomic<bool> sinkAtEos{false};    // the sink has the end of the stream
    // The running time up to which the sink has written since it was last
    // flushed (what the sound server holds reaches no further); -1 for none.
    std::atomic<int64_t> writtenEndNs{-1};
    // Where a plan that ends in a stop stopped (B), -1 for none: nothing
    // follows there until the next run or seek.
    std::atomic<int64_t> stoppedAtNs{-1};
    // Where the recording's first sample lies in the file's time (the front
    // end's files only): the sink's segments and the seeks are moved by it.
    std::atomic<int64_t> originNs{0};
    void Reset();
  } shared;

  // The sink's streaming thread's.
  PcmTap tap;  // the observer's
  Segment sinkSegment;  // the segment the sink plays its buffers by

  ClockTimers timers;
  SpliceWatch watch;
};

}  // namespace orvex
