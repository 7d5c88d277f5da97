// The slot on its own: its model and teardown, its states and their side effects, the
// share of the MRAID interceptor's counter, the gate, the reload timer on the hand clock,
// the request parameters, and the extras' roads.
#include "ads/slots/slot.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ads/render/mraid_interceptor.h"
#include "ads/services/device.h"
#include "ads/slots/slot_test_support.h"
#include "platform/foundation/user_defaults.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

namespace {

using foundation::Dictionary;
using foundation::Value;
using slots_test::SlotFixture;

struct Slot : SlotFixture {};

TEST_F(Slot, ANewSlotHasItsDefaultsAndItsOwnTimingKeys) {
  auto slot = makeSlot(nullptr, true, {{0, 0}, {300, 250}});
  EXPECT_EQ(slot->state(), QMASlotStateIdle);
  EXPECT_DOUBLE_EQ(slot->reloadInterval(), 60.0);
  EXPECT_FALSE(slot->reloadable());
  ASSERT_TRUE(slot->adType());
  EXPECT_TRUE(slot->adType()->isInterstitial());
  EXPECT_EQ(slot->adResponseDelegate().get(), static_cast<QMASlotAdResponseDelegate*>(slot.get()));
  ASSERT_TRUE(slot->adView());
  EXPECT_EQ(slot->adView()->frame(), (uikit::Rect{{0, 0}, {300, 250}}));
  EXPECT_EQ(slot->adView()->delegate(), slot->adViewDelegate());
  EXPECT_EQ(slot->vistraceMonitoredView(), slot->adView());
  EXPECT_GE(slot->CSIIdentifier(), 0);
  EXPECT_LE(slot->CSIIdentifier(), 0x7fffffff);
  const std::string id = std::to_string(slot->CSIIdentifier());
  EXPECT_EQ(slot->adResponseKey(), "arf_ios" + id);
  EXPECT_EQ(slot->netWorkLatencyKey(), "nwl_ios" + id);
  EXPECT_EQ(slot->adRenderingKey(), "awr_ios" + id);
  EXPECT_EQ(slot->totalTimeKey(), "ttc_ios" + id);
  EXPECT_NE(slot->description().find("ad unit ID:unit-1"), std::string::npos);
  EXPECT_EQ(slot->description().rfind("<QMASlot: 0x", 0), 0u);
  // The first slot of the process has brought the component up.
  EXPECT_TRUE(QMAApplication::earlyActivitiesHaveRun());
  EXPECT_TRUE(QMAMRAIDInterceptor::isAllowed());
}

TEST_F(Slot, AnOwnerThatGoesAwayLeavesNothingOfTheSlotBehind) {
  std::weak_ptr<QMASlot> gone;
  std::weak_ptr<QMAAdView> view;
  const long before = QMAMRAIDInterceptor::canInitWithRequestCounter();
  {
    auto slot = makeSlot();
    slot->setReloadable(true);
    slot->loadRequest(QMARequest::request());
    EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), before + 1);
    gone = slot;
    view = slot->adView();
  }
  // The SDK core holds its requester until the page answers; the answer then reaches
  // nobody, and the slot goes with its share of the counter.
  ASSERT_TRUE(pump([&] { return gone.expired(); }));
  drainMain();
  EXPECT_TRUE(view.expired());
  EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), before);
  EXPECT_TRUE(adRequests().empty());
}

TEST_F(Slot, AnEqualAdTypeChangesNothingAndANewOneReloadsOnlyOnceARequestWasMade) {
  auto slot = makeSlot();
  slot->setAdTypeAndReloadRequest(QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner), true);
  EXPECT_TRUE(owner->events.empty());
  EXPECT_EQ(slot->state(), QMASlotStateIdle);
  slot->setAdTypeAndReloadRequest(QMAAdType::bannerAdTypeForSize(kQMAAdSizeMediumRectangle), true);
  EXPECT_EQ(slot->state(), QMASlotStateIdle);  // never asked to load: nothing to reload
  EXPECT_TRUE(slot->adView()->isHidden());
  slot->loadRequest(QMARequest::request());
  ASSERT_EQ(slot->state(), QMASlotStateRequestingAdURL);
  slot->setAdTypeAndReloadRequest(QMAAdType::bannerAdTypeForSize(kQMAAdSizeLeaderboard), true);
  EXPECT_EQ(slot->state(), QMASlotStateRequestingAdURL);  // the first dropped, a new one made
  EXPECT_EQ(owner->count("willLoad"), 2);
}

