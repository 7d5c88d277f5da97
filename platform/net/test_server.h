#pragma once
// For tests only: an HTTP server on 127.0.0.1 at a free port, running on its own
// threads, that plays whatever endpoints a test registers.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace net::testing {

// Holds requests until the test opens it: a handler calls pass(), the test waits for
// the arrivals it expects, looks at the client while they are held, then opens. Make it
// (and register its handler) before the server starts, and hand it to the handler by
// shared_ptr, so the server's threads only ever see it fully made. A held request waits
// ten seconds at most.
class Gate {
 public:
  void pass() {
    std::unique_lock lock(mu_);
    ++arrivals_;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(10), [&] { return open_; });
  }
  bool waitForArrivals(int n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return arrivals_ >= n; });
  }
  void setOpen(bool open) {
    std::lock_guard lock(mu_);
    open_ = open;
    cv_.notify_all();
  }
  int arrivals() {
    std::lock_guard lock(mu_);
    return arrivals_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int arrivals_ = 0;
  bool open_ = false;
};

class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Register handlers before start(): the server's threads read them without a lock, and
  // whatever a handler shares with the test needs one.
  httplib::Server& server() { return server_; }
  void start();
  void stop();
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path = "") const;

 private:
  httplib::Server server_;
  std::thread thread_;
  // Atomic: one server's handler may name another server (a redirect to a second origin),
  // and the request reaches it through the web engine's own processes, which order the two
  // threads in fact but not in anything the race detector can see.
  std::atomic<int> port_ = 0;
};

// A server on 127.0.0.1 that takes every connection and never answers, except a request
// for a path under /head/, which gets its answer's head and then nothing. It writes down
// the path of each request in the order they arrive, and knows how many connections are
// open: a client's close is seen at once.
// A listening TCP socket on 127.0.0.1 at a port the system picks (close-on-exec, and
// non-blocking when asked), for the bare servers tests write by hand; its port in `port`.
// Throws when it cannot listen.
int listenOnLoopback(int backlog, int& port, bool nonBlocking = false);

class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  std::string url(const std::string& path) const;
  int port() const { return port_; }
  // Waits (ten seconds at most) until `ready` holds of the open count and the paths.
  bool waitFor(const std::function<bool(int open, const std::vector<std::string>& paths)>& ready);
  int openConnections();
  std::vector<std::string> paths();

 private:
  void serve();

  int listen_ = -1;
  int stop_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::map<int, std::string> open_;  // the server's thread only
  std::mutex mu_;
  std::condition_variable cv_;
  int openCount_ = 0;
  std::vector<std::string> paths_;
};

}  // namespace net::testing
