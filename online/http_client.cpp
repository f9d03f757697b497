#include "online/http_client.h"

#include <curl/curl.h>
#include <pthread.h>
#include <signal.h>

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orvex {

class HttpClient;

namespace {

std::atomic<std::size_t> gBuffered{0};
std::atomic<std::size_t> gPeakBuffered{0};

void CountBuffered(std::size_t bytes) {
  const std::size_t now = gBuffered.fetch_add(bytes) + bytes;
  std::size_t peak = gPeakBuffered.load();
  while (now > peak && !gPeakBuffered.compare_exchange_weak(peak, now)) {
  }
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// One GET. Made on the GUI thread, then owned and used by the worker thread only.
struct Transfer {
  ~Transfer() { gBuffered -= static_cast<std::size_t>(body.size()); }

  HttpClient* client = nullptr;
  std::uint64_t id = 0;
  std::string url;
  std::string proxy;
  std::string redirectProtocols;
  HttpLimits limits;
  std::unique_ptr<curl_slist, ListDeleter> headers;
  std::unique_ptr<CURL, EasyDeleter> easy;
  QByteArray body;
  std::size_t headerBytes = 0;
  bool headTold = false;
  bool bodyOverLimit = false;
  bool headerOverLimit = false;
};

// The encodings the program accepts, as far as this libcurl can decode them.
std::string AcceptedEncodings() {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  std::string list;
  auto add = [&list](const char* name) { list += (list.empty() ? "" : ", ") + std::string(name); };
  if (info->features & CURL_VERSION_ZSTD) add("zstd");
  if (info->features & CURL_VERSION_BROTLI) add("br");
  if (info->features & CURL_VERSION_LIBZ) {
    add("gzip");
    add("deflate");
  }
  return list;
}

}  // namespace

// The transfers of the whole program: a GUI-thread object (a child of the
// application object) that hands requests to the worker thread and passes
// what comes back to the HttpGet objects, by their id.
class HttpClient : public QObject {
 public:
  static HttpClient* instance();
  ~HttpClient() override;

  // GUI thread.
  void submit(HttpGet* get, std::unique_ptr<Transfer> transfer);
  void cancel(std::uint64_t id);

 private:
  explicit HttpClient(QObject* parent);

  // Worker thread.
  void run();
  void begin(std::unique_ptr<Transfer> transfer);
  void drop(std::uint64_t id);
  void finish(CURL* easy, CURLcode code);
  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user);
  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user);
  void tellHead(Transfer& transfer);

  // GUI thread, through queued calls from the worker.
  void deliverHead(std::uint64_t id, int status);
  void deliverEnd(std::uint64_t id, HttpEnd end, int status, QByteArray type, QByteArray body);

  QHash<std::uint64_t, HttpGet*> gets_;  // GUI thread

  std::mutex mutex_;  // guards the three below
  std::vector<std::unique_ptr<Transfer>> toStart_;
  std::vector<std::uint64_t> toCancel_;
  bool stopping_ = false;

  CURLM* multi_ = nullptr;
  CURLSH* share_ = nullptr;  // the cookies, shared by all transfers as one browser does
  std::map<std::uint64_t, std::unique_ptr<Transfer>> running_;  // worker thread
  std::string encodings_ = AcceptedEncodings();
  std::thread worker_;
};

HttpClient* HttpClient::instance() {
  static QPointer<HttpClient> client;
  if (!client && QCoreApplication::instance() != nullptr) {
    client = new HttpClient(QCoreApplication::instance());
  }
  return client;
}

HttpClient::HttpClient(QObject* parent) : QObject(parent) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  multi_ = curl_multi_init();
  share_ = curl_share_init();
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  // As many connections to one server as a browser opens.
  curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
  worker_ = std::thread([this] { run(); });
}

HttpClient::~HttpClient() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  curl_multi_wakeup(multi_);
  worker_.join();
  curl_multi_cleanup(multi_);
  curl_share_cleanup(share_);
}

