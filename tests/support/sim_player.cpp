#include "tests/support/sim_player.h"

#include <algorithm>

#include "playback/error_text.h"

namespace orvex::test {

void SimPlayer::Log(const std::string& entry) {
  if (log_) log_->push_back("player." + entry);
}

Result SimPlayer::BuildWithMp3Parser(const std::string& path) {
  Log("BuildWithMp3Parser");
  if (refuses && refuses(path)) return kErrNotMpegAudio;
  if (Failed(mp3ParserResult)) return mp3ParserResult;
  built = true;
  builtPath = path;
  builtWith = "mp3Parser";
  return kOk;
}

Result SimPlayer::BuildWithMpeg1Splitter(const std::string& path) {
  Log("BuildWithMpeg1Splitter");
  if (refuses && refuses(path)) return kErrNotMpegAudio;
  if (Failed(splitterResult)) return splitterResult;
  built = true;
  builtPath = path;
  builtWith = "splitter";
  return kOk;
}

Result SimPlayer::BuildWithDecoder(const std::string& path) {
  Log("BuildWithDecoder");
  if (Failed(decoderResult)) return decoderResult;
  built = true;
  builtPath = path;
  builtWith = "decoder";
  return kOk;
}

bool SimPlayer::StartBuild(BuildWith with, const std::string& path, Result* result) {
  Player::StartBuild(with, path, result);
  if (!deferBuilds) return true;
  events_.push_back({kEventBuilt, *result, {}});
  return false;
}

void SimPlayer::Teardown() {
  Log("Teardown");
  ++teardowns;
  built = false;
  running = false;
  plan = LoopPlan{};
  gapLeft = 0;
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
  int32_t target = std::clamp(ms, 0, durationMs_);
  endQueued_ = false;
  if (Looping()) {
    // A seek in a gap ends the silence: the next pass begins.
    if (gapLeft > 0) BeginPass(pass + 1);
    // Before A goes to A; at or past B ends the pass; the count goes on.
    target = std::max(target, loopA());
    positionMs = target;
    if (positionMs >= loopB()) EndPass();
  } else {
    positionMs = target;
  }
  QueueEndIfThere();
}

void SimPlayer::JumpMs(int32_t deltaMs) {
  Log("JumpMs(" + std::to_string(deltaMs) + ")");
  Player::JumpMs(deltaMs);
}

void SimPlayer::QueueEndIfThere() {
  // Like the pipeline's end of stream: once, when running playback is at the end.
  if (running && positionMs >= durationMs_ && !endQueued_) {
    endQueued_ = true;
    Queue(kEventComplete);
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

void SimPlayer::Queue(int32_t code, int32_t passNumber, int32_t stretchNumber) {
  GraphEvent event;
  event.code = code;
  event.pass = passNumber;
  event.stretch = stretchNumber;
  events_.push_back(event);
}

void SimPlayer::DropPlanEvents() {
  std::erase_if(events_, [](const GraphEvent& e) {
    return e.code == kEventPassStarted || e.code == kEventGapStarted ||
           e.code == kEventPlanEnded;
  });
}

void SimPlayer::BeginPass(int32_t passNumber) {
  pass = passNumber;
  gapLeft = 0;
  positionMs = loopA();
  Queue(kEventPassStarted, pass, static_cast<int32_t>(stretch));
}

void SimPlayer::EndPass() {
  const LoopStretch& s = plan.stretches[stretch];
  if (plan.passes == 0 || pass < plan.passes) {
    if (s.gapMs > 0) {
      // The silence holds A; the next pass begins when it is over.
      positionMs = s.aMs;
      gapLeft = s.gapMs;
      Queue(kEventGapStarted);
    } else {
      BeginPass(pass + 1);
    }
  } else if (stretch + 1 < plan.stretches.size()) {
    ++stretch;
    if (plan.gapBeforeHandOn && s.gapMs > 0) {
      // The silence holds the next A; its first pass follows.
      pass = 0;
      positionMs = plan.stretches[stretch].aMs;
      gapLeft = s.gapMs;
      Queue(kEventGapStarted);
    } else {
      BeginPass(1);
    }
  } else {
    // What follows is heard from B: playback on, or the stop there.
    positionMs = s.bMs;
    const AfterPlan after = plan.after;
    plan = LoopPlan{};
    Queue(kEventPlanEnded);
    if (after == AfterPlan::kStop) running = false;
  }
}

void SimPlayer::Advance(int32_t ms) {
  if (!running) return;
  int32_t left = ms;  // real time
  while (left > 0 && running) {
    if (gapLeft > 0) {
      const int32_t step = std::min(left, gapLeft);
      gapLeft -= step;
      left -= step;
      if (gapLeft == 0) BeginPass(pass + 1);
      continue;
    }
    // Source time at the rate, the fractions of a millisecond carried over.
    const int64_t scaled = int64_t{left} * rate + rateCarry_;
    const int32_t source = static_cast<int32_t>(scaled / kRateNormal);
    if (Looping() && int64_t{positionMs} + source >= loopB()) {
      // The pass ends at B exactly; the rest of the time goes on after it.
      const int32_t used =
          static_cast<int32_t>(int64_t{loopB() - positionMs} * kRateNormal / rate);
      left -= std::max(used, 1);
      positionMs = loopB();
      EndPass();
      continue;
    }
    rateCarry_ = static_cast<int32_t>(scaled % kRateNormal);
    positionMs = std::min(positionMs + source, durationMs_);
    left = 0;
  }
  QueueEndIfThere();
}

void SimPlayer::SetLoopPlan(const LoopPlan& next) {
  std::string entry = "SetLoopPlan(";
  for (const LoopStretch& s : next.stretches) {
    entry += std::to_string(s.aMs) + "-" + std::to_string(s.bMs) + "+" + std::to_string(s.gapMs) +
             " ";
  }
  entry += "x" + std::to_string(next.passes) + " from " + std::to_string(next.startMs) + " pass " +
           std::to_string(next.firstPass) + (next.after == AfterPlan::kStop ? " stop)" : ")");
  Log(entry);
  DropPlanEvents();
  gapLeft = 0;
  if (next.stretches.empty() || next.stretches.front().bMs <= next.stretches.front().aMs) {
    plan = LoopPlan{};  // no plan: the loop is cleared
    return;
  }
  plan = next;
  stretch = 0;
  pass = next.firstPass;
  if (next.startMs >= 0) {
    positionMs = std::clamp(next.startMs, 0, durationMs_);
    endQueued_ = false;
  }
  if (pass >= 1) Queue(kEventPassStarted, pass, 0);
  // A position at or past B ends the pass in progress there.
  if (positionMs >= loopB()) EndPass();
  QueueEndIfThere();
}

void SimPlayer::ClearLoop() {
  Log("ClearLoop");
  DropPlanEvents();
  plan = LoopPlan{};
  gapLeft = 0;  // a gap ends at once, and playback goes on from A
}

Result SimPlayer::SetRate(int32_t percent) {
  Log("SetRate(" + std::to_string(percent) + ")");
  if (Failed(rateResult)) return rateResult;
  rate = percent;
  return kOk;
}

void SimPlayer::QueueAbort(Result code, std::string text) {
  Queue(kEventComplete);
  GraphEvent abort;
  abort.code = kEventErrorAbort;
  abort.param1 = code;
  abort.text = std::move(text);
  events_.push_back(std::move(abort));
}

std::unique_ptr<Player> SimPlayerFactory::Create() {
  if (log_) log_->push_back("factory.Create");
  auto player = std::make_unique<SimPlayer>(log_, durationMs);
  player->refuses = refuses;
  player->decoderResult = decoderResult;
  player->rateResult = rateResult;
  player->lyrics = lyrics;
  player->deferBuilds = deferBuilds;
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
