#include "ads/services/url_connection.h"

#include <gtest/gtest.h>

#include <atomic>

#include "ads/services/test_support.h"
#include "platform/net/http_date.h"
#include "platform/net/test_server.h"

namespace {

using foundation::Clock;
using foundation::Date;

net::URL url(const std::string& text) { return *net::URL::fromString(text); }

constexpr double kNow = 1'500'000'000;  // the fixture's hand-driven wall clock

std::string httpDate(double t) { return net::formatHTTPDateWithoutZone(t) + " GMT"; }

TEST(ResponseExpiry, FollowsPragmaCacheControlAndExpiresAgainstTheServerDate) {
  qma_test::ScopedManualClock clock(kNow);
  struct Case {
    const char* name;
    net::HTTPHeaders headers;
    std::optional<double> expiry;  // seconds from now
  };
  const Case cases[] = {
      {"max-age counts from the server's Date", {{"Date", httpDate(kNow - 10)}, {"Cache-Control", "max-age=300"}}, 290},
      {"no Date: from now", {{"Cache-Control", "public, max-age=60"}}, 60},
      {"no-store wins", {{"Cache-Control", "private, no-store, max-age=300"}}, std::nullopt},
      {"max-age=0", {{"Cache-Control", "max-age=0"}, {"Expires", httpDate(kNow + 100)}}, std::nullopt},
      {"unreadable max-age falls to Expires",
       {{"Date", httpDate(kNow)}, {"Cache-Control", "max-age=abc"}, {"Expires", httpDate(kNow + 3600)}},
       3600},
      {"Pragma no-cache", {{"Pragma", "no-cache"}, {"Expires", httpDate(kNow + 3600)}}, std::nullopt},
      {"Expires equal to Date", {{"Date", httpDate(kNow)}, {"Expires", httpDate(kNow)}}, std::nullopt},
      {"server lifetime on the local clock",
       {{"Date", httpDate(kNow - 86400)}, {"Expires", httpDate(kNow - 86400 + 3600)}},
       3600},
      {"asctime and RFC 850 dates",
       {{"Date", "Fri Jul 14 02:40:00 2017"}, {"Expires", "Friday, 14-Jul-17 03:40:00 GMT"}},
       3600},
      {"unreadable Date counts as now", {{"Date", "yesterday"}, {"Cache-Control", "max-age=60"}}, 60},
      {"nothing to go by", {{"Date", httpDate(kNow)}}, std::nullopt},
      {"unreadable Expires", {{"Expires", "0"}}, std::nullopt},
  };
  for (const auto& c : cases) {
    net::URLResponse response{url("http://h/"), true, 200, c.headers, "", -1};
    auto expiry = qma_expirationDate(response);
    if (c.expiry) {
      ASSERT_TRUE(expiry) << c.name;
      EXPECT_EQ(expiry->timeIntervalSince1970, kNow + *c.expiry) << c.name;
    } else {
      EXPECT_FALSE(expiry) << c.name;
    }
  }
}

TEST(ResponseCacheKey, AdURLsOfOneSlotShareAnEntry) {
  auto key = &QMAURLConnection::cacheKeyForURL;
  EXPECT_EQ(key(url("http://ads/get?slotname=s1&seq=1")), key(url("http://ads/get?seq=2&slotname=s1")));
  EXPECT_NE(key(url("http://ads/get?slotname=s1")), key(url("http://ads/get?slotname=s2")));
  EXPECT_NE(key(url("http://ads/get?slotname=s1")), key(url("http://ads/other?slotname=s1")));
  EXPECT_NE(key(url("http://ads/get?a=1")), key(url("http://ads/get?a=2")));
  EXPECT_EQ(key(url("http://ads/get?a=1")).size(), 16u);
}

struct Recorder : QMAURLConnectionDelegate {
  std::vector<std::string> events;
  std::optional<std::string> body;
  std::optional<net::URL> baseURL;
  std::optional<foundation::Error> error;
  bool allowCache = false;
  bool vetoRedirects = false;
  bool done = false;

