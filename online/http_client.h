#pragma once
// GETs to the vendor server over libcurl, for the version check, the usage
// report and the web page panel.
//
// Threads: the transfers run on one worker thread of their own, driven by a
// curl multi handle. What they bring reaches the GUI thread as queued calls,
// so no call here waits on the network. An HttpGet belongs to the GUI thread.
//
// Bounds: every request is bounded by the bytes actually read. Response
// headers over kMaxHeaderBytes end it; a body longer than the caller allows is
// cut or refused (HttpLimits); the time-out ends it in any case.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "online/vendor_network.h"

namespace orvex {

// All response headers of a request together, redirects included.
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

struct HttpLimits {
  std::size_t maxBodyBytes = 0;
  // true: the first maxBodyBytes are the answer and the rest is never read;
  // false: a longer body makes the request fail (kTooLarge).
  bool keepBeginning = false;
  std::chrono::milliseconds timeout = kVendorRequestTimeout;
};

enum class HttpEnd {
  kRunning,         // not ended yet
  kComplete,        // the whole answer is in
  kCut,             // keepBeginning: the body's first bytes are in, the rest was not read
  kTooLarge,        // the body is longer than allowed
  kHeaderTooLarge,  // the response headers are longer than kMaxHeaderBytes
  kTimedOut,
  kFailed,  // no connection, a broken answer, ...
};

class HttpGet : public QObject {
  Q_OBJECT

 public:
  // A GET of `url` as the program makes it (vendor_network.h): HTTP/1.1, the
  // browser-like agent, no cache, the environment's proxy. Redirects are
  // followed, never from https to http.
  HttpGet(const QUrl& url, const HttpLimits& limits, QObject* parent = nullptr);
  // Stops a transfer still running.
  ~HttpGet() override;

  // Sends the request; only the first call does anything.
  void start();
  // Stops the transfer; no signal comes after this.
  void abort();

  bool isRunning() const { return started_ && end_ == HttpEnd::kRunning; }
  HttpEnd end() const { return end_; }
  // The status of the last answer, 0 when none came.
  int status() const { return status_; }
  const QByteArray& contentType() const { return contentType_; }
  // At most limits.maxBodyBytes; what was read of the body even if the request failed.
  const QByteArray& body() const { return body_; }
  // Whether the whole answer came with a 2xx status.
  bool succeeded() const { return end_ == HttpEnd::kComplete && status_ >= 200 && status_ <= 299; }

 signals:
  // The first answer's headers are in (a redirect's too).
  void headersReceived();
  // The request has ended, whatever its outcome; not after abort().
  void finished();

 private:
  friend class HttpClient;
  void deliverHead(int status);
  void deliverEnd(HttpEnd end, int status, QByteArray contentType, QByteArray body);

  QUrl url_;
  HttpLimits limits_;
  QPointer<QObject> client_;  // the HttpClient that runs the transfer
  std::uint64_t id_ = 0;
  bool started_ = false;
  HttpEnd end_ = HttpEnd::kRunning;
  int status_ = 0;
  QByteArray contentType_;
  QByteArray body_;
};

// Bytes the running transfers hold now in their buffers, all requests
// together, and the most they have held since the last reset. A body handed
// to its HttpGet no longer counts.
std::size_t HttpBytesBuffered();
std::size_t HttpPeakBytesBuffered();
void ResetHttpPeakBytesBuffered();

}  // namespace orvex
