#include "online/web_page_panel.h"

#include <QBuffer>
#include <QContextMenuEvent>
#include <QImageReader>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <mutex>
#include <utility>

#include "online/http_client.h"
#include "online/open_page.h"
#include "online/vendor.h"

namespace orvex {

// Where a picture decoded on a pool thread goes: the panel while it lives.
struct DecodeMailbox {
  void post(const QUrl& url, const QImage& image, std::size_t encodedBytes) {
    std::lock_guard lock(mutex);
    // The panel cannot go while the lock is held; once it has gone, the
    // posted call is dropped with it.
    if (panel == nullptr) return;
    QMetaObject::invokeMethod(
        panel,
        [target = panel, url, image, encodedBytes] {
          target->pictureDecoded(url, image, encodedBytes);
        },
        Qt::QueuedConnection);
  }

  std::mutex mutex;
  WebPagePanel* panel = nullptr;
};

namespace {

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

// Decodes a picture off the GUI thread, if it is one of the common web formats
// (never a vector format, whose drawing cost has no bound) and has at most
// kMaxPicturePixels, and posts it to the panel; a null image when it is not.
void DecodePicture(const std::shared_ptr<DecodeMailbox>& mailbox, const QUrl& url,
                   QByteArray data) {
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  const QByteArray format = reader.format();
  QImage image;
  if (format == "png" || format == "jpeg" || format == "gif" || format == "bmp") {
    const QSize size = reader.size();
    if (size.isValid() &&
        static_cast<std::size_t>(size.width()) * size.height() <= kMaxPicturePixels) {
      reader.read(&image);
    }
  }
  mailbox->post(url, image, static_cast<std::size_t>(data.size()));
}

}  // namespace

WebPagePanel::WebPagePanel(QWidget* parent, const QUrl& page)
    : QTextBrowser(parent), page_(page), mailbox_(std::make_shared<DecodeMailbox>()) {
  mailbox_->panel = this;
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

  pageGet_ = std::make_unique<HttpGet>(page_, HttpLimits{.maxBodyBytes = kMaxPageBytes});
  connect(pageGet_.get(), &HttpGet::finished, this, &WebPagePanel::pageArrived);
  pageGet_->start();
  show();
}

WebPagePanel::~WebPagePanel() {
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->panel = nullptr;
}

std::size_t WebPagePanel::bytesHeld() const {
  return static_cast<std::size_t>(html_.size()) * sizeof(QChar) + decodedBytes_ + decodingBytes_ +
         sheetChars_ * sizeof(QChar);
}

void WebPagePanel::setFallback(const QString& html) {
  fallback_ = html;
  if (loadEnded_ && html_.isEmpty()) showFallback();
}

void WebPagePanel::showFallback() {
  if (fallback_.isEmpty()) return;
  // Nothing of it comes from the network: no pictures, no style sheets. A
  // narrow margin, so the whole page fits the panel.
  document()->setDocumentMargin(2);
  setHtml(fallback_);
}

void WebPagePanel::pageArrived() {
  HttpGet* get = pageGet_.release();
  get->deleteLater();
  loadEnded_ = true;
  // Only a whole page of at most kMaxPageBytes, and one small enough to be
  // laid out at once, is shown.
  if (!get->succeeded() || static_cast<std::size_t>(get->body().size()) > kMaxShownPage.bytes) {
    showFallback();
    emit loadFinished(false);
    return;
  }
  QString html = DecodeText(get->body(), get->contentType());
  shape_ = MeasurePage(html.toUtf8().toStdString());
  if (!FitsPanel(shape_)) {
    showFallback();
    emit loadFinished(false);
    return;
  }
  html_ = std::move(html);
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
  if (requested_.contains(url) || static_cast<std::size_t>(requested_.size()) >= kMaxResources) {
    return;
  }
  requested_.insert(url);
  waiting_.append({type, url});
  startResources();
}

void WebPagePanel::startResources() {
  while (!waiting_.isEmpty() && resourceGets_.size() < kParallelResources) {
    if (resourceBytesLeft_ == 0) {
      waiting_.clear();  // the page has had all it may read
      return;
    }
    const Wanted wanted = waiting_.takeFirst();
    const std::size_t bound = std::min(
        wanted.type == QTextDocument::ImageResource ? kMaxPictureBytes : kMaxStyleSheetBytes,
        resourceBytesLeft_);
    resourceBytesLeft_ -= bound;
    auto get = std::make_unique<HttpGet>(wanted.url, HttpLimits{.maxBodyBytes = bound});
    HttpGet* started = get.get();
    connect(started, &HttpGet::finished, this, [this, started, wanted, bound] {
      resourceArrived(started, wanted.type, wanted.url, bound);
    });
    resourceGets_.push_back(std::move(get));
    started->start();
  }
}

void WebPagePanel::resourceArrived(HttpGet* get, int type, const QUrl& url, std::size_t reserved) {
  const auto found = std::find_if(resourceGets_.begin(), resourceGets_.end(),
                                  [get](const auto& running) { return running.get() == get; });
  found->release()->deleteLater();
  resourceGets_.erase(found);
  // What was read counts against the page's bound; the rest of the reservation is free again.
  QByteArray data = get->body();
  resourceBytesLeft_ += reserved - std::min(reserved, static_cast<std::size_t>(data.size()));
  const bool usable = get->succeeded();
  const QByteArray contentType = get->contentType();
  startResources();
  if (!usable) return;

  if (type == QTextDocument::ImageResource) {
    decodingBytes_ += static_cast<std::size_t>(data.size());
    QThreadPool::globalInstance()->start(
        [mailbox = mailbox_, url, data = std::move(data)]() mutable {
          DecodePicture(mailbox, url, std::move(data));
        });
    return;
  }
  const QString sheet = DecodeText(data, contentType);
  // Style rules are matched against every element: the page's and the linked
  // sheets' share one bound.
  const std::size_t chars = static_cast<std::size_t>(sheet.size());
  if (!FitsPanel(shape_, sheetChars_ + chars)) return;
  sheetChars_ += chars;
  keep(type, url, sheet);
}

void WebPagePanel::pictureDecoded(const QUrl& url, const QImage& image, std::size_t encodedBytes) {
  decodingBytes_ -= std::min(decodingBytes_, encodedBytes);
  if (image.isNull()) return;
  const auto bytes = static_cast<std::size_t>(image.sizeInBytes());
  if (decodedBytes_ + bytes > kMaxDecodedBytesTotal) return;
  decodedBytes_ += bytes;
  keep(QTextDocument::ImageResource, url, image);
}

void WebPagePanel::keep(int type, const QUrl& url, const QVariant& value) {
  resources_.insert(url, value);
  document()->addResource(type, url, value);
  // Several resources arriving together cost one rendering.
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
