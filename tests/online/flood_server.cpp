#include "flood_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace orvex::test {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

std::string Head(const FloodReply& reply, std::size_t bodyBytes) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + reply.contentType + "\r\n";
  if (reply.declareLength) head += "Content-Length: " + std::to_string(bodyBytes) + "\r\n";
  return head + reply.extraHeaders + "Connection: close\r\n\r\n";
}

// Header lines of `lineBytes` each (the last one shorter), filling a chunk.
std::string HeaderLines(std::size_t lineBytes) {
  lineBytes = std::max<std::size_t>(lineBytes, 16);
  std::string chunk;
  for (int n = 0; chunk.size() + lineBytes <= kChunkBytes; ++n) {
    std::string line = "X-Pad-" + std::to_string(n) + ": ";
    line.append(lineBytes - line.size() - 2, 'a');
    chunk += line + "\r\n";
  }
  return chunk;
}

}  // namespace

FloodReply Body(std::string contentType, std::string body, bool declareLength) {
  FloodReply reply;
  reply.contentType = std::move(contentType);
  reply.body = std::move(body);
  reply.declareLength = declareLength;
  return reply;
}

FloodReply Stream(std::string contentType, std::string prefix, std::size_t bodyBytes,
                  bool declareLength) {
  FloodReply reply;
  reply.kind = FloodReply::Kind::kStream;
  reply.contentType = std::move(contentType);
  reply.prefix = std::move(prefix);
  reply.bodyBytes = bodyBytes;
  reply.declareLength = declareLength;
  return reply;
}

FloodReply EndlessHeaders(std::size_t lineBytes) {
  FloodReply reply;
  reply.kind = FloodReply::Kind::kEndlessHeaders;
  reply.lineBytes = lineBytes;
  return reply;
}

FloodReply EndlessHeaderLine() {
  FloodReply reply;
  reply.kind = FloodReply::Kind::kEndlessLine;
  return reply;
}

std::string PaddingHeaders(std::size_t bytes) {
  std::string lines;
  for (int n = 0; lines.size() < bytes; ++n) {
    const std::size_t left = bytes - lines.size();
    std::string line = "X-Padding-" + std::to_string(n) + ": ";
    // Lines of 100 bytes, the last one taking what is left (at least 20).
    line.append((left >= 200 ? 100 : std::max<std::size_t>(left, 20)) - line.size() - 2, 'p');
    lines += line + "\r\n";
  }
  return lines;
}

std::string ParagraphPage(std::size_t bytes) {
  std::string page = "<html><body>\n";
  const std::string paragraph =
      "<p>Listening practice: repeat the sentence between A and B until it is clear.</p>\n";
  while (page.size() + paragraph.size() + 15 < bytes) page += paragraph;
  return page + "</body></html>\n";
}

FloodServer::FloodServer() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listenFd_, 128) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;  // port_ stays 0: every request to the server fails
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

FloodServer::~FloodServer() {
  stopping_ = true;
  if (listenFd_ >= 0) shutdown(listenFd_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
    workers.swap(workers_);
  }
  for (std::thread& worker : workers) worker.join();
  if (listenFd_ >= 0) close(listenFd_);
}

std::string FloodServer::base() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void FloodServer::route(const std::string& target, FloodReply reply) {
  std::lock_guard lock(mutex_);
  routes_[target] = std::make_shared<const FloodReply>(std::move(reply));
}

int FloodServer::requestsFor(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(targets_.begin(), targets_.end(), [&](const auto& t) {
    return t.compare(0, prefix.size(), prefix) == 0;
  }));
}

void FloodServer::acceptLoop() {
  while (!stopping_) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    std::lock_guard lock(mutex_);
    if (stopping_) {
      close(fd);
      return;
    }
    fds_.push_back(fd);
    ++open_;
    workers_.emplace_back([this, fd] { serve(fd); });
  }
}

bool FloodServer::sendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      if (!stopping_) ++closedByClient_;
      return false;
    }
    bytesSent_ += static_cast<std::size_t>(sent);
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void FloodServer::serve(int fd) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kChunkBytes) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  if (request.find("\r\n\r\n") != std::string::npos) {
    const std::size_t from = request.find(' ') + 1;
    const std::string target = request.substr(from, request.find(' ', from) - from);
    std::shared_ptr<const FloodReply> reply;
    {
      std::lock_guard lock(mutex_);
      targets_.push_back(target);
      if (const auto it = routes_.find(target); it != routes_.end()) reply = it->second;
    }
    ++requests_;
    if (reply) {
      sendReply(fd, *reply);
    } else {
      const std::string answer =
          "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nNot Found";
      sendAll(fd, answer.data(), answer.size());
    }
  }
  {
    std::lock_guard lock(mutex_);
    fds_.erase(std::find(fds_.begin(), fds_.end(), fd));
    close(fd);
  }
  --open_;
}

void FloodServer::sendReply(int fd, const FloodReply& reply) {
  switch (reply.kind) {
    case FloodReply::Kind::kBody: {
      const std::string head = Head(reply, reply.body.size());
      if (sendAll(fd, head.data(), head.size())) sendAll(fd, reply.body.data(), reply.body.size());
      return;
    }
    case FloodReply::Kind::kStream: {
      const std::string head = Head(reply, reply.bodyBytes) + reply.prefix;
      if (!sendAll(fd, head.data(), head.size())) return;
      const std::string filler(kChunkBytes, 'z');
      std::size_t left = reply.bodyBytes - std::min(reply.bodyBytes, reply.prefix.size());
      while (left > 0 && !stopping_) {
        const std::size_t size = std::min(left, filler.size());
        if (!sendAll(fd, filler.data(), size)) return;
        left -= size;
      }
      return;
    }
    case FloodReply::Kind::kEndlessHeaders:
    case FloodReply::Kind::kEndlessLine: {
      const bool oneLine = reply.kind == FloodReply::Kind::kEndlessLine;
      const std::string status = oneLine ? "HTTP/1.1 200 OK\r\nX-Pad: " : "HTTP/1.1 200 OK\r\n";
      if (!sendAll(fd, status.data(), status.size())) return;
      const std::string chunk =
          oneLine ? std::string(kChunkBytes, 'a') : HeaderLines(reply.lineBytes);
      while (!stopping_ && sendAll(fd, chunk.data(), chunk.size())) {
      }
      return;
    }
  }
}

}  // namespace orvex::test
