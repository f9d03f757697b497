#include "transport/transport.h"

#include <algorithm>

#include "core/learn.h"
#include "core/texts.h"
#include "transport/open_file.h"

namespace orvex {

Transport::Transport(Shell& shell) : shell_(&shell), status_(Text(kTextNotLoaded)) {}

void Transport::Load(std::unique_ptr<Player> player, const std::string& file, bool mp3) {
  player_ = std::move(player);
  player_->SetChannel(channel_);
  player_->SetVolume(AudibleVolume());
  rateRefusalTold_ = false;
  // A speed the new player refuses is none: it plays at its own.
  if (rate_ != kRateNormal && !GiveRate(rate_)) rate_ = kRateNormal;
  playState_ = Stopped;
  filePath_ = file;
  ++track_;
  status_ = Text(mp3 ? kTextLoaded : kTextLoadedOther);
}

void Transport::Unload() {
  if (!player_) return;
  Stop();
  player_->Teardown();
  player_.reset();
  filePath_.clear();
  playState_ = Stopped;
  status_ = Text(kTextNotLoaded);
}

void Transport::SeekPlayer(int32_t ms) {
  player_->SeekMs(ms);
  ++seeks_;
}

bool Transport::TogglePlay() {
  if (!loaded()) return false;
  if (playState_ == Playing) {
    player_->Pause();
    playState_ = Paused;
  } else {
    if (playState_ == Stopped) SeekPlayer(0);
    const Result r = player_->Run();
    if (Failed(r)) {
      shell_->ShowError(FormatText(kTextPlayFailed, {player_->ErrorText(r)}));
      return false;
    }
    playState_ = Playing;
  }
  status_ = Text(playState_ == Playing ? kTextPlaying : kTextPaused);
  return true;
}

bool Transport::Stop() {
  if (!Active()) return false;
  player_->Stop();
  SeekPlayer(0);
  playState_ = Stopped;
  status_ = Text(kTextStopped);
  return true;
}

bool Transport::Jump(int32_t direction) {
  if (!Active()) return false;
  // The player counts the jump from where its cut is heard.
  player_->JumpMs(direction * jumpSeconds_ * 1000);
  ++seeks_;
  return true;
}

bool Transport::SeekTo(int64_t ms) {
  if (!Active()) return false;
  // Kept within the player's range: a position near the top must not wrap.
  SeekPlayer(static_cast<int32_t>(std::clamp<int64_t>(ms, INT32_MIN, INT32_MAX)));
  return true;
}

bool Transport::GoToEnd() {
  return Active() && SeekTo(player_->GetDurationMs());
}

void Transport::ApplySettings(const Settings& settings) {
  mute_ = settings.mute;
  volume_ = std::clamp(settings.volume, kVolumeSilent, kVolumeFull);
  jumpSeconds_ = ClampJumpSeconds(settings.jumpSeconds);
  channel_ = kChannelStereo;
  if (player_) {
    player_->SetChannel(channel_);
    player_->SetVolume(AudibleVolume());
  }
}

void Transport::SetChannel(int32_t channel) {
  channel_ = channel;
  if (player_) player_->SetChannel(channel);
}

void Transport::SetVolume(int32_t volume) {
  volume_ = std::clamp(volume, kVolumeSilent, kVolumeFull);
  if (player_ && mute_ == 0) player_->SetVolume(volume_);
}

void Transport::SetMute(bool mute) {
  mute_ = mute ? 1 : 0;
  if (player_) player_->SetVolume(AudibleVolume());
}

void Transport::SetJumpSeconds(int32_t seconds) {
  jumpSeconds_ = ClampJumpSeconds(seconds);
}

void Transport::SetRate(int64_t percent) {
  // Whole steps from 1.00x, to the nearest; anything beyond the range is its
  // end (the sum is 64-bit, so no value wraps).
  const int64_t steps = (percent - kRateNormal + (percent >= kRateNormal ? 2 : -2)) / kRateStep;
  constexpr int64_t kMostSteps = (kRateMax - kRateMin) / kRateStep;
  const int32_t rate =
      StepRate(kRateNormal, static_cast<int32_t>(std::clamp(steps, -kMostSteps, kMostSteps)));
  if (!player_ || GiveRate(rate)) rate_ = rate;
}

bool Transport::GiveRate(int32_t rate) {
  const Result r = player_->SetRate(rate);
  if (!Failed(r)) return true;
  // One box a file: every later step would only say the same again.
  if (!rateRefusalTold_) {
    rateRefusalTold_ = true;
    shell_->ShowError(FormatText(kTextRateFailed, {player_->ErrorText(r)}));
  }
  return false;
}

void Transport::Fill(TransportView& v) const {
  v.loaded = loaded();
  v.playState = playState_;
  if (v.loaded) {
    v.positionMs = player_->GetPositionMs();
    v.lengthMs = player_->GetDurationMs();
  }
  v.volume = volume_;
  v.mute = mute_ != 0;
  v.channel = channel_;
  v.jumpSeconds = jumpSeconds_;
  v.topmost = topmost_;
  v.rate = rate_;
  v.track = track_;
  v.seeks = seeks_;
  v.filePath = filePath_;
  v.title = v.loaded ? FileTitle(filePath_) + " - " + std::string(Text(kTextCaption))
                     : std::string(Text(kTextCaption));
}

}  // namespace orvex
