#pragma once
// The HTTP side shared by the version check, the usage report and the web page
// panel. Everything here belongs to the GUI thread and never blocks it.

#include <QNetworkRequest>
#include <QUrl>
#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

namespace orvex {

// A vendor request that gets no answer in this time is abandoned.
inline constexpr std::chrono::milliseconds kVendorRequestTimeout{30000};

// The one network manager of the program, made on first use and owned by the
// application object. It goes through the proxy that the environment names
// (http_proxy, https_proxy, no_proxy); loopback addresses are always reached
// directly.
QNetworkAccessManager* VendorNetwork();

// A GET of `url` as the program makes it: HTTP/1.1, the browser-like agent,
// "UA-CPU: x86", Accept "*/*", and always from the server, never from a cache.
QNetworkRequest VendorRequest(const QUrl& url);

// Sends VendorRequest(url) through VendorNetwork() and aborts the reply if it
// has not finished after `timeout`. The caller owns the reply.
QNetworkReply* StartVendorGet(const QUrl& url, std::chrono::milliseconds timeout);

// Drops a reply the caller no longer wants: no more signals, the transfer
// stopped, the object deleted later.
void DiscardReply(QNetworkReply* reply, QObject* receiver);

}  // namespace orvex
