#include "platform/net/connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

#include "platform/foundation/clock.h"
#include "platform/net/ad_network.h"
#include "platform/net/test_server.h"

namespace net {
namespace {

using foundation::Clock;
using testing::TestServer;

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
URLRequest request(const std::string& url) { return URLRequest(*URL::fromString(url)); }

// Writes down every report, and the thread it came on.
struct Recorder : URLConnectionDelegate {
  std::vector<std::string> events;
  std::vector<std::thread::id> threads;
  std::vector<URLResponsePtr> responses;
  std::string body;
  std::optional<Error> error;
  bool done = false;
  std::function<std::optional<URLRequest>(const URLRequest&, const URLResponsePtr&)> onWillSend;
  std::function<void(URLConnection&)> onResponse;

  void note(std::string e) {
    events.push_back(std::move(e));
    threads.push_back(std::this_thread::get_id());
  }
  std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& r,
                                                      const URLResponsePtr& redirect) override {
    note("send " + r.url.path() + (redirect ? " after " + std::to_string(redirect->statusCode) : ""));
    return onWillSend ? onWillSend(r, redirect) : std::optional<URLRequest>(r);
  }
  void connectionDidReceiveResponse(URLConnection& c, const URLResponsePtr& r) override {
    note("response " + std::to_string(r->statusCode));
    responses.push_back(r);
    if (onResponse) onResponse(c);
  }
  void connectionDidReceiveData(URLConnection&, const Bytes& d) override {
    if (events.empty() || events.back() != "data") note("data");
    body += text(d);
  }
  void connectionDidFinishLoading(URLConnection&) override {
    note("finish");
    done = true;
  }
  void connectionDidFailWithError(URLConnection&, const Error& e) override {
    note("fail " + std::to_string(e.code));
    error = e;
    done = true;
  }
};

// A bare HTTP/1.1 server on 127.0.0.1 that keeps every connection open and answers each
// request on it with "ok". It counts the connections it accepted, and counts an answer
// only once it is written whole, so by then it waits in the client's socket.
class KeepAliveServer {
 public:
  KeepAliveServer() {
    listen_ = net::testing::listenOnLoopback(16, port_);
    acceptor_ = std::thread([this] { acceptConnections(); });
  }
  ~KeepAliveServer() {
    shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    {
      std::lock_guard lock(mu_);
      for (int fd : connections_) shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : workers_) t.join();
    for (int fd : connections_) close(fd);
    close(listen_);
  }
  KeepAliveServer(const KeepAliveServer&) = delete;
  KeepAliveServer& operator=(const KeepAliveServer&) = delete;

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int connections() {
    std::lock_guard lock(mu_);
    return static_cast<int>(connections_.size());
  }
  bool waitForAnswers(int n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return answers_ >= n; });
  }

 private:
  void acceptConnections() {
    for (;;) {
      int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::lock_guard lock(mu_);
      connections_.push_back(fd);
      workers_.emplace_back([this, fd] { serve(fd); });
    }
  }
  void serve(int fd) {
    static constexpr char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok";
    std::string received;
    char buffer[4096];
    for (;;) {
      auto end = received.find("\r\n\r\n");
      if (end == std::string::npos) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return;
        received.append(buffer, static_cast<size_t>(n));
        continue;
      }
      received.erase(0, end + 4);
      if (write(fd, kAnswer, sizeof kAnswer - 1) != static_cast<ssize_t>(sizeof kAnswer - 1)) return;
      std::lock_guard lock(mu_);
      ++answers_;
      cv_.notify_all();
    }
  }

  int listen_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<int> connections_;
  std::vector<std::thread> workers_;  // joined once the acceptor has stopped
  int answers_ = 0;
};

struct Connections : ::testing::Test {
  TestServer server;
  dispatch::RunLoop loop;  // run by the test thread
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<net::testing::Gate> slow = std::make_shared<net::testing::Gate>();  // holds "/slow"

