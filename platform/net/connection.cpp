#include "platform/net/connection.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/foundation/clock.h"
#include "platform/net/curl_library.h"
#include "platform/net/request_line.h"

namespace net {

using foundation::Clock;

namespace {
// A named type, so the transfers can tell which run loop a connection reports to.
struct RunLoopDelivery {
  dispatch::RunLoop* loop;
  void operator()(std::function<void()> block) const { loop->performBlock(std::move(block)); }
};
}  // namespace

Deliver deliverOnRunLoop(dispatch::RunLoop& loop) { return RunLoopDelivery{&loop}; }

Deliver deliverOn(std::shared_ptr<foundation::Executor> executor) {
  return [executor = std::move(executor)](std::function<void()> block) { executor->execute(std::move(block)); };
}

namespace {
// A connection's reports leave the transfer in several blocks (the answer's head as soon as
// it is in, its body and end later). On a concurrent queue two blocks may run side by side
// or the later first, and a delegate would hear the end before the answer. So a
// connection hands its deliverer one block at a time, which runs what is waiting in order.
// A run loop runs its blocks in order already, and a report that runs the loop nested must
// still see the next report there, so its deliveries stay as they are.
Deliver inOrder(Deliver deliver) {
  if (!deliver || deliver.target<RunLoopDelivery>()) return deliver;
  struct Line {
    std::mutex mu;
    std::deque<std::function<void()>> waiting;
    bool running = false;
  };
  auto line = std::make_shared<Line>();
  return [line, deliver = std::move(deliver)](std::function<void()> block) {
    {
      std::lock_guard lock(line->mu);
      line->waiting.push_back(std::move(block));
      if (line->running) return;
      line->running = true;
    }
    deliver([line] {
      for (;;) {
        std::function<void()> next;
        {
          std::lock_guard lock(line->mu);
          if (line->waiting.empty()) {
            line->running = false;
            return;
          }
          next = std::move(line->waiting.front());
          line->waiting.pop_front();
        }
        next();
      }
    });
  };
}
}  // namespace

namespace {
constexpr int kMaximumRedirects = 16;
// The header fields of one answer: libcurl bounds each line; this bounds them all.
constexpr std::size_t kMaxHeaderBytes = 256u << 10;

Error tooLargeError(const URLRequest& request) {
  return makeLoadError(kErrorDataLengthExceedsMaximum, "The answer of " + request.url.absoluteString() +
                                                            " is longer than the " +
                                                            std::to_string(request.maxBodySize) + " bytes allowed.");
}

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
  double loadStarted = 0;  // process clock, when the first request went out (callbackMutex)
  mutable std::mutex stateMu;
  URLRequest current;
  std::shared_ptr<URLProtocol> protocol;

