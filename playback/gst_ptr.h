#pragma once
// Owning pointers for GStreamer objects. Elements added to a bin belong to the
// bin and are never unreffed by us as well; these hold only what we own.

#include <gst/gst.h>

#include <memory>

namespace orvex {

struct GstObjectUnref {
  void operator()(gpointer object) const noexcept { gst_object_unref(object); }
};

using GstElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using GstPadPtr = std::unique_ptr<GstPad, GstObjectUnref>;
using GstBusPtr = std::unique_ptr<GstBus, GstObjectUnref>;

// The top-level pipeline: stopped (NULL state) before its last reference goes,
// the order gst-play uses.
struct GstPipelineFree {
  void operator()(GstElement* pipeline) const noexcept {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
  }
};
using GstPipelinePtr = std::unique_ptr<GstElement, GstPipelineFree>;

// Takes ownership of a newly created (floating) object.
template <typename T>
T* SinkFloating(T* object) {
  if (object) gst_object_ref_sink(object);
  return object;
}

}  // namespace orvex
