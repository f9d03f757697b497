#pragma once
// A shell that records every notification, in order, as a line of text, and
// keeps every view the application published.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/shell.h"

namespace orvex::test {

// A shell without a window that keeps the error messages.
class ErrorShell : public SilentShell {
 public:
  void ShowError(const std::string& text) override { errors.push_back(text); }
  std::vector<std::string> errors;
};

class RecordingShell : public Shell {
 public:
  explicit RecordingShell(std::vector<std::string>* log) : log_(log) {}

  void TransportChanged(const TransportView& view) override;
  void ShowError(const std::string& text) override;
  void EndPositionDrag() override { Log("EndDrag"); }
  std::optional<std::string> AskOpenFileName() override;
  void RunRepairDialog(const RepairCommand& command) override;
  void StartRejectSound() override { Log("RejectSound"); }
  void DestroyMainWindow() override { Log("DestroyMainWindow"); }

  // Entries of the log that start with prefix.
  std::vector<std::string> Matching(const std::string& prefix) const;

  // The last view published, and all of them in order.
  const TransportView& view() const { return views.back(); }
  std::vector<TransportView> views{TransportView{}};
  std::vector<std::string> errors;
  std::optional<std::string> openDialogAnswer;
  // Run inside the modal calls, as their nested event loops run keys,
  // drops, media-control calls and ticks.
  std::function<void(const RepairCommand&)> onRepair;
  std::function<void(const std::string&)> onError;
  // Called with every new view, after it is recorded (a window's part of it).
  std::function<void(const TransportView&)> onChange;
  std::vector<RepairCommand> repairs;

 private:
  void Log(const std::string& entry) { log_->push_back(entry); }
  std::vector<std::string>* log_;
};

}  // namespace orvex::test
