#include "online/web_page_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>

#include "http_test_server.h"
#include "online/open_page.h"

namespace orvex {
namespace {

using test::HttpTestServer;
using test::WaitFor;

QByteArray Png(const QSize& size, QColor color) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(color);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

int CountColour(const QImage& image, QColor colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) == colour) ++count;
    }
  }
  return count;
}

QUrl PageOf(const HttpTestServer& server) {
  return QUrl(QString::fromStdString(server.base() + "orvex/ad.htm"));
}

class WebPagePanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_.resize(320, 98);
    parent_.show();
  }

  // Makes the panel over the whole parent and waits for the page request to end.
  WebPagePanel* Load(const QUrl& page, bool* shown = nullptr) {
    auto* panel = new WebPagePanel(&parent_, page);
    panel->setGeometry(parent_.rect());
    QSignalSpy finished(panel, &WebPagePanel::loadFinished);
    EXPECT_TRUE(WaitFor([&] { return finished.count() > 0; }));
    if (shown != nullptr && !finished.isEmpty()) *shown = finished.front().front().toBool();
    return panel;
  }

  HttpTestServer server_;
  QWidget parent_;
};

TEST_F(WebPagePanelTest, ShowsTheServedPageWithItsPicture) {
  const QColor red(255, 0, 0);
  server_.answer("/orvex/ad.htm",
                 {200, "text/html; charset=utf-8",
                  "<html><body><p>Orvex 听力</p><img src=\"pic.png\"></body></html>"});
  server_.answer("/orvex/pic.png", {200, "image/png", Png(QSize(40, 30), red)});
  bool shown = false;
  WebPagePanel* panel = Load(PageOf(server_), &shown);

  EXPECT_TRUE(shown);
  EXPECT_EQ(panel->objectName(), "ORVEX_HTMLPage");
  EXPECT_TRUE(panel->toPlainText().contains(QStringLiteral("Orvex 听力")));
  // The picture is laid out at its own size once it has arrived.
  ASSERT_TRUE(WaitFor([&] { return CountColour(panel->grab().toImage(), red) == 40 * 30; }))
      << "the picture never appeared whole on the page";
  EXPECT_TRUE(server_.received("/orvex/pic.png"));
  const QVariant picture = panel->document()->resource(
      QTextDocument::ImageResource, QUrl(QString::fromStdString(server_.base() + "orvex/pic.png")));
  EXPECT_EQ(picture.value<QImage>().size(), QSize(40, 30));
}

TEST_F(WebPagePanelTest, FillsTheRectangleItIsGiven) {
  server_.answer("/orvex/ad.htm", {200, "text/html", "<p>banner</p>"});
  WebPagePanel* panel = Load(PageOf(server_));
  EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
  EXPECT_GT(panel->frameWidth(), 0);
  for (const QRect& area : {QRect(0, 0, 320, 98), QRect(4, 2, 200, 60)}) {
    panel->setGeometry(area);
    EXPECT_EQ(panel->geometry(), area);
    // The page itself covers everything inside the frame.
    EXPECT_EQ(panel->viewport()->geometry(), panel->contentsRect());
  }
}

TEST_F(WebPagePanelTest, PageInTheCharacterSetItDeclares) {
  QStringEncoder gbk("GBK");
  ASSERT_TRUE(gbk.isValid());
  const QByteArray body =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
      "</head><body>" +
      QByteArray(gbk.encode(QStringLiteral("听力资料"))) + "</body></html>";
  server_.answer("/orvex/ad.htm", {200, "text/html", body});
  WebPagePanel* panel = Load(PageOf(server_));
  EXPECT_EQ(panel->toPlainText().trimmed(), QStringLiteral("听力资料"));
}

TEST_F(WebPagePanelTest, StaysEmptyWhenThePageCannotBeHad) {
  bool shown = true;
  WebPagePanel* missing = Load(PageOf(server_), &shown);  // the server answers 404
  EXPECT_FALSE(shown);
  EXPECT_TRUE(missing->toPlainText().isEmpty());

  server_.answer("/orvex/ad.htm", {500, "text/html", "<h1>Internal Server Error</h1>"});
  WebPagePanel* failing = Load(PageOf(server_));
  EXPECT_TRUE(failing->toPlainText().isEmpty());

  WebPagePanel* refused =
      Load(QUrl(QStringLiteral("http://127.0.0.1:%1/orvex/ad.htm").arg(test::ClosedPort())));
  EXPECT_TRUE(refused->toPlainText().isEmpty());
}

