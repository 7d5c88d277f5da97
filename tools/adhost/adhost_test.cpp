// adhost end to end: the real program in a device root of its own, against an ad server in
// this process on 127.0.0.1, driven by its commands as a person or the demo drives it. Each
// format is received, fails with its errors, is presented, dismissed and clicked; clicks and
// impressions are seen arriving at the server. The command reader has a table of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/uikit/image.h"
#include "tools/adhost/command.h"
#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"
#include "tools/testsupport/driven_process.h"

namespace {

using nlohmann::json;

TEST(AdHostCommands, LinesReadAsCommandsOrSayWhyNot) {
  struct Row {
    const char* line;
    bool ok;
    adhost::Verb verb;
  };
  const Row rows[] = {
      {"", true, adhost::Verb::Nothing},
      {"   # a comment", true, adhost::Verb::Nothing},
      {"banner b1", true, adhost::Verb::Banner},
      {"banner b1 mrec at 0,20 unit ca-app/1 no-root", true, adhost::Verb::Banner},
      {"banner b1 320.5x50", true, adhost::Verb::Banner},
      {"banner b1 sizes banner", false, adhost::Verb::Nothing},  // only the publisher edition takes sizes
      {"kvr-banner k sizes banner,mrec manual-impressions custom-rendering", true, adhost::Verb::KVRBanner},
      {"kvr-banner k sizes banner,nope", false, adhost::Verb::Nothing},
      {"banner b1 20001x50", false, adhost::Verb::Nothing},
      {"banner b1 at 1e9,0", false, adhost::Verb::Nothing},
      {"banner b/1", false, adhost::Verb::Nothing},
      {"load b1 kw=sports round=2", true, adhost::Verb::Load},
      {"load b1 =x", false, adhost::Verb::Nothing},
      {"clock advance 60", true, adhost::Verb::Clock},
      {"clock advance -1", false, adhost::Verb::Nothing},
      {"clock advance nan", false, adhost::Verb::Nothing},
      {"clock advance 99999999999", false, adhost::Verb::Nothing},
      {"tap b1 2", true, adhost::Verb::Tap},
      {"tap b1 headline", true, adhost::Verb::Tap},  // an asset of a native ad
      {"tap b1 a\x01", false, adhost::Verb::Nothing},
      {"native n1 content,app-install,custom unit u templates 10063,7 multiple-images no-images", true,
       adhost::Verb::Native},
      {"native n1 video", false, adhost::Verb::Nothing},
      {"native n1", false, adhost::Verb::Nothing},
      {"native n1 content sideways", false, adhost::Verb::Nothing},
      {"snapshot n1", true, adhost::Verb::Snapshot},
      {"snapshot", false, adhost::Verb::Nothing},
      {"browse b1 https://landing.example/", true, adhost::Verb::Browse},
      {"browse b1", false, adhost::Verb::Nothing},
      {"js b1 mraid.getState()", true, adhost::Verb::Script},
      {"js b1", false, adhost::Verb::Nothing},
      {"answer Save", true, adhost::Verb::Answer},
      {"answer", false, adhost::Verb::Nothing},
      {"calendar", true, adhost::Verb::Calendar},
      {"calendar grant", true, adhost::Verb::Calendar},
      {"calendar deny", true, adhost::Verb::Calendar},
      {"calendar allow", false, adhost::Verb::Nothing},
      {"calendar grant deny", false, adhost::Verb::Nothing},
      {"tap b1 at 150,125.5", true, adhost::Verb::Tap},
      {"tap b1 at 150", false, adhost::Verb::Nothing},
      {"tap b1 2 at 1,1", false, adhost::Verb::Nothing},
      {"frame b1 0,20 375x50", true, adhost::Verb::Frame},
      {"frame b1 0,20 -1x50", false, adhost::Verb::Nothing},
      {"reward load unit-r", true, adhost::Verb::RewardLoad},
      {"reward play", false, adhost::Verb::Nothing},
      {"wait b1 adViewDidReceiveAd", true, adhost::Verb::Wait},
      {"screen now", false, adhost::Verb::Nothing},
      {"snapshot shot.png", true, adhost::Verb::Snapshot},
      {"snapshot b1 /tmp/dir/B1.PNG", true, adhost::Verb::Snapshot},
      {"snapshot", false, adhost::Verb::Nothing},
      {"snapshot shot.jpg", false, adhost::Verb::Nothing},
      {"snapshot .png", false, adhost::Verb::Nothing},
      {"snapshot b/1 shot.png", false, adhost::Verb::Nothing},
      {"snapshot b1 shot.png extra", false, adhost::Verb::Nothing},
      {"fly", false, adhost::Verb::Nothing},
  };
  for (const auto& row : rows) {
    auto parsed = adhost::parseCommand(row.line);
    const auto* c = std::get_if<adhost::Command>(&parsed);
    EXPECT_EQ(c != nullptr, row.ok) << row.line;
    if (c) {
      EXPECT_EQ(c->verb, row.verb) << row.line;
    }
  }
  auto c = std::get<adhost::Command>(adhost::parseCommand("kvr-banner k 300x250 at -5,7.5 sizes mrec,smart"));
  EXPECT_TRUE(QMAAdSizeEqualToSize(*c.size, kQMAAdSizeMediumRectangle));
  EXPECT_EQ(*c.origin, (uikit::Point{-5, 7.5}));
  ASSERT_EQ(c.validSizes.size(), 2u);
  EXPECT_TRUE(QMAAdSizeEqualToSize(c.validSizes[1], kQMAAdSizeSmartBannerPortrait));
  c = std::get<adhost::Command>(adhost::parseCommand("js b1  wvTap( 'a  b' )"));
  EXPECT_EQ(*c.script, "wvTap( 'a  b' )") << "the script as written";
  EXPECT_TRUE(std::holds_alternative<adhost::ParseError>(adhost::parseCommand(std::string(5000, 'a'))));
  EXPECT_TRUE(std::holds_alternative<adhost::ParseError>(adhost::parseCommand(std::string("banner b\0", 9))));
}

// Ads by unit: "banner" (HTML with click, impression and a 30 s refresh), "empty" (no
// fill), "big" (the interstitial's page), "custom" (for the host to draw, with an app
// event), "reward" (a mediation configuration naming the host's reward adapter).
json adHostScenario() {
  const json reward = {
      {"ad_type", "interstitial"},
      {"settings", {{"rewards", {{{"rb_type", "gems"}, {"rb_amount", 3}}}}}},
      {"ad_networks", {{{"id", "7"}, {"data", {{"pubid", "video-net"}, {"duration", "2"}}}, {"adapters", json::array({"AdhostRewardAdapter"})}}}}};
  // Waterfalls over the host's test adapters: a banner whose first network has no fill, an
  // interstitial whose first network fails with an error.
  const json mediatedBanner = {
      {"ad_type", "banner"},
      {"ad_networks", {{{"id", "21"}, {"adapters", json::array({"WVTestNoFillAdapter"})}},
                       {{"id", "22"}, {"adapters", json::array({"WVTestFillAdapter"})}}}}};
  const json mediatedInterstitial = {
      {"ad_type", "interstitial"},
      {"ad_networks", {{{"id", "31"}, {"data", {{"error", "yes"}}}, {"adapters", json::array({"WVTestNoFillAdapter"})}},
                       {{"id", "32"}, {"adapters", json::array({"WVTestFillAdapter"})}}}}};
  // An interstitial of the component's own network (the house adapter loads the unit
  // "house-big"), then a network that would fill.
  const json mediatedHouse = {
      {"ad_type", "interstitial"},
      {"ad_networks", {{{"id", "41"}, {"data", {{"pubid", "house-big"}}}, {"adapters", json::array({"QMAMAdapterQuillonPelmarkAds"})}},
                       {{"id", "42"}, {"adapters", json::array({"WVTestFillAdapter"})}}}}};
  const json nativeContent = {
      {"ads",
       {{{"type", "native"},
         {"template_id", 1},
         {"headline", "Fresh bread"},
         {"body", "Baked daily"},
         {"call_to_action", "Order"},
         {"advertiser", "Bakery"},
         {"images", {{{"url", "{base}/qads/static/img/bread.png"}}}},
         {"secondary_image", {{"url", "{base}/qads/static/img/logo.png"}}},
         {"attribution", {{"text", "Ad"}, {"image", {{"url", "{base}/qads/static/img/badge.png"}}}}},
         {"tracking_urls_and_actions", {{"impression_tracking_urls", {"{base}/ping/native-impression"}}}}}}}};
  // A content ad to look at: a picture of four colours, a badge on yellow with an orange icon,
  // and the click trackers of the ad network and of a third party.
  const json nativeShown = {
      {"ads",
       {{{"type", "native"},
         {"template_id", 1},
         {"headline", "Garden sale"},
         {"body", "This week only"},
         {"call_to_action", "Shop"},
         {"advertiser", "Garden shop"},
         {"images", {{{"url", "{base}/creatives/quadrants.png"}}}},
         {"secondary_image", {{"url", "{base}/qads/static/img/logo.png"}}},
         {"attribution",
          {{"text", "Ad"}, {"bg_color", {{"r", 255}, {"g", 204}, {"b", 0}}}, {"image", {{"url", "{base}/qads/static/img/badge.png"}}}}},
         {"tracking_urls_and_actions",
          {{"impression_tracking_urls", {"{base}/ping/shown-impression"}},
           {"quillon_click_tracking_url", "{base}/ping/shown-click"},
           {"third_party_click_tracking_urls", {"{base}/ping/shown-tracker"}}}}}}}};
  const json nativeCustom = {
      {"ads",
       {{{"type", "native"},
         {"template_id", 3},
         {"custom_template_id", "10063"},
         {"custom_assets", {{{"name", "title"}, {"type", "string"}, {"string_value", "T"}}}}}}}};
  return {{"ads",
           {{"banner", {{"body", "<body>Ad one <a href='https://landing.example/one'>Buy</a></body>"},
                        {"headers", {{"X-Qvra-Click-Tracking-Urls", "{base}/ping/click"},
                                     {"X-Qvra-Tracking-Urls", "{base}/ping/impression"},
                                     {"X-Qvra-Refresh-Rate", "30"}}}}},
            {"empty", {{"body", ""}}},
            {"big", {{"body", "<body>Full screen <a href='https://landing.example/big'>Go</a></body>"},
                     {"headers", {{"X-Qvra-Click-Tracking-Urls", "{base}/ping/big-click"}}}}},
            {"custom", {{"response_type", "custom_rendering"},
                        {"body", "<body>Drawn by the host<script>location.href='qomb://a/appEvent?name=hello&info=1';"
                                 "</script></body>"}}},
            {"event", {{"body", "<body>Event<script>location.href='qomb://a/appEvent?name=coins&info=5';</script></body>"}}},
            {"reward", {{"response_type", "mediation"}, {"body", reward.dump()}}},
            {"mbanner", {{"response_type", "mediation"}, {"body", mediatedBanner.dump()}}},
            {"minter", {{"response_type", "mediation"}, {"body", mediatedInterstitial.dump()}}},
            {"mhouse", {{"response_type", "mediation"}, {"body", mediatedHouse.dump()}}},
            {"house-big", {{"body", "<body>House screen</body>"},
                           {"headers", {{"X-Qvra-Tracking-Urls", "{base}/ping/house-impression"}}}}},
            {"native-content", {{"response_type", "native"}, {"body", nativeContent.dump()}}},
            {"native-custom", {{"response_type", "native"}, {"body", nativeCustom.dump()}}},
            {"native-shown", {{"response_type", "native"}, {"body", nativeShown.dump()}}},
            {"wander", {{"body", "<body>Wander<script>location.href='{base}/landing/wander';</script></body>"},
                        {"headers", {{"X-Qvra-Click-Tracking-Urls", "{base}/ping/wander-click"}}}}},
            {"swipe",
             {{"body",
               "<body style='margin:0;background:#3060ff'><script>function QVRA_ReceiveMessage(n) {"
               " if (n !== 'onAdVisible' || window.on) return; window.on = true;"
               " var f = document.createElement('iframe'); f.style.display = 'none';"
               " f.src = 'qomb://a/enableSwipeToViewController?swipe_direction=top_to_bottom&ad_draggable=1';"
               " document.documentElement.appendChild(f); }</script></body>"},
              {"headers",
               {{"X-Qvra-Swipe-To-View-Controller",
                 R"({"app_store_product_id": 1, "swipe_animation_transition_duration": 0.25,)"
                 R"( "swipeable_rectangles": [{"x": 0, "y": 0, "width": 160, "height": 50}]})"}}}}},
            {"store", {{"body", "<body>Store<script>location.href='itms-apps://itunes.example/app/1';</script></body>"},
                       {"headers", {{"X-Qvra-Click-Tracking-Urls", "{base}/ping/store-click"}}}}}}},
          {"ad_rules",
           {{{"when", {{"slotname", "empty"}}}, {"ad", "empty"}},
            {{"when", {{"slotname", "big"}}}, {"ad", "big"}},
            {{"when", {{"slotname", "custom"}}}, {"ad", "custom"}},
            {{"when", {{"slotname", "event"}}}, {"ad", "event"}},
            {{"when", {{"slotname", "reward"}}}, {"ad", "reward"}},
            {{"when", {{"slotname", "mbanner"}}}, {"ad", "mbanner"}},
            {{"when", {{"slotname", "minter"}}}, {"ad", "minter"}},
            {{"when", {{"slotname", "mhouse"}}}, {"ad", "mhouse"}},
            {{"when", {{"slotname", "house-big"}}}, {"ad", "house-big"}},
            {{"when", {{"slotname", "native-content"}}}, {"ad", "native-content"}},
            {{"when", {{"slotname", "native-custom"}}}, {"ad", "native-custom"}},
            {{"when", {{"slotname", "native-shown"}}}, {"ad", "native-shown"}},
            {{"when", {{"slotname", "wander"}}}, {"ad", "wander"}},
            {{"when", {{"slotname", "store"}}}, {"ad", "store"}},
            {{"when", {{"slotname", "swipe"}}}, {"ad", "swipe"}},
            {{"when", {{"slotname", "guarded"}}}, {"ad", "store"}}}},
          {"answers", json::array({json::object({{"when", json::object({{"slotname", "guarded"}})},
                                                 {"answer", "loadAdURL"},
                                                 {"extra", json::object({{"enable_auto_click_protection", "1"}})}})})},
          {"default_ad", "banner"}};
}

class AdHostTest : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return adserver::AdServer::parseScenario(adHostScenario().dump()); }
  // The screen print once it holds `text`. Each turn lets 10 ms of real time pass and moves
  // the hand clock 0.01 s, for the pages' short timers, until `clockLimit` seconds have been
  // moved (kept under any reload interval); the wall clock bounds the whole wait, since a
  // busy machine renders slowly.
  std::string screenUntil(const std::string& text, double clockLimit) {
    std::string screen = send("screen");
    double moved = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
    while (screen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (moved < clockLimit) {
        send("clock advance 0.01");
        moved += 0.01;
      }
      screen = send("screen");
    }
    return screen;
  }
  // The requests of the path the server has seen, once at least `atLeast` came (pings go
  // out in the background; this waits for real I/O, at most 30 s, and moves no clock).
  std::size_t hits(const std::string& path, std::size_t atLeast = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && server_->requestsForPath(path).size() < atLeast)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server_->requestsForPath(path).size();
  }

  // The PNG file a snapshot wrote, decoded (none when there is none or it does not decode).
  static std::shared_ptr<uikit::Image> readPNG(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return uikit::Image::imageWithData(bytes);
  }

};

