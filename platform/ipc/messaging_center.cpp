#include "platform/ipc/messaging_center.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "platform/crypto/md5.h"
#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/log.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/local_socket.h"

namespace ipc {
namespace {

// Epoll tags of the two descriptors that are not connections; connections count from 2.
constexpr std::uint64_t kListenTag = 0;
constexpr std::uint64_t kTimerTag = 1;
constexpr int kBacklog = 128;
constexpr double kNever = std::numeric_limits<double>::infinity();
// After running out of descriptors, accepting is tried again this much later rather
// than on every pass while the listening socket stays readable.
constexpr double kAcceptRetryDelay = 0.1;

double realNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Waits until `fd` is ready for `events` or the deadline (real time) passes.
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

// The client's blocking send: all of `out` to the non-blocking socket `fd` before the
// deadline; false when the peer is gone or the deadline passes first.
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

std::string parentFolder(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

}  // namespace

struct DistributedMessagingCenter::Connection {
  enum class Phase { Reading, Queued, Writing };
  std::uint64_t id = 0;
  int fd = -1;
  Phase phase = Phase::Reading;
  std::uint32_t watched = 0;  // the epoll events asked for
  FrameReader reader{kMaxRequestFrame};
  std::string out;
  std::size_t sent = 0;
  double openedAt = 0;
  double replyFrom = 0;
  double lastProgress = 0;

  double deadline(const ServerLimits& limits) const {
    switch (phase) {
      case Phase::Reading: return std::min(openedAt + limits.requestTimeout, lastProgress + limits.idleTimeout);
      case Phase::Queued: return kNever;  // waiting for us, not for the client
      case Phase::Writing: return std::min(replyFrom + limits.replyTimeout, lastProgress + limits.idleTimeout);
    }
    return kNever;
  }
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

double DistributedMessagingCenter::now() const { return timeSource_ ? timeSource_() : realNow(); }

void DistributedMessagingCenter::fail(std::string error) {
  lastError_ = "messaging centre " + name_ + ": " + error;
  foundation::systemLog(lastError_);
}

void DistributedMessagingCenter::checkServerThread([[maybe_unused]] int line) const {
#ifndef NDEBUG
  if (isServing() && std::this_thread::get_id() != serverThread_)
    dispatch::detail::threadCheckFailed("must run on the thread serving the messaging centre", __FILE__, line);
#endif
}

void DistributedMessagingCenter::setTimeSource(TimeSource source) {
  checkServerThread(__LINE__);
  timeSource_ = std::move(source);
  if (isServing()) armTimer();
}

void DistributedMessagingCenter::timeSourceMoved() {
  checkServerThread(__LINE__);
  if (isServing()) armTimer();
}

bool DistributedMessagingCenter::runServerOnCurrentThread() {
  if (listenFd_ >= 0) return true;
  lastError_.clear();
  auto path = socketPath();
  std::string error;
  if (!makeOwnerOnlyDirectory(parentFolder(path), &error)) {
    fail(error);
    return false;
  }
  auto address = localAddressForPath(path, &error);
  if (!address) {
    fail(error);
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    fail(std::string("socket: ") + std::strerror(errno));
    return false;
  }
  auto bindIt = [&] { return ::bind(fd, reinterpret_cast<const sockaddr*>(&address->addr), address->length) == 0; };
  if (!bindIt()) {
    if (errno != EADDRINUSE) {
      fail(path + ": " + std::strerror(errno));
      ::close(fd);
      return false;
    }
    // A socket file is there: take it over only when no server answers on it. The probe
    // never blocks: a live server with a full queue answers EAGAIN.
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    bool live = probe >= 0 &&
                (::connect(probe, reinterpret_cast<const sockaddr*>(&address->addr), address->length) == 0 ||
                 errno == EAGAIN || errno == EINPROGRESS);
    if (probe >= 0) ::close(probe);
    if (live) {
      fail("already served by another process");
      ::close(fd);
      return false;
    }
    ::unlink(path.c_str());
    if (!bindIt()) {
      fail(path + ": " + std::strerror(errno));
      ::close(fd);
      return false;
    }
  }
  makeSocketOwnerOnly(path);
  if (::listen(fd, kBacklog) != 0) {
    fail(std::string("listen: ") + std::strerror(errno));
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  epoll_event listenEvent{EPOLLIN, {.u64 = kListenTag}};
  epoll_event timerEvent{EPOLLIN, {.u64 = kTimerTag}};
  if (epollFd_ < 0 || timerFd_ < 0 || ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &listenEvent) != 0 ||
      ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, timerFd_, &timerEvent) != 0) {
    fail(std::string("cannot watch the socket: ") + std::strerror(errno));
    if (epollFd_ >= 0) ::close(epollFd_);
    if (timerFd_ >= 0) ::close(timerFd_);
    epollFd_ = timerFd_ = -1;
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  listenFd_ = fd;
  accepting_ = true;
  acceptRetryAt_ = -1;
  serverThread_ = std::this_thread::get_id();
  auto& loop = dispatch::RunLoop::current();
  runLoop_ = &loop;
  loopSource_ = loop.addFileDescriptorSource(epollFd_, [this] { onEvents(); });
  return true;
}

void DistributedMessagingCenter::registerForMessageName(const std::string& message, Handler handler) {
  checkServerThread(__LINE__);
  handlers_[message] = std::move(handler);
}

void DistributedMessagingCenter::stopServer() {
  if (listenFd_ < 0) return;
  checkServerThread(__LINE__);
  static_cast<dispatch::RunLoop*>(runLoop_)->removeFileDescriptorSource(loopSource_);
  while (!connections_.empty()) closeConnection(connections_.begin()->first);
  answerQueue_.clear();
  ::close(listenFd_);
  ::close(epollFd_);
  ::close(timerFd_);
  listenFd_ = epollFd_ = timerFd_ = -1;
  ::unlink(socketPath().c_str());
}

void DistributedMessagingCenter::watch(Connection& c, std::uint32_t events) {
  if (c.watched == events) return;
  epoll_event e{events, {.u64 = c.id}};
  ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &e);
  c.watched = events;
}

void DistributedMessagingCenter::onEvents() {
  checkServerThread(__LINE__);
  epoll_event events[64];
  int n = ::epoll_wait(epollFd_, events, 64, 0);
  for (int i = 0; i < n; ++i) {
    auto tag = events[i].data.u64;
    if (tag == kListenTag) {
      acceptConnections();
    } else if (tag == kTimerTag) {
      std::uint64_t ticks;
      [[maybe_unused]] auto r = ::read(timerFd_, &ticks, sizeof ticks);
    } else if (auto it = connections_.find(tag); it != connections_.end()) {
      auto& c = *it->second;
      switch (c.phase) {
        case Connection::Phase::Reading: readRequest(c); break;
        case Connection::Phase::Writing: writeReply(c); break;
        case Connection::Phase::Queued:
          // Nothing is watched while queued, so only a hang-up or an error comes here: the
          // client is gone and nobody waits for the answer.
          closeConnection(tag);
          break;
      }
    }
  }
  answerNextRequest();
  if (!isServing()) return;  // a handler stopped the server
  expireConnections();
  armTimer();
}

void DistributedMessagingCenter::acceptConnections() {
  while (connections_.size() < limits_.maxConnections) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      // Out of descriptors or memory: the client waits in the queue, and accepting waits
      // a little, so that the still-readable listening socket does not wake every pass.
      acceptRetryAt_ = now() + kAcceptRetryDelay;
      break;
    }
    auto c = std::make_unique<Connection>();
    c->id = nextConnectionId_++ + 2;
    c->fd = fd;
    c->openedAt = c->lastProgress = now();
    c->watched = EPOLLIN;
    epoll_event e{EPOLLIN, {.u64 = c->id}};
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &e) != 0) {
      ::close(fd);
      continue;
    }
    connections_[c->id] = std::move(c);
  }
  // At the cap (or waiting to retry): stop watching the listening socket until a
  // connection ends; the clients that come meanwhile wait in its queue.
  epoll_event off{0, {.u64 = kListenTag}};
  ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &off);
  accepting_ = false;
}

