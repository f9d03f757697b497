#pragma once
// The web page panel: a light HTML view inside the options panel that shows one
// page of the vendor server. The page and its pictures and style sheets come
// through HttpGet without ever blocking the GUI thread, each bounded by the
// bytes actually read (page_budget.h); pictures are decoded on a pool thread,
// and the page is rendered again as they arrive. A page too large to lay out
// quickly is never handed to the text browser. A click on a link opens it in
// the user's browser. There is no context menu. A page that can't be loaded
// or shown gives way to a small page of the program's own, when it has one;
// nothing is reported.

#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QTextBrowser>
#include <QUrl>
#include <cstddef>
#include <memory>
#include <vector>

#include "online/page_budget.h"

namespace orvex {

class HttpGet;
struct DecodeMailbox;

class WebPagePanel : public QTextBrowser {
  Q_OBJECT

 public:
  // Starts loading `page` and returns at once. The caller places and sizes
  // the panel (object name "ORVEX_HTMLPage", a sunken frame).
  WebPagePanel(QWidget* parent, const QUrl& page);
  ~WebPagePanel() override;

  const QUrl& page() const { return page_; }

  // The page shown when the vendor's cannot be: one of the program's own,
  // complete in itself. The vendor's page wins whenever it loads.
  void setFallback(const QString& html);

  // The bytes the panel holds now: the page's text, the pictures (decoded or
  // being decoded) and the style sheets. What the running requests have read
  // so far is held by the HTTP client (HttpBytesBuffered).
  std::size_t bytesHeld() const;

 signals:
  // The page request has ended; `shown` tells whether the page is displayed.
  void loadFinished(bool shown);
  // A picture or style sheet of the page has arrived and the page shows it.
  void resourceLoaded(const QUrl& url);

 protected:
  QVariant loadResource(int type, const QUrl& name) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  friend struct DecodeMailbox;

  struct Wanted {
    int type;
    QUrl url;
  };

  void pageArrived();
  void requestResource(int type, const QUrl& url);
  void startResources();
  void resourceArrived(HttpGet* get, int type, const QUrl& url, std::size_t reserved);
  void pictureDecoded(const QUrl& url, const QImage& image, std::size_t encodedBytes);
  void keep(int type, const QUrl& url, const QVariant& value);
  void renderArrived();
  void requestImages();
  void render();
  void openLink(const QUrl& link);

  void showFallback();

  QUrl page_;
  QString html_;
  QString fallback_;
  bool loadEnded_ = false;  // the vendor's page came, or is not coming
  PageShape shape_;
  std::unique_ptr<HttpGet> pageGet_;
  std::vector<std::unique_ptr<HttpGet>> resourceGets_;  // running
  QList<Wanted> waiting_;                               // asked for, not started
  QHash<QUrl, QVariant> resources_;                     // by absolute address
  QSet<QUrl> requested_;
  QList<QUrl> arrived_;  // arrived since the last rendering
  // Bytes the resources may still read, all together; a running request has
  // its bound taken off until it ends.
  std::size_t resourceBytesLeft_ = kMaxResourceBytesTotal;
  std::size_t decodedBytes_ = 0;   // pictures kept
  std::size_t decodingBytes_ = 0;  // pictures being decoded
  std::size_t sheetChars_ = 0;     // style sheets kept
  std::shared_ptr<DecodeMailbox> mailbox_;
};

}  // namespace orvex
