#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/log.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/local_socket.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/notify_center.h"

namespace ipc {
namespace {

using foundation::Dictionary;
using foundation::Value;

class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useRoot("/tmp/wv-ipc-" + std::to_string(::getpid()));
    previousSink_ = foundation::setLogSink([this](const std::string& line) { logged_ += line + "\n"; });
  }
  void TearDown() override {
    foundation::setLogSink(std::move(previousSink_));
    std::filesystem::remove_all(top_);
    ::unsetenv("WARDVANE_DEVICE_ROOT");
  }
  void useRoot(const std::string& root) {
    if (top_.empty()) top_ = root;
    root_ = root;
    std::filesystem::create_directories(root_);
    ::setenv("WARDVANE_DEVICE_ROOT", root_.c_str(), 1);
  }
  // Runs the main loop until the client thread has its answer.
  std::optional<Dictionary> request(const std::string& centre, const std::string& message, Dictionary info,
                                    double timeout = 2) {
    std::optional<Dictionary> reply;
    std::atomic<bool> done{false};
    std::thread client([&] {
      auto c = DistributedMessagingCenter::centerNamed(centre);
      c->setReplyTimeout(timeout);
      reply = c->sendMessageAndReceiveReplyName(message, info);
      done = true;
      dispatch::RunLoop::main().wakeUp();
    });
    dispatch::RunLoop::main().runUntil([&] { return done.load(); }, 10);
    client.join();
    return reply;
  }
  std::string root_;
  std::string top_;
  std::string logged_;
  foundation::LogSink previousSink_;
};

// A server whose connection time-outs run on a clock the test moves by hand.
class HostileClientTest : public IpcTest {
 protected:
  void SetUp() override {
    IpcTest::SetUp();
    server_ = DistributedMessagingCenter::centerNamed("com.example.centre");
    server_->setLimits(limits_);
    server_->setTimeSource([this] { return clock_; });
    ASSERT_TRUE(server_->runServerOnCurrentThread()) << server_->lastError();
    server_->registerForMessageName("echo", [](const std::string& name, const Dictionary& info) {
      Dictionary reply = info;
      reply["message"] = name;
      return std::optional<Dictionary>(reply);
    });
    // Far more than a socket buffer holds, so a client that does not read stops the write.
    server_->registerForMessageName("big", [](const std::string&, const Dictionary&) {
      return std::optional<Dictionary>(Dictionary{{"blob", Value(foundation::Bytes(4 << 20, 7))}});
    });
  }
  void TearDown() override {
    server_.reset();
    IpcTest::TearDown();
  }
  void advance(double seconds) {
    clock_ += seconds;
    server_->timeSourceMoved();
  }
  bool runUntil(const std::function<bool()>& done) { return dispatch::RunLoop::main().runUntil(done, 10); }
  std::string requestFrame(const std::string& message) { return encodeFrame(encodeRequest(message, {})); }

  ServerLimits limits_{/*maxConnections=*/4, /*requestTimeout=*/3, /*replyTimeout=*/5, /*idleTimeout=*/2};
  double clock_ = 1000;
  std::shared_ptr<DistributedMessagingCenter> server_;
};

// A client speaking the wire format by hand, so it can misbehave.
class RawClient {
 public:
  explicit RawClient(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = localAddressForPath(path);
    EXPECT_TRUE(address);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<const sockaddr*>(&address->addr), address->length), 0)
        << std::strerror(errno);
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  void send(const std::string& bytes) {
    EXPECT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }
  // Reads what is there without waiting; true once the server has closed its end (what
  // it sent before is in received()).
  bool closedByServer() {
    char buf[65536];
    for (;;) {
      auto n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        received_.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
  }
  const std::string& received() const { return received_; }
  // Whether the server has closed its end, without reading anything (reading would be
  // progress to a server waiting for the client to take its reply).
  bool hungUp() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  }

 private:
  int fd_ = -1;
  std::string received_;
};

