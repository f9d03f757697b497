#include "online/version_check.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include "flood_server.h"
#include "http_test_server.h"

namespace orvex {
namespace {

using test::HttpAnswer;
using test::HttpTestServer;
using test::WaitFor;

const QByteArray kTarget = "/orvex/ver.php?ver=2.2.3&trial=0";

struct Outcome {
  int newVersion = 0;
  int mustUpdate = 0;
  bool ended = false;
};

Outcome Check(const std::string& base) {
  VersionCheck check(nullptr, base);
  QSignalSpy newVersion(&check, &VersionCheck::newVersion);
  QSignalSpy mustUpdate(&check, &VersionCheck::mustUpdate);
  QSignalSpy finished(&check, &VersionCheck::finished);
  check.start();
  const bool ended = WaitFor([&] { return finished.count() > 0; });
  QCoreApplication::processEvents();  // a stray late signal would show here
  return {static_cast<int>(newVersion.count()), static_cast<int>(mustUpdate.count()), ended};
}

// The check ended and announced a new version and a required update that many
// times.
void ExpectAnnounced(const Outcome& outcome, int newVersion, int mustUpdate) {
  EXPECT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.newVersion, newVersion);
  EXPECT_EQ(outcome.mustUpdate, mustUpdate);
}

Outcome CheckAgainst(HttpAnswer answer) {
  HttpTestServer server;
  server.answer(kTarget, std::move(answer));
  return Check(server.base());
}

TEST(VersionCheck, SendsTheRequestOfTheProgramOnce) {
  HttpTestServer server;
  server.answer(kTarget, {200, "text/plain", "_tell"});
  VersionCheck check(nullptr, server.base());
  QSignalSpy finished(&check, &VersionCheck::finished);
  QThread* signalledOn = nullptr;
  QObject::connect(&check, &VersionCheck::newVersion,
                   [&] { signalledOn = QThread::currentThread(); });
  check.start();
  check.start();
  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));

  ASSERT_EQ(server.requests().size(), 1);
  const test::HttpRequest& request = server.requests().front();
  test::ExpectProgramRequest(request, kTarget);
  EXPECT_EQ(request.headers.value("cache-control"), "no-cache");
  EXPECT_EQ(request.headers.value("pragma"), "no-cache");
  EXPECT_FALSE(request.headers.contains("upgrade"));
  EXPECT_EQ(signalledOn, QCoreApplication::instance()->thread());
}

TEST(VersionCheck, RepliesThatBeginWithAWordAreAnnounced) {
  ExpectAnnounced(CheckAgainst({200, "text/plain", "_tell"}), 1, 0);
  ExpectAnnounced(CheckAgainst({200, "text/plain", "_must update now\r\n"}), 0, 1);
  ExpectAnnounced(CheckAgainst({200, "text/plain", "_tell_must"}), 1, 0);
}

TEST(VersionCheck, OtherRepliesAnnounceNothing) {
  const HttpAnswer answers[] = {
      {200, "text/plain", " _tell"},
      {200, "text/plain", ""},
      {200, "text/plain", "current"},
      {500, "text/html", "<html><head><title>500 Internal Server Error</title></head></html>"},
      {200, "text/plain", QByteArray(63, 'x') + "_tell"},
  };
  for (const HttpAnswer& answer : answers) {
    const Outcome outcome = CheckAgainst(answer);
    EXPECT_TRUE(outcome.ended) << answer.body.constData();
    EXPECT_EQ(outcome.newVersion + outcome.mustUpdate, 0) << answer.body.constData();
  }
}

TEST(VersionCheck, ALongReplyIsJudgedByItsBeginning) {
  ExpectAnnounced(CheckAgainst({200, "text/plain", "_must" + QByteArray(1 << 20, 'x')}), 0, 1);
}

TEST(VersionCheck, ARefusedConnectionAnnouncesNothing) {
  const Outcome outcome = Check("http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/");
  EXPECT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.newVersion + outcome.mustUpdate, 0);
}

