#include "app/ui_state.h"

#include "app/commands.h"
#include "app/texts.h"

namespace orvex {

int RepeatPhaseText(const App& app, int setA, int setB, int clear) {
  if (app.pointA == -1) return setA;
  if (app.pointB == -1) return setB;
  return clear;
}

int ToolbarBitmapFor(const App& app) {
  if (!app.bLoaded || app.playState == Stopped) return 135;
  const int base = app.playState == Paused ? 135 : 132;
  return RepeatPhaseText(app, base, base + 1, base + 2);
}

ToolbarEnable ToolbarEnableFor(const App& app) {
  ToolbarEnable e;
  e.play = app.bLoaded != 0;
  e.transport = app.Active();
  return e;
}

int TooltipTextFor(int command, const App& app) {
  switch (command) {
    case kCmdOpen:
      return kTextTipOpen;
    case kCmdPlay:
      return app.playState == Playing ? kTextTipPause : kTextTipPlay;
    case kCmdStop:
      return kTextTipStop;
    case kCmdJumpForward:
      return kTextTipJumpForward;
    case kCmdJumpBackward:
      return kTextTipJumpBack;
    case kCmdRepeat:
      return RepeatPhaseText(app, kTextTipSetA, kTextTipSetB, kTextTipClearAB);
    default:
      return 0;
  }
}

MenuState MenuStateFor(const App& app) {
  MenuState m;
  m.playText = app.bLoaded && app.playState == Playing ? kTextMenuPause : kTextMenuPlay;
  m.topmostText = app.bTopmost ? kTextMenuNotTopmost : kTextMenuTopmost;
  m.repeatText = RepeatPhaseText(app, kTextMenuSetA, kTextMenuSetB, kTextMenuClearAB);
  m.playEnabled = app.bLoaded != 0;
  m.transportEnabled = app.Active();
  m.checkedChannel = app.channel == 1 ? kCmdLeft : app.channel == 2 ? kCmdRight : kCmdStereo;
  return m;
}

}  // namespace orvex
