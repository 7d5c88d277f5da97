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

namespace {

constexpr int kBurst = 15000;

class HostileRequestsTest : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override {
    const std::string burst = "<body>Burst<script>window.sent = 0;"
                              "for (let i = 0; i < " + std::to_string(kBurst) + "; i++) {"
                              "  fetch('" + silent_.url("/") + "' + i).catch(() => {}); window.sent++; }"
                              "</script></body>";
    return {{"ads", {{"burst", {{"body", burst}}}, {"plain", {{"body", "<body>Plain</body>"}}}}},
            {"ad_rules",
             {{{"when", {{"slotname", "burst"}}}, {"ad", "burst"}},
              {{"when", {{"slotname", "plain"}}}, {"ad", "plain"}}}}};
  }
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

}  // namespace