TEST_F(Slot, ABannerLeavingItsWindowIsPostedOncePerMove) {
  auto slot = makeSlot();
  int posts = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserverForName(
      kQMASlotDidLeaveWindowNotification, slot.get(), nullptr, [&](const foundation::Notification&) { ++posts; });
  auto window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 480}});
  slot->bannerDidMoveToWindow(window);
  EXPECT_EQ(posts, 0);
  slot->bannerDidMoveToWindow(nullptr);
  slot->bannerDidMoveToWindow(window);
  slot->bannerDidMoveToWindow(nullptr);
  EXPECT_EQ(posts, 2);
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
}

// ---- states

TEST_F(Slot, IsMakingRequestInEachState) {
  const bool expected[] = {false, false, true, true, true, true, false, false, true};
  for (std::int64_t state = 0; state <= 8; ++state) {
    auto s = makeSlot();
    s->setState(state);
    EXPECT_EQ(s->isMakingRequest(), expected[state]) << "state " << state;
  }
}

// Each road of state changes and what it leaves of the slot's share of the MRAID
// interceptor's counter: one share while in flight, none once the request is over,
// whatever way it ends.
TEST_F(Slot, ARequestHoldsOneShareOfTheMRAIDInterceptorsCounterAndGivesItBackOnce) {
  struct Road {
    const char* name;
    std::function<void(QMASlot&)> run;
    long heldAfter;  // shares held once the road is done
    std::int64_t finalState;
  };
  const Road roads[] = {
      {"request shown", [](QMASlot& s) { for (auto st : {2, 3, 0, 4, 5, 6}) s.setState(st); }, 0, 6},
      {"request in flight", [](QMASlot& s) { for (auto st : {2, 3, 0, 4}) s.setState(st); }, 1, 4},
      {"failed", [](QMASlot& s) { for (auto st : {2, 3, 0, 4, 7}) s.setState(st); }, 0, 7},
      {"page failed", [](QMASlot& s) { for (auto st : {2, 1}) s.setState(st); }, 0, 1},
      {"pre-empted, then shown", [](QMASlot& s) {
         s.setState(2);
         s.cancelLoad();  // the load path's reset before a new request
         for (auto st : {2, 3, 0, 4, 5, 6}) s.setState(st);
       }, 0, 6},
      {"cancelled in flight", [](QMASlot& s) {
         for (auto st : {2, 3, 0, 4}) s.setState(st);
         s.cancelPendingActions();
       }, 0, 0},
      {"invalidated in flight", [](QMASlot& s) {
         s.setState(2);
         s.invalidate();
       }, 0, 8},
      {"owner gone in flight", [](QMASlot& s) {
         s.setState(4);
         s.cancelPendingAndFutureActions();
       }, 0, 8},
      {"failed again after ready", [](QMASlot& s) {
         for (auto st : {2, 3, 0, 4, 5, 6}) s.setState(st);
         s.didFailToReceiveAdWithErrorShouldCancelPendingActions(std::nullopt, true);
       }, 0, 0},
      {"failed before any request", [](QMASlot& s) { s.setState(7); }, 0, 7},
      {"same state again", [](QMASlot& s) { for (auto st : {2, 2, 2}) s.setState(st); }, 1, 2},
  };
  for (const auto& road : roads) {
    auto slot = makeSlot();
    const long before = QMAMRAIDInterceptor::canInitWithRequestCounter();
    road.run(*slot);
    EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter() - before, road.heldAfter) << road.name;
    EXPECT_EQ(slot->holdsMRAIDInterceptorShare(), road.heldAfter == 1) << road.name;
    EXPECT_EQ(slot->state(), road.finalState) << road.name;
    slot.reset();
    EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), before) << road.name << ": taken down";
  }
}

