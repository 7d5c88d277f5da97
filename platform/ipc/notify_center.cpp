#include "platform/ipc/notify_center.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/crypto/md5.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/log.h"
#include "platform/ipc/local_socket.h"

namespace ipc {

struct DarwinNotifyCenter::Observer {
  std::string name;
  Callback callback;
  int fd = -1;
  std::string path;
  dispatch::RunLoop* runLoop = nullptr;
  dispatch::RunLoop::Id source = 0;
};

namespace {

// How many posts one wake-up takes at most; the rest wait for the next pass, so a poster
// that never stops cannot keep the observer's run loop to itself.
constexpr int kMaxPostsPerWakeUp = 64;

std::string notifydFolder() { return foundation::devicePath("/var/run/notifyd"); }

// Folder names must be plain; anything unusual is hashed.
std::string folderName(const std::string& name) {
  bool plain = !name.empty() && name != "." && name != ".." && name.size() < 200;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_';
    plain = plain && ok;
  }
  return plain ? name : "md5-" + crypto::md5Hex(name.data(), name.size());
}

}  // namespace

DarwinNotifyCenter& DarwinNotifyCenter::shared() {
  static DarwinNotifyCenter center;
  return center;
}

DarwinNotifyCenter::~DarwinNotifyCenter() {
  for (auto& [token, o] : observers_) {
    if (o->fd >= 0) ::close(o->fd);
    ::unlink(o->path.c_str());
  }
}

std::string DarwinNotifyCenter::observerDirectory(const std::string& name) {
  return foundation::devicePath("/var/run/notifyd/" + folderName(name));
}

int DarwinNotifyCenter::addObserver(const std::string& name, Callback callback) {
  auto o = std::make_shared<Observer>();
  o->name = name;
  o->callback = std::move(callback);
  int token;
  {
    std::lock_guard lock(mu_);
    token = nextToken_++;
  }
  auto folder = observerDirectory(name);
  o->path = folder + "/" + std::to_string(::getpid()) + "." + std::to_string(token);
  std::string error;
  std::optional<LocalAddress> address;
  if (!makeOwnerOnlyDirectory(notifydFolder(), &error) || !makeOwnerOnlyDirectory(folder, &error) ||
      !(address = localAddressForPath(o->path, &error))) {
    foundation::systemLog("notify centre: cannot observe " + name + ": " + error);
    return 0;
  }
  o->fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (o->fd < 0) return 0;
  ::unlink(o->path.c_str());
  if (::bind(o->fd, reinterpret_cast<const sockaddr*>(&address->addr), address->length) != 0) {
    foundation::systemLog("notify centre: cannot observe " + name + ": " + o->path + ": " + std::strerror(errno));
    ::close(o->fd);
    return 0;
  }
  makeSocketOwnerOnly(o->path);
  o->runLoop = &dispatch::RunLoop::current();
  {
    std::lock_guard lock(mu_);
    observers_[token] = o;
  }
  o->source = o->runLoop->addFileDescriptorSource(o->fd, [this, token] { onReadable(token); });
  return token;
}

void DarwinNotifyCenter::removeObserver(int token) {
  std::shared_ptr<Observer> o;
  {
    std::lock_guard lock(mu_);
    auto it = observers_.find(token);
    if (it == observers_.end()) return;
    o = it->second;
    observers_.erase(it);
  }
  o->runLoop->removeFileDescriptorSource(o->source);
  ::close(o->fd);
  ::unlink(o->path.c_str());
}

void DarwinNotifyCenter::onReadable(int token) {
  std::shared_ptr<Observer> o;
  {
    std::lock_guard lock(mu_);
    auto it = observers_.find(token);
    if (it == observers_.end()) return;
    o = it->second;
  }
  char buf[64];
  int count = 0;
  while (count < kMaxPostsPerWakeUp && ::recv(o->fd, buf, sizeof buf, 0) >= 0) ++count;
  for (int i = 0; i < count; ++i) {
    {
      std::lock_guard lock(mu_);
      ++delivered_[o->name];
    }
    o->callback(o->name);
  }
}

int DarwinNotifyCenter::postNotification(const std::string& name) {
  auto folder = observerDirectory(name);
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return 0;  // nobody has observed the name yet
  // Only this user's observers are told; a folder others could put sockets into is not.
  std::string error;
  if (!isOwnDirectory(folder, &error)) {
    foundation::systemLog("notify centre: not posting " + name + ": " + error);
    return 0;
  }
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return 0;
  int reached = 0;
  std::vector<std::string> gone;
  for (const auto& entry : it) {
    auto path = entry.path().string();
    auto address = localAddressForPath(path);
    if (!address) continue;
    char byte = 1;
    auto n = ::sendto(fd, &byte, 1, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address->addr), address->length);
    if (n == 1) {
      ++reached;
    } else if (errno == ECONNREFUSED || errno == ENOENT) {
      gone.push_back(path);
    }
    // A full queue (EAGAIN) means the observer already has a wake-up pending.
  }
  ::close(fd);
  for (const auto& p : gone) ::unlink(p.c_str());
  return reached;
}

std::size_t DarwinNotifyCenter::deliveredCount(const std::string& name) const {
  std::lock_guard lock(mu_);
  auto it = delivered_.find(name);
  return it == delivered_.end() ? 0 : it->second;
}

}  // namespace ipc