TEST_F(AdHostTest, EveryLineIsAnsweredBlankLinesAndCommentsWithAnEmptyOne) {
  EXPECT_EQ(send(""), "");
  EXPECT_EQ(send("# a person's note"), "");
  expect("fly away", "error: unknown command \"fly\"");
  expect("banner b1 nonsense", "error: usage: banner NAME");
  expect("help", "ok commands: banner NAME");
  expect("screen", "ok screen 375x667 status-bar=shown");
}

TEST_F(AdHostTest, ABannerIsReceivedShownClickedAndReloadedOnTheHandClock) {
  expect("banner b1", "ok b1 QMABannerView at 0,20 320x50 size=kQMAAdSizeBanner unit=b1");
  expect("load b1", "ok loading b1");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  EXPECT_NE(send("screen").find("b1 banner at 0,20 320x50 size=kQMAAdSizeBanner shows \"Ad one Buy\" links=1"),
            std::string::npos);
  EXPECT_EQ(hits("/ping/impression"), 1u);

  expect("clock advance 1", "ok clock ");
  expect("tap b1", "ok tapped b1 link 0 https://landing.example/one");
  expect("wait b1", "ok b1 adViewWillLeaveApplication:");
  EXPECT_EQ(hits("/ping/click"), 1u);

  expect("clock advance 29", "ok clock ");
  expect("wait b1 adViewDidReceiveAd", "ok b1 adViewDidReceiveAd:");
  EXPECT_EQ(hits(adserver::AdServer::kAdPath), 2u);
  expect("events b1", "ok events b1 adViewDidReceiveAd: | b1 adViewWillLeaveApplication: | b1 adViewDidReceiveAd:");
}