TEST_F(Slot, StateEightIsFinalButItsEventsStillHaveTheirEffects) {
  auto slot = makeSlot();
  slot->invalidate();
  EXPECT_EQ(slot->state(), QMASlotStateInvalidated);
  EXPECT_FALSE(slot->adView());
  EXPECT_FALSE(slot->vistraceMonitoredView());
  const auto& app = QMAApplication::sharedInstance()->statistics();
  const auto before = app->objectForKey("pimp").longLongValue().value_or(0);
  slot->resetState();
  slot->willRequestAdURL();
  slot->didMakeAdImpression();
  slot->didFailToReceiveAdWithErrorShouldCancelPendingActions(std::nullopt, false);
  EXPECT_EQ(slot->state(), QMASlotStateInvalidated);
  EXPECT_EQ(app->objectForKey("pimp").longLongValue().value_or(0), before + 1);
  ASSERT_EQ(owner->errors.size(), 1u);
  EXPECT_EQ(owner->errors[0].code, QMARequestErrorCodeInternalError);  // a nil error is an internal one
  EXPECT_TRUE(slot->isMakingRequest());
  EXPECT_FALSE(slot->shouldMakeRequest(QMARequest::request()));
}

TEST_F(Slot, AFailureThatCancelsEndsIdleAndHandsTheAdStatisticsBack) {
  auto slot = makeSlot();
  slot->setState(QMASlotStateFetchingAd);
  slot->setLoadingAd(QMABannerAd::init());
  slot->didFailToReceiveAdWithErrorShouldCancelPendingActions(QMARequestError::errorWithCode(QMARequestErrorCodeNoAd),
                                                              true);
  EXPECT_EQ(slot->state(), QMASlotStateIdle);
  EXPECT_FALSE(slot->loadingAd());
  EXPECT_EQ(owner->events, std::vector<std::string>{"failed 1"});
}

TEST_F(Slot, TheFetchStatisticsGoOnTheLoadingAd) {
  auto slot = makeSlot();
  auto ad = QMABannerAd::init();
  slot->setLoadingAd(ad);
  foundation::Clock::advance(2);
  slot->willFetchAdContent();  // no request statistics taken: the request time is the fetch time
  auto stats = ad->statistics();
  EXPECT_EQ(stats->objectForKey("treq"), stats->objectForKey("tfetch"));
  EXPECT_EQ(stats->objectForKey("slotid"), Value("unit-1"));
  EXPECT_TRUE(stats->objectForKey("seq_num").isNull());

  slot->willRequestAdURL();
  auto requested = slot->applicationStatistics().at("currts");
  foundation::Clock::advance(3);
  auto second = QMABannerAd::init();
  slot->setLoadingAd(second);
  slot->willFetchAdContent();
  EXPECT_EQ(second->statistics()->objectForKey("treq"), requested);
  EXPECT_NE(second->statistics()->objectForKey("tfetch"), requested);
  EXPECT_EQ(second->statistics()->objectForKey("seq_num"), slot->applicationStatistics().at("seq_num"));
  slot->didFetchAdContent();
  EXPECT_FALSE(second->statistics()->objectForKey("tresponse").isNull());
  const auto& app = QMAApplication::sharedInstance()->statistics();
  for (const char* key : {"oar", "bas_on", "bas_off"}) EXPECT_EQ(app->objectForKey(key).longLongValue(), 0) << key;
  slot->cancelPendingActions();
}

// ---- the gate

