// When an ad page's "mraid.js" is answered with our script, which script it gets, and
// how a failed script download reaches the page.
#include "ads/render/mraid_interceptor.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "ads/model/ad_type.h"
#include "ads/render/ad_view.h"
#include "ads/render/banner_ad_view_delegate.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/services/test_support.h"
#include "tools/adserver/ad_server.h"

namespace {

struct TypedSlot : render_test::StubSlot<> {
  std::shared_ptr<QMAAdType> type;
  std::shared_ptr<QMAAdType> adType() const override { return type; }
};

// Records a protocol's reports, which arrive on a loading thread.
struct Client : net::URLProtocolClient {
  std::mutex mu;
  std::condition_variable cv;
  net::URLResponsePtr response;
  std::string body;
  std::optional<foundation::Error> error;
  bool finished = false;
  void protocolWasRedirected(net::URLRequest, net::URLResponsePtr) override {}
  void protocolDidReceiveResponse(net::URLResponsePtr r) override {
    std::lock_guard l(mu);
    response = std::move(r);
  }
  void protocolDidLoadData(net::Bytes data) override {
    std::lock_guard l(mu);
    body.append(data.begin(), data.end());
  }
  void protocolDidFinishLoading() override {
    std::lock_guard l(mu);
    finished = true;
    cv.notify_all();
  }
  void protocolDidFail(foundation::Error e) override {
    std::lock_guard l(mu);
    error = std::move(e);
    cv.notify_all();
  }
  bool waitForEnd() {
    std::unique_lock l(mu);
    return cv.wait_for(l, std::chrono::seconds(10), [&] { return finished || error.has_value(); });
  }
};

net::URLRequest mraidRequest(const std::string& url, const std::optional<std::string>& referer) {
  net::URLRequest r(*net::URL::fromString(url));
  if (referer) r.headers.set("Referer", *referer);
  return r;
}

struct Interceptor : qma_test::DeviceRootTest {
  std::unique_ptr<adserver::AdServer> server;
  std::shared_ptr<TypedSlot> slot = std::make_shared<TypedSlot>();
  std::shared_ptr<QMABannerAdViewDelegate> bannerDelegate;
  std::shared_ptr<QMAAdView> view;
  const std::string page = "https://ads.example/creative/";

  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    server = std::make_unique<adserver::AdServer>(adserver::AdServer::parseScenario(R"({"files": {
        "/missing/mraid_app_banner.js": {"status": 404, "body": "not here"}}})"));
    ASSERT_TRUE(server->start());
    QMAMRAIDInterceptor::allow();
    QMAMRAIDInterceptor::resetCanInitWithRequestCounter();
    QMAMRAIDInterceptor::setBannerImplementationPath(server->baseURL() + adserver::AdServer::kMRAIDBannerPath);
    QMAMRAIDInterceptor::setInterstitialImplementationPath(server->baseURL() +
                                                           adserver::AdServer::kMRAIDInterstitialPath);
    QMAMRAIDInterceptor::setExpandedBannerImplementationPath(server->baseURL() +
                                                             adserver::AdServer::kMRAIDExpandedBannerPath);
    slot->type = QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner);
    bannerDelegate = QMABannerAdViewDelegate::initWithSlot(slot);
    view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
  }
  void TearDown() override {
    view.reset();
    QMAAdURLStash::removeAll();
    QMAMRAIDInterceptor::resetCanInitWithRequestCounter();
    QMAMRAIDInterceptor::resetToDefaultPaths();
    QMAMRAIDInterceptor::allow();
    server.reset();
    DeviceRootTest::TearDown();
  }
};

