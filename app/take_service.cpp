#include "app/take_service.h"

#include <utility>

#include "app/app.h"
#include "playback/gst_recorder.h"
#include "playback/pitch_track.h"

namespace orvex {

TakeService::TakeService(App& app, const std::string& source, QObject* parent)
    : QObject(parent), app_(app) {
  // The recorder's threads only post; Qt drops what was posted to an object
  // that no longer exists.
  recorder_ = std::make_unique<GstRecorder>(
      [this] {
        QMetaObject::invokeMethod(this, [this] { app_.OnRecorderEvent(); }, Qt::QueuedConnection);
      },
      source);
  app_.SetRecorder(recorder_.get());
  app_.SetIntonationMaker([this](const std::string& lesson, int32_t a, int32_t b,
                                 const std::string& take) { MakeIntonation(lesson, a, b, take); });
}

TakeService::~TakeService() {
  app_.SetRecorder(nullptr);
  app_.SetIntonationMaker(nullptr);
  if (pitch_.joinable()) pitch_.join();
  recorder_.reset();
}

void TakeService::MakeIntonation(const std::string& lesson, int32_t aMs, int32_t bMs,
                                 const std::string& take) {
  // One at a time: a new take waits for the last one's tracks (well under
  // the length of a take).
  if (pitch_.joinable()) pitch_.join();
  pitch_ = std::thread([this, lesson, aMs, bMs, take] {
    Intonation aligned = AlignIntonation(PitchOfFile(lesson, aMs, bMs), PitchOfFile(take, 0, -1));
    aligned.aMs = aMs;
    auto intonation = std::make_shared<const Intonation>(std::move(aligned));
    QMetaObject::invokeMethod(
        this, [this, intonation] { app_.IntonationFound(intonation); }, Qt::QueuedConnection);
  });
}

}  // namespace orvex
