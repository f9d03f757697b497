#pragma once
// The program's user-visible texts, looked up by their number. They are the
// only place these texts are spelled.

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvex {

enum TextId : int {
  kTextCaption = 103,
  kTextPlaybackAbort = 110,
  kTextHint = 111,
  kTextLoadFailed = 112,
  kTextPlayFailed = 113,
  kTextFilesMissing = 114,
  kTextReinstall = 115,
  kTextRepairSystem = 116,
  kTextNotLoaded = 117,
  kTextLoaded = 118,
  kTextPlaying = 119,
  kTextPaused = 120,
  kTextStopped = 121,
  kTextMenuPlay = 122,
  kTextMenuPause = 123,
  kTextMenuTopmost = 124,
  kTextMenuNotTopmost = 125,
  kTextMenuSetA = 126,
  kTextMenuSetB = 127,
  kTextMenuClearAB = 128,
  kTextVersionObsolete = 129,
  kTextVersionNew = 130,
  kTextTipPlay = 131,
  kTextTipPause = 132,
  kTextTipStop = 133,
  kTextTipJumpBack = 134,
  kTextTipJumpForward = 135,
  kTextTipSetA = 136,
  kTextTipSetB = 137,
  kTextTipClearAB = 138,
  kTextTipOpen = 139,
  kTextReadFailed = 140,
  kTextWriteFailed = 141,
};

// The text of an id; empty for an id that has no text.
std::string_view Text(int id);

// The text of an id with each "%s" or "%S" replaced, in order, by the next
// argument. Arguments are inserted as they are: a "%s" inside an argument
// stays as it is.
std::string FormatText(int id, std::initializer_list<std::string_view> args);

}  // namespace orvex
