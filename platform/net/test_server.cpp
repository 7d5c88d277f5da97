#include "platform/net/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

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

int listenOnLoopback(int backlog, int& port, bool nonBlocking) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("a test server could not listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

SilentServer::SilentServer() {
  listen_ = listenOnLoopback(256, port_, true);
  stop_ = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { serve(); });
}

SilentServer::~SilentServer() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = write(stop_, &one, sizeof one);
  thread_.join();
  for (auto& [fd, received] : open_) close(fd);
  close(listen_);
  close(stop_);
}

std::string SilentServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool SilentServer::waitFor(const std::function<bool(int open, const std::vector<std::string>& paths)>& ready) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return ready(openCount_, paths_); });
}

int SilentServer::openConnections() {
  std::lock_guard lock(mu_);
  return openCount_;
}

std::vector<std::string> SilentServer::paths() {
  std::lock_guard lock(mu_);
  return paths_;
}

void SilentServer::serve() {
  for (;;) {
    std::vector<pollfd> fds{{stop_, POLLIN, 0}, {listen_, POLLIN, 0}};
    for (const auto& [fd, received] : open_) fds.push_back({fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) return;
    std::lock_guard lock(mu_);
    if (fds[1].revents & POLLIN) {
      for (int fd; (fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) open_[fd];
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        open_.erase(fds[i].fd);
        continue;
      }
      std::string& received = open_[fds[i].fd];
      received.append(buffer, static_cast<std::size_t>(n));
      const auto end = received.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      const auto space = received.find(' ');
      const std::string path = received.substr(space + 1, received.find(' ', space + 1) - space - 1);
      received.erase(0, end + 4);
      paths_.push_back(path);
      if (path.rfind("/head/", 0) == 0) {
        static constexpr char kHead[] =
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nAccess-Control-Allow-Origin: *\r\n"
            "Content-Length: 100\r\n\r\nx";
        [[maybe_unused]] auto w = write(fds[i].fd, kHead, sizeof kHead - 1);
      }
    }
    openCount_ = static_cast<int>(open_.size());
    cv_.notify_all();
  }
}

}  // namespace net::testing