  explicit Impl(URLRequest r) : current(std::move(r)) {}
};

namespace {

void reportRedirect(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl,
                    std::uint64_t generation, URLRequest next, URLResponsePtr redirectResponse, Bytes redirectBody);

// Runs one report on the delivery thread, unless the load was cancelled, has ended, or
// has moved on to another request since.
void runReport(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, std::uint64_t generation,
               bool last, const std::function<void(URLConnection&, URLConnectionDelegate&)>& report) {
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
}

void postReport(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, std::uint64_t generation,
                bool last, std::function<void(URLConnection&, URLConnectionDelegate&)> report) {
  impl->deliver([connection, impl, generation, last, report = std::move(report)] {
    runReport(connection, impl, generation, last, report);
  });
}

// What the transfer thread has to tell a connection, kept as data until it is handed to
// the connection's delivery thread: one block a connection for all it has to say.
struct Report {
  enum class Kind { Response, Data, Finish, Fail, Redirect };
  Kind kind;
  std::shared_ptr<URLConnection> connection;
  URLConnection::Impl* impl = nullptr;
  std::uint64_t generation = 0;
  URLResponsePtr response;
  Bytes data;
  std::optional<Error> error;
  std::optional<URLRequest> next;  // where a redirect goes
};

// A delegate of ours that can take a body piece over instead of copying it.
class TakesData {
 public:
  virtual ~TakesData() = default;
  virtual void takeData(Bytes data) = 0;
};

void runReport(Report& r) {
  using Kind = Report::Kind;
  switch (r.kind) {
    case Kind::Response:
      runReport(r.connection, r.impl, r.generation, false, [&r](URLConnection& c, URLConnectionDelegate& d) {
        d.connectionDidReceiveResponse(c, r.response);
      });
      break;
    case Kind::Data:
      runReport(r.connection, r.impl, r.generation, false, [&r](URLConnection& c, URLConnectionDelegate& d) {
        if (auto* taker = dynamic_cast<TakesData*>(&d)) {
          taker->takeData(std::move(r.data));
        } else {
          d.connectionDidReceiveData(c, r.data);
        }
      });
      break;
    case Kind::Finish:
      runReport(r.connection, r.impl, r.generation, true,
                [](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFinishLoading(c); });
      break;
    case Kind::Fail:
      runReport(r.connection, r.impl, r.generation, true,
                [&r](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidFailWithError(c, *r.error); });
      break;
    case Kind::Redirect:
      reportRedirect(r.connection, r.impl, r.generation, std::move(*r.next), std::move(r.response),
                     std::move(r.data));
      break;
  }
}

struct Transfer {
  std::shared_ptr<URLConnection> connection;
  URLConnection::Impl* impl = nullptr;
  dispatch::RunLoop* loop = nullptr;  // the run loop the connection reports to, if any
  std::uint64_t generation = 0;
  URLRequest request;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::string body;
  char errorText[CURL_ERROR_SIZE] = {};
  double timeout = 60;
  double lastActivity = 0;
  double deadline = 0;  // the whole load's end, however the server keeps it busy
  RequestLine::Ticket ticket = 0;  // its place in the pages' line, if it takes one
  bool inCurl = false;             // gone out (else waiting in the line)
  double expiryKey = 0;            // where it sits in the engine's time-outs

  int status = 0;
  HTTPHeaders headers;
  std::size_t headerBytes = 0;  // of the answer now arriving
  std::int64_t received = 0;  // body bytes of the final answer
  bool tooLarge = false;        // the answer went over the request's bound: the transfer was cut
  bool headersDone = false;
  bool redirect = false;
  Bytes redirectBody;
  URLResponsePtr response;

  explicit Transfer(URLRequest r) : request(std::move(r)) {}
  // When the transfer fails as timed out: once the server was silent for the request's
  // time-out, or at the whole load's deadline, whichever comes first. A request waiting
  // in line asked no server yet: only the deadline counts for it.
  double expiry() const { return inCurl ? std::min(lastActivity + timeout, deadline) : deadline; }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (headerList) detail::curl().slist_free_all(headerList);
    if (easy) detail::curl().easy_cleanup(easy);
  }

  Report report(Report::Kind kind) const { return Report{kind, connection, impl, generation, {}, {}, {}, {}}; }
};

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

// The transfers: one libcurl multi handle (so one cache of kept-alive connections), used
// under one lock by whichever thread has something to do. The thread that starts a load
// sends its request itself, so a request goes out without waiting for another thread to
// wake. An answer for a connection that reports to a run loop is read on that loop's
// thread; the engine's own thread waits for every other socket (epoll) and for curl's
// timer. Reports are handed to the connections' delivery threads one thread at a time,
// in the order they were made.
class Engine {
 public:
  static Engine& shared() {
    static Engine* engine = new Engine();  // lives until exit: transfers may run to the end
    return *engine;
  }

