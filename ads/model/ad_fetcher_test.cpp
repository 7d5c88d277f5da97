#include "ads/model/ad_fetcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

#include "ads/model/test_support.h"
#include "ads/services/content_hashing.h"
#include "ads/services/logging.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/log.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/test_server.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

struct Recorder : QMAAdFetcherDelegate {
  int calls = 0;
  std::shared_ptr<QMAAd> fetched;
  std::shared_ptr<QMAAd> failedAd;
  std::optional<QMARequestError> error;
  std::uint64_t responseCode = 999;

  void adFetcherDidFetchAd(QMAAdFetcher&, const std::shared_ptr<QMAAd>& ad) override {
    ++calls;
    fetched = ad;
  }
  void adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher&, const std::shared_ptr<QMAAd>& ad,
                                                      const std::optional<QMARequestError>& e,
                                                      std::uint64_t code) override {
    ++calls;
    failedAd = ad;
    error = e;
    responseCode = code;
  }
};

struct FakeTokens : QMAAdFetcherTokenSource {
  std::optional<std::string> current = "tok-1";
  std::vector<std::string> refreshed;
  std::optional<std::string> token() override { return current; }
  void refreshToken(const std::string& t) override { refreshed.push_back(t); }
};

std::vector<std::string> texts(const QMAURLSet& set) {
  std::vector<std::string> out;
  for (const auto& u : set.urls()) out.push_back(u.absoluteString());
  return out;
}

struct AdFetcher : model_test::ModelTest {
  net::testing::TestServer server;
  std::atomic<int> hits{0};
  std::mutex mu;
  std::vector<std::string> seenAuthorization;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<FakeTokens> tokens = std::make_shared<FakeTokens>();

  // Each path answers with the headers and body the test registered for it.
  struct Answer {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body = "<html>ad</html>";
    std::string contentType = "text/html";  // empty: no Content-Type at all
    bool numbered = false;  // the body gets the number of the request appended
  };
  std::map<std::string, Answer> answers;

  void SetUp() override {
    ModelTest::SetUp();
    QMAURLConnection::clearCache();
    server.server().Get(R"(/(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
      int hit = ++hits;
      {
        std::lock_guard lock(mu);
        seenAuthorization.push_back(req.get_header_value("Authorization"));
      }
      Answer a;
      {
        std::lock_guard lock(mu);
        auto it = answers.find(req.path);
        if (it != answers.end()) a = it->second;
      }
      res.status = a.status;
      for (const auto& [k, v] : a.headers) res.set_header(k, v);
      const std::string body = a.numbered ? a.body + std::to_string(hit) : a.body;
      if (a.contentType.empty()) {
        res.body = body;  // an untyped answer
      } else {
        res.set_content(body, a.contentType);
      }
    });
    server.start();
  }
  void TearDown() override {
    QMAContentHashing::sharedInstance().stopContentHashing();
    server.stop();
    QMAURLConnection::clearCache();
    ModelTest::TearDown();
  }

  void answer(const std::string& path, const std::function<void(Answer&)>& fill = nullptr) {
    Answer a;
    if (fill) fill(a);
    std::lock_guard lock(mu);
    answers[path] = std::move(a);
  }

  std::shared_ptr<QMAAdFetcher> fetcher() {
    auto f = QMAAdFetcher::init();
    f->setTokenSource(tokens);
    return f;
  }

  // Fetches the ad URL the way the slot does and waits for the outcome.
  std::shared_ptr<QMAAdFetcher> fetch(const std::string& path, std::shared_ptr<QMARequest> request = nullptr) {
    auto f = fetcher();
    auto ad = QMABannerAd::init();
    ad->setAdURL(net::URL::fromString(server.url(path)));
    EXPECT_TRUE(f->fetchRemainingContentForAdHeadersDelegateRequestError(ad, std::nullopt, recorder, request, nullptr));
    EXPECT_TRUE(dispatch::RunLoop::main().runUntil([&] { return recorder->calls > 0; }, 10));
    return f;
  }
};

