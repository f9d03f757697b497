#pragma once
// What the menus and the toolbar show for the transport's state. Pure rules,
// read from the view of the transport.

#include <string>

#include "core/transport_view.h"

namespace orvex {

// The toolbar strip (132..137) for the play picture and the A-B picture.
int ToolbarBitmapFor(const TransportView& v);

struct ToolbarEnable {
  bool open = true;
  bool play = false;
  bool transport = false;  // stop, the jumps and the A-B key
};
ToolbarEnable ToolbarEnableFor(const TransportView& v);

// The tooltip text id for a toolbar command; 0 for a command without one. It
// follows playState and the points alone.
int TooltipTextFor(int command, const TransportView& v);

struct MenuState {
  int playText = 0;     // text id for the play entry
  int topmostText = 0;  // text id for the always-on-top entry
  int repeatText = 0;   // text id for the A-B entry
  bool playEnabled = false;
  bool transportEnabled = false;  // stop, A-B, the jumps, go to start and end
  int checkedChannel = 0;         // the command of the checked channel entry
};
MenuState MenuStateFor(const TransportView& v);

// The text id of the A-B key's phase: set A, set B or clear (menu or tooltip).
int RepeatPhaseText(const TransportView& v, int setA, int setB, int clear);

// What the 学习 menu shows: which entries can act, and the checked count and gap.
struct LearnMenuState {
  bool slower = false;
  bool faster = false;
  bool normal = false;
  bool nudgeA = false;     // A is set while a file plays or is paused
  bool nudgeB = false;     // B too
  bool sentences = false;  // a loaded file has sentences to step through
  int checkedCount = 0;    // index in kRepeatCounts
  int checkedGap = 0;      // a RepeatGap
};
LearnMenuState LearnMenuStateFor(const TransportView& v);

// What the 学习 menu shows of the study memory and the lessons.
struct StudyMenuState {
  bool forget = false;      // a file is loaded
  bool saveLoop = false;    // a file plays or is paused
  bool savedLoops = false;  // the file has saved loops
  bool removeLoop = false;  // the A-B loop is a saved one
  bool previousLesson = false;
  bool nextLesson = false;
  int checkedAfterEnd = 0;  // the command of the checked 播完后 entry
};
StudyMenuState StudyMenuStateFor(const TransportView& v);

// A saved loop's entry: "mm:ss.s–mm:ss.s" (minutes beyond 59 as they are),
// and the transcript's line of the sentence it starts in, when there is one.
std::string SavedLoopTimes(const SavedLoop& loop);
std::string SavedLoopLine(const SavedLoop& loop, const std::vector<Sentence>* sentences);

}  // namespace orvex
