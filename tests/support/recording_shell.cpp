#include "tests/support/recording_shell.h"

namespace orvex::test {

void RecordingShell::TransportChanged(const TransportView& view) {
  Log("Changed");
  views.push_back(view);
  if (onChange) onChange(view);
}

void RecordingShell::ShowError(const std::string& text) {
  Log("Error:" + text);
  errors.push_back(text);
  if (onError) onError(text);
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
