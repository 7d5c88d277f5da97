#include "ads/services/network.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/system/reachability.h"

struct NetworkTest : ::testing::Test {
  void TearDown() override {
    system_facts::resetReachabilityFlags();
    system_facts::setReachabilityAvailable(true);
  }
  // Lets the callback queue, and then the lock queue behind it, run what the flags caused.
  static void settle(const std::shared_ptr<QMANetwork>& n) {
    n->enableCheckingQueue()->sync([] {});
    n->networkType();
  }
};

TEST_F(NetworkTest, FlagsGiveTheCurrentAndLastKnownKindOfRoute) {
  auto n = QMANetwork::init();
  n->enableNetworkChecking();
  n->enableNetworkChecking();  // idempotent
  EXPECT_TRUE(n->isChecking());
  EXPECT_EQ(n->networkTypeString(), std::nullopt);  // no answer yet
  EXPECT_EQ(n->lastKnownNetworkTypeString(), std::nullopt);

  struct {
    std::uint32_t flags;
    std::uint64_t type;
    std::optional<std::string> net, last;
  } steps[] = {
      {system_facts::kReachabilityFlagsReachable, QMANetworkTypeWiFi, "wi", "wi"},
      {0, QMANetworkTypeNotReachable, std::nullopt, "wi"},
      // A cellular route that cannot reach the host is no route at all.
      {system_facts::kReachabilityFlagsIsWWAN, QMANetworkTypeNotReachable, std::nullopt, "wi"},
      {system_facts::kReachabilityFlagsIsWWAN | system_facts::kReachabilityFlagsReachable, QMANetworkTypeCellular, "ed", "ed"},
  };
  for (const auto& s : steps) {
    system_facts::setReachabilityFlags(s.flags);
    settle(n);
    EXPECT_EQ(n->networkType(), s.type) << s.flags;
    EXPECT_EQ(n->networkTypeString(), s.net);
    EXPECT_EQ(n->lastKnownNetworkTypeString(), s.last);
  }
  EXPECT_EQ(n->changeCount(), 3u);  // Wi-Fi, not reachable, cellular

  n->disableNetworkChecking();
  EXPECT_FALSE(n->isChecking());
  EXPECT_EQ(n->networkType(), QMANetworkTypeUndetermined);
  EXPECT_EQ(n->lastKnownNetworkTypeString(), "ed");
}

TEST_F(NetworkTest, ATargetThatCannotBeMadeLeavesTheMonitorOff) {
  system_facts::setReachabilityAvailable(false);
  auto n = QMANetwork::init();
  n->enableNetworkChecking();
  EXPECT_FALSE(n->isChecking());
  EXPECT_EQ(n->networkTypeString(), std::nullopt);
}
