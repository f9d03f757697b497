// The learning aids: speed without a change of pitch, the loop's repeat count
// and the silence between its passes, and nudging A and B. The player plays
// the loop; the application decides where A and B are, counts the passes and
// ends the loop after the last one.

#include <algorithm>
#include <cstdio>

#include "app/app.h"
#include "core/texts.h"

namespace orvex {

void App::ApplyLearnSettings(const LearnSettings& learn) {
  rate_ = ValidRate(learn.rate) ? learn.rate : kRateNormal;
  repeatCount_ = ValidRepeatCount(learn.repeatCount) ? learn.repeatCount : 0;
  repeatGap_ = learn.gap;
  if (bLoaded) player->SetRate(rate_);
  Publish();
}

LearnSettings App::CurrentLearnSettings() const {
  return LearnSettings{rate_, repeatCount_, repeatGap_};
}

void App::Slower() {
  rate_ = StepRate(rate_, -1);
  if (bLoaded) player->SetRate(rate_);
  Publish();
}

void App::Faster() {
  rate_ = StepRate(rate_, 1);
  if (bLoaded) player->SetRate(rate_);
  Publish();
}

void App::SetRate(int32_t percent) {
  const int32_t steps = (percent - kRateNormal + (percent >= kRateNormal ? 2 : -2)) / kRateStep;
  rate_ = StepRate(kRateNormal, steps);
  if (bLoaded) player->SetRate(rate_);
  Publish();
}

void App::NormalSpeed() {
  rate_ = kRateNormal;
  if (bLoaded) player->SetRate(rate_);
  Publish();
}

void App::SetRepeatCount(int32_t count) {
  if (!ValidRepeatCount(count)) return;
  repeatCount_ = count;
  // The count starts again from the pass in progress.
  if (looping_) StartLoop(false);
  Publish();
}

void App::SetRepeatGap(RepeatGap gap) {
  repeatGap_ = gap;
  // The last pass plays on (or hands on to the next sentence, which takes
  // the new silence): the loop in the player stays as it is.
  if (looping_ && !lastPass_) player->SetLoop(pointA, pointB, GapMs(repeatGap_, pointA, pointB));
  Publish();
}

void App::NudgeA(int32_t deltaMs) {
  if (!Active() || pointA == -1) return;
  sentence_ = -1;  // a loop of the learner's own now
  pointA = NudgedA(pointA, pointB, player->GetDurationMs(), deltaMs);
  if (pointB != -1) {
    StartLoop(true);
  }
  SeekPlayer(pointA);
  Publish();
}

void App::NudgeB(int32_t deltaMs) {
  if (!Active() || pointB == -1) return;
  sentence_ = -1;
  pointB = NudgedB(pointA, pointB, player->GetDurationMs(), deltaMs);
  StartLoop(false);
  // The new end is heard at once.
  SeekPlayer(std::max(pointB - kNudgeBLeadMs, pointA));
  Publish();
}

void App::StartLoop(bool atA) {
  // Points closer than that are no loop to play: the tick takes playback
  // back to A, as it always did.
  if (pointB - pointA < kMinLoopMs) {
    EndLoop();
    return;
  }
  looping_ = true;
  player->SetLoop(pointA, pointB, GapMs(repeatGap_, pointA, pointB));
  inGap_ = false;
  lastPass_ = false;
  handoff_ = false;
  returns_ = 0;
  passes_ = atA ? 1 : 0;
  // Begun at A, the pass in progress is the first of N; begun on the way to
  // B, it is none of them, and N returns follow.
  returnsAllowed_ = repeatCount_ == 0 ? -1 : atA ? repeatCount_ - 1 : repeatCount_;
  CheckLastPass();
}

void App::EndLoop() {
  if (looping_ && (!lastPass_ || handoff_) && player) player->ClearLoop();
  looping_ = false;
  inGap_ = false;
  lastPass_ = false;
  handoff_ = false;
  passes_ = 0;
}

void App::CheckLastPass() {
  if (returnsAllowed_ < 0 || returns_ < returnsAllowed_ || lastPass_) return;
  lastPass_ = true;
  // A sentence's last pass ends at B and the next sentence follows at once,
  // handed on by the player. Otherwise (or when the player cannot) playback
  // goes on past B, and the points go, or the tick moves on to the next
  // sentence, when it gets there.
  if (const Sentence* next = FollowingSentence()) {
    handoff_ = player->QueueLoop(next->startMs, next->endMs, 0);
    if (handoff_) return;
  }
  player->ClearLoop();
}

std::string App::StatusText() const {
  std::string text = inGap_ ? std::string(Text(kTextStatusInGap)) : status_;
  if (rate_ != kRateNormal && bLoaded) {
    char rate[16];
    std::snprintf(rate, sizeof rate, "%d.%02d", rate_ / 100, rate_ % 100);
    text += ' ';
    text += FormatText(kTextStatusRate, {rate});
  }
  if (sentences_ && Active()) {
    const int32_t k = CurrentSentence();
    if (k >= 0) {
      text += ' ';
      text += FormatText(kTextStatusSentence,
                         {std::to_string(k + 1), std::to_string(sentences_->size())});
    }
  }
  if (analysing_ >= 0) {
    text += ' ';
    text += FormatText(kTextStatusAnalysing, {std::to_string(analysing_)});
  }
  if (looping_ && repeatCount_ > 0 && passes_ > 0) {
    text += ' ';
    text += FormatText(kTextStatusPass, {std::to_string(std::min(passes_, repeatCount_)),
                                         std::to_string(repeatCount_)});
  }
  return text;
}

}  // namespace orvex
