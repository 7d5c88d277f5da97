// The ad answers a scenario describes, seen from a plain HTTP client.
#include "tools/adserver/ad_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <set>
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

TEST(AdServerCreatives, FilePathsStayInsideTheDirectoryAndTypesFollowTheExtension) {
  struct Row {
    const char* path;
    bool ok;
  };
  const Row rows[] = {
      {"banner.html", true},   {"lib/dollar-1.js", true}, {"a/b/c/d/e/f/g/h.png", true}, {"a/b/c/d/e/f/g/h/i.png", false},
      {"", false},             {"../x.html", false},      {"a/../../x", false},          {".hidden", false},
      {"a//b.js", false},      {"/abs.js", false},        {"dir/", false},               {"a b.js", false},
      {"a%2e%2e/b.js", false}, {"x\\y.js", false},
  };
  for (const auto& row : rows) EXPECT_EQ(adserver::isCreativeFilePath(row.path), row.ok) << row.path;
  EXPECT_FALSE(adserver::isCreativeFilePath(std::string(257, 'a')));
  EXPECT_EQ(adserver::creativeContentType("a/B.PNG"), "image/png");
  EXPECT_EQ(adserver::creativeContentType("x.css"), "text/css");
  EXPECT_EQ(adserver::creativeContentType("x.js"), "application/javascript");
  EXPECT_EQ(adserver::creativeContentType("x.html"), "text/html; charset=utf-8");
  EXPECT_EQ(adserver::creativeContentType("html"), "application/octet-stream");
}

TEST_F(AdServerTest, CreativeFilesAreServedAndAnAdsBodyCanBeOne) {
  const auto dir = std::filesystem::temp_directory_path() / ("wv-adserver-creatives-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "lib");
  std::ofstream(dir / "ad.html") << "<script src='/creatives/lib/x.js'></script><img src='{base}/creatives/p.png'>";
  std::ofstream(dir / "lib" / "x.js") << "var x = 1;";
  std::ofstream(dir / "p.png", std::ios::binary) << std::string("\x89PNG\0\x01", 6);
  std::ofstream(dir.parent_path() / ("wv-adserver-outside-" + std::to_string(::getpid()))) << "secret";
  start(R"({"ads": {"file": {"body_file": "ad.html", "headers": {"X-Qvra-Refresh-Rate": "30"}},
                    "gone": {"body_file": "missing.html"}},
            "ad_rules": [{"when": {"slotname": "gone"}, "ad": "gone"}], "default_ad": "file"})");
  server->setCreativesDirectory(dir.string());

  auto ad = client->Get("/qads/ad?slotname=x");
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->body, "<script src='/creatives/lib/x.js'></script><img src='" + server->baseURL() + "/creatives/p.png'>");
  EXPECT_EQ(ad->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(ad->get_header_value("X-Qvra-Refresh-Rate"), "30");
  auto script = client->Get("/creatives/lib/x.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  EXPECT_EQ(script->body, "var x = 1;");
  EXPECT_EQ(script->get_header_value("Content-Type"), "application/javascript");
  EXPECT_EQ(script->get_header_value("Access-Control-Allow-Origin"), "*");
  auto image = client->Get("/creatives/p.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->body, std::string("\x89PNG\0\x01", 6));  // bytes as they are: no {base} in files
  const std::string outside = "/creatives/../wv-adserver-outside-" + std::to_string(::getpid());
  for (const std::string& path : {std::string("/creatives/none.js"), outside, std::string("/creatives/%2e%2e/x"),
                                  std::string("/creatives/lib"), std::string("/creatives/")}) {
    auto r = client->Get(path.c_str());
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 404) << path;
  }
  auto gone = client->Get("/qads/ad?slotname=gone");
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->status, 500);
  EXPECT_EQ(server->requestsForPath("/creatives/lib/x.js").size(), 1u);
  std::filesystem::remove_all(dir);
  std::filesystem::remove(dir.parent_path() / ("wv-adserver-outside-" + std::to_string(::getpid())));
}

