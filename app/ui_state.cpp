#include "app/ui_state.h"

#include "app/commands.h"
#include "core/learn.h"
#include "core/texts.h"

#include <cstdio>
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

StudyMenuState StudyMenuStateFor(const TransportView& v) {
  StudyMenuState m;
  m.forget = v.loaded;
  m.saveLoop = v.Active();
  m.savedLoops = v.loaded && v.savedLoops && !v.savedLoops->empty();
  m.removeLoop = v.loaded && v.savedLoop >= 0;
  m.previousLesson = v.loaded && v.lesson > 0;
  m.nextLesson = v.loaded && v.lesson >= 0 && v.lesson + 1 < v.lessons;
  m.checkedAfterEnd = v.playNextLesson ? kCmdAfterEndNext : kCmdAfterEndStop;
  return m;
}

namespace {

std::string Tenths(int32_t ms) {
  const int32_t tenths = ms / 100;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d.%d", tenths / 600, tenths / 10 % 60, tenths % 10);
  return text;
}

}  // namespace

std::string SavedLoopTimes(const SavedLoop& loop) {
  return Tenths(loop.aMs) + "–" + Tenths(loop.bMs);
}

std::string SavedLoopLine(const SavedLoop& loop, const std::vector<Sentence>* sentences) {
  if (!sentences) return {};
  const int k = SentenceIndexAt(*sentences, loop.aMs);
  if (k < 0 || loop.aMs >= (*sentences)[static_cast<size_t>(k)].endMs) return {};
  return (*sentences)[static_cast<size_t>(k)].text;
}

}  // namespace orvex