TEST_F(AdFetcher, EachResponseTypeFromTheHeaders) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string contentType;
    std::optional<std::uint64_t> type;  // nullopt: a failure
    long errorCode = -1;
  };
  const Case cases[] = {
      {"plain HTML", {}, "text/html", 1},
      {"mediation with JSON", {{"X-Qvra-Mediation", "1"}}, "application/json; charset=utf-8", 2},
      {"mediation without JSON", {{"x-qvra-mediation", "true"}}, "text/html", std::nullopt, 3},
      {"native in any case", {{"X-QVRA-AD-FORMAT", "NATIVE"}}, "application/json", 3},
      {"custom rendering", {{"x-qvra-custom-rendering-allowed", "YES"}}, "text/html", 4},
      {"mediation wins over native",
       {{"x-qvra-mediation", "1"}, {"x-qvra-ad-format", "native"}},
       "application/json",
       2},
      {"a false mediation header is none", {{"x-qvra-mediation", "0"}}, "application/json", 1},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = "/case" + std::to_string(n++);
    answer(path, [&](Answer& a) {
      a.headers = c.headers;
      a.body = "{\"k\":1}";
      a.contentType = c.contentType;
    });
    recorder = std::make_shared<Recorder>();
    auto f = fetch(path);
    EXPECT_EQ(recorder->calls, 1);
    if (c.type) {
      ASSERT_TRUE(recorder->fetched);
      EXPECT_EQ(recorder->fetched->responseType(), *c.type);
      EXPECT_EQ(recorder->fetched->adHTML(), "{\"k\":1}");
      EXPECT_EQ(recorder->fetched->adBaseURL()->absoluteString(), server.url(path));
    } else {
      EXPECT_FALSE(recorder->fetched);
      ASSERT_TRUE(recorder->error);
      EXPECT_EQ(recorder->error->code, c.errorCode);
      EXPECT_EQ(recorder->responseCode, 0u);
      EXPECT_EQ(recorder->failedAd->responseType(), 0u);
    }
    // The fetch is over either way: nothing more arrives.
    drainMain();
    EXPECT_EQ(recorder->calls, 1);
    EXPECT_TRUE(f->hasNotifiedDelegate());
  }
}

TEST_F(AdFetcher, ResponseHeadersBecomeAdProperties) {
  answer("/full", [&](Answer& a) {
    a.headers = {
        {"X-Qvra-Click-Tracking-Urls", "http://c/1  http://c/2\thttp://c/3"},
        {"x-qvra-tracking-urls", "http://i/1"},
        {"x-qvra-manual-tracking-urls", "http://m/1 not%zzurl"},
        {"x-qvra-vistrace", R"({"enabled":true})"},
        {"x-qvra-orientation", "landscape"},
        {"X-QVRA-REFRESH-RATE", "30"},
        {"x-qvra-debug-dialog", "dbg"},
        {"x-qvra-ad-size", "300x250"},
        {"x-qvra-disable-activation-and-scroll", "1"},
        {"x-qvra-use-https", "true"},
        {"x-qvra-content-url-opted-out", "false"},
        {"x-qvra-swipe-to-view-controller", R"({"app_store_product_id": 77})"},
    };
  });
  fetch("/full");
  auto ad = recorder->fetched;
  ASSERT_TRUE(ad);
  EXPECT_EQ(texts(ad->clickURLs()), (std::vector<std::string>{"http://c/1", "http://c/2", "http://c/3"}));
  EXPECT_EQ(texts(ad->impressionURLs()), std::vector<std::string>{"http://i/1"});
  EXPECT_EQ(texts(ad->manualImpressionURLs()), std::vector<std::string>{"http://m/1"});
  EXPECT_EQ(ad->vistraceConfigurations(), (Dictionary{{"enabled", true}}));
  EXPECT_EQ(ad->supportedOrientations(), 24u);
  EXPECT_EQ(ad->reloadInterval(), 30);
  EXPECT_EQ(ad->debugDialog(), "dbg");
  EXPECT_EQ(ad->customAdSizeString(), "300x250");
  EXPECT_FALSE(ad->isScrollEnabled());
  ASSERT_TRUE(ad->swipeToViewControllerConfigurations());
  EXPECT_EQ(ad->swipeToViewControllerConfigurations()->swipeableInAppStoreProductID(), Value(77));
  EXPECT_EQ(ad->responseHeaders()->at("x-qvra-refresh-rate"), Value("30"));
  EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->objectForKey("/quillon/ads/use_https"), Value(true));
  EXPECT_TRUE(QMAContentHashing::sharedInstance().isRunning());
}

