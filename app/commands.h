#pragma once
// Command identifiers of the menus, the keys and the toolbar.

namespace orvex {

enum Command : int {
  kCmdAbout = 104,
  kCmdExit = 105,
  kCmdOpen = 32771,
  kCmdSample = 32772,
  kCmdPlay = 32774,
  kCmdStop = 32775,
  kCmdJumpForward = 32776,
  kCmdJumpBackward = 32777,
  kCmdRepeat = 32778,
  kCmdGoToStart = 32779,
  kCmdGoToEnd = 32780,
  kCmdStereo = 32781,
  kCmdLeft = 32782,
  kCmdRight = 32783,
  kCmdTopmost = 32784,
  kCmdHomePage = 32786,
  kCmdBlog = 32787,
  kCmdMaterial = 32793,
  kCmdTools = 32794,
  kCmdDonate = 32797,
  kCmdMaterialGroup = 32798,
  // The learning aids.
  kCmdSlower = 32810,
  kCmdFaster = 32811,
  kCmdNormalSpeed = 32812,
  kCmdAEarlier = 32813,
  kCmdALater = 32814,
  kCmdBEarlier = 32815,
  kCmdBLater = 32816,
  kCmdPreviousSentence = 32817,
  kCmdNextSentence = 32818,
  kCmdRepeatSentence = 32819,
  kCmdRepeatCountFirst = 32820,  // + the index in kRepeatCounts
  kCmdRepeatGapFirst = 32830,    // + the RepeatGap
  // Study memory, saved loops and the lessons.
  kCmdForgetFile = 32840,
  kCmdSaveLoop = 32841,
  kCmdRemoveSavedLoop = 32842,
  kCmdNextLesson = 32843,
  kCmdPreviousLesson = 32844,
  kCmdAfterEndStop = 32845,
  kCmdAfterEndNext = 32846,
  // The wave strip: shown or not, and its zoom (keys only).
  kCmdShowWave = 32850,
  kCmdWaveZoomIn = 32851,
  kCmdWaveZoomOut = 32852,
  // Shadowing.
  kCmdShadowing = 32860,
  kCmdPlayLastTake = 32861,
  kCmdCompareTake = 32862,
};

}  // namespace orvex