TEST_F(AdHostTest, BannersFailWithTheErrorsOfTheirCauses) {
  expect("banner nofill unit empty", "ok nofill");
  expect("load nofill", "ok loading");
  expect("wait nofill", "ok nofill adView:didFailToReceiveAdWithError: code=1 Request Error: No ad to show.");
  expect("banner lost no-root", "ok lost");
  expect("load lost", "ok loading");
  expect("wait lost", "ok lost adView:didFailToReceiveAdWithError: code=0 ");
  expect("log", "ok log [");
  expect("banner odd 320x50x", "error: usage");
  expect("banner skinny 5000x50", "error: the banner refused the size");
  const std::string log = send("log");
  EXPECT_NE(log.find("Unable to set adSize property."), std::string::npos) << log;
}

TEST_F(AdHostTest, MessagesTheHostDoesNotImplementAreNotSentButTheAdIsShown) {
  expect("banner b1", "ok b1");
  expect("implements b1 none", "ok b1 implements none");
  expect("load b1", "ok loading");
  // The ad arrives on screen (the hand clock moved along for the pages' short timers); its
  // delegate hears nothing of it.
  const std::string screen = screenUntil("shows \"Ad one Buy\"", 20);
  EXPECT_NE(screen.find("shows \"Ad one Buy\""), std::string::npos) << screen;
  EXPECT_EQ(send("events b1"), "ok events");
}

