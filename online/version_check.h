#pragma once
// The version check: once per start, asks the vendor server whether this
// version is still current. The answer arrives later as newVersion() or
// mustUpdate(); a current version, an error reply, no network or a server
// that never answers give no signal at all.

#include <QObject>
#include <QUrl>
#include <chrono>
#include <memory>
#include <string>

#include "online/vendor.h"
#include "online/vendor_network.h"

namespace orvex {

class HttpGet;

class VersionCheck : public QObject {
  Q_OBJECT

 public:
  // Asks VersionCheckUrl(base). Make it on the GUI thread: the signals are
  // delivered there, from the event loop, never from inside start().
  explicit VersionCheck(QObject* parent = nullptr, const std::string& base = VendorBaseUrl());
  ~VersionCheck() override;

  // How long the server gets to answer before the request is abandoned.
  void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  const QUrl& url() const { return url_; }

  // Sends the request. Only the first call does anything.
  void start();

 signals:
  void newVersion();  // the server announced a newer version
  void mustUpdate();  // the server withdrew this version
  // The request has ended, whatever its outcome; comes after the signal above.
  void finished();

 private:
  void conclude();

  QUrl url_;
  std::chrono::milliseconds timeout_ = kVendorRequestTimeout;
  std::unique_ptr<HttpGet> get_;  // reads at most kVersionReplyBytes of the body
  bool started_ = false;
};

}  // namespace orvex