TEST_F(Slot, TheGateRefusesSilentlyExceptForTheOwnersVeto) {
  struct Case {
    const char* name;
    std::function<void(QMASlot&, slots_test::Owner&)> arrange;
    bool requested;  // the slot went on to ask the SDK core
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"open", [](QMASlot&, slots_test::Owner&) {}, true, {"willLoad"}},
      {"invalidated", [](QMASlot& s, slots_test::Owner&) { s.invalidate(); }, false, {}},
      {"owner vetoes", [](QMASlot&, slots_test::Owner& o) { o.shouldLoad = false; }, false, {"failed 0"}},
      {"owner allows", [](QMASlot&, slots_test::Owner& o) { o.shouldLoad = true; }, true, {"willLoad"}},
      {"in the background", [](QMASlot&, slots_test::Owner&) {
         QMAApplication::setApplicationStateSource([] { return static_cast<long>(QMAApplicationStateBackground); });
         QMAApplication::sharedInstance()->setAppFinishedLaunching(true);
       }, false, {}},
  };
  const bool launched = QMAApplication::sharedInstance()->appFinishedLaunching();
  for (const auto& c : cases) {
    owner = std::make_shared<slots_test::Owner>();
    auto slot = makeSlot();
    c.arrange(*slot, *owner);
    const auto state = slot->state();
    slot->loadRequest(QMARequest::request());
    EXPECT_EQ(slot->state(), c.requested ? QMASlotStateRequestingAdURL : state) << c.name;
    EXPECT_EQ(owner->events, c.events) << c.name;
    EXPECT_TRUE(slot->slotHasAttemptedAnAdRequestAtLeastOnce()) << c.name;
    QMAApplication::setApplicationStateSource([] { return static_cast<long>(QMAApplicationStateActive); });
    QMAApplication::sharedInstance()->setAppFinishedLaunching(launched);
    slot->cancelPendingActions();
  }
}

TEST_F(Slot, ASecondRequestInFlightIsDroppedUnlessTheOwnerPreempts) {
  auto slot = makeSlot();
  slot->loadRequest(QMARequest::request());
  slot->loadRequest(QMARequest::request());
  EXPECT_EQ(owner->count("willLoad"), 1);
  owner->preempt = false;
  slot->loadRequest(QMARequest::request());
  EXPECT_EQ(owner->count("willLoad"), 1);
  owner->preempt = true;
  slot->loadRequest(QMARequest::request());
  EXPECT_EQ(owner->count("willLoad"), 2);
  EXPECT_EQ(slot->state(), QMASlotStateRequestingAdURL);
  slot->cancelPendingActions();
}

// ---- the reload timer, on the hand clock

TEST_F(Slot, TheReloadIntervalHasAFloorOfOneSecond) {
  auto slot = makeSlot();
  const std::pair<double, double> cases[] = {{0.99, 0}, {1.0, 1.0}, {30, 30}, {-5, 0}, {std::nan(""), 0}};
  for (auto [given, stored] : cases) {
    slot->setReloadInterval(given);
    EXPECT_DOUBLE_EQ(slot->reloadInterval(), stored) << given;
  }
}

TEST_F(Slot, TheTimerIsArmedOnlyForAReloadableSlotThatAskedOnceWithAnInterval) {
  auto slot = makeSlot();
  slot->scheduleAdReloadTimer();
  EXPECT_FALSE(slot->reloadTimer());  // not reloadable
  slot->setReloadable(true);
  slot->scheduleAdReloadTimer();
  EXPECT_FALSE(slot->reloadTimer());  // never asked to load
  owner->shouldLoad = false;
  slot->loadRequest(QMARequest::request());  // an attempt, even a refused one, counts
  slot->setReloadInterval(0.5);
  slot->scheduleAdReloadTimer();
  EXPECT_FALSE(slot->reloadTimer());  // no interval
  slot->setReloadInterval(2);
  slot->scheduleAdReloadTimer();
  ASSERT_TRUE(slot->reloadTimer());
  EXPECT_TRUE(slot->reloadTimer()->isValid());
  EXPECT_DOUBLE_EQ(slot->reloadTimer()->timeInterval(), 2);
  slot->setReloadable(false);
  EXPECT_FALSE(slot->reloadTimer());
}