TEST(VersionCheck, AServerThatNeverAnswersIsLeftAfterTheTimeOut) {
  HttpTestServer server;
  server.answer(kTarget, test::Silence());
  VersionCheck check(nullptr, server.base());
  check.setTimeout(std::chrono::milliseconds(1500));
  QSignalSpy newVersion(&check, &VersionCheck::newVersion);
  QSignalSpy mustUpdate(&check, &VersionCheck::mustUpdate);
  QSignalSpy finished(&check, &VersionCheck::finished);

  // The window's own timers keep running while the server keeps silent.
  int ticksWhileWaiting = 0;
  QTimer ticker;
  ticker.setInterval(20);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (server.requests().size() == 1 && finished.isEmpty()) ++ticksWhileWaiting;
  });
  ticker.start();
  check.start();

  ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
  EXPECT_GT(ticksWhileWaiting, 0);
  EXPECT_EQ(newVersion.count() + mustUpdate.count(), 0);
  // The connection was given up by the client.
  EXPECT_TRUE(WaitFor([&] { return server.closedByClient() == 1; }));
}

TEST(VersionCheck, GoesThroughTheProxyTheEnvironmentNames) {
  HttpTestServer proxy;
  const QByteArray target = "http://orvex.invalid/orvex/ver.php?ver=2.2.3&trial=0";
  proxy.answer(target, {200, "text/plain", "_must"});
  const QByteArray address = QByteArray::fromStdString(proxy.base());
  qputenv("http_proxy", address);
  const Outcome outcome = Check("http://orvex.invalid/");
  qunsetenv("http_proxy");

  ASSERT_EQ(proxy.requests().size(), 1);
  EXPECT_EQ(proxy.requests().front().requestLine, "GET " + target + " HTTP/1.1");
  EXPECT_EQ(outcome.mustUpdate, 1);
}

TEST(VersionCheck, LoopbackIsNeverProxied) {
  HttpTestServer proxy;
  HttpTestServer server;
  server.answer(kTarget, {200, "text/plain", "_tell"});
  qputenv("http_proxy", QByteArray::fromStdString(proxy.base()));
  const Outcome outcome = Check(server.base());
  qunsetenv("http_proxy");

  EXPECT_EQ(outcome.newVersion, 1);
  EXPECT_TRUE(proxy.requests().isEmpty());
}

TEST(VersionCheck, HeadersThatNeverEndEndTheCheck) {
  for (const test::FloodReply& reply : {test::EndlessHeaders(), test::EndlessHeaderLine()}) {
    test::FloodServer server;
    server.route(kTarget.toStdString(), reply);
    VersionCheck check(nullptr, server.base());
    check.setTimeout(std::chrono::minutes(10));  // the end cannot come from the time-out
    QSignalSpy newVersion(&check, &VersionCheck::newVersion);
    QSignalSpy mustUpdate(&check, &VersionCheck::mustUpdate);
    QSignalSpy finished(&check, &VersionCheck::finished);
    check.start();
    ASSERT_TRUE(WaitFor([&] { return finished.count() > 0; }));
    EXPECT_EQ(newVersion.count() + mustUpdate.count(), 0);
    EXPECT_TRUE(WaitFor([&] { return server.openConnections() == 0; }));
  }
}

TEST(VersionCheck, DestroyedWhileWaitingSignalsNothing) {
  HttpTestServer server;
  server.answer(kTarget, test::Silence());
  int signalCount = 0;
  {
    VersionCheck check(nullptr, server.base());
    QObject::connect(&check, &VersionCheck::newVersion, [&] { ++signalCount; });
    QObject::connect(&check, &VersionCheck::finished, [&] { ++signalCount; });
    check.start();
    ASSERT_TRUE(WaitFor([&] { return server.requests().size() == 1; }));
  }
  EXPECT_TRUE(WaitFor([&] { return server.closedByClient() == 1; }));
  EXPECT_EQ(signalCount, 0);
}

}  // namespace
}  // namespace orvex
