#include "platform/net/test_server.h"

#include <stdexcept>

namespace net::testing {

TestServer::TestServer() = default;

TestServer::~TestServer() { stop(); }

void TestServer::start() {
  // One request per connection: a client's idle kept-alive connection would hold
  // stop() up for the server's whole keep-alive time.
  server_.set_keep_alive_max_count(1);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("test server could not bind 127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // The socket already listens; wait only so that stop() cannot come before the loop.
  while (!server_.is_running()) std::this_thread::yield();
}

void TestServer::stop() {
  if (thread_.joinable()) {
    server_.stop();
    thread_.join();
  }
}

std::string TestServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace net::testing
