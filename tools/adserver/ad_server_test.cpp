// The ad answers a scenario describes, seen from a plain HTTP client.
#include "tools/adserver/ad_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <thread>

namespace {

struct AdServerTest : ::testing::Test {
  std::unique_ptr<adserver::AdServer> server;
  std::unique_ptr<httplib::Client> client;
  void start(const char* scenario) {
    server = std::make_unique<adserver::AdServer>(adserver::AdServer::parseScenario(scenario));
    ASSERT_TRUE(server->start());
    client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
  }
};

TEST_F(AdServerTest, AnAdsResponseTypeBecomesItsHeadersAndTheScenariosOwnHeadersWin) {
  start(R"({"ads": {
      "m": {"response_type": "mediation", "body": "{}"},
      "n": {"response_type": "native", "body": "{}"},
      "c": {"response_type": "custom_rendering", "body": "<p>c</p>", "headers": {"X-Qvra-Refresh-Rate": "30"}},
      "o": {"response_type": "mediation", "content_type": "text/html", "headers": {"X-Qvra-Mediation": "0"}, "body": "x"}},
    "ad_rules": [{"when": {"slotname": "m"}, "ad": "m"}, {"when": {"slotname": "n"}, "ad": "n"},
                 {"when": {"slotname": "c"}, "ad": "c"}, {"when": {"slotname": "o"}, "ad": "o"}]})");
  auto m = client->Get("/qads/ad?slotname=m");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->get_header_value("X-Qvra-Mediation"), "1");
  EXPECT_EQ(m->get_header_value("Content-Type"), "application/json");
  auto n = client->Get("/qads/ad?slotname=n");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->get_header_value("X-Qvra-Ad-Format"), "native");
  auto c = client->Get("/qads/ad?slotname=c");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->get_header_value("X-Qvra-Custom-Rendering-Allowed"), "1");
  EXPECT_EQ(c->get_header_value("X-Qvra-Refresh-Rate"), "30");
  auto o = client->Get("/qads/ad?slotname=o");
  ASSERT_TRUE(o);
  EXPECT_EQ(o->get_header_value("X-Qvra-Mediation"), "0");
  EXPECT_EQ(o->get_header_value("Content-Type"), "text/html");
  auto none = client->Get("/qads/ad?slotname=other");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 200);
  EXPECT_EQ(none->body, "");  // no fill
}

TEST_F(AdServerTest, ATruncatedAnswerDropsTheConnectionInTheMiddleOfItsBody) {
  start(R"({"ads": {"cut": {"body": "<html>0123456789</html>", "truncate": true}}, "default_ad": "cut"})");
  auto res = client->Get("/qads/ad?slotname=x");
  EXPECT_FALSE(res);
  EXPECT_EQ(server->requestsForPath("/qads/ad").size(), 1u);
}

TEST_F(AdServerTest, AHangingAdAnswersOnlyWhenTheServerStops) {
  start(R"({"ads": {"slow": {"hang": true, "body": "late"}}, "default_ad": "slow"})");
  auto answer = std::async(std::launch::async, [this] { return client->Get("/qads/ad?slotname=x"); });
  while (server->requestsForPath("/qads/ad").empty()) std::this_thread::yield();
  EXPECT_EQ(answer.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  server->stop();  // returns: the hanging answer lets go
  auto res = answer.get();
  EXPECT_TRUE(!res || res->status == 503);
}

TEST_F(AdServerTest, AnAdNamesTheServersOwnAddressAndARuleServesItsAdsInTurn) {
  start(R"({"ads": {
      "one": {"body": "<a href='{base}/landing'>one</a>", "headers": {"X-Qvra-Click-Tracking-Urls": "{base}/c {base}/d"}},
      "two": {"body": "two"}},
    "ad_rules": [{"when": {"slotname": "turns"}, "ads": ["one", "two"]}]})");
  const std::string base = server->baseURL();
  std::vector<std::string> bodies;
  for (int i = 0; i < 3; ++i) {
    auto r = client->Get("/qads/ad?slotname=turns");
    ASSERT_TRUE(r);
    bodies.push_back(r->body);
    if (i == 0) {
      EXPECT_EQ(r->get_header_value("X-Qvra-Click-Tracking-Urls"), base + "/c " + base + "/d");
    }
  }
  EXPECT_EQ(bodies, (std::vector<std::string>{"<a href='" + base + "/landing'>one</a>", "two", bodies[0]}));
  EXPECT_THROW(adserver::AdServer::parseScenario(R"({"ads": {"a": {}}, "ad_rules": [{"ads": []}]})"), adserver::ScenarioError);
  EXPECT_THROW(adserver::AdServer::parseScenario(R"({"ads": {"a": {}}, "ad_rules": [{"ads": ["a", "b"]}]})"),
               adserver::ScenarioError);
}

TEST(AdServerScenario, RefusesAnswerFieldsOfTheWrongKindNamingThem) {
  struct Case {
    const char* scenario;
    const char* message;
  };
  const Case cases[] = {
      {R"({"ads": {"a": {"response_type": "video"}}})", "ads.a.response_type must be"},
      {R"({"ads": {"a": {"delay_ms": -1}}})", "ads.a.delay_ms must be an integer from 0 to 30000"},
      {R"({"ads": {"a": {"delay_ms": 30001}}})", "ads.a.delay_ms must be an integer from 0 to 30000"},
      {R"({"ads": {"a": {"hang": "yes"}}})", "ads.a.hang must be true or false"},
      {R"({"files": {"/x": {"truncate": 1}}})", "files./x.truncate must be true or false"},
  };
  for (const auto& c : cases) {
    try {
      adserver::AdServer::parseScenario(c.scenario);
      ADD_FAILURE() << "accepted " << c.scenario;
    } catch (const adserver::ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace

namespace {

TEST_F(AdServerTest, ServesOurMRAIDScriptByKindAndOurTestCreativesOnly) {
  start("{}");
  struct Case {
    const char* path;
    std::string body;
  } cases[] = {
      {adserver::AdServer::kMRAIDBannerPath, adserver::mraidScript("inline")},
      {adserver::AdServer::kMRAIDExpandedBannerPath, adserver::mraidScript("inline")},
      {adserver::AdServer::kMRAIDInterstitialPath, adserver::mraidScript("interstitial")},
      {"/creatives/video.html", *adserver::testCreative("/creatives/video.html")},
      {"/creatives/../CMakeLists.txt", ""},
      {"/creatives/..%2FCMakeLists.txt", ""},
      {"/creatives/missing.html", ""},
  };
  for (const auto& c : cases) {
    auto r = client->Get(c.path);
    ASSERT_TRUE(r) << c.path;
    EXPECT_EQ(r->body, c.body) << c.path;
  }
  EXPECT_NE(adserver::testCreative("/creatives/video.html")->find("mraid.playVideo"), std::string::npos);
}

}  // namespace
