// What a hostile vendor server costs the window, offscreen. The server runs on
// its own threads on loopback and sends as fast as the program reads; the
// program's event loop is watched by a 0 ms timer the whole time.
//   online_bench page          an 8 MB page in one burst, length declared
//   online_bench page-stream   an 8 MB page streamed with no length
//   online_bench images        a page with 60 pictures of 40 MB each, streamed
//   online_bench header-page   endless response headers for the panel's page
//   online_bench header-check  endless response headers for the version check
//   online_bench header-report endless response headers for the usage report
//   online_bench header-line   one header line that never ends, for the check
//   online_bench bounds        pages at the bounds of what the panel shows
//                              (online/page_budget.h), each with its stall
// Each prints how long the request took to end, the largest event-loop stall,
// the peak resident memory and what the panel holds. Run one scenario per
// process (bench/online/run_online_bench.sh runs them all).

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTextDocument>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../../tests/online/flood_server.h"
#include "../../tests/online/loop_watch.h"
#include "online/http_client.h"
#include "online/page_budget.h"
#include "online/usage_report.h"
#include "online/version_check.h"
#include "online/web_page_panel.h"

namespace orvex {
namespace {

using test::FloodServer;
using test::LoopWatch;

constexpr std::size_t kMiB = 1024 * 1024;

// Runs the event loop until `done` holds or `boundMs` pass; returns the time taken.
double RunUntil(const std::function<bool()>& done, int boundMs) {
  QElapsedTimer clock;
  clock.start();
  QDeadlineTimer deadline(boundMs);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
  }
  return clock.nsecsElapsed() / 1e6;
}

void Settle(int ms) {
  RunUntil([] { return false; }, ms);
}

void Report(const char* name, double endedMs, bool ended, const LoopWatch& watch,
            const std::string& extra) {
  std::printf(
      "%-14s ended %s after %8.0f ms | max stall %7.1f ms | RSS %5.1f MB at start, peak %6.1f MB "
      "| peak HTTP buffers %5.2f MB | %s\n",
      name, ended ? "yes" : "NO ", endedMs, watch.maxStallMs(), watch.startResidentKb() / 1024.0,
      watch.peakResidentKb() / 1024.0, HttpPeakBytesBuffered() / double(kMiB), extra.c_str());
  std::fflush(stdout);
}

std::string PanelFigures(const WebPagePanel& panel, bool shown) {
  return "shown " + std::to_string(shown) + ", panel holds " +
         std::to_string(panel.bytesHeld() / 1024) + " KiB, characters laid out " +
         std::to_string(panel.document()->characterCount() - 1);
}

// A panel of the size the window gives it, loading the server's page, and
// the event loop watched from its start.
struct PanelUnderWatch {
  explicit PanelUnderWatch(FloodServer& server) {
    parent.resize(320, 98);
    parent.show();
    panel = new WebPagePanel(&parent, QUrl(QString::fromStdString(server.base() + "orvex/ad.htm")));
    panel->setGeometry(parent.rect());
    QObject::connect(panel, &WebPagePanel::loadFinished, [this](bool ok) {
      ended = true;
      shown = ok;
    });
  }
  // Runs the event loop until the page has loaded or failed, at most limitMs.
  double WaitEnded(int limitMs) {
    return RunUntil([this] { return ended; }, limitMs);
  }

