#include "platform/net/connection.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <map>
#include <thread>
#include <vector>

#include "platform/foundation/clock.h"
#include "platform/net/curl_library.h"

namespace net {

using foundation::Clock;

Deliver deliverOnRunLoop(dispatch::RunLoop& loop) {
  return [&loop](std::function<void()> block) { loop.performBlock(std::move(block)); };
}

Deliver deliverOn(std::shared_ptr<foundation::Executor> executor) {
  return [executor = std::move(executor)](std::function<void()> block) { executor->execute(std::move(block)); };
}

namespace {
constexpr int kMaximumRedirects = 16;

std::string trim(std::string s) {
  auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  return s;
}

bool isFollowedRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

Error errorForCurl(CURLcode code, const char* detail) {
  std::string text = detail && *detail ? detail : detail::curl().easy_strerror(code);
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return makeLoadError(kErrorCannotFindHost, "A server with the specified hostname could not be found. " + text);
    case CURLE_COULDNT_CONNECT:
      return makeLoadError(kErrorCannotConnectToHost, "Could not connect to the server. " + text);
    case CURLE_OPERATION_TIMEDOUT:
      return makeLoadError(kErrorTimedOut, "The request timed out.");
    case CURLE_URL_MALFORMAT:
      return makeLoadError(kErrorBadURL, "Bad URL. " + text);
    case CURLE_UNSUPPORTED_PROTOCOL:
      return makeLoadError(kErrorUnsupportedURL, "Unsupported URL. " + text);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return makeLoadError(kErrorSecureConnectionFailed, "A secure connection could not be made. " + text);
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
      return makeLoadError(kErrorNetworkConnectionLost, "The network connection was lost. " + text);
    case CURLE_WEIRD_SERVER_REPLY:
      return makeLoadError(kErrorBadServerResponse, "Bad server response. " + text);
    default:
      return makeLoadError(kErrorUnknown, text);
  }
}

// The request that follows a redirect: 303, and 301/302 after a POST, become a GET
// without a body; everything else is resent as it was.
URLRequest redirectedRequest(const URLRequest& previous, URL target, int status) {
  URLRequest next = previous;
  next.url = std::move(target);
  if (status == 303 || ((status == 301 || status == 302) && previous.method == "POST")) {
    if (next.method != "HEAD") next.method = "GET";
    next.body.reset();
    next.headers.remove("Content-Type");
    next.headers.remove("Content-Length");
  }
  return next;
}

class Engine;
}  // namespace

struct URLConnection::Impl {
  std::weak_ptr<URLConnectionDelegate> delegate;
  Deliver deliver;
  std::recursive_mutex callbackMutex;  // held while a report runs, and by cancel()
  std::atomic<bool> cancelled{false};
  bool finished = false;  // the last report has run (callbackMutex)
  bool started = false;   // (callbackMutex)
  std::uint64_t generation = 0;  // one per request sent; reports of older ones are dropped
  int redirects = 0;
  mutable std::mutex stateMu;
  URLRequest current;
  std::shared_ptr<URLProtocol> protocol;

  explicit Impl(URLRequest r) : current(std::move(r)) {}
};

namespace {

struct Transfer {
  std::shared_ptr<URLConnection> connection;
  URLConnection::Impl* impl = nullptr;
  std::uint64_t generation = 0;
  URLRequest request;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::string body;
  char errorText[CURL_ERROR_SIZE] = {};
  double timeout = 60;
  double lastActivity = 0;

  int status = 0;
  HTTPHeaders headers;
  bool headersDone = false;
  bool redirect = false;
  Bytes redirectBody;
  URLResponsePtr response;

  explicit Transfer(URLRequest r) : request(std::move(r)) {}
  ~Transfer() {
    if (headerList) detail::curl().slist_free_all(headerList);
    if (easy) detail::curl().easy_cleanup(easy);
  }
};

void postReport(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, std::uint64_t generation,
                bool last, std::function<void(URLConnection&, URLConnectionDelegate&)> report);
void reportRedirect(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl,
                    std::uint64_t generation, URLRequest next, URLResponsePtr redirectResponse, Bytes redirectBody);

URLResponsePtr makeResponse(const URL& url, int status, HTTPHeaders headers) {
  auto r = std::make_shared<URLResponse>(URLResponse{url, true, status, std::move(headers), "", -1});
  if (auto type = r->headers.get("Content-Type")) {
    std::string mime = trim(type->substr(0, type->find(';')));
    for (auto& c : mime) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    r->mimeType = mime;
  }
  if (auto length = r->headers.get("Content-Length")) {
    try {
      r->expectedContentLength = std::stoll(*length);
    } catch (...) {
    }
  }
  return r;
}

// The one transfer thread: a libcurl multi handle, fed through a command list.
class Engine {
 public:
  static Engine& shared() {
    static Engine* engine = new Engine();  // lives until exit: transfers may run to the end
    return *engine;
  }

