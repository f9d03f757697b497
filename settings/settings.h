#pragma once
// The settings store: bMute, volume and eachJump in
// <XDG config folder>/OrvexPlayer/options.ini. A failure never stops the
// program: a load gives the defaults and a save keeps the old file, and each
// hands back the message for the caller to show.

#include <cstdint>
#include <optional>
#include <string>

#include "core/jump_size.h"
#include "core/learn.h"

namespace orvex {

// What options.ini keeps. The channel is never saved.
struct Settings {
  int32_t mute = 0;  // 0 or 1
  int32_t volume = -500;
  int32_t jumpSeconds = kDefaultJumpSeconds;
  bool operator==(const Settings&) const = default;
};

// A value read from a settings file, and the message to show the user about
// it: nothing when there is none.
template <typename T>
struct Loaded {
  T value;
  std::optional<std::string> message;
};

// Reads the settings file. A missing or unreadable file gives the defaults,
// and a file that exists but cannot be read a message too. Any bMute but 0
// reads as muted.
[[nodiscard]] Loaded<Settings> LoadSettings();

// Writes the three settings, replacing the file as a whole; gives the message
// to show when that failed, nothing when it worked.
[[nodiscard]] std::optional<std::string> SaveSettings(const Settings& settings);

// What learn.ini keeps, beside options.ini (which other installations read and
// so keeps exactly its three keys): the speed and the repeat settings, and
// what the end of a lesson does.
struct LearnSettings {
  int32_t rate = kRateNormal;  // hundredths, 50..200 in steps of 5
  int32_t repeatCount = 0;     // passes of a loop; 0 without limit
  RepeatGap gap = RepeatGap::kNone;
  bool playNextLesson = false;  // else playback stops at the end
  bool showWave = false;  // the wave strip below the window's panels
  bool shadowing = false;  // each pass followed by a take of the learner
  bool operator==(const LearnSettings&) const = default;
};

// Reads and writes learn.ini as options.ini is read and written: a missing,
// broken or unreadable file gives the defaults, and a value out of its range
// its own default.
[[nodiscard]] Loaded<LearnSettings> LoadLearnSettings();
[[nodiscard]] std::optional<std::string> SaveLearnSettings(const LearnSettings& learn);

}  // namespace orvex