void HttpClient::submit(HttpGet* get, std::unique_ptr<Transfer> transfer) {
  gets_.insert(transfer->id, get);
  {
    std::lock_guard lock(mutex_);
    toStart_.push_back(std::move(transfer));
  }
  curl_multi_wakeup(multi_);
}

void HttpClient::cancel(std::uint64_t id) {
  if (gets_.remove(id) == 0) return;  // ended already
  {
    std::lock_guard lock(mutex_);
    toCancel_.push_back(id);
  }
  curl_multi_wakeup(multi_);
}

void HttpClient::run() {
  // A peer that closes a TLS connection must not end the program: SIGPIPE
  // stays pending on this thread and the write fails with EPIPE.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  for (;;) {
    std::vector<std::unique_ptr<Transfer>> starting;
    std::vector<std::uint64_t> cancelling;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      starting.swap(toStart_);
      cancelling.swap(toCancel_);
    }
    // Started first: a request cancelled right after its start is then found.
    for (std::unique_ptr<Transfer>& transfer : starting) begin(std::move(transfer));
    for (std::uint64_t id : cancelling) drop(id);

    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE) finish(message->easy_handle, message->data.result);
    }
    curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
  }
  for (auto& [id, transfer] : running_) curl_multi_remove_handle(multi_, transfer->easy.get());
  running_.clear();
}

void HttpClient::begin(std::unique_ptr<Transfer> transfer) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) {
    const std::uint64_t id = transfer->id;
    QMetaObject::invokeMethod(
        this, [this, id] { deliverEnd(id, HttpEnd::kFailed, 0, {}, {}); }, Qt::QueuedConnection);
    return;
  }
  transfer->easy.reset(easy);
  transfer->client = this;
  Transfer* t = transfer.get();
  curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
  curl_easy_setopt(easy, CURLOPT_URL, t->url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 50L);
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, t->redirectProtocols.c_str());
  // Always set, so that libcurl never reads the environment itself: its rules
  // differ (loopback through the proxy, ALL_PROXY, no HTTP_PROXY).
  curl_easy_setopt(easy, CURLOPT_PROXY, t->proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t->headers.get());
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, encodings_.c_str());
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(t->limits.timeout.count()));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
  // A name lookup still running is left behind, never waited for.
  curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
#endif
  curl_easy_setopt(easy, CURLOPT_SHARE, share_);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpClient::onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpClient::onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
  if (!t->limits.keepBeginning && t->limits.maxBodyBytes > 0) {
    // A declared length over the bound ends the request before any body is read.
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(t->limits.maxBodyBytes));
  }
  running_[t->id] = std::move(transfer);
  curl_multi_add_handle(multi_, easy);
}

void HttpClient::drop(std::uint64_t id) {
  const auto found = running_.find(id);
  if (found == running_.end()) return;  // ended already
  curl_multi_remove_handle(multi_, found->second->easy.get());
  running_.erase(found);
}

std::size_t HttpClient::onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  const std::size_t room = t->limits.maxBodyBytes - static_cast<std::size_t>(t->body.size());
  const std::size_t taken = std::min(bytes, room);
  t->body.append(data, static_cast<qsizetype>(taken));
  CountBuffered(taken);
  // Fewer bytes than offered end the transfer: nothing past the bound is read.
  if (taken < bytes) t->bodyOverLimit = true;
  return taken;
}

std::size_t HttpClient::onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  t->headerBytes += bytes;
  if (t->headerBytes > kMaxHeaderBytes) {
    t->headerOverLimit = true;
    return 0;  // ends the transfer
  }
  // An empty line ends the head of an answer.
  if (bytes <= 2 && (data[0] == '\r' || data[0] == '\n')) t->client->tellHead(*t);
  return bytes;
}

void HttpClient::tellHead(Transfer& t) {
  long status = 0;
  curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status);
  if (t.headTold || status < 200) return;  // 1xx: the answer is still to come
  t.headTold = true;
  const std::uint64_t id = t.id;
  QMetaObject::invokeMethod(
      this, [this, id, status] { deliverHead(id, static_cast<int>(status)); },
      Qt::QueuedConnection);
}

