// The slot's ad view delegate with a slot that records what it is told.
#include "ads/render/banner_ad_view_delegate.h"

#include <gtest/gtest.h>

#include <set>

#include "ads/render/ad_app_qomb_handler.h"
#include "ads/render/app_event_qomb_handler.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/render/swipe_qomb_handler.h"
#include "ads/render/opener_qomb_handler.h"
#include "ads/services/absolute_time.h"
#include "ads/services/test_support.h"

namespace {

struct Slot : QMARenderingSlot {
  std::int64_t currentState = 5;
  std::uint64_t loaded = 0;
  std::shared_ptr<QMAAdType> type = QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner);
  std::shared_ptr<QMAAdView> view;
  std::vector<std::string> calls;
  std::optional<QMARequestError> error;
  std::int64_t state() const override { return currentState; }
  std::uint64_t timeLastLoaded() const override { return loaded; }
  std::shared_ptr<QMAAdType> adType() const override { return type; }
  std::shared_ptr<QMARequest> request() const override { return nullptr; }
  std::shared_ptr<QMAAdView> adView() const override { return view; }
  bool isMRAIDEnabled() const override { return false; }
  void didReceiveValidAd() override { calls.push_back("valid"); }
  void didLoadAdHTMLInWebView() override { calls.push_back("loaded"); }
  void didMakeAdImpression() override { calls.push_back("impression"); }
  void adFinishedLoadingContent() override { calls.push_back("finished"); }
  void didFailToReceiveAdWithErrorShouldCancelPendingActions(const std::optional<QMARequestError>& e, bool) override {
    calls.push_back("failed");
    error = e;
  }
  void adWasClicked() override { calls.push_back("clicked"); }
  net::URL gestureClickURLWithURL(const net::URL& url) override { return url; }
  void pingClickURLs() override {}
  void adWillLeaveApplication() override {}
  void willLeaveAppDueToClick() override {}
  void adWebContentDidEnd() override { calls.push_back("ended"); }
};

// The opener a delegate owns, recording what it is asked to open.
struct RecordingOpener : QMAAdViewOpener {
  std::vector<std::string> opened;
  std::weak_ptr<QMARenderingSlot> slot_;
  void setViewController(std::weak_ptr<uikit::ViewController>) override {}
  void setAdView(std::weak_ptr<QMAAdView>) override {}
  void setSlot(std::weak_ptr<QMARenderingSlot> s) override { slot_ = std::move(s); }
  std::shared_ptr<QMARenderingSlot> slot() const override { return slot_.lock(); }
  std::shared_ptr<uikit::ViewController> viewController() const override { return nullptr; }
  void setDelegate(std::nullptr_t) override {}
  void setNavigationURL(std::optional<std::string>) override {}
  void setReferringURL(std::optional<net::URL>) override {}
  bool isAutoClickProtected() const override { return false; }
  void setAutoClickProtected(bool) override {}
  bool didOpenAnotherApplication() const override { return false; }
  void setDidOpenAnotherApplication(bool) override {}
  void openApp(const std::optional<net::URL>& url) override { opened.push_back(url ? url->absoluteString() : "nil"); }
  void openBrowserToURLSupportedOrientations(const std::optional<net::URL>& url, std::uint64_t) override {
    opened.push_back("browser " + (url ? url->absoluteString() : "nil"));
  }
};

struct BannerDelegate : qma_test::DeviceRootTest {
  std::shared_ptr<Slot> slot = std::make_shared<Slot>();
  std::shared_ptr<QMABannerAdViewDelegate> delegate;
  std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
  void TearDown() override {
    QMAAdViewDelegate::setOpenerFactory(nullptr);
    DeviceRootTest::TearDown();
  }
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    QMAAdViewDelegate::setOpenerFactory([this]() -> std::shared_ptr<QMAAdViewOpener> { return opener; });
    slot->view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    slot->view->setHidden(true);
    delegate = QMABannerAdViewDelegate::initWithSlot(slot);
  }
};

