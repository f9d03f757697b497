#pragma once
// A shell that records every notification, in order, as a line of text, and
// keeps every view the application published.

#include <cstdint>
#include <functional>
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
  void AskOpenFileName() override { Log("OpenDialog"); }
  void StartRepair(const RepairCommand& command, uint32_t ticket) override;
  void StopRepair(uint32_t ticket) override;
  void StartRejectSound() override { Log("RejectSound"); }
  void DestroyMainWindow(const std::vector<std::string>& messages) override;

  // Entries of the log that start with prefix.
  std::vector<std::string> Matching(const std::string& prefix) const;

  // The last view published, and all of them in order.
  const TransportView& view() const { return views.back(); }
  std::vector<TransportView> views{TransportView{}};
  // The error boxes shown, the exit's last messages among them.
  std::vector<std::string> errors;
  // Called with every new view, after it is recorded (a window's part of it).
  std::function<void(const TransportView&)> onChange;
  // The repairs started, with their tickets, and the tickets stopped.
  std::vector<RepairCommand> repairs;
  std::vector<uint32_t> repairTickets;
  std::vector<uint32_t> stoppedRepairs;

 private:
  void Log(const std::string& entry) { log_->push_back(entry); }
  std::vector<std::string>* log_;
};

}  // namespace orvex::test
