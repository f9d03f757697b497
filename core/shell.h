#pragma once
// What the logic asks of the window side. The main window implements it; the
// logic tests use a recording shell. None of the calls returns anything the
// application depends on, except the two modal dialogs.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/transport_view.h"

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

  // The application changed: the window shows view, redrawing what differs
  // from what it showed, and runs the 25 ms tick while view plays.
  virtual void TransportChanged(const TransportView& view) = 0;
  // A modal error message box with the program's caption and the error icon.
  virtual void ShowError(const std::string& text) = 0;
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

// A shell with no window: nothing is shown, errors included. The
// application's shell until the program gives it one.
class SilentShell : public Shell {
 public:
  void TransportChanged(const TransportView&) override {}
  void ShowError(const std::string&) override {}
  void EndPositionDrag() override {}
  std::optional<std::string> AskOpenFileName() override { return std::nullopt; }
  void RunRepairDialog(const RepairCommand&) override {}
  void StartRejectSound() override {}
  void DestroyMainWindow() override {}
};

}  // namespace orvex