TEST_F(BannerDelegate, AClickNeedsAShowingSlotATouchAndAMomentSinceTheLoad) {
  QMACurrentAbsoluteTimeInMilliseconds();  // the clock's first reading is 1: move well past it
  foundation::Clock::advance(5);
  const std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  struct Case {
    const char* name;
    std::int64_t state;
    std::uint64_t loadedAgo;  // milliseconds
    webkit::NavigationType type;
    bool touched;
    bool click;
  };
  const Case cases[] = {
      {"shown, touched, later", 6, 200, webkit::NavigationType::LinkClicked, true, true},
      {"untouched", 6, 200, webkit::NavigationType::LinkClicked, false, false},
      {"too soon", 6, 100, webkit::NavigationType::LinkClicked, true, false},
      {"rendering", 5, 200, webkit::NavigationType::LinkClicked, true, false},
      {"page failed", 1, 200, webkit::NavigationType::LinkClicked, true, false},
      {"invalidated", 8, 200, webkit::NavigationType::LinkClicked, true, false},
      {"back", 6, 200, webkit::NavigationType::BackForward, true, false},
      {"reload", 6, 200, webkit::NavigationType::Reload, true, false},
      {"a script's navigation", 7, 200, webkit::NavigationType::Other, true, true},
  };
  for (const auto& c : cases) {
    slot->currentState = c.state;
    slot->loaded = now - c.loadedAgo;
    slot->view->setTouched(c.touched);
    EXPECT_EQ(delegate->isClick(c.type), c.click) << c.name;
  }
}

TEST_F(BannerDelegate, AFinishedLoadMakesTheRenderingSlotsAdReadyAndShowsIt) {
  delegate->adViewDidFinishLoad(*slot->view);
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"valid", "loaded", "impression", "finished"}));
  EXPECT_FALSE(slot->view->isHidden());
  // An interstitial's impression is its presentation's; other states finish nothing.
  slot->calls.clear();
  slot->type = QMAAdType::interstitialAdType();
  delegate->adViewDidFinishLoad(*slot->view);
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"valid", "loaded", "finished"}));
  slot->calls.clear();
  slot->currentState = 6;
  delegate->adViewDidFinishLoad(*slot->view);
  EXPECT_TRUE(slot->calls.empty());
}

TEST_F(BannerDelegate, AFailedLoadIsANetworkErrorUnlessTheAdIsReady) {
  delegate->adViewDidFailLoadWithError(*slot->view, net::makeLoadError(net::kErrorTimedOut, "late"));
  ASSERT_EQ(slot->calls, std::vector<std::string>{"failed"});
  EXPECT_EQ(slot->error->code, QMARequestErrorCodeNetworkError);
  slot->calls.clear();
  slot->currentState = 6;
  delegate->adViewDidFailLoadWithError(*slot->view, net::makeLoadError(net::kErrorTimedOut, "late"));
  EXPECT_TRUE(slot->calls.empty());
}

TEST_F(BannerDelegate, ADelayHoldsTheFinishUntilItsLastStopAndACancelFails) {
  std::shared_ptr<QMADelayPageLoadQOMBHandler> delay;
  for (const auto& h : delegate->qombHandlers())
    if (auto d = std::dynamic_pointer_cast<QMADelayPageLoadQOMBHandler>(h)) delay = d;
  ASSERT_TRUE(delay);
  const foundation::Dictionary start{{"start", ""}}, stop{{"stop", "1"}}, both{{"start", ""}, {"stop", ""}};
  delay->handleDelayLoadWithParameters(start);
  delay->handleDelayLoadWithParameters(both);  // counts as a start
  EXPECT_EQ(delay->delayCount(), 2);
  EXPECT_TRUE(delegate->isLoadDelayed());
  delegate->adViewDidFinishLoad(*slot->view);
  EXPECT_TRUE(delegate->isLoadFinished());
  EXPECT_TRUE(slot->calls.empty());
  delay->handleDelayLoadWithParameters(stop);
  EXPECT_TRUE(slot->calls.empty());
  delay->handleDelayLoadWithParameters(stop);
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"valid", "loaded", "impression", "finished"}));
  delay->handleDelayLoadWithParameters(stop);  // below 1: nothing
  EXPECT_EQ(delay->delayCount(), 0);
  slot->calls.clear();
  slot->currentState = 5;
  delay->handleDelayLoadWithParameters({{"cancel", ""}});
  EXPECT_EQ(slot->calls, std::vector<std::string>{"failed"});
  // The page's later starts reach nobody.
  delay->handleDelayLoadWithParameters(start);
  EXPECT_FALSE(delegate->isLoadDelayed());
  EXPECT_FALSE(delay->delegate());
}

