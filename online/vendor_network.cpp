#include "online/vendor_network.h"

#include <QLocale>

#include "online/proxy_rule.h"

namespace orvex {
namespace {

// The desktop's language first, then English, then anything.
QByteArray AcceptedLanguages() {
  const QString locale = QLocale::system().name().replace(QLatin1Char('_'), QLatin1Char('-'));
  if (locale == QLatin1String("C")) return "en,*";
  if (locale.startsWith(QLatin1String("en-"))) return locale.toLatin1() + ",*";
  return locale.toLatin1() + ",en,*";
}

}  // namespace

QList<QByteArray> VendorRequestHeaders() {
  return {
      "Cache-Control: no-cache",
      "Pragma: no-cache",
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)",
      "UA-CPU: x86",
      "Accept: */*",
      "Connection: Keep-Alive",
      "Accept-Language: " + AcceptedLanguages(),
  };
}

std::string VendorProxy(const QUrl& url) {
  return ProxyFor(url.scheme().toStdString(), url.host().toStdString(), ReadProxyEnvironment());
}

}  // namespace orvex
