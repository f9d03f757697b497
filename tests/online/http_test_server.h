#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the network tests: it records every
// request and answers from a table of targets (404 for the rest), or never
// answers at all.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

namespace orvex::test {

struct HttpRequest;

// The request line of a GET of target, and the agent, UA-CPU and Accept
// headers the program sends with every request to the vendor server.
void ExpectProgramRequest(const HttpRequest& request, const QByteArray& target);

struct HttpRequest {
  QByteArray requestLine;                 // "GET /path HTTP/1.1"
  QByteArray target;                      // "/path"
  QHash<QByteArray, QByteArray> headers;  // names in lower case
};

struct HttpAnswer {
  int status = 200;
  QByteArray contentType = "text/plain";
  QByteArray body;
  bool silent = false;  // accept the request and never answer
};

// An answer that never comes: the request is read and the connection kept open.
inline HttpAnswer Silence() {
  HttpAnswer answer;
  answer.silent = true;
  return answer;
}

class HttpTestServer : public QObject {
  Q_OBJECT

 public:
  HttpTestServer();

  // "http://127.0.0.1:<port>/"
  std::string base() const;
  void answer(const QByteArray& target, HttpAnswer answer) { answers_[target] = std::move(answer); }

  const QList<HttpRequest>& requests() const { return requests_; }
  bool received(const QByteArray& target) const;
  // Connections the client closed before the server did.
  int closedByClient() const { return closedByClient_; }

 private:
  void accept();
  void readFrom(QTcpSocket* socket);

  QTcpServer server_;
  QHash<QByteArray, HttpAnswer> answers_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  QList<HttpRequest> requests_;
  int closedByClient_ = 0;
};

// A port on 127.0.0.1 where nothing listens.
quint16 ClosedPort();

// Runs the event loop until `done` holds or a generous bound passes; returns `done()`.
bool WaitFor(const std::function<bool()>& done, int boundMs = 15000);

}  // namespace orvex::test
