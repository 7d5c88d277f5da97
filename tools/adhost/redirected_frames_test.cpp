// A creative whose frame the ad server sends on to another local service, end to end in
// adhost against adserver: the frame takes the service's origin, so the creative's other
// frame cannot read the service's page through it, and the service's page reads its own.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"

namespace redirected_frames {
namespace {

class RedirectedFramesTest : public adhost_test::HostedAdsTest {
 protected:
  void SetUp() override {
    // The service sends no CORS header; its page reads the service's own data.
    service_ = std::make_unique<adserver::AdServer>(nlohmann::json{
        {"files",
         {{"/secret.html",
           {{"body",
             "<body>service secret<script>fetch('/data.json').then(function (r) { return r.text(); },"
             " function () { return 'refused'; }).then(function (t) { parent.postMessage({serviceOwn: t}, '*'); });"
             "</script></body>"}}},
          {"/data.json", {{"content_type", "application/json"}, {"body", "{\"service\":2}"}}}}}});
    ASSERT_TRUE(service_->start());
    HostedAdsTest::SetUp();
  }
  void TearDown() override {
    HostedAdsTest::TearDown();
    service_->stop();
  }
  nlohmann::json scenario() const override {
    return {
        {"ads",
         {{"frames",
           {{"body",
             "<body style='margin:0'><script>"
             "var seen = {}; window.addEventListener('message', function (e) {"
             "  for (var k in e.data) seen[k] = e.data[k]; });"
             "function ask() { frames[0].postMessage('read', '*'); }"
             "window.creativeState = 'ready';</script>"
             "<iframe src='{base}/own/a.html'></iframe><iframe src='{base}/own/to-service'></iframe></body>"}}}}},
        {"ad_rules", {{{"when", {{"slotname", "frames"}}}, {"ad", "frames"}}}},
        {"files",
         {{"/own/to-service", {{"status", 302}, {"headers", {{"Location", service_->baseURL() + "/secret.html"}}}}},
          // The creative's own frame reads its sibling when asked.
          {"/own/a.html",
           {{"body",
             "<body><script>window.addEventListener('message', function (e) {"
             "  var got; try { got = String(parent.frames[1].document.body.textContent); }"
             "  catch (err) { got = err.name; }"
             "  parent.postMessage({sibling: got}, '*'); });</script></body>"}}}}},
    };
  }
  // The value of `script` once it is not empty (at most 20 s of real time: the page's
  // requests run on real time).
  std::string until(const std::string& name, const std::string& script) {
    std::string seen;
    for (int i = 0; i < 400 && seen.empty(); ++i) {
      seen = js(name, script);
      if (seen.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return seen;
  }

  std::unique_ptr<adserver::AdServer> service_;
};

TEST_F(RedirectedFramesTest, ACreativesFrameCannotReadAServiceThroughAFrameSentThere) {
  expect("kvr-banner ad mrec unit frames", "ok ad KVRBannerView");
  expect("load ad", "ok loading");
  expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
  // The service's page ran as the service's: it read its own data.
  EXPECT_EQ(until("ad", "seen.serviceOwn || ''"), "{\"service\":2}");
  js("ad", "ask()");
  EXPECT_EQ(until("ad", "seen.sibling || ''"), "SecurityError");
  EXPECT_EQ(service_->requestsForPath("/secret.html").size(), 1u);
}

}  // namespace
}  // namespace redirected_frames