// A creative file is served up to its bound and no further: one byte more answers 404, and
// 500 as an ad's body_file.
TEST_F(AdServerTest, CreativeFilesOverTheirBoundAreNotServed) {
  const auto dir = std::filesystem::temp_directory_path() / ("wv-adserver-bound-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::size_t bound = adserver::AdServer::kMaximumCreativeFileSize;
  std::ofstream(dir / "fits.js", std::ios::binary) << std::string(bound, 'a');
  std::ofstream(dir / "over.js", std::ios::binary) << std::string(bound + 1, 'a');
  start(R"({"ads": {"fits": {"body_file": "fits.js"}, "over": {"body_file": "over.js"}},
            "ad_rules": [{"when": {"slotname": "over"}, "ad": "over"}], "default_ad": "fits"})");
  server->setCreativesDirectory(dir.string());
  struct Row {
    const char* path;
    int status;
    std::size_t size;
  };
  const Row rows[] = {{"/creatives/fits.js", 200, bound},
                      {"/creatives/over.js", 404, 0},
                      {"/qads/ad?slotname=fits", 200, bound},
                      {"/qads/ad?slotname=over", 500, 0}};
  for (const auto& row : rows) {
    auto r = client->Get(row.path);
    ASSERT_TRUE(r) << row.path;
    EXPECT_EQ(r->status, row.status) << row.path;
    if (row.size) {
      EXPECT_EQ(r->body.size(), row.size) << row.path;
    }
  }
  std::filesystem::remove_all(dir);
}

