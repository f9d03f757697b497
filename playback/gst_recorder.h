#pragma once
// The Recorder over GStreamer. The input (the sound server's default, or a
// pipeline description of the caller's) streams, while it is open, through a
// level meter into a buffer of its last seconds; a take is cut from that
// stream by the steady clock, so it begins at the instant asked for, to the
// sample, however late the call came. The take is written as Opus in Ogg and
// played back from memory the moment its window is over. All of that runs on
// GStreamer's threads; they only queue an event and call the notify.

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

  bool Listen() override;
  void StopListening() override;
  bool Record(const std::string& path, int32_t windowMs, int64_t fromNs, bool playBack) override;
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
