#include "online/usage_report.h"

#include <QNetworkReply>

namespace orvex {

UsageReport::UsageReport(QObject* parent, const std::string& base, OsVersion os)
    : QObject(parent), url_(QString::fromStdString(UsageReportUrl(base, os.major, os.minor))) {}

UsageReport::~UsageReport() {
  DiscardReply(reply_, this);
}

void UsageReport::start() {
  if (started_) return;
  started_ = true;
  reply_ = StartVendorGet(url_, timeout_);
  // The server has had the request once its answer begins; the rest is not wanted.
  connect(reply_, &QNetworkReply::metaDataChanged, this, &UsageReport::end);
  connect(reply_, &QNetworkReply::finished, this, &UsageReport::end);
}

void UsageReport::end() {
  if (!reply_) return;
  DiscardReply(reply_, this);
  reply_ = nullptr;
  QMetaObject::invokeMethod(this, &UsageReport::finished, Qt::QueuedConnection);
}

}  // namespace orvex