  // Any thread. Sends the request before it returns when the connection allows and, for
  // a page's request, when the pages' line lets it go; else it waits its turn there.
  void add(std::unique_ptr<Transfer> t) {
    bool wake = false;
    std::vector<std::shared_ptr<URLConnection>> released;
    {
      std::lock_guard lock(mu_);
      if (t->impl->cancelled) {
        released.push_back(std::move(t->connection));
        return;
      }
      if (auto* delivery = t->impl->deliver.target<RunLoopDelivery>()) t->loop = delivery->loop;
      t->timeout = t->request.timeoutInterval > 0 ? t->request.timeoutInterval : 60.0;
      t->deadline = t->impl->loadStarted + (t->request.resourceTimeoutInterval > 0 ? t->request.resourceTimeoutInterval
                                                                                    : kDefaultResourceTimeoutInterval);
      // A connection has one transfer at a time; an older one left behind goes quietly.
      if (auto old = transfers_.find(t->impl); old != transfers_.end()) discard(*old->second);
      Transfer& added = *t;
      transfers_.emplace(t->impl, std::move(t));
      bool goesNow = true;
      if (added.request.waitsInPagesLine) {
        auto [ticket, now] = line_.add(lineKey(added.request.url));
        added.ticket = ticket;
        goesNow = now;
        if (!now) waiting_.emplace(ticket, &added);
      }
      if (goesNow) {
        sendOut(added);
        runDueTimer();
        collectDone();
      } else {
        setExpiry(added);
      }
      if (!expiries_.empty() && expiries_.begin()->first < sleepUntil_) wake = true;  // sooner than the engine looks
      // Reports made here (a refused connection) go out from the engine's thread: the
      // caller holds its connection's report lock and must not run others' reports.
      if (!outbox_.empty() || timerDue_) wake = true;
      released.swap(released_);
    }
    if (wake) wakeUp();
  }

  // Any thread. No report of the connection's transfers is made after this; its place
  // in the pages' line goes to the next in turn.
  void remove(URLConnection::Impl* impl) {
    std::vector<std::shared_ptr<URLConnection>> released;
    bool wake = false;
    {
      std::lock_guard lock(mu_);
      if (auto found = transfers_.find(impl); found != transfers_.end()) discard(*found->second);
      wake = timerDue_ || !outbox_.empty();
      released.swap(released_);
    }
    if (wake) wakeUp();
  }

  PagesLineState pagesLine() {
    std::lock_guard lock(mu_);
    return {line_.running(), line_.waiting(), line_.added(), line_.ended()};
  }

 private:
  Engine() {
    detail::curl().global_init(CURL_GLOBAL_DEFAULT);
    multi_ = detail::curl().multi_init();
    share_ = detail::curl().share_init();
    detail::curl().share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (epoll_ < 0 || wakeFd_ < 0 || timerFd_ < 0) {
      std::fprintf(stderr, "net: cannot set up the transfer thread's descriptors: %s\n", std::strerror(errno));
      std::abort();
    }
    for (int fd : {wakeFd_, timerFd_}) {
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.fd = fd;
      epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }
    detail::curl().multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
    detail::curl().multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    detail::curl().multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
    detail::curl().multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    // Kept-alive connections waiting for their next request: enough for every host the
    // process talks to at once, and not the four per transfer ever added that libcurl
    // would keep by default (each an open descriptor).
    detail::curl().multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 64L);
    Clock::addListener([this] { onClockMoved(); });
    std::thread([this] { run(); }).detach();
  }

  // A hand-driven clock: the move decides the time-outs it brings before it returns, so
  // what a test sees after it does not depend on when the engine's thread wakes.
  void onClockMoved() {
    {
      std::lock_guard lock(mu_);
      expireSilent();
    }
    wakeUp();  // to hand the reports over, and to wait anew
  }

  void wakeUp() const {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
  }

  // curl tells which sockets to wait for. A socket whose transfer reports to a run loop
  // and waits for the answer is watched by that loop, so the answer wakes the thread
  // that takes it and no other; every other socket is in the engine's epoll set, which
  // follows at once, even while its thread already waits in it.
  struct Watch {
    dispatch::RunLoop* loop = nullptr;
    dispatch::RunLoop::Id source = 0;
  };