  void SetUp() override {
    auto& s = server.server();
    s.Get("/slow", [gate = slow](const httplib::Request&, httplib::Response& res) {
      gate->pass();
      res.set_content("late", "text/plain");
    });
    s.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("X-Thing", "1");
      res.set_content("hello", "text/plain; charset=utf-8");
    });
    s.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.method + " " + req.get_header_value("Content-Type") + " " +
                          req.get_header_value("X-Custom") + " " + req.body,
                      "text/plain");
    });
    s.Get("/r1", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/r2", 302); });
    s.Get("/r2", [](const httplib::Request&, httplib::Response& res) {
      res.status = 301;
      res.set_header("Location", "final?x=1");
      res.set_content("moved", "text/plain");
    });
    s.Get("/final", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("final " + req.method + " " + req.get_param_value("x"), "text/plain");
    });
    s.Post("/see-other", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/final?x=2", 303); });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("nope", "text/plain");
    });
    s.Get("/set-cookie", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "session=abc; Path=/");
      res.set_content("ok", "text/plain");
    });
    s.Get("/show-cookie", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    server.start();
  }

  std::shared_ptr<URLConnection> startLoad(URLRequest r) {
    auto c = URLConnection::create(std::move(r), recorder, deliverOnRunLoop(loop));
    c->start();
    return c;
  }
  void runUntilDone() { ASSERT_TRUE(loop.runUntil([&] { return recorder->done; }, 10)); }
};

TEST_F(Connections, DeliversEveryReportInOrderOnTheNamedRunLoop) {
  auto c = startLoad(request(server.url("/hello")));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"send /hello", "response 200", "data", "finish"}));
  for (auto id : recorder->threads) EXPECT_EQ(id, std::this_thread::get_id());
  auto& r = *recorder->responses.at(0);
  EXPECT_EQ(r.headers.get("x-thing"), "1");
  EXPECT_EQ(r.mimeType, "text/plain");
  EXPECT_EQ(r.url.absoluteString(), server.url("/hello"));
  EXPECT_EQ(recorder->body, "hello");
}

TEST_F(Connections, SendsMethodHeadersAndBody) {
  auto r = request(server.url("/echo"));
  r.method = "POST";
  r.body = Bytes{'{', '}'};
  r.headers.set("Content-Type", "application/json");
  r.headers.set("X-Custom", "yes");
  startLoad(r);
  runUntilDone();
  EXPECT_EQ(recorder->body, "POST application/json yes {}");
}

TEST_F(Connections, AsksTheDelegateAtEachRedirectAndFollowsRelativeLocations) {
  auto c = startLoad(request(server.url("/r1")));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"send /r1", "send /r2 after 302", "send /final after 301",
                                                        "response 200", "data", "finish"}));
  EXPECT_EQ(recorder->body, "final GET 1");
  EXPECT_EQ(c->currentRequest().url.absoluteString(), server.url("/final?x=1"));
}

TEST_F(Connections, ARefusedRedirectDeliversTheRedirectAnswerItself) {
  recorder->onWillSend = [](const URLRequest& r, const URLResponsePtr& redirect) -> std::optional<URLRequest> {
    if (redirect && redirect->statusCode == 301) return std::nullopt;
    return r;
  };
  startLoad(request(server.url("/r1")));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"send /r1", "send /r2 after 302", "send /final after 301",
                                                        "response 301", "data", "finish"}));
  EXPECT_EQ(recorder->body, "moved");
}

TEST_F(Connections, ASeeOtherAfterAPostContinuesAsAGetWithoutBody) {
  auto r = request(server.url("/see-other"));
  r.method = "POST";
  r.body = Bytes{'x'};
  startLoad(r);
  runUntilDone();
  EXPECT_EQ(recorder->body, "final GET 2");
}