TEST_F(AdHostTest, AnInterstitialIsPresentedClickedAndDismissedOnce) {
  expect("interstitial i1 unit big", "ok i1 QMAInterstitial unit=big");
  expect("present i1", "ok i1 nothing presented");
  expect("wait i1", "ok i1 interstitial:didFailToReceiveAdWithError: code=13");
  expect("load i1", "ok loading i1");
  expect("wait i1", "ok i1 interstitialDidReceiveAd:");
  expect("present i1", "ok i1 full screen: QMAInterstitialViewController");
  expect("wait i1", "ok i1 interstitialWillPresentScreen:");
  const std::string screen = send("screen");
  EXPECT_NE(screen.find("status-bar=hidden"), std::string::npos) << screen;
  EXPECT_NE(screen.find("full screen QMAInterstitialViewController of i1 shows \"Full screen Go\" close-button at 0,0 32x32"),
            std::string::npos)
      << screen;
  expect("tap i1", "ok tapped i1 link 0 https://landing.example/big");
  expect("wait i1", "ok i1 interstitialDidReceiveAdClick:");
  EXPECT_EQ(hits("/ping/big-click"), 1u);
  expect("close", "ok closed QMAInterstitialViewController");
  expect("wait i1", "ok i1 interstitialWillDismissScreen:");
  expect("wait i1", "ok i1 interstitialDidDismissScreen:");
  expect("present i1", "ok i1 nothing presented");
  expect("wait i1", "ok i1 interstitial:didFailToReceiveAdWithError: code=6");
  expect("close", "error: nothing is presented");
}

TEST_F(AdHostTest, PublisherEditionAdsRenderedByTheHostOrRefusedAndAppEvents) {
  expect("kvr-banner mine unit custom custom-rendering", "ok mine KVRBannerView");
  expect("load mine", "ok loading");
  expect("wait mine", "ok mine bannerView:didReceiveCustomRenderedAd: html=\"Drawn by the host\"");
  EXPECT_NE(send("screen").find("mine kvr-banner at 0,20 320x50 size=kQMAAdSizeBanner shows the host's own view"),
            std::string::npos);
  expect("tap mine", "ok tapped mine (the host's own view: click recorded)");

  expect("kvr-banner refuses unit custom", "ok refuses");
  expect("load refuses", "ok loading");
  expect("wait refuses", "ok refuses adView:didFailToReceiveAdWithError: code=12 Ignoring delegate callback. Delegate does "
                         "not conform to KVRCustomRenderedBannerViewDelegate.");
  expect("kvr-banner ev unit event", "ok ev");
  expect("load ev", "ok loading");
  expect("wait ev adView:didReceiveAppEvent:withInfo:", "ok ev adView:didReceiveAppEvent:withInfo: name=coins info=5");
}

TEST_F(AdHostTest, TheRewardBasedVideoIsLoadedPlayedRewardedAndClosed) {
  expect("reward present", "ok reward nothing presented");
  expect("reward load reward user-7", "ok loading reward");
  expect("wait reward", "ok reward rewardBasedVideoAdDidReceiveAd:");
  expect("reward present", "ok reward full screen: AdhostRewardVideoViewController");
  expect("wait reward", "ok reward rewardBasedVideoAdDidOpen:");
  expect("wait reward", "ok reward rewardBasedVideoAdDidStartPlaying:");
  expect("tap reward", "ok tapped reward");
  expect("wait reward", "ok reward rewardBasedVideoAdWillLeaveApplication:");
  expect("clock advance 2", "ok clock");
  expect("wait reward", "ok reward rewardBasedVideoAd:didRewardUserWithReward: type=gems amount=3");
  expect("close", "ok closed AdhostRewardVideoViewController");
  expect("wait reward", "ok reward rewardBasedVideoAdDidClose:");
  // A configuration ping and a network ping for the impression, and for the click.
  EXPECT_EQ(hits("/imp", 2), 2u);
  EXPECT_EQ(hits("/clk", 2), 2u);
}

using Pixel = std::array<std::uint8_t, 4>;
Pixel pixelAt(const uikit::Image& image, std::uint32_t x, std::uint32_t y) {
  const std::size_t at = (std::size_t(y) * image.pixelWidth() + x) * 4;
  return {image.rgba()[at], image.rgba()[at + 1], image.rgba()[at + 2], image.rgba()[at + 3]};
}