TEST_F(BannerDelegate, AClickOpensTheClickURLOutsideAndLeavesTheRecordedPageAsItWas) {
  QMACurrentAbsoluteTimeInMilliseconds();
  foundation::Clock::advance(5);
  const auto creative = *net::URL::fromString("https://ads.example/creative");
  slot->view->setURLForView(creative, slot->view);
  slot->currentState = 6;
  slot->loaded = QMACurrentAbsoluteTimeInMilliseconds() - 1000;
  slot->view->setTouched(true);
  const net::URLRequest tap(*net::URL::fromString("https://landing.example/x"));
  EXPECT_EQ(delegate->adViewShouldStartLoadWithRequestNavigationType(*slot->view, tap, webkit::NavigationType::LinkClicked),
            false);
  EXPECT_EQ(slot->calls, std::vector<std::string>{"clicked"});
  ASSERT_TRUE(slot->view->URL());
  EXPECT_EQ(slot->view->URL()->absoluteString(), creative.absoluteString());
  EXPECT_EQ(opener->opened, std::vector<std::string>{"https://landing.example/x"});

  // Not a click (no touch): the page loads in the ad view, and its URL is recorded.
  slot->calls.clear();
  slot->view->setTouched(false);
  EXPECT_EQ(delegate->adViewShouldStartLoadWithRequestNavigationType(*slot->view, tap, webkit::NavigationType::LinkClicked),
            true);
  EXPECT_TRUE(slot->calls.empty());
  EXPECT_EQ(slot->view->URL()->absoluteString(), "https://landing.example/x");
}

TEST_F(BannerDelegate, TheHandlerListStartsWithTheOpenersHandlerAndEndsWithTheBannersOwn) {
  const auto& handlers = delegate->qombHandlers();
  ASSERT_GE(handlers.size(), 6u);
  EXPECT_TRUE(std::dynamic_pointer_cast<QMAOpenerQOMBHandler>(handlers.front()));
  EXPECT_TRUE(std::dynamic_pointer_cast<QMADefaultQOMBHandler>(handlers[1]));
  EXPECT_TRUE(std::dynamic_pointer_cast<QMAAppEventQOMBHandler>(handlers[handlers.size() - 4]));
  EXPECT_TRUE(std::dynamic_pointer_cast<QMAAdAppQOMBHandler>(handlers[handlers.size() - 3]));
  EXPECT_TRUE(std::dynamic_pointer_cast<QMADelayPageLoadQOMBHandler>(handlers[handlers.size() - 2]));
  EXPECT_TRUE(std::dynamic_pointer_cast<QMASwipeToViewControllerQOMBHandler>(handlers.back()));
  // No two handlers claim one name.
  std::set<std::string> names;
  for (const auto& h : handlers) {
    const auto* table = h->actionBlockDictionary();
    if (!table) continue;
    for (const auto& entry : *table) {
      EXPECT_TRUE(names.insert(entry.first).second) << entry.first;
    }
  }
}

}  // namespace

