#pragma once
// The engine's log: GST_DEBUG=orvex:5 tells the whole story of a session
// (each build, seek, state change, plan, pass, gap, hand-on, plan end and
// error). The category is defined once, in gst_player.cpp.

#include <gst/gst.h>

GST_DEBUG_CATEGORY_EXTERN(orvex_engine);
#define GST_CAT_DEFAULT orvex_engine
