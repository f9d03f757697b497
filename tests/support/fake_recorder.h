#pragma once
// A microphone answered by hand: what was asked of it, and the events it
// gives back when the test says.

#include <cstdint>
#include <string>
#include <vector>

#include "playback/recorder.h"

namespace orvex::test {

class FakeRecorder : public Recorder {
 public:
  bool Listen() override { return answers; }
  void StopListening() override {}
  bool Record(const std::string& path, int32_t, int64_t fromNs, bool playBack) override {
    if (!answers) return false;
    takes.push_back(path);
    from.push_back(fromNs);
    playsBack = playBack;
    return true;
  }
  void EndRecording() override {}
  bool Play(const std::string&, int32_t, int32_t) override { return true; }
  void Stop() override { ++stops; }
  int32_t LevelPercent() const override { return 0; }
  bool TakeEvent(RecorderEvent& event) override {
    if (events.empty()) return false;
    event = events.front();
    events.erase(events.begin());
    return true;
  }
  bool answers = true;  // false: no input to open or record
  std::vector<std::string> takes;
  std::vector<int64_t> from;
  bool playsBack = false;
  int stops = 0;
  std::vector<RecorderEvent> events;
};

}  // namespace orvex::test
