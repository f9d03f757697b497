#pragma once
// The player over GStreamer, and the start-up checks that go with it. This
// header does not include GStreamer, so the window side can use it freely.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "playback/gst_init.h"
#include "playback/pcm_block.h"
#include "playback/player.h"

namespace orvex {

// Whether the element factories the graph needs exist: -1 when mpg123audiodec
// or mpegaudioparse is missing (the installation is broken), 0 when
// mpegpsdemux or filesrc is missing (the system's GStreamer is), 1 when all
// exist. They are looked for in that order and the first missing one decides.
int CheckRequiredFilters();
// The same rule over any look-up, so the rule can be exercised without
// removing plug-ins.
int CheckRequiredFilters(const std::function<bool(const char* factoryName)>& hasFactory);

// Called from a GStreamer streaming thread (or the GUI thread) whenever a
// graph event has been queued; it must only hand the news on (the main window
// posts itself an event) and never call into the player.
using GraphNotify = std::function<void()>;

struct GstPlayerOptions {
  // Ends the renderer in a fake sink that takes data as fast as it comes
  // instead of the audio device: for decoding a whole file in tests and
  // benchmarks. HasAudioDevice is not consulted then.
  bool fastFakeRenderer = false;
  // Sees every block that reaches the sink, on the streaming thread.
  PcmObserver observer;
  // How long a build waits for the pipeline to preroll.
  int prerollTimeoutMs = 5000;
};

class GstPlayer : public Player {
 public:
  explicit GstPlayer(GraphNotify notify = {}, GstPlayerOptions options = {});
  ~GstPlayer() override;
  GstPlayer(const GstPlayer&) = delete;
  GstPlayer& operator=(const GstPlayer&) = delete;

  Result BuildWithMp3Parser(const std::string& path) override;
  Result BuildWithMpeg1Splitter(const std::string& path) override;
  Result BuildWithDecoder(const std::string& path) override;
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
  bool TakeEvent(GraphEvent& event) override;
  std::string ErrorText(Result code) const override;
  std::string EmbeddedLyrics() const override;

  // The position with what the engine thread's snapshot needs to carry it
  // on between two readings: whether it moves with the clock (at `speed`)
  // and up to where (B, or the length).
  struct PositionReading {
    int64_t ns = 0;
    bool moving = false;
    int64_t untilNs = 0;
    double speed = 1.0;
  };
  PositionReading ReadPosition();
  // Whether the graph can change the speed (scaletempo is there); true
  // while unbuilt.
  bool HasTempo() const;

  // For benchmarks: the number of the last seek sent to the graph
  // (PcmBlock::seekGeneration of its data). A seek to where the last one went,
  // made before its first sample is heard, sends nothing.
  uint64_t LastSeekNumber() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class GstPlayerFactory : public PlayerFactory {
 public:
  explicit GstPlayerFactory(GraphNotify notify = {}) : notify_(std::move(notify)) {}
  ~GstPlayerFactory() override;
  // True when the device monitor finds an audio output device.
  bool HasAudioDevice() override;
  // A new player on a thread of its own (EnginePlayer, over a GstPlayer) that
  // reports graph events through the factory's callback.
  std::unique_ptr<Player> Create() override;

 private:
  GraphNotify notify_;
};

}  // namespace orvex
