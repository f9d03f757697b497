#include "online/open_page.h"

#include <QDesktopServices>
#include <utility>

namespace orvex {
namespace {

WebPageOpener& Opener() {
  static WebPageOpener opener;
  return opener;
}

}  // namespace

void OpenWebPage(const QUrl& url) {
  if (Opener()) {
    Opener()(url);
  } else {
    QDesktopServices::openUrl(url);
  }
}

void OpenWebPage(const std::string& address) {
  OpenWebPage(QUrl(QString::fromStdString(address)));
}

WebPageOpener SetWebPageOpener(WebPageOpener opener) {
  return std::exchange(Opener(), std::move(opener));
}

}  // namespace orvex