namespace {

// A shown ad whose web process ends, with a real page in the ad view.
struct EndedProcess : BannerDelegate {
  void SetUp() override {
    BannerDelegate::SetUp();
    slot->view->setDelegate(std::static_pointer_cast<QMAAdViewDelegateProtocol>(delegate));
  }
  bool pump(const std::function<bool()>& done) { return qma_test::pumpMainLoop(done); }
  // Shows the ad as the slot renders one, then holds it as shown (state 6).
  void show() {
    slot->view->loadHTMLStringBaseURL("<body style='margin:0;background:#2050e0'>Shown ad</body>",
                                      net::URL::fromString("https://ads.example/ad"));
    ASSERT_TRUE(pump([&] { return slot->calls.size() == 4; }));
    ASSERT_EQ(slot->calls, (std::vector<std::string>{"valid", "loaded", "impression", "finished"}));
    slot->currentState = 6;
    slot->calls.clear();
  }
  // Ends the page's process and waits until the ad view has heard of it (a reload starts,
  // or the slot is told).
  void endProcess() {
    const int reloads = delegate->reloadsAfterProcessEnd();
    const std::size_t told = slot->calls.size();
    slot->view->webView()->terminateWebProcess();
    ASSERT_TRUE(pump([&] { return delegate->reloadsAfterProcessEnd() != reloads || slot->calls.size() != told; }));
  }
  bool showsTheAd() { return slot->view->stringByEvaluatingJavaScriptFromString("document.body.textContent") == "Shown ad"; }
};

TEST_F(EndedProcess, TheShownAdIsLoadedAgainInPlaceWithoutASecondImpression) {
  show();
  endProcess();
  EXPECT_EQ(delegate->reloadsAfterProcessEnd(), 1);
  ASSERT_TRUE(pump([&] { return !slot->view->isLoading() && delegate->isLoadFinished(); }));
  EXPECT_TRUE(showsTheAd());
  EXPECT_TRUE(slot->view->webView()->hasDrawnContent());
  // The same ad again: the slot hears nothing, so no impression, ping or new request.
  EXPECT_TRUE(slot->calls.empty());
}

TEST_F(EndedProcess, APageWhoseProcessKeepsEndingIsOverAfterItsReloads) {
  show();
  for (int reload = 1; reload <= QMABannerAdViewDelegate::kMaximumReloadsAfterProcessEnd; ++reload) {
    endProcess();
    ASSERT_EQ(delegate->reloadsAfterProcessEnd(), reload);
    ASSERT_TRUE(pump([&] { return !slot->view->isLoading() && delegate->isLoadFinished(); }));
    ASSERT_TRUE(showsTheAd());
  }
  endProcess();
  EXPECT_EQ(slot->calls, std::vector<std::string>{"ended"});
  EXPECT_EQ(delegate->reloadsAfterProcessEnd(), QMABannerAdViewDelegate::kMaximumReloadsAfterProcessEnd);

  // The next ad starts with its own allowance.
  slot->currentState = 5;
  slot->calls.clear();
  show();
  EXPECT_EQ(delegate->reloadsAfterProcessEnd(), 0);
}

TEST_F(EndedProcess, AReloadThatFailsEndsTheAdAndAnAdStillRenderingFailsItsLoad) {
  show();
  endProcess();
  // The reload's own process ends before it finishes: the ad cannot be brought back.
  delegate->adViewDidFailLoadWithError(*slot->view, net::makeLoadError(net::kErrorTimedOut, "lost again"));
  EXPECT_EQ(slot->calls, std::vector<std::string>{"ended"});
  ASSERT_TRUE(pump([&] { return !slot->view->isLoading(); }));

  // While the slot still renders the ad (a held finish), the process's end fails the load.
  slot->currentState = 5;
  slot->calls.clear();
  delegate->adViewWebContentProcessDidTerminate(*slot->view);
  ASSERT_EQ(slot->calls, std::vector<std::string>{"failed"});
  EXPECT_EQ(slot->error->code, QMARequestErrorCodeNetworkError);
}

}  // namespace

