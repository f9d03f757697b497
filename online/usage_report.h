#pragma once
// The usage report: once per start, one GET to the vendor server that carries
// the program's version and the kernel release's major and minor numbers. The
// reply is never read and nothing is ever reported.

#include <QObject>
#include <QUrl>
#include <chrono>
#include <memory>
#include <string>

#include "core/os_version.h"
#include "online/vendor.h"
#include "online/vendor_network.h"

namespace orvex {

class HttpGet;

class UsageReport : public QObject {
  Q_OBJECT

 public:
  // Reports to UsageReportUrl(base, os.major, os.minor). Make it on the GUI thread.
  explicit UsageReport(QObject* parent = nullptr, const std::string& base = VendorBaseUrl(),
                       OsVersion os = ReadOsVersion());
  ~UsageReport() override;

  void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  const QUrl& url() const { return url_; }

  // Sends the report. Only the first call does anything.
  void start();

 signals:
  // The request has ended: the server answered, failed or timed out.
  void finished();

 private:
  void end();

  QUrl url_;
  std::chrono::milliseconds timeout_ = kVendorRequestTimeout;
  std::unique_ptr<HttpGet> get_;
  bool started_ = false;
  bool ended_ = false;
};

}  // namespace orvex
