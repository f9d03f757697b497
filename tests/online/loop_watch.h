#pragma once
// What a flood costs the window: how long the event loop went without turning
// (the largest gap between the timeouts of a 0 ms timer) and how much memory
// the process took, while the watch runs.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstddef>
#include <functional>
#include <utility>

namespace orvex::test {

// The process's resident memory now (VmRSS) and its high-water mark (VmHWM),
// in KiB; -1 when /proc cannot tell.
long ResidentKb();
long PeakResidentKb();
// Sets the high-water mark back to the resident memory now (Linux clear_refs);
// false when the system refuses.
bool ResetPeakResident();

class LoopWatch : public QObject {
 public:
  // Starts watching at once: a 0 ms timer on the current thread's loop.
  LoopWatch();

  // The largest gap between two timeouts so far, in milliseconds.
  double maxStallMs() const { return maxStallNs_ / 1e6; }
  // The largest resident memory seen so far, in KiB: the high-water mark when
  // it could be reset at the start, else the largest of the samples taken at
  // every timeout.
  long peakResidentKb() const;
  long startResidentKb() const { return startKb_; }
  // Reads `value` at every timeout from now on; the largest reading so far.
  void track(std::function<std::size_t()> value) { tracked_ = std::move(value); }
  std::size_t maxTracked() const { return maxTracked_; }
  long timeouts() const { return timeouts_; }

 private:
  void tick();

  QTimer timer_;
  QElapsedTimer clock_;
  qint64 lastNs_ = 0;
  qint64 maxStallNs_ = 0;
  long startKb_ = 0;
  long sampledPeakKb_ = 0;
  long timeouts_ = 0;
  bool hwmReset_ = false;
  std::function<std::size_t()> tracked_;
  std::size_t maxTracked_ = 0;
};

}  // namespace orvex::test
