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

// Creates every folder on the path up to its last separator, and the path
// itself when createLast is set. Failures are ignored.
void CreateParentFolders(const std::string& path, bool createLast);

// Deletes the folder and everything in it. A symbolic link inside is removed
// as a link; what it points to is left alone. Failures are ignored.
void DeleteFolderTree(const std::string& folder);

}  // namespace orvex