TEST_F(Connections, CancellingInsideAReportSilencesTheRest) {
  std::shared_ptr<URLConnection> c;
  recorder->onWillSend = [&](const URLRequest& r, const URLResponsePtr& redirect) -> std::optional<URLRequest> {
    if (redirect) c->cancel();
    return r;
  };
  c = startLoad(request(server.url("/r1")));
  // The redirect question is the last report; give the loop a bounded chance to show more.
  ASSERT_TRUE(loop.runUntil([&] { return recorder->events.size() >= 2; }, 10));
  auto other = std::make_shared<Recorder>();
  auto probe = URLConnection::create(request(server.url("/hello")), other, deliverOnRunLoop(loop));
  probe->start();
  ASSERT_TRUE(loop.runUntil([&] { return other->done; }, 10));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"send /r1", "send /r2 after 302"}));
}

TEST_F(Connections, ReportsAlreadyQueuedAreDroppedByCancel) {
  // A queue the test holds back, so the whole load is queued before anyone runs it.
  struct HeldQueue {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::function<void()>> blocks;
  };
  auto queue = std::make_shared<HeldQueue>();
  Deliver held = [queue](std::function<void()> b) {
    std::lock_guard lock(queue->mu);
    queue->blocks.push_back(std::move(b));
    queue->cv.notify_all();
  };
  // The server holds the answer until the request's question has run and the drain that
  // ran it is over; otherwise the answer's reports may join that drain and run in it.
  auto c = URLConnection::create(request(server.url("/slow")), recorder, held);
  c->start();
  auto runQueued = [&] {
    std::deque<std::function<void()>> now;
    {
      std::lock_guard lock(queue->mu);
      now.swap(queue->blocks);
    }
    for (auto& b : now) b();
  };
  runQueued();  // the first request goes out
  const bool arrived = slow->waitForArrivals(1);
  bool queued = false;
  if (arrived) {
    slow->setOpen(true);
    // The answer's reports may come in one block or several; at least the first is queued.
    std::unique_lock lock(queue->mu);
    queued = queue->cv.wait_for(lock, std::chrono::seconds(10), [&] { return !queue->blocks.empty(); });
  }
  slow->setOpen(true);
  ASSERT_TRUE(arrived);
  ASSERT_TRUE(queued);
  c->cancel();
  runQueued();
  EXPECT_EQ(recorder->events, std::vector<std::string>{"send /slow"});
}

TEST_F(Connections, ServerSilenceLongerThanTheTimeOutFailsTheLoadOnTheProcessClock) {
  Clock::useManual(1'000'000);
  auto r = request(server.url("/slow"));
  r.timeoutInterval = 5;
  auto c = startLoad(r);
  loop.drain();
  const bool arrived = slow->waitForArrivals(1);
  if (arrived) {
    Clock::advance(4);
    loop.runOnce(0.05);
    EXPECT_FALSE(recorder->done);
    Clock::advance(1.5);
    runUntilDone();
  }
  slow->setOpen(true);
  Clock::useSystem();
  ASSERT_TRUE(arrived);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"send /slow", "fail " + std::to_string(kErrorTimedOut)}));
}

TEST_F(Connections, FetchesToOneHostReuseTheKeptAliveConnection) {
  KeepAliveServer keepAlive;
  startLoad(request(keepAlive.url("/a")));
  runUntilDone();
  EXPECT_EQ(recorder->body, "ok");

  std::string body;
  sendAsynchronousRequest(request(keepAlive.url("/b")), deliverOnRunLoop(loop),
                          [&](URLResponsePtr, Bytes data, std::optional<Error>) { body = text(data); });
  ASSERT_TRUE(loop.runUntil([&] { return !body.empty(); }, 10));
  EXPECT_EQ(text(sendSynchronousRequest(request(keepAlive.url("/c"))).data), "ok");
  EXPECT_EQ(body, "ok");
  EXPECT_EQ(keepAlive.connections(), 1);
}

