#pragma once
// One file's pipeline: the three builders (the MP3 parser's, the program
// stream splitter's and the decoding front end's for every other format),
// the shared renderer, and the hooks through which the
// graph's threads reach the player. Taking it down stops the pipeline
// (joining its threads) before it detaches the hooks, so no hook runs after.

#include <gst/audio/streamvolume.h>
#include <gst/gst.h>

#include <string>

#include "playback/gst_ptr.h"
#include "playback/mpeg_scan.h"
#include "playback/player.h"

namespace orvex {

enum class Builder { kMp3Parser, kSplitter, kDecoder };

const char* BuilderName(Builder builder);

// The audio sink writes to the sound server in segments of this length and
// keeps this much buffered. What passes an element before the sink is heard
// only after this buffer has played out: the channel is, but volume and mute
// are set on the sound server's stream, which applies them as it mixes. The
// sink's streaming thread waits for the server to ask for a segment, and a
// seek spliced into what plays (below) waits for that thread: so the segment
// is short. The sink's defaults (10 ms, 200 ms) cost about twice the CPU time
// of 100 ms segments.
constexpr gint64 kSinkSegmentUs = 20000;
constexpr gint64 kSinkBufferUs = 300000;

// A start of the clock on an empty sink (the first Run, a Run after a seek
// while paused, the restart behind a seek that flushes while playing) puts
// the first sample this far in the future. The sink places each sample in
// the sound server's stream by the clock; a sample whose place the server
// has already played (it reads ahead by its own block, 5-20 ms here) is cut
// away, so with no lead the first milliseconds after every seek were lost.
// After a flush the lead is heard as a short silence before the new
// position. A resume gets none: the sink still holds what it held at the
// pause, and a lead there was heard as a silence once that had played out.
constexpr GstClockTime kStartLeadNs = 40 * GST_MSECOND;

// A seek while playing is spliced into what plays instead: its flush is kept
// from the sink, which plays on what it holds, and the seek's first segment
// is placed this far after what is heard when it reaches the sink. The sink
// writes the new samples over the old ones in the server's stream, so the
// new position follows the old without a silence. The lead covers decoding
// the first buffer and the sink's wait for the server (a segment).
constexpr int64_t kSpliceLeadNs = 40 * GST_MSECOND;
// What the sink held plays on wherever nothing overwrites it, so a splice
// needs the seek's data to run on without a break past all the sink has
// written (up to its buffer, 300 ms, ahead of what is heard), by this
// margin; a seek near B or the end flushes.
constexpr int64_t kSpliceMarginNs = 40 * GST_MSECOND;
// A splice waits for the sink's streaming thread, which waits for the sound
// server to ask for a segment: a wait longer than this flushes the sink and
// the seek goes on as one that flushes (see SpliceWatch).
constexpr int64_t kSpliceDeadlineNs = 60 * GST_MSECOND;
// A jump while playing is heard this long after it is asked for, at a cut
// chosen when it is sent: the old sound ends at the cut and the new one
// begins there, so the jump is heard whole. The lead covers the seek's wait
// for the sink (a segment) and decoding the first buffer.
constexpr int64_t kJumpCutLeadNs = 60 * GST_MSECOND;

// A failure and the text that tells it.
struct Failure {
  Result code = kOk;
  std::string text;  // empty: the code's own text
};
std::string ErrorTextOf(const Failure& failure);

// The hooks through which a graph's threads reach the player.
struct GraphHooks {
  GstBusSyncHandler bus = nullptr;
  GstPadProbeCallback sinkPad = nullptr;
  GstPadProbeCallback framerSegment = nullptr;
  GCallback padAdded = nullptr;
  gpointer data = nullptr;
};

// One file's graph. The constructor builds it with one of the builders and
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
  // The MP3 decoder, or the decoding front end's bin (playback/decode_front.h).
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
  // What feeds the sink: a seek's flush is seen there before the sink, and a
  // splice keeps it from the sink.
  GstPadPtr feedPad;
  // The sink writes each sample to its place in the sound server's stream,
  // over what it wrote before and was not yet played (pulsesink): a seek can
  // be spliced into what plays, without a flush.
  bool spliceable = false;
  GstPadPtr framerPad;   // the splitter graph's framer input, where segments are set
  GstPadPtr restartPad;  // where the seeks after a segment go upstream from

 private:
  bool Fail(Result code, const std::string& detail);
  GstElement* Add(const char* factory, const char* name);
  bool Link(GstElement* from, GstElement* to);
  // The builders: the file to the decoder's output.
  bool BuildWithParser(const std::string& path, const MpegScan& scan);
  bool BuildWithSplitter(const std::string& path);
  bool BuildWithDecoder(const std::string& path);
  // What both share: speed, the renderer and the hooks.
  bool AddRenderer(bool fakeRenderer, double gain);
  bool Attach(const GraphHooks& hooks);

  gulong sinkProbe_ = 0;
  gulong feedProbe_ = 0;
  gulong framerProbe_ = 0;
  gulong padAddedHandler_ = 0;
  bool takenDown_ = false;
  bool abandoned_ = false;  // its threads did not stop: left behind
  GstPadPtr frontOut_;  // the front end's output, until the renderer is linked to it
};


}  // namespace orvex
