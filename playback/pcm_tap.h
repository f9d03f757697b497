#pragma once
// The buffer tap at the sink's input: turns each buffer into a PcmBlock of
// floats for the observer of tests and benchmarks. Streaming thread only.

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <vector>

#include "playback/pcm_block.h"

namespace orvex {

class PcmTap {
 public:
  // The format of what follows, from the sink's caps.
  void SetCaps(GstCaps* caps);
  // Hands the buffer to the observer; nothing for a format it cannot read.
  void Feed(GstBuffer* buffer, uint64_t seekGeneration, bool firstAfterSeek,
            const PcmObserver& observer);

 private:
  GstAudioInfo info_{};
  bool valid_ = false;
  std::vector<float> scratch_;
};

}  // namespace orvex
