#pragma once
// The Recorder over GStreamer: the default input (or a pipeline description
// of the caller's) through a level meter into Opus in Ogg, and a playbin for
// the takes. Streaming threads only queue an event and call the notify.

#include <functional>
#include <memory>
#include <string>

#include "playback/recorder.h"

namespace orvex {

class GstRecorder : public Recorder {
 public:
  // source: a gst-launch description of the input; empty for the default
  // input of the sound server.
  explicit GstRecorder(std::function<void()> notify = {}, std::string source = {});
  ~GstRecorder() override;
  GstRecorder(const GstRecorder&) = delete;
  GstRecorder& operator=(const GstRecorder&) = delete;

  bool HasInput() override;
  bool Record(const std::string& path, int32_t windowMs) override;
  void EndRecording() override;
  bool Play(const std::string& path, int32_t fromMs, int32_t toMs) override;
  void Stop() override;
  int32_t LevelPercent() const override;
  bool TakeEvent(RecorderEvent& event) override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvex
