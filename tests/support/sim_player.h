#pragma once
// A simulated player that keeps the player contract with a clock advanced by
// hand. It can log its calls into a log shared with the recording shell, so a
// test sees player calls and notifications in one order. Its loop plan runs
// exactly as the contract says (playback/player.h), so the transport's tests
// judge what a learner would hear.

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playback/player.h"

namespace orvex::test {

class SimPlayer : public Player {
 public:
  explicit SimPlayer(std::vector<std::string>* log = nullptr, int32_t durationMs = 60000)
      : log_(log), durationMs_(durationMs) {}

  Result BuildWithMp3Parser(const std::string& path) override;
  Result BuildWithMpeg1Splitter(const std::string& path) override;
  Result BuildWithDecoder(const std::string& path) override;
  // With deferBuilds, the result comes as kEventBuilt, as from the engine's
  // thread.
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
  bool TakeEvent(GraphEvent& event) override;
  std::string ErrorText(Result code) const override;
  std::string EmbeddedLyrics() const override { return lyrics; }

  // The clock: while running, ms of real time pass. The position moves on by
  // ms at the rate, stops at the end, where an end-of-stream event is
  // queued, and follows the plan (its passes, gaps and stretches) exactly.
  void Advance(int32_t ms);
  // Queues an abort event as a streaming thread would.
  void QueueAbort(Result code, std::string text);

  // Scripted outcomes.
  // Files neither builder takes (no MPEG audio in them), whatever the script.
  std::function<bool(const std::string& path)> refuses;
  bool deferBuilds = false;
  Result runResult = kOk;
  Result mp3ParserResult = kOk;
  Result splitterResult = kOk;
  Result decoderResult = kOk;
  // What SetRate answers; on failure the rate stays as it was.
  Result rateResult = kOk;
  std::string lyrics;

  // Observed state.
  bool built = false;
  bool running = false;
  int teardowns = 0;
  int32_t volume = 0;
  int32_t balance = 0;
  std::string builtPath;
  std::string builtWith;  // "mp3Parser", "splitter" or "decoder"
  int32_t positionMs = 0;
  int32_t rate = kRateNormal;
  // The plan running: none when plan.stretches is empty.
  LoopPlan plan;
  size_t stretch = 0;  // the stretch playing
  int32_t pass = 0;    // its pass in progress; 0 for one that is not counted
  int32_t gapLeft = 0;  // ms of silence still to come; 0 outside a gap
  // The loop heard now: -1 when no plan runs.
  int32_t loopA() const { return Looping() ? plan.stretches[stretch].aMs : -1; }
  int32_t loopB() const { return Looping() ? plan.stretches[stretch].bMs : -1; }
  bool Looping() const { return !plan.stretches.empty(); }
  int32_t durationMs() const { return durationMs_; }

 private:
  void Log(const std::string& entry);
  void QueueEndIfThere();
  void Queue(int32_t code, int32_t passNumber = 0, int32_t stretchNumber = 0);
  // B reached (or passed): the next pass, the next stretch, or what follows.
  void EndPass();
  void BeginPass(int32_t passNumber);
  // A plan replaced or cleared: its events not taken yet go with it.
  void DropPlanEvents();
  bool endQueued_ = false;
  int32_t rateCarry_ = 0;
  std::vector<std::string>* log_;
  int32_t durationMs_;
  std::deque<GraphEvent> events_;
};

// Makes SimPlayers; each created player takes the next scripted pair of build
// results (mp3 parser, splitter), or success when the script has run out, and
// the decoder's result.
class SimPlayerFactory : public PlayerFactory {
 public:
  explicit SimPlayerFactory(std::vector<std::string>* log = nullptr) : log_(log) {}
  bool HasAudioDevice() override { return hasDevice; }
  std::unique_ptr<Player> Create() override;

  bool hasDevice = true;
  int32_t durationMs = 60000;
  std::deque<std::pair<Result, Result>> buildScript;
  Result decoderResult = kOk;
  // What every player it makes answers to SetRate.
  Result rateResult = kOk;
  std::string lyrics;  // in the tags of every file it builds
  bool deferBuilds = false;  // every player's builds answer by event
  std::function<bool(const std::string& path)> refuses;
  int created = 0;
  SimPlayer* last = nullptr;  // valid while its owner keeps it

 private:
  std::vector<std::string>* log_;
};

}  // namespace orvex::test
