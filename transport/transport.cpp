// The transport: play state, the A and B points, jumps, the 25 ms tick and
// closing a file. Every operation guards itself and does nothing when the
// transport is not in a state it acts in.

#include <algorithm>
#include <cstdint>

#include "app/app.h"
#include "app/texts.h"
#include "settings/settings.h"

namespace orvex {

void App::SetStatus(int part, std::string_view text) {
  if (shell) shell->SetStatusText(part, std::string(text));
}

void App::TogglePlay() {
  if (!bLoaded) return;
  if (shell) shell->DismissToolbarTip();
  switch (playState) {
    case Stopped:
    case Paused: {
      if (playState == Stopped) player->SeekMs(0);
      const Result r = player->Run();
      if (Failed(r)) {
        if (shell) shell->ShowError(FormatText(kTextPlayFailed, {player->ErrorText(r)}));
        return;
      }
      if (shell) shell->StartTickTimer();
      playState = Playing;
      break;
    }
    case Playing:
      player->Pause();
      if (shell) shell->StopTickTimer();
      playState = Paused;
      break;
  }
  if (shell) {
    shell->RefreshViews();
    shell->UpdateToolbarImage();
    shell->UpdateToolbarEnable();
  }
  SetStatus(0, Text(playState == Playing ? kTextPlaying : kTextPaused));
}

void App::Stop() {
  if (!Active()) return;
  if (shell) shell->DismissToolbarTip();
  player->Stop();
  player->SeekMs(0);
  if (shell) shell->StopTickTimer();
  playState = Stopped;
  pointB = -1;
  pointA = -1;
  if (shell) {
    shell->UpdateToolbarImage();
    shell->UpdateToolbarEnable();
    shell->RefreshViews();
  }
  SetStatus(0, Text(kTextStopped));
}

void App::JumpForward() {
  if (!Active()) return;
  // 64-bit sum: a position near the top of the range must not wrap to negative.
  const int64_t target = int64_t{player->GetPositionMs()} + int64_t{jumpSeconds} * 1000;
  player->SeekMs(static_cast<int32_t>(std::min<int64_t>(target, INT32_MAX)));
  if (shell) shell->RefreshViews();
}

void App::JumpBackward() {
  if (!Active()) return;
  const int64_t target = int64_t{player->GetPositionMs()} - int64_t{jumpSeconds} * 1000;
  player->SeekMs(static_cast<int32_t>(std::max<int64_t>(target, INT32_MIN)));
  if (shell) shell->RefreshViews();
}

void App::GoToStart() {
  if (!Active()) return;
  player->SeekMs(0);
  if (shell) shell->RefreshViews();
}

void App::GoToEnd() {
  if (!Active()) return;
  player->SeekMs(player->GetDurationMs());
  if (shell) shell->RefreshViews();
}

void App::RepeatKey() {
  if (shell) shell->DismissToolbarTip();
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
  } else {
    pointB = -1;
    pointA = -1;
  }
  if (shell) {
    shell->UpdateToolbarImage();
    shell->UpdateToolbarEnable();
    shell->RefreshViews();
  }
}

void App::SetChannel(int32_t c) {
  channel = c;
  if (bLoaded) player->SetChannel(c);
}

void App::Tick() {
  if (playState != Playing) return;
  if (shell) shell->RefreshViews();
  if (pointB != -1) {
    const int32_t p = player->GetPositionMs();
    if (pointA < p && p < pointB) return;
    player->SeekMs(pointA);
    return;
  }
  if (player->IsAtEnd()) {
    if (shell) shell->EndPositionDrag();
    Stop();
  }
}

void App::OnGraphEvent() {
  if (!bLoaded) return;
  GraphEvent event;
  while (player->TakeEvent(event)) {
    if (event.code == kEventErrorAbort && playState == Playing) {
      Stop();
      const std::string text = event.text.empty() ? player->ErrorText(event.param1) : event.text;
      if (shell) shell->ShowError(FormatText(kTextPlaybackAbort, {text}));
      return;
    }
  }
}

void App::CloseFile() {
  if (!bLoaded) return;
  Stop();
  filePath.clear();
  if (player) {
    player->Teardown();
    player.reset();
  }
  bLoaded = 0;
  playState = Stopped;
  if (shell) shell->RefreshViews();
  SetStatus(0, Text(kTextNotLoaded));
  SetStatus(1, "");
  if (shell) {
    shell->UpdateToolbarEnable();
    shell->SetTitle(std::string(Text(kTextCaption)));
  }
}

void App::ExitProgram() {
  if (bLoaded) CloseFile();
  ExitProcedure();
}

void App::ExitProcedure() {
  SaveSettings(*this);
  if (shell) shell->DestroyMainWindow();
}

}  // namespace orvex
