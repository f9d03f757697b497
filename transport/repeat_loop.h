#pragma once
// The repeat loop: the A and B points (none, A alone, or A and B), the loop
// plans the player runs from them (or from the sentences), with the repeat
// count and the silence between passes, and the plan's events followed. The
// player alone decides when a pass begins and ends; this side only shows
// what it reports. It is the one owner of the points: the window shows these.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/learn.h"
#include "core/sentence.h"
#include "playback/player.h"

namespace orvex {

class RepeatLoop {
 public:
  // What an event of the plan changed.
  enum class Heard {
    kNothing,
    kPass,   // a pass began: the points are its stretch's A and B
    kGap,    // the silence between two passes began
    kEnded,  // the last pass reached B: the loop is over and the points are gone
  };

  int32_t repeatCount() const { return count_; }
  RepeatGap gap() const { return gap_; }
  bool running() const { return running_; }
  // The pass playing, from 1; 0 before the first counted one.
  int32_t pass() const { return running_ ? pass_ : 0; }
  bool inGap() const { return running_ && inGap_; }
  // The sentence the loop plays; -1 for a loop of the learner's own.
  int32_t sentence() const { return running_ && sentences_ ? sentence_ : -1; }
  // The points, -1 for none: A alone (B -1) waits for B; with both, the loop
  // runs and they are the stretch playing.
  int32_t aMs() const { return aMs_; }
  int32_t bMs() const { return bMs_; }

  // Settings that need no player (nothing loops while none is loaded).
  void SetCount(int32_t count) { count_ = count; }
  void SetGap(RepeatGap gap) { gap_ = gap; }

  // A alone, where the next B will make the loop; any loop ends.
  void SetA(Player* player, int32_t aMs);
  // B set by the repeat key: the pass in progress plays on to B (or ends at
  // once, past it) and is none of the counted ones.
  void FromKey(Player& player, int32_t aMs, int32_t bMs);
  // Sentence k and, with a count, every one after it, from k's start.
  void FromSentence(Player& player, std::shared_ptr<const std::vector<Sentence>> sentences,
                    int32_t k);
  // A moved: the learner's own loop from the new A, a counted pass.
  void FromA(Player& player, int32_t aMs, int32_t bMs);
  // B moved: the learner's own loop, heard from startMs on the way to B.
  void FromLead(Player& player, int32_t aMs, int32_t bMs, int32_t startMs);
  // A new count starts from the pass in progress; a new gap keeps the count.
  void ChangeCount(Player* player, int32_t count);
  void ChangeGap(Player* player, RepeatGap gap);
  // Shadowing: the silence after each pass is the recording and the take's
  // playback instead of the gap setting.
  bool shadowing() const { return shadowing_ && !suspended_; }
  void ChangeShadowing(Player* player, bool on);
  // No take can be made: this loop goes on as without shadowing (the next
  // loop tries again).
  void SuspendShadowing(Player* player);
  // The silence in progress ends and the next pass begins at A.
  void EndGap(Player* player);
  // No more passes, and no points: playback goes on past B.
  void Clear(Player* player);

  // Follows one of the player's events.
  Heard Take(const GraphEvent& event);

 private:
  // Hands the plan of the loop as it stands to the player.
  void Hand(Player& player, int32_t startMs, int32_t firstPass);

  // The silence after a pass from a to b.
  int32_t GapAfter(int32_t aMs, int32_t bMs) const;
  // The plan handed anew with the same stretches, the count going on.
  void Rehand(Player& player);

  int32_t count_ = 0;
  bool shadowing_ = false;
  bool suspended_ = false;
  RepeatGap gap_ = RepeatGap::kNone;
  bool running_ = false;
  int32_t pass_ = 0;
  bool inGap_ = false;
  // The points; while the loop runs, the stretch playing. With sentences,
  // sentence_ is its index, and the plan's first stretch is sentence first_.
  int32_t aMs_ = -1;
  int32_t bMs_ = -1;
  std::shared_ptr<const std::vector<Sentence>> sentences_;
  int32_t sentence_ = -1;
  int32_t first_ = -1;
  size_t stretches_ = 0;  // in the plan handed over
};

}  // namespace orvex
