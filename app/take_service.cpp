#include "app/take_service.h"

#include <thread>
#include <utility>

#include "app/app.h"
#include "playback/gst_recorder.h"
#include "playback/pitch_track.h"

namespace orvex {

TakeService::TakeService(App& app, const std::string& source, QObject* parent)
    : QObject(parent), app_(app), link_(std::make_shared<Link>()) {
  link_->service = this;
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
  {
    // Waits at most for a pitch thread posting its result.
    const std::lock_guard guard(link_->lock);
    link_->service = nullptr;
  }
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
  running_ = true;
  // The thread holds all it uses; it reaches the service only through the
  // link, and only while the service is there. Qt drops what it posted if
  // the service goes before it is delivered.
  std::thread([link = link_, job = std::move(job)] {
    Intonation aligned =
        AlignIntonation(PitchOfFile(job.lesson, job.aMs, job.bMs), PitchOfFile(job.take, 0, -1));
    aligned.aMs = job.aMs;
    auto intonation = std::make_shared<const Intonation>(std::move(aligned));
    const std::lock_guard guard(link->lock);
    if (TakeService* service = link->service) {
      QMetaObject::invokeMethod(
          service, [service, intonation] { service->Finished(intonation); }, Qt::QueuedConnection);
    }
  }).detach();
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
