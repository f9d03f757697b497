#pragma once
// The web page panel: a light HTML view inside the options panel that shows one
// page of the vendor server. The page and its pictures and style sheets come
// through Qt Network without ever blocking the GUI thread; the page is
// rendered again as each of them arrives. A click on a link opens it in the
// user's browser. There is no context menu. A page that can't be loaded leaves
// the panel empty, and nothing is reported.

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTextBrowser>
#include <QUrl>

class QNetworkReply;

namespace orvex {

class WebPagePanel : public QTextBrowser {
  Q_OBJECT

 public:
  // Starts loading `page` and returns at once. The caller places and sizes
  // the panel (object name "ORVEX_HTMLPage", a sunken frame).
  WebPagePanel(QWidget* parent, const QUrl& page);
  ~WebPagePanel() override;

  // The vendor's page for the panel: AdPageUrl(VendorBaseUrl()).
  static QUrl vendorPage();

  const QUrl& page() const { return page_; }

 signals:
  // The page request has ended; `shown` tells whether the page is displayed.
  void loadFinished(bool shown);
  // A picture or style sheet of the page has arrived and the page shows it.
  void resourceLoaded(const QUrl& url);

 protected:
  QVariant loadResource(int type, const QUrl& name) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void pageArrived();
  void requestResource(int type, const QUrl& url);
  void resourceArrived(QNetworkReply* reply, int type, const QUrl& url);
  void renderArrived();
  void requestImages();
  void render();
  void openLink(const QUrl& link);

  QUrl page_;
  QString html_;
  QPointer<QNetworkReply> pageReply_;
  QList<QPointer<QNetworkReply>> resourceReplies_;
  QHash<QUrl, QVariant> resources_;  // by absolute address
  QSet<QUrl> requested_;
  QList<QUrl> arrived_;  // arrived since the last rendering
};

}  // namespace orvex
