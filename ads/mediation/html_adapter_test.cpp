// The HTML adapter with real pages in the web engine: pages that draw, stay blank, draw late
// and pass back, the rendered check driven by the hand clock, alone against a recording
// connector and in waterfalls against the ad server on 127.0.0.1.
#include <gtest/gtest.h>

#include "ads/mediation/html_adapter.h"
#include "ads/mediation/waterfall_test_support.h"
#include "platform/uikit/graphics_context.h"

namespace html_adapter_test {

using foundation::Dictionary;
using nlohmann::json;
using waterfall_test::configFor;
using waterfall_test::Waterfall;

struct Recorder : QMAMAdNetworkConnectorProtocol {
  Dictionary givenCredentials;
  std::vector<std::string> heard;
  std::vector<foundation::Error> errors;
  std::shared_ptr<uikit::View> view;

  std::optional<std::string> publisherId() const override { return std::nullopt; }
  Dictionary credentials() const override { return givenCredentials; }
  bool testMode() const override { return false; }
  std::shared_ptr<QMAAdNetworkExtras> networkExtras() const override { return nullptr; }
  std::shared_ptr<uikit::ViewController> viewControllerForPresentingModalView() const override { return nullptr; }
  std::optional<bool> childDirectedTreatment() const override { return std::nullopt; }
  long userGender() const override { return 0; }
  std::optional<foundation::Date> userBirthday() const override { return std::nullopt; }
  bool userHasLocation() const override { return false; }
  double userLatitude() const override { return 0; }
  double userLongitude() const override { return 0; }
  double userLocationAccuracyInMeters() const override { return 0; }
  std::optional<std::string> userLocationDescription() const override { return std::nullopt; }
  std::vector<std::string> userKeywords() const override { return {}; }
  void adapterDidReceiveAdView(QMAMAdNetworkAdapter&, const std::shared_ptr<uikit::View>& v) override {
    heard.push_back("didReceiveAdView");
    view = v;
  }
  void adapterDidFailAd(QMAMAdNetworkAdapter&, const foundation::Error& e) override {
    heard.push_back("didFailAd");
    errors.push_back(e);
  }
  void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter&) override { heard.push_back("didReceiveInterstitial"); }
  void adapterDidReceiveInterstitial(QMAMAdNetworkAdapter&, const std::shared_ptr<void>&) override {
    heard.push_back("didReceiveInterstitial");
  }
  void adapterDidFailInterstitial(QMAMAdNetworkAdapter&, const foundation::Error& e) override {
    heard.push_back("didFailInterstitial");
    errors.push_back(e);
  }
  void adapterDidGetAdClick(QMAMAdNetworkAdapter&) override {}
  void adapterClickDidOccurInBanner(QMAMAdNetworkAdapter&, const std::shared_ptr<uikit::View>&) override {}
  void adapterWillPresentFullScreenModal(QMAMAdNetworkAdapter&) override {}
  void adapterWillDismissFullScreenModal(QMAMAdNetworkAdapter&) override {}
  void adapterDidDismissFullScreenModal(QMAMAdNetworkAdapter&) override {}
  void adapterWillPresentInterstitial(QMAMAdNetworkAdapter&) override {}
  void adapterWillDismissInterstitial(QMAMAdNetworkAdapter&) override {}
  void adapterDidDismissInterstitial(QMAMAdNetworkAdapter&) override {}
  void adapterWillLeaveApplication(QMAMAdNetworkAdapter&) override {}
};

// A page that paints a block of `percent` of a 320 x 50 banner's area, at once or after a
// real-time delay (the page's own timers run on real time).
std::string drawingPage(int percent, int delayMs = -1) {
  const std::string block = "var d=document.createElement('div');d.style.cssText='position:absolute;left:0;top:0;width:" +
                            std::to_string(320 * percent / 100) +
                            "px;height:50px;background:#d02040';document.body.appendChild(d);window.drawn=true;";
  const std::string run = delayMs < 0 ? block : "setTimeout(function(){" + block + "}," + std::to_string(delayMs) + ");";
  return "<html><body style='margin:0'><script>window.drawn=false;" + run + "</script></body></html>";
}

