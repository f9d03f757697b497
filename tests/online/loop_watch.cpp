#include "loop_watch.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace orvex::test {
namespace {

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

}  // namespace

long ResidentKb() {
  return StatusKb("VmRSS");
}

long PeakResidentKb() {
  return StatusKb("VmHWM");
}

bool ResetPeakResident() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

LoopWatch::LoopWatch() : hwmReset_(ResetPeakResident()) {
  startKb_ = ResidentKb();
  sampledPeakKb_ = startKb_;
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &LoopWatch::tick);
  clock_.start();
  lastNs_ = clock_.nsecsElapsed();
  timer_.start();
}

long LoopWatch::peakResidentKb() const {
  return hwmReset_ ? std::max(PeakResidentKb(), sampledPeakKb_) : sampledPeakKb_;
}

void LoopWatch::tick() {
  const qint64 now = clock_.nsecsElapsed();
  maxStallNs_ = std::max(maxStallNs_, now - lastNs_);
  lastNs_ = now;
  ++timeouts_;
  if (tracked_) maxTracked_ = std::max(maxTracked_, tracked_());
  // Reading /proc costs some microseconds: sample every 64th turn.
  if ((timeouts_ & 63) == 0) sampledPeakKb_ = std::max(sampledPeakKb_, ResidentKb());
}

}  // namespace orvex::test
