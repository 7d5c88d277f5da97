#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/dispatch/run_loop.h"
#include "platform/ipc/local_socket.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/notify_center.h"

namespace ipc {
namespace {

using foundation::Dictionary;
using foundation::Value;

class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override { useRoot("/tmp/wv-ipc-" + std::to_string(::getpid())); }
  void TearDown() override {
    std::filesystem::remove_all(root_);
    ::unsetenv("WARDVANE_DEVICE_ROOT");
  }
  void useRoot(const std::string& root) {
    if (!root_.empty()) std::filesystem::remove_all(root_);
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
}

TEST_F(IpcTest, ClientGivesUpAfterItsTimeOutAndSecondServerIsRefused) {
  auto server = DistributedMessagingCenter::centerNamed("com.example.slow");
  ASSERT_TRUE(server->runServerOnCurrentThread());
  EXPECT_FALSE(DistributedMessagingCenter::centerNamed("com.example.slow")->runServerOnCurrentThread());

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
  ASSERT_TRUE(makeParentDirectories(path));
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  auto address = localAddressForPath(path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address.addr), address.length), 0);
  ::close(fd);  // as if its process had died
  auto server = DistributedMessagingCenter::centerNamed("com.example.stale");
  ASSERT_TRUE(server->runServerOnCurrentThread());
  server->registerForMessageName("m", [](const std::string&, const Dictionary&) {
    return std::optional<Dictionary>(Dictionary{{"ok", Value(1)}});
  });
  EXPECT_TRUE(request("com.example.stale", "m", {}));
}

TEST_F(IpcTest, LongDeviceRootFallsBackToAbstractAddresses) {
  useRoot("/tmp/wv-ipc-" + std::to_string(::getpid()) + "/" + std::string(90, 'd'));
  auto server = DistributedMessagingCenter::centerNamed("com.example.long");
  ASSERT_TRUE(server->runServerOnCurrentThread());
  server->registerForMessageName("m", [](const std::string&, const Dictionary&) {
    return std::optional<Dictionary>(Dictionary{{"ok", Value(1)}});
  });
  EXPECT_TRUE(request("com.example.long", "m", {}));

  auto& center = DarwinNotifyCenter::shared();
  int heard = 0;
  int token = center.addObserver("com.example.long.note", [&](const std::string&) { ++heard; });
  ASSERT_NE(token, 0);
  EXPECT_EQ(center.postNotification("com.example.long.note"), 1);
  dispatch::RunLoop::main().runUntil([&] { return heard == 1; }, 2);
  EXPECT_EQ(heard, 1);
  center.removeObserver(token);
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
  dispatch::RunLoop::main().runUntil([&] { return a == 1 && b == 1; }, 2);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(center.deliveredCount("com.example.changed"), before + 2);

  center.removeObserver(tb);
  EXPECT_EQ(center.postNotification("com.example.changed"), 1);
  dispatch::RunLoop::main().runUntil([&] { return a == 2; }, 2);
  EXPECT_EQ(b, 1);
  center.removeObserver(ta);
  center.removeObserver(to);
  EXPECT_EQ(center.postNotification("com.example.nobody"), 0);
}

TEST_F(IpcTest, PostingDropsObserversWhoseProcessIsGone) {
  auto dir = DarwinNotifyCenter::observerDirectory("com.example.changed");
  std::filesystem::create_directories(dir);
  auto stale = dir + "/999999.1";
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  auto address = localAddressForPath(stale);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address.addr), address.length), 0);
  ::close(fd);
  EXPECT_EQ(DarwinNotifyCenter::shared().postNotification("com.example.changed"), 0);
  EXPECT_FALSE(std::filesystem::exists(stale));
}

}  // namespace
}  // namespace ipc
