#pragma once
// The pieces the builders assemble a graph from: pad look-up and the audio
// output device.

#include <gst/gst.h>

#include "playback/gst_ptr.h"

namespace orvex {

// The index-th pad of the direction on the element (pads of the other
// direction do not count), with one reference for the caller; none when there
// are not that many.
GstPadPtr FindPin(GstElement* element, GstPadDirection direction, int index);

// The sink element of the default audio output device ("Audio/Sink" devices of
// the device monitor: the one marked is-default, else the first), owned by
// the caller; none when there is no output device at all.
GstElementPtr FindDefaultAudioRenderer();

}  // namespace orvex
