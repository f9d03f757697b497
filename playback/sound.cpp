#include "playback/sound.h"

#include <gst/gst.h>

#include "playback/gst_init.h"

namespace orvex {

bool PlaySoundFileSync(const std::string& path) {
  EnsureGstInit();
  GstElement* pipeline = gst_pipeline_new("rejectSound");
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  GstElement* parse = gst_element_factory_make("wavparse", nullptr);
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  GstElement* sink = gst_element_factory_make("autoaudiosink", nullptr);
  if (!pipeline || !source || !parse || !convert || !resample || !sink) {
    for (GstElement* e : {pipeline, source, parse, convert, resample, sink}) {
      if (e) gst_object_unref(e);
    }
    return false;
  }
  g_object_set(source, "location", path.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(pipeline), source, parse, convert, resample, sink, nullptr);
  bool played = false;
  if (gst_element_link_many(source, parse, convert, resample, sink, nullptr) &&
      gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
    GstBus* bus = gst_element_get_bus(pipeline);
    // A warning sound is short: ten seconds end even a stuck output.
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message) {
      played = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
      gst_message_unref(message);
    }
    gst_object_unref(bus);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return played;
}

}  // namespace orvex