struct HTMLAdapter : Waterfall {
  std::shared_ptr<Recorder> connector = std::make_shared<Recorder>();

  std::shared_ptr<QMAMAdapterHTML> adapterWith(Dictionary credentials) {
    connector->givenCredentials = std::move(credentials);
    auto adapter = std::dynamic_pointer_cast<QMAMAdapterHTML>(runtime::objc_getClass(kQMAMAdapterHTMLClassName)->createInstance());
    adapter->initWithQMAMAdNetworkConnector(connector);
    return adapter;
  }
  // Until the web view has loaded its page.
  bool loaded(const std::shared_ptr<QMAMAdapterHTML>& adapter) {
    return pump([&] { return adapter->webView() && !adapter->webView()->isLoading() &&
                             adapter->webView()->documentURL() != "about:blank"; });
  }
  // One tick of the check timer.
  void tick() {
    foundation::Clock::advance(QMAMAdapterHTML::kCheckInterval);
    drainMain();
  }
  static json htmlNetwork(const std::string& id, json data) {
    return {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({kQMAMAdapterHTMLClassName})}};
  }
};

TEST_F(HTMLAdapter, CredentialsThatCannotServeFailWithTheirErrorsAndInterstitialsAreRefused) {
  struct Row {
    const char* what;
    Dictionary credentials;
    const char* text;
  };
  const Row rows[] = {
      {"empty passback URL, HTML present", {{"dravotym_passback_url", ""}, {"dravotym_html", "<p>ad</p>"}},
       "Empty passback URL in TYM response."},
      {"passback URL that is no URL", {{"dravotym_passback_url", "http://exa mple.com/a b"}, {"dravotym_html", "<p>ad</p>"}},
       "Invalid passback URL in TYM response."},
      {"passback URL that is no text", {{"dravotym_passback_url", 7}, {"dravotym_html", "<p>ad</p>"}},
       "Invalid passback URL in TYM response."},
      {"no HTML", {}, "Missing HTML in TYM response."},
      {"empty HTML", {{"dravotym_html", ""}, {"dravotym_passback_url", "http://127.0.0.1:9/pb"}},
       "Missing HTML in TYM response."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    connector = std::make_shared<Recorder>();
    auto adapter = adapterWith(row.credentials);
    adapter->getBannerWithSize(kQMAAdSizeBanner);
    ASSERT_EQ(connector->errors.size(), 1u);
    EXPECT_EQ(connector->errors[0].domain, kQMAErrorDomain);
    EXPECT_EQ(connector->errors[0].code, 2);
    EXPECT_EQ(connector->errors[0].localizedDescription(), row.text);
    EXPECT_FALSE(adapter->webView());
    EXPECT_FALSE(adapter->isCheckingRendering());
  }
  connector = std::make_shared<Recorder>();
  auto adapter = adapterWith({{"dravotym_html", "<p>ad</p>"}});
  adapter->getInterstitial();
  adapter->presentInterstitialFromRootViewController(root);
  EXPECT_EQ(connector->heard, (std::vector<std::string>{"didFailInterstitial", "didFailInterstitial"}));
  EXPECT_EQ(connector->errors[0].code, 0);
  EXPECT_EQ(connector->errors[0].localizedDescription(), "Interstitials not supported.");
}

TEST_F(HTMLAdapter, APassbackIsTheSchemeOrTheSameHostAndPathWithOrWithoutOneTrailingSlash) {
  auto adapter = adapterWith({{"dravotym_html", "<p>ad</p>"}, {"dravotym_passback_url", "http://pb.example/no-ad/?a=1"}});
  adapter->getBannerWithSize(kQMAAdSizeBanner);
  ASSERT_TRUE(adapter->passbackUrl());
  struct Row {
    const char* url;
    bool passback;
  };
  const Row rows[] = {
      {"passback://anything", true},
      {"https://pb.example/no-ad", true},
      {"http://pb.example:8080/no-ad/?b=2#f", true},
      {"http://pb.example/no-ad//", false},
      {"http://pb.example/no-ad/more", false},
      {"http://other.example/no-ad/", false},
      {"http://PB.example/no-ad/", false},
      {"Passback://anything", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(adapter->isPassbackRequest(net::URLRequest(*net::URL::fromString(row.url))), row.passback) << row.url;
  }
  EXPECT_TRUE(QMAMAdapterHTML::isPathEquivalentToPath("", ""));
  EXPECT_TRUE(QMAMAdapterHTML::isPathEquivalentToPath("/", ""));
  EXPECT_EQ(QMAMAdapterHTML::stripTrailingSlashFromPath("/a//"), "/a/");
  adapter->stopBeingDelegate();

  // Without a passback URL only the scheme counts.
  auto plain = adapterWith({{"dravotym_html", "<p>ad</p>"}});
  plain->getBannerWithSize(kQMAAdSizeBanner);
  EXPECT_FALSE(plain->isPassbackRequest(net::URLRequest(*net::URL::fromString("https://pb.example/no-ad"))));
  EXPECT_TRUE(plain->isPassbackRequest(net::URLRequest(*net::URL::fromString("passback:"))));
  plain->stopBeingDelegate();
}

TEST_F(HTMLAdapter, APageThatDrawsIsDeliveredAtTheNextCheckAndABlankOneIsGivenUpAfterOneHundredAndOneChecks) {
  auto drawing = adapterWith({{"dravotym_html", drawingPage(11)}});
  drawing->getBannerWithSize(kQMAAdSizeBanner);
  ASSERT_TRUE(drawing->webView());
  EXPECT_FALSE(drawing->webView()->opaque);
  EXPECT_EQ(drawing->webView()->backgroundColor(), std::optional<uikit::Color>(uikit::Color::clearColor()));
  EXPECT_EQ(drawing->webView()->frame(), (uikit::Rect{{0, 0}, {320, 50}}));
  ASSERT_TRUE(loaded(drawing));
  EXPECT_TRUE(connector->heard.empty());  // nothing before the timer's first check
  tick();
  EXPECT_EQ(connector->heard, std::vector<std::string>{"didReceiveAdView"});
  EXPECT_EQ(connector->view, drawing->webView());
  EXPECT_EQ(drawing->checkRenderingCount(), 1u);
  EXPECT_FALSE(drawing->isCheckingRendering());

  connector = std::make_shared<Recorder>();
  auto blank = adapterWith({{"dravotym_html", drawingPage(9)}});
  blank->getBannerWithSize(kQMAAdSizeBanner);
  ASSERT_TRUE(loaded(blank));
  for (int i = 0; i < 101; ++i) tick();
  EXPECT_EQ(blank->checkRenderingCount(), 101u);
  EXPECT_FALSE(blank->isCheckingRendering());
  tick();
  EXPECT_EQ(blank->checkRenderingCount(), 101u);
  EXPECT_TRUE(connector->heard.empty());  // the waterfall's time-out decides
}

TEST_F(HTMLAdapter, APageThatDrawsLateIsDeliveredAtTheFirstCheckAfterItDrew) {
  auto adapter = adapterWith({{"dravotym_html", drawingPage(60, 300)}});
  adapter->getBannerWithSize(kQMAAdSizeBanner);
  ASSERT_TRUE(loaded(adapter));
  tick();
  EXPECT_TRUE(connector->heard.empty());
  ASSERT_TRUE(pump([&] { return adapter->webView()->stringByEvaluatingJavaScriptFromString("String(window.drawn)") == "true"; }));
  tick();
  EXPECT_EQ(connector->heard, std::vector<std::string>{"didReceiveAdView"});
  EXPECT_EQ(adapter->checkRenderingCount(), 2u);
}

TEST_F(HTMLAdapter, TheRenderedCheckCountsTheBackgroundAndAViewWithoutPixelsIsNeverDrawn) {
  struct Delegate : QMAMWebViewRenderedCheckerDelegate {
    std::vector<bool> answers;
    void webViewIsRendered(webkit::WebView&, bool rendered) override { answers.push_back(rendered); }
  };
  auto delegate = std::make_shared<Delegate>();
  auto empty = webkit::WebView::create(uikit::Rect{{0, 0}, {0, 0}});
  QMAMWebViewRenderedChecker(empty, delegate).checkIsContentRenderedInWebView();
  // A view of an opaque background colour counts that colour as undrawn.
  auto white = webkit::WebView::create(uikit::Rect{{0, 0}, {40, 10}});
  white->setBackgroundColor(uikit::Color::whiteColor());
  QMAMWebViewRenderedChecker(white, delegate).checkIsContentRenderedInWebView();
  EXPECT_EQ(delegate->answers, (std::vector<bool>{false, false}));
  // Without a delegate nothing is asked.
  QMAMWebViewRenderedChecker(white, {}).checkIsContentRenderedInWebView();
  EXPECT_EQ(delegate->answers.size(), 2u);

  uikit::GraphicsContext context(10, 10);
  context.fillRect(uikit::Rect{{0, 0}, {10, 1}}, uikit::Color::colorWithRedGreenBlueAlpha(1, 0, 0, 1));
  EXPECT_DOUBLE_EQ(QMAMWebViewRenderedChecker::percentOfImageOfColor(*context.makeImage(), uikit::Color::clearColor()), 0.9);
  EXPECT_TRUE(std::isnan(QMAMWebViewRenderedChecker::percentOfImageOfColor(uikit::Image(0, 0, {}), uikit::Color::clearColor())));
}

TEST_F(HTMLAdapter, APagePassingBackByURLEndsItsNetworkAsNoFillWithoutLoadingThePassback) {
  const std::string passback = server->baseURL() + "/passback/";
  const std::string page = "<html><body><script>location.href='" + server->baseURL() +
                           "/passback?why=none';</script></body></html>";
  useScenario(waterfall_test::waterfallScenario(configFor(
      "banner", json::array({htmlNetwork("1", {{"dravotym_html", page}, {"dravotym_passback_url", passback}}),
                             waterfall_test::networkEntry("2", mediation_test::kFillAdapter)}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(managerOf(banner->slot())->receivedConnector()->networkConfig()->networkID(), std::optional<std::string>("2"));
  EXPECT_EQ(valueIn(ping("/imp"), "aec"), "1,0");
  EXPECT_TRUE(server->requestsForPath("/passback").empty());
}

TEST_F(HTMLAdapter, APagePassingBackByItsSchemeIsNoFillAndADrawingPageIsTheWaterfallsBanner) {
  auto adapter = adapterWith({{"dravotym_html", "<html><body><script>location.href='passback://none';</script></body></html>"}});
  adapter->getBannerWithSize(kQMAAdSizeBanner);
  ASSERT_TRUE(pump([&] { return !connector->heard.empty(); }));
  EXPECT_EQ(connector->heard, std::vector<std::string>{"didFailAd"});
  EXPECT_EQ(connector->errors[0].code, 1);
  EXPECT_EQ(connector->errors[0].localizedDescription(), "Ad network returned no ad.");
  EXPECT_FALSE(adapter->isCheckingRendering());

  useScenario(waterfall_test::waterfallScenario(
      configFor("banner", json::array({htmlNetwork("1", {{"dravotym_html", drawingPage(100)}})}))));
  auto banner = placedBanner();
  banner->loadRequest(QMARequest::request());
  std::shared_ptr<QMAMAdapterHTML> html;
  ASSERT_TRUE(pump([&] {
    auto manager = managerOf(banner->slot());
    auto connector = manager ? manager->requestingConnector() : nullptr;
    html = connector ? std::dynamic_pointer_cast<QMAMAdapterHTML>(connector->adapterObject()) : nullptr;
    return html != nullptr;
  }));
  ASSERT_TRUE(loaded(html));
  tick();
  ASSERT_TRUE(pumpUntilHeard(QMABannerViewDelegate::kAdViewDidReceiveAd));
  EXPECT_EQ(banner->rootAdView(), html->webView());
  EXPECT_EQ(banner->slot()->adNetworkClassName(), std::optional<std::string>(kQMAMAdapterHTMLClassName));
}

}  // namespace html_adapter_test
