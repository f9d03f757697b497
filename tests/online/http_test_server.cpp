#include "http_test_server.h"

#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

namespace orvex::test {

void ExpectProgramRequest(const HttpRequest& request, const QByteArray& target) {
  EXPECT_EQ(request.requestLine, "GET " + target + " HTTP/1.1");
  EXPECT_EQ(request.headers.value("user-agent"),
            "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)");
  EXPECT_EQ(request.headers.value("ua-cpu"), "x86");
  EXPECT_EQ(request.headers.value("accept"), "*/*");
}

HttpTestServer::HttpTestServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, &HttpTestServer::accept);
}

std::string HttpTestServer::base() const {
  return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/";
}

bool HttpTestServer::received(const QByteArray& target) const {
  for (const HttpRequest& request : requests_) {
    if (request.target == target) return true;
  }
  return false;
}

void HttpTestServer::accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    socket->setParent(this);
    buffers_.insert(socket, {});
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      if (socket->property("answered").toBool() == false) ++closedByClient_;
      buffers_.remove(socket);
      socket->deleteLater();
    });
  }
}

void HttpTestServer::readFrom(QTcpSocket* socket) {
  QByteArray& buffer = buffers_[socket];
  buffer += socket->readAll();
  const qsizetype end = buffer.indexOf("\r\n\r\n");
  if (end < 0) return;
  const QList<QByteArray> lines = buffer.left(end).split('\n');
  buffer.remove(0, end + 4);

  HttpRequest request;
  request.requestLine = lines.value(0).trimmed();
  request.target = request.requestLine.split(' ').value(1);
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const qsizetype colon = lines[i].indexOf(':');
    if (colon > 0) {
      request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                             lines[i].mid(colon + 1).trimmed());
    }
  }
  requests_.append(request);

  HttpAnswer answer{404, "text/html", "<html><body><h1>404 Not Found</h1></body></html>"};
  if (const auto found = answers_.constFind(request.target); found != answers_.constEnd()) {
    answer = *found;
  }
  if (answer.silent) return;
  QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n";
  head += "Content-Type: " + answer.contentType + "\r\n";
  head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
  head += "Connection: close\r\n\r\n";
  socket->setProperty("answered", true);
  socket->write(head + answer.body);
  socket->disconnectFromHost();
}

quint16 ClosedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return port;
}

bool WaitFor(const std::function<bool()>& done, int boundMs) {
  QDeadlineTimer deadline(boundMs);
  while (!done() && !deadline.hasExpired()) {
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return done();
}

}  // namespace orvex::test