// The pixel at a point of a picture `scale` device pixels per point large (the middle of
// its device pixel).
Pixel pixelAtPoint(const uikit::Image& image, std::uint32_t scale, double x, double y) {
  return pixelAt(image, std::uint32_t(x * scale + scale / 2.0), std::uint32_t(y * scale + scale / 2.0));
}
// Opaque and within a few steps of the colour (a browser engine's drawing rounds).
bool near(const Pixel& p, int r, int g, int b) {
  return p[3] == 255 && std::abs(p[0] - r) <= 6 && std::abs(p[1] - g) <= 6 && std::abs(p[2] - b) <= 6;
}
std::string text(const Pixel& p) {
  return std::to_string(p[0]) + " " + std::to_string(p[1]) + " " + std::to_string(p[2]) + " " + std::to_string(p[3]);
}
// The darkest grey level (mean of red, green and blue) of the rectangle's pixels, in points.
int darkest(const uikit::Image& image, std::uint32_t scale, double x0, double y0, double x1, double y1) {
  int least = 255;
  for (auto y = std::uint32_t(y0 * scale); y < std::uint32_t(y1 * scale); ++y)
    for (auto x = std::uint32_t(x0 * scale); x < std::uint32_t(x1 * scale); ++x) {
      const Pixel p = pixelAt(image, x, y);
      least = std::min(least, (p[0] + p[1] + p[2]) / 3);
    }
  return least;
}

TEST_F(AdHostTest, SnapshotsAreTheScreensPixelsOrOneAdsAsPNG) {
  const auto screenFile = root_ / "screen.png", adFile = root_ / "b1.png";
  expect("banner b1", "ok b1");
  expect("load b1", "ok loading");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  expect("snapshot " + screenFile.string(), "ok snapshot screen ");
  expect("snapshot b1 " + adFile.string(), "ok snapshot b1 ");
  auto screen = readPNG(screenFile), ad = readPNG(adFile);
  ASSERT_TRUE(screen && ad);
  // One pixel per device pixel: the 375 x 667 point screen and the 320 x 50 banner at 0,20
  // in the same scale.
  const std::uint32_t scale = screen->pixelWidth() / 375;
  ASSERT_GE(scale, 1u);
  EXPECT_EQ(screen->pixelWidth(), 375 * scale);
  EXPECT_EQ(screen->pixelHeight(), 667 * scale);
  EXPECT_EQ(ad->pixelWidth(), 320 * scale);
  EXPECT_EQ(ad->pixelHeight(), 50 * scale);
  // The ad draws something (its text is not one colour), and the screen shows the same
  // pixels where the ad stands, over the host's white root view elsewhere.
  std::set<Pixel> colours;
  std::size_t compared = 0;
  for (std::uint32_t y = 0; y < ad->pixelHeight(); ++y) {
    for (std::uint32_t x = 0; x < ad->pixelWidth(); ++x) {
      const Pixel p = pixelAt(*ad, x, y);
      colours.insert(p);
      if (p[3] != 255) continue;
      ++compared;
      ASSERT_EQ(p, pixelAt(*screen, x, 20 * scale + y)) << x << "," << y;
    }
  }
  EXPECT_GT(colours.size(), 1u);
  EXPECT_GT(compared, 0u);
  EXPECT_EQ(pixelAt(*screen, 200 * scale, 600 * scale), (Pixel{255, 255, 255, 255}));

  expect("snapshot nobody " + adFile.string(), "error: no ad named nobody");
  expect("snapshot b1 " + (root_ / "b1.jpg").string(), "error: usage: snapshot [NAME] FILE.png");
  expect("snapshot " + (root_ / "missing" / "screen.png").string(), "error: cannot write ");
  expect("remove b1", "ok removed b1");
  expect("snapshot b1 " + adFile.string(), "error: no ad named b1");
  expect("interstitial i1 unit big", "ok i1");
  expect("snapshot i1 " + adFile.string(), "error: i1 is not on screen");
  expect("load i1", "ok loading");
  expect("wait i1", "ok i1 interstitialDidReceiveAd:");
  expect("present i1", "ok i1 full screen");
  expect("snapshot i1 " + adFile.string(), "ok snapshot i1 ");
  auto full = readPNG(adFile);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->pixelWidth(), 375 * scale);
}

TEST_F(AdHostTest, MediatedBannerAndInterstitialComeFromTheNetworksThatFill) {
  expect("banner b1 unit mbanner", "ok b1 QMABannerView");
  expect("load b1", "ok loading b1");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  EXPECT_EQ(hits("/imp"), 1u);
  EXPECT_NE(server_->requestsForPath("/imp")[0].query.find("ad_network_id=22"), std::string::npos);
  EXPECT_NE(server_->requestsForPath("/imp")[0].query.find("aec=1,0"), std::string::npos);

  expect("interstitial i1 unit minter", "ok i1 QMAInterstitial unit=minter");
  expect("load i1", "ok loading i1");
  expect("wait i1", "ok i1 interstitialDidReceiveAd:");
  send("present i1");
  expect("wait i1", "ok i1 interstitialWillPresentScreen:");
  EXPECT_EQ(hits("/imp", 2), 2u);
  EXPECT_NE(server_->requestsForPath("/imp")[1].query.find("aec=2,0"), std::string::npos);
}