void DistributedMessagingCenter::readRequest(Connection& c) {
  char buf[16384];
  while (c.phase == Connection::Phase::Reading) {
    // Only the bytes of the one frame are taken; anything a client sends after it stays
    // unread.
    auto want = std::min(c.reader.bytesWanted(), sizeof buf);
    auto n = ::recv(c.fd, buf, want, 0);
    if (n > 0) {
      c.lastProgress = now();
      c.reader.feed(buf, static_cast<std::size_t>(n));
      if (c.reader.state() == FrameReader::State::Oversized) {
        closeConnection(c.id);
        return;
      }
      if (c.reader.state() == FrameReader::State::Complete) {
        c.phase = Connection::Phase::Queued;
        watch(c, 0);
        answerQueue_.push_back(c.id);
      }
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      closeConnection(c.id);  // closed, or failed, before the whole request came
      return;
    }
  }
}

void DistributedMessagingCenter::answerNextRequest() {
  while (!answerQueue_.empty()) {
    auto id = answerQueue_.front();
    answerQueue_.pop_front();
    auto it = connections_.find(id);
    if (it == connections_.end()) continue;  // its client went away while it waited

    std::optional<Dictionary> reply;
    if (auto request = decodeRequest(it->second->reader.payload())) {
      auto handler = handlers_.find(request->message);
      if (handler != handlers_.end()) reply = handler->second(request->message, request->userInfo);
    }
    if (!isServing()) return;
    it = connections_.find(id);
    if (it == connections_.end()) return;
    auto& c = *it->second;
    auto payload = encodeReply(std::move(reply));
    if (payload.size() > kMaxReplyFrame) {
      foundation::systemLog("messaging centre " + name_ + ": a reply of " + std::to_string(payload.size()) +
                            " bytes is over the limit of " + std::to_string(kMaxReplyFrame) + "; sent none");
      payload.clear();
    }
    c.out = encodeFrame(payload);
    c.sent = 0;
    c.phase = Connection::Phase::Writing;
    c.replyFrom = c.lastProgress = now();
    watch(c, EPOLLOUT);
    writeReply(c);
    return;  // one reply a pass
  }
}