TEST_F(IpcTest, ServerAnswersOnItsRunLoopThread) {
  auto server = DistributedMessagingCenter::centerNamed("com.example.centre");
  rocketbootstrap_distributedmessagingcenter_apply(server);
  EXPECT_TRUE(server->bootstrapApplied());
  ASSERT_TRUE(server->runServerOnCurrentThread());
  auto mainThread = std::this_thread::get_id();
  server->registerForMessageName("echo", [&](const std::string& name, const Dictionary& info) {
    EXPECT_EQ(std::this_thread::get_id(), mainThread);
    Dictionary reply = info;
    reply["message"] = name;
    reply["blob"] = foundation::Bytes(300000, 7);  // larger than one socket buffer
    return std::optional<Dictionary>(reply);
  });
  server->registerForMessageName("silent", [](const std::string&, const Dictionary&) { return std::nullopt; });

  auto reply = request("com.example.centre", "echo", Dictionary{{"showHidden", Value(true)}});
  ASSERT_TRUE(reply);
  EXPECT_EQ(foundation::boolForKey(*reply, "showHidden"), true);
  EXPECT_EQ(*foundation::stringForKey(*reply, "message"), "echo");
  EXPECT_EQ(foundation::dataForKey(*reply, "blob")->size(), 300000u);

  EXPECT_FALSE(request("com.example.centre", "silent", {}));
  EXPECT_FALSE(request("com.example.centre", "unknown", {}));
  // Another centre name reaches nobody.
  EXPECT_FALSE(request("com.example.other", "echo", {}));
  EXPECT_EQ(logged_, "");
}

TEST_F(IpcTest, ClientGivesUpAfterItsTimeOutAndSecondServerIsRefused) {
  auto server = DistributedMessagingCenter::centerNamed("com.example.slow");
  ASSERT_TRUE(server->runServerOnCurrentThread());
  auto second = DistributedMessagingCenter::centerNamed("com.example.slow");
  EXPECT_FALSE(second->runServerOnCurrentThread());
  EXPECT_NE(second->lastError().find("already served by another process"), std::string::npos) << second->lastError();

  // Nobody runs the server's loop: the request is accepted by the kernel and never answered.
  auto client = DistributedMessagingCenter::centerNamed("com.example.slow");
  client->setReplyTimeout(0.2);
  EXPECT_FALSE(client->sendMessageAndReceiveReplyName("anything", {}));

  // A server that went away leaves a socket file that the next server takes over.
  server.reset();
  auto again = DistributedMessagingCenter::centerNamed("com.example.slow");
  EXPECT_TRUE(again->runServerOnCurrentThread());
}

TEST_F(IpcTest, StaleSocketFileIsTakenOver) {
  auto path = DistributedMessagingCenter::centerNamed("com.example.stale")->socketPath();
  ASSERT_TRUE(makeOwnerOnlyDirectory(std::filesystem::path(path).parent_path()));
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  auto address = localAddressForPath(path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address->addr), address->length), 0);
  ::close(fd);  // as if its process had died
  auto server = DistributedMessagingCenter::centerNamed("com.example.stale");
  ASSERT_TRUE(server->runServerOnCurrentThread());
  server->registerForMessageName("m", [](const std::string&, const Dictionary&) {
    return std::optional<Dictionary>(Dictionary{{"ok", Value(1)}});
  });
  EXPECT_TRUE(request("com.example.stale", "m", {}));
}

