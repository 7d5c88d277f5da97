// Another network's JavaScript ads delivered by the page, end to end: the ad server's tag
// that draws late, never draws, or passes back by scheme or by the ad's passback URL. The
// checks run on the hand clock; the tag draws on its own timer.
#include <gtest/gtest.h>

#include "ads/render/ad_network_javascript_ad_view_delegate.h"
#include "ads/slots/slot.h"
#include "ads/slots/slot_test_support.h"

namespace {

using nlohmann::json;
using slots_test::SlotFixture;

json networkAd(const std::string& query) {
  return {{"ad_is_javascript", true},
          {"ad_base_url", "{base}/creatives/"},
          {"ad_passback_url", "{base}/passback/"},
          {"ad_html", "<body style=\"margin:0\"><script src=\"{base}/creatives/js-network.js?" + query +
                          "\"></script></body>"}};
}

struct JavaScriptAds : SlotFixture {
  std::shared_ptr<QMASlot> slot;
  void show(const std::string& query) {
    useScenario({{"answers", json::array({{{"answer", "loadAd"}, {"ad", networkAd(query)}}})}});
    slot = makeSlot();
    slot->loadRequest(QMARequest::request());
    ASSERT_TRUE(pump([&] {
      auto d = std::dynamic_pointer_cast<QMAAdNetworkJavaScriptAdViewDelegate>(slot->adViewDelegate());
      return (d && (d->renderingCheckHasStarted() || d->wasPassbackReceived())) || ended();
    }));
  }
  // What the owner heard of how the request ended, in order.
  std::vector<std::string> endings() const {
    std::vector<std::string> out;
    for (const auto& e : owner->events)
      if (e == "finished" || e.rfind("failed", 0) == 0) out.push_back(e);
    return out;
  }
  bool ended() const { return !endings().empty(); }
  std::string state() { return slot->adView()->stringByEvaluatingJavaScriptFromString("String(window.networkState)"); }
  void tick() {
    foundation::Clock::advance(QMAAdNetworkJavaScriptAdViewDelegate::kCheckRenderingInterval);
    drainMain();
  }
};

TEST_F(JavaScriptAds, AnAdThatDrawsLateIsReadyOnlyOnceItDrew) {
  show("draw=late");
  EXPECT_EQ(slot->state(), QMASlotStateRendering);
  tick();
  if (state() != "drawn") {
    EXPECT_FALSE(ended());
  }
  ASSERT_TRUE(pump([&] { return state() == "drawn"; }));
  tick();
  ASSERT_TRUE(pump([&] { return owner->count("finished") == 1; }));
  EXPECT_EQ(slot->state(), QMASlotStateAdReady);
}

TEST_F(JavaScriptAds, AnAdThatNeverDrawsFailsAfterItsChecksAndANewAdGetsTheSlotsOwnDelegate) {
  show("draw=never");
  for (int i = 0; i < 101 && !ended(); ++i) tick();
  EXPECT_EQ(endings(), (std::vector<std::string>{"failed 2"}));
  EXPECT_EQ(state(), "blank");
  // A plain HTML ad next: it finishes as usual.
  useScenario({{"ads", {{"ad", {{"body", "<body>Plain</body>"}}}}}, {"default_ad", "ad"}});
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return owner->count("finished") == 1; }));
  EXPECT_EQ(endings(), (std::vector<std::string>{"failed 2", "finished"}));
  EXPECT_FALSE(std::dynamic_pointer_cast<QMAAdNetworkJavaScriptAdViewDelegate>(slot->adViewDelegate()));
}

// A network script's page that never finishes loading (its picture drips without end) is
// bounded from its start, though the slot still counts it as fetching: at the bound it
// fails once, as a failed page load, and no check of what it drew ever starts.
TEST_F(JavaScriptAds, APageThatNeverFinishesLoadingFailsAtTheBound) {
  json ad = networkAd("draw=never");
  ad["ad_html"] = "<body style=\"margin:0\"><img src=\"{base}/drip.png\"></body>";
  useScenario({{"answers", json::array({{{"answer", "loadAd"}, {"ad", ad}}})},
               {"files", {{"/drip.png", {{"content_type", "image/png"}, {"drip_ms", 1000}, {"stream_seconds", 120}}}}}});
  slot = makeSlot();
  slot->setAdPageLoadTimeout(5);
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return !server->requestsForPath("/drip.png").empty(); }));
  for (int i = 0; i < 5; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_FALSE(ended());
  EXPECT_EQ(slot->state(), QMASlotStateFetchingAd);
  foundation::Clock::advance(5.5);
  ASSERT_TRUE(pump([&] { return ended(); }));
  for (int i = 0; i < 5; ++i) dispatch::RunLoop::main().runOnce(0.01);
  drainMain();
  EXPECT_EQ(endings(), (std::vector<std::string>{"failed 2"}));
  EXPECT_EQ(slot->state(), QMASlotStateFailed);
  auto d = std::dynamic_pointer_cast<QMAAdNetworkJavaScriptAdViewDelegate>(slot->adViewDelegate());
  ASSERT_TRUE(d);
  EXPECT_FALSE(d->renderingCheckHasStarted());
  EXPECT_FALSE(slot->adView()->isLoading());
}

TEST_F(JavaScriptAds, APassbackBySchemeOrByURLIsNoFill) {
  for (const std::string query : {"pass=url&to=%2Fpassback", "pass=scheme"}) {
    SCOPED_TRACE(query);
    owner->events.clear();
    owner->errors.clear();
    show(query);
    ASSERT_TRUE(pump([&] { return ended(); })) << state();
    EXPECT_EQ(endings(), (std::vector<std::string>{"failed 1"}));
    EXPECT_EQ(owner->errors.back().localizedDescription(), "Passback URL received.");
    EXPECT_EQ(state(), "passed back");
  }
}

}  // namespace