// Over an interstitial already shown, a mediated one whose network's ad is the component's
// own is refused as a direct one is: the host hears request error 11 and nothing else, no
// impression is pinged, and no other network is asked.
TEST_F(AdHostTest, AMediatedHouseInterstitialOverAnotherIsRefusedWithElevenAlone) {
  expect("interstitial i1 unit big", "ok i1 QMAInterstitial unit=big");
  expect("load i1", "ok loading i1");
  expect("wait i1", "ok i1 interstitialDidReceiveAd:");
  expect("interstitial i2 unit mhouse", "ok i2 QMAInterstitial unit=mhouse");
  expect("load i2", "ok loading i2");
  expect("wait i2", "ok i2 interstitialDidReceiveAd:");
  expect("present i1", "ok i1 full screen: QMAInterstitialViewController");
  expect("present i2", "error: i2 was refused: QMAInterstitialViewController is presented already");
  const std::string failure = send("wait i2");
  EXPECT_EQ(failure.rfind("ok i2 interstitial:didFailToReceiveAdWithError: code=11 Presenting the interstitial threw exception", 0),
            0u)
      << failure;
  expect("close", "ok closed QMAInterstitialViewController");
  expect("wait i1", "ok i1 interstitialWillPresentScreen:");
  expect("wait i1", "ok i1 interstitialWillDismissScreen:");
  expect("wait i1", "ok i1 interstitialDidDismissScreen:");
  // Heard once each, and nothing after: no will-present, no second ad from the next network.
  const std::string events = send("events i2");
  const std::string heard = "ok events i2 interstitialDidReceiveAd: | i2 interstitial:didFailToReceiveAdWithError: code=11 ";
  EXPECT_EQ(events.rfind(heard, 0), 0u) << events;
  EXPECT_EQ(events.find(" | ", heard.size()), std::string::npos) << events;
  EXPECT_TRUE(server_->requestsForPath("/ping/house-impression").empty());
  EXPECT_TRUE(server_->requestsForPath("/imp").empty());
}

TEST_F(AdHostTest, AFingerCannotReachWhatIsCovered) {
  expect("banner b1", "ok b1");
  expect("load b1", "ok loading");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  expect("interstitial i1 unit big", "ok i1");
  expect("load i1", "ok loading");
  expect("wait i1", "ok i1 interstitialDidReceiveAd:");
  expect("present i1", "ok i1 full screen");
  expect("tap b1", "error: a finger cannot reach b1");
  expect("close", "ok closed");
  expect("hide b1", "ok b1 hidden");
  expect("tap b1", "error: a finger cannot reach b1");
}

TEST_F(AdHostTest, ATappedBannerPingsWithTheComponentsUserAgentAndOpensTheLandingPageOutside) {
  expect("banner b1", "ok b1");
  expect("load b1", "ok loading b1");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  expect("clock advance 1", "ok clock ");
  expect("tap b1", "ok tapped b1 link 0 https://landing.example/one");
  expect("wait b1", "ok b1 adViewWillLeaveApplication:");
  ASSERT_EQ(hits("/ping/click"), 1u);
  const auto ping = server_->requestsForPath("/ping/click").front();
  ASSERT_TRUE(ping.headers.count("user-agent"));
  EXPECT_FALSE(ping.headers.at("user-agent").empty());
  const std::string screen = send("screen");
  EXPECT_NE(screen.find("; opened https://landing.example/one"), std::string::npos) << screen;
  EXPECT_NE(screen.find("shows \"Ad one Buy\""), std::string::npos) << screen;  // the ad stays on its page
}

TEST_F(AdHostTest, ANavigationWithoutATouchIsNoClick) {
  expect("banner w unit wander", "ok w");
  expect("load w", "ok loading w");
  expect("wait w", "ok w adViewDidReceiveAd:");
  ASSERT_GE(hits("/landing/wander"), 1u);  // the page went on by itself, inside the ad view
  expect("clock advance 1", "ok clock ");
  EXPECT_EQ(server_->requestsForPath("/ping/wander-click").size(), 0u);
  const std::string events = send("events w");
  EXPECT_EQ(events.find("adViewWillLeaveApplication"), std::string::npos) << events;
  EXPECT_EQ(send("screen").find("; opened"), std::string::npos);
}

TEST_F(AdHostTest, AutoClickProtectionKeepsAnUntouchedAdFromLeavingTheApplication) {
  // Unprotected, a creative that sends itself to another application on load leaves.
  expect("banner open unit store", "ok open");
  expect("load open", "ok loading open");
  expect("wait open adViewDidReceiveAd", "ok open adViewDidReceiveAd:");
  std::string screen = screenUntil("; opened itms-apps://itunes.example/app/1", 10);
  EXPECT_NE(screen.find("; opened itms-apps://itunes.example/app/1"), std::string::npos) << screen;
  expect("remove open", "ok");

  // Protected by the page's answer, the same creative opens nothing until touched.
  expect("banner safe unit guarded", "ok safe");
  expect("load safe", "ok loading safe");
  expect("wait safe adViewDidReceiveAd", "ok safe adViewDidReceiveAd:");
  for (int i = 0; i < 20; ++i) send("clock advance 0.01");
  screen = send("screen");
  const auto first = screen.find("itms-apps://itunes.example/app/1");
  EXPECT_EQ(screen.find("itms-apps://itunes.example/app/1", first + 1), std::string::npos) << screen;
  const std::string events = send("events safe");
  EXPECT_EQ(events.find("adViewWillLeaveApplication"), std::string::npos) << events;
}