void HttpClient::finish(CURL* easy, CURLcode code) {
  Transfer* t = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &t);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  const char* type = nullptr;
  curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
  HttpEnd end = HttpEnd::kFailed;
  if (t->headerOverLimit) {
    end = HttpEnd::kHeaderTooLarge;
  } else if (t->bodyOverLimit) {
    end = t->limits.keepBeginning ? HttpEnd::kCut : HttpEnd::kTooLarge;
  } else if (code == CURLE_OK) {
    end = HttpEnd::kComplete;
  } else if (code == CURLE_FILESIZE_EXCEEDED) {
    end = HttpEnd::kTooLarge;
  } else if (code == CURLE_OPERATION_TIMEDOUT) {
    end = HttpEnd::kTimedOut;
  }
  const std::uint64_t id = t->id;
  QByteArray contentType(type == nullptr ? "" : type);
  gBuffered -= static_cast<std::size_t>(t->body.size());
  QByteArray body = std::exchange(t->body, {});
  curl_multi_remove_handle(multi_, easy);
  running_.erase(id);
  QMetaObject::invokeMethod(
      this,
      [this, id, end, status, contentType = std::move(contentType), body = std::move(body)] {
        deliverEnd(id, end, static_cast<int>(status), contentType, body);
      },
      Qt::QueuedConnection);
}

void HttpClient::deliverHead(std::uint64_t id, int status) {
  if (HttpGet* get = gets_.value(id)) get->deliverHead(status);
}

void HttpClient::deliverEnd(std::uint64_t id, HttpEnd end, int status, QByteArray type,
                            QByteArray body) {
  if (HttpGet* get = gets_.take(id)) get->deliverEnd(end, status, std::move(type), std::move(body));
}

HttpGet::HttpGet(const QUrl& url, const HttpLimits& limits, QObject* parent)
    : QObject(parent), url_(url), limits_(limits) {}

HttpGet::~HttpGet() {
  abort();
}

void HttpGet::start() {
  if (started_) return;
  started_ = true;
  static std::uint64_t lastId = 0;
  id_ = ++lastId;
  HttpClient* client = HttpClient::instance();
  client_ = client;
  if (client == nullptr || !url_.isValid()) {
    QMetaObject::invokeMethod(
        this, [this] { deliverEnd(HttpEnd::kFailed, 0, {}, {}); }, Qt::QueuedConnection);
    return;
  }
  auto transfer = std::make_unique<Transfer>();
  transfer->id = id_;
  transfer->url = url_.toEncoded().toStdString();
  transfer->proxy = VendorProxy(url_);
  // Never from https down to http.
  transfer->redirectProtocols =
      url_.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? "https"
                                                                              : "http,https";
  transfer->limits = limits_;
  for (const QByteArray& line : VendorRequestHeaders()) {
    transfer->headers.reset(curl_slist_append(transfer->headers.release(), line.constData()));
  }
  client->submit(this, std::move(transfer));
}

void HttpGet::abort() {
  if (!isRunning()) return;
  end_ = HttpEnd::kFailed;
  if (client_) static_cast<HttpClient*>(client_.data())->cancel(id_);
}

void HttpGet::deliverHead(int status) {
  status_ = status;
  emit headersReceived();
}

void HttpGet::deliverEnd(HttpEnd end, int status, QByteArray contentType, QByteArray body) {
  if (!isRunning()) return;
  end_ = end;
  status_ = status;
  contentType_ = std::move(contentType);
  body_ = std::move(body);
  emit finished();
}

std::size_t HttpBytesBuffered() {
  return gBuffered.load();
}

std::size_t HttpPeakBytesBuffered() {
  return gPeakBuffered.load();
}

void ResetHttpPeakBytesBuffered() {
  gPeakBuffered = gBuffered.load();
}

}  // namespace orvex