TEST_F(Slot, AnOwnerWithoutAReloadAnswerReArmsAtEveryFiringAndNeverReloads) {
  auto slot = makeSlot();
  slot->setReloadable(true);
  owner->shouldLoad = false;
  slot->loadRequest(QMARequest::request());
  owner->shouldLoad.reset();
  slot->setReloadInterval(10);
  slot->scheduleAdReloadTimer();
  for (int firing = 1; firing <= 3; ++firing) {
    foundation::Clock::advance(9.5);
    drainMain();
    EXPECT_EQ(owner->count("shouldReload"), firing - 1);
    foundation::Clock::advance(0.6);
    drainMain();
    EXPECT_EQ(owner->count("shouldReload"), firing);
    ASSERT_TRUE(slot->reloadTimer());
    EXPECT_TRUE(slot->reloadTimer()->isValid());
  }
  EXPECT_EQ(owner->count("willLoad"), 0);
}

TEST_F(Slot, AYesReloadsAsAutoRefreshAndPausesGiveAFullIntervalAgain) {
  auto slot = makeSlot();
  slot->setReloadable(true);
  owner->shouldLoad = false;
  slot->loadRequest(QMARequest::request());
  owner->shouldLoad.reset();
  owner->shouldReload = true;
  slot->setReloadInterval(10);
  slot->scheduleAdReloadTimer();

  // Resigning active stops the timer; coming back starts a full interval.
  foundation::Clock::advance(8);
  foundation::NotificationCenter::defaultCenter().postNotificationName(uikit::kUIApplicationWillResignActiveNotification);
  EXPECT_FALSE(slot->reloadTimer());
  foundation::Clock::advance(30);
  drainMain();
  foundation::NotificationCenter::defaultCenter().postNotificationName(uikit::kUIApplicationDidBecomeActiveNotification);
  foundation::Clock::advance(9);
  drainMain();
  EXPECT_EQ(owner->count("shouldReload"), 0);
  // A full-screen ad of any slot pauses it the same way.
  foundation::NotificationCenter::defaultCenter().postNotificationName(kAdModalViewControllerWillPresentFullScreen);
  foundation::Clock::advance(30);
  drainMain();
  EXPECT_EQ(owner->count("shouldReload"), 0);
  foundation::NotificationCenter::defaultCenter().postNotificationName(kAdModalViewControllerDidDismissFullScreen);
  foundation::Clock::advance(10.1);
  drainMain();
  EXPECT_EQ(owner->count("shouldReload"), 1);
  EXPECT_EQ(owner->count("willLoad"), 1);
  EXPECT_TRUE(slot->hasAutoRefreshed());
  EXPECT_EQ(slot->state(), QMASlotStateRequestingAdURL);
  slot->cancelPendingActions();
}

TEST_F(Slot, TheReloadTimerFiresWhileTheUserScrolls) {
  auto slot = makeSlot();
  slot->setReloadable(true);
  owner->shouldLoad = false;
  slot->loadRequest(QMARequest::request());
  slot->setReloadInterval(5);
  slot->scheduleAdReloadTimer();
  foundation::Clock::advance(5.1);
  dispatch::RunLoop::main().runOnce(0, dispatch::RunLoopMode::Tracking);
  EXPECT_EQ(owner->count("shouldReload"), 1);
}

TEST_F(Slot, AfterTheOwnerHasGoneTheSlotStaysInvalidatedAndNeverReloads) {
  auto slot = makeSlot();
  slot->setReloadable(true);
  owner->shouldReload = true;
  slot->loadRequest(QMARequest::request());
  slot->scheduleAdReloadTimer();
  slot->cancelPendingAndFutureActions();
  EXPECT_EQ(slot->state(), QMASlotStateInvalidated);
  EXPECT_FALSE(slot->reloadable());
  EXPECT_FALSE(slot->slotDelegate());
  foundation::NotificationCenter::defaultCenter().postNotificationName(uikit::kUIApplicationDidBecomeActiveNotification);
  foundation::Clock::advance(600);
  drainMain();
  EXPECT_EQ(slot->state(), QMASlotStateInvalidated);
  EXPECT_EQ(owner->count("shouldReload"), 0);
  slot->loadRequest(QMARequest::request());
  EXPECT_EQ(slot->state(), QMASlotStateInvalidated);
}

