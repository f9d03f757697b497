#pragma once
// The settings store: bMute, volume and eachJump in
// <XDG config folder>/OrvexPlayer/options.ini. Failures are shown through the
// shell and never stop the program.

#include <cstdint>
#include <string>

#include "app/jump_size.h"

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

// $XDG_CONFIG_HOME when it is set and absolute, else $HOME/.config.
std::string GetRoamingFolder();

}  // namespace orvex
