#include "platform/ipc/messaging_center.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/crypto/md5.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/property_list.h"
#include "platform/ipc/local_socket.h"

namespace ipc {
namespace {

// Frames larger than this are refused rather than allocated.
constexpr std::uint32_t kMaxFrame = 256u << 20;

double realNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string frame(const foundation::Bytes& payload) {
  std::string out(4, '\0');
  auto n = static_cast<std::uint32_t>(payload.size());
  out[0] = static_cast<char>(n >> 24);
  out[1] = static_cast<char>(n >> 16);
  out[2] = static_cast<char>(n >> 8);
  out[3] = static_cast<char>(n);
  out.append(payload.begin(), payload.end());
  return out;
}

std::uint32_t frameLength(const std::string& buf) {
  auto b = [&](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(buf[static_cast<std::size_t>(i)])); };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, double deadline) {
  for (;;) {
    double left = deadline - realNow();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, static_cast<int>(left * 1000) + 1);
    if (rc > 0) return true;
    if (rc == 0) continue;
    if (errno != EINTR) return false;
  }
}

// Writes all of `out` to the non-blocking socket `fd`, waiting while it is full; false
// when the peer is gone or the deadline passes first.
bool sendAll(int fd, const std::string& out, double deadline) {
  std::size_t sent = 0;
  while (sent < out.size()) {
    auto n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!waitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

struct DistributedMessagingCenter::Connection {
  std::string in;
  dispatch::RunLoop::Id source = 0;
};

std::shared_ptr<DistributedMessagingCenter> DistributedMessagingCenter::centerNamed(const std::string& name) {
  return std::shared_ptr<DistributedMessagingCenter>(new DistributedMessagingCenter(name));
}

DistributedMessagingCenter::DistributedMessagingCenter(std::string name) : name_(std::move(name)) {}

DistributedMessagingCenter::~DistributedMessagingCenter() { stopServer(); }

std::string DistributedMessagingCenter::socketPath() const {
  bool plain = !name_.empty() && name_.size() < 200 && name_ != "." && name_ != "..";
  for (char c : name_) plain = plain && c != '/' && c != '\0';
  std::string file = plain ? name_ : "md5-" + crypto::md5Hex(name_.data(), name_.size());
  return foundation::devicePath("/var/run/messaging/" + file);
}

bool DistributedMessagingCenter::runServerOnCurrentThread() {
  if (listenFd_ >= 0) return true;
  auto path = socketPath();
  if (!makeParentDirectories(path)) return false;
  auto address = localAddressForPath(path);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.addr), address.length) != 0) {
    if (errno != EADDRINUSE) {
      ::close(fd);
      return false;
    }
    // A socket file is there: take it over only when no server answers on it.
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live = ::connect(probe, reinterpret_cast<const sockaddr*>(&address.addr), address.length) == 0;
    ::close(probe);
    if (live || address.abstract) {
      std::fprintf(stderr, "messaging centre %s: already served by another process\n", name_.c_str());
      ::close(fd);
      return false;
    }
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.addr), address.length) != 0) {
      ::close(fd);
      return false;
    }
  }
  if (::listen(fd, 64) != 0) {
    ::close(fd);
    return false;
  }
  listenFd_ = fd;
  auto& loop = dispatch::RunLoop::current();
  runLoop_ = &loop;
  listenSource_ = loop.addFileDescriptorSource(fd, [this] { acceptConnections(); });
  return true;
}

void DistributedMessagingCenter::registerForMessageName(const std::string& message, Handler handler) {
  handlers_[message] = std::move(handler);
}

void DistributedMessagingCenter::stopServer() {
  if (listenFd_ < 0) return;
  auto* loop = static_cast<dispatch::RunLoop*>(runLoop_);
  loop->removeFileDescriptorSource(listenSource_);
  while (!connections_.empty()) closeConnection(connections_.begin()->first);
  ::close(listenFd_);
  listenFd_ = -1;
  auto address = localAddressForPath(socketPath());
  if (!address.abstract) ::unlink(socketPath().c_str());
}

