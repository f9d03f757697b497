#include "transport/repeat_loop.h"

#include <algorithm>
#include <utility>

namespace orvex {

int32_t RepeatLoop::GapAfter(int32_t aMs, int32_t bMs) const {
  return shadowing() ? ShadowGapMs(aMs, bMs) : GapMs(gap_, aMs, bMs);
}

void RepeatLoop::Hand(Player& player, int32_t startMs, int32_t firstPass) {
  LoopPlan plan;
  if (sentences_) {
    // Without a count only this sentence plays, without limit; with one,
    // each next sentence follows after its last pass.
    const auto all = static_cast<int32_t>(sentences_->size());
    const int32_t last = count_ == 0 ? sentence_ : all - 1;
    for (int32_t k = sentence_; k <= last; ++k) {
      const Sentence& s = (*sentences_)[static_cast<size_t>(k)];
      plan.stretches.push_back({s.startMs, s.endMs, GapAfter(s.startMs, s.endMs)});
    }
    first_ = sentence_;
  } else {
    plan.stretches.push_back({aMs_, bMs_, GapAfter(aMs_, bMs_)});
  }
  plan.passes = count_;
  plan.after = AfterPlan::kGoOn;
  // A take follows each sentence's last pass too.
  plan.gapBeforeHandOn = shadowing();
  plan.startMs = startMs;
  plan.firstPass = firstPass;
  stretches_ = plan.stretches.size();
  running_ = true;
  pass_ = firstPass;
  inGap_ = false;
  player.SetLoopPlan(plan);
}

void RepeatLoop::SetA(Player* player, int32_t aMs) {
  Clear(player);
  aMs_ = aMs;
}

void RepeatLoop::FromKey(Player& player, int32_t aMs, int32_t bMs) {
  suspended_ = false;
  sentences_.reset();
  aMs_ = aMs;
  bMs_ = bMs;
  Hand(player, -1, 0);
}

void RepeatLoop::FromSentence(Player& player,
                              std::shared_ptr<const std::vector<Sentence>> sentences,
                              int32_t k) {
  suspended_ = false;
  sentences_ = std::move(sentences);
  sentence_ = k;
  const Sentence& s = (*sentences_)[static_cast<size_t>(k)];
  aMs_ = s.startMs;
  bMs_ = s.endMs;
  Hand(player, aMs_, 1);
}

void RepeatLoop::FromA(Player& player, int32_t aMs, int32_t bMs) {
  suspended_ = false;
  sentences_.reset();
  aMs_ = aMs;
  bMs_ = bMs;
  Hand(player, aMs, 1);
}

void RepeatLoop::FromLead(Player& player, int32_t aMs, int32_t bMs, int32_t startMs) {
  suspended_ = false;
  sentences_.reset();
  aMs_ = aMs;
  bMs_ = bMs;
  Hand(player, startMs, 0);
}

void RepeatLoop::ChangeCount(Player* player, int32_t count) {
  count_ = count;
  if (!running_ || !player) return;
  // In a silence no pass is in progress: the first counted one follows now.
  if (inGap_) {
    Hand(*player, aMs_, 1);
  } else {
    Hand(*player, -1, 0);
  }
}

void RepeatLoop::ChangeGap(Player* player, RepeatGap gap) {
  gap_ = gap;
  if (running_ && player) Rehand(*player);
}

void RepeatLoop::ChangeShadowing(Player* player, bool on) {
  shadowing_ = on;
  suspended_ = false;
  if (running_ && player) Rehand(*player);
}

void RepeatLoop::SuspendShadowing(Player* player) {
  suspended_ = true;
  if (running_ && player) Rehand(*player);
}

void RepeatLoop::EndGap(Player* player) {
  if (inGap() && player) Rehand(*player);
}

void RepeatLoop::Rehand(Player& player) {
  // The same stretches from this one on, the count going on; a silence in
  // progress ends, and the pass after it begins: the next sentence's first
  // after a sentence's last pass.
  if (inGap_ && sentences_ && count_ > 0 && pass_ >= count_ &&
      static_cast<size_t>(sentence_) + 1 < sentences_->size()) {
    const Sentence& next = (*sentences_)[static_cast<size_t>(++sentence_)];
    aMs_ = next.startMs;
    bMs_ = next.endMs;
    Hand(player, aMs_, 1);
  } else if (inGap_) {
    Hand(player, aMs_, pass_ + 1);
  } else {
    Hand(player, -1, pass_);
  }
}

void RepeatLoop::Clear(Player* player) {
  if (running_ && player) player->ClearLoop();
  running_ = false;
  inGap_ = false;
  pass_ = 0;
  sentences_.reset();
  sentence_ = -1;
  aMs_ = -1;
  bMs_ = -1;
}

RepeatLoop::Heard RepeatLoop::Take(const GraphEvent& event) {
  if (!running_) return Heard::kNothing;
  switch (event.code) {
    case kEventPassStarted: {
      // An event of a plan handed over before this one may still be queued.
      if (event.stretch < 0 || static_cast<size_t>(event.stretch) >= stretches_) {
        return Heard::kNothing;
      }
      if (sentences_) {
        sentence_ = first_ + event.stretch;
        const Sentence& s = (*sentences_)[static_cast<size_t>(sentence_)];
        aMs_ = s.startMs;
        bMs_ = s.endMs;
      }
      pass_ = event.pass;
      inGap_ = false;
      return Heard::kPass;
    }
    case kEventGapStarted:
      inGap_ = true;
      return Heard::kGap;
    case kEventPlanEnded:
      Clear(nullptr);
      return Heard::kEnded;
    default:
      return Heard::kNothing;
  }
}

}  // namespace orvex