TEST_F(AdFetcher, LaterHeaderSetsAccumulateListsAndReplaceTheRest) {
  auto f = fetcher();
  auto ad = QMAAd::init();
  ad->setAdHTML("<p>ad</p>");
  Dictionary first{{"x-qvra-click-tracking-urls", "http://c/1"},
                   {"x-qvra-refresh-rate", "30"},
                   {"x-qvra-orientation", "portrait"},
                   {"x-qvra-debug-dialog", "dbg"},
                   {"x-qvra-vistrace", R"({"a":1})"},
                   {"x-qvra-disable-activation-and-scroll", "yes"},
                   {"x-qvra-content-url-opted-out", "false"}};
  ASSERT_TRUE(f->fetchRemainingContentForAdHeadersDelegateRequestError(ad, first, recorder, nullptr, nullptr));
  EXPECT_TRUE(QMAContentHashing::sharedInstance().isRunning());

  struct Step {
    const char* what;
    Dictionary headers;
    double interval;
  };
  const Step steps[] = {
      {"a negative rate leaves the interval", {{"x-qvra-refresh-rate", "-5"}}, 30},
      {"an empty rate leaves it", {{"x-qvra-refresh-rate", ""}}, 30},
      {"a rate that is no text leaves it", {{"x-qvra-refresh-rate", 12}}, 30},
      {"a rate beyond any double leaves it", {{"x-qvra-refresh-rate", "1e999"}}, 30},
      {"a later rate replaces it",
       {{"X-Qvra-Refresh-Rate", "12.5"}, {"x-qvra-click-tracking-urls", "http://c/2"}},
       12.5},
  };
  for (const auto& s : steps) {
    f->processHTTPHeaders(s.headers);
    EXPECT_EQ(ad->reloadInterval(), s.interval) << s.what;
  }
  EXPECT_EQ(texts(ad->clickURLs()), (std::vector<std::string>{"http://c/1", "http://c/2"}));
  EXPECT_EQ(ad->supportedOrientations(), 6u);  // kept: no later orientation header
  EXPECT_FALSE(ad->debugDialog());             // cleared by sets without it
  EXPECT_FALSE(ad->vistraceConfigurations());
  EXPECT_TRUE(ad->isScrollEnabled());
  EXPECT_FALSE(QMAContentHashing::sharedInstance().isRunning());

  // Values from the page or a preset ad that are not of the header's kind count as absent.
  f->processHTTPHeaders({{"x-qvra-vistrace", "[1,2]"},
                         {"x-qvra-click-tracking-urls", 5},
                         {"x-qvra-orientation", Value(Dictionary{})},
                         {"x-qvra-swipe-to-view-controller", "[]"},
                         {"x-qvra-mediation", Value(foundation::Array{})}});
  EXPECT_FALSE(ad->vistraceConfigurations());
  EXPECT_EQ(ad->clickURLs().size(), 2u);
  EXPECT_FALSE(ad->swipeToViewControllerConfigurations());
  EXPECT_EQ(ad->responseType(), 1u);

  drainMain();
  EXPECT_EQ(recorder->fetched, ad);
}