TEST_F(Slot, ANewRequestUnloadsTheMRAIDAdBeforeIt) {
  struct Handler : QMAMRAIDEventHandling {
    int unloads = 0;
    void MRAIDAdDidLoad() override {}
    void MRAIDAdDidUnload() override { ++unloads; }
    void updateVisibility(bool) override {}
    void updatePositionFromView(const std::shared_ptr<uikit::View>&) override {}
    void handleErrorAction(const std::string&, const std::string&) override {}
  };
  auto handler = std::make_shared<Handler>();
  auto slot = makeSlot();
  auto ad = QMABannerAd::init();
  slot->setAd(ad);
  EXPECT_FALSE(slot->isMRAIDEnabled());
  ad->setMRAIDEventHandler(handler);
  EXPECT_TRUE(slot->isMRAIDEnabled());
  slot->loadRequest(slots_test::requestWithExtras({{"_ad", Dictionary{{"ad_url", "http://127.0.0.1:9/ad"}}}}));
  EXPECT_EQ(handler->unloads, 1);
  EXPECT_FALSE(slot->ad());
  EXPECT_FALSE(slot->isMRAIDEnabled());
  slot->cancelPendingActions();
}

TEST_F(Slot, APurchaseGoesToTheOwnersDelegateAndItsPresenceIsSent) {
  struct Purchases : QMAInAppPurchaseDelegate {
    int received = 0;
    void didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>&) override { ++received; }
  };
  struct PurchasingOwner : slots_test::Owner {
    std::shared_ptr<QMAInAppPurchaseDelegate> purchases;
    std::optional<std::shared_ptr<QMAInAppPurchaseDelegate>> inAppPurchaseDelegate() const override { return purchases; }
  };
  auto purchasing = std::make_shared<PurchasingOwner>();
  auto slot = makeSlot();
  slot->setSlotDelegate(purchasing);
  EXPECT_FALSE(slot->requestParameters()->count("iap_set"));
  slot->didReceiveInAppPurchase(std::make_shared<QMAInAppPurchase>());
  EXPECT_TRUE(logged("You must set the in-app purchase delegate. Transaction cannot be completed."));
  auto purchases = std::make_shared<Purchases>();
  purchasing->purchases = purchases;
  EXPECT_EQ((*slot->requestParameters())["iap_set"], Value("1"));
  slot->didReceiveInAppPurchase(std::make_shared<QMAInAppPurchase>());
  EXPECT_EQ(purchases->received, 1);
}

// ---- request parameters

TEST_F(Slot, TheRequestParametersOfABannerAndOfAnInterstitial) {
  auto banner = makeSlot();
  owner->sizes = std::vector<std::shared_ptr<const QMABoxedValue>>{
      NSValueFromQMAAdSize(kQMAAdSizeBanner), nullptr, QMABoxedValue::valueWithCGSize({1, 1}),
      NSValueFromQMAAdSize(kQMAAdSizeInvalid), NSValueFromQMAAdSize(kQMAAdSizeMediumRectangle)};
  owner->frameAnswer = uikit::Rect{{10, 20}, {-320, 50}};
  owner->position = Value(Dictionary{{"x", 1}});
  owner->hierarchy = Value(Dictionary{{"creator_class", "Host"}});
  banner->setManualImpressionsEnabled(true);
  banner->setRequestID("12");
  auto p = *banner->requestParameters();
  EXPECT_EQ(p["sz"], Value("320x50|300x250"));
  EXPECT_EQ(p["ad_frame"], Value(Dictionary{{"x", -310.0}, {"y", 20.0}, {"w", 320.0}, {"h", 50.0}}));
  EXPECT_EQ(p["ad_bounds"], Value(Dictionary{{"x", 0.0}, {"y", 0.0}, {"w", 320.0}, {"h", 50.0}}));  // the ad view's
  EXPECT_EQ(p["slotname"], Value("unit-1"));
  EXPECT_EQ(p["request_id"], Value("12"));
  EXPECT_EQ(p["ad_pos"], *owner->position);
  EXPECT_EQ(p["view_hierarchy"], *owner->hierarchy);
  EXPECT_EQ(p["d_imp_hdr"], Value("1"));
  EXPECT_EQ(p["force_https"], Value("1"));  // nothing stored yet
  EXPECT_FALSE(p.count("format"));
  EXPECT_FALSE(p.count("smart_w"));
  EXPECT_FALSE(p.count("iap_set"));

  auto interstitial = makeSlot(nullptr, true);
  foundation::UserDefaults::standardUserDefaults()->setObjectForKey(Value(false), QMAAdFetcher::kUseHTTPSKey);
  auto q = *interstitial->requestParameters();
  EXPECT_EQ(q["format"], Value("interstitial_mb"));
  for (const char* key : {"sz", "ad_frame", "ad_bounds", "smart_w", "smart_h", "request_id", "d_imp_hdr", "force_https"})
    EXPECT_FALSE(q.count(key)) << key;

  auto smart = makeSlot();
  smart->setAdType(QMAAdType::bannerAdTypeForSize(kQMAAdSizeSmartBannerPortrait));
  owner->sizes = std::vector<std::shared_ptr<const QMABoxedValue>>{};  // an empty list sends no "sz"
  auto r = *smart->requestParameters();
  EXPECT_EQ(r["smart_w"], Value("full"));
  EXPECT_EQ(r["smart_h"], Value("auto"));
  EXPECT_FALSE(r.count("sz"));
}

