#include "tests/support/sim_player.h"

#include <algorithm>

#include "playback/error_text.h"

namespace orvex::test {

void SimPlayer::Log(const std::string& entry) {
  if (log_) log_->push_back("player." + entry);
}

Result SimPlayer::BuildWithMp3Parser(const std::string& path) {
  Log("BuildWithMp3Parser");
  if (Failed(mp3ParserResult)) return mp3ParserResult;
  built = true;
  builtPath = path;
  builtWith = "mp3Parser";
  return kOk;
}

Result SimPlayer::BuildWithMpeg1Splitter(const std::string& path) {
  Log("BuildWithMpeg1Splitter");
  if (Failed(splitterResult)) return splitterResult;
  built = true;
  builtPath = path;
  builtWith = "splitter";
  return kOk;
}

void SimPlayer::Teardown() {
  Log("Teardown");
  ++teardowns;
  built = false;
  running = false;
}

Result SimPlayer::Run() {
  Log("Run");
  if (Failed(runResult)) return runResult;
  running = true;
  QueueEndIfThere();
  return kOk;
}

Result SimPlayer::Pause() {
  Log("Pause");
  running = false;
  return kOk;
}

Result SimPlayer::Stop() {
  Log("Stop");
  running = false;
  return kOk;
}

void SimPlayer::SeekMs(int32_t ms) {
  Log("SeekMs(" + std::to_string(ms) + ")");
  positionMs = std::clamp(ms, 0, durationMs_);
  gapLeft = 0;
  endQueued_ = false;
  QueueEndIfThere();
}

void SimPlayer::QueueEndIfThere() {
  // Like the pipeline's end of stream: once, when running playback is at the end.
  if (running && positionMs >= durationMs_ && !endQueued_) {
    endQueued_ = true;
    events_.push_back(GraphEvent{kEventComplete, 0, {}});
  }
}

int32_t SimPlayer::GetPositionMs() {
  return positionMs;
}
int32_t SimPlayer::GetDurationMs() {
  return durationMs_;
}
bool SimPlayer::IsAtEnd() {
  return positionMs >= durationMs_;
}

Result SimPlayer::SetVolume(int32_t hundredthsOfDb) {
  Log("SetVolume(" + std::to_string(hundredthsOfDb) + ")");
  volume = hundredthsOfDb;
  return kOk;
}

Result SimPlayer::SetChannel(int32_t channel) {
  Log("SetChannel(" + std::to_string(channel) + ")");
  balance = channel == 1 ? -10000 : channel == 2 ? 10000 : 0;
  return kOk;
}

bool SimPlayer::TakeEvent(GraphEvent& event) {
  if (events_.empty()) return false;
  event = events_.front();
  events_.pop_front();
  return true;
}

std::string SimPlayer::ErrorText(Result code) const {
  return OwnErrorText(code);
}

void SimPlayer::Advance(int32_t ms) {
  if (!running) return;
  int32_t left = ms;  // real time
  while (left > 0) {
    if (gapLeft > 0) {
      const int32_t step = std::min(left, gapLeft);
      gapLeft -= step;
      left -= step;
      if (gapLeft == 0) events_.push_back(GraphEvent{kEventLoopRepeat, 0, {}});
      continue;
    }
    // Source time at the rate, the fractions of a millisecond carried over.
    const int64_t scaled = int64_t{left} * rate + rateCarry_;
    const int32_t source = static_cast<int32_t>(scaled / kRateNormal);
    if (loopB >= 0 && positionMs <= loopB && positionMs + source >= loopB) {
      // The pass ends at B exactly; the rest of the time goes on from A.
      const int32_t used = static_cast<int32_t>(int64_t{loopB - positionMs} * kRateNormal / rate);
      left -= std::max(used, 1);
      int32_t gap = loopGap;
      if (nextB >= 0) {
        // The queued loop takes over, after this pass's silence.
        loopA = nextA;
        loopB = nextB;
        loopGap = nextGap;
        nextA = nextB = -1;
        gap = loopGap;
      }
      positionMs = loopA;
      if (gap > 0) {
        gapLeft = gap;
        events_.push_back(GraphEvent{kEventLoopGap, 0, {}});
      } else {
        events_.push_back(GraphEvent{kEventLoopRepeat, 0, {}});
      }
      continue;
    }
    rateCarry_ = static_cast<int32_t>(scaled % kRateNormal);
    positionMs = std::min(positionMs + source, durationMs_);
    left = 0;
  }
  QueueEndIfThere();
}

void SimPlayer::SetLoop(int32_t aMs, int32_t bMs, int32_t gapMs) {
  Log("SetLoop(" + std::to_string(aMs) + "," + std::to_string(bMs) + "," + std::to_string(gapMs) +
      ")");
  loopA = aMs;
  loopB = bMs;
  loopGap = gapMs;
  nextA = nextB = -1;
  // A pass at or past the new B has ended: it returns to A as the clock runs.
  if (aMs < bMs && positionMs > bMs) positionMs = bMs;
}

bool SimPlayer::QueueLoop(int32_t aMs, int32_t bMs, int32_t gapMs) {
  Log("QueueLoop(" + std::to_string(aMs) + "," + std::to_string(bMs) + "," + std::to_string(gapMs) +
      ")");
  if (loopB < 0 || bMs <= aMs) return false;
  nextA = aMs;
  nextB = bMs;
  nextGap = gapMs;
  return true;
}

void SimPlayer::ClearLoop() {
  Log("ClearLoop");
  nextA = nextB = -1;
  loopA = loopB = -1;
  gapLeft = 0;  // a gap ends at once, and playback goes on from A
}

Result SimPlayer::SetRate(int32_t percent) {
  Log("SetRate(" + std::to_string(percent) + ")");
  rate = percent;
  return kOk;
}

void SimPlayer::QueueAbort(Result code, std::string text) {
  events_.push_back(GraphEvent{kEventComplete, 0, {}});
  events_.push_back(GraphEvent{kEventErrorAbort, code, std::move(text)});
}

std::unique_ptr<Player> SimPlayerFactory::Create() {
  if (log_) log_->push_back("factory.Create");
  auto player = std::make_unique<SimPlayer>(log_, durationMs);
  if (!buildScript.empty()) {
    player->mp3ParserResult = buildScript.front().first;
    player->splitterResult = buildScript.front().second;
    buildScript.pop_front();
  }
  ++created;
  last = player.get();
  return player;
}

}  // namespace orvex::test