TEST_F(AdHostTest, TheInAppBrowserOverABannerAndOverAnInterstitialTellsTheHostOnceForEachTakeover) {
  const std::string landing = server_->baseURL() + "/landing/page";
  expect("banner b1", "ok b1");
  expect("load b1", "ok loading b1");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  expect("browse b1 " + landing, "ok b1 full screen: QMABrowserViewController");
  expect("wait b1", "ok b1 adViewWillPresentScreen:");
  EXPECT_GE(hits("/landing/page"), 1u);
  EXPECT_EQ(hits("/ping/click"), 1u);  // opening the browser is a click
  std::string screen = screenUntil("[Reload]", 10);
  EXPECT_NE(screen.find("full screen QMABrowserViewController shows \"\" toolbar [Back off] [Forward off] [Reload] "
                        "[View in Safari] [Done]"),
            std::string::npos)
      << screen;
  expect("close", "ok closed QMABrowserViewController");
  expect("wait b1", "ok b1 adViewWillDismissScreen:");
  expect("wait b1", "ok b1 adViewDidDismissScreen:");

  expect("interstitial i1 unit big", "ok i1");
  expect("load i1", "ok loading i1");
  expect("wait i1", "ok i1 interstitialDidReceiveAd:");
  expect("interstitial i2 unit big", "ok i2");
  expect("load i2", "ok loading i2");
  expect("wait i2", "ok i2 interstitialDidReceiveAd:");
  expect("present i1", "ok i1 full screen: QMAInterstitialViewController");
  expect("wait i1", "ok i1 interstitialWillPresentScreen:");
  expect("browse i1 " + landing, "ok i1 full screen: QMABrowserViewController");
  expect("wait i1", "ok i1 interstitialDidReceiveAdClick:");
  EXPECT_NE(send("screen").find("; presented QMAInterstitialViewController > QMABrowserViewController"), std::string::npos);
  // A second full-screen ad cannot come now: its host hears only the failure.
  expect("present i2", "error: i2 was refused: QMABrowserViewController is presented already");
  expect("wait i2", "ok i2 interstitial:didFailToReceiveAdWithError: code=11");
  expect("close", "ok closed QMABrowserViewController");
  expect("close", "ok closed QMAInterstitialViewController");
  expect("wait i1", "ok i1 interstitialWillDismissScreen:");
  expect("wait i1", "ok i1 interstitialDidDismissScreen:");
  // One takeover, told once: the browser on top added nothing.
  const std::string events = send("events i1");
  EXPECT_EQ(events.find("interstitialWillPresentScreen:", events.find("interstitialWillPresentScreen:") + 1),
            std::string::npos)
      << events;
  EXPECT_EQ(send("events i2"), "ok events i2 interstitialDidReceiveAd: | i2 interstitial:didFailToReceiveAdWithError: code=11 "
                               "Presenting the interstitial threw exception: the platform refused to present "
                               "QMAInterstitialViewController from AdHostRootViewController with trace: ()");
}

TEST_F(AdHostTest, TheInAppBrowserShowsTheLandingPageOverTheHostWithItsToolbar) {
  const auto file = root_ / "browser.png";
  expect("banner b1", "ok b1");
  expect("load b1", "ok loading b1");
  expect("wait b1", "ok b1 adViewDidReceiveAd:");
  expect("browse b1 " + server_->baseURL() + "/creatives/landing.html", "ok b1 full screen: QMABrowserViewController");
  std::string screen;
  for (int i = 0; i < 200 && screen.find("[Reload]") == std::string::npos; ++i) {
    send("clock advance 0.01");
    screen = send("screen");
  }
  ASSERT_NE(screen.find("toolbar [Back off] [Forward off] [Reload] [View in Safari] [Done]"), std::string::npos) << screen;
  expect("snapshot " + file.string(), "ok snapshot screen ");
  auto shot = readPNG(file);
  ASSERT_TRUE(shot);
  const std::uint32_t scale = shot->pixelWidth() / 375;
  ASSERT_GE(scale, 1u);
  auto at = [&](double x, double y) { return pixelAtPoint(*shot, scale, x, y); };
  // The landing page above the toolbar, where the host's banner and white root view were:
  // its amber header band, then its blue page down to the toolbar.
  using Points = std::vector<std::pair<double, double>>;
  for (auto [x, y] : Points{{200, 45}, {360, 100}})
    EXPECT_TRUE(near(at(x, y), 245, 180, 0)) << x << "," << y << ": " << text(at(x, y));
  for (auto [x, y] : Points{{200, 130}, {200, 400}, {360, 618}})
    EXPECT_TRUE(near(at(x, y), 30, 110, 200)) << x << "," << y << ": " << text(at(x, y));
  // The toolbar along the bottom 43 points: the bar between its items; back and forward
  // (nowhere to go) faded, reload and done in the bar's black.
  for (double x : {55.0, 140.0, 300.0}) EXPECT_EQ(at(x, 650), (Pixel{247, 247, 247, 255})) << x;
  const int back = darkest(*shot, scale, 0, 626, 27, 667), done = darkest(*shot, scale, 331, 626, 375, 667);
  EXPECT_GT(back, 100);
  EXPECT_LT(back, 200);
  EXPECT_LT(darkest(*shot, scale, 165, 626, 193, 667), 40) << "reload";
  EXPECT_LT(done, 40);
  expect("close", "ok closed QMABrowserViewController");
}

}  // namespace

