// Another network's JavaScript ad: the passback test, the share of background pixels, and
// the delegate over real pages that draw at once, late or never, with a slot that records
// what it is told. The checks run on the hand clock; pages draw on their own timers.
#include "ads/render/ad_network_javascript_ad_view_delegate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "ads/render/ad_view.h"
#include "ads/services/test_support.h"
#include "platform/uikit/window.h"

namespace {

struct JSSlot : QMARenderingSlot {
  std::int64_t currentState = 4;
  std::shared_ptr<QMAAdType> type = QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner);
  std::shared_ptr<QMAAdView> view;
  std::vector<std::string> calls;
  std::optional<QMARequestError> error;
  std::int64_t state() const override { return currentState; }
  std::uint64_t timeLastLoaded() const override { return 0; }
  std::shared_ptr<QMAAdType> adType() const override { return type; }
  std::shared_ptr<QMARequest> request() const override { return nullptr; }
  std::shared_ptr<QMAAdView> adView() const override { return view; }
  bool isMRAIDEnabled() const override { return false; }
  void willLoadAdHTMLInWebView() override {
    calls.push_back("rendering");
    currentState = 5;
  }
  void scheduleAdReloadTimer() override { calls.push_back("reload later"); }
  void didReceiveValidAd() override {
    calls.push_back("valid");
    currentState = 6;
  }
  void didLoadAdHTMLInWebView() override {}
  void didMakeAdImpression() override { calls.push_back("impression"); }
  void adFinishedLoadingContent() override {}
  void didFailToReceiveAdWithErrorShouldCancelPendingActions(const std::optional<QMARequestError>& e,
                                                             bool cancel) override {
    calls.push_back(cancel ? "failed, cancelling" : "failed");
    error = e;
    currentState = 7;
  }
  void adWasClicked() override {}
  net::URL gestureClickURLWithURL(const net::URL& url) override { return url; }
  void pingClickURLs() override {}
  void adWillLeaveApplication() override {}
  void willLeaveAppDueToClick() override {}
};

net::URLRequest requestFor(const std::string& url) { return net::URLRequest(*net::URL::fromString(url)); }