TEST_F(Interceptor, AnswersOnlyWhileAllowedLoadingAndAskedByARegisteredPage) {
  const std::string script = "https://cdn.example/lib/mraid.js";
  EXPECT_FALSE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page))) << "nothing registered";
  QMAAdURLStash::addURLForView(*net::URL::fromString(page + "#top"), view);
  EXPECT_FALSE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page))) << "no load in flight";
  QMAMRAIDInterceptor::enableCanInitWithRequest();
  struct Case {
    const char* name;
    std::string url;
    std::optional<std::string> referer;
    bool intercepted;
  } cases[] = {
      {"the page as registered", script, page, true},
      {"with :80 and no trailing slash", script, "https://ads.example:80/creative", true},
      {"any host, any folder", "http://other.example/a/b/mraid.js?v=2", page, true},
      {"no referer", script, std::nullopt, false},
      {"an empty referer", script, "", false},
      {"an unregistered page", script, "https://ads.example/other", false},
      {"letter case differs", "https://cdn.example/lib/MRAID.js", page, false},
      {"only begins with mraid.js", "https://cdn.example/lib/mraid.jsx", page, false},
      {"another script", "https://cdn.example/lib/app.js", page, false},
      {"a script URL itself", server->baseURL() + adserver::AdServer::kMRAIDBannerPath, page, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(c.url, c.referer)), c.intercepted) << c.name;

  QMAMRAIDInterceptor::disallow();
  EXPECT_FALSE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page))) << "the server turned it off";
  QMAMRAIDInterceptor::allow();
  EXPECT_TRUE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page)));
  // The registry hands the request to the interceptor.
  EXPECT_TRUE(net::URLProtocolRegistry::protocolForRequest(mraidRequest(script, page)));
  QMAAdURLStash::removeURLForView(*net::URL::fromString(page), view.get());
  EXPECT_FALSE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page))) << "the page went away";
}

// A disable that no enable matched is lost, so it cannot hide the next load in flight.
TEST_F(Interceptor, TheLoadsInFlightCounterStopsAtZero) {
  const std::string script = "https://cdn.example/lib/mraid.js";
  QMAAdURLStash::addURLForView(*net::URL::fromString(page), view);
  QMAMRAIDInterceptor::disableCanInitWithRequest();
  QMAMRAIDInterceptor::disableCanInitWithRequest();
  EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), 0);
  EXPECT_FALSE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page))) << "no load in flight";
  QMAMRAIDInterceptor::enableCanInitWithRequest();
  EXPECT_EQ(QMAMRAIDInterceptor::canInitWithRequestCounter(), 1);
  EXPECT_TRUE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page))) << "the load after them";
  QMAMRAIDInterceptor::disableCanInitWithRequest();
  EXPECT_FALSE(QMAMRAIDInterceptor::canInitWithRequest(mraidRequest(script, page))) << "that load ended";
}

TEST_F(Interceptor, ThePageGetsTheScriptOfItsKindOfAd) {
  QMAAdURLStash::addURLForView(*net::URL::fromString(page), view);
  const std::string script = "https://cdn.example/mraid.js";
  struct Case {
    const char* name;
    bool bannerDelegate;
    bool interstitialSlot;
    std::string expected;
  } cases[] = {
      {"banner delegate, interstitial slot", true, true, server->baseURL() + adserver::AdServer::kMRAIDInterstitialPath},
      {"banner delegate, banner slot", true, false, server->baseURL() + adserver::AdServer::kMRAIDBannerPath},
      {"any other delegate", false, false, server->baseURL() + adserver::AdServer::kMRAIDExpandedBannerPath},
  };
  auto other = QMAAdViewDelegate::init();
  for (const auto& c : cases) {
    slot->type = c.interstitialSlot ? QMAAdType::interstitialAdType() : QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner);
    if (c.bannerDelegate)
      view->setDelegate(bannerDelegate);
    else
      view->setDelegate(other);
    QMAMRAIDInterceptor chosen(mraidRequest(script, page));
    EXPECT_EQ(chosen.mraidLocationToLoad(), c.expected) << c.name;
  }
  EXPECT_EQ(QMAMRAIDInterceptor(mraidRequest(script, std::nullopt)).mraidLocationToLoad(), std::nullopt);
}