TEST_F(AdHostTest, ANativeAdsSnapshotShowsItsPicturesAndBadgeAndItsClickReachesTheServer) {
  const auto file = root_ / "native.png";
  expect("native n1 content unit native-shown", "ok loading n1");
  expect("wait n1", "ok n1 adLoader:didReceiveNativeContentAd: content headline=\"Garden sale\"");
  // Where the badge stands, from the snapshot in words.
  const std::string words = send("snapshot n1");
  const auto badgeAt = words.find("; badge at ");
  ASSERT_NE(badgeAt, std::string::npos) << words;
  double bx = 0, by = 0, bw = 0, bh = 0;
  ASSERT_EQ(std::sscanf(words.c_str() + badgeAt + 11, "%lf,%lf %lfx%lf", &bx, &by, &bw, &bh), 4) << words;

  expect("snapshot n1 " + file.string(), "ok snapshot n1 ");
  auto shot = readPNG(file);
  ASSERT_TRUE(shot);
  const std::uint32_t scale = shot->pixelWidth() / 320;
  ASSERT_GE(scale, 1u);
  EXPECT_EQ(shot->pixelHeight(), 150 * scale);
  auto expectColour = [&](double x, double y, int r, int g, int b, const char* what) {
    const Pixel p = pixelAtPoint(*shot, scale, x, y);
    EXPECT_TRUE(near(p, r, g, b)) << what << " at " << x << "," << y << ": " << text(p);
  };
  // The picture stretched over the image view at 8,66 150 x 78: its four quadrants.
  expectColour(45, 85, 0xe6, 0x1e, 0x1e, "image, top left");
  expectColour(120, 85, 0x1e, 0xc8, 0x3c, "image, top right");
  expectColour(45, 125, 0x28, 0x46, 0xdc, "image, bottom left");
  expectColour(120, 125, 0xfa, 0xc8, 0x14, "image, bottom right");
  expectColour(186, 86, 240, 160, 20, "logo");
  // The badge in the top-right corner: yellow, its orange icon at its right end.
  EXPECT_NEAR(bx + bw, 320, 0.01);
  EXPECT_NEAR(by, 0, 0.01);
  expectColour(bx + 1, by + bh / 2, 255, 204, 0, "badge");
  expectColour(bx + bw - 3, by + bh / 2, 240, 160, 20, "badge icon");
  // Nothing where the host put no view.
  EXPECT_EQ(pixelAtPoint(*shot, scale, 300, 80)[3], 0);

  // A tap on the headline is a click: the support page's trackers reach the server, the
  // ad network's with the asset tapped.
  expect("tap n1 headline", "ok tapped n1 headline (asset 1001)");
  EXPECT_EQ(hits("/ping/shown-tracker"), 1u);
  ASSERT_EQ(hits("/ping/shown-click"), 1u);
  EXPECT_EQ(server_->requestsForPath("/ping/shown-click")[0].query, "asset=1001");

  expect("native n2 custom unit native-custom templates 10063", "ok loading n2");
  expect("wait n2", "ok n2 adLoader:didReceiveNativeCustomTemplateAd:");
  expect("snapshot n2 " + file.string(), "error: n2 has no view: the host lays it out");
  expect("native n3 content unit native-shown", "ok loading n3");
  expect("snapshot n3 " + file.string(), "error: n3 has no native ad yet");
}

TEST_F(AdHostTest, NativeAdsAreReceivedWithTheirAssetsShownAndTapped) {
  expect("native n1 content unit native-content", "ok loading n1 QMAAdLoader types=content unit=native-content");
  expect("wait n1",
         "ok n1 adLoader:didReceiveNativeContentAd: content headline=\"Fresh bread\" body=\"Baked daily\" "
         "call-to-action=\"Order\" advertiser=\"Bakery\" logo=8x8 images=8x8 attribution=\"Ad\" 8x8");
  const std::string snapshot = send("snapshot n1");
  for (const char* part : {"ok snapshot n1 QMANativeContentAdView at 0,20 320x150", "headline at 8,4 220x20 \"Fresh bread\" asset 1001",
                           "image at 8,66 150x78 image 8x8 asset 1005", "badge at ", "\"Ad\" icon 8x8", "impression recorded"})
    EXPECT_NE(snapshot.find(part), std::string::npos) << part << "\n  in: " << snapshot;
  EXPECT_EQ(hits("/ping/native-impression"), 1u);
  EXPECT_NE(send("screen").find("n1 native at 0,20 320x150 shows \"Fresh bread\""), std::string::npos);
  expect("tap n1 headline", "ok tapped n1 headline (asset 1001)");
  expect("tap n1 attribution-text", "ok tapped n1 attribution-text");
  expect("tap n1 price", "error: no asset view price in n1");

  expect("native n2 custom unit native-custom templates 10063", "ok loading n2");
  expect("wait n2", "ok n2 adLoader:didReceiveNativeCustomTemplateAd: custom template=10063 title=\"T\"");
  expect("snapshot n2", "ok snapshot n2 custom template=10063 title=\"T\" (no view: the host lays it out)");
  expect("tap n2 title", "ok clicked n2 asset title");
  expect("wait n2", "ok n2 customClickHandler title");

  expect("native n3 custom unit native-custom templates 1", "ok loading n3");
  expect("wait n3", "ok n3 adLoader:didFailToReceiveAdWithError: code=13");
  expect("native n4 video", "error: usage: native NAME");
}

TEST_F(AdHostTest, ABannerScrolledPartlyAwayIsSwipedIntoTheStorePageAndBack) {
  expect("banner sw unit swipe", "ok sw QMABannerView at 0,20 320x50");
  expect("load sw", "ok loading sw");
  expect("wait sw", "ok sw adViewDidReceiveAd:");
  expect("scroll 0,45", "ok scrolled to 0,45");  // 25 of its 50 points remain on screen
  expect("swipe sw 50,10 50,300", "error: sw takes no swipe now");
  // The checker tells the creative where the banner is; the creative switches the swipe on.
  expect("clock advance 0.4", "ok clock ");
  std::string answer;
  for (int i = 0; i < 1000; ++i) {
    answer = send("swipe sw 50,10 50,8");  // began on the banner, released moving up: back
    if (answer.rfind("ok swiped", 0) == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(answer, "ok swiped sw");
  expect("clock advance 1", "ok clock ");
  expect("events sw", "ok events sw adViewDidReceiveAd: | sw adViewWillPresentScreen: | sw adViewWillDismissScreen: | "
                      "sw adViewDidDismissScreen:");
  // Pulled down fast: the store page comes over the banner and stays until closed.
  expect("swipe sw 50,10 50,400", "ok swiped sw");
  expect("clock advance 1", "ok clock ");
  expect("close", "ok closed SKStoreProductViewController");
  expect("clock advance 1", "ok clock ");
  expect("wait sw adViewDidDismissScreen", "ok sw adViewDidDismissScreen:");
  expect("close", "error: nothing is presented");
  // Cancelled by the system in the middle: the screen goes back to the host.
  expect("swipe sw 50,10 50,400 cancelled", "ok swiped sw (cancelled by the system)");
  expect("clock advance 1", "ok clock ");
  expect("close", "error: nothing is presented");
  // Outside the banner's swipeable area (its left half): refused at once.
  expect("swipe sw 250,10 250,400", "ok swiped sw (refused");
}