  std::optional<foundation::Error> connectionShouldRedirectToURL(QMAURLConnection&, const net::URL& u) override {
    events.push_back("should redirect " + u.path());
    if (vetoRedirects) return foundation::Error{"test", 7, {}};
    return std::nullopt;
  }
  void connectionLoadDidReceiveRedirectResponse(QMAURLConnection&, const net::URLResponsePtr& r) override {
    events.push_back("redirect " + std::to_string(r->statusCode));
  }
  bool connectionLoadShouldUseCachedResponse(QMAURLConnection&, const net::URLResponsePtr& r) override {
    events.push_back("response " + std::to_string(r->statusCode));
    return allowCache;
  }
  void connectionLoadDidReceiveCachedResponse(QMAURLConnection&, const net::URLResponsePtr&) override {
    events.push_back("cached");
  }
  void connectionLoadDidFinishBaseURL(QMAURLConnection&, const std::optional<std::string>& b,
                                      const std::optional<net::URL>& base) override {
    events.push_back("finish " + b.value_or("<not text>"));
    body = b;
    baseURL = base;
    done = true;
  }
  void connectionLoadDidFailHttpStatusCode(QMAURLConnection&, const std::optional<foundation::Error>& e,
                                           long status) override {
    events.push_back("fail " + std::to_string(status) + (e ? " " + e->domain : ""));
    error = e;
    done = true;
  }
};

struct URLConnectionTest : qma_test::DeviceRootTest {
  net::testing::TestServer server;
  std::atomic<int> hits{0};
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

  void SetUp() override {
    DeviceRootTest::SetUp();
    QMAURLConnection::clearCache();
    auto& s = server.server();
    s.Get("/start", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ad", 302); });
    s.Get("/ad", [this](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "max-age=60");
      res.set_content("ad " + std::to_string(++hits), "text/html");
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("gone", "text/plain");
    });
    s.Get("/binary", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string("\xff\xfe", 2), "application/octet-stream");
    });
    // "Café crème" in Latin-1, declared by the answer or by the page's own meta, and text
    // with bytes that are not UTF-8.
    s.Get("/latin1", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("Caf\xE9 cr\xE8me", "text/html; charset=ISO-8859-1");
    });
    s.Get("/latin1-meta", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<meta charset=latin1>Caf\xE9", "text/html");
    });
    s.Get("/not-utf8", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("ad \xFF!", "text/html");
    });
    s.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
      res.status = 503;
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset == 0) sink.write("part", 4);
        return offset == 0;  // the second call gives up mid-body
      });
    });
    server.start();
  }

  bool start(const std::shared_ptr<QMAURLConnection>& c, const std::string& path,
             foundation::Error* error = nullptr) {
    recorder->done = false;
    return c->startWithRequestURLDelegateError(net::URLRequest(url(server.url(path))), recorder, error);
  }
  void runUntilDone() {
    ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return recorder->done; }, 10));
  }
};

TEST_F(URLConnectionTest, LoadsFollowingRedirectsAndReportsTheBodyWithItsBaseURL) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/start"));
  EXPECT_TRUE(c->isInProgress());
  runUntilDone();
  EXPECT_EQ(recorder->events,
            (std::vector<std::string>{"should redirect /ad", "redirect 302", "response 200", "finish ad 1"}));
  EXPECT_EQ(recorder->baseURL->absoluteString(), server.url("/ad"));
  EXPECT_FALSE(c->isInProgress());
  EXPECT_FALSE(c->sourceURL());
  EXPECT_EQ(QMAURLConnection::memoryCache().count(), 0u);  // the delegate did not allow the cache
}