TEST_F(WebPagePanelTest, PicturesNeverComeFromLocalFiles) {
  const QColor red(255, 0, 0);
  const QColor blue(0, 0, 255);
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  for (const QString& name : {QStringLiteral("missing.png"), QStringLiteral("rooted.png")}) {
    QFile file(folder.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Png(QSize(40, 30), blue));
  }
  const QString previousFolder = QDir::currentPath();
  QDir::setCurrent(folder.path());
  // Pictures the server does not have, named like files of this machine.
  server_.answer("/orvex/ad.htm", {200, "text/html",
                                   "<img src=\"missing.png\"><img src=\"" +
                                       folder.filePath(QStringLiteral("rooted.png")).toUtf8() +
                                       "\"><img src=\"pic.png\">"});
  server_.answer("/orvex/pic.png", {200, "image/png", Png(QSize(40, 30), red)});
  WebPagePanel* panel = Load(PageOf(server_));
  const bool pictureShown =
      WaitFor([&] { return CountColour(panel->grab().toImage(), red) == 40 * 30; });
  const int localPixels = CountColour(panel->grab().toImage(), blue);
  QDir::setCurrent(previousFolder);

  EXPECT_TRUE(pictureShown);
  EXPECT_TRUE(server_.received("/orvex/missing.png"));
  EXPECT_EQ(localPixels, 0);
}

TEST_F(WebPagePanelTest, CreationDoesNotWaitForTheServer) {
  server_.answer("/orvex/ad.htm", test::Silence());
  {
    WebPagePanel panel(&parent_, PageOf(server_));
    EXPECT_TRUE(panel.toPlainText().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return server_.received("/orvex/ad.htm"); }));
  }
  // Destroyed while loading: the request is dropped.
  EXPECT_TRUE(WaitFor([&] { return server_.closedByClient() == 1; }));
}

TEST_F(WebPagePanelTest, RightClickShowsNoMenu) {
  server_.answer("/orvex/ad.htm", {200, "text/html", "<p>banner text</p>"});
  WebPagePanel* panel = Load(PageOf(server_));
  int parentMenus = 0;
  parent_.setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(&parent_, &QWidget::customContextMenuRequested, [&] { ++parentMenus; });

  // Whatever menu opens is noted and closed again, so a modal one cannot hang the test.
  auto rightClick = [](QWidget* target) {
    bool menuSeen = false;
    QTimer::singleShot(50, [&] {
      if (QWidget* popup = QApplication::activePopupWidget()) {
        menuSeen = true;
        popup->close();
      }
    });
    const QPoint at(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
    QApplication::sendEvent(target, &event);
    QTest::qWait(100);
    if (QWidget* popup = QApplication::activePopupWidget()) {
      menuSeen = true;
      popup->close();
    }
    return menuSeen;
  };

  // The same right-click on a plain text browser does open its menu.
  QTextBrowser plain(&parent_);
  plain.setGeometry(parent_.rect());
  plain.setHtml(QStringLiteral("<p>banner text</p>"));
  plain.show();
  ASSERT_TRUE(rightClick(plain.viewport()));
  plain.hide();

  EXPECT_FALSE(rightClick(panel->viewport()));
  EXPECT_EQ(parentMenus, 0);
}

TEST_F(WebPagePanelTest, LinksOpenInTheBrowser) {
  server_.answer("/orvex/ad.htm",
                 {200, "text/html",
                  "<p style=\"font-size:30px\"><a href=\"more.htm\">MORE</a></p>"
                  "<p style=\"font-size:30px\"><a href=\"file:///etc/passwd\">FILE</a></p>"});
  QList<QUrl> opened;
  const WebPageOpener previous = SetWebPageOpener([&](const QUrl& url) { opened.append(url); });
  parent_.resize(320, 200);
  WebPagePanel* panel = Load(PageOf(server_));

  auto clickOn = [panel](const QString& word) {
    QTextCursor found = panel->document()->find(word);
    ASSERT_FALSE(found.isNull()) << word.toStdString();
    QTextCursor middle(panel->document());
    middle.setPosition(found.selectionStart() + 2);
    QTest::mouseClick(panel->viewport(), Qt::LeftButton, {}, panel->cursorRect(middle).center());
  };
  clickOn(QStringLiteral("MORE"));
  clickOn(QStringLiteral("FILE"));
  SetWebPageOpener(previous);

  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened.front().toString().toStdString(), server_.base() + "orvex/more.htm");
}

}  // namespace
}  // namespace orvex
