// A creative that starts thousands of requests to a server that takes connections and
// never answers, end to end in adhost against adserver: adhost holds six connections to
// that server and a bounded number of descriptors, answers and loads another banner
// meanwhile, and once the banner goes its requests end with it and the descriptors come
// back to their usual count.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "platform/net/test_server.h"
#include "tools/adhost/adhost_test_support.h"
#include "tools/adhost/hostile_requests_scenario.h"

namespace {

constexpr int kBurst = 15000;

class HostileRequestsTest : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return adhost_test::hostileRequestsScenario(silent_.url("/"), kBurst); }
  // The descriptors adhost holds now.
  int descriptors() const {
    std::error_code error;
    int n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(host_->pid()) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
      ++n;
    return n;
  }
  void show(const std::string& name, const std::string& unit) {
    expect("banner " + name + " unit " + unit, "ok " + name);
    expect("load " + name, "ok loading");
    expect("wait " + name, "ok " + name + " adViewDidReceiveAd:");
  }

  net::testing::SilentServer silent_;  // made before the scenario is read
};

TEST_F(HostileRequestsTest, ABurstToASilentServerHoldsSixConnectionsAndEndsWithItsBanner) {
  show("p1", "plain");
  const int usual = descriptors();
  expect("requests", "ok requests running=0 waiting=0");

  show("b1", "burst");
  EXPECT_EQ(js("b1", "window.sent"), std::to_string(kBurst));
  // While the burst reaches adhost (at most 60 s of real time), it answers each command,
  // holds six connections to the server and few descriptors, and shows another banner.
  int most = 0;
  std::string line;
  const auto arrived = "ok requests running=6 waiting=" + std::to_string(kBurst - 6);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool shownMeanwhile = false;
  while ((line = send("requests")) != arrived && std::chrono::steady_clock::now() < until) {
    most = std::max(most, descriptors());
    if (!shownMeanwhile) show("p2", "plain");
    shownMeanwhile = true;
  }
  ASSERT_EQ(line, arrived);
  most = std::max(most, descriptors());
  if (!shownMeanwhile) show("p2", "plain");
  EXPECT_LT(most, 1024);
  EXPECT_EQ(silent_.openConnections(), 6);
  EXPECT_EQ(silent_.paths().size(), 6u);

  expect("remove b1", "ok removed b1");
  expect("remove p2", "ok removed p2");
  ASSERT_TRUE(silent_.waitFor([](int open, const auto&) { return open == 0; }));
  expect("requests", "ok requests running=0 waiting=0");
  // The web processes of the banners gone end on their own time: at most 20 s of real time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (descriptors() > usual + 8 && std::chrono::steady_clock::now() < deadline) expect("screen", "ok screen");
  EXPECT_LE(descriptors(), usual + 8) << "usual " << usual << ", at the burst's height " << most;
  EXPECT_EQ(silent_.paths().size(), 6u);
}

// Twenty banners at once, most of them hostile (bursts of requests to a server that never
// answers, an endless picture, an answer that never ends): each ends as it would alone,
// shown or failed, while the bursts share six connections to their server.
TEST_F(HostileRequestsTest, TwentyHostileBannersAtOnceEachEndAsAlone) {
  struct Kind {
    const char* unit;
    const char* ending;
  };
  const Kind kinds[] = {{"small-burst", "adViewDidReceiveAd:"},
                        {"plain", "adViewDidReceiveAd:"},
                        {"endless-picture", "adViewDidReceiveAd:"},
                        {"endless-answer", "adView:didFailToReceiveAdWithError: code=2 "}};
  constexpr int kBanners = 20;
  for (int i = 0; i < kBanners; ++i) {
    const std::string name = "h" + std::to_string(i);
    expect("banner " + name + " unit " + kinds[i % 4].unit, "ok " + name);
  }
  for (int i = 0; i < kBanners; ++i) expect("load h" + std::to_string(i), "ok loading");
  for (int i = 0; i < kBanners; ++i) {
    const std::string name = "h" + std::to_string(i);
    SCOPED_TRACE(name + " " + kinds[i % 4].unit);
    expect("wait " + name, "ok " + name + " " + kinds[i % 4].ending);
  }
  EXPECT_LE(silent_.openConnections(), 6);
  for (int i = 0; i < kBanners; ++i) expect("remove h" + std::to_string(i), "ok removed h" + std::to_string(i));
  ASSERT_TRUE(silent_.waitFor([](int open, const auto&) { return open == 0; }));
  EXPECT_LE(silent_.paths().size(), 6u * 5);
  expect("requests", "ok requests running=0 waiting=0");
}

}  // namespace