  static int onSocket(CURL* easy, curl_socket_t socket, int what, void* user, void*) {
    auto* self = static_cast<Engine*>(user);
    auto found = self->watched_.find(socket);
    if (what == CURL_POLL_REMOVE) {
      if (found != self->watched_.end()) {
        self->unwatch(socket, found->second);
        self->watched_.erase(found);
      }
      return 0;
    }
    dispatch::RunLoop* loop = nullptr;
    if (what == CURL_POLL_IN) {
      auto transfer = self->active_.find(easy);
      if (transfer != self->active_.end()) loop = transfer->second->loop;
    }
    if (found != self->watched_.end() && found->second.loop && found->second.loop == loop) return 0;
    if (found != self->watched_.end()) {
      self->unwatch(socket, found->second);
      self->watched_.erase(found);
    }
    Watch watch;
    if (loop) {
      watch.loop = loop;
      watch.source = loop->addFileDescriptorSource(socket, [socket] { shared().onLoopSocket(socket); });
    } else {
      epoll_event event{};
      event.events = ((what & CURL_POLL_IN) ? EPOLLIN : 0u) | ((what & CURL_POLL_OUT) ? EPOLLOUT : 0u);
      event.data.fd = socket;
      if (epoll_ctl(self->epoll_, EPOLL_CTL_ADD, socket, &event) != 0 && errno == EEXIST)
        epoll_ctl(self->epoll_, EPOLL_CTL_MOD, socket, &event);
    }
    self->watched_.emplace(socket, watch);
    return 0;
  }

  void unwatch(curl_socket_t socket, const Watch& watch) {
    if (watch.loop) {
      watch.loop->removeFileDescriptorSource(watch.source);
    } else {
      epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
    }
  }

  // On a run loop's thread: the answer on a socket it watches.
  void onLoopSocket(curl_socket_t socket) {
    {
      std::lock_guard lock(mu_);
      int running = 0;
      detail::curl().multi_socket_action(multi_, socket, CURL_CSELECT_IN, &running);
      runDueTimer();
      collectDone();
    }
    flush();
  }

  // curl's own timer. "Now" is served by whoever holds the lock before letting it go, so
  // it never needs the engine's thread; later ones by the timer descriptor.
  static int onTimer(CURLM*, long ms, void* user) {
    auto* self = static_cast<Engine*>(user);
    itimerspec spec{};
    self->timerDue_ = ms == 0;
    if (ms <= 0 && !self->timerArmed_) return 0;
    if (ms > 0) {
      spec.it_value.tv_sec = ms / 1000;
      spec.it_value.tv_nsec = (ms % 1000) * 1000000L;
    }
    timerfd_settime(self->timerFd_, 0, &spec, nullptr);  // all zero disarms it
    self->timerArmed_ = ms > 0;
    return 0;
  }

