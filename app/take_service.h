#pragma once
// The window side of shadowing: the recorder, whose threads post to this
// object, and the pitch tracks of a stretch and its take, made on a thread of
// their own and handed to the application on the GUI thread.

#include <QObject>
#include <memory>
#include <string>
#include <thread>

namespace orvex {

class App;
class GstRecorder;

class TakeService : public QObject {
  Q_OBJECT

 public:
  // source: the input as a gst-launch description; empty for the default.
  TakeService(App& app, const std::string& source, QObject* parent = nullptr);
  // The recorder stops and the pitch thread ends; nothing reaches the
  // application after.
  ~TakeService() override;

  void MakeIntonation(const std::string& lesson, int32_t aMs, int32_t bMs,
                      const std::string& take);

 private:
  App& app_;
  std::unique_ptr<GstRecorder> recorder_;
  std::thread pitch_;
};

}  // namespace orvex
