#include "online/version_check.h"

#include <QNetworkReply>

#include "online/version_reply.h"

namespace orvex {

VersionCheck::VersionCheck(QObject* parent, const std::string& base)
    : QObject(parent), url_(QString::fromStdString(VersionCheckUrl(base))) {}

VersionCheck::~VersionCheck() {
  DiscardReply(reply_, this);
}

void VersionCheck::start() {
  if (started_) return;
  started_ = true;
  reply_ = StartVendorGet(url_, timeout_);
  connect(reply_, &QNetworkReply::readyRead, this, &VersionCheck::readBody);
  connect(reply_, &QNetworkReply::finished, this, &VersionCheck::conclude);
}

void VersionCheck::readBody() {
  const qint64 room = static_cast<qint64>(kVersionReplyBytes) - body_.size();
  if (room > 0) body_ += reply_->read(room);
  // Nothing past the first bytes matters: stop the transfer as soon as they are in.
  if (body_.size() >= static_cast<qsizetype>(kVersionReplyBytes)) conclude();
}

void VersionCheck::conclude() {
  if (concluded_) return;
  concluded_ = true;
  if (reply_ && reply_->isOpen() && body_.size() < static_cast<qsizetype>(kVersionReplyBytes)) {
    body_ += reply_->read(static_cast<qint64>(kVersionReplyBytes) - body_.size());
  }
  DiscardReply(reply_, this);
  reply_ = nullptr;

  const VersionReply answer =
      ClassifyVersionReply(std::string_view(body_.constData(), body_.size()));
  // Queued, so that a slot that opens a modal dialog runs from the event loop
  // and not inside the network reply's own signal.
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