TEST_F(Connections, AnAnswerWaitingForABusyRunLoopIsNoSilence) {
  // The answer has come while the loop that reads it does not run; a move of the clock
  // past the time-out must not fail the load.
  KeepAliveServer keepAlive;
  Clock::useManual(1'000'000);
  auto r = request(keepAlive.url("/late"));
  r.timeoutInterval = 5;
  startLoad(r);
  loop.drain();  // the request goes out
  const bool answered = keepAlive.waitForAnswers(1);
  if (answered) {
    Clock::advance(6);
    runUntilDone();
  }
  Clock::useSystem();
  ASSERT_TRUE(answered);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"send /late", "response 200", "data", "finish"}));
  EXPECT_EQ(recorder->body, "ok");
}

TEST_F(Connections, TransportFailuresAndUnloadableRequests) {
  TestServer closed;
  closed.start();
  auto deadURL = closed.url("/x");
  closed.stop();  // nothing listens on that port now
  startLoad(request(deadURL));
  runUntilDone();
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->code, kErrorCannotConnectToHost);
  EXPECT_EQ(recorder->error->domain, kErrorDomain);

  EXPECT_FALSE(URLConnection::create(request("ftp://127.0.0.1/x"), recorder, deliverOnRunLoop(loop)));
  EXPECT_FALSE(URLConnection::create(request("relative/path"), recorder, deliverOnRunLoop(loop)));
}

TEST_F(Connections, RegisteredProtocolsAnswerBeforeTheNetworkAndMayRedirectToIt) {
  struct Canned : URLProtocol {
    std::string target;
    void startLoading(const URLRequest& r, std::shared_ptr<URLProtocolClient> client) override {
      if (r.url.path() == "/away") {
        auto redirect = std::make_shared<URLResponse>(URLResponse{r.url, true, 302, {}, "", -1});
        client->protocolWasRedirected(URLRequest(*URL::fromString(target)), redirect);
        return;
      }
      client->protocolDidReceiveResponse(std::make_shared<URLResponse>(URLResponse{r.url, false, 0, {}, "text/x", 4}));
      client->protocolDidLoadData(Bytes{'m', 'i', 'n', 'e'});
      client->protocolDidFinishLoading();
    }
  };
  std::string target = server.url("/hello");
  int token = URLProtocolRegistry::registerClass(
      {[](const URLRequest& r) { return r.url.scheme() == "canned" || r.url.path() == "/intercepted"; },
       [target] {
         auto p = std::make_shared<Canned>();
         p->target = target;
         return p;
       }});

  startLoad(request(server.url("/intercepted")));
  runUntilDone();
  EXPECT_EQ(recorder->body, "mine");

  recorder = std::make_shared<Recorder>();
  startLoad(request("canned://h/away"));
  runUntilDone();
  EXPECT_EQ(recorder->events,
            (std::vector<std::string>{"send /away", "send /hello after 302", "response 200", "data", "finish"}));
  EXPECT_EQ(recorder->body, "hello");

  URLProtocolRegistry::unregisterClass(token);
  EXPECT_FALSE(URLConnection::create(request("canned://h/x"), recorder, deliverOnRunLoop(loop)));
}

// A queue that runs its blocks whenever and in whatever order it likes (here: the newest
// first, as a concurrent queue may): a connection's reports still arrive in order.
TEST_F(Connections, ReportsToAConcurrentQueueArriveInTheOrderTheyWereMade) {
  struct NewestFirst : foundation::Executor {
    std::vector<std::function<void()>> blocks;
    void execute(std::function<void()> block) override { blocks.push_back(std::move(block)); }
    bool runsOnCurrentThread() const override { return false; }
    void drain() {
      while (!blocks.empty()) {
        auto block = std::move(blocks.back());
        blocks.pop_back();
        block();
      }
    }
  };
  struct Pieces : URLProtocol {
    void startLoading(const URLRequest& r, std::shared_ptr<URLProtocolClient> client) override {
      client->protocolDidReceiveResponse(std::make_shared<URLResponse>(URLResponse{r.url, false, 0, {}, "text/x", 6}));
      client->protocolDidLoadData(Bytes{'p', 'i', 'e'});
      client->protocolDidLoadData(Bytes{'c', 'e', 's'});
      client->protocolDidFinishLoading();
    }
  };
  int token = URLProtocolRegistry::registerClass(
      {[](const URLRequest& r) { return r.url.scheme() == "pieces"; }, [] { return std::make_shared<Pieces>(); }});
  auto queue = std::make_shared<NewestFirst>();
  URLResponsePtr response;
  std::string body;
  std::optional<Error> error;
  bool called = false;
  sendAsynchronousRequest(request("pieces://h/x"), deliverOn(queue),
                          [&](URLResponsePtr r, Bytes d, std::optional<Error> e) {
                            called = true;
                            response = r;
                            body = text(d);
                            error = e;
                          });
  queue->drain();
  URLProtocolRegistry::unregisterClass(token);
  ASSERT_TRUE(called);
  EXPECT_FALSE(error) << error->localizedDescription();
  ASSERT_TRUE(response);
  EXPECT_EQ(body, "pieces");
}