TEST_F(AdFetcher, AnAdThatHasItsHTMLIsReportedOnTheNextTurnWithoutALoad) {
  auto f = fetcher();
  auto ad = QMAAd::init();
  ad->setAdHTML("<p>preset</p>");
  ad->setAdURL(net::URL::fromString(server.url("/never")));
  ASSERT_TRUE(f->fetchRemainingContentForAdHeadersDelegateRequestError(
      ad, Dictionary{{"x-qvra-custom-rendering-allowed", "1"}}, recorder, nullptr, nullptr));
  EXPECT_EQ(recorder->calls, 0);
  drainMain();
  EXPECT_EQ(recorder->fetched, ad);
  EXPECT_EQ(ad->responseType(), 4u);
  EXPECT_EQ(hits, 0);

  // Nothing to load and no HTML: no ad.
  auto empty = std::make_shared<Recorder>();
  auto g = fetcher();
  ASSERT_TRUE(
      g->fetchRemainingContentForAdHeadersDelegateRequestError(QMAAd::init(), std::nullopt, empty, nullptr, nullptr));
  drainMain();
  ASSERT_TRUE(empty->error);
  EXPECT_EQ(empty->error->code, 1);
}

TEST_F(AdFetcher, StatusesOf400AndAboveAreFailuresNeverAds) {
  std::vector<std::string> lines;
  std::mutex logMu;
  auto previous = foundation::setLogSink([&](const std::string& l) {
    std::lock_guard lock(logMu);
    lines.push_back(l);
  });
  auto request = QMARequest::request();
  request->setKeywords(std::vector<std::string>{"k"});
  struct Case {
    int status;
    long code;
    const char* statusText;
  };
  const Case cases[] = {
      {400, 0, "HTTP status 400: bad request"},
      {404, 3, "HTTP status 404: not found"},
      {500, 3, "HTTP status 500: internal server error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    std::string path = "/status" + std::to_string(c.status);
    answer(path, [&](Answer& a) {
      a.status = c.status;
      a.body = "<html>error page</html>";
    });
    recorder = std::make_shared<Recorder>();
    fetch(path, request);
    EXPECT_FALSE(recorder->fetched);
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code, c.code);
    EXPECT_EQ(recorder->responseCode, static_cast<std::uint64_t>(c.status));
    EXPECT_EQ(*foundation::stringForKey(recorder->error->userInfo, "HttpStatus"), c.statusText);
    EXPECT_EQ(recorder->error->userInfo.contains("kw"), c.code == 0);  // an invalid request carries the request
    EXPECT_FALSE(recorder->failedAd->adHTML());
  }
  QMALogQueue()->sync([] {});
  foundation::setLogSink(previous);
  EXPECT_EQ(lines,
            std::vector<std::string>{
                "<Quillon> Server rejected ad parameters. Typically this is because the ad unit ID is incorrect."});
}

// A body with no text is no ad: empty, or bytes that are not UTF-8 in an answer that
// declares no other charset.
TEST_F(AdFetcher, ABodyWithoutTextIsNoAd) {
  const struct {
    const char* path;
    std::string body;
    std::string contentType;
  } cases[] = {
      {"/empty", "", "text/html"},
      {"/picture", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\xFF\xD8", 18), ""},
      {"/latin", "<p>Caf\xE9</p>", "text/html"},
  };
  for (const auto& c : cases) {
    answer(c.path, [&](Answer& a) {
      a.body = c.body;
      a.contentType = c.contentType;
    });
    recorder = std::make_shared<Recorder>();
    fetch(c.path);
    EXPECT_FALSE(recorder->fetched) << c.path;
    ASSERT_TRUE(recorder->error) << c.path;
    EXPECT_EQ(recorder->error->code, 1) << c.path;
    EXPECT_EQ(recorder->responseCode, 0u) << c.path;
  }
}

TEST_F(AdFetcher, NoResponseAtAllIsAnInvalidResponse) {
  net::testing::TestServer closed;
  closed.start();
  std::string dead = closed.url("/ad");
  closed.stop();
  auto f = fetcher();
  auto ad = QMAAd::init();
  ad->setAdURL(net::URL::fromString(dead));
  ASSERT_TRUE(f->fetchRemainingContentForAdHeadersDelegateRequestError(ad, std::nullopt, recorder, nullptr, nullptr));
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return recorder->calls > 0; }, 10));
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->code, 13);
  EXPECT_EQ(recorder->responseCode, 0u);
  EXPECT_FALSE(recorder->error->userInfo.contains("HttpStatus"));
  EXPECT_FALSE(f->delegate());  // a failure cancels the fetcher
}

