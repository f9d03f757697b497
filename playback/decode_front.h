#pragma once
// The second way into the engine, for every lesson that is not MP3: a bin
// "frontEnd" holding filesrc ! parsebin and, once parsebin has found the
// container and its audio track, the decoder the registry ranks highest for
// that track, then audioconvert. The bin's "src" pad exists from the start,
// so the renderer links to it while the graph is built, as it links to the
// MP3 decoder; decoded audio flows from it once the track is found.
//
// The file's bytes decide, not its name: bare MPEG audio and MPEG program
// streams are left to the MP3 path (nothing is added); every other container
// comes here whatever its sound, MP3 included (the decoder is chosen once the
// track's caps are fixed: a parser's first caps name the layer). A tag demuxer
// is let near a file only when its leading ID3v2 tag has a sound size and no
// MP3 follows it.
//
// Accurate seeks go to the pipeline as for MP3. The seeks a loop sends
// without a flush when its segment is done go upstream from the pad linked
// to "src" (gst_pad_push_event on that sink pad): through the decoder to
// the demuxer, never through the pipeline's state lock. A segment seek's stop
// is sent on 100 ms further and the answering segment cut back to it on its
// way out (the audio sink plays no further): demuxers end a segment early
// otherwise (qtdemux by up to an AAC frame, 271 samples at each seam of a
// loop from 2 s to 4 s; matroskademux 244 samples of Opus).
//
// A file in which no audio track turns up (a video alone, an Ogg of pictures)
// gets an error message on the bus from the bin, "no audio track", when the
// first data of another track flows; other faults come from the elements
// themselves (qtdemux on a cut file, typefind on unknown bytes).

#include <gst/gst.h>

#include <string>

#include "playback/format_probe.h"
#include "playback/gst_ptr.h"
#include "playback/player.h"

namespace orvex {

struct DecodeFront {
  // The bin is in the pipeline and `audioSrc` can be linked.
  bool ok = false;
  // The file holds bare MPEG audio or a program stream: it is the MP3
  // path's; nothing was added.
  bool isMp3 = false;
  // Why not, when neither: our code and a text for the log.
  Result code = kOk;
  std::string text;
  LessonProbe probe;
  GstElement* bin = nullptr;  // "frontEnd", owned by the pipeline
  GstPadPtr audioSrc;         // the bin's "src" ghost pad
};

// Reads the file's first bytes, and unless it is MP3, empty or unreadable,
// adds the front end to the pipeline (left in the NULL state: it follows the
// pipeline's state changes).
DecodeFront AddDecodeFront(GstElement* pipeline, const std::string& path);

// True once an audio track of the front end's file is linked to a decoder
// (the file then really holds audio; check after the preroll).
bool DecodeFrontHasAudio(GstElement* bin);

// The end of the audio track as its demuxer's first segment states it (an
// MP4 edit list), or its Matroska DURATION tag, in nanoseconds; -1 when
// neither does. A video's duration query answers the
// longest track (in an MP4 the picture often runs on past the sound): the
// length of the lesson is the smaller of the two.
int64_t DecodeFrontTrackEndNs(GstElement* bin);

// Where the first decoded sample lies on the file's timeline, in
// nanoseconds, once it has passed (-1 before): 0 where the container puts the
// recording's first sample at 0 (an MP4 edit list, Ogg granule positions),
// more where it does not, as in a Matroska file that ffmpeg moved on so no
// time is negative (its Vorbis at 2.9 ms). The preroll from the start sets
// it. Positions shown and seeks asked are then file time minus this.
int64_t DecodeFrontFirstSampleNs(GstElement* bin);

// The lesson's length once the front end has prerolled: from the recording's
// first sample to the end of its audio track (the smaller of the duration
// query's answer, durationNs, and DecodeFrontTrackEndNs); 0 when unknown.
int64_t DecodeFrontLengthNs(GstElement* bin, int64_t durationNs);

// The factory name of the decoder chosen for the track ("" before one is).
std::string DecodeFrontDecoder(GstElement* bin);
// The first lyrics tag that came out before the first sample; empty without.
std::string DecodeFrontLyrics(GstElement* bin);

}  // namespace orvex
