#include "online/web_page_panel.h"

#include <QContextMenuEvent>
#include <QImage>
#include <QNetworkReply>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <utility>

#include "online/open_page.h"
#include "online/vendor.h"
#include "online/vendor_network.h"

namespace orvex {
namespace {

// Limits that keep a broken or hostile page from filling memory.
constexpr qint64 kMaxPageBytes = 2 * 1024 * 1024;
constexpr qint64 kMaxResourceBytes = 4 * 1024 * 1024;
constexpr qsizetype kMaxResources = 64;

bool IsWebScheme(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Text in the character set the server names, else the one the page declares
// (byte order mark or <meta> charset), else UTF-8.
QString DecodeText(const QByteArray& data, const QByteArray& contentType) {
  const QByteArray type = contentType.toLower();
  const qsizetype at = type.indexOf("charset=");
  if (at >= 0) {
    QByteArray name = type.mid(at + 8);
    const qsizetype end = name.indexOf(';');
    if (end >= 0) name.truncate(end);
    name = name.trimmed();
    if (name.startsWith('"') && name.endsWith('"') && name.size() >= 2) {
      name = name.mid(1, name.size() - 2);
    }
    QStringDecoder decoder(name.constData());
    if (decoder.isValid()) return decoder.decode(data);
  }
  QStringDecoder decoder = QStringDecoder::decoderForHtml(data);
  if (decoder.isValid()) return decoder.decode(data);
  return QString::fromUtf8(data);
}

const QImage& TransparentPixel() {
  static const QImage pixel = [] {
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
  }();
  return pixel;
}

void AbortWhenLarger(QNetworkReply* reply, qint64 limit) {
  QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                   [reply, limit](qint64 received, qint64) {
                     if (received > limit) reply->abort();
                   });
}

}  // namespace

WebPagePanel::WebPagePanel(QWidget* parent, const QUrl& page) : QTextBrowser(parent), page_(page) {
  setObjectName(QStringLiteral("ORVEX_HTMLPage"));
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setUndoRedoEnabled(false);
  // A banner: it never takes the keyboard away from the player's keys.
  setFocusPolicy(Qt::NoFocus);
  document()->setBaseUrl(page_);
  connect(this, &QTextBrowser::anchorClicked, this, &WebPagePanel::openLink);

  pageReply_ = StartVendorGet(page_, kVendorRequestTimeout);
  AbortWhenLarger(pageReply_, kMaxPageBytes);
  connect(pageReply_, &QNetworkReply::finished, this, &WebPagePanel::pageArrived);
  show();
}

WebPagePanel::~WebPagePanel() {
  DiscardReply(pageReply_, this);
  for (const QPointer<QNetworkReply>& reply : resourceReplies_) DiscardReply(reply, this);
}

QUrl WebPagePanel::vendorPage() {
  return QUrl(QString::fromStdString(AdPageUrl(VendorBaseUrl())));
}

void WebPagePanel::pageArrived() {
  QNetworkReply* reply = pageReply_;
  pageReply_ = nullptr;
  if (reply == nullptr) return;
  reply->deleteLater();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
    emit loadFinished(false);
    return;
  }
  html_ = DecodeText(reply->readAll(), reply->rawHeader("Content-Type"));
  render();
  emit loadFinished(true);
}

QVariant WebPagePanel::loadResource(int type, const QUrl& name) {
  const QUrl url = page_.resolved(name);
  if (const auto found = resources_.constFind(url); found != resources_.constEnd()) {
    return *found;
  }
  if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0) {
    return {};  // the document decodes data: addresses itself
  }
  if (IsWebScheme(url) &&
      (type == QTextDocument::ImageResource || type == QTextDocument::StyleSheetResource)) {
    requestResource(type, url);
  }
  // A stand-in, never nothing: given nothing or an empty picture, the document
  // looks for the name among local files, and a page from the network must never
  // show those. A resource that arrives later replaces its stand-in.
  if (type == QTextDocument::ImageResource) return TransparentPixel();
  return QString();
}

void WebPagePanel::requestResource(int type, const QUrl& url) {
  if (requested_.contains(url) || requested_.size() >= kMaxResources) return;
  requested_.insert(url);
  QNetworkReply* reply = StartVendorGet(url, kVendorRequestTimeout);
  AbortWhenLarger(reply, kMaxResourceBytes);
  resourceReplies_.append(reply);
  connect(reply, &QNetworkReply::finished, this,
          [this, reply, type, url] { resourceArrived(reply, type, url); });
}

void WebPagePanel::resourceArrived(QNetworkReply* reply, int type, const QUrl& url) {
  resourceReplies_.removeAll(reply);
  reply->deleteLater();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) return;
  const QByteArray data = reply->readAll();
  if (type == QTextDocument::ImageResource) {
    QImage image;
    if (!image.loadFromData(data)) return;
    resources_.insert(url, image);
  } else {
    resources_.insert(url, DecodeText(data, reply->rawHeader("Content-Type")));
  }
  document()->addResource(type, url, resources_.value(url));
  // Several pictures arriving together cost one rendering.
  arrived_.append(url);
  if (arrived_.size() == 1) QTimer::singleShot(0, this, &WebPagePanel::renderArrived);
}

void WebPagePanel::renderArrived() {
  const QList<QUrl> urls = std::exchange(arrived_, {});
  render();
  for (const QUrl& url : urls) emit resourceLoaded(url);
}

void WebPagePanel::render() {
  const int scrolled = verticalScrollBar()->value();
  setHtml(html_);
  document()->setBaseUrl(page_);
  verticalScrollBar()->setValue(scrolled);
  requestImages();
}

// Pictures are asked for as soon as the page is in, not only once it is painted.
void WebPagePanel::requestImages() {
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat format = it.fragment().charFormat();
      if (format.isImageFormat()) {
        loadResource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name()));
      }
    }
  }
}

void WebPagePanel::openLink(const QUrl& link) {
  if (link.isRelative() && link.path().isEmpty() && link.hasFragment()) {
    scrollToAnchor(link.fragment());
    return;
  }
  const QUrl url = page_.resolved(link);
  const QString scheme = url.scheme().toLower();
  // Only web and mail addresses leave the panel: a page from the network must
  // not make the desktop open local files or start other programs.
  if (IsWebScheme(url) || scheme == QLatin1String("mailto")) OpenWebPage(url);
}

void WebPagePanel::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
}

}  // namespace orvex
