#pragma once
// The Darwin notify centre: system-wide notifications by name, across processes, with
// no payload. An observer hears a post on the run loop of the thread that registered it
// (the main thread, in practice).
//
// Each observer owns a datagram socket in a folder named after the notification, under
// the device root and open to this user only (see local_socket.h); posting sends one
// byte to every socket there and drops the ones whose process is gone. A device root
// too long for a socket path makes addObserver fail with a logged reason.
//
// Threads: every method may be called on any thread; a callback runs on the run loop of
// the thread that added its observer.

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ipc {

class DarwinNotifyCenter {
 public:
  using Callback = std::function<void(const std::string& name)>;

  // The process's centre (the platform's "get Darwin notify center").
  static DarwinNotifyCenter& shared();

  // Observes `name` with deliver-immediately behaviour. Returns a token, or 0 when the
  // observer's socket could not be set up (the reason goes to the system log).
  int addObserver(const std::string& name, Callback callback);
  void removeObserver(int token);
  // Reaches every observer of `name` in every process, this one included. Returns how
  // many observers it reached.
  int postNotification(const std::string& name);

  // How many notifications of `name` this process's observers have received.
  std::size_t deliveredCount(const std::string& name) const;

  // Folder holding the observers of `name`.
  static std::string observerDirectory(const std::string& name);

  DarwinNotifyCenter() = default;
  ~DarwinNotifyCenter();
  DarwinNotifyCenter(const DarwinNotifyCenter&) = delete;
  DarwinNotifyCenter& operator=(const DarwinNotifyCenter&) = delete;

 private:
  struct Observer;
  void onReadable(int token);

  mutable std::mutex mu_;
  int nextToken_ = 1;
  std::map<int, std::shared_ptr<Observer>> observers_;
  std::map<std::string, std::size_t, std::less<>> delivered_;
};

}  // namespace ipc
