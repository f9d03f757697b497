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
  Job job{lesson, aMs, bMs, take};
  if (running_) {
    waiting_ = std::move(job);
    return;
  }
  Start(std::move(job));
}

void TakeService::Start(Job job) {
  // The last thread has posted its result: it has ended, or is about to.
  if (pitch_.joinable()) pitch_.join();
  running_ = true;
  pitch_ = std::thread([this, job = std::move(job)] {
    Intonation aligned =
        AlignIntonation(PitchOfFile(job.lesson, job.aMs, job.bMs), PitchOfFile(job.take, 0, -1));
    aligned.aMs = job.aMs;
    auto intonation = std::make_shared<const Intonation>(std::move(aligned));
    QMetaObject::invokeMethod(
        this, [this, intonation] { Finished(intonation); }, Qt::QueuedConnection);
  });
}

void TakeService::Finished(std::shared_ptr<const Intonation> intonation) {
  running_ = false;
  app_.IntonationFound(std::move(intonation));
  if (waiting_) {
    Job next = std::move(*waiting_);
    waiting_.reset();
    Start(std::move(next));
  }
}

}  // namespace orvex