TEST_F(AdFetcher, AServerSilentPastTheTimeOutFailsOnTheProcessClock) {
  std::promise<void> arrived;
  std::promise<void> release;
  auto released = release.get_future().share();
  net::testing::TestServer slow;
  slow.server().Get("/slow", [&, released](const httplib::Request&, httplib::Response& res) {
    arrived.set_value();
    released.wait();
    res.set_content("late", "text/html");
  });
  slow.start();
  auto f = fetcher();
  auto ad = QMAAd::init();
  ad->setAdURL(net::URL::fromString(slow.url("/slow")));
  ASSERT_TRUE(f->fetchRemainingContentForAdHeadersDelegateRequestError(ad, std::nullopt, recorder, nullptr, nullptr));
  dispatch::RunLoop::main().drain();
  ASSERT_EQ(arrived.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  foundation::Clock::advance(59);
  dispatch::RunLoop::main().runOnce(0.05);
  EXPECT_EQ(recorder->calls, 0);
  foundation::Clock::advance(2);
  EXPECT_TRUE(dispatch::RunLoop::main().runUntil([&] { return recorder->calls > 0; }, 10));
  release.set_value();
  slow.stop();
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->code, 13);
}

TEST_F(AdFetcher, TheBearerTokenGoesOnlyToListedHostsOverHTTPS) {
  ASSERT_FALSE(QMAAdFetcher::whitelistedDomains().empty());
  std::string listed = *QMAAdFetcher::whitelistedDomains().begin();
  struct Case {
    std::string url;
    bool bearer;
  };
  const Case cases[] = {
      {"https://" + listed + "/ad", true},
      {"HTTPS://" + listed + "/ad?x=1", true},
      {"http://" + listed + "/ad", false},
      {"https://other.example/ad", false},
  };
  for (const auto& c : cases) {
    auto f = fetcher();
    auto url = net::URL::fromString(c.url);
    ASSERT_TRUE(url) << c.url;
    auto headers = f->requestHeadersForURL(*url);
    EXPECT_EQ(bool(headers), c.bearer) << c.url;
    if (headers) {
      EXPECT_EQ(headers->get("Authorization"), "Bearer tok-1");
    }
    EXPECT_EQ(f->signedInAdsToken(), c.bearer ? std::optional<std::string>("tok-1") : std::nullopt) << c.url;
  }
  tokens->current.reset();
  EXPECT_FALSE(fetcher()->requestHeadersForURL(*net::URL::fromString("https://" + listed + "/ad")));

  // The local server is no listed host and speaks plain HTTP: no token leaves.
  tokens->current = "tok-1";
  answer("/plain");
  fetch("/plain");
  std::lock_guard lock(mu);
  EXPECT_EQ(seenAuthorization, std::vector<std::string>{""});
}

TEST_F(AdFetcher, TheListOfHostsComesFromTheStoredValue) {
  using Set = std::set<std::string>;
  EXPECT_EQ(
      QMAAdFetcher::whitelistedDomainsFromStoredValue(Value(foundation::Array{"Ads.Example", "", 7, "b.example"})),
      (Set{"ads.example", "b.example"}));
  EXPECT_EQ(QMAAdFetcher::whitelistedDomainsFromStoredValue(Value(foundation::Array{""})), Set{});
  Set builtIn = QMAAdFetcher::whitelistedDomainsFromStoredValue(Value());
  EXPECT_EQ(builtIn.size(), 1u);
  EXPECT_EQ(QMAAdFetcher::whitelistedDomainsFromStoredValue(Value("ads.example")), builtIn);
}

