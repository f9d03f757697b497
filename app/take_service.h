#pragma once
// The window side of shadowing: the recorder, whose threads post to this
// object, and the pitch tracks of a stretch and its take, made on a thread of
// their own and handed to the application on the GUI thread.

#include <QObject>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace orvex {

class App;
struct Intonation;
class GstRecorder;

class TakeService : public QObject {
  Q_OBJECT

 public:
  // source: the input as a gst-launch description; empty for the default.
  TakeService(App& app, const std::string& source, QObject* parent = nullptr);
  // The recorder stops; a pitch thread still running is left to end on its
  // own (never waited for) and its result goes nowhere. Nothing reaches the
  // application after.
  ~TakeService() override;

  // Tracks and aligns the pitch of the stretch and of its take on the pitch
  // thread; one asked for while another runs waits for it, never the GUI
  // thread (only the newest waiting one is kept).
  void MakeIntonation(const std::string& lesson, int32_t aMs, int32_t bMs,
                      const std::string& take);

 private:
  struct Job {
    std::string lesson;
    int32_t aMs = 0;
    int32_t bMs = 0;
    std::string take;
  };
  // What a pitch thread reaches this object through, shared with it: the
  // service, null once it is gone.
  struct Link {
    std::mutex lock;
    TakeService* service = nullptr;
  };

  void Start(Job job);
  void Finished(std::shared_ptr<const Intonation> intonation);

  App& app_;
  std::unique_ptr<GstRecorder> recorder_;
  std::shared_ptr<Link> link_;
  bool running_ = false;       // a pitch thread has a job (GUI thread)
  std::optional<Job> waiting_;  // the next job, once it is done
};

}  // namespace orvex
