#include "ads/render/ad_view.h"

#include <gtest/gtest.h>

#include "ads/render/ad_view_delegate.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/render/web_view_cache.h"
#include "ads/services/test_support.h"
#include "platform/foundation/user_defaults.h"
#include "platform/system/screen_facts.h"
#include "tools/adserver/ad_server.h"

namespace {

struct AdViewTest : qma_test::DeviceRootTest {
  std::shared_ptr<QMAAdView> view;
  void SetUp() override {
    qma_test::DeviceRootTest::SetUp();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
  }
  static bool pump(const std::function<bool()>& done) { return qma_test::pumpMainLoop(done); }
  std::string eval(const std::string& s) { return view->stringByEvaluatingJavaScriptFromString(s); }
  void loadPage(const std::string& html) {
    bool finished = false;
    struct D : QMAAdViewDelegateProtocol {
      bool* f;
      void adViewDidFinishLoad(QMAAdView&) override { *f = true; }
    };
    auto d = std::make_shared<D>();
    d->f = &finished;
    view->setDelegate(d);
    view->loadHTMLStringBaseURL(html, net::URL::fromString("https://ads.example/creative"));
    ASSERT_TRUE(pump([&] { return finished; }));
    view->setDelegate({});
  }
};

const char* kReceiver =
    "<body><script>var got = []; function QVRA_ReceiveMessage(n, m) {"
    " got.push(n + (m ? ':' + (m.n || '') + ':' + m.version + ':' + m.device : '')); }</script></body>";

TEST_F(AdViewTest, TwentySDKEventsWaitForTheLoadAndTheRestAreLost) {
  view->loadHTMLStringBaseURL(kReceiver, net::URL::fromString("https://ads.example/creative"));
  for (int i = 0; i < 25; ++i) view->dispatchSDKEventParameters("e", foundation::Dictionary{{"n", std::to_string(i)}});
  EXPECT_EQ(view->waitingSDKEventCount(), 20u);
  ASSERT_TRUE(pump([&] { return eval("got.length") == "20"; }));
  EXPECT_EQ(eval("got[0]").substr(0, 4), "e:0:");
  EXPECT_EQ(eval("got[19]").substr(0, 5), "e:19:");
  EXPECT_NE(eval("got[0]").find("qvra-sdk-i-v7.4.1"), std::string::npos);
  view->dispatchSDKEventParameters("later", foundation::Dictionary{{"device", "mine"}});
  ASSERT_TRUE(pump([&] { return eval("got.length") == "21"; }));
  EXPECT_EQ(eval("got[20]"), "later::qvra-sdk-i-v7.4.1:mine");
  view->postJSNotificationUserInfo("bare", std::nullopt);
  view->postJSNotificationUserInfo("sep", foundation::Dictionary{{"n", "a\u2028b"}});
  ASSERT_TRUE(pump([&] { return eval("got.length") == "23"; }));
  EXPECT_EQ(eval("got[21]"), "bare");
  EXPECT_EQ(eval("got[22]"), "sep:a\u2028b:undefined:undefined");
}

// Delivering one event runs the page (a nested turn of the main loop): a timer or a
// download report that posts another event meanwhile still comes after those sent before.
TEST_F(AdViewTest, EventsReachThePageInTheOrderTheyWereSentWhateverRunsWhileOneIsDelivered) {
  loadPage("<body><script>var got = []; function QVRA_ReceiveMessage(n) { got.push(n); }</script></body>");
  auto& loop = dispatch::RunLoop::main();
  view->postJSNotificationUserInfo("one", std::nullopt);
  view->postJSNotificationUserInfo("two", std::nullopt);
  auto v = view;
  loop.addTimer(0, 0, false, [v] { v->postJSNotificationUserInfo("three", std::nullopt); });
  ASSERT_TRUE(pump([&] { return eval("got.length") == "3"; }));
  EXPECT_EQ(eval("got.join(' ')"), "one two three");
}

TEST_F(AdViewTest, EveryNewDocumentGetsTheOrientationAgain) {
  loadPage("<body></body>");
  view->forceRotateToOrientation(4);
  view->forceRotateToOrientation(4);
  view->didRotateToOrientation(0);
  ASSERT_TRUE(pump([&] { return eval("window.orientation") == "-90"; }));
  loadPage("<body></body>");
  EXPECT_EQ(eval("typeof window.orientation"), "undefined");
  view->forceRotateToOrientation(4);
  EXPECT_TRUE(pump([&] { return eval("window.orientation") == "-90"; }));
}

// The delegate tells each finished document where the interface stands, and so a page shown
// in landscape reads landscape in every document, one it went to itself included.
TEST_F(AdViewTest, EveryDocumentOfAPageReadsTheInterfaceOrientation) {
  auto facts = system_facts::screen();
  facts.orientation = system_facts::InterfaceOrientation::LandscapeLeft;
  system_facts::setScreen(facts);
  adserver::AdServer server(adserver::AdServer::parseScenario(R"({"files": {
      "/first": {"content_type": "text/html", "body": "<body><script>var first = 1;</script></body>"},
      "/second": {"content_type": "text/html", "body": "<body>second</body>"}}})"));
  ASSERT_TRUE(server.start());
  auto delegate = QMAAdViewDelegate::init();
  view->setDelegate(delegate);
  view->loadRequest(net::URLRequest(*net::URL::fromString(server.baseURL() + "/first")));
  ASSERT_TRUE(pump([&] { return eval("window.orientation") == "-90"; })) << eval("window.orientation");
  eval("location.href = '/second'");  // the page goes on by itself
  ASSERT_TRUE(pump([&] { return eval("typeof first") == "undefined" && eval("document.body.textContent") == "second"; }));
  EXPECT_TRUE(pump([&] { return eval("window.orientation") == "-90"; })) << eval("window.orientation");
  EXPECT_EQ(view->orientation(), 4);
  view->setDelegate({});
  server.stop();
}