  void add(std::unique_ptr<Transfer> t) {
    {
      std::lock_guard lock(mu_);
      adds_.push_back(std::move(t));
    }
    detail::curl().multi_wakeup(multi_);
  }

  void remove(URLConnection::Impl* impl) {
    {
      std::lock_guard lock(mu_);
      removes_.push_back(impl);
    }
    detail::curl().multi_wakeup(multi_);
  }

 private:
  Engine() {
    detail::curl().global_init(CURL_GLOBAL_DEFAULT);
    multi_ = detail::curl().multi_init();
    share_ = detail::curl().share_init();
    detail::curl().share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    Clock::addListener([this] { detail::curl().multi_wakeup(multi_); });
    std::thread([this] { run(); }).detach();
  }

  static size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (t->impl->cancelled) return 0;
    t->lastActivity = Clock::monotonic();
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
      t->headers = HTTPHeaders();
      t->headersDone = false;
      auto space = line.find(' ');
      t->status = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
      return n;
    }
    if (!line.empty()) {
      auto colon = line.find(':');
      if (colon != std::string::npos) t->headers.add(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
      return n;
    }
    if (t->status >= 100 && t->status < 200) return n;  // an interim answer; the real one follows
    t->headersDone = true;
    t->response = makeResponse(t->request.url, t->status, t->headers);
    t->redirect = isFollowedRedirect(t->status) && t->headers.has("Location");
    if (!t->redirect) {
      auto response = t->response;
      postReport(t->connection, t->impl, t->generation, false,
                 [response](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidReceiveResponse(c, response); });
    }
    return n;
  }