  QWidget parent;
  LoopWatch watch;
  WebPagePanel* panel = nullptr;
  bool ended = false;
  bool shown = false;
};

// Loads `page` into a panel and watches.
int RunPanel(const char* name, FloodServer& server, int settleMs,
             const std::function<bool()>& serverDone = {}) {
  PanelUnderWatch run(server);
  const double endedMs = run.WaitEnded(120000);
  if (serverDone) RunUntil(serverDone, 120000);
  Settle(settleMs);
  Report(name, endedMs, run.ended, run.watch, PanelFigures(*run.panel, run.shown));
  return run.ended ? 0 : 1;
}

template <typename Request>
int RunRequest(const char* name, Request& request) {
  LoopWatch watch;
  bool ended = false;
  QObject::connect(&request, &Request::finished, [&] { ended = true; });
  request.start();
  const double endedMs = RunUntil([&] { return ended; }, 60000);
  Report(name, endedMs, ended, watch, "");
  return ended ? 0 : 1;
}

std::string Repeat(const std::string& part, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += part;
  return all;
}

std::string Tables(int depth, int fan) {
  if (depth == 0) return "cell";
  std::string table = "<table border=1><tr>";
  for (int i = 0; i < fan; ++i) table += "<td>" + Tables(depth - 1, fan) + "</td>";
  return table + "</tr></table>";
}

// Pages that each sit at one or more of the bounds of what the panel lays out.
std::vector<std::pair<std::string, std::string>> PagesAtTheBounds() {
  const PageShape& most = kMaxShownPage;
  const int elements = static_cast<int>(most.elements) - 1;
  std::vector<std::pair<std::string, std::string>> pages;
  const std::string word(most.longestWord - 1, 'w');
  pages.emplace_back(
      "long words",
      "<p>" + Repeat(word + " ", static_cast<int>(most.textBytes / most.longestWord) - 1) + "</p>");
  // Formats changing inside words: 3 bold letters and 3 plain ones a word.
  pages.emplace_back("formatted words",
                     "<p>" + Repeat(Repeat("x<b>y</b>", 3) + " ", elements / 6) + "</p>");
  pages.emplace_back("list items", "<ul>" + Repeat("<li>item</li>", elements) + "</ul>");
  pages.emplace_back("links", "<p>" + Repeat("<a href=\"more.htm\">more</a> ", elements) + "</p>");
  pages.emplace_back("line breaks", "<p>" + Repeat("line<br>", elements) + "</p>");
  pages.emplace_back("table cells", "<table>" +
                                        Repeat("<tr>" + Repeat("<td>c</td>", 16) + "</tr>",
                                               static_cast<int>(most.cells) / 16 - 1) +
                                        "</table>");
  pages.emplace_back("nested tables", Tables(static_cast<int>(most.tableDepth), 3));
  pages.emplace_back("deep elements",
                     Repeat(Repeat("<div>", 31) + "x" + Repeat("</div>", 31), elements / 31));
  std::string style = "<style>";
  for (int i = 0; style.size() < kMaxStyleWork / most.elements - 60; ++i) {
    style += ".c" + std::to_string(i) + " div p span { color: red; margin: 1px }\n";
  }
  style += "</style>";
  pages.emplace_back("style rules",
                     style + Repeat("<div class=c1><p><span>x</span></p></div>", elements / 3));
  pages.emplace_back("text", "<p>" +
                                 Repeat("Listening practice, sentence by sentence. ",
                                        static_cast<int>(most.textBytes) / 42) +
                                 "</p>");
  std::string pictures;
  for (std::size_t i = 0; i < most.images; ++i) {
    pictures += "<img src=\"p" + std::to_string(i) + ".png\"> ";
  }
  pages.emplace_back("pictures", "<p>" + pictures + "</p>");
  // A bit of everything, up to the bounds on the page as a whole.
  pages.emplace_back("everything", style + "<p>" + pictures + "</p>" + Tables(3, 3) + "<ul>" +
                                       Repeat("<li>" + Repeat("practice ", 12) + "</li>", 30) +
                                       "</ul>" +
                                       Repeat("<div class=c1><p><span>x</span></p></div>", 70) +
                                       "<p>" + Repeat(std::string(250, 'w') + " ", 12) + "</p>");
  return pages;
}

std::string Png(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

int RunBounds(FloodServer& server) {
  for (int i = 0; i < 64; ++i) {
    server.route("/orvex/p" + std::to_string(i) + ".png", test::Body("image/png", Png(40, 30)));
  }
  int result = 0;
  for (const auto& [name, html] : PagesAtTheBounds()) {
    const PageShape shape = MeasurePage(html);
    server.route("/orvex/ad.htm", test::Body("text/html", html));
    PanelUnderWatch run(server);
    run.WaitEnded(20000);
    Settle(1000);       // the pictures arrive and the page is laid out again
    run.panel->grab();  // painted once, as the window would
    Settle(100);
    std::printf(
        "%-16s fits %d shown %d | max stall %5.1f ms | text %5zu elements %4zu depth %2zu "
        "cells %3zu tables in tables %zu word %3zu style %4zu\n",
        name.c_str(), FitsPanel(shape), run.shown, run.watch.maxStallMs(), shape.textBytes,
        shape.elements, shape.maxDepth, shape.cells, shape.tableDepth, shape.longestWord,
        shape.styleBytes);
    if (!run.shown) result = 1;
  }
  return result;
}

int Run(const std::string& mode, FloodServer& server) {
  if (mode == "bounds") return RunBounds(server);
  if (mode == "page" || mode == "page-stream") {
    server.route("/orvex/ad.htm",
                 test::Body("text/html", test::ParagraphPage(8 * kMiB), mode == "page"));
    return RunPanel(mode.c_str(), server, 2000);
  }
  if (mode == "images") {
    std::string html = "<html><body><p>pictures</p>";
    for (int i = 0; i < 60; ++i) {
      const std::string name = "img" + std::to_string(i) + ".png";
      html += "<img src=\"" + name + "\">";
      // Half of them declare their length, half are ended by the close.
      server.route("/orvex/" + name,
                   test::Stream("image/png", "\x89PNG\r\n\x1a\n", 40 * kMiB, i % 2 == 0));
    }
    server.route("/orvex/ad.htm", test::Body("text/html", html + "</body></html>"));
    // Done once no picture is being sent any more.
    const int result = RunPanel("images", server, 1000, [&] {
      return server.requestsFor("/orvex/img") > 0 && server.openConnections() == 0;
    });
    std::printf("%-14s picture requests %d\n", "", server.requestsFor("/orvex/img"));
    return result;
  }
  if (mode == "header-page") {
    server.route("/orvex/ad.htm", test::EndlessHeaders());
    return RunPanel("header-page", server, 0);
  }
  if (mode == "header-check" || mode == "header-line") {
    server.route("/orvex/ver.php?ver=2.2.3&trial=0",
                 mode == "header-line" ? test::EndlessHeaderLine() : test::EndlessHeaders());
    VersionCheck check(nullptr, server.base());
    return RunRequest(mode.c_str(), check);
  }
  if (mode == "header-report") {
    server.route("/orvex/usageLog.php?ver=2.2.3&os=6.1", test::EndlessHeaders());
    UsageReport report(nullptr, server.base(), OsVersion{6, 1});
    return RunRequest("header-report", report);
  }
  std::fprintf(stderr,
               "usage: online_bench page|page-stream|images|header-page|header-check|"
               "header-report|header-line|bounds\n");
  return 2;
}

}  // namespace
}  // namespace orvex

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  orvex::test::FloodServer server;
  const int result = orvex::Run(argc > 1 ? argv[1] : "", server);
  std::printf("%-14s the server sent %.1f MB\n", "", server.bytesSent() / double(orvex::kMiB));
  return result;
}
