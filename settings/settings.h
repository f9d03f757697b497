#pragma once
// The settings store: bMute, volume and eachJump in
// <XDG config folder>/OrvexPlayer/options.ini. Failures are shown through the
// shell and never stop the program.

#include <cstdint>
#include <string>

#include "core/jump_size.h"
#include "core/learn.h"

namespace orvex {

class Shell;

// What options.ini keeps. The channel is never saved.
struct Settings {
  int32_t mute = 0;  // any value but 0 mutes, and is kept as it was
  int32_t volume = -500;
  int32_t jumpSeconds = kDefaultJumpSeconds;
  bool operator==(const Settings&) const = default;
};

// Reads the settings file. A missing or unreadable file gives the defaults;
// a file that exists but cannot be read is reported through shell.
Settings LoadSettings(Shell& shell);

// Writes the three settings, replacing the file as a whole; a failure is
// reported through shell.
void SaveSettings(const Settings& settings, Shell& shell);

// What learn.ini keeps, beside options.ini (which other installations read and
// so keeps exactly its three keys): the speed and the repeat settings.
struct LearnSettings {
  int32_t rate = kRateNormal;  // hundredths, 50..200 in steps of 5
  int32_t repeatCount = 0;     // passes of a loop; 0 without limit
  RepeatGap gap = RepeatGap::kNone;
  bool operator==(const LearnSettings&) const = default;
};

// Reads and writes learn.ini as options.ini is read and written: a missing,
// broken or unreadable file gives the defaults, and a value out of its range
// its own default.
LearnSettings LoadLearnSettings(Shell& shell);
void SaveLearnSettings(const LearnSettings& learn, Shell& shell);

// $XDG_CONFIG_HOME when it is set and absolute, else $HOME/.config.
std::string GetRoamingFolder();

}  // namespace orvex
