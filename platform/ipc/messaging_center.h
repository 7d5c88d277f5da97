#pragma once
// The distributed messaging centre: request/reply of property-list dictionaries between
// processes, by centre name. The server answers on the run loop of the thread that
// started it; the client waits for the reply on its own thread, at most its time-out.
//
// Transport: a Unix-domain stream socket named after the centre, in an owner-only folder
// under the device root (see local_socket.h); frames as in frame.h.
//
// The server runs on the home screen's main run loop, so no client may hold it up. It
// never blocks on a socket: requests are read and replies written as the sockets allow,
// one reply is built per run-loop pass (queued requests are answered in arrival order,
// and the loop's other sources get their turn in between), and every connection has
// time-outs (ServerLimits) after which it is dropped: one for the whole request, one for
// taking the whole reply, and one for no byte moving either way. Past the connection cap
// the server stops accepting until a connection ends; waiting clients stay in the
// listening queue and the run loop does not wake for them.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/foundation/value.h"

namespace ipc {

using foundation::Dictionary;

struct ServerLimits {
  std::size_t maxConnections = 32;
  // From accepting a connection to having its whole request.
  double requestTimeout = 3.0;
  // From the reply being ready to the client having taken all of it.
  double replyTimeout = 5.0;
  // No byte read or written on a connection that is reading or writing.
  double idleTimeout = 2.0;
};

class DistributedMessagingCenter : public std::enable_shared_from_this<DistributedMessagingCenter> {
 public:
  // Answers a message; nullopt sends an absent reply.
  using Handler = std::function<std::optional<Dictionary>(const std::string& message, const Dictionary& userInfo)>;
  // Monotonic seconds.
  using TimeSource = std::function<double()>;

  static constexpr double kDefaultReplyTimeout = 5.0;

  // A new centre object for `name` (clients make one per request; the server keeps one).
  // Any thread.
  static std::shared_ptr<DistributedMessagingCenter> centerNamed(const std::string& name);

  // Stops the server; on the server's thread when it is serving.
  ~DistributedMessagingCenter();
  DistributedMessagingCenter(const DistributedMessagingCenter&) = delete;
  DistributedMessagingCenter& operator=(const DistributedMessagingCenter&) = delete;

  const std::string& name() const { return name_; }
  // The socket's file path under the device root.
  std::string socketPath() const;
  // Why the last server start or request failed, for people to read ("" after success).
  const std::string& lastError() const { return lastError_; }

  // ---- Server side: every call on the thread that runs (or will run) the server. ----

  // Set before the server starts.
  void setLimits(const ServerLimits& limits) { limits_ = limits; }
  const ServerLimits& limits() const { return limits_; }
  // The clock of the connection time-outs: real monotonic time unless a test hands in its
  // own, in which case the test calls timeSourceMoved() after moving it. Real time even
  // when the process clock is driven by hand, so a stopped clock never keeps a stalled
  // client connected.
  void setTimeSource(TimeSource now);
  void timeSourceMoved();

  // Starts serving on the current thread's run loop; false (with lastError()) when the
  // socket cannot be set up or another live server holds the name.
  bool runServerOnCurrentThread();
  void registerForMessageName(const std::string& message, Handler handler);
  void stopServer();
  bool isServing() const { return listenFd_ >= 0; }
  // Connections accepted and not yet ended.
  std::size_t openConnectionCount() const { return connections_.size(); }

  // ---- Client side: any thread but the server's own. ----

  // Sends and waits for the reply. Nullopt when no server is there, the server gives no
  // reply, or no reply arrives within the time-out (real time).
  std::optional<Dictionary> sendMessageAndReceiveReplyName(const std::string& message,
                                                           const Dictionary& userInfo = {});
  void setReplyTimeout(double seconds) { timeout_ = seconds; }

  // Applied to every centre before use, on both sides, as the phone requires; on this
  // platform the owner-only socket folder already keeps other users out, so it only
  // records that it ran.
  void markBootstrapApplied() { bootstrapApplied_ = true; }
  bool bootstrapApplied() const { return bootstrapApplied_; }

 private:
  explicit DistributedMessagingCenter(std::string name);
  struct Connection;
  double now() const;
  void fail(std::string error);
  void onEvents();
  void acceptConnections();
  void readRequest(Connection& c);
  void answerNextRequest();
  void writeReply(Connection& c);
  void closeConnection(std::uint64_t id);
  void watch(Connection& c, std::uint32_t events);
  void expireConnections();
  void armTimer();
  void checkServerThread(int line) const;

  std::string name_;
  std::string lastError_;
  double timeout_ = kDefaultReplyTimeout;
  bool bootstrapApplied_ = false;
  ServerLimits limits_;
  TimeSource timeSource_;

  int listenFd_ = -1;
  int epollFd_ = -1;
  int timerFd_ = -1;
  bool accepting_ = false;
  double acceptRetryAt_ = -1;  // after running out of descriptors
  void* runLoop_ = nullptr;
  std::uint64_t loopSource_ = 0;
  std::thread::id serverThread_;
  std::uint64_t nextConnectionId_ = 0;
  std::map<std::string, Handler, std::less<>> handlers_;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::deque<std::uint64_t> answerQueue_;
};

// The bootstrap bridging call, kept under its platform name.
void rocketbootstrap_distributedmessagingcenter_apply(const std::shared_ptr<DistributedMessagingCenter>& center);

}  // namespace ipc