  // Returning short of `n` from either callback cuts the transfer at once.
  static size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (t->impl->cancelled) return 0;
    t->lastActivity = Clock::monotonic();
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
      t->headers = HTTPHeaders();
      t->headerBytes = 0;
      t->headersDone = false;
      auto space = line.find(' ');
      t->status = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
      return n;
    }
    if (!line.empty()) {
      // Header fields of one answer count against a bound of their own: a server that
      // never ends its headers is as endless as one that never ends its body.
      t->headerBytes += n;
      if (t->headerBytes > kMaxHeaderBytes) return tooLarge(*t);
      auto colon = line.find(':');
      if (colon != std::string::npos) t->headers.add(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
      return n;
    }
    if (t->status >= 100 && t->status < 200) return n;  // an interim answer; the real one follows
    t->headersDone = true;
    t->response = makeResponse(t->request.url, t->status, t->headers);
    t->redirect = isFollowedRedirect(t->status) && t->headers.has("Location");
    if (!t->redirect) {
      Report r = t->report(Report::Kind::Response);
      r.response = t->response;
      shared().outbox_.push_back(std::move(r));
    }
    // A length announced over the bound fails before any of the body is read, as a body
    // that goes over it does: after its response. (With a compression the announced length
    // is the coded one, which says nothing of the decoded bytes: those are counted as they
    // come.)
    if (t->response->expectedContentLength > 0 && !t->headers.has("Content-Encoding") &&
        static_cast<std::uint64_t>(t->response->expectedContentLength) > t->request.maxBodySize)
      return tooLarge(*t);
    return n;
  }

  static size_t onData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (t->impl->cancelled) return 0;
    t->lastActivity = Clock::monotonic();
    if (static_cast<std::uint64_t>(t->received) + (t->redirect ? t->redirectBody.size() : 0) + n >
        t->request.maxBodySize)
      return tooLarge(*t);
    if (t->redirect) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
      t->redirectBody.insert(t->redirectBody.end(), bytes, bytes + n);
      return n;
    }
    // Pieces that arrive before the delivery thread hears of them go as one. The first
    // has room for the whole length the answer announces (up to a bound: the length is
    // the server's word), so a completion that takes it over has room for the rest.
    auto& outbox = shared().outbox_;
    if (outbox.empty() || outbox.back().kind != Report::Kind::Data || outbox.back().impl != t->impl ||
        outbox.back().generation != t->generation) {
      Report r = t->report(Report::Kind::Data);
      const std::int64_t expected = t->response ? t->response->expectedContentLength : -1;
      if (t->received == 0 && expected > 0) r.data.reserve(static_cast<size_t>(std::min<std::int64_t>(expected, 4 << 20)));
      outbox.push_back(std::move(r));
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    outbox.back().data.insert(outbox.back().data.end(), bytes, bytes + n);
    t->received += static_cast<std::int64_t>(n);
    return n;
  }

  // Every connection closes on exec: a process started meanwhile (a web process, which
  // inherits its parent's descriptors) would otherwise hold it open after the transfer
  // ended, and a page's process would hold the host's connections.
  static curl_socket_t openSocket(void*, curlsocktype, curl_sockaddr* address) {
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  }

  // Marks the transfer as over its bound and answers what makes curl cut it.
  static size_t tooLarge(Transfer& t) {
    t.tooLarge = true;
    return 0;
  }

  bool prepare(Transfer& t) {
    t.easy = detail::curl().easy_init();
    if (!t.easy) return false;
    CURL* e = t.easy;
    detail::curl().easy_setopt(e, CURLOPT_URL, t.request.url.absoluteString().c_str());
    detail::curl().easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    detail::curl().easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &Engine::openSocket);
    // Four times libcurl's default: a large answer is read in a quarter of the calls and
    // handed over in a quarter of the pieces.
    detail::curl().easy_setopt(e, CURLOPT_BUFFERSIZE, 65536L);
    detail::curl().easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    detail::curl().easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    detail::curl().easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    detail::curl().easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    // The compressions every server and phone speak. Not all libcurl could decode: a
    // server asked for brotli may spend far longer compressing at its top quality than
    // the transfer saves.
    detail::curl().easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
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
    return true;
  }

  // The host a page's request counts against: scheme, host and port.
  static std::string lineKey(const URL& url) {
    std::string key = url.scheme().value_or("") + "://" + url.host().value_or("");
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const int port = url.port().value_or(key.rfind("https:", 0) == 0 ? 443 : 80);
    return key + ":" + std::to_string(port);
  }

  // Under the lock: files the transfer under when it times out next.
  void setExpiry(Transfer& t) {
    if (t.expiryKey != 0) expiries_.erase({t.expiryKey, &t});
    t.expiryKey = t.expiry();
    expiries_.emplace(t.expiryKey, &t);
  }

  // Under the lock: the request goes out (its answer is read as it comes). A transfer that
  // cannot be set up fails.
  void sendOut(Transfer& t) {
    if (!prepare(t)) {
      Report failure = t.report(Report::Kind::Fail);
      failure.error = makeLoadError(kErrorUnknown, "The transfer could not be set up.");
      outbox_.push_back(std::move(failure));
      discard(t);
      return;
    }
    t.inCurl = true;
    t.lastActivity = Clock::monotonic();
    setExpiry(t);
    active_.emplace(t.easy, &t);
    detail::curl().multi_add_handle(multi_, t.easy);
  }

  // Under the lock: the transfer is over (done, failed, timed out or cancelled; its report,
  // if any, already made). It leaves curl and the line, and whoever waited next goes.
  void discard(Transfer& t) {
    if (t.inCurl) {
      detail::curl().multi_remove_handle(multi_, t.easy);
      active_.erase(t.easy);
      t.inCurl = false;
    }
    if (t.expiryKey != 0) expiries_.erase({t.expiryKey, &t});
    std::vector<RequestLine::Ticket> started;
    if (t.ticket) {
      waiting_.erase(t.ticket);
      line_.remove(t.ticket, started);
    }
    auto owned = transfers_.find(t.impl);
    if (owned != transfers_.end() && owned->second.get() == &t) {
      retire(std::move(owned->second));
      transfers_.erase(owned);
    }
    for (RequestLine::Ticket ticket : started) {
      auto next = waiting_.find(ticket);
      if (next == waiting_.end()) continue;
      Transfer& going = *next->second;
      waiting_.erase(next);
      sendOut(going);
    }
  }

  // Under the lock: the transfer's handle goes now, its hold on the connection once the
  // lock is let go (a connection's last owner may be anywhere).
  void retire(std::unique_ptr<Transfer> t) { released_.push_back(std::move(t->connection)); }

  // Under the lock.
  void runDueTimer() {
    for (int i = 0; timerDue_ && i < 16; ++i) {
      timerDue_ = false;
      int running = 0;
      detail::curl().multi_socket_action(multi_, CURL_SOCKET_TIMEOUT, 0, &running);
    }
  }

  // Under the lock.
  void collectDone() {
    int queued = 0;
    while (CURLMsg* msg = detail::curl().multi_info_read(multi_, &queued)) {
      if (msg->msg == CURLMSG_DONE) finish(msg->easy_handle, msg->data.result);
    }
  }

  void finish(CURL* easy, CURLcode result) {
    auto it = active_.find(easy);
    if (it == active_.end()) return;
    Transfer& t = *it->second;
    if (!t.impl->cancelled) outbox_.push_back(outcome(t, result));
    discard(t);
  }

  Report outcome(Transfer& t, CURLcode result) {
    if (t.tooLarge) {
      Report r = t.report(Report::Kind::Fail);
      r.error = tooLargeError(t.request);
      return r;
    }
    if (result != CURLE_OK) {
      Report r = t.report(Report::Kind::Fail);
      r.error = errorForCurl(result, t.errorText);
      return r;
    }
    if (t.redirect) {
      if (auto target = t.request.url.resolve(*t.headers.get("Location"))) {
        Report r = t.report(Report::Kind::Redirect);
        r.next = redirectedRequest(t.request, *target, t.status);
        r.response = t.response;
        r.data = std::move(t.redirectBody);
        return r;
      }
      // A Location that is no URL: the 3xx answer is the final one.
      Report r = t.report(Report::Kind::Response);
      r.response = t.response;
      outbox_.push_back(std::move(r));
      if (!t.redirectBody.empty()) {
        Report data = t.report(Report::Kind::Data);
        data.data = std::move(t.redirectBody);
        outbox_.push_back(std::move(data));
      }
    } else if (!t.headersDone) {
      Report r = t.report(Report::Kind::Response);
      r.response = makeResponse(t.request.url, t.status, t.headers);
      outbox_.push_back(std::move(r));
    }
    return t.report(Report::Kind::Finish);
  }

  // Under the lock: fails the transfers silent for longer than their time-out, on the
  // process clock, and answers how long the engine may sleep.
  double expireSilent() {
    double now = Clock::monotonic();
    readUnreadAnswers(now);
    // Keys are where a transfer would time out when filed; news from its server since
    // moves it on when its key comes up.
    while (!expiries_.empty() && expiries_.begin()->first <= now) {
      Transfer& t = *expiries_.begin()->second;
      if (t.expiry() > now) {
        setExpiry(t);
        continue;
      }
      if (!t.impl->cancelled) {
        Report r = t.report(Report::Kind::Fail);
        r.error = makeLoadError(kErrorTimedOut, "The request timed out.");
        outbox_.push_back(std::move(r));
      }
      discard(t);
    }
    // Transfers let go from the line just now have their curl work due.
    if (timerDue_) {
      runDueTimer();
      collectDone();
    }
    double next = 1.0;
    if (!expiries_.empty()) next = std::min(next, std::max(expiries_.begin()->first - now, 0.001));
    sleepUntil_ = now + next;
    return next;
  }

  // Under the lock. An answer on a socket a run loop watches is read by that loop; a
  // loop kept from running must not make its server look silent, so before a transfer
  // is called silent, what came for it is read here.
  void readUnreadAnswers(double now) {
    bool due = false;
    for (auto it = expiries_.begin(); it != expiries_.end() && it->first <= now && !due; ++it)
      due = it->second->loop && it->second->inCurl && it->second->expiry() <= now;
    if (!due) return;
    std::vector<curl_socket_t> readable;
    for (const auto& [socket, watch] : watched_) {
      pollfd p{socket, POLLIN, 0};
      if (watch.loop && poll(&p, 1, 0) > 0) readable.push_back(socket);
    }
    for (curl_socket_t socket : readable) {
      int running = 0;
      detail::curl().multi_socket_action(multi_, socket, CURL_CSELECT_IN, &running);
    }
    runDueTimer();
    collectDone();
  }

  // No lock held. Hands the reports over, in the order they were made: one thread at a
  // time does it, and takes over what others made meanwhile.
  void flush() {
    std::unique_lock lock(mu_);
    if (flushing_) return;
    flushing_ = true;
    while (!outbox_.empty() || !released_.empty()) {
      std::vector<Report> reports = std::move(outbox_);
      outbox_.clear();
      std::vector<std::shared_ptr<URLConnection>> released = std::move(released_);
      released_.clear();
      lock.unlock();
      deliver(std::move(reports));
      released.clear();
      lock.lock();
    }
    flushing_ = false;
  }

  // Each connection gets one block with its reports, in order.
  static void deliver(std::vector<Report> reports) {
    std::vector<bool> taken(reports.size());
    for (size_t i = 0; i < reports.size(); ++i) {
      if (taken[i]) continue;
      auto batch = std::make_shared<std::vector<Report>>();
      URLConnection::Impl* impl = reports[i].impl;
      for (size_t j = i; j < reports.size(); ++j) {
        if (taken[j] || reports[j].impl != impl) continue;
        taken[j] = true;
        batch->push_back(std::move(reports[j]));
      }
      impl->deliver([batch] {
        for (auto& r : *batch) runReport(r);
      });
    }
  }

  void run() {
    epoll_event events[32];
    int waitMs;
    {
      std::lock_guard lock(mu_);
      waitMs = static_cast<int>(std::ceil(expireSilent() * 1000));
    }
    for (;;) {
      int n = epoll_wait(epoll_, events, 32, waitMs);
      if (n < 0) n = 0;  // interrupted
      {
        std::lock_guard lock(mu_);
        for (int i = 0; i < n; ++i) {
          const int fd = events[i].data.fd;
          if (fd == wakeFd_ || fd == timerFd_) {
            std::uint64_t count;
            [[maybe_unused]] auto got = read(fd, &count, sizeof count);
            if (fd == timerFd_) timerDue_ = true;
            continue;
          }
          int mask = 0;
          if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLRDHUP)) mask |= CURL_CSELECT_IN;
          if (events[i].events & EPOLLOUT) mask |= CURL_CSELECT_OUT;
          if (events[i].events & EPOLLERR) mask |= CURL_CSELECT_ERR;
          int running = 0;
          detail::curl().multi_socket_action(multi_, fd, mask, &running);
        }
        runDueTimer();
        collectDone();
        waitMs = static_cast<int>(std::ceil(expireSilent() * 1000));
      }
      flush();
    }
  }

  std::mutex mu_;  // everything below, and every call into curl
  CURLM* multi_ = nullptr;
  CURLSH* share_ = nullptr;
  int epoll_ = -1;
  int wakeFd_ = -1;
  int timerFd_ = -1;
  bool timerDue_ = false;
  bool timerArmed_ = false;  // the timer descriptor is set (it may have fired since)
  double sleepUntil_ = 0;  // when the engine's thread looks at the time-outs next
  // Every transfer, by its connection; those gone out by their curl handle, those in line
  // by their ticket; all by when they time out.
  std::unordered_map<URLConnection::Impl*, std::unique_ptr<Transfer>> transfers_;
  std::unordered_map<CURL*, Transfer*> active_;
  std::unordered_map<RequestLine::Ticket, Transfer*> waiting_;
  std::set<std::pair<double, Transfer*>> expiries_;
  RequestLine line_{{kPageConnectionsPerHost, kPageConnectionsPerProcess}};
  std::map<curl_socket_t, Watch> watched_;
  bool flushing_ = false;  // a thread is handing reports over
  std::vector<Report> outbox_;
  std::vector<std::shared_ptr<URLConnection>> released_;
};

