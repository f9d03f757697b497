#pragma once
// What every request to the vendor server carries, and how long it may take.
// The requests themselves are made by HttpGet (online/http_client.h). GUI
// thread.

#include <QByteArray>
#include <QList>
#include <QUrl>
#include <chrono>
#include <string>

namespace orvex {

// A vendor request that gets no answer in this time is abandoned.
inline constexpr std::chrono::milliseconds kVendorRequestTimeout{30000};

// The header lines of a GET as the program makes it, besides Host and the
// accepted encodings: the browser-like agent, "UA-CPU: x86", Accept "*/*",
// never from a cache, a kept-alive connection and the desktop's language.
QList<QByteArray> VendorRequestHeaders();

// The proxy for a request to `url` as the environment names it now
// (proxy_rule.h): "http://host:port", or "" for a direct connection.
std::string VendorProxy(const QUrl& url);

}  // namespace orvex
