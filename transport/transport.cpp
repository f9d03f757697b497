// The transport: play state, the A and B points, jumps, volume, mute and
// channel, the 25 ms tick and closing a file. Every command guards itself,
// does nothing when the transport is not in a state it acts in, and ends by
// publishing the new view.

#include <algorithm>
#include <cstdint>

#include "app/app.h"
#include "core/texts.h"
#include "settings/settings.h"
#include "transport/open_file.h"

namespace orvex {

void App::Publish() {
  TransportView v;
  v.loaded = bLoaded != 0 && player != nullptr;
  v.playState = playState;
  if (v.loaded) {
    v.positionMs = player->GetPositionMs();
    v.lengthMs = player->GetDurationMs();
  }
  v.pointA = pointA;
  v.pointB = pointB;
  v.volume = volume;
  v.mute = bMute != 0;
  v.channel = channel;
  v.jumpSeconds = jumpSeconds;
  v.topmost = bTopmost != 0;
  v.rate = rate_;
  v.repeatCount = repeatCount_;
  v.repeatGap = static_cast<int32_t>(repeatGap_);
  v.pass = looping_ ? passes_ : 0;
  v.inGap = inGap_;
  v.sentences = sentences_;
  v.sentence = CurrentSentence();
  v.analysing = analysing_;
  if (transcript_ && v.sentence >= 0 && v.loaded) {
    const Sentence& line = (*sentences_)[static_cast<size_t>(v.sentence)];
    if (v.positionMs < line.endMs) v.lineText = line.text;
  }
  v.track = track_;
  v.seeks = seeks_;
  v.filePath = filePath;
  v.title = v.loaded ? FileTitle(filePath) + " - " + std::string(Text(kTextCaption))
                     : std::string(Text(kTextCaption));
  v.status = StatusText();
  view_ = std::move(v);
  shell_->TransportChanged(view_);
}

void App::SeekPlayer(int32_t ms) {
  if (handoff_) {
    // A seek in the last pass: no hand-on, playback goes on past B.
    handoff_ = false;
    player->ClearLoop();
  }
  player->SeekMs(ms);
  ++seeks_;
}

void App::ApplySettings(const Settings& settings) {
  bMute = settings.mute;
  volume = std::clamp(settings.volume, kVolumeSilent, kVolumeFull);
  jumpSeconds = ClampJumpSeconds(settings.jumpSeconds);
  channel = kChannelStereo;
  if (bLoaded) {
    player->SetChannel(channel);
    player->SetVolume(AudibleVolume());
  }
  Publish();
}

Settings App::CurrentSettings() const {
  return Settings{bMute, volume, jumpSeconds};
}

int32_t App::AudibleVolume() const {
  return bMute ? kVolumeSilent : volume;
}

void App::TogglePlay() {
  if (!bLoaded) return;
  shell_->DismissToolbarTip();
  switch (playState) {
    case Stopped:
    case Paused: {
      if (playState == Stopped) SeekPlayer(0);
      const Result r = player->Run();
      if (Failed(r)) {
        shell_->ShowError(FormatText(kTextPlayFailed, {player->ErrorText(r)}));
        return;
      }
      playState = Playing;
      break;
    }
    case Playing:
      player->Pause();
      playState = Paused;
      break;
  }
  status_ = Text(playState == Playing ? kTextPlaying : kTextPaused);
  Publish();
}

void App::Stop() {
  if (!Active()) return;
  shell_->DismissToolbarTip();
  EndLoop();
  sentence_ = -1;
  player->Stop();
  SeekPlayer(0);
  playState = Stopped;
  pointB = -1;
  pointA = -1;
  status_ = Text(kTextStopped);
  Publish();
}

void App::JumpForward() {
  if (!Active()) return;
  // 64-bit sum: a position near the top of the range must not wrap to negative.
  const int64_t target = int64_t{player->GetPositionMs()} + int64_t{jumpSeconds} * 1000;
  SeekPlayer(static_cast<int32_t>(std::min<int64_t>(target, INT32_MAX)));
  Publish();
}

void App::JumpBackward() {
  if (!Active()) return;
  const int64_t target = int64_t{player->GetPositionMs()} - int64_t{jumpSeconds} * 1000;
  SeekPlayer(static_cast<int32_t>(std::max<int64_t>(target, INT32_MIN)));
  Publish();
}

void App::GoToStart() {
  if (!Active()) return;
  SeekPlayer(0);
  Publish();
}

void App::GoToEnd() {
  if (!Active()) return;
  SeekPlayer(player->GetDurationMs());
  Publish();
}

void App::SeekTo(int32_t ms) {
  if (!Active()) return;
  SeekPlayer(ms);
  Publish();
}

void App::RepeatKey() {
  shell_->DismissToolbarTip();
  if (!Active()) return;
  if (pointA == -1) {
    pointA = player->GetPositionMs();
  } else if (pointB == -1) {
    const int32_t p = player->GetPositionMs();
    if (p >= pointA) {
      pointB = p;
    } else {
      pointB = pointA;
      pointA = p;
    }
    // The player loops from here; the pass in progress is not one of the
    // repeats.
    sentence_ = -1;
    StartLoop(false);
  } else {
    EndLoop();
    sentence_ = -1;
    pointB = -1;
    pointA = -1;
  }
  Publish();
}

void App::SetChannel(int32_t c) {
  channel = c;
  if (bLoaded) player->SetChannel(c);
  Publish();
}

void App::SetVolume(int32_t v) {
  volume = std::clamp(v, kVolumeSilent, kVolumeFull);
  if (bLoaded && !bMute) player->SetVolume(volume);
  Publish();
}

void App::SetMute(bool mute) {
  bMute = mute ? 1 : 0;
  if (bLoaded) player->SetVolume(AudibleVolume());
  Publish();
}

void App::SetJumpSeconds(int32_t seconds) {
  jumpSeconds = ClampJumpSeconds(seconds);
  Publish();
}

void App::SetTopmost(bool topmost) {
  bTopmost = topmost ? 1 : 0;
  Publish();
}

void App::Tick() {
  if (playState != Playing) return;
  if (pointB != -1) {
    const int32_t p = player->GetPositionMs();
    if (handoff_) {
      // The player goes on to the next sentence at B by itself.
    } else if (lastPass_) {
      // The last pass plays on past B, as if the repeat key were pressed; a
      // sentence's last pass goes on to the next sentence.
      if (p >= pointB) {
        if (FollowingSentence()) {
          PlaySentence(sentence_ + 1);
          return;
        }
        EndLoop();
        sentence_ = -1;
        pointA = pointB = -1;
      }
    } else if (!inGap_ && (p < pointA || p > pointB)) {
      // A safety net: the player loops by itself and reads exactly A or B at
      // a pass's edges, so only a position outside the loop goes back to A.
      SeekPlayer(pointA);
    }
  }
  Publish();
}

void App::OnGraphEvent() {
  if (!bLoaded) return;
  GraphEvent event;
  bool taken = false;
  while (player->TakeEvent(event)) {
    taken = true;
    if (event.code == kEventErrorAbort && playState == Playing) {
      Stop();
      const std::string text = event.text.empty() ? player->ErrorText(event.param1) : event.text;
      shell_->ShowError(FormatText(kTextPlaybackAbort, {text}));
      return;
    }
    if (event.code == kEventLoopGap && looping_) {
      inGap_ = true;
      continue;
    }
    const Sentence* next = handoff_ ? FollowingSentence() : nullptr;
    if (!next) handoff_ = false;  // the sentences went: the tick decides again
    if (event.code == kEventLoopRepeat && looping_ && next) {
      // The next sentence's first pass is heard: it is the loop now.
      sentence_ += 1;
      pointA = next->startMs;
      pointB = next->endMs;
      StartLoop(true);
      ++seeks_;
      continue;
    }
    if (event.code == kEventLoopRepeat && looping_) {
      inGap_ = false;
      ++returns_;
      ++passes_;
      ++seeks_;
      CheckLastPass();
      continue;
    }
    // The end of the stream, unless a seek has taken playback back since,
    // or the A-B loop takes it back now.
    if (event.code == kEventComplete && playState == Playing && (pointB == -1 || lastPass_) &&
        player->IsAtEnd()) {
      shell_->EndPositionDrag();
      Stop();
      return;
    }
  }
  if (taken) Publish();
}

void App::CloseFile() {
  if (!bLoaded) return;
  Stop();
  DropSentences();
  filePath.clear();
  if (player) {
    player->Teardown();
    player.reset();
  }
  bLoaded = 0;
  playState = Stopped;
  status_ = Text(kTextNotLoaded);
  Publish();
}

void App::ExitProgram() {
  if (bLoaded) CloseFile();
  ExitProcedure();
}

void App::ExitProcedure() {
  if (const auto message = SaveSettings(CurrentSettings())) shell_->ShowError(*message);
  if (const auto message = SaveLearnSettings(CurrentLearnSettings())) shell_->ShowError(*message);
  shell_->DestroyMainWindow();
}

}  // namespace orvex
