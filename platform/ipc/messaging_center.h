#pragma once
// The distributed messaging centre: request/reply of property-list dictionaries between
// processes, by centre name. The server answers on the run loop of the thread that
// started it; the client waits for the reply on its own thread, at most its time-out.
//
// Transport: a Unix-domain stream socket named after the centre under the device root.
// Each frame is a 4-byte big-endian length and a binary property list; the request is
// {name, userInfo}, the reply the handler's dictionary, or an empty frame for none.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace ipc {

using foundation::Dictionary;

class DistributedMessagingCenter : public std::enable_shared_from_this<DistributedMessagingCenter> {
 public:
  // Answers a message; nullopt sends an absent reply.
  using Handler = std::function<std::optional<Dictionary>(const std::string& message, const Dictionary& userInfo)>;

  static constexpr double kDefaultReplyTimeout = 5.0;

  // A new centre object for `name` (clients make one per request; the server keeps one).
  static std::shared_ptr<DistributedMessagingCenter> centerNamed(const std::string& name);

  ~DistributedMessagingCenter();
  DistributedMessagingCenter(const DistributedMessagingCenter&) = delete;
  DistributedMessagingCenter& operator=(const DistributedMessagingCenter&) = delete;

  const std::string& name() const { return name_; }
  // The socket's file path (the address falls back to an abstract one when too long).
  std::string socketPath() const;

  // Server side. Starts serving on the current thread's run loop; false when the socket
  // cannot be set up or another live server holds the name.
  bool runServerOnCurrentThread();
  void registerForMessageName(const std::string& message, Handler handler);
  void stopServer();
  bool isServing() const { return listenFd_ >= 0; }

  // Client side: sends and waits for the reply. Nullopt when no server is there, the
  // server gives no reply, or no reply arrives within the time-out (real time).
  std::optional<Dictionary> sendMessageAndReceiveReplyName(const std::string& message,
                                                           const Dictionary& userInfo = {});
  void setReplyTimeout(double seconds) { timeout_ = seconds; }

  // Applied to every centre before use, on both sides, as the phone requires; on this
  // platform every process may reach every centre, so it only records that it ran.
  void markBootstrapApplied() { bootstrapApplied_ = true; }
  bool bootstrapApplied() const { return bootstrapApplied_; }

 private:
  explicit DistributedMessagingCenter(std::string name);
  struct Connection;
  void acceptConnections();
  void onConnectionReadable(int fd);
  void closeConnection(int fd);

  std::string name_;
  double timeout_ = kDefaultReplyTimeout;
  bool bootstrapApplied_ = false;
  int listenFd_ = -1;
  void* runLoop_ = nullptr;
  std::uint64_t listenSource_ = 0;
  std::map<std::string, Handler, std::less<>> handlers_;
  std::map<int, std::unique_ptr<Connection>> connections_;
};

// The bootstrap bridging call, kept under its platform name.
void rocketbootstrap_distributedmessagingcenter_apply(const std::shared_ptr<DistributedMessagingCenter>& center);

}  // namespace ipc