TEST_F(HostileClientTest, StalledClientsHoldUpNobodyAndAreDroppedOnTheirTimeOuts) {
  struct Case {
    const char* what;
    std::function<void(RawClient&)> stall;
    double survives;  // seconds of no progress it is still connected after
    double droppedBy;
  } cases[] = {
      {"connects and sends nothing", [](RawClient&) {}, 1.9, 0.2},
      {"sends half a length", [](RawClient& c) { c.send(std::string(2, '\0')); }, 1.9, 0.2},
      {"declares 100 bytes and sends 10", [](RawClient& c) { c.send(std::string("\0\0\0d", 4) + "0123456789"); },
       1.9, 0.2},
      {"asks for a big reply and never reads it", [&](RawClient& c) { c.send(requestFrame("big")); }, 1.9, 0.2},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawClient stalled(server_->socketPath());
    c.stall(stalled);
    ASSERT_TRUE(runUntil([&] { return server_->openConnectionCount() == 1; }));
    dispatch::RunLoop::main().drain();

    // Someone else is answered at once while the stalled client is still connected.
    auto reply = request("com.example.centre", "echo", {{"n", Value(1)}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(foundation::intForKey(*reply, "n"), 1);
    EXPECT_EQ(server_->openConnectionCount(), 1u);

    advance(c.survives);
    dispatch::RunLoop::main().drain();
    EXPECT_EQ(server_->openConnectionCount(), 1u);
    EXPECT_FALSE(stalled.hungUp());
    advance(c.droppedBy);
    EXPECT_TRUE(runUntil([&] { return server_->openConnectionCount() == 0; }));
    EXPECT_TRUE(stalled.hungUp());
  }
}

TEST_F(HostileClientTest, ATricklingRequestIsDroppedWhenItsWholeTimeIsUp) {
  RawClient trickle(server_->socketPath());
  auto frame = requestFrame("echo");
  ASSERT_TRUE(runUntil([&] { return server_->openConnectionCount() == 1; }));
  // A byte every 1.4 s is never idle for 2 s, but the request takes longer than 3 s.
  for (std::size_t i = 0; i < 2; ++i) {
    advance(1.4);
    trickle.send(frame.substr(i, 1));
    dispatch::RunLoop::main().drain();
    EXPECT_EQ(server_->openConnectionCount(), 1u) << i;
  }
  advance(0.3);
  EXPECT_TRUE(runUntil([&] { return server_->openConnectionCount() == 0; }));
  EXPECT_TRUE(trickle.closedByServer());
  EXPECT_EQ(trickle.received(), "");
}

TEST_F(HostileClientTest, EachConnectionGetsAnAnswerOrIsDroppedForWhatItSent) {
  enum Outcome { Echo, AbsentReply, Dropped };
  struct Case {
    const char* what;
    std::string bytes;
    bool halfClose;
    Outcome outcome;
  } cases[] = {
      {"a request, then a half-close", requestFrame("echo"), true, Echo},
      {"a request and bytes after it", requestFrame("echo") + "trailing", false, Echo},
      {"half a request, then a half-close", requestFrame("echo").substr(0, 7), true, Dropped},
      {"a length over the limit", encodeFrame(std::string(kMaxRequestFrame + 1, 'x')).substr(0, 4), false, Dropped},
      {"no property list", encodeFrame("bplist00 not really"), false, AbsentReply},
      {"a dictionary without a name", encodeFrame(encodeReply(Dictionary{{"x", Value(1)}})), false, AbsentReply},
      {"an unknown message", requestFrame("nobody"), false, AbsentReply},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawClient client(server_->socketPath());
    client.send(c.bytes);
    if (c.halfClose) client.shutdownWrite();
    // No time passes: whatever happens, happens for what the client sent.
    ASSERT_TRUE(runUntil([&] { return client.closedByServer(); }));
    switch (c.outcome) {
      case Echo: {
        FrameReader reader(kMaxReplyFrame);
        reader.feed(client.received().data(), client.received().size());
        ASSERT_EQ(reader.state(), FrameReader::State::Complete);
        auto reply = decodeReply(reader.payload());
        ASSERT_TRUE(reply);
        EXPECT_EQ(*foundation::stringForKey(*reply, "message"), "echo");
        break;
      }
      case AbsentReply: EXPECT_EQ(client.received(), encodeFrame("")); break;
      case Dropped: EXPECT_EQ(client.received(), ""); break;
    }
    EXPECT_TRUE(runUntil([&] { return server_->openConnectionCount() == 0; }));
  }
}

TEST_F(HostileClientTest, AtTheConnectionCapNewClientsWaitAndTheLoopStaysQuiet) {
  std::vector<std::unique_ptr<RawClient>> idle;
  for (std::size_t i = 0; i < limits_.maxConnections; ++i)
    idle.push_back(std::make_unique<RawClient>(server_->socketPath()));
  ASSERT_TRUE(runUntil([&] { return server_->openConnectionCount() == limits_.maxConnections; }));

  RawClient waiting(server_->socketPath());  // in the listening queue
  waiting.send(requestFrame("echo"));
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(server_->openConnectionCount(), limits_.maxConnections);
  // The waiting client wakes nothing: a pass finds no work.
  EXPECT_FALSE(dispatch::RunLoop::main().runOnce(0));

  idle.pop_back();  // one client leaves: the waiting one is taken and answered
  ASSERT_TRUE(runUntil([&] { return waiting.closedByServer(); }));
  EXPECT_GT(waiting.received().size(), 4u);
  // The idle ones are dropped in time, and a new client is served as usual.
  advance(limits_.idleTimeout);
  EXPECT_TRUE(runUntil([&] { return server_->openConnectionCount() == 0; }));
  EXPECT_TRUE(request("com.example.centre", "echo", {}));
}

TEST_F(IpcTest, ClientRefusesAReplyOverTheLimitWithoutWaitingForIt) {
  // A server that lies about its reply's length.
  auto path = DistributedMessagingCenter::centerNamed("com.example.liar")->socketPath();
  ASSERT_TRUE(makeOwnerOnlyDirectory(std::filesystem::path(path).parent_path()));
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto address = localAddressForPath(path);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address->addr), address->length), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  std::thread liar([&] {
    int fd = ::accept(listener, nullptr, nullptr);
    const unsigned char header[4] = {0x06, 0x40, 0x00, 0x00};  // 100 MiB
    ::send(fd, header, 4, MSG_NOSIGNAL);
    char buf[256];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
    ::close(fd);
  });
  auto client = DistributedMessagingCenter::centerNamed("com.example.liar");
  client->setReplyTimeout(30);
  EXPECT_FALSE(client->sendMessageAndReceiveReplyName("m", {}));
  EXPECT_NE(client->lastError().find("over the limit"), std::string::npos) << client->lastError();
  client.reset();
  liar.join();
  ::close(listener);
}