// The test creatives shipped with the server: each unit of their scenario gets its creative,
// and every file a creative names on the server is there.
TEST_F(AdServerTest, TheShippedCreativesAndTheFilesTheyNameAreServed) {
  const auto scenario = adserver::AdServer::loadScenarioFile(std::string(WV_ADSERVER_SCENARIOS_DIR) + "/creatives.json");
  server = std::make_unique<adserver::AdServer>(scenario);
  ASSERT_TRUE(server->start());
  client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
  ASSERT_GE(scenario["ad_rules"].size(), 9u);
  const std::regex named(R"(/creatives/[A-Za-z0-9_./-]+)");
  std::set<std::string> files;
  for (const auto& rule : scenario["ad_rules"]) {
    const std::string unit = rule["when"]["slotname"];
    auto ad = client->Get(("/qads/ad?slotname=" + unit).c_str());
    ASSERT_TRUE(ad) << unit;
    EXPECT_EQ(ad->status, 200) << unit;
    EXPECT_NE(ad->body.find("/beacon/' + AD"), std::string::npos) << unit << " reports its state";
    EXPECT_NE(ad->body.find("var AD = '" + unit + "'"), std::string::npos) << unit << " reports under its own name";
    std::string body = ad->body;
    for (std::sregex_iterator it(body.begin(), body.end(), named), end; it != end; ++it) files.insert(it->str());
  }
  EXPECT_TRUE(files.count("/creatives/lib/dollar.js") && files.count("/creatives/quadrants.png")) << files.size();
  for (const auto& file : files) {
    if (file.find("no-such") != std::string::npos) continue;  // a creative's own failure case
    auto r = client->Get(file.c_str());
    ASSERT_TRUE(r) << file;
    EXPECT_EQ(r->status, 200) << file;
  }
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
      {R"({"ads": {"a": {"body_file": "../secret.html"}}})", "ads.a.body_file must name a file of the creatives"},
      {R"({"ads": {"a": {"body_file": "a.html", "body": "x"}}})", "ads.a has both body and body_file"},
      // A field the form does not know is refused by name, wherever it stands: a misspelt
      // one would otherwise serve an ordinary answer.
      {R"({"nonsense": 1})", "nonsense is not a field of the scenario"},
      {R"({"ads": {"a": {"bogus": 1}}})", "ads.a.bogus is not a field of ads.a"},
      {R"({"ads": {"a": {"drip-ms": 40}}})", "ads.a.drip-ms is not a field of ads.a"},
      {R"({"files": {"/x": {"Status": 404}}})", "files./x.Status is not a field of files./x"},
      {R"({"answers": [{"answer": "loadAd"}, {"anwser": "silence"}]})", "answers[1].anwser is not a field of answers[1]"},
      {R"({"ads": {"a": {}}, "ad_rules": [{"ad": "a", "wen": {"slotname": "x"}}]})", "ad_rules[0].wen is not a field"},
      {R"({"ads": {"a": {}}, "ad_rules": [{"ad": "a"}, {"ad": "b"}]})", "ad_rules[1] names the unknown ad b"},
      {R"({"ads": {"a": {}}, "ad_rules": [{"ad": "a", "when": ["slotname"]}]})", "ad_rules[0].when must be an object"},
      {R"({"answers": [{"answer": "loadAd", "ad": "<p>x</p>"}]})", "answers[0].ad must be an object"},
      {R"({"answers": [{"is_mediation": "yes"}]})", "answers[0].is_mediation must be true or false"},
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

// Every field of the form at once, and every scenario shipped with the server, is taken;
// what the form leaves open (the names under "constants", "when", "headers", an answer's
// "ad" and "extra") takes any name.
TEST(AdServerScenario, TakesEveryFieldOfTheFormAndTheShippedScenarios) {
  EXPECT_NO_THROW(adserver::AdServer::parseScenario(R"({
      "constants": {"ping_interval": "30", "any_name": 1},
      "answers": [{"when": {"slotname": "d", "any_param": "1"}, "answer": "loadAd", "is_mediation": false,
                   "ad": {"ad_html": "<p>Ad</p>", "anything": 1}},
                  {"answer": "loadAdURL", "extra": {"request_scenario": "online_request"}}],
      "ads": {"full": {"status": 200, "content_type": "text/html", "headers": {"X-Any": "1"}, "body": "b",
                       "response_type": "native", "delay_ms": 5, "hang": false, "truncate": false,
                       "endless": true, "stream_seconds": 2},
              "drip": {"body_file": "dom.html", "drip_ms": 40}},
      "ad_rules": [{"when": {"slotname": "u"}, "ad": "full"}, {"ads": ["full", "drip"]}],
      "default_ad": "full",
      "files": {"/anything": {"status": 404, "body": "gone"}},
      "hang_paths": ["/qads/static/sdk/native/sdk-core-v40.html"]})"));
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(WV_ADSERVER_SCENARIOS_DIR)) {
    if (entry.path().extension() != ".json") continue;
    ++files;
    EXPECT_NO_THROW(adserver::AdServer::loadScenarioFile(entry.path().string())) << entry.path();
  }
  EXPECT_GT(files, 0u);
}

// A recorded request holds the header fields the client sent, not the connection's own
// addresses that the HTTP library files among them.
TEST_F(AdServerTest, RecordedRequestsHoldOnlyTheHeaderFieldsTheClientSent) {
  start("{}");
  ASSERT_TRUE(client->Get("/ping?x=1", httplib::Headers{{"X-Sent", "yes"}}));
  auto list = client->Get(adserver::AdServer::kRequestsPath);
  ASSERT_TRUE(list);
  const auto recorded = nlohmann::json::parse(list->body);
  ASSERT_EQ(recorded.size(), 1u);
  const auto& headers = recorded[0]["headers"];
  EXPECT_EQ(headers.value("x-sent", ""), "yes");
  EXPECT_EQ(headers.value("host", "").rfind("127.0.0.1", 0), 0u) << headers.dump();
  for (const char* name : {"local_addr", "local_port", "remote_addr", "remote_port"})
    EXPECT_FALSE(headers.contains(name)) << name << " in " << headers.dump();
  EXPECT_EQ(server->requests().at(0).headers.count("remote_addr"), 0u);
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