void DistributedMessagingCenter::writeReply(Connection& c) {
  while (c.sent < c.out.size()) {
    auto n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.sent += static_cast<std::size_t>(n);
      c.lastProgress = now();
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      break;  // the client is gone
    }
  }
  // All sent (the client reads the rest after the close) or the client is gone.
  closeConnection(c.id);
}

void DistributedMessagingCenter::closeConnection(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second->fd, nullptr);
  ::close(it->second->fd);
  connections_.erase(it);
  if (!accepting_ && acceptRetryAt_ < 0 && listenFd_ >= 0 && connections_.size() < limits_.maxConnections) {
    epoll_event on{EPOLLIN, {.u64 = kListenTag}};
    ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &on);
    accepting_ = true;
  }
}

void DistributedMessagingCenter::expireConnections() {
  double t = now();
  if (acceptRetryAt_ >= 0 && t >= acceptRetryAt_) {
    acceptRetryAt_ = -1;
    if (!accepting_ && connections_.size() < limits_.maxConnections) acceptConnections();
  }
  std::vector<std::uint64_t> due;
  for (const auto& [id, c] : connections_)
    if (c->deadline(limits_) <= t) due.push_back(id);
  for (auto id : due) {
    auto it = connections_.find(id);
    if (it == connections_.end()) continue;
    // This thread may have been busy while the client did its part: take what it sent,
    // or let it take what is waiting, before judging it.
    auto& c = *it->second;
    if (c.phase == Connection::Phase::Reading) readRequest(c);
    else if (c.phase == Connection::Phase::Writing) writeReply(c);
    it = connections_.find(id);
    if (it != connections_.end() && it->second->deadline(limits_) <= now()) closeConnection(id);
  }
}

void DistributedMessagingCenter::armTimer() {
  double t = now();
  double next = answerQueue_.empty() ? kNever : t;
  for (const auto& [id, c] : connections_) next = std::min(next, c->deadline(limits_));
  if (acceptRetryAt_ >= 0) next = std::min(next, acceptRetryAt_);
  itimerspec due{};
  if (next != kNever) {
    double delay = std::max(next - t, 0.0);
    due.it_value.tv_sec = static_cast<time_t>(delay);
    due.it_value.tv_nsec = static_cast<long>((delay - std::floor(delay)) * 1e9);
    if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0) due.it_value.tv_nsec = 1;  // zero would disarm
  }
  ::timerfd_settime(timerFd_, 0, &due, nullptr);
}

std::optional<Dictionary> DistributedMessagingCenter::sendMessageAndReceiveReplyName(const std::string& message,
                                                                                     const Dictionary& userInfo) {
  lastError_.clear();
  double deadline = realNow() + timeout_;
  auto path = socketPath();
  std::string error;
  auto folder = parentFolder(path);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 && errno == ENOENT) {
    lastError_ = "messaging centre " + name_ + ": no server";
    return std::nullopt;
  }
  if (!isOwnDirectory(folder, &error)) {
    fail("not asking a server whose socket others could have placed: " + error);
    return std::nullopt;
  }
  auto address = localAddressForPath(path, &error);
  if (!address) {
    fail(error);
    return std::nullopt;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  // A non-blocking local connect fails with EAGAIN while the server's queue is full.
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&address->addr), address->length) != 0) {
    if (errno != EAGAIN && errno != EINTR) {
      lastError_ = "messaging centre " + name_ + ": no server";
      return std::nullopt;
    }
    if (realNow() >= deadline) {
      lastError_ = "messaging centre " + name_ + ": the server did not take the request in time";
      return std::nullopt;
    }
    timespec pause{0, 5'000'000};
    ::nanosleep(&pause, nullptr);
  }
  if (!sendAll(fd, encodeFrame(encodeRequest(message, userInfo)), deadline)) {
    lastError_ = "messaging centre " + name_ + ": the request could not be sent";
    return std::nullopt;
  }
  FrameReader reader(kMaxReplyFrame);
  char buf[65536];
  while (reader.state() == FrameReader::State::Reading) {
    auto n = ::recv(fd, buf, std::min(reader.bytesWanted(), sizeof buf), 0);
    if (n > 0) {
      reader.feed(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!waitFor(fd, POLLIN, deadline)) {
        lastError_ = "messaging centre " + name_ + ": no reply within the time-out";
        return std::nullopt;
      }
    } else {
      lastError_ = "messaging centre " + name_ + ": the server closed without a whole reply";
      return std::nullopt;
    }
  }
  if (reader.state() == FrameReader::State::Oversized) {
    fail("refused a reply of " + std::to_string(reader.declaredLength()) + " bytes, over the limit of " +
         std::to_string(kMaxReplyFrame));
    return std::nullopt;
  }
  return decodeReply(reader.payload());
}

void rocketbootstrap_distributedmessagingcenter_apply(const std::shared_ptr<DistributedMessagingCenter>& center) {
  if (center) center->markBootstrapApplied();
}

}  // namespace ipc