TEST(AdNetworkJavaScriptPassback, APassbackIsTheSchemeOrThePassbackURLsHostAndPath) {
  auto withURL = QMAAdNetworkJavaScriptAdViewDelegate::initWithSlotPassbackURL(
      {}, net::URL::fromString("https://ads.example.com/a/"));
  auto without = QMAAdNetworkJavaScriptAdViewDelegate::initWithSlot({});
  struct Case {
    const char* url;
    bool withPassbackURL;
    bool withoutPassbackURL;
  };
  const Case cases[] = {
      {"passback://none", true, true},
      {"PassBack://none", true, true},
      {"http://ADS.EXAMPLE.COM/a?x=1#f", true, false},  // scheme, case, query, fragment do not count
      {"https://ads.example.com/a/", true, false},
      {"https://ads.example.com/a/b", false, false},
      {"https://ads.example.com/", false, false},
      {"https://other.example.com/a/", false, false},
      {"https://ads.example.com/a//", false, false},  // one trailing "/" only
      {"about:blank", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(withURL->isPassbackRequest(requestFor(c.url)), c.withPassbackURL) << c.url;
    EXPECT_EQ(without->isPassbackRequest(requestFor(c.url)), c.withoutPassbackURL) << c.url;
  }
}

std::shared_ptr<uikit::Image> imageOf(int width, int height, std::array<std::uint8_t, 4> pixel) {
  std::vector<std::uint8_t> rgba;
  for (int i = 0; i < width * height; ++i) rgba.insert(rgba.end(), pixel.begin(), pixel.end());
  return std::make_shared<uikit::Image>(width, height, std::move(rgba));
}

TEST(AdViewRenderedChecker, TheBackgroundShareComparesTheDrawnColourWithOneStepOfSlack) {
  using uikit::Color;
  const auto share = QMAAdViewRenderedChecker::percentOfImageOfColor;
  // A half-transparent grey of no whole step is drawn premultiplied: 0.3 * 0.5 * 255 = 38.25.
  const Color translucent = Color::colorWithRedGreenBlueAlpha(0.3, 0.3, 0.3, 0.5);
  struct Case {
    const char* name;
    std::array<std::uint8_t, 4> pixel;
    Color color;
    double expected;
  };
  const Case cases[] = {
      {"clear over nothing", {0, 0, 0, 0}, Color::clearColor(), 1},
      {"translucent, as drawn", {38, 38, 38, 128}, translucent, 1},
      {"translucent, one step off", {39, 37, 38, 127}, translucent, 1},
      {"translucent, two steps off", {40, 38, 38, 128}, translucent, 0},
      {"white on clear", {255, 255, 255, 255}, Color::clearColor(), 0},
      {"white", {254, 255, 255, 255}, Color::whiteColor(), 1},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(share(imageOf(4, 3, c.pixel), c.color), c.expected) << c.name;
  // No picture has no share; no colour to compare with counts as drawn.
  EXPECT_TRUE(std::isnan(share(nullptr, Color::clearColor())));
  EXPECT_DOUBLE_EQ(share(imageOf(4, 3, {0, 0, 0, 0}), std::nullopt), 0);
}

struct AdNetworkJavaScript : qma_test::DeviceRootTest {
  std::shared_ptr<JSSlot> slot = std::make_shared<JSSlot>();
  std::shared_ptr<QMAAdNetworkJavaScriptAdViewDelegate> delegate;
  std::shared_ptr<uikit::Window> window;
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 480}});
    fresh();
  }
  // A new slot, ad view and delegate for one ad.
  void fresh() {
    if (delegate) delegate->stopRenderingTimer();
    if (slot->view) slot->view->removeFromSuperview();
    slot = std::make_shared<JSSlot>();
    slot->view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    slot->view->configureAsBannerAdView();
    window->addSubview(slot->view);
    delegate = QMAAdNetworkJavaScriptAdViewDelegate::initWithSlotPassbackURL(
        slot, net::URL::fromString("https://ads.example/passback"));
    slot->view->setDelegate(delegate);
  }
  void TearDown() override {
    if (delegate) delegate->stopRenderingTimer();
    DeviceRootTest::TearDown();
  }
  static bool pump(const std::function<bool()>& done) { return qma_test::pumpMainLoop(done); }
  std::string eval(const std::string& s) { return slot->view->stringByEvaluatingJavaScriptFromString(s); }
  void load(const std::string& html) {
    slot->view->loadHTMLStringBaseURL(html, net::URL::fromString("https://ads.example/creative"));
    ASSERT_TRUE(pump([&] { return delegate->renderingCheckHasStarted() || delegate->wasPassbackReceived(); }));
  }
  // One check interval on the hand clock, and the check it runs.
  void tick() {
    foundation::Clock::advance(QMAAdNetworkJavaScriptAdViewDelegate::kCheckRenderingInterval);
    dispatch::RunLoop::main().drain();
  }
  bool shown() const {
    return std::find(slot->calls.begin(), slot->calls.end(), "valid") != slot->calls.end();
  }
};

TEST_F(AdNetworkJavaScript, APageThatHasDrawnIsReportedAtTheFirstCheckAndNotBefore) {
  load("<body style='margin:0'><div style='width:320px;height:50px;background:#3060ff'></div></body>");
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"rendering"}));  // the finish alone shows nothing
  EXPECT_TRUE(slot->view->isHidden());
  tick();
  ASSERT_TRUE(pump([&] { return shown(); }));
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"rendering", "valid", "impression"}));
  EXPECT_FALSE(slot->view->isHidden());
  EXPECT_FALSE(delegate->isCheckRenderingTimerRunning());
  EXPECT_FALSE(delegate->adViewRenderedChecker());
  // A later finish (a frame of the page) starts nothing again.
  delegate->adViewDidFinishLoad(*slot->view);
  EXPECT_FALSE(delegate->isCheckRenderingTimerRunning());
}

