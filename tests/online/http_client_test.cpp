#include "online/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "flood_server.h"
#include "http_test_server.h"

namespace orvex {
namespace {

using test::FloodReply;
using test::FloodServer;
using test::WaitFor;

constexpr std::size_t kMiB = 1024 * 1024;

struct Got {
  HttpEnd end = HttpEnd::kRunning;
  int status = 0;
  QByteArray body;
};

// One GET of `target` on `server`, run to its end. The time-out is far off, so
// that an end never comes from it.
Got Get(const FloodServer& server, const std::string& target, HttpLimits limits) {
  limits.timeout = std::chrono::minutes(10);
  HttpGet get(QUrl(QString::fromStdString(server.base() + target)), limits);
  bool ended = false;
  QObject::connect(&get, &HttpGet::finished, [&] { ended = true; });
  get.start();
  EXPECT_TRUE(WaitFor([&] { return ended; })) << target;
  return {get.end(), get.status(), get.body()};
}

FloodReply WithHeaders(FloodReply reply, std::string headers) {
  reply.extraHeaders = std::move(headers);
  return reply;
}

TEST(HttpGet, HeadersOverTheBoundEndTheRequest) {
  FloodServer server;
  const FloodReply ok = test::Body("text/plain", "ok");
  server.route("/under", WithHeaders(ok, test::PaddingHeaders(63 * 1024)));
  server.route("/over", WithHeaders(ok, test::PaddingHeaders(65 * 1024)));
  server.route("/endless", test::EndlessHeaders());
  server.route("/line", test::EndlessHeaderLine());
  const HttpLimits limits{.maxBodyBytes = 1024};

  const Got under = Get(server, "under", limits);
  EXPECT_EQ(under.end, HttpEnd::kComplete);
  EXPECT_EQ(under.body, "ok");
  EXPECT_EQ(Get(server, "over", limits).end, HttpEnd::kHeaderTooLarge);
  EXPECT_EQ(Get(server, "endless", limits).end, HttpEnd::kHeaderTooLarge);
  // One line that never ends: libcurl refuses a line over 100 KB itself.
  const HttpEnd line = Get(server, "line", limits).end;
  EXPECT_TRUE(line == HttpEnd::kHeaderTooLarge || line == HttpEnd::kFailed);
  // The client left: the server no longer sends.
  EXPECT_TRUE(WaitFor([&] { return server.openConnections() == 0; }));
}

TEST(HttpGet, ABodyIsBoundByTheBytesRead) {
  FloodServer server;
  const std::string prefix = "_must update now";
  server.route("/declared", test::Stream("text/plain", prefix, 40 * kMiB, true));
  server.route("/streamed", test::Stream("text/plain", prefix, 40 * kMiB, false));
  server.route("/small", test::Body("text/plain", std::string(1000, 's')));
  ResetHttpPeakBytesBuffered();

  // A declared length over the bound ends the request before any byte is read.
  const Got declared = Get(server, "declared", {.maxBodyBytes = kMiB});
  EXPECT_EQ(declared.end, HttpEnd::kTooLarge);
  EXPECT_TRUE(declared.body.isEmpty());
  // Without one, reading stops at the bound.
  const Got streamed = Get(server, "streamed", {.maxBodyBytes = kMiB});
  EXPECT_EQ(streamed.end, HttpEnd::kTooLarge);
  EXPECT_EQ(static_cast<std::size_t>(streamed.body.size()), kMiB);
  EXPECT_LE(HttpPeakBytesBuffered(), kMiB);
  // Or it keeps the beginning, exactly.
  const Got cut = Get(server, "streamed", {.maxBodyBytes = 63, .keepBeginning = true});
  EXPECT_EQ(cut.end, HttpEnd::kCut);
  EXPECT_EQ(cut.body.toStdString(), prefix + std::string(63 - prefix.size(), 'z'));

  EXPECT_EQ(Get(server, "small", {.maxBodyBytes = 1000}).end, HttpEnd::kComplete);
  EXPECT_EQ(Get(server, "small", {.maxBodyBytes = 999}).end, HttpEnd::kTooLarge);
  EXPECT_EQ(Get(server, "missing", {.maxBodyBytes = 1000}).status, 404);
}

TEST(HttpGet, ACompressedBodyIsBoundByItsDecodedBytes) {
  FloodServer server;
  // 32 MB of zeros in some 32 KB: a length well under the bound is declared.
  const QByteArray bomb = qCompress(QByteArray(32 * kMiB, '\0'), 9).mid(4);
  server.route("/bomb", WithHeaders(test::Body("text/html", bomb.toStdString()),
                                    "Content-Encoding: deflate\r\n"));
  const QByteArray page = qCompress(QByteArray("<p>Orvex</p>")).mid(4);
  server.route("/page", WithHeaders(test::Body("text/html", page.toStdString()),
                                    "Content-Encoding: deflate\r\n"));
  ResetHttpPeakBytesBuffered();

  const Got bombed = Get(server, "bomb", {.maxBodyBytes = kMiB});
  EXPECT_EQ(bombed.end, HttpEnd::kTooLarge);
  EXPECT_LE(HttpPeakBytesBuffered(), kMiB);
  const Got decoded = Get(server, "page", {.maxBodyBytes = kMiB});
  EXPECT_EQ(decoded.end, HttpEnd::kComplete);
  EXPECT_EQ(decoded.body, "<p>Orvex</p>");
}

}  // namespace
}  // namespace orvex
