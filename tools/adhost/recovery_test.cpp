// Web processes that end under the component, end to end in adhost against the ad server:
// the hidden SDK-core page's (the next banner still loads, at once) and a shown banner's
// (its ad comes back in place, or the host is told the ad is over).

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/uikit/image.h"
#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"

namespace {

using nlohmann::json;

// A banner that paints itself one colour and tells the server each time its page loads.
json solidAd(const std::string& name, json headers) {
  return {{"body", "<body style='margin:0;background:#1e90ff'>Solid<script>new Image().src = '{base}/beacon/" + name +
                       "-load?' + Math.random();</script></body>"},
          {"headers", std::move(headers)}};
}

class RecoveryTest : public adhost_test::HostedAdsTest {
 protected:
  json scenario() const override {
    return adserver::AdServer::parseScenario(
        json({{"ads",
               {{"solid", solidAd("solid", {{"X-Qvra-Tracking-Urls", "{base}/ping/solid-impression"}})},
                {"refreshing", solidAd("refreshing", {{"X-Qvra-Refresh-Rate", "30"}})}}},
              {"ad_rules", {{{"when", {{"slotname", "refreshing"}}}, {"ad", "refreshing"}}}},
              {"default_ad", "solid"}})
            .dump());
  }
  // The server's count of requests to `path` once it reached `atLeast` (real I/O, at most
  // 30 s; no clock moved).
  std::size_t hits(const std::string& path, std::size_t atLeast = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && server_->requestsForPath(path).size() < atLeast)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server_->requestsForPath(path).size();
  }
  void showBanner(const std::string& name, const std::string& unit) {
    expect("banner " + name + " unit " + unit, "ok " + name + " QMABannerView");
    expect("load " + name, "ok loading");
    expect("wait " + name + " adViewDidReceiveAd", "ok " + name + " adViewDidReceiveAd:");
  }
  // Whether the banner's snapshot is the ad's colour in its middle, asked until it is (a
  // reloaded page paints a moment after it loads), at most 30 s of real time.
  bool showsTheSolidAd(const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int shot = 0; std::chrono::steady_clock::now() < deadline; ++shot) {
      const auto file = root_ / (name + "-" + std::to_string(shot) + ".png");
      if (send("snapshot " + name + " " + file.string()).rfind("ok snapshot", 0) == 0) {
        std::ifstream in(file, std::ios::binary);
        foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto image = uikit::Image::imageWithData(bytes);
        if (image && image->pixelWidth() > 0) {
          const std::size_t x = image->pixelWidth() * 3 / 4, y = image->pixelHeight() / 2;
          const std::size_t at = (y * image->pixelWidth() + x) * 4;
          const std::array<int, 3> seen{image->rgba()[at], image->rgba()[at + 1], image->rgba()[at + 2]};
          if (std::abs(seen[0] - 0x1e) < 8 && std::abs(seen[1] - 0x90) < 8 && std::abs(seen[2] - 0xff) < 8) return true;
        }
      }
      send("clock advance 0.05");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
};

TEST_F(RecoveryTest, AfterTheSDKCorePagesProcessEndsTheNextBannerLoadsAtOnce) {
  showBanner("b1", "solid");
  expect("crash-sdk-core", "ok crashed the SDK-core page");
  EXPECT_NE(askUntil("log", "SDK-core page's web process ended").find("SDK-core page's web process ended"),
            std::string::npos);
  // The next load reloads the page and is served: no 60 s wait for an answer that could
  // never come (the hand clock barely moves here).
  expect("load b1", "ok loading");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  EXPECT_EQ(hits(adserver::AdServer::kPagePath, 2), 2u);
  EXPECT_EQ(hits(adserver::AdServer::kAdPath, 2), 2u);
  EXPECT_TRUE(showsTheSolidAd("b1"));
}

TEST_F(RecoveryTest, AShownBannerWhoseProcessEndsShowsItsAdAgainWithoutASecondImpression) {
  showBanner("b1", "solid");
  ASSERT_EQ(hits("/beacon/solid-load"), 1u);
  ASSERT_EQ(hits("/ping/solid-impression"), 1u);
  ASSERT_TRUE(showsTheSolidAd("b1"));

  expect("crash b1", "ok crashed b1");
  EXPECT_EQ(hits("/beacon/solid-load", 2), 2u);
  EXPECT_TRUE(showsTheSolidAd("b1"));
  // The same ad, not a new one: no request, no impression, nothing for the host to hear.
  EXPECT_EQ(server_->requestsForPath("/ping/solid-impression").size(), 1u);
  EXPECT_EQ(server_->requestsForPath(adserver::AdServer::kAdPath).size(), 1u);
  expect("events b1", "ok events b1 adViewDidReceiveAd:");
  EXPECT_EQ(send("events b1").find("didFail"), std::string::npos);
}

TEST_F(RecoveryTest, ABannerWhoseProcessKeepsEndingIsOverTheHostIsToldAndItRefreshes) {
  showBanner("r", "refreshing");
  // Ended again whenever its page is back, until the host hears that the ad is over: three
  // ends at most (the first and one after each of its two reloads; an end while a reload
  // is still loading fails that reload, which is over sooner).
  int crashes = 0;
  std::size_t loads = 1;
  auto told = [&] { return send("events r").find("adView:didFailToReceiveAdWithError: code=11") != std::string::npos; };
  while (!told() && crashes < 5) {
    ASSERT_EQ(hits("/beacon/refreshing-load", loads), loads);
    if (send("crash r").rfind("ok crashed r", 0) != 0) break;
    ++crashes;
    // The reload (a new load of the page) or the word that the ad is over.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && !told() &&
           server_->requestsForPath("/beacon/refreshing-load").size() <= loads)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loads = server_->requestsForPath("/beacon/refreshing-load").size();
  }
  EXPECT_TRUE(told()) << send("events r");
  EXPECT_LE(crashes, 3);
  EXPECT_GE(crashes, 2);
  // A refreshing banner asks for its next ad at once, which the host hears of.
  expect("wait r adViewDidReceiveAd", "ok r adViewDidReceiveAd:");
  EXPECT_EQ(hits(adserver::AdServer::kAdPath, 2), 2u);
  EXPECT_TRUE(showsTheSolidAd("r"));
}

}  // namespace