  static size_t onData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (t->impl->cancelled) return 0;
    t->lastActivity = Clock::monotonic();
    if (t->redirect) {
      t->redirectBody.insert(t->redirectBody.end(), data, data + n);
      return n;
    }
    Bytes chunk(data, data + n);
    postReport(t->connection, t->impl, t->generation, false,
               [chunk = std::move(chunk)](URLConnection& c, URLConnectionDelegate& d) {
                 d.connectionDidReceiveData(c, chunk);
               });
    return n;
  }

  bool prepare(Transfer& t) {
    t.easy = detail::curl().easy_init();
    if (!t.easy) return false;
    CURL* e = t.easy;
    detail::curl().easy_setopt(e, CURLOPT_URL, t.request.url.absoluteString().c_str());
    detail::curl().easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    detail::curl().easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    detail::curl().easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    detail::curl().easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    detail::curl().easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    detail::curl().easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    detail::curl().easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorText);
    detail::curl().easy_setopt(e, CURLOPT_HEADERFUNCTION, &Engine::onHeader);
    detail::curl().easy_setopt(e, CURLOPT_HEADERDATA, &t);
    detail::curl().easy_setopt(e, CURLOPT_WRITEFUNCTION, &Engine::onData);
    detail::curl().easy_setopt(e, CURLOPT_WRITEDATA, &t);
    if (t.request.handlesCookies) {
      detail::curl().easy_setopt(e, CURLOPT_SHARE, share_);
      detail::curl().easy_setopt(e, CURLOPT_COOKIEFILE, "");
    }
    const std::string& method = t.request.method;
    if (t.request.body) {
      t.body.assign(t.request.body->begin(), t.request.body->end());
      detail::curl().easy_setopt(e, CURLOPT_POST, 1L);
      detail::curl().easy_setopt(e, CURLOPT_POSTFIELDS, t.body.data());
      detail::curl().easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body.size()));
    }
    if (method == "HEAD") {
      detail::curl().easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (method != "GET" || t.request.body) {
      if (method != "POST") detail::curl().easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    t.headerList = detail::curl().slist_append(t.headerList, "Expect:");
    for (const auto& [name, value] : t.request.headers.fields()) {
      std::string line = value.empty() ? name + ";" : name + ": " + value;
      t.headerList = detail::curl().slist_append(t.headerList, line.c_str());
    }
    detail::curl().easy_setopt(e, CURLOPT_HTTPHEADER, t.headerList);
    t.timeout = t.request.timeoutInterval > 0 ? t.request.timeoutInterval : 60.0;
    t.lastActivity = Clock::monotonic();
    return true;
  }

  void finish(CURL* easy, CURLcode result) {
    auto it = active_.find(easy);
    if (it == active_.end()) return;
    std::unique_ptr<Transfer> t = std::move(it->second);
    active_.erase(it);
    detail::curl().multi_remove_handle(multi_, easy);
    if (t->impl->cancelled) return;
    if (result != CURLE_OK) {
      auto error = errorForCurl(result, t->errorText);
      postReport(t->connection, t->impl, t->generation, true,
                 [error](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFailWithError(c, error); });
      return;
    }
    if (t->redirect) {
      auto target = t->request.url.resolve(*t->headers.get("Location"));
      if (target) {
        reportRedirect(t->connection, t->impl, t->generation, redirectedRequest(t->request, *target, t->status),
                       t->response, std::move(t->redirectBody));
        return;
      }
      // A Location that is no URL: the 3xx answer is the final one.
      auto response = t->response;
      Bytes body = std::move(t->redirectBody);
      postReport(t->connection, t->impl, t->generation, false,
                 [response, body](URLConnection& c, URLConnectionDelegate& d) {
                   d.connectionDidReceiveResponse(c, response);
                   if (!body.empty()) d.connectionDidReceiveData(c, body);
                 });
    } else if (!t->headersDone) {
      auto response = makeResponse(t->request.url, t->status, t->headers);
      postReport(t->connection, t->impl, t->generation, false,
                 [response](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidReceiveResponse(c, response); });
    }
    postReport(t->connection, t->impl, t->generation, true,
               [](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFinishLoading(c); });
  }

  void run() {
    for (;;) {
      std::vector<std::unique_ptr<Transfer>> adds;
      std::vector<URLConnection::Impl*> removes;
      {
        std::lock_guard lock(mu_);
        adds.swap(adds_);
        removes.swap(removes_);
      }
      for (auto* impl : removes) {
        for (auto it = active_.begin(); it != active_.end();) {
          if (it->second->impl == impl) {
            detail::curl().multi_remove_handle(multi_, it->first);
            it = active_.erase(it);
          } else {
            ++it;
          }
        }
      }
      for (auto& t : adds) {
        if (t->impl->cancelled) continue;
        if (!prepare(*t)) {
          auto error = makeLoadError(kErrorUnknown, "The transfer could not be set up.");
          postReport(t->connection, t->impl, t->generation, true,
                     [error](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFailWithError(c, error); });
          continue;
        }
        CURL* easy = t->easy;
        active_[easy] = std::move(t);
        detail::curl().multi_add_handle(multi_, easy);
      }

      int running = 0;
      detail::curl().multi_perform(multi_, &running);
      int queued = 0;
      while (CURLMsg* msg = detail::curl().multi_info_read(multi_, &queued)) {
        if (msg->msg == CURLMSG_DONE) finish(msg->easy_handle, msg->data.result);
      }

      // Silence longer than the request's time-out, on the process clock.
      double now = Clock::monotonic();
      double nextDeadline = 1.0;
      for (auto it = active_.begin(); it != active_.end();) {
        Transfer& t = *it->second;
        double left = t.lastActivity + t.timeout - now;
        if (left <= 0) {
          detail::curl().multi_remove_handle(multi_, it->first);
          auto owned = std::move(it->second);
          it = active_.erase(it);
          if (!owned->impl->cancelled) {
            auto error = makeLoadError(kErrorTimedOut, "The request timed out.");
            postReport(owned->connection, owned->impl, owned->generation, true,
                       [error](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFailWithError(c, error); });
          }
          continue;
        }
        nextDeadline = std::min(nextDeadline, left);
        ++it;
      }
      long curlTimeout = -1;
      detail::curl().multi_timeout(multi_, &curlTimeout);
      int waitMs = static_cast<int>(nextDeadline * 1000) + 1;
      if (curlTimeout >= 0) waitMs = std::min<int>(waitMs, static_cast<int>(curlTimeout));
      detail::curl().multi_poll(multi_, nullptr, 0, std::max(waitMs, 0), nullptr);
    }
  }

  std::mutex mu_;
  std::vector<std::unique_ptr<Transfer>> adds_;
  std::vector<URLConnection::Impl*> removes_;
  CURLM* multi_ = nullptr;
  CURLSH* share_ = nullptr;
  std::map<CURL*, std::unique_ptr<Transfer>> active_;
};

