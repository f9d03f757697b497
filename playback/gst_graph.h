#pragma once
// The pieces the builders assemble a graph from: pad look-up and the audio
// output device.

#include <gst/gst.h>

#include <string>

#include "playback/gst_ptr.h"
#include "playback/mpeg_scan.h"

namespace orvex {

// The index-th pad of the direction on the element (pads of the other
// direction do not count), with one reference for the caller; none when there
// are not that many.
GstPadPtr FindPin(GstElement* element, GstPadDirection direction, int index);

// Makes an element of the factory (named name, or automatically for null) and
// adds it to bin, which then owns it. When the factory is not installed it
// gives null and, for the first such factory, records its name in missing.
GstElement* AddElement(GstElement* bin, const char* factory, const char* name,
                       std::string& missing);

// The sink element of the default audio output device ("Audio/Sink" devices:
// the one marked is-default, else the first), owned by the caller; none when
// there is no output device at all. The device provider of the highest ranked
// audio sink's plugin is asked first, alone; only when it has no output does a
// device monitor ask every provider.
GstElementPtr FindDefaultAudioRenderer();

// Fits what the MPEG audio parser passes on to the decoder to the file its
// frame scan describes (a probe on the parser's output, gone with the parser).
//  - The decoder (mpg123) decodes the first frame it gets only once it has
//    seen the header of the next, and a file of one audio frame has none: the
//    file's last audio frame goes out with a copy of its own header behind it.
//  - The parser marks every frame behind junk as a discontinuity, and at each
//    the decoder starts afresh, dropping the frame it holds: in a file whose
//    frames are parted by junk, only the first frame of a segment keeps it.
void FitParserOutput(GstElement* parser, const MpegScan& scan);

// Sets the pipeline to PAUSED with its MPEG audio parser started at the file's
// first frame: ID3 tags (pictures above all) hold byte runs the parser would
// take for frames. The parser's first read waits while its seek index is
// filled with the exact offset of every few frames the scan found and it is
// sent to 0 through that index, the segment ending at the scan's length; the
// same index keeps later accurate seeks exact to the sample, VBR files
// without a Xing/Info header included. Gives the state change's result.
GstStateChangeReturn PauseAtFirstFrame(GstElement* pipeline, GstElement* parser,
                                       const MpegScan& scan);

// How urgent a graph's streaming threads are: what is heard goes before the
// programs beside it, a decoding in the background after them.
enum class ThreadUrgency { kHeard, kBackground };

// Called from a bus sync handler with every message: when the message tells
// that a streaming thread begins (it is posted from that very thread), the
// thread takes the urgency's scheduling priority. Raising it needs the right
// to (CAP_SYS_NICE or an RLIMIT_NICE/RLIMIT_RTPRIO allowance); without it the
// thread keeps the ordinary priority, and the log says so once.
void ApplyThreadUrgency(GstMessage* message, ThreadUrgency urgency);

}  // namespace orvex
