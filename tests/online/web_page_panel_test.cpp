#include "online/web_page_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <iostream>
#include <string>

#include "app/learn_keys_page.h"
#include "flood_server.h"
#include "http_test_server.h"
#include "loop_watch.h"
#include "online/http_client.h"
#include "online/open_page.h"
#include "online/page_budget.h"

namespace orvex {
namespace {

using test::FloodServer;
using test::HttpTestServer;
using test::LoopWatch;
using test::WaitFor;

constexpr std::size_t kMiB = 1024 * 1024;
// AddressSanitizer keeps freed memory aside: the resident memory says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif

void ExpectResidentUnderBound(const LoopWatch& watch) {
  if (!kMeasuresMemory) return;
  EXPECT_LT(watch.peakResidentKb(), 100 * 1024);
}

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

QUrl PageOf(const std::string& base) {
  return QUrl(QString::fromStdString(base + "orvex/ad.htm"));
}
QUrl PageOf(const HttpTestServer& server) {
  return PageOf(server.base());
}

// What a flood cost; the largest event-loop stall is printed, never judged.
void Report(const char* what, const LoopWatch& watch) {
  std::cout << "[ figures  ] " << what << ": largest event-loop stall " << watch.maxStallMs()
            << " ms over " << watch.timeouts() << " turns, resident memory "
            << watch.startResidentKb() / 1024 << " MB at the start, at most "
            << watch.peakResidentKb() / 1024 << " MB, most bytes held " << watch.maxTracked() / 1024
            << " KiB\n";
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

  // Makes the panel and watches the event loop and the bytes the panel and
  // the transfers hold, from the start.
  WebPagePanel* Watch(const QUrl& page, std::unique_ptr<LoopWatch>* watch) {
    ResetHttpPeakBytesBuffered();
    *watch = std::make_unique<LoopWatch>();
    auto* panel = new WebPagePanel(&parent_, page);
    panel->setGeometry(parent_.rect());
    (*watch)->track([panel] { return panel->bytesHeld() + HttpBytesBuffered(); });
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

TEST_F(WebPagePanelTest, TheLearnKeysShowWhenThePageCannotBeHadAndFitThePanel) {
  const QString fallback = QString::fromStdString(LearnKeysPage());
  // Refused, an error status, a missing page: the program's own page instead.
  for (const QUrl& page :
       {QUrl(QStringLiteral("http://127.0.0.1:%1/orvex/ad.htm").arg(test::ClosedPort())),
        PageOf(server_)}) {
    auto* panel = new WebPagePanel(&parent_, page);
    panel->setGeometry(0, 0, 361, 88);  // its place in the window: (W - 243) x (H - 10)
    panel->setFallback(fallback);
    QSignalSpy finished(panel, &WebPagePanel::loadFinished);
    ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
    EXPECT_FALSE(finished.front().front().toBool());
    const QString text = panel->toPlainText();
    for (const char* entry : {"放慢", "加快", "原速", "A点前移", "B点后移", "上一句", "下一句",
                              "重复本句", "Shift+←", "PageDown", "Enter"}) {
      EXPECT_TRUE(text.contains(QString::fromUtf8(entry))) << entry;
    }
    // Whole, without scrolling, under either locale's fonts.
    EXPECT_LE(panel->document()->size().height(), panel->viewport()->height());
    EXPECT_LE(panel->document()->idealWidth(), panel->viewport()->width());
    EXPECT_FALSE(panel->verticalScrollBar()->isVisible());
    QDir().mkpath(QStringLiteral(ORVEX_BIN_DIR "/../artefacts"));
    panel->grab().save(QStringLiteral(ORVEX_BIN_DIR "/../artefacts/web_panel_learn_keys.png"));
  }
  // The vendor's page wins whenever it loads.
  server_.answer("/orvex/ad.htm", {200, "text/html", "<p>banner</p>"});
  auto* panel = new WebPagePanel(&parent_, PageOf(server_));
  panel->setFallback(fallback);
  QSignalSpy finished(panel, &WebPagePanel::loadFinished);
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
  EXPECT_EQ(panel->toPlainText().trimmed(), QStringLiteral("banner"));
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

TEST_F(WebPagePanelTest, AnOversizedPageIsNeverLaidOut) {
  const std::string page = test::ParagraphPage(8 * kMiB);
  for (const bool declared : {true, false}) {
    // In one burst, with or without its length.
    FloodServer flood;
    flood.route("/orvex/ad.htm", test::Body("text/html", page, declared));
    std::unique_ptr<LoopWatch> watch;
    WebPagePanel* panel = Watch(PageOf(flood.base()), &watch);
    QSignalSpy finished(panel, &WebPagePanel::loadFinished);
    ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
    Report(declared ? "8 MB page, length declared" : "8 MB page, no length", *watch);

    EXPECT_FALSE(finished.front().front().toBool());
    EXPECT_TRUE(panel->toPlainText().isEmpty());
    EXPECT_EQ(panel->bytesHeld(), 0u);
    EXPECT_LE(HttpPeakBytesBuffered(), kMaxPageBytes);
    EXPECT_LE(watch->maxTracked(), kMaxPageBytes);
    EXPECT_GT(watch->timeouts(), 0);
    ExpectResidentUnderBound(*watch);
    delete panel;
  }
}

TEST_F(WebPagePanelTest, PagesThatWouldStallTheWindowAreNotShown) {
  const QByteArray nestedTables =
      QByteArray("<table><tr><td>x").repeated(21) + QByteArray("</td></tr></table>").repeated(21);
  const QByteArray bigPage = QByteArray::fromStdString(test::ParagraphPage(kMaxPageBytes / 2));
  for (const QByteArray& page : {nestedTables, bigPage}) {
    server_.answer("/orvex/ad.htm", {200, "text/html", page});
    bool shown = true;
    WebPagePanel* panel = Load(PageOf(server_), &shown);
    EXPECT_FALSE(shown) << page.size();
    EXPECT_TRUE(panel->toPlainText().isEmpty());
    delete panel;
  }
}

TEST_F(WebPagePanelTest, HeadersThatNeverEndLeaveThePanelEmpty) {
  FloodServer flood;
  flood.route("/orvex/ad.htm", test::EndlessHeaders());
  std::unique_ptr<LoopWatch> watch;
  WebPagePanel* panel = Watch(PageOf(flood.base()), &watch);
  QSignalSpy finished(panel, &WebPagePanel::loadFinished);
  // Well before the time-out of 30 s.
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }, 15000));
  Report("endless headers", *watch);
  EXPECT_FALSE(finished.front().front().toBool());
  EXPECT_TRUE(panel->toPlainText().isEmpty());
  ExpectResidentUnderBound(*watch);
}

TEST_F(WebPagePanelTest, ManyLargePicturesAreBounded) {
  // 60 pictures of 40 MB, streamed as fast as they are read, half of them
  // with their length declared.
  FloodServer flood;
  std::string html = "<html><body><p>pictures</p>";
  for (int i = 0; i < 60; ++i) {
    const std::string name = "img" + std::to_string(i) + ".png";
    html += "<img src=\"" + name + "\">";
    flood.route("/orvex/" + name,
                test::Stream("image/png", "\x89PNG\r\n\x1a\n", 40 * kMiB, i % 2 == 0));
  }
  flood.route("/orvex/ad.htm", test::Body("text/html", html + "</body></html>"));
  std::unique_ptr<LoopWatch> watch;
  WebPagePanel* panel = Watch(PageOf(flood.base()), &watch);
  QSignalSpy finished(panel, &WebPagePanel::loadFinished);
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
  EXPECT_TRUE(finished.front().front().toBool());
  // Until no picture is being sent any more.
  ASSERT_TRUE(
      WaitFor([&] { return flood.requestsFor("/orvex/img") > 0 && flood.openConnections() == 0; }));
  QThreadPool::globalInstance()->waitForDone();
  QTest::qWait(100);
  Report("60 pictures of 40 MB", *watch);

  // Once the pictures' bytes are spent, no more pictures are asked for.
  EXPECT_LT(flood.requestsFor("/orvex/img"), 60);
  EXPECT_LE(HttpPeakBytesBuffered(), kParallelResources * kMaxPictureBytes);
  EXPECT_LE(watch->maxTracked(), kMaxResourceBytesTotal + kMaxShownPage.bytes);
  EXPECT_LT(panel->bytesHeld(), 64u * 1024);
  EXPECT_TRUE(panel->toPlainText().contains(QStringLiteral("pictures")));
  EXPECT_GT(watch->timeouts(), 0);
  ExpectResidentUnderBound(*watch);
}

TEST_F(WebPagePanelTest, PicturesTooCostlyToDecodeAreLeftOut) {
  const QColor red(255, 0, 0);
  // One pixel row more than the bound, and a drawing in a vector format.
  const QSize tooMany(2048, static_cast<int>(kMaxPicturePixels / 2048) + 1);
  server_.answer("/orvex/ad.htm", {200, "text/html",
                                   "<img src=\"huge.png\"><img src=\"drawing.svg\">"
                                   "<img src=\"pic.png\">"});
  server_.answer("/orvex/huge.png", {200, "image/png", Png(tooMany, red)});
  server_.answer("/orvex/drawing.svg",
                 {200, "image/svg+xml",
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" height=\"30\">"
                  "<rect width=\"40\" height=\"30\" fill=\"red\"/></svg>"});
  server_.answer("/orvex/pic.png", {200, "image/png", Png(QSize(40, 30), red)});
  WebPagePanel* panel = Load(PageOf(server_));
  ASSERT_TRUE(WaitFor([&] {
    return server_.received("/orvex/huge.png") && server_.received("/orvex/drawing.svg") &&
           CountColour(panel->grab().toImage(), red) > 0;
  }));
  QThreadPool::globalInstance()->waitForDone();
  QTest::qWait(100);

  // Only the small picture is drawn, and only its pixels are held.
  EXPECT_EQ(CountColour(panel->grab().toImage(), red), 40 * 30);
  EXPECT_LT(panel->bytesHeld(), 40u * 30 * 4 + 4096);
  const QVariant huge =
      panel->document()->resource(QTextDocument::ImageResource,
                                  QUrl(QString::fromStdString(server_.base() + "orvex/huge.png")));
  EXPECT_NE(huge.value<QImage>().size(), tooMany);
}

}  // namespace
}  // namespace orvex