void beginLoad(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, URLRequest request);

void postReport(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, std::uint64_t generation,
                bool last, std::function<void(URLConnection&, URLConnectionDelegate&)> report) {
  impl->deliver([connection, impl, generation, last, report = std::move(report)] {
    std::lock_guard lock(impl->callbackMutex);
    if (impl->cancelled || impl->finished || generation != impl->generation) return;
    auto delegate = impl->delegate.lock();
    if (!delegate) {
      connection->cancel();  // nobody is listening
      return;
    }
    if (last) {
      impl->finished = true;
      impl->protocol.reset();
    }
    report(*connection, *delegate);
  });
}

// Asks the delegate about a request about to go out, then sends what it answers.
void askAndSend(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, std::uint64_t generation,
                URLRequest next, URLResponsePtr redirectResponse, Bytes redirectBody) {
  postReport(connection, impl, generation, false,
             [impl, next = std::move(next), redirectResponse, redirectBody = std::move(redirectBody)](
                 URLConnection& c, URLConnectionDelegate& d) {
               auto self = c.shared_from_this();
               if (redirectResponse && ++impl->redirects > kMaximumRedirects) {
                 impl->finished = true;
                 d.connectionDidFailWithError(c, makeLoadError(kErrorTooManyRedirects, "Too many redirects."));
                 return;
               }
               auto answer = d.connectionWillSendRequest(c, next, redirectResponse);
               if (impl->cancelled) return;
               if (answer) {
                 beginLoad(self, impl, std::move(*answer));
                 return;
               }
               if (!redirectResponse) {  // the first request refused: nothing to load
                 self->cancel();
                 return;
               }
               impl->finished = true;
               d.connectionDidReceiveResponse(c, redirectResponse);
               if (impl->cancelled) return;
               if (!redirectBody.empty()) d.connectionDidReceiveData(c, redirectBody);
               if (impl->cancelled) return;
               d.connectionDidFinishLoading(c);
             });
}

void reportRedirect(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl,
                    std::uint64_t generation, URLRequest next, URLResponsePtr redirectResponse, Bytes redirectBody) {
  askAndSend(connection, impl, generation, std::move(next), std::move(redirectResponse), std::move(redirectBody));
}

class ProtocolClient : public URLProtocolClient {
 public:
  ProtocolClient(std::shared_ptr<URLConnection> c, URLConnection::Impl* impl, std::uint64_t generation, URLRequest r)
      : connection_(std::move(c)), impl_(impl), generation_(generation), request_(std::move(r)) {}

  void protocolWasRedirected(URLRequest newRequest, URLResponsePtr redirectResponse) override {
    askAndSend(connection_, impl_, generation_, std::move(newRequest), std::move(redirectResponse), {});
  }
  void protocolDidReceiveResponse(URLResponsePtr response) override {
    postReport(connection_, impl_, generation_, false,
               [response](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidReceiveResponse(c, response); });
  }
  void protocolDidLoadData(Bytes data) override {
    postReport(connection_, impl_, generation_, false,
               [data = std::move(data)](URLConnection& c, URLConnectionDelegate& d) {
                 d.connectionDidReceiveData(c, data);
               });
  }
  void protocolDidFinishLoading() override {
    postReport(connection_, impl_, generation_, true,
               [](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFinishLoading(c); });
  }
  void protocolDidFail(Error error) override {
    postReport(connection_, impl_, generation_, true,
               [error](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFailWithError(c, error); });
  }

 private:
  std::shared_ptr<URLConnection> connection_;
  URLConnection::Impl* impl_;
  std::uint64_t generation_;
  URLRequest request_;
};

// Runs on the delivery thread under the callback lock.
void beginLoad(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, URLRequest request) {
  std::uint64_t generation = ++impl->generation;
  {
    std::lock_guard lock(impl->stateMu);
    impl->current = request;
  }
  if (impl->protocol) {
    impl->protocol->stopLoading();
    impl->protocol.reset();
  }
  if (auto protocol = URLProtocolRegistry::protocolForRequest(request)) {
    impl->protocol = protocol;
    auto client = std::make_shared<ProtocolClient>(connection, impl, generation, request);
    impl->deliver([connection, impl, generation, protocol, client, request] {
      std::lock_guard lock(impl->callbackMutex);
      if (impl->cancelled || impl->finished || generation != impl->generation) return;
      protocol->startLoading(request, client);
    });
    return;
  }
  if (!request.url.isHTTP()) {
    auto error = makeLoadError(kErrorUnsupportedURL, "Unsupported URL: " + request.url.absoluteString());
    postReport(connection, impl, generation, true,
               [error](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFailWithError(c, error); });
    return;
  }
  auto t = std::make_unique<Transfer>(std::move(request));
  t->connection = connection;
  t->impl = impl;
  t->generation = generation;
  Engine::shared().add(std::move(t));
}

}  // namespace