TEST_F(Slot, QualitySignalsCarryOnlyWhatThereIs) {
  auto slot = makeSlot();
  QMAApplication::sharedInstance()->pendingAdStatistics();  // nothing of other tests
  auto none = *slot->requestParameters();
  EXPECT_FALSE(none.count("quality_signals"));

  slot->willRequestAdURL();
  auto request = QMARequest::request();
  request->setPrivateMediationExtras(Dictionary{{"k", "v"}});
  slot->setRequest(request);
  auto ad = QMABannerAd::init();
  ad->statistics()->setObjectForKeyShouldNotifyDelegate(Value("clicked"), "mine", true);
  waitFor(ad->statistics()->serialQueue());  // the notice queued behind the write
  waitFor(ad->statistics()->serialQueue());
  waitFor(QMAApplication::sharedInstance()->notificationSerialQueue());
  auto p = *slot->requestParameters();
  ASSERT_TRUE(p.count("quality_signals"));
  const auto& q = *p["quality_signals"].asDictionary();
  EXPECT_TRUE(q.count("app"));
  EXPECT_EQ(q.at("request"), Value(Dictionary{{"k", "v"}}));
  ASSERT_TRUE(q.count("ads"));
  bool found = false;
  for (const auto& entry : *q.at("ads").asArray())
    if (entry.get("mine") && *entry.get("mine") == Value("clicked")) found = true;
  EXPECT_TRUE(found);
  EXPECT_EQ(slot->pendingAdStatistics().count(ad->statistics()), 1u);
  slot->cancelPendingActions();
}

TEST_F(Slot, ATokenAlwaysForcesHTTPSAndAnySizeThatIsNoWholeNumberOfPointsIsLeftOut) {
  EXPECT_EQ(QMASlot::multipleAdSizeParameterFromSizes({NSValueFromQMAAdSize(QMAAdSizeFromCGSize({320.7, 50.2}))}),
            "320x50");
  QMAAdSize negative{{-300, 50}, QMAAdSizeFlagCustom};
  QMAAdSize huge{{1e300, 50}, QMAAdSizeFlagCustom};
  EXPECT_EQ(QMASlot::multipleAdSizeParameterFromSizes({NSValueFromQMAAdSize(negative), NSValueFromQMAAdSize(huge),
                                                       NSValueFromQMAAdSize(kQMAAdSizeLeaderboard)}),
            "728x90");
}

// ---- the extras' roads

