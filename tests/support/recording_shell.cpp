#include "tests/support/recording_shell.h"

namespace orvex::test {

void RecordingShell::SetStatusText(int part, const std::string& text) {
  Log("Status" + std::to_string(part) + ":" + text);
  if (part == 0 || part == 1) status[part] = text;
}

void RecordingShell::SetTitle(const std::string& text) {
  Log("Title:" + text);
  title = text;
}

void RecordingShell::ShowError(const std::string& text) {
  Log("Error:" + text);
  errors.push_back(text);
}

void RecordingShell::StartTickTimer() {
  Log("TimerStart");
  timerRunning = true;
}

void RecordingShell::StopTickTimer() {
  Log("TimerStop");
  timerRunning = false;
}

std::optional<std::string> RecordingShell::AskOpenFileName() {
  Log("OpenDialog");
  return openDialogAnswer;
}

void RecordingShell::RunRepairDialog(const RepairCommand& command) {
  Log("RepairDialog");
  repairs.push_back(command);
  if (onRepair) onRepair(command);
}

std::vector<std::string> RecordingShell::Matching(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& entry : *log_) {
    if (entry.rfind(prefix, 0) == 0) out.push_back(entry);
  }
  return out;
}

}  // namespace orvex::test
