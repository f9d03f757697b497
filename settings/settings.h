#pragma once
// The settings store: bMute, volume and eachJump in
// <XDG config folder>/OrvexPlayer/options.ini. Failures are shown through the
// application's shell (when it has one) and never stop the program.

#include <string>

namespace orvex {

class App;

// Reads the settings file into app.bMute, app.volume and app.jumpSeconds and
// resets app.channel to stereo. A missing or unreadable file gives defaults.
void LoadSettings(App& app);

// Writes the three settings, replacing the file as a whole.
void SaveSettings(App& app);

// $XDG_CONFIG_HOME when it is set and absolute, else $HOME/.config.
std::string GetRoamingFolder();

}  // namespace orvex
