#pragma once
// For tests only: an HTTP server on 127.0.0.1 at a free port, running on its own
// threads, that plays whatever endpoints a test registers.

#include <httplib.h>

#include <string>
#include <thread>

namespace net::testing {

class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Register handlers before start().
  httplib::Server& server() { return server_; }
  void start();
  void stop();
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path = "") const;

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace net::testing
