#pragma once
// What the buffer tap at the sink's input hands its observer (pcm_tap.h). This
// header does not include GStreamer, so the window side can use it freely.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orvex {

// A block of the samples that reach the audio sink, for tests and benchmarks.
struct PcmBlock {
  int64_t ptsNs = -1;  // stream time of the first frame, -1 when unknown
  int sampleRate = 0;
  int channels = 0;
  const float* samples = nullptr;  // interleaved, channels x frames
  size_t frames = 0;
  uint64_t seekGeneration = 0;  // the seek this block belongs to (0: none yet)
  bool firstAfterSeek = false;  // the first block of that seek
};
using PcmObserver = std::function<void(const PcmBlock&)>;

}  // namespace orvex
