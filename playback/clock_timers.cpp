#include "playback/clock_timers.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "playback/engine_log.h"
#include "playback/units.h"

namespace orvex {

struct ClockTimers::Shared {
  std::mutex mutex;
  std::condition_variable idle;
  Deliver deliver;  // empty once the owner is gone
  int running = 0;  // callbacks delivering right now
  struct Entry {
    TimedEvent event;
    GstClockID id;  // null while the clock is not running
  };
  std::vector<Entry> entries;

  static gboolean OnTimer(GstClock* clock, GstClockTime time, GstClockID id, gpointer data) {
    const int64_t late = GST_CLOCK_DIFF(time, gst_clock_get_time(clock));
    const int64_t heardAtNs = SteadyNowNs() - std::max<int64_t>(late, 0);
    Shared& t = **static_cast<std::shared_ptr<Shared>*>(data);
    std::unique_lock lock(t.mutex);
    const auto it = std::find_if(t.entries.begin(), t.entries.end(),
                                 [&](const Entry& e) { return e.id == id; });
    if (it == t.entries.end() || !t.deliver) return TRUE;
    const TimedEvent event = it->event;
    gst_clock_id_unref(it->id);
    t.entries.erase(it);
    ++t.running;
    lock.unlock();
    GST_DEBUG("event %d heard at running time %" GST_TIME_FORMAT, event.code,
              GST_TIME_ARGS(event.runningTime));
    t.deliver(event, heardAtNs);
    lock.lock();
    --t.running;
    t.idle.notify_all();
    return TRUE;
  }
};

ClockTimers::ClockTimers(Deliver deliver) : shared_(std::make_shared<Shared>()) {
  shared_->deliver = std::move(deliver);
}

ClockTimers::~ClockTimers() {
  Disarm(true);
  std::lock_guard lock(shared_->mutex);
  shared_->deliver = nullptr;
}

void ClockTimers::Schedule(const TimedEvent& event, GstElement* pipeline, bool playing) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->entries.push_back({event, nullptr});
  }
  if (playing) Arm(pipeline);
}

void ClockTimers::Arm(GstElement* pipeline) {
  if (!pipeline) return;
  GstClock* clock = gst_element_get_clock(pipeline);
  if (!clock) return;
  const GstClockTime base = gst_element_get_base_time(pipeline);
  std::lock_guard lock(shared_->mutex);
  for (Shared::Entry& entry : shared_->entries) {
    if (entry.id) continue;
    entry.id = gst_clock_new_single_shot_id(
        clock, base + static_cast<GstClockTime>(std::max<int64_t>(entry.event.runningTime, 0)));
    gst_clock_id_wait_async(
        entry.id, Shared::OnTimer, new std::shared_ptr<Shared>(shared_),
        [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); });
  }
  gst_object_unref(clock);
}

void ClockTimers::Disarm(bool forget) {
  Shared& t = *shared_;
  std::unique_lock lock(t.mutex);
  for (Shared::Entry& entry : t.entries) {
    if (!entry.id) continue;
    gst_clock_id_unschedule(entry.id);
    gst_clock_id_unref(entry.id);
    entry.id = nullptr;
  }
  if (forget) t.entries.clear();
  t.idle.wait(lock, [&] { return t.running == 0; });
}

}  // namespace orvex