TEST_F(URLConnectionTest, AnAllowedCacheAnswersLaterStartsUntilTheEntryGoesStale) {
  recorder->allowCache = true;
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/ad"));
  runUntilDone();
  EXPECT_EQ(QMAURLConnection::memoryCache().count(), 1u);

  // The same object now asks the cache before the network, at once.
  recorder->events.clear();
  ASSERT_TRUE(start(c, "/ad"));
  EXPECT_FALSE(c->isInProgress());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"cached", "finish ad 1"}));
  EXPECT_EQ(hits, 1);

  // Another object hears the network's response first, then takes the cached body.
  auto other = QMAURLConnection::create();
  recorder->events.clear();
  ASSERT_TRUE(start(other, "/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "cached", "finish ad 1"}));
  EXPECT_FALSE(other->isInProgress());

  Clock::advance(61);
  recorder->events.clear();
  ASSERT_TRUE(start(c, "/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "finish ad 3"}));
}

TEST_F(URLConnectionTest, AStartWhileLoadingIsRefusedAndKeepsTheRunningLoad) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/ad"));
  auto intruder = std::make_shared<Recorder>();
  foundation::Error error;
  EXPECT_FALSE(c->startWithRequestURLDelegateError(net::URLRequest(url(server.url("/missing"))), intruder, &error));
  EXPECT_EQ(error.domain, "com.quillon.ads");
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.localizedDescription(), "Ignoring -- Currently loading " + server.url("/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->body, "ad 1");
  EXPECT_TRUE(intruder->events.empty());
}

TEST_F(URLConnectionTest, AVetoedRedirectFailsWithTheDelegatesErrorBeforeTheRedirectNotice) {
  recorder->vetoRedirects = true;
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/start"));
  runUntilDone();
  // A second load flushes anything the vetoed one could still have sent.
  auto probe = std::make_shared<Recorder>();
  auto p = QMAURLConnection::create();
  p->startWithRequestURLDelegateError(net::URLRequest(url(server.url("/missing"))), probe);
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return probe->done; }, 10));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"should redirect /ad", "fail -1 test", "redirect 302"}));
  EXPECT_FALSE(c->isInProgress());
  EXPECT_EQ(c->destinationURL()->absoluteString(), server.url("/ad"));
  EXPECT_EQ(hits, 0);
}

TEST_F(URLConnectionTest, ARequestNoConnectionCanCarryFailsAndLeavesTheObjectFree) {
  auto c = QMAURLConnection::create();
  foundation::Error error;
  recorder->done = false;
  EXPECT_FALSE(c->startWithRequestURLDelegateError(net::URLRequest(url("ftp://127.0.0.1/x")), recorder, &error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"fail -1"});
  EXPECT_FALSE(c->isInProgress());
  ASSERT_TRUE(start(c, "/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->body, "ad 1");
}

TEST_F(URLConnectionTest, StatusesBodiesAndBrokenTransfers) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/missing"));
  runUntilDone();
  EXPECT_EQ(recorder->events.back(), "finish gone");  // the delegate judges the status

  ASSERT_TRUE(start(c, "/binary"));
  runUntilDone();
  EXPECT_FALSE(recorder->body);

  ASSERT_TRUE(start(c, "/broken"));
  runUntilDone();
  EXPECT_EQ(recorder->events.back(), "fail 503 net.load");

  net::testing::TestServer closed;
  closed.start();
  auto dead = closed.url("/x");
  closed.stop();
  recorder->done = false;
  ASSERT_TRUE(c->startWithRequestURLDelegateError(net::URLRequest(url(dead)), recorder));
  runUntilDone();
  EXPECT_EQ(recorder->events.back(), "fail -1 net.load");
}

// A text answer is read by the charset it declares; bytes not valid there never cost it
// its text. A binary answer has text only when its bytes are UTF-8.
TEST_F(URLConnectionTest, TextIsReadByItsDeclaredCharset) {
  const struct {
    const char* path;
    std::optional<std::string> body;
  } cases[] = {
      {"/latin1", "Caf\xC3\xA9 cr\xC3\xA8me"},
      {"/latin1-meta", "<meta charset=latin1>Caf\xC3\xA9"},
      {"/not-utf8", "ad \xEF\xBF\xBD!"},
      {"/binary", std::nullopt},
  };
  for (const auto& c : cases) {
    auto connection = QMAURLConnection::create();
    ASSERT_TRUE(start(connection, c.path));
    runUntilDone();
    EXPECT_EQ(recorder->body, c.body) << c.path;
  }
}

TEST_F(URLConnectionTest, CancelSilencesTheDelegateAndStopKeepsIt) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/ad"));
  c->cancel();
  EXPECT_FALSE(c->delegate());
  EXPECT_FALSE(c->isInProgress());
  ASSERT_TRUE(start(c, "/ad"));
  c->stop();
  EXPECT_EQ(c->delegate(), recorder);
  ASSERT_TRUE(start(c, "/missing"));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 404", "finish gone"}));
}

}  // namespace
