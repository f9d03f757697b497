#pragma once
// A hostile HTTP server on 127.0.0.1 for the network tests and benchmarks: it
// answers from its own threads, one per connection, so that it keeps sending
// as fast as the client takes the bytes while the client's event loop is
// measured. It can send a large body in one burst, stream a body of any size
// without holding it, or send a response header that never ends. No Qt.

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

struct FloodReply {
  enum class Kind {
    kBody,            // status line, head and `body`, all in one burst
    kStream,          // head, then `prefix` and filler up to `bodyBytes`
    kEndlessHeaders,  // status line, then header lines of `lineBytes` forever
    kEndlessLine,     // status line, then one header line that never ends
  };
  Kind kind = Kind::kBody;
  std::string contentType = "text/html";
  std::string body;
  std::string prefix;
  std::size_t bodyBytes = 0;
  std::size_t lineBytes = 100;
  bool declareLength = true;  // send Content-Length (else the close ends the body)
  std::string extraHeaders;   // more header lines, each ending in "\r\n"
};

// The replies of the kinds above.
FloodReply Body(std::string contentType, std::string body, bool declareLength = true);
FloodReply Stream(std::string contentType, std::string prefix, std::size_t bodyBytes,
                  bool declareLength);
FloodReply EndlessHeaders(std::size_t lineBytes = 100);
FloodReply EndlessHeaderLine();
// Header lines of about `bytes` bytes in all.
std::string PaddingHeaders(std::size_t bytes);

// An HTML page of about `bytes` bytes of plain paragraphs.
std::string ParagraphPage(std::size_t bytes);

class FloodServer {
 public:
  FloodServer();
  ~FloodServer();
  FloodServer(const FloodServer&) = delete;
  FloodServer& operator=(const FloodServer&) = delete;

  // "http://127.0.0.1:<port>/"
  std::string base() const;
  // Answers GETs of `target` (the path with its query); other targets get a 404.
  void route(const std::string& target, FloodReply reply);

  // Requests read so far, and those whose target starts with `prefix`.
  int requests() const { return requests_.load(); }
  int requestsFor(const std::string& prefix) const;
  std::size_t bytesSent() const { return bytesSent_.load(); }
  // Connections open now, and those the client closed while the server was
  // still sending.
  int openConnections() const { return open_.load(); }
  int closedByClient() const { return closedByClient_.load(); }

 private:
  void acceptLoop();
  void serve(int fd);
  bool sendAll(int fd, const char* data, std::size_t size);
  void sendReply(int fd, const FloodReply& reply);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const FloodReply>> routes_;  // shared, never copied
  std::vector<std::string> targets_;
  std::vector<int> fds_;  // connections open now
  std::vector<std::thread> workers_;
  std::atomic<int> requests_{0};
  std::atomic<std::size_t> bytesSent_{0};
  std::atomic<int> open_{0};
  std::atomic<int> closedByClient_{0};
};

}  // namespace orvex::test
