// Answers without end, and answers that drip, seen from a plain HTTP client: they go on
// while the client reads, and end by themselves after their time.
#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>

#include "tools/adserver/ad_server.h"

namespace {

struct StreamAnswersTest : ::testing::Test {
  std::unique_ptr<adserver::AdServer> server;
  std::unique_ptr<httplib::Client> client;
  void start(const std::string& scenario) {
    server = std::make_unique<adserver::AdServer>(adserver::AdServer::parseScenario(scenario));
    ASSERT_TRUE(server->start());
    client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
  }
  // The body of `path` read until `enough` bytes or its end; whether the answer ended.
  bool read(const std::string& path, std::size_t enough, std::string& body, std::string& type) {
    body.clear();
    auto res = client->Get(
        path.c_str(),
        [&](const httplib::Response& r) {
          type = r.get_header_value("Content-Type");
          return true;
        },
        [&](const char* data, std::size_t n) {
          if (body.size() < 64) body.append(data, std::min<std::size_t>(n, 64 - body.size()));
          received += n;
          return received < enough;
        });
    return static_cast<bool>(res);
  }
  std::size_t received = 0;
};

TEST_F(StreamAnswersTest, AnEndlessAnswerGoesOnWhileTheClientReads) {
  start(R"({"ads": {"e": {"body": "<html>", "endless": true, "content_type": "image/png"}}, "default_ad": "e"})");
  std::string body, type;
  EXPECT_FALSE(read("/qads/ad?slotname=x", std::size_t{64} << 20, body, type));  // the client hung up
  EXPECT_GE(received, std::size_t{64} << 20);
  EXPECT_EQ(body.substr(0, 6), "<html>");
  EXPECT_EQ(type, "image/png");
}

TEST_F(StreamAnswersTest, EndlessAndDrippingAnswersEndAfterTheirTime) {
  start(R"({"files": {"/e": {"endless": true, "stream_seconds": 1},
                      "/d": {"body": "abc", "drip_ms": 20, "stream_seconds": 1}}})");
  std::string body, type;
  ASSERT_TRUE(read("/e", SIZE_MAX, body, type));
  EXPECT_GT(received, 0u);
  received = 0;
  ASSERT_TRUE(read("/d", SIZE_MAX, body, type));
  // A byte each 20 ms for a second: the body first, then filler.
  EXPECT_GE(received, 3u);
  EXPECT_LE(received, 52u);
  EXPECT_EQ(body.substr(0, 3), "abc");
}

TEST_F(StreamAnswersTest, ScenariosWithBadStreamsAreRefused) {
  const struct {
    const char* scenario;
    const char* message;
  } cases[] = {
      {R"({"ads": {"a": {"endless": "yes"}}})", "ads.a.endless must be true or false"},
      {R"({"ads": {"a": {"drip_ms": 0}}})", "ads.a.drip_ms must be an integer from 1 to 10000"},
      {R"({"files": {"/x": {"drip_ms": 10001}}})", "files./x.drip_ms must be an integer from 1 to 10000"},
      {R"({"ads": {"a": {"endless": true, "stream_seconds": 121}}})", "ads.a.stream_seconds must be an integer from 1 to 120"},
      {R"({"ads": {"a": {"endless": true, "drip_ms": 5}}})", "ads.a may be only one of endless, drip_ms and truncate"},
      {R"({"ads": {"a": {"truncate": true, "drip_ms": 5}}})", "ads.a may be only one of endless, drip_ms and truncate"},
  };
  for (const auto& c : cases) {
    try {
      adserver::AdServer::parseScenario(c.scenario);
      ADD_FAILURE() << "accepted " << c.scenario;
    } catch (const adserver::ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_NO_THROW(adserver::AdServer::parseScenario(R"({"ads": {"a": {"endless": false, "truncate": true}}})"));
}

}  // namespace
