#include "online/usage_report.h"

#include "online/http_client.h"

namespace orvex {

UsageReport::UsageReport(QObject* parent, const std::string& base, OsVersion os)
    : QObject(parent), url_(QString::fromStdString(UsageReportUrl(base, os.major, os.minor))) {}

UsageReport::~UsageReport() = default;

void UsageReport::start() {
  if (started_) return;
  started_ = true;
  // The server has had the request once its answer begins; no byte of the
  // body is wanted.
  get_ = std::make_unique<HttpGet>(
      url_, HttpLimits{.maxBodyBytes = 0, .keepBeginning = true, .timeout = timeout_});
  connect(get_.get(), &HttpGet::headersReceived, this, &UsageReport::end);
  connect(get_.get(), &HttpGet::finished, this, &UsageReport::end);
  get_->start();
}

void UsageReport::end() {
  if (ended_) return;
  ended_ = true;
  get_->abort();
  QMetaObject::invokeMethod(this, &UsageReport::finished, Qt::QueuedConnection);
}

}  // namespace orvex