URLConnection::URLConnection(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate, Deliver deliver)
    : impl_(std::make_unique<Impl>(request)), original_(std::move(request)) {
  impl_->delegate = std::move(delegate);
  impl_->deliver = std::move(deliver);
}

URLConnection::~URLConnection() = default;

std::shared_ptr<URLConnection> URLConnection::create(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate,
                                                     Deliver deliver) {
  if (!deliver) return nullptr;
  if (!request.url.isHTTP() && !URLProtocolRegistry::protocolForRequest(request)) return nullptr;
  return std::shared_ptr<URLConnection>(new URLConnection(std::move(request), std::move(delegate), std::move(deliver)));
}

void URLConnection::start() {
  {
    std::lock_guard lock(impl_->callbackMutex);
    if (impl_->started || impl_->cancelled) return;
    impl_->started = true;
  }
  askAndSend(shared_from_this(), impl_.get(), impl_->generation, original_, nullptr, {});
}

void URLConnection::startImmediately() {
  std::lock_guard lock(impl_->callbackMutex);
  if (impl_->started || impl_->cancelled) return;
  impl_->started = true;
  beginLoad(shared_from_this(), impl_.get(), original_);
}

void URLConnection::cancel() {
  std::shared_ptr<URLProtocol> protocol;
  {
    std::lock_guard lock(impl_->callbackMutex);
    if (impl_->cancelled.exchange(true)) return;
    protocol = std::move(impl_->protocol);
  }
  if (protocol) protocol->stopLoading();
  if (impl_->started) Engine::shared().remove(impl_.get());
}

URLRequest URLConnection::currentRequest() const {
  std::lock_guard lock(impl_->stateMu);
  return impl_->current;
}

namespace {

class CompletionLoader : public URLConnectionDelegate {
 public:
  explicit CompletionLoader(CompletionHandler completion) : completion_(std::move(completion)) {}
  std::shared_ptr<CompletionLoader> keepAlive;

  void connectionDidReceiveResponse(URLConnection&, const URLResponsePtr& response) override {
    response_ = response;
    data_.clear();
  }
  void connectionDidReceiveData(URLConnection&, const Bytes& data) override {
    data_.insert(data_.end(), data.begin(), data.end());
  }
  void connectionDidFinishLoading(URLConnection&) override { complete(response_, std::move(data_), std::nullopt); }
  void connectionDidFailWithError(URLConnection&, const Error& error) override { fail(error); }
  void fail(const Error& error) { complete(nullptr, {}, error); }

 private:
  void complete(URLResponsePtr response, Bytes data, std::optional<Error> error) {
    auto hold = std::move(keepAlive);
    auto completion = std::move(completion_);
    if (completion) completion(std::move(response), std::move(data), std::move(error));
  }
  CompletionHandler completion_;
  URLResponsePtr response_;
  Bytes data_;
};

}  // namespace

void sendAsynchronousRequest(URLRequest request, Deliver deliver, CompletionHandler completion) {
  auto loader = std::make_shared<CompletionLoader>(std::move(completion));
  auto connection = URLConnection::create(request, loader, deliver);
  if (!connection) {
    auto error = makeLoadError(kErrorUnsupportedURL, "Unsupported URL: " + request.url.absoluteString());
    if (deliver) {
      deliver([loader, error] { loader->fail(error); });
    }
    return;
  }
  loader->keepAlive = loader;
  connection->startImmediately();
}

SynchronousResult sendSynchronousRequest(URLRequest request) {
  struct Shared {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    SynchronousResult result;
  };
  auto shared = std::make_shared<Shared>();
  sendAsynchronousRequest(
      std::move(request), [](std::function<void()> block) { block(); },
      [shared](URLResponsePtr response, Bytes data, std::optional<Error> error) {
        std::lock_guard lock(shared->mu);
        shared->result = {std::move(response), std::move(data), std::move(error)};
        shared->done = true;
        shared->cv.notify_all();
      });
  std::unique_lock lock(shared->mu);
  shared->cv.wait(lock, [&] { return shared->done; });
  return std::move(shared->result);
}

}  // namespace net