namespace {

// The page's process ends while the slot's request for its next ad is in flight: the page
// waits for that ad rather than load again across it.
TEST_F(EndedProcess, APageWhoseProcessEndsDuringARequestWaitsForTheNextAd) {
  struct Case {
    std::int64_t state;
    bool adArrives;
  };
  for (const Case& c : {Case{2, true}, Case{3, false}, Case{4, true}, Case{4, false}}) {
    SCOPED_TRACE(testing::Message() << "state " << c.state << (c.adArrives ? ", the ad arrives" : ", no ad comes"));
    slot->currentState = 5;
    show();
    slot->currentState = c.state;
    slot->view->webView()->terminateWebProcess();
    ASSERT_TRUE(pump([&] { return delegate->awaitsNextAdAfterProcessEnd(); }));
    EXPECT_EQ(delegate->reloadsAfterProcessEnd(), 0);
    EXPECT_FALSE(delegate->isReloadingAfterProcessEnd());
    EXPECT_FALSE(slot->view->isLoading());
    EXPECT_TRUE(slot->calls.empty());
    if (c.adArrives) {
      // The next ad's page is a new ad, with its impression.
      slot->currentState = 5;
      show();
      EXPECT_FALSE(delegate->awaitsNextAdAfterProcessEnd());
      delegate->slotRequestDidEndWithoutAd();
      EXPECT_TRUE(slot->calls.empty());
    } else {
      // Nothing comes: the old ad is over, once.
      slot->currentState = 7;
      delegate->slotRequestDidEndWithoutAd();
      delegate->slotRequestDidEndWithoutAd();
      EXPECT_EQ(slot->calls, std::vector<std::string>{"ended"});
      EXPECT_FALSE(delegate->awaitsNextAdAfterProcessEnd());
      slot->calls.clear();
    }
  }
}

// The reload takes its own share of the MRAID interceptor's counter, as the page's first
// load had the slot's, whatever the slot's current ad says (this slot's says no MRAID).
TEST_F(EndedProcess, AReloadHoldsAnInterceptorShareUntilItEnds) {
  show();
  const long before = QMAMRAIDInterceptor::canInitWithRequestCounter();
  endProcess();
  EXPECT_TRUE(delegate->isReloadingAfterProcessEnd());
  EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), before + 1);
  ASSERT_TRUE(pump([&] { return !slot->view->isLoading() && delegate->isLoadFinished(); }));
  EXPECT_FALSE(delegate->isReloadingAfterProcessEnd());
  EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), before);
}

// The next ad's page starts while the old page's reload is still under way: the reload is
// stopped and dropped (its share given back), a late step of it is refused, and the page
// that finishes is the new ad.
TEST_F(EndedProcess, TheNextAdsPageSupersedesAReloadUnderWay) {
  show();
  const long before = QMAMRAIDInterceptor::canInitWithRequestCounter();
  endProcess();
  ASSERT_TRUE(delegate->isReloadingAfterProcessEnd());
  slot->currentState = 5;
  const auto next = net::URL::fromString("https://ads.example/next-ad");
  slot->view->loadHTMLStringBaseURL("<body style='margin:0'>Next ad</body>", next);
  EXPECT_FALSE(delegate->isReloadingAfterProcessEnd());
  EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), before);
  EXPECT_EQ(delegate->adViewShouldStartLoadWithRequestNavigationType(
                *slot->view, net::URLRequest(*net::URL::fromString("https://ads.example/ad")), webkit::NavigationType::Other),
            std::optional<bool>(false));
  EXPECT_TRUE(slot->view->URL() && *slot->view->URL() == *next);
  ASSERT_TRUE(pump([&] { return slot->calls.size() == 4; }));
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"valid", "loaded", "impression", "finished"}));
  EXPECT_EQ(slot->view->stringByEvaluatingJavaScriptFromString("document.body.textContent"), "Next ad");
}

}  // namespace
