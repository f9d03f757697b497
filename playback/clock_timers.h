#pragma once
// Events that wait for the pipeline's clock: each is queued when the clock
// reaches the running time at which it is heard. The clock's thread calls
// back into a shared state, so a timer that fires after its owner is gone
// finds nothing to do; Disarm waits for one that is delivering.

#include <gst/gst.h>

#include <functional>
#include <memory>

#include "playback/segment_plan.h"

namespace orvex {

class ClockTimers {
 public:
  // Called on the clock's thread when an event is heard, with the instant
  // it was heard on the steady clock (the alarm's own lateness taken off).
  using Deliver = std::function<void(const TimedEvent&, int64_t heardAtNs)>;
  explicit ClockTimers(Deliver deliver);
  ~ClockTimers();
  ClockTimers(const ClockTimers&) = delete;
  ClockTimers& operator=(const ClockTimers&) = delete;

  // Adds an event; it waits for the clock at once when the pipeline plays.
  void Schedule(const TimedEvent& event, GstElement* pipeline, bool playing);
  // Any thread: events without a clock alarm get one at the pipeline's base
  // time plus their running time (after each start of the clock).
  void Arm(GstElement* pipeline);
  // GUI thread: on a pause the events wait for the clock to run again
  // (forget false); on a flush or a teardown they go.
  void Disarm(bool forget);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace orvex
