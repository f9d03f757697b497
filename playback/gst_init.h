#pragma once
// Starting GStreamer, for every part of the program that uses it. This header
// does not include GStreamer, so the window side can use it freely.

namespace orvex {

// Initialises GStreamer once for the process; further calls, from any thread,
// do nothing.
void EnsureGstInit();

}  // namespace orvex
