#pragma once
// The application object: all state of the program in one place. The program
// has exactly one (theApp, in app/main.cpp); tests construct their own.
// Only the GUI thread touches it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/shell.h"
#include "playback/player.h"

namespace orvex {

enum PlayState : int32_t { Stopped = 0, Paused = 1, Playing = 2 };

// What the Open dialog remembers from one open to the next.
struct OpenDialogRecord {
  std::string folder;          // the folder it showed last
  std::string selectedFilter;  // the filter chosen last
};

class App {
 public:
  App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  OpenDialogRecord openDialog;
  std::string programFolder;  // the folder of the program's executable
  Shell* shell = nullptr;     // the window side; null before it exists
  PlayerFactory* playerFactory = nullptr;
  std::string filePath;  // the loaded file; empty when none is loaded
  int32_t bLoaded = 0;
  PlayState playState = Stopped;
  int32_t pointA = -1;  // ms; -1 when not set
  int32_t pointB = -1;  // ms; -1 when not set
  int32_t jumpSeconds = 0;
  int32_t bMute = 0;
  int32_t volume = 0;   // hundredths of a decibel, -10000..0
  int32_t channel = 0;  // 0 stereo, 1 left, 2 right; never saved
  std::unique_ptr<Player> player;
  int32_t osMajorVersion = 0;  // the kernel release's major number
  int32_t bTopmost = 0;        // never saved

  // Transport (transport/transport.cpp).
  void TogglePlay();
  void Stop();
  void JumpForward();
  void JumpBackward();
  void GoToStart();
  void GoToEnd();
  void RepeatKey();
  void SetChannel(int32_t c);
  void Tick();
  void OnGraphEvent();
  void CloseFile();
  void ExitProgram();
  // Saves the settings, then destroys the main window.
  void ExitProcedure();

  // Opening a file (transport/open_file.cpp).
  void OpenFile(std::optional<std::string> path = std::nullopt);
  void OpenSample();
  void DropFiles(const std::vector<std::string>& names);

  bool Active() const { return bLoaded != 0 && playState != Stopped; }

 private:
  void SetStatus(int part, std::string_view text);
  // Builds a new player for file with both builders in turn; on failure the
  // player is gone and errorText holds the second builder's text.
  bool TryBuild(const std::string& file, std::string* errorText);
};

// The kernel release's major and minor numbers (uname); 0 when unknown.
struct OsVersion {
  int32_t major = 0;
  int32_t minor = 0;
};
OsVersion ReadOsVersion();

}  // namespace orvex
