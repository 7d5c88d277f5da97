// The publisher-edition banner and interstitial against the ad server: custom rendering
// taken and refused, pre-emption by correlator, accepted sizes with the size notice, app
// events from the creative and manual impressions.
#include <gtest/gtest.h>

#include "ads/model/kvr_request.h"
#include "ads/slots/format_test_support.h"
#include "ads/slots/kvr_banner_view.h"
#include "ads/slots/kvr_interstitial.h"

namespace {

using formats_test::FormatFixture;
using formats_test::htmlScenario;
using nlohmann::json;

constexpr const char* kBannerFailed = QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError;

json customRenderingScenario() {
  return {{"ads",
           {{"custom", {{"response_type", "custom_rendering"},
                        {"body", "<body>Draw me</body>"},
                        {"headers", {{"X-Qvra-Click-Tracking-Urls", "{base}/ping/click"},
                                     {"X-Qvra-Tracking-Urls", "{base}/ping/impression"}}}}},
            {"html", {{"body", "<body>Plain</body>"}}}}},
          {"ad_rules", {{{"when", {{"slotname", "html"}}}, {"ad", "html"}}}},
          {"default_ad", "custom"}};
}

using PublisherFormats = FormatFixture;

TEST_F(PublisherFormats, ARefusedCustomRenderingFailsWithTwelveAtTheHostAndTheBannerLoadsAgain) {
  useScenario(customRenderingScenario());
  struct Row {
    const char* what;
    bool delegateSet;
    bool implements;
    const char* delegateText;
  };
  for (const Row& row : {Row{"no delegate", false, false, "Delegate: (null)"},
                         Row{"a delegate that does not implement it", true, false, "Delegate: <KVRCustomRenderedBannerViewDelegate: 0x"}}) {
    SCOPED_TRACE(row.what);
    host = std::make_shared<formats_test::Host>();
    if (!row.implements)
      host->implemented = std::set<std::string>{QMABannerViewDelegate::kAdViewDidReceiveAd, kBannerFailed};
    auto banner = placedBanner<KVRBannerView>();
    if (row.delegateSet) banner->setCustomRenderedBannerViewDelegate(host);
    banner->loadRequest(KVRRequest::request());
    ASSERT_TRUE(pumpUntilHeard(kBannerFailed));
    EXPECT_EQ(host->heard, std::vector<std::string>{"adView:didFailToReceiveAdWithError: 12"});
    const std::string text = host->errors.back().localizedDescription();
    EXPECT_EQ(text.rfind("Ignoring delegate callback. Delegate does not conform to KVRCustomRenderedBannerViewDelegate.\n"
                         "Banner view: <KVRBannerView: 0x",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find(row.delegateText), std::string::npos) << text;
    EXPECT_EQ(banner->slot()->state(), QMASlotStateFailed);  // not left fetching
    banner->setAdUnitID("html");
    banner->loadRequest(KVRRequest::request());
    ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
    banner->removeFromSuperview();
  }
}

TEST_F(PublisherFormats, ACustomRenderedAdIsTheHostsToDrawAndReportsReadinessImpressionAndClicks) {
  useScenario(customRenderingScenario());
  auto banner = placedBanner<KVRBannerView>();
  banner->setCustomRenderedBannerViewDelegate(host);
  banner->loadRequest(KVRRequest::request());
  ASSERT_TRUE(pumpUntilHeard(KVRCustomRenderedBannerViewDelegate::kBannerViewDidReceiveCustomRenderedAd));
  ASSERT_TRUE(host->customAd);
  EXPECT_EQ(host->customAd->adHTML(), std::optional<std::string>("<body>Draw me</body>"));
  ASSERT_TRUE(host->customAd->adBaseURL());
  EXPECT_EQ(host->customAd->adBaseURL()->absoluteString(), server->baseURL() + "/");  // the root of the ad's site
  EXPECT_EQ(banner->slot()->state(), QMASlotStateRendering);
  EXPECT_FALSE(banner->slot()->reloadable());

  host->customAd->finishedRenderingAdView(nullptr);  // the view itself is not needed
  EXPECT_EQ(banner->slot()->state(), QMASlotStateAdReady);
  host->customAd->recordImpression();
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/ping/impression").empty(); }));
  host->customAd->recordClick();
  host->customAd->recordClick();
  ASSERT_TRUE(pump([&] { return server->requestsForPath("/ping/click").size() == 2; }));
}

TEST_F(PublisherFormats, ACustomRenderingInterstitialIsPresentedByTheHostNotByItself) {
  useScenario(customRenderingScenario());
  for (const bool withDelegate : {true, false}) {
    SCOPED_TRACE(withDelegate);
    host = std::make_shared<formats_test::Host>();
    auto interstitial = KVRInterstitial::initWithAdUnitID("unit-k");
    interstitial->setDelegate(host);
    if (withDelegate) interstitial->setCustomRenderedInterstitialDelegate(host);
    interstitial->loadRequest(KVRRequest::request());
    if (withDelegate) {
      ASSERT_TRUE(pumpUntilHeard(KVRCustomRenderedInterstitialDelegate::kInterstitialDidReceiveCustomRenderedAd));
      host->customAd->finishedRenderingAdView(nullptr);
      EXPECT_TRUE(interstitial->isReady());
    } else {
      ASSERT_TRUE(pumpUntilHeard(QMAInterstitialDelegate::kInterstitialDidFailToReceiveAdWithError));
      EXPECT_NE(host->errors.back().localizedDescription().find(
                    "Delegate does not conform to KVRCustomRenderedInterstitialDelegate.\nInterstitial: <KVRInterstitial: 0x"),
                std::string::npos);
    }
    EXPECT_TRUE(interstitial->isCustomAdRenderingEnabled());
    interstitial->presentFromRootViewController(root);
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_FALSE(interstitial->hasBeenUsed());
  }
  EXPECT_EQ(loggedCount("Error: Custom ad rendering is enabled. Please present interstitial view from rootViewController manually."), 2);
}

TEST_F(PublisherFormats, ARequestInFlightIsPreemptedOnlyAfterTheHostStartsANewPageView) {
  useScenario({{"answers", {{{"answer", "silence"}}}}});  // requests stay in flight
  auto banner = placedBanner<KVRBannerView>();
  EXPECT_EQ(banner->slotShouldPreemptInProgressRequest(*banner->slot()), false);  // no request yet: no correlation
  auto requestWith = [](const char* round) {
    auto r = KVRRequest::request();
    r->addAdditionalParametersFromDictionary({{"round", round}});
    return r;
  };
  banner->loadRequest(requestWith("1"));
  ASSERT_EQ(banner->slot()->state(), QMASlotStateRequestingAdURL);
  banner->loadRequest(requestWith("2"));
  EXPECT_EQ(banner->slot()->request()->additionalParameters().at("round"), foundation::Value("1"));
  KVRRequest::updateCorrelator();
  banner->loadRequest(requestWith("3"));
  EXPECT_EQ(banner->slot()->request()->additionalParameters().at("round"), foundation::Value("3"));
  EXPECT_EQ(banner->slot()->state(), QMASlotStateRequestingAdURL);
  banner->removeFromSuperview();
}

TEST_F(PublisherFormats, AcceptedSizesAreSentAndAServerChosenOneResizesTheBannerAfterANotice) {
  useScenario(htmlScenario("<body>Big</body>", {{"X-Qvra-Ad-Size", "300x250"}}));
  auto banner = placedBanner<KVRBannerView>();
  banner->setAdSizeDelegate(host);
  KVRBannerView* raw = banner.get();
  const QMAAdSize banner50 = kQMAAdSizeBanner, mrec = kQMAAdSizeMediumRectangle;
  raw->setValidAdSizesWithSizes({&banner50, &mrec, nullptr, &banner50});
  ASSERT_TRUE(raw->validAdSizes());
  ASSERT_EQ(raw->validAdSizes()->size(), 2u);
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAAdSizeFromNSValue((*raw->validAdSizes())[1]), mrec));
  banner->loadRequest(KVRRequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(host->heard.front(), "adView:willChangeAdSizeTo: kQMAAdSizeMediumRectangle");
  EXPECT_TRUE(QMAAdSizeEqualToSize(banner->adSize(), mrec));
  EXPECT_EQ(banner->uikit::View::frame().size, (uikit::Size{300, 250}));
  ASSERT_EQ(adRequests().size(), 1u);  // taken without a reload
  EXPECT_NE(adRequests()[0].query.find("sz=320x50%7C300x250"), std::string::npos) << adRequests()[0].query;

  raw->setValidAdSizesWithSizes({nullptr, &mrec});
  EXPECT_TRUE(raw->validAdSizes()->empty());
}

TEST_F(PublisherFormats, TheCreativesAppEventsReachAnAppEventDelegateThatImplementsThem) {
  useScenario(htmlScenario(
      "<body>Event<script>function send(u){var f=document.createElement('iframe');f.style.display='none';f.src=u;document.documentElement.appendChild(f);}"
      "send('qomb://ad/appEvent?name=coins&info=5'); send('qomb://ad/appEvent?name=bare');"
      "send('qomb://ad/appEvent?info=lost');</script></body>"));
  auto banner = placedBanner<KVRBannerView>();
  banner->setAppEventDelegate(host);
  banner->loadRequest(KVRRequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMAAppEventDelegate::kAdViewDidReceiveAppEventWithInfo, 2));
  drainMain();
  EXPECT_EQ(host->count("adView:didReceiveAppEvent:withInfo: coins 5"), 1);
  EXPECT_EQ(host->count("adView:didReceiveAppEvent:withInfo: bare (none)"), 1);
  EXPECT_EQ(host->count(QMAAppEventDelegate::kAdViewDidReceiveAppEventWithInfo), 2);  // no name, no event

  host->heard.clear();
  host->implemented = std::set<std::string>{QMABannerViewDelegate::kAdViewDidReceiveAd};
  banner->loadRequest(KVRRequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  for (int i = 0; i < 10; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_EQ(host->heard, std::vector<std::string>{"adViewDidReceiveAd:"});
}

TEST_F(PublisherFormats, ManualImpressionsAreAskedForAndPingedOnceWhenTheHostRecordsThem) {
  useScenario(htmlScenario("<body>Ad</body>", {{"X-Qvra-Manual-Tracking-Urls", "{base}/ping/manual"}}));
  auto banner = placedBanner<KVRBannerView>();
  banner->setEnableManualImpressions(true);
  EXPECT_TRUE(banner->enableManualImpressions());
  banner->loadRequest(KVRRequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_NE(adRequests()[0].query.find("d_imp_hdr=1"), std::string::npos);
  EXPECT_TRUE(server->requestsForPath("/ping/manual").empty());
  banner->recordImpression();
  banner->recordImpression();
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/ping/manual").empty(); }));
  for (int i = 0; i < 10; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_EQ(server->requestsForPath("/ping/manual").size(), 1u);
}

}  // namespace