TEST_F(IpcTest, SocketsLiveInOwnerOnlyFoldersUnderTheDeviceRoot) {
  auto mode = [](const std::string& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 0777;
  };
  // A folder left looser by someone of this user is tightened.
  auto messaging = root_ + "/var/run/messaging";
  std::filesystem::create_directories(messaging);
  ::chmod(messaging.c_str(), 0755);
  auto server = DistributedMessagingCenter::centerNamed("com.example.centre");
  ASSERT_TRUE(server->runServerOnCurrentThread()) << server->lastError();
  EXPECT_EQ(server->socketPath(), messaging + "/com.example.centre");
  EXPECT_EQ(mode(messaging), 0700u);
  EXPECT_EQ(mode(server->socketPath()), 0600u);

  auto& center = DarwinNotifyCenter::shared();
  int token = center.addObserver("com.example.note", [](const std::string&) {});
  ASSERT_NE(token, 0);
  auto folder = DarwinNotifyCenter::observerDirectory("com.example.note");
  EXPECT_EQ(folder.rfind(root_ + "/var/run/notifyd/", 0), 0u);
  EXPECT_EQ(mode(root_ + "/var/run/notifyd"), 0700u);
  EXPECT_EQ(mode(folder), 0700u);
  for (const auto& e : std::filesystem::directory_iterator(folder)) EXPECT_EQ(mode(e.path()), 0600u);
  center.removeObserver(token);
  server.reset();

  // A link in the folder's place (to a folder anyone may write) is no place for sockets:
  // neither side uses it.
  std::filesystem::remove_all(messaging);
  auto open = root_ + "/open";
  std::filesystem::create_directories(open);
  ::chmod(open.c_str(), 0777);
  std::filesystem::create_directory_symlink(open, messaging);
  auto refused = DistributedMessagingCenter::centerNamed("com.example.centre");
  EXPECT_FALSE(refused->runServerOnCurrentThread());
  EXPECT_NE(refused->lastError().find("not a folder"), std::string::npos) << refused->lastError();
  auto client = DistributedMessagingCenter::centerNamed("com.example.centre");
  EXPECT_FALSE(client->sendMessageAndReceiveReplyName("m", {}));
  EXPECT_NE(client->lastError().find("not a folder"), std::string::npos) << client->lastError();
  EXPECT_TRUE(std::filesystem::is_empty(open));
}