TEST_F(AdFetcher, AStaleTokenIsRefreshedAndForgotten) {
  auto f = fetcher();
  std::string listed = *QMAAdFetcher::whitelistedDomains().begin();
  ASSERT_TRUE(f->requestHeadersForURL(*net::URL::fromString("https://" + listed + "/ad")));
  auto ad = QMAAd::init();
  ad->setAdHTML("<p/>");
  ASSERT_TRUE(f->fetchRemainingContentForAdHeadersDelegateRequestError(
      ad, Dictionary{{"x-qvra-oauth-token-status", "CLEAR"}}, recorder, nullptr, nullptr));
  EXPECT_EQ(tokens->refreshed, std::vector<std::string>{"tok-1"});
  EXPECT_FALSE(f->signedInAdsToken());
  f->processHTTPHeaders({{"x-qvra-oauth-token-status", "clear"}});
  EXPECT_EQ(tokens->refreshed.size(), 1u);
  drainMain();
}

TEST_F(AdFetcher, ASecondFetchIsRefused) {
  answer("/once");
  auto f = fetch("/once");
  ASSERT_TRUE(recorder->fetched);
  foundation::Error error;
  auto other = std::make_shared<Recorder>();
  EXPECT_FALSE(
      f->fetchRequestURLDelegateError(net::URLRequest(*net::URL::fromString(server.url("/once"))), other, &error));
  EXPECT_EQ(error.domain, "com.quillon.ads");
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.localizedDescription(), "Could not start fetch. This object has already been used to fetch.");
  drainMain();
  EXPECT_EQ(other->calls, 0);
  EXPECT_EQ(hits, 1);
}

TEST_F(AdFetcher, ARequestNoConnectionCanCarryFailsOnce) {
  auto f = fetcher();
  foundation::Error error;
  EXPECT_FALSE(
      f->fetchRequestURLDelegateError(net::URLRequest(*net::URL::fromString("ftp://127.0.0.1/ad")), recorder, &error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.localizedDescription(), "Failed to start ad connection.");
  drainMain();
  EXPECT_EQ(recorder->calls, 1);
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->code, 13);
}

TEST_F(AdFetcher, UseHTTPSIsStoredAsNoOnlyWhenNothingIsStored) {
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  ASSERT_TRUE(defaults->objectForKey("/quillon/ads/use_https").isNull());
  answer("/without");
  answer("/with", [&](Answer& a) { a.headers = {{"x-qvra-use-https", "1"}}; });
  fetch("/without");
  EXPECT_EQ(defaults->objectForKey("/quillon/ads/use_https"), Value(false));
  recorder = std::make_shared<Recorder>();
  fetch("/with");
  EXPECT_EQ(defaults->objectForKey("/quillon/ads/use_https"), Value(true));
  recorder = std::make_shared<Recorder>();
  fetch("/without");
  EXPECT_EQ(defaults->objectForKey("/quillon/ads/use_https"), Value(true));
}

TEST_F(AdFetcher, OnlyMediationResponsesComeFromTheCache) {
  answer("/mediation", [&](Answer& a) {
    a.headers = {{"x-qvra-mediation", "1"}, {"Cache-Control", "max-age=60"}};
    a.body = "m";
    a.contentType = "application/json";
    a.numbered = true;
  });
  answer("/html", [&](Answer& a) {
    a.headers = {{"Cache-Control", "max-age=60"}};
    a.body = "h";
    a.numbered = true;
  });
  std::vector<std::string> bodies;
  for (const char* path : {"/mediation", "/mediation", "/html", "/html"}) {
    recorder = std::make_shared<Recorder>();
    fetch(path);
    ASSERT_TRUE(recorder->fetched) << path;
    bodies.push_back(recorder->fetched->adHTML().value_or(""));
  }
  // The second mediation fetch takes the first one's body from the cache; HTML never does.
  EXPECT_EQ(bodies, (std::vector<std::string>{"m1", "m1", "h3", "h4"}));
}

}  // namespace
