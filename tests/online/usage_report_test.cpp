#include "online/usage_report.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "flood_server.h"
#include "http_test_server.h"

namespace orvex {
namespace {

using test::HttpTestServer;
using test::WaitFor;

TEST(UsageReport, CarriesTheKernelVersion) {
  HttpTestServer server;
  const OsVersion os = ReadOsVersion();
  const QByteArray target = "/orvex/usageLog.php?ver=2.2.3&os=" + QByteArray::number(os.major) +
                            "." + QByteArray::number(os.minor);
  server.answer(target, {200, "text/plain", "thanks"});
  UsageReport report(nullptr, server.base());
  QSignalSpy finished(&report, &UsageReport::finished);
  report.start();
  report.start();
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));

  ASSERT_EQ(server.requests().size(), 1);
  const test::HttpRequest& request = server.requests().front();
  test::ExpectProgramRequest(request, target);
}

TEST(UsageReport, GivenVersionEndsThePath) {
  HttpTestServer server;
  UsageReport report(nullptr, server.base(), OsVersion{6, 1});
  QSignalSpy finished(&report, &UsageReport::finished);
  report.start();
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
  EXPECT_TRUE(server.received("/orvex/usageLog.php?ver=2.2.3&os=6.1"));
}

TEST(UsageReport, EndsWithoutAServer) {
  UsageReport report(nullptr, "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/");
  QSignalSpy finished(&report, &UsageReport::finished);
  report.start();
  EXPECT_TRUE(WaitFor([&] { return finished.count() > 0; }));
}

TEST(UsageReport, ASilentServerIsLeftAfterTheTimeOut) {
  HttpTestServer server;
  server.answer("/orvex/usageLog.php?ver=2.2.3&os=6.1", test::Silence());
  UsageReport report(nullptr, server.base(), OsVersion{6, 1});
  report.setTimeout(std::chrono::milliseconds(500));
  QSignalSpy finished(&report, &UsageReport::finished);
  report.start();
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
  EXPECT_TRUE(WaitFor([&] { return server.closedByClient() == 1; }));
}

TEST(UsageReport, HeadersThatNeverEndEndTheReport) {
  test::FloodServer server;
  server.route("/orvex/usageLog.php?ver=2.2.3&os=6.1", test::EndlessHeaders());
  UsageReport report(nullptr, server.base(), OsVersion{6, 1});
  report.setTimeout(std::chrono::minutes(10));  // the end cannot come from the time-out
  QSignalSpy finished(&report, &UsageReport::finished);
  report.start();
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
  EXPECT_TRUE(WaitFor([&] { return server.openConnections() == 0; }));
}

}  // namespace
}  // namespace orvex
