#include "online/vendor_network.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

namespace orvex {
namespace {

QByteArray EnvironmentValue(const char* lower, const char* upper) {
  QByteArray value = qgetenv(lower);
  if (value.isEmpty()) value = qgetenv(upper);
  return value.trimmed();
}

// no_proxy: host names or domains separated by commas, "*" for every host.
bool Bypassed(const QString& host) {
  const QByteArray list = EnvironmentValue("no_proxy", "NO_PROXY");
  for (const QByteArray& item : list.split(',')) {
    QString entry = QString::fromLatin1(item.trimmed()).toLower();
    if (entry == QLatin1String("*")) return true;
    if (entry.startsWith(QLatin1Char('.'))) entry.remove(0, 1);
    if (entry.isEmpty()) continue;
    if (host == entry || host.endsWith(QLatin1Char('.') + entry)) return true;
  }
  return false;
}

// The proxy the desktop's environment names (http_proxy, https_proxy,
// no_proxy), read at every request; loopback addresses are always reached
// directly. Nothing here ever waits on the network.
class EnvironmentProxy : public QNetworkProxyFactory {
 public:
  QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
    const QString host = query.peerHostName().toLower();
    const QNetworkProxy direct(QNetworkProxy::NoProxy);
    if (host == QLatin1String("localhost") || QHostAddress(host).isLoopback() || Bypassed(host)) {
      return {direct};
    }
    const bool secure =
        query.protocolTag().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QByteArray setting = secure ? EnvironmentValue("https_proxy", "HTTPS_PROXY")
                                : EnvironmentValue("http_proxy", "HTTP_PROXY");
    if (setting.isEmpty()) return {direct};
    if (!setting.contains("://")) setting.prepend("http://");
    const QUrl proxy(QString::fromLatin1(setting));
    if (!proxy.isValid() || proxy.host().isEmpty()) return {direct};
    return {QNetworkProxy(QNetworkProxy::HttpProxy, proxy.host(), quint16(proxy.port(1080)),
                          proxy.userName(), proxy.password())};
  }
};

}  // namespace

QNetworkAccessManager* VendorNetwork() {
  static QPointer<QNetworkAccessManager> network;
  if (!network) {
    network = new QNetworkAccessManager(QCoreApplication::instance());
    network->setProxyFactory(new EnvironmentProxy);
  }
  return network;
}

QNetworkRequest VendorRequest(const QUrl& url) {
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::UserAgentHeader,
                    QByteArrayLiteral("Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)"));
  request.setRawHeader("UA-CPU", "x86");
  request.setRawHeader("Accept", "*/*");
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  return request;
}

QNetworkReply* StartVendorGet(const QUrl& url, std::chrono::milliseconds timeout) {
  QNetworkReply* reply = VendorNetwork()->get(VendorRequest(url));
  // The reply is the timer's context: once it is deleted the abort never runs.
  QTimer::singleShot(timeout, reply, [reply] {
    if (reply->isRunning()) reply->abort();
  });
  return reply;
}

void DiscardReply(QNetworkReply* reply, QObject* receiver) {
  if (reply == nullptr) return;
  QObject::disconnect(reply, nullptr, receiver, nullptr);
  // A reply that has ended already must not be aborted again.
  if (reply->isRunning()) reply->abort();
  reply->deleteLater();
}

}  // namespace orvex