TEST_F(Slot, TheExtrasTakeTheirRoadsOnlyWithValuesOfTheirKind) {
  struct Case {
    const char* name;
    Dictionary parameters;
    std::vector<std::pair<std::string, std::any>> objects;
    bool interstitial;
    bool asksTheSDKCore;
  };
  auto presetAd = QMABannerAd::init();
  presetAd->setAdHTML("<p>preset</p>");
  const Case cases[] = {
      {"dictionary ad", {{"_ad", Dictionary{{"ad_html", "<p>a</p>"}, {"ad_base_url", "http://127.0.0.1/"}}}}, {}, false, false},
      {"ad object", {}, {{"_ad", std::any(std::static_pointer_cast<QMAAd>(presetAd))}}, false, false},
      {"request URL object", {}, {{"_requestUrl", std::any(*net::URL::fromString("http://127.0.0.1:9/ad"))}}, false, false},
      {"request URL as text", {{"_requestUrl", "http://127.0.0.1:9/ad"}}, {}, false, true},
      {"ad of another kind", {{"_ad", "text"}}, {{"_ad", std::any(42)}}, false, true},
      {"nothing", {{"other", 1}}, {}, false, true},
  };
  for (const auto& c : cases) {
    auto slot = makeSlot(nullptr, c.interstitial);
    slot->loadRequest(slots_test::requestWithExtras(c.parameters, c.objects));
    EXPECT_EQ(slot->state(), c.asksTheSDKCore ? QMASlotStateRequestingAdURL : QMASlotStateFetchingAd) << c.name;
    if (!c.asksTheSDKCore) {
      EXPECT_TRUE(slot->adFetcher()) << c.name;
    }
    slot->cancelPendingActions();
  }
}

TEST_F(Slot, APresetDictionaryOnAnInterstitialWithLandscapeBecomesALandscapeInterstitialAd) {
  auto slot = makeSlot(nullptr, true);
  slot->loadRequest(slots_test::requestWithExtras(
      {{"_orientation", "l"},
       {"_ad", Dictionary{{"ad_html", "<p>a</p>"}, {"ad_base_url", "http://127.0.0.1/"}}},
       {"_adHeaders", "not a dictionary"}}));
  ASSERT_TRUE(slot->loadingAd());
  EXPECT_EQ(slot->loadingAd()->className(), "QMAInterstitialAd");
  EXPECT_EQ(slot->loadingAd()->supportedOrientations(), 24u);
  EXPECT_FALSE(slot->loadingAd()->responseHeaders());  // the headers that were no dictionary are ignored
  slot->cancelPendingActions();

  auto portrait = makeSlot();
  portrait->loadRequest(slots_test::requestWithExtras(
      {{"_orientation", "p"}, {"_ad", Dictionary{{"ad_url", "http://127.0.0.1:9/ad"}}},
       {"_adHeaders", Dictionary{{"X-Qvra-Refresh-Rate", "45"}}}}));
  ASSERT_TRUE(portrait->loadingAd());
  EXPECT_EQ(portrait->loadingAd()->className(), "QMABannerAd");
  EXPECT_EQ(portrait->loadingAd()->supportedOrientations(), 6u);
  EXPECT_DOUBLE_EQ(portrait->loadingAd()->reloadInterval(), 45);
  portrait->cancelPendingActions();
}

TEST_F(Slot, TheTestDeviceHintIsLoggedOncePerProcessAndNeverForATestDevice) {
  const std::string identifier = QMADevice::sharedInstance()->deviceIdentifier();
  const std::string hint = identifier.empty()
                               ? "Advertising tracking may be disabled. To get test ads on this device, enable advertising tracking."
                               : "To get test ads on this device, call: request.testDevices = @[ @\"" + identifier + "\" ];";
  auto slot = makeSlot();
  auto load = [&](std::shared_ptr<QMARequest> request) {
    slot->loadRequest(request);
    slot->cancelPendingActions();
  };
  if (!identifier.empty()) {
    // The first request of the process decides: a listed device hears nothing, then or later.
    QMASlot::resetTestAdInstructionsForTesting();
    auto listed = QMARequest::request();
    listed->setTestDevices(foundation::Array{"other", identifier});
    load(listed);
    load(QMARequest::request());
    EXPECT_EQ(loggedCount(hint), 0);
  }
  QMASlot::resetTestAdInstructionsForTesting();
  load(QMARequest::request());
  load(QMARequest::request());
  EXPECT_EQ(loggedCount(hint), 1);
}

}  // namespace
