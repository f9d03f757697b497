#pragma once
// A shell that records every notification, in order, as a line of text.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/shell.h"

namespace orvex::test {

class RecordingShell : public Shell {
 public:
  explicit RecordingShell(std::vector<std::string>* log) : log_(log) {}

  void RefreshViews() override { Log("RefreshViews"); }
  void UpdateToolbarImage() override { Log("ToolbarImage"); }
  void UpdateToolbarEnable() override { Log("ToolbarEnable"); }
  void DismissToolbarTip() override { Log("DismissTip"); }
  void SetStatusText(int part, const std::string& text) override;
  void SetTitle(const std::string& title) override;
  void ShowError(const std::string& text) override;
  void StartTickTimer() override;
  void StopTickTimer() override;
  void EndPositionDrag() override { Log("EndDrag"); }
  std::optional<std::string> AskOpenFileName() override;
  void RunRepairDialog(const RepairCommand& command) override;
  void StartRejectSound() override { Log("RejectSound"); }
  void DestroyMainWindow() override { Log("DestroyMainWindow"); }

  // Entries of the log that start with prefix.
  std::vector<std::string> Matching(const std::string& prefix) const;

  bool timerRunning = false;
  std::string status[2];
  std::string title;
  std::vector<std::string> errors;
  std::optional<std::string> openDialogAnswer;
  std::function<void(const RepairCommand&)> onRepair;
  std::vector<RepairCommand> repairs;

 private:
  void Log(const std::string& entry) { log_->push_back(entry); }
  std::vector<std::string>* log_;
};

}  // namespace orvex::test
