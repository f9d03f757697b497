#include "online/version_check.h"

#include "online/http_client.h"
#include "online/version_reply.h"

namespace orvex {

VersionCheck::VersionCheck(QObject* parent, const std::string& base)
    : QObject(parent), url_(QString::fromStdString(VersionCheckUrl(base))) {}

VersionCheck::~VersionCheck() = default;

void VersionCheck::start() {
  if (started_) return;
  started_ = true;
  // Nothing past the first bytes matters: the transfer stops as soon as they are in.
  get_ = std::make_unique<HttpGet>(
      url_,
      HttpLimits{.maxBodyBytes = kVersionReplyBytes, .keepBeginning = true, .timeout = timeout_});
  connect(get_.get(), &HttpGet::finished, this, &VersionCheck::conclude);
  get_->start();
}

void VersionCheck::conclude() {
  // Whatever the server said, an error page too, is judged by its beginning.
  const QByteArray& body = get_->body();
  const VersionReply answer = ClassifyVersionReply(std::string_view(body.constData(), body.size()));
  // Queued, so that a slot that opens a modal dialog runs from the event loop
  // and not inside the request's own signal.
  QMetaObject::invokeMethod(
      this,
      [this, answer] {
        if (answer == VersionReply::kNewVersion) emit newVersion();
        if (answer == VersionReply::kMustUpdate) emit mustUpdate();
        emit finished();
      },
      Qt::QueuedConnection);
}

}  // namespace orvex
