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
}

void RecordingShell::StartRepair(const RepairCommand& command, uint32_t ticket) {
  Log("RepairDialog");
  repairs.push_back(command);
  repairTickets.push_back(ticket);
}

void RecordingShell::StopRepair(uint32_t ticket) {
  Log("StopRepair");
  stoppedRepairs.push_back(ticket);
}

void RecordingShell::DestroyMainWindow(const std::vector<std::string>& messages) {
  for (const std::string& text : messages) ShowError(text);
  Log("DestroyMainWindow");
}

std::vector<std::string> RecordingShell::Matching(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& entry : *log_) {
    if (entry.rfind(prefix, 0) == 0) out.push_back(entry);
  }
  return out;
}

}  // namespace orvex::test