TEST_F(Connections, CompletionLoadsAndSynchronousLoads) {
  URLResponsePtr response;
  std::string body;
  bool called = false;
  std::thread::id thread;
  sendAsynchronousRequest(request(server.url("/missing")), deliverOnRunLoop(loop),
                          [&](URLResponsePtr r, Bytes d, std::optional<Error> e) {
                            called = true;
                            thread = std::this_thread::get_id();
                            response = r;
                            body = text(d);
                            EXPECT_FALSE(e);
                          });
  ASSERT_TRUE(loop.runUntil([&] { return called; }, 10));
  EXPECT_EQ(thread, std::this_thread::get_id());
  EXPECT_EQ(response->statusCode, 404);
  EXPECT_EQ(body, "nope");

  auto sync = sendSynchronousRequest(request(server.url("/r1")));
  EXPECT_FALSE(sync.error);
  EXPECT_EQ(text(sync.data), "final GET 1");

  auto refused = sendSynchronousRequest(request("ftp://127.0.0.1/x"));
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, kErrorUnsupportedURL);
}

TEST_F(Connections, CookiesAreKeptForRequestsThatHandleThem) {
  sendSynchronousRequest(request(server.url("/set-cookie")));
  EXPECT_EQ(text(sendSynchronousRequest(request(server.url("/show-cookie"))).data), "session=abc");
  auto without = request(server.url("/show-cookie"));
  without.handlesCookies = false;
  EXPECT_EQ(text(sendSynchronousRequest(without).data), "");
}

// A server that never ends its answers: each endless endpoint writes 64 KiB pieces until
// the client hangs up (or ten seconds pass), and tells how much it wrote and whether the
// client cut it.
struct EndlessServer {
  struct Count {
    std::atomic<std::uint64_t> written{0};
    std::atomic<bool> cut{false};
  };
  TestServer server;
  std::shared_ptr<Count> count = std::make_shared<Count>();

  EndlessServer() {
    auto& s = server.server();
    auto endless = [count = count](bool announce) {
      return [count, announce](const httplib::Request&, httplib::Response& res) {
        auto provider = [count](std::size_t, httplib::DataSink& sink) {
          static const std::string piece(64 << 10, 'x');
          const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
          while (std::chrono::steady_clock::now() < until) {
            if (!sink.write(piece.data(), piece.size())) {
              count->cut = true;
              return false;
            }
            count->written += piece.size();
          }
          return false;
        };
        if (announce) {
          res.set_content_provider(std::size_t{1} << 40, "application/octet-stream",
                                   [provider](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     return provider(offset, sink);
                                   });
        } else {
          res.set_chunked_content_provider("application/octet-stream", provider);
        }
      };
    };
    s.Get("/endless", endless(false));
    // Text the server compresses (the client accepts gzip): small on the wire, endless
    // once decoded.
    s.Get("/endless-text", [count = count](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [count](std::size_t, httplib::DataSink& sink) {
        static const std::string piece(64 << 10, 't');
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until)
          if (!sink.write(piece.data(), piece.size())) {
            count->cut = true;
            return false;
          }
        return false;
      });
    });
    s.Get("/announced", endless(true));
    s.Get("/to-endless", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/endless", 302); });
    s.Get("/endless-redirect", [count = count](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
      res.set_header("Location", "/endless");
      res.set_chunked_content_provider("text/html", [count](std::size_t, httplib::DataSink& sink) {
        static const std::string piece(64 << 10, 'r');
        for (int i = 0; i < 4096; ++i)
          if (!sink.write(piece.data(), piece.size())) {
            count->cut = true;
            return false;
          }
        return false;
      });
    });
    s.Get("/drip", [count = count](const httplib::Request&, httplib::Response& res) {
      // Of a type the server does not compress: a compressor would hold the drops back.
      res.set_chunked_content_provider("application/octet-stream", [count](std::size_t, httplib::DataSink& sink) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
          if (!sink.write("d", 1)) {
            count->cut = true;
            return false;
          }
          ++count->written;
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
      });
    });
    s.Get("/exact", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(1 << 20, 'e'), "application/octet-stream");
    });
    server.start();
  }
};

