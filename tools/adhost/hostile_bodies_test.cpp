// Servers that never end their answers, shown in the real adhost: an ad answer that
// redirects to an endless body fails with the fetch's network error, a creative whose
// picture never ends still shows, and an answer that drips a byte now and then ends at the
// load's own time-out. Throughout, adhost keeps its usual size and answers at once.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"

namespace {

using json = nlohmann::json;

// tools/adserver/scenarios/hostile.json (docs/adserver.md).
class HostileBodiesTest : public adhost_test::HostedAdsTest {
 protected:
  // With three ads of its own besides: a creative whose one picture drips without end, and
  // two answers that are not UTF-8 and declare no charset (a picture served untyped, a
  // Latin-1 page under a bare "text/html").
  json scenario() const override {
    json s = scenarioFile("hostile.json");
    s["ads"]["drip-picture"] = {{"body", "<body><div>Slowly</div><img src='{base}/hostile/drip.png'></body>"}};
    s["files"]["/hostile/drip.png"] = {{"content_type", "image/png"}, {"drip_ms", 40}, {"stream_seconds", 120}};
    s["ads"]["untyped-picture"] = {{"body_file", "picture.png"}, {"content_type", ""}};
    s["ads"]["bare-latin1"] = {{"body_file", "latin1.html"}, {"content_type", "text/html"}};
    for (const char* name : {"drip-picture", "untyped-picture", "bare-latin1"})
      s["ad_rules"].push_back({{"when", {{"slotname", name}}}, {"ad", name}});
    return s;
  }
  // The most memory adhost has held at once, in MiB (from the kernel's account of it).
  long peakMiB() const {
    std::ifstream status("/proc/" + std::to_string(host_->pid()) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
    return -1;
  }
  void expectUsualSize() {
    const long peak = peakMiB();
    EXPECT_GT(peak, 0);
    // Its usual size is about 200 MiB (more under a sanitizer); the endless bodies served
    // run to gigabytes.
    EXPECT_LT(peak, 1536) << "adhost held " << peak << " MiB at its peak";
  }
  bool requested(const std::string& path) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (server_->requestsForPath(path).empty() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !server_->requestsForPath(path).empty();
  }
};

TEST_F(HostileBodiesTest, AnAnswerRedirectingToAnEndlessBodyFailsWithItsNetworkError) {
  expect("banner e1 unit endless-answer", "ok e1");
  expect("load e1", "ok loading");
  expect("wait e1", "ok e1 adView:didFailToReceiveAdWithError: code=2 ");
  EXPECT_TRUE(requested("/hostile/endless-answer"));
  expect("screen", "ok screen");
  expectUsualSize();
}

TEST_F(HostileBodiesTest, ACreativeWithAnEndlessPictureStillShows) {
  expect("banner e2 unit endless-picture", "ok e2");
  expect("load e2", "ok loading");
  expect("wait e2", "ok e2 adViewDidReceiveAd:");
  EXPECT_TRUE(requested("/hostile/endless.png"));
  const std::string screen = send("screen");
  EXPECT_NE(screen.find("e2 banner at 0,20 320x50 size=kQMAAdSizeBanner shows \"Still here\""), std::string::npos)
      << screen;
  expectUsualSize();
}

TEST_F(HostileBodiesTest, ADripEndsAtTheLoadsTimeOutWhileTheHostAnswers) {
  expect("banner d1 unit drip", "ok d1");
  expect("load d1", "ok loading");
  ASSERT_TRUE(requested(adserver::AdServer::kAdPath));
  // The server drips a byte each 40 ms of real time; the hand clock moves 10 s a turn,
  // so the answer is never silent for the request's time-out, only long.
  std::string events;
  double moved = 0;
  while (moved < 400) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    expect("screen", "ok screen");
    events = send("events d1");
    if (events.find("didFailToReceiveAdWithError") != std::string::npos) break;
    expect("clock advance 10", "ok clock");
    moved += 10;
  }
  EXPECT_GE(moved, 290);
  EXPECT_LE(moved, 340);
  EXPECT_NE(events.find("d1 adView:didFailToReceiveAdWithError: code=2 "), std::string::npos) << events;
}

// A creative whose one picture never ends would hold its page's load, and so the ad, until
// the picture's own ten-minute limit: the ad fails at the page-load bound (60 s on the hand
// clock) with the load's network error. The picture drips a byte each 40 ms of real time
// and the clock moves 10 s a turn, so the picture is never silent for its request's
// time-out, only long.
TEST_F(HostileBodiesTest, APictureThatNeverEndsFailsItsAdAtThePageLoadBound) {
  expect("banner p1 unit drip-picture", "ok p1");
  expect("load p1", "ok loading");
  ASSERT_TRUE(requested("/hostile/drip.png"));
  std::string events;
  double moved = 0;
  while (moved < 200) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    expect("screen", "ok screen");
    events = send("events p1");
    if (events.find("didFailToReceiveAdWithError") != std::string::npos) break;
    expect("clock advance 10", "ok clock");
    moved += 10;
  }
  EXPECT_GE(moved, 50);
  EXPECT_LE(moved, 80);
  EXPECT_NE(events.find("p1 adView:didFailToReceiveAdWithError: code=2 "), std::string::npos) << events;
  EXPECT_EQ(events.find("adViewDidReceiveAd"), std::string::npos) << events;
}

// An ad answer that is not UTF-8 and declares no charset has no text: no ad (request
// error 1), never an ad of replacement characters.
TEST_F(HostileBodiesTest, AnAnswerThatIsNotUTF8AndDeclaresNoCharsetIsNoAd) {
  for (const std::string unit : {"untyped-picture", "bare-latin1"}) {
    SCOPED_TRACE(unit);
    const std::string name = unit == "bare-latin1" ? "n2" : "n1";
    expect("banner " + name + " unit " + unit, "ok " + name);
    expect("load " + name, "ok loading");
    expect("wait " + name, "ok " + name + " adView:didFailToReceiveAdWithError: code=1 ");
  }
}

}  // namespace
