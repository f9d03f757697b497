#pragma once
// The program's user-visible texts, looked up by their number. They are the
// only place these texts are spelled. Numbers up to 141 are the program's
// original string table; 200 and on are the menus (250 the learning aids),
// 300 the dialogs and the options panel, 400 the pictures, 500 the player's
// error texts.

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
  kTextLoadedOther = 142,

  // Menus.
  kTextMenuOperation = 200,
  kTextMenuOpen = 201,
  kTextMenuSample = 202,
  kTextMenuMaterial = 203,
  kTextMenuStop = 204,
  kTextMenuJumpForward = 205,
  kTextMenuJumpBackward = 206,
  kTextMenuGoToStart = 207,
  kTextMenuGoToEnd = 208,
  kTextMenuChannel = 209,
  kTextMenuStereo = 210,
  kTextMenuLeft = 211,
  kTextMenuRight = 212,
  kTextMenuExit = 213,
  kTextMenuResources = 214,
  kTextMenuMaterialGroup = 215,
  kTextMenuTools = 216,
  kTextToolAudacity = 217,
  kTextToolAnki = 218,
  kTextToolGoldenDict = 219,
  kTextToolEspeak = 220,
  kTextMenuMoreTools = 221,
  kTextMenuDonate = 222,
  kTextMenuDonateEntry = 223,
  kTextMenuHelp = 224,
  kTextMenuHomePage = 225,
  kTextMenuBlog = 226,
  kTextMenuAbout = 227,

  // The learning aids: the 学习 menu and what the status bar says of them.
  kTextMenuLearn = 250,
  kTextMenuSlower = 251,
  kTextMenuFaster = 252,
  kTextMenuNormalSpeed = 253,
  kTextMenuRepeatCount = 254,
  kTextRepeatUnlimited = 255,
  kTextRepeatOnce = 256,
  kTextRepeatTwice = 257,
  kTextRepeatThrice = 258,
  kTextRepeatFive = 259,
  kTextRepeatTen = 260,
  kTextMenuRepeatGap = 261,
  kTextGapNone = 262,
  kTextGapOne = 263,
  kTextGapTwo = 264,
  kTextGapThree = 265,
  kTextGapAsLong = 266,
  kTextMenuAEarlier = 267,
  kTextMenuALater = 268,
  kTextMenuBEarlier = 269,
  kTextMenuBLater = 270,
  kTextStatusInGap = 271,
  kTextStatusPass = 272,
  kTextStatusRate = 273,
  kTextMenuPreviousSentence = 274,
  kTextMenuNextSentence = 275,
  kTextMenuRepeatSentence = 276,
  kTextStatusSentence = 277,
  kTextStatusAnalysing = 278,
  kTextLearnKeysTitle = 279,
  // Shadowing.
  kTextMenuShadowing = 290,
  kTextMenuPlayLastTake = 291,
  kTextMenuCompareTake = 292,
  kTextStatusRecording = 293,
  kTextStatusPlayingTake = 294,
  kTextNoMicrophone = 295,
  kTextNothingRecorded = 296,

  // The dialogs and the options panel.
  kTextAboutCaption = 300,
  kTextAboutSummary = 301,
  kTextButtonOk = 302,
  kTextButtonCancel = 303,
  kTextNewVersionCaption = 304,
  kTextButtonDownload = 305,
  kTextRepairing = 306,
  kTextJumpSizeCaption = 307,
  kTextJumpSizeLabel = 308,
  kTextJumpSizeRange = 309,
  kTextMute = 310,
  kTextChangeJumpSize = 311,
  kTextVolumeLabel = 312,
  kTextJumpLabel = 313,
  kTextSeconds = 314,

  // Pictures drawn with text: the toolbar's captions and the shortcut table.
  kTextPictureSetA = 400,
  kTextPictureSetB = 401,
  kTextPictureClearAB = 402,
  kTextPictureOpen = 403,
  kTextPicturePlay = 404,
  kTextPicturePause = 405,
  kTextPictureStop = 406,
  kTextPictureForward = 407,
  kTextPictureBack = 408,
  kTextShortcutTitle = 410,
  kTextShortcutPlay = 411,
  kTextShortcutBack = 412,
  kTextShortcutForward = 413,
  kTextShortcutRepeat = 414,

  // The player's own error texts.
  kTextErrNoAudioHardware = 500,
  kTextErrPinNotFound = 501,
  kTextErrTimeout = 502,
  kTextErrCannotOpen = 503,
  kTextErrNotMpegAudio = 504,
  kTextErrMissingElement = 505,
  kTextErrStream = 506,
  kTextErrNotRegularFile = 507,
  kTextErrUnspecified = 508,
  kTextErrCode = 509,
};

// The text of an id; empty for an id that has no text.
std::string_view Text(int id);

// The text of an id with each "%s" or "%S" replaced, in order, by the next
// argument. Arguments are inserted as they are: a "%s" inside an argument
// stays as it is.
std::string FormatText(int id, std::initializer_list<std::string_view> args);

}  // namespace orvex
