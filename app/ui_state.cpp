#include "app/ui_state.h"

#include "app/commands.h"
#include "core/learn.h"
#include "core/texts.h"

#include <iterator>

namespace orvex {

int RepeatPhaseText(const TransportView& v, int setA, int setB, int clear) {
  if (v.pointA == -1) return setA;
  if (v.pointB == -1) return setB;
  return clear;
}

int ToolbarBitmapFor(const TransportView& v) {
  if (!v.loaded || v.playState == Stopped) return 135;
  const int base = v.playState == Paused ? 135 : 132;
  return RepeatPhaseText(v, base, base + 1, base + 2);
}

ToolbarEnable ToolbarEnableFor(const TransportView& v) {
  ToolbarEnable e;
  e.play = v.loaded;
  e.transport = v.Active();
  return e;
}

int TooltipTextFor(int command, const TransportView& v) {
  switch (command) {
    case kCmdOpen:
      return kTextTipOpen;
    case kCmdPlay:
      return v.playState == Playing ? kTextTipPause : kTextTipPlay;
    case kCmdStop:
      return kTextTipStop;
    case kCmdJumpForward:
      return kTextTipJumpForward;
    case kCmdJumpBackward:
      return kTextTipJumpBack;
    case kCmdRepeat:
      return RepeatPhaseText(v, kTextTipSetA, kTextTipSetB, kTextTipClearAB);
    default:
      return 0;
  }
}

MenuState MenuStateFor(const TransportView& v) {
  MenuState m;
  m.playText = v.loaded && v.playState == Playing ? kTextMenuPause : kTextMenuPlay;
  m.topmostText = v.topmost ? kTextMenuNotTopmost : kTextMenuTopmost;
  m.repeatText = RepeatPhaseText(v, kTextMenuSetA, kTextMenuSetB, kTextMenuClearAB);
  m.playEnabled = v.loaded;
  m.transportEnabled = v.Active();
  m.checkedChannel = v.channel == 1 ? kCmdLeft : v.channel == 2 ? kCmdRight : kCmdStereo;
  return m;
}

LearnMenuState LearnMenuStateFor(const TransportView& v) {
  LearnMenuState l;
  l.slower = v.rate > kRateMin;
  l.faster = v.rate < kRateMax;
  l.normal = v.rate != kRateNormal;
  l.nudgeA = v.Active() && v.pointA != -1;
  l.nudgeB = v.Active() && v.pointB != -1;
  l.sentences = v.HasSentences();
  for (int i = 0; i < static_cast<int>(std::size(kRepeatCounts)); ++i) {
    if (kRepeatCounts[i] == v.repeatCount) l.checkedCount = i;
  }
  l.checkedGap = v.repeatGap;
  return l;
}

}  // namespace orvex
