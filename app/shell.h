#pragma once
// What the logic asks of the window side. The main window implements it; the
// logic tests use a recording shell. None of the calls returns anything the
// transport depends on, except the two modal dialogs.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvex {

// The repair tool's command: the program and its arguments, each one argument
// (no shell in between).
struct RepairCommand {
  std::string program;
  std::vector<std::string> arguments;
  // Variables set for the tool on top of the program's own environment.
  std::vector<std::pair<std::string, std::string>> environment;
};

class Shell {
 public:
  virtual ~Shell() = default;

  // Redraws the display panel, then the position bar, synchronously.
  virtual void RefreshViews() = 0;
  // The toolbar's play and A-B pictures follow the transport.
  virtual void UpdateToolbarImage() = 0;
  // The toolbar's buttons are enabled for bLoaded and playState.
  virtual void UpdateToolbarEnable() = 0;
  // Hides a toolbar tooltip that is shown.
  virtual void DismissToolbarTip() = 0;
  // Status bar: part 0 the transport status, part 1 the loaded file's path.
  virtual void SetStatusText(int part, const std::string& text) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // A modal error message box with the program's caption and the error icon.
  virtual void ShowError(const std::string& text) = 0;
  // The 25 ms tick timer.
  virtual void StartTickTimer() = 0;
  virtual void StopTickTimer() = 0;
  // Ends a drag of the position bar's thumb, if one is in progress.
  virtual void EndPositionDrag() = 0;
  // The modal Open dialog; nothing when the user cancelled.
  virtual std::optional<std::string> AskOpenFileName() = 0;
  // The modal repair dialog: runs the tool and returns when it has ended (or
  // could not start, or was stopped for taking too long).
  virtual void RunRepairDialog(const RepairCommand& command) = 0;
  // Plays the warning sound for a rejected drop on a short-lived thread of its
  // own; returns at once.
  virtual void StartRejectSound() = 0;
  // The last step of the exit procedure: the main window goes, and with it the
  // event loop.
  virtual void DestroyMainWindow() = 0;
};

}  // namespace orvex