TEST(BoundedBodies, AnAnswerOverItsBoundFailsAtOnceAndItsTransferIsCut) {
  struct Case {
    const char* path;
    const char* what;
  };
  const Case cases[] = {
      {"/endless", "an endless body of unknown length"},
      {"/announced", "a length announced over the bound"},
      {"/to-endless", "an endless body after a redirect"},
      {"/endless-redirect", "a redirect whose own body never ends"},
      {"/endless-text", "a compressed body, counted as it decodes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EndlessServer endless;
    dispatch::RunLoop loop;
    auto recorder = std::make_shared<Recorder>();
    auto r = request(endless.server.url(c.path));
    r.maxBodySize = 1 << 20;
    auto connection = URLConnection::create(r, recorder, deliverOnRunLoop(loop));
    connection->start();
    // The server stops on its own only after ten seconds: an end before that is the cut.
    ASSERT_TRUE(loop.runUntil([&] { return recorder->done; }, 8));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code, kErrorDataLengthExceedsMaximum);
    EXPECT_EQ(recorder->error->domain, kErrorDomain);
    EXPECT_LE(recorder->body.size(), std::size_t{1} << 20);
    // Nothing more is read: the server's writes fail once the socket's buffers are full.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (!endless.count->cut && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(endless.count->cut);
    EXPECT_LT(endless.count->written.load(), std::uint64_t{64} << 20);
  }
}

TEST(BoundedBodies, AnAnswerOfExactlyTheBoundLoadsAndCompletionsAreBoundedToo) {
  EndlessServer endless;
  dispatch::RunLoop loop;
  auto exact = request(endless.server.url("/exact"));
  exact.maxBodySize = 1 << 20;
  auto recorder = std::make_shared<Recorder>();
  URLConnection::create(exact, recorder, deliverOnRunLoop(loop))->start();
  ASSERT_TRUE(loop.runUntil([&] { return recorder->done; }, 8));
  EXPECT_FALSE(recorder->error);
  EXPECT_EQ(recorder->body.size(), std::size_t{1} << 20);

  exact.maxBodySize = (1 << 20) - 1;
  auto over = sendSynchronousRequest(exact);
  ASSERT_TRUE(over.error);
  EXPECT_EQ(over.error->code, kErrorDataLengthExceedsMaximum);
  EXPECT_TRUE(over.data.empty());

  // Every request is bounded unless it says otherwise.
  EXPECT_EQ(request("http://127.0.0.1/").maxBodySize, kDefaultMaxBodySize);
  auto endlessLoad = sendSynchronousRequest(request(endless.server.url("/endless")));
  ASSERT_TRUE(endlessLoad.error);
  EXPECT_EQ(endlessLoad.error->code, kErrorDataLengthExceedsMaximum);
}

