#pragma once
// What the logic asks of the window side. The main window implements it; the
// logic tests use a recording shell. Every call returns at once: a dialog the
// window opens answers later by calling the application back.

#include <cstdint>
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
  // An error message box with the program's caption and the error icon; it
  // stays until the user closes it.
  virtual void ShowError(const std::string& text) = 0;
  // Ends a drag of the position bar's thumb, if one is in progress.
  virtual void EndPositionDrag() = 0;
  // The Open dialog. A file the user chooses is opened with the
  // application's OpenFile(path); a cancel changes nothing.
  virtual void AskOpenFileName() = 0;
  // The repair dialog runs the tool. When the tool has ended (or could not
  // start, or was stopped for taking too long or by StopRepair) the dialog
  // goes and the application hears of it: RepairFinished(ticket).
  virtual void StartRepair(const RepairCommand& command, uint32_t ticket) = 0;
  // Stops the tool of that repair if it still runs; its end is told as ever.
  virtual void StopRepair(uint32_t ticket) = 0;
  // Plays the warning sound for a rejected drop on a short-lived thread of its
  // own.
  virtual void StartRejectSound() = 0;
  // The last step of the exit procedure. The dialogs still open go (a
  // repair's tool is stopped), messages show, each in an error box, and once
  // the user has closed them the main window goes, and with it the event
  // loop. Asked again while they show, the window goes at once.
  virtual void DestroyMainWindow(const std::vector<std::string>& messages) = 0;
};

// A shell with no window: nothing is shown, errors included, and a repair
// never ends. The application's shell until the program gives it one.
class SilentShell : public Shell {
 public:
  void TransportChanged(const TransportView&) override {}
  void ShowError(const std::string&) override {}
  void EndPositionDrag() override {}
  void AskOpenFileName() override {}
  void StartRepair(const RepairCommand&, uint32_t) override {}
  void StopRepair(uint32_t) override {}
  void StartRejectSound() override {}
  void DestroyMainWindow(const std::vector<std::string>&) override {}
};

}  // namespace orvex
