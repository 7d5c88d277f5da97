#pragma once
// The public formats' tests: the slot tests' ad server and hand clock, a shown window with a
// root view controller for the ads to live in and present from, and a host delegate that
// records every message it hears, in order, and implements only what the test says.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/services/geometry.h"
#include "ads/slots/banner_view.h"
#include "ads/slots/interstitial.h"
#include "ads/slots/kvr_banner_view.h"
#include "ads/slots/kvr_interstitial.h"
#include "ads/slots/reward_based_video_ad.h"
#include "ads/slots/slot_test_support.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace formats_test {

// Records "selector" or "selector detail" for every message; implements every message
// unless `implemented` names the ones it does.
struct Host : QMABannerViewDelegate,
              QMAInterstitialDelegate,
              QMAInterstitialAdClickDelegate,
              QMAAppEventDelegate,
              QMAAdSizeDelegate,
              KVRCustomRenderedBannerViewDelegate,
              KVRCustomRenderedInterstitialDelegate,
              QMARewardBasedVideoAdDelegate {
  std::vector<std::string> heard;
  std::optional<std::set<std::string>> implemented;
  std::shared_ptr<KVRCustomRenderedAd> customAd;

  bool respondsToSelector(std::string_view selector) const override {
    return !implemented || implemented->count(std::string(selector));
  }
  int count(const std::string& what) const {
    int n = 0;
    for (const auto& h : heard)
      if (h == what || h.rfind(what + " ", 0) == 0) ++n;
    return n;
  }
  static std::string code(const foundation::Error& e) { return std::to_string(e.code); }

  void adViewDidReceiveAd(QMABannerView&) override { heard.push_back(kAdViewDidReceiveAd); }
  void adViewDidFailToReceiveAdWithError(QMABannerView&, const QMARequestError& e) override {
    heard.push_back(std::string(kAdViewDidFailToReceiveAdWithError) + " " + code(e));
    errors.push_back(e);
  }
  void adViewWillPresentScreen(QMABannerView&) override { heard.push_back(kAdViewWillPresentScreen); }
  void adViewWillDismissScreen(QMABannerView&) override { heard.push_back(kAdViewWillDismissScreen); }
  void adViewDidDismissScreen(QMABannerView&) override { heard.push_back(kAdViewDidDismissScreen); }
  void adViewWillLeaveApplication(QMABannerView&) override { heard.push_back(kAdViewWillLeaveApplication); }

  void interstitialDidReceiveAd(QMAInterstitial&) override { heard.push_back(kInterstitialDidReceiveAd); }
  void interstitialDidFailToReceiveAdWithError(QMAInterstitial&, const QMARequestError& e) override {
    heard.push_back(std::string(kInterstitialDidFailToReceiveAdWithError) + " " + code(e));
    errors.push_back(e);
  }
  void interstitialWillPresentScreen(QMAInterstitial&) override { heard.push_back(kInterstitialWillPresentScreen); }
  void interstitialWillDismissScreen(QMAInterstitial&) override { heard.push_back(kInterstitialWillDismissScreen); }
  void interstitialDidDismissScreen(QMAInterstitial&) override { heard.push_back(kInterstitialDidDismissScreen); }
  void interstitialWillLeaveApplication(QMAInterstitial&) override { heard.push_back(kInterstitialWillLeaveApplication); }
  void interstitialDidReceiveAdClick(QMAInterstitial&) override { heard.push_back(kInterstitialDidReceiveAdClick); }

  void adViewDidReceiveAppEventWithInfo(KVRBannerView&, const std::string& name,
                                        const std::optional<std::string>& info) override {
    heard.push_back(std::string(kAdViewDidReceiveAppEventWithInfo) + " " + name + " " + info.value_or("(none)"));
  }
  void interstitialDidReceiveAppEventWithInfo(KVRInterstitial&, const std::string& name,
                                              const std::optional<std::string>& info) override {
    heard.push_back(std::string(kInterstitialDidReceiveAppEventWithInfo) + " " + name + " " + info.value_or("(none)"));
  }
  void adViewWillChangeAdSizeTo(KVRBannerView&, QMAAdSize size) override {
    heard.push_back("adView:willChangeAdSizeTo: " + NSStringFromQMAAdSize(size));
  }
  void bannerViewDidReceiveCustomRenderedAd(KVRBannerView&, const std::shared_ptr<KVRCustomRenderedAd>& ad) override {
    heard.push_back(kBannerViewDidReceiveCustomRenderedAd);
    customAd = ad;
  }
  void interstitialDidReceiveCustomRenderedAd(KVRInterstitial&, const std::shared_ptr<KVRCustomRenderedAd>& ad) override {
    heard.push_back(kInterstitialDidReceiveCustomRenderedAd);
    customAd = ad;
  }

  void rewardBasedVideoAdDidRewardUserWithReward(QMARewardBasedVideoAd&, const std::shared_ptr<QMAAdReward>& r) override {
    heard.push_back(std::string(kDidRewardUserWithReward) + " " +
                    (r ? r->type() + " " + r->amount().stringValue() : std::string("(none)")));
  }
  void rewardBasedVideoAdDidReceiveAd(QMARewardBasedVideoAd&) override { heard.push_back(kDidReceiveAd); }
  void rewardBasedVideoAdDidOpen(QMARewardBasedVideoAd&) override { heard.push_back(kDidOpen); }
  void rewardBasedVideoAdDidStartPlaying(QMARewardBasedVideoAd&) override { heard.push_back(kDidStartPlaying); }
  void rewardBasedVideoAdDidClose(QMARewardBasedVideoAd&) override { heard.push_back(kDidClose); }
  void rewardBasedVideoAdWillLeaveApplication(QMARewardBasedVideoAd&) override { heard.push_back(kWillLeaveApplication); }
  void rewardBasedVideoAdDidFailToLoadwithError(QMARewardBasedVideoAd&, const foundation::Error& e) override {
    heard.push_back(std::string(kDidFailToLoadwithError) + " " + code(e));
    plainErrors.push_back(e);
  }

  std::vector<QMARequestError> errors;
  std::vector<foundation::Error> plainErrors;
};