void beginLoad(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, URLRequest request);

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
  ProtocolClient(std::shared_ptr<URLConnection> c, URLConnection::Impl* impl, std::uint64_t generation, URLRequest r,
                 std::weak_ptr<URLProtocol> protocol)
      : connection_(std::move(c)),
        impl_(impl),
        generation_(generation),
        request_(std::move(r)),
        protocol_(std::move(protocol)) {}

  void protocolWasRedirected(URLRequest newRequest, URLResponsePtr redirectResponse) override {
    askAndSend(connection_, impl_, generation_, std::move(newRequest), std::move(redirectResponse), {});
  }
  void protocolDidReceiveResponse(URLResponsePtr response) override {
    postReport(connection_, impl_, generation_, false,
               [response](URLConnection& c, URLConnectionDelegate& d) { d.connectionDidReceiveResponse(c, response); });
  }
  void protocolDidLoadData(Bytes data) override {
    // A protocol's body is held to the request's bound as it comes, as the network's is.
    if (over_) return;
    if (received_.fetch_add(data.size()) + data.size() > request_.maxBodySize) {
      if (over_.exchange(true)) return;
      postReport(connection_, impl_, generation_, true,
                 [protocol = protocol_, error = tooLargeError(request_)](URLConnection& c, URLConnectionDelegate& d) {
                   if (auto p = protocol.lock()) p->stopLoading();
                   d.connectionDidFailWithError(c, error);
                 });
      return;
    }
    postReport(connection_, impl_, generation_, false,
               [data = std::move(data)](URLConnection& c, URLConnectionDelegate& d) {
                 d.connectionDidReceiveData(c, data);
               });
  }
  void protocolDidFinishLoading() override {
    if (over_) return;
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
  std::weak_ptr<URLProtocol> protocol_;
  std::atomic<std::size_t> received_{0};
  std::atomic<bool> over_{false};  // the body went over the bound: the failure is on its way
};

// Runs on the delivery thread under the callback lock.
void beginLoad(const std::shared_ptr<URLConnection>& connection, URLConnection::Impl* impl, URLRequest request) {
  if (impl->generation == 0) impl->loadStarted = Clock::monotonic();
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
    auto client = std::make_shared<ProtocolClient>(connection, impl, generation, request, protocol);
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
  impl_->deliver = inOrder(std::move(deliver));
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

class CompletionLoader : public URLConnectionDelegate, public TakesData {
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
  void takeData(Bytes data) override {
    if (data_.empty()) {
      data_ = std::move(data);
    } else {
      data_.insert(data_.end(), data.begin(), data.end());
    }
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

PagesLineState pagesLineState() { return Engine::shared().pagesLine(); }

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