TEST_F(IpcTest, ADeviceRootDeeperThanASocketAddressStillWorks) {
  useRoot(top_ + "/" + std::string(150, 'd'));
  auto server = DistributedMessagingCenter::centerNamed("com.example.long");
  server->registerForMessageName("ping", [](const std::string&, const Dictionary&) { return Dictionary{{"pong", true}}; });
  ASSERT_TRUE(server->runServerOnCurrentThread()) << server->lastError();
  EXPECT_GT(server->socketPath().size(), kMaxSocketPathLength);
  auto reply = request("com.example.long", "ping", {});
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, (Dictionary{{"pong", true}}));

  int heard = 0;
  int token = DarwinNotifyCenter::shared().addObserver("com.example.long.note", [&](const std::string&) { ++heard; });
  ASSERT_NE(token, 0) << logged_;
  EXPECT_EQ(DarwinNotifyCenter::shared().postNotification("com.example.long.note"), 1);
  EXPECT_TRUE(dispatch::RunLoop::main().runUntil([&] { return heard == 1; }, 10));
  DarwinNotifyCenter::shared().removeObserver(token);

  // Only a socket name that no address can hold is refused, with the reason.
  auto absurd = DistributedMessagingCenter::centerNamed(std::string(120, 'n'));
  EXPECT_FALSE(absurd->runServerOnCurrentThread());
  EXPECT_NE(absurd->lastError().find("too long for a socket address"), std::string::npos) << absurd->lastError();
}

TEST_F(IpcTest, NotificationsReachEveryObserverOfTheName) {
  auto& center = DarwinNotifyCenter::shared();
  int a = 0, b = 0, other = 0;
  int ta = center.addObserver("com.example.changed", [&](const std::string& n) {
    EXPECT_EQ(n, "com.example.changed");
    ++a;
  });
  int tb = center.addObserver("com.example.changed", [&](const std::string&) { ++b; });
  int to = center.addObserver("com.example.unrelated", [&](const std::string&) { ++other; });
  auto before = center.deliveredCount("com.example.changed");

  EXPECT_EQ(center.postNotification("com.example.changed"), 2);
  EXPECT_TRUE(dispatch::RunLoop::main().runUntil([&] { return a == 1 && b == 1; }, 30));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(center.deliveredCount("com.example.changed"), before + 2);

  center.removeObserver(tb);
  EXPECT_EQ(center.postNotification("com.example.changed"), 1);
  EXPECT_TRUE(dispatch::RunLoop::main().runUntil([&] { return a == 2; }, 30));
  EXPECT_EQ(b, 1);
  center.removeObserver(ta);
  center.removeObserver(to);
  EXPECT_EQ(center.postNotification("com.example.nobody"), 0);
}

TEST_F(IpcTest, PostingDropsObserversWhoseProcessIsGone) {
  auto dir = DarwinNotifyCenter::observerDirectory("com.example.changed");
  ASSERT_TRUE(makeOwnerOnlyDirectory(dir));
  auto stale = dir + "/999999.1";
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  auto address = localAddressForPath(stale);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address->addr), address->length), 0);
  ::close(fd);
  EXPECT_EQ(DarwinNotifyCenter::shared().postNotification("com.example.changed"), 0);
  EXPECT_FALSE(std::filesystem::exists(stale));
}

}  // namespace
}  // namespace ipc