// A byte now and then is no silence, but the whole load still ends at its own time-out.
TEST(BoundedBodies, ADripFailsAtTheWholeLoadsTimeOutOnTheProcessClock) {
  EndlessServer endless;
  dispatch::RunLoop loop;
  Clock::useManual(1'000'000);
  auto recorder = std::make_shared<Recorder>();
  auto r = request(endless.server.url("/drip"));
  r.timeoutInterval = 5;
  r.resourceTimeoutInterval = 30;
  URLConnection::create(r, recorder, deliverOnRunLoop(loop))->start();
  bool dripping = true;
  for (int step = 0; step < 7 && dripping; ++step) {  // 28 s of dripping
    const std::size_t had = recorder->body.size();
    dripping = loop.runUntil([&] { return recorder->body.size() > had || recorder->done; }, 5) && !recorder->done;
    Clock::advance(4);
  }
  loop.runOnce(0.05);
  const bool doneEarly = recorder->done;
  for (int step = 0; step < 2 && !recorder->done; ++step) {
    const std::size_t had = recorder->body.size();
    loop.runUntil([&] { return recorder->body.size() > had || recorder->done; }, 5);
    Clock::advance(4);
  }
  loop.runUntil([&] { return recorder->done; }, 5);
  Clock::useSystem();
  EXPECT_TRUE(dripping) << ::testing::PrintToString(recorder->events);
  EXPECT_FALSE(doneEarly);
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->code, kErrorTimedOut);
  EXPECT_TRUE(
      loop.runUntil([&] { return endless.count->cut.load(); }, 5));  // and the transfer is gone
}

TEST(BoundedBodies, AProtocolThatNeverEndsItsBodyIsStoppedAndTheLoadFails) {
  // Sends a 256 KiB piece each turn of the run loop until it is stopped.
  struct Endless : URLProtocol, std::enable_shared_from_this<Endless> {
    dispatch::RunLoop* loop = nullptr;
    std::shared_ptr<std::atomic<bool>> stopped = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int>> pieces = std::make_shared<std::atomic<int>>(0);
    void startLoading(const URLRequest& r, std::shared_ptr<URLProtocolClient> client) override {
      client->protocolDidReceiveResponse(std::make_shared<URLResponse>(URLResponse{r.url, false, 0, {}, "text/x", -1}));
      next(std::move(client));
    }
    void next(std::shared_ptr<URLProtocolClient> client) {
      if (*stopped || *pieces > 4096) return;
      ++*pieces;
      client->protocolDidLoadData(Bytes(256 << 10, 'p'));
      loop->performBlock([self = shared_from_this(), client] { self->next(client); });
    }
    void stopLoading() override { *stopped = true; }
  };
  dispatch::RunLoop loop;
  auto made = std::make_shared<Endless>();
  made->loop = &loop;
  int token = URLProtocolRegistry::registerClass(
      {[](const URLRequest& r) { return r.url.scheme() == "endless"; }, [made] { return made; }});
  auto recorder = std::make_shared<Recorder>();
  auto r = request("endless://h/x");
  r.maxBodySize = 1 << 20;
  URLConnection::create(r, recorder, deliverOnRunLoop(loop))->start();
  ASSERT_TRUE(loop.runUntil([&] { return recorder->done; }, 8));
  URLProtocolRegistry::unregisterClass(token);
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->code, kErrorDataLengthExceedsMaximum);
  EXPECT_LE(recorder->body.size(), std::size_t{1} << 20);
  EXPECT_TRUE(*made->stopped);
  EXPECT_LT(*made->pieces, 16);
}

TEST(AdNetwork, BaseURLComesFromTheEnvironmentAndDefaultsToAReservedName) {
  unsetenv(kAdNetworkURLVariable);
  EXPECT_EQ(adNetworkURL("/csi"), "https://ads.wardvane.invalid/csi");
  setenv(kAdNetworkURLVariable, "http://127.0.0.1:8123/", 1);
  EXPECT_EQ(adNetworkURL("/csi"), "http://127.0.0.1:8123/csi");
  unsetenv(kAdNetworkURLVariable);
}

}  // namespace
}  // namespace net