struct OrderHandler : QMAQOMBHandler {
  std::vector<std::string> order;
  const QMAActionBlockDictionary* actionBlockDictionary() const override {
    static const QMAActionBlockDictionary table = {{"ordered", [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
                                                      static_cast<OrderHandler&>(h).order.push_back(*a.note->parameter("action"));
                                                    }}};
    return &table;
  }
};

TEST_F(AdViewTest, MessagesReachHandlersInPageOrderAndUnclaimedOnesArePosted) {
  loadPage("<body></body>");
  auto delegate = QMAAdViewDelegate::init();
  auto handler = std::make_shared<OrderHandler>();
  delegate->addQOMBHandler(handler);
  view->setDelegate(delegate);
  std::vector<std::string> posted;
  auto token = foundation::NotificationCenter::defaultCenter().addObserverForName(
      "nativeAdPreProcess", view.get(), nullptr,
      [&](const foundation::Notification& n) { posted.push_back(*foundation::stringForKey(n.userInfo, "k")); });
  // Several messages in one turn, as pages send them: a frame each (assignments to the
  // location in one turn leave as the last one alone, as in any browser).
  eval("function send(u){var f=document.createElement('iframe');f.style.display='none';f.src=u;document.documentElement.appendChild(f);}"
       "var a = ['new','src','play','pause','volume','hide','show','load'];"
       "for (var i = 0; i < a.length; i++) send('qomb://x/ordered?action=' + a[i]);"
       "send('qomb://x/nativeAdPreProcess?k=v');");
  ASSERT_TRUE(pump([&] { return handler->order.size() == 8 && posted.size() == 1; }));
  EXPECT_EQ(handler->order, (std::vector<std::string>{"new", "src", "play", "pause", "volume", "hide", "show", "load"}));
  EXPECT_EQ(posted, std::vector<std::string>{"v"});
  EXPECT_EQ(view->webView()->documentURL(), "https://ads.example/creative");
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(AdViewTest, TwoAdViewsOfOnePageKeepTheirStashEntries) {
  auto url = *net::URL::fromString("https://ads.example/creative/");
  auto other = QMAAdView::initWithFrame({});
  view->setURLForView(url, view);
  other->setURLForView(url, other);
  EXPECT_EQ(QMAAdURLStash::viewForURL(url), other);
  other.reset();  // the newer view goes; the page of the first is still registered
  EXPECT_EQ(QMAAdURLStash::viewForURL(*net::URL::fromString("https://ads.example/creative#x")), view);
  view->setURLForView(std::nullopt, view);
  EXPECT_FALSE(QMAAdURLStash::viewForURL(url));
}

TEST_F(AdViewTest, DebugGestureRecognisesTheZigZagOnly) {
  struct Case {
    const char* what;
    std::vector<uikit::Point> path;
    bool recognised;
  };
  auto zig = [](std::vector<double> xs, double drift = 0) {
    std::vector<uikit::Point> p;
    double y = 10;
    for (double x : xs) p.push_back({x, y += drift});
    return p;
  };
  const Case cases[] = {
      {"right 20, left 20, right 20, left 1", zig({0, 20, 0, 20, 19}), true},
      {"right 10 then left", zig({0, 10, 0}), false},
      {"no fourth stroke", zig({0, 20, 0, 20}), false},
      {"vertical drift of 6", zig({0, 20, 0, 20, 19}, 6), false},
      {"starting to the left", zig({20, 0, 20, 0, 1}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int shown = 0;
    view->gesture()->addTarget([&](uikit::GestureRecognizer&) { ++shown; });
    view->gesture()->performTouches(c.path);
    EXPECT_EQ(shown, c.recognised ? 1 : 0);
  }
  ASSERT_TRUE(view->alertView());
  EXPECT_EQ(view->alertView()->message(), "Creative information is not available");
  EXPECT_EQ(view->alertButtonTitles(), std::vector<std::string>{"OK"});
  QMAUIWebViewGestureDelegate d;
  QMAImpressionTicketGestureRecognizer another;
  uikit::GestureRecognizer plain;
  EXPECT_EQ(d.gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(*view->gesture(), another), false);
  EXPECT_EQ(d.gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(*view->gesture(), plain), true);
}

TEST_F(AdViewTest, ReuseCacheBoundsAndClearsHandedBackWebViews) {
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  for (auto [stored, expected] : std::vector<std::pair<long long, std::uint64_t>>{{12, 0}, {-1, 0}, {9, 9}, {0, 0}}) {
    defaults->setObjectForKey(foundation::Value(std::to_string(stored)), QMAWebViewCacheSet::kCapacityKey);
    EXPECT_EQ(QMAWebViewCacheSet::storedCapacity(), expected) << stored;
  }
  auto cache = QMAWebViewCacheSet::initWithMaxCapacity(9);
  std::vector<std::shared_ptr<webkit::WebView>> used;
  for (int i = 0; i < 4; ++i) {
    auto web = webkit::WebView::create();
    web->loadHTMLStringBaseURL("<body>old ad " + std::to_string(i) + "</body>", net::URL::fromString("https://a.example/1"));
    ASSERT_TRUE(pump([&] { return !web->isLoading(); }));
    web->loadHTMLStringBaseURL("<body>old ad page 2</body>", net::URL::fromString("https://a.example/2"));
    ASSERT_TRUE(pump([&] { return !web->isLoading(); }));
    used.push_back(web);
  }
  ASSERT_TRUE(used[0]->canGoBack());
  for (auto& web : used) cache->addObject(web);
  used.clear();
  ASSERT_TRUE(pump([&] { return cache->count() == 3; }));
  EXPECT_EQ(cache->clearingCount(), 0u);
  auto reused = std::static_pointer_cast<webkit::WebView>(cache->anyObject());
  ASSERT_TRUE(reused);
  EXPECT_EQ(reused->documentURL(), "about:blank");
  EXPECT_FALSE(reused->canGoBack());  // a new owner never goes back to another ad
  EXPECT_EQ(reused->delegate(), nullptr);

  auto off = QMAWebViewCacheSet::initWithMaxCapacity(0);
  off->addObject(webkit::WebView::create());
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(off->clearingCount(), 0u);
}

}  // namespace

namespace {

TEST_F(AdViewTest, AnUnplacedAdViewIsInThePlaceholderWindowUntilItsOwnerPlacesIt) {
  const auto& placeholder = QMAAdView::placeholderWindow();
  ASSERT_TRUE(placeholder);
  EXPECT_EQ(view->window(), placeholder);
  EXPECT_EQ(view->webView()->window(), placeholder);  // its subviews too
  EXPECT_TRUE(placeholder->isHidden());

  auto window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 480}});
  auto container = std::make_shared<uikit::View>(uikit::Rect{{0, 0}, {320, 100}});
  window->addSubview(container);
  container->addSubview(view);
  EXPECT_EQ(view->window(), window);

  // Placed under a view that is itself in no window: no window to answer but its own.
  auto loose = std::make_shared<uikit::View>(uikit::Rect{{0, 0}, {320, 100}});
  loose->addSubview(view);
  EXPECT_FALSE(view->window());

  view->removeFromSuperview();
  EXPECT_EQ(view->window(), placeholder);
}

TEST_F(AdViewTest, ThePlaceholderWindowKeepsNoAdViewAlive) {
  std::weak_ptr<QMAAdView> gone;
  {
    auto unplaced = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    gone = unplaced;
    EXPECT_EQ(unplaced->window(), QMAAdView::placeholderWindow());
  }
  EXPECT_TRUE(gone.expired());
  EXPECT_TRUE(QMAAdView::placeholderWindow()->subviews().empty());
}

}  // namespace
