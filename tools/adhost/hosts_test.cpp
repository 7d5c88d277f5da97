// What a host sees of the ad component when the platform refuses what it asks: an
// interstitial presented while the host already shows a full-screen controller is refused,
// told to the host as error 11, and never counted as seen.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"

namespace {

using nlohmann::json;

// Interstitials by unit, each with an impression tracker of its own.
json refusalScenario() {
  json ads = json::object(), rules = json::array();
  for (const char* unit : {"seen-a", "seen-b", "seen-c"}) {
    ads[unit] = {{"body", std::string("<body>Full screen ") + unit + "</body>"},
                 {"headers", {{"X-Qvra-Tracking-Urls", std::string("{base}/ping/") + unit}}}};
    rules.push_back({{"when", {{"slotname", unit}}}, {"ad", unit}});
  }
  return {{"ads", ads}, {"ad_rules", rules}, {"default_ad", "seen-a"}};
}

class RefusedHost : public adhost_test::HostedAdsTest {
 protected:
  json scenario() const override { return adserver::AdServer::parseScenario(refusalScenario().dump()); }
  // The requests of the path once at least `atLeast` came (pings go out in the background;
  // at most 30 s of real time, no clock moved).
  std::size_t hits(const std::string& path, std::size_t atLeast = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && server_->requestsForPath(path).size() < atLeast)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server_->requestsForPath(path).size();
  }
  void loadInterstitial(const std::string& name, const std::string& unit) {
    expect("interstitial " + name + " unit " + unit, "ok " + name);
    expect("load " + name, "ok loading " + name);
    expect("wait " + name, "ok " + name + " interstitialDidReceiveAd:");
  }
};

TEST_F(RefusedHost, AnInterstitialThePlatformRefusesIsToldAsElevenAndNeverCountedAsSeen) {
  loadInterstitial("a", "seen-a");
  loadInterstitial("b", "seen-b");
  expect("present a", "ok a full screen: QMAInterstitialViewController");
  expect("wait a", "ok a interstitialWillPresentScreen:");
  EXPECT_EQ(hits("/ping/seen-a"), 1u) << "a shown ad is seen";

  // The host shows a already: b cannot come now.
  expect("present b", "error: b was refused: QMAInterstitialViewController is presented already");
  expect("wait b", "ok b interstitial:didFailToReceiveAdWithError: code=11");

  expect("close", "ok closed QMAInterstitialViewController");
  expect("wait a", "ok a interstitialWillDismissScreen:");
  expect("wait a", "ok a interstitialDidDismissScreen:");
  // A third one, shown: its impression went out after b's would have.
  loadInterstitial("c", "seen-c");
  expect("present c", "ok c full screen: QMAInterstitialViewController");
  EXPECT_EQ(hits("/ping/seen-c"), 1u);
  EXPECT_EQ(server_->requestsForPath("/ping/seen-b").size(), 0u) << "b was never on screen";
  EXPECT_EQ(send("events b"), "ok events b interstitialDidReceiveAd: | b interstitial:didFailToReceiveAdWithError: code=11 "
                              "Presenting the interstitial threw exception: the platform refused to present "
                              "QMAInterstitialViewController from AdHostRootViewController with trace: ()");
  expect("close", "ok closed QMAInterstitialViewController");
}

}  // namespace