TEST_F(Interceptor, AnswersWithTheDownloadedScriptUnderTheScriptsOwnURL) {
  QMAAdURLStash::addURLForView(*net::URL::fromString(page), view);
  view->setDelegate(bannerDelegate);
  slot->type = QMAAdType::interstitialAdType();
  auto client = std::make_shared<Client>();
  QMAMRAIDInterceptor interceptor;
  interceptor.startLoading(mraidRequest("https://cdn.example/mraid.js", page), client);
  ASSERT_TRUE(client->waitForEnd());
  ASSERT_FALSE(client->error) << client->error->localizedDescription();
  ASSERT_TRUE(client->response);
  EXPECT_EQ(client->response->url.absoluteString(), server->baseURL() + adserver::AdServer::kMRAIDInterstitialPath);
  EXPECT_EQ(client->response->mimeType, "application/javascript");
  EXPECT_EQ(client->response->expectedContentLength, static_cast<std::int64_t>(client->body.size()));
  EXPECT_EQ(client->body, adserver::mraidScript("interstitial"));
}

TEST_F(Interceptor, APageWhoseScriptCannotBeHadSeesItsScriptLoadFail) {
  QMAAdURLStash::addURLForView(*net::URL::fromString(page), view);
  view->setDelegate(bannerDelegate);
  struct Case {
    const char* name;
    std::optional<std::string> bannerPath;
    std::string domain;
    long code;
  } cases[] = {
      {"the server constants cleared the path", std::nullopt, "NSCocoaErrorDomain", -1000},
      {"the script is not on the server", server->baseURL() + "/missing/mraid_app_banner.js", "NSURLErrorDomain",
       -1011},
  };
  for (const auto& c : cases) {
    QMAMRAIDInterceptor::setBannerImplementationPath(c.bannerPath);
    auto client = std::make_shared<Client>();
    QMAMRAIDInterceptor interceptor;
    interceptor.startLoading(mraidRequest("https://cdn.example/mraid.js", page), client);
    ASSERT_TRUE(client->waitForEnd()) << c.name;
    ASSERT_TRUE(client->error) << c.name;
    EXPECT_EQ(client->error->domain, c.domain) << c.name;
    EXPECT_EQ(client->error->code, c.code) << c.name;
    EXPECT_FALSE(client->finished) << c.name;
  }
  // A server that is not there: the download's own error.
  server->stop();
  QMAMRAIDInterceptor::setBannerImplementationPath(server->baseURL() + adserver::AdServer::kMRAIDBannerPath);
  auto client = std::make_shared<Client>();
  QMAMRAIDInterceptor interceptor;
  interceptor.startLoading(mraidRequest("https://cdn.example/mraid.js", page), client);
  ASSERT_TRUE(client->waitForEnd());
  EXPECT_TRUE(client->error);
  EXPECT_FALSE(client->finished);
}

// The whole way: a creative in an ad view asks for "mraid.js" on a host of its own and
// runs our script. The script comes from another origin than the page, so the engine
// itself would send only the page's origin as its Referer.
TEST_F(Interceptor, ACreativeInAnAdViewRunsOurScript) {
  QMAMRAIDInterceptor::enableCanInitWithRequest();
  bool finished = false;
  std::vector<std::string> messages;
  // Takes the page's bridge messages as an ad view delegate does, and lets the rest load.
  struct D : QMAAdViewDelegateProtocol {
    bool* f;
    std::vector<std::string>* m;
    std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView&, const net::URLRequest& r,
                                                                       webkit::NavigationType) override {
      if (r.url.scheme() != "qomb") return true;
      m->push_back(r.url.absoluteString());
      return false;
    }
    void adViewDidFinishLoad(QMAAdView&) override { *f = true; }
  };
  auto d = std::make_shared<D>();
  d->f = &finished;
  d->m = &messages;
  view->setDelegate(d);
  view->loadHTMLStringBaseURL(
      "<html><head><script src=\"https://creatives.example/lib/mraid.js\"></script></head>"
      "<body><script>var kind = typeof mraid === 'object' ? mraid.getPlacementType() : 'none';</script></body></html>",
      net::URL::fromString(page));
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return finished; }));
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("kind"), "inline");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("mraid.getVersion() + ' ' + mraid.getState()"),
            "2.0 loading");
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{"qomb://mraid/mraidLoaded"});
  view->setDelegate({});
}

}  // namespace
