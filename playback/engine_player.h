#pragma once
// The engine's own thread. The window never calls GStreamer itself: an
// EnginePlayer hands each command to a thread that owns one GstPlayer and
// returns at once, as GstPlay and MPD's player thread do. What the window
// reads (the position, the length, whether playback is at the end) comes
// from a snapshot that the thread publishes after every command, every event
// and every 100 ms while playing; between two, the position is carried on by the clock
// at the speed, never past B or the end. Graph events come as before.
//
// Commands merge on their way: a seek or a jump that follows another still
// waiting replaces it (jumps add up, each counted by the engine from the
// place heard where its cut is heard), as do loop plans, speeds, volumes and
// channels in a row. The thread waits on the sound server, not the window: a
// stalled server delays the sound, and what was asked meanwhile is done when
// it answers.
//
// StartBuild returns at once and the build's result comes as an event; the
// Build* calls wait for it, bounded by the preroll (each player has a thread
// of its own, so no other player's command can hold it). Destroying
// the player posts its teardown and returns at once; the thread ends by
// itself (WaitForEngines waits for those still ending, at exit).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "playback/gst_player.h"

namespace orvex {

class EnginePlayer : public Player {
 public:
  explicit EnginePlayer(GraphNotify notify = {}, GstPlayerOptions options = {});
  ~EnginePlayer() override;
  EnginePlayer(const EnginePlayer&) = delete;
  EnginePlayer& operator=(const EnginePlayer&) = delete;

  Result BuildWithMp3Parser(const std::string& path) override;
  Result BuildWithMpeg1Splitter(const std::string& path) override;
  Result BuildWithDecoder(const std::string& path) override;
  // Returns at once: kEventBuilt brings the result.
  bool StartBuild(BuildWith with, const std::string& path, Result* result) override;
  void Teardown() override;
  Result Run() override;
  Result Pause() override;
  Result Stop() override;
  void SeekMs(int32_t ms) override;
  void JumpMs(int32_t deltaMs) override;
  int32_t GetPositionMs() override;
  int32_t GetDurationMs() override;
  bool IsAtEnd() override;
  void SetLoopPlan(const LoopPlan& plan) override;
  void ClearLoop() override;
  Result SetRate(int32_t percent) override;
  Result SetVolume(int32_t hundredthsOfDb) override;
  Result SetChannel(int32_t channel) override;
  std::string EmbeddedLyrics() const override;
  bool TakeEvent(GraphEvent& event) override;
  std::string ErrorText(Result code) const override;

  // For tests and benchmarks: how many commands were merged into others on
  // their way, and the longest the thread took over one command (ns).
  uint64_t MergedCommands() const;
  int64_t LongestCommandNs() const;

  struct Engine;

 private:
  Result Build(BuildWith builder, const std::string& path);
  std::shared_ptr<Engine> engine_;
};

// Waits up to timeout for the threads of the players destroyed so far to
// end; true when none is left.
bool WaitForEngines(std::chrono::milliseconds timeout);

}  // namespace orvex