void DistributedMessagingCenter::acceptConnections() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    auto c = std::make_unique<Connection>();
    auto* loop = static_cast<dispatch::RunLoop*>(runLoop_);
    c->source = loop->addFileDescriptorSource(fd, [this, fd] { onConnectionReadable(fd); });
    connections_[fd] = std::move(c);
  }
}

void DistributedMessagingCenter::closeConnection(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  static_cast<dispatch::RunLoop*>(runLoop_)->removeFileDescriptorSource(it->second->source);
  connections_.erase(it);
  ::close(fd);
}

void DistributedMessagingCenter::onConnectionReadable(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  auto& c = *it->second;
  char buf[65536];
  for (;;) {
    auto n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      c.in.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == EINTR) continue;
    closeConnection(fd);  // closed or failed before a whole request arrived
    return;
  }
  if (c.in.size() < 4) return;
  auto length = frameLength(c.in);
  if (length > kMaxFrame) {
    closeConnection(fd);
    return;
  }
  if (c.in.size() < 4 + static_cast<std::size_t>(length)) return;

  std::optional<Dictionary> reply;
  auto request = foundation::propertyListFromData(c.in.data() + 4, length);
  const Dictionary* dict = request ? request->asDictionary() : nullptr;
  const std::string* message = dict ? foundation::stringForKey(*dict, "name") : nullptr;
  if (message) {
    static const Dictionary kEmpty;
    const Dictionary* userInfo = foundation::dictionaryForKey(*dict, "userInfo");
    auto handler = handlers_.find(*message);
    if (handler != handlers_.end()) reply = handler->second(*message, userInfo ? *userInfo : kEmpty);
  }
  std::string out = frame(reply ? foundation::dataFromPropertyList(foundation::Value(std::move(*reply)),
                                                                    foundation::PropertyListFormat::Binary)
                                : foundation::Bytes{});
  // The reply goes out in one go; a client that stops reading is dropped after the
  // time-out rather than holding the home screen.
  double deadline = realNow() + kDefaultReplyTimeout;
  sendAll(fd, out, deadline);
  closeConnection(fd);
}

std::optional<Dictionary> DistributedMessagingCenter::sendMessageAndReceiveReplyName(const std::string& message,
                                                                                     const Dictionary& userInfo) {
  double deadline = realNow() + timeout_;
  auto address = localAddressForPath(socketPath());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  // A non-blocking local connect fails with EAGAIN while the server's backlog is full.
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&address.addr), address.length) != 0) {
    if (errno != EAGAIN && errno != EINTR) return std::nullopt;
    if (realNow() >= deadline) return std::nullopt;
    timespec pause{0, 5'000'000};
    ::nanosleep(&pause, nullptr);
  }
  Dictionary request;
  request["name"] = message;
  request["userInfo"] = userInfo;
  std::string out = frame(foundation::dataFromPropertyList(foundation::Value(std::move(request)),
                                                           foundation::PropertyListFormat::Binary));
  if (!sendAll(fd, out, deadline)) return std::nullopt;
  std::string in;
  char buf[65536];
  for (;;) {
    if (in.size() >= 4) {
      auto length = frameLength(in);
      if (length > kMaxFrame) return std::nullopt;
      if (in.size() >= 4 + static_cast<std::size_t>(length)) {
        if (length == 0) return std::nullopt;
        auto reply = foundation::propertyListFromData(in.data() + 4, length);
        if (!reply || !reply->asDictionary()) return std::nullopt;
        return std::move(*reply->asDictionary());
      }
    }
    auto n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      in.append(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!waitFor(fd, POLLIN, deadline)) return std::nullopt;
    } else {
      return std::nullopt;  // the server closed without a whole reply
    }
  }
}

void rocketbootstrap_distributedmessagingcenter_apply(const std::shared_ptr<DistributedMessagingCenter>& center) {
  if (center) center->markBootstrapApplied();
}

}  // namespace ipc