struct FormatFixture : slots_test::SlotFixture {
  std::shared_ptr<uikit::Window> window;
  std::shared_ptr<uikit::ViewController> root;
  std::shared_ptr<Host> host = std::make_shared<Host>();
  system_facts::ScreenFacts savedScreen;

  void SetUp() override {
    SlotFixture::SetUp();
    savedScreen = system_facts::screen();
    window = std::make_shared<uikit::Window>(uikit::Screen::mainScreen().bounds());
    root = std::make_shared<uikit::ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    if (root && root->presentedViewController()) root->dismissViewControllerAnimated(false, nullptr);
    window->setHidden(true);
    window.reset();
    root.reset();
    drainMain();
    system_facts::setScreen(savedScreen);
    SlotFixture::TearDown();
  }

  // A banner of the size in the root view, with the host as delegate and a root view
  // controller, its ad unit the ad server's default.
  template <class T = QMABannerView>
  std::shared_ptr<T> placedBanner(QMAAdSize size = kQMAAdSizeBanner) {
    auto banner = T::initWithAdSize(size);
    banner->setDelegate(host);
    banner->setRootViewController(root);
    banner->setAdUnitID("unit-1");
    root->view()->addSubview(banner);
    return banner;
  }
  bool pumpUntilHeard(const std::string& what, int times = 1) {
    return pump([&] { return host->count(what) >= times; });
  }
  bool pumpUntilHeardCount(std::size_t n) {
    return pump([&] { return host->heard.size() >= n; });
  }
};

// A scenario serving this HTML as every ad.
inline nlohmann::json htmlScenario(const std::string& body, nlohmann::json headers = nlohmann::json::object()) {
  return {{"ads", {{"ad", {{"body", body}, {"headers", std::move(headers)}}}}}, {"default_ad", "ad"}};
}

}  // namespace formats_test