TEST_F(AdNetworkJavaScript, APageThatDrawsLateIsReportedAtTheFirstCheckAfterItDrew) {
  // The network's script draws into a canvas and adds markup once its own timer fires.
  load("<body style='margin:0'><script>"
       "setTimeout(function () {"
       "  var c = document.createElement('canvas'); c.width = 320; c.height = 50; document.body.appendChild(c);"
       "  var g = c.getContext('2d'); g.fillStyle = '#ff9000'; g.fillRect(0, 0, 320, 50);"
       "  var d = document.createElement('div'); d.textContent = 'Late'; document.body.appendChild(d);"
       "  window.drew = true;"
       "}, 400);</script></body>");
  for (int i = 0; i < 3 && eval("window.drew === true") != "true"; ++i) tick();
  const std::uint64_t failedBeforeDrawing = delegate->checkRenderingCount();
  if (eval("window.drew === true") != "true") {
    EXPECT_FALSE(shown());
    EXPECT_EQ(failedBeforeDrawing, 3u);
  }
  ASSERT_TRUE(pump([&] { return eval("window.drew === true") == "true"; }));
  tick();
  ASSERT_TRUE(pump([&] { return shown(); }));
  EXPECT_EQ(delegate->checkRenderingCount(), failedBeforeDrawing);
}

TEST_F(AdNetworkJavaScript, APageThatNeverDrawsFailsAfterOneHundredAndOneChecks) {
  load("<body></body>");
  for (int i = 0; i < 100; ++i) tick();
  EXPECT_EQ(delegate->checkRenderingCount(), 100u);
  EXPECT_EQ(slot->calls, (std::vector<std::string>{"rendering"}));
  tick();
  EXPECT_EQ(delegate->checkRenderingCount(), 101u);
  ASSERT_TRUE(slot->error);
  EXPECT_EQ(slot->error->code, QMARequestErrorCodeNetworkError);
  EXPECT_FALSE(delegate->isCheckRenderingTimerRunning());
  tick();
  EXPECT_EQ(delegate->checkRenderingCount(), 101u);
}

TEST_F(AdNetworkJavaScript, AZeroSizedAdViewNeverCountsAsDrawn) {
  slot->view->setFrame({{0, 0}, {0, 0}});
  load("<body style='background:#000'>Ad</body>");
  tick();
  tick();
  EXPECT_EQ(delegate->checkRenderingCount(), 2u);
  EXPECT_FALSE(shown());
}

TEST_F(AdNetworkJavaScript, APassbackBySchemeOrByURLIsNoFillAndNothingIsChecked) {
  for (const std::string target : {"passback://none", "http://ADS.EXAMPLE/passback/?why=empty"}) {
    SCOPED_TRACE(target);
    fresh();
    slot->view->loadHTMLStringBaseURL("<body><script>window.location.href = '" + target + "';</script></body>",
                                      net::URL::fromString("https://ads.example/creative"));
    ASSERT_TRUE(pump([&] { return delegate->wasPassbackReceived(); }));
    // The page may have finished (and the checks begun) before its script passed back.
    const std::vector<std::string> tail(slot->calls.end() - 2, slot->calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"failed, cancelling", "reload later"}));
    ASSERT_TRUE(slot->error);
    EXPECT_EQ(slot->error->code, QMARequestErrorCodeNoAd);
    EXPECT_EQ(slot->error->localizedDescription(), "Passback URL received.");
    EXPECT_FALSE(delegate->isCheckRenderingTimerRunning());
    tick();
    EXPECT_EQ(delegate->checkRenderingCount(), 0u);
    // A finish after the passback starts nothing.
    const bool started = delegate->renderingCheckHasStarted();
    delegate->adViewDidFinishLoad(*slot->view);
    EXPECT_EQ(delegate->renderingCheckHasStarted(), started);
    EXPECT_FALSE(delegate->isCheckRenderingTimerRunning());
    EXPECT_EQ(std::count(slot->calls.begin(), slot->calls.end(), "valid"), 0);
  }
}

}  // namespace
